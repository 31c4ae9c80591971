// Documents shared by the benchmarks and the memory comparison.
#pragma once

#include <cmath>

#include "document/SegmentTable.h"

namespace ondrevo::bench {

// `hours` of 5 V carrying a 1 kHz sine of 2 V peak to peak.
inline SegmentTable SineCurve(double hours) {
  SegmentTable t;
  t[0].Value = 5;
  t[1].Time = hours * 3600;
  t[1].Value = 5;
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup1.FreqStart = t[0].Sup1.FreqEnd = 1000;
  t[0].Sup1.AmpStart = t[0].Sup1.AmpEnd = 2;
  t.SetLastPointIndex(1);
  return t;
}

// `hours` of one constant level.
inline SegmentTable ConstantCurve(double hours, double value) {
  SegmentTable t;
  t[0].Value = value;
  t[1].Time = hours * 3600;
  t[1].Value = value;
  t.SetLastPointIndex(1);
  return t;
}

// `hours` of held levels, one a minute, joined by half-second ramps.
inline SegmentTable StepsAndRampsCurve(double hours) {
  SegmentTable t;
  const int minutes = static_cast<int>(hours * 60);
  int i = 0;
  for (int m = 0; m < minutes; ++m) {
    t[i].Time = m * 60.0;
    t[i].Value = 1 + (m * 7) % 11;
    t[i + 1].Time = m * 60.0 + 59.5;
    t[i + 1].Value = t[i].Value;
    i += 2;
  }
  t[i].Time = minutes * 60.0;
  t[i].Value = 3;
  t.SetLastPointIndex(i);
  return t;
}

// `points` points of a measured-looking curve: uneven durations (many of them taking the
// grid's minutes and milliseconds) and values with four decimals, as a long import leaves them.
inline SegmentTable ManyPointsCurve(int points) {
  static constexpr double kDurations[] = {0.01, 0.25, 1.5, 0.0123, 59.5, 0.001, 12.75, 700};
  SegmentTable t;
  double time = 0;
  for (int i = 0; i < points; ++i) {
    t[i].Time = time;
    t[i].Value = std::round((5 + 2 * std::sin(i * 0.01)) * 1e4) / 1e4;
    time += kDurations[(i * 7) % 8];
  }
  t.SetLastPointIndex(points - 1);
  return t;
}

}  // namespace ondrevo::bench
