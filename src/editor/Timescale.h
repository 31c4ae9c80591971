// Time-axis arithmetic of the editor: timescale lists, zoom to fit, tick labels, zoom limits and
// snapping. Pure functions.
#pragma once

#include <optional>
#include <string>

#include "document/SegmentTable.h"
#include "document/Translate.h"

namespace ondrevo {

// ComboBox1 values and ComboBox2 units (ordered from h to us, as the list shows them).
inline constexpr int kTimescaleValues[10] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
inline constexpr int kTimescaleValueCount = 10;
enum TimeUnit { kUnitHour = 0, kUnitMinute, kUnitSecond, kUnitMilli, kUnitMicro, kUnitCount };
inline constexpr double kUnitLength[kUnitCount] = {3600, 60, 1, 0.001, 0.000001};
inline constexpr const char* kUnitNames[kUnitCount] = {"h/div", "min/div", "s/div", "ms/div",
                                                       "us/div"};
// Translated where they are shown.
inline constexpr const char* kUnitCaptions[kUnitCount] = {
    N_("Time [h]"), N_("Time [min]"), N_("Time [s]"), N_("Time [ms]"), N_("Time [us]")};

// Time-axis maximum of a timescale: ten divisions.
double TimescaleAxisMax(int valueIndex, int unit);

struct TimescaleChoice {
  int ValueIndex = 0;  // into kTimescaleValues
  int Unit = kUnitSecond;
  double AxisMax = 10.0;
};

// The smallest timescale whose division is not below end / 10 (units from us up, values
// ascending); 1000 us and 1000 ms are shown as 1 of the next unit. Nothing for end <= 0.
// Ends beyond the largest timescale take the largest.
std::optional<TimescaleChoice> ZoomToFitTimescale(double end);

struct TimeTickLabel {
  std::string Text;     // fixed-point, precision 4, 2 decimals, "." as separator
  const char* Caption;  // axis caption to show, or nullptr to leave it
};
// Label of the tick at `t` seconds for the selected unit and time-axis maximum. With
// `tickStep` (seconds between ticks) the label keeps every digit before the separator and gets
// the decimals that tell neighbouring ticks apart when zoomed in.
TimeTickLabel LabelTimeTick(int unit, double axisMax, double t, double tickStep = 0);

// Decimals that tell ticks `step` label units apart: 2, more once the step is below 0.01.
int TimeLabelDecimals(double step);

// Mouse zoom limits: the time axis never starts below 0; a zoom below 0 or beyond the axis's
// current maximum is refused (false).
bool LimitZoom(bool timeAxis, double currentMax, double& min, double& max);

// Snap steps from the snap lists ("Free" is 0 percent).
double HorizontalSnapStep(double percent, double timeSpan);
double VerticalSnapStep(double percent, double maximum, double resolution);
double SnapTo(double value, double step);

// Multiplies every point time by `factor` and divides the frequencies of every superposition
// in effect by it, keeping the number of periods of each segment.
void StretchTable(SegmentTable& table, double factor);

// Peak of a curve for zoom to fit: point value plus half the larger amplitude of the first
// superposition of the segment starting there.
double CurvePeak(const SegmentTable& table);

}  // namespace ondrevo
