// Grid, tab and preview rules called directly.
#include <gtest/gtest.h>

#include <cmath>

#include "document/Numbers.h"
#include "editor/core/EditRules.h"
#include "editor/core/Preview.h"

using namespace ondrevo;

namespace {

std::string Shown(double seconds) {
  const ShownDuration d = DurationDisplay(seconds);
  return FormatFixed(d.Value, 7, 5) + " " + d.Unit;
}

std::string Typed(std::string_view keys) {
  std::string text;
  for (char k : keys) {
    if (auto next = ValueKey(text, k)) text = *next;
  }
  return text;
}

std::string Units(std::string_view keys) {
  std::string unit = "s";
  for (char k : keys) unit = UnitKey(unit, k);
  return unit;
}

}  // namespace

TEST(GridRules, DurationsPickTheirUnit) {
  EXPECT_EQ(Shown(0.05), "50.00000 ms");
  EXPECT_EQ(Shown(0.00005), "50.00000 us");
  EXPECT_EQ(Shown(700), "11.66667 min");
  EXPECT_EQ(Shown(36000), "600.00000 min");
  EXPECT_EQ(Shown(36001), "10.00028 h");
  EXPECT_EQ(Shown(0), "0.00000 s");
  EXPECT_EQ(Shown(0.1), "0.10000 s");
  EXPECT_EQ(Shown(0.00000005), "0.05000 us");  // at most two steps
  EXPECT_DOUBLE_EQ(UnitSeconds("min"), 60);
  EXPECT_DOUBLE_EQ(UnitSeconds("us"), 0.000001);
  EXPECT_DOUBLE_EQ(UnitSeconds("?"), 1);
}

TEST(GridRules, UnitAndValueKeys) {
  EXPECT_EQ(Units("us"), "s");
  EXPECT_EQ(Units("ms"), "ms");
  EXPECT_EQ(Units("mi"), "min");
  EXPECT_EQ(Units("h"), "h");
  EXPECT_EQ(Units("u"), "us");
  EXPECT_EQ(Units("x\b"), "s");  // other keys leave the unit
  EXPECT_EQ(Typed("1.2.3"), "1.23");
  EXPECT_EQ(Typed("1,5"), "1.5");
  EXPECT_EQ(Typed("-2e3"), "23");
  EXPECT_EQ(Typed("12\b"), "1");
}

TEST(GridRules, TableToGridAndBack) {
  SegmentTable t;
  t[0].Value = 1;
  t[1].Time = 0.05;
  t[1].Value = 2.5;
  t[2].Time = 700.05;
  t[2].Value = 0;
  t[0].Sup1.Kind = SuperpositionKind::Square;
  t[0].Sup1.FreqStart = 250;
  t[0].Sup1.DutyCycle = 30;
  t[0].Sup2.Kind = SuperpositionKind::Sine;
  t[1].Sup2.Kind = SuperpositionKind::Sine;  // without a first one: not shown
  t.SetLastPointIndex(2);
  std::vector<GridRow> rows = TableToGrid(t);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][kColValue], "1.0000");
  EXPECT_EQ(rows[0][kColDuration], "50.00000");
  EXPECT_EQ(rows[0][kColUnit], "ms");
  EXPECT_EQ(rows[0][kColEndValue], "2.5000");
  EXPECT_EQ(rows[0][kColSup1Name], "Square");
  EXPECT_EQ(rows[0][kColSup2Name], "Sine");
  EXPECT_EQ(rows[1][kColSup2Name], "");
  EXPECT_EQ(rows[1][kColUnit], "min");
  EXPECT_EQ(rows[2][kColDuration], "");

  SegmentTable back;
  EXPECT_EQ(GridToTable(rows, back), 3);
  EXPECT_EQ(back.LastPointIndex(), 2);
  EXPECT_DOUBLE_EQ(back[1].Time, 0.05);
  EXPECT_NEAR(back[2].Time, 700.05, 1e-3);  // minutes with 5 decimals
  EXPECT_EQ(back[0].Sup1, t[0].Sup1);
  EXPECT_EQ(back[0].Sup2.Kind, SuperpositionKind::Sine);

  // A cell that is not a number ends the conversion; the rows before it stay.
  rows[1][kColDuration] = "x";
  EXPECT_EQ(GridToTable(rows, back), 2);
  EXPECT_EQ(back.LastPointIndex(), 1);
  EXPECT_EQ(TableToGrid(SegmentTable{}).size(), 1u);
}

TEST(Clipboard, TabsOrQuotedCommasInNothingOtherwise) {
  SegmentTable t;
  for (int i = 0; i < 3; ++i) {
    t[i].Time = i;
    t[i].Value = i * 1.5;
  }
  t[0].Sup1.Kind = SuperpositionKind::Triangle;
  t[0].Sup1.AmpEnd = 0.25;
  t.SetLastPointIndex(2);
  const std::vector<GridRow> rows = TableToGrid(t);
  const std::string text = RowsToClipboard(rows, 0, 2);
  EXPECT_EQ(
      text.substr(0, text.find('\n')),
      "0.0000\t1.00000\ts\t1.5000\tTriangle\t\t1\t1\t1\t0.25\t50\t0\t1\t1\t1\t1\t50\t0\t3\t0");
  ClipboardRows parsed = ParseClipboard(text);
  ASSERT_TRUE(parsed.Error.empty()) << parsed.Error;
  ASSERT_EQ(parsed.Rows.size(), 3u);
  for (int r = 0; r < 3; ++r) {
    for (int c = 1; c < kGridColumns; ++c) {
      const std::string expected = rows[r][c].empty() && c >= kColSup1Fields
                                       ? parsed.Rows[r][c]  // defaults filled in
                                       : rows[r][c];
      EXPECT_EQ(parsed.Rows[r][c], expected) << r << "," << c;
    }
  }

  // The comma-separated form with quoted items and blanks.
  parsed = ParseClipboard("2,\"3\",s,4,\"Sine\",,5,5,1,1,50,0,1,1,1,1,50,0,1,0\r\n");
  ASSERT_TRUE(parsed.Error.empty()) << parsed.Error;
  EXPECT_EQ(parsed.Rows[0][kColDuration], "3");
  EXPECT_EQ(parsed.Rows[0][kColKind1], "1");
  EXPECT_EQ(parsed.Rows[0][kColSup1Name], "Sine");
  // A spreadsheet's two columns: value and duration, the rest defaults.
  parsed = ParseClipboard("1.5\t2\n3\t\n");
  ASSERT_TRUE(parsed.Error.empty());
  EXPECT_EQ(parsed.Rows[1][kColKind1], "0");

  for (const char* bad : {"abc\t1\n", "1\t-2\n", "1,2,sec\n", "1,\"2\n",
                          "1\t1\ts\t1\tx\t\t1\t1\t1\t1\t50\t0\t1\t1\t1\t1\t50\t0\t7\t0\n",
                          "1,2,s,3,,,1,1,1,1,50,0,1,1,1,1,50,0,0,0,9\n", "", "\n\n"}) {
    parsed = ParseClipboard(bad);
    EXPECT_FALSE(parsed.Error.empty()) << bad;
    EXPECT_TRUE(parsed.Rows.empty()) << bad;
  }
  EXPECT_NE(ParseClipboard("x\n").Error.find("Line 1"), std::string::npos);

  // A number the document could not read back is refused where it enters.
  parsed = ParseClipboard("1\t2\n1.7976931348623157e308\t1\n");
  EXPECT_NE(parsed.Error.find("Line 2"), std::string::npos) << parsed.Error;
  EXPECT_NE(parsed.Error.find("too large to be stored"), std::string::npos) << parsed.Error;
  EXPECT_TRUE(parsed.Rows.empty());
  double v = 0;
  EXPECT_FALSE(TryParseStorable("1.7976931348623157e308", v));
  EXPECT_TRUE(TryParseStorable("1.7e308", v));
  EXPECT_EQ(v, 1.7e308);

  std::string many;
  for (int i = 0; i < 60001; ++i) many += "1\t1\n";
  parsed = ParseClipboard(many);
  EXPECT_FALSE(parsed.Error.empty());
  EXPECT_TRUE(parsed.Rows.empty());
}

TEST(TabRules, TimeAndFrequencyUnits) {
  auto times = [](double s, double e) {
    const ShownTimes t = TabTimeDisplay(s, e);
    return FormatGeneral(t.Start) + " " + FormatGeneral(t.End) + " " + t.Unit;
  };
  EXPECT_EQ(times(2, 5), "2 5 s");
  EXPECT_EQ(times(0, 0.05), "0 50 ms");
  EXPECT_EQ(times(0.0001, 0.00012), "100 120 us");
  EXPECT_EQ(times(700, 800), "11.6666666666667 13.3333333333333 min");
  EXPECT_EQ(times(0, 40000), "0 11.1111111111111 h");
  auto freqs = [](double a, double b) {
    const ShownFrequencies f = TabFrequencyDisplay(a, b);
    return FormatGeneral(f.Start) + " " + FormatGeneral(f.End) + " " + kFrequencyUnitNames[f.Unit];
  };
  EXPECT_EQ(freqs(0.5, 2000), "0.5 2000 Hz");
  EXPECT_EQ(freqs(1500, 2500), "1.5 2.5 kHz");
  EXPECT_EQ(freqs(0.0005, 0.001), "0.5 1 mHz");
  EXPECT_EQ(freqs(2e6, 3e6), "2 3 MHz");
  EXPECT_EQ(freqs(1, 1), "1 1 Hz");
}

TEST(TabRules, SpinLimitsAndTimeArrows) {
  DeviceLimits l;
  l.MaxVoltage = 32;
  l.MaxCurrent = 20;
  EXPECT_DOUBLE_EQ(TabSpinLimits(l, Quantity::Voltage).Value, 32);
  EXPECT_DOUBLE_EQ(TabSpinLimits(l, Quantity::Current).Amplitude1, 20);
  EXPECT_DOUBLE_EQ(TabSpinLimits(l, Quantity::Current).Amplitude2, 30);
  EXPECT_FALSE(StartArrowDown(-1, 0).has_value());
  EXPECT_DOUBLE_EQ(*StartArrowDown(1, 2), 2);
  EXPECT_DOUBLE_EQ(*StartArrowDown(3, 2), 3);
  EXPECT_DOUBLE_EQ(StartArrowUp(5, 5, 0.01), 4.99);
  EXPECT_DOUBLE_EQ(EndArrowDown(5, 5, 0.01), 5.01);
  EXPECT_DOUBLE_EQ(EndArrowUp(7, 7, 0.01), 6.99);
  EXPECT_DOUBLE_EQ(EndArrowUp(7, std::nullopt, 0.01), 7);
}

TEST(Preview, NeededPointsAndTheMemoryCheck) {
  SegmentRow seg;
  seg.Sup1.Kind = SuperpositionKind::Sine;
  seg.Sup1.FreqStart = seg.Sup1.FreqEnd = 10;
  auto check = [&](double t1, std::int32_t budget = 1000) {
    return CheckSuperpositions(seg, 0, t1, budget, 12000);
  };
  EXPECT_DOUBLE_EQ(NeededPoints(0, 10, 10, 10, SuperpositionKind::Sine), 1000);
  EXPECT_EQ(check(10).Outcome, CheckOutcome::Accepted);
  seg.Sup1.FreqEnd = 10.1;
  EXPECT_EQ(check(10).Outcome, CheckOutcome::RefusedFirst);
  EXPECT_EQ(check(10).Message,
            "The first superposition takes up to much device memory. Please decrease duration or "
            "frequency.");
  EXPECT_EQ(check(10, 12000).Outcome, CheckOutcome::Accepted);  // the analog output card
  seg.Sup1.FreqStart = 5;
  seg.Sup1.FreqEnd = 20;  // a sweep counts with its larger end
  EXPECT_EQ(check(10).Outcome, CheckOutcome::RefusedFirst);
  seg.Sup1.AmpStart = seg.Sup1.AmpEnd = 0;  // no amplitude: never refused
  EXPECT_EQ(check(10).Outcome, CheckOutcome::Accepted);
  seg.Sup1 = {SuperpositionKind::Square, 25, 25, 1, 1, 50, 0};
  EXPECT_EQ(check(10).Outcome, CheckOutcome::Accepted);  // 4 per period: 1000 points
  EXPECT_EQ(check(0).Outcome, CheckOutcome::FirstSwitchedOff);
  EXPECT_EQ(check(0).Message, "The duration should be greater than 0.");
  // The second superposition is looked at first, on a zero duration as well.
  seg.Sup2 = {SuperpositionKind::Sine, 200, 200, 1, 1, 50, 0};
  EXPECT_EQ(check(0).Outcome, CheckOutcome::RefusedSecond);
  EXPECT_EQ(check(0).Message, "The duration should be greater than 0.");
  EXPECT_EQ(check(10).Outcome, CheckOutcome::RefusedSecond);
  EXPECT_NE(check(10).Message.find("second superposition"), std::string::npos);
}

// Tabs and pastes cannot bring a frequency the samplers cannot walk; the message names the limit.
TEST(Preview, FrequenciesAboveTheLimitAreRefusedAtEveryBudget) {
  SegmentRow seg;
  seg.Sup1 = {SuperpositionKind::Sine, 1e9, 1e9, 2, 2, 50, 0};
  EXPECT_EQ(CheckSuperpositions(seg, 0, 1e-9, 1000, 12000).Outcome, CheckOutcome::Accepted);
  seg.Sup1.FreqEnd = 1e14;
  const MemoryCheck first = CheckSuperpositions(seg, 0, 1e-9, 12000, 12000);
  EXPECT_EQ(first.Outcome, CheckOutcome::RefusedFirst);
  EXPECT_EQ(first.Message, "A frequency cannot exceed 1000000000 Hz: 100000000000000 Hz");
  seg.Sup1.FreqEnd = 1;
  seg.Sup2 = {SuperpositionKind::Square, -2e9, 1, 1, 1, 50, 0};
  EXPECT_EQ(CheckSuperpositions(seg, 0, 10, 12000, 12000).Outcome, CheckOutcome::RefusedSecond);

  ClipboardRows parsed = ParseClipboard(
      "1\t1\ts\t1\tSine\t\t1\t100000000000000\t1\t1\t50\t0\t1\t1\t1\t1\t50\t0\t1\t0\n");
  EXPECT_EQ(parsed.Error,
            "Line 1 of the clipboard, item 8: \"100000000000000\" is above the highest frequency, "
            "1000000000 Hz.");
  EXPECT_TRUE(parsed.Rows.empty());
  parsed =
      ParseClipboard("1\t1\ts\t1\tSine\t\t1\t1000000000\t1\t1\t50\t0\t1\t1\t1\t1\t50\t0\t1\t0\n");
  EXPECT_TRUE(parsed.Error.empty()) << parsed.Error;
}

TEST(Preview, ResolutionAndShapes) {
  EXPECT_EQ(PreviewResolution(1000, 1000, 0.00001), 80);
  EXPECT_EQ(PreviewResolution(10, 10, 0.01), 10);
  EXPECT_EQ(PreviewResolution(1, 1, 0.000000001), 320);

  SegmentRow seg;
  seg.Sup1 = {SuperpositionKind::Sine, 1, 1, 2, 2, 50, 0};
  // A sine over the whole axis: about 5000 points, from (t0, y0) to (t1, y1).
  Polyline p = SegmentPreview(seg, 0, 10, 1, 3, 0.01, 10);
  EXPECT_NEAR(static_cast<double>(p.size()), 5000, 3);
  EXPECT_DOUBLE_EQ(p.front().V, 1);
  EXPECT_DOUBLE_EQ(p.back().T, 10);
  EXPECT_DOUBLE_EQ(p.back().V, 3);
  double lo = 1e9, hi = -1e9;
  for (const PreviewPoint& pt : p) {
    const double offset = pt.V - (1 + pt.T / 10 * 2);
    lo = std::min(lo, offset);
    hi = std::max(hi, offset);
  }
  EXPECT_NEAR(hi, 1, 0.01);  // half the peak-to-peak amplitude
  EXPECT_NEAR(lo, -1, 0.01);

  // A 10 Hz square, duty 25 %: two edges per period, each drawn as two points.
  seg.Sup1 = {SuperpositionKind::Square, 10, 10, 2, 2, 25, 0};
  p = SegmentPreview(seg, 0, 1, 0, 0, 0.01, 10);
  int edges = 0;
  double area = 0;
  for (std::size_t i = 2; i + 1 < p.size(); ++i) {
    if (p[i].V != p[i - 1].V) ++edges;
    area += (p[i].T - p[i - 1].T) * (p[i].V + p[i - 1].V) / 2;
  }
  EXPECT_GE(edges, 19);
  EXPECT_LE(edges, 20);
  EXPECT_NEAR(area, 0.25 - 0.75, 0.02);  // high a quarter of each period
  for (std::size_t i = 1; i < p.size(); ++i) EXPECT_GE(p[i].T, p[i - 1].T);

  // A triangle sweeping its amplitude from 0 to 2: peaks grow along the segment.
  seg.Sup1 = {SuperpositionKind::Triangle, 10, 10, 0, 2, 50, 0};
  p = SegmentPreview(seg, 0, 1, 0, 0, 0.01, 10);
  // N = 10: two points per quarter period, so every peak is a point.
  EXPECT_EQ(p.size(), 10u * 8 + 2);  // and (t0, y0), the last level held, (t1, y1)
  EXPECT_LT(std::abs(p[3].V), std::abs(p[p.size() - 8].V));

  // A sawtooth with a second superposition merged in: still time-ordered, ends at (t1, y1).
  seg.Sup1 = {SuperpositionKind::Sawtooth, 5, 5, 1, 1, 50, 0};
  seg.Sup2 = {SuperpositionKind::Square, 2, 2, 1, 1, 50, 0};
  p = SegmentPreview(seg, 2, 3, 4, 4, 0.0002, 10);
  for (std::size_t i = 1; i < p.size(); ++i) EXPECT_GE(p[i].T, p[i - 1].T);
  EXPECT_DOUBLE_EQ(p.front().T, 2);
  EXPECT_DOUBLE_EQ(p.back().V, 4);
  EXPECT_GT(p.size(), 5u * 320);

  // Zero duration, no superposition: nothing to draw.
  EXPECT_TRUE(SegmentPreview(seg, 1, 1, 0, 0, 0.01, 10).empty());
  seg.Sup1.Kind = SuperpositionKind::None;
  EXPECT_TRUE(SegmentPreview(seg, 0, 1, 0, 0, 0.01, 10).empty());
  // An absurd frequency stays bounded.
  seg.Sup1 = {SuperpositionKind::Triangle, 1e9, 1e9, 1, 1, 50, 0};
  seg.Sup2.Kind = SuperpositionKind::None;
  EXPECT_LE(SegmentPreview(seg, 0, 100, 0, 0, 1e-9, 100).size(), kMaxPreviewPoints + 2);
}

// Two squares, also late on the time axis (where one edge width is below the resolution of the
// time): every change of level is a vertical edge, every level the sum of both squares.
TEST(Preview, TwoSquaresKeepTheirEdges) {
  struct Case {
    double f1, f2, t0, t1;
    int duty1, duty2;
  };
  const Case cases[] = {{10, 3, 0, 1, 50, 50},
                        {7, 3, 0, 10, 25, 60},
                        {7, 3, 100, 101, 50, 50},
                        {2, 1, 3000, 3003, 30, 50},
                        {10, 10, 40, 41, 30, 70}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.f1 << " Hz + " << c.f2 << " Hz from " << c.t0 << " s");
    SegmentRow seg;
    seg.Sup1 = {SuperpositionKind::Square, c.f1, c.f1, 2, 2, c.duty1, 0};
    seg.Sup2 = {SuperpositionKind::Square, c.f2, c.f2, 1, 1, c.duty2, 0};
    const Polyline p = SegmentPreview(seg, c.t0, c.t1, 4, 4, 0.0002, 10);
    auto level = [&](double t) {
      const double x1 = std::fmod((t - c.t0) * c.f1, 1.0), x2 = std::fmod((t - c.t0) * c.f2, 1.0);
      return 4 + (x1 < c.duty1 / 100.0 ? 1 : -1) + (x2 < c.duty2 / 100.0 ? 0.5 : -0.5);
    };
    ASSERT_GT(p.size(), 4u);
    for (std::size_t i = 1; i + 1 < p.size(); ++i) {
      ASSERT_GE(p[i].T, p[i - 1].T);
      if (p[i].T - p[i - 1].T > 0.000000001) {
        // Flat between edges, at the sum of both levels from one end to the other: an edge
        // drawn as a slope or left out fails here.
        EXPECT_DOUBLE_EQ(p[i].V, p[i - 1].V) << "sloped at " << p[i].T;
        EXPECT_DOUBLE_EQ(p[i].V, level(p[i - 1].T + 0.0000001)) << p[i - 1].T;
        EXPECT_DOUBLE_EQ(p[i].V, level(p[i].T - 0.0000001)) << p[i].T;
      }
    }
    EXPECT_DOUBLE_EQ(p[1].V, level(c.t0));  // the first level, not a ramp towards it
    EXPECT_DOUBLE_EQ(p.back().T, c.t1);
  }
}

TEST(TabRules, SkipNextExitOfTheDutyCycle) {
  using E = TSkipNextExit::OnExit;
  TSkipNextExit skip;
  skip.Set(60, true);  // Enter applied and recorded 60: skipped once only
  EXPECT_EQ(skip.Leave(60), E::Nothing);
  EXPECT_EQ(skip.Leave(60), E::Apply);
  skip.Set(51, false);  // arrows apply unrecorded
  EXPECT_EQ(skip.Leave(51), E::RecordOnly);
  skip.Set(54, false);
  EXPECT_EQ(skip.Leave(80), E::Apply);  // typed after the arrow
}
