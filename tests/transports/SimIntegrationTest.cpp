// The family-C driver against the simulated instrument over real pseudo-terminals: discovery,
// upload, playback, and the instrument's faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <clocale>
#include <filesystem>
#include <mutex>

#include "devices/DeviceErrors.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "sim/Demo.h"
#include "sim/Front.h"
#include "sim/Ksv7340Sim.h"
#include "transports/RS232Interface.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

SegmentRow Point(double t, double v) {
  SegmentRow row;
  row.Time = t;
  row.Value = v;
  return row;
}

// `levels` held levels of `hold` seconds each.
std::shared_ptr<TWaveform> Staircase(int levels, double hold, double first, double step) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    table[row++] = Point(k * hold, first + k * step);
    table[row++] = Point((k + 1) * hold, first + k * step);
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

// One simulated supply behind a pty reachable under a fixed link path.
class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    queue.Install();
    dir = std::filesystem::temp_directory_path() /
          ("ondrevo-sim-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    instrument = sim::CreateSimInstrument("KSV 7342-80", "100001", sim::MakeScaledClock(10.0));
    front = std::make_unique<sim::TPtyFront>(instrument, (dir / "ttySIM").string());
    transport = std::make_shared<TRS232Interface>(1, front->Path());
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
    device->SetOnDisconnect([this](IDevice*) { log.push_back("disconnect"); });
  }
  void TearDown() override {
    if (device) {
      queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s);
      if (device->IsConnected()) device->Disconnect();
    }
    device.reset();
    front.reset();
    std::filesystem::remove_all(dir);
    TMainThread::SetDispatcher(nullptr);
  }
  bool WaitThreads(std::chrono::milliseconds limit = 20s) {
    return queue.PumpUntil([&] { return !device->HasRunningThreads(); }, limit);
  }
  std::vector<std::string> Sent() {
    std::lock_guard g(traceLock);
    std::vector<std::string> out;
    for (auto& l : trace)
      if (l.starts_with("> ")) out.push_back(l.substr(2));
    return out;
  }

  static inline int counter = 0;
  TEventQueue queue;
  std::filesystem::path dir;
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::unique_ptr<sim::TPtyFront> front;
  std::shared_ptr<TRS232Interface> transport;
  std::shared_ptr<TKsv7340Device> device;
  std::mutex traceLock;
  std::vector<std::string> trace;
  std::vector<std::string> log;
};

TEST_F(SimFixture, UploadAndPlayThreeBursts) {
  device->Connect();
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 80.0);
  // 20 levels of 0.1 s: 2 s per repetition, 200 ms at ten times real time.
  device->Upload(Staircase(20, 0.1, 1.0, 0.5), Staircase(20, 0.1, 0.5, 0.1), false);
  ASSERT_TRUE(WaitThreads());
  ASSERT_THAT(log, ElementsAre("done"));
  EXPECT_EQ(device->GetLastIndex(), 19);
  auto& sim = dynamic_cast<sim::TKsv7340Sim&>(*instrument);
  EXPECT_DOUBLE_EQ(sim.ListVoltage(19), 10.5);
  EXPECT_DOUBLE_EQ(sim.ListDwell(0), 0.1);

  device->SetBurstCount(3);
  EXPECT_EQ(device->GetBurstCount(), 1);  // the list sequence is on
  log.clear();
  device->Play();
  ASSERT_TRUE(WaitThreads(10s));
  EXPECT_THAT(log, ElementsAre("play", "burst 2", "burst 3", "stop"));

  device->Disconnect();
  // The instrument received exactly what the driver traced (the last lines may still be on
  // their way through the pty).
  const auto sent = Sent();
  queue.PumpUntil([&] { return instrument->ReceivedLines().size() >= sent.size(); }, 2s);
  EXPECT_EQ(instrument->ReceivedLines(), sent);
  EXPECT_FALSE(sim.Remote());
}

// A supply that refuses the list: the upload fails with its text and the list is neither bounded
// nor armed; the next upload, once the supply takes lists again, plays as usual.
TEST_F(SimFixture, AListTheSupplyRefusesFailsTheUploadWithItsText) {
  device->Connect();
  instrument->SetInstrumentFaults({"-222,\"Data out of range\"", ""});
  device->Upload(Staircase(20, 0.1, 1.0, 0.5), Staircase(20, 0.1, 0.5, 0.1), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(log,
              ElementsAre("error: The instrument reports an error: -222,\"Data out of range\""));
  auto& sim = dynamic_cast<sim::TKsv7340Sim&>(*instrument);
  EXPECT_TRUE(sim.PendingErrors().empty()) << "the queue was emptied";
  EXPECT_EQ(sim.Block(0).Last, 0) << "never bounded";
  for (const std::string& line : Sent()) EXPECT_NE(line, "INIT");

  log.clear();
  instrument->SetInstrumentFaults({});
  device->Upload(Staircase(20, 0.1, 1.0, 0.5), Staircase(20, 0.1, 0.5, 0.1), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(log, ElementsAre("done"));
  EXPECT_EQ(sim.Block(0).Last, 19);
}

// A second upload without a play between them finds the list still armed: the supply ignores
// the INIT ("Init ignored"), which is no reason to fail the upload that put the new list there.
TEST_F(SimFixture, UploadingAgainWhileArmedSucceeds) {
  device->Connect();
  device->Upload(Staircase(20, 0.1, 1.0, 0.5), Staircase(20, 0.1, 0.5, 0.1), false);
  ASSERT_TRUE(WaitThreads());
  device->Upload(Staircase(30, 0.1, 2.0, 0.5), Staircase(30, 0.1, 0.5, 0.1), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(log, ElementsAre("done", "done"));
  auto& sim = dynamic_cast<sim::TKsv7340Sim&>(*instrument);
  EXPECT_EQ(sim.Block(0).Last, 29);
  EXPECT_TRUE(sim.PendingErrors().empty());
}

// The window switches the output on right after it starts an upload, from the main thread.
// Every send clears the input first, so a line sent while the upload awaits a reply used to drop
// that reply and fail the upload with a time-out: the transport now keeps each exchange whole.
TEST_F(SimFixture, CommandsOfTheMainThreadDuringAnUploadKeepItsRepliesWhole) {
  device->Connect();
  device->SetReplyTimeout(1000);
  // On a busy machine the main thread may get no turn before an upload is over: rounds go on
  // until three of them had the main thread sending while the upload ran.
  int overlapped = 0;
  for (int round = 0; round < 100 && overlapped < 3; ++round) {
    log.clear();
    device->Upload(Staircase(500, 0.01, 1.0, 0.01), Staircase(500, 0.01, 0.5, 0.001), false);
    int sent = 0;
    ASSERT_TRUE(queue.PumpUntil(
        [&] {
          // A burst of lines between two looks at the queue, as a busy window sends them.
          for (int k = 0; k < 20 && device->HasRunningThreads(); ++k)
            device->SetOutputEnabled(++sent % 2 == 1, 0);
          return !device->HasRunningThreads();
        },
        60s));
    ASSERT_THAT(log, ElementsAre("done")) << "round " << round << ", " << sent << " lines between";
    EXPECT_EQ(dynamic_cast<sim::TKsv7340Sim&>(*instrument).Block(0).Last, 499);
    if (sent > 0) ++overlapped;
  }
  EXPECT_EQ(overlapped, 3);
}

// Reported maxima that are no limit of the model end the connect before anything is uploaded.
TEST_F(SimFixture, AnAbsurdReportedMaximumEndsTheConnect) {
  for (const char* reply : {"-5", "0", "1e308"}) {
    instrument->SetInstrumentFaults({"", reply});
    EXPECT_THROW(device->Connect(), std::runtime_error) << reply;
    EXPECT_FALSE(device->IsConnected());
    device->Disconnect();  // as the callers do after a failed connect
  }
  instrument->SetInstrumentFaults({});
  device->Connect();
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 80.0);
}

TEST_F(SimFixture, NoReplyTimesOutAndTheDeviceStaysUsable) {
  device->SetReplyTimeout(300);
  front->SetFaults({.NoReply = true, .Replies = 1});
  EXPECT_THROW(device->Connect(), ETimeoutError);
  EXPECT_FALSE(device->IsConnected());
  device->Connect();
  EXPECT_TRUE(device->IsConnected());
}

TEST_F(SimFixture, ALateReplyIsNotTakenForTheNextAnswer) {
  device->Connect();
  device->SetValues(12.5, 1.0);
  front->SetFaults({.LateReplyMs = 400, .Replies = 1});
  transport->Send("VOLT?");
  EXPECT_THROW(transport->Receive(300), ETimeoutError);
  std::this_thread::sleep_for(250ms);  // the late "12.5" arrives meanwhile
  double v = 0, c = 0;
  device->GetValues(v, c);
  EXPECT_DOUBLE_EQ(v, 12.5);
  EXPECT_DOUBLE_EQ(c, 1.0);
}

TEST_F(SimFixture, PartialLinesAndGarbageEndInATimeOut) {
  device->SetReplyTimeout(300);
  device->Connect();
  front->SetFaults({.PartialLine = true, .Replies = 1});
  double v = 0, c = 0;
  EXPECT_THROW(device->GetValues(v, c), ETimeoutError);
  front->SetFaults({.GarbageBytes = 1 << 20, .Replies = 1});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(device->GetValues(v, c), ETimeoutError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  // Once the instrument has stopped babbling, queries get their own answers again.
  bool recovered = false;
  for (int attempt = 0; attempt < 30 && !recovered; ++attempt) {
    try {
      device->GetValues(v, c);
      recovered = true;
    } catch (const std::exception&) {
    }
  }
  ASSERT_TRUE(recovered);
  device->SetValues(12.5, 1.0);
  device->GetValues(v, c);
  EXPECT_DOUBLE_EQ(v, 12.5);
  EXPECT_DOUBLE_EQ(c, 1.0);
}

TEST_F(SimFixture, HangUpDuringUploadReportsOnceAndReconnectWorks) {
  device->Connect();
  front->SetFaults({.HangUpAfterBytes = 700});
  device->Upload(Staircase(300, 0.1, 1.0, 0.01), Staircase(300, 0.1, 1.0, 0.001), false);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitThreads());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].starts_with("error: ")) << log[0];
  EXPECT_EQ(front->HangUps(), 1);
  device->Disconnect();
  EXPECT_FALSE(device->IsConnected());
  log.clear();
  device->Connect();
  device->Upload(Staircase(5, 0.1, 1.0, 0.5), Staircase(5, 0.1, 1.0, 0.1), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(log, ElementsAre("done"));
}

TEST_F(SimFixture, NumbersKeepTheirPointUnderAGermanLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
  device->Connect();
  device->SetValues(1.5, 0.25);
  device->Upload(Staircase(3, 0.1, 1.25, 0.5), Staircase(3, 0.1, 0.5, 0.125), false);
  ASSERT_TRUE(WaitThreads());
  std::setlocale(LC_ALL, previous.c_str());
  const auto sent = Sent();
  EXPECT_NE(std::find(sent.begin(), sent.end(), "VOLT 1.500"), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), "LIST:VOLT 0,1.250,1.750,2.250;*OPC?"), sent.end());
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 80.0);
}

TEST(Demo, DiscoveryFindsTheDemoInstruments) {
  InstallSupplyDrivers();
  sim::TDemoInstruments demo(50.0);
  TRS232Interface scanner(1);
  scanner.Name = "COM";
  TDeviceList devices;
  scanner.GetDevices(devices);
  std::vector<std::string> names;
  for (auto& d : devices) names.push_back(d->GetModel());
  EXPECT_THAT(names, ::testing::IsSupersetOf({"KSV 7342-80", "KSV 7341-20"}));
}

}  // namespace
}  // namespace ondrevo
