#include "document/Durations.h"

#include "document/Numbers.h"

namespace ondrevo {

ShownDuration DurationDisplay(double d) {
  if (d > 36000) return {d / 3600, "h"};
  if (d > 600) return {d / 60, "min"};
  ShownDuration shown{d, "s"};
  for (const char* next : {"ms", "us"}) {
    if (d == 0 || d >= 0.1) break;
    d *= 1000;
    shown = {d, next};
  }
  return shown;
}

std::string DurationCellText(const ShownDuration& shown) {
  return FormatFixed(shown.Value, 7, 5);
}

std::string DurationText(double seconds) {
  const ShownDuration shown = DurationDisplay(seconds);
  return DurationCellText(shown) + " " + shown.Unit;
}

}  // namespace ondrevo
