// Measuring while playing must not slow the driver: a family-C upload over a pty and the time
// from Stop until the supply has stopped, each with a poller reading the supply itself (on the
// driver's own line, the worst case) and with a meter on a line of its own, against the same
// with no measurement, in turns. Prints the ratios; the target is <= 1.05.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Turns.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "measure/Measurement.h"
#include "model/Builder.h"
#include "sim/Front.h"
#include "sim/Ksv7340Sim.h"
#include "sim/Meter.h"
#include "transports/RS232Interface.h"

namespace {

using namespace ondrevo;
using namespace ondrevo::bench;
using Clock = std::chrono::steady_clock;

std::shared_ptr<TWaveform> Staircase(int levels, double first, double step) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k)
    for (int end = 0; end < 2; ++end) {
      table[row].Time = (k + end) * 0.1;
      table[row].Value = first + k * step;
      ++row;
    }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

struct Rig {
  Rig() : voltage(Staircase(1000, 10.123, 0.01)), current(Staircase(1000, 1.234, 0.001)) {
    queue.Install();
    const sim::TSimClock clock = sim::MakeScaledClock(1.0);
    supply = std::make_shared<sim::TKsv7340Sim>("KSV 7342-80", "1", clock);
    supply->SetLoad({10, 0});
    front = std::make_unique<sim::TPtyFront>(supply);
    meterFront =
        std::make_unique<sim::TPtyFront>(std::make_shared<sim::TSimMeter>(supply, 0, clock));
    transport = std::make_shared<TRS232Interface>(1, front->Path());
    meterLine = std::make_shared<TRS232Interface>(1, meterFront->Path());
    meterLine->Open();
    device = std::dynamic_pointer_cast<TListPlayerDevice>(
        CreateDeviceForModel("KSV 7342-80", transport, "1"));
    device->SetOnUploadDone([this](IDevice*) { done = true; });
    device->SetOnStop([this](IDevice*) { stopped = true; });
    device->SetOnError(
        [](IDevice*, const std::exception& e) { std::fprintf(stderr, "error: %s\n", e.what()); });
    device->Connect();
  }
  void Upload() {
    done = false;
    device->Upload(voltage, current, false);
    queue.PumpUntil([&] { return done && !device->IsUploading(); }, std::chrono::minutes(1));
  }
  // Play, then the time from Stop until the supply no longer runs.
  double StopMs() {
    device->SetBurstCount(0);
    device->Play();
    while (supply->RunState() != sim::TKsv7340Sim::TRunState::Running)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // polls under way
    stopped = false;
    const auto start = Clock::now();
    device->Stop();
    while (supply->RunState() == sim::TKsv7340Sim::TRunState::Running) std::this_thread::yield();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    queue.PumpUntil([&] { return stopped; }, std::chrono::seconds(10));
    return ms;
  }
  std::unique_ptr<TMeasurementPoller> Poller(int source) {
    if (source == 0) return nullptr;
    std::shared_ptr<IMeasurementSource> s;
    if (source == 1)
      s = SupplyMeasurementSource(transport);
    else
      s = MeterMeasurementSource(meterLine, "meter");
    auto p = std::make_unique<TMeasurementPoller>(s, std::chrono::milliseconds(20));
    p->Start();
    return p;
  }

  TEventQueue queue;
  std::shared_ptr<TWaveform> voltage, current;
  std::shared_ptr<sim::TKsv7340Sim> supply;
  std::unique_ptr<sim::TPtyFront> front, meterFront;
  std::shared_ptr<TRS232Interface> transport, meterLine;
  std::shared_ptr<TListPlayerDevice> device;
  bool done = false, stopped = false;
};

Rig& TheRig() {
  static Rig* rig = new Rig;
  return *rig;
}

void Report(benchmark::State& state, const TurnTimes& times) {
  state.counters["on_ms"] = Quantile(times.subject, 0.5);
  state.counters["off_ms"] = Quantile(times.baseline, 0.5);
  state.counters["ratio"] = times.Ratio();
}

// Argument: 1 the supply measuring itself, 2 a meter on its own line; each turn pairs a run
// with measurement and one without.
void BM_UploadWithMeasurement(benchmark::State& state) {
  Rig& rig = TheRig();
  Report(state, InTurns(state, [&](bool measuring) -> std::optional<double> {
           auto poller = measuring ? rig.Poller(static_cast<int>(state.range(0))) : nullptr;
           return TimedMs([&] { rig.Upload(); });
         }));
}

void BM_StopWithMeasurement(benchmark::State& state) {
  Rig& rig = TheRig();
  Report(state, InTurns(state, [&](bool measuring) -> std::optional<double> {
           auto poller = measuring ? rig.Poller(static_cast<int>(state.range(0))) : nullptr;
           return rig.StopMs();
         }));
}

BENCHMARK(BM_UploadWithMeasurement)
    ->DenseRange(1, 2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40)
    ->UseRealTime();
BENCHMARK(BM_StopWithMeasurement)
    ->DenseRange(1, 2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40)
    ->UseRealTime();

// Keeps each case's ratio for the summary lines that scripts/bench.sh reads.
class MeasureReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (const auto it = r.counters.find("ratio"); it != r.counters.end())
        ratios.emplace_back(r.benchmark_name(), it->second.value);
    ConsoleReporter::ReportRuns(runs);
  }
  std::vector<std::pair<std::string, double>> ratios;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  MeasureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const auto& [name, ratio] : reporter.ratios) {
    const bool upload = name.find("Upload") != std::string::npos;
    // The argument names the source: 1 the supply itself, 2 a meter on its own line.
    const bool self = name.find("/1") != std::string::npos;
    std::printf("measuring on / off, %s, %s   %.2f  (target <= 1.05)\n",
                upload ? "upload's duration" : "Stop until the output is off",
                self ? "the supply measuring itself" : "a meter on its own line", ratio);
  }
  benchmark::Shutdown();
}
