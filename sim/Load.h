// What a simulated supply's terminals deliver into a load: a resistor, optionally with a
// capacitor across it. Pure functions of the output record, so the supply's own measurement
// queries, the simulated meter and the tests compute the same readings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/Output.h"

namespace ondrevo::sim {

struct TLoad {
  double Resistance = 0;   // ohm, > 0
  double Capacitance = 0;  // farad, >= 0
  bool Present() const { return Resistance > 0; }
};

// "10ohm", "2.5kohm,100uF", "10,4.7mF" (ohm and farad without a unit). Throws
// std::invalid_argument naming what is wrong.
TLoad ParseLoad(std::string_view text);

struct TLoadReading {
  double Voltage = 0;    // V across the load
  double Current = 0;    // A the supply delivers
  bool Limited = false;  // the current limit holds the output below the set voltage
  bool On = false;
  double Of(bool voltage) const { return voltage ? Voltage : Current; }
};

// The load's reading at `time` from the changes of `channel` (in time order; other channels'
// changes are skipped). The output settles towards min(set voltage, limit * R) (0 when off)
// with the time constant R * C; the supply delivers what the load draws, v / R + C dv/dt,
// which is that target over R throughout a step.
TLoadReading LoadAt(const std::vector<TOutputChange>& changes, int channel, double time,
                    const TLoad& load);

}  // namespace ondrevo::sim
