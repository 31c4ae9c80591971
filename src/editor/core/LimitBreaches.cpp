#include "editor/core/LimitBreaches.h"

#include <algorithm>
#include <cmath>

#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

double HalfPeak(const SuperpositionSpec& s) {
  return s.Kind == SuperpositionKind::None ? 0 : std::max(s.AmpStart, s.AmpEnd) / 2;
}

}  // namespace

std::vector<LimitBreach> FindLimitBreaches(const SegmentTable& t, double maximum) {
  return FindLimitBreaches(t, maximum, 0, t.LastPointIndex() - 1);
}

std::vector<LimitBreach> FindLimitBreaches(const SegmentTable& t, double maximum,
                                           std::int32_t first, std::int32_t last) {
  std::vector<LimitBreach> out;
  const std::int32_t n = std::min(last + 1, t.LastPointIndex());
  for (std::int32_t i = std::max(first, 0); i < n; ++i) {
    const double t0 = t[i].Time, t1 = t[i + 1].Time;
    const double y0 = t[i].Value, y1 = t[i + 1].Value;
    LimitBreach b{.Segment = i,
                  .From = t0,
                  .To = t1,
                  .Limit = maximum,
                  .StartAbove = y0 > maximum,
                  .EndAbove = y1 > maximum};
    const double swing = t.HasSuperposition(i) ? HalfPeak(t[i].Sup1) + HalfPeak(t[i].Sup2) : 0.0;
    if (swing > 0) {
      b.Excess = std::max(y0, y1) + swing - maximum;
      if (!(b.Excess > 0)) {
        b.Excess = swing - std::min(y0, y1);
        if (!(b.Excess > 0)) continue;
        b.Above = false;
        b.Limit = 0;
      }
      b.Superposed = !b.StartAbove && !b.EndAbove;
    } else {
      b.Excess = std::max(y0, y1) - maximum;
      if (!(b.Excess > 0)) continue;
      if (t1 > t0 && (y0 <= maximum || y1 <= maximum)) {
        // A ramp that crosses the limit: only the part above it.
        const double cross = t0 + (t1 - t0) * (maximum - y0) / (y1 - y0);
        (y0 > maximum ? b.To : b.From) = cross;
      }
    }
    out.push_back(b);
  }
  return out;
}

std::string LimitBreachText(const LimitBreach& b, Quantity q) {
  const bool v = q == Quantity::Voltage;
  const char* pattern =
      b.Above ? (v ? _("voltage above {limit} V by up to {excess} V from {from} s to {to} s")
                   : _("current above {limit} A by up to {excess} A from {from} s to {to} s"))
              : (v ? _("voltage below {limit} V by up to {excess} V from {from} s to {to} s")
                   : _("current below {limit} A by up to {excess} A from {from} s to {to} s"));
  // As the instrument view rounds its findings: six significant digits, three for the excess.
  return FillPlaceholders(pattern, {{"limit", FormatSignificant(b.Limit, 6)},
                                    {"excess", FormatSignificant(b.Excess, 3)},
                                    {"from", FormatSignificant(b.From, 6)},
                                    {"to", FormatSignificant(b.To, 6)}});
}

}  // namespace ondrevo
