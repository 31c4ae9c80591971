#!/usr/bin/env bash
# ondrevo-cli play against simulators: a failed connect leaves each family's instrument in local
# mode, and --trigger waits for the trigger input where the supply has one.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

# Four levels of 0.1 s: the trigger is seen when the address is neither the first nor the last.
printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="0.1" start="1" end="1"/><segment duration="0" start="1" end="2"/><segment duration="0.1" start="2" end="2"/><segment duration="0" start="2" end="3"/><segment duration="0.1" start="3" end="3"/><segment duration="0" start="3" end="4"/><segment duration="0.1" start="4" end="4"/></waveform>\n<waveform type="current"><segment duration="0.4" start="0.5" end="0.5"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/steps.ovx"

# The identification is answered, the first reply of the connect sequence is garbage.
for model in "KSV 5206-40" "KSV 6141-80" "KSV 7342-80"; do
  "$CLI" sim --model "$model" --pty --log "$TMP/sim.log" --garbage 3 --fault-after 1 \
    --fault-replies 1 >"$TMP/sim.out" &
  sim=$!
  err=$("$CLI" play "$TMP/steps.ovx" --port "$(endpoint $sim "$TMP/sim.out")" \
    --trace "$TMP/fail.txt" 2>&1)
  check "$model: failed connect exits 1" test $? -eq 1
  check "$model: says why" grep -qx 'ondrevo-cli: The connection timed out' <<<"$err"
  check "$model: local is the last line the instrument got" \
    test "$(tail -n 1 "$TMP/sim.log")" = "SYST:LOC"
  check "$model: and the last line traced" test "$(tail -n 1 "$TMP/fail.txt")" = "> SYST:LOC"
  check "$model: nothing uploaded" bash -c "! grep -qE '^(FDS|FREG|LIST:VOLT)' '$TMP/sim.log'"
  # The simulator's trigger signal does not end it: it still ends by its own handling of
  # SIGTERM (exit 0), not by SIGUSR1's default action (exit 138).
  kill -USR1 $sim
  kill $sim
  wait $sim 2>/dev/null
  check "$model: simulator survives its trigger signal" test $? -eq 0
done

# Family A on the GPIB stand-in: armed, nothing runs until the trigger input fires (SIGUSR1
# fires it on the demo instruments), then one burst and the end.
"$CLI" --demo play "$TMP/steps.ovx" --device GPIB0::5 --trigger --trace "$TMP/trig.txt" \
  2>"$TMP/trig.err" &
pid=$!
check "armed (the trigger handler is in place)" wait_until $pid seen "$TMP/trig.err" 'Waiting for trigger'
# Several polls while armed, each answered with the start address.
armed_polls() { test "$(grep -A1 -x '> FAF?' "$TMP/trig.txt" | grep -cx '< 0')" -ge 3; }
check "polled while armed" wait_until $pid armed_polls
check "trigger input switched on before the start" \
  bash -c "grep -n -e '^> ETR 1\$' -e '^> FS\$' '$TMP/trig.txt' | cut -d: -f2 | tr '\n' ' ' | grep -qx '> ETR 1 > FS '"
check "still waiting after several polls" kill -0 $pid
check "only the start address before the trigger" \
  test "$(grep -A1 -x '> FAF?' "$TMP/trig.txt" | grep '^< ' | sort -u)" = "< 0"
check "no trigger reported yet" bash -c "! grep -q 'Received Trigger' '$TMP/trig.err'"
kill -USR1 $pid
wait $pid
check "triggered play exits 0" test $? -eq 0
check "trigger reported" grep -q 'Received Trigger, executing waveform' "$TMP/trig.err"
check "the burst ran after the trigger" bash -c "grep -A1 -x '> FAF?' '$TMP/trig.txt' | grep -qx '< [12]'"

# The other families have no trigger input: refused before anything is sent.
for device in "KSV 6141-80" "KSV 7341-20"; do
  err=$("$CLI" --demo play "$TMP/steps.ovx" --device "$device" --trigger --trace "$TMP/none.txt" 2>&1)
  check "$device: --trigger exits 1" test $? -eq 1
  check "$device: says it has no trigger input" \
    grep -qx "ondrevo-cli: $device: this device has no external trigger" <<<"$err"
  check "$device: nothing sent" test ! -s "$TMP/none.txt"
done

echo "$fails failed"
test $fails -eq 0
