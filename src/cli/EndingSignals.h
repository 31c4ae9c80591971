// The signals that end a command from outside: Ctrl+C (SIGINT), SIGTERM, a closed terminal
// (SIGHUP) and SIGQUIT. While a TEndingSignals lives, the first one only raises a flag for the
// command to stop and clean up in its own time. If the command is still there `grace` later,
// or at a second signal, `lastAttempt` runs on a watching thread (the main thread may be stuck
// in a driver) and the program ends at once with 128 + the signal's number, saying `sentWords`
// when the attempt reported in time that it reached the instrument, `lastWords` otherwise.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace ondrevo::cli {

class TEndingSignals {
 public:
  TEndingSignals(std::chrono::milliseconds grace, std::function<bool()> lastAttempt,
                 std::string sentWords, std::string lastWords);
  // Puts the previous handlers back and ends the watch.
  ~TEndingSignals();
  TEndingSignals(const TEndingSignals&) = delete;
  TEndingSignals& operator=(const TEndingSignals&) = delete;

  // The first signal received, 0 while none was.
  static int Received();
  // The exit status after the first signal: 128 + its number.
  static int ExitStatus() { return 128 + Received(); }

 private:
  void Watch();
  [[noreturn]] void EndNow(int signal);

  std::chrono::milliseconds grace_;
  std::function<bool()> lastAttempt_;
  std::string sentWords_;
  std::string lastWords_;
  int wake_[2] = {-1, -1};
  std::thread watcher_;
};

// Ignores SIGPIPE while it lives: a write to a closed pipe then fails, and the writer decides.
class TIgnoredBrokenPipe {
 public:
  TIgnoredBrokenPipe();
  ~TIgnoredBrokenPipe();
  TIgnoredBrokenPipe(const TIgnoredBrokenPipe&) = delete;
  TIgnoredBrokenPipe& operator=(const TIgnoredBrokenPipe&) = delete;

 private:
  void (*old_)(int) = nullptr;
};

}  // namespace ondrevo::cli
