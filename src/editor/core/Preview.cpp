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
  double F(double t) const { return f0 + Frac(t) * (f1 - f0); }
  double A(double t) const { return (a0 + Frac(t) * (a1 - a0)) / 2; }
};

Polyline SineOffsets(const SuperpositionSpec& s, const Sweep& w, double step) {
  Polyline out;
  const double span = w.t1 - w.t0;
  if (!(step > 0) || span / step > static_cast<double>(kMaxPreviewPoints)) {
    step = span / static_cast<double>(kMaxPreviewPoints);
  }
  const double phase = s.Phase * 2 * std::numbers::pi / 360;
  const auto count = static_cast<std::size_t>(span / step);
  out.reserve(count + 2);
  for (std::size_t i = 0; i <= count; ++i) {
    const double t = w.t0 + static_cast<double>(i) * step;
    if (t > w.t1) break;
    const double mean = s.FreqStart + w.Frac(t) * (s.FreqEnd - s.FreqStart) / 2;
    out.push_back({t, w.A(t) * std::sin(phase + (t - w.t0) * 2 * std::numbers::pi * mean)});
  }
  return out;
}

// Triangle and sawtooth: N points per period at the momentary frequency.
Polyline RampOffsets(const SuperpositionSpec& s, const Sweep& w, double minStep) {
  Polyline out;
  const int n = PreviewResolution(s.FreqStart, s.FreqEnd, minStep);
  const bool saw = s.Kind == SuperpositionKind::Sawtooth;
  auto q = [saw](double pos) {
    if (saw) return pos < 0.5 ? 2 * pos : 2 * pos - 2;
    if (pos < 0.25) return 4 * pos;
    if (pos < 0.75) return 2 - 4 * pos;
    return 4 * pos - 4;
  };
  double pos = std::fmod(s.Phase / 360.0, 1.0);
  if (pos < 0) pos += 1;
  double t = w.t0;
  double stepScale = 1;
  const double f = std::max(s.FreqStart, s.FreqEnd);
  if (f > 0 && (w.t1 - w.t0) * f * n > static_cast<double>(kMaxPreviewPoints)) {
    stepScale = (w.t1 - w.t0) * f * n / static_cast<double>(kMaxPreviewPoints);
  }
  const double dpos = stepScale / n;
  while (t < w.t1 && out.size() < kMaxPreviewPoints) {
    out.push_back({t, w.A(t) * q(pos)});
    const double freq = w.F(t);
    if (!(freq > 0)) break;
    double next = pos + dpos;
    if (saw && pos < 0.5 && next >= 0.5) {
      // The jump is a vertical edge.
      const double te = t + (0.5 - pos) / freq;
      if (te < w.t1) {
        out.push_back({te, w.A(te)});
        out.push_back({EdgeAfter(te), -w.A(te)});
      }
    }
    t += dpos / freq;
    pos = next >= 1 ? next - 1 : next;
  }
  return out;
}

Polyline SquareOffsets(const SuperpositionSpec& s, const Sweep& w) {
  Polyline out;
  const double duty = std::clamp(s.DutyCycle, 1, 99) / 100.0;
  double pos = std::fmod(s.Phase / 360.0, 1.0);
  if (pos < 0) pos += 1;
  double t = w.t0;
  double q = pos >= duty ? -1 : 1;
  out.push_back({EdgeAfter(t), w.A(t) * q});
  while (out.size() < kMaxPreviewPoints) {
    const double freq = w.F(t);
    if (!(freq > 0)) break;
    const double edgePos = pos < duty ? duty : 1;
    const double te = t + (edgePos - pos) / freq;
    if (EdgeAfter(te) >= w.t1) {
      // The level holds up to the end; the end value follows as a vertical edge.
      const double end = std::nextafter(w.t1, w.t0);
      if (end > t) out.push_back({end, w.A(end) * q});
      break;
    }
    out.push_back({te, w.A(te) * q});
    q = -q;
    out.push_back({EdgeAfter(te), w.A(te) * q});
    t = te;
    pos = edgePos >= 1 ? 0 : edgePos;
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
                              double sineStep) {
  const Sweep w{t0, t1, s.FreqStart, s.FreqEnd, s.AmpStart, s.AmpEnd};
  if (!(t1 > t0)) return {};
  switch (s.Kind) {
    case SuperpositionKind::Sine:
      return SineOffsets(s, w, sineStep);
    case SuperpositionKind::Square:
      return SquareOffsets(s, w);
    case SuperpositionKind::Triangle:
    case SuperpositionKind::Sawtooth:
      return RampOffsets(s, w, minStep);
    default:
      return {};
  }
}

Polyline SegmentPreview(const SegmentRow& seg, double t0, double t1, double y0, double y1,
                        double minStep, double axisWidth) {
  Polyline out;
  if (seg.Sup1.Kind == SuperpositionKind::None || !(t1 > t0)) return out;
  const double sineStep = axisWidth / 5000;
  const Polyline first = SuperpositionOffsets(seg.Sup1, t0, t1, minStep, sineStep);
  Polyline second;
  if (seg.Sup2.Kind != SuperpositionKind::None) {
    second = SuperpositionOffsets(seg.Sup2, t0, t1, minStep, sineStep);
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
