// Wiring an analog output card's channel to a device's control input. The output holds the
// input; the input refers back weakly, so neither keeps the other alive.
#pragma once

#include <cstdint>
#include <memory>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

// False (and nothing wired) when the channel or input index does not exist.
bool WireOutput(const std::shared_ptr<IAnalogOutput>& output, int32_t channel,
                const std::shared_ptr<IAnalogInput>& input, int32_t inputIndex);
// Clears every wire of the output, at both ends (an input's wires to other outputs stay).
void UnwireOutput(IAnalogOutput& output);

}  // namespace ondrevo
