// Turning waveforms into numbers: point lists for supplies, equidistant buffers for DAQ cards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/Waveform.h"

namespace ondrevo {

using TWaveformVector = std::vector<TWaveform*>;  // not owned
using TDoubleVector = std::vector<double>;
using TIntegerVector = std::vector<std::int32_t>;
using TDoubleMatrix = std::vector<TDoubleVector>;

struct TSamplePointRec {
  std::uint64_t Index = 0;  // grid index of the point's first sample
  TDoubleVector Values;     // one per waveform
  bool Constant = false;    // a held level rather than a single sample of a changing curve
};

// A sampling failure ("No Waveform loaded", "The waveform cannot be reduced to N points.", ...).
class ESamplerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::uint32_t kGridRate = 20000;  // grid points per second (50 us)
inline constexpr double kSamplerEpsilon = 0.0000001;
inline constexpr std::int32_t kBufferFactor = 10;
// Shortest MinDwellTime the count sampler accepts: two grid steps.
inline constexpr double kMinSamplerDwell = 2.0 / kGridRate;

class TSampler {
 public:
  virtual ~TSampler() = default;

  // x rounded to a multiple of step on the grid of 1 / rate (unchanged for rate 0 or step > 1;
  // to the grid itself for a step below half a grid interval).
  virtual double RoundToGrid(double rate, double x, double step) const;
  // Calls OnProgress (which may clear Continue); returns Continue.
  virtual bool DoProgress(const std::string& message);

  std::function<void(const std::string& message, bool& proceed)> OnProgress;
  double MinDwellTime = 0.0;
  double MaxDwellTime = 0.0;
  double Interval = 0.0;
  double Gain = 1.0;
};

class TCountSampler : public TSampler {
 public:
  // Samples Waveforms together into at most maxPoints points (dwell time, one value per
  // waveform). Raises ESamplerError; when aborted, durations and values stay as they were.
  void Execute(std::int32_t maxPoints, TDoubleVector& durations, TDoubleMatrix& values);
  // Thread-safe: every loop of Execute stops at its next check.
  void Abort() { aborted_.store(true, std::memory_order_relaxed); }
  bool Aborted() const { return aborted_.load(std::memory_order_relaxed); }

  TWaveformVector Waveforms;
  // Held levels are skipped without evaluating each grid step (same result); false forces
  // step-by-step evaluation (kept for comparison).
  bool SkipHeldLevels = true;

 private:
  std::atomic<bool> aborted_{false};
};

class TEquidistantSampler : public TSampler {
 public:
  // Samples go to positions position, position + skip + 1, ... at times position * interval
  // (+ epsilon), ... Refuses a missing, empty or zero-length waveform.
  void Start(std::int32_t skip, std::int32_t position, double interval);
  // Writes this sampler's positions of buffer, continuing in time, wrapping at the end.
  void Fill(TDoubleVector& buffer, std::uint32_t& restarts, TIntegerVector& restartPositions);

  TWaveform* Waveform = nullptr;  // not owned
  double Time = 0.0;
  const TContainer* Iterator = nullptr;
  TSegment* CurrentSegment = nullptr;
  std::int32_t Skip = 0;
  std::int32_t Position = 0;
};

}  // namespace ondrevo
