#include <gtest/gtest.h>

#include <cmath>

#include "CurveHelpers.h"
#include "model/Builder.h"

namespace ondrevo {
namespace {

SuperpositionSpec Sup(SuperpositionKind kind, double freq, double amp, int duty = 50,
                      int phase = 0) {
  SuperpositionSpec s;
  s.Kind = kind;
  s.FreqStart = s.FreqEnd = freq;
  s.AmpStart = s.AmpEnd = amp;
  s.DutyCycle = duty;
  s.Phase = phase;
  return s;
}

constexpr auto Table = &test::CurveThrough;

TEST(Builder, RampsAndConstants) {
  auto flat = MakeRamp(3, 3, 2);
  EXPECT_NE(dynamic_cast<TConstantModifier*>(flat.get()), nullptr);
  auto rising = MakeRamp(1, 5, 2);
  auto* add = dynamic_cast<TAddModifier*>(rising.get());
  ASSERT_NE(add, nullptr);
  EXPECT_NE(dynamic_cast<TConstantModifier*>(add->Left.get()), nullptr);
  EXPECT_NE(dynamic_cast<TGradientModifier*>(add->Right.get()), nullptr);
  EXPECT_DOUBLE_EQ(rising->GetValue(1), 3.0);
  EXPECT_DOUBLE_EQ(rising->GetMean(2), 1 + 4 * 2 / (2.0 * 2));

  EXPECT_EQ(BuildWaveform(Table({{0, 1}}), 0)->GetDuration(), 0.0);
  auto w = BuildWaveform(Table({{0, 2}, {4, 6}, {10, 6}}));
  EXPECT_EQ(w->SegmentCount(), 2u);
  EXPECT_DOUBLE_EQ(w->ValueAt(1), 3.0);
  EXPECT_DOUBLE_EQ(w->ValueAt(7), 6.0);
  EXPECT_EQ(w->GetPointCount(), 40 + 1);
}

TEST(Builder, SuperpositionMapping) {
  auto sine = Table({{0, 5}, {1, 5}});
  sine[0].Sup1 = Sup(SuperpositionKind::Sine, 1, 2);
  auto w = BuildWaveform(sine);
  EXPECT_DOUBLE_EQ(w->GetMin(), 4.0);
  EXPECT_DOUBLE_EQ(w->GetMax(), 6.0);
  EXPECT_NEAR(w->ValueAt(0.25), 6.0, 1e-12);

  sine[0].Sup1.Phase = 90;  // starts at its crest
  EXPECT_NEAR(BuildWaveform(sine)->ValueAt(0), 6.0, 1e-12);

  auto square = Table({{0, 0}, {1, 0}});
  square[0].Sup1 = Sup(SuperpositionKind::Square, 10, 2, 25);
  w = BuildWaveform(square);
  for (double t : {0.001, 0.024, 0.101, 0.124}) EXPECT_EQ(w->ValueAt(t), 1.0) << t;
  for (double t : {0.026, 0.05, 0.099, 0.126}) EXPECT_EQ(w->ValueAt(t), -1.0) << t;

  // Linear amplitude sweep; chirp with the exact phase 2 pi * integral of f.
  auto chirp = Table({{0, 1}, {2, 1}});
  chirp[0].Sup1 = Sup(SuperpositionKind::Sine, 1, 2);
  chirp[0].Sup1.FreqEnd = 3;
  chirp[0].Sup1.AmpEnd = 6;
  w = BuildWaveform(chirp);
  const double t = 1.3, f = 1 + (3 - 1) * t / 4, a = 1 + (3 - 1) * t / 2;
  EXPECT_NEAR(w->ValueAt(t), 1 + a * std::sin(kTwoPi * f * t), 1e-12);

  // Two superpositions add; a second one alone is ignored.
  auto both = Table({{0, 0}, {1, 0}});
  both[0].Sup1 = Sup(SuperpositionKind::Sine, 1, 2);
  both[0].Sup2 = Sup(SuperpositionKind::Triangle, 1, 4);
  EXPECT_NEAR(BuildWaveform(both)->ValueAt(0.25), 1 + 2, 1e-12);
  both[0].Sup1.Kind = SuperpositionKind::None;
  w = BuildWaveform(both);
  EXPECT_EQ(w->ValueAt(0.25), 0.0);
  EXPECT_EQ(w->GetSampleRate(), 0.0);
}

TEST(Builder, StepsHoldTheirEndValue) {
  // A curve ending in a step keeps the step's value past its end, and its bounds hold no 0.
  auto t = Table({{0, 3}, {1, 3}, {1, 8}});
  auto w = BuildWaveform(t);
  w->MaxValue = 100;
  EXPECT_EQ(w->GetMin(), 3.0);
  EXPECT_EQ(w->GetMax(), 8.0);
  w->StartSampling(1, 4, 0.0);
  std::uint64_t k = 0;
  double last = 0;
  for (int i = 0; i < 8; ++i) last = w->NextSample(k);
  EXPECT_EQ(last, 8.0);

  // A superposed zero-length segment builds from constants (no division by zero).
  auto z = Table({{0, 3}, {0, 8}, {1, 8}});
  z[0].Sup1 = Sup(SuperpositionKind::Sine, 5, 2);
  z[0].Sup1.FreqEnd = 7;
  z[0].Sup1.AmpEnd = 4;
  w = BuildWaveform(z);
  const TContainer* node = w->First();
  const TSegment* step = w->NextSegment(node);
  EXPECT_EQ(step->Duration, 0.0);
  EXPECT_TRUE(std::isfinite(step->GetValue(0.0)));
  EXPECT_DOUBLE_EQ(step->GetMax(), 8 + 2);
  EXPECT_DOUBLE_EQ(step->GetSampleRate(), 140.0);
  EXPECT_EQ(step->GetPointCount(), 1);
}

TEST(Builder, ARampTooShortForItsSlopeIsAStep) {
  // 5e-324 s: the slope overflows; the ramp is a step to its end value, as a zero-length one.
  auto t = Table({{0, 0}, {5e-324, 10}, {1, 10}});
  auto w = BuildWaveform(t);
  w->MaxValue = 100;
  w->StartSampling(1, 4, 0.0);
  std::uint64_t k = 0;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(w->NextSample(k), 10.0) << i;
  EXPECT_TRUE(std::isfinite(w->GetMax()));
  EXPECT_TRUE(std::isfinite(MakeRamp(1, 2, 1e-310)->GetValue(0)));
  EXPECT_TRUE(std::isfinite(MakeRamp(1, 2, 1e-310)->GetMean(1e-310)));
}

TEST(Builder, CurveFacts) {
  auto t = Table({{0, 0}, {2, 10}, {3, 10}});
  t[1].Sup1 = Sup(SuperpositionKind::Sine, 50, 4);
  const CurveFacts f = ComputeCurveFacts(t);
  EXPECT_EQ(f.Duration, 3.0);
  EXPECT_EQ(f.Min, 0.0);
  EXPECT_EQ(f.Max, 12.0);
  EXPECT_EQ(f.SampleRate, 1000.0);
  EXPECT_EQ(f.PointCount, 20 + 1000);
}

}  // namespace
}  // namespace ondrevo
