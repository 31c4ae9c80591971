#include "interfaces/InputSelection.h"

#include "document/Translate.h"
#include "model/Waveform.h"

namespace ondrevo {

const char* InputKind(const IAnalogInput& input, int32_t k) {
  const std::string name = input.GetName();
  if (input.IsCurrentInput(k)) return N_("Analog Current Control");
  if (name.compare(0, 8, "KSV 3720") == 0) return N_("Analog In");
  if (name.compare(0, 7, "KSV 446") == 0) return N_("TTL Control In");
  return N_("Analog Voltage Control");
}

std::vector<TInputEntry> InputEntries(const TAnalogInputArray& candidates) {
  std::vector<TInputEntry> entries;
  for (const auto& candidate : candidates) {
    if (!candidate) continue;
    const auto inputs = static_cast<int32_t>(candidate->GetConnectedOutputs().size());
    for (int32_t k = 0; k < inputs; ++k)
      entries.push_back({candidate, k, candidate->GetName(), InputKind(*candidate, k)});
  }
  return entries;
}

bool WaveformsWithinLimits(const IDevice& device, const TWaveform* voltage,
                           const TWaveform* current) {
  if (voltage &&
      (voltage->GetMin() < device.GetMinVoltage() || voltage->GetMax() > device.GetMaxVoltage()))
    return false;
  if (current &&
      (current->GetMin() < device.GetMinCurrent() || current->GetMax() > device.GetMaxCurrent()))
    return false;
  return true;
}

}  // namespace ondrevo
