// Preview polylines against the functions the device plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "editor/core/LimitBreaches.h"
#include "editor/core/Preview.h"
#include "model/Builder.h"
#include "model/Modifiers.h"

using namespace ondrevo;

namespace {

SegmentRow Superposed(SuperpositionKind kind, double f0, double f1, double amp, int phase,
                      int duty = 50) {
  SegmentRow seg;
  seg.Sup1 = {kind, f0, f1, amp, amp, duty, phase};
  return seg;
}

// Every point of the preview (ramp removed) lies on the played function, or, where the
// oscillation is too dense to draw, on one of its peaks. A point at a vertical edge may take
// either side of it.
void ExpectOnPlayedSignal(const SegmentRow& seg, const Polyline& p, double t0, double t1, double y0,
                          double y1, double tolerance) {
  const TModifierPtr played = MakeSuperposition(seg.Sup1, t1 - t0);
  const double half = seg.Sup1.AmpStart / 2;
  ASSERT_GT(p.size(), 2u);
  for (std::size_t i = 1; i + 1 < p.size(); ++i) {
    const double t = p[i].T;
    const double offset = p[i].V - (y0 + (t - t0) / (t1 - t0) * (y1 - y0));
    const double expected = played->GetValue(t - t0);
    // (t0, y0) and (t1, y1) are the ramp's, not the shape's: a jump to them is no edge.
    const bool nearEdge =
        (i > 1 && t - p[i - 1].T < 1e-12) || (i + 2 < p.size() && p[i + 1].T - t < 1e-12);
    if (nearEdge) {
      EXPECT_NEAR(std::abs(offset), half, tolerance) << "edge at " << t;
    } else {
      EXPECT_NEAR(offset, expected, tolerance) << "at " << t;
    }
  }
}

double MaxOffset(const Polyline& p) {
  double hi = -1e300;
  for (std::size_t i = 1; i + 1 < p.size(); ++i) hi = std::max(hi, p[i].V);
  return hi;
}
double MinOffset(const Polyline& p) {
  double lo = 1e300;
  for (std::size_t i = 1; i + 1 < p.size(); ++i) lo = std::min(lo, p[i].V);
  return lo;
}

}  // namespace

// Triangles and sawtooths reach their peaks at every resolution and phase, and between their
// points the straight lines are the played shape itself.
TEST(PreviewShapes, TrianglesAndSawtoothsAreThePlayedShape) {
  for (SuperpositionKind kind : {SuperpositionKind::Triangle, SuperpositionKind::Sawtooth}) {
    for (double minStep : {0.01, 0.001, 1e-9}) {
      for (int phase : {0, 10, 90, 275}) {
        SCOPED_TRACE(testing::Message()
                     << static_cast<int>(kind) << " min step " << minStep << " phase " << phase);
        const SegmentRow seg = Superposed(kind, 10, 10, 2, phase);
        const Polyline p = SegmentPreview(seg, 0, 1, 0, 0, minStep, 10);
        EXPECT_NEAR(MaxOffset(p), 1, 1e-12);
        EXPECT_NEAR(MinOffset(p), -1, 1e-12);
        ExpectOnPlayedSignal(seg, p, 0, 1, 0, 0, 1e-9);
        // Midway between two points the line still meets the played shape (no corner cut).
        const TModifierPtr played = MakeSuperposition(seg.Sup1, 1);
        for (std::size_t i = 1; i + 2 < p.size(); ++i) {
          const double dt = p[i + 1].T - p[i].T;
          if (dt < 1e-9) continue;  // a jump
          const double mid = p[i].T + dt / 2;
          EXPECT_NEAR((p[i].V + p[i + 1].V) / 2, played->GetValue(mid), 1e-9) << mid;
        }
      }
    }
  }
}

// A long segment at a high frequency: more periods than points can draw. The preview stays
// within the peaks and reaches them (no slow wave made of one point every few periods).
TEST(PreviewShapes, DenseOscillationsAreABandNotAnAlias) {
  for (SuperpositionKind kind : {SuperpositionKind::Sine, SuperpositionKind::Triangle,
                                 SuperpositionKind::Sawtooth, SuperpositionKind::Square}) {
    SCOPED_TRACE(static_cast<int>(kind));
    const SegmentRow seg = Superposed(kind, 1e6, 1e6, 2, 30);
    const Polyline p = SegmentPreview(seg, 0, 100, 5, 5, 1e-9, 100);
    EXPECT_LE(p.size(), kMaxPreviewPoints + 2);
    EXPECT_NEAR(MaxOffset(p), 6, 1e-9);
    EXPECT_NEAR(MinOffset(p), 4, 1e-9);
    for (const PreviewPoint& pt : p) EXPECT_LE(std::abs(pt.V - 5), 1 + 1e-9);
  }
}

// A thousand periods of a triangle are more points than the preview draws at their resolution,
// but not more than their vertices: drawn exactly, not as a band.
TEST(PreviewShapes, ManyPeriodsKeepTheirVertices) {
  for (SuperpositionKind kind : {SuperpositionKind::Triangle, SuperpositionKind::Sawtooth}) {
    SCOPED_TRACE(static_cast<int>(kind));
    const SegmentRow seg = Superposed(kind, 2000, 2000, 2, 45);
    const Polyline p = SegmentPreview(seg, 0, 10, 0, 0, 0.000001, 10);
    EXPECT_LE(p.size(), kMaxPreviewPoints + 2);
    EXPECT_GT(p.size(), 20000u * 2);
    ExpectOnPlayedSignal(seg, p, 0, 10, 0, 0, 1e-6);
  }
}

// Sweeps both ways up: the resolution comes from the higher frequency whichever end has it,
// as does the memory check.
TEST(PreviewShapes, SweepsBothWaysUp) {
  EXPECT_EQ(PreviewResolution(10, 1000, 0.00001), 80);
  EXPECT_EQ(PreviewResolution(1000, 10, 0.00001), 80);
  EXPECT_EQ(PreviewResolution(1, 10, 0.01), 10);
  EXPECT_EQ(PreviewResolution(10, 1, 0.01), 10);
  for (SuperpositionKind kind : {SuperpositionKind::Triangle, SuperpositionKind::Sawtooth}) {
    for (auto [f0, f1] : {std::pair{10.0, 1000.0}, std::pair{1000.0, 10.0}}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(kind) << " " << f0 << " -> " << f1);
      const SegmentRow seg = Superposed(kind, f0, f1, 2, 0);
      const Polyline p = SegmentPreview(seg, 0, 0.1, 0, 0, 0.00001, 0.1);
      // Points per period: count the peaks the preview shows.
      int peaks = 0;
      for (std::size_t i = 1; i + 1 < p.size(); ++i) peaks += p[i].V > 1 - 1e-9 ? 1 : 0;
      ASSERT_GT(peaks, 10);
      const double perPeriod = static_cast<double>(p.size()) / peaks;
      EXPECT_GT(perPeriod, 70);  // N = 80: the higher frequency's resolution (not 320 or 40)
      EXPECT_LT(perPeriod, 90);
      ExpectOnPlayedSignal(seg, p, 0, 0.1, 0, 0, 1e-6);
    }
  }
  for (auto [f0, f1] : {std::pair{5.0, 20.0}, std::pair{20.0, 5.0}}) {
    SegmentRow seg = Superposed(SuperpositionKind::Sine, f0, f1, 1, 0);
    EXPECT_EQ(CheckSuperpositions(seg, 0, 10, 1000, 12000).Outcome, CheckOutcome::RefusedFirst);
    seg.Sup1.Kind = SuperpositionKind::Square;  // 4 points per period: 800
    EXPECT_EQ(CheckSuperpositions(seg, 0, 10, 1000, 12000).Outcome, CheckOutcome::Accepted);
  }
}

// Zoomed in, the preview is computed for the span on screen: a 1-2 kHz sine over a 10 ms
// window of a 10 s segment is a sine there, at the resolution of the window.
TEST(PreviewShapes, AZoomedSineIsComputedForTheWindow) {
  const SegmentRow seg = Superposed(SuperpositionKind::Sine, 1000, 2000, 2, 0);
  const Polyline whole = SegmentPreview(seg, 0, 10, 3, 3, 0.001, 10);
  const Polyline zoomed = SegmentPreview(seg, 0, 10, 3, 3, 0.001, 0.01, 4, 4.01);
  EXPECT_DOUBLE_EQ(zoomed.front().T, 0);
  EXPECT_DOUBLE_EQ(zoomed.back().T, 10);
  EXPECT_DOUBLE_EQ(zoomed.back().V, 3);
  std::size_t inside = 0;
  for (const PreviewPoint& pt : zoomed) inside += pt.T >= 4 && pt.T <= 4.01 ? 1 : 0;
  // About 15 periods in the window (1.4-1.4 kHz there): thousands of points, peaks reached.
  EXPECT_GT(inside, 4000u);
  EXPECT_NEAR(MaxOffset(zoomed), 4, 0.01);
  EXPECT_NEAR(MinOffset(zoomed), 2, 0.01);
  ExpectOnPlayedSignal(seg, zoomed, 0, 10, 3, 3, 1e-6);
  // The whole segment at once is too dense to draw: the band between the peaks.
  EXPECT_NEAR(MaxOffset(whole), 4, 1e-9);
  EXPECT_NEAR(MinOffset(whole), 2, 1e-9);
  // A window beyond the segment draws nothing of the superposition.
  EXPECT_EQ(SegmentPreview(seg, 0, 10, 3, 3, 0.001, 0.01, 20, 21).size(), 2u);
}

// The stretches beyond a 20 V maximum, and their wording.
TEST(LimitBreaches, StretchesBeyondTheMaximum) {
  SegmentTable t;
  const double points[][2] = {{0, 10}, {2, 30},  {4, 25}, {6, 10},
                              {8, 19}, {10, 19}, {12, 1}, {14, 1}};
  for (int i = 0; i < 8; ++i) {
    t[i].Time = points[i][0];
    t[i].Value = points[i][1];
  }
  t[4].Sup1 = {SuperpositionKind::Sine, 1, 1, 4, 2, 50, 0};    // 19 V + 2 V: beyond
  t[6].Sup1 = {SuperpositionKind::Square, 1, 1, 4, 4, 50, 0};  // down to -1 V from 1 V
  t.SetLastPointIndex(7);
  const std::vector<LimitBreach> b = FindLimitBreaches(t, 20);
  ASSERT_EQ(b.size(), 5u);
  // 10 -> 30 V crosses 20 V half way.
  EXPECT_EQ(b[0].Segment, 0);
  EXPECT_DOUBLE_EQ(b[0].From, 1);
  EXPECT_DOUBLE_EQ(b[0].To, 2);
  EXPECT_DOUBLE_EQ(b[0].Excess, 10);
  EXPECT_TRUE(b[0].EndAbove && !b[0].StartAbove);
  EXPECT_DOUBLE_EQ(b[1].From, 2);  // 30 -> 25: whole
  EXPECT_DOUBLE_EQ(b[1].To, 4);
  EXPECT_DOUBLE_EQ(b[2].From, 4);  // 25 -> 10 V leaves it at a third
  EXPECT_NEAR(b[2].To, 4 + 2.0 / 3, 1e-12);
  EXPECT_TRUE(b[3].Superposed && b[3].Above);
  EXPECT_DOUBLE_EQ(b[3].Excess, 1);
  EXPECT_FALSE(b[4].Above);
  EXPECT_DOUBLE_EQ(b[4].Limit, 0);
  EXPECT_DOUBLE_EQ(b[4].Excess, 1);
  EXPECT_EQ(LimitBreachText(b[0], Quantity::Voltage),
            "voltage above 20 V by up to 10 V from 1 s to 2 s");
  EXPECT_EQ(LimitBreachText(b[4], Quantity::Current),
            "current below 0 A by up to 1 A from 12 s to 14 s");
  // Exactly at the limit is no breach: only the square's trough is left.
  EXPECT_EQ(FindLimitBreaches(t, 30).size(), 1u);
}
