#include "transports/RS232Interface.h"

#include <fcntl.h>
#include <libserialport.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "devices/Device.h"
#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/Probe.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::mutex gDefaultsLock;
TRS232Settings gDefaults;

// Write time-out of the port.
constexpr int kWriteTimeoutMs = 3000;
// Only the last line of a reply matters; older bytes beyond this are dropped.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

using Clock = std::chrono::steady_clock;

bool BaudConstant(int32_t baud, speed_t& out) {
  static const std::pair<int32_t, speed_t> kRates[] = {
      {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& [rate, constant] : kRates)
    if (rate == baud) {
      out = constant;
      return true;
    }
  return false;
}

std::string WithPath(const char* text, const std::string& path) {
  std::string out = text;
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, path);
  return out;
}

}  // namespace

std::string TRS232Interface::StoppedAnswering(const std::string& systemText) const {
  return WithPath(_("The instrument on %s stopped answering:"), openPath_) + " " + systemText;
}

void SetRS232Defaults(const TRS232Settings& settings) {
  std::lock_guard guard(gDefaultsLock);
  gDefaults = settings;
}

TRS232Settings GetRS232Defaults() {
  std::lock_guard guard(gDefaultsLock);
  return gDefaults;
}

std::vector<std::string> ListSerialPorts() {
  std::vector<std::string> paths;
  struct sp_port** ports = nullptr;
  if (sp_list_ports(&ports) == SP_OK && ports) {
    for (int i = 0; ports[i]; ++i)
      if (const char* name = sp_get_port_name(ports[i])) paths.emplace_back(name);
    sp_free_port_list(ports);
  }
  if (const char* extra = std::getenv("ONDREVO_SERIAL_PORTS")) {
    std::string_view rest(extra);
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      const std::string path(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end())
        paths.push_back(path);
    }
  }
  return paths;
}

TRS232Interface::TRS232Interface(int32_t portNumber, std::string devicePath)
    : PortNumber(portNumber), DevicePath(std::move(devicePath)), Settings(GetRS232Defaults()) {}

TRS232Interface::~TRS232Interface() {
  try {
    Close();
  } catch (...) {
  }
}

std::string TRS232Interface::ResolvePath() const {
  if (!DevicePath.empty()) return DevicePath;
  const auto ports = ListSerialPorts();
  if (PortNumber >= 1 && static_cast<std::size_t>(PortNumber) <= ports.size())
    return ports[PortNumber - 1];
  return {};
}

void TRS232Interface::Open() {
  if (handle_ < 0) {
    const std::string path = ResolvePath();
    const int fd =
        path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw ENotInstalledError(_("The requested COM port does not exist."));
    // Nobody else may use the port while it is open here (discovery probes included).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      throw ENotInstalledError(
          WithPath(_("The serial port %s is in use by another program."), path));
    }
    {
      std::lock_guard guard(lock_);
      handle_ = fd;
      openPath_ = path;
    }
    Configure();
  }
  // Stale input only: flushing output would drop the last lines an earlier user of the port
  // wrote and that have not gone out yet, such as the "SYST:LOC" that ends a probe.
  if (::tcflush(handle_, TCIFLUSH) != 0 && errno != 0) {
    const int code = errno;
    Close();
    throw ENotInstalledError(WithErrorCode(_("Error while purging COM port. Error code is"), code));
  }
}

void TRS232Interface::Configure() {
  termios tio{};
  if (::tcgetattr(handle_, &tio) != 0 && errno != 0) {
    const int code = errno;
    const std::string path = openPath_;
    Close();
    std::string text = WithErrorCode(_("Could not load COM port settings. Error code is"), code);
    if (code == ENOTTY) text = WithPath(_("%s is not a serial port:"), path) + " " + text;
    throw EConnectionError(text);
  }
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  switch (Settings.DataBits) {
    case 5:
      tio.c_cflag |= CS5;
      break;
    case 6:
      tio.c_cflag |= CS6;
      break;
    case 7:
      tio.c_cflag |= CS7;
      break;
    default:
      tio.c_cflag |= CS8;
      break;
  }
  if (Settings.Parity == 1) tio.c_cflag |= PARENB | PARODD;
  if (Settings.Parity == 2) tio.c_cflag |= PARENB;
  if (Settings.StopBits == 2) tio.c_cflag |= CSTOPB;
  // The handshake value is a pattern of flow-control bits: 0x100 send Xon/Xoff, 0x200 receive
  // Xon/Xoff, 0x4 CTS output flow, 0x2000 RTS handshake. DSR flow has no termios equivalent;
  // DTR and RTS stay asserted for it.
  const int32_t h = Settings.Handshake;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (h & 0x100) tio.c_iflag |= IXON;
  if (h & 0x200) tio.c_iflag |= IXOFF;
  if ((h & 0x4) || (h & 0x3000) == 0x2000) tio.c_cflag |= CRTSCTS;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  speed_t speed{};
  int code = 0;
  if (!BaudConstant(Settings.BaudRate, speed))
    code = EINVAL;
  else if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
           ::tcsetattr(handle_, TCSANOW, &tio) != 0)
    code = errno;
  if (code == EINVAL) {
    Close();
    throw EBaudRateError(std::string(_("The serial port does not take the baud rate")) + " " +
                         std::to_string(Settings.BaudRate));
  }
  if (code != 0) {
    Close();
    throw EConnectionError(
        WithErrorCode(_("Could not setup COM port for communication. Error code is"), code));
  }
  // Modem lines of a real port; a pseudo-terminal has none, which is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(handle_, TIOCMBIS, &lines);
}

void TRS232Interface::Close() {
  // Under the lock: a Send or Receive of another thread finishes before the port goes.
  std::lock_guard guard(lock_);
  if (handle_ < 0) return;
  const int fd = handle_;
  // The descriptor is released whatever close reports; keeping it would later close a
  // descriptor the system has handed to someone else.
  handle_ = -1;
  if (::close(fd) != 0 && errno != EINTR)
    throw EInterfaceError(
        WithErrorCode(_("The COM port could not be closed. Error code is"), errno));
}

void TRS232Interface::DoSend(const std::string& command) {
  std::lock_guard guard(lock_);
  if (handle_ < 0) throw EConnectionError(_("No device connected"));
  if (::tcflush(handle_, TCIFLUSH) != 0 && errno != 0)
    throw ETransceiveError(StoppedAnswering(
        WithErrorCode(_("The input buffer could not be cleared. Error code is"), errno)));
  const std::string data = command + '\n';
  std::size_t written = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (written < data.size()) {
    const ssize_t n = ::write(handle_, data.data() + written, data.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      throw ETransceiveError(
          StoppedAnswering(WithErrorCode(_("Data could not be sent. Error code is"), errno)));
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{handle_, POLLOUT, 0};
    ::poll(&pfd, 1, static_cast<int>(left));
  }
  if (written < data.size())
    throw ETransceiveError(StoppedAnswering(_("Could not send complete data")));
}

std::string TRS232Interface::DoReceive(uint32_t timeoutMs) {
  std::lock_guard guard(lock_);
  if (handle_ < 0) throw EConnectionError(_("No device connected"));
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string buffer;
  char chunk[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd pfd{handle_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready > 0) {
      // A hung-up line reports HUP (and EIO on read) at once: no spinning on it.
      if (!(pfd.revents & POLLIN))
        throw EConnectionError(StoppedAnswering(_("The connection to the device was lost")));
      const ssize_t n = ::read(handle_, chunk, sizeof chunk);
      if (n > 0) {
        buffer.append(chunk, static_cast<std::size_t>(n));
        if (buffer.back() == '\n') break;
        if (buffer.size() > kMaxReplyBytes) {
          const auto lf = buffer.rfind('\n');
          buffer.erase(0, lf != std::string::npos ? lf + 1 : buffer.size() - kMaxReplyBytes);
        }
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        throw EConnectionError(StoppedAnswering(_("The connection to the device was lost")));
      }
    } else if (ready < 0 && errno != EINTR) {
      throw EConnectionError(StoppedAnswering(_("The connection to the device was lost")));
    }
    // Also when bytes keep coming without a line end.
    if (Clock::now() >= deadline) throw ETimeoutError(_("The connection timed out"));
  }
  // The last line, without its CRs.
  buffer.pop_back();
  const auto previous = buffer.rfind('\n');
  std::string answer;
  for (std::size_t i = previous == std::string::npos ? 0 : previous + 1; i < buffer.size(); ++i)
    if (buffer[i] != '\r') answer += buffer[i];
  return answer;
}

void TRS232Interface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.clear();
  auto port = std::make_shared<TRS232Interface>(1);
  port->Name = "COM";
  interfaces.push_back(port);
}

void TRS232Interface::GetDevices(TDeviceList& devices) {
  devices.clear();
  OtherInstruments.clear();
  const auto ports = ListSerialPorts();
  const int32_t count = std::min<int32_t>(static_cast<int32_t>(ports.size()), kMaxPorts);
  std::string baudRateError;
  for (int32_t n = 1; n <= count; ++n) {
    PortNumber = n;
    DevicePath = ports[n - 1];
    std::string reply;
    try {
      reply = ReadIdentification(*this, kProbeTimeoutMs);
    } catch (const EBaudRateError& e) {
      baudRateError = e.what();
      continue;
    } catch (...) {
      continue;
    }
    if (!IsMakerReply(reply)) {
      const auto end = reply.find_first_of("\r\n");
      if (end != 0 && !reply.empty())
        OtherInstruments.push_back({n, ports[n - 1], reply.substr(0, end)});
      continue;
    }
    auto transport = std::make_shared<TRS232Interface>(n, ports[n - 1]);
    transport->Name = Name;
    devices.push_back(MakeIdentifiedDevice(reply, transport));
  }
  PortNumber = kMaxPorts;
  DevicePath.clear();
  // Otherwise a baud rate no port takes would look like a computer without instruments.
  if (devices.empty() && !baudRateError.empty()) throw EBaudRateError(baudRateError);
}

}  // namespace ondrevo
