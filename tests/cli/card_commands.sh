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

"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 2>"$TMP/err.txt"
check "a card without --wire exits 1" test $? -eq 1
check "and says what is missing" grep -q -- '--wire' "$TMP/err.txt"
"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 --output 5 --wire "KSV 3720-40" 2>"$TMP/err.txt"
check "an output the card lacks exits 1" test $? -eq 1
"$CLI" --demo play "$TMP/ramp.ovx" --device Dev1 --wire "KSV 7341-20" 2>"$TMP/err.txt"
check "a supply without control input exits 1" test $? -eq 1

echo "$fails failed"
test $fails -eq 0
