#include "devices/MainThread.h"

#include <atomic>
#include <exception>

namespace ondrevo {

namespace {

std::mutex gLock;
std::thread::id gMainId;
std::shared_ptr<const TMainThread::Dispatcher> gDispatcher;
std::shared_ptr<const TMainThread::Poster> gPoster;
std::shared_ptr<int> gToken;

}  // namespace

void TMainThread::SetMainThread(std::thread::id id) {
  std::lock_guard guard(gLock);
  gMainId = id;
}

bool TMainThread::IsMainThread() {
  std::lock_guard guard(gLock);
  return gMainId == std::this_thread::get_id();
}

void TMainThread::SetDispatcher(Dispatcher dispatcher) {
  SetDispatcher(std::move(dispatcher), nullptr);
}

void TMainThread::SetDispatcher(Dispatcher dispatcher, std::shared_ptr<int> token) {
  SetDispatcher(std::move(dispatcher), std::move(token), nullptr);
}

void TMainThread::SetDispatcher(Dispatcher dispatcher, std::shared_ptr<int> token, Poster poster) {
  std::lock_guard guard(gLock);
  gDispatcher = dispatcher ? std::make_shared<const Dispatcher>(std::move(dispatcher)) : nullptr;
  // A poster alone would deliver outside the dispatcher's order.
  gPoster = gDispatcher && poster ? std::make_shared<const Poster>(std::move(poster)) : nullptr;
  gToken = std::move(token);
}

void TMainThread::ClearDispatcher(const std::shared_ptr<int>& token) {
  std::lock_guard guard(gLock);
  if (token && gToken == token) {
    gDispatcher = nullptr;
    gPoster = nullptr;
    gToken = nullptr;
  }
}

void TMainThread::Synchronize(const std::function<void()>& fn) {
  std::shared_ptr<const Dispatcher> dispatcher;
  {
    std::lock_guard guard(gLock);
    if (gMainId == std::this_thread::get_id())
      dispatcher = nullptr;
    else
      dispatcher = gDispatcher;
  }
  // Without a dispatcher (no main loop at all) the handler runs where it is raised.
  if (!dispatcher) {
    fn();
    return;
  }
  (*dispatcher)(fn);
}

void TMainThread::Post(std::function<void()> fn) {
  std::shared_ptr<const Poster> poster;
  {
    std::lock_guard guard(gLock);
    if (gMainId != std::this_thread::get_id()) poster = gPoster;
  }
  if (!poster) {
    Synchronize(fn);
    return;
  }
  (*poster)(std::move(fn));
}

// The poster waits on the item, not on the queue: once the handler has run, the main thread
// may destroy the queue while the poster is still waking up.
struct TEventQueue::Item {
  std::function<void()> fn;
  bool waited = true;  // somebody waits for done
  std::exception_ptr error;
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
};

void TEventQueue::Install() {
  TMainThread::SetMainThread();
  token_ = std::make_shared<int>(0);
  TMainThread::SetDispatcher([this](const std::function<void()>& fn) { Post(fn); }, token_,
                             [this](std::function<void()> fn) { PostAsync(std::move(fn)); });
}

TEventQueue::~TEventQueue() {
  TMainThread::ClearDispatcher(token_);
  // Handlers nobody will run any more: their posters go on instead of waiting for ever.
  std::lock_guard guard(lock_);
  for (auto& item : items_) {
    std::lock_guard done(item->lock);
    item->done = true;
    item->finished.notify_all();
  }
  items_.clear();
}

void TEventQueue::Post(const std::function<void()>& fn) {
  auto item = std::make_shared<Item>();
  item->fn = fn;
  {
    std::lock_guard guard(lock_);
    items_.push_back(item);
    // Under the lock: once it is released, the main thread may run the handler and end the
    // queue, condition variable and all, before a later notify.
    changed_.notify_all();
  }
  // The error leaves the item under its lock, so the exception is freed by this thread alone:
  // the main thread may drop its reference to the item at any time after done.
  std::exception_ptr error;
  {
    std::unique_lock wait(item->lock);
    item->finished.wait(wait, [&] { return item->done; });
    error = std::move(item->error);
  }
  if (error) std::rethrow_exception(error);
}

void TEventQueue::PostAsync(std::function<void()> fn) {
  auto item = std::make_shared<Item>();
  item->fn = std::move(fn);
  item->waited = false;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard guard(lock_);
  items_.push_back(std::move(item));
  if (!reportPending_) {
    reportPending_ = true;
    reportWaiting_ = now;
  } else if (now - reportWaiting_ >= kReportWake) {
    reportPending_ = false;
    changed_.notify_all();  // under the lock, as in Post
  }
}

int TEventQueue::ProcessPending() {
  int count = 0;
  std::unique_lock guard(lock_);
  reportPending_ = false;  // every report queued so far runs now
  while (!items_.empty()) {
    auto item = items_.front();
    items_.pop_front();
    guard.unlock();
    try {
      item->fn();
    } catch (...) {
      item->error = std::current_exception();
    }
    if (item->waited) {
      {
        std::lock_guard done(item->lock);
        item->done = true;
      }
      // The item lives on in `item`; the poster, woken outside the lock, need not wait for it.
      item->finished.notify_all();
    }
    guard.lock();
    ++count;
  }
  return count;
}

bool TEventQueue::PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ProcessPending();
    if (pred()) return true;
    std::unique_lock guard(lock_);
    if (!items_.empty()) continue;
    if (changed_.wait_until(guard, std::min(deadline, std::chrono::steady_clock::now() +
                                                          kMaxSleep)) == std::cv_status::timeout &&
        std::chrono::steady_clock::now() >= deadline) {
      guard.unlock();
      ProcessPending();
      return pred();
    }
  }
}

void TEventQueue::Wake() {
  std::lock_guard guard(lock_);
  changed_.notify_all();
}

}  // namespace ondrevo
