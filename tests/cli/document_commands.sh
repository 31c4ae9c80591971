#!/usr/bin/env bash
# ondrevo-cli info and normalize: outputs, files written byte for byte, exit statuses.
set -u
CLI=$1
EXAMPLES=$2
. "$(dirname "$0")/lib.sh"

DOC=$EXAMPLES/ramp-and-sine.ovx

# normalize reproduces a written file byte for byte, to stdout and to a file.
"$CLI" normalize "$DOC" >"$TMP/out.ovx"
check "normalize to stdout is byte-identical" cmp -s "$DOC" "$TMP/out.ovx"
"$CLI" normalize "$DOC" -o "$TMP/out2.ovx"
check "normalize -o is byte-identical" cmp -s "$DOC" "$TMP/out2.ovx"
if command -v xmllint >/dev/null; then
  check "written file is well-formed XML" xmllint --noout "$TMP/out2.ovx"
fi

# A hand-written document is brought into the program's own form.
printf '<ondrevo><arbdata><waveform_list>\n<waveform type="current"><segment duration="0.10" start="1.50" end="2"/></waveform>\n<waveform type="voltage"><segment duration="1e-1" start="1.5" end="2"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/hand.ovx"
"$CLI" normalize "$TMP/hand.ovx" -o "$TMP/hand-n.ovx"
check "voltage written first, fixed formats" grep -q $'<waveform name="" type="voltage">\r' "$TMP/hand-n.ovx"
check "voltage duration fixed" grep -q 'duration="0.10000000" start="1.5000" end="2.0000"' "$TMP/hand-n.ovx"
check "current duration general" grep -q 'duration="0.1" start="1.5" end="2"/>' "$TMP/hand-n.ovx"
"$CLI" normalize "$TMP/hand-n.ovx" >"$TMP/hand-nn.ovx"
check "normalize is idempotent" cmp -s "$TMP/hand-n.ovx" "$TMP/hand-nn.ovx"

# info, text and JSON.
out=$("$CLI" info "$DOC")
check "info names the curves" grep -q '^voltage: 2 segments, 3 points, length 3.00000 s, 1 superposed' <<<"$out"
check "info gives the model's facts" grep -q 'sample rate 1000 S/s, 1020 samples' <<<"$out"
printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="0.1" start="1" end="1"/><segment duration="0.2" start="1" end="2"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/sum.ovx"
check "info shows a length as the grid does" grep -q 'length 0.30000 s, 0 superposed; duration 0.30000 s' <<<"$("$CLI" info "$TMP/sum.ovx")"
json=$("$CLI" info "$DOC" --json)
check "info --json" grep -q '"point_count": 1020' <<<"$json"

# Failures: 1 with one line on stderr naming the file (and line/column); 2 for bad usage.
printf '<ondrevo>\n<waveform type="voltage">\n<segment duration="x1" start="0" end="1"/>\n' >"$TMP/bad.ovx"
"$CLI" info "$TMP/bad.ovx" >/dev/null 2>"$TMP/err"
rc=$?
check "bad document exits 1" test $rc -eq 1
check "error names file, line and column" grep -q "bad.ovx:3:1: 'x1'" "$TMP/err"
check "error is one line" test "$(wc -l <"$TMP/err")" -eq 1
"$CLI" normalize "$TMP/bad.ovx" -o "$TMP/keep.ovx" 2>/dev/null
check "failed normalize writes nothing" test ! -e "$TMP/keep.ovx"
cp "$DOC" "$TMP/keep.ovx"
"$CLI" normalize "$TMP/bad.ovx" -o "$TMP/keep.ovx" 2>/dev/null
check "failed normalize keeps the old output file" cmp -s "$DOC" "$TMP/keep.ovx"
printf '<html><body/></html>' >"$TMP/page.ovx"
err=$("$CLI" info "$TMP/page.ovx" 2>&1 >/dev/null)
check "not a waveform document exits 1" test $? -eq 1
check "not a waveform document: one line naming the file" test "$err" = "ondrevo-cli: $TMP/page.ovx:1:1: The file is not a waveform document."
printf '<ondrevo><arbdata/></ondrevo>' >"$TMP/nolist.ovx"
"$CLI" info "$TMP/nolist.ovx" >/dev/null 2>"$TMP/err"
check "no waveform list exits 1" test $? -eq 1
check "no waveform list said" grep -q 'nolist.ovx: The file is not a waveform document: it has no waveform list.' "$TMP/err"
printf '<ondrevo><arbdata><waveform_list/></arbdata></ondrevo>' >"$TMP/empty.ovx"
out=$("$CLI" info "$TMP/empty.ovx")
check "a document with both curves empty stays readable" grep -q '^voltage: empty' <<<"$out"
# Output that cannot be written (a full device) is a failure, not silence.
if [ -w /dev/full ]; then
  for args in "info $DOC" "info $DOC --json" "normalize $DOC"; do
    # shellcheck disable=SC2086
    "$CLI" $args >/dev/full 2>"$TMP/err"
    check "$args to a full device exits 1" test $? -eq 1
    check "$args says so" grep -q 'cannot write .* to standard output: No space left on device' "$TMP/err"
  done
fi
"$CLI" info "$TMP/missing.ovx" 2>/dev/null
check "missing file exits 1" test $? -eq 1
"$CLI" info >/dev/null 2>&1
check "missing argument exits 2" test $? -eq 2
"$CLI" frobnicate >/dev/null 2>&1
check "unknown command exits 2" test $? -eq 2
LC_ALL=de_DE.UTF-8 "$CLI" normalize "$DOC" >"$TMP/de.ovx" 2>/dev/null
check "German locale writes the same bytes" cmp -s "$DOC" "$TMP/de.ovx"

[ $fails -eq 0 ]
