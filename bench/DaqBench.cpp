// The card's streaming engine: one second of a swept sine at 1 MS/s computed by the interleaved
// sampling threads, against one plain equidistant fill of the same samples; then a stream of
// simulated output at the rate the probe chooses, counting underruns.
//   bench_daq [--stream-seconds=N] [benchmark options]     (N defaults to 60; 0 skips the stream)
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Chirp.h"
#include "daq/DaqExecuteThread.h"
#include "daq/DaqMxDevice.h"
#include "devices/MainThread.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"

namespace ondrevo::bench {
namespace {

constexpr std::size_t kSamples = 1000000;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Times {
  double wall = 1e300, cpu = 1e300;
};
std::map<std::string, Times> gBest;

void Keep(const char* name, double wall, double cpu) {
  Times& t = gBest[name];
  t.wall = std::min(t.wall, wall);
  t.cpu = std::min(t.cpu, cpu);
}

void BM_PlainEquidistantFill(benchmark::State& state) {
  auto w = ChirpWaveform();
  TEquidistantSampler sampler;
  sampler.Waveform = w.get();
  TDoubleVector buffer(kSamples);
  std::uint32_t restarts = 0;
  TIntegerVector positions;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ProcessCpuSeconds();
    sampler.Start(0, 0, 1.0 / kSamples);
    sampler.Fill(buffer, restarts, positions);
    benchmark::DoNotOptimize(buffer.data());
    Keep("plain", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
         ProcessCpuSeconds() - c0);
  }
}

// The engine's fill: one sampling thread per processor, woken and counted as the stream does.
void BM_EngineFill(benchmark::State& state) {
  auto w = ChirpWaveform();
  const int n = std::max(1u, std::thread::hardware_concurrency());
  TPendingCounter pending;
  std::vector<std::unique_ptr<TDaqSampleThread>> threads;
  for (int i = 0; i < n; ++i)
    threads.push_back(std::make_unique<TDaqSampleThread>(w.get(), 1.0, n, i, pending));
  TDoubleVector buffer(kSamples);
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ProcessCpuSeconds();
    pending.Set(n);
    for (auto& t : threads) {
      t->Restart(1.0 / kSamples);
      t->Run(&buffer);
    }
    pending.Wait();
    benchmark::DoNotOptimize(buffer.data());
    Keep("engine", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
         ProcessCpuSeconds() - c0);
  }
  state.counters["threads"] = n;
}

BENCHMARK(BM_PlainEquidistantFill)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);
BENCHMARK(BM_EngineFill)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(3)
    ->UseRealTime();

// Streams the swept sine endlessly through the simulated card for `seconds`.
int Stream(int seconds) {
  setenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_DAQMX_SIM, 1);
  void* sim = dlopen(ONDREVO_DAQMX_SIM, RTLD_NOW | RTLD_LOCAL);
  if (!sim) {
    std::printf("simulated card library missing: %s\n", dlerror());
    return 1;
  }
  auto configure = reinterpret_cast<int (*)(const char*)>(dlsym(sim, "OndrevoDaqSimConfigure"));
  auto limit = reinterpret_cast<void (*)(uint64_t)>(dlsym(sim, "OndrevoDaqSimSetRecordLimit"));
  auto samples = reinterpret_cast<uint64_t (*)(const char*, double*, uint64_t)>(
      dlsym(sim, "OndrevoDaqSimSamples"));
  auto underruns = reinterpret_cast<int (*)(const char*)>(dlsym(sim, "OndrevoDaqSimUnderruns"));
  configure("Dev1 PCIe-6361 ao=2 maxrate=1000000 minrate=0.1\n");
  limit(0);

  TEventQueue queue;
  queue.Install();
  int errors = 0;
  bool prepared = false, stopped = false;
  std::string firstError;
  {
    auto card = std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1");
    auto input = std::make_shared<TAnalogDevice>("KSV 3720-10", "1");
    card->GetConnectedInputs()[0] = input;
    input->GetConnectedOutputs()[0] = std::static_pointer_cast<IAnalogOutput>(card);
    card->SetOnUploadDone([&](IDevice*) { prepared = true; });
    card->SetOnStop([&](IDevice*) { stopped = true; });
    card->SetOnError([&](IDevice*, const std::exception& e) {
      if (errors++ == 0) firstError = e.what();
    });
    card->Connect();
    card->Upload(ChirpWaveform(), ChirpWaveform(), false);
    queue.PumpUntil([&] { return prepared || errors > 0; }, std::chrono::seconds(60));
    auto thread = card->GetExecuteThread();
    const double rate = thread ? thread->Rate() : 0.0;
    std::printf("\nprobe chose %.0f samples/s (buffer %u samples) on %u processors\n", rate,
                thread ? thread->BufferLength() : 0u, std::thread::hardware_concurrency());
    card->SetBurstCount(0);
    const auto t0 = std::chrono::steady_clock::now();
    card->Play();
    queue.PumpUntil([&] { return errors > 0; }, std::chrono::seconds(seconds));
    card->Stop();
    queue.PumpUntil([&] { return stopped || errors > 0; }, std::chrono::seconds(10));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double out = static_cast<double>(samples("Dev1/ao0", nullptr, 0));
    std::printf("streamed %.1f s of output in %.1f s: %.0f samples, underruns %d, errors %d%s%s\n",
                rate > 0 ? out / rate : 0.0, wall, out, underruns("Dev1"), errors,
                errors ? ": " : "", firstError.c_str());
    bool disconnected = false;
    card->SetOnDisconnect([&](IDevice*) { disconnected = true; });
    card->Disconnect();
    queue.PumpUntil([&] { return disconnected; }, std::chrono::seconds(10));
  }
  return errors == 0 && underruns("Dev1") == 0 ? 0 : 1;
}

}  // namespace
}  // namespace ondrevo::bench

int main(int argc, char** argv) {
  using namespace ondrevo::bench;
  int seconds = 60;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--stream-seconds=", 17) == 0)
      seconds = std::atoi(argv[i] + 17);
    else
      args.push_back(argv[i]);
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  if (gBest.count("plain") && gBest.count("engine")) {
    const Times p = gBest["plain"], e = gBest["engine"];
    std::printf("\nratios (best runs), 1 s swept sine at 1 MS/s\n");
    std::printf("%-58s %6.2f  (target <= 1.3)\n", "engine fill CPU time / plain equidistant fill",
                e.cpu / p.cpu);
    std::printf("%-58s %6.2f\n", "engine fill wall time / plain equidistant fill", e.wall / p.wall);
  }
  benchmark::Shutdown();
  return seconds > 0 ? Stream(seconds) : 0;
}
