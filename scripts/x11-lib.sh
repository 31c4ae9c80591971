# Shared by the screenshot scripts: waits for a visible window whose title contains $1 and
# prints its id (10 s at most).
wait_window() {
  local id=""
  for _ in $(seq 1 100); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "$(basename "$0"): no window '$1'" >&2
  return 1
}

# Runs the calling script once more under a fresh Xvfb, then gives it a work folder (WORK, removed
# on exit) and the program's environment.
enter_xvfb() {  # enter_xvfb BUILD_DIR
  if [ -z "${ONDREVO_SCREENSHOT_INNER:-}" ]; then
    export ONDREVO_SCREENSHOT_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$1"
  fi
  WORK="$(mktemp -d)"
  trap 'rm -rf "$WORK"' EXIT
  export APPDATA="$WORK/appdata" LANG=C.UTF-8 LANGUAGE=en QT_QPA_PLATFORM=xcb
}
