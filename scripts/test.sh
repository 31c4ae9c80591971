#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the plain build (core, CLI,
# simulator, desktop program under the offscreen platform), the Debian packages (as root: built,
# installed, run and purged), the core again under AddressSanitizer
# and UndefinedBehaviorSanitizer, the threaded parts under ThreadSanitizer, and a short fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc)

bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export LANG=C.UTF-8

echo "== build and test =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"
(cd build && ctest --output-on-failure -j2 --timeout 600)

echo "== Debian packages: build, lintian, install, run, purge =="
bash scripts/package-test.sh

if [ "${ONDREVO_QUICK:-0}" != 1 ]; then
  echo "== core tests under ASan + UBSan =="
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DONDREVO_SANITIZE="address;undefined" \
    -DONDREVO_BUILD_GUI=OFF -DONDREVO_BUILD_BENCH=OFF
  cmake --build build-asan -j"$JOBS"
  (cd build-asan && ctest --output-on-failure -j2 --timeout 900)

  echo "== threaded core tests under TSan =="
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREVO_SANITIZE=thread \
    -DONDREVO_BUILD_GUI=OFF -DONDREVO_BUILD_BENCH=OFF
  cmake --build build-tsan -j"$JOBS"
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --output-on-failure -j2 --timeout 900)

  echo "== fuzz (short run; scripts/fuzz.sh SECONDS for longer) =="
  bash scripts/fuzz.sh 15
fi

echo "== all tests once more, for the summary =="
(cd build && ctest --output-on-failure -j2 --timeout 600)
