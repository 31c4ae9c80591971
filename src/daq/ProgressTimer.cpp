#include "daq/ProgressTimer.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "devices/MainThread.h"

namespace ondrevo {

struct TProgressTimer::State {
  std::mutex lock;
  std::condition_variable changed;
  bool enabled = false;
  bool gone = false;
  bool threadStarted = false;
  std::function<void()> onTick;
  std::chrono::milliseconds interval;
};

TProgressTimer::TProgressTimer(std::function<void()> onTick, std::chrono::milliseconds interval)
    : state_(std::make_shared<State>()) {
  state_->onTick = std::move(onTick);
  state_->interval = interval;
}

TProgressTimer::~TProgressTimer() {
  {
    std::lock_guard guard(state_->lock);
    state_->gone = true;
    state_->enabled = false;
  }
  state_->changed.notify_all();
}

bool TProgressTimer::Enabled() const {
  std::lock_guard guard(state_->lock);
  return state_->enabled;
}

void TProgressTimer::SetEnabled(bool enabled) {
  std::lock_guard guard(state_->lock);
  state_->enabled = enabled;
  state_->changed.notify_all();
  if (!enabled || state_->threadStarted) return;
  state_->threadStarted = true;
  std::thread([state = state_] {
    std::unique_lock guard(state->lock);
    for (;;) {
      state->changed.wait(guard, [&] { return state->gone || state->enabled; });
      if (state->gone) return;
      // A tick only after a whole interval of being enabled.
      if (state->changed.wait_for(guard, state->interval,
                                  [&] { return state->gone || !state->enabled; }))
        continue;
      guard.unlock();
      try {
        TMainThread::Synchronize([&] {
          std::function<void()> tick;
          {
            std::lock_guard g(state->lock);
            if (state->gone || !state->enabled) return;
            tick = state->onTick;
          }
          tick();
        });
      } catch (...) {
        // A failing tick handler does not end the timer.
      }
      guard.lock();
    }
  }).detach();
}

}  // namespace ondrevo
