#!/usr/bin/env bash
# The bash completion of ondrevo-cli in an interactive shell, against the built program.
#   completion_test.sh COMPLETION_FILE CLI_PROGRAM
set -uo pipefail
completion=$1
cli=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/docs/sub folder"
ln -s "$cli" "$work/bin/ondrevo-cli"
touch "$work/docs/a.ovx" "$work/docs/Sine sweep.ovx" "$work/docs/B.OVX" "$work/docs/trace.csv"

# One interactive shell sources the completion and answers every line with its candidates, one
# per line, after a line "== LINE". Lines list the words as typed, separated by "|" (a trailing
# "|" is the empty word being completed), as bash hands them over in COMP_WORDS.
cat >"$work/lines" <<'LINES'
ondrevo-cli|
ondrevo-cli|pl
ondrevo-cli|--demo|
ondrevo-cli|sample|--m
ondrevo-cli|sample|doc.ovx|--model|KSV\ 734
ondrevo-cli|sample|doc.ovx|--model|"KSV 5
ondrevo-cli|--demo|play|doc.ovx|--device|
ondrevo-cli|info|DOCS/
ondrevo-cli|import-csv|DOCS/t
ondrevo-cli|plot|DOCS/a.ovx|-o|DOCS/
LINES
sed -i "s|DOCS|$work/docs|g" "$work/lines"
PATH="$work/bin:$PATH" HOME="$work" bash --norc --noprofile -i -c '
  source "$1"
  complete -p ondrevo-cli >/dev/null || { echo "not registered"; exit 1; }
  while IFS= read -r line; do
    echo "== $line"
    IFS="|" read -r -a COMP_WORDS <<<"$line"
    [[ $line == *"|" ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=${line//|/ }
    COMPREPLY=()
    _ondrevo_cli
    printf "%s\n" "${COMPREPLY[@]}" | sort
  done <"$2"
' completion-test "$completion" "$work/lines" >"$work/out" 2>"$work/err"
status=$?
[ $status = 0 ] || { echo "the shell failed ($status):"; cat "$work/err" "$work/out"; exit 1; }

failures=0
# answers LINE: the candidates given for LINE
answers() { awk -v want="== $1" '$0 == want {on = 1; next} /^== / {on = 0} on' "$work/out"; }
expect() {  # expect LINE has|lacks|is TEXT
  local got
  got=$(answers "$1")
  case $2 in
    has) grep -qxF -- "$3" <<<"$got" ;;
    lacks) ! grep -qxF -- "$3" <<<"$got" ;;
    is) [ "$got" = "$3" ] ;;
  esac || { echo "FAIL: '$1' $2 '$3'; got:"; echo "$got" | sed 's/^/    /'; failures=$((failures + 1)); }
}
for c in info normalize sample import-csv devices play sim check plot; do
  expect "ondrevo-cli|" has "$c"
  expect "ondrevo-cli|--demo|" has "$c"
done
expect "ondrevo-cli|" lacks "--demo"
expect "ondrevo-cli|pl" is "$(printf 'play\nplot')"
expect "ondrevo-cli|sample|--m" has "--model"
expect "ondrevo-cli|sample|--m" has "--max-points"
expect "ondrevo-cli|sample|--m" has "--min-dwell"
expect "ondrevo-cli|sample|--m" lacks "--json"
expect 'ondrevo-cli|sample|doc.ovx|--model|KSV\ 734' has 'KSV\ 7341-20'
expect 'ondrevo-cli|sample|doc.ovx|--model|KSV\ 734' has 'KSV\ 7342-80'
expect 'ondrevo-cli|sample|doc.ovx|--model|KSV\ 734' lacks 'KSV\ 5206-40'
expect 'ondrevo-cli|sample|doc.ovx|--model|"KSV 5' has 'KSV 5206-40'
# The demo's supplies on the serial, GPIB and USB buses and its card, as `devices` names them.
devices=$(answers "ondrevo-cli|--demo|play|doc.ovx|--device|")
for d in "KSV\\ 7342-80" "KSV\\ 5206-40" "KSV\\ 6141-80" "Dev1"; do
  grep -qF -- "$d" <<<"$devices" || { echo "FAIL: --device lacks $d; got: $devices"; failures=$((failures + 1)); }
done
expect "ondrevo-cli|info|$work/docs/" is "$(printf '%s\n' "$work/docs/B.OVX" "$work/docs/Sine sweep.ovx" "$work/docs/a.ovx" "$work/docs/sub folder" | sort)"
expect "ondrevo-cli|import-csv|$work/docs/t" is "$work/docs/trace.csv"
expect "ondrevo-cli|plot|$work/docs/a.ovx|-o|$work/docs/" has "$work/docs/trace.csv"
expect "ondrevo-cli|plot|$work/docs/a.ovx|-o|$work/docs/" has "$work/docs/Sine sweep.ovx"
[ $failures = 0 ] || exit 1
echo "completion: all cases pass"
