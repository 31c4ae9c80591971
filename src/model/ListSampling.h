// How a list-memory supply turns two waveforms into its point list: the limits written into the
// waveforms and the count sampler's set-up. Drivers and the instrument preview both go through
// here, so what is shown before an upload is what the upload sends.
#pragma once

#include <cstdint>

#include "model/Samplers.h"
#include "model/Waveform.h"

namespace ondrevo {

struct SupplyListSettings {
  double MinVoltage = 0.0;
  double MaxVoltage = 0.0;
  double VoltageResolution = 0.0;
  double MinCurrent = 0.0;
  double MaxCurrent = 0.0;
  double CurrentResolution = 0.0;
  double MinDwellTime = 0.0;  // s
  double MaxDwellTime = 0.0;  // s
  std::int32_t MaxPoints = 0;
};

// Writes the limits and resolutions into the waveforms and configures the sampler for
// [voltage, current] with gain 1.
void PrepareListSampling(const SupplyListSettings& settings, TWaveform& voltage, TWaveform& current,
                         TCountSampler& sampler);

// The point list an upload with these settings sends (raises ESamplerError).
struct SupplyPointList {
  TDoubleVector Durations;
  TDoubleMatrix Values;  // [voltage, current]
};
SupplyPointList SampleSupplyList(const SupplyListSettings& settings, TWaveform& voltage,
                                 TWaveform& current, TCountSampler& sampler);

}  // namespace ondrevo
