// The fronts over a real pty and a real loopback socket, with every fault switch. Every read
// waits with poll and a time-out, so a fault here fails a test instead of hanging it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "sim/Demo.h"
#include "sim/Front.h"
#include "sim/Ksv7340Sim.h"

namespace ondrevo::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The program's side of the line: an fd it writes lines to and reads bytes from.
class Client {
 public:
  explicit Client(int fd) : fd_(fd) {}
  static Client OpenPty(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    termios settings{};
    if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd, TCSANOW, &settings);
    }
    return Client(fd);
  }
  static Client Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return Client(fd);
  }
  Client(Client&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }

  void Write(const std::string& text) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + 5s;
    while (done < text.size() && Clock::now() < deadline) {
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, 100);
      const ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN) break;
    }
  }
  // Bytes until a line feed (returned without it) or the time-out (nullopt; `partial` keeps
  // what came). `hungUp` is set when the other end went away.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
      const auto end = partial.find('\n');
      if (end != std::string::npos) {
        std::string line = partial.substr(0, end);
        partial.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[65536];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        partial.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        hungUp = true;
        return std::nullopt;
      }
    }
  }
  std::optional<std::string> Query(const std::string& line,
                                   std::chrono::milliseconds timeout = 2000ms) {
    Write(line + "\n");
    return ReadLine(timeout);
  }

  std::string partial;
  bool hungUp = false;

 private:
  int fd_;
};

std::shared_ptr<TSimInstrument> Supply() {
  return CreateSimInstrument("KSV 7342-80", "4711", MakeScaledClock(100));
}

const std::string Identification = "KESTRAVO,KSV7342-80,4711,1.02";

TEST(PtyFront, AnswersQueriesAndLogsEveryLineWithoutLineEnds) {
  TPtyFront front(Supply());
  ASSERT_EQ(front.Path().rfind("/dev/pts/", 0), 0u);
  auto client = Client::OpenPty(front.Path());
  EXPECT_EQ(client.Query(";*IDN?"), Identification);
  // A line in pieces, with a carriage return, and a command without a reply in between.
  client.Write("SOUR:VOLT");
  std::this_thread::sleep_for(20ms);
  client.Write("? MAX\r\nVOLT 2.000\nVOLT?\n");
  EXPECT_EQ(client.ReadLine(2000ms), "80.000");
  EXPECT_EQ(client.ReadLine(2000ms), "2.000");
  EXPECT_EQ(front.Instrument()->ReceivedLines(),
            (std::vector<std::string>{";*IDN?", "SOUR:VOLT? MAX", "VOLT 2.000", "VOLT?"}));
  // Clients come and go; the pty stays.
  { auto second = Client::OpenPty(front.Path()); }
  auto third = Client::OpenPty(front.Path());
  EXPECT_EQ(third.Query("*OPC?"), "1");
}

TEST(PtyFront, NoReplyAndPartialLineLeaveTheClientWithoutALine) {
  TPtyFront front(Supply());
  auto client = Client::OpenPty(front.Path());
  TSimFaults faults;
  faults.NoReply = true;
  front.SetFaults(faults);
  EXPECT_EQ(client.Query("*IDN?", 300ms), std::nullopt);
  EXPECT_EQ(client.partial, "");

  faults = {};
  faults.PartialLine = true;
  faults.Replies = 1;  // only the next reply
  front.SetFaults(faults);
  EXPECT_EQ(client.Query("*IDN?", 300ms), std::nullopt);
  EXPECT_EQ(client.partial, Identification.substr(0, (Identification.size() + 1) / 2));
  client.partial.clear();
  EXPECT_EQ(client.Query("*OPC?"), "1");
  // The queries were still carried out.
  EXPECT_EQ(front.Instrument()->ReceivedLines().size(), 3u);
}

TEST(PtyFront, LateReplyArrivesAfterItsTimeAndHoldsBackTheNextOne) {
  TPtyFront front(Supply());
  auto client = Client::OpenPty(front.Path());
  TSimFaults faults;
  faults.LateReplyMs = 400;
  faults.Replies = 1;
  front.SetFaults(faults);
  const auto start = Clock::now();
  EXPECT_EQ(client.Query("*IDN?", 150ms), std::nullopt);
  // The next query is answered in order, after the late reply.
  client.Write("*OPC?\n");
  EXPECT_EQ(client.ReadLine(2000ms), Identification);
  EXPECT_GE(Clock::now() - start, 380ms);
  EXPECT_EQ(client.ReadLine(2000ms), "1");
}

TEST(PtyFront, GarbageOfOneMebibyteHasNoLineFeed) {
  TPtyFront front(Supply());
  auto client = Client::OpenPty(front.Path());
  TSimFaults faults;
  faults.GarbageBytes = 1 << 20;
  faults.Replies = 1;
  front.SetFaults(faults);
  client.Write("*IDN?\n");
  while (client.partial.size() < faults.GarbageBytes && client.ReadLine(2000ms) == std::nullopt &&
         !client.hungUp) {
  }
  EXPECT_EQ(client.partial.size(), faults.GarbageBytes);
  EXPECT_EQ(client.partial.find_first_of("\n\r\x11\x13"), std::string::npos);
  client.partial.clear();
  EXPECT_EQ(client.Query("*OPC?"), "1");
}

TEST(PtyFront, HangsUpMidUploadAndComesBackBehindItsLink) {
  const auto link =
      std::filesystem::temp_directory_path() / ("ondrevo-sim-test-" + std::to_string(getpid()));
  auto front = std::make_unique<TPtyFront>(Supply(), link.string());
  ASSERT_EQ(front->Path(), link.string());
  {
    auto client = Client::OpenPty(front->Path());
    TSimFaults faults;
    faults.HangUpAfterBytes = 30;
    front->SetFaults(faults);
    EXPECT_EQ(client.Query("LIST:VOLT 0,1.000;*OPC?"), "1");  // 23 bytes
    client.Write("LIST:CURR 0,1.000;*OPC?\n");                // cut after 7 more
    EXPECT_EQ(client.ReadLine(2000ms), std::nullopt);
    EXPECT_TRUE(client.hungUp);
    EXPECT_EQ(front->HangUps(), 1);
  }
  // The cut line never reached the instrument.
  EXPECT_EQ(front->Instrument()->ReceivedLines().size(), 1u);
  // The link now leads to a new pty that answers; the hang-up happened once only.
  auto again = Client::OpenPty(front->Path());
  EXPECT_EQ(again.Query(std::string(100, ' ') + "*IDN?"), Identification);
  EXPECT_EQ(front->HangUps(), 1);
  front.reset();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(TcpFront, ServesOnLoopbackAndDropsTheClientOnHangUp) {
  TTcpFront front(Supply(), 0);
  ASSERT_GT(front.Port(), 0);
  {
    auto client = Client::Connect(front.Port());
    EXPECT_EQ(client.Query(";*IDN?"), Identification);
    TSimFaults faults;
    faults.HangUpAfterBytes = 0;
    front.SetFaults(faults);
    client.Write("*OPC?\n");
    EXPECT_EQ(client.ReadLine(2000ms), std::nullopt);
    EXPECT_TRUE(client.hungUp);
  }
  auto next = Client::Connect(front.Port());
  EXPECT_EQ(next.Query("*OPC?"), "1");
  front.SetFaults({.CrLf = true});
  EXPECT_EQ(next.Query("*OPC?"), "1\r");
  // Nothing listens on the other addresses of this machine.
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_ANY);
  bound.sin_port = htons(static_cast<std::uint16_t>(front.Port()));
  // Binding the wildcard address to the same port fails only if the front had taken it.
  EXPECT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&bound), length), -1);
  close(probe);
}

TEST(TcpFront, AnIdleClientDoesNotBlockOthersTheyAreTurnedAwayAtOnce) {
  TTcpFront front(Supply(), 0);
  auto first = Client::Connect(front.Port());
  EXPECT_EQ(first.Query(";*IDN?"), Identification);
  // The first client idles; two more are told at once and closed, not left waiting.
  for (int k = 0; k < 2; ++k) {
    auto other = Client::Connect(front.Port());
    const auto start = Clock::now();
    EXPECT_EQ(other.ReadLine(2000ms), TTcpFront::kBusyLine);
    EXPECT_EQ(other.ReadLine(2000ms), std::nullopt);
    EXPECT_TRUE(other.hungUp);
    EXPECT_LT(Clock::now() - start, 1500ms);
  }
  EXPECT_EQ(first.Query("*OPC?"), "1");
  { Client gone = std::move(first); }
  // Once the first has gone, the next one is served.
  std::optional<std::string> reply;
  for (int attempt = 0; attempt < 20 && reply != "1"; ++attempt) {
    auto next = Client::Connect(front.Port());
    reply = next.Query("*OPC?");
  }
  EXPECT_EQ(reply, "1");
}

TEST(Demo, StartsTwoSuppliesAndPutsThemFirstInThePortList) {
  setenv("ONDREVO_SERIAL_PORTS", "/dev/ttyX9", 1);
  {
    TDemoInstruments demo(50);
    const auto paths = demo.Paths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(std::string(std::getenv("ONDREVO_SERIAL_PORTS")),
              paths[0] + ":" + paths[1] + ":/dev/ttyX9");
    auto a = Client::OpenPty(paths[0]);
    auto b = Client::OpenPty(paths[1]);
    EXPECT_EQ(a.Query(";*IDN?").value_or("").rfind("KESTRAVO,KSV7342-80,", 0), 0u);
    EXPECT_EQ(b.Query(";*IDN?").value_or("").rfind("KESTRAVO,KSV7341-20,", 0), 0u);
  }
  EXPECT_EQ(std::string(std::getenv("ONDREVO_SERIAL_PORTS")), "/dev/ttyX9");
  unsetenv("ONDREVO_SERIAL_PORTS");
}

// The demo's supply over VXI-11 is there only where clients can find it through the port
// mapper, and listed in the hosts only then; otherwise the demo says why it is missing.
TEST(Demo, OffersVxi11OnlyWhereItCanBeFoundAndSaysWhyNot) {
  unsetenv("ONDREVO_LAN_HOSTS");
  {
    TDemoInstruments demo(50);
    const std::string hosts = std::getenv("ONDREVO_LAN_HOSTS");
    if (demo.VxiFront()) {
      EXPECT_TRUE(demo.VxiFront()->Registered());
      EXPECT_TRUE(demo.Notes().empty());
      EXPECT_NE(hosts.find("TCPIP::127.0.0.1::INSTR"), std::string::npos) << hosts;
    } else {
      ASSERT_EQ(demo.Notes().size(), 1u);
      EXPECT_NE(demo.Notes()[0].find("(TCPIP::127.0.0.1::INSTR) is not started"), std::string::npos)
          << demo.Notes()[0];
      EXPECT_NE(demo.Notes()[0].find("port mapper"), std::string::npos) << demo.Notes()[0];
      EXPECT_EQ(hosts.find("INSTR"), std::string::npos) << hosts;
    }
  }
  EXPECT_EQ(std::getenv("ONDREVO_LAN_HOSTS"), nullptr);
}

// Every supply of the demo records its output into the folder named, under its model and
// serial number; what played until the demo ends is in the files.
TEST(Demo, RecordsEverySupplyIntoTheFolderGiven) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("ondrevo-demo-record-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  setenv("ONDREVO_SIM_RECORD", dir.c_str(), 1);
  {
    TDemoInstruments demo(50);
    auto a = Client::OpenPty(demo.Paths()[0]);
    EXPECT_EQ(a.Query("VOLT 12.500;OUTP ON;*OPC?"), "1");
  }
  unsetenv("ONDREVO_SIM_RECORD");
  auto read = [&](const std::string& name) {
    std::ifstream in(dir / name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  };
  const auto c = read("KSV7342-80-734280001.csv");
  ASSERT_EQ(c.size(), 5u);  // header, both channels at rest, 12.5 V set, output on
  EXPECT_EQ(c[0], "time_s,channel,voltage_V,current_limit_A,output");
  EXPECT_TRUE(c[3].ends_with(",0,12.5,0,0")) << c[3];
  EXPECT_TRUE(c[4].ends_with(",0,12.5,0,1")) << c[4];
  EXPECT_EQ(read("KSV7341-20-734120001.csv").size(), 2u);
  // The supplies behind the bus stand-ins record too (where this build has the stand-ins).
  for (const char* name : {"KSV5206-40-520640001.csv", "KSV6141-80-614180001.csv"})
    if (std::filesystem::exists(GpibSimLibraryPath())) EXPECT_FALSE(read(name).empty()) << name;
  // A folder that cannot take the files: the demo does not start, nothing is left changed.
  setenv("ONDREVO_SIM_RECORD", (dir / "missing" / "deeper").c_str(), 1);
  unsetenv("ONDREVO_GPIB_LIBRARY");
  EXPECT_THROW(TDemoInstruments(50), std::runtime_error);
  EXPECT_EQ(std::getenv("ONDREVO_GPIB_LIBRARY"), nullptr);
  unsetenv("ONDREVO_SIM_RECORD");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace ondrevo::sim
