#include "playback/Wiring.h"

namespace ondrevo {

bool WireOutput(const std::shared_ptr<IAnalogOutput>& output, int32_t channel,
                const std::shared_ptr<IAnalogInput>& input, int32_t inputIndex) {
  if (!output || !input) return false;
  auto& inputs = output->GetConnectedInputs();
  auto& backs = input->GetConnectedOutputs();
  if (channel < 0 || channel >= static_cast<int32_t>(inputs.size()) || inputIndex < 0 ||
      inputIndex >= static_cast<int32_t>(backs.size()))
    return false;
  inputs[static_cast<size_t>(channel)] = input;
  backs[static_cast<size_t>(inputIndex)] = output;
  return true;
}

void UnwireOutput(IAnalogOutput& output) {
  for (auto& input : output.GetConnectedInputs()) {
    if (!input) continue;
    for (auto& back : input->GetConnectedOutputs())
      if (auto other = back.lock(); !other || other.get() == &output) back.reset();
    input.reset();
  }
}

}  // namespace ondrevo
