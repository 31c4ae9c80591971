#!/usr/bin/env bash
# Installs the whole build, test and run stack on Debian 12. Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev qt6-l10n-tools
  libqcustomplot-dev libqcustomplot2.1-qt6
  xvfb xauth xdotool imagemagick
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libexpat1-dev libssl-dev gettext libserialport-dev
  libcli11-dev nlohmann-json3-dev
  clang-14 libclang-rt-14-dev clang-format
  libxml2-utils locales time
  fonts-dejavu-core poppler-utils
  liblxi-dev libtirpc-dev rpcsvc-proto rpcbind lxi-tools python3-pyvisa python3-pyvisa-py
  qt6-translations-l10n
  help2man lintian appstream dpkg-dev file man-db bash-completion
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "install-deps: all packages present"
fi

# The tests prove that numbers ignore a German numeric locale, and the program speaks German.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi
