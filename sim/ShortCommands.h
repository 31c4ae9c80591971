// Base of the families whose command set is short headers with comma-separated parameters
// ("FDS 0,1,2,0.5"), several to a line separated by ";", and whose errors are numbers queued
// for ERR?.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Instrument.h"

namespace ondrevo::sim {

class TShortCommandSim : public TSimInstrument {
 public:
  // Codes that ERR? reports (0: none). A family may add codes after LineTooLong.
  enum TError {
    NoError = 0,
    CommandError = 1,
    ParameterError = 2,
    RangeError = 3,
    LineTooLong = 4
  };
  // Failed commands beyond this many waiting codes are not recorded.
  static constexpr std::size_t ErrorQueueLength = 20;

  bool Remote() const;
  std::deque<int> PendingErrors() const;
  // Commands the instrument took without any effect on its output (or a trigger it ignored),
  // each with what it ignored, in order: a driver that means something by them misreads it.
  std::vector<std::string> Warnings() const;
  void ClearWarnings();

 protected:
  // A line longer than maxLineLength is refused whole with LineTooLong.
  TShortCommandSim(std::string_view model, std::string serial, std::string firmware,
                   std::size_t maxLineLength)
      : TSimInstrument(model, std::move(serial), std::move(firmware)),
        maxLineLength_(maxLineLength) {}

  std::optional<std::string> Process(std::string_view line) final;

  // Brings the run up to date with the clock; called once per line, before its commands.
  virtual void Update() const = 0;
  // The state *RST restores.
  virtual void Reset() = 0;
  // A command of the family (the common ones are handled before); the header is upper case
  // without "?". Returns true with `reply` set when the command answered; fails otherwise.
  virtual bool Execute(const std::string& header, bool query,
                       const std::vector<std::string>& params, std::string& reply) = 0;

  // Ends the command: its code goes to the error queue and the line goes on with the next.
  [[noreturn]] static void Fail(int code);
  // Fails with the fault's error code when list writes are to be refused.
  void RefuseListWrite() const;
  // A setting: CommandError for a query, ParameterError unless `count` parameters.
  static void Setting(bool query, const std::vector<std::string>& params, std::size_t count);
  // The answer of a query: CommandError for a setting; else sets `reply` and returns true.
  static bool Answer(bool query, std::string& reply, std::string text);
  // Parameter checks; each fails with ParameterError (Whole: RangeError outside low..high).
  static void Expect(const std::vector<std::string>& params, std::size_t count);
  static double Value(const std::string& text);
  static int Whole(const std::string& text, int low, int high);
  static bool Switch(const std::string& text);  // ON/1, OFF/0, any case

  // Under stateMutex_.
  void Warn(std::string text);
  // The output record from const members that bring the run up to date.
  TOutputRecord& Record() const { return const_cast<TShortCommandSim*>(this)->Output(); }

  std::deque<int> errors_;

 private:
  struct TFailure {
    int Code;
  };

  // *IDN, *OPC, *CLS, *RST, SYST:REM/LOC/LANG and ERR; nullopt for any other header.
  std::optional<bool> ExecuteCommon(const std::string& header, bool query,
                                    const std::vector<std::string>& params, std::string& reply);

  std::size_t maxLineLength_;
  bool remote_ = false;
  std::vector<std::string> warnings_;
};

}  // namespace ondrevo::sim
