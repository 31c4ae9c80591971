// The instrument preview: point lists, deviation, clipping and memory findings, the worker, and
// agreement with what the family-C driver sends to the simulated supply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "CurveHelpers.h"
#include "devices/MainThread.h"
#include "devices/ModelTables.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "devices/supplies/ksv7340/Ksv7340Protocol.h"
#include "model/Builder.h"
#include "playback/InstrumentPreview.h"
#include "playback/PreviewWorker.h"
#include "sim/Front.h"
#include "sim/Ksv7340Sim.h"
#include "transports/RS232Interface.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr auto Curve = &test::CurveThrough;

SegmentTable WithSine(SegmentTable t, int row, double f0, double f1, double pp0, double pp1,
                      SuperpositionKind kind = SuperpositionKind::Sine, int phase = 0) {
  t[row].Sup1.Kind = kind;
  t[row].Sup1.FreqStart = f0;
  t[row].Sup1.FreqEnd = f1;
  t[row].Sup1.AmpStart = pp0;
  t[row].Sup1.AmpEnd = pp1;
  t[row].Sup1.Phase = phase;
  return t;
}

const SupplyListSettings kC = ListSettingsForModel("KSV 7341-20");

// The played level at t, from the durations alone.
double PlayedAt(const InstrumentPreview& p, int curve, double t) {
  double end = 0;
  for (std::size_t j = 0; j < p.Durations.size(); ++j) {
    end += p.Durations[j];
    if (t < end - 1e-12) return p.Values[curve][j];
  }
  return p.Values[curve].back();
}

TEST(InstrumentPreview, ExactStaircasesHaveNoDeviation) {
  // A held level: one point, as designed.
  auto p = ComputeInstrumentPreview(Curve({{0, 5}, {10, 5}}), Curve({{0, 2}, {10, 2}}), kC);
  EXPECT_THAT(p.Durations, ElementsAre(10.0));
  EXPECT_THAT(p.Values[0], ElementsAre(5.0));
  EXPECT_THAT(p.Values[1], ElementsAre(2.0));
  EXPECT_THAT(p.Times, ElementsAre(0.0, 10.0));
  EXPECT_EQ(p.Voltage.MaxDeviation, 0.0);
  EXPECT_EQ(p.Current.MaxDeviation, 0.0);
  EXPECT_TRUE(p.Fits());
  EXPECT_FALSE(p.MissingCurrent());

  // Steps on the grid, including a zero-duration one and one at 0.3 s (not exact in binary).
  p = ComputeInstrumentPreview(Curve({{0, 2}, {0.3, 2}, {0.3, 7}, {1.5, 7}, {1.5, 3}, {2, 3}}),
                               Curve({{0, 1}, {2, 1}}), kC);
  ASSERT_EQ(p.PointCount(), 3);
  EXPECT_NEAR(p.Durations[0], 0.3, 1e-12);
  EXPECT_NEAR(p.Durations[1], 1.2, 1e-12);
  EXPECT_THAT(p.Values[0], ElementsAre(2.0, 7.0, 3.0));
  EXPECT_EQ(p.Times[1], 0.3);
  EXPECT_EQ(p.Voltage.MaxDeviation, 0.0);
  EXPECT_TRUE(p.Fits());
}

TEST(InstrumentPreview, RampDeviationIsTheLargestGapOfTheStaircase) {
  auto p = ComputeInstrumentPreview(Curve({{0, 0}, {1, 10}}), Curve({{0, 1}, {1, 1}}), kC);
  ASSERT_GT(p.PointCount(), 10);
  // Independently: a fine walk over the linear design against the played levels.
  double worst = 0;
  for (int k = 0; k <= 100000; ++k) {
    const double t = k * 1e-5;
    worst = std::max(worst, std::fabs(10 * t - PlayedAt(p, 0, std::min(t, 1 - 1e-9))));
  }
  EXPECT_NEAR(p.Voltage.MaxDeviation, worst, 1e-4);
  EXPECT_GT(p.Voltage.MaxDeviation, 0.05);  // family C holds each level at least 10 ms
  EXPECT_TRUE(p.DeviationTooLarge());       // more than ten 5 mV steps
  EXPECT_FALSE(p.Fits());
}

TEST(InstrumentPreview, KilohertzSineOnFamilyCMatchesABruteForceEvaluation) {
  const SegmentTable v = WithSine(Curve({{0, 5}, {2, 5}}), 0, 1000, 1000, 2, 2);
  const auto p = ComputeInstrumentPreview(v, Curve({{0, 1}, {2, 1}}), kC);
  EXPECT_EQ(p.Voltage.SampleRate, 20000);
  double worst = 0, at = 0;
  for (int k = 0; k < 40000; ++k) {
    const double t = k / 20000.0;
    const double d = std::fabs(5 + std::sin(kTwoPi * 1000 * t) - PlayedAt(p, 0, t));
    if (d > worst) worst = d, at = t;
  }
  EXPECT_NEAR(p.Voltage.MaxDeviation, worst, 1e-9);
  EXPECT_NEAR(p.Voltage.DeviationTime, at, 1e-12);
  // Sampled every 5 ms, the ripple aliases to a nearly flat line: it does not survive.
  EXPECT_GT(p.Voltage.MaxDeviation, 0.99);
  EXPECT_FALSE(p.Fits());
}

// Sweeps, a backwards sawtooth, and several segments: the pruned evaluation gives what a plain
// evaluation of every design sample gives.
TEST(InstrumentPreview, PrunedEvaluationEqualsThePlainOne) {
  SegmentTable v = Curve({{0, 5}, {1.5, 8}, {2.5, 8}, {3, 2}});
  v = WithSine(v, 0, 37, 80, 1, 3);
  v = WithSine(v, 1, 3, 3, 2, 2, SuperpositionKind::Sawtooth, -270);
  v = WithSine(v, 2, 11, 5, 1, 0.5, SuperpositionKind::Triangle);
  const SupplyListSettings settings = ListSettingsForModel("KSV 5203-32");
  const auto p = ComputeInstrumentPreview(v, Curve({{0, 1}, {3, 1}}), settings);
  auto w = BuildWaveform(v);
  const double rate = w->GetSampleRate();
  // The design's samples, and the last moment of every level as the sampler sees it.
  double worst = 0;
  for (int k = 0; k / rate < 3; ++k) {
    const double t = k / rate;
    worst = std::max(worst, std::fabs(w->ValueAt(t) - PlayedAt(p, 0, t)));
  }
  for (int j = 0; j + 1 < p.PointCount(); ++j) {
    const double t = p.Times[j + 1] - kSamplerEpsilon;
    worst = std::max(worst, std::fabs(w->ValueAt(t) - p.Values[0][j]));
  }
  EXPECT_GT(worst, 0.05);
  EXPECT_NEAR(p.Voltage.MaxDeviation, worst, 1e-8);
}

TEST(InstrumentPreview, ClippingSaysWhereAndByHowMuch) {
  // 7341-20: 0..20 V, 0..40 A.
  SegmentTable v = Curve({{0, 0}, {3, 30}, {4, 30}, {5, 10}, {6, -1}, {7, -1}});
  const auto p = ComputeInstrumentPreview(v, Curve({{0, 41}, {7, 41}}), kC);
  ASSERT_EQ(p.Voltage.Clipping.size(), 2u);
  const ClipFinding& up = p.Voltage.Clipping[0];
  EXPECT_TRUE(up.Above);
  EXPECT_NEAR(up.From, 2.0, 1e-12);
  EXPECT_NEAR(up.To, 4.5, 1e-12);  // three segments merged
  EXPECT_DOUBLE_EQ(up.Excess, 10.0);
  EXPECT_EQ(up.Limit, 20.0);
  const ClipFinding& down = p.Voltage.Clipping[1];
  EXPECT_FALSE(down.Above);
  EXPECT_NEAR(down.From, 5 + 10.0 / 11, 1e-12);
  EXPECT_DOUBLE_EQ(down.To, 7.0);
  EXPECT_DOUBLE_EQ(down.Excess, 1.0);
  ASSERT_EQ(p.Current.Clipping.size(), 1u);
  EXPECT_DOUBLE_EQ(p.Current.Clipping[0].Excess, 1.0);
  EXPECT_FALSE(p.Fits());
  // The played list holds the limits.
  EXPECT_EQ(*std::max_element(p.Values[0].begin(), p.Values[0].end()), 20.0);
  EXPECT_EQ(*std::min_element(p.Values[0].begin(), p.Values[0].end()), 0.0);
  const auto lines = SilentChangeFindings(p);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "voltage above 20 V by up to 10 V from 2 s to 4.5 s");
  EXPECT_EQ(lines[2], "current above 40 A by up to 1 A from 0 s to 7 s");

  // A superposed segment reports its bound, over the whole segment.
  const auto s = ComputeInstrumentPreview(WithSine(Curve({{0, 15}, {1, 15}}), 0, 5, 5, 12, 12),
                                          Curve({{0, 1}, {1, 1}}), kC);
  ASSERT_EQ(s.Voltage.Clipping.size(), 1u);
  EXPECT_DOUBLE_EQ(s.Voltage.Clipping[0].Excess, 1.0);
  EXPECT_EQ(s.Voltage.Clipping[0].To, 1.0);
  // Both limits in one segment; the stretch above goes on into the next segment.
  const auto both = ComputeInstrumentPreview(
      WithSine(Curve({{0, 10}, {1, 10}, {1, 25}, {2, 25}}), 0, 5, 5, 24, 24),
      Curve({{0, 1}, {2, 1}}), kC);
  ASSERT_EQ(both.Voltage.Clipping.size(), 2u);
  EXPECT_TRUE(both.Voltage.Clipping[0].Above);
  EXPECT_EQ(both.Voltage.Clipping[0].To, 2.0);
  EXPECT_DOUBLE_EQ(both.Voltage.Clipping[0].Excess, 5.0);
  EXPECT_FALSE(both.Voltage.Clipping[1].Above);
  EXPECT_EQ(both.Voltage.Clipping[1].To, 1.0);
  EXPECT_DOUBLE_EQ(both.Voltage.Clipping[1].Excess, 2.0);
  // Within the sampler's tolerance nothing is reported.
  EXPECT_TRUE(
      ComputeInstrumentPreview(Curve({{0, 20.00000001}, {1, 20}}), Curve({{0, 1}, {1, 1}}), kC)
          .Voltage.Clipping.empty());
}

TEST(InstrumentPreview, MissingCurrentAndSummaryTexts) {
  const auto p = ComputeInstrumentPreview(Curve({{0, 5}, {10, 5}}), SegmentTable(), kC);
  EXPECT_TRUE(p.MissingCurrent());
  EXPECT_THAT(p.Values[1], ElementsAre(40.0));
  EXPECT_TRUE(p.Fits());  // plays as the program designs it, but the user is told
  EXPECT_EQ(PreviewSummary(p),
            "1 of 1000 points \u00b7 max deviation 0 V at 0 s \u00b7 no current curve: limit 40 A");
  EXPECT_THAT(PreviewFindings(p), ElementsAre("no current curve: limit 40 A"));

  // Without a voltage curve the supply would play its maximum voltage.
  const auto u = ComputeInstrumentPreview(SegmentTable(), Curve({{0, 1}, {2, 3}}), kC);
  EXPECT_TRUE(u.MissingVoltage());
  EXPECT_FALSE(u.Fits());
  EXPECT_THAT(u.Values[0], ::testing::Each(20.0));
  EXPECT_THAT(SilentChangeFindings(u),
              ElementsAre("no voltage curve: the supply plays its maximum, 20 V"));
  EXPECT_THAT(PreviewSummary(u), HasSubstr("points \u00b7 no voltage curve"));

  const SegmentTable v = WithSine(Curve({{0, 5}, {2, 5}}), 0, 1000, 1000, 2, 2);
  const auto q = ComputeInstrumentPreview(v, Curve({{0, 1}, {2, 1}}), kC);
  // 5 V + 1 V sine played as a flat 5.0006 V: the worst is the first trough.
  EXPECT_EQ(
      PreviewSummary(q),
      "1 of 1000 points \u00b7 max deviation 1 V at 0.00075 s \u00b7 max deviation 0 A at 0 s");
  EXPECT_THAT(PreviewFindings(q),
              ElementsAre(HasSubstr("voltage segment 1: The first superposition takes up to much"),
                          "voltage: the played staircase deviates by 1 V at 0.00075 s, more than "
                          "ten resolution steps"));
}

TEST(SuperpositionMemory, NeededPointsAndTheEditorsRefusals) {
  EXPECT_EQ(NeededPoints(0, 10, 10, 10, SuperpositionKind::Sine), 1000);
  EXPECT_EQ(NeededPoints(0, 10, 25, 25, SuperpositionKind::Square), 1000);
  EXPECT_EQ(NeededPoints(0, 10, 5, 20, SuperpositionKind::Triangle), 2000);

  SegmentTable t = Curve({{0, 1}, {10, 1}, {20, 1}, {30, 1}, {30, 2}, {40, 2}, {50, 2}});
  t = WithSine(t, 0, 10, 10, 2, 2);      // 1000: accepted
  t = WithSine(t, 1, 10.1, 10.1, 2, 2);  // refused
  t = WithSine(t, 2, 5, 20, 0, 0);       // amplitude 0: never refused
  t = WithSine(t, 3, 1, 1, 1, 1);        // zero duration
  t[3].Sup2 = t[1].Sup1;                 // ... with a second one
  t = WithSine(t, 4, 1, 1, 1, 1);
  t[4].Sup2 = t[1].Sup1;  // second refused
  t[4].Sup2.Kind = SuperpositionKind::Square;
  t[4].Sup2.FreqStart = t[4].Sup2.FreqEnd = 26;
  t[5].Sup2 = t[4].Sup2;  // no first: a plain ramp
  const auto f = CheckSuperpositionMemory(t);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0].Segment, 1);
  EXPECT_STREQ(f[0].Message, kFirstSuperpositionTooLarge);
  EXPECT_NEAR(f[0].Needed, 1010, 1e-9);
  EXPECT_EQ(f[1].Segment, 3);
  EXPECT_EQ(f[1].Superposition, 2);
  EXPECT_STREQ(f[1].Message, kDurationNotPositive);
  EXPECT_EQ(f[2].Segment, 3);
  EXPECT_EQ(f[2].Superposition, 1);
  EXPECT_EQ(f[3].Segment, 4);
  EXPECT_STREQ(f[3].Message, kSecondSuperpositionTooLarge);
  EXPECT_EQ(f[3].Needed, 1040);
  // An analog output card refuses no point count, only the zero duration.
  EXPECT_EQ(CheckSuperpositionMemory(t, 12000, false).size(), 2u);

  const auto p = ComputeInstrumentPreview(t, Curve({{0, 1}, {50, 1}}), kC);
  EXPECT_EQ(p.Voltage.Memory.size(), 4u);
  EXPECT_FALSE(p.Fits());
  EXPECT_THAT(PreviewFindings(p)[0], HasSubstr("voltage segment 2: The first superposition"));
}

TEST(PreviewWorker, ANewerRequestCancelsTheStaleRun) {
  std::mutex m;
  std::vector<std::uint64_t> delivered;
  TPreviewWorker worker([&](const PreviewOutcome& o) {
    std::lock_guard g(m);
    delivered.push_back(o.Generation);
  });
  // Ten hours of a 1 kHz sine on a family-A model: seconds of sampling.
  PreviewRequest slow{WithSine(Curve({{0, 5}, {36000, 5}}), 0, 1000, 1000, 2, 2),
                      Curve({{0, 1}, {36000, 1}}), ListSettingsForModel("KSV 5203-32")};
  worker.Request(slow);
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  const std::uint64_t second =
      worker.Request({Curve({{0, 5}, {10, 5}}), Curve({{0, 1}, {10, 1}}), kC});
  ASSERT_TRUE(worker.WaitIdle(20s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(worker.CancelledRuns(), 1u);
  std::lock_guard g(m);
  EXPECT_THAT(delivered, ElementsAre(second));
  ASSERT_TRUE(worker.Latest());
  EXPECT_EQ(worker.Latest()->Preview->PointCount(), 1);

  // Cancel drops the run in progress and delivers nothing.
  worker.Request(slow);
  std::this_thread::sleep_for(50ms);
  worker.Cancel();
  ASSERT_TRUE(worker.WaitIdle(5s));
  EXPECT_EQ(delivered.size(), 1u);
}

TEST(PreviewWorker, SamplingErrorsAreDelivered) {
  std::atomic<int> errors{0};
  TPreviewWorker worker([&](const PreviewOutcome& o) {
    if (!o.Preview && !o.Error.empty()) ++errors;
  });
  SupplyListSettings bad = kC;
  bad.MinDwellTime = 0;  // refused by the sampler
  worker.Request({Curve({{0, 5}, {10, 5}}), SegmentTable(), bad});
  ASSERT_TRUE(worker.WaitIdle(5s));
  EXPECT_EQ(errors.load(), 1);
}

// Every walk over a superposition's samples moves on or stops with an error: a rate whose sample
// indexes pass 2^53 within the segment (1e14 Hz from the start, 1 GHz a day and more into the
// curve) is refused, and the worker delivers that instead of spinning. A segment of a denormal
// duration is measured like any other.
TEST(InstrumentPreview, SampleWalksEndAtTheFrequencyEdge) {
  const SegmentTable current = Curve({{0, 1}, {10, 1}});
  SupplyListSettings longDwell = kC;  // a held day is one point
  longDwell.MaxDwellTime = 1e6;
  auto fails = [&](const SegmentTable& voltage) {
    try {
      ComputeInstrumentPreview(voltage, current, longDwell);
    } catch (const ESamplerError& e) {
      return std::string(e.what());
    }
    return std::string("computed");
  };
  EXPECT_THAT(fails(WithSine(Curve({{0, 5}, {10, 5}}), 0, 1e14, 1e14, 2, 2)),
              HasSubstr("too fast to be sampled"));
  EXPECT_THAT(fails(WithSine(Curve({{0, 5}, {1e6, 5}, {1e6 + 10, 5}}), 1, 1e9, 1e9, 2, 2)),
              HasSubstr("far from the start of the curve: 1000000"));
  EXPECT_EQ(fails(WithSine(Curve({{0, 5}, {4e5, 5}, {4e5 + 10, 5}}), 1, 1e9, 1e9, 2, 2)),
            "computed");
  EXPECT_EQ(fails(WithSine(Curve({{0, 5}, {10, 5}}), 0, 1e9, 1e9, 2, 2)), "computed");
  EXPECT_EQ(fails(WithSine(Curve({{0, 5}, {10, 5}}), 0, 1e5, 1e5, 2, 2)), "computed");
  // 1e-320 s: a denormal duration, then an ordinary segment.
  EXPECT_EQ(fails(WithSine(Curve({{0, 5}, {1e-320, 5}, {10, 6}}), 0, 1000, 1000, 2, 2)),
            "computed");

  std::atomic<int> errors{0};
  TPreviewWorker worker([&](const PreviewOutcome& o) {
    if (!o.Preview && o.Error.find("too fast") != std::string::npos) ++errors;
  });
  worker.Request({WithSine(Curve({{0, 5}, {10, 5}}), 0, 1e14, 1e14, 2, 2), current, kC});
  ASSERT_TRUE(worker.WaitIdle(60s));
  EXPECT_EQ(errors.load(), 1);
}

// The list the preview shows is the list the driver sends: same sampler, limits and resolutions.
TEST(PreviewAgainstDriver, ThePointListIsWhatTheSimulatedSupplyReceives) {
  TEventQueue queue;
  queue.Install();
  const auto dir =
      std::filesystem::temp_directory_path() / ("ondrevo-preview-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto instrument = sim::CreateSimInstrument("KSV 7342-80", "100001", sim::MakeScaledClock(10.0));
  auto front = std::make_unique<sim::TPtyFront>(instrument, (dir / "ttySIM").string());
  auto transport = std::make_shared<TRS232Interface>(1, front->Path());
  std::mutex traceLock;
  std::vector<std::string> sent;
  transport->SetTraceObserver([&](const std::string& line) {
    std::lock_guard g(traceLock);
    if (line.starts_with("> LIST:VOLT ") || line.starts_with("> LIST:CURR ") ||
        line.starts_with("> LIST:DWEL "))
      sent.push_back(line.substr(2));
  });
  auto device = std::make_shared<TKsv7340Device>("KSV 7342-80", transport, "100001");
  bool done = false;
  std::string error;
  device->SetOnUploadDone([&](IDevice*) { done = true; });
  device->SetOnError([&](IDevice*, const std::exception& e) { error = e.what(); });
  device->Connect();

  // A swept sine over a ramp that leaves the 80 V range, and a current with steps.
  const SegmentTable v = WithSine(Curve({{0, 10}, {20, 85}}), 0, 2, 40, 6, 2);
  const SegmentTable c = Curve({{0, 1}, {5, 1}, {5, 3}, {20, 2}});
  const auto preview = ComputeInstrumentPreview(v, c, device->ListSettings());
  device->Upload(BuildWaveform(v), BuildWaveform(c), true);
  ASSERT_TRUE(queue.PumpUntil([&] { return done || !error.empty(); }, 30s));
  ASSERT_TRUE(error.empty()) << error;
  queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 10s);
  device->Disconnect();
  front.reset();
  std::filesystem::remove_all(dir);
  TMainThread::SetDispatcher(nullptr);

  EXPECT_GT(preview.PointCount(), 500);
  EXPECT_FALSE(preview.Voltage.Clipping.empty());
  std::vector<std::string> expected;
  for (int p = 0; p < preview.PointCount(); ++p) {
    const auto chunk = ksv7340::BuildListChunk(preview.Durations, preview.Values[0],
                                               preview.Values[1], p, device->GetMaxCommandLength());
    expected.push_back(chunk.Voltage + ksv7340::kOpcQuery);
    expected.push_back(chunk.Current + ksv7340::kOpcQuery);
    expected.push_back(chunk.Dwell + ksv7340::kOpcQuery);
    p = chunk.Last;
  }
  std::lock_guard g(traceLock);
  EXPECT_EQ(sent, expected);
}

}  // namespace
}  // namespace ondrevo

namespace ondrevo {
namespace {

TEST(InstrumentPreview, DipsShorterThanTheDwellAreToldAsShiftsOrAsMissing) {
  SupplyListSettings s = kC;
  s.MinDwellTime = 0.01;
  // 15 ms dip, 5 ms up, 5 ms dip: the supply plays one 25 ms dip with its high 10 ms late.
  const SegmentTable dips = Curve({{0, 7.5}, {2.5, 7.5}, {2.5, 0}, {2.515, 0}, {2.515, 7.5},
                                   {2.52, 7.5}, {2.52, 0}, {2.525, 0}, {2.525, 7.5}, {5, 7.5}});
  const auto p = ComputeInstrumentPreview(dips, Curve({{0, 1}, {5, 1}}), s);
  EXPECT_DOUBLE_EQ(p.Voltage.MaxDeviation, 7.5);  // the plain figure stays: the step's height
  ASSERT_FALSE(p.Voltage.Stretches.Findings.empty());
  EXPECT_TRUE(p.Voltage.Stretches.OnlyTiming());
  EXPECT_GT(p.Voltage.Stretches.LargestShift(), 0.004);
  EXPECT_LE(p.Voltage.Stretches.LargestShift(), s.MinDwellTime);
  EXPECT_THAT(PreviewSummary(p),
              HasSubstr("max deviation 7.5 V at 2.52 s, only a shift in time: the played curve "
                        "follows the design within "));
  EXPECT_THAT(PreviewFindings(p), ElementsAre(HasSubstr("resolution steps: only a shift in time")));

  // A lone 5 ms dip is dropped by the sampler: a value the supply never plays, told as before.
  const auto lone = ComputeInstrumentPreview(
      Curve({{0, 7.5}, {2.5, 7.5}, {2.5, 0}, {2.505, 0}, {2.505, 7.5}, {5, 7.5}}),
      Curve({{0, 1}, {5, 1}}), s);
  ASSERT_FALSE(lone.Voltage.Stretches.Findings.empty());
  EXPECT_EQ(lone.Voltage.Stretches.Findings[0].Kind, EDeviationKind::Missing);
  EXPECT_EQ(PreviewSummary(lone),
            "2 of 1000 points \u00b7 max deviation 7.5 V at 2.5 s \u00b7 max deviation 0 A at 0 s");
}

}  // namespace
}  // namespace ondrevo
