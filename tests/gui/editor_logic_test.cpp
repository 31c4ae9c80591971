// Pure editor arithmetic: timescale and zoom to fit, tick labels, zoom limits, snapping,
// stretching, device limits, the device configuration file and the command-line switches.
#include <gtest/gtest.h>

#include "editor/CommandLine.h"
#include "editor/DeviceLimits.h"
#include "editor/Timescale.h"

using namespace ondrevo;

namespace {
SegmentRow P(double time, double value) {
  SegmentRow r;
  r.Time = time;
  r.Value = value;
  return r;
}
}  // namespace

namespace {

std::string Fit(double end) {
  auto c = ZoomToFitTimescale(end);
  if (!c) return "none";
  return std::to_string(kTimescaleValues[c->ValueIndex]) + " " + kUnitNames[c->Unit];
}

}  // namespace

TEST(ZoomToFitTimescale, PicksTheFirstDivisionNotBelowATenth) {
  EXPECT_EQ(Fit(7), "1 s/div");  // 1000 ms/div shown as 1 s/div
  EXPECT_DOUBLE_EQ(ZoomToFitTimescale(7)->AxisMax, 10);
  EXPECT_EQ(Fit(0.004), "500 us/div");
  EXPECT_EQ(Fit(12), "2 s/div");
  EXPECT_EQ(Fit(9000), "1000 s/div");
  EXPECT_DOUBLE_EQ(ZoomToFitTimescale(9000)->AxisMax, 10000);
  EXPECT_EQ(Fit(0.008), "1 ms/div");  // 1000 us/div shown as 1 ms/div
  EXPECT_EQ(Fit(10), "1 s/div");      // exactly one division of 1 s
  EXPECT_EQ(Fit(0.01), "1 ms/div");
  EXPECT_EQ(Fit(1e-9), "1 us/div");
  EXPECT_EQ(Fit(0), "none");
  EXPECT_EQ(Fit(-1), "none");
  EXPECT_EQ(Fit(1e12), "1000 h/div");  // beyond every timescale: the largest
}

TEST(TimeTickLabels, FollowTheUnitAndAxisMaximum) {
  auto ms5 = LabelTimeTick(kUnitMilli, 5, 2.5);
  EXPECT_EQ(ms5.Text, "2.50");
  EXPECT_STREQ(ms5.Caption, "Time [s]");
  auto ms05 = LabelTimeTick(kUnitMilli, 0.5, 0.25);
  EXPECT_EQ(ms05.Text, "250.00");
  EXPECT_STREQ(ms05.Caption, "Time [ms]");
  EXPECT_STREQ(LabelTimeTick(kUnitMilli, 10, 1).Caption, "Time [s]");  // inclusive bound
  auto us = LabelTimeTick(kUnitMicro, 0.005, 0.001);
  EXPECT_EQ(us.Text, "1.00");
  EXPECT_STREQ(us.Caption, "Time [ms]");
  EXPECT_EQ(LabelTimeTick(kUnitMicro, 0.0005, 0.0001).Text, "100.00");
  EXPECT_EQ(LabelTimeTick(kUnitHour, 36000, 7200).Text, "2.00");
  EXPECT_EQ(LabelTimeTick(kUnitMinute, 600, 90).Text, "1.50");
  EXPECT_EQ(LabelTimeTick(kUnitSecond, 10, 0).Caption, nullptr);
}

// Zoomed in, neighbouring ticks get labels that differ, whatever the unit and span.
TEST(TimeTickLabels, ZoomedLabelsCarryEnoughDigits) {
  EXPECT_EQ(TimeLabelDecimals(1), 2);
  EXPECT_EQ(TimeLabelDecimals(0.01), 2);
  EXPECT_EQ(TimeLabelDecimals(0.001), 3);
  EXPECT_EQ(TimeLabelDecimals(0.00025), 4);
  EXPECT_EQ(TimeLabelDecimals(0), 2);
  // Unzoomed, the step of the timescale changes nothing but the exponent form.
  EXPECT_EQ(LabelTimeTick(kUnitSecond, 10, 2.5, 1).Text, "2.50");
  EXPECT_EQ(LabelTimeTick(kUnitMilli, 0.5, 0.25, 0.05).Text, "250.00");
  EXPECT_EQ(LabelTimeTick(kUnitSecond, 10000, 10000, 1000).Text, "10000.00");
  struct Span {
    int unit;
    double min, max;
  };
  for (const Span& s : {Span{kUnitSecond, 2.58, 2.5805}, Span{kUnitSecond, 1234.5, 1234.5012},
                        Span{kUnitMilli, 2.5, 2.50002}, Span{kUnitMicro, 0.0025, 0.0025001},
                        Span{kUnitHour, 7200, 7201}, Span{kUnitMinute, 30, 30.5},
                        Span{kUnitMicro, 2.55, 2.551}}) {
    const double step = (s.max - s.min) / 10;
    std::string previous;
    for (int i = 0; i <= 10; ++i) {
      const std::string text = LabelTimeTick(s.unit, s.max, s.min + i * step, step).Text;
      EXPECT_NE(text, previous) << s.min << " tick " << i;
      EXPECT_EQ(text.find('E'), std::string::npos) << text;  // never the exponent form
      previous = text;
    }
  }
}

TEST(ZoomLimits, OnlyNarrowAndNeverBelowZero) {
  double lo = -1, hi = 5;
  EXPECT_TRUE(LimitZoom(true, 10, lo, hi));
  EXPECT_EQ(lo, 0);
  lo = 2, hi = 11;
  EXPECT_FALSE(LimitZoom(true, 10, lo, hi));
  lo = -1, hi = 5;
  EXPECT_FALSE(LimitZoom(false, 22, lo, hi));  // value axes are not clamped
  lo = 1, hi = 22;
  EXPECT_TRUE(LimitZoom(false, 22, lo, hi));
}

TEST(Snapping, StepsAndHalvesToEven) {
  EXPECT_DOUBLE_EQ(VerticalSnapStep(10, 20, 0.001), 0.2);
  EXPECT_DOUBLE_EQ(SnapTo(3.14, 0.2), 3.2);
  EXPECT_DOUBLE_EQ(VerticalSnapStep(0, 20, 0.001), 0.001);  // "Free" snaps to the resolution
  EXPECT_DOUBLE_EQ(HorizontalSnapStep(0, 10), 1e-10);
  EXPECT_DOUBLE_EQ(HorizontalSnapStep(10, 10), 0.1);
  EXPECT_DOUBLE_EQ(SnapTo(0.25, 0.5), 0.0);
  EXPECT_DOUBLE_EQ(SnapTo(0.75, 0.5), 1.0);
}

TEST(StretchTable, ScalesTimesAndKeepsPeriods) {
  SegmentTable t;
  t[0] = P(0, 1);
  t[1] = P(2, 3);
  t[2] = P(5, 3);
  t.SetLastPointIndex(2);
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup1.FreqStart = 10;
  t[0].Sup1.FreqEnd = 20;
  t[0].Sup2.Kind = SuperpositionKind::Square;
  t[0].Sup2.FreqStart = 4;
  t[1].Sup2.Kind = SuperpositionKind::Sine;  // no first superposition: untouched
  t[1].Sup2.FreqStart = 8;
  StretchTable(t, 2);
  EXPECT_DOUBLE_EQ(t[1].Time, 4);
  EXPECT_DOUBLE_EQ(t[2].Time, 10);
  EXPECT_DOUBLE_EQ(t[0].Sup1.FreqStart, 5);
  EXPECT_DOUBLE_EQ(t[0].Sup1.FreqEnd, 10);
  EXPECT_DOUBLE_EQ(t[0].Sup2.FreqStart, 2);
  EXPECT_DOUBLE_EQ(t[1].Sup2.FreqStart, 8);
  EXPECT_DOUBLE_EQ(t[0].Value, 1);
}

TEST(CurvePeak, AddsHalfTheLargerAmplitude) {
  SegmentTable t;
  EXPECT_EQ(CurvePeak(t), 0);
  t[0] = P(0, 2);
  t[1] = P(1, 5);
  t[2] = P(2, 1);
  t.SetLastPointIndex(2);
  EXPECT_DOUBLE_EQ(CurvePeak(t), 5);
  t[1].Sup1.Kind = SuperpositionKind::Sine;
  t[1].Sup1.AmpStart = 1;
  t[1].Sup1.AmpEnd = 4;
  EXPECT_DOUBLE_EQ(CurvePeak(t), 7);
  t[2].Sup1.Kind = SuperpositionKind::Sine;  // last point starts no segment
  t[2].Sup1.AmpEnd = 100;
  EXPECT_DOUBLE_EQ(CurvePeak(t), 7);
}

TEST(DeviceLimits, RatingsResolutionsAndDwellTimes) {
  const DeviceLimits a = LimitsForDevice(2, 4);  // 5203 / 32
  EXPECT_EQ(DeviceText(2, 4), "KSV 5203-32");
  EXPECT_DOUBLE_EQ(a.MaxVoltage, 32);
  EXPECT_DOUBLE_EQ(a.MaxCurrent, 20);
  EXPECT_DOUBLE_EQ(a.VoltageResolution, 0.002);
  EXPECT_DOUBLE_EQ(a.CurrentResolution, 0.002);
  EXPECT_DOUBLE_EQ(a.MinDwellTime, 0.0002);
  const DeviceLimits b = LimitsForDevice(14, 6);  // 6142 / 420
  EXPECT_DOUBLE_EQ(b.MaxVoltage, 420);
  EXPECT_DOUBLE_EQ(b.MaxCurrent, 7.5);
  EXPECT_DOUBLE_EQ(b.VoltageResolution, 0.1);
  EXPECT_DOUBLE_EQ(b.CurrentResolution, 0.002);
  EXPECT_DOUBLE_EQ(b.MinDwellTime, 0.05);
  const DeviceLimits c = LimitsForDevice(15, 0);  // 7341 / 20
  EXPECT_DOUBLE_EQ(c.MaxVoltage, 20);
  EXPECT_DOUBLE_EQ(c.MaxCurrent, 40);
  EXPECT_DOUBLE_EQ(c.VoltageResolution, 0.01);
  EXPECT_DOUBLE_EQ(c.CurrentResolution, 0.005);
  EXPECT_DOUBLE_EQ(c.MinDwellTime, 0.01);
  // Threshold edges: "below" is strict.
  EXPECT_DOUBLE_EQ(VoltageResolutionFor(DeviceFamily::A, 20), 0.002);
  EXPECT_DOUBLE_EQ(CurrentResolutionFor(DeviceFamily::A, 200), 0.02);
  EXPECT_DOUBLE_EQ(CurrentResolutionFor(DeviceFamily::B, 100), 0.05);
  // Every menu item has a rating.
  for (int m = 0; m < kDeviceModelCount; ++m) {
    for (int v = 0; v < VariantCount(m); ++v) EXPECT_GT(RatedCurrent(m, v), 0) << m << "/" << v;
    EXPECT_EQ(RatedCurrent(m, VariantCount(m)), 0);
  }
  EXPECT_EQ(EditorFamilyOfModel("7342"), DeviceFamily::C);
  EXPECT_EQ(EditorFamilyOfModel("6141"), DeviceFamily::B);
  EXPECT_EQ(EditorFamilyOfModel("5213"), DeviceFamily::A);
  const DeviceLimits daq = WithDaqOverrides(a);
  EXPECT_DOUBLE_EQ(daq.CurrentResolution, 0.0001);
  EXPECT_DOUBLE_EQ(daq.MaxCurrent, 20);
}

TEST(DeviceConfiguration, RoundTripAndDamagedFiles) {
  DeviceConfiguration c;
  c.Model = 12;
  c.Variant = 9;
  c.Daq = true;
  c.Limits = LimitsForDevice(12, 9);
  c.Limits.Reserved = 100;
  c.Interface = InterfaceChoice::Gpib;
  const std::string text = FormatDeviceConfiguration(c);
  EXPECT_EQ(text, "12\n9\n1\n100\n0.01\n52\n0.005\n100\n0.0002\n0\n3\n");
  EXPECT_EQ(ParseDeviceConfiguration(text), c);
  // Windows line ends read the same.
  std::string crlf;
  for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  EXPECT_EQ(ParseDeviceConfiguration(crlf), c);
  EXPECT_FALSE(ParseDeviceConfiguration("12\n9\n1\n100\n"));  // missing lines
  EXPECT_FALSE(ParseDeviceConfiguration("12\n9\n1\n1,5\n0.01\n52\n0.005\n100\n0.0002\n0\n3\n"));
  EXPECT_FALSE(ParseDeviceConfiguration("17\n0\n0\n20\n0.01\n40\n0.005\n100\n0.01\n1\n0\n"));
  EXPECT_FALSE(ParseDeviceConfiguration("15\n5\n0\n20\n0.01\n40\n0.005\n100\n0.01\n1\n0\n"));
  EXPECT_FALSE(ParseDeviceConfiguration("15\n0\n0\n0\n0.01\n40\n0.005\n100\n0.01\n1\n0\n"));
  EXPECT_FALSE(ParseDeviceConfiguration("15\n0\n0\n20\n0.01\n40\n0.005\n100\n0.01\n1\n4\n"));
  EXPECT_FALSE(ParseDeviceConfiguration(""));
}

TEST(EditorSwitches, FmaxAndCoffInAnyCaseAndLinuxForms) {
  EXPECT_EQ(ParseEditorSwitches({}).DaqPointBudget, 12000);
  EXPECT_EQ(ParseEditorSwitches({"\\FMAX800"}).DaqPointBudget, 12000);
  EXPECT_EQ(ParseEditorSwitches({"\\FMAX20000"}).DaqPointBudget, 20000);
  EXPECT_EQ(ParseEditorSwitches({"doc.ovx", "\\fmax20000"}).DaqPointBudget, 20000);
  EXPECT_EQ(ParseEditorSwitches({"\\FMAXabcd"}).DaqPointBudget, 12000);
  EXPECT_EQ(ParseEditorSwitches({"\\FMAX-5000"}).DaqPointBudget, 12000);
  EXPECT_EQ(ParseEditorSwitches({"--fmax=20000"}).DaqPointBudget, 20000);
  EXPECT_EQ(ParseEditorSwitches({"--FMAX=800"}).DaqPointBudget, 12000);
  EXPECT_TRUE(ParseEditorSwitches({"\\coff"}).CsvOffsetMode);
  EXPECT_TRUE(ParseEditorSwitches({"--coff"}).CsvOffsetMode);
  EXPECT_FALSE(ParseEditorSwitches({"\\COFFX"}).CsvOffsetMode);
}
