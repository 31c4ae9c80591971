// Band and current-limit arithmetic of the record on readings whose answer is known, the CSV
// and the report's self-containment.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "measure/Record.h"

using namespace ondrevo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

TRecordInput Recorded(TCurveFunction v, TCurveFunction i, double duration, double step,
                      const std::function<TReading(double)>& read) {
  TRecordInput in;
  in.Document = "run <1>.ovx";
  in.Model = "KSV 5206-40";
  in.DesignVoltage = std::move(v);
  in.DesignCurrent = std::move(i);
  in.Duration = duration;
  for (double t = 0; t <= duration + 1e-12; t += step) in.Readings.push_back(read(t));
  return in;
}

}  // namespace

TEST(Record, HeldLevelStaysInTheBand) {
  TRecordInput in = Recorded([](double) { return 5.0; }, [](double) { return 1.0; }, 2, 0.01,
                             [](double t) {
                               return TReading{t, 5.04, 0.5};
                             });
  in.VoltageTolerance = 0.05;
  const TRecordFigures f = ComputeRecordFigures(in);
  EXPECT_FALSE(f.LeftBand());
  EXPECT_TRUE(f.OutsideStretches.empty());
  EXPECT_TRUE(f.CurrentLimited.empty());
  EXPECT_NEAR(f.Voltage.MaxValue, 0.04, 1e-12);
  in.VoltageTolerance = 0.03;
  EXPECT_TRUE(ComputeRecordFigures(in).LeftBand());
}

TEST(Record, RampClippedAtTheCurrentLimitIsOutsideTheBandAndInLimit) {
  // 0 to 20 V in 1 s into 10 ohm with 1 A: from 0.5 s on the supply holds 1 A at 10 V.
  const double tol = 0.1, step = 0.001;
  TRecordInput in = Recorded([](double t) { return 20 * t; }, [](double) { return 1.0; }, 1, step,
                             [](double t) {
                               return TReading{t, std::min(20 * t, 10.0), std::min(2 * t, 1.0)};
                             });
  in.VoltageTolerance = tol;
  const TRecordFigures f = ComputeRecordFigures(in);
  ASSERT_EQ(f.CurrentLimited.size(), 1u);
  // In limit from 0.5 s (the first reading there is not yet below the design by the band).
  EXPECT_NEAR(f.CurrentLimited[0].From, 0.5 + tol / 20, 2 * step);
  EXPECT_NEAR(f.CurrentLimited[0].To, 1.0, step);
  ASSERT_EQ(f.OutsideStretches.size(), 1u);
  EXPECT_NEAR(f.OutsideBand, 0.5 - tol / 20, 2 * step);
  EXPECT_TRUE(f.LeftBand());
  ASSERT_FALSE(f.Voltage.Findings.empty());
  EXPECT_EQ(f.Voltage.Findings[0].Kind, EDeviationKind::Missing);
  EXPECT_NEAR(f.Voltage.MaxValue, 10, 1e-9);
}

TEST(Record, StepThroughAnRcLoadLeavesTheBandForItsSettlingTime) {
  const double tau = 0.004, tol = 0.05, step = 0.0001;
  TRecordInput in =
      Recorded([](double t) { return t >= 0.5 ? 10.0 : 0.0; }, [](double) { return 5.0; }, 1, step,
               [=](double t) {
                 const double v = t < 0.5 ? 0 : 10 * (1 - std::exp(-(t - 0.5) / tau));
                 return TReading{t, v, t < 0.5 ? 0.0 : 1.0};
               });
  in.VoltageTolerance = tol;
  const TRecordFigures f = ComputeRecordFigures(in);
  ASSERT_EQ(f.OutsideStretches.size(), 1u);
  EXPECT_NEAR(f.OutsideStretches[0].From, 0.5, step);
  EXPECT_NEAR(f.OutsideBand, tau * std::log(10 / tol), 2 * step);
  EXPECT_TRUE(f.CurrentLimited.empty());  // 1 A of 5 A
}

TEST(Record, RepetitionsPointsCsvAndReport) {
  TRecordInput in;
  in.Duration = 1;
  in.Repeat = 2;
  in.PointTimes = {0, 0.25, 1};
  in.PointVoltage = {1, 2};
  in.PointCurrent = {0.5, 0.5};
  EXPECT_DOUBLE_EQ(DesignTime(in, 1.25), 0.25);
  EXPECT_LT(DesignTime(in, 2.5), 1.0);
  EXPECT_GT(DesignTime(in, 2.5), 0.999);
  EXPECT_EQ(PointAt(in, 0.1), 0);
  EXPECT_EQ(PointAt(in, 1.3), 1);
  EXPECT_EQ(PointAt(in, 7), 1);
  in.Repeat = 0;  // endless: repeats on
  EXPECT_DOUBLE_EQ(DesignTime(in, 3.5), 0.5);

  in.Document = "a <b> & c.ovx";
  in.DesignVoltage = [](double t) { return t < 0.25 ? 1.0 : 2.0; };
  in.DesignCurrent = [](double) { return 0.5; };
  in.Readings = {{0.1, 1.01, 0.1}, {1.3, 2.5, 0.2}};
  in.CommandLog = {"> LIST:VOLT 1,2", "< <ok>"};
  EXPECT_EQ(RecordCsv(in),
            "time_s,voltage_V,current_A,design_voltage_V,design_current_limit_A,point,"
            "point_voltage_V,point_current_A,output,time_spread_s\n"
            "0.1,1.01,0.1,1,0.5,1,1,0.5,1,0\n"
            "1.3,2.5,0.2,2,0.5,2,2,0.5,1,0\n");
  const std::string html = ReportHtml(in, ComputeRecordFigures(in));
  EXPECT_THAT(html, HasSubstr("a &lt;b&gt; &amp; c.ovx"));
  EXPECT_THAT(html, HasSubstr("&lt;ok&gt;"));
  EXPECT_THAT(html, HasSubstr("<svg"));
  EXPECT_THAT(html, HasSubstr("left the tolerance band"));
  EXPECT_THAT(html, Not(HasSubstr("src=")));
  EXPECT_THAT(html, Not(HasSubstr("href=")));

  // After the last repetition the output is off: no design to compare with, no band left.
  in.Repeat = 1;
  in.Readings = {{0.1, 1.0, 0.1}, {1.5, 0.0, 0.0}};
  EXPECT_FALSE(ComputeRecordFigures(in).LeftBand());
  EXPECT_THAT(RecordCsv(in), HasSubstr("\n1.5,0,0,,,,,,,0\n"));
}

TEST(Record, ReadingsBeforeTheStartAfterTheEndOrAcrossAnEdgeAreKeptButNotJudged) {
  // 5 V for 1 s; the output is off before and after. Every reading that may have been taken
  // outside the run reads 0 V and must not count as a deviation.
  TRecordInput in;
  in.Duration = 1;
  in.Repeat = 1;
  in.VoltageTolerance = 0.1;
  in.DesignVoltage = [](double) { return 5.0; };
  in.DesignCurrent = [](double) { return 1.0; };
  in.Readings = {{-0.05, 0, 0, 0.001},  // before the trigger started the run
                 {0.01, 0, 0, 0.02},    // its exchange began before time 0
                 {0.5, 5, 0.5, 0.02},
                 {0.99, 0, 0, 0.02},  // its exchange ended after the end
                 {1.2, 0, 0, 0.001}};
  EXPECT_FALSE(Judged(in, in.Readings[0]));
  EXPECT_FALSE(Judged(in, in.Readings[1]));
  EXPECT_TRUE(Judged(in, in.Readings[2]));
  EXPECT_FALSE(Judged(in, in.Readings[3]));
  EXPECT_FALSE(Judged(in, in.Readings[4]));
  const TRecordFigures f = ComputeRecordFigures(in);
  EXPECT_FALSE(f.LeftBand());
  EXPECT_EQ(f.Voltage.MaxValue, 0);
  EXPECT_TRUE(f.CurrentLimited.empty());
  EXPECT_EQ(RecordCsv(in),
            "time_s,voltage_V,current_A,design_voltage_V,design_current_limit_A,point,"
            "point_voltage_V,point_current_A,output,time_spread_s\n"
            "-0.05,0,0,,,,,,,0.001\n"
            "0.01,0,0,,,,,,,0.02\n"
            "0.5,5,0.5,5,1,,,,1,0.02\n"
            "0.99,0,0,,,,,,,0.02\n"
            "1.2,0,0,,,,,,,0.001\n");
  // The same readings judged by their times alone would leave the band.
  for (TReading& r : in.Readings) r.Spread = 0;
  EXPECT_TRUE(ComputeRecordFigures(in).LeftBand());
  // A reading at a step, of the level on its other side: within the reading's time uncertainty
  // the design has that level too, so it did not leave the band.
  TRecordInput step;
  step.Duration = 1;
  step.VoltageTolerance = 0.1;
  step.DesignVoltage = [](double t) { return t < 0.5 ? 2.0 : 4.0; };
  step.Readings = {{0.49, 4, 0, 0.005}, {0.8, 4, 0, 0.005}};
  EXPECT_TRUE(ComputeRecordFigures(step).LeftBand());
  step.TimeBaseUncertainty = 0.006;
  EXPECT_FALSE(ComputeRecordFigures(step).LeftBand());
  step.Readings[0].Voltage = 4.2;  // beyond any level there
  EXPECT_TRUE(ComputeRecordFigures(step).LeftBand());
  step.Readings[0] = {0.49, 4, 0, 0.011};
  step.TimeBaseUncertainty = 0;
  EXPECT_FALSE(ComputeRecordFigures(step).LeftBand());

  // A record of one reading outside the band left it, though its stretch has no length.
  step.Readings = {{0.8, 3, 0, 0}};
  EXPECT_TRUE(ComputeRecordFigures(step).LeftBand());

  // An endless run has no end, but still a start.
  in.Repeat = 0;
  EXPECT_FALSE(WithinRun(in, -1e-9));
  EXPECT_TRUE(WithinRun(in, 1e6));
}
