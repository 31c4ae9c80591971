#!/usr/bin/env bash
# The manual pages render and follow the programs: a section per ondrevo-cli command with every
# option its --help lists, and the fixed sections.
#   man_test.sh MAN_DIR CLI_PROGRAM
set -uo pipefail
dir=$1
cli=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
render() { MANWIDTH=100 man -l "$1" 2>/dev/null || zcat "$1" | groff -man -Tutf8 2>/dev/null; }
export LC_ALL=C.UTF-8 LANGUAGE=

cli_page=$(render "$dir/ondrevo-cli.1.gz" | sed 's/\x08.//g')
[ -n "$cli_page" ] || { echo "FAIL: ondrevo-cli.1.gz does not render"; exit 1; }
for section in NAME SYNOPSIS DESCRIPTION COMMANDS "EXIT STATUS" ENVIRONMENT FILES; do
  grep -q "^$section" <<<"$cli_page" || fail "ondrevo-cli(1) has no $section section"
done
commands=$("$cli" --help | awk 'tolower($0) ~ /^[a-z ]*subcommands:/ {on = 1; next} on && NF == 0 {on = 0} on {print $1}')
[ "$(wc -w <<<"$commands")" -ge 9 ] || fail "too few commands in --help: $commands"
for c in $commands; do
  # The command's subsection runs from its heading to the next one.
  part=$(awk -v c="$c" '$0 ~ "^   " c "$" {on = 1; next} on && /^   [a-z]/ && !/^    / {on = 0} on' <<<"$cli_page")
  [ -n "$part" ] || { fail "no section for the command $c"; continue; }
  for option in $("$cli" "$c" --help | grep -oE -- '(^|[ ,])--[a-z][a-z0-9-]*' | tr -d ' ,' | sort -u); do
    grep -qF -- "$option" <<<"$part" || fail "the section of $c lacks $option"
  done
done
grep -qF "ondrevo-cli $("$cli" --version | awk '{print $2}')" <<<"$cli_page" ||
  fail "ondrevo-cli(1) does not carry the version"

app_page=$(render "$dir/ondrevo.1.gz" | sed 's/\x08.//g')
if [ -f "$dir/ondrevo.1.gz" ]; then
  for word in --demo --exit-after-start --coff --fmax ONDREVO_GPIB_LIBRARY FILES; do
    grep -qF -- "$word" <<<"$app_page" || fail "ondrevo(1) lacks $word"
  done
fi
[ $failures = 0 ] || exit 1
echo "manual pages: every command and option present"
