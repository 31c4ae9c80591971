#include "model/ListSampling.h"

namespace ondrevo {

void PrepareListSampling(const SupplyListSettings& settings, TWaveform& voltage, TWaveform& current,
                         TCountSampler& sampler) {
  voltage.MinValue = settings.MinVoltage;
  voltage.MaxValue = settings.MaxVoltage;
  voltage.Resolution = settings.VoltageResolution;
  current.MinValue = settings.MinCurrent;
  current.MaxValue = settings.MaxCurrent;
  current.Resolution = settings.CurrentResolution;
  sampler.MinDwellTime = settings.MinDwellTime;
  sampler.MaxDwellTime = settings.MaxDwellTime;
  sampler.Gain = 1.0;
  sampler.Waveforms = {&voltage, &current};
}

SupplyPointList SampleSupplyList(const SupplyListSettings& settings, TWaveform& voltage,
                                 TWaveform& current, TCountSampler& sampler) {
  PrepareListSampling(settings, voltage, current, sampler);
  SupplyPointList list;
  sampler.Execute(settings.MaxPoints, list.Durations, list.Values);
  return list;
}

}  // namespace ondrevo
