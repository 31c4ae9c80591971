#!/usr/bin/env bash
# Family-C supplies over the LAN: ondrevo-cli against `sim --tcp --vxi11` over the raw socket and
# VXI-11, clients written by others (lxi-tools, PyVISA with pyvisa-py) against the simulator, and
# the faults of a network: a simulator killed mid-upload and mid-play, a host that does not
# exist, a port that refuses, a peer that never answers.
# VXI-11 clients ask the port mapper on port 111 first: where none runs, this starts Debian's
# rpcbind when root and stops it again; otherwise the VXI-11 checks are skipped, saying why.
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

pids=()
rpcbind_pid=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  [ -n "$rpcbind_pid" ] && kill "$rpcbind_pid" 2>/dev/null && wait "$rpcbind_pid" 2>/dev/null
  rm -rf "$TMP"
}
trap cleanup EXIT

portmapper_up() { (exec 3<>/dev/tcp/127.0.0.1/111) 2>/dev/null; }
if ! portmapper_up && [ "$(id -u)" -eq 0 ] && [ -x /usr/sbin/rpcbind ]; then
  /usr/sbin/rpcbind -f -w &
  rpcbind_pid=$!
  wait_until "$rpcbind_pid" portmapper_up
fi
vxi=1
if ! portmapper_up; then
  vxi=0
  echo "skip: VXI-11 checks: no port mapper on port 111 and none may be started here"
fi

# start_sim NAME ARGS...: a simulator on a free port; sets sim_pid and sim_port.
start_sim() {
  local name=$1
  shift
  "$CLI" sim --model "KSV 7342-80" --tcp 0 "$@" >"$TMP/$name.out" 2>"$TMP/$name.err" &
  sim_pid=$!
  pids+=("$sim_pid")
  sim_port=$(endpoint "$sim_pid" "$TMP/$name.out")
}

printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage"><segment duration="0.1" start="1" end="1"/><segment duration="0" start="1" end="2.5"/><segment duration="0.2" start="2.5" end="2.5"/></waveform>\n<waveform type="current"><segment duration="0.3" start="0.5" end="0.5"/></waveform>\n</waveform_list></arbdata></ondrevo>' >"$TMP/short.ovx"
# 200 levels: an upload long enough to be caught in the middle.
{
  printf '<ondrevo><arbdata><waveform_list>\n<waveform type="voltage">'
  for k in $(seq 1 200); do printf '<segment duration="0.05" start="%d" end="%d"/>' $((k % 50 + 1)) $((k % 50 + 1)); done
  printf '</waveform>\n<waveform type="current"><segment duration="10" start="0.5" end="0.5"/></waveform>\n</waveform_list></arbdata></ondrevo>'
} >"$TMP/long.ovx"

# ---- our program over both transports ----
start_sim main --vxi11 --speed 10
addr="TCPIP::127.0.0.1::$sim_port::SOCKET"
"$CLI" play "$TMP/short.ovx" --device "$addr" --burst 3 --trace "$TMP/raw.txt" 2>"$TMP/err.txt"
check "play over the raw socket exits 0" test $? -eq 0
check "raw socket: list lines sent" grep -q '^> LIST:VOLT 0,1.000,2.500;\*OPC?$' "$TMP/raw.txt"
check "raw socket: three bursts" grep -q '^> LIST:BLOC 0,0,1,3$' "$TMP/raw.txt"
check "raw socket: left local" test "$(tail -n 1 "$TMP/raw.txt")" = "> SYST:LOC"
# The same document over a serial line sends the same lines.
"$CLI" sim --model "KSV 7342-80" --pty --speed 10 >"$TMP/pty.out" 2>/dev/null &
pty_pid=$!
pids+=("$pty_pid")
pty=$(endpoint "$pty_pid" "$TMP/pty.out")
"$CLI" play "$TMP/short.ovx" --port "$pty" --burst 3 --trace "$TMP/serial.txt" 2>/dev/null
# The upload's lines, up to the first look at the list state that starts the playback (how often
# the playback then polls depends on the machine's load).
upload_lines() { grep '^> ' "$1" | sed '/^> LIST:SEQ:STAT?$/,$d'; }
upload_lines "$TMP/serial.txt" >"$TMP/serial.sent"
upload_lines "$TMP/raw.txt" >"$TMP/raw.sent"
check "serial upload traced" grep -q '^> INIT$' "$TMP/serial.sent"
check "raw socket uploads what the serial line uploads" cmp -s "$TMP/serial.sent" "$TMP/raw.sent"

out=$(ONDREVO_LAN_HOSTS="127.0.0.1:$sim_port" "$CLI" devices)
check "devices lists the supply on the LAN node" \
  grep -q "^  KSV 7342-80, SN 100001  \[TCPIP::127.0.0.1::$sim_port::SOCKET\]" <<<"$out"

if [ "$vxi" -eq 1 ]; then
  check "simulator registered its VXI-11 channel" grep -q '^vxi11 [0-9]*$' "$TMP/main.out"
  "$CLI" play "$TMP/short.ovx" --device "TCPIP::127.0.0.1::INSTR" --burst 3 \
    --trace "$TMP/vxi.txt" 2>"$TMP/err.txt"
  check "play over VXI-11 exits 0" test $? -eq 0
  upload_lines "$TMP/vxi.txt" >"$TMP/vxi.sent"
  check "VXI-11 uploads what the serial line uploads" cmp -s "$TMP/serial.sent" "$TMP/vxi.sent"
  out=$(ONDREVO_LAN_HOSTS="127.0.0.1" "$CLI" devices)
  check "devices finds it over VXI-11 too" \
    grep -q '^  KSV 7342-80, SN 100001  \[TCPIP::127.0.0.1::INSTR\]' <<<"$out"
fi

# ---- clients written by others ----
# lxi_list_upload ARGS...: empties the error queue, uploads a list in three writes, one client
# after the other, and prints the error query's reply.
lxi_list_upload() {
  local k
  for k in $(seq 1 50); do
    lxi scpi "$@" 'SYST:ERR?' 2>&1 | grep -q '^0,' && break
  done
  lxi scpi "$@" 'LIST:VOLT 0,1.000,2.500' >/dev/null 2>&1
  lxi scpi "$@" 'LIST:CURR 0,0.500,0.500' >/dev/null 2>&1
  lxi scpi "$@" 'LIST:DWEL 0,0.100,0.200' >/dev/null 2>&1
  lxi scpi "$@" 'SYST:ERR?' 2>&1
}
if command -v lxi >/dev/null; then
  out=$(lxi scpi --raw -p "$sim_port" -a 127.0.0.1 '*IDN?' 2>&1)
  check "lxi scpi over the raw socket identifies it" grep -q 'KSV7342-80,100001' <<<"$out"
  out=$(lxi_list_upload --raw -p "$sim_port" -a 127.0.0.1)
  check "lxi scpi over the raw socket reads an empty error queue after a list upload" \
    grep -q '^0,"No error"' <<<"$out"
  if [ "$vxi" -eq 1 ]; then
    out=$(lxi scpi -a 127.0.0.1 '*IDN?' 2>&1)
    check "lxi scpi over VXI-11 identifies it" grep -q 'KSV7342-80,100001' <<<"$out"
    out=$(lxi_list_upload -a 127.0.0.1)
    check "lxi scpi over VXI-11 reads an empty error queue after a list upload" \
      grep -q '^0,"No error"' <<<"$out"
  fi
else
  echo "FAIL: lxi (lxi-tools) is not installed"
  fails=$((fails + 1))
fi

# Debian's interpreter, which has Debian's PyVISA packages (another python3 may come first on PATH).
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3
if "$PY" -c 'import pyvisa, pyvisa_py' 2>/dev/null; then
  resources=("TCPIP::127.0.0.1::$sim_port::SOCKET")
  [ "$vxi" -eq 1 ] && resources+=("TCPIP::127.0.0.1::INSTR")
  for resource in "${resources[@]}"; do
    out=$("$PY" - "$resource" <<'EOF' 2>&1
import sys
import pyvisa
rm = pyvisa.ResourceManager("@py")
inst = rm.open_resource(sys.argv[1], read_termination="\n", write_termination="\n", timeout=5000)
print(inst.query("*IDN?"))
# What earlier clients left in the error queue is theirs.
for _ in range(50):
    if inst.query("SYST:ERR?").startswith("0,"):
        break
inst.write("LIST:VOLT 0,1.000,2.500")
inst.write("LIST:CURR 0,0.500,0.500")
inst.write("LIST:DWEL 0,0.100,0.200")
print("ERR " + inst.query("SYST:ERR?"))
inst.close()
rm.close()
EOF
)
    check "PyVISA identifies it over $resource" grep -q 'KSV7342-80,100001' <<<"$out"
    grep -q '^ERR 0,"No error"$' <<<"$out" || echo "$out"
    check "PyVISA reads an empty error queue after a list upload over $resource" \
      grep -q '^ERR 0,"No error"$' <<<"$out"
  done
else
  echo "FAIL: PyVISA with the pyvisa-py backend is not installed"
  fails=$((fails + 1))
fi

# A second client is refused at once, saying why.
"$CLI" play "$TMP/short.ovx" --device "$addr" --burst 0 --trace "$TMP/first.txt" 2>/dev/null &
first=$!
pids+=("$first")
wait_until "$first" seen "$TMP/first.txt" '^> STAT:OPER:COND?$'
err=$("$CLI" play "$TMP/short.ovx" --device "$addr" 2>&1)
check "second client exits 1" test $? -eq 1
grep -q 'The instrument at 127.0.0.1 is serving another client' <<<"$err" || echo "$err"
check "second client is told the instrument is busy" \
  grep -q 'The instrument at 127.0.0.1 is serving another client' <<<"$err"
kill -INT "$first"
wait "$first"
check "first client stopped by Ctrl+C as usual" test $? -eq 130

# ---- faults ----
# Killed mid-upload: late replies stretch the upload; the kill comes once the list is on its way.
start_sim killup --late-reply 100 --fault-after 12
"$CLI" play "$TMP/long.ovx" --device "TCPIP::127.0.0.1::$sim_port::SOCKET" --trace "$TMP/killup.txt" \
  2>"$TMP/killup.err" &
player=$!
wait_until "$player" seen "$TMP/killup.txt" '^> LIST:VOLT'
kill -9 "$sim_pid"
wait "$sim_pid" 2>/dev/null
wait "$player"
check "killed mid-upload exits 1" test $? -eq 1
check "killed mid-upload: stopped answering" grep -q 'The instrument at 127.0.0.1 stopped answering' "$TMP/killup.err"

start_sim killplay --speed 10
"$CLI" play "$TMP/short.ovx" --device "TCPIP::127.0.0.1::$sim_port::SOCKET" --burst 0 \
  --trace "$TMP/killplay.txt" 2>"$TMP/killplay.err" &
player=$!
wait_until "$player" seen "$TMP/killplay.txt" '^> STAT:OPER:COND?$'
kill -9 "$sim_pid"
wait "$sim_pid" 2>/dev/null
wait "$player"
check "killed mid-play exits 1" test $? -eq 1
check "killed mid-play: stopped answering" grep -q 'The instrument at 127.0.0.1 stopped answering' "$TMP/killplay.err"

err=$("$CLI" play "$TMP/short.ovx" --device "TCPIP::no-such-host.invalid::5025::SOCKET" 2>&1)
check "no such host exits 1" test $? -eq 1
check "no such host is said" grep -q 'There is no host no-such-host.invalid on the network' <<<"$err"

start_sim gone
port=$sim_port
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null
err=$("$CLI" play "$TMP/short.ovx" --device "TCPIP::127.0.0.1::$port::SOCKET" 2>&1)
check "refused port exits 1" test $? -eq 1
check "refused port is said" grep -q "The host 127.0.0.1 refuses connections on port $port" <<<"$err"

start_sim silent --no-reply
err=$("$CLI" play "$TMP/short.ovx" --device "TCPIP::127.0.0.1::$sim_port::SOCKET" 2>&1)
check "silent peer exits 1" test $? -eq 1
check "silent peer is said" grep -q 'The instrument at 127.0.0.1 stopped answering' <<<"$err"

echo "$fails failed"
test "$fails" -eq 0
