#include "model/Waveform.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <typeinfo>

#include "document/Numbers.h"

namespace ondrevo {

TSegment::TSegment(TModifierPtr modifier, double start, double duration)
    : Start(start), Duration(duration), Modifier(std::move(modifier)) {
  RecognizeShape();
}

namespace {

// Grid indices below 2^53 convert to doubles exactly.
constexpr std::uint64_t kExactIndices = std::uint64_t{1} << 53;

const TConstantModifier* AsConstant(const TModifier* m) {
  return dynamic_cast<const TConstantModifier*>(m);
}

}  // namespace

void TSegment::RecognizeShape() {
  shapeOf_ = Modifier.get();
  sines_ = -1;
  plusZero_ = false;
  if (!Modifier) return;
  // Const(c) or Add(Const(c), Gradient(Const(k))), as MakeRamp builds them.
  auto linear = [](const TModifier* m, Linear& out) {
    if (const auto* c = AsConstant(m)) {
      out = {&c->Value, nullptr};
      return true;
    }
    const auto* add = dynamic_cast<const TAddModifier*>(m);
    if (!add || !add->Left || !add->Right) return false;
    const auto* c = AsConstant(add->Left.get());
    const auto* g = dynamic_cast<const TGradientModifier*>(add->Right.get());
    const auto* k = g && g->Slope ? AsConstant(g->Slope.get()) : nullptr;
    if (!c || !k) return false;
    out = {&c->Value, &k->Value};
    return true;
  };
  auto sine = [&](const TModifier* m, Sine& out) {
    const auto* s = dynamic_cast<const TSineModifier*>(m);
    if (!s || !s->Amplitude || !s->Frequency || !s->Phase) return false;
    const auto* phase = AsConstant(s->Phase.get());
    if (!phase || !linear(s->Amplitude.get(), out.amplitude) ||
        !linear(s->Frequency.get(), out.frequency))
      return false;
    out.phase = &phase->Value;
    return true;
  };
  if (linear(Modifier.get(), base_)) {
    sines_ = 0;
    return;
  }
  const auto* add = dynamic_cast<const TAddModifier*>(Modifier.get());
  if (!add || !add->Left || !linear(add->Left.get(), base_)) return;
  if (!add->Right) {
    sines_ = 0;
    plusZero_ = true;
  } else if (sine(add->Right.get(), sine_[0])) {
    sines_ = 1;
  } else if (const auto* pair = dynamic_cast<const TAddModifier*>(add->Right.get());
             pair && pair->Left && pair->Right && sine(pair->Left.get(), sine_[0]) &&
             sine(pair->Right.get(), sine_[1])) {
    sines_ = 2;
  }
}

bool TSegment::GetClosedForm(ClosedForm& out) const {
  if (sines_ < 0 || shapeOf_ != Modifier.get() || typeid(*this) != typeid(TSegment)) return false;
  auto linear = [](const Linear& l) {
    ClosedForm::Linear r;
    r.c = *l.c;
    r.ramp = l.k != nullptr;
    r.k = l.k ? *l.k : 0.0;
    return r;
  };
  out.sines = sines_;
  out.plusZero = plusZero_;
  out.start = Start;
  out.base = linear(base_);
  for (int i = 0; i < sines_; ++i) {
    out.sine[i].amplitude = linear(sine_[i].amplitude);
    out.sine[i].frequency = linear(sine_[i].frequency);
    out.sine[i].phase = *sine_[i].phase;
  }
  return true;
}

namespace {

using ClosedForm = TSegment::ClosedForm;

// The sine term's arguments at local times x[j], operation for operation as ClosedForm::Sine.
void SineArguments(const ClosedForm::Sine& s, const double* x, double* out, std::size_t n) {
  const double phase = s.phase;
  if (s.frequency.ramp) {
    const double c = s.frequency.c, k = s.frequency.k;
    for (std::size_t j = 0; j < n; ++j) out[j] = kTwoPi * (c + k * x[j] / 2.0) * x[j] + phase;
  } else {
    const double f = kTwoPi * s.frequency.c;
    for (std::size_t j = 0; j < n; ++j) out[j] = f * x[j] + phase;
  }
}

// sin in place: the scalar library call for every value, two to a loop step.
void Sines(double* v, std::size_t n) {
  std::size_t j = 0;
  for (; j + 2 <= n; j += 2) {
    v[j] = std::sin(v[j]);
    v[j + 1] = std::sin(v[j + 1]);
  }
  if (j < n) v[j] = std::sin(v[j]);
}

// out[j] = base + amplitude * sine (+ the second term) at local time x[j], in one pass.
void Combine(const ClosedForm& f, const double* x, const double* first, const double* second,
             double* out, std::size_t n) {
  const ClosedForm::Linear &base = f.base, &a0 = f.sine[0].amplitude, &a1 = f.sine[1].amplitude;
  if (f.sines == 1 && !base.ramp && !a0.ramp) {  // a level and a steady sine: the usual case
    const double c = base.c, a = a0.c;
    for (std::size_t j = 0; j < n; ++j) out[j] = c + a * first[j];
    return;
  }
  for (std::size_t j = 0; j < n; ++j) {
    const double term = a0.Value(x[j]) * first[j];
    out[j] = base.Value(x[j]) + (f.sines == 2 ? term + a1.Value(x[j]) * second[j] : term);
  }
}

// Values at the local times x[0..n), n <= kBlock.
void FromLocal(const ClosedForm& f, const double* x, double* out, std::size_t n) {
  if (f.sines == 0) {
    for (std::size_t j = 0; j < n; ++j) out[j] = f.base.Value(x[j]);
    if (f.plusZero)
      for (std::size_t j = 0; j < n; ++j) out[j] = out[j] + 0.0;
    return;
  }
  double first[ClosedForm::kBlock], second[ClosedForm::kBlock];
  SineArguments(f.sine[0], x, first, n);
  Sines(first, n);
  if (f.sines == 2) {
    SineArguments(f.sine[1], x, second, n);
    Sines(second, n);
  }
  Combine(f, x, first, second, out, n);
}

}  // namespace

void TSegment::ClosedForm::Values(const double* t, double* out, std::size_t n) const {
  double local[kBlock];
  for (std::size_t done = 0; done < n; done += kBlock) {
    const std::size_t m = std::min(kBlock, n - done);
    for (std::size_t j = 0; j < m; ++j) local[j] = t[done + j] - start;
    FromLocal(*this, local, out + done, m);
  }
}

void TSegment::ClosedForm::ValuesOnGrid(double from, double step, double rate, double offset,
                                        double* out, std::size_t n) const {
  double local[kBlock];
  for (std::size_t done = 0; done < n; done += kBlock) {
    const std::size_t m = std::min(kBlock, n - done);
    for (std::size_t j = 0; j < m; ++j) {
      const double i = static_cast<double>(static_cast<std::int32_t>(done + j));
      local[j] = ((from + i * step) / rate + offset) - start;
    }
    FromLocal(*this, local, out + done, m);
  }
}

double TSegment::GetSampleRate() const {
  return Modifier ? Modifier->GetSampleRate(0.0, Duration) : 0.0;
}

std::int32_t TSegment::GetPointCount() const {
  if (!Modifier) return 1;
  const double n = std::ceil(GetSampleRate() * Duration);
  // A degenerate rate (duty cycle 0, say) must not overflow the count.
  if (!(n < static_cast<double>(std::numeric_limits<std::int32_t>::max())))
    return std::isnan(n) ? 1 : std::numeric_limits<std::int32_t>::max();
  return std::max(static_cast<std::int32_t>(n), std::int32_t{1});
}

double TSegment::GetMax() const {
  return Modifier ? Modifier->GetMax(0.0, Duration) : 0.0;
}
double TSegment::GetMin() const {
  return Modifier ? Modifier->GetMin(0.0, Duration) : 0.0;
}
double TSegment::GetValue(double t) const {
  return PlainValue(t);
}

void TWaveform::Clear() {
  nodes_.clear();
  head_ = tail_ = nullptr;
  cursor_ = nullptr;
}

double TWaveform::GetDuration() const {
  return tail_ ? tail_->Item->Start + tail_->Item->Duration : 0.0;
}

double TWaveform::GetMin() const {
  if (!head_) return 0.0;
  double m = head_->Item->GetMin();
  for (const TContainer* n = head_->Next; n; n = n->Next) m = std::min(m, n->Item->GetMin());
  return m;
}

double TWaveform::GetMax() const {
  if (!head_) return 0.0;
  double m = head_->Item->GetMax();
  for (const TContainer* n = head_->Next; n; n = n->Next) m = std::max(m, n->Item->GetMax());
  return m;
}

double TWaveform::GetSampleRate() const {
  double r = 0.0;
  for (const TContainer* n = head_; n; n = n->Next) r = std::max(r, n->Item->GetSampleRate());
  return r;
}

std::int32_t TWaveform::GetPointCount() const {
  std::int64_t sum = 0;
  for (const TContainer* n = head_; n; n = n->Next) sum += n->Item->GetPointCount();
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
}

void TWaveform::Append(std::unique_ptr<TSegment> segment) {
  nodes_.emplace_back(std::move(segment));
  TContainer* node = &nodes_.back();
  if (tail_)
    tail_->Next = node;
  else
    head_ = node;
  tail_ = node;
}

void TWaveform::RemoveLast() {
  if (!tail_) return;
  if (cursor_ == tail_) cursor_ = nullptr;
  nodes_.pop_back();
  if (nodes_.empty()) {
    head_ = tail_ = nullptr;
  } else {
    tail_ = &nodes_.back();
    tail_->Next = nullptr;
  }
}

void TWaveform::StartSampling(std::uint32_t step, std::uint32_t rate, double startTime) {
  const double first = RoundHalfEven(static_cast<double>(rate) * startTime);
  sampleIndex_ = first > 0.0 ? static_cast<std::uint64_t>(first) : 0;
  timeOffset_ = startTime - static_cast<double>(sampleIndex_) / rate;
  step_ = step;
  rate_ = rate;
  // A start exactly at a segment's end selects the following segment.
  const double t0 = static_cast<double>(sampleIndex_) / rate_;
  cursor_ = head_;
  while (cursor_ && t0 >= cursor_->Item->Start + cursor_->Item->Duration) cursor_ = cursor_->Next;
}

inline void TWaveform::MoveCursorPast(double tau) {
  // A sample exactly on a segment's end still comes from that segment.
  const TContainer* before = cursor_;
  while (cursor_ && cursor_->Item->Start + cursor_->Item->Duration < tau) cursor_ = cursor_->Next;
  lastMoved_ = cursor_ != before;
}

double TWaveform::NextSample(std::uint64_t& index) {
  const double tau = static_cast<double>(sampleIndex_) / rate_ + timeOffset_;
  index = sampleIndex_;
  sampleIndex_ += step_;
  if (cursor_) {
    const double value = cursor_->Item->GetValue(tau);
    MoveCursorPast(static_cast<double>(sampleIndex_) / rate_ + timeOffset_);
    return value;
  }
  lastMoved_ = false;
  if (!tail_) return MaxValue;
  const TSegment& last = *tail_->Item;
  return last.GetValue(last.Start + last.Duration);
}

std::uint64_t TWaveform::NextSamples(double* out, std::size_t n, bool* held) {
  const std::uint64_t first = sampleIndex_;
  Sample(out, n, held, nullptr, nullptr, 0);
  return first;
}

std::size_t TWaveform::NextBlock(double* out, std::size_t n, bool* held, HeldRun* runs,
                                 std::size_t& runCount, std::size_t minRun) {
  return Sample(out, n, held, runs, &runCount, minRun);
}

std::size_t TWaveform::Sample(double* out, std::size_t n, bool* held, HeldRun* runs,
                              std::size_t* runCount, std::size_t minRun) {
  const std::uint64_t first = sampleIndex_;
  if (held) *held = false;
  double tau = static_cast<double>(sampleIndex_) / rate_ + timeOffset_;
  std::size_t i = 0;
  if (runCount) *runCount = 0;
  auto run = [&](std::size_t begin, std::size_t end) {
    if (runs && end - begin >= 2)
      runs[(*runCount)++] = {static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)};
  };
  while (i < n) {
    if (!cursor_) {
      const double v =
          !tail_ ? MaxValue : tail_->Item->GetValue(tail_->Item->Start + tail_->Item->Duration);
      if (held) *held = i == 0;
      if (minRun) n = std::min(n, std::max<std::size_t>(i + 2, 3));
      run(i, n);
      for (; i < n; ++i) out[i] = v;
      sampleIndex_ = first + step_ * static_cast<std::uint64_t>(n);
      lastMoved_ = false;
      break;
    }
    const TSegment* seg = cursor_->Item.get();
    const double end = seg->Start + seg->Duration;
    const bool plain = typeid(*seg) == typeid(TSegment);
    if (plain && seg->Held()) {
      // A held level: every sample up to the last one the cursor stays for has its value.
      const double v = seg->PlainValue(tau);
      const double guess = std::floor((end - timeOffset_) * rate_);
      std::uint64_t stay = first + step_ * static_cast<std::uint64_t>(n - 1);  // block's last
      if (guess < static_cast<double>(stay)) {
        std::uint64_t j = guess > 0.0 ? static_cast<std::uint64_t>(guess) + 1 : 0;
        // The first two steps of the search below, their divisions side by side: they decide
        // in nearly every case.
        bool searching = true;
        if (const std::uint64_t top = j; top >= 2) {
          const double above = static_cast<double>(top) / rate_ + timeOffset_;
          const double below = static_cast<double>(top - 1) / rate_ + timeOffset_;
          j = !(above > end) ? top : (!(below > end) ? top - 1 : top - 2);
          searching = j == top - 2;
        }
        while (searching && j > 0 && static_cast<double>(j) / rate_ + timeOffset_ > end) --j;
        stay = j;  // the cursor stays while a sample's time is not beyond the end
      }
      // The sample due now comes from the cursor's segment in any case.
      std::size_t count = 1;
      if (stay > sampleIndex_)
        count = std::min(static_cast<std::size_t>((stay - sampleIndex_) / step_ + 1), n - i);
      if (minRun) {
        // The block ends after the level's second sample where the level lasts minRun beyond.
        const std::size_t cut = std::max<std::size_t>(i + 2, 3);
        if (cut < n && i + count >= cut) {
          const std::size_t probe = cut + minRun - 1;  // block position that must be on the level
          const bool lasts =
              i + count > probe ||
              (i + count == n &&
               !(static_cast<double>(first + step_ * std::uint64_t{probe}) / rate_ + timeOffset_ >
                 end));
          if (lasts) n = cut, count = cut - i;
        }
      }
      std::fill(out + i, out + i + count, v);
      run(i, i + count);
      if (held) *held = i == 0 && count == n;
      i += count;
      sampleIndex_ += step_ * count;
      tau = static_cast<double>(sampleIndex_) / rate_ + timeOffset_;
      lastMoved_ = false;
      if (end < tau) MoveCursorPast(tau);
      continue;
    }
    // Samples while the cursor stays on this segment: their times first, then their values
    // over the whole run at once.
    TSegment::ClosedForm form;
    if (seg->GetClosedForm(form) && sampleIndex_ + step_ * std::uint64_t{n} < kExactIndices) {
      constexpr std::size_t kBlock = TSegment::ClosedForm::kBlock;
      const double rate = rate_, offset = timeOffset_, step = step_;
      const std::size_t entered = i;
      bool left = false;
      while (i < n && !left) {
        const std::size_t m = std::min(kBlock, n - i);
        // Below 2^53 the index converts exactly, so index + j * step needs no integer.
        const double from = static_cast<double>(sampleIndex_);
        auto time = [&](std::size_t j) {
          return (from + static_cast<double>(static_cast<std::int32_t>(j)) * step) / rate + offset;
        };
        // The sample due on entry comes from this segment in any case.
        std::size_t stay = m;
        if (end < time(m - 1)) {  // rising times: only then does the cursor leave
          stay = i == entered ? 1 : 0;
          while (stay < m && !(end < time(stay))) ++stay;
        }
        form.ValuesOnGrid(from, step, rate, offset, out + i, stay);
        i += stay;
        sampleIndex_ += step_ * std::uint64_t{stay};
        left = stay < m;
      }
      tau = static_cast<double>(sampleIndex_) / rate_ + timeOffset_;
      lastMoved_ = false;
      if (end < tau) MoveCursorPast(tau);
      continue;
    }
    do {
      out[i++] = plain ? seg->PlainValue(tau) : seg->GetValue(tau);
      sampleIndex_ += step_;
      tau = static_cast<double>(sampleIndex_) / rate_ + timeOffset_;
    } while (i < n && !(end < tau));
    lastMoved_ = false;
    if (end < tau) MoveCursorPast(tau);
  }
  return n;
}

void TWaveform::AdvanceSampling(std::uint64_t index) {
  if (index <= sampleIndex_) return;
  sampleIndex_ = index;
  MoveCursorPast(static_cast<double>(sampleIndex_) / rate_ + timeOffset_);
}

TSegment* TWaveform::NextSegment(const TContainer*& node) const {
  if (!node) return nullptr;
  TSegment* segment = node->Item.get();
  node = node->Next;
  return segment;
}

TSegment* TWaveform::SegmentAfter(std::int32_t n) const {
  if (nodes_.empty()) return nullptr;
  const std::size_t reached =
      std::min<std::size_t>(n > 0 ? static_cast<std::size_t>(n) : 0, nodes_.size() - 1);
  return reached + 1 < nodes_.size() ? nodes_[reached + 1].Item.get() : nullptr;
}

double TWaveform::ValueAt(double t) const {
  for (const TContainer* n = head_; n; n = n->Next) {
    const TSegment& s = *n->Item;
    if (s.Start <= t && t < s.Start + s.Duration) return s.GetValue(t);
  }
  return 0.0;
}

}  // namespace ondrevo
