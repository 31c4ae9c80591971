#!/usr/bin/env bash
# The remote window measuring while it plays, under Xvfb: the demo's family-C supply measures
# itself on a ramp clipped by its current limit into the demo's 10 ohm load. Saves
# docs/remote-measure.png. Usage: scripts/screenshot-measure.sh [BUILD_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
PROGRAM="$BUILD/src/app/ondrevo"
OUT="${ONDREVO_SHOT:-$ROOT/docs/remote-measure.png}"
[ -x "$PROGRAM" ] || { echo "screenshot-measure: $PROGRAM not built" >&2; exit 1; }
. "$(dirname "$0")/x11-lib.sh"
enter_xvfb "$BUILD"
printf '%s\n' '<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>' \
  '<ondrevo version="1.0" xmlns="http://ondrevo.kestravo.com/schemas/2015/ovx">' \
  '<arbdata><waveform_list><waveform name="" type="voltage">' \
  '<segment duration="2.00000000" start="0.0000" end="10.0000"/>' \
  '<segment duration="3.00000000" start="10.0000" end="10.0000"/>' \
  '<segment duration="2.00000000" start="10.0000" end="2.0000"/>' \
  '</waveform><waveform name="" type="current">' \
  '<segment duration="7" start="0.8" end="0.8"/>' \
  '</waveform></waveform_list></arbdata></ondrevo>' > "$WORK/Clipped ramp.ovx"


"$PROGRAM" "$WORK/Clipped ramp.ovx" --demo & pid=$!
id="$(wait_window "Clipped ramp.ovx")"
xdotool windowsize "$id" 1000 600
sleep 1
eval "$(xdotool getwindowgeometry --shell "$id")"
xdotool mousemove $((X + 150)) $((Y + 8)) click 1   # the Device menu
sleep 0.5
xdotool key r
remote="$(wait_window "Ondrevo Remote")"
xdotool windowmove "$remote" 0 0
xdotool windowsize "$remote" 1100 860
sleep 8  # the device search
eval "$(xdotool getwindowgeometry --shell "$remote")"
click() { xdotool mousemove $((X + $1)) $((Y + $2)) sleep 0.3 click "${3:-1}" sleep 0.5; }
click 137 164        # the family-C supply KSV 7341-20 on a serial port
click 45 19          # Connect
sleep 2
click 191 411        # the Measurement tab
if [ -n "${ONDREVO_SHOT_PROBE:-}" ]; then  # where the widgets are, for changing the clicks
  import -window "$remote" "$OUT"
  kill "$pid"
  wait "$pid" || true
  exit 0
fi
click 225 441        # Measure: ...
xdotool key Down sleep 0.3 key Return  # ... the supply itself
click 751 56         # Upload waveform
sleep "${ONDREVO_SHOT_UPLOAD:-4}"
click 700 171        # Play
sleep "${ONDREVO_SHOT_PLAY:-5}"
import -window "$remote" "$OUT"
kill "$pid"
wait "$pid" || true
echo "screenshot-measure: $OUT"
