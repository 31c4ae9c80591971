// Family B: numbered registers (FREG values stored with FSTO at a location), played between a
// start and an end address with a repetition count; state in the operation condition register.
#pragma once

#include <array>
#include <deque>
#include <string>

#include "sim/ListPlayer.h"
#include "sim/ShortCommands.h"

namespace ondrevo::sim {

class TKsv6140Sim : public TShortCommandSim {
 public:
  static constexpr int Locations = 255;  // one-based
  static constexpr int MaxRepetitions = 255;
  static constexpr std::size_t MaxLineLength = 254;  // 255 with the line feed
  static constexpr int OcrRunning = 16384;           // bit 14
  static constexpr double MinDwell = 0.05;
  static constexpr double MaxDwell = 100;

  TKsv6140Sim(std::string model, std::string serial, TSimClock clock,
              std::string firmware = "2.10");

  struct TRegister {
    double Voltage = 0;
    double Current = 0;
    double Dwell = MinDwell;
  };

  double MaxVoltage() const { return maxVoltage_; }
  double MaxCurrent() const { return maxCurrent_; }
  TRegister Register(int location) const;  // 1 to 255
  int StartAddress() const;
  int EndAddress() const;
  int Repetitions() const;
  bool Running() const;
  bool OutputOn() const;
  bool SequenceMode() const;
  std::pair<double, double> SetValues() const;

 private:
  bool Execute(const std::string& header, bool query, const std::vector<std::string>& params,
               std::string& reply) override;
  void Update() const override;
  void Reset() override;
  int Address() const;

  TSimClock clock_;
  double maxVoltage_ = 0;
  double maxCurrent_ = 0;

  std::array<TRegister, Locations + 1> registers_{};  // [0] unused
  TRegister buffer_{};
  int startAddress_ = 0;
  int endAddress_ = 0;
  int firstFlag_ = 0;
  int lastFlag_ = 0;
  int repetitions_ = 1;  // 0: endless
  bool sequenceMode_ = false;
  bool output_ = false;
  double setVoltage_ = 0;
  double setCurrent_ = 0;

  mutable bool running_ = false;
  mutable TListPlayer player_;
  int runFirst_ = 1;
};

}  // namespace ondrevo::sim
