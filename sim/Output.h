// What a simulated supply puts on its terminals, kept as a list of changes on the instrument's
// clock: tests compare what played with what was meant, and `sim --record` writes it out.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ondrevo::sim {

struct TOutputState {
  double Voltage = 0;       // the set voltage, or the list point in force while a list plays
  double CurrentLimit = 0;  // likewise for the current
  bool On = false;
  bool operator==(const TOutputState&) const = default;
};

struct TOutputChange {
  double Time = 0;  // instrument clock, seconds
  int Channel = 0;  // 0-based
  TOutputState State;
};

// Thread-safe; the instrument notes, a test or a writer reads.
class TOutputRecord {
 public:
  // Keeps `state` of `channel` from `time` on, unless it equals the channel's last one. A list
  // that plays notes each point at the instant it begins, computed from the run's start and
  // the dwell times, so the record does not depend on when anybody looked.
  void Note(double time, int channel, const TOutputState& state);
  std::vector<TOutputChange> Changes() const;
  // The state noted last for the channel (all zero before the first note).
  TOutputState Last(int channel) const;
  void Clear();
  // Called with every kept change on the thread that noted it, outside the record's lock.
  void SetListener(std::function<void(const TOutputChange&)> listener);

 private:
  mutable std::mutex lock_;
  std::vector<TOutputChange> changes_;
  std::vector<TOutputState> last_;
  std::vector<bool> noted_;
  std::function<void(const TOutputChange&)> listener_;
};

// Writes changes as CSV lines "time_s,channel,voltage_V,current_limit_A,output" (C locale,
// shortest round-trip numbers, output 1 or 0), flushed line by line so that a recording of a
// process that is killed keeps everything up to its end.
class TOutputCsvWriter {
 public:
  // Throws std::runtime_error with the path and the system's reason when it cannot be created.
  explicit TOutputCsvWriter(const std::string& path);
  ~TOutputCsvWriter();
  TOutputCsvWriter(const TOutputCsvWriter&) = delete;
  TOutputCsvWriter& operator=(const TOutputCsvWriter&) = delete;

  void Write(const TOutputChange& change);
  static std::string Header();
  static std::string Line(const TOutputChange& change);

 private:
  std::mutex lock_;
  std::FILE* file_ = nullptr;
};

}  // namespace ondrevo::sim
