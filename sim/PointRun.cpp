#include "sim/PointRun.h"

namespace ondrevo::sim {

void TPointRun::Start(std::vector<TRunPoint> points, int count, double now) {
  points_ = std::move(points);
  begins_.clear();
  period_ = 0;
  for (const TRunPoint& p : points_) {
    begins_.push_back(period_);
    period_ += p.Dwell;
  }
  count_ = count;
  origin_ = now;
  index_ = repetition_ = nextIndex_ = 0;
  nextRepetition_ = 0;
  phase_ = points_.empty() ? TPhase::Ended : TPhase::Playing;
}

void TPointRun::Pause(double now) {
  if (phase_ != TPhase::Playing) return;
  pausedAt_ = now - origin_;
  phase_ = TPhase::Paused;
}

void TPointRun::Resume(double now) {
  if (phase_ != TPhase::Paused) return;
  origin_ = now - pausedAt_;
  phase_ = TPhase::Playing;
}

double TPointRun::Advance(double now, const TBegun& begun) {
  if (phase_ != TPhase::Playing) return -1;
  while (true) {
    const bool counted = count_ > 0;
    if (counted && nextIndex_ == 0 && nextRepetition_ >= count_) {
      // A count lowered during a run ends it where the repetition in progress ends.
      const double end = origin_ + static_cast<double>(nextRepetition_) * period_;
      if (end > now) return -1;
      phase_ = TPhase::Ended;
      return end;
    }
    // A list without duration cannot advance: it ends at once on its last point.
    if (!(period_ > 0)) {
      index_ = static_cast<int>(points_.size()) - 1;
      phase_ = TPhase::Ended;
      return now;
    }
    const double at = origin_ + static_cast<double>(nextRepetition_) * period_ +
                      begins_[static_cast<std::size_t>(nextIndex_)];
    if (at > now) return -1;
    index_ = nextIndex_;
    repetition_ = static_cast<int>(nextRepetition_);
    if (begun) begun(at, index_, points_[static_cast<std::size_t>(index_)]);
    if (++nextIndex_ == static_cast<int>(points_.size())) {
      nextIndex_ = 0;
      ++nextRepetition_;
    }
  }
}

}  // namespace ondrevo::sim
