#include "editor/Timescale.h"

#include <algorithm>
#include <cmath>

#include "document/Numbers.h"

namespace ondrevo {

double TimescaleAxisMax(int valueIndex, int unit) {
  return kTimescaleValues[valueIndex] * 10.0 * kUnitLength[unit];
}

std::optional<TimescaleChoice> ZoomToFitTimescale(double end) {
  if (!(end > 0)) return std::nullopt;
  const double target = end / 10.0;
  for (int unit = kUnitMicro; unit >= kUnitHour; --unit) {
    for (int v = 0; v < kTimescaleValueCount; ++v) {
      const double candidate = kTimescaleValues[v] * kUnitLength[unit];
      // A relative tolerance so that 0.001 * 1000 counts as reaching a target of 1.
      if (candidate >= target * (1 - 1e-12)) {
        TimescaleChoice c{v, unit, 10.0 * candidate};
        if (kTimescaleValues[v] == 1000 && (unit == kUnitMicro || unit == kUnitMilli)) {
          c.ValueIndex = 0;
          c.Unit = unit - 1;
        }
        return c;
      }
    }
  }
  return TimescaleChoice{kTimescaleValueCount - 1, kUnitHour,
                         TimescaleAxisMax(kTimescaleValueCount - 1, kUnitHour)};
}

int TimeLabelDecimals(double step) {
  if (!(step > 0) || !std::isfinite(step)) return 2;
  // A hair below the power of ten so that 0.001 gives 3, not 4.
  const int digits = static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  return std::clamp(digits, 2, 15);
}

TimeTickLabel LabelTimeTick(int unit, double axisMax, double t, double tickStep) {
  double scale = 1;  // label units per second
  const char* caption = nullptr;
  switch (unit) {
    case kUnitHour:
      scale = 1.0 / 3600;
      break;
    case kUnitMinute:
      scale = 1.0 / 60;
      break;
    case kUnitMilli:
      if (axisMax >= 1 && axisMax <= 10) {
        caption = kUnitCaptions[kUnitSecond];
      } else {
        scale = 1000;
        caption = kUnitCaptions[kUnitMilli];
      }
      break;
    case kUnitMicro:
      if (axisMax >= 0.001 && axisMax <= 0.01) {
        scale = 1000;
        caption = kUnitCaptions[kUnitMilli];
      } else {
        scale = 1000000;
        caption = kUnitCaptions[kUnitMicro];
      }
      break;
    default:
      break;
  }
  const double value = unit == kUnitHour ? t / 3600 : unit == kUnitMinute ? t / 60 : t * scale;
  if (!(tickStep > 0)) return {FormatFixed(value, 4, 2), caption};
  // Every digit before the separator (no exponent form, whose four digits could not tell
  // ticks apart), and as many after it as the step needs.
  const int decimals = TimeLabelDecimals(tickStep * scale);
  const double magnitude = std::abs(value);
  const int before = magnitude >= 1 ? static_cast<int>(std::floor(std::log10(magnitude))) + 1 : 1;
  return {FormatFixed(value, std::max(4, before + decimals), decimals), caption};
}

bool LimitZoom(bool timeAxis, double currentMax, double& min, double& max) {
  if (timeAxis && min < 0) min = 0;
  return !(min < 0 || max > currentMax);
}

double HorizontalSnapStep(double percent, double timeSpan) {
  const double step = percent * timeSpan * 0.001;
  return step == 0 ? 1e-10 : step;
}

double VerticalSnapStep(double percent, double maximum, double resolution) {
  return std::max(percent * maximum * 0.001, resolution);
}

double SnapTo(double value, double step) {
  if (!(step > 0)) return value;
  return step * RoundHalfEven(value / step);
}

void StretchTable(SegmentTable& table, double factor) {
  for (std::int32_t i = 0; i <= table.LastPointIndex(); ++i) {
    SegmentRow& row = table[i];
    row.Time *= factor;
    if (row.Sup1.Kind == SuperpositionKind::None) continue;
    row.Sup1.FreqStart /= factor;
    row.Sup1.FreqEnd /= factor;
    if (row.Sup2.Kind != SuperpositionKind::None) {
      row.Sup2.FreqStart /= factor;
      row.Sup2.FreqEnd /= factor;
    }
  }
}

double CurvePeak(const SegmentTable& table) {
  const std::int32_t n = table.LastPointIndex();
  if (n <= 0) return 0.0;
  double peak = table[0].Value;
  for (std::int32_t i = 0; i <= n; ++i) {
    const SegmentRow& row = table[i];
    double v = row.Value;
    if (i < n && row.Sup1.Kind != SuperpositionKind::None) {
      v += std::max(row.Sup1.AmpStart, row.Sup1.AmpEnd) / 2;
    }
    peak = std::max(peak, v);
  }
  return peak;
}

}  // namespace ondrevo
