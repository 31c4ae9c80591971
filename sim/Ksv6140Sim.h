// Family B: numbered registers (FREG values stored with FSTO at a location), played between a
// start and an end address with a repetition count; state in the operation condition register.
//
// What the terminals deliver (the record in Output(), channel 0):
// - EX switches the output; the levels are the set values (V, C) unless a sequence is in force.
// - Locations are 1 to 255. FSTO 0 is refused like any location beyond the memory; a start or
//   end address of 0 (which no location has) is taken as location 1 and listed in Warnings(),
//   since a driver that means the first location should say 1.
// - FS plays only in sequence mode (FSEQ ON; else it is refused with code 5): it copies the
//   locations from the start to the end address into the sequencer and plays them FREP times
//   (0: without end), each at the instant the one before has had its dwell. FSEQ OFF hands the
//   output back to the set values and ends a sequence in force.
// - FAF 1 lets the sequence step on by itself; with FAF 0 (after *RST) it steps by command:
//   each FS puts the next location on the output and holds it, and OCR? shows no run.
// - FAL 1 returns the output to the set values after the last repetition; with FAL 0 (after
//   *RST) the output holds the last location's values until FCL, FSEQ OFF or the next FS.
// - FP halts a running sequence on the location in force; FS continues it for the rest of that
//   location's dwell. FCL ends what FP halted: the address goes back to the start and the
//   output to the set values. FCL while a sequence runs is ignored, so a stop must halt first.
// - Registers and addresses written while a sequence is in force apply from the next start;
//   FREP applies to the run in progress. There is no trigger input.
// Commands taken without effect (FS while running, FP or FCL with nothing to halt or clear,
// a trigger) are listed in Warnings().
#pragma once

#include <array>
#include <string>

#include "sim/PointRun.h"
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
  // Error code of FS outside sequence mode (the common codes are in TShortCommandSim).
  static constexpr int SequenceError = 5;

  TKsv6140Sim(std::string model, std::string serial, TSimClock clock,
              std::string firmware = "2.10");

  using TRegister = TRunPoint;

  void Trigger() override;
  void SettleOutput() override;

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
  void UpdateTo(double now) const;
  void Reset() override;
  int Address() const;
  void NoteLevel(double time) const;
  bool Playing() const { return run_.Phase() == TPointRun::TPhase::Playing; }
  // The first location of the range, and the last (address 0 stands for 1).
  int First() const { return std::max(1, startAddress_); }
  int Last() const { return std::max(1, endAddress_); }

  TSimClock clock_;
  double maxVoltage_ = 0;
  double maxCurrent_ = 0;

  std::array<TRegister, Locations + 1> registers_{};  // [0] unused
  TRegister buffer_{};
  int startAddress_ = 0;
  int endAddress_ = 0;
  int autoStep_ = 0;     // FAF
  int returnAtEnd_ = 0;  // FAL
  int repetitions_ = 1;  // 0: endless
  bool sequenceMode_ = false;
  bool output_ = false;
  double setVoltage_ = 0;
  double setCurrent_ = 0;

  mutable TPointRun run_;
  // After the last repetition with FAL 0: the last location stays on the output.
  mutable bool holdingLast_ = false;
  int stepLocation_ = 0;  // FAF 0: the location FS put on the output last (0: none)
  int runFirst_ = 1;
};

}  // namespace ondrevo::sim
