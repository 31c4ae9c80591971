// Whether a document fits the device it is about to be played on: one list of findings that
// the remote window turns into questions and the command line into warnings.
#pragma once

#include <memory>
#include <vector>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

class TWaveform;

enum class TFitKind {
  SampleRate,  // the curves change faster than the device can follow
  Limits,      // values outside the device's range will be clipped
  Duration,    // longer than the device can hold: refused
};

struct TFitFinding {
  TFitKind Kind;
  bool Refused = false;   // playing is impossible, not merely imperfect
  const char* Text = "";  // untranslated
};

// The checks made before connecting. For an analog output card the limits are those of the
// device wired to it, checked when the wiring is chosen, and the length is not bounded.
std::vector<TFitFinding> CheckFit(const IDevice& device, const IWaveformPlayer& player,
                                  const TWaveform& voltage, const TWaveform& current,
                                  bool analogOutputCard);

// Whether a device is an analog output card: an analog output without a bus of its own.
bool IsAnalogOutputCard(const std::shared_ptr<IDevice>& device);

}  // namespace ondrevo
