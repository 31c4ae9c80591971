// A family-C device on a LAN transport against a simulated instrument, with its event log and
// trace, shared by the raw-socket and VXI-11 tests.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/MainThread.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "sim/Instrument.h"
#include "sim/Ksv7340Sim.h"
#include "transports/LanInterface.h"

namespace ondrevo::testing {

// `levels` held levels of `hold` seconds each.
inline std::shared_ptr<TWaveform> Staircase(int levels, double hold, double first, double step) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    SegmentRow a, b;
    a.Time = k * hold;
    a.Value = first + k * step;
    b.Time = (k + 1) * hold;
    b.Value = first + k * step;
    table[row++] = a;
    table[row++] = b;
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

// A listening socket on the loopback at a free port, closed with the object: a peer that the
// tests script by hand.
class TLoopbackListener {
 public:
  explicit TLoopbackListener(int backlog = 4) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "no loopback listener";
    port_ = ntohs(address.sin_port);
  }
  ~TLoopbackListener() { ::close(fd_); }
  TLoopbackListener(const TLoopbackListener&) = delete;
  TLoopbackListener& operator=(const TLoopbackListener&) = delete;
  int Fd() const { return fd_; }
  int Port() const { return port_; }
  TLanAddress Address() const {
    TLanAddress address;
    address.Host = "127.0.0.1";
    address.Port = port_;
    return address;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class TLanRunFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    queue.Install();
    instrument = sim::CreateSimInstrument("KSV 7342-80", "100001", sim::MakeScaledClock(10.0));
  }
  void Attach(std::shared_ptr<TLanTransport> lan) {
    transport = std::move(lan);
    transport->SetTraceObserver([this](const std::string& line) {
      std::lock_guard g(traceLock);
      trace.push_back(line);
    });
    device = std::make_shared<TKsv7340Device>("KSV 7342-80", transport, "100001");
    device->SetOnUploadDone([this](IDevice*) { log.push_back("done"); });
    device->SetOnError([this](IDevice*, const std::exception& e) {
      log.push_back(std::string("error: ") + e.what());
    });
    device->SetOnBurst([this](IDevice*, int n) { log.push_back("burst " + std::to_string(n)); });
    device->SetOnPlay([this](IDevice*) { log.push_back("play"); });
    device->SetOnStop([this](IDevice*) { log.push_back("stop"); });
  }
  void TearDown() override {
    if (device) {
      queue.PumpUntil([&] { return !device->HasRunningThreads(); }, std::chrono::seconds(20));
      if (device->IsConnected()) device->Disconnect();
    }
    device.reset();
    transport.reset();
    TMainThread::SetDispatcher(nullptr);
  }
  bool WaitThreads(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    return queue.PumpUntil([&] { return !device->HasRunningThreads(); }, limit);
  }
  std::vector<std::string> Sent() {
    std::lock_guard g(traceLock);
    std::vector<std::string> out;
    for (auto& l : trace)
      if (l.starts_with("> ")) out.push_back(l.substr(2));
    return out;
  }
  // Connected device: upload a staircase, play three bursts, stop, disconnect.
  void RunUploadAndThreeBursts() {
    device->Upload(Staircase(20, 0.1, 1.0, 0.5), Staircase(20, 0.1, 0.5, 0.1), false);
    ASSERT_TRUE(WaitThreads());
    ASSERT_THAT(log, ::testing::ElementsAre("done"));
    auto& sim = dynamic_cast<sim::TKsv7340Sim&>(*instrument);
    EXPECT_DOUBLE_EQ(sim.ListVoltage(19), 10.5);
    device->SetBurstCount(3);
    log.clear();
    device->Play();
    ASSERT_TRUE(WaitThreads(std::chrono::seconds(20)));
    EXPECT_THAT(log, ::testing::ElementsAre("play", "burst 2", "burst 3", "stop"));
    device->Disconnect();
    // The local command may still be on its way.
    EXPECT_TRUE(queue.PumpUntil([&] { return !sim.Remote(); }, std::chrono::seconds(5)));
  }

  TEventQueue queue;
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::shared_ptr<TLanTransport> transport;
  std::shared_ptr<TKsv7340Device> device;
  std::mutex traceLock;
  std::vector<std::string> trace;
  std::vector<std::string> log;
};

}  // namespace ondrevo::testing
