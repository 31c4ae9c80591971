#include <gtest/gtest.h>

#include <cmath>

#include "model/Modifiers.h"

namespace ondrevo {
namespace {

TModifierPtr C(double v) {
  return std::make_unique<TConstantModifier>(v);
}
TModifierPtr Linear(double start, double slope) {
  return std::make_unique<TAddModifier>(C(start), std::make_unique<TGradientModifier>(C(slope)));
}

TEST(ModifierTree, CombinedRampAndSineExample) {
  TAddModifier m(Linear(2, 1), std::make_unique<TSineModifier>(C(1), C(1), C(0)));
  EXPECT_NEAR(m.GetValue(0.25), 3.25, 1e-12);
  EXPECT_DOUBLE_EQ(m.GetMin(0, 4), 1.0);
  EXPECT_DOUBLE_EQ(m.GetMax(0, 4), 7.0);
  EXPECT_DOUBLE_EQ(m.GetSampleRate(0, 4), 20.0);
}

TEST(ModifierTree, ConstantsRampsAndAbsentChildren) {
  TConstantModifier c(5);
  EXPECT_EQ(c.GetSampleRate(0, 10), 0.0);
  EXPECT_EQ(c.GetMean(3), 5.0);

  TAddModifier falling(C(10), std::make_unique<TGradientModifier>(C(-2)));
  EXPECT_DOUBLE_EQ(falling.GetMin(0, 5), 0.0);
  EXPECT_DOUBLE_EQ(falling.GetMax(0, 5), 10.0);
  EXPECT_DOUBLE_EQ(falling.GetSampleRate(0, 5), 10.0);
  // Mean of a ramp over [0, t] is its value at t / 2.
  EXPECT_DOUBLE_EQ(falling.GetMean(4), 10 - 4.0);

  TAddModifier empty(nullptr, nullptr);
  EXPECT_EQ(empty.GetValue(1), 0.0);
  EXPECT_EQ(empty.GetSampleRate(0, 1), 0.0);
  TAddModifier half(nullptr, std::make_unique<TGradientModifier>(nullptr));
  EXPECT_EQ(half.GetValue(3), 3.0);
  EXPECT_EQ(half.GetMin(1, 2), 1.0);
  EXPECT_EQ(half.GetMax(1, 2), 2.0);
  EXPECT_EQ(half.GetSampleRate(1, 2), 10.0);

  TSineModifier bare(nullptr, C(50), C(0));  // any absent child: sin(2 pi t)
  EXPECT_NEAR(bare.GetValue(0.25), 1.0, 1e-12);
  EXPECT_EQ(bare.GetMax(0, 1), 1.0);
  EXPECT_EQ(bare.GetSampleRate(0, 1), 1000.0);
}

TEST(ModifierTree, ChirpUsesMeanFrequencyOthersMomentary) {
  // Frequency 1 + 2t: 1 Hz to 3 Hz over 1 s.
  TSineModifier sine(C(1), Linear(1, 2), C(0));
  EXPECT_NEAR(sine.GetValue(1.0), std::sin(kTwoPi * 2.0), 1e-12);
  EXPECT_NEAR(sine.GetValue(1.0), 0.0, 1e-12);
  EXPECT_NEAR(sine.GetValue(0.5), std::sin(kTwoPi * 1.5 * 0.5), 1e-12);

  TTriangleModifier tri(C(1), Linear(1, 2), C(0));
  const double theta = kTwoPi * (1 + 2 * 0.6) * 0.6;  // momentary 2.2 Hz
  EXPECT_NEAR(tri.GetValue(0.6), std::asin(std::sin(theta)) * 2 / (kTwoPi / 2), 1e-12);
  TSawtoothModifier saw(C(1), Linear(1, 2), C(0));
  EXPECT_NEAR(saw.GetValue(1.0), 0.0, 1e-9);  // 3 whole periods at the momentary 3 Hz
  EXPECT_DOUBLE_EQ(sine.GetSampleRate(0, 1), 60.0);
}

TEST(ModifierTree, SquareDutyCyclesAndEdges) {
  TSquareModifier quarter(C(2), C(1), C(0), C(0.25));
  EXPECT_EQ(quarter.GetValue(0.1), 2.0);
  EXPECT_EQ(quarter.GetValue(0.3), -2.0);
  EXPECT_EQ(quarter.GetValue(0.6), -2.0);
  TSquareModifier threeQuarters(C(2), C(1), C(0), C(0.75));
  EXPECT_EQ(threeQuarters.GetValue(0.6), 2.0);
  EXPECT_EQ(threeQuarters.GetValue(0.8), -2.0);
  // At t = 0 the wave is on its rising edge: high.
  EXPECT_EQ(quarter.GetValue(0.0), 2.0);
  EXPECT_EQ(threeQuarters.GetValue(0.0), 2.0);
  // Exactly on the duty edge the high share has ended: low.
  EXPECT_EQ(quarter.GetValue(0.25), -2.0);
  EXPECT_EQ(quarter.GetValue(1.25), -2.0);
  EXPECT_EQ(threeQuarters.GetValue(0.75), -2.0);
  EXPECT_EQ(quarter.GetValue(0.2499), 2.0);

  TSquareModifier plain(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(plain.GetValue(0.25), 1.0);
  EXPECT_EQ(plain.GetValue(0.75), -1.0);
  EXPECT_EQ(plain.GetValue(0.0), 1.0);  // s1 within epsilon of 0 counts as high

  TSquareModifier fast(C(1), C(100), C(0), C(0.1));
  EXPECT_NEAR(fast.GetSampleRate(0, 1), 1000.0, 1e-9);
  TSquareModifier noDuty(nullptr, C(100), C(0), nullptr);
  EXPECT_NEAR(noDuty.GetSampleRate(0, 1), 200.0, 1e-9);
  // A fast amplitude sweep can ask for more than the edges do.
  TSquareModifier sweep(std::make_unique<TSineModifier>(C(1), C(1000), C(0)), C(1), C(0), nullptr);
  EXPECT_EQ(sweep.GetSampleRate(0, 1), 20000.0);
}

TEST(ModifierTree, SawtoothAndTriangleShapes) {
  TSawtoothModifier saw(C(3), C(1), C(0));
  EXPECT_NEAR(saw.GetValue(0.0), 0.0, 1e-12);
  EXPECT_GT(saw.GetValue(0.4999), 2.99);
  EXPECT_NEAR(saw.GetValue(0.5), -3.0, 1e-12);
  // Frac goes towards zero: at negative local times the fraction is negative.
  EXPECT_NEAR(saw.GetValue(-0.75), (-0.25 - 0.5) * 6, 1e-12);

  TTriangleModifier tri(C(2), C(1), C(0));
  EXPECT_NEAR(tri.GetValue(0.25), 2.0, 1e-12);
  EXPECT_NEAR(tri.GetValue(0.125), 1.0, 1e-12);
  // The upper bound takes the amplitude's upper bound as it is; the sine takes its magnitude.
  TTriangleModifier neg(C(-3), C(1), C(0));
  EXPECT_EQ(neg.GetMax(0, 1), 3.0);
  EXPECT_EQ(neg.GetMin(0, 1), -3.0);
  TTriangleModifier ramped(Linear(-4, 1), C(1), C(0));  // amplitude -4 .. -3 over [0, 1]
  EXPECT_EQ(ramped.GetMax(0, 1), 4.0);
  TSineModifier sine(Linear(-4, 1), C(1), C(0));
  EXPECT_EQ(sine.GetMax(0, 1), 4.0);
}

TEST(ModifierTree, MeanOfNonSineWavesIsAnError) {
  TSquareModifier square(C(1), C(1), C(0), nullptr);
  TTriangleModifier tri(C(1), C(1), C(0));
  TSawtoothModifier saw(C(1), C(1), C(0));
  EXPECT_THROW(square.GetMean(0.1), EAbstractError);
  EXPECT_THROW(tri.GetMean(0.1), EAbstractError);
  EXPECT_THROW(saw.GetMean(0.1), EAbstractError);
  TSineModifier sine(C(2), C(1), C(0));
  EXPECT_NEAR(sine.GetMean(0.0), -2.0, 1e-12);
}

}  // namespace
}  // namespace ondrevo
