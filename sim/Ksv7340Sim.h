// Family C: SCPI with a list memory of 1000 points, played as a sequence of one list block
// with a repetition count.
//
// What the terminals deliver (noted in Output(), channel index 0 or 1):
// - Without a run a channel delivers its set values (VOLT, CURR) while OUTP is on; OUTP OFF
//   keeps the set values but marks the output off.
// - *TRG on an armed sequence (or INIT with TRIG:SOUR IMM) starts the sequence block on the
//   channel selected at that moment. Each point begins at the run's start plus the dwell times
//   before it, repetitions included: computed, not sampled, so the record does not depend on
//   when lines arrive. The points are those in memory at the start; later list writes apply to
//   the next start.
// - When the last repetition ends, on ABOR and on LIST:SEQ:CLE the channel returns to its set
//   values, as an SCPI supply does when its list is done; the output stays on.
// - ABOR keeps the position: a later INIT and *TRG resume at the beginning of the interrupted
//   point, in its repetition (a pause). LIST:SEQ:CLE, a finished run, *RST, switching the
//   sequence off and new block bounds forget it, so the next start begins at the first point.
// - INIT:CONT ON re-arms after each finished run (with TRIG:SOUR IMM: starts again at once).
// - The model has no trigger input: a pulse there, and every command that cannot change what
//   the terminals deliver (a language the command set ignores, the one open mode there is,
//   a trigger with nothing armed, ABOR with nothing running, bounds of a block that is not the
//   sequence block, ...) is logged in Warnings().
#pragma once

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/Instrument.h"

namespace ondrevo::sim {

class TKsv7340Sim : public TSimInstrument {
 public:
  static constexpr int ListPoints = 1000;
  static constexpr int Blocks = 10;
  static constexpr int MaxRepetitions = 65535;
  static constexpr std::size_t ErrorQueueLength = 20;
  // Longest line the input buffer takes (509 with its line feed); a longer one is refused
  // whole with -223 "Too much data", queries in it unanswered.
  static constexpr std::size_t MaxLineLength = 508;

  // Operation condition bits.
  static constexpr int CondRunning = 8;
  static constexpr int CondWaitingForTrigger = 32;

  // `model` must name a family-C model ("KSV 7342-80", "KSV7341-20", ...).
  TKsv7340Sim(std::string model, std::string serial, TSimClock clock,
              std::string firmware = "1.02");

  struct TBlock {
    int First = 0;
    int Last = 0;
    int Count = 1;  // 0: endless
  };
  enum class TRunState { Idle, WaitingForTrigger, Running };

  // State as a test sees it (each call consistent on its own).
  double MaxVoltage() const { return maxVoltage_; }
  double MaxCurrent() const { return maxCurrent_; }
  int Channels() const { return channels_; }
  double ListVoltage(int index) const;
  double ListCurrent(int index) const;
  double ListDwell(int index) const;
  TBlock Block(int block) const;
  bool SequenceOn() const;
  bool Remote() const;
  bool OutputOn() const;
  std::pair<double, double> SetValues() const;  // of the selected channel
  int SelectedChannel() const;
  TRunState RunState() const;
  // Point index now playing and repetition (1-based), as LIST:SEQ? reports them.
  std::pair<int, int> Position() const;
  // Errors waiting for SYST:ERR?, oldest first, as "code,\"text\"".
  std::deque<std::string> PendingErrors() const;
  // How many times a list was started (*TRG or INIT with immediate trigger).
  int Starts() const;
  // Commands and inputs that had no effect on the output, oldest first.
  std::vector<std::string> Warnings() const;
  void ClearWarnings();

  void Trigger() override;
  void SettleOutput() override;

 protected:
  std::optional<std::string> Process(std::string_view line) override;

 private:
  struct TCommand;
  void Execute(const TCommand& command, std::string& reply, bool& hasReply);
  void PushError(int code, const char* text);
  void PushEntry(std::string entry);  // "code,\"text\"" as SYST:ERR? answers it
  // Brings the run up to the clock: notes every point begun since, ends a finished run.
  void Update() const;
  void StartRun(double time) const;
  void EndRun(double time) const;
  // ABOR: halts a run (keeping its position for a resume) or disarms.
  void StopRun();
  int PlayingIndex() const { return runBlock_.First + playIndex_; }
  TOutputState StateOf(int channel) const;
  void NoteChannel(int channel, double time) const;
  void Warn(std::string text) const;
  void Reset();

  TSimClock clock_;
  int channels_ = 1;
  double maxVoltage_ = 0;
  double maxCurrent_ = 0;

  std::array<double, ListPoints> voltage_{};
  std::array<double, ListPoints> current_{};
  std::array<double, ListPoints> dwell_{};
  std::array<TBlock, Blocks> blocks_{};
  bool sequenceOn_ = false;
  int sequenceBlock_ = 0;
  bool terminateEndless_ = false;
  bool triggerBus_ = true;
  bool initContinuous_ = false;
  bool remote_ = false;
  int channel_ = 0;
  std::array<bool, 2> output_{};
  std::array<double, 2> setVoltage_{};
  std::array<double, 2> setCurrent_{};
  std::deque<std::string> errors_;

  // The run: mutable because queries bring it up to date with the clock.
  struct TCursor {
    int Index = 0;       // within the block
    int Repetition = 1;  // 1-based
    double Time = 0;     // instrument time at which it begins
  };
  mutable TRunState run_ = TRunState::Idle;
  mutable TBlock runBlock_{};  // the block as it was started; Count follows LIST:BLOC
  mutable std::vector<double> runDwell_, runVoltage_, runCurrent_;
  mutable double runPeriod_ = 0;
  mutable int runChannel_ = 0;
  mutable TCursor next_;       // the next point to begin
  mutable int playIndex_ = 0;  // the point in force (or played last), within the block
  mutable int playRepetition_ = 0;
  mutable std::optional<std::pair<int, int>> resume_;  // index, repetition after ABOR
  mutable double now_ = 0;
  mutable int starts_ = 0;
  mutable std::vector<std::string> warnings_;
};

}  // namespace ondrevo::sim
