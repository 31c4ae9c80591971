#!/usr/bin/env bash
# ondrevo-cli check, plot and the findings of play: what a supply model makes of a document.
set -u
CLI=$1
DATA=$2
. "$(dirname "$0")/lib.sh"
doc() { printf '<ondrevo><arbdata><waveform_list>%s</waveform_list></arbdata></ondrevo>' "$2" >"$TMP/$1"; }
CUR='<waveform type="current"><segment duration="10" start="1" end="1"/></waveform>'
M="KSV 7341-20"  # 0..20 V, 0..40 A, 5 mV and 10 mA steps, 10 ms shortest dwell

doc fits.ovx "<waveform type=\"voltage\"><segment duration=\"4\" start=\"2\" end=\"2\"/><segment duration=\"0\" start=\"2\" end=\"7\"/><segment duration=\"6\" start=\"7\" end=\"7\"/></waveform>$CUR"
doc nocurrent.ovx '<waveform type="voltage"><segment duration="10" start="5" end="5"/></waveform>'
doc clipped.ovx "<waveform type=\"voltage\"><segment duration=\"3\" start=\"0\" end=\"30\"/><segment duration=\"7\" start=\"30\" end=\"0\"/></waveform>$CUR"
doc ripple.ovx "<waveform type=\"voltage\"><segment duration=\"10\" start=\"5\" end=\"5\"><sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"1000\" end=\"1000\"/><phase value=\"0\"/></sine></segment></waveform>$CUR"
doc slow.ovx "<waveform type=\"voltage\"><segment duration=\"10\" start=\"5\" end=\"5\"><sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"0.1\" end=\"0.1\"/><phase value=\"0\"/></sine></segment></waveform>$CUR"

out=$("$CLI" check "$TMP/fits.ovx" --model "$M")
check "a held level and a step fit (exit 0)" test $? -eq 0
check "summary: points and no deviation" grep -q "^$M: 2 of 1000 points · max deviation 0 V at 0 s · max deviation 0 A at 0 s$" <<<"$out"
check "verdict" grep -q '^The document plays as designed on this model.$' <<<"$out"

out=$("$CLI" check "$TMP/nocurrent.ovx" --model "$M")
check "a missing current curve alone still fits" test $? -eq 0
check "but it is said, with the limit" grep -q '^  no current curve: limit 40 A$' <<<"$out"

doc noVoltage.ovx "$CUR"
out=$("$CLI" check "$TMP/noVoltage.ovx" --model "$M")
check "no voltage curve does not fit (exit 1)" test $? -eq 1
check "it would play the maximum voltage" grep -q '^  no voltage curve: the supply plays its maximum, 20 V$' <<<"$out"

out=$("$CLI" check "$TMP/clipped.ovx" --model "$M")
check "clipping does not fit (exit 1)" test $? -eq 1
check "where and by how much" grep -q '^  voltage above 20 V by up to 10 V from 2 s to 5.33333 s$' <<<"$out"
check "verdict when it does not fit" grep -q '^The document does not play as designed on this model.$' <<<"$out"

out=$("$CLI" check "$TMP/ripple.ovx" --model "$M")
check "a 1 kHz ripple does not survive (exit 1)" test $? -eq 1
check "the editor's memory message for the segment" grep -q '^  voltage segment 1: The first superposition takes up to much device memory. Please decrease duration or frequency.$' <<<"$out"
check "the deviation, more than ten steps" grep -q '^  voltage: the played staircase deviates by 1 V at 0.00075 s, more than ten resolution steps$' <<<"$out"

"$CLI" check "$TMP/slow.ovx" --model "KSV 5203-32" >/dev/null
check "one slow sine period on a family-A model fits" test $? -eq 0

json=$("$CLI" check "$TMP/clipped.ovx" --model "$M" --json)
check "JSON: exit 1 too" test $? -eq 1
check "JSON: fits false" grep -q '"fits":false' <<<"$json"
check "JSON: clipping record" grep -q '"clipping":\[{"above":true,"excess":10.0,"from":2.0,"limit":20.0,"segment":1,"to":5.33333333333333[0-9]*}\]' <<<"$json"
check "JSON: points and budget" grep -q '"budget":1000' <<<"$json"
check "JSON under a German locale has the same numbers" test "$(LC_ALL=de_DE.UTF-8 "$CLI" check "$TMP/clipped.ovx" --model "$M" --json)" = "$json"

"$CLI" check "$TMP/fits.ovx" --model "No such model" >/dev/null 2>"$TMP/err"
check "unknown model exits 1 with one line" test $? -eq 1 -a "$(wc -l <"$TMP/err")" -eq 1
"$CLI" check "$TMP/fits.ovx" >/dev/null 2>&1
check "check without --model exits 2" test $? -eq 2

# plot: every library template and example, as PNG and SVG, with and without a model.
for f in "$DATA"/Lib/*.ovx "$DATA"/examples/*.ovx; do
  name=$(basename "$f" .ovx)
  "$CLI" plot "$f" --model "$M" -o "$TMP/$name.png" 2>"$TMP/err"
  check "plot $name: PNG, nothing on stderr" test $? -eq 0 -a ! -s "$TMP/err"
  check "plot $name: a PNG file" test "$(head -c 8 "$TMP/$name.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a
  "$CLI" plot "$f" -o "$TMP/$name.svg" --size 800x500
  check "plot $name: SVG" test $? -eq 0
  check "plot $name: SVG with the drawn curves" grep -q '<path' "$TMP/$name.svg"
  if command -v xmllint >/dev/null; then check "plot $name: well-formed SVG" xmllint --noout "$TMP/$name.svg"; fi
done
if command -v identify >/dev/null; then
  "$CLI" plot "$TMP/ripple.ovx" --model "$M" -o "$TMP/size.png" --size 640x360
  check "--size sets the picture's size" test "$(identify -format '%wx%h' "$TMP/size.png")" = 640x360
fi
"$CLI" plot "$TMP/fits.ovx" --model "$M" -o "$TMP/fits.pdf"
check "PDF" test "$(head -c 5 "$TMP/fits.pdf")" = "%PDF-"
cp "$TMP/fits.ovx" "$TMP/default.ovx"
"$CLI" plot "$TMP/default.ovx"
check "without -o: DOC.png beside the document" test -s "$TMP/default.png"
"$CLI" plot "$TMP/fits.ovx" -o "$TMP/x.txt" 2>/dev/null
check "unknown picture type exits 2" test $? -eq 2
"$CLI" plot "$TMP/fits.ovx" -o "$TMP/x.png" --size 12 2>/dev/null
check "bad --size exits 2" test $? -eq 2
"$CLI" plot "$TMP/missing.ovx" -o "$TMP/x.png" 2>/dev/null
check "missing document exits 1, no picture" test $? -eq 1 -a ! -e "$TMP/x.png"
"$CLI" plot "$TMP/fits.ovx" -o "$TMP/no/such/dir/x.png" 2>/dev/null
check "unwritable target exits 1" test $? -eq 1

# play: the findings come on stderr before the upload starts.
doc high.ovx "<waveform type=\"voltage\"><segment duration=\"1\" start=\"5\" end=\"5\"/><segment duration=\"1\" start=\"5\" end=\"90\"/></waveform>$CUR"
"$CLI" --demo play "$TMP/high.ovx" --no-play 2>"$TMP/play.err" >/dev/null
check "play with the demo supply" test $? -eq 0
check "play names the clipping with the instrument's limits" grep -q '^Warning: voltage above 80 V by up to 10 V from 1.88235 s to 2 s$' "$TMP/play.err"
"$CLI" --demo play "$TMP/nocurrent.ovx" --no-play 2>"$TMP/play.err" >/dev/null
line=$(grep -n 'no current curve: limit 5 A' "$TMP/play.err" | cut -d: -f1)
upload=$(grep -n 'Uploading' "$TMP/play.err" | head -1 | cut -d: -f1)
check "play names the missing current curve before uploading" test -n "$line" -a -n "$upload" -a "${line:-0}" -lt "${upload:-0}"

[ $fails -eq 0 ]
