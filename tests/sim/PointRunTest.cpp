// The run's clock against an independent model: the point in force at any instant follows from
// the time spent playing alone, whatever the pauses and however often the run is looked at.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sim/PointRun.h"

namespace ondrevo::sim {
namespace {

struct TBegin {
  double Time;
  int Index;
};

// Plays `dwells` `count` times (0: endless) in the intervals [on, off) of real time.
struct TModel {
  std::vector<double> dwells;
  int count = 1;
  std::vector<std::pair<double, double>> intervals;  // off may be +inf

  double Period() const {
    double p = 0;
    for (double d : dwells) p += d;
    return p;
  }
  // The real instant the run's own time reaches v.
  double RealTime(double v) const {
    double spent = 0;
    for (auto [on, off] : intervals) {
      if (v - spent <= off - on) return on + (v - spent);
      spent += off - on;
    }
    return INFINITY;
  }
  // Every point begun by `until`, and the end of the run if it falls before.
  std::vector<TBegin> Begins(double until, double& end) const {
    std::vector<TBegin> out;
    end = -1;
    const double period = Period();
    for (long long r = 0;; ++r) {
      if (count > 0 && r == count) {
        const double at = RealTime(period * static_cast<double>(count));
        if (at <= until) end = at;
        return out;
      }
      double v = period * static_cast<double>(r);
      for (std::size_t k = 0; k < dwells.size(); ++k) {
        const double at = RealTime(v);
        if (at > until) return out;
        out.push_back({at, static_cast<int>(k)});
        v += dwells[k];
      }
    }
  }
};

TEST(PointRun, RandomPausesAndLooksMatchTheModel) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> dwell(0.01, 1.0), gap(0.0, 0.8), unit(0, 1);
    TModel model;
    const int n = 1 + static_cast<int>(random() % 6);
    std::vector<TRunPoint> points;
    for (int k = 0; k < n; ++k) {
      model.dwells.push_back(dwell(random));
      points.push_back({static_cast<double>(k), 0, model.dwells.back()});
    }
    model.count = static_cast<int>(random() % 4);  // 0: endless
    double now = gap(random);
    TPointRun run;
    std::vector<TBegin> begun;
    double ended = -1;
    run.Start(points, model.count, now);
    model.intervals.push_back({now, INFINITY});
    auto look = [&](double t) {
      const double end = run.Advance(t, [&](double at, int index, const TRunPoint& p) {
        EXPECT_EQ(p.Voltage, index);
        begun.push_back({at, index});
      });
      if (end >= 0) ended = end;
    };
    for (int step = 0; step < 25; ++step) {
      now += gap(random);
      look(now);
      const double u = unit(random);
      if (u < 0.2 && run.Phase() == TPointRun::TPhase::Playing) {
        run.Pause(now);
        model.intervals.back().second = now;
      } else if (u < 0.4 && run.Phase() == TPointRun::TPhase::Paused) {
        run.Resume(now);
        model.intervals.push_back({now, INFINITY});
      }
    }
    look(now);
    double modelEnd = -1;
    const auto expected = model.Begins(now, modelEnd);
    ASSERT_EQ(begun.size(), expected.size());
    for (std::size_t k = 0; k < begun.size(); ++k) {
      EXPECT_EQ(begun[k].Index, expected[k].Index) << k;
      EXPECT_NEAR(begun[k].Time, expected[k].Time, 1e-9) << k;
    }
    EXPECT_NEAR(ended, modelEnd, 1e-9);
    EXPECT_EQ(run.Phase() == TPointRun::TPhase::Ended, modelEnd >= 0);
    if (!expected.empty()) EXPECT_EQ(run.Index(), expected.back().Index);
  }
}

TEST(PointRun, ACountLoweredDuringARunEndsItWithItsRepetition) {
  TPointRun run;
  run.Start({{1, 0, 1.0}, {2, 0, 1.0}}, 0, 10);
  std::vector<double> times;
  auto note = [&](double at, int, const TRunPoint&) { times.push_back(at); };
  EXPECT_LT(run.Advance(14.5, note), 0);  // third repetition, first point
  run.SetCount(1);
  EXPECT_EQ(run.Advance(20, note), 16);
  EXPECT_EQ(times, (std::vector<double>{10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(run.Phase(), TPointRun::TPhase::Ended);
  EXPECT_EQ(run.Index(), 1);
}

}  // namespace
}  // namespace ondrevo::sim
