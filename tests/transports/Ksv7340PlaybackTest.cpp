// The family-C driver judged by what the simulated instrument plays: documents uploaded through
// the real driver on every bus that reaches the model, played with repeat counts 1, 3 and
// endless-then-stop, paused and resumed. The record of the output must equal the point list the
// instrument view computes for the model, point by point at the instants the dwell times give.
// The clock is moved by hand, so every instant is exact and nothing waits for time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>

#include "CurveHelpers.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "model/Builder.h"
#include "playback/InstrumentPreview.h"
#include "playback/PreviewWorker.h"
#include "sim/Ksv7340Sim.h"
#include "transports/BusFixtures.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using sim::TOutputChange;
using sim::TOutputState;

// ---- documents ----------------------------------------------------------------------------

SegmentTable Through(std::initializer_list<std::pair<double, double>> points) {
  return test::CurveThrough(points);
}

struct Document {
  const char* Name;
  SegmentTable Voltage, Current;
};

Document HeldLevels() {
  return {"levels", Through({{0, 1}, {0.5, 1}, {0.5, 3}, {1.2, 3}, {1.2, 2}, {1.5, 2}}),
          Through({{0, 0.5}, {1.5, 0.5}})};
}

Document Ramp() {
  return {"ramp", Through({{0, 0}, {2, 10}, {3, 10}}), Through({{0, 1}, {1, 2}, {3, 2}})};
}

Document SuperposedSine() {
  Document d{"sine", Through({{0, 5}, {1, 5}}), Through({{0, 1}, {1, 1}})};
  d.Voltage[0].Sup1.Kind = SuperpositionKind::Sine;
  d.Voltage[0].Sup1.FreqStart = d.Voltage[0].Sup1.FreqEnd = 2;
  d.Voltage[0].Sup1.AmpStart = d.Voltage[0].Sup1.AmpEnd = 2;
  return d;
}

// A ramp with more steps than the list memory holds: the sampler fills it to the last point.
Document AtTheBudget() {
  return {"budget", Through({{0, 0}, {5, 18}, {10, 0}}), Through({{0, 1}, {10, 1}})};
}

// ---- the model the record is checked against ----------------------------------------------

// The list lines carry three decimals: the instrument plays what they say.
double OnTheWire(double value) {
  return std::round(value * 1000) / 1000;
}

struct Points {
  std::vector<double> Dwell;
  std::vector<TOutputState> State;  // with the output on
  double Period = 0;
};

Points PointsOf(const InstrumentPreview& preview) {
  Points p;
  for (std::size_t k = 0; k < preview.Durations.size(); ++k) {
    p.Dwell.push_back(OnTheWire(preview.Durations[k]));
    p.State.push_back({OnTheWire(preview.Values[0][k]), OnTheWire(preview.Values[1][k]), true});
    p.Period += p.Dwell.back();
  }
  return p;
}

struct Expected {
  std::vector<TOutputChange> Changes;
  int Channel = 0;
  TOutputState Last;  // the state in force before the first change
  void Add(double time, const TOutputState& state) {
    if (state == Last) return;
    Changes.push_back({time, Channel, state});
    Last = state;
  }
  // Plays from point `index` of repetition `repetition` at `start` until the count is done or
  // `until` (a point beginning later does not play); returns where it ended.
  struct End {
    double Time;
    int Index, Repetition;
  };
  End Play(const Points& p, double start, int index, int repetition, int count,
           double until = INFINITY) {
    double t = start;
    int lastIndex = index, lastRepetition = repetition;
    while ((count == 0 || repetition <= count) && t <= until) {
      Add(t, p.State[static_cast<std::size_t>(index)]);
      lastIndex = index;
      lastRepetition = repetition;
      t += p.Dwell[static_cast<std::size_t>(index)];
      if (++index == static_cast<int>(p.Dwell.size())) index = 0, ++repetition;
    }
    return {std::min(t, until), lastIndex, lastRepetition};
  }
};

// ---- the fixture --------------------------------------------------------------------------

struct Case {
  const char* Model;
  testing::BusKind Bus;
};

class Ksv7340Playback : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    InstallSupplyDrivers();
    queue.Install();
    instrument = std::make_shared<sim::TKsv7340Sim>(GetParam().Model, "734734", clock.Function());
    bus = testing::StartBus(GetParam().Bus, instrument);
    if (!bus) GTEST_SKIP() << "bus not available in this build";
    for (auto& d : bus->Discover())
      if (auto player = std::dynamic_pointer_cast<TListPlayerDevice>(d)) device = player;
    ASSERT_TRUE(device) << "no instrument found";
    device->SetOnUploadDone([this](IDevice*) { Log("done"); });
    device->SetOnError(
        [this](IDevice*, const std::exception& e) { Log(std::string("error: ") + e.what()); });
    device->SetOnStop([this](IDevice*) { Log("stop"); });
    device->Connect();
    // Nothing wired to either input: the driver selects the second output of two.
    channel = instrument->Channels() == 2 ? 1 : 0;
    ASSERT_EQ(instrument->SelectedChannel(), channel + 1);
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

  void Log(const std::string& entry) {
    std::lock_guard g(logLock);
    log.push_back(entry);
  }
  int Count(const std::string& entry) {
    std::lock_guard g(logLock);
    return static_cast<int>(std::count(log.begin(), log.end(), entry));
  }
  int Received(const std::string& line) const {
    const auto lines = instrument->ReceivedLines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  void AwaitEvent(const std::string& entry, int count) {
    ASSERT_TRUE(queue.PumpUntil([&] { return Count(entry) >= count; }, 30s))
        << "no " << count << ". " << entry;
  }
  // Waits until the instrument has taken the `count`-th *TRG: the run has started at the
  // clock's present, which stands still.
  void AwaitStart(int count) {
    ASSERT_TRUE(queue.PumpUntil([&] { return Received("*TRG") >= count; }, 30s));
    ASSERT_EQ(instrument->RunState(), sim::TKsv7340Sim::TRunState::Running);
  }
  // A line the main thread sent last is in once the instrument answers a later query.
  void AwaitLine(const std::string& line, int count) {
    ASSERT_TRUE(queue.PumpUntil([&] { return Received(line) >= count; }, 30s)) << line;
  }

  Points Upload(const Document& doc) {
    const InstrumentPreview preview =
        ComputeInstrumentPreview(doc.Voltage, doc.Current, ListSettingsOf(*device, *device));
    EXPECT_GT(preview.PointCount(), 0);
    device->Upload(std::shared_ptr<TWaveform>(BuildWaveform(doc.Voltage)),
                   std::shared_ptr<TWaveform>(BuildWaveform(doc.Current)), false);
    EXPECT_TRUE(queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 60s));
    EXPECT_EQ(Count("done"), 1);
    // The dwell times survive the three decimals of the list lines.
    for (double d : preview.Durations) EXPECT_NEAR(OnTheWire(d), d, 1e-9);
    // Exactly the points the view shows are in the block, nothing more.
    const auto block = instrument->Block(0);
    EXPECT_EQ(block.First, 0);
    EXPECT_EQ(block.Last, preview.PointCount() - 1);
    return PointsOf(preview);
  }

  // What the channel did from change `from` on, next to what it should have done.
  void ExpectRecord(std::size_t from, const Expected& expected) {
    instrument->SettleOutput();
    const auto all = instrument->Output().Changes();
    std::vector<TOutputChange> got;
    for (std::size_t k = from; k < all.size(); ++k) {
      EXPECT_EQ(all[k].Channel, channel) << "the other channel changed at " << all[k].Time;
      if (all[k].Channel == channel) got.push_back(all[k]);
    }
    auto show = [](const std::vector<TOutputChange>& changes) {
      std::string text;
      for (std::size_t k = 0; k < std::min<std::size_t>(changes.size(), 12); ++k)
        text += "\n  " + std::to_string(changes[k].Time) + " " +
                std::to_string(changes[k].State.Voltage) + " V " +
                std::to_string(changes[k].State.CurrentLimit) + " A " +
                (changes[k].State.On ? "on" : "off");
      return text;
    };
    ASSERT_EQ(got.size(), expected.Changes.size())
        << "recorded:" << show(got) << "\nexpected:" << show(expected.Changes);
    for (std::size_t k = 0; k < got.size(); ++k) {
      SCOPED_TRACE("change " + std::to_string(k));
      EXPECT_NEAR(got[k].Time, expected.Changes[k].Time, 1e-9);
      EXPECT_EQ(got[k].State.Voltage, expected.Changes[k].State.Voltage);
      EXPECT_EQ(got[k].State.CurrentLimit, expected.Changes[k].State.CurrentLimit);
      EXPECT_EQ(got[k].State.On, expected.Changes[k].State.On);
    }
  }

  Expected Start(double time) {
    Expected e;
    e.Channel = channel;
    e.Last = instrument->Output().Last(channel);
    e.Add(time, prior);  // Play switches the output on at the set values
    return e;
  }

  // Set values before playing, output off: the run starts from and returns to them.
  void SetPrior() {
    auto& output = dynamic_cast<IAnalogOutput&>(*device);
    output.SetOutputEnabled(false, 0);
    output.SetValues(2.5, 0.25);
    AwaitLine("CURR 0.250", 1);
    prior = {2.5, 0.25, true};
  }

  TEventQueue queue;
  sim::TManualClock clock;
  std::shared_ptr<sim::TKsv7340Sim> instrument;
  std::unique_ptr<testing::TBusUnderTest> bus;
  std::shared_ptr<TListPlayerDevice> device;
  int channel = 0;
  TOutputState prior;
  std::mutex logLock;
  std::vector<std::string> log;
};

std::vector<Document> AllDocuments() {
  return {HeldLevels(), Ramp(), SuperposedSine(), AtTheBudget()};
}

TEST_P(Ksv7340Playback, OnceAndThreeTimesPlayTheViewsPointsThenTheSetValues) {
  int plays = 0;
  for (const Document& doc : AllDocuments()) {
    SCOPED_TRACE(doc.Name);
    const Points p = Upload(doc);
    if (std::string(doc.Name) == "budget") EXPECT_EQ(p.Dwell.size(), 1000u);
    SetPrior();
    for (int count : {1, 3}) {
      SCOPED_TRACE("count " + std::to_string(count));
      device->SetBurstCount(count);
      EXPECT_EQ(instrument->Block(0).Count, count);
      const double t0 = clock.Now() + 100;
      clock.Set(t0);
      const std::size_t from = instrument->Output().Changes().size();
      Expected e = Start(t0);
      device->Play();
      AwaitStart(++plays);
      if (HasFatalFailure()) return;
      // Halfway through the last repetition it still plays; the poller sees it end after.
      clock.Set(t0 + (count - 0.5) * p.Period);
      EXPECT_EQ(instrument->RunState(), sim::TKsv7340Sim::TRunState::Running);
      clock.Set(t0 + count * p.Period + 0.5);
      AwaitEvent("stop", plays);
      const auto end = e.Play(p, t0, 0, 1, count);
      EXPECT_NEAR(end.Time, t0 + count * p.Period, 1e-6);
      e.Add(end.Time, prior);
      ExpectRecord(from, e);
      // Nothing plays afterwards.
      const auto before = instrument->Output().Changes().size();
      clock.Set(t0 + 10 * count * p.Period + 1);
      instrument->SettleOutput();
      EXPECT_EQ(instrument->Output().Changes().size(), before);
      EXPECT_EQ(instrument->Output().Last(channel), prior);
      if (HasFailure()) return;  // one wrong run says it; the next would wait in vain
    }
    device->Disconnect();
    {
      std::lock_guard g(logLock);
      log.clear();
    }
    plays = 0;
    instrument->ClearReceivedLines();
    device->Connect();
  }
}

TEST_P(Ksv7340Playback, EndlessUntilStopThenPlayStartsOver) {
  const Points p = Upload(Ramp());
  SetPrior();
  device->SetBurstCount(0);
  EXPECT_EQ(instrument->Block(0).Count, 0) << "the block itself repeats without end";
  // Twice: after a stop the next run begins at the first point again, not where it stopped.
  for (const double stopAfter : {4.3, 1.7}) {
    SCOPED_TRACE("stop after " + std::to_string(stopAfter) + " repetitions");
    const double t0 = clock.Now() + 50;
    clock.Set(t0);
    const std::size_t from = instrument->Output().Changes().size();
    Expected e = Start(t0);
    const int triggers = Received("*TRG");
    device->Play();
    AwaitStart(triggers + 1);
    if (HasFatalFailure()) return;
    const double stopAt = t0 + stopAfter * p.Period;
    clock.Set(stopAt);
    const int stops = Count("stop");
    device->Stop();
    AwaitEvent("stop", stops + 1);
    e.Play(p, t0, 0, 1, 0, stopAt);
    e.Add(stopAt, prior);
    ExpectRecord(from, e);
    const auto stopped = instrument->Output().Changes().size();
    clock.Set(stopAt + 100 * p.Period);
    instrument->SettleOutput();
    EXPECT_EQ(instrument->Output().Changes().size(), stopped) << "played on after Stop";
    if (HasFailure()) return;
  }
}

TEST_P(Ksv7340Playback, PauseThenPlayResumesTheInterruptedPoint) {
  const Points p = Upload(HeldLevels());
  SetPrior();
  device->SetBurstCount(3);
  const double t0 = 20;
  clock.Set(t0);
  const std::size_t from = instrument->Output().Changes().size();
  Expected e = Start(t0);
  device->Play();
  AwaitStart(1);
  if (HasFatalFailure()) return;
  const double pauseAt = t0 + 1.4 * p.Period;
  clock.Set(pauseAt);
  device->Pause();
  AwaitEvent("stop", 1);
  EXPECT_EQ(instrument->Output().Last(channel), prior);
  // Paused: nothing plays however long it stays so.
  const double t1 = pauseAt + 30;
  clock.Set(t1);
  device->Play();
  AwaitStart(2);
  if (HasFatalFailure()) return;
  clock.Set(t1 + 3 * p.Period);
  AwaitEvent("stop", 2);

  const auto paused = e.Play(p, t0, 0, 1, 3, pauseAt);
  e.Add(pauseAt, prior);
  const auto end = e.Play(p, t1, paused.Index, paused.Repetition, 3);
  e.Add(end.Time, prior);
  ExpectRecord(from, e);
  EXPECT_EQ(instrument->Output().Last(channel), prior);
}

// This family has no trigger input: the driver offers none, and a pulse on the simulated
// instrument's input changes nothing and is logged.
TEST_P(Ksv7340Playback, NoTriggerInputAndAPulseChangesNothing) {
  EXPECT_FALSE(std::dynamic_pointer_cast<ITriggerablePlayer>(device));
  const Points p = Upload(HeldLevels());
  SetPrior();
  device->SetBurstCount(1);
  const double t0 = 5;
  clock.Set(t0);
  const std::size_t from = instrument->Output().Changes().size();
  instrument->ClearWarnings();
  instrument->Trigger();  // armed by the upload, not started by the pulse
  EXPECT_EQ(instrument->RunState(), sim::TKsv7340Sim::TRunState::WaitingForTrigger);
  Expected e = Start(t0);
  device->Play();
  AwaitStart(1);
  if (HasFatalFailure()) return;
  clock.Set(t0 + 0.5 * p.Period);
  instrument->Trigger();
  clock.Set(t0 + p.Period + 1);
  AwaitEvent("stop", 1);
  const auto end = e.Play(p, t0, 0, 1, 1);
  e.Add(end.Time, prior);
  ExpectRecord(from, e);
  const auto warnings = instrument->Warnings();
  EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                          [](const std::string& w) { return w.starts_with("trigger input"); }),
            2);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char c : std::string(info.param.Model))
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name + "_" + testing::BusName(info.param.Bus);
}

INSTANTIATE_TEST_SUITE_P(Buses, Ksv7340Playback,
                         ::testing::Values(Case{"KSV 7342-80", testing::BusKind::Serial},
                                           Case{"KSV 7341-20", testing::BusKind::Serial},
                                           Case{"KSV 7342-80", testing::BusKind::Gpib},
                                           Case{"KSV 7342-80", testing::BusKind::Usb}),
                         CaseName);

}  // namespace
}  // namespace ondrevo
