#!/usr/bin/env bash
# Plants plausible single faults in the core, one at a time, and runs the core tests against each:
# a fault the tests miss is a hole in them. Works on a scratch copy of the tree (MUTATE_DIR,
# default /tmp/ondrevo-mutate) with a build of its own; the working tree is never touched.
#   bash scripts/mutate.sh            all faults
#   bash scripts/mutate.sh NAME...    only the named ones
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SCRATCH=${MUTATE_DIR:-/tmp/ondrevo-mutate}
JOBS=${JOBS:-2}
TEST_TIMEOUT=${TEST_TIMEOUT:-300}
TARGETS=(test_document test_model test_devices test_supplies test_transports test_sim)

# The faults: name, file, exact text (found exactly once), replacement. Fields are separated by
# " ~ "; "\n" in a text stands for a line break.
FAULTS=$(cat <<'EOF'
reader-second-sup ~ src/document/DocumentIO.cpp ~ std::strcmp(name, "saw") == 0)\n      second = true; ~ std::strcmp(name, "saw") == 0)\n      second = false;
reader-voltage-type ~ src/document/DocumentIO.cpp ~ std::strcmp(Attr(attrs, "type"), "voltage") == 0 ~ std::strcmp(Attr(attrs, "type"), "Voltage") == 0
reader-negative-duration ~ src/document/DocumentIO.cpp ~ if (duration < 0 || ~ if (duration < -1 ||
reader-root-check ~ src/document/DocumentIO.cpp ~ if (std::strcmp(name, "ondrevo") != 0) { ~ if (false) {
writer-sup2-without-sup1 ~ src/document/DocumentIO.cpp ~ if (row.Sup1.Kind == SuperpositionKind::None) { ~ if (row.Sup1.Kind == SuperpositionKind::None && row.Sup2.Kind == SuperpositionKind::None) {
writer-current-fixed ~ src/document/DocumentIO.cpp ~ return Checked(voltage ? FormatFixed(d, 14, 8) : FormatGeneral(d)); ~ return Checked(FormatFixed(d, 14, 8));
writer-duty-fraction ~ src/document/DocumentIO.cpp ~ Fixed(sup.DutyCycle / 100.0, 10, 4) ~ Fixed(sup.DutyCycle / 10.0, 10, 4)
file-read-only ~ src/document/AtomicFile.cpp ~ if (exists && ((st.st_mode & 0222) == 0 || ~ if (exists && (false ||
file-link-follow ~ src/document/AtomicFile.cpp ~ const std::string path = ResolveLinks(requested); ~ const std::string path = requested;
csv-line-cap ~ src/document/CsvImport.cpp ~ if (end - pos > kMaxCsvLineBytes) LineTooLong(line); ~ if (end - pos >= kMaxCsvLineBytes) LineTooLong(line);
numbers-half-even ~ src/document/Numbers.cpp ~ if (std::fabs(value - std::trunc(value)) == 0.5) r = 2.0 * std::round(value / 2.0); ~ (void)0;
csv-decimation-half-up ~ src/document/CsvImport.cpp ~ RoundHalfEven(static_cast<double>(samples - 1) / p + 0.5) ~ std::floor(static_cast<double>(samples - 1) / p + 0.5 + 0.5)
csv-time-backwards ~ src/document/CsvImport.cpp ~ if (s.Time < trace_.Samples.back().Time ~ if (s.Time < trace_.Samples.back().Time - 1
csv-offset-cap ~ src/document/CsvImport.cpp ~ double m = 100.0; ~ double m = 1000.0;
csv-negative-clip ~ src/document/CsvImport.cpp ~ return x.Value > 0 ? x.Value : 0.0; ~ return x.Value;
model-min-dwell-strict ~ src/model/CountSampler.cpp ~ if (d >= minStep_) { ~ if (d > minStep_) {
model-last-point-three ~ src/model/CountSampler.cpp ~ if (count >= 2 && d[count - 1] < s_.MinDwellTime - kEps) { ~ if (count >= 3 && d[count - 1] < s_.MinDwellTime - kEps) {
model-square-duty-edge ~ src/model/Modifiers.cpp ~ return (s2 > kSquareEpsilon || delta < -kSquareEpsilon) ? a : -a; ~ return (s2 > -kSquareEpsilon || delta < -kSquareEpsilon) ? a : -a;
model-zero-step-holds ~ src/model/Builder.cpp ~ if (duration == 0.0) return std::make_unique<TConstantModifier>(endValue); ~ if (duration == 0.0) return std::make_unique<TConstantModifier>(0.0);
devices-family-c-swap ~ src/devices/ModelTables.cpp ~ {"7342-130", 130, 3, ~ {"7342-130", 80, 3,
devices-family-c-swap2 ~ src/devices/ModelTables.cpp ~ {"7342-80", 80, 5, ~ {"7342-80", 130, 5,
devices-family-b-current ~ src/devices/ModelTables.cpp ~ {"6142-60", 60, 65, 0.02, 0.02} ~ {"6142-60", 60, 56, 0.02, 0.02}
devices-family-a-dwell ~ src/devices/ModelTables.cpp ~ return {0.0002, 100.0, 1000, 255, 255}; ~ return {0.002, 100.0, 1000, 255, 255};
devices-error-code-hex ~ src/devices/DeviceErrors.cpp ~ "%02lX" ~ "%02lu"
devices-stop-command ~ src/devices/supplies/Ksv7340Device.cpp ~ Transport->Send("ABOR");\n  Transport->Send("LIST:SEQ:CLE"); ~ Transport->Send("ABRT");\n  Transport->Send("LIST:SEQ:CLE");
devices-pause-command ~ src/devices/supplies/Ksv7340Device.cpp ~ void TKsv7340Device::Pause() {\n  Transport->Send("ABOR"); ~ void TKsv7340Device::Pause() {\n  Transport->Send("ABORT");
devices-burst-inf ~ src/devices/supplies/Ksv7340Protocol.cpp ~ (count == 0 ? std::string("INF") : std::to_string(count)) ~ std::to_string(count)
devices-chunk-limit ~ src/devices/supplies/Ksv7340Protocol.cpp ~ if (chunk.Dwell.size() + d.size() + opc >= limit || ~ if (chunk.Dwell.size() + d.size() >= limit ||
devices-progress-every-call ~ src/devices/supplies/Ksv7340Device.cpp ~ if (percent == lastPercent_) return; ~ (void)0;
devices-list-decimals ~ src/devices/supplies/Ksv7340Protocol.cpp ~ return FormatDecimals(value, 3); ~ return FormatDecimals(value, 2);
transports-no-flush ~ src/transports/RS232Interface.cpp ~ if (::tcflush(handle_, TCIFLUSH) != 0 && errno != 0) ~ if (false)
transports-first-line ~ src/transports/RS232Interface.cpp ~ const auto previous = buffer.rfind( ~ const auto previous = buffer.find(
transports-no-lock ~ src/transports/RS232Interface.cpp ~ if (::flock(fd, LOCK_EX | LOCK_NB) != 0) { ~ if (false) {
transports-model-space ~ src/transports/Identification.cpp ~ if (id.Model == "KSV") id.Model += ' '; ~ (void)0;
transports-maker ~ src/transports/Identification.cpp ~ reply.find("KESTRAVO") != ~ reply.find("KESTRAV0") !=
supplies-a-trigger-swapped ~ src/devices/supplies/ksv5200/Ksv5200Device.cpp ~ ExternalTrigger ? "ETR 1" : "ETR 0" ~ ExternalTrigger ? "ETR 0" : "ETR 1"
supplies-a-start-before-output ~ src/devices/supplies/ksv5200/Ksv5200Protocol.h ~ kStart[] = {"EX 1", "FS"} ~ kStart[] = {"FS", "EX 1"}
supplies-a-clear-before-halt ~ src/devices/supplies/ksv5200/Ksv5200Protocol.h ~ kStop[] = {"FP", "FCL"} ~ kStop[] = {"FCL", "FP"}
supplies-a-end-every-line ~ src/devices/supplies/ksv5200/Ksv5200Device.cpp ~ if (toggle) job.Send ~ if (true) job.Send
supplies-b-no-flags ~ src/devices/supplies/ksv6140/Ksv6140Protocol.cpp ~ std::to_string(last) + ";FAF 1;FAL 1" ~ std::to_string(last)
supplies-b-hold-last ~ src/devices/supplies/ksv6140/Ksv6140Protocol.cpp ~ ";FAF 1;FAL 1" ~ ";FAF 1;FAL 0"
supplies-b-sequence-off ~ src/devices/supplies/ksv6140/Ksv6140Protocol.cpp ~ return "V 0;C 0;FSEQ ON"; ~ return "V 0;C 0;FSEQ OFF";
supplies-b-zero-based-locations ~ src/devices/supplies/ksv6140/Ksv6140Protocol.cpp ~ ";FSTO " + std::to_string(location) ~ ";FSTO " + std::to_string(location - 1)
supplies-b-last-location ~ src/devices/supplies/ksv6140/Ksv6140Device.cpp ~ job.LastIndex = n; ~ job.LastIndex = n - 1;
supplies-b-clear-before-halt ~ src/devices/supplies/ksv6140/Ksv6140Protocol.h ~ kStop[] = {"FP", "FCL"} ~ kStop[] = {"FCL", "FP"}
EOF
)

log() { printf '%s\n' "$*"; }

# A fresh copy of the tracked files (their working-tree content); times are kept, so the build
# only redoes what differs.
rm -rf "$SCRATCH/src-tree"
mkdir -p "$SCRATCH/src-tree"
git -C "$ROOT" ls-files -z | tar -C "$ROOT" --null -T - -cf - | tar -C "$SCRATCH/src-tree" -xf -
TREE=$SCRATCH/src-tree
BUILD=$SCRATCH/build
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$TREE" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDREVO_BUILD_GUI=OFF \
  -DONDREVO_BUILD_BENCH=OFF "${launcher[@]}" >"$SCRATCH/configure.log" 2>&1 ||
  { log "mutate: configure failed, see $SCRATCH/configure.log"; exit 2; }

build() { cmake --build "$BUILD" -j"$JOBS" --target "${TARGETS[@]}" >"$SCRATCH/build.log" 2>&1; }

# 0 when every core test binary passes.
run_tests() {
  local t bin
  for t in "${TARGETS[@]}"; do
    bin=$(find "$BUILD/tests" -type f -name "$t" -perm -u+x | head -n 1)
    [ -n "$bin" ] || return 2
    (cd "$(dirname "$bin")" && QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
      timeout "$TEST_TIMEOUT" "$bin" --gtest_brief=1 >"$SCRATCH/test-$t.log" 2>&1) || return 1
  done
  return 0
}

build || { log "mutate: the unchanged tree does not build, see $SCRATCH/build.log"; exit 2; }
run_tests || { log "mutate: the core tests fail on the unchanged tree"; exit 2; }

# Replaces `from` by `to` in a file when `from` occurs exactly once; 3 otherwise.
plant() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(3)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
}

caught=0
missed=0
skipped=0
missed_names=()
while IFS= read -r line; do
  [ -n "$line" ] || continue
  name=${line%% ~ *}
  rest=${line#* ~ }
  file=${rest%% ~ *}
  rest=${rest#* ~ }
  from=${rest%% ~ *}
  to=${rest#* ~ }
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  target=$TREE/$file
  cp -p "$target" "$SCRATCH/original"
  if ! plant "$target" "$from" "$to"; then
    log "skipped  $name (its text is not found once in $file)"
    skipped=$((skipped + 1))
    continue
  fi
  if ! build; then
    result="caught   $name (does not build)"
    caught=$((caught + 1))
  elif run_tests; then
    result="MISSED   $name ($file)"
    missed=$((missed + 1))
    missed_names+=("$name")
  else
    result="caught   $name"
    caught=$((caught + 1))
  fi
  # Back to the original content with a new time, so that it is compiled again (from ccache).
  cp "$SCRATCH/original" "$target"
  log "$result"
done <<<"$FAULTS"

build >/dev/null 2>&1
total=$((caught + missed))
[ $total -gt 0 ] || { log "mutate: no fault applied"; exit 2; }
log "caught $caught of $total planted faults ($((100 * caught / total)) %); $skipped skipped"
[ $missed -eq 0 ] || log "missed: ${missed_names[*]}"
