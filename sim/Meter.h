// A simulated bench meter wired to the terminals of a simulated supply: answers the usual SCPI
// measurement queries from the supply's output record through its load, with optional seeded
// noise, so measurement while playing can be tried and tested without hardware.
#pragma once

#include <memory>
#include <random>

#include "sim/Instrument.h"

namespace ondrevo::sim {

// The load's reading on `channel` of `supply` at `now` on the supply's clock.
TLoadReading ReadTerminals(TSimInstrument& supply, int channel, double now);

struct TMeterNoise {
  double Voltage = 0;  // standard deviation, V
  double Current = 0;  // standard deviation, A
  unsigned long long Seed = 1;
};

// "0.01V,0.001A" (either part may be left out). Throws std::invalid_argument.
TMeterNoise ParseNoise(std::string_view text);

class TSimMeter : public TSimInstrument {
 public:
  static constexpr const char* ModelName = "DMM-100";
  // `clock` must be the supply's: the record's times are on it.
  TSimMeter(std::shared_ptr<TSimInstrument> supply, int channel, TSimClock clock,
            TMeterNoise noise = {}, std::string serial = "881001");
  // Another maker's: the supplies' search passes it by.
  std::string IdentificationReply() const override;

 protected:
  std::optional<std::string> Process(std::string_view line) override;

 private:
  std::string Measure(bool voltage);

  std::string serial_;
  std::shared_ptr<TSimInstrument> supply_;
  int channel_;
  TSimClock clock_;
  TMeterNoise noise_;
  std::mt19937_64 random_;
  std::vector<std::string> errors_;
};

}  // namespace ondrevo::sim
