// How the segment grid shows a duration, shared with the command line so that both print the
// same text for the same length.
#pragma once

#include <string>

namespace ondrevo {

struct ShownDuration {
  double Value = 0;
  const char* Unit = "s";  // "h", "min", "s", "ms", "us"
};
// Grid rule: hours above 36000 s, minutes above 600 s, else seconds stepping to ms and us while
// the number is below 0.1 (at most two steps).
ShownDuration DurationDisplay(double seconds);
// The grid's duration cell for DurationDisplay(seconds).Value (7 significant digits, 5 decimals).
std::string DurationCellText(const ShownDuration& shown);
// Cell text and unit as the grid shows them: "599.99000 s", "1.50000 h".
std::string DurationText(double seconds);

}  // namespace ondrevo
