// Where a curve goes beyond the maximum of the model in effect: the stretches the instrument
// would clip, worded as the instrument view words its findings. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/SegmentTable.h"

namespace ondrevo {

struct LimitBreach {
  std::int32_t Segment = 0;  // row of the segment's first point
  double From = 0, To = 0;   // seconds
  double Limit = 0;
  double Excess = 0;        // largest distance beyond the limit (a bound on superposed segments)
  bool Above = true;        // above the maximum, else below 0 (a superposition's trough)
  bool StartAbove = false;  // the segment's start value itself lies above the limit
  bool EndAbove = false;    // its end value
  bool Superposed = false;  // only its superpositions reach beyond the limit
};

// The stretch of every segment above `maximum`, in segment order: the part of a ramp above it
// (from where it crosses), a superposed segment whole when its peaks can reach beyond it, or
// its troughs below 0.
std::vector<LimitBreach> FindLimitBreaches(const SegmentTable& table, double maximum);
// The same for segments first..last only (clamped to the curve).
std::vector<LimitBreach> FindLimitBreaches(const SegmentTable& table, double maximum,
                                           std::int32_t first, std::int32_t last);

// "voltage above 20 V by up to 5 V from 0 s to 2 s" (translated).
std::string LimitBreachText(const LimitBreach& breach, Quantity quantity);

}  // namespace ondrevo
