// Uploading a full point memory to each simulated supply family over a pty: the driver (sampling,
// chunking, events through the main-thread queue) against a baseline that writes the same lines
// and reads the same replies on the raw descriptor. Prints the ratio driver / baseline per family.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "Turns.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "model/ListSampling.h"
#include "sim/Front.h"
#include "transports/RS232Interface.h"

namespace {

using namespace ondrevo;
using namespace ondrevo::bench;

std::shared_ptr<TWaveform> Staircase(int levels, double first, double step) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    for (int end = 0; end < 2; ++end) {
      table[row].Time = (k + end) * 0.1;
      table[row].Value = first + k * step;
      ++row;
    }
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

// One event queue for every rig: the one the driver threads hand their events to.
TEventQueue& Queue() {
  static TEventQueue* queue = [] {
    auto* q = new TEventQueue;
    q->Install();
    return q;
  }();
  return *queue;
}

struct Rig {
  Rig(const char* model, int points)
      : voltage(Staircase(points, 10.123, 0.01)), current(Staircase(points, 1.234, 0.001)) {
    instrument = sim::CreateSimInstrument(model, "1", sim::MakeScaledClock(1.0));
    front = std::make_unique<sim::TPtyFront>(instrument);
    transport = std::make_shared<TRS232Interface>(1, front->Path());
    device =
        std::dynamic_pointer_cast<TListPlayerDevice>(CreateDeviceForModel(model, transport, "1"));
    device->SetOnUploadDone([this](IDevice*) { done = true; });
    device->SetOnError([](IDevice*, const std::exception& e) {
      std::fprintf(stderr, "upload error: %s\n", e.what());
      throw std::runtime_error(e.what());
    });
  }
  ~Rig() {
    if (device->IsConnected()) device->Disconnect();
    TMainThread::SetDispatcher(nullptr);
  }
  // Ends when the upload's end handler has run on the main thread.
  void Upload() {
    done = false;
    device->Upload(voltage, current, false);
    queue.PumpUntil([&] { return done && !device->IsUploading(); }, std::chrono::minutes(1));
  }

  // Built once: the document is not part of what is measured.
  std::shared_ptr<TWaveform> voltage;
  std::shared_ptr<TWaveform> current;

  TEventQueue& queue = Queue();
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::unique_ptr<sim::TPtyFront> front;
  std::shared_ptr<TRS232Interface> transport;
  std::shared_ptr<TListPlayerDevice> device;
  bool done = false;
};

// One supply per family, each with its full point memory.
Rig& TheRig(int family) {
  static Rig* rigs[3] = {};
  static const std::pair<const char*, int> kModels[3] = {
      {"KSV 5206-40", 1000}, {"KSV 6141-80", 250}, {"KSV 7342-80", 1000}};
  if (!rigs[family]) rigs[family] = new Rig(kModels[family].first, kModels[family].second);
  return *rigs[family];
}

void BM_DriverUpload(benchmark::State& state) {
  Rig& rig = TheRig(static_cast<int>(state.range(0)));
  if (!rig.device->IsConnected()) rig.device->Connect();
  for (auto _ : state) rig.Upload();
}

// The sampling every upload starts with, alone: part of the driver's time, not of the baseline's.
void BM_Sampling(benchmark::State& state) {
  Rig& rig = TheRig(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TCountSampler sampler;
    const SupplyPointList list =
        SampleSupplyList(rig.device->ListSettings(), *rig.voltage, *rig.current, sampler);
    benchmark::DoNotOptimize(list.Durations.data());
  }
}

// The lines of one upload and whether each expects a reply.
std::vector<std::pair<std::string, bool>> RecordUpload(Rig& rig) {
  std::mutex lock;
  std::vector<std::pair<std::string, bool>> lines;
  rig.transport->SetTraceObserver([&](const std::string& line) {
    std::lock_guard g(lock);
    if (line.starts_with("> "))
      lines.emplace_back(line.substr(2), false);
    else if (!lines.empty())
      lines.back().second = true;
  });
  rig.Upload();
  rig.transport->SetTraceObserver(nullptr);
  return lines;
}

// The same line exchange on the raw descriptor: the input is flushed before every line, as the
// transport does, and each reply is read up to its line feed.
struct Baseline {
  explicit Baseline(Rig& rig) : lines(RecordUpload(rig)) {
    fd = ::open(rig.front->Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  // Empty on success, else what went wrong.
  const char* Run() {
    char buf[4096];
    for (const auto& [line, query] : lines) {
      const std::string data = line + '\n';
      ::tcflush(fd, TCIFLUSH);
      if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        return "short write";
      if (!query) continue;
      std::string reply;
      while (reply.empty() || reply.back() != '\n') {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) return "no reply";
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) reply.append(buf, n);
      }
    }
    return nullptr;
  }
  std::size_t Replies() const {
    return std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.second; });
  }

  std::vector<std::pair<std::string, bool>> lines;
  int fd = -1;  // beside the driver's own: the two take turns, never overlap
};

Baseline& TheBaseline(int family) {
  static Baseline* baselines[3] = {};
  Rig& rig = TheRig(family);
  if (!rig.device->IsConnected()) rig.device->Connect();
  if (!baselines[family]) baselines[family] = new Baseline(rig);
  return *baselines[family];
}

void BM_BaselineUpload(benchmark::State& state) {
  Baseline& baseline = TheBaseline(static_cast<int>(state.range(0)));
  state.counters["lines"] = static_cast<double>(baseline.lines.size());
  state.counters["replies"] = static_cast<double>(baseline.Replies());
  for (auto _ : state)
    if (const char* error = baseline.Run()) state.SkipWithError(error);
}

// Driver and baseline in turns, so that both see the same load on the machine; the ratio of
// the two medians is the figure the target applies to. On a busy machine the times spread
// widely: the ratio of the fastest tenths shows the cost without other programs in the way.
void BM_PairedUpload(benchmark::State& state) {
  const int family = static_cast<int>(state.range(0));
  Baseline& baseline = TheBaseline(family);
  Rig& rig = TheRig(family);
  const TurnTimes times = InTurns(
      state, [&] { rig.Upload(); }, [&] { return baseline.Run(); });
  state.counters["driver_ms"] = Quantile(times.subject, 0.5);
  state.counters["baseline_ms"] = Quantile(times.baseline, 0.5);
  state.counters["ratio"] = times.Ratio();
  state.counters["ratio_p10"] = times.Ratio(0.1);
}

// Argument: 0 family A (1000 points), 1 family B (250), 2 family C (1000).
BENCHMARK(BM_DriverUpload)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();
BENCHMARK(BM_Sampling)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineUpload)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();
BENCHMARK(BM_PairedUpload)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(4.0)
    ->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs)
      if (run.run_name.function_name == "BM_PairedUpload" && run.run_type == Run::RT_Iteration) {
        const auto ratio = run.counters.find("ratio");
        if (ratio != run.counters.end())
          ratios_[run.run_name.args] = {ratio->second.value, run.counters.at("driver_ms").value,
                                        run.counters.at("baseline_ms").value,
                                        run.counters.at("ratio_p10").value};
      }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const char* families[3] = {"A (1000 points)", "B (250 points)", "C (1000 points)"};
    for (int f = 0; f < 3; ++f) {
      const auto found = ratios_.find(std::to_string(f));
      if (found == ratios_.end()) continue;
      const auto [ratio, driver, baseline, fast] = found->second;
      std::printf(
          "upload family %s: driver / baseline = %.3f (%.2f ms / %.2f ms, medians in turns; "
          "fastest tenths %.3f; target <= 1.2)\n",
          families[f], ratio, driver, baseline, fast);
    }
  }

 private:
  std::map<std::string, std::tuple<double, double, double, double>> ratios_;
};

}  // namespace

int main(int argc, char** argv) {
  ondrevo::InstallSupplyDrivers();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
