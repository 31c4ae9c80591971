#include "editor/core/Preview.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

int PreviewResolution(double f0, double f1, double minStep) {
  const double f = std::max(f0, f1);
  int n = 320;
  if (!(f > 0)) return n;
  const double quarter = 0.25 / f;
  while (n > 19 && quarter / (n / 4) < minStep) n /= 2;
  return n;
}

MemoryCheck CheckSuperpositions(const SegmentRow& seg, double t0, double t1, std::int32_t budget,
                                std::int32_t daqBudget) {
  const bool supply = budget < daqBudget;
  const SuperpositionSpec& s1 = seg.Sup1;
  const SuperpositionSpec& s2 = seg.Sup2;
  // No curve may take a frequency its samplers cannot walk, whatever the budget.
  for (const SuperpositionSpec* s : {&s1, &s2}) {
    if (s1.Kind == SuperpositionKind::None || s->Kind == SuperpositionKind::None) continue;
    for (const double f : {s->FreqStart, s->FreqEnd})
      if (!FrequencyWithinLimit(f))
        return {s == &s1 ? CheckOutcome::RefusedFirst : CheckOutcome::RefusedSecond,
                FrequencyLimitText() + " " + FormatGeneral(f) + " Hz"};
  }
  if (s1.Kind != SuperpositionKind::None && s2.Kind != SuperpositionKind::None &&
      (s2.AmpStart != 0 || s2.AmpEnd != 0)) {
    const double e2 = NeededPoints(t0, t1, s2.FreqStart, s2.FreqEnd, s2.Kind);
    if ((supply && e2 > budget) || e2 == 0) {
      return {CheckOutcome::RefusedSecond,
              e2 <= budget ? _(kDurationNotPositive) : _(kSecondSuperpositionTooLarge)};
    }
  }
  if (s1.Kind == SuperpositionKind::None) return {};
  if (t1 - t0 == 0) {
    return {CheckOutcome::FirstSwitchedOff, _(kDurationNotPositive)};
  }
  if (s1.AmpStart != 0 || s1.AmpEnd != 0) {
    const double e1 = NeededPoints(t0, t1, s1.FreqStart, s1.FreqEnd, s1.Kind);
    if (supply && e1 > budget) {
      return {CheckOutcome::RefusedFirst, _(kFirstSuperpositionTooLarge)};
    }
  }
  return {};
}

namespace {

// The time one edge width after t, at least the next representable one (beyond 16 s an edge
// width added to t would vanish and the edge would lose its direction).
double EdgeAfter(double t) {
  return std::max(t + kEdgeWidth, std::nextafter(t, std::numeric_limits<double>::infinity()));
}

struct Sweep {
  double t0, t1, f0, f1, a0, a1;
  double Frac(double t) const { return t1 > t0 ? (t - t0) / (t1 - t0) : 0; }
  double A(double t) const { return (a0 + Frac(t) * (a1 - a0)) / 2; }
};

// Phase in periods u seconds into the segment, as the played functions compute it: the sine
// runs at the mean frequency so far, the other shapes at the momentary one (so a sweep down
// may run its phase backwards).
struct Phase {
  double a, b, c;
  double At(double u) const { return a + u * (b + u * c); }
  double Rate(double u) const { return b + 2 * c * u; }
};

Phase PhaseOf(const SuperpositionSpec& s, double duration) {
  double start = std::fmod(s.Phase / 360.0, 1.0);
  if (start < 0) start += 1;
  const double slope = duration > 0 ? (s.FreqEnd - s.FreqStart) / duration : 0;
  return {start, s.FreqStart, s.Kind == SuperpositionKind::Sine ? slope / 2 : slope};
}

// The time (relative) in [lo, hi] at which a monotonic piece of the phase reaches `level`.
double TimeAtPhase(const Phase& p, double level, double lo, double hi) {
  double u;
  if (std::abs(p.c) * (hi - lo) < 1e-12 * std::max(std::abs(p.b), 1e-300)) {
    u = (level - p.a) / p.b;
  } else {
    const double k = p.a - level;
    const double disc = std::max(0.0, p.b * p.b - 4 * p.c * k);
    const double q = -0.5 * (p.b + std::copysign(std::sqrt(disc), p.b));
    const double r1 = q / p.c, r2 = q != 0 ? k / q : r1;
    const double mid = (lo + hi) / 2;
    u = std::abs(r1 - mid) <= std::abs(r2 - mid) ? r1 : r2;
  }
  return std::clamp(u, lo, hi);
}

struct Shape {
  SuperpositionKind kind;
  double duty;  // square
  int levels;   // points per period at even phase steps (triangle, sawtooth, sine)
  double Value(double pos) const {
    const double x = pos - std::floor(pos);
    switch (kind) {
      case SuperpositionKind::Square:
        return x < duty ? 1 : -1;
      case SuperpositionKind::Sawtooth:
        return x < 0.5 ? 2 * x : 2 * x - 2;
      case SuperpositionKind::Triangle:
        return x < 0.25 ? 4 * x : x < 0.75 ? 2 - 4 * x : 4 * x - 4;
      default:
        return std::sin(2 * std::numbers::pi * x);
    }
  }
  // Phase levels with a point, in one period [k, k + 1).
  std::vector<double> Levels() const {
    if (kind == SuperpositionKind::Square) return {0.0, duty};
    std::vector<double> out;
    for (int i = 0; i < levels; ++i) out.push_back(static_cast<double>(i) / levels);
    return out;
  }
  bool IsLevel(double pos) const {
    const double x = pos - std::floor(pos);
    for (double l : Levels()) {
      if (x == l) return true;
    }
    return false;
  }
  // A level where the value jumps (a vertical edge): the values on both sides, rising phase.
  bool Jump(double level, double& before, double& after) const {
    const double x = level - std::floor(level);
    if (kind == SuperpositionKind::Square) {
      before = x == 0 ? -1 : 1;
      after = -before;
      return true;
    }
    if (kind == SuperpositionKind::Sawtooth && x == 0.5) {
      before = 1;
      after = -1;
      return true;
    }
    return false;
  }
};

// Points of one shape from u = lo to u = hi (relative times), at every phase level the phase
// passes. More than `cap` points: the vertices alone (still the exact shape of a triangle or a
// sawtooth at a steady frequency), and beyond that the oscillation is drawn as its envelope, a
// band that alternates between the peaks (no aliased slow wave).
Polyline PhaseOffsets(const Shape& requested, const Phase& ph, const Sweep& w, double lo,
                      double hi, std::size_t cap) {
  Polyline out;
  std::vector<double> cuts{lo};
  if (ph.c != 0) {
    const double turn = -ph.b / (2 * ph.c);
    if (turn > lo && turn < hi) cuts.push_back(turn);
  }
  cuts.push_back(hi);
  double periods = 0;
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    periods += std::abs(ph.At(cuts[k + 1]) - ph.At(cuts[k]));
  }
  Shape shape = requested;
  auto needed = [&](const Shape& s) {
    const int jumps = s.kind == SuperpositionKind::Square     ? 2
                      : s.kind == SuperpositionKind::Sawtooth ? 1
                                                              : 0;
    return periods * static_cast<double>(s.Levels().size() + jumps) + 4;
  };
  if (needed(shape) > static_cast<double>(cap)) {
    shape.levels = shape.kind == SuperpositionKind::Sawtooth ? 2 : 4;
  }
  const std::vector<double> levels = shape.Levels();
  const double crossings = periods * static_cast<double>(levels.size());
  auto point = [&](double u, double q) {
    const double t = w.t0 + u;
    out.push_back({t, w.A(t) * q});
  };
  if (needed(shape) > static_cast<double>(cap)) {
    const std::size_t n = std::max<std::size_t>(cap & ~std::size_t{1}, 4);
    for (std::size_t i = 0; i < n; ++i) {
      point(lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n - 1), i % 2 ? -1 : 1);
    }
    return out;
  }
  out.reserve(static_cast<std::size_t>(crossings) * 2 + 4);
  point(lo, shape.Value(ph.At(lo)));
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    const double u0 = cuts[k], u1 = cuts[k + 1];
    const double p0 = ph.At(u0), p1 = ph.At(u1);
    if (p0 == p1) continue;
    const bool up = p1 > p0;
    const double from = std::min(p0, p1), to = std::max(p0, p1);
    std::vector<double> passed;
    for (double period = std::floor(from); period <= to; period += 1) {
      for (double l : levels) {
        const double level = period + l;
        // The end of a piece is a point where the phase turns; the end of the span is held.
        const bool turn = level == p1 && k + 2 < cuts.size();
        if ((level > from && level < to) || turn) passed.push_back(level);
      }
    }
    if (!up) std::reverse(passed.begin(), passed.end());
    for (double level : passed) {
      const double u = TimeAtPhase(ph, level, u0, u1);
      double before, after;
      if (shape.Jump(level, before, after)) {
        if (!up) std::swap(before, after);
        point(u, before);
        out.push_back({EdgeAfter(w.t0 + u), w.A(w.t0 + u) * after});
      } else {
        point(u, shape.Value(level));
      }
    }
  }
  // The last level holds up to the end of the span: at a jump, the side before it.
  const double end = w.t0 + hi;
  const double last = std::nextafter(end, -std::numeric_limits<double>::infinity());
  const double pEnd = ph.At(hi);
  double held = shape.Value(pEnd), before, after;
  if (shape.IsLevel(pEnd) && shape.Jump(pEnd, before, after)) {
    held = ph.At(cuts[cuts.size() - 2]) < pEnd ? before : after;
  }
  if (last > out.back().T) out.push_back({last, w.A(last) * held});
  return out;
}

Polyline SineOffsets(const SuperpositionSpec& s, const Sweep& w, double lo, double hi,
                     double step) {
  const Phase ph = PhaseOf(s, w.t1 - w.t0);
  const double fastest = std::max(std::abs(ph.Rate(lo)), std::abs(ph.Rate(hi)));
  // Fewer than 16 points per period: the step would alias; phase levels instead.
  if (!(step > 0) || fastest * step > 1.0 / 16 ||
      (hi - lo) / step > static_cast<double>(kMaxPreviewPoints)) {
    return PhaseOffsets({SuperpositionKind::Sine, 0, 16}, ph, w, lo, hi, kMaxPreviewPoints);
  }
  Polyline out;
  const auto count = static_cast<std::size_t>((hi - lo) / step);
  out.reserve(count + 2);
  for (std::size_t i = 0; i <= count; ++i) {
    const double u = lo + static_cast<double>(i) * step;
    if (u > hi) break;
    out.push_back({w.t0 + u, w.A(w.t0 + u) * std::sin(2 * std::numbers::pi * ph.At(u))});
  }
  return out;
}

// One polyline as breakpoints: the value arriving from the left and the one leaving to the
// right of each time; they differ at a vertical edge (two points an edge width apart).
struct Breakpoint {
  double T, Left, Right;
};

std::vector<Breakpoint> Breakpoints(const Polyline& p) {
  std::vector<Breakpoint> out;
  out.reserve(p.size());
  for (const PreviewPoint& pt : p) {
    if (!out.empty() && pt.T <= EdgeAfter(out.back().T)) {
      out.back().Right = pt.V;
    } else {
      out.push_back({pt.T, pt.V, pt.V});
    }
  }
  return out;
}

// Value between breakpoint next - 1 and breakpoint next.
double Between(const std::vector<Breakpoint>& b, std::size_t next, double t) {
  if (b.empty()) return 0;
  if (next == 0) return b.front().Left;
  if (next >= b.size()) return b.back().Right;
  const Breakpoint& a = b[next - 1];
  const Breakpoint& c = b[next];
  return a.Right + (t - a.T) / (c.T - a.T) * (c.Left - a.Right);
}

}  // namespace

Polyline SuperpositionOffsets(const SuperpositionSpec& s, double t0, double t1, double minStep,
                              double sineStep, double from, double to) {
  const Sweep w{t0, t1, s.FreqStart, s.FreqEnd, s.AmpStart, s.AmpEnd};
  if (!(t1 > t0)) return {};
  const double lo = std::clamp(from, t0, t1) - t0, hi = std::clamp(to, t0, t1) - t0;
  if (!(hi > lo)) return {};
  switch (s.Kind) {
    case SuperpositionKind::Sine:
      return SineOffsets(s, w, lo, hi, sineStep);
    case SuperpositionKind::Square:
      return PhaseOffsets({s.Kind, std::clamp(s.DutyCycle, 1, 99) / 100.0, 2},
                          PhaseOf(s, t1 - t0), w, lo, hi, kMaxPreviewPoints);
    case SuperpositionKind::Triangle:
    case SuperpositionKind::Sawtooth: {
      // N div 4 points per quarter period: every peak and every jump is a point.
      const int quarter = PreviewResolution(s.FreqStart, s.FreqEnd, minStep) / 4;
      return PhaseOffsets({s.Kind, 0.5, 4 * quarter}, PhaseOf(s, t1 - t0), w, lo, hi,
                          kMaxPreviewPoints);
    }
    default:
      return {};
  }
}

Polyline SegmentPreview(const SegmentRow& seg, double t0, double t1, double y0, double y1,
                        double minStep, double axisWidth, double from, double to) {
  Polyline out;
  if (seg.Sup1.Kind == SuperpositionKind::None || !(t1 > t0)) return out;
  const double sineStep = axisWidth / 5000;
  const Polyline first = SuperpositionOffsets(seg.Sup1, t0, t1, minStep, sineStep, from, to);
  Polyline second;
  if (seg.Sup2.Kind != SuperpositionKind::None) {
    second = SuperpositionOffsets(seg.Sup2, t0, t1, minStep, sineStep, from, to);
  }
  auto ramp = [&](double t) { return y0 + (t - t0) / (t1 - t0) * (y1 - y0); };
  // Both polylines walked together by breakpoint, so that an edge of either one stays a
  // vertical edge of the sum, and the other one interpolated there.
  const std::vector<Breakpoint> a = Breakpoints(first), b = Breakpoints(second);
  out.reserve(2 * (a.size() + b.size()) + 2);
  out.push_back({t0, y0});
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const double t = std::min(i < a.size() ? a[i].T : t1, j < b.size() ? b[j].T : t1);
    if (t >= t1) break;
    const bool atA = i < a.size() && a[i].T - t < 0.000000000001;
    const bool atB = j < b.size() && b[j].T - t < 0.000000000001;
    const double left = (atA ? a[i].Left : Between(a, i, t)) + (atB ? b[j].Left : Between(b, j, t));
    const double right =
        (atA ? a[i].Right : Between(a, i, t)) + (atB ? b[j].Right : Between(b, j, t));
    i += atA ? 1 : 0;
    j += atB ? 1 : 0;
    if (t <= t0) {
      // The segment starts at (t0, y0); a shape that does not start at 0 rises from there.
      if (right != 0) out.push_back({EdgeAfter(t0), y0 + right});
      continue;
    }
    const double at = std::max(t, out.back().T);
    out.push_back({at, ramp(at) + left});
    const double after = EdgeAfter(at);
    if (right != left && after < t1) out.push_back({after, ramp(after) + right});
  }
  out.push_back({t1, y1});
  return out;
}

}  // namespace ondrevo
