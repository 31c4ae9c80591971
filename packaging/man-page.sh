#!/bin/sh
# Writes a gzipped manual page from a program's --help and --version through help2man.
#   man-page.sh PROGRAM NAME-LINE INCLUDE OUT.1.gz [commands]
# With "commands", a COMMANDS section gets one subsection per command listed under
# "Subcommands:", holding that command's own --help, so the page follows the program.
set -eu
program=$1 name=$2 include=$3 out=$4 commands=${5:-}
export LC_ALL=C.UTF-8 LANGUAGE= QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Help text as roff that is shown as written.
roff() {
  printf '.nf\n'
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
  printf '.fi\n'
}

if [ "$commands" = commands ]; then
  list=$("$program" --help | awk 'tolower($0) ~ /^[a-z ]*subcommands:/ {on = 1; next} on && NF == 0 {on = 0} on {print $1}')
  [ -n "$list" ] || { echo "man-page: no commands in $program --help" >&2; exit 1; }
  {
    printf '[COMMANDS]\n'
    for c in $list; do
      printf '.SS "%s"\n' "$c"
      "$program" "$c" --help | roff
    done
  } >"$work/commands"
  cat "$include" "$work/commands" >"$work/include"
else
  cp "$include" "$work/include"
fi
help2man --no-info --no-discard-stderr --section=1 --name="$name" --include="$work/include" \
  --output="$work/page.1" "$program"
gzip -n -9 -c "$work/page.1" >"$out"
