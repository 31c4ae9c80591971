// Families A and B against their simulated instruments: discover, connect, upload, play three
// bursts, disconnect. What the instrument received equals the driver's trace, and every error
// query the driver sent was answered "0".
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <mutex>

#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "sim/Front.h"
#include "sim/Ksv7340Sim.h"
#include "sim/ShortCommands.h"
#include "transports/BusFixtures.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

std::shared_ptr<TWaveform> Levels(int levels, double hold, double first, double step) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    SegmentRow a, b;
    a.Time = k * hold;
    b.Time = (k + 1) * hold;
    a.Value = b.Value = first + k * step;
    table[row++] = a;
    table[row++] = b;
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

struct Case {
  const char* Model;
  testing::BusKind Bus;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string model = info.param.Model;
  std::string name;
  for (char c : model)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name + "_" + testing::BusName(info.param.Bus);
}

class FamilyOnBus : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    InstallSupplyDrivers();
    queue.Install();
    instrument = sim::CreateSimInstrument(GetParam().Model, "424242", sim::MakeScaledClock(40.0));
    bus = testing::StartBus(GetParam().Bus, instrument);
    if (!bus) GTEST_SKIP() << "bus not available in this build";
  }
  void TearDown() override {
    if (device) {
      queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s);
      if (device->IsConnected()) device->Disconnect();
    }
    device.reset();
    bus.reset();
    TMainThread::SetDispatcher(nullptr);
  }

  // The instrument as discovery finds it on the bus.
  std::shared_ptr<TListPlayerDevice> Discover() {
    TDeviceList devices = bus->Discover();
    for (auto& d : devices)
      if (auto player = std::dynamic_pointer_cast<TListPlayerDevice>(d)) return player;
    return nullptr;
  }

  void Attach() {
    device->GetInterface()->SetTraceObserver([this](const std::string& line) {
      std::lock_guard g(traceLock);
      trace.push_back(line);
    });
    device->SetOnUploadDone([this](IDevice*) { log.push_back("done"); });
    device->SetOnError([this](IDevice*, const std::exception& e) {
      log.push_back(std::string("error: ") + e.what());
    });
    device->SetOnBurst([this](IDevice*, int n) { log.push_back("burst " + std::to_string(n)); });
    device->SetOnPlay([this](IDevice*) { log.push_back("play"); });
    device->SetOnStop([this](IDevice*) { log.push_back("stop"); });
  }

  std::size_t PendingErrors() const {
    if (auto* core = dynamic_cast<sim::TShortCommandSim*>(instrument.get()))
      return core->PendingErrors().size();
    return dynamic_cast<sim::TKsv7340Sim&>(*instrument).PendingErrors().size();
  }

  std::vector<std::string> Trace() {
    std::lock_guard g(traceLock);
    return trace;
  }

  TEventQueue queue;
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::unique_ptr<testing::TBusUnderTest> bus;
  std::shared_ptr<TListPlayerDevice> device;
  std::mutex traceLock;
  std::vector<std::string> trace;
  std::vector<std::string> log;
};

TEST_P(FamilyOnBus, DiscoverConnectUploadPlayThreeBurstsDisconnect) {
  device = Discover();
  ASSERT_TRUE(device) << "no instrument found";
  EXPECT_EQ(device->GetModel(), instrument->Model());
  EXPECT_EQ(device->GetSerialNumber(), "424242");
  Attach();
  device->Connect();
  // 12 levels of 0.1 s; at 40 times real time a repetition takes 30 ms.
  device->Upload(Levels(12, 0.1, 1.0, 0.5), Levels(12, 0.1, 0.5, 0.1), false);
  ASSERT_TRUE(queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s));
  ASSERT_THAT(log, ElementsAre("done"));
  EXPECT_EQ(PendingErrors(), 0u);
  device->SetBurstCount(3);
  // Family C reads 1 back while its list sequence is on.
  const bool familyC = std::string(GetParam().Model).find("734") != std::string::npos;
  EXPECT_EQ(device->GetBurstCount(), familyC ? 1 : 3);
  log.clear();
  device->Play();
  ASSERT_TRUE(queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "play");
  EXPECT_EQ(log.back(), "stop");
  for (const auto& entry : log) EXPECT_FALSE(entry.starts_with("error")) << entry;
  // Before the stop: the count played (read back or as set).
  EXPECT_EQ(log[log.size() - 2], "burst 3");
  device->Stop();
  device->Disconnect();
  EXPECT_FALSE(device->IsConnected());

  const auto lines = Trace();
  std::vector<std::string> sent;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (!lines[k].starts_with("> ")) continue;
    sent.push_back(lines[k].substr(2));
    if (lines[k] == "> ERR?" || lines[k] == "> SYST:ERR?") {
      ASSERT_LT(k + 1, lines.size());
      EXPECT_TRUE(lines[k + 1] == "< 0" || lines[k + 1].starts_with("< 0,"))
          << "instrument error after line " << k << ": " << lines[k + 1];
    }
  }
  // Discovery's own exchange comes first (none where the library lists the instruments); the
  // last line may still be on its way.
  queue.PumpUntil(
      [&] {
        const auto received = instrument->ReceivedLines();
        return !received.empty() && received.back() == sent.back();
      },
      2s);
  const auto received = instrument->ReceivedLines();
  ASSERT_GE(received.size(), sent.size());
  const std::vector<std::string> probe(received.begin(), received.end() - sent.size());
  switch (GetParam().Bus) {
    case testing::BusKind::Serial:
      EXPECT_THAT(probe, ElementsAre(";*IDN?", "SYST:LOC"));
      break;
    case testing::BusKind::Gpib:
      EXPECT_THAT(probe, ElementsAre("*IDN?"));
      break;
    case testing::BusKind::Usb:
      EXPECT_TRUE(probe.empty());
      break;
  }
  EXPECT_EQ(std::vector<std::string>(received.end() - sent.size(), received.end()), sent);
  if (auto* core = dynamic_cast<sim::TShortCommandSim*>(instrument.get())) {
    EXPECT_TRUE(core->PendingErrors().empty());
    EXPECT_FALSE(core->Remote());
  }
}

INSTANTIATE_TEST_SUITE_P(Serial, FamilyOnBus,
                         ::testing::Values(Case{"KSV 5206-40", testing::BusKind::Serial},
                                           Case{"KSV 6141-80", testing::BusKind::Serial}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Gpib, FamilyOnBus,
                         ::testing::Values(Case{"KSV 5206-40", testing::BusKind::Gpib},
                                           Case{"KSV 6141-80", testing::BusKind::Gpib},
                                           Case{"KSV 7342-80", testing::BusKind::Gpib}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Usb, FamilyOnBus,
                         ::testing::Values(Case{"KSV 5206-40", testing::BusKind::Usb},
                                           Case{"KSV 6141-80", testing::BusKind::Usb},
                                           Case{"KSV 7342-80", testing::BusKind::Usb}),
                         CaseName);

}  // namespace
}  // namespace ondrevo
