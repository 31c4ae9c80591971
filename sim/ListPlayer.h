// Playback of a list of dwell times with a repetition count, shared by the simulated families.
#pragma once

#include <vector>

namespace ondrevo::sim {

class TListPlayer {
 public:
  // Starts at the first point, repetition 1. Count 0 repeats without end.
  void Start(std::vector<double> dwells, int count, double now);
  // Ends the run; the position stays readable.
  void Stop() { running_ = false; }
  void SetCount(int count) { count_ = count; }
  // Brings the run up to `now`; `endless` overrides the count. True while running.
  bool Update(double now, bool endless = false);
  bool Running() const { return running_; }
  // Index of the point playing (or played last) within the list, and its repetition (1-based;
  // 0 before any start).
  int Offset() const { return offset_; }
  int Repetition() const { return repetition_; }
  void Rewind() { offset_ = 0; }

 private:
  std::vector<double> dwells_;
  double period_ = 0;
  double start_ = 0;
  int count_ = 1;
  bool running_ = false;
  int offset_ = 0;
  int repetition_ = 0;
};

}  // namespace ondrevo::sim
