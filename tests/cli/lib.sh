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
