// The 1 s chirp the sampling benchmarks share: a 0 to 5 V ramp with a sine sweeping from 1 kHz to
// 10 kHz and from 2 to 4 V peak to peak, limited to +-10 V.
#pragma once

#include <memory>

#include "document/SegmentTable.h"
#include "model/Builder.h"

namespace ondrevo::bench {

inline std::shared_ptr<TWaveform> ChirpWaveform() {
  SegmentTable t;
  t[0].Value = 0;
  t[1].Time = 1;
  t[1].Value = 5;
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup1.FreqStart = 1000;
  t[0].Sup1.FreqEnd = 10000;
  t[0].Sup1.AmpStart = 2;
  t[0].Sup1.AmpEnd = 4;
  t.SetLastPointIndex(1);
  std::shared_ptr<TWaveform> w = BuildWaveform(t);
  w->MinValue = -10, w->MaxValue = 10;
  return w;
}

}  // namespace ondrevo::bench
