#!/usr/bin/env bash
# Builds the Debian packages ondrevo and ondrevo-simulators with CPack, in a build folder of their
# own (installed paths only, Debian's hardening flags), and prints their paths.
#   bash scripts/package.sh [BUILD_DIR]   (default: build-deb; packages in BUILD_DIR/packages)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(realpath -m "${1:-$ROOT/build-deb}")"
cd "$ROOT"  # the flags map this folder away
OUT="$BUILD/packages"
JOBS="${ONDREVO_JOBS:-$(nproc)}"

for tool in cmake dpkg-buildflags dpkg-shlibdeps help2man; do
  command -v "$tool" >/dev/null || { echo "package: $tool missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# Debian's hardening flags (all of them: immediate binding too), given on every configure so the
# cache follows them.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DONDREVO_BUILD_PATHS=OFF -DONDREVO_BUILD_TESTS=OFF -DONDREVO_BUILD_BENCH=OFF "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
cmake --build "$BUILD" -j"$JOBS"
rm -rf "$OUT"
(cd "$BUILD" && cpack -G DEB -B "$OUT" >/dev/null)
rm -rf "$OUT/_CPack_Packages"
ls "$OUT"/ondrevo_*.deb "$OUT"/ondrevo-simulators_*.deb
