#include "measure/Deviation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace ondrevo;
using ::testing::HasSubstr;

namespace {

std::vector<double> Grid(double t0, double t1, double step) {
  std::vector<double> t;
  for (double k = 0; t0 + k * step <= t1 + 1e-12; k += 1) t.push_back(t0 + k * step);
  return t;
}

// A level with a dip to 0 from `from` to `to`.
TCurveFunction Dip(double level, double from, double to) {
  return [=](double t) { return t >= from && t < to ? 0.0 : level; };
}

DeviationOptions Options(double tolerance, double window) {
  DeviationOptions o;
  o.Tolerance = tolerance;
  o.ShiftWindow = window;
  return o;
}

}  // namespace

TEST(Deviation, HeldLevelWithinTheToleranceHasNoFinding) {
  const auto design = [](double) { return 5.0; };
  const auto played = [](double t) { return 5.0 + 0.004 * std::sin(7 * t); };
  const DeviationReport r = CompareCurves(design, played, Grid(0, 2, 0.001), Options(0.005, 0.01));
  EXPECT_TRUE(r.Findings.empty());
  EXPECT_EQ(r.StretchCount, 0u);
  EXPECT_FALSE(r.OnlyTiming());
  EXPECT_NEAR(r.MaxValue, 0.004, 1e-5);
  EXPECT_EQ(TimingRemark(r), "");
}

TEST(Deviation, ShortDipPlayedLongerIsAShiftInTimeNotAMissingLevel) {
  // 5 ms dip designed, the supply's shortest dwell of 10 ms plays it as a 10 ms dip.
  const auto design = Dip(7.5, 2.5, 2.505);
  const auto played = Dip(7.5, 2.5, 2.51);
  const DeviationReport r =
      CompareCurves(design, played, Grid(2.4, 2.6, 0.0005), Options(0.01, 0.01));
  EXPECT_DOUBLE_EQ(r.MaxValue, 7.5);  // the plain figure stays beside it
  EXPECT_NEAR(r.MaxValueTime, 2.505, 1e-9);
  ASSERT_EQ(r.Findings.size(), 1u);
  const DeviationFinding& f = r.Findings[0];
  EXPECT_EQ(f.Kind, EDeviationKind::Timing);
  EXPECT_NEAR(f.Shift, 0.005, 0.0005);  // late by the dip's extra length
  EXPECT_TRUE(r.OnlyTiming());
  EXPECT_EQ(r.LargestValueFinding(), nullptr);
  EXPECT_THAT(FindingText(f, "V"), HasSubstr("2.505 s: 7.5 V, only a shift in time"));
  EXPECT_THAT(TimingRemark(r), HasSubstr("within 5"));

  // Played early instead: a step that comes 3 ms before the design's.
  const auto step = [](double t) { return t >= 1.0 ? 10.0 : 0.0; };
  const auto early = [](double t) { return t >= 0.997 ? 10.0 : 0.0; };
  const DeviationReport e = CompareCurves(step, early, Grid(0.9, 1.1, 0.0002), Options(0.01, 0.01));
  ASSERT_EQ(e.Findings.size(), 1u);
  EXPECT_EQ(e.Findings[0].Kind, EDeviationKind::Timing);
  EXPECT_NEAR(e.Findings[0].Shift, -0.003, 0.0003);
  EXPECT_THAT(FindingText(e.Findings[0], "V"), HasSubstr("early"));
}

TEST(Deviation, MissingDipAndClippedLevelAreValueFindings) {
  const auto design = Dip(7.5, 2.5, 2.505);
  const auto flat = [](double) { return 7.5; };
  const DeviationReport r =
      CompareCurves(design, flat, Grid(2.4, 2.6, 0.0005), Options(0.01, 0.01));
  ASSERT_EQ(r.Findings.size(), 1u);
  EXPECT_EQ(r.Findings[0].Kind, EDeviationKind::Missing);
  EXPECT_TRUE(std::isnan(r.Findings[0].Shift));
  EXPECT_FALSE(r.OnlyTiming());
  EXPECT_EQ(r.LargestValueFinding(), &r.Findings[0]);
  EXPECT_EQ(TimingRemark(r), "");
  EXPECT_THAT(FindingText(r.Findings[0], "V"), HasSubstr("does not reach"));

  // A ramp to 20 V into 10 ohm with the current limited to 1 A: the voltage stops at 10 V.
  const auto ramp = [](double t) { return 20.0 * t; };
  const auto clipped = [](double t) { return std::min(20.0 * t, 10.0); };
  const double tol = 0.01;
  const DeviationReport c = CompareCurves(ramp, clipped, Grid(0, 1, 0.001), Options(tol, 0.01));
  ASSERT_EQ(c.Findings.size(), 1u);
  const DeviationFinding& f = c.Findings[0];
  EXPECT_EQ(f.Kind, EDeviationKind::Missing);
  EXPECT_NEAR(f.From, 0.5 + tol / 20, 0.001);  // first grid time beyond the band
  EXPECT_DOUBLE_EQ(f.To, 1.0);
  EXPECT_DOUBLE_EQ(f.Value, 10.0);
  EXPECT_DOUBLE_EQ(f.ValueTime, 1.0);
}

TEST(Deviation, StepThroughAnRcLoadIsAnotherShapeUntilTheExponentialSettles) {
  const double tau = 0.01, tol = 0.02;
  const auto step = [](double t) { return t >= 1.0 ? 10.0 : 0.0; };
  const auto rc = [=](double t) { return t < 1.0 ? 0.0 : 10.0 * (1 - std::exp(-(t - 1.0) / tau)); };
  const DeviationReport r = CompareCurves(step, rc, Grid(0.9, 1.2, 0.0001), Options(tol, 0.005));
  ASSERT_EQ(r.Findings.size(), 1u);
  const DeviationFinding& f = r.Findings[0];
  EXPECT_EQ(f.Kind, EDeviationKind::Shape);
  EXPECT_NEAR(f.From, 1.0, 1e-9);
  // 10 e^(-x/tau) = tol at x = tau ln(10 / tol).
  EXPECT_NEAR(f.To, 1.0 + tau * std::log(10.0 / tol), 0.0001);
  EXPECT_NEAR(f.Value, 10.0, 1e-9);
}

TEST(Deviation, AliasedSineIsAnotherShapeAndFindingsAreCappedLargestFirst) {
  // 1 kHz sine sampled every 0.99 ms and held: the held values alias to a 10 Hz wave.
  const double period = 0.00099;
  const auto sine = [](double t) { return std::sin(2 * M_PI * 1000 * t); };
  const auto held = [=](double t) {
    return std::sin(2 * M_PI * 1000 * std::floor(t / period) * period);
  };
  DeviationOptions o = Options(0.01, period);
  o.MaxFindings = 5;
  const DeviationReport r = CompareCurves(sine, held, Grid(0, 0.1, 0.00001), o);
  EXPECT_GT(r.StretchCount, 50u);
  ASSERT_EQ(r.Findings.size(), 5u);
  for (std::size_t k = 1; k < r.Findings.size(); ++k)
    EXPECT_GE(r.Findings[k - 1].Value, r.Findings[k].Value);
  EXPECT_DOUBLE_EQ(r.Findings[0].Value, r.MaxValue);
  EXPECT_FALSE(r.OnlyTiming());
  for (const DeviationFinding& f : r.Findings) EXPECT_NE(f.Kind, EDeviationKind::Timing);
}

TEST(Deviation, CurveFunctionsAndWords) {
  const auto s = StaircaseFunction({0, 1, 3}, {5, 7});
  EXPECT_EQ(s(-1), 5);
  EXPECT_EQ(s(0.5), 5);
  EXPECT_EQ(s(1), 7);
  EXPECT_EQ(s(9), 7);
  const auto p = PolylineFunction({0, 2, 4}, {0, 4, 0});
  EXPECT_EQ(p(-1), 0);
  EXPECT_DOUBLE_EQ(p(1), 2);
  EXPECT_DOUBLE_EQ(p(3), 2);
  EXPECT_EQ(p(5), 0);
  EXPECT_EQ(StaircaseFunction({}, {})(1), 0);
  EXPECT_EQ(DurationWords(0.005), "5 ms");
  EXPECT_EQ(DurationWords(0.00004), "40 \u00b5s");
  EXPECT_EQ(DurationWords(2.5), "2.5 s");
}
