#include <gtest/gtest.h>

#include <random>

#include "model/Waveform.h"

namespace ondrevo {
namespace {

TModifierPtr C(double v) {
  return std::make_unique<TConstantModifier>(v);
}
TModifierPtr Ramp(double start, double slope) {
  return std::make_unique<TAddModifier>(C(start), std::make_unique<TGradientModifier>(C(slope)));
}
std::unique_ptr<TSegment> Seg(TModifierPtr m, double start, double duration) {
  return std::make_unique<TSegment>(std::move(m), start, duration);
}

TEST(Waveform, EmptyWaveform) {
  TWaveform w;
  w.MaxValue = 7.5;
  EXPECT_EQ(w.GetDuration(), 0.0);
  EXPECT_EQ(w.GetMin(), 0.0);
  EXPECT_EQ(w.GetMax(), 0.0);
  EXPECT_EQ(w.GetSampleRate(), 0.0);
  EXPECT_EQ(w.GetPointCount(), 0);
  EXPECT_EQ(w.First(), nullptr);
  EXPECT_EQ(w.SegmentAfter(0), nullptr);
  w.StartSampling(2, 20000, 0.0000001);
  std::uint64_t k = 99;
  EXPECT_EQ(w.NextSample(k), 7.5);
  EXPECT_EQ(k, 0u);
  EXPECT_EQ(w.NextSample(k), 7.5);
  EXPECT_EQ(k, 2u);
  w.RemoveLast();  // nothing to remove
}

TEST(Waveform, BoundsCountsAndLookup) {
  TWaveform w;
  w.Append(Seg(C(5), 0, 5));                                                  // constant
  w.Append(Seg(Ramp(5, 1), 5, 5));                                            // ramp 5..10
  w.Append(Seg(nullptr, 10, 0));                                              // step
  w.Append(Seg(std::make_unique<TSineModifier>(C(1), C(100), C(0)), 10, 5));  // 100 Hz
  EXPECT_EQ(w.GetDuration(), 15.0);
  EXPECT_EQ(w.GetMin(), -1.0);
  EXPECT_EQ(w.GetMax(), 10.0);
  EXPECT_EQ(w.GetSampleRate(), 2000.0);
  EXPECT_EQ(w.GetPointCount(), 1 + 50 + 1 + 10000);

  EXPECT_EQ(w.ValueAt(2), 5.0);
  EXPECT_EQ(w.ValueAt(7), 7.0);
  EXPECT_NEAR(w.ValueAt(10.0025), 1.0, 1e-9);  // the zero-length step is never chosen
  EXPECT_EQ(w.ValueAt(15.0), 0.0);             // at the very end: no segment contains it
  EXPECT_EQ(w.ValueAt(-1.0), 0.0);

  const TContainer* node = w.First();
  int n = 0;
  while (w.NextSegment(node)) ++n;
  EXPECT_EQ(n, 4);
  EXPECT_EQ(w.NextSegment(node), nullptr);

  EXPECT_EQ(w.SegmentAfter(0)->Start, 5.0);
  EXPECT_EQ(w.SegmentAfter(2)->Start, 10.0);
  EXPECT_EQ(w.SegmentAfter(2)->Duration, 5.0);
  EXPECT_EQ(w.SegmentAfter(3), nullptr);
  EXPECT_EQ(w.SegmentAfter(100), nullptr);

  w.RemoveLast();
  EXPECT_EQ(w.GetDuration(), 10.0);
  EXPECT_EQ(w.Tail()->Next, nullptr);
  w.Append(Seg(C(1), 10, 1));  // node addresses stay valid across removal and appending
  EXPECT_EQ(w.GetDuration(), 11.0);
  w.Clear();
  EXPECT_TRUE(w.Empty());
  EXPECT_EQ(w.GetDuration(), 0.0);
}

TEST(Waveform, SamplingCursor) {
  TWaveform w;
  w.Append(Seg(Ramp(0, 1), 0, 1));
  w.StartSampling(2, 20000, 0.0000001);
  EXPECT_EQ(w.SampleIndex(), 0u);
  EXPECT_DOUBLE_EQ(w.TimeOffset(), 0.0000001);
  std::uint64_t k = 0;
  EXPECT_DOUBLE_EQ(w.NextSample(k), 0.0000001);
  EXPECT_EQ(k, 0u);
  EXPECT_DOUBLE_EQ(w.NextSample(k), 0.0001001);
  EXPECT_EQ(k, 2u);
  EXPECT_DOUBLE_EQ(w.NextSample(k), 0.0002001);
  EXPECT_EQ(k, 4u);

  // Past the end the final value holds.
  w.StartSampling(1, 4, 0.75);
  EXPECT_EQ(w.NextSample(k), 0.75);
  EXPECT_EQ(k, 3u);
  EXPECT_EQ(w.NextSample(k), 1.0);  // exactly the end
  EXPECT_EQ(w.NextSample(k), 1.0);  // beyond: the last segment's end value
  EXPECT_EQ(w.CursorNode(), nullptr);
  // Grid index of the start time rounds half to even.
  w.StartSampling(1, 2, 1.25);
  EXPECT_EQ(w.SampleIndex(), 2u);
  EXPECT_DOUBLE_EQ(w.TimeOffset(), 0.25);
}

TEST(Waveform, SegmentBoundariesWhileSampling) {
  TWaveform w;
  w.Append(Seg(C(1), 0, 1));
  w.Append(Seg(C(2), 1, 0));  // step, only sampled when a sample falls on its start
  w.Append(Seg(C(3), 1, 1));
  std::uint64_t k = 0;
  // A sample exactly on a segment end comes from that segment...
  w.StartSampling(1, 2, 0.0);
  EXPECT_EQ(w.NextSample(k), 1.0);
  EXPECT_EQ(w.NextSample(k), 1.0);
  EXPECT_EQ(w.NextSample(k), 1.0);  // 1.0 is the end of the first segment
  EXPECT_EQ(w.NextSample(k), 3.0);  // the step at 1.0 is skipped
  // ...except at the start, where a start on a segment's end selects the following one
  // (the step ends there too, so the third).
  w.StartSampling(1, 2, 1.0);
  EXPECT_EQ(w.NextSample(k), 3.0);
  EXPECT_EQ(w.NextSample(k), 3.0);
  EXPECT_EQ(w.NextSample(k), 3.0);  // 2.0, the end
  EXPECT_EQ(w.NextSample(k), 3.0);  // past the end

  // Skipping ahead lands on the same segment as stepping there.
  TWaveform a, b;
  for (TWaveform* x : {&a, &b}) {
    x->Append(Seg(C(1), 0, 1));
    x->Append(Seg(C(2), 1, 2));
    x->Append(Seg(C(4), 3, 1));
    x->StartSampling(3, 20000, 0.0000001);
  }
  std::uint64_t ka = 0, kb = 0;
  for (int i = 0; i < 20000; ++i) a.NextSample(ka);
  b.NextSample(kb);
  b.AdvanceSampling(60000);
  EXPECT_EQ(a.CursorNode()->Item->Start, b.CursorNode()->Item->Start);
  EXPECT_EQ(b.CursorNode()->Item->Start, 3.0);
  EXPECT_EQ(a.NextSample(ka), b.NextSample(kb));
  EXPECT_EQ(ka, kb);
}

}  // namespace
}  // namespace ondrevo

namespace ondrevo {
namespace {

// Random trees of the shapes the builder makes, and a few it does not.
std::unique_ptr<TWaveform> RandomWaveform(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  auto linear = [&]() -> TModifierPtr {
    if (u(rng) < 0.5) return C(u(rng) * 10);
    return Ramp(u(rng) * 10, u(rng) * 4 - 2);
  };
  auto sine = [&]() -> TModifierPtr {
    return std::make_unique<TSineModifier>(linear(), linear(), C(u(rng) * 6));
  };
  auto w = std::make_unique<TWaveform>();
  double start = 0;
  const int n = 1 + static_cast<int>(rng() % 8);
  for (int i = 0; i < n; ++i) {
    const double duration = u(rng) < 0.2 ? 0.0 : u(rng) * 0.05;
    TModifierPtr m;
    switch (rng() % 7) {
      case 0:
        m = linear();
        break;
      case 1:
        m = std::make_unique<TAddModifier>(linear(), sine());
        break;
      case 2:
        m = std::make_unique<TAddModifier>(linear(),
                                           std::make_unique<TAddModifier>(sine(), sine()));
        break;
      case 3:
        m = std::make_unique<TAddModifier>(linear(), nullptr);
        break;
      case 4:
        m = std::make_unique<TAddModifier>(
            linear(), std::make_unique<TSquareModifier>(linear(), C(30), C(0), C(0.3)));
        break;
      case 5:
        m = nullptr;
        break;
      default:
        m = std::make_unique<TGradientModifier>(nullptr);
        break;
    }
    w->Append(Seg(std::move(m), start, duration));
    start += duration;
  }
  w->MaxValue = 42;
  return w;
}

TEST(Waveform, FastPathsMatchTheTree) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    auto w = RandomWaveform(rng);
    // The closed forms give the tree's very bits.
    for (const TContainer* n = w->First(); n; n = n->Next) {
      const TSegment& s = *n->Item;
      if (!s.Modifier) continue;
      for (double t = s.Start; t <= s.Start + s.Duration; t += 0.0011)
        ASSERT_EQ(s.GetValue(t), s.Modifier->GetValue(t - s.Start)) << round;
    }
    // Block sampling equals sample-by-sample sampling, cursor included.
    const std::uint32_t step = 1 + rng() % 5;
    const double start = (rng() % 3) * 0.0000001 + (rng() % 2) * 0.01;
    TWaveform& a = *w;
    std::vector<double> one, many(300);
    a.StartSampling(step, 20000, start);
    std::uint64_t k = 0;
    for (int i = 0; i < 900; ++i) one.push_back(a.NextSample(k));
    const std::uint64_t endIndex = a.SampleIndex();
    a.StartSampling(step, 20000, start);
    std::vector<double> blocks;
    for (int b = 0; b < 3; ++b) {
      a.NextSamples(many.data(), many.size());
      blocks.insert(blocks.end(), many.begin(), many.end());
    }
    ASSERT_EQ(blocks, one) << round;
    EXPECT_EQ(a.SampleIndex(), endIndex);
  }
}

}  // namespace
}  // namespace ondrevo
