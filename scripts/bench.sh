#!/bin/bash
# Builds the benchmarks and prints every speed and memory ratio of the project with its target in
# one table: the median of BENCH_RUNS runs (default 3) of each benchmark program, each ratio
# taken within one run so that both sides see the same load.
# Usage: scripts/bench.sh [BUILD_DIR]   (BENCH_RUNS=5; BENCH_NO_BUILD=1 uses what is built;
# BENCH_GEN names the document tool, for measuring an older build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${BENCH_RUNS:-3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
results="$tmp/results"  # lines: label<TAB>value<TAB>target
: >"$results"

have() { [ -x "$build/$1" ]; }

if [ -z "${BENCH_NO_BUILD:-}" ]; then
  targets=$(ninja -C "$build" -t targets all | sed -n 's/^\(bench_[a-z]*\|ondrevo\|ondrevo-cli\|ondrevo-bench-document\|ondrevo-daqmx-sim\): phony$/\1/p')
  # shellcheck disable=SC2086
  ninja -C "$build" -j"${BENCH_JOBS:-2}" $targets >&2
fi

# Ratio lines of a benchmark's output: "what   1.23  (target <= 1.5)" and the upload lines.
ratios() {
  # The console reporter colours its lines: a colour code ahead of a line would hide it.
  awk '
    { gsub(/\033\[[0-9;]*m/, "") }
    /^upload family / {
      label = $0; sub(/: driver.*/, ": driver / baseline (median)", label)
      match($0, /= [0-9.]+/); value = substr($0, RSTART + 2, RLENGTH - 2)
      printf "%s\t%s\t<= 1.2\n", label, value; next }
    /^memory: / {
      match($0, /history after [0-9]+ edits [0-9.]+ MiB/)
      split(substr($0, RSTART, RLENGTH), w, " ")
      printf "history memory after %s edits of 60,000 points (MiB)\t%s\t< 32\n", w[3], w[5]; next }
    /\(target [^)]*\)$/ && !/for information/ {
      t = $0; sub(/.*\(target /, "", t); sub(/\)$/, "", t)
      line = $0; sub(/ *\(target .*$/, "", line)
      n = split(line, w, " "); value = w[n]; sub(/ +[0-9.]+$/, "", line)
      printf "%s\t%s\t%s\n", line, value, t }'
}

# Runs "$@" N times, keeping each run's ratio lines.
bench() {
  local n=$1 name=$2
  shift 2
  have "$name" || { echo "skipped $name (not built)" >&2; return; }
  for ((i = 1; i <= n; ++i)); do
    echo "running $name ($i/$n)" >&2
    # A benchmark that hangs (an upload that never ends) must not keep the table from printing.
    timeout "${BENCH_TIMEOUT:-600}" "$build/$name" "$@" --benchmark_format=console 2>/dev/null |
      ratios >>"$results" || echo "$name: no result (failed or timed out)" >&2
  done
}

export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
bench "$runs" bench/bench_model
# One run: it pairs driver and baseline in many turns and takes their medians itself.
bench 1 bench/bench_upload
# The loopback exchange is fast enough that where the scheduler places the threads of one run
# shows in its figure: the median of several runs.
bench "$runs" bench/bench_lan_upload
bench "$runs" bench/bench_preview
bench "$runs" bench/bench_history
bench "$runs" bench/bench_editor
bench "$runs" bench/bench_daq --stream-seconds=0
# Each run pairs measuring and not measuring in turns and takes their medians itself; an upload
# lasts a few milliseconds, so the table takes the median of several runs as well.
bench "$runs" bench/bench_measure

# Wall seconds, peak RSS (kB) and CPU seconds (user + system) of one command.
measure() {
  /usr/bin/time -f '%e %M %U %S' -o "$tmp/time" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$tmp/time"
}

cli="$build/src/cli/ondrevo-cli"
gen=${BENCH_GEN:-$build/bench/ondrevo-bench-document}
app="$build/src/app/ondrevo"
if [ -x "$gen" ] && [ -x "$cli" ]; then
  "$gen" sine 1 "$tmp/sine.ovx"
  "$gen" steps 1 "$tmp/steps.ovx"
  for ((i = 1; i <= runs; ++i)); do
    echo "running ondrevo-cli sample ($i/$runs)" >&2
    read -r _ _ su ss < <(measure "$cli" sample "$tmp/steps.ovx" --model "KSV 5205-40")
    read -r _ _ u s < <(measure "$cli" sample "$tmp/sine.ovx" --model "KSV 5205-40")
    awk -v a="$su" -v b="$ss" -v c="$u" -v d="$s" 'BEGIN { if (c + d > 0) printf "%s\t%.3f\t<= 0.1\n",
      "ondrevo-cli sample, 1 h held levels and ramps / 1 h sine (CPU)", (a + b) / (c + d) }' >>"$results"
  done
  if out=$(bench/memory.sh "$build" 2>/dev/null); then
    sed -n 's/^ratio 10 h \/ 1 h: \([0-9.]*\)  (target \(.*\))$/sample peak RSS, 10 h \/ 1 h document\t\1\t\2/p' \
      <<<"$out" >>"$results"
  fi
fi

if [ -x "$gen" ] && [ -x "$app" ]; then
  "$gen" points 60000 "$tmp/large.ovx"
  "$gen" points 2 "$tmp/small.ovx"
  export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" XDG_CACHE_HOME="$tmp/home/.cache"
  mkdir -p "$HOME"
  measure "$app" --exit-after-start "$tmp/small.ovx" >/dev/null  # settings and caches first
  for ((i = 1; i <= runs; ++i)); do
    echo "running ondrevo --exit-after-start ($i/$runs)" >&2
    read -r largeTime largeRss largeUser largeSys < <(measure "$app" --exit-after-start "$tmp/large.ovx")
    read -r smallTime smallRss smallUser smallSys < <(measure "$app" --exit-after-start "$tmp/small.ovx")
    {
      # CPU time: on a loaded machine the wall time mostly measures the wait for a core.
      awk -v u="$largeUser" -v s="$largeSys" 'BEGIN { printf "%s\t%.2f\t<= 0.5\n",
        "open 60,000-point document until the windows show (CPU s)", u + s }'
      awk -v u="$smallUser" -v s="$smallSys" 'BEGIN { printf "%s\t%.2f\tfor information\n",
        "open 2-point document (CPU s)", u + s }'
      printf 'open 60,000-point document (wall s)\t%s\tfor information\n' "$largeTime"
      awk -v a="$largeRss" -v b="$smallRss" 'BEGIN { if (b > 0) printf "%s\t%.2f\t<= 2\n",
        "open, peak RSS 60,000-point / 2-point document", a / b }'
      awk -v a="$largeRss" 'BEGIN { printf "open 60,000-point document, peak RSS (MiB)\t%.0f\tfor information\n", a / 1024 }'
    } >>"$results"
  done
fi

echo
printf '%-72s %8s  %s\n' "ratio (median of $runs runs)" "value" "target"
awk -F'\t' '
  !($1 in seen) { seen[$1] = 1; order[++n] = $1; target[$1] = $3 }
  { count[$1]++; v[$1, count[$1]] = $2 }
  END {
    for (i = 1; i <= n; ++i) {
      k = order[i]; m = count[k]
      for (a = 1; a <= m; ++a) for (b = a + 1; b <= m; ++b)
        if (v[k, b] + 0 < v[k, a] + 0) { t = v[k, a]; v[k, a] = v[k, b]; v[k, b] = t }
      med = m % 2 ? v[k, (m + 1) / 2] : (v[k, m / 2] + v[k, m / 2 + 1]) / 2
      printf "%-72s %8.3f  %s\n", k, med, target[k]
    }
  }' "$results"
