// A periodic tick delivered on the main thread while enabled (TMainThread::Synchronize).
// Destroying the timer never waits for its thread, which may be handing a tick over.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace ondrevo {

class TProgressTimer {
 public:
  TProgressTimer(std::function<void()> onTick, std::chrono::milliseconds interval);
  ~TProgressTimer();
  TProgressTimer(const TProgressTimer&) = delete;
  TProgressTimer& operator=(const TProgressTimer&) = delete;

  void SetEnabled(bool enabled);
  bool Enabled() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace ondrevo
