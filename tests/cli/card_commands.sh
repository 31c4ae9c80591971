#!/usr/bin/env bash
# ondrevo-cli devices and play through the demo's simulated analog output card.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

# 0.25 s of a ramp from 0 V to 20 V, a constant current.
printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="0.25" start="0" end="20"/></waveform>\n<waveform type="current"><segment duration="0.25" start="2" end="2"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/ramp.ovx"

out=$("$CLI" --demo devices)
check "card bus listed" grep -q '^NI-DAQmx$' <<<"$out"
check "card listed with its name" grep -q '^  PCIe-6361, SN 1A2B3C4  \[Dev1\]$' <<<"$out"
check "card outputs listed" grep -q '^    Analog Out 1$' <<<"$out"
check "analog product listed" grep -q '^  KSV 3720-40, SN 372040001$' <<<"$out"
check "TTL node listed" grep -q '^TTL$' <<<"$out"
json=$("$CLI" --demo devices --json)
check "devices --json has the card" grep -q '"port": "Dev1"' <<<"$json"

"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 --output 1 --wire "KSV 3720-40" --burst 2 \
  2>"$TMP/err.txt"
check "play through the card exits 0" test $? -eq 0
check "card progress on stderr" grep -q 'Playing \[' "$TMP/err.txt"

# The card has no command language: its trace is the driver's calls into the library.
"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 --output 1 --wire "KSV 3720-40" --burst 2 \
  --trace "$TMP/trace.txt" 2>"$TMP/err.txt"
check "play through the card with --trace exits 0" test $? -eq 0
check "the trace starts with the output task" \
  test "$(head -n 3 "$TMP/trace.txt")" = "> output: create task
> output: channel Dev1/ao1, range -10 .. 10 V
> output: buffer 200000 samples"
check "the trace names the rate" \
  grep -qx '> output: timing 100000 S/s, rising edge, continuous, 100000 samples per buffer' \
  "$TMP/trace.txt"
# Two 0.25 s ramps from 0 V to 5 V (20 V through the 4 V/V product) fit in the first buffer.
check "a write is one summary line" \
  grep -qx '> output: write 100000 samples \[2E-6 .. 4.9998\]' "$TMP/trace.txt"
order=$(grep -n -e '^> output: start$' -e '^> output: stop$' -e '^> output: clear task$' \
  -e '^> output: write 100000' -e '^> output: auto start' "$TMP/trace.txt" | cut -d: -f3- |
  tr '\n' '|')
# After the run the outputs are left at 0 V.
check "start, writes, stop, 0 V and clear in order" \
  test "$order" = " write 100000 samples [2E-6 .. 4.9998]| start| write 100000 samples [4.9998 .. 4.9998]| stop| auto start, write 100000 samples [0 .. 0]| stop| clear task|"
check "every line is sent or answered" test -z "$(grep -v -e '^> ' -e '^< ' "$TMP/trace.txt")"

"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 2>"$TMP/err.txt"
check "a card without --wire exits 1" test $? -eq 1
check "and says what is missing" grep -q -- '--wire' "$TMP/err.txt"
"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 --output 5 --wire "KSV 3720-40" 2>"$TMP/err.txt"
check "an output the card lacks exits 1" test $? -eq 1
"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 --wire "KSV 7341-20" 2>"$TMP/err.txt"
check "a supply without control input exits 1" test $? -eq 1

echo "$fails failed"
test $fails -eq 0
