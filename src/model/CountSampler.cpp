// The count sampler: the whole curve sampled on the grid and reduced to the points an instrument
// holds, with held levels passed over instead of evaluated.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <typeinfo>

#include "document/Numbers.h"
#include "model/BlockScan.h"
#include "model/SamplerErrors.h"
#include "model/Samplers.h"

namespace ondrevo {

namespace {

constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();

std::int64_t GridSteps(double seconds) {
  return static_cast<std::int64_t>(RoundHalfEven(static_cast<double>(kGridRate) * seconds));
}

std::string WaveformName(std::size_t w) {
  return "Waveform " + std::to_string(w + 1);
}

[[noreturn]] void CannotReduce(std::int64_t target) {
  throw ESamplerError("The waveform cannot be reduced to " + std::to_string(target) + " points.");
}

// The point buffer of one Execute: 10 x MaxPoints records, values stored flat.
struct PointBuffer {
  std::size_t width = 0;  // waveforms
  std::int64_t count = 0;
  std::vector<std::int64_t> index;
  std::vector<char> constant;
  std::vector<double> values;

  PointBuffer(std::size_t capacity, std::size_t waveforms)
      : width(waveforms), index(capacity), constant(capacity), values(capacity * waveforms) {}
  std::size_t Bytes() const {
    return index.size() * sizeof(std::int64_t) + constant.size() + values.size() * sizeof(double);
  }
  std::int64_t Capacity() const { return static_cast<std::int64_t>(index.size()); }
  double* Values(std::int64_t p) { return values.data() + p * width; }
  void Copy(std::int64_t to, std::int64_t from) {
    index[to] = index[from];
    constant[to] = constant[from];
    CopyValues(Values(from), Values(to));
  }
  void CopyValues(const double* from, double* to) const {
    if (width == 2) {  // voltage and current: no library call
      to[0] = from[0];
      to[1] = from[1];
    } else {
      for (std::size_t w = 0; w < width; ++w) to[w] = from[w];
    }
  }
};

// The point buffer of the last run on this thread, kept for the next one: an upload thread
// samples list after list, and fresh memory for the buffer (page faults, zeroing) costs as much
// as sampling a short list. Every entry is written before it is read, so no clearing is needed.
class TSpareBuffer {
 public:
  static PointBuffer Take(std::size_t capacity, std::size_t waveforms) {
    std::optional<PointBuffer>& spare = Spare();
    if (spare && spare->width == waveforms &&
        spare->Capacity() == static_cast<std::int64_t>(capacity)) {
      PointBuffer b = std::move(*spare);
      spare.reset();
      b.count = 0;
      return b;
    }
    spare.reset();
    return PointBuffer(capacity, waveforms);
  }
  static void Give(PointBuffer&& b) {
    if (b.Bytes() <= kMaxKeptBytes) Spare().emplace(std::move(b));
  }

 private:
  static constexpr std::size_t kMaxKeptBytes = 1 << 20;
  static std::optional<PointBuffer>& Spare() {
    thread_local std::optional<PointBuffer> spare;
    return spare;
  }
};

class CountRun {
 public:
  CountRun(TCountSampler& sampler, std::int32_t maxPoints)
      : s_(sampler),
        waves_(sampler.Waveforms),
        maxPoints_(maxPoints),
        buffer_(TSpareBuffer::Take(static_cast<std::size_t>(kBufferFactor) * maxPoints,
                                   sampler.Waveforms.size())),
        tol_(sampler.Waveforms.size(), 0.0),
        pending_(sampler.Waveforms.size()),
        tolLess_(sampler.Waveforms.size()),
        last_(sampler.Waveforms.size()),
        block_(sampler.Waveforms.size() * kBlock),
        uniform_(sampler.Waveforms.size()),
        held_(sampler.Waveforms.size()),
        runs_(sampler.Waveforms.size() * kBlock),
        runCount_(sampler.Waveforms.size()),
        runAt_(sampler.Waveforms.size()) {
    minStep_ = GridSteps(s_.MinDwellTime);
    maxStep_ = GridSteps(s_.MaxDwellTime);
    step_ = minStep_ / 2;
  }

  ~CountRun() { TSpareBuffer::Give(std::move(buffer_)); }
  CountRun(const CountRun&) = delete;
  CountRun& operator=(const CountRun&) = delete;

  std::int64_t MinStep() const { return minStep_; }
  std::int64_t MaxStep() const { return maxStep_; }

  // False when aborted.
  bool Run(std::int64_t total, TDoubleVector& durations, TDoubleMatrix& values) {
    total_ = total;
    for (TWaveform* w : waves_)
      w->StartSampling(static_cast<std::uint32_t>(minStep_ / 2), kGridRate, kEps);
    bool done = false;
    do {
      if (waves_.size() == 2)
        Fill<2>();  // voltage and current: the drivers' case
      else
        Fill<0>();
      if (s_.Aborted()) return false;
      done = raw_ < buffer_.Capacity();
      SettlePending();
      ReduceTo(2 * static_cast<std::int64_t>(maxPoints_), true);
      if (!done && !s_.Aborted()) TakePending();
    } while (!done && !s_.Aborted());
    if (s_.Aborted()) return false;
    MinimumDwell();
    if (s_.Aborted()) return false;
    ReduceTo(maxPoints_, false);
    if (s_.Aborted()) return false;
    Output(durations, values);
    return true;
  }

 private:
  // How points come to be: samples within epsilon of the newest point extend it (and mark it a
  // held level); any other sample starts a new point. When the buffer of 10 x MaxPoints points
  // is full, one pass merges every point into the last one kept where its values lie within
  // the tolerance of that one's, the tolerance growing until at most 2 x MaxPoints remain.
  //
  // That pass is done here as the points arrive: once the point after the newest one starts,
  // nothing the pass looks at can change for the newest one, so it is merged or kept at once
  // and the buffer holds only points the pass keeps. Passes at a full buffer then only decide
  // the newest point (with the end of the curve as its successor) and raise the tolerance
  // where needed; a point they keep goes back to being the newest and is looked at again,
  // as the next pass would. The newest point itself lives outside the buffer (pending_).

  // Evaluates the next block of every waveform (with the gain and the limits). Right after a
  // skip the block is short and then doubles. Held levels are skipped at a block's end, so the
  // block ends where every waveform has entered a long held level (see SampleBlock). Notes the
  // first sample that is not a number, which stops sampling where reached.
  void Refill() {
    const std::size_t want = nextBlock_;
    const std::size_t n = SampleBlock(want);
    badPos_ = kAllFinite;
    for (std::size_t w = 0; w < waves_.size(); ++w) {
      double* b = &block_[w * kBlock];
      if (s_.Gain != 1.0)
        for (std::size_t i = 0; i < n; ++i) b[i] *= s_.Gain;
      const TWaveform& wave = *waves_[w];
      const double hi = wave.MaxValue + kEps, lo = wave.MinValue - kEps;
      const BlockShape shape = Shape(w, n, lo, hi);
      uniform_[w] = shape.inside && shape.uniform;
      if (shape.inside) continue;  // the limits change nothing
      if (!AllFinite(b, n)) {
        std::size_t j = 0;
        while (b[j] - b[j] == 0.0) ++j;
        if (j < badPos_) badPos_ = j, badWave_ = w;
      }
      const double maxValue = wave.MaxValue, minValue = wave.MinValue;
      for (std::size_t i = 0; i < n; ++i)
        b[i] = b[i] > hi ? maxValue : (b[i] < lo ? minValue : b[i]);
    }
    // The one waveform that varies over the block, when the others hold their level.
    varying_ = kNone;
    for (std::size_t w = 0; w < waves_.size(); ++w)
      if (!uniform_[w]) varying_ = varying_ == kNone ? w : kMany;
    blockPos_ = 0;
    blockLen_ = n;
    nextBlock_ = std::min(kBlock, 2 * want);
  }

  // The raw samples of the next block, want of them or fewer; notes per waveform whether they
  // all came from one held level. The first waveform may end the block two samples into a held
  // level that lasts kMinHeldRun samples more: when every other waveform then holds a level as
  // well, the block's end is where SkipHeld jumps to the level's end, and a level costs a few
  // samples whatever its length. Otherwise nothing could be skipped there and the block goes on.
  std::size_t SampleBlock(std::size_t want) {
    blockFirst_ = static_cast<std::int64_t>(waves_[0]->SampleIndex());
    std::size_t n = want;
    for (std::size_t w = 0; w < waves_.size(); ++w) {
      double* b = &block_[w * kBlock];
      bool held = false;
      const std::size_t minRun = w == 0 && s_.SkipHeldLevels ? kMinHeldRun : 0;
      n = waves_[w]->NextBlock(b, n, &held, &runs_[w * kBlock], runCount_[w], minRun);
      held_[w] = held;
      runAt_[w] = 0;
    }
    if (n == want || OthersHoldAt(n)) return n;
    for (std::size_t w = 0; w < waves_.size(); ++w) {
      waves_[w]->NextSamples(&block_[w * kBlock + n], want - n);
      held_[w] = false;
    }
    return want;
  }

  // ShapeOf the block of waveform w, n samples: a held level is one value, and its first sample
  // tells for all of it.
  BlockShape Shape(std::size_t w, std::size_t n, double lo, double hi) const {
    const double* b = &block_[w * kBlock];
    if (held_[w]) return ShapeOf(b, 1, lo, hi);
    const std::size_t runs = runCount_[w];
    if (runs == 0) return ShapeOf(b, n, lo, hi);
    const TWaveform::HeldRun* run = &runs_[w * kBlock];
    const std::uint64_t first = std::bit_cast<std::uint64_t>(b[0]);
    BlockShape shape{true, true};
    auto add = [&](std::size_t from, std::size_t to) {
      if (from >= to) return;
      const BlockShape s = ShapeOf(b + from, to - from, lo, hi);
      shape.inside &= s.inside;
      shape.uniform &= s.uniform & (std::bit_cast<std::uint64_t>(b[from]) == first);
    };
    std::size_t pos = 0;
    for (std::size_t r = 0; r < runs && run[r].Begin < n; ++r) {
      add(pos, run[r].Begin);
      add(run[r].Begin, run[r].Begin + 1);
      pos = std::min<std::size_t>(run[r].End, n);
    }
    add(pos, n);
    return shape;
  }

  // The end of the stretch from block position pos - 1 on over which every waveform repeats
  // that sample, as far as the held levels tell; pos when they do not. Positions only grow
  // between Refills. Out of line: inlined, it slows the per-sample loop that calls it.
  [[gnu::noinline]] std::size_t HeldRunEnd(std::size_t pos) {
    std::size_t end = kBlock;
    for (std::size_t w = 0; w < waves_.size(); ++w) {
      const TWaveform::HeldRun* run = &runs_[w * kBlock];
      std::size_t& r = runAt_[w];
      while (r < runCount_[w] && run[r].End <= pos) ++r;
      if (r == runCount_[w] || run[r].Begin + 1 > pos) return pos;
      end = std::min<std::size_t>(end, run[r].End);
    }
    return end;
  }

  // Whether every waveform after the first gave its last two of the n samples from one held
  // level (or the end) and stays on it for the next sample.
  bool OthersHoldAt(std::size_t n) const {
    for (std::size_t w = 1; w < waves_.size(); ++w) {
      const TWaveform& wave = *waves_[w];
      const double* b = &block_[w * kBlock];
      if (wave.CursorMovedOnLastSample() ||
          std::bit_cast<std::uint64_t>(b[n - 1]) != std::bit_cast<std::uint64_t>(b[n - 2]))
        return false;
      const TContainer* node = wave.CursorNode();
      if (node && !node->Item->Held()) return false;
    }
    return true;
  }

  [[noreturn]] void NotFiniteAt(std::size_t pos) const {
    const std::int64_t k = blockFirst_ + static_cast<std::int64_t>(pos) * step_;
    NotFinite(WaveformName(badWave_), static_cast<double>(k) / kGridRate + kEps);
  }

  bool BlockUsedUp() const { return blockPos_ == blockLen_; }

  // Block samples a and b are equal in every waveform, bit for bit.
  static bool SameBits(const double* block, std::size_t a, std::size_t b, std::size_t width) {
    bool same = true;
    for (std::size_t w = 0; w < width; ++w)
      same &= std::bit_cast<std::uint64_t>(block[w * kBlock + a]) ==
              std::bit_cast<std::uint64_t>(block[w * kBlock + b]);
    return same;
  }

  // At a block boundary after a sample equal to its point: skips the following samples as far
  // as every waveform provably repeats that sample (see HeldUntil).
  void SkipHeld(std::int64_t k, std::int64_t prevIndex) {
    cursorsStayed_ = true;
    for (const TWaveform* w : waves_)
      if (w->CursorMovedOnLastSample()) cursorsStayed_ = false;
    std::int64_t last = std::min({HeldUntil(k), prevIndex + maxStep_ - 1, total_ - 1});
    last = k + (last - k) / step_ * step_;
    if (last > k + step_) {
      for (TWaveform* w : waves_) w->AdvanceSampling(static_cast<std::uint64_t>(last));
      // Levels longer than a block: the next one is probably long too.
      if ((last - k) / step_ >= static_cast<std::int64_t>(kBlock)) nextBlock_ = kShortBlock;
    }
  }

  // Largest grid index up to which every waveform's cursor stays on the held level that gave
  // sample k, so that the samples up to it equal sample k; k when some level may change.
  std::int64_t HeldUntil(std::int64_t k) const {
    if (!cursorsStayed_) return k;
    std::int64_t limit = kNoLimit;
    for (const TWaveform* w : waves_) {
      const TContainer* node = w->CursorNode();
      if (!node) continue;  // past the end (or empty): the final value holds
      const TSegment& seg = *node->Item;
      if (!seg.Held()) return k;
      // The cursor stays on the segment while a sample's time is not beyond its end.
      const double end = seg.Start + seg.Duration;
      const double rate = w->Rate();
      const double offset = w->TimeOffset();
      const double guess = std::floor((end - offset) * rate);
      if (!(guess < 9.0e18)) continue;
      std::int64_t j = static_cast<std::int64_t>(std::max(guess, 0.0)) + 1;
      while (j > 0 && static_cast<double>(j) / rate + offset > end) --j;
      limit = std::min(limit, j);
    }
    return limit;
  }

  // Appends points while the buffer would have room; a block of samples at a time.
  // kWidth: the number of waveforms when known at compile time, else 0.
  template <std::size_t kWidth>
  void Fill() {
    PointBuffer& b = buffer_;
    const std::size_t width = kWidth ? kWidth : waves_.size();
    if (raw_ == 0) {  // the first sample is the first point, a held level from the start
      Refill();
      if (badPos_ == 0) NotFiniteAt(0);
      pendingIndex_ = blockFirst_;
      pendingConstant_ = true;
      for (std::size_t w = 0; w < width; ++w) pending_[w] = block_[w * kBlock];
      blockPos_ = 1;
      raw_ = 1;
    }
    const std::int64_t capacity = b.Capacity();
    std::int64_t* index = b.index.data();
    char* constant = b.constant.data();
    double* values = b.values.data();
    const double* block = block_.data();
    // Locals: the stores into the point arrays could otherwise alias these members.
    std::int64_t count = b.count, raw = raw_;
    std::int64_t pIndex = pendingIndex_;
    bool pConstant = pendingConstant_;
    // The newest point's values, the tolerance and the values of the point kept before it.
    double pv[kWidth ? kWidth : 1], tv[kWidth ? kWidth : 1], lv[kWidth ? kWidth : 1];
    double* p = kWidth ? pv : pending_.data();
    double* t = kWidth ? tv : tolLess_.data();
    double* l = kWidth ? lv : last_.data();
    for (std::size_t w = 0; w < width; ++w) {
      p[w] = pending_[w];
      t[w] = tol_[w] - kEps;
      l[w] = count > 0 ? values[(count - 1) * static_cast<std::int64_t>(width) + w] : 0.0;
    }
    std::int64_t lIndex = count > 0 ? index[count - 1] : 0;
    const std::int64_t total = total_, maxStep = maxStep_, step = step_;
    const bool skipRuns = s_.SkipHeldLevels;
    auto save = [&] {
      b.count = count;
      raw_ = raw;
      pendingIndex_ = pIndex;
      pendingConstant_ = pConstant;
      if (kWidth)
        for (std::size_t w = 0; w < width; ++w) pending_[w] = p[w];
    };
    while (raw < capacity && !s_.Aborted()) {
      if (blockPos_ == blockLen_) Refill();
      const std::size_t stop = std::min(blockLen_, badPos_);
      const std::int64_t first = blockFirst_;
      const std::size_t u = varying_ < width ? varying_ : kNone;
      std::size_t pos = blockPos_;
      const std::size_t entry = pos;  // samples before it may be gone from the block
      bool same = false;
      std::int64_t k = 0;
      for (; pos < stop; ++pos) {
        k = first + static_cast<std::int64_t>(pos) * step;
        if (total <= k) {  // at or after the end: not stored, and sampling is over
          blockPos_ = pos + 1;
          save();
          return;
        }
        // The samples that repeat the one before bit for bit would each only mark the point
        // held again: they are passed over as a run, up to the MaxStep split and the end.
        if (skipRuns && pos > entry && SameBits(block, pos - 1, pos, width)) {
          const std::int64_t room = std::min(pIndex + maxStep, total) - first;
          const std::size_t bound =
              room <= 0 ? 0 : std::min<std::size_t>(stop, (room + step - 1) / step);
          std::size_t j = pos;
          if (j < bound) j = std::max(j, std::min(bound, HeldRunEnd(pos)));
          while (j < bound && SameBits(block, pos - 1, j, width)) ++j;
          if (j > pos) {
            pConstant = true;
            same = true;
            k = first + static_cast<std::int64_t>(j - 1) * step;
            pos = j - 1;
            continue;
          }
        }
        same = k - pIndex < maxStep;
        for (std::size_t w = 0; w < width; ++w)
          same &= !(std::fabs(block[w * kBlock + pos] - p[w]) > kEps);
        if (same) {
          pConstant = true;
          continue;
        }
        // The newest point has its successor: the pass keeps it unless it holds a level, the
        // span from the point before it to this sample is too long, or a value is off.
        bool merge = (count > 0) & !pConstant & (k - lIndex <= maxStep);
        for (std::size_t w = 0; w < width; ++w) merge &= std::fabs(l[w] - p[w]) <= t[w];
        // Written in any case, counted only when kept: no branch the values decide.
        double* slot = values + count * static_cast<std::int64_t>(width);
        index[count] = pIndex;
        constant[count] = pConstant;
        for (std::size_t w = 0; w < width; ++w) slot[w] = p[w];
        count += !merge;
        lIndex = merge ? lIndex : pIndex;
        for (std::size_t w = 0; w < width; ++w) {
          l[w] = merge ? l[w] : p[w];
          p[w] = block[w * kBlock + pos];
        }
        pIndex = k;
        pConstant = false;
        if (++raw == capacity) {
          ++pos;
          break;
        }
        // Where the next samples would each start a point that joins the same kept point,
        // find where that ends and take the last of them as the newest point at once.
        if (u != kNone && count > 0 && std::fabs(l[u] - p[u]) <= t[u]) {
          bool others = true;  // the held waveforms' levels join too
          for (std::size_t w = 0; w < width; ++w)
            others &= w == u || std::fabs(l[w] - p[w]) <= t[w];
          if (!others) continue;
          // Bounds: the full buffer, the end of the curve (this sample lies before it), and
          // MaxStep from the kept point to the sample that settles the newest one.
          std::int64_t to = std::min<std::int64_t>(static_cast<std::int64_t>(stop),
                                                   static_cast<std::int64_t>(pos) + capacity - raw);
          to = std::min(to, (total - first + step - 1) / step);
          const std::int64_t reach = lIndex + maxStep - first;
          to = reach < 0 ? 0 : std::min(to, reach / step + 1);
          if (to <= static_cast<std::int64_t>(pos) + 1) continue;
          const std::size_t end = MergingRunEnd(block + u * kBlock, pos + 1,
                                                static_cast<std::size_t>(to), l[u], t[u], kEps);
          if (end == pos + 1) continue;
          raw += static_cast<std::int64_t>(end - 1 - pos);
          pos = end - 1;
          pIndex = first + static_cast<std::int64_t>(pos) * step;
          p[u] = block[u * kBlock + pos];
        }
      }
      blockPos_ = pos;
      if (pos == badPos_ && raw < capacity) {
        save();
        NotFiniteAt(pos);
      }
      // Every sample up to the skip target repeats this one and would only mark the same
      // point again; the limits keep the MaxStep split and the end.
      if (same && s_.SkipHeldLevels && BlockUsedUp()) SkipHeld(k, pIndex);
    }
    save();
  }

  // What a pass at a full buffer (or at the end) does with the newest point: its successor is
  // the end of the curve. Afterwards the buffer holds every point.
  void SettlePending() {
    PointBuffer& b = buffer_;
    const std::size_t n = waves_.size();
    const std::int64_t count = b.count;
    bool merge = count > 0 && !pendingConstant_ && total_ - b.index[count - 1] <= maxStep_;
    for (std::size_t w = 0; w < n && merge; ++w)
      merge = std::fabs(b.Values(count - 1)[w] - pending_[w]) <= tol_[w] - kEps;
    if (merge) return;
    b.index[count] = pendingIndex_;
    b.constant[count] = pendingConstant_;
    b.CopyValues(pending_.data(), b.Values(count));
    b.count = count + 1;
  }

  // The buffer's last point becomes the newest again, to be looked at once more when its
  // successor comes.
  void TakePending() {
    PointBuffer& b = buffer_;
    raw_ = b.count;
    --b.count;
    pendingIndex_ = b.index[b.count];
    pendingConstant_ = b.constant[b.count];
    b.CopyValues(b.Values(b.count), pending_.data());
  }

  // Point count that Reduce reaches with an unbounded tolerance: the fewest points it can
  // ever leave (only held levels and the MaxStep span keep points then).
  std::int64_t FewestPoints() const {
    const PointBuffer& b = buffer_;
    std::int64_t last = 0, n = 1;
    for (std::int64_t r = 1; r < b.count; ++r) {
      const std::int64_t next = r + 1 < b.count ? b.index[r + 1] : total_;
      if (b.constant[r] || next - b.index[last] > maxStep_) {
        last = r;
        ++n;
      }
    }
    return n;
  }

  // Merges points whose levels differ by less than the tolerance, raising the tolerance by each
  // waveform's resolution until at most `target` points remain. Stops with an error where
  // raising it can no longer bring the count down.
  // passed: the buffer is already what a pass at the current tolerance leaves.
  void ReduceTo(std::int64_t target, bool passed) {
    if (waves_.size() == 2)
      Reduce<2>(target, passed);
    else
      Reduce<0>(target, passed);
  }

  // One pass at the current tolerance: every point joins the last one kept where neither holds
  // a level, the span stays within MaxStep and every value is within the tolerance.
  template <std::size_t kWidth>
  void Pass() {
    PointBuffer& b = buffer_;
    const std::size_t n = kWidth ? kWidth : waves_.size();
    std::int64_t last = 0, kept = 1;
    const std::int64_t count = b.count;
    std::int64_t* index = b.index.data();
    char* constant = b.constant.data();
    double* values = b.values.data();
    double tv[kWidth ? kWidth : 1];
    double* t = kWidth ? tv : tolLess_.data();
    for (std::size_t w = 0; w < n; ++w) t[w] = tol_[w] - kEps;
    const std::int64_t total = total_, maxStep = maxStep_;
    for (std::int64_t r = 1; r < count; ++r) {
      const std::int64_t next = r + 1 < count ? index[r + 1] : total;
      const double* lv = values + last * static_cast<std::int64_t>(n);
      const double* cv = values + r * static_cast<std::int64_t>(n);
      // Without early exits: one well-predicted branch per point instead of several.
      bool mergeable = !constant[r] & (next - index[last] <= maxStep);
      for (std::size_t w = 0; w < n; ++w) mergeable &= std::fabs(lv[w] - cv[w]) <= t[w];
      if (!mergeable) {
        if (kept != r) {
          index[kept] = index[r];
          constant[kept] = constant[r];
          double* kv = values + kept * static_cast<std::int64_t>(n);
          for (std::size_t w = 0; w < n; ++w) kv[w] = cv[w];
        }
        last = kept;
        ++kept;
      }
    }
    b.count = kept;
  }

  template <std::size_t kWidth>
  void Reduce(std::int64_t target, bool passed) {
    PointBuffer& b = buffer_;
    const std::size_t n = kWidth ? kWidth : waves_.size();
    std::vector<double> lo(n), hi(n);
    for (;; passed = false) {
      if (!passed) Pass<kWidth>();
      if (b.count <= target || s_.Aborted()) return;
      // The budget asked for is named, also when a first pass towards twice it fails.
      if (FewestPoints() > target) CannotReduce(maxPoints_);
      // Once the tolerance covers a waveform's value range, raising it merges nothing more.
      std::fill(lo.begin(), lo.end(), std::numeric_limits<double>::infinity());
      std::fill(hi.begin(), hi.end(), -std::numeric_limits<double>::infinity());
      for (std::int64_t p = 0; p < b.count; ++p)
        for (std::size_t w = 0; w < n; ++w) {
          lo[w] = std::min(lo[w], b.Values(p)[w]);
          hi[w] = std::max(hi[w], b.Values(p)[w]);
        }
      bool grows = false;
      for (std::size_t w = 0; w < n; ++w) {
        const double res = waves_[w]->Resolution;
        if (res > 0.0 && std::isfinite(res) && tol_[w] - kEps < hi[w] - lo[w]) grows = true;
      }
      if (!grows) CannotReduce(maxPoints_);
      for (std::size_t w = 0; w < n; ++w) tol_[w] += waves_[w]->Resolution;
    }
  }

  void MinimumDwell() {
    PointBuffer& b = buffer_;
    std::int64_t w = 1;
    for (std::int64_t r = 1; r < b.count; ++r) {
      if ((r & 1023) == 0 && s_.Aborted()) return;
      const std::int64_t prev = w - 1;
      const std::int64_t cur = r;
      const std::int64_t d = b.index[cur] - b.index[prev];
      const std::int64_t next = r + 1 < b.count ? b.index[r + 1] : total_;
      auto keep = [&](std::int64_t at) {
        if (w != cur) b.Copy(w, cur);
        b.index[w] = at;
        ++w;
      };
      if (d >= minStep_) {
        keep(b.index[cur]);
      } else if (b.constant[cur] && b.constant[prev]) {
        if (next - b.index[prev] < maxStep_) {
          const std::int64_t at = b.index[prev];
          b.Copy(prev, cur);
          b.index[prev] = at;
        } else {
          keep(b.index[prev] + minStep_);
        }
      } else if (b.constant[cur]) {
        const std::int64_t e = prev >= 1 ? b.index[prev] - b.index[prev - 1] : 0;
        if (e >= maxStep_) {
          b.index[prev] = b.index[cur] - minStep_;
          keep(b.index[cur]);
        } else {
          b.Copy(prev, cur);
        }
      } else if (next - b.index[prev] >= maxStep_) {
        keep(b.index[prev] + minStep_);
      }
      // else: Cur is dropped and Prev's level extends to the next point.
    }
    b.count = w;
  }

  void Output(TDoubleVector& durations, TDoubleMatrix& values) {
    PointBuffer& b = buffer_;
    TDoubleVector d(static_cast<std::size_t>(b.count));
    for (std::int64_t j = 0; j < b.count; ++j) {
      const std::int64_t next = j + 1 < b.count ? b.index[j + 1] : total_;
      d[j] = static_cast<double>(next - b.index[j]) / kGridRate;
    }
    std::int64_t count = b.count;
    if (count >= 2 && d[count - 1] < s_.MinDwellTime - kEps) {
      if (d[count - 2] < s_.MaxDwellTime - kEps) {
        d[count - 2] += d[count - 1];
        --count;
        d.resize(count);
      } else {
        d[count - 2] = s_.MaxDwellTime - s_.MinDwellTime / 2.0;
        d[count - 1] = s_.MinDwellTime;
      }
    }
    for (double x : d)
      if (!(x > 0.0) || !std::isfinite(x))
        throw ESamplerError("The dwell times cannot be arranged for this waveform.");
    TDoubleMatrix v(waves_.size(), TDoubleVector(static_cast<std::size_t>(count)));
    for (std::int64_t j = 0; j < count; ++j)
      for (std::size_t w = 0; w < waves_.size(); ++w) v[w][j] = b.Values(j)[w];
    if (s_.Aborted()) return;
    durations = std::move(d);
    values = std::move(v);
  }

  TCountSampler& s_;
  const TWaveformVector& waves_;
  std::int32_t maxPoints_;
  PointBuffer buffer_;
  std::vector<double> tol_;
  std::int64_t minStep_ = 0, maxStep_ = 0, total_ = 0, step_ = 1;
  // The newest point, outside the buffer (see Fill); raw_ counts the points the buffer would
  // hold without merging as they arrive, 0 before the first sample.
  std::vector<double> pending_;
  std::int64_t pendingIndex_ = 0, raw_ = 0;
  bool pendingConstant_ = false;
  std::vector<double> tolLess_, last_;  // Fill's scratch for any number of waveforms
  bool cursorsStayed_ = false;          // no cursor moved after the last sample

  static constexpr std::size_t kBlock = 256;
  static constexpr std::size_t kShortBlock = 16;
  // Held levels shorter than this are scanned rather than skipped: a skip costs about as much.
  static constexpr std::size_t kMinHeldRun = 64;
  std::vector<double> block_;  // kBlock samples per waveform
  std::size_t blockPos_ = 0, blockLen_ = 0;
  std::size_t nextBlock_ = kBlock;  // length of the next Refill
  std::int64_t blockFirst_ = 0;
  // The block's first sample that is not a number, and its waveform.
  static constexpr std::size_t kAllFinite = std::numeric_limits<std::size_t>::max();
  // Per waveform: the block holds one value, within the limits.
  std::vector<char> uniform_;
  std::vector<char> held_;  // per waveform: the block came from one held level
  // Per waveform: the block's held stretches (kBlock entries each), their number, and the one
  // HeldRunEnd looked at last.
  std::vector<TWaveform::HeldRun> runs_;
  std::vector<std::size_t> runCount_, runAt_;
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max(), kMany = kNone - 1;
  std::size_t varying_ = kNone;
  std::size_t badPos_ = kAllFinite, badWave_ = 0;
};

}  // namespace

void TCountSampler::Execute(std::int32_t maxPoints, TDoubleVector& durations,
                            TDoubleMatrix& values) {
  aborted_.store(false, std::memory_order_relaxed);
  if (Waveforms.empty() ||
      std::find(Waveforms.begin(), Waveforms.end(), nullptr) != Waveforms.end())
    throw ESamplerError("No Waveform loaded");
  if (maxPoints < 1) throw ESamplerError("The point count must be at least 1.");
  if (!std::isfinite(MinDwellTime) || GridSteps(MinDwellTime) < 2)
    throw ESamplerError("The minimum dwell time must be at least 0.0001 s.");
  if (!std::isfinite(MaxDwellTime) || GridSteps(MaxDwellTime) < GridSteps(MinDwellTime) ||
      MaxDwellTime > 1.0e9)
    throw ESamplerError(
        "The maximum dwell time must lie between the minimum dwell time and "
        "1000000000 s.");

  std::int64_t total = 0;
  for (const TWaveform* w : Waveforms) {
    const double duration = w->GetDuration();
    if (!std::isfinite(duration) || duration > 1.0e9)
      throw ESamplerError("The waveform is too long to sample.");
    total = std::max(total, GridSteps(duration));
  }

  CountRun run(*this, maxPoints);
  if (total < run.MinStep()) {
    TDoubleMatrix v;
    for (std::size_t i = 0; i < Waveforms.size(); ++i) {
      const TWaveform& w = *Waveforms[i];
      double x = w.MaxValue;
      if (w.GetDuration() > 0.0) {
        x = w.ValueAt(0.0);
        if (!std::isfinite(x)) NotFinite(WaveformName(i), 0.0);
        x = std::clamp(x, std::min(w.MinValue, w.MaxValue), w.MaxValue);
      }
      v.push_back(TDoubleVector{x});
    }
    durations = TDoubleVector{MinDwellTime};
    values = std::move(v);
    return;
  }
  if (run.Run(total, durations, values)) aborted_.store(false, std::memory_order_relaxed);
}

}  // namespace ondrevo
