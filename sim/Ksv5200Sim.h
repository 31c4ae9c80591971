// Family A: a point memory filled with FDS, played between a start and an end address in
// mode 3 with a repetition count, optionally started by the external trigger input.
//
// What the terminals deliver (the record in Output(), channel 0):
// - EX switches the output; the levels are the set values (V, C) unless a list is in force.
// - FS in mode 3 copies the points from the start to the end address into the sequencer and,
//   with ETR 0, plays them at once, each at the instant the one before has had its dwell, FB
//   times (0: without end). With ETR 1 it only arms the run: the output keeps the set values
//   until a rising edge on the trigger input plays the FB repetitions; then the run is armed
//   again at the start address. FS outside mode 3 is refused (code 5), and FS also plays when
//   the output is off: the list then runs behind an open output.
// - After the last repetition the output returns to the set values; the point address stays on
//   the last point (at the start address when armed for the trigger).
// - FP halts a playing list on the point in force; FS continues it for the rest of that
//   point's dwell. FP while armed disarms. FCL ends what FP halted: the run is cleared, the
//   address goes back to the start and the output to the set values. FCL while a list plays
//   is ignored, so a stop must halt before it clears.
// - Points and addresses written while a run is in force apply from the next start; FB
//   applies to the run in progress.
// - Mode 1 and 2 hand the levels to the analog control inputs, which are not simulated: the
//   record keeps the set values; leaving mode 3 ends any run.
// Commands taken without effect (FS while playing or armed, FP or FCL that find nothing to
// halt or clear, a trigger with nothing armed) are listed in Warnings().
#pragma once

#include <array>
#include <string>

#include "sim/PointRun.h"
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
  void SettleOutput() override;

  using TPoint = TRunPoint;

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
  void UpdateTo(double now) const;
  void Reset() override;
  void StartBurst(double now);
  // Notes the output as it is now (the point in force or the set values).
  void NoteLevel(double time) const;
  int Address() const;

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

  // Armed: FS with the trigger input on, waiting for an edge (again after each triggered run).
  mutable bool armed_ = false;
  mutable TPointRun run_;
  int runFirst_ = 0;  // memory address of the run's first point
};

}  // namespace ondrevo::sim
