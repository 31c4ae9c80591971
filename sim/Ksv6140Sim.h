// Family B: numbered registers (FREG values stored with FSTO at a location), played between a
// start and an end address with a repetition count; state in the operation condition register.
#pragma once

#include <array>
#include <deque>
#include <string>

#include "sim/Instrument.h"
#include "sim/ListPlayer.h"

namespace ondrevo::sim {

class TKsv6140Sim : public TSimInstrument {
 public:
  static constexpr int Locations = 255;  // one-based
  static constexpr int MaxRepetitions = 255;
  static constexpr std::size_t MaxLineLength = 254;  // 255 with the line feed
  static constexpr int OcrRunning = 16384;           // bit 14
  static constexpr double MinDwell = 0.05;
  static constexpr double MaxDwell = 100;
  // Codes that ERR? reports (0: none).
  enum TError {
    NoError = 0,
    CommandError = 1,
    ParameterError = 2,
    RangeError = 3,
    LineTooLong = 4
  };

  TKsv6140Sim(std::string model, std::string serial, TSimClock clock,
              std::string firmware = "2.10");

  std::string IdentificationReply() const override;
  std::string Model() const override;

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
  bool Remote() const;
  std::pair<double, double> SetValues() const;
  std::deque<int> PendingErrors() const;

 protected:
  std::optional<std::string> Process(std::string_view line) override;

 private:
  bool Execute(const std::string& header, bool query, const std::vector<std::string>& params,
               std::string& reply);
  void Update() const;
  int Address() const;
  void Reset();

  std::string model_;
  std::string serial_;
  std::string firmware_;
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
  bool remote_ = false;
  double setVoltage_ = 0;
  double setCurrent_ = 0;
  std::deque<int> errors_;

  mutable bool running_ = false;
  mutable TListPlayer player_;
  int runFirst_ = 1;
};

}  // namespace ondrevo::sim
