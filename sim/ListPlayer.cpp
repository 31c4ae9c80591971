#include "sim/ListPlayer.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace ondrevo::sim {

void TListPlayer::Start(std::vector<double> dwells, int count, double now) {
  dwells_ = std::move(dwells);
  period_ = 0;
  for (double d : dwells_) period_ += d;
  count_ = count;
  start_ = now;
  running_ = true;
  offset_ = 0;
  repetition_ = 1;
}

bool TListPlayer::Update(double now, bool endless) {
  if (!running_) return false;
  endless = endless || count_ == 0;
  if (!(period_ > 0)) {
    running_ = false;
    offset_ = dwells_.empty() ? 0 : static_cast<int>(dwells_.size()) - 1;
    return false;
  }
  const double elapsed = std::max(0.0, now - start_);
  const double cycles = std::floor(elapsed / period_);
  if (!endless && cycles >= count_) {
    running_ = false;
    offset_ = static_cast<int>(dwells_.size()) - 1;
    repetition_ = count_;
    return false;
  }
  repetition_ = cycles >= INT_MAX - 1 ? INT_MAX : static_cast<int>(cycles) + 1;
  double t = elapsed - cycles * period_;
  std::size_t i = 0;
  while (i + 1 < dwells_.size() && t >= dwells_[i]) t -= dwells_[i++];
  offset_ = static_cast<int>(i);
  return true;
}

}  // namespace ondrevo::sim
