#!/usr/bin/env bash
# What play does when a supply refuses the list or reports absurd limits, and what check, sample
# and plot do at the frequency edge: a clear error and exit 1, the output never switched on.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"
doc() { printf '<ondrevo><arbdata><waveform_list>%s</waveform_list></arbdata></ondrevo>' "$2" >"$TMP/$1"; }
CUR='<waveform type="current"><segment duration="10" start="1" end="1"/></waveform>'
doc short.ovx '<waveform type="voltage"><segment duration="0.1" start="1" end="1"/><segment duration="0" start="1" end="2.5"/><segment duration="0.2" start="2.5" end="2.5"/></waveform><waveform type="current"><segment duration="0.3" start="0.5" end="0.5"/></waveform>'

# serve NAME ARGS...: a simulator on a pty logging to $TMP/NAME.log; sets pty and sim.
serve() {
  local name=$1
  shift
  "$CLI" sim --pty --log "$TMP/$name.log" "$@" >"$TMP/$name.out" &
  sim=$!
  pty=$(endpoint $sim "$TMP/$name.out")
}
# play_against NAME ARGS...: plays short.ovx on the simulator started with ARGS; sets err, status.
play_against() {
  local name=$1
  shift
  serve "$name" "$@"
  err=$("$CLI" play "$TMP/short.ovx" --port "$pty" --burst 2 2>&1)
  status=$?
  kill "$sim"
  wait "$sim" 2>/dev/null
}
never() { ! grep -qE "$1" "$2"; }

for error in '-222,"Data out of range"' '-350,"Queue overflow"'; do
  play_against refused --model "KSV 7342-80" --list-error "$error"
  check "family C, list refused with $error: exit 1" test "$status" -eq 1
  check "... the instrument's text" grep -qF "The instrument reports an error: $error" <<<"$err"
  check "... the output never on" never '^OUTP ON' "$TMP/refused.log"
  check "... never armed or started" never '^(INIT|\*TRG|LIST:BLOC 0,)' "$TMP/refused.log"
  check "... released" grep -q '^SYST:LOC' "$TMP/refused.log"
done

play_against refusedA --model "KSV 5206-40" --list-error 3
check "family A, point refused: exit 1" test "$status" -eq 1
check "... the instrument's code" grep -qF "The instrument reports an error: 3" <<<"$err"
check "... never started" never '^(EX 1|FS)' "$TMP/refusedA.log"

for reply in -5 0 1e308 200; do
  play_against limit --model "KSV 7342-80" --max-voltage-reply "$reply"
  check "family C reporting $reply V: exit 1" test "$status" -eq 1
  check "... says which limit" grep -q "unusable maximum voltage: .* V (the model is rated up to 80 V)" <<<"$err"
  check "... nothing uploaded" never '^LIST:(VOLT|CURR|DWEL) ' "$TMP/limit.log"
  check "... the output never on" never '^OUTP ON' "$TMP/limit.log"
done
play_against limitB --model "KSV 6141-80" --max-voltage-reply -5
check "family B reporting -5 V: exit 1" test "$status" -eq 1
check "... nothing uploaded" never '^FREG' "$TMP/limitB.log"

play_against sound --model "KSV 7342-80"
check "a sound supply still plays (exit 0)" test "$status" -eq 0

# The frequency edge: refused where the document is read, with the limit; nothing spins (a run
# that is killed by the timeout exits 124).
doc fast.ovx "<waveform type=\"voltage\"><segment duration=\"10\" start=\"5\" end=\"5\"><sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"1e14\" end=\"1e14\"/><phase value=\"0\"/></sine></segment></waveform>$CUR"
M="KSV 7341-20"
for cmd in "check" "sample --json" "plot -o $TMP/fast.png"; do
  err=$(timeout 120 "$CLI" $cmd "$TMP/fast.ovx" --model "$M" 2>&1 >/dev/null)
  status=$?
  check "$cmd at 1e14 Hz: exit 1" test "$status" -eq 1
  check "$cmd names the limit" grep -q 'A frequency cannot exceed 1000000000 Hz: 1e14' <<<"$err"
done
doc edge.ovx "<waveform type=\"voltage\"><segment duration=\"10\" start=\"5\" end=\"5\"><sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"1e9\" end=\"1e9\"/><phase value=\"0\"/></sine></segment></waveform>$CUR"
timeout 120 "$CLI" check "$TMP/edge.ovx" --model "$M" >/dev/null 2>&1
status=$?
check "check at 1e9 Hz ends (status $status)" test "$status" -le 1
doc late.ovx "<waveform type=\"voltage\"><segment duration=\"1e6\" start=\"5\" end=\"5\"/><segment duration=\"10\" start=\"5\" end=\"5\"><sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"1e9\" end=\"1e9\"/><phase value=\"0\"/></sine></segment></waveform>$CUR"
timeout 120 "$CLI" plot "$TMP/late.ovx" -o "$TMP/late.png" >/dev/null 2>&1
check "plot of 1 GHz a day into the curve draws its band (exit 0)" test $? -eq 0
err=$(timeout 120 "$CLI" check "$TMP/late.ovx" --model "$M" 2>&1)
status=$?
check "check of it ends with exit 1 (status $status)" test "$status" -eq 1
doc denormal.ovx "<waveform type=\"voltage\"><segment duration=\"4.9e-324\" start=\"5\" end=\"5\"><sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"1e9\" end=\"1e9\"/><phase value=\"0\"/></sine></segment><segment duration=\"5\" start=\"5\" end=\"6\"/></waveform>$CUR"
for cmd in "check" "sample --json" "plot -o $TMP/denormal.png"; do
  timeout 120 "$CLI" $cmd "$TMP/denormal.ovx" --model "$M" >/dev/null 2>&1
  status=$?
  check "$cmd with a denormal duration ends (status $status)" test "$status" -le 1
done

echo "$fails failed"
test $fails -eq 0
