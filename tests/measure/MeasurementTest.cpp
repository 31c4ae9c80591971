// The polling thread and the SCPI sources against a simulated meter on a pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "measure/Measurement.h"
#include "sim/Front.h"
#include "sim/Ksv5200Sim.h"
#include "sim/Meter.h"
#include "transports/RS232Interface.h"

using namespace ondrevo;
using namespace std::chrono_literals;

namespace {

class TCountingSource : public IMeasurementSource {
 public:
  std::string Name() const override { return "counting"; }
  void Read(double& v, double& i) override {
    const int n = ++reads;
    if (failEvery > 0 && n % failEvery == 0) throw std::runtime_error("no reply");
    v = n;
    i = -n;
  }
  std::atomic<int> reads{0};
  int failEvery = 0;
};

// Keeps the instant of every read; the reading's voltage is its index.
class TInstantSource : public IMeasurementSource {
 public:
  std::string Name() const override { return "instants"; }
  void Read(double& v, double& i) override {
    std::lock_guard guard(lock);
    v = static_cast<double>(instants.size());
    i = 0;
    instants.push_back(std::chrono::steady_clock::now());
  }
  std::mutex lock;
  std::vector<std::chrono::steady_clock::time_point> instants;
};

template <class F>
void WaitFor(F done) {
  while (!done()) std::this_thread::sleep_for(1ms);
}

}  // namespace

TEST(MeasurementPoller, ReadsInOrderOnAMonotonicClockAndCountsFailures) {
  auto source = std::make_shared<TCountingSource>();
  source->failEvery = 3;
  TMeasurementPoller poller(source, 0ms);
  poller.Start();
  EXPECT_TRUE(poller.Running());
  WaitFor([&] { return poller.Count() >= 20; });
  poller.Stop();
  EXPECT_FALSE(poller.Running());
  const auto r = poller.Readings();
  ASSERT_GE(r.size(), 20u);
  EXPECT_GE(r[0].Time, 0.0);
  for (std::size_t k = 1; k < r.size(); ++k) {
    EXPECT_GE(r[k].Time, r[k - 1].Time);
    EXPECT_GT(r[k].Voltage, r[k - 1].Voltage);
    EXPECT_EQ(r[k].Current, -r[k].Voltage);
    EXPECT_NE(static_cast<int>(r[k].Voltage) % 3, 0);  // failed reads leave no reading
  }
  EXPECT_GE(poller.Failures(), 6u);
  EXPECT_EQ(poller.LastError(), "no reply");
  const std::size_t count = poller.Count();
  EXPECT_EQ(poller.Count(), count);  // nothing more after Stop

  // A long interval still stops at once.
  TMeasurementPoller slow(std::make_shared<TCountingSource>(), std::chrono::hours(1));
  slow.Start();
  WaitFor([&] { return slow.Count() >= 1; });
  slow.Stop();
  EXPECT_EQ(slow.Count(), 1u);
}

TEST(MeasurementPoller, EachReadingHoldsItsInstantWithinItsSpreadAndFollowsTheTimeBase) {
  using Clock = std::chrono::steady_clock;
  auto source = std::make_shared<TInstantSource>();
  TMeasurementPoller poller(source, 1ms);
  // The driver reported a start that lies ahead: the first readings come before time 0.
  poller.SetTimeBase(Clock::now() + 1h);
  poller.Start();
  WaitFor([&] { return poller.Count() >= 5; });
  EXPECT_EQ(poller.Rebases(), 0u);  // nothing had been read when the base was given
  EXPECT_LT(poller.Readings().front().Time, -3000.0);
  // A triggered run: the start is known only once it has happened.
  const Clock::time_point zero = Clock::now();
  poller.SetTimeBase(zero);
  EXPECT_EQ(poller.Rebases(), 1u);
  const std::size_t before = poller.Count();
  WaitFor([&] { return poller.Count() >= before + 5; });
  poller.Stop();
  const auto readings = poller.Readings();
  std::lock_guard guard(source->lock);
  for (const TReading& r : readings) {
    const auto k = static_cast<std::size_t>(r.Voltage);
    ASSERT_LT(k, source->instants.size());
    const double at = std::chrono::duration<double>(source->instants[k] - zero).count();
    EXPECT_GE(r.Spread, 0.0);
    EXPECT_LE(std::fabs(at - r.Time), r.Spread + 1e-9) << "reading " << k;
  }
}

TEST(MeasurementSources, MeterOnAPseudoTerminalReadsTheSupplysLoad) {
  sim::TManualClock clock;
  auto supply = std::make_shared<sim::TKsv5200Sim>("KSV 5206-40", "1", clock.Function());
  supply->SetLoad({5, 0});
  supply->Output().Note(0.0, 0, {12, 2, true});
  auto meter = std::make_shared<sim::TSimMeter>(supply, 0, clock.Function());
  sim::TPtyFront front(meter);
  auto line = std::make_shared<TRS232Interface>(1, front.Path());
  line->Open();
  auto source = MeterMeasurementSource(line, "meter");
  double v = 0, i = 0;
  clock.Set(1);
  source->Read(v, i);
  EXPECT_DOUBLE_EQ(v, 10);  // 12 V would draw 2.4 A: held at 2 A into 5 ohm
  EXPECT_DOUBLE_EQ(i, 2);
  EXPECT_EQ(source->Name(), "meter");
  line->Close();

  EXPECT_TRUE(SupplyMeasuresItself("KSV 7342-80"));
  EXPECT_TRUE(SupplyMeasuresItself("KSV7341-20"));
  EXPECT_FALSE(SupplyMeasuresItself("KSV 5206-40"));
  EXPECT_FALSE(SupplyMeasuresItself("KSV 6141-80"));
}
