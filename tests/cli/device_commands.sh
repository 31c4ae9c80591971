#!/usr/bin/env bash
# ondrevo-cli devices and play against the demo instruments: outputs, traces, exit statuses.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

# A short document: 0.3 s of voltage steps, a constant current.
printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="0.1" start="1" end="1"/><segment duration="0" start="1" end="2.5"/><segment duration="0.2" start="2.5" end="2.5"/></waveform>\n<waveform type="current"><segment duration="0.3" start="0.5" end="0.5"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/short.ovx"

out=$("$CLI" devices --demo)
check "devices lists the demo supplies" grep -q '^  KSV 7342-80, SN ' <<<"$out"
check "two-channel supply shows its channels" grep -q '^    Analog Out 1' <<<"$out"
out=$("$CLI" --demo devices)
check "top-level --demo starts the supplies too" grep -q '^  KSV 7341-20, SN ' <<<"$out"
json=$("$CLI" devices --demo --json)
check "devices --json" grep -q '"model": "KSV 7341-20"' <<<"$json"

"$CLI" play "$TMP/short.ovx" --demo --no-play --trace "$TMP/upload.txt" 2>"$TMP/err.txt"
check "upload only exits 0" test $? -eq 0
check "upload trace has the list lines" grep -q '^> LIST:VOLT 0,1.000,2.500;\*OPC?$' "$TMP/upload.txt"
check "upload trace has replies" grep -q '^< 1$' "$TMP/upload.txt"
check "no playback with --no-play" bash -c "! grep -q '^> \*TRG' '$TMP/upload.txt'"
check "instrument left local" test "$(tail -n 1 "$TMP/upload.txt")" = "> SYST:LOC"

"$CLI" play "$TMP/short.ovx" --demo --device "KSV 7341-20" --burst 2 --trace "$TMP/play.txt" \
  2>"$TMP/err.txt"
check "play exits 0" test $? -eq 0
check "burst count sent" grep -q '^> LIST:BLOC 0,0,1,2$' "$TMP/play.txt"
check "running state polled" grep -q '^> STAT:OPER:COND?$' "$TMP/play.txt"
check "progress on stderr" grep -q 'Playing \[' "$TMP/err.txt"

out=$("$CLI" --demo devices)
check "GPIB bus listed with its family-A supply" grep -q '^  KSV 5206-40, SN 520640001  \[GPIB0::5\]' <<<"$out"
check "USB bus listed with its family-B supply" grep -q '^  KSV 6141-80$' <<<"$out"

"$CLI" --demo play "$TMP/short.ovx" --device GPIB0::5 --burst 3 --trace "$TMP/gpib.txt" 2>/dev/null
check "family A plays over GPIB" test $? -eq 0
check "family-A point line traced" grep -q '^> FDS 0,1.000,0.500,0.1000;FDS 1,2.500,0.500,0.2000;\*OPC?$' "$TMP/gpib.txt"
check "family-A repetition count" grep -q '^> FB 3$' "$TMP/gpib.txt"
check "family-A settings restored" grep -q '^> F 3;.*;F 1;\*OPC?$' "$TMP/gpib.txt"

"$CLI" --demo play "$TMP/short.ovx" --device "KSV 6141-80" --burst 3 --trace "$TMP/usb.txt" 2>/dev/null
check "family B plays over USB" test $? -eq 0
check "family-B register line traced" grep -q '^> FREG 1.000,0.500,0.1000;FSTO 1;FREG 2.500,0.500,0.2000;FSTO 2;\*OPC?$' "$TMP/usb.txt"
check "family-B count read back" grep -q '^> FREP?$' "$TMP/usb.txt"
check "family B left local" test "$(tail -n 1 "$TMP/usb.txt")" = "> SYST:LOC"

# The saved serial settings apply; a baud rate no port takes is said, not passed over in silence.
mkdir -p "$TMP/appdata/Kestravo/Ondrevo/Designer"
printf '[RS232.Default]\nBaudRate=12345\nDataBits=8\nParity=0\nStopBits=0\nHandshake=4880\n' \
  >"$TMP/appdata/Kestravo/Ondrevo/Designer/Ondrevo.ini"
err=$(APPDATA="$TMP/appdata" "$CLI" --demo devices 2>&1 >/dev/null)
check "search says the port refuses the saved baud rate" \
  grep -q '^ondrevo-cli: COM: The serial port does not take the baud rate 12345$' <<<"$err"
err=$(APPDATA="$TMP/appdata" "$CLI" --demo play "$TMP/short.ovx" 2>&1)
check "play with that baud rate exits 1" test $? -eq 1
check "play names the baud rate" grep -q 'does not take the baud rate 12345' <<<"$err"

# Ctrl+C stops an endless playback and still disconnects cleanly.
"$CLI" play "$TMP/short.ovx" --demo --burst 0 --trace "$TMP/stop.txt" 2>/dev/null &
pid=$!
wait_until $pid seen "$TMP/stop.txt" 'STAT:OPER:COND'
kill -INT $pid
wait $pid
check "Ctrl+C during playback exits 130" test $? -eq 130
check "playback stopped" grep -q '^> ABOR$' "$TMP/stop.txt"
check "local after Ctrl+C" test "$(tail -n 1 "$TMP/stop.txt")" = "> SYST:LOC"

"$CLI" play "$TMP/short.ovx" 2>/dev/null
check "play without an instrument is bad usage" test $? -eq 2
err=$("$CLI" play "$TMP/short.ovx" --port /nonexistent/tty 2>&1)
check "missing port exits 1" test $? -eq 1
check "one-line error" test "$err" = "ondrevo-cli: The requested COM port does not exist."

# A file that is not a waveform, or a document without a voltage curve, is never played: the
# empty voltage curve would go out as the model's maximum. Nothing reaches the instrument.
"$CLI" sim --model "KSV 7342-80" --pty --log "$TMP/sim.log" >"$TMP/sim.out" &
sim=$!
pty=$(endpoint $sim "$TMP/sim.out")
printf '<html><body/></html>' >"$TMP/page.ovx"
err=$("$CLI" play "$TMP/page.ovx" --port "$pty" 2>&1)
check "html page refused with exit 1" test $? -eq 1
check "html error names the file" test "$err" = "ondrevo-cli: $TMP/page.ovx:1:1: The file is not a waveform document."
printf '<ondrevo><arbdata><waveform_list><waveform type="current"><segment duration="1" start="1" end="1"/></waveform></waveform_list></arbdata></ondrevo>' >"$TMP/current-only.ovx"
err=$("$CLI" play "$TMP/current-only.ovx" --port "$pty" --trace "$TMP/refused.txt" 2>&1)
check "no voltage curve: exit 1" test $? -eq 1
check "no voltage curve: says why" test "$err" = "ondrevo-cli: $TMP/current-only.ovx: The document has no voltage curve, so there is nothing to play."
check "nothing sent to the instrument" test ! -s "$TMP/sim.log"

# Instrument trouble names the port: a second play on a port in use, the instrument going away
# during playback, a plain file as the port.
"$CLI" play "$TMP/short.ovx" --port "$pty" --burst 0 --trace "$TMP/first.txt" 2>"$TMP/first.err" &
first=$!
wait_until $first seen "$TMP/first.txt" 'STAT:OPER:COND'
err=$("$CLI" play "$TMP/short.ovx" --port "$pty" 2>&1)
check "second play on the port exits 1" test $? -eq 1
check "second play: the port is in use" test "$err" = "ondrevo-cli: The serial port $pty is in use by another program."
kill -KILL $sim
wait $sim 2>/dev/null
wait $first
check "instrument gone during playback exits 1" test $? -eq 1
# Where the line drops decides the system's text: the flush before a query, or the read after it.
check "instrument gone: names model and port, keeps the system's text" grep -qE "Error on KSV 7342-80: The instrument on $pty stopped answering: (The input buffer could not be cleared. Error code is 0x05|The connection to the device was lost)" "$TMP/first.err"
printf 'hello\n' >"$TMP/plain.txt"
err=$("$CLI" play "$TMP/short.ovx" --port "$TMP/plain.txt" 2>&1)
check "plain file as port exits 1" test $? -eq 1
check "plain file: not a serial port" test "$err" = "ondrevo-cli: $TMP/plain.txt is not a serial port: Could not load COM port settings. Error code is 0x19"

# --trace records from the first line, also when no instrument answers.
python3 -c 'import os, pty, sys, time
m, s = pty.openpty()
print(os.ttyname(s), flush=True)
time.sleep(600)' >"$TMP/silent.out" &
silent=$!
"$CLI" play "$TMP/short.ovx" --port "$(endpoint $silent "$TMP/silent.out")" --trace "$TMP/silent.txt" 2>/dev/null
check "silent port exits 1" test $? -eq 1
check "trace holds the probe" grep -qx '> ;\*IDN?' "$TMP/silent.txt"
kill $silent 2>/dev/null
wait $silent 2>/dev/null

echo "$fails failed"
test $fails -eq 0
