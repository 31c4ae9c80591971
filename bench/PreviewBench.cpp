// The instrument preview against the plain sampling of the same document, in one run: the
// deviation and the findings should come almost free.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "BenchDocuments.h"
#include "devices/ModelTables.h"
#include "model/Builder.h"
#include "model/ListSampling.h"
#include "playback/InstrumentPreview.h"

namespace ondrevo::bench {
namespace {

constexpr double kHour = 1.0;

// What `ondrevo-cli sample` does: build both curves, sample them as the model's driver does.
void Sample(benchmark::State& state, const SegmentTable& v, const char* model) {
  const SegmentTable i = ConstantCurve(kHour, 2);
  const SupplyListSettings settings = ListSettingsForModel(model);
  for (auto _ : state) {
    auto voltage = BuildWaveform(v);
    auto current = BuildWaveform(i);
    TCountSampler sampler;
    SupplyPointList list = SampleSupplyList(settings, *voltage, *current, sampler);
    benchmark::DoNotOptimize(list.Durations.data());
  }
}

void Preview(benchmark::State& state, const SegmentTable& v, const char* model) {
  const SegmentTable i = ConstantCurve(kHour, 2);
  const SupplyListSettings settings = ListSettingsForModel(model);
  double deviation = 0;
  for (auto _ : state) {
    InstrumentPreview p = ComputeInstrumentPreview(v, i, settings);
    deviation = p.Voltage.MaxDeviation;
    benchmark::DoNotOptimize(p.Durations.data());
  }
  state.counters["deviation"] = deviation;
}

const SegmentTable kSine = SineCurve(kHour);
// A frequency whose design samples never hit the crest exactly: no piece can be skipped early.
SegmentTable OddSine() {
  SegmentTable t = SineCurve(kHour);
  t[0].Sup1.FreqStart = t[0].Sup1.FreqEnd = 997;
  return t;
}
const SegmentTable kOddSine = OddSine();

void BM_SampleSine1hFamilyC(benchmark::State& s) {
  Sample(s, kSine, "KSV 7341-20");
}
void BM_PreviewSine1hFamilyC(benchmark::State& s) {
  Preview(s, kSine, "KSV 7341-20");
}
void BM_SampleSine1hFamilyA(benchmark::State& s) {
  Sample(s, kSine, "KSV 5203-32");
}
void BM_PreviewSine1hFamilyA(benchmark::State& s) {
  Preview(s, kSine, "KSV 5203-32");
}
void BM_SampleOddSine1hFamilyC(benchmark::State& s) {
  Sample(s, kOddSine, "KSV 7341-20");
}
void BM_PreviewOddSine1hFamilyC(benchmark::State& s) {
  Preview(s, kOddSine, "KSV 7341-20");
}

BENCHMARK(BM_SampleSine1hFamilyC)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_PreviewSine1hFamilyC)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_SampleSine1hFamilyA)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_PreviewSine1hFamilyA)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_SampleOddSine1hFamilyC)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_PreviewOddSine1hFamilyC)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      const std::string name = r.run_name.function_name;
      const double t = r.GetAdjustedCPUTime();
      if (!times.count(name) || t < times[name]) times[name] = t;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

void PrintRatio(const RatioReporter& r, const char* what, const char* a, const char* b,
                const char* target) {
  const auto x = r.times.find(a), y = r.times.find(b);
  if (x == r.times.end() || y == r.times.end() || y->second <= 0) return;
  std::printf("%-62s %6.2f  (target %s)\n", what, x->second / y->second, target);
}

}  // namespace
}  // namespace ondrevo::bench

int main(int argc, char** argv) {
  using namespace ondrevo::bench;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios\n");
  PrintRatio(reporter, "preview / sample, 1 h 1 kHz sine, KSV 7341-20", "BM_PreviewSine1hFamilyC",
             "BM_SampleSine1hFamilyC", "<= 1.3");
  PrintRatio(reporter, "preview / sample, 1 h 1 kHz sine, KSV 5203-32", "BM_PreviewSine1hFamilyA",
             "BM_SampleSine1hFamilyA", "<= 1.3");
  PrintRatio(reporter, "preview / sample, 1 h 997 Hz sine, KSV 7341-20 (no early skip)",
             "BM_PreviewOddSine1hFamilyC", "BM_SampleOddSine1hFamilyC", "informative");
  benchmark::Shutdown();
  return 0;
}
