// The players' start report against the simulators: a run started by its
// command is reported as the command went out, and a run started by the trigger is
// placed, within the uncertainty the driver reports, at the instant the simulator's trigger
// fired. The sims run on the host's monotonic clock, so this holds on any load.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "devices/MainThread.h"
#include "devices/supplies/ksv5200/Ksv5200Device.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "sim/BusHost.h"
#include "sim/Front.h"
#include "sim/Ksv5200Sim.h"
#include "transports/GpibInterface.h"
#include "transports/RS232Interface.h"

using namespace ondrevo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// `levels` held levels of `hold` seconds each: one point per level.
std::shared_ptr<TWaveform> Staircase(int levels, double hold) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    SegmentRow a, b;
    a.Time = k * hold;
    b.Time = (k + 1) * hold;
    a.Value = b.Value = 1 + k;
    table[row++] = a;
    table[row++] = b;
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

// Points a stand-in library's variable somewhere for the object's lifetime.
class TScopedLibrary {
 public:
  TScopedLibrary(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~TScopedLibrary() {
    if (previous_)
      ::setenv(name_, previous_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

struct TStartLog {
  std::mutex lock;
  std::optional<Clock::time_point> at;
  Clock::duration uncertainty{};
  int calls = 0;
  IStartTimeReporter::TStartSentEvent Handler() {
    return [this](Clock::time_point t, Clock::duration u) {
      std::lock_guard guard(lock);
      at = t;
      uncertainty = u;
      ++calls;
    };
  }
  bool Reported() {
    std::lock_guard guard(lock);
    return at.has_value();
  }
};

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Connects, uploads and waits for the upload's end.
void Prepare(TEventQueue& queue, TListPlayerDevice& device, std::shared_ptr<TWaveform> voltage) {
  bool done = false;
  device.SetOnUploadDone([&](IDevice*) { done = true; });
  device.SetOnError([](IDevice*, const std::exception& e) { ADD_FAILURE() << e.what(); });
  device.Connect();
  device.Upload(voltage, BuildWaveform(SegmentTable()), true);
  ASSERT_TRUE(queue.PumpUntil([&] { return done; }, 60s));
}

void Finish(TEventQueue& queue, TListPlayerDevice& device) {
  device.Stop();
  queue.PumpUntil([&] { return !device.HasRunningThreads(); }, 60s);
  device.Disconnect();
}

}  // namespace

TEST(StartTime, ATriggeredRunIsPlacedAtTheTriggerWithinTheReportedUncertainty) {
  TEventQueue queue;
  queue.Install();
  // Ten points of 50 ms: the poll (every 100 ms) first sees the run a point or two in. On the
  // GPIB stand-in, whose status byte tells the driver that the armed list waits.
  auto instrument =
      std::make_shared<sim::TKsv5200Sim>("KSV 5206-40", "520640009", sim::MakeScaledClock(1.0));
  TScopedLibrary library("ONDREVO_GPIB_LIBRARY", sim::GpibSimLibraryPath());
  sim::TGpibSimHost host;
  host.Attach(0, 5, instrument);
  auto line = std::make_shared<TGpibInterface>(0, 5);
  auto device = std::make_shared<TKsv5200Device>("KSV 5206-40", line, "520640009");
  Prepare(queue, *device, Staircase(10, 0.05));
  std::atomic<int> addressQueries{0};
  line->SetTraceObserver([&](const std::string& text) {
    if (text.find("FAF?") != std::string::npos) ++addressQueries;
  });
  TStartLog log;
  device->SetOnStartSent(log.Handler());
  device->SetBurstCount(1);
  device->SetExternalTrigger(true);
  device->Play();
  // Armed: nothing starts, nothing is reported, however long the trigger takes.
  ASSERT_TRUE(queue.PumpUntil([&] { return instrument->Busy(); }, 6s));
  const int polled = addressQueries.load();
  ASSERT_TRUE(queue.PumpUntil([&] { return addressQueries.load() >= polled + 2; }, 60s));
  EXPECT_FALSE(log.Reported());

  const Clock::time_point before = Clock::now();
  instrument->Trigger();
  const Clock::time_point after = Clock::now();
  ASSERT_TRUE(queue.PumpUntil([&] { return log.Reported(); }, 60s));
  {
    std::lock_guard guard(log.lock);
    // The list started within [before, after]; the estimate may be off by its uncertainty.
    EXPECT_LE(Seconds(*log.at - after), Seconds(log.uncertainty) + 1e-6);
    EXPECT_GE(Seconds(*log.at - before), -Seconds(log.uncertainty) - 1e-6);
    EXPECT_GT(log.uncertainty, Clock::duration::zero());
    EXPECT_EQ(log.calls, 1);
  }
  Finish(queue, *device);
  line->SetTraceObserver(nullptr);
  EXPECT_EQ(log.calls, 1);  // once per start
}

TEST(StartTime, ARunStartedByItsCommandIsReportedAsTheCommandWentOut) {
  TEventQueue queue;
  queue.Install();
  for (const char* model : {"KSV 5206-40", "KSV 7342-80"}) {
    SCOPED_TRACE(model);
    auto instrument = sim::CreateSimInstrument(model, "9", sim::MakeScaledClock(1.0));
    sim::TPtyFront front(instrument);
    auto line = std::make_shared<TRS232Interface>(1, front.Path());
    std::shared_ptr<TListPlayerDevice> device;
    if (std::string(model) == "KSV 5206-40")
      device = std::make_shared<TKsv5200Device>(model, line, "9");
    else
      device = std::make_shared<TKsv7340Device>(model, line, "9");
    Prepare(queue, *device, Staircase(2, 0.05));
    TStartLog log;
    device->SetOnStartSent(log.Handler());
    bool played = false;
    device->SetOnPlay([&](IDevice*) {
      // The start is known before the play report.
      EXPECT_TRUE(log.Reported());
      played = true;
    });
    const Clock::time_point before = Clock::now();
    device->Play();
    const Clock::time_point after = Clock::now();
    EXPECT_TRUE(played);
    ASSERT_TRUE(log.Reported());
    EXPECT_GE(*log.at, before);
    EXPECT_LE(*log.at, after);
    // Within the sending of the start line at most.
    EXPECT_LE(log.uncertainty, *log.at - before);
    Finish(queue, *device);
  }
}
