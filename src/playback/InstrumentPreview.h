// What a list-memory supply will play for a document: the point list its driver uploads, the
// largest deviation of that staircase from the design, the values its limits clip, the memory
// check of superposed segments. Widget-free; the editor, the remote window and ondrevo-cli
// show the same result.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/SegmentTable.h"
#include "measure/Deviation.h"
#include "model/ListSampling.h"
#include "model/Preview.h"
#include "model/Samplers.h"

namespace ondrevo {

// A stretch where a curve lies beyond a limit; the sampler plays the limit there instead.
struct ClipFinding {
  std::int32_t Segment = 0;  // row of the first point of the first segment concerned
  double From = 0.0;         // s
  double To = 0.0;           // s
  double Limit = 0.0;        // the limit crossed
  double Excess = 0.0;       // largest distance beyond it (an upper bound on superposed segments)
  bool Above = true;         // above the maximum, else below the minimum
};

struct CurvePreview {
  bool Designed = false;  // the curve has segments
  double Duration = 0.0;
  double SampleRate = 0.0;  // the design's own: where the deviation is evaluated
  double MinValue = 0.0, MaxValue = 0.0, Resolution = 0.0;
  // Largest |design - played| and the first time it occurs. Exact on levels and ramps, at the
  // design's sample rate on superposed segments (to within 1e-9 of the value's size).
  double MaxDeviation = 0.0;
  double DeviationTime = 0.0;
  // Where the deviation is more than ten resolution steps: each stretch as a value and a shift
  // in time, so that an edge played late does not read as a missing level.
  DeviationReport Stretches;
  std::vector<ClipFinding> Clipping;
  std::vector<SuperpositionMemoryFinding> Memory;  // supply budget
};

struct InstrumentPreview {
  SupplyListSettings Settings;
  // Exactly what the driver uploads.
  TDoubleVector Durations;
  TDoubleMatrix Values;  // [voltage, current]
  // Start of each point, then the end of the last one (one more entry than Durations).
  TDoubleVector Times;
  CurvePreview Voltage, Current;

  std::int32_t PointCount() const { return static_cast<std::int32_t>(Durations.size()); }
  std::int32_t Budget() const { return Settings.MaxPoints; }
  // Without a current curve the supply plays its maximum current throughout.
  bool MissingCurrent() const { return !Current.Designed; }
  // Without a voltage curve it would play its maximum voltage: never as designed.
  bool MissingVoltage() const { return !Voltage.Designed; }
  // The staircase exceeds the resolution by more than ten steps on a designed curve.
  bool DeviationTooLarge() const;
  // Clipping, a refused superposition, too large a deviation or no voltage curve: not played as
  // designed.
  bool Fits() const;
};

// Raised when a request was cancelled before it finished.
class EPreviewCancelled : public std::runtime_error {
 public:
  EPreviewCancelled() : std::runtime_error("cancelled") {}
};

// Lets another thread stop a computation: Cancel aborts the sampler and every loop.
class TPreviewCancel {
 public:
  void Cancel() {
    cancelled_.store(true);
    Sampler.Abort();
  }
  bool Cancelled() const { return cancelled_.load(); }
  const std::atomic<bool>* Flag() const { return &cancelled_; }
  TCountSampler Sampler;

 private:
  std::atomic<bool> cancelled_{false};
};

// The whole computation. Raises ESamplerError when the supply cannot sample the document, and
// EPreviewCancelled.
InstrumentPreview ComputeInstrumentPreview(const SegmentTable& voltage, const SegmentTable& current,
                                           const SupplyListSettings& settings,
                                           TPreviewCancel* cancel = nullptr);

// Only what needs no sampling: the clipping findings and whether a current curve exists (for
// a last word before an upload). Durations and values stay empty.
InstrumentPreview ComputeLimitFindings(const SegmentTable& voltage, const SegmentTable& current,
                                       const SupplyListSettings& settings);

// Deviation and clipping of one built waveform against a staircase (times: n + 1 entries).
// The waveform's MinValue and MaxValue are the limits.
void MeasureCurve(const TWaveform& design, const TDoubleVector& times, const TDoubleVector& played,
                  CurvePreview& out, const std::atomic<bool>* cancelled = nullptr);

// Smallest and largest design value in each of `columns` equal parts of [t0, t1], for plots:
// the design's own samples where a column holds few of them, the value bounds of the
// segment where it holds many (a fast superposition becomes a band). NaN where the curve has
// no segment.
void DesignEnvelope(const TWaveform& design, double t0, double t1, int columns, TDoubleVector& lo,
                    TDoubleVector& hi);

// The design as a function of time: the segment in force, its end value held after the end.
// The first form keeps a reference: the waveform must outlive the function.
TCurveFunction DesignFunction(const TWaveform& design);
TCurveFunction DesignFunction(std::shared_ptr<const TWaveform> design);

// Texts for the user, translated: "812 of 1000 points · max deviation 0.043 V at 12.5 s".
std::string PreviewSummary(const InstrumentPreview& preview);
// One line per finding (clipping, memory, deviation, missing current), translated.
std::vector<std::string> PreviewFindings(const InstrumentPreview& preview);
// Only the findings that play the document differently without any notice: clipping and a
// missing curve.
std::vector<std::string> SilentChangeFindings(const InstrumentPreview& preview);

}  // namespace ondrevo
