#!/usr/bin/env bash
# Installs what is missing, builds the desktop program and starts it. Arguments are passed on,
# e.g. scripts/run.sh data/Lib/"Sine sweep.ovx".
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

bash scripts/install-deps.sh

BUILD="${ONDREVO_BUILD_DIR:-$ROOT/build}"
JOBS="${ONDREVO_JOBS:-$(nproc)}"
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" --target ondrevo ondrevo-cli ondrevo_translations -j"$JOBS"

# Without an instrument on any port, start with the simulated supplies (ONDREVO_NO_DEMO=1 keeps
# the search to real ports).
args=("$@")
if [ "${ONDREVO_NO_DEMO:-0}" != 1 ] && [[ " $* " != *" --demo "* ]]; then
  if ! "$BUILD/src/cli/ondrevo-cli" devices --json 2>/dev/null | grep -q '"model"'; then
    echo "run: no instrument found; starting with simulated supplies (--demo)" >&2
    args+=(--demo)
  fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found; start it from a desktop session or under xvfb-run" >&2
  exit 1
fi
exec "$BUILD/src/app/ondrevo" "${args[@]}"
