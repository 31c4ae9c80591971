#include "measure/Record.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::string Html(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string N(double x) {
  return FormatShortest(x);
}

// The interval of time each reading stands for: halfway to its neighbours, within [0, end].
std::vector<TStretch> ReadingSpans(const std::vector<TReading>& r, double end) {
  std::vector<TStretch> spans(r.size());
  for (std::size_t k = 0; k < r.size(); ++k) {
    const double before = k > 0 ? (r[k].Time - r[k - 1].Time) / 2
                                : (r.size() > 1 ? (r[1].Time - r[0].Time) / 2 : 0.0);
    const double after = k + 1 < r.size() ? (r[k + 1].Time - r[k].Time) / 2 : before;
    spans[k] = {std::max(r[k].Time - before, 0.0), std::min(r[k].Time + after, end)};
  }
  return spans;
}

// Consecutive readings where `hit` holds, as stretches of their spans.
template <class F>
std::vector<TStretch> Stretches(const std::vector<TReading>& r, double end, F hit) {
  const std::vector<TStretch> spans = ReadingSpans(r, end);
  std::vector<TStretch> out;
  bool open = false;
  for (std::size_t k = 0; k < r.size(); ++k) {
    if (!hit(k)) {
      open = false;
      continue;
    }
    if (!open) out.push_back(spans[k]);
    out.back().To = spans[k].To;
    open = true;
  }
  return out;
}

// 1, 2 or 5 times a power of ten, about `count` of them over `span`.
double RoundStep(double span, int count) {
  const double raw = span / count;
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  return (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * magnitude;
}

struct Series {
  std::vector<double> t, y;
  const char* color;
  const char* dash;
  std::string label;
};

// One chart: time across, the series' values up, five ticks on each axis.
std::string Chart(const std::string& title, const char* unit, const std::vector<Series>& series,
                  double t0, double t1) {
  const double W = 960, H = 300, L = 70, R = 20, T = 30, B = 40;
  double lo = 0, hi = 0;
  bool any = false;
  for (const Series& s : series)
    for (double v : s.y) {
      if (!std::isfinite(v)) continue;
      lo = any ? std::min(lo, v) : v;
      hi = any ? std::max(hi, v) : v;
      any = true;
    }
  if (!any || hi - lo < 1e-12) {
    lo -= 1;
    hi += 1;
  }
  const double pad = (hi - lo) * 0.05;
  // Ticks at round values: the value axis widens to them, the time axis keeps the run's span.
  const double vStep = RoundStep(hi - lo + 2 * pad, 5);
  lo = std::floor((lo - pad) / vStep) * vStep;
  hi = std::ceil((hi + pad) / vStep) * vStep;
  if (!(t1 > t0)) t1 = t0 + 1;
  const double tStep = RoundStep(t1 - t0, 6);
  auto x = [&](double t) { return L + (W - L - R) * (t - t0) / (t1 - t0); };
  auto y = [&](double v) { return T + (H - T - B) * (hi - v) / (hi - lo); };
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + N(W) + "\" height=\"" +
                    N(H) + "\" viewBox=\"0 0 " + N(W) + " " + N(H) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect x=\"" + N(L) + "\" y=\"" + N(T) + "\" width=\"" + N(W - L - R) + "\" height=\"" +
         N(H - T - B) + "\" fill=\"#fff\" stroke=\"#888\"/>\n";
  svg += "<text x=\"" + N(L) + "\" y=\"18\" font-weight=\"bold\">" + Html(title) + "</text>\n";
  for (long k = std::lround(lo / vStep); k * vStep <= hi + vStep * 1e-6; ++k) {
    const double v = k * vStep;
    svg += "<line x1=\"" + N(L) + "\" x2=\"" + N(W - R) + "\" y1=\"" + N(y(v)) + "\" y2=\"" +
           N(y(v)) + "\" stroke=\"#eee\"/>\n";
    svg += "<text x=\"" + N(L - 6) + "\" y=\"" + N(y(v) + 4) + "\" text-anchor=\"end\">" +
           RoundedNumber(v, 6) + " " + unit + "</text>\n";
  }
  for (long k = std::lround(std::ceil(t0 / tStep - 1e-6)); k * tStep <= t1 + tStep * 1e-6; ++k)
    svg += "<text x=\"" + N(x(k * tStep)) + "\" y=\"" + N(H - B + 16) +
           "\" text-anchor=\"middle\">" + RoundedNumber(k * tStep, 6) + " s</text>\n";
  double legend = L + 8;
  for (const Series& s : series) {
    std::string points;
    for (std::size_t k = 0; k < s.t.size(); ++k)
      if (std::isfinite(s.y[k]))
        points += RoundedNumber(x(s.t[k]), 6) + "," + RoundedNumber(y(s.y[k]), 6) + " ";
    svg += "<polyline fill=\"none\" stroke=\"" + std::string(s.color) +
           "\" stroke-width=\"1.5\" stroke-dasharray=\"" + s.dash + "\" points=\"" + points +
           "\"/>\n";
    svg += "<line x1=\"" + N(legend) + "\" x2=\"" + N(legend + 24) + "\" y1=\"" + N(H - 8) +
           "\" y2=\"" + N(H - 8) + "\" stroke=\"" + s.color + "\" stroke-width=\"2\" " +
           "stroke-dasharray=\"" + s.dash + "\"/><text x=\"" + N(legend + 28) + "\" y=\"" +
           N(H - 4) + "\">" + Html(s.label) + "</text>\n";
    legend += 40 + 7 * static_cast<double>(s.label.size());
  }
  return svg + "</svg>\n";
}

}  // namespace

bool WithinRun(const TRecordInput& in, double t) {
  return t >= 0 && (in.Repeat == 0 || t <= in.Repeat * in.Duration * (1 + 1e-9));
}

bool Judged(const TRecordInput& in, const TReading& r) {
  const double margin = r.Spread + in.TimeBaseUncertainty;
  return WithinRun(in, r.Time - margin) && WithinRun(in, r.Time + margin);
}

std::string UtcTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

double DesignTime(const TRecordInput& in, double t) {
  if (!(in.Duration > 0)) return 0;
  const double last = std::nextafter(in.Duration, 0.0);
  if (t < 0) return 0;
  if (in.Repeat > 0 && t >= in.Repeat * in.Duration) return last;
  return std::min(std::fmod(t, in.Duration), last);
}

int PointAt(const TRecordInput& in, double t) {
  if (in.PointTimes.size() < 2) return -1;
  const double u = DesignTime(in, t);
  const auto it = std::upper_bound(in.PointTimes.begin(), in.PointTimes.end(), u);
  if (it == in.PointTimes.begin()) return 0;
  return std::min(static_cast<int>(it - in.PointTimes.begin()) - 1,
                  static_cast<int>(in.PointTimes.size()) - 2);
}

TRecordFigures ComputeRecordFigures(const TRecordInput& in) {
  TRecordFigures f;
  // Past the last repetition the design says nothing: the output may be off already.
  std::vector<TReading> r;
  for (const TReading& x : in.Readings)
    if (Judged(in, x)) r.push_back(x);
  if (r.empty()) return f;
  std::vector<double> times, volts;
  for (const TReading& x : r) {
    times.push_back(x.Time);
    volts.push_back(x.Voltage);
  }
  const TCurveFunction design = [&in](double t) { return in.DesignVoltage(DesignTime(in, t)); };
  DeviationOptions o;
  o.Tolerance = in.VoltageTolerance;
  o.ShiftWindow = in.ShiftWindow;
  f.Voltage = CompareCurves(design, PolylineFunction(times, volts), times, o);

  // A reading may have been taken anywhere within its time +- (spread + the time base's
  // uncertainty): it left the band only when no design value there lies within the band of it.
  auto outside = [&](std::size_t k) {
    const double margin = r[k].Spread + in.TimeBaseUncertainty;
    const int samples = margin > 0 ? 32 : 0;
    double lo = design(r[k].Time), hi = lo;
    for (int j = 0; samples > 0 && j <= samples; ++j) {
      const double v = design(r[k].Time - margin + 2 * margin * j / samples);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    return r[k].Voltage < lo - in.VoltageTolerance || r[k].Voltage > hi + in.VoltageTolerance;
  };
  // A stretch ends with the run at the latest.
  const double end =
      in.Repeat == 0 ? std::numeric_limits<double>::infinity() : in.Repeat * in.Duration;
  f.OutsideStretches = Stretches(r, end, outside);
  for (const TStretch& s : f.OutsideStretches) f.OutsideBand += s.Length();

  if (in.DesignCurrent) {
    auto limited = [&](std::size_t k) {
      const double limit = in.DesignCurrent(DesignTime(in, r[k].Time));
      return limit > 0 && r[k].Current >= limit * 0.99 &&
             r[k].Voltage < design(r[k].Time) - in.VoltageTolerance;
    };
    f.CurrentLimited = Stretches(r, end, limited);
  }
  return f;
}

std::string RecordCsv(const TRecordInput& in) {
  std::string csv =
      "time_s,voltage_V,current_A,design_voltage_V,design_current_limit_A,point,"
      "point_voltage_V,point_current_A,output,time_spread_s\n";
  for (const TReading& x : in.Readings) {
    if (!Judged(in, x)) {
      csv += N(x.Time) + "," + N(x.Voltage) + "," + N(x.Current) + ",,,,,,," + N(x.Spread) + "\n";
      continue;
    }
    const double u = DesignTime(in, x.Time);
    const int p = PointAt(in, x.Time);
    csv += N(x.Time) + "," + N(x.Voltage) + "," + N(x.Current) + "," + N(in.DesignVoltage(u)) +
           "," + (in.DesignCurrent ? N(in.DesignCurrent(u)) : std::string()) + ",";
    if (p >= 0 && static_cast<std::size_t>(p) < in.PointVoltage.size())
      csv += std::to_string(p + 1) + "," + N(in.PointVoltage[p]) + "," +
             (static_cast<std::size_t>(p) < in.PointCurrent.size() ? N(in.PointCurrent[p]) : "");
    else
      csv += ",,";
    csv += ",1," + N(x.Spread) + "\n";
  }
  return csv;
}

std::vector<std::string> ReportPictures(const TRecordInput& in) {
  const double end = in.Readings.empty() ? in.Duration : in.Readings.back().Time;
  // The design and the points over every repetition the readings cover.
  Series design{{}, {}, "#1f5fbf", "none", _("design")};
  Series designI{{}, {}, "#1f5fbf", "none", _("designed current limit")};
  Series points{{}, {}, "#e08a00", "6,4", _("instrument points")};
  Series pointsI{{}, {}, "#e08a00", "6,4", _("instrument points")};
  const int columns = 1500;
  for (int k = 0; k <= columns; ++k) {
    const double t = end * k / columns;
    design.t.push_back(t);
    design.y.push_back(in.DesignVoltage ? in.DesignVoltage(DesignTime(in, t)) : NAN);
    if (in.DesignCurrent) {
      designI.t.push_back(t);
      designI.y.push_back(in.DesignCurrent(DesignTime(in, t)));
    }
  }
  if (in.PointTimes.size() >= 2 && in.Duration > 0) {
    for (int rep = 0; rep * in.Duration < end && (in.Repeat == 0 || rep < in.Repeat); ++rep) {
      for (std::size_t j = 0; j + 1 < in.PointTimes.size() && j < in.PointVoltage.size(); ++j) {
        const double a = rep * in.Duration + in.PointTimes[j];
        const double b = std::min(rep * in.Duration + in.PointTimes[j + 1], end);
        if (a > end) break;
        for (const double t : {a, b}) {
          points.t.push_back(t);
          points.y.push_back(in.PointVoltage[j]);
          if (j < in.PointCurrent.size()) {
            pointsI.t.push_back(t);
            pointsI.y.push_back(in.PointCurrent[j]);
          }
        }
      }
    }
  }
  Series measured{{}, {}, "#c0262d", "none", _("measured")};
  Series measuredI{{}, {}, "#c0262d", "none", _("measured")};
  for (const TReading& x : in.Readings) {
    measured.t.push_back(x.Time);
    measured.y.push_back(x.Voltage);
    measuredI.t.push_back(x.Time);
    measuredI.y.push_back(x.Current);
  }
  // Readings taken while a triggered run waited lie before time 0.
  const double begin = in.Readings.empty() ? 0.0 : std::min(0.0, in.Readings.front().Time);
  return {Chart(_("Voltage"), "V", {design, points, measured}, begin, end),
          Chart(_("Current"), "A",
                in.DesignCurrent ? std::vector<Series>{designI, pointsI, measuredI}
                                 : std::vector<Series>{pointsI, measuredI},
                begin, end)};
}

TReportContent ComposeReport(const TRecordInput& in, const TRecordFigures& f) {
  TReportContent c;
  c.Title = _("Test record");
  c.Document = in.Document;
  c.Facts = {
      {_("Document"), in.Document},
      {_("Model"), in.Model},
      {_("Identification"), in.Identification},
      {_("Date"), in.Date},
      {_("Repeat count"), in.Repeat == 0 ? std::string(_("endless")) : std::to_string(in.Repeat)},
      {_("Measured by"), in.Source},
      {_("Readings"), std::to_string(in.Readings.size())},
      {_("Tolerance band"), "\u00b1 " + N(in.VoltageTolerance) + " V"},
  };
  c.LeftBand = f.LeftBand();
  c.Verdict = c.LeftBand ? _("The measured voltage left the tolerance band.")
                         : _("The measured voltage stayed within the tolerance band.");
  c.Pictures = ReportPictures(in);

  TReportSection deviations{_("Largest deviations"), {}, {}};
  deviations.Text = std::string(_("Plain largest deviation")) + ": " +
                    RoundedNumber(f.Voltage.MaxValue, 4) + " V " + _("at") + " " +
                    RoundedNumber(f.Voltage.MaxValueTime, 6) + " s";
  const std::string remark = TimingRemark(f.Voltage);
  if (!remark.empty()) deviations.Text += ", " + remark;
  deviations.Table.Header = {_("From"), _("To"), _("Value deviation"), _("Time shift"),
                             _("What matters")};
  for (const DeviationFinding& x : f.Voltage.Findings)
    deviations.Table.Rows.push_back(
        {RoundedNumber(x.From, 6) + " s", RoundedNumber(x.To, 6) + " s",
         RoundedNumber(x.Value, 4) + " V " + _("at") + " " + RoundedNumber(x.ValueTime, 6) + " s",
         std::isnan(x.Shift) ? std::string("\u2013") : DurationWords(x.Shift),
         FindingText(x, "V")});
  c.Sections.push_back(std::move(deviations));

  auto stretches = [](const std::vector<TStretch>& list) {
    TReportTable t;
    t.Header = {_("From"), _("To"), _("Length")};
    for (const TStretch& s : list)
      t.Rows.push_back({RoundedNumber(s.From, 6) + " s", RoundedNumber(s.To, 6) + " s",
                        DurationWords(s.Length())});
    return t;
  };
  c.Sections.push_back(
      {_("Outside the tolerance band"),
       std::string(_("Time outside the band")) + ": " + RoundedNumber(f.OutsideBand, 6) + " s",
       stretches(f.OutsideStretches)});
  c.Sections.push_back({_("In current limit"), {}, stretches(f.CurrentLimited)});
  c.LogTitle = _("Command log");
  c.Log = in.CommandLog;
  return c;
}

std::string ReportHtml(const TReportContent& c) {
  std::string h = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + Html(c.Title) +
                  ": " + Html(c.Document) +
                  "</title>\n<style>body{font-family:sans-serif;margin:24px;color:#222}"
                  "table{border-collapse:collapse;margin:8px 0}td,th{border:1px solid #bbb;"
                  "padding:3px 8px;text-align:left}th{background:#eee}.fail{color:#b00;"
                  "font-weight:bold}.pass{color:#070;font-weight:bold}pre{background:#f6f6f6;"
                  "padding:8px;max-height:400px;overflow:auto}</style></head><body>\n";
  h += "<h1>" + Html(c.Title) + "</h1>\n<table>\n";
  for (const auto& [label, value] : c.Facts)
    h += "<tr><th>" + Html(label) + "</th><td>" + Html(value) + "</td></tr>\n";
  h += "</table>\n";
  h += std::string("<p class=\"") + (c.LeftBand ? "fail" : "pass") + "\">" + Html(c.Verdict) +
       "</p>\n";
  for (const std::string& svg : c.Pictures) h += svg;
  for (const TReportSection& s : c.Sections) {
    h += "<h2>" + Html(s.Title) + "</h2>\n";
    if (!s.Text.empty()) h += "<p>" + Html(s.Text) + "</p>\n";
    if (s.Table.Rows.empty()) {
      h += "<p>" + Html(_("none")) + "</p>\n";
      continue;
    }
    h += "<table><tr>";
    for (const std::string& x : s.Table.Header) h += "<th>" + Html(x) + "</th>";
    h += "</tr>\n";
    for (const auto& row : s.Table.Rows) {
      h += "<tr>";
      for (const std::string& x : row) h += "<td>" + Html(x) + "</td>";
      h += "</tr>\n";
    }
    h += "</table>\n";
  }
  h += "<h2>" + Html(c.LogTitle) + "</h2>\n<pre>";
  for (const std::string& line : c.Log) h += Html(line) + "\n";
  h += "</pre>\n</body></html>\n";
  return h;
}

std::string ReportHtml(const TRecordInput& in, const TRecordFigures& f) {
  return ReportHtml(ComposeReport(in, f));
}

}  // namespace ondrevo
