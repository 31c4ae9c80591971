#!/usr/bin/env bash
# ondrevo-cli sample: point lists as a model's driver samples them, JSON, limits, exit statuses.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"
doc() { printf '<ondrevo><arbdata><waveform_list>%s</waveform_list></arbdata></ondrevo>' "$2" >"$TMP/$1"; }

doc const.ovx '<waveform type="voltage"><segment duration="10" start="5" end="5"/></waveform>'
doc short.ovx '<waveform type="voltage"><segment duration="0.005" start="3" end="4"/></waveform>'
doc ramp.ovx '<waveform type="voltage"><segment duration="1" start="0" end="10"/></waveform><waveform type="current"><segment duration="1" start="1" end="1"/></waveform>'
doc over.ovx '<waveform type="voltage"><segment duration="1" start="500" end="500"/></waveform>'

# One constant level: one point; the empty current curve asks for the model's maximum current.
check "constant level is one point" test "$("$CLI" sample "$TMP/const.ovx" --model "KSV 7341-20")" = "10,5,40"
check "maximum dwell splits the level" test "$("$CLI" sample "$TMP/const.ovx" --model "KSV 7341-20" --max-dwell 4 | tr '\n' ' ')" = "4,5,40 4,5,40 2,5,40 "
check "JSON form" test "$("$CLI" sample "$TMP/const.ovx" --model "KSV 7341-20" --max-dwell 4 --json)" = '{"durations":[4,4,2],"voltage":[5,5,5],"current":[40,40,40],"points":3,"budget":1000,"deviation":{"voltage":{"max":0,"time":0},"current":null}}'
json=$("$CLI" sample "$TMP/ramp.ovx" --model "KSV 7341-20" --max-points 10 --vres 0.01 --json)
check "JSON budget follows --max-points" grep -q '"budget":10,' <<<"$json"
dev=$(grep -o '"voltage":{"max":[0-9.e-]*' <<<"$json" | cut -d: -f3)
check "JSON deviation: 10 V on at most 10 levels is off by at least 1 V ($dev)" awk "BEGIN {exit !($dev >= 1 && $dev < 2.5)}"
check "shorter than the minimum dwell" test "$("$CLI" sample "$TMP/short.ovx" --model "KSV 7341-20")" = "0.01,3,40"
check "values clamp to the model's maximum" test "$("$CLI" sample "$TMP/over.ovx" --model "KSV 7341-20" | cut -d, -f2)" = "20"

"$CLI" sample "$TMP/ramp.ovx" --model "KSV 7341-20" --max-points 10 --vres 0.01 >"$TMP/stairs"
n=$(wc -l <"$TMP/stairs")
check "point count within --max-points ($n)" test "$n" -ge 2 -a "$n" -le 10
sum=$(awk -F, '{s += $1} END {printf "%.6f", s}' "$TMP/stairs")
check "durations add up to the curve ($sum)" test "$sum" = "1.000000"
check "staircase rises" awk -F, 'NR > 1 && $2 < prev {exit 1} {prev = $2}' "$TMP/stairs"

check "German locale gives the same list" test "$(LC_ALL=de_DE.UTF-8 "$CLI" sample "$TMP/ramp.ovx" --model "KSV 7341-20" --max-points 10 --vres 0.01)" = "$(cat "$TMP/stairs")"

"$CLI" sample "$TMP/const.ovx" --model "No such model" >/dev/null 2>"$TMP/err"
check "unknown model exits 1" test $? -eq 1
check "one error line" test "$(wc -l <"$TMP/err")" -eq 1
check "the known models are listed" grep -q 'KSV 5201..5213 -100/-80/.*KSV 6141-400.*KSV 7341-20$' "$TMP/err"
"$CLI" sample "$TMP/const.ovx" >/dev/null 2>&1
check "missing --model exits 2" test $? -eq 2
"$CLI" sample "$TMP/const.ovx" --model "KSV 7341-20" --min-dwell 0.00001 >/dev/null 2>&1
check "too short a minimum dwell exits 1" test $? -eq 1
"$CLI" sample "$TMP/missing.ovx" --model "KSV 7341-20" >/dev/null 2>&1
check "missing document exits 1" test $? -eq 1

[ $fails -eq 0 ]
