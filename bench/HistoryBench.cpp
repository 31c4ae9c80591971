// Undo history of a 60,000-point document after 256 single-cell edits: the heap it holds beyond
// the document, and the time of one Undo against copying the whole document into fresh tables
// (the least a redraw of it costs) and against filling the plot's point lists.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "editor/core/History.h"

namespace ondrevo::bench {
namespace {

constexpr std::int32_t kPoints = 60000;
constexpr int kEdits = 256;

std::unique_ptr<Document> MakeDocument() {
  auto doc = std::make_unique<Document>();
  SegmentTable& v = doc->Voltage;
  for (std::int32_t i = 0; i < kPoints; ++i) {
    v[i].Time = i * 0.01;
    v[i].Value = (i % 200) * 0.1;
    if (i % 1200 == 0) v[i].Sup1.Kind = SuperpositionKind::Sine;
  }
  v.SetLastPointIndex(kPoints - 1);
  doc->Current[1].Time = 600;
  doc->Current[0].Value = doc->Current[1].Value = 2;
  doc->Current.SetLastPointIndex(1);
  doc->Working = v;
  return doc;
}

void EditCell(Document& doc, int k) {
  doc.Working[(k * 7919) % kPoints].Value += 0.001;
}

// Small blocks in the arenas plus large ones mapped on their own.
std::size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

struct Fixture {
  std::unique_ptr<Document> Doc = MakeDocument();
  TEditHistory History;
  Fixture() {
    History.ClearHistory(*Doc);
    for (int k = 0; k < kEdits; ++k) {
      EditCell(*Doc, k);
      History.RecordStep(*Doc);
    }
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_Undo(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const auto t0 = Clock::now();
    f.History.Undo(*f.Doc);
    const auto t1 = Clock::now();
    state.SetIterationTime(Seconds(t0, t1));
    f.History.Redo(*f.Doc);
  }
}

void BM_RecordStep(benchmark::State& state) {
  Fixture& f = Shared();
  int k = 0;
  for (auto _ : state) {
    EditCell(*f.Doc, k++);
    const auto t0 = Clock::now();
    f.History.RecordStep(*f.Doc);
    const auto t1 = Clock::now();
    state.SetIterationTime(Seconds(t0, t1));
  }
}

// The baseline: both curves and the working table copied into fresh tables.
void BM_CopyDocument(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const auto t0 = Clock::now();
    auto copy = std::make_unique<Document>(*f.Doc);
    benchmark::DoNotOptimize(copy.get());
    const auto t1 = Clock::now();
    state.SetIterationTime(Seconds(t0, t1));
  }
}

// What drawing the curves hands the plot: a time and a value list per curve.
void BM_FillPlotLists(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (const SegmentTable* t : {&f.Doc->Voltage, &f.Doc->Current}) {
      std::vector<double> keys, values;
      for (std::int32_t i = 0; i <= t->LastPointIndex(); ++i) {
        keys.push_back((*t)[i].Time);
        values.push_back((*t)[i].Value);
      }
      benchmark::DoNotOptimize(keys.data());
      benchmark::DoNotOptimize(values.data());
    }
    const auto t1 = Clock::now();
    state.SetIterationTime(Seconds(t0, t1));
  }
}

BENCHMARK(BM_Undo)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_RecordStep)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_CopyDocument)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(9);
BENCHMARK(BM_FillPlotLists)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(9);

// Heap held by the history beyond the document: measured around building it.
void PrintMemory() {
  constexpr double kMiB = 1024.0 * 1024.0;
  const std::size_t before = HeapInUse();
  auto doc = MakeDocument();
  const std::size_t withDocument = HeapInUse();
  auto history = std::make_unique<TEditHistory>();
  history->ClearHistory(*doc);
  for (int k = 0; k < kEdits; ++k) {
    EditCell(*doc, k);
    history->RecordStep(*doc);
  }
  const std::size_t withHistory = HeapInUse();
  const double document = static_cast<double>(withDocument - before) / kMiB;
  const double extra = static_cast<double>(withHistory - withDocument) / kMiB;
  std::printf(
      "memory: document of %d points (3 tables) %.1f MiB; history after %d edits "
      "%.1f MiB (target < 32); whole copies would take %.0f MiB\n",
      kPoints, document, kEdits, extra,
      kEdits * static_cast<double>(kPoints) * sizeof(SegmentRow) / kMiB);
  std::printf("memory ratio, history / one copy of the curves: %.2f\n",
              extra / (static_cast<double>(kPoints) * sizeof(SegmentRow) / kMiB));
}

}  // namespace
}  // namespace ondrevo::bench

int main(int argc, char** argv) {
  using namespace ondrevo::bench;
  benchmark::Initialize(&argc, argv);
  PrintMemory();
  RatioReporter reporter(Statistic::MedianReal);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios\n");
  PrintRatio(reporter, "one Undo (60,000 points) / copying the document", "BM_Undo",
             "BM_CopyDocument", "<= 1.5");
  PrintRatio(reporter, "one Undo / filling the plot's point lists", "BM_Undo", "BM_FillPlotLists",
             "for information");
  PrintRatio(reporter, "one RecordStep / copying the document", "BM_RecordStep", "BM_CopyDocument",
             "for information");
  benchmark::Shutdown();
  return 0;
}
