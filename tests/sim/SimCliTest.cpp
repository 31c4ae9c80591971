// `ondrevo-cli sim` as users and scripts run it: the first stdout line names the endpoint,
// the instrument answers there, the log file holds what it received, a signal ends it cleanly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Reads from fd up to a line feed or the time-out.
std::optional<std::string> ReadLine(int fd, std::string& buffer,
                                    std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const auto end = buffer.find('\n');
    if (end != std::string::npos) {
      std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0 && errno != EAGAIN && errno != EINTR) return std::nullopt;
    if (n > 0) buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(ONDREVO_CLI), const_cast<char*>("sim")};
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(ONDREVO_CLI, argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stdout_);
  }
  std::optional<std::string> FirstLine() { return ReadLine(stdout_, buffer_, 5000ms); }
  // Exit status after the signal, or -1 when it does not end within 5 s.
  int End(int signal) {
    kill(pid_, signal);
    const auto deadline = Clock::now() + 5s;
    int status = 0;
    while (Clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string buffer_;
  bool exited_ = false;
};

int OpenRawPty(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios settings{};
  if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
  }
  return fd;
}

std::optional<std::string> Query(int fd, std::string& buffer, const std::string& line,
                                 std::chrono::milliseconds timeout = 3000ms) {
  const std::string data = line + "\n";
  EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  return ReadLine(fd, buffer, timeout);
}

TEST(SimCommand, ServesAPtyLogsWhatItHeardAndEndsOnSigterm) {
  const auto log = std::filesystem::temp_directory_path() /
                   ("ondrevo-sim-cli-" + std::to_string(getpid()) + ".log");
  SimProcess sim({"--model", "KSV 7342-80", "--serial", "42", "--pty", "--speed", "100", "--log",
                  log.string()});
  const auto path = sim.FirstLine();
  ASSERT_TRUE(path.has_value());
  const int fd = OpenRawPty(*path);
  ASSERT_GE(fd, 0) << *path;
  std::string buffer;
  EXPECT_EQ(Query(fd, buffer, ";*IDN?"), "KESTRAVO,KSV7342-80,42,1.02");
  // Two points of 1 s played three times at 100 times real time: done within 60 ms.
  const std::vector<std::string> play = {"LIST:SEQ:STAT ON",
                                         "LIST:VOLT 0,1.000,2.000;*OPC?",
                                         "LIST:DWEL 0,1.000,1.000;*OPC?",
                                         "LIST:BLOC 0,0,1,3",
                                         "INIT",
                                         "*TRG",
                                         "STAT:OPER:COND?"};
  for (const auto& line : play) {
    const std::string data = line + "\n";
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  }
  EXPECT_EQ(ReadLine(fd, buffer, 3000ms), "1");
  EXPECT_EQ(ReadLine(fd, buffer, 3000ms), "1");
  EXPECT_EQ(ReadLine(fd, buffer, 3000ms), "8");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Query(fd, buffer, "STAT:OPER:COND?;LIST:SEQ?"), "0;0,1,3");
  close(fd);
  EXPECT_EQ(sim.End(SIGTERM), 0);

  std::ifstream file(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  std::vector<std::string> expected = {";*IDN?"};
  expected.insert(expected.end(), play.begin(), play.end());
  expected.push_back("STAT:OPER:COND?;LIST:SEQ?");
  EXPECT_EQ(lines, expected);
  std::filesystem::remove(log);
}

TEST(SimCommand, ServesTcpWithAFaultOnTheFirstReplyAndEndsOnSigint) {
  SimProcess sim({"--model", "KSV 7341-20", "--tcp", "0", "--no-reply", "--fault-replies", "1"});
  const auto port = sim.FirstLine();
  ASSERT_TRUE(port.has_value());
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(*port)));
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  std::string buffer;
  EXPECT_EQ(Query(fd, buffer, "*IDN?", 300ms), std::nullopt);
  EXPECT_EQ(Query(fd, buffer, "SOUR:CURR? MAX"), "40.000");
  close(fd);
  EXPECT_EQ(sim.End(SIGINT), 0);
}

// The recording: written while the list plays (not only when a line arrives) and brought up to
// the present when a signal ends the simulation.
TEST(SimCommand, RecordsTheOutputUpToTheEndingSignal) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    const auto record = std::filesystem::temp_directory_path() /
                        ("ondrevo-sim-record-" + std::to_string(getpid()) + ".csv");
    SimProcess sim(
        {"--model", "KSV 7341-20", "--pty", "--speed", "100", "--record", record.string()});
    const auto path = sim.FirstLine();
    ASSERT_TRUE(path.has_value());
    const int fd = OpenRawPty(*path);
    ASSERT_GE(fd, 0) << *path;
    std::string buffer;
    // 1 V and 2 V for 0.5 s each, without end; after the start nothing more is sent.
    EXPECT_EQ(Query(fd, buffer,
                    "LIST:SEQ:STAT ON;VOLT 3.000;OUTP ON;LIST:VOLT 0,1.000,2.000;"
                    "LIST:DWEL 0,0.500,0.500;LIST:BLOC 0,0,1,INF;INIT;*TRG;*OPC?"),
              "1");
    auto lines = [&] {
      std::ifstream in(record);
      std::vector<std::string> all;
      for (std::string line; std::getline(in, line);) all.push_back(line);
      return all;
    };
    // The file grows on its own while the list plays.
    const auto deadline = Clock::now() + 20s;
    while (lines().size() < 12 && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    ASSERT_GE(lines().size(), 12u);
    EXPECT_EQ(sim.End(signal), 0);
    close(fd);
    const auto all = lines();
    std::filesystem::remove(record);
    ASSERT_GE(all.size(), 12u);
    EXPECT_EQ(all[0], "time_s,channel,voltage_V,current_limit_A,output");
    // Initial state, 3 V set, output on, then the points at exact half-second steps.
    double start = -1;
    std::size_t points = 0;
    for (std::size_t k = 1; k < all.size(); ++k) {
      const auto comma = all[k].find(',');
      const double time = std::stod(all[k].substr(0, comma));
      const std::string rest = all[k].substr(comma + 1);
      if (rest != "0,1,0,1" && rest != "0,2,0,1") continue;
      if (start < 0) start = time;
      EXPECT_NEAR(time, start + 0.5 * static_cast<double>(points), 1e-6) << all[k];
      EXPECT_EQ(rest, points % 2 ? "0,2,0,1" : "0,1,0,1");
      ++points;
    }
    EXPECT_GE(points, 9u);
    EXPECT_EQ(points, all.size() - 4) << "a line that is neither a point nor the set-up";
  }
}

TEST(SimCommand, RefusesBadUsageAndUnknownModels) {
  EXPECT_EQ(SimProcess({"--model", "KSV 7342-80"}).Wait(), 2);
  EXPECT_EQ(SimProcess({"--model", "KSV 7342-80", "--pty", "--tcp", "0"}).Wait(), 2);
  EXPECT_EQ(SimProcess({"--model", "KSV 7342-80", "--pty", "--speed", "fast"}).Wait(), 2);
  EXPECT_EQ(SimProcess({"--pty"}).Wait(), 2);
  EXPECT_EQ(SimProcess({"--model", "KSV 9999", "--pty"}).Wait(), 1);
}

}  // namespace
