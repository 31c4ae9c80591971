// Streaming through the simulated card, checked on the samples the card put out.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "daq/DaqMxDevice.h"
#include "daq/DaqSim.h"
#include "devices/DeviceErrors.h"
#include "devices/MainThread.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "model/Modifiers.h"

namespace ondrevo {
namespace {

using std::chrono::milliseconds;
using test::DaqSim;

// 4000 samples per second: one second of samples is cheap to compute even under sanitizers.
constexpr const char* kCards = "Dev1 PCIe-6361 serial=1A2B3C ao=2 maxrate=4000 minrate=1\n";
constexpr int kRate = 4000;
constexpr int kPerBurst = 1000;  // 0.25 s at 4000 S/s

SegmentTable Table(std::initializer_list<std::pair<double, double>> points) {
  SegmentTable t;
  int i = 0;
  for (auto [time, value] : points) {
    t[i].Time = time;
    t[i].Value = value;
    ++i;
  }
  t.SetLastPointIndex(i - 1);
  return t;
}

// 1 V rising by 10 V/s for 0.25 s; samples are taken 1e-7 s after each clock tick.
std::shared_ptr<TWaveform> Ramp() {
  return BuildWaveform(Table({{0, 1}, {0.25, 3.5}}));
}
double RampSample(int k) {
  return 1.0 + 10.0 * ((k % kPerBurst) / double(kRate) + 1e-7);
}
const double kRampHold = RampSample(kPerBurst - 1);

struct Events {
  int uploaded = 0, played = 0, stopped = 0, triggers = 0, disconnected = 0;
  std::vector<int> bursts;
  std::vector<uint64_t> outAtBurst;  // samples the card had put out when the burst was reported
  std::vector<std::string> errors;
  std::vector<std::string> order;
};

class DaqStream : public ::testing::Test {
 protected:
  void SetUp() override {
    queue.Install();
    sim.Configure(kCards);
    sim.SetSpeed(1.0);
    card = std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1A2B3C");
    input = std::make_shared<TAnalogDevice>("KSV 3720-10", "7");
    card->GetConnectedInputs()[0] = input;
    input->GetConnectedOutputs()[0] = std::static_pointer_cast<IAnalogOutput>(card);
    card->SetOnUploadDone([this](IDevice*) { Note("uploaded"), ++ev.uploaded; });
    card->SetOnPlay([this](IDevice*) { Note("played"), ++ev.played; });
    card->SetOnStop([this](IDevice*) { Note("stopped"), ++ev.stopped; });
    card->SetOnTrigger([this](IDevice*) { Note("trigger"), ++ev.triggers; });
    card->SetOnBurst([this](IDevice*, int n) {
      ev.bursts.push_back(n);
      ev.outAtBurst.push_back(sim.SamplesRaw("Dev1/ao0", nullptr, 0));
    });
    card->SetOnError([this](IDevice*, const std::exception& e) { ev.errors.push_back(e.what()); });
    card->SetOnDisconnect([this](IDevice*) { ++ev.disconnected; });
    card->Connect();
  }

  void TearDown() override {
    if (card && card->IsConnected()) {
      card->Disconnect();
      EXPECT_TRUE(Pump([&] { return ev.disconnected > 0; }, 10000));
    }
    card.reset();
    // The queue must outlive every hand-over a stream thread is still inside of.
    for (auto& weak : streams) {
      if (auto t = weak.lock()) {
        EXPECT_TRUE(Pump([&] { return t->Ended(); }, 10000));
      }
    }
    EXPECT_EQ(sim.OpenTasks(), 0);
    if (endsAtZero) {
      EXPECT_EQ(sim.LastValue("Dev1/ao0"), 0.0) << "the outputs end at 0 V";
    }
  }

  void Note(const char* what) { ev.order.push_back(what); }
  // Bursts count up, each reported only once its first sample is out (a burst is kPerBurst
  // samples; the recording began with the run).
  void ExpectBurstsReportedAsTheyPlay() {
    ASSERT_FALSE(ev.bursts.empty());
    EXPECT_EQ(ev.bursts.front(), 1);
    for (std::size_t i = 0; i < ev.bursts.size(); ++i) {
      if (i > 0) EXPECT_GT(ev.bursts[i], ev.bursts[i - 1]);
      EXPECT_GT(ev.outAtBurst[i], uint64_t(ev.bursts[i] - 1) * kPerBurst)
          << "burst " << ev.bursts[i] << " reported before it played";
    }
  }
  bool Pump(const std::function<bool()>& done, int ms) {
    return queue.PumpUntil(done, milliseconds(ms));
  }
  // An endless run on the card; the card is pulled after two bursts. One error, thread ended.
  void RemoveCardWhilePlaying() {
    Upload(Ramp());
    card->SetBurstCount(0);
    card->Play();
    ASSERT_TRUE(Pump([&] { return ev.bursts.size() >= 2; }, 10000));
    sim.RemoveCard("Dev1");
    ASSERT_TRUE(Pump([&] { return card->GetExecuteThread() == nullptr; }, 10000));
    ASSERT_EQ(ev.errors.size(), 1u);
  }

  void Upload(std::shared_ptr<TWaveform> v, bool enable = false) {
    voltage = std::move(v);
    currentCurve = BuildWaveform(Table({{0, 1}, {0.25, 1}}));
    card->Upload(voltage, currentCurve, enable);
    streams.push_back(card->GetExecuteThread());
    ASSERT_TRUE(Pump([&] { return ev.uploaded > 0; }, 20000));
    EXPECT_EQ(card->GetExecuteThread()->Rate(), kRate);
  }

  TEventQueue queue;
  DaqSim& sim = DaqSim::Get();
  std::shared_ptr<TDaqMxDevice> card;
  std::shared_ptr<TAnalogDevice> input;
  std::shared_ptr<TWaveform> voltage, currentCurve;
  Events ev;
  bool endsAtZero = true;
  std::vector<std::weak_ptr<TDaqExecuteThread>> streams;
};

TEST_F(DaqStream, ThreeBurstsThenHoldTheValueBeforeTheThirdRestart) {
  Upload(Ramp(), true);
  EXPECT_EQ(sim.LastValue("Dev1/ao0"), 1.0) << "enabling sets the start value";
  sim.ClearRecording();
  card->SetBurstCount(3);
  std::atomic<int> startReports{0};
  std::atomic<std::int64_t> startedAt{0};
  card->SetOnStartSent([&](std::chrono::steady_clock::time_point at, auto) {
    startedAt = at.time_since_epoch().count();
    ++startReports;
  });
  const auto start = std::chrono::steady_clock::now();
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped > 0; }, 20000));
  // The task's start is reported once, from the engine, after Play.
  EXPECT_EQ(startReports.load(), 1);
  EXPECT_GE(startedAt.load(), start.time_since_epoch().count());
  card->SetOnStartSent(nullptr);
  const double took =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(took, 0.765) << "stopped only once the valid samples were out";
  EXPECT_TRUE(ev.errors.empty()) << ev.errors.front();
  ExpectBurstsReportedAsTheyPlay();
  EXPECT_EQ(ev.bursts.back(), 3) << "the last burst is reported before the run's end";
  const auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), 3u * kPerBurst);
  for (int k = 0; k < 3 * kPerBurst; ++k) ASSERT_NEAR(out[k], RampSample(k), 1e-9) << k;
  for (std::size_t k = 3 * kPerBurst; k < out.size(); ++k) ASSERT_EQ(out[k], out[k - 1]) << k;
  if (out.size() > 3u * kPerBurst) {
    EXPECT_NEAR(out.back(), kRampHold, 1e-9);
  }
  EXPECT_EQ(sim.Samples("Dev1/ao1").size(), 0u) << "only wired outputs play";
  EXPECT_EQ(sim.Underruns("Dev1"), 0);
}

TEST_F(DaqStream, EndlessUntilStop) {
  Upload(Ramp());
  card->SetBurstCount(0);
  card->Play();
  // Burst 9 begins after two seconds of output.
  ASSERT_TRUE(Pump([&] { return !ev.bursts.empty() && ev.bursts.back() >= 9; }, 20000));
  EXPECT_EQ(ev.stopped, 0);
  const int prepared = ev.uploaded;  // the switch to endless prepared once more on Play
  EXPECT_EQ(prepared, 2);
  card->Stop();
  ASSERT_TRUE(Pump([&] { return ev.stopped > 0; }, 10000));
  ExpectBurstsReportedAsTheyPlay();
  const auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), 2u * kRate);
  for (std::size_t k = 0; k < out.size(); ++k) ASSERT_NEAR(out[k], RampSample(int(k)), 1e-9) << k;
  EXPECT_EQ(sim.Underruns("Dev1"), 0);
  EXPECT_TRUE(ev.errors.empty());
  // Stopped, it prepares again and waits for Play.
  ASSERT_TRUE(Pump([&] { return ev.uploaded == prepared + 1; }, 10000));
  EXPECT_EQ(ev.played, 1);
}

TEST_F(DaqStream, ChangedCountBeforePlayPreparesAgainWithoutSecondPlay) {
  Upload(Ramp());
  card->SetBurstCount(3);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped == 1 && ev.uploaded == 3; }, 20000));
  // Prepared for three bursts now; one is asked for.
  sim.ClearRecording();
  ev.order.clear();
  card->SetBurstCount(1);
  EXPECT_EQ(card->GetBurstCount(), 1);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped == 2; }, 20000));
  // Stopped, it prepares the next run by itself: that report may already be in.
  ASSERT_GE(ev.order.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(ev.order.begin(), ev.order.begin() + 3),
            (std::vector<std::string>{"uploaded", "played", "stopped"}));
  for (std::size_t k = 3; k < ev.order.size(); ++k) EXPECT_EQ(ev.order[k], "uploaded");
  const auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), std::size_t(kPerBurst));
  for (int k = 0; k < kPerBurst; ++k) ASSERT_NEAR(out[k], RampSample(k), 1e-9) << k;
  for (std::size_t k = kPerBurst; k < out.size(); ++k) ASSERT_NEAR(out[k], kRampHold, 1e-9) << k;
}

// A Stop that comes while the card prepares again by itself (here: Play with another count) is
// kept: the run does not start, and the next one waits for Play.
TEST_F(DaqStream, StopWhilePreparingAgainIsNotLost) {
  Upload(Ramp());
  card->SetBurstCount(3);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped == 1 && ev.uploaded == 3; }, 20000));
  sim.ClearRecording();
  // The preparation for the new count reports itself; the Stop lands before its run begins.
  card->SetOnUploadDone([this](IDevice*) {
    Note("uploaded"), ++ev.uploaded;
    card->Stop();
  });
  card->SetBurstCount(1);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped == 2; }, 20000));
  card->SetOnUploadDone([this](IDevice*) { Note("uploaded"), ++ev.uploaded; });
  ASSERT_TRUE(Pump([&] { return ev.uploaded == 5; }, 20000)) << "prepared again after the stop";
  Pump([] { return false; }, 300);
  EXPECT_EQ(ev.played, 1) << "the stopped run never started";
  EXPECT_EQ(sim.Samples("Dev1/ao0").size(), 0u) << "nothing played after the Stop";
  // Play after that plays as asked.
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped == 3; }, 20000));
  EXPECT_EQ(ev.played, 2);
  const auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), std::size_t(kPerBurst));
  for (int k = 0; k < kPerBurst; ++k) ASSERT_NEAR(out[k], RampSample(k), 1e-9) << k;
  EXPECT_TRUE(ev.errors.empty());
}

TEST_F(DaqStream, ExternalTriggerStartsOnTheEdgeAndRearms) {
  ASSERT_TRUE(card->IsExternalTriggerAvailable());
  card->SetExternalTrigger(true);
  card->SetTriggerChannel(2);
  Upload(Ramp());
  sim.ClearRecording();
  std::atomic<int> startReports{0};
  std::atomic<std::int64_t> startedAt{0};
  card->SetOnStartSent([&](std::chrono::steady_clock::time_point at, auto) {
    startedAt = at.time_since_epoch().count();
    ++startReports;
  });
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.played == 1; }, 10000));
  Pump([] { return false; }, 400);
  EXPECT_EQ(sim.Samples("Dev1/ao0").size(), 0u) << "nothing before the edge";
  sim.FireTrigger("Dev1/port0/line0", 1);  // another line
  sim.FireTrigger("Dev1/port0/line2", 0);  // the other edge
  Pump([] { return false; }, 200);
  EXPECT_EQ(sim.Samples("Dev1/ao0").size(), 0u);
  EXPECT_EQ(startReports.load(), 0) << "no start before the edge";
  const auto edge = std::chrono::steady_clock::now();
  sim.FireTrigger("Dev1/port0/line2", 1);
  ASSERT_TRUE(Pump([&] { return ev.stopped == 1; }, 10000));
  EXPECT_EQ(startReports.load(), 1);
  EXPECT_GE(startedAt.load(), edge.time_since_epoch().count());
  EXPECT_EQ(ev.triggers, 1);
  auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), std::size_t(kPerBurst));
  for (int k = 0; k < kPerBurst; ++k) ASSERT_NEAR(out[k], RampSample(k), 1e-9) << k;
  // Re-armed without Play: started again, waiting for the next edge.
  ASSERT_TRUE(Pump([&] { return ev.played == 2; }, 10000));
  const auto firstRun = sim.Samples("Dev1/ao0").size();
  Pump([] { return false; }, 300);
  EXPECT_EQ(sim.Samples("Dev1/ao0").size(), firstRun);
  sim.FireTrigger("Dev1/port0/line2", 1);
  ASSERT_TRUE(Pump([&] { return ev.stopped == 2; }, 10000));
  out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), firstRun + kPerBurst);
  for (int k = 0; k < kPerBurst; ++k) ASSERT_NEAR(out[firstRun + k], RampSample(k), 1e-9) << k;
  // Stop while armed: the next preparation waits for Play again.
  ASSERT_TRUE(Pump([&] { return ev.played == 3; }, 10000));
  card->Stop();
  ASSERT_TRUE(Pump([&] { return ev.stopped == 3; }, 10000));
  Pump([] { return false; }, 300);
  EXPECT_EQ(ev.played, 3);
  EXPECT_TRUE(ev.errors.empty());
  EXPECT_EQ(startReports.load(), 1) << "time 0 is the first edge of the run";
  card->SetOnStartSent(nullptr);
}

TEST_F(DaqStream, OneSamplingThreadFillsWhatThreeFill) {
  // A sine whose samples differ everywhere: every position must come from the right time.
  SegmentTable t = Table({{0, 0}, {0.5, 0}});
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup1.FreqStart = 10;
  t[0].Sup1.FreqEnd = 37;
  t[0].Sup1.AmpStart = 2;
  t[0].Sup1.AmpEnd = 3;
  std::vector<double> runs[2];
  for (int n : {1, 3}) {
    card->SetProcessors(n);
    ev.stopped = 0;
    ev.uploaded = 0;
    Upload(BuildWaveform(t));
    sim.ClearRecording();  // after the previous stream's closing zeros
    card->SetBurstCount(2);
    card->Play();
    ASSERT_TRUE(Pump([&] { return ev.stopped == 1; }, 20000));
    runs[n == 3] = sim.Samples("Dev1/ao0");
  }
  ASSERT_GE(runs[0].size(), 2u * kRate * 0.5);
  ASSERT_GE(runs[1].size(), 2u * kRate * 0.5);
  const TWaveform& w = *voltage;
  for (int k = 0; k < kRate; ++k) {
    ASSERT_NEAR(runs[0][k], runs[1][k], 1e-9) << k;
    ASSERT_NEAR(runs[0][k], w.ValueAt((k % (kRate / 2)) / double(kRate) + 1e-7), 1e-9) << k;
  }
}

TEST_F(DaqStream, CurrentInputPlaysTheCurrentCurveScaled) {
  input->SetCurrentInput(true, 0);
  voltage = Ramp();
  currentCurve = BuildWaveform(Table({{0, 6}, {0.25, 6}}));
  card->Upload(voltage, currentCurve, false);
  streams.push_back(card->GetExecuteThread());
  ASSERT_TRUE(Pump([&] { return ev.uploaded > 0; }, 20000));
  EXPECT_DOUBLE_EQ(card->GetMaxCurrent(), 10.0) << "30 A over 3 A/V";
  EXPECT_DOUBLE_EQ(currentCurve->MaxValue, 10.0);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped > 0; }, 20000));
  const auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), std::size_t(kPerBurst));
  for (double v : out) ASSERT_DOUBLE_EQ(v, 2.0);
}

TEST_F(DaqStream, DisconnectDuringARunEndsAfterTheThread) {
  Upload(Ramp());
  card->SetBurstCount(0);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.played > 0; }, 10000));
  card->Disconnect();
  EXPECT_EQ(ev.disconnected, 0) << "returns at once";
  EXPECT_TRUE(card->IsConnected());
  ASSERT_TRUE(Pump([&] { return ev.disconnected > 0; }, 10000));
  EXPECT_FALSE(card->IsConnected());
  EXPECT_EQ(card->GetExecuteThread(), nullptr);
  EXPECT_EQ(card->GetConnectedInputs()[0], nullptr);
  EXPECT_TRUE(input->GetConnectedOutputs()[0].expired());
  EXPECT_EQ(sim.LastValue("Dev1/ao0"), 0.0);
  // Neither end keeps the other alive.
  std::weak_ptr<TDaqMxDevice> gone = card;
  card.reset();
  EXPECT_TRUE(gone.expired());
}

// Faults: one clear error, the thread ends, nothing hangs.

TEST_F(DaqStream, CardVanishingMidRun) {
  ASSERT_NO_FATAL_FAILURE(RemoveCardWhilePlaying());
  EXPECT_NE(ev.errors[0].find("removed"), std::string::npos) << ev.errors[0];
  card->Disconnect();
  EXPECT_EQ(ev.disconnected, 1);
  card.reset();
  sim.Configure(kCards);  // back for the checks at the end
}

TEST_F(DaqStream, WriteThatKeepsTimingOut) {
  Upload(Ramp());
  card->SetBurstCount(0);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.played > 0; }, 10000));
  sim.StallCard("Dev1", 1);
  endsAtZero = false;  // a card whose clock stands still outputs nothing more
  ASSERT_TRUE(Pump([&] { return card->GetExecuteThread() == nullptr; }, 20000));
  ASSERT_EQ(ev.errors.size(), 1u);
  EXPECT_NE(ev.errors[0].find("no new samples"), std::string::npos) << ev.errors[0];
  sim.StallCard("Dev1", 0);
}

TEST_F(DaqStream, SamplingThreadThatThrows) {
  auto w = std::make_shared<TWaveform>();
  w->Append(std::make_unique<TSegment>(
      std::make_unique<TConstantModifier>(std::numeric_limits<double>::quiet_NaN()), 0.0, 0.5));
  card->Upload(w, w, false);
  streams.push_back(card->GetExecuteThread());
  ASSERT_TRUE(Pump([&] { return card->GetExecuteThread() == nullptr; }, 20000));
  ASSERT_EQ(ev.errors.size(), 1u);
  EXPECT_EQ(ev.uploaded, 0);
  EXPECT_TRUE(Pump([] { return false; }, 200) == false);
  EXPECT_EQ(ev.errors.size(), 1u);
}

TEST_F(DaqStream, NewUploadReplacesARunningStream) {
  Upload(Ramp());
  card->SetBurstCount(0);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.played > 0; }, 10000));
  ev.uploaded = 0;
  Upload(Ramp());  // the old thread ends on its own; the new one reports
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped > 0; }, 20000));
  EXPECT_TRUE(ev.errors.empty());
}

// ---- What plays: the card's recording of each change against the samples the instrument view
// computes for the card (the equidistant sampler at the stream's rate, restarting at the end,
// cut to the hold value after the last burst).

struct Change {
  double time;
  double volts;
  bool on;
};

std::vector<Change> ReadRecording(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<Change> out;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::size_t from = 0;
    for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1)
      f.push_back(line.substr(from, comma - from));
    f.push_back(line.substr(from));
    if (f.size() != 5) ADD_FAILURE() << line;
    if (f.size() == 5) out.push_back({std::stod(f[0]), std::stod(f[2]), f[4] == "1"});
  }
  return out;
}

// The view's samples for `bursts` (0: endless, `samples` of them), as changes at k / rate.
std::vector<Change> ViewChanges(TWaveform& w, double rate, int bursts, std::size_t samples) {
  TEquidistantSampler sampler;
  sampler.Waveform = &w;
  sampler.Start(0, 0, 1.0 / rate);
  TDoubleVector v(samples);
  std::uint32_t restarts = 0;
  TIntegerVector positions;
  sampler.Fill(v, restarts, positions);
  if (bursts > 0) {
    const auto cut = static_cast<std::size_t>(positions.at(std::size_t(bursts) - 1));
    std::fill(v.begin() + std::ptrdiff_t(cut), v.end(), v[cut - 1]);
  }
  std::vector<Change> out;
  for (std::size_t k = 0; k < v.size(); ++k)
    if (k == 0 || v[k] != v[k - 1]) out.push_back({double(k) / rate, v[k], true});
  return out;
}

struct PlayCase {
  const char* document;
  int bursts;  // 0: endless, stopped after the third burst began
  bool trigger;
};

std::string PlayCaseName(const ::testing::TestParamInfo<PlayCase>& info) {
  return std::string(info.param.document) + "_" +
         (info.param.bursts ? std::to_string(info.param.bursts) : std::string("endless")) +
         (info.param.trigger ? "_trigger" : "");
}

class DaqPlays : public DaqStream, public ::testing::WithParamInterface<PlayCase> {
 protected:
  static std::shared_ptr<TWaveform> Document(const std::string& name) {
    if (name == "levels")
      return BuildWaveform(Table({{0, 1}, {0.1, 1}, {0.1, -2.5}, {0.25, -2.5}}));
    if (name == "ramp") return Ramp();
    SegmentTable t = Table({{0, 2}, {0.25, 4}});
    t[0].Sup1.Kind = SuperpositionKind::Sine;
    t[0].Sup1.FreqStart = t[0].Sup1.FreqEnd = 12;
    t[0].Sup1.AmpStart = t[0].Sup1.AmpEnd = 1.5;
    return BuildWaveform(t);
  }
};

TEST_P(DaqPlays, TheRecordingIsWhatTheViewComputes) {
  const PlayCase c = GetParam();
  const auto folder =
      std::filesystem::temp_directory_path() / ("ondrevo-daq-plays-" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  sim.SetRecordFolder(folder.c_str());
  // One sampling thread walks the view's time grid: bit for bit the view's values. Interleaved
  // threads reach the same times by other sums (equal to 1e-9, OneSamplingThreadFillsWhat...).
  card->SetProcessors(1);
  card->SetExternalTrigger(c.trigger);
  // The rate is the engine's choice: one sampling thread on a busy machine may fall below the
  // card's maximum.
  voltage = Document(c.document);
  card->Upload(voltage, BuildWaveform(Table({{0, 1}, {0.25, 1}})), false);
  streams.push_back(card->GetExecuteThread());
  ASSERT_TRUE(Pump([&] { return ev.uploaded > 0; }, 20000));
  const double rate = card->GetExecuteThread()->Rate();
  card->SetBurstCount(c.bursts);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.played == 1; }, 10000));
  // The card prepares the next run after the last one ends: counted from before that end, the
  // preparation cannot slip in while the test waits for the stop.
  int prepared = ev.uploaded;
  if (c.trigger) {
    Pump([] { return false; }, 100);
    EXPECT_EQ(sim.Samples("Dev1/ao0").size(), 0u) << "nothing before the edge";
    sim.FireTrigger("Dev1/port0/line0", 1);
  }
  if (c.bursts == 0) {
    ASSERT_TRUE(Pump([&] { return !ev.bursts.empty() && ev.bursts.back() >= 3; }, 20000));
    prepared = ev.uploaded;
    card->Stop();
  } else if (c.trigger) {
    // The run ends and the card arms again for the next edge; Stop ends that.
    ASSERT_TRUE(Pump([&] { return ev.stopped == 1 && ev.played == 2; }, 20000));
    prepared = ev.uploaded;
    card->Stop();
  }
  ASSERT_TRUE(Pump([&] { return ev.stopped == (c.bursts == 0 ? 1 : c.trigger ? 2 : 1); }, 20000));
  ASSERT_TRUE(ev.errors.empty()) << ev.errors.front();
  ASSERT_FALSE(ev.bursts.empty());
  if (c.bursts != 0) EXPECT_EQ(ev.bursts.back(), c.bursts);
  // After Stop nothing more is put out, also once the next run is prepared.
  const auto stopped = sim.SamplesRaw("Dev1/ao0", nullptr, 0);
  ASSERT_TRUE(Pump([&] { return ev.uploaded > prepared; }, 20000));
  EXPECT_EQ(sim.SamplesRaw("Dev1/ao0", nullptr, 0), stopped);

  const auto recorded = ReadRecording(folder / "Dev1-Dev1_ao0.csv");
  sim.SetRecordFolder("");
  std::filesystem::remove_all(folder);
  // The run: changes while driven, then the release that ends it.
  std::size_t end = 0;
  while (end < recorded.size() && recorded[end].on) ++end;
  ASSERT_LT(end, recorded.size()) << "the run ends undriven";
  ASSERT_GT(end, 0u);
  EXPECT_EQ(recorded[end].volts, recorded[end - 1].volts) << "the output holds its last value";
  const std::size_t played = std::size_t(stopped);
  const auto view = ViewChanges(*voltage, rate, c.bursts, c.bursts ? played : played + 1);
  ASSERT_GE(view.size(), end);
  if (c.bursts != 0) EXPECT_EQ(end, view.size()) << "every change of the view, no other";
  const double t0 = recorded[0].time;
  for (std::size_t i = 0; i < end; ++i) {
    ASSERT_EQ(recorded[i].volts, view[i].volts) << "change " << i << " at " << view[i].time;
    ASSERT_NEAR(recorded[i].time - t0, view[i].time, 1.0 / rate) << "change " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Documents, DaqPlays,
                         ::testing::ValuesIn(std::vector<PlayCase>{{"levels", 1, false},
                                                                   {"levels", 3, false},
                                                                   {"levels", 0, false},
                                                                   {"levels", 3, true},
                                                                   {"ramp", 1, false},
                                                                   {"ramp", 3, false},
                                                                   {"ramp", 0, false},
                                                                   {"ramp", 1, true},
                                                                   {"ramp", 0, true},
                                                                   {"sine", 1, false},
                                                                   {"sine", 3, false},
                                                                   {"sine", 0, false},
                                                                   {"sine", 3, true},
                                                                   {"levels", 0, true},
                                                                   {"sine", 0, true},
                                                                   {"levels", 1, true},
                                                                   {"ramp", 3, true},
                                                                   {"sine", 1, true}}),
                         PlayCaseName);

// The card's command log: what the driver told the library, as --trace and the Commands page
// show it.
class DaqTraceLog {
 public:
  explicit DaqTraceLog(TDaqMxDevice& card) : trace_(card.GetTrace()) {
    trace_->SetTraceObserver([this](const std::string& line) {
      std::lock_guard guard(lock_);
      lines_.push_back(line);
    });
  }
  ~DaqTraceLog() { trace_->SetTraceObserver(nullptr); }
  std::vector<std::string> Lines() {
    std::lock_guard guard(lock_);
    return lines_;
  }
  // Position of the first line at or after `from` equal to `line`, or -1.
  int Find(const std::string& line, int from = 0) {
    const auto lines = Lines();
    for (int k = std::max(from, 0); k < static_cast<int>(lines.size()); ++k)
      if (lines[static_cast<std::size_t>(k)] == line) return k;
    return -1;
  }

 private:
  std::shared_ptr<TDaqTrace> trace_;
  std::mutex lock_;
  std::vector<std::string> lines_;
};

TEST_F(DaqStream, TraceRecordsTheCallsInOrderAndSummarisesWrites) {
  DaqTraceLog log(*card);
  Upload(Ramp(), true);
  card->SetBurstCount(1);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped > 0; }, 20000));
  // What a run tells the card, in this order; the first write holds one burst, then its end
  // value (1 V rising by 10 V/s for 0.25 s).
  int at = 0;
  for (const char* line :
       {"> output: channel Dev1/ao0, range -10 .. 10 V", "> output: buffer 8000 samples",
        "> output: timing 4000 S/s, rising edge, continuous, 4000 samples "
        "per buffer",
        "> start value: create task", "> start value: channel Dev1/ao0, range -10 .. 10 V",
        "> start value: auto start, write 1 sample [1 .. 1]", "> start value: clear task",
        "> output: no start trigger", "> output: write 4000 samples [1 .. 3.4975]",
        "> output: start", "> output: write 4000 samples [3.4975 .. 3.4975]", "> output: stop"}) {
    const int next = log.Find(line, at);
    ASSERT_GE(next, at) << "missing or out of order: " << line;
    at = next + 1;
  }
  const auto lines = log.Lines();
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("> ", 0), 0u) << "no call failed: " << line;
    EXPECT_LT(line.size(), 120u) << "a write is summarised, never listed";
  }
  EXPECT_LT(lines.size(), 30u);
}

// A wired product whose factor is not 1: the card's limits, its first value and every sample
// are the document's values divided by the factor (40 V at 4 V per control volt).
TEST_F(DaqStream, TheWiredProductsFactorScalesLimitsFirstValueAndSamples) {
  input = std::make_shared<TAnalogDevice>("KSV 3720-40", "8");
  ASSERT_DOUBLE_EQ(input->GetVoltageFactor(), 4.0);
  card->GetConnectedInputs()[0] = input;
  input->GetConnectedOutputs()[0] = std::static_pointer_cast<IAnalogOutput>(card);
  DaqTraceLog log(*card);
  Upload(Ramp(), true);
  EXPECT_DOUBLE_EQ(card->GetMaxVoltage(), 10.0);
  EXPECT_DOUBLE_EQ(card->GetMinVoltage(), -10.0);
  EXPECT_DOUBLE_EQ(card->GetMaxCurrent(), 10.0);  // 8 A at 0.8 A per volt
  EXPECT_GE(log.Find("> start value: auto start, write 1 sample [0.25 .. 0.25]"), 0)
      << "the first value, 1 V, is put out as 0.25 V";
  sim.ClearRecording();
  card->SetBurstCount(1);
  card->Play();
  ASSERT_TRUE(Pump([&] { return ev.stopped > 0; }, 20000));
  const auto out = sim.Samples("Dev1/ao0");
  ASSERT_GE(out.size(), std::size_t(kPerBurst));
  for (int k = 0; k < kPerBurst; ++k) ASSERT_NEAR(out[k], RampSample(k) / 4.0, 1e-9) << k;
}

// The start trigger's edge goes out as the C reference's value (rising 10280, falling 10171),
// and the trace names the edge of the value that went out.
TEST_F(DaqStream, StartTriggerEdgeIsTheReferenceValueAndTracedFromIt) {
  for (bool falling : {false, true}) {
    SCOPED_TRACE(falling);
    DaqTraceLog log(*card);
    card->SetExternalTrigger(true);
    card->SetTriggerOnFallingEdge(falling);
    ev = {};
    Upload(Ramp());
    card->Play();
    ASSERT_TRUE(Pump([&] { return ev.played == 1; }, 10000));
    EXPECT_EQ(sim.StartTriggerEdge("Dev1/ao0"), falling ? 10171 : 10280);
    EXPECT_GE(log.Find(std::string("> output: start trigger /Dev1/PFI0, ") +
                       (falling ? "falling" : "rising") + " edge"),
              0);
    card->Stop();
    ASSERT_TRUE(Pump([&] { return ev.stopped == 1; }, 10000));
  }
}

TEST_F(DaqStream, TraceRecordsTheErrorOfAFailingCall) {
  DaqTraceLog log(*card);
  ASSERT_NO_FATAL_FAILURE(RemoveCardWhilePlaying());
  const auto lines = log.Lines();
  const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("< error: ", 0) == 0;
  });
  ASSERT_NE(error, lines.end());
  EXPECT_NE(error->find("removed"), std::string::npos) << *error;
  EXPECT_NE(error->find(ev.errors[0]), std::string::npos) << "the same message as reported";
  // Right after the call that failed: a write of the running stream.
  ASSERT_NE(error, lines.begin());
  EXPECT_EQ((error - 1)->rfind("> output: write 4000 samples", 0), 0u) << *(error - 1);
  card->Disconnect();
  card.reset();
  sim.Configure(kCards);
}

// The rate is chosen once, by one function, whether the engine streams or the editor shows the
// stream beforehand.
TEST(DaqRate, HalfTheComputingSpeedAtMostTheCardsMaximum) {
  EXPECT_DOUBLE_EQ(ChooseDaqRate(1e6, 4.0), 1e6) << "a fast computer: the card's maximum";
  EXPECT_DOUBLE_EQ(ChooseDaqRate(1e9, 9.0), 5e7) << "a million samples in 10 ms: 50 MS/s";
  EXPECT_DOUBLE_EQ(ChooseDaqRate(1e9, 0.0), 5e8) << "a probe under 1 ms counts as 1 ms";
  EXPECT_GT(DaqSamplingThreads(0), 0);
  EXPECT_EQ(DaqSamplingThreads(3), 3);
}

TEST_F(DaqStream, RateShownBeforehandIsTheRateTheEngineStreamsAt) {
  const auto found = FirstDaqCard();
  ASSERT_TRUE(found);
  EXPECT_EQ(found->Name, "Dev1");
  EXPECT_EQ(found->MaxStreamRate, kRate);
  auto shown = Ramp();
  const double probeMs = ProbeDaqWaveform(*shown, 1.0, 0);
  const TDaqRateChoice before = ChooseStreamRate(probeMs, found);
  Upload(Ramp());
  const auto engine = card->GetExecuteThread();
  EXPECT_EQ(before.Rate, engine->Rate());
  EXPECT_TRUE(before.CardLimited);
  EXPECT_EQ(ChooseStreamRate(engine->ProbeMilliseconds(), found).Rate, engine->Rate());
  // Without a card, or with one faster than this computer, the computing speed sets the rate.
  const TDaqRateChoice free = ChooseStreamRate(probeMs, std::nullopt);
  EXPECT_FALSE(free.CardLimited);
  EXPECT_EQ(free.Rate, ChooseDaqRate(std::numeric_limits<double>::infinity(), probeMs));
  const TDaqRateChoice fast = ChooseStreamRate(probeMs, TDaqCardInfo{"Dev9", "PCIe-6738", 1e15});
  EXPECT_FALSE(fast.CardLimited);
  EXPECT_EQ(fast.Rate, free.Rate);
}

}  // namespace
}  // namespace ondrevo
