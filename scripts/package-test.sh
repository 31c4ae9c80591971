#!/usr/bin/env bash
# Builds both packages, checks them with lintian, installs them with apt as a fresh machine would,
# runs the installed programs (no environment variables point at the stand-ins), purges both and
# checks that nothing of theirs is left. It installs into this system, so it runs as root only.
#   bash scripts/package-test.sh [BUILD_DIR]   (default: build-deb)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: skipped (it installs packages into the system: run it as root)"
  exit 0
fi
for p in ondrevo ondrevo-simulators; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q ' installed$'; then
    echo "package-test: $p is installed already; purge it first (this test would remove it)" >&2
    exit 1
  fi
done

fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

debs="$(bash "$ROOT/scripts/package.sh" "${1:-$ROOT/build-deb}" | tail -n 2)"
main_deb="$(echo "$debs" | grep '/ondrevo_[^/]*\.deb$')"
sim_deb="$(echo "$debs" | grep '/ondrevo-simulators_[^/]*\.deb$')"
version="$(dpkg-deb -f "$main_deb" Version)"
echo "package-test: built $main_deb and $sim_deb (version $version)"

WORK="$(mktemp -d)"
cleanup() {
  # Never leave the packages installed when a step fails.
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q ondrevo ondrevo-simulators >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "== lintian =="
# Errors fail the test; the warnings and notes are listed.
lintian --fail-on error "$main_deb" "$sim_deb" | tee "$WORK/lintian.txt" ||
  fail "lintian reports errors"
echo "package-test: lintian: $(grep -c '^E:' "$WORK/lintian.txt" || true) errors," \
  "$(grep -c '^W:' "$WORK/lintian.txt" || true) warnings"

# The paths the packages bring, and which of them a fresh machine already has (folders such as
# /usr/share/man/man1): only those must remain after the purge.
for deb in "$main_deb" "$sim_deb"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done |
  sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/*$' | sort -u >"$WORK/paths"
while IFS= read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$WORK/paths" >"$WORK/before"

# The programs from their installed place, with a clean environment: nothing points at a build.
HOME_DIR="$WORK/home"
mkdir -p "$HOME_DIR"
run() {
  env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen "$@"
}

echo "== install the program alone, as on a lab PC with real instruments =="
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$main_deb"
# Without the stand-ins the demo has its serial supplies only, and says nothing of the rest.
run ondrevo-cli --demo devices >"$WORK/devices" || fail "--demo devices fails without the simulators"
grep -q "KSV 7342-80" "$WORK/devices" || fail "--demo devices lacks the serial supplies"
! grep -q "KSV 5206-40" "$WORK/devices" || fail "--demo devices lists GPIB without the simulators"

echo "== install both =="
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$main_deb" "$sim_deb"
dpkg -L ondrevo ondrevo-simulators | grep -v '^/\.$' | sort -u >"$WORK/listed"
[ "$(command -v ondrevo-cli)" = /usr/bin/ondrevo-cli ] || fail "ondrevo-cli is not /usr/bin/ondrevo-cli"

echo "== ondrevo-cli --version =="
run ondrevo-cli --version | tee "$WORK/version"
grep -qx "ondrevo-cli $version" "$WORK/version" || fail "--version does not say $version"
run ondrevo --version | grep -qx "ondrevo $version" || fail "ondrevo --version does not say $version"

echo "== ondrevo-cli --demo devices =="
run ondrevo-cli --demo devices | tee "$WORK/devices"
# Serial (in-process), GPIB and USB (stand-ins from /usr/lib/<arch>/ondrevo) and the card (DAQmx
# stand-in).
for want in "KSV 7342-80" "KSV 5206-40" "KSV 6141-80" "Dev1"; do
  grep -q "$want" "$WORK/devices" || fail "--demo devices does not list $want"
done

echo "== a test report as PDF, drawn offscreen by the installed program =="
# No platform named: the command line picks offscreen itself, with the packaged fonts.
cat >"$WORK/held.ovx" <<'XML'
<?xml version="1.0" encoding="ISO-8859-1" standalone="yes"?>
<ondrevo version="1.0" xmlns="http://ondrevo.kestravo.com/schemas/2015/ovx">
<arbdata><waveform_list>
<waveform name="" type="voltage"><segment duration="0.5" start="5" end="5"/></waveform>
<waveform name="" type="current"><segment duration="0.5" start="1" end="1"/></waveform>
</waveform_list></arbdata></ondrevo>
XML
env -i PATH=/usr/bin:/bin HOME="$HOME_DIR" LANG=C.UTF-8 ondrevo-cli --demo play "$WORK/held.ovx" \
  --device "KSV 7342-80" --report "$WORK/run.pdf" --tolerance 1V 2>"$WORK/play.err" ||
  fail "play --report run.pdf: $(tail -n 3 "$WORK/play.err")"
[ "$(head -c 5 "$WORK/run.pdf")" = "%PDF-" ] || fail "run.pdf is not a PDF"
if command -v pdftotext >/dev/null; then
  pdftotext "$WORK/run.pdf" - | grep -q "KSV 7342-80" || fail "run.pdf does not name the model"
fi
echo "run.pdf: $(wc -c <"$WORK/run.pdf") bytes"

echo "== a template from the installed library =="
templates=(/usr/share/ondrevo/Lib/*.ovx)
[ -f "${templates[0]}" ] || fail "no template in /usr/share/ondrevo/Lib"
for t in "${templates[@]}"; do
  run ondrevo-cli info "$t" >"$WORK/info" || fail "ondrevo-cli info $t"
done
head -n 5 "$WORK/info"

echo "== ondrevo --demo, offscreen, from the installed place =="
# --exit-after-start leaves once the windows are up; German, so Qt's catalogue is loaded too.
run LANGUAGE=de timeout 120 ondrevo --demo --exit-after-start "${templates[0]}" ||
  fail "ondrevo --demo did not start and exit cleanly (status $?)"
[ -d "$HOME_DIR/.config/Kestravo/Ondrevo/Designer" ] || fail "ondrevo made no settings folder"
for exe in /proc/[0-9]*/exe; do
  [[ "$(readlink "$exe" 2>/dev/null)" != /usr/lib/*/ondrevo/KSVMon32.exe ]] ||
    fail "the demo's USB monitor is still running (${exe%/exe})"
done
echo "ondrevo started with --demo and exited"

echo "== AppStream data, manual page and completion =="
appstreamcli validate --no-net /usr/share/metainfo/*.metainfo.xml || fail "the installed metainfo is not valid"
if [ -f /usr/share/man/man1/ondrevo-cli.1.gz ] && command -v man >/dev/null; then
  MANWIDTH=80 man -l /usr/share/man/man1/ondrevo-cli.1.gz 2>/dev/null >"$WORK/man"
  for want in COMMANDS "EXIT STATUS" ENVIRONMENT FILES; do
    grep -q "^$want" "$WORK/man" || fail "man ondrevo-cli has no $want section"
  done
  echo "man ondrevo-cli renders ($(wc -l <"$WORK/man") lines)"
else
  echo "(manual pages are excluded from this system's installs: not rendered)"
fi
if [ -f /usr/share/bash-completion/bash_completion ]; then
  # bash-completion loads ours on first use from its installed place.
  run bash --norc --noprofile -i -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader ondrevo-cli
    COMP_WORDS=(ondrevo-cli pl); COMP_CWORD=1
    _ondrevo_cli
    printf "%s\n" "${COMPREPLY[@]}"' 2>/dev/null | sort | tr '\n' ' ' >"$WORK/completion"
  [ "$(cat "$WORK/completion")" = "play plot " ] ||
    fail "installed completion of 'ondrevo-cli pl' gave: $(cat "$WORK/completion")"
  echo "bash-completion loads the installed completion"
fi

echo "== purge =="
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q ondrevo ondrevo-simulators
for p in ondrevo ondrevo-simulators; do
  ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed || fail "$p is still known to dpkg"
done
left=0
while IFS= read -r path; do
  grep -qxF -- "$path" "$WORK/before" && continue
  if [ -e "$path" ] || [ -L "$path" ]; then
    echo "left behind: $path" >&2
    left=1
  fi
done < <(sort -u "$WORK/listed" "$WORK/paths")
[ "$left" = 0 ] || fail "files of the packages are left after the purge"
echo "package-test: passed ($(wc -l <"$WORK/listed") paths installed and removed)"
