#!/usr/bin/env bash
# Installs the whole build, test and run stack on Debian 12. Safe to run again.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-l10n-tools
  libqcustomplot-dev libqcustomplot2.1-qt6
  xvfb xauth xdotool imagemagick
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libexpat1-dev libssl-dev gettext libserialport-dev
  libcli11-dev nlohmann-json3-dev
  clang-14 libclang-rt-14-dev clang-format
  libxml2-utils
  fonts-dejavu-core
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
