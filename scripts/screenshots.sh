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

. "$(dirname "$0")/x11-lib.sh"
enter_xvfb "$BUILD"
LIB="$ROOT/data/Lib"
mkdir -p "$WORK/docs"
cp "$LIB"/*.ovx "$WORK/docs/"

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

# A curve drawn with the mouse on an empty document: each point pressed right of the last one,
# dragged to its place and released. The first release shows the table, which narrows the plot:
# 0..10 s then spans x 65..518 and 0..22 V y 504..64 of the 1000 by 600 window.
printf '%s\n' '<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>' \
  '<ondrevo version="1.0" xmlns="http://ondrevo.kestravo.com/schemas/2015/ovx">' \
  '<arbdata><waveform_list></waveform_list></arbdata></ondrevo>' > "$WORK/docs/Drawn.ovx"
"$PROGRAM" "$WORK/docs/Drawn.ovx" & pid=$!
id="$(wait_window "Drawn.ovx")"
xdotool windowsize "$id" 1000 600
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
draw() {
  xdotool mousemove $((X + $1)) $((Y + $2)) sleep 0.2 mousedown 1 sleep 0.2 \
    mousemove $((X + ($1 + $3) / 2)) $((Y + ($2 + $4) / 2)) sleep 0.2 \
    mousemove $((X + $3)) $((Y + $4)) sleep 0.2 mouseup 1 sleep 0.5
}
draw 66 444 238 344   # (0 s, 3 V) to (2 s, 8 V) on the full-width plot
draw 160 344 246 344  # (4 s, 8 V)
draw 250 344 246 224  # a step up to 14 V at 4 s
draw 250 224 337 464  # (6 s, 2 V)
draw 341 464 427 404  # (8 s, 5 V)
draw 431 404 495 404  # (9.5 s, 5 V)
xdotool mousemove $((X + 300)) $((Y + 150))
sleep 1
import -window "$id" "$ROOT/docs/editor-drawn.png"
stop "$pid"

# XML of a voltage curve from <segment> lines.
voltage_doc() {
  printf '%s\n' '<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>' \
    '<ondrevo version="1.0" xmlns="http://ondrevo.kestravo.com/schemas/2015/ovx">' \
    '<arbdata><waveform_list><waveform name="" type="voltage">' "$@" \
    '</waveform></waveform_list></arbdata></ondrevo>'
}

# A curve beyond the 20 V of the selected model: cells, General tab field and plot stretch
# marked. The mouse rests on the stretch (4 s, 21.5 V), so the screen, not the window alone, is
# taken: the tooltip is a window of its own.
voltage_doc '<segment duration="3.00000000" start="10.0000" end="21.5000"/>' \
  '<segment duration="2.00000000" start="21.5000" end="21.5000"/>' \
  '<segment duration="2.00000000" start="21.5000" end="5.0000"/>' > "$WORK/docs/Beyond.ovx"
"$PROGRAM" "$WORK/docs/Beyond.ovx" & pid=$!
id="$(wait_window "Beyond.ovx")"
xdotool windowsize "$id" 1000 600
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
# Tooltips show in the active window only: give it the input focus (there is no window manager).
xdotool windowfocus "$id" 2>/dev/null || true
xdotool mousemove $((X + 240)) $((Y + 80)) sleep 0.3 mousemove $((X + 246)) $((Y + 74))
sleep 2
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$ROOT/docs/editor-limits.png"
stop "$pid"

# A 1-2 kHz sine sweep over 40 ms, zoomed twice with Ctrl + drag to about 10 ms of it: 0..0.3 s
# first, then 20..30 ms.
voltage_doc '<segment duration="0.01000000" start="0.0000" end="5.0000"/>' \
  '<segment duration="0.04000000" start="5.0000" end="5.0000">' \
  '<sine><amplitude start="4.0000" end="4.0000"/><frequency start="1000.0000" end="2000.0000"/>' \
  '<phase value="0.0000"/></sine></segment>' \
  '<segment duration="0.01000000" start="5.0000" end="0.0000"/>' > "$WORK/docs/Zoomed.ovx"
"$PROGRAM" "$WORK/docs/Zoomed.ovx" & pid=$!
id="$(wait_window "Zoomed.ovx")"
xdotool windowsize "$id" 1000 600
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
zoom() {
  xdotool mousemove $((X + $1)) $((Y + $2)) keydown ctrl sleep 0.2 mousedown 1 sleep 0.2 \
    mousemove $((X + ($1 + $3) / 2)) $((Y + ($2 + $4) / 2)) sleep 0.2 \
    mousemove $((X + $3)) $((Y + $4)) sleep 0.2 mouseup 1 sleep 0.2 keyup ctrl sleep 0.5
}
zoom 66 324 79 484   # 0..0.3 s, 1..9 V
zoom 95 70 110 498   # 20..30 ms
xdotool mousemove $((X + 300)) $((Y + 150))
sleep 1
import -window "$id" "$ROOT/docs/editor-zoomed-sine.png"
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
echo "screenshots: docs/welcome.png docs/editor.png docs/editor-drawn.png docs/editor-limits.png" \
  "docs/editor-zoomed-sine.png docs/preferences.png docs/remote-buses.png"
