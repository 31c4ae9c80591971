#!/usr/bin/env bash
# The first page of a PDF test report: a ramp clipped by the current limit into 10 ohm and 2 mF
# on a simulated family-C supply measuring itself (no display needed). Saves
# docs/record-pdf.png. Usage: scripts/screenshot-record-pdf.sh [BUILD_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
CLI="$BUILD/src/cli/ondrevo-cli"
OUT="${ONDREVO_SHOT:-$ROOT/docs/record-pdf.png}"
[ -x "$CLI" ] || { echo "screenshot-record-pdf: $CLI not built" >&2; exit 1; }
command -v pdftoppm >/dev/null || { echo "screenshot-record-pdf: needs poppler-utils" >&2; exit 1; }
WORK="$(mktemp -d)"
SIM=""
cleanup() {
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null && wait "$SIM" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
export LANG=C.UTF-8 LANGUAGE=en
printf '%s\n' '<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>' \
  '<ondrevo version="1.0" xmlns="http://ondrevo.kestravo.com/schemas/2015/ovx">' \
  '<arbdata><waveform_list><waveform name="" type="voltage">' \
  '<segment duration="2" start="0" end="10"/>' \
  '<segment duration="3" start="10" end="10"/>' \
  '<segment duration="2" start="10" end="2"/>' \
  '</waveform><waveform name="" type="current">' \
  '<segment duration="7" start="0.8" end="0.8"/>' \
  '</waveform></waveform_list></arbdata></ondrevo>' >"$WORK/Clipped ramp.ovx"

"$CLI" sim --model "KSV 7342-80" --pty --load 10ohm,2mF >"$WORK/sim.out" 2>&1 &
SIM=$!
until [ "$(wc -l <"$WORK/sim.out")" -ge 1 ]; do
  kill -0 "$SIM" 2>/dev/null || { cat "$WORK/sim.out" >&2; exit 1; }
  sleep 0.1
done
supply=$(sed -n 1p "$WORK/sim.out")
# The current limit clips the ramp: leaving the band exits 1, as it should.
cd "$WORK"  # the report names the document as given
"$CLI" play "Clipped ramp.ovx" --port "$supply" --poll-interval 25 \
  --report "$WORK/run.pdf" 2>"$WORK/play.err" || true
tail -n 3 "$WORK/play.err"
pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$WORK/run.pdf" "$WORK/page"
cp "$WORK/page.png" "$OUT"
echo "screenshot-record-pdf: $OUT ($(pdfinfo "$WORK/run.pdf" | sed -n 's/^Pages: *//p') pages)"
