// Simulated instruments: one protocol core per command-set family, fed line by line.
// The core is pure (no I/O, no threads of its own); fronts (pty, TCP, in-process) carry its
// lines. Time comes from an injected clock so that playback can run faster than real time
// and tests can drive it step by step.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Load.h"
#include "sim/Output.h"

namespace ondrevo::sim {

// Instrument time in seconds. Only differences matter.
using TSimClock = std::function<double()>;

// Real time since the call, multiplied by speed (speed 10 plays a 10 s list in 1 s).
TSimClock MakeScaledClock(double speed);

// A clock that tests move by hand.
class TManualClock {
 public:
  double Now() const;
  void Advance(double seconds);
  void Set(double seconds);
  TSimClock Function();  // the clock as TSimClock; keeps a reference to this object

 private:
  mutable std::mutex mutex_;
  double now_ = 0;
};

// Faults of the instrument itself rather than of its line: answers the drivers must check.
struct TSimInstrumentFaults {
  // Every list or point write is refused with this error queued: the SCPI entry
  // ("-222,\"Data out of range\"") for family C, the code ("3") for the short command sets.
  // Empty: writes are taken.
  std::string ListError;
  // Answer to the maximum-voltage query instead of the model's maximum; empty: the maximum.
  std::string MaxVoltageReply;
};

// Base of every simulated instrument: keeps the log of received lines and serialises access,
// so a front thread can feed lines while a test inspects the state.
class TSimInstrument {
 public:
  virtual ~TSimInstrument() = default;

  // One received line (without its line end). Returns the reply line (without line end) when
  // the line held at least one query; several queries in one line are answered in one line,
  // separated by ";".
  std::optional<std::string> HandleLine(std::string_view line);

  // Every line received so far, in order.
  std::vector<std::string> ReceivedLines() const;
  void ClearReceivedLines();
  // Called (on the feeding thread) with every received line, e.g. to write a log file.
  void SetLineListener(std::function<void(const std::string&)> listener);

  // What *IDN? answers, e.g. KESTRAVO,KSV7342-80,100001,1.02
  virtual std::string IdentificationReply() const;
  // The model as the program shows it, e.g. "KSV 7342-80": the form the identification parser
  // makes of it, with a blank after "KSV".
  std::string Model() const;
  // What a bus status poll reports: true while the instrument runs (or is armed to run) a
  // waveform. Serial lines cannot ask for it.
  virtual bool Busy() const { return false; }
  // A rising edge on the external trigger input, for instruments that have one.
  virtual void Trigger() {}
  void SetInstrumentFaults(TSimInstrumentFaults faults);
  // Fault: stop commands are received (and logged) but a running list goes on, so the
  // instrument never reports that it stopped.
  void SetStopIgnored(bool ignored) { stopIgnored_ = ignored; }

  // What the terminals delivered so far. A list still playing has its points noted up to the
  // last line received; SettleOutput brings the record up to the clock's present.
  TOutputRecord& Output() { return output_; }
  const TOutputRecord& Output() const { return output_; }
  virtual void SettleOutput() {}
  // The load on the terminals, which measurement queries and a wired meter read through.
  void SetLoad(const TLoad& load);
  TLoad Load() const;

 protected:
  // `model` as given, e.g. "KSV 7342-80" or "KSV7342-80".
  TSimInstrument(std::string_view model, std::string serial, std::string firmware);

  // The model without spaces, as *IDN? reports it, e.g. "KSV7342-80".
  const std::string& CompactModel() const { return model_; }

  virtual std::optional<std::string> Process(std::string_view line) = 0;
  bool StopIgnored() const { return stopIgnored_.load(); }
  // Held while Process runs; subclasses take it in their own accessors.
  mutable std::recursive_mutex stateMutex_;
  TSimInstrumentFaults instrumentFaults_;  // under stateMutex_

 private:
  std::string model_;
  std::string serial_;
  std::string firmware_;

  std::atomic<bool> stopIgnored_{false};
  TOutputRecord output_;
  mutable std::mutex loadMutex_;
  TLoad load_;
  mutable std::mutex logMutex_;
  std::vector<std::string> received_;
  std::function<void(const std::string&)> listener_;
};

// Makes the instrument for a model such as "KSV 7342-80" or "KSV7341-20" (spaces ignored).
// Throws std::invalid_argument for a model that no simulated family speaks.
std::shared_ptr<TSimInstrument> CreateSimInstrument(const std::string& model,
                                                    const std::string& serial, TSimClock clock);

// How a front misbehaves on purpose. Reply faults apply to the next `Replies` replies
// (-1: all of them) and take precedence in the order listed.
struct TSimFaults {
  bool NoReply = false;          // the query is processed, the reply never sent
  std::size_t GarbageBytes = 0;  // instead of the reply: this many bytes, no line feed
  bool PartialLine = false;      // only the first half of the reply, no line feed
  int LateReplyMs = 0;           // the reply is sent this much later (reading goes on)
  int Replies = -1;
  // Reply faults start after this many replies went out sound (an identification, say).
  int SpareReplies = 0;
  // Hang up once this many more bytes have been received (-1: never). The bytes up to that
  // point are processed; the rest is lost. Pty front: the pty is closed and a new one takes
  // its place (behind the same link path, if any). TCP front: the client is dropped.
  long long HangUpAfterBytes = -1;
  // Not a fault: end every reply with CR LF instead of LF, as some instruments do.
  bool CrLf = false;
};

}  // namespace ondrevo::sim
