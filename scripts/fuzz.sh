#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its corpus.
# An input that takes longer than TIMEOUT seconds (default 30; wall clock, so generous for a
# loaded machine) is a finding like a crash: no input may make a reader, parser or sampler loop
# for ever. The script fails when a target reports a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
TIMEOUT=${TIMEOUT:-30}
command -v clang++-14 >/dev/null || { echo "fuzz: clang++-14 missing, skipped"; exit 0; }
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DONDREVO_FUZZ=ON \
  -DONDREVO_BUILD_GUI=OFF -DONDREVO_BUILD_TESTS=OFF -DONDREVO_BUILD_BENCH=OFF >/dev/null
targets=$(cd fuzz && ls Fuzz*.cpp | sed -e 's/^Fuzz//' -e 's/\.cpp$//')
for t in $targets; do
  name=fuzz_$(echo "$t" | sed -e 's/\([a-z0-9]\)\([A-Z]\)/\1_\2/g' | tr 'A-Z' 'a-z')
  cmake --build build-fuzz --target "$name" -j"$(nproc)"
  corpus_seed=fuzz/corpus/$(echo "$t" | sed -e 's/\([a-z0-9]\)\([A-Z]\)/\1_\2/g' | tr 'A-Z' 'a-z')
  work=build-fuzz/corpus-$name
  mkdir -p "$work"
  echo "fuzz: $name for ${SECONDS_PER_TARGET}s"
  status=0
  "build-fuzz/fuzz/$name" -max_total_time="$SECONDS_PER_TARGET" -timeout="$TIMEOUT" \
    -rss_limit_mb=4096 -artifact_prefix=build-fuzz/ "$work" "$corpus_seed" \
    >"build-fuzz/$name.log" 2>&1 || status=$?
  tail -n 3 "build-fuzz/$name.log"
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $name found a fault (exit $status), see build-fuzz/$name.log"
    failed=1
  fi
done
exit "${failed:-0}"
