#include "measure/Deviation.h"

#include <algorithm>
#include <cmath>

#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

// A shift search tries at most this many candidate shifts on each side.
constexpr int kMaxShiftSteps = 1000;

struct Stretch {
  std::size_t first = 0, last = 0;  // indexes into times
  double value = 0.0, valueTime = 0.0;
};

// |v - f(u)| within the tolerance at u or one search step either side: the sample grid cannot
// place an edge closer than that.
bool Near(double v, const TCurveFunction& f, double u, double step, double tol) {
  return std::fabs(v - f(u)) <= tol || std::fabs(v - f(u - step)) <= tol ||
         std::fabs(v - f(u + step)) <= tol;
}

void Analyse(const TCurveFunction& design, const TCurveFunction& played,
             const std::vector<double>& times, const Stretch& s, const DeviationOptions& o,
             DeviationFinding& f) {
  double a = times[s.first], b = times[s.last];
  if (b - a < 1e-12) {  // one sample: the stretch reaches halfway to its neighbours
    const double before = s.first > 0 ? a - times[s.first - 1] : 0.0;
    const double after = s.last + 1 < times.size() ? times[s.last + 1] - b : 0.0;
    const double gap = std::max(before, after);
    a -= (s.first > 0 ? before : gap) / 2;
    b += (s.last + 1 < times.size() ? after : gap) / 2;
  }
  const int n = std::max(o.SamplesPerStretch, 2);
  const double h = (b - a) / n;
  const double window = (b - a) + std::max(o.ShiftWindow, 0.0);
  const double step = std::max(h, window / kMaxShiftSteps);
  const double tol = o.Tolerance;

  std::vector<double> t(n + 1), p(n + 1), r(n + 1);
  for (int k = 0; k <= n; ++k) {
    t[k] = a + k * h;
    p[k] = played(t[k]);
    r[k] = design(t[k]);
  }
  auto fits = [&](double shift) {
    // The played side first: a staircase costs a search, the design may cost sines.
    for (int k = 0; k <= n; ++k) {
      if (!Near(r[k], played, t[k] + shift, step, tol)) return false;
      if (!Near(p[k], design, t[k] - shift, step, tol)) return false;
    }
    return true;
  };
  if (step > 0) {
    for (int i = 0; i * step <= window; ++i) {
      for (const double shift : {i * step, -i * step}) {
        if (fits(shift)) {
          f.Shift = shift;
          f.Kind = EDeviationKind::Timing;
          return;
        }
        if (i == 0) break;
      }
    }
  }
  // Not a shift: does the played curve reach the design's values anywhere near?
  double lo = played(a - window), hi = lo;
  const double reach = step > 0 ? step : h;
  for (double u = a - window; reach > 0 && u <= b + window; u += reach) {
    const double v = played(u);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  const auto [dlo, dhi] = std::minmax_element(r.begin(), r.end());
  f.Kind = (*dlo < lo - tol || *dhi > hi + tol) ? EDeviationKind::Missing : EDeviationKind::Shape;
}

}  // namespace

bool DeviationReport::OnlyTiming() const {
  return !Findings.empty() &&
         std::all_of(Findings.begin(), Findings.end(),
                     [](const DeviationFinding& f) { return f.Kind == EDeviationKind::Timing; });
}

const DeviationFinding* DeviationReport::LargestValueFinding() const {
  for (const DeviationFinding& f : Findings)
    if (f.Kind != EDeviationKind::Timing) return &f;
  return nullptr;
}

double DeviationReport::LargestShift() const {
  double s = 0.0;
  for (const DeviationFinding& f : Findings)
    if (f.Kind == EDeviationKind::Timing) s = std::max(s, std::fabs(f.Shift));
  return s;
}

DeviationReport CompareCurves(const TCurveFunction& design, const TCurveFunction& played,
                              const std::vector<double>& times, const DeviationOptions& o) {
  DeviationReport report;
  std::vector<Stretch> stretches;
  bool open = false;
  for (std::size_t k = 0; k < times.size(); ++k) {
    const double d = std::fabs(played(times[k]) - design(times[k]));
    if (d > report.MaxValue) {
      report.MaxValue = d;
      report.MaxValueTime = times[k];
    }
    if (!(d > o.Tolerance)) {
      open = false;
      continue;
    }
    if (!open) stretches.push_back({k, k, d, times[k]});
    open = true;
    Stretch& s = stretches.back();
    s.last = k;
    if (d > s.value) {
      s.value = d;
      s.valueTime = times[k];
    }
  }
  report.StretchCount = stretches.size();
  std::stable_sort(stretches.begin(), stretches.end(),
                   [](const Stretch& x, const Stretch& y) { return x.value > y.value; });
  if (stretches.size() > static_cast<std::size_t>(std::max(o.MaxFindings, 0)))
    stretches.resize(std::max(o.MaxFindings, 0));
  for (const Stretch& s : stretches) {
    DeviationFinding f;
    f.From = times[s.first];
    f.To = times[s.last];
    f.Value = s.value;
    f.ValueTime = s.valueTime;
    Analyse(design, played, times, s, o, f);
    report.Findings.push_back(f);
  }
  return report;
}

TCurveFunction StaircaseFunction(std::vector<double> times, std::vector<double> values) {
  return [times = std::move(times), values = std::move(values)](double t) {
    if (values.empty()) return 0.0;
    const auto it = std::upper_bound(times.begin(), times.end(), t);
    if (it == times.begin()) return values.front();
    const std::size_t j = static_cast<std::size_t>(it - times.begin()) - 1;
    return values[std::min(j, values.size() - 1)];
  };
}

TCurveFunction PolylineFunction(std::vector<double> times, std::vector<double> values) {
  return [times = std::move(times), values = std::move(values)](double t) {
    if (values.empty()) return 0.0;
    const auto it = std::upper_bound(times.begin(), times.end(), t);
    if (it == times.begin()) return values.front();
    if (it == times.end()) return values.back();
    const std::size_t j = static_cast<std::size_t>(it - times.begin());
    const double t0 = times[j - 1], t1 = times[j];
    if (!(t1 > t0)) return values[j];
    return values[j - 1] + (values[j] - values[j - 1]) * (t - t0) / (t1 - t0);
  };
}

std::string RoundedNumber(double x, int digits) {
  return FormatSignificant(x, digits);
}

std::string DurationWords(double seconds) {
  const double a = std::fabs(seconds);
  if (a > 0 && a < 1e-3) return RoundedNumber(seconds * 1e6, 3) + " \u00b5s";
  if (a > 0 && a < 1) return RoundedNumber(seconds * 1e3, 3) + " ms";
  return RoundedNumber(seconds, 4) + " s";
}

std::string KindText(EDeviationKind kind) {
  switch (kind) {
    case EDeviationKind::Timing:
      return _("shift in time");
    case EDeviationKind::Missing:
      return _("value not played");
    case EDeviationKind::Shape:
      return _("other shape");
  }
  return {};
}

std::string FindingText(const DeviationFinding& f, const char* unit) {
  const char* pattern = nullptr;
  switch (f.Kind) {
    case EDeviationKind::Timing:
      pattern = f.Shift < 0 ? _("{time} s: {value} {unit}, only a shift in time: {shift} early")
                            : _("{time} s: {value} {unit}, only a shift in time: {shift} late");
      break;
    case EDeviationKind::Missing:
      pattern = _("{time} s: {value} {unit}, a value the played curve does not reach there");
      break;
    case EDeviationKind::Shape:
      pattern = _("{time} s: {value} {unit}, the played curve has another shape there");
      break;
  }
  return FillPlaceholders(pattern, {{"time", RoundedNumber(f.ValueTime, 6)},
                                    {"value", RoundedNumber(f.Value, 3)},
                                    {"unit", unit},
                                    {"shift", DurationWords(std::fabs(f.Shift))}});
}

std::string TimingRemark(const DeviationReport& r) {
  if (!r.OnlyTiming()) return {};
  return FillPlaceholders(
      _("only a shift in time: the played curve follows the design within {shift}"),
      {{"shift", DurationWords(r.LargestShift())}});
}

}  // namespace ondrevo
