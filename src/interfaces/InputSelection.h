// Which control input a card output is wired to: the entries the selection dialog lists and the
// limit check it makes, without widgets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

class TWaveform;

struct TInputEntry {
  std::shared_ptr<IAnalogInput> Input;
  int32_t Index = 0;      // the device's control input
  std::string Name;       // the device's name
  const char* Kind = "";  // untranslated: "Analog Current Control", "Analog In", ...
};

// One entry per control input of every candidate, in order.
std::vector<TInputEntry> InputEntries(const TAnalogInputArray& candidates);
// The kind of input k of a device: current control, the analog interface's input, a TTL input,
// or a voltage control input.
const char* InputKind(const IAnalogInput& input, int32_t k);
// Whether both waveforms stay inside the device's limits (else they will be clipped).
bool WaveformsWithinLimits(const IDevice& device, const TWaveform* voltage,
                           const TWaveform* current);

}  // namespace ondrevo
