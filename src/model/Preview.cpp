#include "model/Preview.h"

#include <algorithm>

namespace ondrevo {

double NeededPoints(double t0, double t1, double freqStart, double freqEnd,
                    SuperpositionKind kind) {
  const double perPeriod = kind == SuperpositionKind::Square ? 4.0 : 10.0;
  return (t1 - t0) * std::max(freqStart, freqEnd) * perPeriod;
}

std::vector<SuperpositionMemoryFinding> CheckSuperpositionMemory(const SegmentTable& table,
                                                                 double budget, bool supply) {
  std::vector<SuperpositionMemoryFinding> findings;
  for (std::int32_t i = 0; i < table.LastPointIndex(); ++i) {
    const SegmentRow& row = table[i];
    if (row.Sup1.Kind == SuperpositionKind::None) continue;  // the segment is its plain ramp
    const double t0 = row.Time, t1 = table[i + 1].Time;
    const SuperpositionSpec& s2 = row.Sup2;
    if (s2.Kind != SuperpositionKind::None && (s2.AmpStart != 0 || s2.AmpEnd != 0)) {
      const double e2 = NeededPoints(t0, t1, s2.FreqStart, s2.FreqEnd, s2.Kind);
      if ((supply && e2 > budget) || e2 == 0)
        findings.push_back(
            {i, 2, e2, e2 <= budget ? kDurationNotPositive : kSecondSuperpositionTooLarge});
    }
    if (t1 - t0 == 0) {
      findings.push_back({i, 1, 0.0, kDurationNotPositive});
      continue;
    }
    const SuperpositionSpec& s1 = row.Sup1;
    if (s1.AmpStart != 0 || s1.AmpEnd != 0) {
      const double e1 = NeededPoints(t0, t1, s1.FreqStart, s1.FreqEnd, s1.Kind);
      if (supply && e1 > budget) findings.push_back({i, 1, e1, kFirstSuperpositionTooLarge});
    }
  }
  return findings;
}

}  // namespace ondrevo
