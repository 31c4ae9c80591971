// One evaluable curve: an ordered list of segments, each with its modifier tree.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "model/Modifiers.h"

namespace ondrevo {

class TSegment {
 public:
  TSegment(TModifierPtr modifier, double start, double duration);
  virtual ~TSegment() = default;

  virtual double GetSampleRate() const;        // 0 without a modifier
  virtual std::int32_t GetPointCount() const;  // max(ceil(rate * Duration), 1)
  virtual double GetMax() const;
  virtual double GetMin() const;
  // Value at curve time t (the modifier sees t - Start); 0 without a modifier.
  virtual double GetValue(double t) const;
  // GetValue without the virtual call, for callers that know the segment is a plain TSegment.
  double PlainValue(double t) const {
    if (sines_ >= 0 && shapeOf_ == Modifier.get()) return ShapeValue(t - Start);
    return Modifier ? Modifier->GetValue(t - Start) : 0.0;
  }

  // Whether the value is the same at every time, without a virtual call for the usual level.
  bool Held() const {
    if (!Modifier) return true;
    if (sines_ == 0 && !base_.k && shapeOf_ == Modifier.get()) return true;
    return Modifier->IsConstant();
  }

  // A copy of the closed form's constants, for loops over many samples of one segment (locals
  // cannot alias the output the loop writes).
  struct ClosedForm {
    struct Linear {
      double c = 0, k = 0;
      bool ramp = false;
      double Value(double t) const { return ramp ? c + t * k : c; }
      double Mean(double t) const { return ramp ? c + k * t / 2.0 : c; }
    };
    struct Sine {
      Linear amplitude, frequency;
      double phase = 0;
      double Value(double t) const {
        return amplitude.Value(t) * std::sin(kTwoPi * frequency.Mean(t) * t + phase);
      }
    };
    int sines = 0;
    bool plusZero = false;
    double start = 0;
    Linear base;
    Sine sine[2];
    // Values at the curve times t[0..n) into out[0..n), the same bits as Value for each: the
    // sine calls are left alone and the arithmetic around them runs over a block at once.
    void Values(const double* t, double* out, std::size_t n) const;
    // The same at the times (from + j * step) / rate + offset, j = 0..n, as the sampling
    // cursor forms them; no array of times needed.
    void ValuesOnGrid(double from, double step, double rate, double offset, double* out,
                      std::size_t n) const;
    // Samples a block holds at most (the callers' scratch arrays).
    static constexpr std::size_t kBlock = 128;
    // Value at curve time t, the same bits as GetValue.
    double Value(double t) const {
      const double local = t - start;
      switch (sines) {
        case 0:
          return plusZero ? base.Value(local) + 0.0 : base.Value(local);
        case 1:
          return base.Value(local) + sine[0].Value(local);
        default:
          return base.Value(local) + (sine[0].Value(local) + sine[1].Value(local));
      }
    }
  };
  // False when the modifier tree has no closed form (or the segment is a subclass).
  bool GetClosedForm(ClosedForm& out) const;

  double Start;
  double Duration;
  // The tree's shape is fixed once the segment is built (its constants may change).
  TModifierPtr Modifier;

 private:
  // Closed form of the builder's usual trees (a level or ramp plus up to two sines) with the
  // very same arithmetic as the tree, without its virtual calls: sampling hours of a 50 us grid
  // spends its time here.
  struct Linear {
    const double* c = nullptr;
    const double* k = nullptr;  // null: a level
  };
  struct Sine {
    Linear amplitude, frequency;
    const double* phase = nullptr;
  };
  void RecognizeShape();
  double ShapeValue(double t) const;

  const TModifier* shapeOf_ = nullptr;  // the tree the closed form was taken from
  int sines_ = -1;                      // -1: no closed form
  bool plusZero_ = false;               // ramp + an absent superposition
  Linear base_;
  Sine sine_[2];
};

// One node of the segment list; owns its segment.
struct TContainer {
  explicit TContainer(std::unique_ptr<TSegment> item) : Item(std::move(item)) {}
  std::unique_ptr<TSegment> Item;
  TContainer* Next = nullptr;
};

class TWaveform {
 public:
  TWaveform() = default;
  TWaveform(const TWaveform&) = delete;
  TWaveform& operator=(const TWaveform&) = delete;
  virtual ~TWaveform() = default;

  virtual void Clear();
  virtual double GetDuration() const;  // end of the last segment; 0 when empty
  virtual double GetMin() const;       // 0 when empty
  virtual double GetMax() const;       // 0 when empty
  virtual double GetSampleRate() const;
  virtual std::int32_t GetPointCount() const;
  virtual void Append(std::unique_ptr<TSegment> segment);
  virtual void RemoveLast();

  // Sampling cursor: every `step`-th point of a grid of `rate` points per second, from
  // startTime on. Used by one reader at a time (the count sampler).
  virtual void StartSampling(std::uint32_t step, std::uint32_t rate, double startTime);
  // Value of the next grid sample and its grid index. Past the end the final value holds; an
  // empty waveform yields MaxValue.
  virtual double NextSample(std::uint64_t& index);
  // The next n samples into out, exactly as n calls of NextSample; returns the first's index.
  // held, when given, tells whether all n came from one held level (or the end) at once.
  std::uint64_t NextSamples(double* out, std::size_t n, bool* held = nullptr);
  // A stretch [Begin, End) of a block's samples that all came from one held level (or the end).
  struct HeldRun {
    std::uint32_t Begin = 0, End = 0;
  };
  // As NextSamples, and what the count sampler needs to pass over held levels: the block's
  // stretches of two or more samples from one held level go into runs (room for n entries),
  // their number into runCount. With minRun > 0 the block may end early: right after its second
  // sample (its third at the earliest) from a held level that lasts at least minRun samples
  // beyond, or from the end, where the sampler can skip the rest of the level instead of
  // evaluating it. Returns the number of samples written.
  std::size_t NextBlock(double* out, std::size_t n, bool* held, HeldRun* runs,
                        std::size_t& runCount, std::size_t minRun);
  // Whether the cursor moved on to another node after the most recent sample.
  bool CursorMovedOnLastSample() const { return lastMoved_; }

  // Segment walk (read-only, safe for several readers at once).
  const TContainer* First() const { return head_; }
  // The segment of `node`, then node moves on; nullptr when node is nullptr.
  TSegment* NextSegment(const TContainer*& node) const;
  // The segment after the node reached by walking at most n nodes from the head.
  TSegment* SegmentAfter(std::int32_t n) const;
  // Value of the first segment with Start <= t < Start + Duration; 0 when none.
  double ValueAt(double t) const;

  bool Empty() const { return head_ == nullptr; }
  std::size_t SegmentCount() const { return nodes_.size(); }
  const TContainer* Head() const { return head_; }
  const TContainer* Tail() const { return tail_; }

  // Device limits, written by a device before sampling.
  double MinValue = 0.0;
  double MaxValue = 0.0;
  double Resolution = 0.0;

  // Cursor state (read by tests and the count sampler).
  const TContainer* CursorNode() const { return cursor_; }
  double TimeOffset() const { return timeOffset_; }
  std::uint64_t SampleIndex() const { return sampleIndex_; }
  std::uint32_t Step() const { return step_; }
  std::uint32_t Rate() const { return rate_; }
  // Skips the cursor forward to grid index `index` (>= SampleIndex, same step phase) without
  // evaluating the samples in between.
  void AdvanceSampling(std::uint64_t index);

 private:
  void MoveCursorPast(double tau);
  // runs may be null; minRun 0: never ends early.
  std::size_t Sample(double* out, std::size_t n, bool* held, HeldRun* runs, std::size_t* runCount,
                     std::size_t minRun);

  // A deque keeps node addresses stable while appending and removing at the end.
  std::deque<TContainer> nodes_;
  TContainer* head_ = nullptr;
  TContainer* tail_ = nullptr;

  const TContainer* cursor_ = nullptr;
  double timeOffset_ = 0.0;
  std::uint64_t sampleIndex_ = 0;  // 64 bits: a 32-bit grid index wraps after 59 hours
  std::uint32_t step_ = 1;
  std::uint32_t rate_ = 1;
  bool lastMoved_ = false;
};

// Mirrors TAddModifier, TGradientModifier and TSineModifier operation by operation.
inline double TSegment::ShapeValue(double t) const {
  auto value = [t](const Linear& l) { return l.k ? *l.c + t * *l.k : *l.c; };
  auto mean = [t](const Linear& l) { return l.k ? *l.c + *l.k * t / 2.0 : *l.c; };
  auto sine = [&](const Sine& s) {
    return value(s.amplitude) * std::sin(kTwoPi * mean(s.frequency) * t + *s.phase);
  };
  switch (sines_) {
    case 0:
      return plusZero_ ? value(base_) + 0.0 : value(base_);
    case 1:
      return value(base_) + sine(sine_[0]);
    default:
      return value(base_) + (sine(sine_[0]) + sine(sine_[1]));
  }
}

}  // namespace ondrevo
