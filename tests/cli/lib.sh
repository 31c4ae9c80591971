# Shared by the command-line contract scripts: a scratch folder and named checks.
# Source it after setting CLI; it sets TMP and counts failures in `fails`.
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
fails=0
check() {  # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then echo "ok: $name"; else echo "FAIL: $name"; fails=$((fails + 1)); fi
}
# Waits are for states, never for a time: on a loaded machine any step may take long, and a
# signal sent before the program has installed its handler kills it.
# wait_until PID CONDITION...: polls until CONDITION holds; fails as soon as process PID has
# ended without it (a run that hangs is ended by the test's time-out).
wait_until() {
  local pid=$1
  shift
  until "$@"; do
    kill -0 "$pid" 2>/dev/null || { "$@"; return; }
    sleep 0.05
  done
}
# seen FILE PATTERN: FILE has a line matching the basic PATTERN.
seen() { grep -q -e "$2" "$1" 2>/dev/null; }
whole_line() { test -f "$1" && test "$(wc -l <"$1")" -gt 0; }
# endpoint PID FILE: the first line a starting simulator printed (its pty or port), once whole.
endpoint() { wait_until "$1" whole_line "$2" && head -n 1 "$2"; }
