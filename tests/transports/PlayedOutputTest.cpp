// Families A and B judged by what their terminals deliver: documents uploaded through the real
// driver on each bus and played once, three times, without end until Stop, paused and resumed
// and (family A) from the trigger input. The simulated instrument's output record must equal
// the point list the instrument view computes for the model, on the instrument's clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "devices/MainThread.h"
#include "devices/ModelTables.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "model/Builder.h"
#include "playback/InstrumentPreview.h"
#include "sim/Instrument.h"
#include "sim/ShortCommands.h"
#include "transports/BusFixtures.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;

// One tick of the manual clock the instrument runs on: the tests set it to whole instants, so
// anything off by more than rounding is a wrong time.
constexpr double kTick = 1e-6;

SegmentTable Levels(int count, double hold, double first, double step) {
  SegmentTable t;
  for (int k = 0; k < count; ++k) {
    t[2 * k].Time = k * hold;
    t[2 * k + 1].Time = (k + 1) * hold;
    t[2 * k].Value = t[2 * k + 1].Value = first + k * step;
  }
  t.SetLastPointIndex(2 * count - 1);
  return t;
}

SegmentTable Line(double length, double from, double to) {
  SegmentTable t;
  t[0].Value = from;
  t[1].Time = length;
  t[1].Value = to;
  t.SetLastPointIndex(1);
  return t;
}

SegmentTable WithSine(SegmentTable t, double frequency, double peakToPeak) {
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup1.FreqStart = t[0].Sup1.FreqEnd = frequency;
  t[0].Sup1.AmpStart = t[0].Sup1.AmpEnd = peakToPeak;
  return t;
}

struct Document {
  std::string Name;
  SegmentTable Voltage, Current;
};

bool FamilyA(const std::string& model) {
  return FamilyForModel(model) == DeviceFamily::A;
}

// Held levels, a ramp, a superposed sine and one that needs every point the model holds.
std::vector<Document> Documents(const std::string& model) {
  const bool a = FamilyA(model);
  const double hold = a ? 0.05 : 0.2;
  const int budget = a ? 1000 : 255;
  const double budgetHold = a ? 0.002 : 0.05;
  return {
      {"levels", Levels(6, hold, 2.0, 1.5), Levels(6, hold, 1.0, 0.25)},
      {"ramp", Line(a ? 0.5 : 4.0, 1.0, 9.0), Line(a ? 0.5 : 4.0, 2.0, 2.0)},
      {"sine", WithSine(Line(a ? 0.2 : 6.0, 10.0, 10.0), a ? 20.0 : 0.5, 4.0),
       Line(a ? 0.2 : 6.0, 1.5, 1.5)},
      {"budget", Levels(budget, budgetHold, 1.0, a ? 0.01 : 0.1),
       Line(budget * budgetHold, 1.0, 1.0)},
  };
}

struct Case {
  const char* Model;
  testing::BusKind Bus;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (char c : std::string(info.param.Model))
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name + "_" + testing::BusName(info.param.Bus);
}

class PlayedOutput : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    InstallSupplyDrivers();
    queue.Install();
    model = GetParam().Model;
    instrument = sim::CreateSimInstrument(model, "777", clock.Function());
    bus = testing::StartBus(GetParam().Bus, instrument);
    if (!bus) GTEST_SKIP() << "bus not available in this build";
    for (auto& d : bus->Discover())
      if (auto player = std::dynamic_pointer_cast<TListPlayerDevice>(d)) device = player;
    ASSERT_TRUE(device) << "no instrument found";
    device->SetOnError([this](IDevice*, const std::exception& e) { errors.push_back(e.what()); });
    device->SetOnUploadDone([this](IDevice*) { ++uploads; });
    before = instrument->Output().Last(0);
    device->Connect();
  }
  void TearDown() override {
    if (device) {
      queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s);
      if (device->IsConnected()) device->Disconnect();
      // The instrument's own settings are back, its output as before the connect.
      EXPECT_EQ(instrument->Output().Last(0), before);
    }
    EXPECT_THAT(errors, ::testing::IsEmpty());
    device.reset();
    bus.reset();
    TMainThread::SetDispatcher(nullptr);
  }

  sim::TShortCommandSim& Core() { return dynamic_cast<sim::TShortCommandSim&>(*instrument); }

  // Commands the instrument took without effect. Family B's start address 0 is listed apart.
  std::vector<std::string> Warnings() {
    std::vector<std::string> out;
    for (auto& w : Core().Warnings())
      if (w.find("no location 0") == std::string::npos) out.push_back(w);
    return out;
  }

  // Uploads through the driver; a failed upload ends the test.
  void Upload(const Document& d, InstrumentPreview& preview) {
    preview = ComputeInstrumentPreview(d.Voltage, d.Current, ListSettingsForModel(model));
    const int done = uploads;
    const std::size_t failed = errors.size();
    device->Upload(BuildWaveform(d.Voltage), BuildWaveform(d.Current), false);
    ASSERT_TRUE(queue.PumpUntil([&] { return uploads > done || errors.size() > failed; }, 60s))
        << d.Name;
    ASSERT_EQ(errors.size(), failed) << d.Name << ": " << errors.back();
    ASSERT_TRUE(queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s));
  }

  // The driver has seen the end of the run (or never follows it, as on a serial line).
  void AwaitDriverIdle() {
    ASSERT_TRUE(queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s));
  }
  // A query through the driver: once answered, the instrument has taken every line before it.
  void Sync() { std::dynamic_pointer_cast<IAnalogOutput>(device)->IsOutputEnabled(0); }
  void Play() {
    device->Play();
    Sync();
  }

  void Advance(double seconds) {
    clock.Advance(seconds);
    instrument->SettleOutput();
  }

  std::size_t Mark() const { return instrument->Output().Changes().size(); }
  std::vector<sim::TOutputChange> Since(std::size_t mark) const {
    const auto all = instrument->Output().Changes();
    return {all.begin() + static_cast<std::ptrdiff_t>(mark), all.end()};
  }

  sim::TManualClock clock;  // outlives the instrument that reads it
  TEventQueue queue;
  std::string model;
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::unique_ptr<testing::TBusUnderTest> bus;
  std::shared_ptr<TListPlayerDevice> device;
  std::vector<std::string> errors;
  int uploads = 0;
  sim::TOutputState before;
};

// The families take values to 1 mV and 1 mA; the instrument view keeps more digits.
double Digit(double value) {
  return std::round(value * 1000) / 1000;
}

// What a list-playing supply must deliver, built from the instrument view's points alone.
class TExpected {
 public:
  explicit TExpected(sim::TOutputState state) : state_(state) {}
  void At(double time, double voltage, double current, bool on) {
    const sim::TOutputState next{voltage, current, on};
    if (next == state_) return;
    state_ = next;
    changes_.push_back({time, 0, next});
  }
  // Repetitions of the list from `start`, the part after `pauseAt` shifted by `pause`; with
  // `until` >= 0 only the points begun by then. Returns the instant the last repetition ends.
  double Play(const InstrumentPreview& p, double start, int repetitions, double until = -1,
              double pauseAt = -1, double pause = 0) {
    double t = 0;
    for (int r = 0; r < repetitions; ++r)
      for (std::size_t k = 0; k < p.Durations.size(); ++k) {
        const double at = start + t + (pauseAt >= 0 && t > pauseAt ? pause : 0);
        if (until >= 0 && at > until) return at;
        At(at, Digit(p.Values[0][k]), Digit(p.Values[1][k]), true);
        t += p.Durations[k];
      }
    return start + t + pause;
  }
  const std::vector<sim::TOutputChange>& Changes() const { return changes_; }

 private:
  sim::TOutputState state_;
  std::vector<sim::TOutputChange> changes_;
};

std::string Show(const std::vector<sim::TOutputChange>& changes, std::size_t from) {
  std::ostringstream out;
  for (std::size_t k = from; k < changes.size() && k < from + 4; ++k)
    out << std::setprecision(10) << "  t=" << changes[k].Time << " V=" << changes[k].State.Voltage
        << " I=" << changes[k].State.CurrentLimit << " on=" << changes[k].State.On << "\n";
  return out.str();
}

void ExpectSame(const std::vector<sim::TOutputChange>& played, const TExpected& expected,
                const std::string& what) {
  const auto& want = expected.Changes();
  std::size_t k = 0;
  for (; k < played.size() && k < want.size(); ++k) {
    const auto& a = played[k];
    const auto& b = want[k];
    if (std::abs(a.Time - b.Time) > kTick || a.State.On != b.State.On ||
        std::abs(a.State.Voltage - b.State.Voltage) > 1e-9 ||
        std::abs(a.State.CurrentLimit - b.State.CurrentLimit) > 1e-9)
      break;
  }
  if (k == played.size() && k == want.size()) return;
  ADD_FAILURE() << what << ": the output departs from the point list at change " << k << " of "
                << played.size() << " played, " << want.size() << " expected\nplayed:\n"
                << Show(played, k) << "expected:\n"
                << Show(want, k);
}

TEST_P(PlayedOutput, DocumentsPlayOnceAndThreeTimes) {
  for (const Document& d : Documents(model)) {
    InstrumentPreview p;
    ASSERT_NO_FATAL_FAILURE(Upload(d, p));
    if (d.Name == "budget") ASSERT_EQ(p.PointCount(), p.Budget());
    for (int count : {1, 3}) {
      SCOPED_TRACE(d.Name + " x" + std::to_string(count));
      device->SetBurstCount(count);
      const sim::TOutputState idle = instrument->Output().Last(0);
      const std::size_t mark = Mark();
      const double start = clock.Now();
      Play();
      TExpected expected(idle);
      expected.At(start, idle.Voltage, idle.CurrentLimit, true);
      const double end = expected.Play(p, start, count);
      // Back at the set values once the list has played.
      expected.At(end, idle.Voltage, idle.CurrentLimit, true);
      Advance(end - start + 1.0);
      AwaitDriverIdle();
      ExpectSame(Since(mark), expected, d.Name);
      EXPECT_THAT(Warnings(), ::testing::IsEmpty());
      Core().ClearWarnings();
    }
  }
}

TEST_P(PlayedOutput, EndlessRunEndsAtStopAndNothingPlaysAfter) {
  InstrumentPreview p;
  ASSERT_NO_FATAL_FAILURE(Upload(Documents(model)[0], p));
  device->SetBurstCount(0);
  const sim::TOutputState idle = instrument->Output().Last(0);
  const std::size_t mark = Mark();
  const double start = clock.Now();
  Play();
  double period = 0;
  for (double d : p.Durations) period += d;
  // Halfway through the fourth point of the third repetition.
  const double stopAt = start + 2 * period + p.Times[3] + p.Durations[3] / 2;
  Advance(stopAt - start);
  device->Stop();
  Sync();
  AwaitDriverIdle();
  TExpected expected(idle);
  expected.At(start, idle.Voltage, idle.CurrentLimit, true);
  expected.Play(p, start, 4, stopAt);
  expected.At(stopAt, idle.Voltage, idle.CurrentLimit, true);
  ExpectSame(Since(mark), expected, "until the stop");
  const std::size_t stopped = Mark();
  Advance(10 * period);
  EXPECT_EQ(Mark(), stopped) << "the output changed after Stop";
  EXPECT_THAT(Warnings(), ::testing::IsEmpty());

  // The next run starts from the first point again.
  device->SetBurstCount(1);
  const std::size_t again = Mark();
  const double restart = clock.Now();
  TExpected second(instrument->Output().Last(0));
  Play();
  const double end = second.Play(p, restart, 1);
  second.At(end, idle.Voltage, idle.CurrentLimit, true);
  Advance(end - restart + 1);
  AwaitDriverIdle();
  ExpectSame(Since(again), second, "after the stop");
}

TEST_P(PlayedOutput, PausedRunResumesWhereItHalted) {
  InstrumentPreview p;
  ASSERT_NO_FATAL_FAILURE(Upload(Documents(model)[0], p));
  device->SetBurstCount(3);
  const sim::TOutputState idle = instrument->Output().Last(0);
  const std::size_t mark = Mark();
  const double start = clock.Now();
  Play();
  double period = 0;
  for (double d : p.Durations) period += d;
  const double pauseAt = period + p.Times[2] + p.Durations[2] / 3;  // within repetition 2
  const double pause = 0.75;
  Advance(pauseAt);
  device->Pause();
  Sync();
  AwaitDriverIdle();
  const std::size_t paused = Mark();
  Advance(pause);
  EXPECT_EQ(Mark(), paused) << "the output changed while paused";
  Play();
  TExpected expected(idle);
  expected.At(start, idle.Voltage, idle.CurrentLimit, true);
  const double end = expected.Play(p, start, 3, -1, pauseAt, pause);
  expected.At(end, idle.Voltage, idle.CurrentLimit, true);
  Advance(end - clock.Now() + 1);
  AwaitDriverIdle();
  ExpectSame(Since(mark), expected, "paused and resumed");
  EXPECT_THAT(Warnings(), ::testing::IsEmpty());
}

TEST_P(PlayedOutput, TriggerInputStartsTheBursts) {
  auto triggerable = std::dynamic_pointer_cast<ITriggerablePlayer>(device);
  if (!triggerable) GTEST_SKIP() << "the family has no trigger input";
  InstrumentPreview p;
  ASSERT_NO_FATAL_FAILURE(Upload(Documents(model)[1], p));
  device->SetBurstCount(3);
  triggerable->SetExternalTrigger(true);
  const sim::TOutputState idle = instrument->Output().Last(0);
  const std::size_t mark = Mark();
  const double start = clock.Now();
  Play();
  Advance(0.4);  // armed: nothing plays before the edge
  TExpected expected(idle);
  expected.At(start, idle.Voltage, idle.CurrentLimit, true);
  ExpectSame(Since(mark), expected, "armed");
  instrument->Trigger();
  const double end = expected.Play(p, start + 0.4, 3);
  expected.At(end, idle.Voltage, idle.CurrentLimit, true);
  Advance(end - clock.Now() + 0.5);  // armed again for the next edge
  ExpectSame(Since(mark), expected, "triggered");
  device->Stop();
  Sync();
  AwaitDriverIdle();
  instrument->Trigger();  // disarmed by the stop: ignored
  Advance(5);
  ExpectSame(Since(mark), expected, "after the stop");
  const auto warnings = Warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], ::testing::HasSubstr("trigger"));
  triggerable->SetExternalTrigger(false);
}

INSTANTIATE_TEST_SUITE_P(Serial, PlayedOutput,
                         ::testing::Values(Case{"KSV 5206-40", testing::BusKind::Serial},
                                           Case{"KSV 6141-80", testing::BusKind::Serial}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Gpib, PlayedOutput,
                         ::testing::Values(Case{"KSV 5206-40", testing::BusKind::Gpib},
                                           Case{"KSV 6141-80", testing::BusKind::Gpib}),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Usb, PlayedOutput,
                         ::testing::Values(Case{"KSV 5206-40", testing::BusKind::Usb},
                                           Case{"KSV 6141-80", testing::BusKind::Usb}),
                         CaseName);

}  // namespace
}  // namespace ondrevo
