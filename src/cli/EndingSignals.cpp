#include "cli/EndingSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <optional>

namespace ondrevo::cli {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
std::atomic<int> gFirst{0};
std::atomic<int> gCount{0};
std::atomic<int> gWakeFd{-1};
struct sigaction gOld[sizeof kSignals / sizeof kSignals[0]];

// Async-signal-safe: counts and wakes the watcher with the signal's number.
extern "C" void OnEndingSignal(int signal) {
  int expected = 0;
  gFirst.compare_exchange_strong(expected, signal);
  gCount.fetch_add(1);
  const int fd = gWakeFd.load();
  const unsigned char byte = static_cast<unsigned char>(signal);
  if (fd >= 0) [[maybe_unused]]
    auto n = ::write(fd, &byte, 1);
}

constexpr auto kLastAttempt = std::chrono::milliseconds(1500);

}  // namespace

TEndingSignals::TEndingSignals(std::chrono::milliseconds grace, std::function<bool()> lastAttempt,
                               std::string sentWords, std::string lastWords)
    : grace_(grace),
      lastAttempt_(std::move(lastAttempt)),
      sentWords_(std::move(sentWords)),
      lastWords_(std::move(lastWords)) {
  gFirst = 0;
  gCount = 0;
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  gWakeFd = wake_[1];
  if (wake_[0] >= 0) watcher_ = std::thread([this] { Watch(); });
  for (std::size_t k = 0; k < std::size(kSignals); ++k) {
    sigaction(kSignals[k], nullptr, &gOld[k]);
    // Started under nohup: the user wants the run to outlive the terminal.
    if (kSignals[k] == SIGHUP && gOld[k].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    sigaction(kSignals[k], &action, nullptr);
  }
}

TEndingSignals::~TEndingSignals() {
  for (std::size_t k = 0; k < std::size(kSignals); ++k) sigaction(kSignals[k], &gOld[k], nullptr);
  gWakeFd = -1;
  if (watcher_.joinable()) {
    const unsigned char quit = 0;
    [[maybe_unused]] auto n = ::write(wake_[1], &quit, 1);
    watcher_.join();
  }
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

int TEndingSignals::Received() {
  return gFirst.load();
}

void TEndingSignals::Watch() {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> deadline;
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, left.count()));
    }
    pollfd fd{wake_[0], POLLIN, 0};
    const int ready = ::poll(&fd, 1, timeout);
    if (ready == 0) EndNow(gFirst.load());  // the grace ran out
    if (ready < 0) continue;
    unsigned char bytes[16];
    const auto n = ::read(wake_[0], bytes, sizeof bytes);
    for (ssize_t k = 0; k < n; ++k) {
      if (bytes[k] == 0) return;  // the command ended in time
      if (gCount.load() >= 2) EndNow(bytes[k]);
      if (!deadline) deadline = Clock::now() + grace_;
    }
  }
}

void TEndingSignals::EndNow(int signal) {
  bool sent = false;
  if (lastAttempt_) {
    // On a thread of its own: a driver that hangs the main thread may hang this attempt too.
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto reached = std::make_shared<std::atomic<bool>>(false);
    std::thread([attempt = lastAttempt_, finished, reached] {
      try {
        *reached = attempt();
      } catch (...) {
      }
      *finished = true;
    }).detach();
    const auto until = std::chrono::steady_clock::now() + kLastAttempt;
    while (!*finished && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sent = *finished && *reached;
  }
  const std::string text = "\nondrevo-cli: " + (sent ? sentWords_ : lastWords_) + "\n";
  [[maybe_unused]] auto n = ::write(STDERR_FILENO, text.data(), text.size());
  ::_exit(128 + signal);
}

TIgnoredBrokenPipe::TIgnoredBrokenPipe() : old_(std::signal(SIGPIPE, SIG_IGN)) {}

TIgnoredBrokenPipe::~TIgnoredBrokenPipe() {
  std::signal(SIGPIPE, old_ == SIG_ERR ? SIG_DFL : old_);
}

}  // namespace ondrevo::cli
