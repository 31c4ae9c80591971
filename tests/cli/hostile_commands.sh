#!/usr/bin/env bash
# Hostile and unlucky input: huge and control-character text is cut and cleaned, FIFOs never
# block, nothing is overwritten where it should not be, and output that cannot be written whole
# (a full file system) is an error.
set -u
CLI=$1
SHIM=${2:-}  # LD_PRELOAD stand-in for a full disk, used where no tmpfs can be mounted
. "$(dirname "$0")/lib.sh"

printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="0.1" start="1" end="1"/><segment duration="0.2" start="2.5" end="2.5"/></waveform>\n<waveform type="current"><segment duration="0.3" start="0.5" end="0.5"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/short.ovx"
one_line() { test "$(wc -l <"$1")" -eq 1; }
no_controls() { ! LC_ALL=C grep -q "[[:cntrl:]]" <(tr -d '\n' <"$1"); }

# ---- huge and control-character text ---------------------------------------------------------
python3 - "$TMP" <<'EOF'
import sys
tmp = sys.argv[1]
head = '<ondrevo><arbdata><waveform_list><waveform type="voltage">'
open(tmp + '/huge.ovx', 'w').write(head + '<segment duration="' + '9' * (50 << 20) + 'x" start="0" end="1"/>')
open(tmp + '/forged.ovx', 'w').write(head + '<segment duration="1&#10;forged.ovx:1:1: an extra error&#9;" start="0" end="1"/>')
EOF
timeout 240 "$CLI" info "$TMP/huge.ovx" 2>"$TMP/err" >/dev/null
check "50 MB attribute: exit 1" test $? -eq 1
check "50 MB attribute: one short line" bash -c "test \$(wc -c <'$TMP/err') -lt 400 && test \$(wc -l <'$TMP/err') -eq 1"
"$CLI" info "$TMP/forged.ovx" 2>"$TMP/err" >/dev/null
check "a line feed in an attribute forges no line" one_line "$TMP/err"
check "control characters are shown escaped" no_controls "$TMP/err"
check "the text is still there to read" grep -qF '1\nforged.ovx:1:1: an extra error\t' "$TMP/err"

# Identification replies from a stand-in instrument on a pty: it answers *IDN? with $1.
fake_instrument() {  # fake_instrument NAME REPLY-PYTHON-EXPRESSION
  python3 - "$2" >"$TMP/$1.out" <<'EOF' &
import os, pty, sys, time, tty
reply = eval(sys.argv[1])
m, s = pty.openpty()
tty.setraw(s)
print(os.ttyname(s), flush=True)
end = time.time() + 600  # killed when done
buf = b''
while time.time() < end:
    buf += os.read(m, 4096)
    if b'*IDN?' in buf:
        os.write(m, reply)
        buf = b''
EOF
  fake=$!
  port=$(endpoint $fake "$TMP/$1.out")
}
fake_instrument nomodel "b'KESTRAVO,,4711,1.0\\n'"
"$CLI" play "$TMP/short.ovx" --port "$port" 2>"$TMP/err"
check "reply without a model: exit 1" test $? -eq 1
check "reply without a model: says so" grep -q 'names no model in its identification: "KESTRAVO,,4711,1.0"' "$TMP/err"
kill $fake 2>/dev/null; wait $fake 2>/dev/null
fake_instrument long "b'\\x1b]0;owned\\x07' + b'Z' * 100000 + b'\\n'"
"$CLI" play "$TMP/short.ovx" --port "$port" 2>"$TMP/err"
check "100 KB reply: exit 1" test $? -eq 1
check "100 KB reply: not 'no instrument answers'" grep -q 'no known instrument; it answered: "ZZZ.*\.\.\."' "$TMP/err"
check "100 KB reply: one short line" bash -c "test \$(wc -c <'$TMP/err') -lt 400 && test \$(wc -l <'$TMP/err') -eq 1"
kill $fake 2>/dev/null; wait $fake 2>/dev/null
fake_instrument escape "b'\\x1b[2J\\x07 OTHER MAKER\\n'"
"$CLI" play "$TMP/short.ovx" --port "$port" --trace "$TMP/escape-trace.txt" 2>"$TMP/err"
check "escape bytes in a reply reach no terminal" no_controls "$TMP/err"
check "the trace keeps the reply, escaped" grep -qxF '< \x1B[2J\x07 OTHER MAKER' "$TMP/escape-trace.txt"
kill $fake 2>/dev/null; wait $fake 2>/dev/null
fake_instrument prefix "b'>> KESTRAVO,KSV7342-80,4711,1.0\\n'"
ONDREVO_SERIAL_PORTS=$port timeout 60 "$CLI" devices >"$TMP/out" 2>/dev/null
check "a prefix before the maker's name does not shift the model" grep -q '^  KSV 7342-80, SN 4711' "$TMP/out"
kill $fake 2>/dev/null; wait $fake 2>/dev/null

# ---- CSV traces ------------------------------------------------------------------------------
printf 'Firmware,1\n0;1.5\n1;2.5\n' >"$TMP/semi.csv"
"$CLI" import-csv "$TMP/semi.csv" 2>"$TMP/err" >/dev/null
check "';' separated trace: exit 1" test $? -eq 1
check "';' separated trace: says records were skipped and why" grep -q 'holds no data: 2 records were skipped.*line 2: "0;1.5" The fields must be separated by commas.' "$TMP/err"
printf 'x-axis,1\rsecond,Volt\r0,1.5\r1,2.5\r' >"$TMP/cr.csv"
"$CLI" import-csv "$TMP/cr.csv" -o "$TMP/cr.ovx" 2>"$TMP/err"
check "CR-only line ends: imported" test $? -eq 0
check "CR-only line ends: all samples" grep -q '^voltage: 4 segments' <("$CLI" info "$TMP/cr.ovx")

# ---- FIFOs never block -----------------------------------------------------------------------
mkfifo "$TMP/fifo.ovx" "$TMP/fifo.csv"
timeout 10 "$CLI" info "$TMP/fifo.ovx" 2>"$TMP/err" >/dev/null
check "a FIFO as document: exit 1 at once" test $? -eq 1
check "a FIFO as document: not a regular file" grep -q 'not a regular file' "$TMP/err"
# The command line reads a named pipe as the stream it is told to read.
printf 'Firmware\n0,1\n1,2\n' >"$TMP/fifo.csv" &
timeout 10 "$CLI" import-csv "$TMP/fifo.csv" 2>"$TMP/err" >"$TMP/fifo-import.ovx"
check "a FIFO as trace on the command line: read as a stream" grep -q '<segment ' "$TMP/fifo-import.ovx"

# ---- plot -o saves as documents do -----------------------------------------------------------
printf 'old' >"$TMP/ro.png"
chmod 0444 "$TMP/ro.png"
"$CLI" plot "$TMP/short.ovx" -o "$TMP/ro.png" 2>"$TMP/err"
check "plot over a read-only file: exit 1" test $? -eq 1
check "plot over a read-only file: kept" test "$(cat "$TMP/ro.png")" = old
check "plot over a read-only file: says so" grep -q 'read-only' "$TMP/err"
mkfifo "$TMP/fifo.svg"
timeout 30 "$CLI" plot "$TMP/short.ovx" -o "$TMP/fifo.svg" 2>"$TMP/err"
check "plot onto a FIFO: refused at once" test $? -eq 1
check "plot onto a FIFO: still a FIFO" test -p "$TMP/fifo.svg"
printf 'old' >"$TMP/target.svg"
ln -s target.svg "$TMP/link.svg"
"$CLI" plot "$TMP/short.ovx" -o "$TMP/link.svg"
check "plot onto a link: the link stays" test -L "$TMP/link.svg"
check "plot onto a link: its file replaced" grep -q '<svg' "$TMP/target.svg"
check "plot leaves no temporary file" test "$(ls -a "$TMP" | grep -c 'ondrevo-\|\.part')" -eq 0

# ---- sim --link never replaces a file --------------------------------------------------------
printf 'precious' >"$TMP/taken"
timeout 10 "$CLI" sim --model "KSV 7342-80" --pty --link "$TMP/taken" >/dev/null 2>"$TMP/err"
check "sim --link over a file: exit 1" test $? -eq 1
check "sim --link over a file: file kept" test "$(cat "$TMP/taken")" = precious
check "sim --link over a file: says why" grep -q 'exists already' "$TMP/err"

# ---- the progress line after Ctrl+C ------------------------------------------------------------
printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="3" start="1" end="2"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/long.ovx"
"$CLI" play "$TMP/long.ovx" --demo --burst 1 --trace "$TMP/int.txt" 2>"$TMP/int.err" &
pid=$!
wait_until $pid seen "$TMP/int.err" 'Playing \[#'
kill -INT $pid
wait $pid
check "Ctrl+C: the stop's rewind is no second burst" bash -c "! grep -q 'Burst 2 / 1' '$TMP/int.err'"
check "Ctrl+C: stopped on a line of its own" grep -q '^Stopped\.$' "$TMP/int.err"

# ---- full file systems -----------------------------------------------------------------------
# A tiny tmpfs, filled up, in a mount namespace of its own (root); else the LD_PRELOAD shim, which
# sees writes through write(2) only (not the C library's stdio, so not the device list).
# ONDREVO_TEST_NO_TMPFS=1 tries the shim where a tmpfs could be mounted.
mkdir -p "$TMP/full"
full_tmpfs() {  # full_tmpfs COMMAND-STRING ARGS...: $FULL is a full file system
  unshare -m --propagation private bash -c '
    FULL=$1 cmd=$2
    shift 2
    mount -t tmpfs -o size=256k ondrevo-full "$FULL" || exit 99
    head -c 1M /dev/zero >"$FULL/fill" 2>/dev/null
    eval "$cmd"' full "$TMP/full" "$@"
}
full_shim() {
  # A sanitizer build would refuse a library loaded before its runtime.
  ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}verify_asan_link_order=0 \
    FULL=$TMP/full ONDREVO_FULL_DIR=$TMP/full LD_PRELOAD=$SHIM bash -c '
    cmd=$1
    shift
    touch "$FULL/fill"
    eval "$cmd"' full "$@"
}
full_run=
if [ -z "${ONDREVO_TEST_NO_TMPFS:-}" ] && full_tmpfs true 2>/dev/null; then
  full_run=full_tmpfs
elif [ -n "$SHIM" ] && [ -f "$SHIM" ] &&
  ! printf x | ONDREVO_FULL_DIR=$TMP/full LD_PRELOAD=$SHIM dd of="$TMP/full/probe" status=none 2>/dev/null; then
  rm -f "$TMP/full/probe"
  full_run=full_shim
  echo "note: no tmpfs can be mounted here; a full disk is simulated with $SHIM"
fi
if [ -n "$full_run" ]; then
  $full_run '"$1" plot "$2" -o "$FULL/plot.svg" 2>"$3/err.svg"; echo $? >"$3/rc.svg"; ls "$FULL" >"$3/ls.svg"' \
    "$CLI" "$TMP/short.ovx" "$TMP"
  check "SVG plot on a full disk: exit 1" test "$(cat "$TMP/rc.svg")" -eq 1
  check "SVG plot on a full disk: no partial file" test "$(cat "$TMP/ls.svg")" = fill
  check "SVG plot on a full disk: says why" grep -q 'No space left on device' "$TMP/err.svg"
  $full_run '"$1" plot "$2" -o "$FULL/plot.pdf" 2>/dev/null; echo $? >"$3/rc.pdf"' \
    "$CLI" "$TMP/short.ovx" "$TMP"
  check "PDF plot on a full disk: exit 1" test "$(cat "$TMP/rc.pdf")" -eq 1
  $full_run '"$1" play "$2" --demo --no-play --trace "$FULL/trace" 2>"$3/err.trace"; echo $? >"$3/rc.trace"' \
    "$CLI" "$TMP/short.ovx" "$TMP"
  check "play --trace to a full disk: exit 1" test "$(cat "$TMP/rc.trace")" -eq 1
  check "play --trace to a full disk: says why" grep -q "Cannot write .*trace: No space left on device" "$TMP/err.trace"
  check "play --trace to a full disk: the run still ends cleanly" grep -q 'Uploading' "$TMP/err.trace"
fi
if [ "$full_run" = full_tmpfs ]; then
  $full_run '"$1" --demo devices >"$FULL/list" 2>"$2/err.dev"; echo $? >"$2/rc.dev"' "$CLI" "$TMP"
  check "devices to a full disk: exit 1" test "$(cat "$TMP/rc.dev")" -eq 1
  check "devices to a full disk: says why" grep -q 'cannot write the device list' "$TMP/err.dev"
  $full_run '"$1" --demo devices --json >"$FULL/list" 2>/dev/null; echo $? >"$2/rc.json"' "$CLI" "$TMP"
  check "devices --json to a full disk: exit 1" test "$(cat "$TMP/rc.json")" -eq 1
else
  echo "skipped: full-disk checks of standard output need a tmpfs (root and unshare)"
fi
[ -z "$full_run" ] && echo "skipped: full-disk checks need a tmpfs or the LD_PRELOAD shim"

echo "$fails failed"
test $fails -eq 0
