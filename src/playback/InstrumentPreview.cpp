#include "playback/InstrumentPreview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"
#include "model/Builder.h"
#include "model/Samplers.h"

namespace ondrevo {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = kTwoPi / 2.0;
// Pieces of a staircase step shorter than this are rounding between two boundaries that agree.
constexpr double kShortestPiece = 1e-9;
// Sample indexes k of a rate stay exact doubles below 2^53: up to there k + 1 always moves on,
// beyond it k + 1 == k and a walk over the samples would never end.
constexpr double kExactIndexes = 9007199254740992.0;

// Refuses a walk over the samples k / rate up to time `to` that could not move on.
void CheckSampleWalk(double rate, double to) {
  if (std::fabs(to) * rate < kExactIndexes) return;
  throw ESamplerError(_("A superposition is too fast to be sampled this far from the start of "
                        "the curve:") +
                      (" " + FormatGeneral(to) + " s"));
}

struct Range {
  double lo = 0.0, hi = 0.0;
};

Range Add(Range a, Range b) {
  return {a.lo + b.lo, a.hi + b.hi};
}

double Peak(Range r) {
  return std::max(std::fabs(r.lo), std::fabs(r.hi));
}

// Bounds of a modifier over local times [a, b] that hold for every tree the builder makes (and
// for any parameter values), unlike GetMin/GetMax, which assume a sawtooth never runs backwards.
Range Bound(const TModifier* m, double a, double b) {
  if (!m) return {0.0, 0.0};
  if (auto c = dynamic_cast<const TConstantModifier*>(m)) return {c->Value, c->Value};
  if (auto add = dynamic_cast<const TAddModifier*>(m))
    return Add(Bound(add->Left.get(), a, b), Bound(add->Right.get(), a, b));
  if (auto g = dynamic_cast<const TGradientModifier*>(m)) {
    const Range k = g->Slope ? Bound(g->Slope.get(), a, b) : Range{1.0, 1.0};
    const double p[4] = {k.lo * a, k.lo * b, k.hi * a, k.hi * b};
    return {*std::min_element(p, p + 4), *std::max_element(p, p + 4)};
  }
  auto amplitude = [&](const TModifierPtr& x) { return x ? Peak(Bound(x.get(), a, b)) : 1.0; };
  if (auto s = dynamic_cast<const TSineModifier*>(m)) {
    const double p = amplitude(s->Amplitude);
    return {-p, p};
  }
  if (auto s = dynamic_cast<const TSquareModifier*>(m)) {
    const double p = amplitude(s->Amplitude);
    return {-p, p};
  }
  if (auto s = dynamic_cast<const TTriangleModifier*>(m)) {
    const double p = amplitude(s->Amplitude);
    return {-p, p};
  }
  if (auto s = dynamic_cast<const TSawtoothModifier*>(m)) {
    const double p = amplitude(s->Amplitude);
    // The fraction is taken towards zero: before the phase origin the wave reaches 3 A.
    const bool forward = (!s->Frequency || Bound(s->Frequency.get(), a, b).lo > 0) &&
                         (!s->Phase || Bound(s->Phase.get(), a, b).lo >= -kPi);
    return forward ? Range{-p, p} : Range{-3 * p, 3 * p};
  }
  return {-kInf, kInf};
}

// Evaluates one segment at curve times, through the closed form where there is one.
class SegmentProbe {
 public:
  explicit SegmentProbe(const TSegment& s) : segment_(s) {
    closed_ = s.GetClosedForm(form_);
    linear_ = !s.Modifier || (closed_ && form_.sines == 0);
  }
  double operator()(double t) const { return closed_ ? form_.Value(t) : segment_.GetValue(t); }
  // Levels and ramps: the extremes of a piece are at its ends.
  bool Linear() const { return linear_; }

 private:
  const TSegment& segment_;
  TSegment::ClosedForm form_;
  bool closed_ = false;
  bool linear_ = false;
};

class Deviation {
 public:
  Deviation(CurvePreview& out, const std::atomic<bool>* cancelled)
      : out_(out), cancelled_(cancelled) {}

  void At(double t, double value, double level) {
    const double d = std::fabs(value - level);
    if (d > out_.MaxDeviation) {
      out_.MaxDeviation = d;
      out_.DeviationTime = t;
    }
  }
  double Best() const { return out_.MaxDeviation; }
  void Poll() {
    if (cancelled_ && (++polls_ & 0xFFFF) == 0 && cancelled_->load()) throw EPreviewCancelled();
  }
  void Check() const {
    if (cancelled_ && cancelled_->load()) throw EPreviewCancelled();
  }

 private:
  CurvePreview& out_;
  const std::atomic<bool>* cancelled_;
  std::uint64_t polls_ = 0;
};

// One step's level over [a, b) of a segment.
void MeasurePiece(const TSegment& seg, const SegmentProbe& probe, double a, double b, double level,
                  double rate, Deviation& dev) {
  dev.At(a, probe(a), level);
  if (probe.Linear()) {
    dev.At(b, probe(b), level);
    return;
  }
  // A piece whose bound cannot beat the deviation found so far is not evaluated; values within
  // 1e-9 of their size count as equal.
  const Range r = Bound(seg.Modifier.get(), a - seg.Start, b - seg.Start);
  const double reach = std::max(r.hi - level, level - r.lo);
  const double tolerance =
      1e-9 * (1.0 + std::max({std::fabs(r.lo), std::fabs(r.hi), std::fabs(level)}));
  if (reach <= dev.Best() + tolerance) return;
  if (!(rate > 0) || !std::isfinite(rate)) {
    dev.At(b, probe(b), level);
    return;
  }
  CheckSampleWalk(rate, b);
  for (double k = std::floor(a * rate) + 1;; k += 1) {
    const double t = k / rate;
    if (t >= b) break;
    dev.At(t, probe(t), level);
    if (dev.Best() + tolerance >= reach) return;
    dev.Poll();
  }
  // The last moment the level plays, as the sampler sees it (its samples lie kSamplerEpsilon
  // after the grid): a slow wave moves furthest from a held level there.
  if (b - a > 2 * kSamplerEpsilon && b < seg.Start + seg.Duration)
    dev.At(b - kSamplerEpsilon, probe(b - kSamplerEpsilon), level);
}

void FindClipping(const TWaveform& design, CurvePreview& out) {
  std::int32_t row = 0;
  // Stretches beyond the same limit that meet are one finding.
  std::vector<ClipFinding> sides[2];
  auto add = [&](ClipFinding f) {
    std::vector<ClipFinding>& list = sides[f.Above ? 0 : 1];
    if (!list.empty() && std::fabs(list.back().To - f.From) < kShortestPiece) {
      list.back().To = f.To;
      list.back().Excess = std::max(list.back().Excess, f.Excess);
      return;
    }
    list.push_back(f);
  };
  for (const TContainer* n = design.First(); n; n = n->Next, ++row) {
    const TSegment& seg = *n->Item;
    if (!(seg.Duration > 0)) continue;
    const double s = seg.Start, e = seg.Start + seg.Duration;
    const SegmentProbe probe(seg);
    for (const bool above : {true, false}) {
      const double limit = above ? design.MaxValue : design.MinValue;
      auto beyond = [&](double v) { return above ? v - limit : limit - v; };
      if (probe.Linear()) {
        const double y0 = probe(s), y1 = probe(e);
        const double b0 = beyond(y0), b1 = beyond(y1);
        if (std::max(b0, b1) <= kSamplerEpsilon) continue;
        double from = s, to = e;
        if (b0 <= 0 || b1 <= 0) {  // crosses the limit inside the segment
          const double tc = s + seg.Duration * (limit - y0) / (y1 - y0);
          (b0 > 0 ? to : from) = tc;
        }
        add({row, from, to, limit, std::max(b0, b1), above});
      } else {
        const Range r = Bound(seg.Modifier.get(), 0.0, seg.Duration);
        const double excess = beyond(above ? r.hi : r.lo);
        if (excess > kSamplerEpsilon) add({row, s, e, limit, excess, above});
      }
    }
  }
  out.Clipping = sides[0];
  out.Clipping.insert(out.Clipping.end(), sides[1].begin(), sides[1].end());
  std::stable_sort(out.Clipping.begin(), out.Clipping.end(),
                   [](const ClipFinding& x, const ClipFinding& y) { return x.From < y.From; });
}

// Point boundaries on the sampler's grid where the durations allow it, so that they meet the
// design's segment boundaries exactly.
TDoubleVector PointTimes(const TDoubleVector& durations) {
  TDoubleVector times(durations.size() + 1, 0.0);
  std::int64_t steps = 0;
  double sum = 0.0;
  bool onGrid = true;
  for (std::size_t j = 0; j < durations.size(); ++j) {
    const double x = durations[j] * kGridRate;
    const double whole = std::round(x);
    onGrid = onGrid && std::fabs(x - whole) < 1e-6;
    steps += static_cast<std::int64_t>(whole);
    sum += durations[j];
    times[j + 1] = onGrid ? static_cast<double>(steps) / kGridRate : sum;
  }
  return times;
}

std::string ClipText(const ClipFinding& f, bool voltage) {
  const char* pattern =
      voltage
          ? (f.Above ? _("voltage above {limit} V by up to {excess} V from {from} s to {to} s")
                     : _("voltage below {limit} V by up to {excess} V from {from} s to {to} s"))
          : (f.Above ? _("current above {limit} A by up to {excess} A from {from} s to {to} s")
                     : _("current below {limit} A by up to {excess} A from {from} s to {to} s"));
  return FillPlaceholders(pattern, {{"limit", FormatSignificant(f.Limit, 6)},
                                    {"excess", FormatSignificant(f.Excess, 3)},
                                    {"from", FormatSignificant(f.From, 6)},
                                    {"to", FormatSignificant(f.To, 6)}});
}

// More than ten resolution steps away from the design somewhere.
bool TooFar(const CurvePreview& c) {
  return c.Designed && c.MaxDeviation > 10 * c.Resolution + 1e-12;
}

}  // namespace

TCurveFunction DesignFunction(const TWaveform& design) {
  std::vector<const TSegment*> segments;
  for (const TContainer* n = design.First(); n; n = n->Next)
    if (n->Item->Duration > 0) segments.push_back(n->Item.get());
  return [segments = std::move(segments)](double t) {
    if (segments.empty()) return 0.0;
    auto it = std::upper_bound(segments.begin(), segments.end(), t,
                               [](double x, const TSegment* s) { return x < s->Start; });
    const TSegment* s = it == segments.begin() ? segments.front() : *(it - 1);
    const double end = s->Start + s->Duration;
    if (t >= end) t = std::nextafter(end, -kInf);
    return s->GetValue(std::max(t, s->Start));
  };
}

TCurveFunction DesignFunction(std::shared_ptr<const TWaveform> design) {
  return [design, f = DesignFunction(*design)](double t) { return f(t); };
}

namespace {

// Looks at every played edge from both sides, the middle of every point and an even grid, so
// that each stretch beyond the tolerance is found where it begins and ends.
void MeasureStretches(const TWaveform& design, const TDoubleVector& times,
                      const TDoubleVector& played, double minDwell, CurvePreview& out) {
  constexpr int kGridSamples = 20000;
  const double end = times.empty() ? 0.0 : times.back();
  if (!(end > 0)) return;
  const double tiny = end * 1e-9;
  std::vector<double> edges;
  edges.reserve(3 * times.size());
  for (std::size_t j = 0; j + 1 < times.size(); ++j) {
    edges.push_back(times[j]);
    edges.push_back((times[j] + times[j + 1]) / 2);
    edges.push_back(times[j + 1] - tiny);
  }
  // Both lists are ascending but for points shorter than `tiny`: a merge instead of a sort of
  // the whole, which took as long as a good part of the comparison.
  if (!std::is_sorted(edges.begin(), edges.end())) std::sort(edges.begin(), edges.end());
  std::vector<double> grid(kGridSamples + 1);
  for (int k = 0; k <= kGridSamples; ++k) grid[k] = end * k / kGridSamples;
  std::vector<double> at(edges.size() + grid.size());
  std::merge(edges.begin(), edges.end(), grid.begin(), grid.end(), at.begin());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  while (!at.empty() && at.back() >= end) at.pop_back();
  DeviationOptions o;
  o.Tolerance = std::max(out.Resolution, 1e-9 * (1.0 + std::fabs(out.MaxValue)));
  o.ShiftWindow = std::max(minDwell, end / kGridSamples);
  TDoubleVector starts(times.begin(), times.end() - 1);
  out.Stretches =
      CompareCurves(DesignFunction(design), StaircaseFunction(std::move(starts), played), at, o);
}

std::string MissingVoltageText(const InstrumentPreview& p) {
  return FillPlaceholders(_("no voltage curve: the supply plays its maximum, {limit} V"),
                          {{"limit", FormatSignificant(p.Settings.MaxVoltage, 6)}});
}

std::string MissingCurrentText(const InstrumentPreview& p) {
  return FillPlaceholders(_("no current curve: limit {limit} A"),
                          {{"limit", FormatSignificant(p.Settings.MaxCurrent, 6)}});
}

}  // namespace

bool InstrumentPreview::DeviationTooLarge() const {
  return TooFar(Voltage) || TooFar(Current);
}

bool InstrumentPreview::Fits() const {
  return !MissingVoltage() && Voltage.Clipping.empty() && Current.Clipping.empty() &&
         Voltage.Memory.empty() && Current.Memory.empty() && !DeviationTooLarge();
}

void MeasureCurve(const TWaveform& design, const TDoubleVector& times, const TDoubleVector& played,
                  CurvePreview& out, const std::atomic<bool>* cancelled) {
  out.Designed = !design.Empty();
  out.Duration = design.GetDuration();
  out.SampleRate = design.GetSampleRate();
  out.MinValue = design.MinValue;
  out.MaxValue = design.MaxValue;
  out.Resolution = design.Resolution;
  out.MaxDeviation = 0.0;
  out.Stretches = {};
  out.DeviationTime = 0.0;
  out.Clipping.clear();
  if (!out.Designed) return;
  FindClipping(design, out);

  Deviation dev(out, cancelled);
  const std::size_t n = played.size();
  std::size_t j = 0;
  for (const TContainer* node = design.First(); node && j < n; node = node->Next) {
    const TSegment& seg = *node->Item;
    if (!(seg.Duration > 0)) continue;
    const double s = seg.Start, e = seg.Start + seg.Duration;
    const SegmentProbe probe(seg);
    while (j < n && times[j + 1] <= s) ++j;
    for (; j < n && times[j] < e; ++j) {
      const double a = std::max(s, times[j]), b = std::min(e, times[j + 1]);
      if (b - a > kShortestPiece) MeasurePiece(seg, probe, a, b, played[j], out.SampleRate, dev);
      if (times[j + 1] > e) break;  // the step goes on into the next segment
    }
    dev.Check();
  }
}

void DesignEnvelope(const TWaveform& design, double t0, double t1, int columns, TDoubleVector& lo,
                    TDoubleVector& hi) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  lo.assign(std::max(columns, 0), nan);
  hi.assign(std::max(columns, 0), nan);
  if (columns <= 0 || !(t1 > t0)) return;
  const double width = (t1 - t0) / columns;
  auto put = [&](int c, double v) {
    if (std::isnan(lo[c]) || v < lo[c]) lo[c] = v;
    if (std::isnan(hi[c]) || v > hi[c]) hi[c] = v;
  };
  constexpr double kFewSamples = 64;
  for (const TContainer* n = design.First(); n; n = n->Next) {
    const TSegment& seg = *n->Item;
    if (!(seg.Duration > 0)) continue;
    const double s = seg.Start, e = seg.Start + seg.Duration;
    if (e <= t0 || s >= t1) continue;
    const SegmentProbe probe(seg);
    const double rate = probe.Linear() ? 0.0 : seg.GetSampleRate();
    const int first = std::clamp(static_cast<int>(std::floor((s - t0) / width)), 0, columns - 1);
    const int last = std::clamp(static_cast<int>(std::floor((e - t0) / width)), 0, columns - 1);
    for (int c = first; c <= last; ++c) {
      const double a = std::max(s, t0 + c * width), b = std::min(e, t0 + (c + 1) * width);
      if (b < a) continue;
      put(c, probe(a));
      // A periodic segment's closing instant belongs to the next period, which never plays.
      if (probe.Linear() || b < e) put(c, probe(b));
      if (probe.Linear() || !(rate > 0) || !std::isfinite(rate)) continue;
      // Few samples are drawn one by one while their indexes stay exact; else the bound.
      if ((b - a) * rate <= kFewSamples && b * rate < kExactIndexes) {
        for (double k = std::floor(a * rate) + 1; k / rate < b; k += 1) put(c, probe(k / rate));
      } else {
        const Range r = Bound(seg.Modifier.get(), a - s, b - s);
        if (std::isfinite(r.lo) && std::isfinite(r.hi)) {
          put(c, r.lo);
          put(c, r.hi);
        }
      }
    }
  }
}

InstrumentPreview ComputeInstrumentPreview(const SegmentTable& voltage, const SegmentTable& current,
                                           const SupplyListSettings& settings,
                                           TPreviewCancel* cancel) {
  TPreviewCancel own;
  TPreviewCancel& c = cancel ? *cancel : own;
  InstrumentPreview p;
  p.Settings = settings;
  auto v = BuildWaveform(voltage);
  auto i = BuildWaveform(current);
  if (c.Cancelled()) throw EPreviewCancelled();
  SupplyPointList list = SampleSupplyList(settings, *v, *i, c.Sampler);
  if (c.Cancelled() || c.Sampler.Aborted()) throw EPreviewCancelled();
  p.Durations = std::move(list.Durations);
  p.Values = std::move(list.Values);
  p.Times = PointTimes(p.Durations);
  MeasureCurve(*v, p.Times, p.Values[0], p.Voltage, c.Flag());
  MeasureCurve(*i, p.Times, p.Values[1], p.Current, c.Flag());
  if (TooFar(p.Voltage))
    MeasureStretches(*v, p.Times, p.Values[0], settings.MinDwellTime, p.Voltage);
  if (c.Cancelled()) throw EPreviewCancelled();
  if (TooFar(p.Current))
    MeasureStretches(*i, p.Times, p.Values[1], settings.MinDwellTime, p.Current);
  p.Voltage.Memory = CheckSuperpositionMemory(voltage);
  p.Current.Memory = CheckSuperpositionMemory(current);
  return p;
}

InstrumentPreview ComputeLimitFindings(const SegmentTable& voltage, const SegmentTable& current,
                                       const SupplyListSettings& settings) {
  InstrumentPreview p;
  p.Settings = settings;
  auto v = BuildWaveform(voltage);
  auto i = BuildWaveform(current);
  TCountSampler unused;
  PrepareListSampling(settings, *v, *i, unused);
  MeasureCurve(*v, {0.0}, {}, p.Voltage);
  MeasureCurve(*i, {0.0}, {}, p.Current);
  return p;
}

std::string PreviewSummary(const InstrumentPreview& p) {
  std::string text = FillPlaceholders(
      _("{points} of {budget} points"),
      {{"points", std::to_string(p.PointCount())}, {"budget", std::to_string(p.Budget())}});
  auto deviation = [](const CurvePreview& c, const char* pattern) {
    std::string text = FillPlaceholders(pattern, {{"value", FormatSignificant(c.MaxDeviation, 3)},
                                                  {"time", FormatSignificant(c.DeviationTime, 6)}});
    const std::string remark = TimingRemark(c.Stretches);
    return remark.empty() ? text : text + ", " + remark;
  };
  if (p.Voltage.Designed)
    text += " \u00b7 " + deviation(p.Voltage, _("max deviation {value} V at {time} s"));
  else
    text += " \u00b7 " + MissingVoltageText(p);
  if (p.Current.Designed)
    text += " \u00b7 " + deviation(p.Current, _("max deviation {value} A at {time} s"));
  else
    text += " \u00b7 " + MissingCurrentText(p);
  return text;
}

std::vector<std::string> SilentChangeFindings(const InstrumentPreview& p) {
  std::vector<std::string> lines;
  if (p.MissingVoltage()) lines.push_back(MissingVoltageText(p));
  for (const ClipFinding& f : p.Voltage.Clipping) lines.push_back(ClipText(f, true));
  for (const ClipFinding& f : p.Current.Clipping) lines.push_back(ClipText(f, false));
  if (p.MissingCurrent()) lines.push_back(MissingCurrentText(p));
  return lines;
}

std::vector<std::string> PreviewFindings(const InstrumentPreview& p) {
  std::vector<std::string> lines;
  if (p.MissingVoltage()) lines.push_back(MissingVoltageText(p));
  for (const ClipFinding& f : p.Voltage.Clipping) lines.push_back(ClipText(f, true));
  for (const ClipFinding& f : p.Current.Clipping) lines.push_back(ClipText(f, false));
  auto memory = [&](const CurvePreview& c, const char* pattern) {
    for (const SuperpositionMemoryFinding& f : c.Memory)
      lines.push_back(FillPlaceholders(pattern, {{"segment", std::to_string(f.Segment + 1)}}) +
                      " " + _(f.Message));
  };
  memory(p.Voltage, _("voltage segment {segment}:"));
  memory(p.Current, _("current segment {segment}:"));
  auto deviation = [&](const CurvePreview& c, const char* pattern) {
    if (!TooFar(c)) return;
    std::string text = FillPlaceholders(pattern, {{"value", FormatSignificant(c.MaxDeviation, 3)},
                                                  {"time", FormatSignificant(c.DeviationTime, 6)}});
    const std::string remark = TimingRemark(c.Stretches);
    lines.push_back(remark.empty() ? text : text + ": " + remark);
  };
  deviation(p.Voltage,
            _("voltage: the played staircase deviates by {value} V at {time} s, more than ten "
              "resolution steps"));
  deviation(p.Current,
            _("current: the played staircase deviates by {value} A at {time} s, more than ten "
              "resolution steps"));
  if (p.MissingCurrent()) lines.push_back(MissingCurrentText(p));
  return lines;
}

}  // namespace ondrevo
