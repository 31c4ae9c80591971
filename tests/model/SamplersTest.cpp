#include <gtest/gtest.h>
#include <atomic>

#include <chrono>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>

#include "CurveHelpers.h"
#include "model/Builder.h"
#include "model/Samplers.h"

namespace ondrevo {
namespace {

struct Limits {
  double minDwell, maxDwell;
  int maxPoints;
};
constexpr Limits kFamilyA{0.0002, 100, 1000};
constexpr Limits kFamilyB{0.05, 100, 255};
constexpr Limits kFamilyC{0.01, 100, 1000};

constexpr auto Table = &test::CurveThrough;

void SetLimits(TWaveform& w, double lo, double hi, double res) {
  w.MinValue = lo;
  w.MaxValue = hi;
  w.Resolution = res;
}

struct PointList {
  TDoubleVector durations;
  TDoubleMatrix values;
};

PointList Sample(TWaveform& v, TWaveform& c, Limits l, bool skipHeld = true) {
  TCountSampler s;
  s.MinDwellTime = l.minDwell;
  s.MaxDwellTime = l.maxDwell;
  s.Waveforms = {&v, &c};
  s.SkipHeldLevels = skipHeld;
  PointList p;
  s.Execute(l.maxPoints, p.durations, p.values);
  EXPECT_FALSE(s.Aborted());
  return p;
}

double Sum(const TDoubleVector& d) {
  return std::accumulate(d.begin(), d.end(), 0.0);
}

TEST(CountSampler, ConstantLevelSplitByMaxDwell) {
  auto v = BuildWaveform(Table({{0, 5}, {10, 5}}));
  TWaveform empty;
  SetLimits(*v, 0, 20, 0.01);
  SetLimits(empty, 0, 3, 0.001);
  PointList p = Sample(*v, empty, kFamilyA);
  EXPECT_EQ(p.durations, TDoubleVector{10.0});
  EXPECT_EQ(p.values[0], TDoubleVector{5.0});
  EXPECT_EQ(p.values[1], TDoubleVector{3.0});  // an empty current curve asks for the maximum

  p = Sample(*v, empty, {0.0002, 4, 1000});
  EXPECT_EQ(p.durations, (TDoubleVector{4, 4, 2}));
  EXPECT_EQ(p.values[0], (TDoubleVector{5, 5, 5}));
}

TEST(CountSampler, ShortWaveformAndClamping) {
  auto v = BuildWaveform(Table({{0, 25}, {0.005, 30}}));  // shorter than 0.01 s
  auto c = BuildWaveform(Table({{0, -1}, {0.002, 1}}));
  SetLimits(*v, 0, 20, 0.01);
  SetLimits(*c, 0, 5, 0.001);
  PointList p = Sample(*v, *c, kFamilyC);
  EXPECT_EQ(p.durations, TDoubleVector{0.01});
  EXPECT_EQ(p.values[0], TDoubleVector{20.0});
  EXPECT_EQ(p.values[1], TDoubleVector{0.0});

  // Above the maximum everywhere, the first point included; within epsilon passes unchanged.
  auto high = BuildWaveform(Table({{0, 25}, {2, 30}, {2, 21}, {3, 40}}));
  SetLimits(*high, 0, 20, 0.01);
  TWaveform none;
  SetLimits(none, 0, 1, 0.001);
  p = Sample(*high, none, kFamilyC);
  EXPECT_EQ(p.values[0], TDoubleVector{20.0});
  EXPECT_EQ(p.durations, TDoubleVector{3.0});
  auto edge = BuildWaveform(Table({{0, 20.00000005}, {3, 20.00000005}}));
  SetLimits(*edge, 0, 20, 0.01);
  p = Sample(*edge, none, kFamilyC);
  EXPECT_EQ(p.values[0], TDoubleVector{20.00000005});
}

TEST(CountSampler, DwellBoundariesAreExact) {
  TWaveform none;
  SetLimits(none, 0, 1, 0.001);
  // Levels held exactly the minimum dwell are kept as they are.
  auto exact = BuildWaveform(
      Table({{0, 1}, {0.01, 1}, {0.01, 2}, {0.02, 2}, {0.02, 3}, {0.03, 3}, {0.03, 4}, {0.5, 4}}));
  SetLimits(*exact, 0, 20, 0.01);
  PointList p = Sample(*exact, none, kFamilyC);
  EXPECT_EQ(p.values[0], (TDoubleVector{1, 2, 3, 4}));
  ASSERT_EQ(p.durations.size(), 4u);
  EXPECT_DOUBLE_EQ(p.durations[0], 0.01);
  EXPECT_DOUBLE_EQ(p.durations[1], 0.01);
  EXPECT_DOUBLE_EQ(p.durations[2], 0.01);
  EXPECT_DOUBLE_EQ(p.durations[3], 0.47);

  // Two points, the last shorter than the minimum dwell: it joins the first.
  auto shortEnd = BuildWaveform(Table({{0, 1}, {0.05, 1}, {0.05, 2}, {0.055, 2}}));
  SetLimits(*shortEnd, 0, 20, 0.01);
  p = Sample(*shortEnd, none, kFamilyC);
  ASSERT_EQ(p.durations.size(), 1u);
  EXPECT_DOUBLE_EQ(p.durations[0], 0.055);
  EXPECT_EQ(p.values[0], TDoubleVector{1});
}

TEST(CountSampler, RampBecomesStaircase) {
  auto v = BuildWaveform(Table({{0, 0}, {1, 10}}));
  TWaveform c;
  SetLimits(*v, 0, 10, 0.01);
  SetLimits(c, 0, 1, 0.001);
  PointList coarse = Sample(*v, c, {0.0002, 100, 10});
  ASSERT_LE(coarse.durations.size(), 10u);
  ASSERT_GE(coarse.durations.size(), 5u);
  EXPECT_NEAR(Sum(coarse.durations), 1.0, 1e-9);
  for (std::size_t j = 1; j < coarse.values[0].size(); ++j)
    EXPECT_GT(coarse.values[0][j], coarse.values[0][j - 1]);  // rising levels
  PointList fine = Sample(*v, c, kFamilyA);
  EXPECT_GT(fine.durations.size(), 10 * coarse.durations.size());
  EXPECT_LE(fine.durations.size(), 1000u);
  // Each level lies within the reached tolerance of the ramp over its span.
  double t = 0;
  for (std::size_t j = 0; j < fine.durations.size(); ++j) {
    EXPECT_NEAR(fine.values[0][j], 10 * t, 0.1) << j;
    t += fine.durations[j];
  }
}

TEST(CountSampler, RefusesWhatItCannotDo) {
  auto v = BuildWaveform(Table({{0, 0}, {1, 10}}));
  TWaveform c;
  TCountSampler s;
  TDoubleVector d{42};
  TDoubleMatrix m{{1}};
  s.MinDwellTime = 0.0002;
  s.MaxDwellTime = 100;
  try {
    s.Execute(10, d, m);
    FAIL();
  } catch (const ESamplerError& e) {
    EXPECT_STREQ(e.what(), "No Waveform loaded");
  }
  SetLimits(*v, 0, 10, 0);
  s.Waveforms = {v.get(), &c};
  s.MinDwellTime = 0.00005;  // one grid step: the sampling step would be 0
  EXPECT_THROW(s.Execute(10, d, m), ESamplerError);

  // Resolution 0: the tolerance can never grow. The message names the budget asked for, not the
  // sampler's larger working target.
  s.MinDwellTime = 0.0002;
  try {
    s.Execute(10, d, m);
    FAIL();
  } catch (const ESamplerError& e) {
    EXPECT_STREQ(e.what(), "The waveform cannot be reduced to 10 points.");
  }

  // More held levels than the target: 10 Hz square over 10 s has 200 levels.
  auto sq = Table({{0, 5}, {10, 5}});
  sq[0].Sup1.Kind = SuperpositionKind::Square;
  sq[0].Sup1.FreqStart = sq[0].Sup1.FreqEnd = 10;
  auto square = BuildWaveform(sq);
  SetLimits(*square, 0, 10, 0.01);
  SetLimits(c, 0, 1, 0.001);
  s.Waveforms = {square.get(), &c};
  try {
    s.Execute(10, d, m);
    FAIL();
  } catch (const ESamplerError& e) {
    EXPECT_STREQ(e.what(), "The waveform cannot be reduced to 10 points.");
  }
  EXPECT_NO_THROW(s.Execute(400, d, m));
  EXPECT_GE(d.size(), 200u);
  EXPECT_LE(d.size(), 400u);

  // A value that is not a number never leaves the sampler.
  auto nan = Table({{0, 1}, {3, 1}});
  nan[0].Sup1.Kind = SuperpositionKind::Sawtooth;
  nan[0].Sup1.FreqStart = nan[0].Sup1.FreqEnd = 0;
  auto bad = BuildWaveform(nan);
  SetLimits(*bad, 0, 10, 0.01);
  s.Waveforms = {bad.get(), &c};
  d = {42};
  try {
    s.Execute(10, d, m);
    FAIL();
  } catch (const ESamplerError& e) {
    EXPECT_NE(std::string(e.what()).find("no finite value at 1E-7 s"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(d, TDoubleVector{42});

  // Infinity is not clamped to a limit either; the error names the waveform and the time.
  auto huge = BuildWaveform(Table({{0, 1}, {1, 1}, {1, 1e308}, {2, 1e308}}));
  SetLimits(*huge, 0, 10, 0.01);
  s.Waveforms = {&c, huge.get()};
  s.Gain = 10;
  try {
    s.Execute(10, d, m);
    FAIL();
  } catch (const ESamplerError& e) {
    EXPECT_STREQ(e.what(), "Waveform 2 has no finite value at 1.0000001 s.");
  }
}

// A random document: steps, ramps, held levels and superpositions, values partly beyond the
// limits [0, 10].
SegmentTable RandomCurve(std::mt19937& rng, double length) {
  std::uniform_real_distribution<double> value(-2, 12), unit(0, 1);
  SegmentTable t;
  double time = 0;
  int i = 0;
  t[0].Time = 0;
  t[0].Value = value(rng);
  while (time < length) {
    const double r = unit(rng);
    const double dt = r < 0.15 ? 0.0 : std::min(length - time, 0.0003 + unit(rng) * length / 4);
    ++i;
    time += dt;
    t[i].Time = time;
    t[i].Value = unit(rng) < 0.4 ? t[i - 1].Value : value(rng);
    if (dt > 0 && unit(rng) < 0.3) {
      SuperpositionSpec& s = t[i - 1].Sup1;
      s.Kind = static_cast<SuperpositionKind>(1 + rng() % 4);
      s.FreqStart = 0.5 + unit(rng) * 40;
      s.FreqEnd = unit(rng) < 0.5 ? s.FreqStart : 0.5 + unit(rng) * 40;
      s.AmpStart = unit(rng) * 4;
      s.AmpEnd = unit(rng) * 4;
      s.DutyCycle = 1 + static_cast<int>(rng() % 99);
      s.Phase = static_cast<int>(rng() % 361);
    }
  }
  t.SetLastPointIndex(i);
  return t;
}

TEST(CountSampler, PropertiesOnGeneratedDocuments) {
  std::mt19937 rng(20240611);
  const Limits families[] = {kFamilyA, kFamilyB, kFamilyC, {0.0002, 0.5, 40}, {0.01, 100, 30}};
  int sampled = 0, irreducible = 0;
  for (int doc = 0; doc < 60; ++doc) {
    const Limits l = families[doc % 5];
    const double length = doc % 7 == 0 ? 0.005 : 0.01 + std::uniform_real_distribution<>(0, 6)(rng);
    auto v = BuildWaveform(RandomCurve(rng, length));
    auto c = BuildWaveform(doc % 6 == 0 ? SegmentTable() : RandomCurve(rng, length * 0.7));
    SetLimits(*v, 0, 10, 0.01);
    SetLimits(*c, 0, 10, 0.005);
    PointList p;
    try {
      p = Sample(*v, *c, l);
    } catch (const ESamplerError& e) {
      EXPECT_NE(std::string(e.what()).find("cannot be reduced"), std::string::npos) << e.what();
      ++irreducible;
      continue;
    }
    ++sampled;
    SCOPED_TRACE(doc);
    const std::size_t n = p.durations.size();
    ASSERT_GE(n, 1u);
    ASSERT_LE(n, static_cast<std::size_t>(l.maxPoints));
    ASSERT_EQ(p.values.size(), 2u);
    ASSERT_EQ(p.values[0].size(), n);
    ASSERT_EQ(p.values[1].size(), n);
    const double longest = std::max(v->GetDuration(), c->GetDuration());
    const double total = std::round(longest * kGridRate) / kGridRate;
    const bool lastRuleMoved = n >= 2 && p.durations[n - 1] == l.minDwell &&
                               p.durations[n - 2] == l.maxDwell - l.minDwell / 2;
    if (total < l.minDwell) {
      EXPECT_EQ(p.durations, TDoubleVector{l.minDwell});
    } else if (!lastRuleMoved) {
      EXPECT_NEAR(Sum(p.durations), total, 1e-9);
    }
    for (double d : p.durations) EXPECT_GE(d, l.minDwell - kSamplerEpsilon);
    // Points start on the sampling grid (every half minimum dwell time); only the end of the
    // last one is the curve's own end.
    const auto step = static_cast<std::int64_t>(std::llround(l.minDwell * kGridRate)) / 2;
    for (std::size_t j = 0; j + 1 < n; ++j)
      EXPECT_EQ(std::llround(p.durations[j] * kGridRate) % step, 0) << j;
    for (const auto& vec : p.values)
      for (double x : vec) {
        EXPECT_GE(x, 0 - kSamplerEpsilon);
        EXPECT_LE(x, 10 + kSamplerEpsilon);
      }
    // Skipping held levels gives the very same list as evaluating every grid step.
    PointList slow = Sample(*v, *c, l, false);
    EXPECT_EQ(slow.durations, p.durations);
    EXPECT_EQ(slow.values, p.values);
  }
  EXPECT_GE(sampled, 50);
}

TEST(CountSampler, HeldLevelsSkippedOnLongStepDocument) {
  // An hour of steps and short ramps: identical with and without skipping.
  SegmentTable t;
  int i = 0;
  for (int minute = 0; minute < 60; ++minute) {
    t[i].Time = minute * 60.0;
    t[i].Value = (minute * 7) % 11;
    t[i + 1].Time = minute * 60.0 + 59.5;
    t[i + 1].Value = t[i].Value;
    i += 2;
  }
  t[i].Time = 3600;
  t[i].Value = 3;
  t.SetLastPointIndex(i);
  auto v = BuildWaveform(t);
  auto c = BuildWaveform(Table({{0, 1}, {1800, 1}, {1800, 2}, {3600, 2}}));
  SetLimits(*v, 0, 10, 0.01);
  SetLimits(*c, 0, 5, 0.001);
  PointList fast = Sample(*v, *c, kFamilyA);
  PointList slow = Sample(*v, *c, kFamilyA, false);
  EXPECT_EQ(fast.durations, slow.durations);
  EXPECT_EQ(fast.values, slow.values);
  EXPECT_NEAR(Sum(fast.durations), 3600, 1e-6);

  // Many levels a few blocks long each, as an upload of a full point memory has them: the
  // short blocks after each skip still give the list of the full walk.
  SegmentTable stairs;
  for (int k = 0; k < 1000; ++k) {
    stairs[2 * k].Time = k * 0.1;
    stairs[2 * k].Value = 1 + (k % 37) * 0.01;
    stairs[2 * k + 1].Time = (k + 1) * 0.1 - (k % 3) * 0.0301;
    stairs[2 * k + 1].Value = stairs[2 * k].Value;
  }
  stairs.SetLastPointIndex(1999);
  auto sv = BuildWaveform(stairs);
  auto sc = BuildWaveform(Table({{0, 1}, {50.05, 1}, {50.05, 2}, {100, 2}}));
  SetLimits(*sv, 0, 10, 0.01);
  SetLimits(*sc, 0, 5, 0.001);
  fast = Sample(*sv, *sc, kFamilyA);
  slow = Sample(*sv, *sc, kFamilyA, false);
  EXPECT_GT(fast.durations.size(), 900u);
  EXPECT_EQ(fast.durations, slow.durations);
  EXPECT_EQ(fast.values, slow.values);
}

// Staircases whose levels run from a grid step to beyond the longest dwell, repeated levels,
// levels beyond the limits and budgets that force several reduction passes: skipping runs of
// repeated samples must leave the list of the full walk. Each list is sampled on this thread,
// which keeps its point buffer from one run to the next, and on a fresh thread without one.
TEST(CountSampler, RepeatedSamplesSkippedAsRuns) {
  std::mt19937 rng(7340);
  std::uniform_real_distribution<double> unit(0, 1);
  const Limits families[] = {kFamilyA, kFamilyB, kFamilyC, {0.0002, 0.05, 60}, {0.01, 0.3, 25}};
  for (int doc = 0; doc < 80; ++doc) {
    SCOPED_TRACE(doc);
    const Limits l = families[doc % 5];
    auto stairs = [&](int levels) {
      SegmentTable t;
      double time = 0;
      double value = unit(rng) * 10;
      int row = 0;
      for (int k = 0; k < levels; ++k) {
        const double r = unit(rng);
        const double hold = r < 0.2   ? 0.00005 * (1 + rng() % 4)
                            : r < 0.9 ? unit(rng) * 0.2
                                      : unit(rng) * 2;
        t[row].Time = time;
        t[row].Value = value;
        time += hold;
        t[row + 1].Time = time;
        t[row + 1].Value = value;
        row += 2;
        if (unit(rng) < 0.7) value = -1 + unit(rng) * 12;  // else the next level repeats it
      }
      t.SetLastPointIndex(row - 1);
      return BuildWaveform(t);
    };
    auto v = stairs(1 + static_cast<int>(rng() % 300));
    auto c = stairs(1 + static_cast<int>(rng() % 40));
    SetLimits(*v, 0, 10, 0.01);
    SetLimits(*c, 0, 10, 0.005);
    PointList fast, slow, fresh;
    bool refused = false;
    try {
      fast = Sample(*v, *c, l);
    } catch (const ESamplerError&) {
      refused = true;
    }
    if (refused) {
      EXPECT_THROW(Sample(*v, *c, l, false), ESamplerError);
      continue;
    }
    slow = Sample(*v, *c, l, false);
    std::thread([&] { fresh = Sample(*v, *c, l); }).join();
    EXPECT_EQ(fast.durations, slow.durations);
    EXPECT_EQ(fast.values, slow.values);
    EXPECT_EQ(fast.durations, fresh.durations);
    EXPECT_EQ(fast.values, fresh.values);
  }
}

TEST(CountSampler, AbortFromAnotherThreadLeavesOutputs) {
  auto t = Table({{0, 5}, {36000, 5}});  // ten hours of a 1 kHz sine
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup1.FreqStart = t[0].Sup1.FreqEnd = 1000;
  auto v = BuildWaveform(t);
  TWaveform c;
  SetLimits(*v, 0, 10, 0.01);
  SetLimits(c, 0, 1, 0.001);
  TCountSampler s;
  s.MinDwellTime = 0.0002;
  s.MaxDwellTime = 100;
  s.Waveforms = {v.get(), &c};
  TDoubleVector d{1, 2, 3};
  TDoubleMatrix m{{4}, {5}};
  // Execute clears an abort that comes before it starts, so abort until it has ended: on a
  // loaded machine the worker may start late, and ten hours of sine never end on their own here.
  std::atomic<bool> done{false};
  std::thread worker([&] {
    s.Execute(1000, d, m);
    done = true;
  });
  while (!done) {
    s.Abort();
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_TRUE(s.Aborted());
  EXPECT_EQ(d, (TDoubleVector{1, 2, 3}));
  EXPECT_EQ(m, (TDoubleMatrix{{4}, {5}}));
}

TEST(Sampler, RoundToGridAndProgress) {
  TSampler s;
  EXPECT_DOUBLE_EQ(s.RoundToGrid(20000, 0.00123, 0.0001), 0.0012);
  EXPECT_EQ(s.RoundToGrid(0, 0.00123, 0.0001), 0.00123);
  EXPECT_EQ(s.RoundToGrid(20000, 3.3, 2), 3.3);
  EXPECT_DOUBLE_EQ(s.RoundToGrid(1000, 0.0123, 0.005), 0.01);
  EXPECT_DOUBLE_EQ(s.RoundToGrid(1000, 0.0126, 0.005), 0.015);
  EXPECT_DOUBLE_EQ(s.RoundToGrid(20000, 0.00123, 0.000001), 0.00125);  // finer than the grid
  EXPECT_TRUE(s.DoProgress("x"));
  std::string seen;
  s.OnProgress = [&](const std::string& m, bool& go) {
    seen = m;
    go = false;
  };
  EXPECT_FALSE(s.DoProgress("half"));
  EXPECT_EQ(seen, "half");
}

TEST(EquidistantSampler, WrapsAroundWithRestarts) {
  auto w = BuildWaveform(Table({{0, 0}, {1, 1}}));  // value = time
  SetLimits(*w, -10, 10, 0);
  TEquidistantSampler s;
  s.Waveform = w.get();
  s.Start(0, 0, 0.001);
  TDoubleVector buffer(2500, -99);
  std::uint32_t restarts = 7;
  TIntegerVector positions{5};
  s.Fill(buffer, restarts, positions);
  EXPECT_EQ(restarts, 2u);
  EXPECT_EQ(positions, (TIntegerVector{1000, 2000}));
  EXPECT_EQ(s.Position, 0);
  EXPECT_NEAR(s.Time, 0.5000001, 1e-9);
  EXPECT_NEAR(buffer[0], 0.0000001, 1e-12);
  EXPECT_NEAR(buffer[999], 0.9990001, 1e-9);
  EXPECT_NEAR(buffer[1000], 0.0000001, 1e-12);
  EXPECT_NEAR(buffer[2499], 0.4990001, 1e-9);
  s.Fill(buffer, restarts, positions);
  EXPECT_NEAR(buffer[0], 0.5000001, 1e-9);
  // The end falls on the end of the buffer: the restart is reported at the next buffer's
  // first position.
  EXPECT_EQ(restarts, 3u);
  EXPECT_EQ(positions, (TIntegerVector{500, 1500, 2500}));
  EXPECT_EQ(s.Position, 0);
}

TEST(EquidistantSampler, InterleavedInstancesAndLimits) {
  auto t = Table({{0, 0}, {0.3, 3}, {0.3, 9}, {0.7, 9}});
  t[2].Sup1.Kind = SuperpositionKind::Sine;
  t[2].Sup1.FreqStart = 5;
  t[2].Sup1.FreqEnd = 20;
  t[2].Sup1.AmpStart = t[2].Sup1.AmpEnd = 4;
  auto w = BuildWaveform(t);
  SetLimits(*w, 0, 10, 0);
  TEquidistantSampler one;
  one.Waveform = w.get();
  one.Start(0, 0, 0.0001);
  TDoubleVector expected(10007), buffer(10007, -1);
  std::uint32_t restarts = 0;
  TIntegerVector positions;
  one.Fill(expected, restarts, positions);
  // Three samplers on three threads share one waveform and fill one buffer together, each its
  // own positions (which shift from fill to fill); every fill matches the single sampler's.
  const double untouched = -1;
  TEquidistantSampler parts[3];
  for (int p = 0; p < 3; ++p) {
    parts[p].Waveform = w.get();
    parts[p].Start(2, p, 0.0001);
  }
  TDoubleVector single = expected;
  for (int round = 0; round < 3; ++round) {
    TDoubleVector shared(expected.size(), untouched);
    std::vector<std::thread> threads;
    for (auto& part : parts)
      threads.emplace_back([&shared, &part] {
        std::uint32_t r = 0;
        TIntegerVector rp;
        part.Fill(shared, r, rp);
      });
    for (auto& thread : threads) thread.join();
    for (std::size_t i = 0; i < shared.size(); ++i)
      ASSERT_NEAR(shared[i], single[i], 1e-9) << "fill " << round << " position " << i;
    one.Fill(single, restarts, positions);
  }
  for (int p = 0; p < 3; ++p) {
    TEquidistantSampler s;
    s.Waveform = w.get();
    s.Start(2, p, 0.0001);
    TDoubleVector mine(10007, untouched);
    s.Fill(mine, restarts, positions);
    for (std::size_t i = 0; i < mine.size(); ++i) {
      if (static_cast<int>(i % 3) == p) {
        EXPECT_NEAR(mine[i], expected[i], 1e-9) << i;
        buffer[i] = mine[i];
      } else {
        ASSERT_EQ(mine[i], untouched) << "sampler " << p << " wrote position " << i;
      }
    }
  }
  for (double x : expected) {
    EXPECT_GE(x, 0);
    EXPECT_LE(x, 10);
  }
  EXPECT_EQ(*std::max_element(expected.begin(), expected.end()), 10.0);  // 9 + 2 clamped
  // Beyond a limit by less than epsilon passes unchanged.
  auto edge = BuildWaveform(Table({{0, 10.00000005}, {1, 10.00000005}}));
  SetLimits(*edge, 0, 10, 0);
  TEquidistantSampler e;
  e.Waveform = edge.get();
  e.Start(0, 0, 0.1);
  TDoubleVector b(3);
  e.Fill(b, restarts, positions);
  EXPECT_EQ(b[1], 10.00000005);
}

TEST(EquidistantSampler, RefusesUnplayableWaveforms) {
  TEquidistantSampler s;
  EXPECT_THROW(s.Start(0, 0, 0.001), ESamplerError);
  TWaveform empty;
  s.Waveform = &empty;
  EXPECT_THROW(s.Start(0, 0, 0.001), ESamplerError);
  auto steps = BuildWaveform(Table({{0, 1}, {0, 2}, {0, 3}}));
  s.Waveform = steps.get();
  EXPECT_THROW(s.Start(0, 0, 0.001), ESamplerError);
  auto ok = BuildWaveform(Table({{0, 1}, {1, 2}}));
  s.Waveform = ok.get();
  EXPECT_THROW(s.Start(0, 0, 0), ESamplerError);
  EXPECT_NO_THROW(s.Start(0, 0, 0.001));
  // An interval too fine for the waveform's length would stop moving the sample time: refused.
  // A denormal interval is as fine as an interval gets.
  auto day = BuildWaveform(Table({{0, 1}, {86400, 2}}));
  day->MaxValue = 10;
  s.Waveform = day.get();
  EXPECT_THROW(s.Start(0, 0, 1e-320), ESamplerError);
  EXPECT_THROW(s.Start(0, 0, 86400 / 4.6e15), ESamplerError);
  EXPECT_NO_THROW(s.Start(0, 0, 86400 / 4.4e15));
  TDoubleVector buffer(1000);
  std::uint32_t restarts = 0;
  TIntegerVector positions;
  s.Fill(buffer, restarts, positions);
  EXPECT_LT(buffer.front(), buffer.back()) << "each sample a step further along the ramp";
}

}  // namespace
}  // namespace ondrevo
