#!/usr/bin/env bash
# ondrevo-cli import-csv: the document written, offset mode, decimation, exit statuses.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

printf 'x-axis,1\r\nsecond,Volt\r\n0.0,1.5\r\n0.5,2.5\r\n1.0,-0.2\r\n' >"$TMP/one.csv"
"$CLI" import-csv "$TMP/one.csv" >"$TMP/one.ovx" 2>"$TMP/err"
check "import exits 0" test $? -eq 0
check "nothing on stderr for a clean trace" test ! -s "$TMP/err"
check "six voltage segments" test "$(grep -c '<segment ' "$TMP/one.ovx")" -eq 6
check "no current curve" bash -c "! grep -q 'type=\"current\"' '$TMP/one.ovx'"
check "negative value clipped to 0" grep -q 'duration="0.00000000" start="2.5000" end="0.0000"' "$TMP/one.ovx"
"$CLI" info "$TMP/one.ovx" >"$TMP/info"
check "written document reads back" grep -q '^voltage: 6 segments, 7 points, length 1.00000 s' "$TMP/info"

"$CLI" import-csv "$TMP/one.csv" --offset -o "$TMP/off.ovx"
check "offset mode raises by 0.2" grep -q 'start="1.7000" end="2.7000"' "$TMP/off.ovx"

# 5000 samples with the default budget: every 5th, 2001 points; a trace not starting at 0.
{
  printf 'Model,scope\nFirmware,1.2\n'
  for i in $(seq 0 4999); do printf '%d.5,%d\n' $((i + 10)) $((i % 3)); done
} >"$TMP/long.csv"
"$CLI" import-csv "$TMP/long.csv" -o "$TMP/long.ovx"
"$CLI" info "$TMP/long.ovx" >"$TMP/info"
check "decimated to 2001 points, shifted to 0" grep -q '^voltage: 2000 segments, 2001 points, length 83.25000 min' "$TMP/info"
"$CLI" import-csv "$TMP/long.csv" --budget 5000 -o "$TMP/full.ovx"
"$CLI" info "$TMP/full.ovx" >"$TMP/info"
check "--budget changes the step" grep -q '^voltage: 10000 segments, 10001 points' "$TMP/info"

# Malformed records are skipped and reported, the import still succeeds.
printf 'Firmware\n0,1\n0.5,x\n1,2\n\n' >"$TMP/bad-rec.csv"
"$CLI" import-csv "$TMP/bad-rec.csv" >"$TMP/bad-rec.ovx" 2>"$TMP/err"
check "skipped records still exit 0" test $? -eq 0
check "skipped records reported in one line" grep -q '1 records skipped.*line 3' "$TMP/err"
check "the rest imported" test "$(grep -c '<segment ' "$TMP/bad-rec.ovx")" -eq 4

# Failures: 1 with one line naming the file; nothing written; 2 for bad usage.
printf 'Model,scope\n0,1\n' >"$TMP/nofw.csv"
"$CLI" import-csv "$TMP/nofw.csv" -o "$TMP/nofw.ovx" 2>"$TMP/err"
check "unknown layout exits 1" test $? -eq 1
check "error names the file" grep -q 'nofw.csv' "$TMP/err"
check "error is one line" test "$(wc -l <"$TMP/err")" -eq 1
check "nothing written" test ! -e "$TMP/nofw.ovx"
printf 'x-axis,1\nsecond,Volt\n\n' >"$TMP/empty.csv"
"$CLI" import-csv "$TMP/empty.csv" 2>/dev/null >/dev/null
check "trace without data exits 1" test $? -eq 1
printf 'Firmware\n0,1\n1,1.7976931348623157e308\n' >"$TMP/huge.csv"
"$CLI" import-csv "$TMP/huge.csv" -o "$TMP/huge.ovx" 2>"$TMP/err"
check "a value that would not read back exits 1" test $? -eq 1
check "and says so" grep -q 'cannot be stored in a document: 1.7976931348623157e+308' "$TMP/err"
check "no document that cannot be opened again" test ! -e "$TMP/huge.ovx"
if [ -w /dev/full ]; then
  "$CLI" import-csv "$TMP/one.csv" >/dev/full 2>"$TMP/err"
  check "import to a full device exits 1" test $? -eq 1
  check "and says so" grep -q 'cannot write the document to standard output' "$TMP/err"
fi
# Bounded in memory: one endless line, an endless input, endless samples; each stops with an error.
# Sanitizer builds reserve terabytes of address space, so there the limit cannot be set.
memlimit() { if [ -z "${ONDREVO_SANITIZED:-}" ]; then ulimit -v 400000; fi; }
printf 'Firmware\n' >"$TMP/sparse.csv"
truncate -s 200M "$TMP/sparse.csv"
(memlimit; "$CLI" import-csv "$TMP/sparse.csv" -o "$TMP/sparse.ovx" 2>"$TMP/err")
check "200 MiB line under a memory limit exits 1" test $? -eq 1
check "the line is named" grep -q 'sparse.csv: Line 2 of the trace is longer than 1 MiB.' "$TMP/err"
truncate -s 1G "$TMP/sparse.csv"
(memlimit; "$CLI" import-csv "$TMP/sparse.csv" -o "$TMP/sparse.ovx" 2>"$TMP/err")
check "a 1 GiB file is refused before it is read" grep -q 'sparse.csv: The trace is larger than 256 MiB.' "$TMP/err"
long=$(printf '%01000d' 0)
(memlimit; yes "$long" | "$CLI" import-csv /dev/stdin >/dev/null 2>"$TMP/err")
check "endless input stops" grep -q 'The trace is larger than 256 MiB.' "$TMP/err"
(memlimit; { echo Firmware; yes 0,1; } | "$CLI" import-csv /dev/stdin >/dev/null 2>"$TMP/err")
check "endless samples stop" grep -q 'The trace has too many samples; the most a trace may hold is 5000000.' "$TMP/err"
rm -f "$TMP/sparse.csv"
"$CLI" import-csv "$TMP/missing.csv" 2>/dev/null
check "missing file exits 1" test $? -eq 1
"$CLI" import-csv "$TMP/one.csv" --budget 0 >/dev/null 2>&1
check "budget 0 exits 2" test $? -eq 2
"$CLI" import-csv >/dev/null 2>&1
check "missing argument exits 2" test $? -eq 2

# The numbers do not depend on the user's locale.
LC_ALL=de_DE.UTF-8 "$CLI" import-csv "$TMP/one.csv" >"$TMP/de.ovx" 2>/dev/null
check "same output under a comma locale" cmp -s "$TMP/one.ovx" "$TMP/de.ovx"

echo "$fails failure(s)"
test $fails -eq 0
