// The samplers' block loops against evaluating the modifier trees one sample at a time: the
// outputs must agree to the last bit, errors included.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "document/Numbers.h"
#include "model/BlockScan.h"
#include "model/Samplers.h"

namespace ondrevo {
namespace {

TModifierPtr C(double v) {
  return std::make_unique<TConstantModifier>(v);
}

// Evaluates its tree at every call: without a closed form the samplers take their per-sample
// loops.
class TreeSegment final : public TSegment {
 public:
  using TSegment::TSegment;
  double GetValue(double t) const override {
    return Modifier ? Modifier->GetValue(t - Start) : 0.0;
  }
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  // Empty vectors may hold no storage at all: memcmp must not see their null pointers.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// Halves, values right beside them, and arbitrary ones.
double Number(std::mt19937& rng, double scale) {
  std::uniform_real_distribution<double> u(0, 1);
  const double half = std::round(u(rng) * 4 * scale) / 2;
  switch (rng() % 3) {
    case 0:
      return half;
    case 1:
      return std::nextafter(half, rng() % 2 ? 1e300 : -1e300);
    default:
      return u(rng) * scale;
  }
}

// Durations on whole and half grid steps, zero, or arbitrary; `stretch` times longer.
double Duration(std::mt19937& rng, double stretch) {
  switch (rng() % 4) {
    case 0:
      return 0.0;
    case 1:
      return static_cast<double>(rng() % 800) * 0.000025 * stretch;
    case 2:
      return static_cast<double>(rng() % 40) * 0.0005 * stretch;
    default:
      return std::uniform_real_distribution<double>(0, 0.02)(rng) * stretch;
  }
}

// The same random document for every Segment type given the same seed: levels, ramps, sines
// and sweeps of both, two sines, the other periodic kinds, absent parts, and now and then a
// value that is not finite.
template <class Segment>
std::unique_ptr<TWaveform> RandomWaveform(std::uint32_t seed, double stretch = 1) {
  std::mt19937 rng(seed);
  auto linear = [&](double scale) -> TModifierPtr {
    const double c = Number(rng, scale);
    if (rng() % 2) return C(c);
    return std::make_unique<TAddModifier>(
        C(c), std::make_unique<TGradientModifier>(C(Number(rng, scale) - scale / 2)));
  };
  auto sine = [&]() -> TModifierPtr {
    return std::make_unique<TSineModifier>(linear(2), linear(3000), C(Number(rng, 6)));
  };
  auto periodic = [&]() -> TModifierPtr {
    switch (rng() % 4) {
      case 0:
        return sine();
      case 1:
        return std::make_unique<TSquareModifier>(linear(2), linear(800), C(Number(rng, 6)),
                                                 rng() % 2 ? C(0.25) : nullptr);
      case 2:
        return std::make_unique<TTriangleModifier>(linear(2), linear(800), C(Number(rng, 6)));
      default:
        return std::make_unique<TSawtoothModifier>(linear(2), linear(800), C(Number(rng, 6)));
    }
  };
  auto w = std::make_unique<TWaveform>();
  double start = 0;
  const int n = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < n; ++i) {
    const double duration = Duration(rng, stretch);
    TModifierPtr m;
    switch (rng() % 9) {
      case 0:
        m = linear(10);
        break;
      case 1:
      case 2:
        m = std::make_unique<TAddModifier>(linear(10), sine());
        break;
      case 3:
        m = std::make_unique<TAddModifier>(linear(10),
                                           std::make_unique<TAddModifier>(sine(), sine()));
        break;
      case 4:
        m = std::make_unique<TAddModifier>(linear(10), nullptr);
        break;
      case 5:
        m = std::make_unique<TAddModifier>(linear(10), periodic());
        break;
      case 6:
        m = nullptr;
        break;
      case 7:
        m = std::make_unique<TGradientModifier>(nullptr);
        break;
      default: {
        const double bad = rng() % 2 ? std::numeric_limits<double>::quiet_NaN()
                                     : std::numeric_limits<double>::infinity();
        m = rng() % 4 ? linear(10) : std::make_unique<TAddModifier>(C(bad), sine());
        break;
      }
    }
    w->Append(std::make_unique<Segment>(std::move(m), start, duration));
    start += duration;
  }
  w->MinValue = rng() % 2 ? -1.5 : 0.0;
  w->MaxValue = rng() % 2 ? 12.0 : 6.5;
  w->Resolution = 0.001;
  return w;
}

TEST(BlockSampling, ClosedFormBlocksMatchTheTree) {
  std::mt19937 rng(11);
  int checked = 0;
  for (std::uint32_t seed = 0; seed < 400; ++seed) {
    auto w = RandomWaveform<TSegment>(seed);
    for (const TContainer* node = w->First(); node; node = node->Next) {
      const TSegment& s = *node->Item;
      TSegment::ClosedForm form;
      if (!s.GetClosedForm(form)) continue;
      // Times across the segment and just outside it, on grid boundaries and in between; more
      // than a block so that blocks join.
      std::vector<double> times(1 + rng() % 300);
      for (double& t : times) {
        const double r = std::uniform_real_distribution<double>(-0.1, 1.1)(rng);
        t = rng() % 2 ? s.Start + r * s.Duration : std::round((s.Start + r * 0.02) * 40000) / 40000;
      }
      std::vector<double> block(times.size()), single(times.size());
      form.Values(times.data(), block.data(), times.size());
      for (std::size_t j = 0; j < times.size(); ++j)
        single[j] = s.Modifier->GetValue(times[j] - s.Start);
      ASSERT_TRUE(SameBits(block, single)) << seed;
      ++checked;
    }
  }
  EXPECT_GT(checked, 300);
}

TEST(BlockSampling, CursorBlocksMatchSingleSamples) {
  std::mt19937 rng(5);
  int heldBlocks = 0;
  for (std::uint32_t seed = 0; seed < 400; ++seed) {
    auto blocks = RandomWaveform<TSegment>(seed);
    auto single = RandomWaveform<TreeSegment>(seed);
    const std::uint32_t step = 1 + rng() % 4;
    const double start = rng() % 2 ? 0.0000001 : (rng() % 40) * 0.000025;
    blocks->StartSampling(step, 20000, start);
    single->StartSampling(step, 20000, start);
    std::vector<double> a, b;
    while (a.size() < 2000) {
      std::vector<double> part(1 + rng() % 400);
      bool held = false;
      blocks->NextSamples(part.data(), part.size(), &held);
      if (held) {  // one value for the whole block, to the bit
        ASSERT_TRUE(SameBits(part, std::vector<double>(part.size(), part[0]))) << seed;
      }
      heldBlocks += held;
      a.insert(a.end(), part.begin(), part.end());
      std::uint64_t index = 0;
      for (std::size_t j = 0; j < part.size(); ++j) b.push_back(single->NextSample(index));
      ASSERT_EQ(blocks->SampleIndex(), single->SampleIndex()) << seed;
      ASSERT_EQ(blocks->CursorMovedOnLastSample(), single->CursorMovedOnLastSample()) << seed;
    }
    ASSERT_TRUE(SameBits(a, b)) << seed;
  }
  EXPECT_GT(heldBlocks, 100);
}

// Blocks that report their held stretches and end early at long held levels: the samples and
// the cursor as one sample at a time gives them, each stretch one value to the bit, and an early
// end only where asked for.
TEST(BlockSampling, HeldStretchesAndEarlyEndsMatchSingleSamples) {
  std::mt19937 rng(9);
  int stretches = 0, early = 0;
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    auto blocks = RandomWaveform<TSegment>(seed, seed % 2 ? 1 : 20);
    auto single = RandomWaveform<TreeSegment>(seed, seed % 2 ? 1 : 20);
    const std::uint32_t step = 1 + rng() % 4;
    blocks->StartSampling(step, 20000, 0.0000001);
    single->StartSampling(step, 20000, 0.0000001);
    std::vector<double> a, b;
    while (a.size() < 3000) {
      const std::size_t n = 1 + rng() % 300, minRun = rng() % 2 ? 0 : 1 + rng() % 80;
      std::vector<double> part(n);
      std::vector<TWaveform::HeldRun> runs(n);
      std::size_t runCount = 0;
      bool held = false;
      const std::size_t got =
          blocks->NextBlock(part.data(), n, &held, runs.data(), runCount, minRun);
      ASSERT_TRUE(got == n || (minRun > 0 && got >= 3 && got < n)) << seed;
      early += got < n;
      part.resize(got);
      if (held) ASSERT_TRUE(SameBits(part, std::vector<double>(got, part[0]))) << seed;
      for (std::size_t r = 0; r < runCount; ++r) {
        ASSERT_TRUE(runs[r].Begin + 2 <= runs[r].End && runs[r].End <= got) << seed;
        ASSERT_TRUE(r == 0 || runs[r - 1].End <= runs[r].Begin) << seed;
        for (std::size_t j = runs[r].Begin; j < runs[r].End; ++j)
          ASSERT_EQ(std::memcmp(&part[j], &part[runs[r].Begin], sizeof(double)), 0) << seed;
      }
      stretches += static_cast<int>(runCount);
      a.insert(a.end(), part.begin(), part.end());
      std::uint64_t index = 0;
      for (std::size_t j = 0; j < got; ++j) b.push_back(single->NextSample(index));
      ASSERT_EQ(blocks->SampleIndex(), single->SampleIndex()) << seed;
      ASSERT_EQ(blocks->CursorMovedOnLastSample(), single->CursorMovedOnLastSample()) << seed;
    }
    ASSERT_TRUE(SameBits(a, b)) << seed;
  }
  EXPECT_GT(stretches, 1000);
  EXPECT_GT(early, 100);
}

// A sine segment ending at `end`, then a level.
template <class Segment>
std::unique_ptr<TWaveform> SineThenLevel(double end) {
  auto w = std::make_unique<TWaveform>();
  auto sine = std::make_unique<TSineModifier>(C(1.5), C(950), C(0.5));
  w->Append(
      std::make_unique<Segment>(std::make_unique<TAddModifier>(C(2), std::move(sine)), 0.0, end));
  w->Append(std::make_unique<Segment>(C(-3), end, 0.5));
  return w;
}

TEST(BlockSampling, SegmentEndsOnBlockBoundaries) {
  // A segment that ends right at, before or after the last sample of one of the cursor's blocks.
  constexpr std::size_t kBlock = TSegment::ClosedForm::kBlock;
  for (std::uint32_t step = 1; step <= 3; ++step)
    for (int d = -2; d <= 2; ++d)
      for (std::size_t block : {kBlock, 2 * kBlock}) {
        const double end = static_cast<double>(static_cast<int>(block * step) + d) / 20000;
        auto blocks = SineThenLevel<TSegment>(end);
        auto single = SineThenLevel<TreeSegment>(end);
        blocks->StartSampling(step, 20000, 0.0000001);
        single->StartSampling(step, 20000, 0.0000001);
        std::vector<double> a(3 * kBlock), b;
        blocks->NextSamples(a.data(), a.size());
        std::uint64_t index = 0;
        for (std::size_t j = 0; j < a.size(); ++j) b.push_back(single->NextSample(index));
        ASSERT_TRUE(SameBits(a, b)) << step << " " << d << " " << block;
      }
}

// The scans a few values at a time against their plain definitions, on values that tie with
// the bounds exactly (steps of 1/8 against an epsilon of 1/4 and a tolerance of 1/2), signed
// zeros and values that are not finite.
TEST(BlockSampling, ScansMatchTheirPlainDefinitions) {
  std::mt19937 rng(17);
  const double odd[] = {0.0,
                        -0.0,
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN(),
                        2.0000000000000004};
  for (int round = 0; round < 20000; ++round) {
    std::vector<double> v(1 + rng() % 40);
    const bool few = rng() % 2;  // mostly one value, for the uniform case
    for (double& x : v)
      x = rng() % 50 == 0 ? odd[rng() % 6] : (few && rng() % 8 ? v[0] : (rng() % 17) / 8.0);
    const std::size_t n = v.size();
    const double lo = (rng() % 9) / 8.0, hi = lo + (rng() % 9) / 8.0;
    bool inside = true, uniform = true;
    for (double x : v) {
      inside = inside && lo <= x && x <= hi;
      uniform = uniform && std::memcmp(&x, &v[0], sizeof x) == 0;
    }
    const BlockShape shape = ShapeOf(v.data(), n, lo, hi);
    ASSERT_EQ(shape.inside, inside) << round;
    ASSERT_EQ(shape.uniform, uniform) << round;
    ASSERT_EQ(AllFinite(v.data(), n),
              std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); }))
        << round;

    for (double& x : v)  // the run scan sees finite values only
      if (!std::isfinite(x)) x = 1.0;
    const std::size_t from = 1 + rng() % n, to = from + rng() % (n - from + 1);
    const double level = (rng() % 17) / 8.0;
    std::size_t end = from;
    while (end < to && std::fabs(v[end] - v[end - 1]) > 0.25 &&
           std::fabs(level - v[end - 1]) <= 0.5)
      ++end;
    ASSERT_EQ(MergingRunEnd(v.data(), from, to, level, 0.5, 0.25), end) << round;
  }
}

// Outcome of filling buffers: the values, then the sampler's state, or the error.
struct FillResult {
  std::vector<double> values;
  std::string error;
};

FillResult FillSome(TWaveform& w, std::uint32_t seed) {
  std::mt19937 rng(seed);
  TEquidistantSampler s;
  s.Waveform = &w;
  s.Gain = rng() % 3 ? 1.0 : 0.5 + (rng() % 3);
  FillResult r;
  try {
    // Intervals on halves of the grid (samples meet segment ends exactly) and uneven ones.
    const double interval = rng() % 2 ? 0.000025 * (1 + rng() % 8) : 0.0000137 * (1 + rng() % 5);
    s.Start(static_cast<std::int32_t>(rng() % 3), static_cast<std::int32_t>(rng() % 2), interval);
    for (int fill = 0; fill < 4; ++fill) {
      TDoubleVector buffer(1 + rng() % 700, -7.0);
      std::uint32_t restarts = 0;
      TIntegerVector positions;
      s.Fill(buffer, restarts, positions);
      r.values.insert(r.values.end(), buffer.begin(), buffer.end());
      r.values.push_back(restarts);
      for (std::int32_t p : positions) r.values.push_back(p);
      r.values.push_back(s.Time);
      r.values.push_back(s.Position);
    }
  } catch (const ESamplerError& e) {
    r.error = e.what();
  }
  return r;
}

TEST(BlockSampling, EquidistantFillMatchesTree) {
  int errors = 0;
  for (std::uint32_t seed = 0; seed < 400; ++seed) {
    auto blocks = RandomWaveform<TSegment>(seed);
    auto single = RandomWaveform<TreeSegment>(seed);
    const FillResult a = FillSome(*blocks, seed);
    const FillResult b = FillSome(*single, seed);
    ASSERT_EQ(a.error, b.error) << seed;
    ASSERT_TRUE(SameBits(a.values, b.values)) << seed;
    errors += !a.error.empty();
  }
  EXPECT_GT(errors, 0);  // the values that are not finite were met
}

struct CountResult {
  TDoubleVector durations;
  TDoubleMatrix values;
  std::string error;
};

CountResult CountSample(TWaveform& v, TWaveform& c, double gain) {
  TCountSampler s;
  s.MinDwellTime = 0.0002;
  s.MaxDwellTime = 0.01;
  s.Gain = gain;
  s.Waveforms = {&v, &c};
  CountResult r;
  try {
    s.Execute(200, r.durations, r.values);
  } catch (const ESamplerError& e) {
    r.error = e.what();
  }
  return r;
}

TEST(BlockSampling, CountSamplerMatchesTree) {
  int sampled = 0;
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    auto v = RandomWaveform<TSegment>(seed);
    auto c = RandomWaveform<TSegment>(seed + 1000);
    auto treeV = RandomWaveform<TreeSegment>(seed);
    auto treeC = RandomWaveform<TreeSegment>(seed + 1000);
    const double gain = seed % 3 ? 1.0 : 1.5;
    const CountResult a = CountSample(*v, *c, gain);
    const CountResult b = CountSample(*treeV, *treeC, gain);
    ASSERT_EQ(a.error, b.error) << seed;
    ASSERT_TRUE(SameBits(a.durations, b.durations)) << seed;
    ASSERT_EQ(a.values.size(), b.values.size()) << seed;
    for (std::size_t w = 0; w < a.values.size(); ++w)
      ASSERT_TRUE(SameBits(a.values[w], b.values[w])) << seed;
    sampled += a.error.empty();
  }
  EXPECT_GT(sampled, 100);
}

// The count sampler said as plainly as possible: one sample at a time into a list of points, and
// every reduction a pass over the whole list. The sampler's blocks, skips and fused passes must
// give the very same list, errors included.
class CountModel {
 public:
  struct Settings {
    double minDwell, maxDwell, gain;
    std::int32_t maxPoints;
  };

  CountModel(std::vector<TWaveform*> waves, Settings s) : waves_(std::move(waves)), s_(s) {}

  CountResult Run() {
    CountResult r;
    try {
      Sample();
      MinimumDwell();
      Reduce(s_.maxPoints);
      Output(r);
    } catch (const ESamplerError& e) {
      r.error = e.what();
    }
    return r;
  }

  static std::int64_t GridSteps(double s) {
    return static_cast<std::int64_t>(RoundHalfEven(20000.0 * s));
  }

 private:
  static constexpr std::size_t kMaxWidth = 3;
  using Values = std::array<double, kMaxWidth>;
  struct Point {
    std::int64_t index;
    bool constant;
    Values v;
  };

  Values Next(std::int64_t& k) {
    Values v{};
    for (std::size_t w = 0; w < waves_.size(); ++w) {
      std::uint64_t index = 0;
      double x = waves_[w]->NextSample(index);
      if (s_.gain != 1.0) x *= s_.gain;
      k = static_cast<std::int64_t>(index);
      if (!std::isfinite(x))
        throw ESamplerError("Waveform " + std::to_string(w + 1) + " has no finite value at " +
                            FormatGeneral(static_cast<double>(k) / 20000 + kSamplerEpsilon) +
                            " s.");
      const TWaveform& wave = *waves_[w];
      if (x > wave.MaxValue + kSamplerEpsilon)
        x = wave.MaxValue;
      else if (x < wave.MinValue - kSamplerEpsilon)
        x = wave.MinValue;
      v[w] = x;
    }
    return v;
  }

  void Sample() {
    minStep_ = GridSteps(s_.minDwell);
    maxStep_ = GridSteps(s_.maxDwell);
    for (TWaveform* w : waves_) total_ = std::max(total_, GridSteps(w->GetDuration()));
    for (TWaveform* w : waves_)
      w->StartSampling(static_cast<std::uint32_t>(minStep_ / 2), 20000, kSamplerEpsilon);
    std::int64_t k = 0;
    Values v = Next(k);
    points_.push_back({k, true, v});
    const std::size_t capacity = 10 * static_cast<std::size_t>(s_.maxPoints);
    bool done = false;
    while (!done) {
      while (points_.size() < capacity) {
        v = Next(k);
        if (total_ <= k) break;
        Point& last = points_.back();
        bool same = k - last.index < maxStep_;
        for (std::size_t w = 0; w < waves_.size(); ++w)
          same = same && std::fabs(v[w] - last.v[w]) <= kSamplerEpsilon;
        if (same)
          last.constant = true;
        else
          points_.push_back({k, false, v});
      }
      done = points_.size() < capacity;
      Reduce(2 * static_cast<std::int64_t>(s_.maxPoints));
    }
  }

  // One pass: a point joins the last one kept when neither holds a level of its own, the span
  // stays within the maximum dwell and every value is within the tolerance.
  std::vector<Point> Pass(const Values& tolerance) const {
    std::vector<Point> kept{points_[0]};
    kept.reserve(points_.size());
    for (std::size_t r = 1; r < points_.size(); ++r) {
      const std::int64_t next = r + 1 < points_.size() ? points_[r + 1].index : total_;
      bool merge = !points_[r].constant && next - kept.back().index <= maxStep_;
      for (std::size_t w = 0; w < waves_.size(); ++w)
        merge = merge && std::fabs(kept.back().v[w] - points_[r].v[w]) <= tolerance[w];
      if (!merge) kept.push_back(points_[r]);
    }
    return kept;
  }

  void Reduce(std::int64_t target) {
    for (;;) {
      Values t{};
      for (std::size_t w = 0; w < waves_.size(); ++w) t[w] = tol_[w] - kSamplerEpsilon;
      points_ = Pass(t);
      if (static_cast<std::int64_t>(points_.size()) <= target) return;
      const std::string cannot =
          "The waveform cannot be reduced to " + std::to_string(s_.maxPoints) + " points.";
      Values any;
      any.fill(std::numeric_limits<double>::infinity());
      if (static_cast<std::int64_t>(Pass(any).size()) > target) throw ESamplerError(cannot);
      bool grows = false;
      for (std::size_t w = 0; w < waves_.size(); ++w) {
        double lo = points_[0].v[w], hi = lo;
        for (const Point& p : points_) lo = std::min(lo, p.v[w]), hi = std::max(hi, p.v[w]);
        const double res = waves_[w]->Resolution;
        grows = grows || (res > 0 && std::isfinite(res) && tol_[w] - kSamplerEpsilon < hi - lo);
      }
      if (!grows) throw ESamplerError(cannot);
      for (std::size_t w = 0; w < waves_.size(); ++w) tol_[w] += waves_[w]->Resolution;
    }
  }

  void MinimumDwell() {
    std::vector<Point> out{points_[0]};
    for (std::size_t r = 1; r < points_.size(); ++r) {
      Point& prev = out.back();
      const Point& cur = points_[r];
      const std::int64_t next = r + 1 < points_.size() ? points_[r + 1].index : total_;
      Point moved = cur;
      moved.index = prev.index + minStep_;
      if (cur.index - prev.index >= minStep_) {
        out.push_back(cur);
      } else if (cur.constant && prev.constant) {
        if (next - prev.index < maxStep_) {
          const std::int64_t at = prev.index;
          prev = cur;
          prev.index = at;
        } else {
          out.push_back(moved);
        }
      } else if (cur.constant) {
        const std::int64_t before = out.size() >= 2 ? prev.index - out[out.size() - 2].index : 0;
        if (before >= maxStep_) {
          prev.index = cur.index - minStep_;
          out.push_back(cur);
        } else {
          prev = cur;
        }
      } else if (next - prev.index >= maxStep_) {
        out.push_back(moved);
      }
    }
    points_ = out;
  }

  void Output(CountResult& r) const {
    for (std::size_t j = 0; j < points_.size(); ++j) {
      const std::int64_t next = j + 1 < points_.size() ? points_[j + 1].index : total_;
      r.durations.push_back(static_cast<double>(next - points_[j].index) / 20000);
    }
    std::size_t n = r.durations.size();
    if (n >= 2 && r.durations[n - 1] < s_.minDwell - kSamplerEpsilon) {
      if (r.durations[n - 2] < s_.maxDwell - kSamplerEpsilon) {
        r.durations[n - 2] += r.durations[n - 1];
        r.durations.pop_back();
        --n;
      } else {
        r.durations[n - 2] = s_.maxDwell - s_.minDwell / 2.0;
        r.durations[n - 1] = s_.minDwell;
      }
    }
    for (double d : r.durations)
      if (!(d > 0.0) || !std::isfinite(d)) {
        r.durations.clear();
        throw ESamplerError("The dwell times cannot be arranged for this waveform.");
      }
    r.values.assign(waves_.size(), {});
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t w = 0; w < waves_.size(); ++w) r.values[w].push_back(points_[j].v[w]);
  }

  std::vector<TWaveform*> waves_;
  Settings s_;
  std::vector<Point> points_;
  Values tol_{};
  std::int64_t minStep_ = 0, maxStep_ = 0, total_ = 0;
};

CountResult Execute(const std::vector<TWaveform*>& waves, CountModel::Settings s, bool skip) {
  TCountSampler sampler;
  sampler.MinDwellTime = s.minDwell;
  sampler.MaxDwellTime = s.maxDwell;
  sampler.Gain = s.gain;
  sampler.Waveforms = waves;
  sampler.SkipHeldLevels = skip;
  CountResult r;
  try {
    sampler.Execute(s.maxPoints, r.durations, r.values);
  } catch (const ESamplerError& e) {
    r.error = e.what();
  }
  return r;
}

void ExpectSame(const CountResult& a, const CountResult& b, const std::string& what) {
  ASSERT_EQ(a.error, b.error) << what;
  if (!a.error.empty()) return;
  ASSERT_TRUE(SameBits(a.durations, b.durations)) << what;
  ASSERT_EQ(a.values.size(), b.values.size()) << what;
  for (std::size_t w = 0; w < a.values.size(); ++w)
    ASSERT_TRUE(SameBits(a.values[w], b.values[w])) << what;
}

// The plain model's answer, with the sampler's checked against it with and without passing over
// held levels; nothing for curves shorter than one point (the one-point answer). total: the
// grid steps of the longest curve.
std::optional<CountResult> CheckAgainstModel(const std::vector<TWaveform*>& waves,
                                             const CountModel::Settings& s, std::uint32_t seed,
                                             std::int64_t& total) {
  total = 0;
  for (TWaveform* w : waves) total = std::max(total, CountModel::GridSteps(w->GetDuration()));
  if (total < CountModel::GridSteps(s.minDwell)) return std::nullopt;
  CountResult expected = CountModel(waves, s).Run();
  const std::string what = "seed " + std::to_string(seed);
  ExpectSame(Execute(waves, s, true), expected, what);
  ExpectSame(Execute(waves, s, false), expected, what + " without skips");
  return expected;
}

TEST(BlockSampling, CountSamplerMatchesThePlainModel) {
  std::mt19937 rng(7);
  const double minDwells[] = {0.0001, 0.0002, 0.0005, 0.01};
  const double maxDwells[] = {0.0, 0.003, 0.05, 100};  // 0: the minimum itself
  const std::int32_t budgets[] = {1, 3, 8, 40, 300};
  const double stretches[] = {1, 1, 10, 40};
  int sampled = 0, reduced = 0, failed = 0;
  for (std::uint32_t seed = 0; seed < 400; ++seed) {
    const double stretch = stretches[seed % 4];
    std::vector<std::unique_ptr<TWaveform>> owned;
    std::vector<TWaveform*> waves;
    const std::size_t width = rng() % 5 ? 2 : 1 + rng() % 3;
    for (std::size_t w = 0; w < width; ++w) {
      owned.push_back(
          RandomWaveform<TSegment>(seed + 1000 * static_cast<std::uint32_t>(w), stretch));
      owned.back()->Resolution = rng() % 4 ? 0.01 * (1 + rng() % 5) : 0.001;
      waves.push_back(owned.back().get());
    }
    CountModel::Settings s{};
    s.minDwell = minDwells[rng() % 4];
    const double maxDwell = maxDwells[rng() % 4];
    s.maxDwell = std::max(s.minDwell, maxDwell);
    s.gain = rng() % 3 ? 1.0 : 1.5;
    s.maxPoints = budgets[rng() % 5];
    std::int64_t total = 0;
    const std::optional<CountResult> checked = CheckAgainstModel(waves, s, seed, total);
    if (!checked) continue;
    const CountResult& expected = *checked;
    sampled += expected.error.empty();
    reduced += expected.error.empty() && static_cast<std::int64_t>(expected.durations.size()) <
                                             total / CountModel::GridSteps(s.minDwell);
    failed += !expected.error.empty();
  }
  EXPECT_GT(sampled, 100);
  EXPECT_GT(reduced, 50);
  EXPECT_GT(failed, 20);
}

// Long curves against small budgets: many buffers filled and reduced, the tolerance raised
// between them, points held across the buffers' ends, and curves that end while one waveform
// varies (steep ramps raise the tolerance, shallow ones then merge sample after sample).
TEST(BlockSampling, CountSamplerMatchesThePlainModelOnLongCurves) {
  std::mt19937 rng(3);
  for (int run = 0; run < 40; ++run) {
    auto v = std::make_unique<TWaveform>();
    double start = 0;
    const int pieces = 2 + static_cast<int>(rng() % 3);
    for (int piece = 0; piece < pieces; ++piece) {
      const double duration = (rng() % 2 ? 0.0101 : 0.25) * (1 + rng() % 8);
      auto ramp = [&](double slope) {
        return std::make_unique<TAddModifier>(C(4), std::make_unique<TGradientModifier>(C(slope)));
      };
      TModifierPtr m;
      switch (rng() % 4) {
        case 0:
          m = std::make_unique<TAddModifier>(
              C(5), std::make_unique<TSineModifier>(C(1 + (rng() % 4) * 0.5), C(50 + rng() % 900),
                                                    C(0.25)));
          break;
        case 1:
          m = C(2 + rng() % 4);
          break;
        case 2:
          m = ramp(rng() % 2 ? 300 : -300);
          break;
        default:
          m = ramp(0.03);
          break;
      }
      v->Append(std::make_unique<TSegment>(std::move(m), start, duration));
      start += duration;
    }
    v->MinValue = 0, v->MaxValue = rng() % 2 ? 20 : 6, v->Resolution = 0.002;
    auto c = std::make_unique<TWaveform>();
    c->Append(std::make_unique<TSegment>(C(2), 0.0, start * 0.6));
    c->MinValue = 0, c->MaxValue = 8, c->Resolution = 0.001;
    const std::vector<TWaveform*> waves{v.get(), c.get()};
    CountModel::Settings s{};
    s.minDwell = run % 3 ? 0.0002 : 0.0001;
    const double maxDwells[] = {100, 0.4, 2.5 * s.minDwell};  // the last: five sample steps
    s.maxDwell = maxDwells[run % 3];
    s.gain = 1;
    s.maxPoints = 3 + 40 * static_cast<std::int32_t>(rng() % 3);
    ExpectSame(Execute(waves, s, true), CountModel(waves, s).Run(), std::to_string(run));
  }
  // A steep ramp raises the tolerance, then a shallow one merges sample after sample up to the
  // end, which falls on every phase of the MaxStep split (100 sample steps).
  for (int phase = 0; phase < 110; ++phase) {
    auto ramp = [](double from, double slope) {
      return std::make_unique<TAddModifier>(C(from), std::make_unique<TGradientModifier>(C(slope)));
    };
    auto v = std::make_unique<TWaveform>();
    v->Append(std::make_unique<TSegment>(ramp(0, 300), 0.0, 0.02));
    v->Append(std::make_unique<TSegment>(ramp(6, 0.03), 0.02, 0.2 + phase * 0.0001));
    v->MinValue = 0, v->MaxValue = 20, v->Resolution = 0.01;
    TWaveform c;
    c.MinValue = 0, c.MaxValue = 1, c.Resolution = 0.001;
    const std::vector<TWaveform*> waves{v.get(), &c};
    const CountModel::Settings s{0.0002, phase < 100 ? 0.01 : 100, 1, 40};
    const CountResult expected = CountModel(waves, s).Run();
    ASSERT_EQ(expected.error, "");
    ExpectSame(Execute(waves, s, true), expected, "phase " + std::to_string(phase));
  }
}

// Staircases as documents make them: held levels with zero-length steps between them, levels
// from a fraction of a sample period to several blocks and beyond the maximum dwell, repeated
// values, ramps and sines between, values beyond the limits and levels that are not numbers;
// the second waveform on the same or on its own times. The sampler passes over held levels
// without evaluating them and must give the plain model's list and errors.
std::unique_ptr<TWaveform> RandomStaircase(std::mt19937& rng, double period, bool badLevels) {
  auto w = std::make_unique<TWaveform>();
  auto pick = [&](std::initializer_list<double> xs) { return xs.begin()[rng() % xs.size()]; };
  double start = 0, value = 2;
  const int pieces = 1 + static_cast<int>(rng() % 40);
  for (int i = 0; i < pieces; ++i) {
    // Samples the piece lasts: below one, a few, up to a block (256) and beyond it.
    const double samples = pick({0.3, 1, 2.5, 7, 31, 33, 90, 255, 257, 700});
    const double duration =
        rng() % 3 ? samples * period : samples * period * (0.9 + 0.2 * (rng() % 100) / 100.0);
    TModifierPtr m;
    switch (rng() % 10) {
      case 0:
        m = std::make_unique<TAddModifier>(C(value),
                                           std::make_unique<TGradientModifier>(C(1 / duration)));
        break;
      case 1:
        m = std::make_unique<TAddModifier>(
            C(value), std::make_unique<TSineModifier>(C(0.5), C(0.3 / period), C(0.1)));
        break;
      case 2:
        m = nullptr;  // an absent level: zero
        break;
      case 3:
        m = C(badLevels && rng() % 4 == 0 ? std::numeric_limits<double>::quiet_NaN() : 30);
        break;
      default:
        if (rng() % 3) value = Number(rng, 8);  // else the level before repeats
        m = C(value);
        break;
    }
    w->Append(std::make_unique<TSegment>(std::move(m), start, duration));
    start += duration;
    if (rng() % 2) w->Append(std::make_unique<TSegment>(C(Number(rng, 8)), start, 0.0));
  }
  w->MinValue = rng() % 2 ? 0.0 : 1.0;
  w->MaxValue = rng() % 4 ? 20.0 : 6.0;
  w->Resolution = rng() % 2 ? 0.01 : 0.001;
  return w;
}

TEST(BlockSampling, HeldLevelsPassedOverAsThePlainModel) {
  std::mt19937 rng(11);
  struct Family {
    double minDwell, maxDwell;
  };
  // Family A and family C settings, and short maximum dwells that split the longer levels.
  const Family families[] = {{0.0002, 100}, {0.01, 100}, {0.0002, 0.004}, {0.01, 0.4}};
  int sampled = 0, failed = 0;
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    const Family f = families[seed % 4];
    const double period = CountModel::GridSteps(f.minDwell) / 2 / 20000.0;
    const bool badLevels = seed % 5 == 0;
    auto v = RandomStaircase(rng, period, badLevels);
    std::unique_ptr<TWaveform> c;
    if (rng() % 2) {  // the same times, other values
      c = std::make_unique<TWaveform>();
      for (const TContainer* n = v->First(); n; n = n->Next) {
        const TSegment& s = *n->Item;
        c->Append(std::make_unique<TSegment>(
            s.Modifier && s.Modifier->IsConstant() && rng() % 4 ? C(Number(rng, 4)) : C(1), s.Start,
            s.Duration));
      }
      c->MinValue = 0, c->MaxValue = 5, c->Resolution = 0.001;
    } else {
      c = RandomStaircase(rng, period, badLevels);
    }
    const std::vector<TWaveform*> waves{v.get(), c.get()};
    const CountModel::Settings s{f.minDwell, f.maxDwell, rng() % 4 ? 1.0 : 1.5,
                                 static_cast<std::int32_t>(rng() % 2 ? 1000 : 3 + rng() % 30)};
    std::int64_t total = 0;
    const std::optional<CountResult> checked = CheckAgainstModel(waves, s, seed, total);
    if (!checked) continue;
    const CountResult& expected = *checked;
    sampled += expected.error.empty();
    failed += !expected.error.empty();
  }
  EXPECT_GT(sampled, 150);
  EXPECT_GT(failed, 10);
}

}  // namespace
}  // namespace ondrevo
