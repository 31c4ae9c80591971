#include "sim/Front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace ondrevo::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Input without a line feed is dropped beyond this, as an instrument's input buffer would.
constexpr std::size_t MaxInputLine = 1 << 20;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) ThrowErrno("fcntl");
}

ssize_t WriteSome(int fd, const char* data, std::size_t size) {
  ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = write(fd, data, size);
  return n;
}

struct TOutgoing {
  Clock::time_point Due;
  std::string Data;
};

}  // namespace

TSimFront::TSimFront(std::shared_ptr<TSimInstrument> instrument)
    : instrument_(std::move(instrument)) {
  if (!instrument_) throw std::invalid_argument("A front needs an instrument.");
  stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stopFd_ < 0) ThrowErrno("eventfd");
}

TSimFront::~TSimFront() {
  Stop();
  if (stopFd_ >= 0) close(stopFd_);
}

void TSimFront::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TSimFront::Stop() {
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = write(stopFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

void TSimFront::SetFaults(const TSimFaults& faults) {
  std::lock_guard lock(faultMutex_);
  faults_ = faults;
  bytesSinceFaults_ = 0;
}

TSimFaults TSimFront::Faults() const {
  std::lock_guard lock(faultMutex_);
  return faults_;
}

// Decides which reply faults hit the next reply and counts it against `Replies`.
bool TSimFront::TakeReplyFault(TSimFaults& applied) {
  std::lock_guard lock(faultMutex_);
  applied = faults_;
  const bool any =
      faults_.NoReply || faults_.GarbageBytes > 0 || faults_.PartialLine || faults_.LateReplyMs > 0;
  if (!any || faults_.Replies == 0) return false;
  if (faults_.SpareReplies > 0) {
    --faults_.SpareReplies;
    return false;
  }
  if (faults_.Replies > 0) --faults_.Replies;
  return true;
}

void TSimFront::Run() {
  while (!stopping_) {
    const int fd = AcquireConnection();
    if (fd >= 0) {
      Serve(fd);
      continue;
    }
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {WaitFd(), POLLIN, 0}};
    poll(fds, WaitFd() >= 0 ? 2 : 1, WaitFd() >= 0 ? -1 : 100);
  }
}

void TSimFront::Serve(int fd) {
  std::string input;
  std::deque<TOutgoing> outgoing;
  char buffer[4096];

  auto schedule = [&](std::string reply) {
    TSimFaults fault;
    const bool faulty = TakeReplyFault(fault);
    std::string data = reply + (fault.CrLf ? "\r\n" : "\n");
    auto due = Clock::now();
    if (faulty) {
      if (fault.NoReply) return;
      if (fault.GarbageBytes > 0) {
        data.resize(fault.GarbageBytes);
        // Letters only: no line end, nothing a serial line discipline would act on.
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 26);
      } else if (fault.PartialLine) {
        data = reply.substr(0, (reply.size() + 1) / 2);
      }
      due += std::chrono::milliseconds(fault.LateReplyMs);
    }
    // Replies leave in order: a late one holds back those after it.
    if (!outgoing.empty() && outgoing.back().Due > due) due = outgoing.back().Due;
    if (!data.empty()) outgoing.push_back({due, std::move(data)});
  };

  while (!stopping_) {
    const auto now = Clock::now();
    const bool sendable = !outgoing.empty() && outgoing.front().Due <= now;
    int timeout = -1;
    if (!outgoing.empty() && !sendable)
      timeout = static_cast<int>(
          std::chrono::ceil<std::chrono::milliseconds>(outgoing.front().Due - now).count());
    // A negative WaitFd (the pty) is ignored by poll.
    pollfd fds[3] = {{fd, static_cast<short>(POLLIN | POLLRDHUP | (sendable ? POLLOUT : 0)), 0},
                     {stopFd_, POLLIN, 0},
                     {WaitFd(), POLLIN, 0}};
    if (poll(fds, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      ReleaseConnection(false);
      return;
    }
    if (fds[1].revents) return;

    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        ReleaseConnection(false);
        return;
      }
      if (n > 0) {
        std::size_t take = static_cast<std::size_t>(n);
        bool hangUp = false;
        {
          std::lock_guard lock(faultMutex_);
          if (faults_.HangUpAfterBytes >= 0) {
            const long long left = faults_.HangUpAfterBytes - bytesSinceFaults_;
            if (left <= static_cast<long long>(take)) {
              take = static_cast<std::size_t>(std::max(0LL, left));
              hangUp = true;
              faults_.HangUpAfterBytes = -1;  // once
            }
          }
          bytesSinceFaults_ += static_cast<long long>(take);
        }
        input.append(buffer, take);
        std::size_t end;
        while ((end = input.find('\n')) != std::string::npos) {
          std::string line = input.substr(0, end);
          input.erase(0, end + 1);
          std::erase(line, '\r');
          if (auto reply = instrument_->HandleLine(line)) schedule(std::move(*reply));
        }
        if (input.size() > MaxInputLine) input.clear();
        if (hangUp) {
          ++hangUps_;
          ReleaseConnection(true);
          return;
        }
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      ReleaseConnection(false);
      return;
    }
    // A client that closed just before the newcomer connected is leaving (its last lines are
    // still being read, or it reset the connection with a reply unread): the newcomer waits to be
    // served instead of being refused.
    if ((fds[2].revents & POLLIN) && !(fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR)))
      RefuseWaiting();

    if ((fds[0].revents & POLLOUT) && !outgoing.empty()) {
      std::string& data = outgoing.front().Data;
      const ssize_t n = WriteSome(fd, data.data(), data.size());
      if (n > 0) {
        data.erase(0, static_cast<std::size_t>(n));
        if (data.empty()) outgoing.pop_front();
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        ReleaseConnection(false);
        return;
      }
    }
  }
}

// ---- pty ----

TPtyFront::TPtyFront(std::shared_ptr<TSimInstrument> instrument, std::string linkPath)
    : TSimFront(std::move(instrument)), linkPath_(std::move(linkPath)) {
  OpenPty();
  Start();
}

TPtyFront::~TPtyFront() {
  Stop();
  ClosePty();
  // Only while it is still the link this front made.
  char target[256];
  const ssize_t n = linkPath_.empty() ? -1 : readlink(linkPath_.c_str(), target, sizeof target);
  if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_)
    unlink(linkPath_.c_str());
}

std::string TPtyFront::Path() const {
  std::lock_guard lock(pathMutex_);
  return linkPath_.empty() ? slavePath_ : linkPath_;
}

void TPtyFront::OpenPty() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) ThrowErrno("posix_openpt");
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    const int error = errno;
    close(master);
    throw std::system_error(error, std::generic_category(), "pty");
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  SetNonBlocking(master);
  const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    const int error = errno;
    close(master);
    throw std::system_error(error, std::generic_category(), name);
  }
  termios settings{};
  if (tcgetattr(slave, &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(slave, TCSANOW, &settings);
  }
  if (!linkPath_.empty()) {
    // Replace the link in one step so that an opener never finds it missing; the temporary name
    // is this process's own, so no file of another is removed.
    const std::string temp = linkPath_ + "." + std::to_string(getpid()) + ".new";
    if (symlink(name, temp.c_str()) != 0 || rename(temp.c_str(), linkPath_.c_str()) != 0) {
      const int error = errno;
      close(slave);
      close(master);
      throw std::system_error(error, std::generic_category(), linkPath_);
    }
  }
  std::lock_guard lock(pathMutex_);
  master_ = master;
  slaveKeep_ = slave;
  slavePath_ = name;
}

void TPtyFront::ClosePty() {
  if (master_ >= 0) close(master_);
  if (slaveKeep_ >= 0) close(slaveKeep_);
  master_ = slaveKeep_ = -1;
}

int TPtyFront::AcquireConnection() {
  if (master_ < 0) {
    try {
      OpenPty();
    } catch (const std::exception&) {
      return -1;  // tried again shortly
    }
  }
  return master_;
}

void TPtyFront::ReleaseConnection(bool hangUp) {
  // Closing the master hangs up on whoever has the slave open. The new pty is made first, so
  // the link already leads to it when the client notices the hang-up.
  const int oldMaster = std::exchange(master_, -1);
  const int oldSlave = std::exchange(slaveKeep_, -1);
  try {
    OpenPty();
  } catch (const std::exception&) {
    // AcquireConnection tries again.
  }
  close(oldMaster);
  close(oldSlave);
}

// ---- TCP ----

TTcpFront::TTcpFront(std::shared_ptr<TSimInstrument> instrument, int port)
    : TSimFront(std::move(instrument)) {
  if (port < 0 || port > 65535) throw std::invalid_argument("The TCP port must lie in 0 to 65535.");
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_ < 0) ThrowErrno("socket");
  const int yes = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t length = sizeof address;
  if (bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_, 4) != 0 ||
      getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    close(listen_);
    listen_ = -1;
    throw std::system_error(error, std::generic_category(), "127.0.0.1:" + std::to_string(port));
  }
  port_ = ntohs(address.sin_port);
  Start();
}

TTcpFront::~TTcpFront() {
  Stop();
  if (client_ >= 0) close(client_);
  if (listen_ >= 0) close(listen_);
}

int TTcpFront::AcquireConnection() {
  if (client_ < 0) {
    const int fd = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0 && slot_ && !slot_->Take(1)) {
      Refuse(fd);
      return -1;
    }
    client_ = fd;
  }
  return client_;
}

void TTcpFront::Refuse(int fd) {
  const std::string line = std::string(kBusyLine) + "\n";
  [[maybe_unused]] const auto n = send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  // Half-close and take what the client already sent: closing with unread input would reset the
  // connection, and a reset can overtake the line that says why.
  shutdown(fd, SHUT_WR);
  char drain[512];
  while (recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
  }
  close(fd);
}

void TTcpFront::RefuseWaiting() {
  for (;;) {
    const int other = accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (other < 0) return;
    Refuse(other);
  }
}

void TTcpFront::ReleaseConnection(bool hangUp) {
  if (client_ >= 0) close(client_);
  client_ = -1;
  if (slot_) slot_->Release(1);
}

}  // namespace ondrevo::sim
