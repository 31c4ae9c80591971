// One committed grid cell in a 10,000-point document whose 50 segments carry a 1 kHz
// superposition, until the plot has redrawn, against handing the same number of points straight
// to the plotting library and replotting. Offscreen; the ratio is printed after the table.
#include <benchmark/benchmark.h>
#include <qcustomplot.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "RatioReporter.h"
#include "editor/GraphForm.h"
#include "editor/SegmentGrid.h"
#include "plot/Plot.h"

namespace ondrevo::bench {
namespace {

constexpr int kPoints = 10000;
constexpr int kEditedRow = kPoints / 2;

SegmentTable MakeDocument() {
  SegmentTable t;
  for (int i = 0; i < kPoints; ++i) {
    t[i].Time = i * 0.01;
    t[i].Value = 1 + (i % 7) * 0.5;
  }
  t.SetLastPointIndex(kPoints - 1);
  for (int k = 0; k < 50; ++k) {
    SegmentRow& r = t[k * (kPoints / 50)];
    r.Sup1 = {SuperpositionKind::Triangle, 1000, 1000, 1, 1, 50, 0};
  }
  return t;
}

struct Editor {
  TGraphForm form{TGraphFormSettings{}};
  int points = 0;
  Editor() {
    form.resize(1200, 700);
    form.show();
    form.SetActiveCurve(MakeDocument());
    form.ZoomToFit();
    form.Act().Table->trigger();
    QApplication::processEvents();
    // The user edits a cell on screen: its row is selected, shown in the grid and the tabs.
    form.findChild<TSegmentGrid*>(QStringLiteral("StringGrid1"))->SelectCell(kEditedRow, kColValue);
    QApplication::processEvents();
    points = form.Plot()->Series(QStringLiteral("U_Line"))->Count();
    for (int s = 1; s <= 50; ++s) {
      points += form.Plot()->Series(QStringLiteral("UE_Line%1").arg(s))->Count();
      points += form.Plot()->Series(QStringLiteral("Mark_Line%1").arg(s))->Count();
    }
  }
};

Editor* editor = nullptr;
Editor& TheEditor() {
  if (!editor) editor = new Editor;
  return *editor;
}

// The core's share: the same commit without views.
void BM_CoreCommitOnly(benchmark::State& state) {
  TEditorCore core;
  core.SetActiveCurve(MakeDocument());
  int n = 0;
  for (auto _ : state) core.SetCell(kEditedRow, kColValue, (n++ % 2) ? "2.5" : "3.5");
}

void BM_CommitCell(benchmark::State& state) {
  Editor& e = TheEditor();
  int n = 0;
  for (auto _ : state) {
    e.form.Core().SetCell(kEditedRow, kColValue, (n++ % 2) ? "2.5" : "3.5");
  }
  state.counters["plotted_points"] = e.points;
}

void BM_PlotBaseline(benchmark::State& state) {
  const int points = TheEditor().points;
  QCustomPlot plot;
  plot.resize(1200 - 411, 600);
  plot.show();
  QCPGraph* graph = plot.addGraph();
  plot.xAxis->setRange(0, 100);
  plot.yAxis->setRange(0, 22);
  int n = 0;
  for (auto _ : state) {
    QVector<double> keys(points), values(points);
    for (int i = 0; i < points; ++i) {
      keys[i] = i * (100.0 / points);
      values[i] = 1 + (i % 7) * 0.5 + (n % 2);
    }
    ++n;
    graph->setData(keys, values, true);
    plot.replot(QCustomPlot::rpImmediateRefresh);
  }
  state.counters["plotted_points"] = points;
}

BENCHMARK(BM_CoreCommitOnly)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_CommitCell)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);
BENCHMARK(BM_PlotBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

}  // namespace
}  // namespace ondrevo::bench

int main(int argc, char** argv) {
  using namespace ondrevo::bench;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(Statistic::FastestReal);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios\n");
  PrintRatio(reporter, "commit one cell until redrawn / same points to the plot", "BM_CommitCell",
             "BM_PlotBaseline", "<= 1.5");
  benchmark::Shutdown();
  delete editor;
  return 0;
}
