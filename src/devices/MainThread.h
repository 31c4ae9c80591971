// Every device event reaches its handler on the main thread: a worker hands the handler over and
// waits until it has run, or, for reports that need no answer (progress), posts it and goes on.
// The GUI plugs in a blocking queued call; the CLI and the tests use TEventQueue, which the main
// thread pumps while it waits for anything.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ondrevo {

class TMainThread {
 public:
  // Runs fn on the main thread and returns when it has run; an exception thrown by fn is
  // rethrown in the caller. On the main thread fn runs directly.
  using Dispatcher = std::function<void(const std::function<void()>& fn)>;
  // Queues fn for the main thread and returns at once.
  using Poster = std::function<void(std::function<void()> fn)>;

  static void Synchronize(const std::function<void()>& fn);
  // Runs fn on the main thread without waiting for it. What one thread posts runs in order,
  // and before anything that thread synchronizes later. fn must not throw. Without a poster
  // installed this waits like Synchronize.
  static void Post(std::function<void()> fn);
  static bool IsMainThread();
  // Called once on the main thread by the program (or a test) before devices are used.
  static void SetMainThread(std::thread::id id = std::this_thread::get_id());
  static void SetDispatcher(Dispatcher dispatcher);
  // Clears the dispatcher only when it is still the one installed with `token`.
  static void ClearDispatcher(const std::shared_ptr<int>& token);
  static void SetDispatcher(Dispatcher dispatcher, std::shared_ptr<int> token);
  // The poster must deliver into the same queue as the dispatcher, so that order holds.
  static void SetDispatcher(Dispatcher dispatcher, std::shared_ptr<int> token, Poster poster);
};

// Queue of handlers from worker threads, run when the main thread pumps.
class TEventQueue {
 public:
  TEventQueue() = default;
  TEventQueue(const TEventQueue&) = delete;
  TEventQueue& operator=(const TEventQueue&) = delete;
  // Stops being the dispatcher if it still is one.
  ~TEventQueue();
  // Makes this queue the dispatcher and the calling thread the main thread.
  void Install();
  void Post(const std::function<void()>& fn);  // enqueue and wait until run
  // Enqueues and returns. Wakes the main thread only once a report has waited kReportWake: a
  // stream of reports runs in batches instead of costing a thread switch each, and a short job
  // (an upload over a fast line) costs none, its reports running with its end event; none
  // waits longer than the pump's kMaxSleep.
  void PostAsync(std::function<void()> fn);
  static constexpr std::chrono::milliseconds kReportWake{5};
  static constexpr std::chrono::milliseconds kMaxSleep{20};
  // Runs every queued handler; returns how many ran.
  int ProcessPending();
  // Pumps until pred() holds or the time-out passes; returns pred().
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
  // Wakes a pumping main thread, e.g. from a signal-watching thread.
  void Wake();

 private:
  struct Item;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Item>> items_;
  std::shared_ptr<int> token_;  // identifies the dispatcher this queue installed
  // Since when a report waits that no wake-up was asked for; none when unset.
  std::chrono::steady_clock::time_point reportWaiting_{};
  bool reportPending_ = false;
};

}  // namespace ondrevo
