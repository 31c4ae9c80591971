// Mouse editing on the plot without a display: snapping at every snap choice, the cursor a press
// would use, adding, dragging and removing points, and time never running backwards.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "editor/core/PlotEditing.h"

using namespace ondrevo;

namespace {

// 10 s by 20 V on 1000 by 500 pixels; snap 10 % of a division both ways.
TPlotView View() {
  TPlotView v;
  v.TimeMin = 0, v.TimeMax = 10;
  v.ValueMin = 0, v.ValueMax = 20;
  v.PixelsPerSecond = 100;
  v.PixelsPerUnit = 25;
  v.SnapTime = HorizontalSnapStep(10, 10);
  v.SnapValue = VerticalSnapStep(10, 20, 0.001);
  return v;
}

SegmentTable Points(std::initializer_list<TPlotPoint> points) {
  SegmentTable t;
  std::int32_t i = 0;
  for (TPlotPoint p : points) {
    t[i].Time = p.Time;
    t[i].Value = p.Value;
    ++i;
  }
  t.SetLastPointIndex(i - 1);
  return t;
}

// Snapped coordinates are multiples of decimal steps: compare them to their decimal values.
::testing::AssertionResult At(const SegmentTable& t, std::int32_t i, double time, double value) {
  if (std::abs(t[i].Time - time) < 1e-9 && std::abs(t[i].Value - value) < 1e-9)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "point " << i << " is (" << t[i].Time << ", " << t[i].Value << "), expected (" << time
         << ", " << value << ")";
}

// Hover, press, moves, release: one gesture as the plot delivers it.
TMouseOutcome Gesture(TMouseEditor& ed, SegmentTable& t, bool empty, TPlotPoint press,
                      std::initializer_list<TPlotPoint> moves, TPlotPoint release,
                      const TPlotView& view = View()) {
  ed.Hover(t, empty, press, view);
  ed.Press(t, empty, press, view);
  for (TPlotPoint m : moves) ed.Move(t, m, view);
  return ed.Release(t, release, view);
}

}  // namespace

TEST(PlotEditing, FirstClickSnapsTheValueAndAClickOnTheLastPointChangesNothing) {
  TMouseEditor ed;
  SegmentTable t;
  t[0].Sup1.Kind = SuperpositionKind::Sine;  // left over from an earlier curve
  EXPECT_EQ(ed.Hover(t, true, {3, 3.14}, View()), PlotCursor::Cross);
  auto out = ed.Press(t, true, {0.02, 3.14}, View());
  EXPECT_EQ(out.Action, MouseAction::Started);
  EXPECT_TRUE(ed.Active());
  ASSERT_EQ(t.LastPointIndex(), 1);
  EXPECT_TRUE(At(t, 0, 0, 3.2));
  EXPECT_FALSE(t.HasSuperposition(0));
  // Released where it started: the moving point goes, the lone first point stays.
  out = ed.Release(t, {0.02, 3.14}, View());
  EXPECT_EQ(out.Action, MouseAction::Cancelled);
  EXPECT_FALSE(out.RecordStep);
  EXPECT_EQ(t.LastPointIndex(), 0);
  EXPECT_FALSE(ed.Active());

  SegmentTable curve = Points({{0, 1}, {2, 1}});
  const SegmentTable before = curve;
  out = Gesture(ed, curve, false, {2.01, 1.03}, {}, {2.01, 1.03});
  EXPECT_EQ(out.Action, MouseAction::Cancelled);
  EXPECT_FALSE(out.RecordStep);
  EXPECT_TRUE(curve.SameCurve(before));
}

TEST(PlotEditing, AppendingFollowsTheMouseAndNeverGoesBackInTime) {
  TMouseEditor ed;
  SegmentTable t = Points({{0, 1}, {2, 1}});
  t[2].Sup1.Kind = SuperpositionKind::Square;  // stale row beyond the end
  EXPECT_EQ(ed.Hover(t, false, {5, 4}, View()), PlotCursor::Cross);
  ed.Press(t, false, {5, 4}, View());
  ASSERT_EQ(t.LastPointIndex(), 2);
  EXPECT_EQ(ed.Move(t, {1.0, 4}, View()).Action, MouseAction::None);  // before point 1
  EXPECT_EQ(ed.Move(t, {6.03, 7.91}, View()).Action, MouseAction::Moved);
  EXPECT_NEAR(t[2].Time, 6.0, 1e-12);
  EXPECT_NEAR(t[2].Value, 8.0, 1e-12);
  ed.Move(t, {1.5, 3}, View());  // refused: stays at the last valid position
  auto out = ed.Release(t, {1.5, 3}, View());
  EXPECT_EQ(out.Action, MouseAction::PointAdded);
  EXPECT_TRUE(out.RecordStep);
  EXPECT_TRUE(out.ShowTable);
  EXPECT_EQ(out.RefreshRow, 2);
  EXPECT_NEAR(t[2].Time, 6.0, 1e-12);
  EXPECT_FALSE(t.HasSuperposition(2));

  // After a vertical step the next point must lie strictly later.
  SegmentTable s = Points({{0, 1}, {2, 1}, {2, 5}});
  ed.Hover(s, false, {4, 5}, View());
  ed.Press(s, false, {4, 5}, View());
  EXPECT_EQ(ed.Move(s, {2, 6}, View()).Action, MouseAction::None);
  // Released at the step's time: the moving point is taken back.
  out = ed.Release(s, {2, 6}, View());
  EXPECT_EQ(out.Action, MouseAction::Cancelled);
  EXPECT_EQ(out.MarkSegment, 1);
  EXPECT_EQ(s.LastPointIndex(), 2);

  // A press right of the last point that snaps before it adds nothing.
  SegmentTable u = Points({{0, 1}, {2.04, 1}});
  out = Gesture(ed, u, false, {2.041, 3}, {}, {2.041, 3});
  EXPECT_EQ(out.Action, MouseAction::Cancelled);
  EXPECT_EQ(u.LastPointIndex(), 1);
}

TEST(PlotEditing, APressAfterALoneZeroPointRemovesIt) {
  TMouseEditor ed;
  SegmentTable t = Points({{0, 2}, {0, 0}});
  EXPECT_EQ(ed.Hover(t, false, {0.5, 3}, View()), PlotCursor::Cross);
  auto out = ed.Press(t, false, {0.5, 3}, View());
  EXPECT_EQ(out.Action, MouseAction::PointRemoved);
  EXPECT_TRUE(out.RecordStep);  // a change, so an undo step
  EXPECT_EQ(t.LastPointIndex(), 0);
  EXPECT_FALSE(ed.Active());
}

TEST(PlotEditing, CursorAndSegmentUnderTheMouse) {
  TMouseEditor ed;
  const TPlotView v = View();
  SegmentTable t = Points({{0, 0}, {1, 0}, {1, 5}, {2, 5}, {4, 8}});
  // Within 10 pixels before a vertical step the step is the segment under the mouse.
  EXPECT_EQ(SegmentEndUnder(t, 0.95, v), 2);
  EXPECT_EQ(SegmentEndUnder(t, 0.85, v), 1);
  EXPECT_EQ(SegmentEndUnder(t, 3, v), 4);
  EXPECT_EQ(SegmentEndUnder(t, 4.5, v), -1);

  // At time 0 point 0 is caught within 7 pixels (exclusive), after it within 5 like any point.
  EXPECT_EQ(ed.Hover(t, false, {0, 0.24}, v), PlotCursor::SizeAll);
  EXPECT_EQ(ed.HoveredPoint(), 0);
  EXPECT_EQ(ed.Hover(t, false, {0, 0.28}, v), PlotCursor::Default);
  EXPECT_EQ(ed.HoveredPoint(), -1);
  EXPECT_EQ(ed.Hover(t, false, {0.04, 0.1}, v), PlotCursor::SizeAll);
  EXPECT_EQ(ed.HoveredPoint(), 0);
  EXPECT_EQ(ed.Hover(t, false, {0.06, 0.1}, v), PlotCursor::Default);
  EXPECT_EQ(ed.Hover(t, false, {1.97, 5.1}, v), PlotCursor::SizeAll);
  EXPECT_EQ(ed.HoveredPoint(), 3);
  EXPECT_EQ(ed.Hover(t, false, {2.03, 5.1}, v), PlotCursor::SizeAll);  // p = 4, near p - 1
  EXPECT_EQ(ed.HoveredPoint(), 3);
  EXPECT_EQ(ed.Hover(t, false, {3, 6.5}, v), PlotCursor::Default);
  EXPECT_EQ(ed.Hover(t, false, {4, 2}, v), PlotCursor::Cross);  // at the last point's time
  EXPECT_EQ(ed.Hover(t, true, {1, 1}, v), PlotCursor::Cross);

  // A click on a segment selects its row; outside every box nothing happens.
  ed.Hover(t, false, {3, 6.5}, v);
  auto out = ed.Press(t, false, {3, 6.5}, v);
  EXPECT_EQ(out.Action, MouseAction::SegmentSelected);
  EXPECT_EQ(out.SelectRow, 4);
  EXPECT_FALSE(ed.Active());
  ed.Hover(t, false, {3, 15}, v);
  EXPECT_EQ(ed.Press(t, false, {3, 15}, v).Action, MouseAction::None);
  ed.Hover(t, false, {3, 8.35}, v);  // 8.75 px above the box: the margin is 10
  EXPECT_EQ(ed.Press(t, false, {3, 8.35}, v).SelectRow, 4);
}

TEST(PlotEditing, DraggingRules) {
  TMouseEditor ed;
  // Point 0 keeps its time.
  SegmentTable t = Points({{0, 1}, {2, 1}, {4, 3}});
  auto out = Gesture(ed, t, false, {0.03, 1.05}, {{1.0, 3.0}, {0, 3}}, {1.0, 4.0});
  EXPECT_EQ(out.Action, MouseAction::PointMoved);
  EXPECT_TRUE(out.RecordStep);
  EXPECT_EQ(out.RefreshRow, 0);
  EXPECT_TRUE(At(t, 0, 0, 4.0));

  // The end of a vertical step dragged left stops at the step's time.
  SegmentTable s = Points({{0, 0}, {1, 0}, {1, 5}, {2, 5}});
  out = Gesture(ed, s, false, {1.02, 5}, {{0.5, 5}, {0.3, 6}}, {0.3, 6});
  EXPECT_TRUE(At(s, 2, 1, 5));
  out = Gesture(ed, s, false, {1.02, 5}, {{1.5, 5}, {1.0, 6}, {0.3, 6}}, {0.3, 6});
  EXPECT_TRUE(At(s, 2, 1, 6));

  // Released beyond the next point: the last position reached.
  SegmentTable r = Points({{0, 0}, {1, 1}, {2, 2}, {3, 3}});
  Gesture(ed, r, false, {1.02, 1}, {{1.5, 1.2}, {2.5, 1.4}}, {2.5, 1.4});
  EXPECT_TRUE(At(r, 1, 1.5, 1.2));
  Gesture(ed, r, false, {2.02, 2}, {{2.6, 2.4}, {3.4, 2.8}}, {3.4, 2.8});
  EXPECT_TRUE(At(r, 2, 2.6, 2.4));
  // The last point has no upper limit.
  Gesture(ed, r, false, {2.98, 3}, {{7, 3}}, {7.5, 3});
  EXPECT_TRUE(At(r, 3, 7.5, 3));

  // A superposed neighbour: its segments are rerun, and the drag cannot meet its start.
  SegmentTable q = Points({{0, 0}, {1, 1}, {2, 2}, {3, 3}});
  q[1].Sup1.Kind = SuperpositionKind::Sine;
  out = Gesture(ed, q, false, {2.02, 2}, {{1, 2}, {1.5, 2}}, {1.5, 2});
  EXPECT_EQ(out.RerunSegments, std::vector<std::int32_t>{1});
  EXPECT_TRUE(At(q, 2, 1.5, 2));
  q[2].Sup1.Kind = SuperpositionKind::Triangle;
  out = Gesture(ed, q, false, {1.52, 2}, {{1.0, 2}}, {1.0, 2});  // onto point 1: refused
  EXPECT_TRUE(At(q, 2, 1.5, 2));
  EXPECT_EQ(out.RerunSegments, (std::vector<std::int32_t>{2, 1}));
  EXPECT_TRUE(out.RecordStep);
}

TEST(PlotEditing, APointDraggedOntoAStepIsRemovedAndCounts) {
  TMouseEditor ed;
  SegmentTable t = Points({{0, 0}, {1, 0}, {1, 5}, {2, 5}, {3, 5}});
  t[3].Sup1.Kind = SuperpositionKind::Sine;
  ed.Hover(t, false, {2.02, 5}, View());
  ASSERT_EQ(ed.HoveredPoint(), 3);
  ed.Press(t, false, {2.02, 5}, View());
  EXPECT_EQ(ed.Move(t, {1, 5}, View()).Action, MouseAction::None);  // strictly after the step
  auto out = ed.Release(t, {1, 5}, View());
  EXPECT_EQ(out.Action, MouseAction::PointRemoved);
  EXPECT_TRUE(out.RecordStep);
  EXPECT_EQ(out.MarkSegment, 1);
  ASSERT_EQ(t.LastPointIndex(), 3);
  EXPECT_TRUE(At(t, 3, 3, 5));
  EXPECT_FALSE(t.HasSuperposition(2));
}

TEST(PlotEditing, SnappingAtEveryChoice) {
  struct Case {
    const char* Choice;
    double Value;  // 7.777 V snapped (20 V maximum, 1 mV resolution)
    double Time;   // 3.337 s snapped (10 s span)
  };
  const Case cases[] = {{"100", 8.0, 3.0}, {"50", 8.0, 3.5},      {"20", 7.6, 3.4},
                        {"10", 7.8, 3.3},  {"5", 7.8, 3.35},      {"2", 7.76, 3.34},
                        {"1", 7.78, 3.34}, {"Free", 7.777, 3.337}};
  ASSERT_EQ(std::size(cases), std::size(kSnapChoices));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    ASSERT_STREQ(c.Choice, kSnapChoices[i]);
    TPlotView v = View();
    const double percent = SnapChoicePercent(c.Choice);
    v.SnapTime = HorizontalSnapStep(percent, 10);
    v.SnapValue = VerticalSnapStep(percent, 20, 0.001);
    TMouseEditor ed;
    SegmentTable t;
    auto out = Gesture(ed, t, true, {0, 7.777}, {{3.337, 7.777}}, {3.337, 7.777}, v);
    EXPECT_EQ(out.Action, MouseAction::PointAdded) << c.Choice;
    EXPECT_NEAR(t[0].Value, c.Value, 1e-9) << c.Choice;
    EXPECT_NEAR(t[1].Time, c.Time, 1e-9) << c.Choice;
  }
  // Halves go to the even neighbour.
  TPlotView v = View();
  v.SnapTime = 1;
  TMouseEditor ed;
  SegmentTable t = Points({{0, 1}, {1, 1}});
  Gesture(ed, t, false, {2.5, 1}, {}, {2.5, 1}, v);
  EXPECT_EQ(t[2].Time, 2);
  Gesture(ed, t, false, {3.5, 1}, {}, {3.5, 1}, v);
  EXPECT_EQ(t[3].Time, 4);
}

TEST(PlotEditing, PositionsAreClampedToTheVisibleAxes) {
  TMouseEditor ed;
  TPlotView v = View();
  v.TimeMin = 1, v.TimeMax = 3;
  SegmentTable t = Points({{0, 1}, {1, 1}});
  Gesture(ed, t, false, {2, 1}, {{9, 30}}, {9, 30}, v);
  EXPECT_TRUE(At(t, 2, 3, 20));
}

// Any sequence of gestures keeps the curve's times non-decreasing, starting at 0.
TEST(PlotEditing, TimeStaysMonotoneUnderRandomGestures) {
  std::mt19937 rng(91);
  std::uniform_real_distribution<double> time(-1, 11), value(-2, 22);
  for (int run = 0; run < 60; ++run) {
    TMouseEditor ed;
    TPlotView v = View();
    SegmentTable t;
    bool empty = true;
    for (int g = 0; g < 80; ++g) {
      const double percent = SnapChoicePercent(kSnapChoices[rng() % 8]);
      v.SnapTime = HorizontalSnapStep(percent, 10);
      v.SnapValue = VerticalSnapStep(percent, 20, 0.001);
      const std::int32_t n = t.LastPointIndex();
      // Aim at a point half of the time, so drags happen often.
      TPlotPoint at{time(rng), value(rng)};
      if (!empty && rng() % 2) {
        const std::int32_t i = static_cast<std::int32_t>(rng() % static_cast<unsigned>(n + 1));
        at = {t[i].Time + (rng() % 7 - 3) * 0.01, t[i].Value + (rng() % 5 - 2) * 0.04};
      }
      ed.Hover(t, empty, at, v);
      ed.Press(t, empty, at, v);
      if (ed.Active()) empty = false;
      const int moves = static_cast<int>(rng() % 6);
      auto check = [&](const char* when) {
        ASSERT_EQ(t[0].Time, 0) << when;
        for (std::int32_t i = 1; i <= t.LastPointIndex(); ++i)
          ASSERT_LE(t[i - 1].Time, t[i].Time) << when << " run " << run << " gesture " << g;
      };
      for (int k = 0; k < moves; ++k) {
        // Small steps, moves straight up or down (vertical steps) and jumps alike.
        if (rng() % 4 == 0) {
          ed.Move(t, {t[t.LastPointIndex() > 0 ? t.LastPointIndex() - 1 : 0].Time, value(rng)}, v);
          check("move");
        }
        TPlotPoint m = rng() % 3
                           ? TPlotPoint{at.Time + (static_cast<int>(rng() % 200) - 100) * 0.01,
                                        at.Value + (static_cast<int>(rng() % 40) - 20) * 0.1}
                           : TPlotPoint{time(rng), value(rng)};
        ed.Move(t, m, v);
        check("move");
      }
      // Released anywhere, or a few pixels off the press (before a neighbour, on a step).
      const TPlotPoint off{at.Time + (static_cast<int>(rng() % 9) - 4) * 0.01, at.Value};
      ed.Release(t, rng() % 2 ? off : TPlotPoint{time(rng), value(rng)}, v);
      check("release");
      EXPECT_FALSE(ed.Active());
    }
  }
}

TEST(PlotEditing, AFullCurveTakesNoFurtherPoint) {
  TMouseEditor ed;
  TPlotView v = View();
  v.TimeMax = 1e6;
  SegmentTable t;
  for (std::int32_t i = 0; i < SegmentTable::kCapacity; ++i) t[i].Time = i;
  t.SetLastPointIndex(SegmentTable::kCapacity - 1);
  const TPlotPoint after{SegmentTable::kCapacity + 5.0, 1};
  EXPECT_EQ(ed.Hover(t, false, after, v), PlotCursor::Cross);
  EXPECT_EQ(ed.Press(t, false, after, v).Action, MouseAction::None);
  EXPECT_FALSE(ed.Active());
  EXPECT_EQ(t.LastPointIndex(), SegmentTable::kCapacity - 1);
}
