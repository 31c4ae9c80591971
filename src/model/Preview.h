// The editor's device memory check of superposed segments, as pure functions.
#pragma once

#include <cstdint>
#include <vector>

#include "document/SegmentTable.h"
#include "document/Translate.h"

namespace ondrevo {

// Points a superposition needs on a supply: 4 per period for a square, 10 for the other kinds,
// at the larger of the two frequencies.
double NeededPoints(double t0, double t1, double freqStart, double freqEnd, SuperpositionKind kind);

// Points one superposition may need on a power supply.
inline constexpr double kSuperpositionPointBudget = 1000;

inline constexpr const char* kFirstSuperpositionTooLarge =
    N_("The first superposition takes up to much device memory. Please decrease duration or "
       "frequency.");
inline constexpr const char* kSecondSuperpositionTooLarge =
    N_("The second superposition takes up to much device memory. Please decrease duration or "
       "frequency.");
inline constexpr const char* kDurationNotPositive = N_("The duration should be greater than 0.");

struct SuperpositionMemoryFinding {
  std::int32_t Segment = 0;        // row of the segment's first point
  std::int32_t Superposition = 1;  // 1 or 2
  double Needed = 0.0;             // points (0 for a zero duration)
  const char* Message = nullptr;   // untranslated: one of the texts above
};

// Every superposition of the table that the editor refuses (or, on a zero-duration segment,
// switches off), segment by segment, second before first as the editor checks them.
// `supply` false: an analog output card, where no point count is refused.
std::vector<SuperpositionMemoryFinding> CheckSuperpositionMemory(const SegmentTable& table,
                                                                 double budget = kSuperpositionPointBudget,
                                                                 bool supply = true);

}  // namespace ondrevo
