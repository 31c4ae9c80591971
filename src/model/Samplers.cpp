#include "model/Samplers.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <typeinfo>

#include "document/Numbers.h"
#include "document/Translate.h"
#include "model/BlockScan.h"
#include "model/SamplerErrors.h"

namespace ondrevo {

double TSampler::RoundToGrid(double rate, double x, double step) const {
  if (rate == 0.0 || step > 1.0 + kEps) return x;
  const double steps = RoundHalfEven(rate * step);
  // A step finer than the grid would divide by zero: the grid itself is the finest step.
  if (steps == 0.0) return RoundHalfEven(rate * x) / rate;
  const double n = RoundHalfEven(RoundHalfEven(rate * x) / steps);
  return RoundHalfEven(n * step * rate) / rate;
}

bool TSampler::DoProgress(const std::string& message) {
  bool proceed = true;
  if (OnProgress) OnProgress(message, proceed);
  return proceed;
}

void TEquidistantSampler::Start(std::int32_t skip, std::int32_t position, double interval) {
  if (!Waveform) throw ESamplerError("No Waveform loaded");
  const double duration = Waveform->GetDuration();
  if (Waveform->Empty() || !(duration > 0.0) || !std::isfinite(duration))
    throw ESamplerError("The waveform is empty or has no length.");
  if (!(interval > 0.0) || !std::isfinite(interval))
    throw ESamplerError("The sample interval must be greater than 0.");
  if (skip < 0 || position < 0) throw ESamplerError("Invalid sample position.");
  // Fill adds the interval to the time: above 2^52 intervals per run it could round to no step
  // at all and the stream would stand still on one sample.
  if (!(duration / interval < 4503599627370496.0))
    throw ESamplerError(_("The waveform is too long for its sample interval."));
  Interval = interval;
  Iterator = Waveform->First();
  CurrentSegment = Waveform->NextSegment(Iterator);
  Skip = skip;
  Position = position;
  Time = position * interval + kEps;
}

void TEquidistantSampler::Fill(TDoubleVector& buffer, std::uint32_t& restarts,
                               TIntegerVector& restartPositions) {
  if (!Waveform || !CurrentSegment) throw ESamplerError("No Waveform loaded");
  const std::int64_t length = static_cast<std::int64_t>(buffer.size());
  const std::int64_t stride = static_cast<std::int64_t>(Skip) + 1;
  const double advance = static_cast<double>(stride) * Interval;
  const double maxValue = Waveform->MaxValue, minValue = Waveform->MinValue;
  std::int64_t i = Position;
  restarts = 0;
  restartPositions.clear();
  while (i < length) {
    const TSegment* seg = CurrentSegment;
    const double end = seg->Start + seg->Duration - kEps;
    const double gain = Gain;
    double* out = buffer.data();
    // Gain, limits and the finite check, in one place for both loops below.
    const double hi = maxValue + kEps, lo = minValue - kEps;
    const bool scaled = gain != 1.0;  // a gain of 1 changes no bit
    auto limit = [&](double v, double time) {
      if (!(v - v == 0.0)) NotFinite("The waveform", time);
      out[i] = v > hi ? maxValue : (v < lo ? minValue : v);
      i += stride;
    };
    auto put = [&](double v, double time) { limit(scaled ? v * gain : v, time); };
    TSegment::ClosedForm form;
    if (seg->GetClosedForm(form)) {
      // Blocks of times as the loop below steps them, then their values at once. The running
      // sum of the next block's times is formed while this block is stored: on its own its
      // additions would wait for each other.
      constexpr std::size_t kBlock = TSegment::ClosedForm::kBlock;
      double timesA[kBlock], timesB[kBlock], values[kBlock];
      double* times = timesA;
      double* next = timesB;
      double time = Time;  // a local: the stores cannot alias it
      auto capacity = [&](std::int64_t from) {
        const std::int64_t left = from < length ? (length - from + stride - 1) / stride : 0;
        return left < std::int64_t{kBlock} ? static_cast<std::size_t>(left) : kBlock;
      };
      std::size_t m = 0;
      if (i < length && end > time) {
        const std::size_t cap = capacity(i);
        do {
          times[m++] = time;
          time += advance;
        } while (m < cap && end > time);
      }
      while (m > 0) {
        form.Values(times, values, m);
        // Gain and limits over the block where every value is finite; otherwise one by one, so
        // that the first value that is not a number stops the fill where it is reached.
        if (scaled)
          for (std::size_t j = 0; j < m; ++j) values[j] *= gain;
        // Values within the limits (the usual case) pass as they are.
        const bool inside = ShapeOf(values, m, lo, hi).inside;
        const bool finite = inside || AllFinite(values, m);
        if (!inside && finite)
          for (std::size_t j = 0; j < m; ++j)
            values[j] = values[j] > hi ? maxValue : (values[j] < lo ? minValue : values[j]);
        auto store = [&](std::size_t j) {
          if (!finite) return limit(values[j], times[j]);
          out[i] = values[j];
          i += stride;
        };
        // The next block follows only when this one stopped at its capacity inside the segment.
        const std::size_t cap =
            end > time ? capacity(i + static_cast<std::int64_t>(m) * stride) : 0;
        const std::size_t paired = std::min(cap, m);
        double t = time;
        for (std::size_t j = 0; j < paired; ++j) {
          store(j);
          next[j] = t;
          t += advance;
        }
        for (std::size_t j = paired; j < m; ++j) store(j);
        for (std::size_t j = paired; j < cap; ++j) {
          next[j] = t;
          t += advance;
        }
        // The first time is inside the segment; the block ends before the first that is not.
        std::size_t count = cap;
        if (cap > 0 && !(end > next[cap - 1])) {  // rising times: only then is one outside
          count = 1;
          while (end > next[count]) ++count;
        }
        time = count < cap ? next[count] : (cap > 0 ? t : time);
        m = count;
        std::swap(times, next);
      }
      Time = time;
    } else {
      while (i < length && end > Time) {
        put(seg->GetValue(Time), Time);
        Time += advance;
      }
    }
    if (end > Time) continue;  // the buffer is full inside this segment
    if (Iterator) {
      CurrentSegment = Waveform->NextSegment(Iterator);
    } else {
      Iterator = Waveform->First();
      CurrentSegment = Waveform->NextSegment(Iterator);
      // Whole intervals of overshoot carry over. A time within epsilon before the end would
      // give -1 and a sample before the start: it restarts at the start instead.
      const double m = std::floor((Time - Waveform->GetDuration()) / Interval);
      Time = std::max(m, 0.0) * Interval + kEps;
      ++restarts;
      restartPositions.push_back(static_cast<std::int32_t>(i));
    }
  }
  Position = static_cast<std::int32_t>(i - length);
}

}  // namespace ondrevo
