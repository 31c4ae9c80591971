#include "model/Builder.h"

#include <cmath>

namespace ondrevo {

TModifierPtr MakeRamp(double startValue, double endValue, double duration) {
  // A zero-length ramp is a step: it holds its end value instead of dividing by zero.
  if (duration == 0.0) return std::make_unique<TConstantModifier>(endValue);
  if (startValue == endValue) return std::make_unique<TConstantModifier>(startValue);
  // So short (a denormal duration) that the slope overflows: a step as well.
  const double slope = (endValue - startValue) / duration;
  if (!std::isfinite(slope)) return std::make_unique<TConstantModifier>(endValue);
  return std::make_unique<TAddModifier>(
      std::make_unique<TConstantModifier>(startValue),
      std::make_unique<TGradientModifier>(std::make_unique<TConstantModifier>(slope)));
}

TModifierPtr MakeSuperposition(const SuperpositionSpec& spec, double duration) {
  if (spec.Kind == SuperpositionKind::None) return nullptr;
  auto amplitude = MakeRamp(spec.AmpStart / 2.0, spec.AmpEnd / 2.0, duration);
  auto frequency = MakeRamp(spec.FreqStart, spec.FreqEnd, duration);
  auto phase = std::make_unique<TConstantModifier>(spec.Phase * kTwoPi / 360.0);
  switch (spec.Kind) {
    case SuperpositionKind::Sine:
      return std::make_unique<TSineModifier>(std::move(amplitude), std::move(frequency),
                                             std::move(phase));
    case SuperpositionKind::Square:
      return std::make_unique<TSquareModifier>(
          std::move(amplitude), std::move(frequency), std::move(phase),
          std::make_unique<TConstantModifier>(spec.DutyCycle / 100.0));
    case SuperpositionKind::Triangle:
      return std::make_unique<TTriangleModifier>(std::move(amplitude), std::move(frequency),
                                                 std::move(phase));
    case SuperpositionKind::Sawtooth:
      return std::make_unique<TSawtoothModifier>(std::move(amplitude), std::move(frequency),
                                                 std::move(phase));
    case SuperpositionKind::None:
      break;
  }
  return nullptr;
}

std::unique_ptr<TWaveform> BuildWaveform(const SegmentTable& table, std::int32_t lastPointIndex) {
  auto waveform = std::make_unique<TWaveform>();
  for (std::int32_t i = 0; i < lastPointIndex; ++i) {
    const SegmentRow& row = table[i];
    const SegmentRow& next = table[i + 1];
    const double duration = next.Time - row.Time;
    TModifierPtr modifier;
    if (row.Sup1.Kind != SuperpositionKind::None || row.Sup2.Kind != SuperpositionKind::None) {
      TModifierPtr superposed;
      if (row.Sup1.Kind != SuperpositionKind::None && row.Sup2.Kind != SuperpositionKind::None)
        superposed = std::make_unique<TAddModifier>(MakeSuperposition(row.Sup1, duration),
                                                    MakeSuperposition(row.Sup2, duration));
      else
        superposed = MakeSuperposition(row.Sup1, duration);  // none when only Sup2 is set
      modifier = std::make_unique<TAddModifier>(MakeRamp(row.Value, next.Value, duration),
                                                std::move(superposed));
    } else {
      // MakeRamp turns a zero-length step into the constant of its end value, so a curve that
      // ends in a step holds that value rather than dropping to 0.
      modifier = MakeRamp(row.Value, next.Value, duration);
    }
    waveform->Append(std::make_unique<TSegment>(std::move(modifier), row.Time, duration));
  }
  return waveform;
}

CurveFacts ComputeCurveFacts(const TWaveform& waveform) {
  CurveFacts facts;
  facts.Duration = waveform.GetDuration();
  facts.Min = waveform.GetMin();
  facts.Max = waveform.GetMax();
  facts.SampleRate = waveform.GetSampleRate();
  facts.PointCount = waveform.GetPointCount();
  return facts;
}

CurveFacts ComputeCurveFacts(const SegmentTable& table) {
  return ComputeCurveFacts(*BuildWaveform(table));
}

}  // namespace ondrevo
