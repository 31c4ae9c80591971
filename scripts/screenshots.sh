#!/usr/bin/env bash
# Starts the program under Xvfb with the example documents and saves screenshots of the welcome
# window, the editor and the preferences dialog into docs/.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
PROGRAM="$BUILD/src/app/ondrevo"
[ -x "$PROGRAM" ] || { echo "screenshots: $PROGRAM not built" >&2; exit 1; }
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done

if [ -z "${ONDREVO_SCREENSHOT_INNER:-}" ]; then
  export ONDREVO_SCREENSHOT_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$BUILD"
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
export APPDATA="$WORK/appdata" LANG=C.UTF-8 LANGUAGE=en QT_QPA_PLATFORM=xcb
LIB="$ROOT/data/Lib"
mkdir -p "$WORK/docs"
cp "$LIB"/*.ovx "$WORK/docs/"

# Waits for a window whose title contains $1 and prints its id.
wait_window() {
  local id=""
  for _ in $(seq 1 100); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "screenshots: no window '$1'" >&2
  return 1
}
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

# Open each example once so that the recent list and the preview cache are filled.
for doc in "Square pulses" "Automotive cranking pulse" "Sine sweep" "Ramp up and down"; do
  "$PROGRAM" "$WORK/docs/$doc.ovx" & pid=$!
  wait_window "$doc.ovx" >/dev/null
  sleep 1
  stop "$pid"
done

"$PROGRAM" & pid=$!
id="$(wait_window "Welcome to Ondrevo")"
sleep 1
import -window "$id" "$ROOT/docs/welcome.png"
stop "$pid"

"$PROGRAM" "$WORK/docs/Sine sweep.ovx" & pid=$!
id="$(wait_window "Sine sweep.ovx")"
xdotool windowsize "$id" 1000 600
sleep 1
import -window "$id" "$ROOT/docs/editor.png"
# Edit menu by mouse (no window manager to give keyboard focus), then its "&Preferences..." item.
eval "$(xdotool getwindowgeometry --shell "$id")"
xdotool mousemove $((X + 56)) $((Y + 8)) click 1
sleep 0.5
xdotool key p
prefs="$(wait_window "^Preferences$")"
sleep 1
import -window "$prefs" "$ROOT/docs/preferences.png"
stop "$pid"

# The remote window in demo mode: simulated supplies on GPIB, USB and serial ports. Device menu
# by mouse, then its "&Remote control..." item.
"$PROGRAM" "$WORK/docs/Sine sweep.ovx" --demo & pid=$!
id="$(wait_window "Sine sweep.ovx")"
xdotool windowsize "$id" 1000 600
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
xdotool mousemove $((X + 150)) $((Y + 8)) click 1
sleep 0.5
xdotool key r
remote="$(wait_window "Ondrevo Remote")"
sleep 4
import -window "$remote" "$ROOT/docs/remote-buses.png"
stop "$pid"
echo "screenshots: docs/welcome.png docs/editor.png docs/preferences.png docs/remote-buses.png"
