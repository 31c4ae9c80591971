// The samplers' block loops against evaluating the modifier trees one sample at a time: the
// outputs must agree to the last bit, errors included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

// Durations on whole and half grid steps, zero, or arbitrary.
double Duration(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:
      return 0.0;
    case 1:
      return static_cast<double>(rng() % 800) * 0.000025;
    case 2:
      return static_cast<double>(rng() % 40) * 0.0005;
    default:
      return std::uniform_real_distribution<double>(0, 0.02)(rng);
  }
}

// The same random document for every Segment type given the same seed: levels, ramps, sines
// and sweeps of both, two sines, the other periodic kinds, absent parts, and now and then a
// value that is not finite.
template <class Segment>
std::unique_ptr<TWaveform> RandomWaveform(std::uint32_t seed) {
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
    const double duration = Duration(rng);
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
      blocks->NextSamples(part.data(), part.size());
      a.insert(a.end(), part.begin(), part.end());
      std::uint64_t index = 0;
      for (std::size_t j = 0; j < part.size(); ++j) b.push_back(single->NextSample(index));
      ASSERT_EQ(blocks->SampleIndex(), single->SampleIndex()) << seed;
      ASSERT_EQ(blocks->CursorMovedOnLastSample(), single->CursorMovedOnLastSample()) << seed;
    }
    ASSERT_TRUE(SameBits(a, b)) << seed;
  }
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

}  // namespace
}  // namespace ondrevo
