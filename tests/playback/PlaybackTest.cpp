// The widget-free playback layer: the device search worker, the fit checks and the wiring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "devices/MainThread.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "playback/DeviceSearch.h"
#include "playback/FitChecks.h"
#include "playback/Wiring.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;

// A bus whose search takes `delay` and finds one analog product.
class TSlowBus : public TAnalogInterface {
 public:
  explicit TSlowBus(std::chrono::milliseconds delay, std::string name = "Slow") : delay_(delay) {
    Name = std::move(name);
  }
  void GetInterfaces(TInterfaceList& interfaces) override {
    interfaces.push_back(std::make_shared<TSlowBus>(delay_, Name));
  }
  void GetDevices(TDeviceList& devices) override {
    std::this_thread::sleep_for(delay_);
    devices = {std::make_shared<TAnalogDevice>("KSV 3720-40", "1")};
  }

 private:
  std::chrono::milliseconds delay_;
};

class TFailingBus : public TSlowBus {
 public:
  TFailingBus() : TSlowBus(0ms, "Broken") {}
  void GetInterfaces(TInterfaceList& interfaces) override {
    interfaces.push_back(std::make_shared<TFailingBus>());
  }
  void GetDevices(TDeviceList&) override { throw std::runtime_error("bus fault"); }
};

// A bus of many hosts, each slow to answer, that asks between them whether to go on.
class THostListBus : public TAnalogInterface {
 public:
  explicit THostListBus(std::shared_ptr<std::atomic<int>> probed) : probed_(std::move(probed)) {
    Name = "Hosts";
  }
  void GetInterfaces(TInterfaceList& interfaces) override {
    interfaces.push_back(std::make_shared<THostListBus>(probed_));
  }
  void GetDevices(TDeviceList& devices) override {
    for (int host = 0; host < 50; ++host) {
      if (CancelRequested()) return;
      std::this_thread::sleep_for(100ms);
      ++*probed_;
      devices.push_back(std::make_shared<TAnalogDevice>("KSV 3720-40", std::to_string(host)));
    }
  }

 private:
  std::shared_ptr<std::atomic<int>> probed_;
};

struct SearchLog {
  std::vector<std::string> searching, buses;
  bool done = false, cancelled = false;
  std::string error;
};

TDeviceSearch::TEvents Events(SearchLog& log) {
  return {[&](const std::string& name) { log.searching.push_back(name); },
          [&](const TFoundBus& bus) { log.buses.push_back(bus.Bus->Name); },
          [&](bool cancelled, const std::string& error) {
            log.done = true;
            log.cancelled = cancelled;
            log.error = error;
          }};
}

TEST(DeviceSearch, MainThreadKeepsRunningAndGetsEveryBusInOrder) {
  TEventQueue queue;
  queue.Install();
  TDeviceSearch search;
  SearchLog log;
  ASSERT_TRUE(search.Start({[] { return std::make_shared<TSlowBus>(300ms, "A"); },
                            [] { return std::shared_ptr<IDeviceScanner>(); },  // not here
                            []() -> std::shared_ptr<IDeviceScanner> { throw 1; },
                            [] { return std::make_shared<TSlowBus>(300ms, "B"); }},
                           Events(log)));
  EXPECT_FALSE(search.Start({}, Events(log))) << "one search at a time";
  int ticks = 0;
  while (!log.done) {
    queue.PumpUntil([&] { return log.done; }, 20ms);
    ++ticks;
  }
  EXPECT_GE(ticks, 10) << "the main thread was free while buses were probed";
  EXPECT_EQ(log.searching, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(log.buses, (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(log.cancelled);
  EXPECT_TRUE(log.error.empty());
  EXPECT_FALSE(search.Running());
}

TEST(DeviceSearch, CancelEndsAfterTheBusBeingAsked) {
  TEventQueue queue;
  queue.Install();
  TDeviceSearch search;
  SearchLog log;
  std::vector<TDeviceSearch::TScannerFactory> buses(
      20, [] { return std::make_shared<TSlowBus>(200ms); });
  search.Start(buses, Events(log));
  ASSERT_TRUE(queue.PumpUntil([&] { return !log.searching.empty(); }, 5s));
  const auto t0 = std::chrono::steady_clock::now();
  search.Cancel();
  ASSERT_TRUE(queue.PumpUntil([&] { return log.done; }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_TRUE(log.cancelled);
  EXPECT_LE(log.buses.size(), 2u);
}

// A cancel reaches into a bus's own probing: a list of dead hosts is not waited out.
TEST(DeviceSearch, CancelEndsABusBetweenItsHosts) {
  TEventQueue queue;
  queue.Install();
  TDeviceSearch search;
  SearchLog log;
  auto probed = std::make_shared<std::atomic<int>>(0);
  search.Start({[probed] { return std::make_shared<THostListBus>(probed); },
                [] { return std::make_shared<TSlowBus>(0ms, "After"); }},
               Events(log));
  ASSERT_TRUE(queue.PumpUntil([&] { return probed->load() >= 1; }, 10s));
  search.Cancel();
  ASSERT_TRUE(queue.PumpUntil([&] { return log.done; }, 20s));
  EXPECT_TRUE(log.cancelled);
  EXPECT_LT(probed->load(), 50) << "the host list was cut short";
  EXPECT_EQ(log.buses, std::vector<std::string>{"Hosts"}) << "what it found is kept, no bus after";
}

TEST(DeviceSearch, FailingScannerEndsTheSearchKeepingWhatWasFound) {
  TEventQueue queue;
  queue.Install();
  TDeviceSearch search;
  SearchLog log;
  search.Start({[] { return std::make_shared<TSlowBus>(0ms, "A"); },
                [] { return std::make_shared<TFailingBus>(); },
                [] { return std::make_shared<TSlowBus>(0ms, "C"); }},
               Events(log));
  ASSERT_TRUE(queue.PumpUntil([&] { return log.done; }, 5s));
  EXPECT_EQ(log.error, "bus fault");
  EXPECT_EQ(log.buses, std::vector<std::string>{"A"});

  std::vector<TFoundBus> found;
  EXPECT_EQ(TDeviceSearch::SearchNow({[] { return std::make_shared<TSlowBus>(0ms, "A"); }}, found),
            "");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Devices.size(), 1u);
}

TEST(DeviceSearch, AbandonedSearchReportsNothing) {
  TEventQueue queue;
  queue.Install();
  SearchLog log;
  {
    TDeviceSearch search;
    search.Start({[] { return std::make_shared<TSlowBus>(100ms); }}, Events(log));
  }
  queue.PumpUntil([] { return false; }, 400ms);
  EXPECT_TRUE(log.searching.empty() || !log.done);
  EXPECT_FALSE(log.done);
}

// A player whose limits the checks read.
class TPlayerLimits : public TDevice, public IWaveformPlayer {
 public:
  TPlayerLimits() : TDevice("KSV 7341-20", "1") {
    MaxVoltage = 20;
    MaxCurrent = 5;
  }
  void Connect() override {}
  void Disconnect() override {}
  bool IsConnected() const override { return false; }
  std::shared_ptr<TInterface> GetInterface() const override { return nullptr; }
  int32_t GetMaxCommandLength() const override { return 0; }
  void Upload(std::shared_ptr<TWaveform>, std::shared_ptr<TWaveform>, bool) override {}
  void CancelUpload() override {}
  void Play() override {}
  void Pause() override {}
  void Stop() override {}
  void SetBurstCount(int32_t) override {}
  void SetOnUploadProgress(TDeviceProgressEvent) override {}
  void SetOnPlayProgress(TDeviceProgressEvent) override {}
  void SetOnBurst(TDeviceCountEvent) override {}
  void SetOnUploadDone(TDeviceNotifyEvent) override {}
  void SetOnError(TDeviceErrorEvent) override {}
  void SetOnPlay(TDeviceNotifyEvent) override {}
  void SetOnStop(TDeviceNotifyEvent) override {}
  void SetOnConnect(TDeviceNotifyEvent) override {}
  void SetOnDisconnect(TDeviceNotifyEvent) override {}
  int32_t GetBurstCount() override { return 1; }
  double GetMinDwellTime() const override { return 0.01; }
  double GetMaxDwellTime() const override { return 100; }
  int32_t GetMaxPoints() const override { return 10; }  // at most 1000 s
  int32_t GetMaxBurstCount() const override { return 255; }
  double GetVoltageResolution() const override { return 0.01; }
  double GetCurrentResolution() const override { return 0.01; }
  TDeviceProgressEvent GetOnUploadProgress() const override { return {}; }
  TDeviceProgressEvent GetOnPlayProgress() const override { return {}; }
  TDeviceCountEvent GetOnBurst() const override { return {}; }
  TDeviceNotifyEvent GetOnUploadDone() const override { return {}; }
  TDeviceErrorEvent GetOnError() const override { return {}; }
  TDeviceNotifyEvent GetOnPlay() const override { return {}; }
  TDeviceNotifyEvent GetOnStop() const override { return {}; }
  TDeviceNotifyEvent GetOnConnect() const override { return {}; }
  TDeviceNotifyEvent GetOnDisconnect() const override { return {}; }
};

std::unique_ptr<TWaveform> Line(double duration, double from, double to, double sineHz = 0) {
  SegmentTable t;
  t[0].Value = from;
  t[1].Time = duration;
  t[1].Value = to;
  if (sineHz > 0) {
    t[0].Sup1.Kind = SuperpositionKind::Sine;
    t[0].Sup1.FreqStart = t[0].Sup1.FreqEnd = sineHz;
    t[0].Sup1.AmpStart = t[0].Sup1.AmpEnd = 1;
  }
  t.SetLastPointIndex(1);
  return BuildWaveform(t);
}

std::vector<TFitKind> Kinds(const std::vector<TFitFinding>& findings) {
  std::vector<TFitKind> out;
  for (const auto& f : findings) out.push_back(f.Kind);
  return out;
}

TEST(FitChecks, EachFindingOnItsOwnAndOnlyTheLengthRefuses) {
  TPlayerLimits p;
  auto fine = Line(10, 0, 10), current = Line(10, 1, 1);
  EXPECT_TRUE(CheckFit(p, p, *fine, *current, false).empty());
  EXPECT_EQ(Kinds(CheckFit(p, p, *Line(10, 0, 25), *current, false)),
            std::vector<TFitKind>{TFitKind::Limits});
  EXPECT_EQ(Kinds(CheckFit(p, p, *fine, *Line(10, 0, 6), false)),
            std::vector<TFitKind>{TFitKind::Limits});
  const auto tooLong = CheckFit(p, p, *Line(2000, 0, 10), *current, false);
  ASSERT_EQ(Kinds(tooLong), std::vector<TFitKind>{TFitKind::Duration});
  EXPECT_TRUE(tooLong[0].Refused);
  const auto fast = CheckFit(p, p, *Line(10, 2, 10, 500), *current, false);
  ASSERT_EQ(Kinds(fast), std::vector<TFitKind>{TFitKind::SampleRate});
  EXPECT_FALSE(fast[0].Refused);
  // A card: the wired device's limits were checked when wiring; its length is not bounded.
  EXPECT_EQ(Kinds(CheckFit(p, p, *Line(2000, 0, 25), *current, true)), std::vector<TFitKind>{});
}

class TOutputs : public TPlayerLimits, public IAnalogOutput {
 public:
  void SetOutputEnabled(bool, int32_t) override {}
  void SetOutputFlag(bool, int32_t) override {}
  void SetValues(double, double) override {}
  void GetValues(double&, double&) override {}
  TAnalogInputArray& GetConnectedInputs() override { return inputs_; }
  bool IsOutputEnabled(int32_t) override { return false; }
  bool GetOutputFlag(int32_t) const override { return false; }

 private:
  TAnalogInputArray inputs_{2};
};

TEST(Wiring, BothEndsPointAtEachOtherWithoutKeepingEachOtherAlive) {
  auto card = std::make_shared<TOutputs>();
  auto other = std::make_shared<TOutputs>();
  auto input = std::make_shared<TAnalogDevice>("KSV 3720-40", "1");
  EXPECT_FALSE(WireOutput(card, 2, input, 0)) << "no such channel";
  EXPECT_FALSE(WireOutput(card, 1, input, 1)) << "no such input";
  EXPECT_EQ(card->GetConnectedInputs()[1], nullptr);
  ASSERT_TRUE(WireOutput(card, 1, input, 0));
  EXPECT_EQ(card->GetConnectedInputs()[1], input);
  EXPECT_EQ(input->GetConnectedOutputs()[0].lock(), std::static_pointer_cast<IAnalogOutput>(card));
  UnwireOutput(*other);  // not wired to it: nothing changes
  EXPECT_FALSE(input->GetConnectedOutputs()[0].expired());
  UnwireOutput(*card);
  EXPECT_EQ(card->GetConnectedInputs()[1], nullptr);
  EXPECT_TRUE(input->GetConnectedOutputs()[0].expired());

  WireOutput(card, 0, input, 0);
  std::weak_ptr<TOutputs> gone = card;
  card.reset();
  EXPECT_TRUE(gone.expired()) << "the input's back reference is weak";
}

}  // namespace
}  // namespace ondrevo
