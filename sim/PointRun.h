// One run of a supply's point list on the instrument clock: which point is in force, when each
// began, pauses and the end. The families decide what starts, pauses and clears a run; this
// only keeps its time.
#pragma once

#include <functional>
#include <vector>

namespace ondrevo::sim {

struct TRunPoint {
  double Voltage = 0;
  double Current = 0;
  double Dwell = 0;
};

class TPointRun {
 public:
  enum class TPhase { Idle, Playing, Paused, Ended };
  // Called for every point at the instant it begins, in order.
  using TBegun = std::function<void(double time, int index, const TRunPoint& point)>;

  // The list as it is now: a later change of the memory does not reach a run in progress.
  // Count 0 repeats without end.
  void Start(std::vector<TRunPoint> points, int count, double now);
  // Holds the point in force; Resume plays it for the rest of its dwell.
  void Pause(double now);
  void Resume(double now);
  void Clear() { phase_ = TPhase::Idle; }
  // Applies to the run in progress; a count already reached ends it with its repetition.
  void SetCount(int count) { count_ = count; }

  // Notes every point begun up to `now`. Returns the instant the run ended when it ended in
  // this call (the phase is then Ended), else a negative number.
  double Advance(double now, const TBegun& begun);

  TPhase Phase() const { return phase_; }
  bool InForce() const { return phase_ == TPhase::Playing || phase_ == TPhase::Paused; }
  // The point in force (or played last), as an index into the list; 0 before any.
  int Index() const { return index_; }
  const TRunPoint& Point() const { return points_.at(static_cast<std::size_t>(index_)); }
  bool HasPoints() const { return !points_.empty(); }
  int Repetition() const { return repetition_; }  // 0-based, of the point in force

 private:
  std::vector<TRunPoint> points_;
  std::vector<double> begins_;  // start of each point within a repetition
  double period_ = 0;
  int count_ = 1;
  TPhase phase_ = TPhase::Idle;
  double origin_ = 0;    // clock time at which the run's own time is 0 (moves with pauses)
  double pausedAt_ = 0;  // the run's own time when paused
  int index_ = 0;
  int repetition_ = 0;
  int nextIndex_ = 0;  // the next point to begin
  long long nextRepetition_ = 0;
};

}  // namespace ondrevo::sim
