// Preview polylines of superposed segments and the device memory check.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "document/SegmentTable.h"
#include "model/Preview.h"

namespace ondrevo {

struct PreviewPoint {
  double T = 0, V = 0;
};
using Polyline = std::vector<PreviewPoint>;

inline constexpr int kPreviewSlotCount = 50;
inline constexpr std::size_t kMaxPreviewPoints = 100000;
inline constexpr double kEdgeWidth = 0.000000000000001;

// Points per period of square, triangle and sawtooth previews: 320 halved while one step is
// shorter than the minimum time step, down to 10.
int PreviewResolution(double freqStart, double freqEnd, double minStep);

enum class CheckOutcome {
  Accepted,
  FirstSwitchedOff,  // zero duration: the first superposition is set to none (and so the second)
  RefusedFirst,      // the first superposition's frequency fields go back to the stored ones
  RefusedSecond,     // the same for the second
};
struct MemoryCheck {
  CheckOutcome Outcome = CheckOutcome::Accepted;
  std::string Message;  // translated; empty when accepted
};
// Checks a segment's superpositions (as the tabs hold them) against the point budget.
// `budget` is the point budget in effect; it is below `daqBudget` exactly while a power supply
// is the target, and only then are point counts refused.
MemoryCheck CheckSuperpositions(const SegmentRow& segment, double t0, double t1,
                                std::int32_t budget, std::int32_t daqBudget);

inline constexpr double kWholeSegment = std::numeric_limits<double>::infinity();

// Offsets A(t) * q(t) of one superposition (no ramp), from t0 to t1 or only over the part of
// it within [from, to] (the part on screen, so that a zoomed view is computed at its own
// resolution). Every peak, edge and jump of the played shape is a point; an oscillation too
// dense for the points is drawn as the band between its peaks.
Polyline SuperpositionOffsets(const SuperpositionSpec& s, double t0, double t1, double minStep,
                              double sineStep, double from = -kWholeSegment,
                              double to = kWholeSegment);

// The preview of a segment: ramp from (t0, y0) to (t1, y1) plus its superpositions, starting
// at (t0, y0) and ending with (t1, y1). `axisWidth` is the width of the time axis on screen
// (sine step / 5000); [from, to] as above.
Polyline SegmentPreview(const SegmentRow& segment, double t0, double t1, double y0, double y1,
                        double minStep, double axisWidth, double from = -kWholeSegment,
                        double to = kWholeSegment);

}  // namespace ondrevo
