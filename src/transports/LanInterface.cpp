#include "transports/LanInterface.h"

#include <fcntl.h>
#include <lxi.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>

#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/Probe.h"
#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteTimeoutMs = 3000;
constexpr std::size_t kMaxReplyBytes = 64 * 1024;
// Keep-alive: an idle peer that vanished is noticed within about five seconds, and unacknowledged
// data gives up after as long, so a pulled cable ends a run instead of hanging it.
constexpr int kKeepIdleS = 2;
constexpr int kKeepIntervalS = 1;
constexpr int kKeepCount = 3;
constexpr unsigned kUserTimeoutMs = 5000;
constexpr int kPortMapperPort = 111;
// How long a host that let a VXI-11 read time out gets to show it is still there.
constexpr uint32_t kHostCheckMs = 1000;

std::mutex gHostsLock;
std::vector<std::string> gHosts;
bool gDiscovery = false;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto at = text.find("::", start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 2;
  }
}

bool ParsePort(const std::string& text, int& port) {
  double value = 0;
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      !TryParseNumber(text, value) || value < 1 || value > 65535)
    return false;
  port = static_cast<int>(value);
  return true;
}

std::string WithHost(const char* text, const std::string& host) {
  std::string out = text;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, host);
  return out;
}

void SplitHosts(const std::string& text, std::vector<std::string>& out) {
  std::string item;
  for (char c : text + ",") {
    if (c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\n') {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
}

// A connected, non-blocking socket to host:port within timeoutMs, or an error naming the host.
int ConnectSocket(const std::string& host, int port, uint32_t timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int lookup = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (lookup != 0)
    throw EHostUnreachableError(WithHost(_("There is no host %s on the network:"), host) + " " +
                                ::gai_strerror(lookup));
  int lastError = ETIMEDOUT;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    int error = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<long long>(left, 0)));
        socklen_t length = sizeof error;
        if (ready <= 0)
          error = ETIMEDOUT;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
          error = errno;
      }
    }
    if (error == 0) {
      ::freeaddrinfo(found);
      return fd;
    }
    ::close(fd);
    lastError = error;
  }
  ::freeaddrinfo(found);
  std::string why =
      lastError == ECONNREFUSED ? WithHost(_("The host %s refuses connections on port"), host) +
                                      " " + std::to_string(port)
      : lastError == ETIMEDOUT
          ? WithHost(_("The host %s does not answer on port"), host) + " " + std::to_string(port)
          : WithHost(_("The host %s cannot be reached:"), host) + " " + std::strerror(lastError);
  if (lastError == ECONNREFUSED) throw EConnectionError(why);
  throw EHostUnreachableError(why);
}

void KeepAlive(int fd) {
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &yes, sizeof yes);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
  ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
  // Commands are single short lines, each awaited: no coalescing delay.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

std::once_flag gLxiInit;

// The RPC library writes to its socket without guarding against a peer that is gone, which would
// end the whole program with SIGPIPE: the signal is held on this thread during a call and a
// pending one is taken away before it is let through again.
class TNoBrokenPipe {
 public:
  TNoBrokenPipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~TNoBrokenPipe() {
    if (!wasPending_) {
      const timespec zero{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &zero) > 0) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  TNoBrokenPipe(const TNoBrokenPipe&) = delete;
  TNoBrokenPipe& operator=(const TNoBrokenPipe&) = delete;

 private:
  sigset_t pipe_{}, old_{};
  bool wasPending_ = false;
};

}  // namespace

std::string TLanAddress::Text() const {
  if (Socket) return "TCPIP::" + Host + "::" + std::to_string(Port) + "::SOCKET";
  if (Device != "inst0") return "TCPIP::" + Host + "::" + Device + "::INSTR";
  return "TCPIP::" + Host + "::INSTR";
}

std::optional<TLanAddress> ParseLanAddress(const std::string& text) {
  const auto parts = SplitColons(text);
  if (parts.size() < 2 || parts[1].empty()) return std::nullopt;
  const std::string bus = Upper(parts[0]);
  if (!bus.starts_with("TCPIP") ||
      bus.substr(5).find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  TLanAddress address;
  address.Host = parts[1];
  const std::string last = Upper(parts.back());
  if (parts.size() == 4 && last == "SOCKET") {
    if (!ParsePort(parts[2], address.Port)) return std::nullopt;
    return address;
  }
  address.Socket = false;
  if (parts.size() == 2 || (parts.size() == 3 && last == "INSTR")) return address;
  if ((parts.size() == 3 || (parts.size() == 4 && last == "INSTR")) && !parts[2].empty() &&
      Upper(parts[2]) != "INSTR") {
    address.Device = parts[2];
    return address;
  }
  return std::nullopt;
}

std::optional<TLanHostEntry> ParseLanHostEntry(const std::string& text) {
  TLanHostEntry entry;
  if (text.empty()) return std::nullopt;
  if (Upper(text).starts_with("TCPIP")) {
    const auto address = ParseLanAddress(text);
    if (!address) return std::nullopt;
    entry.Host = address->Host;
    entry.Port = address->Port;
    entry.Raw = address->Socket;
    entry.Vxi = !address->Socket;
    return entry;
  }
  // One colon: a port; more: an IPv6 address without one.
  const auto colon = text.find(':');
  if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
    if (!ParsePort(text.substr(colon + 1), entry.Port)) return std::nullopt;
    entry.Host = text.substr(0, colon);
    // An explicit port names the raw socket; VXI-11 is found through the host's port mapper.
  } else {
    entry.Host = text;
  }
  if (entry.Host.empty()) return std::nullopt;
  return entry;
}

void SetLanHosts(const std::vector<std::string>& hosts) {
  std::lock_guard guard(gHostsLock);
  gHosts = hosts;
}

std::vector<TLanHostEntry> ListLanHosts() {
  std::vector<std::string> texts;
  {
    std::lock_guard guard(gHostsLock);
    for (const auto& h : gHosts) SplitHosts(h, texts);
  }
  if (const char* extra = std::getenv("ONDREVO_LAN_HOSTS")) SplitHosts(extra, texts);
  std::vector<TLanHostEntry> entries;
  std::set<std::string> seen;
  for (const auto& text : texts)
    if (auto entry = ParseLanHostEntry(text); entry && seen.insert(text).second)
      entries.push_back(*entry);
  return entries;
}

void SetLanDiscovery(bool enabled) {
  std::lock_guard guard(gHostsLock);
  gDiscovery = enabled;
}

bool LanDiscoveryEnabled() {
  const char* env = std::getenv("ONDREVO_LAN_DISCOVER");
  if (env && *env) return std::string(env) == "1";
  std::lock_guard guard(gHostsLock);
  return gDiscovery;
}

std::string TLanTransport::StoppedAnswering(const std::string& why) const {
  return WithHost(_("The instrument at %s stopped answering:"), Address.Host) + " " + why;
}

// ---- raw socket ----

TLanSocketInterface::TLanSocketInterface(TLanAddress address) : TLanTransport(std::move(address)) {}

TLanSocketInterface::~TLanSocketInterface() {
  try {
    Close();
  } catch (...) {
  }
}

void TLanSocketInterface::Open() {
  std::lock_guard guard(lock_);
  if (handle_ >= 0) return;
  const int fd = ConnectSocket(Address.Host, Address.Port, ConnectTimeoutMs);
  KeepAlive(fd);
  handle_ = fd;
  pending_.clear();
}

EConnectionError TLanSocketInterface::Lost(const std::string& lastBytes) const {
  // An instrument serving someone else says so in one line and closes.
  if (lastBytes.starts_with(kBusyReply))
    return EConnectionError(
        WithHost(_("The instrument at %s is serving another client."), Address.Host));
  return EConnectionError(StoppedAnswering(_("The connection to the device was lost")));
}

void TLanSocketInterface::Close() {
  std::lock_guard guard(lock_);
  if (handle_ < 0) return;
  const int fd = handle_;
  handle_ = -1;
  pending_.clear();
  ::close(fd);
}

void TLanSocketInterface::DoSend(const std::string& command) {
  std::lock_guard guard(lock_);
  if (handle_ < 0) throw EConnectionError(_("No device connected"));
  // Stale input first, as the serial line does: a late reply must not answer the next query.
  std::string stale;
  stale.swap(pending_);
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::recv(handle_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      if (stale.size() < 256) stale.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) throw Lost(stale);
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    if (errno == EINTR) continue;
    // A busy instrument that closed before our command arrived resets the connection after its
    // line: the line still says why.
    if (stale.starts_with(kBusyReply)) throw Lost(stale);
    throw EConnectionError(StoppedAnswering(std::strerror(errno)));
  }
  // The refusal of an instrument serving someone else is no stale reply to drop, even when its
  // close is still on the way.
  if (stale.starts_with(kBusyReply)) throw Lost(stale);
  const std::string data = command + '\n';
  std::size_t written = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (written < data.size()) {
    const ssize_t n =
        ::send(handle_, data.data() + written, data.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      const int error = errno;
      if (ReadWhatIsLeft().starts_with(kBusyReply)) throw Lost(kBusyReply);
      throw EConnectionError(
          StoppedAnswering(WithErrorCode(_("Data could not be sent. Error code is"), error)));
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{handle_, POLLOUT, 0};
    ::poll(&pfd, 1, static_cast<int>(left));
  }
  if (written < data.size())
    throw ETransceiveError(StoppedAnswering(_("Could not send complete data")));
}

std::string TLanSocketInterface::ReadWhatIsLeft() {
  std::string left;
  char chunk[512];
  for (;;) {
    const ssize_t n = ::recv(handle_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0 && left.size() < 256) {
      left.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return left;
  }
}

std::string TLanSocketInterface::DoReceive(uint32_t timeoutMs) {
  std::lock_guard guard(lock_);
  if (handle_ < 0) throw EConnectionError(_("No device connected"));
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string& buffer = pending_;
  char chunk[4096];
  while (buffer.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw ETimeoutError(StoppedAnswering(_("The connection timed out")));
    pollfd pfd{handle_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) throw EConnectionError(StoppedAnswering(std::strerror(errno)));
    if (ready <= 0) continue;
    const ssize_t n = ::recv(handle_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
      if (buffer.size() > kMaxReplyBytes && buffer.find('\n') == std::string::npos)
        buffer.erase(0, buffer.size() - kMaxReplyBytes);
    } else if (n == 0) {
      throw Lost(buffer);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      // A reset or a keep-alive that went unanswered.
      if (buffer.starts_with(kBusyReply)) throw Lost(buffer);
      throw EConnectionError(StoppedAnswering(std::strerror(errno)));
    }
  }
  const auto lf = buffer.find('\n');
  std::string answer;
  for (std::size_t i = 0; i < lf; ++i)
    if (buffer[i] != '\r') answer += buffer[i];
  buffer.erase(0, lf + 1);
  if (answer.starts_with(kBusyReply)) throw Lost(answer);
  return answer;
}

// ---- VXI-11 ----

TLanVxiInterface::TLanVxiInterface(TLanAddress address) : TLanTransport(std::move(address)) {}

TLanVxiInterface::~TLanVxiInterface() {
  try {
    Close();
  } catch (...) {
  }
}

void TLanVxiInterface::Open() {
  std::lock_guard guard(lock_);
  if (device_ >= 0) return;
  std::call_once(gLxiInit, [] { lxi_init(); });
  // The port mapper answers first: a host that is off or has none is said at once, instead of
  // after the RPC library's own much longer wait.
  const int probe = ConnectSocket(Address.Host, kPortMapperPort, ConnectTimeoutMs);
  ::close(probe);
  TNoBrokenPipe noPipe;
  const int device = lxi_connect(Address.Host.c_str(), 0, Address.Device.c_str(),
                                 static_cast<int>(ConnectTimeoutMs), VXI11);
  if (device < 0)
    throw EConnectionError(
        WithHost(_("The instrument at %s does not accept a VXI-11 link (it may be serving another "
                   "client)."),
                 Address.Host));
  device_ = device;
}

bool TLanVxiInterface::HostAnswers() const {
  try {
    ::close(ConnectSocket(Address.Host, kPortMapperPort, kHostCheckMs));
    return true;
  } catch (const EConnectionError&) {
    return false;
  }
}

void TLanVxiInterface::Close() {
  std::lock_guard guard(lock_);
  if (device_ < 0) return;
  const int device = device_;
  device_ = -1;
  TNoBrokenPipe noPipe;
  lxi_disconnect(device);
}

void TLanVxiInterface::DoSend(const std::string& command) {
  std::lock_guard guard(lock_);
  if (device_ < 0) throw EConnectionError(_("No device connected"));
  // A write clears the instrument's output queue, so no stale reply can answer the next query.
  const std::string data = command + '\n';
  TNoBrokenPipe noPipe;
  const int n = lxi_send(device_, data.data(), static_cast<int>(data.size()), kWriteTimeoutMs);
  if (n != static_cast<int>(data.size()))
    throw EConnectionError(StoppedAnswering(_("Data could not be sent.")));
}

std::string TLanVxiInterface::DoReceive(uint32_t timeoutMs) {
  std::lock_guard guard(lock_);
  if (device_ < 0) throw EConnectionError(_("No device connected"));
  std::string buffer(kMaxReplyBytes, '\0');
  TNoBrokenPipe noPipe;
  const auto start = Clock::now();
  const int n = lxi_receive(device_, buffer.data(), static_cast<int>(buffer.size()),
                            static_cast<int>(timeoutMs));
  if (n < 0) {
    // liblxi reports a time-out and a lost link alike. A read that failed before its time was
    // up did not time out: the link broke (the instrument closed it, or is gone). One that used
    // its time is a time-out while the host still answers; a host whose port mapper no longer
    // answers either is gone, whatever held the reply back.
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (waited < static_cast<long long>(timeoutMs) / 2 || !HostAnswers())
      throw EConnectionError(StoppedAnswering(_("The connection to the device was lost")));
    throw ETimeoutError(StoppedAnswering(_("The connection timed out")));
  }
  buffer.resize(static_cast<std::size_t>(n));
  while (!buffer.empty() && (buffer.back() == '\n' || buffer.back() == '\r')) buffer.pop_back();
  const auto previous = buffer.rfind('\n');
  std::string answer;
  for (std::size_t i = previous == std::string::npos ? 0 : previous + 1; i < buffer.size(); ++i)
    if (buffer[i] != '\r') answer += buffer[i];
  return answer;
}

std::shared_ptr<TLanTransport> MakeLanTransport(const TLanAddress& address) {
  if (address.Socket) return std::make_shared<TLanSocketInterface>(address);
  return std::make_shared<TLanVxiInterface>(address);
}

// ---- the LAN node ----

void TLanInterface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.clear();
  auto bus = std::make_shared<TLanInterface>();
  interfaces.push_back(bus);
}

namespace {

// `unreachable` is set when the host itself did not answer, so its other transport is not tried:
// a host that is off costs one connect time-out, not two.
std::shared_ptr<TDevice> Probe(std::shared_ptr<TLanTransport> transport, bool& unreachable,
                               std::string& foreign) {
  transport->Name = "LAN";
  transport->ConnectTimeoutMs = TLanInterface::kProbeConnectMs;
  std::string reply;
  try {
    reply = ReadIdentification(*transport, TLanInterface::kProbeReplyMs);
  } catch (const EHostUnreachableError&) {
    unreachable = true;
    return nullptr;
  } catch (...) {
    return nullptr;
  }
  if (!IsMakerReply(reply)) {
    foreign = reply;
    return nullptr;
  }
  transport->ConnectTimeoutMs = 3000;
  return MakeIdentifiedDevice(reply, transport);
}

struct TDiscovered {
  std::vector<std::string> Hosts;
};
TDiscovered* gDiscovered = nullptr;  // only while lxi_discover runs, under gDiscoverLock
std::mutex gDiscoverLock;

extern "C" void OnLxiDevice(const char* address, const char*) {
  if (gDiscovered && address) gDiscovered->Hosts.emplace_back(address);
}
extern "C" void OnLxiService(const char* address, const char*, const char*, int) {
  if (gDiscovered && address) gDiscovered->Hosts.emplace_back(address);
}

std::vector<std::string> Discover() {
  std::lock_guard guard(gDiscoverLock);
  std::call_once(gLxiInit, [] { lxi_init(); });
  TDiscovered found;
  gDiscovered = &found;
  lxi_info_t info{};
  info.device = OnLxiDevice;
  info.service = OnLxiService;
  lxi_discover(&info, 1000, DISCOVER_VXI11);
  lxi_discover(&info, 2000, DISCOVER_MDNS);
  gDiscovered = nullptr;
  return found.Hosts;
}

}  // namespace

void TLanInterface::GetDevices(TDeviceList& devices) {
  devices.clear();
  OtherInstruments.clear();
  auto entries = ListLanHosts();
  if (LanDiscoveryEnabled())
    for (const auto& host : Discover())
      if (std::none_of(entries.begin(), entries.end(),
                       [&](const TLanHostEntry& e) { return e.Host == host; }))
        entries.push_back({host, kDefaultScpiPort, true, true});
  for (const auto& entry : entries) {
    if (CancelRequested()) return;  // a dead host costs a second: the rest is not waited for
    bool unreachable = false;
    if (entry.Raw) {
      TLanAddress address;
      address.Host = entry.Host;
      address.Port = entry.Port;
      std::string foreign;
      if (auto device = Probe(std::make_shared<TLanSocketInterface>(address), unreachable, foreign))
        devices.push_back(device);
      else if (!foreign.empty())
        OtherInstruments.push_back({address, foreign});
    }
    if (entry.Vxi && !unreachable && !CancelRequested()) {
      TLanAddress address;
      address.Host = entry.Host;
      address.Socket = false;
      std::string foreign;
      if (auto device = Probe(std::make_shared<TLanVxiInterface>(address), unreachable, foreign))
        devices.push_back(device);
      else if (!foreign.empty())
        OtherInstruments.push_back({address, foreign});
    }
  }
}

}  // namespace ondrevo

#if defined(__SANITIZE_THREAD__)
// liblxi waits for its connecting thread in its own way (a timed join, a mutex it destroys while
// the sanitizer still counts it held); its inner workings are not ours to check.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:liblxi.so\n";
}
#endif

#if defined(__SANITIZE_ADDRESS__)
// liblxi keeps a few bytes of every VXI-11 connect for good (the connecting thread's status),
// which is not ours to mend; the leak check of sanitized builds passes over it.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:liblxi.so\nleak:libtirpc.so\n";
}
#endif
