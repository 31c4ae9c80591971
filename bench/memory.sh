#!/bin/sh
# Peak memory of `ondrevo-cli sample` on a 1-hour and a 10-hour document: the count sampler
# keeps at most 10 x MaxPoints points, so the ratio should stay near 1.
# Usage: bench/memory.sh BUILD_DIR [MODEL]
set -eu
build=${1:?usage: bench/memory.sh BUILD_DIR [MODEL]}
model=${2:-KSV 5205-40}
cli="$build/src/cli/ondrevo-cli"
gen="$build/bench/ondrevo-bench-document"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

peak() {  # peak resident set size in kB of one sample run
  /usr/bin/time -v "$cli" sample "$1" --model "$model" >/dev/null 2>"$tmp/time.txt"
  sed -n 's/.*Maximum resident set size (kbytes): *//p' "$tmp/time.txt"
}

"$gen" sine 1 "$tmp/one.ovx"
"$gen" sine 10 "$tmp/ten.ovx"
one=$(peak "$tmp/one.ovx")
ten=$(peak "$tmp/ten.ovx")
echo "peak RSS, 1 h document:  $one kB"
echo "peak RSS, 10 h document: $ten kB"
awk -v a="$ten" -v b="$one" 'BEGIN { printf "ratio 10 h / 1 h: %.3f  (target <= 1.1)\n", a / b }'
