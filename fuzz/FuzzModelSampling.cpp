// libFuzzer target: any document the reader accepts is sampled into a supply's point list or
// refused with an error, in bounded time (a loop over samples that never ends is a time-out).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "document/DocumentIO.h"
#include "model/Builder.h"
#include "model/ListSampling.h"
#include "model/Preview.h"
#include "model/Samplers.h"
#include "playback/InstrumentPreview.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  ondrevo::SegmentTable voltageTable, currentTable;
  try {
    ondrevo::ReadDocumentText(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1),
                              "fuzz", voltageTable, currentTable);
  } catch (const ondrevo::EDocumentError&) {
    return 0;
  }
  // The first byte picks the point budget: small ones exercise the reduction.
  ondrevo::SupplyListSettings settings;
  settings.MinVoltage = 0;
  settings.MaxVoltage = 80;
  settings.VoltageResolution = 0.001;
  settings.MinCurrent = 0;
  settings.MaxCurrent = 10;
  settings.CurrentResolution = 0.001;
  settings.MinDwellTime = 0.001;
  settings.MaxDwellTime = 60;
  settings.MaxPoints = 2 + data[0] * 8;
  try {
    ondrevo::CheckSuperpositionMemory(voltageTable);
    ondrevo::CheckSuperpositionMemory(currentTable);
    auto voltage = ondrevo::BuildWaveform(voltageTable);
    auto current = ondrevo::BuildWaveform(currentTable);
    // The sampler walks the curve on its dwell grid, so its time grows with the curve's length
    // (a curve of years takes minutes). That is finite work, not a loop that never ends: keep
    // each input within the time-out by sampling curves of up to 10^7 grid steps only.
    const double steps =
        std::max(voltage->GetDuration(), current->GetDuration()) / settings.MinDwellTime;
    if (!(steps <= 1e7)) return 0;
    ondrevo::ComputeCurveFacts(*voltage);
    ondrevo::TCountSampler sampler;
    const auto list = ondrevo::SampleSupplyList(settings, *voltage, *current, sampler);
    if (list.Durations.size() > static_cast<std::size_t>(settings.MaxPoints)) __builtin_trap();
    for (double d : list.Durations)
      if (!std::isfinite(d) || d < 0) __builtin_trap();
  } catch (const std::exception&) {
    // a clean refusal
  }
  // What `check`, `sample --json` and `plot --model` compute on the same document.
  try {
    ondrevo::ComputeInstrumentPreview(voltageTable, currentTable, settings);
  } catch (const std::exception&) {
  }
  try {
    auto voltage = ondrevo::BuildWaveform(voltageTable);
    ondrevo::TDoubleVector lo, hi;
    ondrevo::DesignEnvelope(*voltage, 0, voltage->GetDuration() > 0 ? voltage->GetDuration() : 1,
                            200, lo, hi);
  } catch (const std::exception&) {
  }
  return 0;
}
