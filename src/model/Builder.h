// From a document's segment table to an evaluable waveform.
#pragma once

#include <cstdint>
#include <memory>

#include "document/SegmentTable.h"
#include "model/Waveform.h"

namespace ondrevo {

// Linear from startValue at 0 to endValue at duration; a constant when both are equal or the
// duration is 0 (a step holds its end value).
TModifierPtr MakeRamp(double startValue, double endValue, double duration);
// The periodic function of one superposition; nullptr for kind none.
TModifierPtr MakeSuperposition(const SuperpositionSpec& spec, double duration);
// One segment per segment of the table (lastPointIndex of them).
std::unique_ptr<TWaveform> BuildWaveform(const SegmentTable& table, std::int32_t lastPointIndex);
inline std::unique_ptr<TWaveform> BuildWaveform(const SegmentTable& table) {
  return BuildWaveform(table, table.LastPointIndex());
}

// What the remote window and `ondrevo-cli info` show of one curve.
struct CurveFacts {
  double Duration = 0.0;
  double Min = 0.0;
  double Max = 0.0;
  double SampleRate = 0.0;
  std::int32_t PointCount = 0;
};
CurveFacts ComputeCurveFacts(const TWaveform& waveform);
CurveFacts ComputeCurveFacts(const SegmentTable& table);

}  // namespace ondrevo
