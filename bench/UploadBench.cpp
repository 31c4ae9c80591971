// Uploading a full point memory to each simulated supply family over a pty: the driver (sampling,
// chunking, events through the main-thread queue) against a baseline that writes the same lines
// and reads the same replies on the raw descriptor. Prints the ratio driver / baseline per family.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "sim/Front.h"
#include "transports/RS232Interface.h"

namespace {

using namespace ondrevo;

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
    device->SetOnError(
        [](IDevice*, const std::exception& e) { throw std::runtime_error(e.what()); });
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

void BM_BaselineUpload(benchmark::State& state) {
  Rig& rig = TheRig(static_cast<int>(state.range(0)));
  if (!rig.device->IsConnected()) rig.device->Connect();
  const auto lines = RecordUpload(rig);
  rig.device->Disconnect();
  const int fd = ::open(rig.front->Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  char buf[4096];
  for (auto _ : state) {
    for (const auto& [line, query] : lines) {
      const std::string data = line + '\n';
      ::tcflush(fd, TCIFLUSH);
      if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        state.SkipWithError("short write");
      if (!query) continue;
      std::string reply;
      while (reply.empty() || reply.back() != '\n') {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) {
          state.SkipWithError("no reply");
          break;
        }
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) reply.append(buf, n);
      }
    }
  }
  ::close(fd);
}

// Argument: 0 family A (1000 points), 1 family B (250), 2 family C (1000).
BENCHMARK(BM_DriverUpload)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();
BENCHMARK(BM_BaselineUpload)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const char* families[3] = {"A (1000 points)", "B (250 points)", "C (1000 points)"};
    for (int f = 0; f < 3; ++f) {
      const std::string suffix = "/" + std::to_string(f) + "/min_time:2.000/real_time";
      const double driver = times_["BM_DriverUpload" + suffix];
      const double baseline = times_["BM_BaselineUpload" + suffix];
      if (driver > 0 && baseline > 0)
        std::printf("upload family %s: driver / baseline = %.3f (target <= 1.2)\n", families[f],
                    driver / baseline);
    }
  }

 private:
  std::map<std::string, double> times_;
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
