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
