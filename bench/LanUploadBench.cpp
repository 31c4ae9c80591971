// Uploading a family-C supply's full point memory over the loopback raw SCPI socket: the driver
// (sampling, chunking, events through the main-thread queue, the socket transport) against a
// baseline that writes the same lines and reads the same replies on a plain socket. Prints the
// ratio driver / baseline, as the serial upload benchmark does.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "Turns.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "model/ListSampling.h"
#include "sim/Front.h"
#include "transports/LanInterface.h"

namespace {

using namespace ondrevo;
using namespace ondrevo::bench;

constexpr const char* kModel = "KSV 7342-80";
constexpr int kPoints = 1000;

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

struct Rig {
  Rig() : voltage(Staircase(kPoints, 10.123, 0.01)), current(Staircase(kPoints, 1.234, 0.001)) {
    queue.Install();
    instrument = sim::CreateSimInstrument(kModel, "1", sim::MakeScaledClock(1.0));
    front = std::make_unique<sim::TTcpFront>(instrument, 0);
    TLanAddress address;
    address.Host = "127.0.0.1";
    address.Port = front->Port();
    transport = std::make_shared<TLanSocketInterface>(address);
    device =
        std::dynamic_pointer_cast<TListPlayerDevice>(CreateDeviceForModel(kModel, transport, "1"));
    device->SetOnUploadDone([this](IDevice*) { done = true; });
    device->SetOnError([](IDevice*, const std::exception& e) {
      std::fprintf(stderr, "upload error: %s\n", e.what());
      throw std::runtime_error(e.what());
    });
    transport->SetTraceObserver([this](const std::string& line) {
      if (line.starts_with("> ")) connectLines.push_back(line.substr(2));
    });
    device->Connect();
    transport->SetTraceObserver(nullptr);
  }
  void Upload() {
    done = false;
    device->Upload(voltage, current, false);
    queue.PumpUntil([&] { return done && !device->IsUploading(); }, std::chrono::minutes(1));
  }

  std::shared_ptr<TWaveform> voltage;
  std::shared_ptr<TWaveform> current;
  TEventQueue queue;
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::unique_ptr<sim::TTcpFront> front;
  std::shared_ptr<TLanSocketInterface> transport;
  std::shared_ptr<TListPlayerDevice> device;
  std::vector<std::string> connectLines;  // what the driver sent to connect
  bool done = false;
};

Rig& TheRig() {
  static Rig* rig = new Rig;
  return *rig;
}

// The same exchange on a plain socket to a second simulated supply (the simulator serves one
// client at a time), set up by the driver's connect lines: stale input drained before every
// line, each reply read up to its line feed.
struct Baseline {
  Baseline() {
    Rig& rig = TheRig();
    std::mutex lock;
    rig.transport->SetTraceObserver([&](const std::string& line) {
      std::lock_guard g(lock);
      if (line.starts_with("> "))
        lines.emplace_back(line.substr(2), false);
      else if (!lines.empty())
        lines.back().second = true;
    });
    rig.Upload();
    rig.transport->SetTraceObserver(nullptr);
    instrument = sim::CreateSimInstrument(kModel, "2", sim::MakeScaledClock(1.0));
    front = std::make_unique<sim::TTcpFront>(instrument, 0);
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(front->Port()));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("baseline cannot connect");
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    // The instrument in the state the driver's connect leaves its own in: a supply that is not
    // in list mode answers the upload's lines otherwise (and at another cost).
    for (const auto& line : rig.connectLines) {
      const std::string data = line + '\n';
      if (::send(fd, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size()))
        throw std::runtime_error("baseline cannot set up its instrument");
    }
    char buf[256];
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 200) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0) {
    }
  }
  const char* Run() {
    char buf[4096];
    for (const auto& [line, query] : lines) {
      while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
      }
      const std::string data = line + '\n';
      if (::send(fd, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size()))
        return "short write";
      if (!query) continue;
      std::string reply;
      while (reply.empty() || reply.back() != '\n') {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) return "no reply";
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return "connection lost";
        reply.append(buf, static_cast<std::size_t>(n));
      }
    }
    return nullptr;
  }

  std::vector<std::pair<std::string, bool>> lines;
  std::shared_ptr<sim::TSimInstrument> instrument;
  std::unique_ptr<sim::TTcpFront> front;
  int fd = -1;
};

Baseline& TheBaseline() {
  static Baseline* baseline = new Baseline;
  return *baseline;
}

double gRatio = 0, gDriverMs = 0, gBaselineMs = 0, gFastRatio = 0;

// Driver and baseline in turns, so that both see the same load; the ratio of the medians is the
// figure the target applies to.
void BM_PairedLanUpload(benchmark::State& state) {
  Baseline& baseline = TheBaseline();
  Rig& rig = TheRig();
  const TurnTimes times = InTurns(
      state, [&] { rig.Upload(); }, [&] { return baseline.Run(); });
  gDriverMs = Quantile(times.subject, 0.5);
  gBaselineMs = Quantile(times.baseline, 0.5);
  gRatio = times.Ratio();
  gFastRatio = times.Ratio(0.1);
  state.counters["driver_ms"] = gDriverMs;
  state.counters["baseline_ms"] = gBaselineMs;
  state.counters["ratio"] = gRatio;
  state.counters["lines"] = static_cast<double>(baseline.lines.size());
}
// The sampling every upload starts with, alone: part of the driver's time, not the baseline's.
// Over a fast socket it is a large share of the difference.
void BM_LanSampling(benchmark::State& state) {
  Rig& rig = TheRig();
  for (auto _ : state) {
    TCountSampler sampler;
    const SupplyPointList list =
        SampleSupplyList(rig.device->ListSettings(), *rig.voltage, *rig.current, sampler);
    benchmark::DoNotOptimize(list.Durations.data());
  }
}
BENCHMARK(BM_LanSampling)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_PairedLanUpload)->Unit(benchmark::kMillisecond)->MinTime(4.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  ondrevo::InstallSupplyDrivers();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (gRatio > 0)
    std::printf(
        "upload family C over the LAN socket (1000 points): driver / baseline = %.3f (%.2f ms / "
        "%.2f ms, medians in turns; fastest tenths %.3f; target <= 1.2)\n",
        gRatio, gDriverMs, gBaselineMs, gFastRatio);
  return 0;
}
