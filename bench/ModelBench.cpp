// Sampler speed against plain loops of the same number of std::sin values, in one run; the
// ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "BenchDocuments.h"
#include "Chirp.h"
#include "RatioReporter.h"
#include "model/Builder.h"
#include "model/Samplers.h"

namespace ondrevo::bench {
namespace {

constexpr double kHour = 1.0;
// Samples the count sampler evaluates per waveform: every half MinDwellTime (2 grid steps).
constexpr std::int64_t kCountSamples = static_cast<std::int64_t>(kHour * 3600 * kGridRate / 2);
constexpr std::int64_t kEquidistantSamples = 1000000;

void CountSample(benchmark::State& state, const SegmentTable& voltageTable) {
  auto voltage = BuildWaveform(voltageTable);
  auto current = BuildWaveform(ConstantCurve(kHour, 2));
  voltage->MinValue = 0, voltage->MaxValue = 20, voltage->Resolution = 0.002;
  current->MinValue = 0, current->MaxValue = 8, current->Resolution = 0.001;
  TCountSampler sampler;
  sampler.MinDwellTime = 0.0002;  // family A
  sampler.MaxDwellTime = 100;
  sampler.Waveforms = {voltage.get(), current.get()};
  TDoubleVector durations;
  TDoubleMatrix values;
  for (auto _ : state) {
    sampler.Execute(1000, durations, values);
    benchmark::DoNotOptimize(durations.data());
  }
  state.counters["points"] = static_cast<double>(durations.size());
}

void BM_CountSamplerSine1h(benchmark::State& state) {
  CountSample(state, SineCurve(kHour));
}
void BM_CountSamplerSteps1h(benchmark::State& state) {
  CountSample(state, StepsAndRampsCurve(kHour));
}

// The same number of sines as the count sampler evaluates, at the same times.
void BM_SinLoopCount1h(benchmark::State& state) {
  for (auto _ : state) {
    double sum = 0;
    for (std::int64_t k = 0; k < kCountSamples; ++k)
      sum += std::sin(kTwoPi * 1000.0 * (k * 0.0001 + kSamplerEpsilon));
    benchmark::DoNotOptimize(sum);
  }
}

void BM_EquidistantChirp1s(benchmark::State& state) {
  auto w = ChirpWaveform();
  TEquidistantSampler sampler;
  sampler.Waveform = w.get();
  TDoubleVector buffer(kEquidistantSamples);
  std::uint32_t restarts = 0;
  TIntegerVector positions;
  for (auto _ : state) {
    sampler.Start(0, 0, 1.0 / kEquidistantSamples);
    sampler.Fill(buffer, restarts, positions);
    benchmark::DoNotOptimize(buffer.data());
  }
}

void BM_SinLoop1M(benchmark::State& state) {
  for (auto _ : state) {
    double sum = 0;
    for (std::int64_t k = 0; k < kEquidistantSamples; ++k) {
      const double t = k * 1e-6;
      sum += std::sin(kTwoPi * (1000.0 + 4500.0 * t) * t);
    }
    benchmark::DoNotOptimize(sum);
  }
}

// Single runs repeated: the ratios use each case's fastest run, the least disturbed by other
// work on the machine.
BENCHMARK(BM_SinLoopCount1h)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_CountSamplerSine1h)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_CountSamplerSteps1h)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_SinLoop1M)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(5);
BENCHMARK(BM_EquidistantChirp1s)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(5);

}  // namespace
}  // namespace ondrevo::bench

int main(int argc, char** argv) {
  using namespace ondrevo::bench;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios\n");
  PrintRatio(reporter, "count sampler, 1 h 1 kHz sine / plain sin loop", "BM_CountSamplerSine1h",
             "BM_SinLoopCount1h", "<= 1.3");
  PrintRatio(reporter, "equidistant fill, 1 s chirp at 1 MS/s / plain sin loop",
             "BM_EquidistantChirp1s", "BM_SinLoop1M", "<= 1.2");
  PrintRatio(reporter, "speed-up, 1 h steps and ramps over 1 h sine (count sampler)",
             "BM_CountSamplerSine1h", "BM_CountSamplerSteps1h", ">= 10");
  benchmark::Shutdown();
  return 0;
}
