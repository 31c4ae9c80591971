// Family A: a point memory filled with FDS, played between a start and an end address in
// mode 3 with a repetition count, optionally started by the external trigger input.
#pragma once

#include <array>
#include <deque>
#include <string>

#include "sim/ListPlayer.h"
#include "sim/ShortCommands.h"

namespace ondrevo::sim {

class TKsv5200Sim : public TShortCommandSim {
 public:
  static constexpr int Points = 1000;
  static constexpr int MaxRepetitions = 255;
  static constexpr std::size_t MaxLineLength = 254;
  static constexpr double MinDwell = 0.0002;
  static constexpr double MaxDwell = 100;
  // Error code of FS outside mode 3 (the common codes are in TShortCommandSim).
  static constexpr int ModeError = 5;

  TKsv5200Sim(std::string model, std::string serial, TSimClock clock,
              std::string firmware = "3.04");

  bool Busy() const override;
  void Trigger() override;

  struct TPoint {
    double Voltage = 0;
    double Current = 0;
    double Dwell = 0.001;
  };

  double MaxVoltage() const { return maxVoltage_; }
  double MaxCurrent() const { return maxCurrent_; }
  TPoint Point(int index) const;
  int Mode() const;
  int StartAddress() const;
  int EndAddress() const;
  bool Running() const;  // playing a burst (not merely waiting for the trigger)
  bool OutputOn() const;
  std::pair<double, double> SetValues() const;
  int Triggers() const;  // bursts started by the trigger input

 private:
  bool Execute(const std::string& header, bool query, const std::vector<std::string>& params,
               std::string& reply) override;
  void Update() const override;
  void Reset() override;
  void StartBurst();

  TSimClock clock_;
  double maxVoltage_ = 0;
  double maxCurrent_ = 0;

  std::array<TPoint, Points> points_{};
  int mode_ = 1;
  int startAddress_ = 0;
  int endAddress_ = 0;
  int repetitions_ = 1;  // 0: endless
  bool externalTrigger_ = false;
  bool output_ = false;
  double setVoltage_ = 0;
  double setCurrent_ = 0;
  int triggers_ = 0;

  // FS armed the run; with the external trigger each trigger plays one burst and re-arms.
  mutable bool active_ = false;
  mutable bool playing_ = false;
  mutable TListPlayer player_;
  int runFirst_ = 0;
};

}  // namespace ondrevo::sim
