// Family C: SCPI with a list memory of 1000 points, played as a sequence of one list block
// with a repetition count.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <utility>

#include "sim/Instrument.h"
#include "sim/ListPlayer.h"

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

 protected:
  std::optional<std::string> Process(std::string_view line) override;

 private:
  struct TCommand;
  void Execute(const TCommand& command, std::string& reply, bool& hasReply);
  void PushError(int code, const char* text);
  void PushEntry(std::string entry);  // "code,\"text\"" as SYST:ERR? answers it
  void Update() const;  // ends a finished run
  void StartRun();
  void StopRun();
  int PlayingIndex() const { return runBlock_.First + player_.Offset(); }
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
  mutable TRunState run_ = TRunState::Idle;
  mutable TListPlayer player_;
  TBlock runBlock_{};  // the block as it was started
  int starts_ = 0;
};

}  // namespace ondrevo::sim
