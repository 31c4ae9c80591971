#include "playback/FitChecks.h"

#include "devices/Interface.h"
#include "document/Translate.h"
#include "interfaces/InputSelection.h"
#include "model/Waveform.h"

namespace ondrevo {

std::vector<TFitFinding> CheckFit(const IDevice& device, const IWaveformPlayer& player,
                                  const TWaveform& voltage, const TWaveform& current,
                                  bool analogOutputCard) {
  std::vector<TFitFinding> findings;
  const double maxRate = 1.0 / player.GetMinDwellTime();
  if (voltage.GetSampleRate() > maxRate || current.GetSampleRate() > maxRate)
    findings.push_back({TFitKind::SampleRate, false,
                        N_("The waveform may not be reproduced correctly because it requires a "
                           "sample rate higher than provided by the device.")});
  if (analogOutputCard) return findings;
  if (!WaveformsWithinLimits(device, &voltage, &current))
    findings.push_back({TFitKind::Limits, false,
                        N_("The waveform exceeds the device bounderies and will be clipped.")});
  const double maxDuration = player.GetMaxPoints() * player.GetMaxDwellTime();
  if (voltage.GetDuration() > maxDuration || current.GetDuration() > maxDuration)
    findings.push_back({TFitKind::Duration, true,
                        N_("The duration of the waveform exceeds the maximum duration supported "
                           "by this device. Please reduce the duration and retry.")});
  return findings;
}

bool IsAnalogOutputCard(const std::shared_ptr<IDevice>& device) {
  auto output = std::dynamic_pointer_cast<IAnalogOutput>(device);
  return output && !output->GetInterface();
}

}  // namespace ondrevo
