// How far a played or measured curve lies from its design, told so that an edge played a few
// milliseconds late does not read as a missing level: every stretch beyond the tolerance gets
// its value deviation and the smallest shift in time that explains it. Pure functions; the
// instrument preview and the measurement record share them.
#pragma once

#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace ondrevo {

using TCurveFunction = std::function<double(double)>;

enum class EDeviationKind {
  Timing,   // the played curve has the design's values, only shifted in time
  Missing,  // the design reaches a value the played curve does not reach there (a dip, a peak,
            // a level clipped at a limit)
  Shape,    // the values are there but in another order (a fast signal sampled too coarsely)
};

struct DeviationFinding {
  double From = 0.0, To = 0.0;  // s: the stretch beyond the tolerance
  double Value = 0.0;           // largest |played - design| in it
  double ValueTime = 0.0;       // first time it occurs
  // Played = design delayed by Shift (s) throughout the stretch, within the tolerance;
  // positive: late. NaN when no shift within the window explains the stretch.
  double Shift = std::numeric_limits<double>::quiet_NaN();
  EDeviationKind Kind = EDeviationKind::Missing;
};

struct DeviationOptions {
  double Tolerance = 0.0;    // a difference up to this is no deviation (the design's resolution)
  double ShiftWindow = 0.0;  // s: a shift is looked for up to the stretch's length plus this
  int MaxFindings = 16;      // only the largest stretches are analysed
  int SamplesPerStretch = 200;
};

struct DeviationReport {
  double MaxValue = 0.0;      // plain largest |played - design| over all times looked at
  double MaxValueTime = 0.0;  // first time it occurs
  // The largest stretches by value, largest first.
  std::vector<DeviationFinding> Findings;
  std::size_t StretchCount = 0;  // stretches beyond the tolerance, also those not analysed

  // Every analysed stretch is a shift in time: the value figure overstates the fault.
  bool OnlyTiming() const;
  // The largest stretch not explained by a shift, or nullptr.
  const DeviationFinding* LargestValueFinding() const;
  // The largest |Shift| among the timing stretches (0 when there is none).
  double LargestShift() const;
};

// Compares the two curves at `times` (ascending): stretches are runs of consecutive times
// where |played - design| > tolerance. Both functions are evaluated anywhere within the
// window around a stretch when its shift is looked for.
DeviationReport CompareCurves(const TCurveFunction& design, const TCurveFunction& played,
                              const std::vector<double>& times, const DeviationOptions& options);

// A staircase as a function: value[j] over [times[j], times[j + 1]); before the first point its
// first value, from the end on its last one.
TCurveFunction StaircaseFunction(std::vector<double> times, std::vector<double> values);
// Readings joined by straight lines; held before the first and after the last.
TCurveFunction PolylineFunction(std::vector<double> times, std::vector<double> values);

// Translated words for a finding: "2.505 s: 7.5 V, a shift in time of 5 ms (late)".
std::string FindingText(const DeviationFinding& f, const char* unit);
// What matters of a whole report, translated, for a figure "max deviation 7.5 V at 2.505 s":
// empty when the value is the fault (or there is none), else the words that put it right.
std::string TimingRemark(const DeviationReport& r);
// Short words for the kind, translated ("shift in time", "value not played", "other shape").
std::string KindText(EDeviationKind kind);
// A number rounded to `digits` significant digits, shortest form, C locale.
std::string RoundedNumber(double x, int digits);
// Seconds as "5 ms", "2.5 s", "40 µs".
std::string DurationWords(double seconds);

}  // namespace ondrevo
