// The run from connect to release: whatever ends it, the instrument is stopped while it may
// still play and released exactly once, and a hanging driver cannot hold up the last attempt.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "devices/Interface.h"
#include "devices/PlayerEvents.h"
#include "playback/PlayRun.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;

// A transport whose sends can be made to hang until released.
class THangingTransport : public TInterface {
 public:
  std::atomic<bool> Hang{false};
  std::atomic<int> Sent{0};
  bool IsBusy() override { return false; }
  void Open() override {}
  void Close() override {}
  void OpenDevice() override {}
  void CloseDevice() override {}
  void SetRemote() override {}
  void SetLocal() override { Send("LOCAL"); }

 protected:
  void DoSend(const std::string&) override {
    while (Hang) std::this_thread::sleep_for(1ms);
    ++Sent;
  }
  std::string DoReceive(uint32_t) override { return {}; }
};

// Records the commands it gets; reports events only when the test says so. Its trigger input
// re-arms it after each run, as family A's does.
class TFakePlayer : public TDevice, public TPlayerEvents, public ITriggerablePlayer {
 public:
  TFakePlayer() : TDevice("KSV 7341-20", "1") {}
  std::vector<std::string> Log;
  bool FailConnect = false;
  std::shared_ptr<THangingTransport> Transport = std::make_shared<THangingTransport>();

  void Connect() override {
    Log.push_back("connect");
    if (FailConnect) throw std::runtime_error("no answer");
    connected_ = true;
  }
  void Disconnect() override {
    Log.push_back("disconnect");
    connected_ = false;
    if (OnDisconnect) OnDisconnect(this);
  }
  bool IsConnected() const override { return connected_; }
  std::shared_ptr<TInterface> GetInterface() const override { return Transport; }
  int32_t GetMaxCommandLength() const override { return 0; }
  void Upload(std::shared_ptr<TWaveform>, std::shared_ptr<TWaveform>, bool) override {
    Log.push_back("upload");
  }
  void CancelUpload() override { Log.push_back("cancel"); }
  void Play() override { Log.push_back("play"); }
  void Pause() override { Log.push_back("pause"); }
  void Stop() override {
    Log.push_back("stop");
    Transport->Send("STOP");
  }
  void SetBurstCount(int32_t) override { Log.push_back("burst"); }
  int32_t GetBurstCount() override { return 1; }
  double GetMinDwellTime() const override { return 0.01; }
  double GetMaxDwellTime() const override { return 100; }
  int32_t GetMaxPoints() const override { return 10; }
  int32_t GetMaxBurstCount() const override { return 255; }
  double GetVoltageResolution() const override { return 0.01; }
  double GetCurrentResolution() const override { return 0.01; }

  void SetExternalTrigger(bool enabled) override { external_ = enabled; }
  void SetTriggerChannel(int32_t) override {}
  void SetTriggerOnFallingEdge(bool) override {}
  void SetOnTrigger(TDeviceNotifyEvent handler) override { onTrigger_ = std::move(handler); }
  bool GetExternalTrigger() const override { return external_; }
  int32_t GetTriggerChannelCount() const override { return 1; }
  void GetTriggerTypes(TTriggerTypes&) const override {}
  void GetTriggerChannelName(int32_t, std::string& name) const override { name = "In"; }
  TDeviceNotifyEvent GetOnTrigger() const override { return onTrigger_; }
  bool IsExternalTriggerAvailable() const override { return true; }

  void ReportStop() {
    if (OnStop) OnStop(this);
  }
  void ReportError() {
    if (OnError) OnError(this, std::runtime_error("-222,\"Data out of range\""));
  }

 private:
  bool connected_ = false;
  bool external_ = false;
  TDeviceNotifyEvent onTrigger_;
};

long Count(const std::vector<std::string>& log, const std::string& what) {
  return std::count(log.begin(), log.end(), what);
}

TEST(PlayRun, AFailedConnectIsUndoneAndTheErrorPassedOn) {
  auto device = std::make_shared<TFakePlayer>();
  device->FailConnect = true;
  TPlayRun run(device, {});
  EXPECT_THROW(run.Connect(), std::runtime_error);
  EXPECT_EQ(device->Log, (std::vector<std::string>{"connect", "disconnect"}));
  EXPECT_TRUE(run.Released());
}

TEST(PlayRun, StopWaitsForTheConfirmationOnlyAsLongAsAllowed) {
  auto device = std::make_shared<TFakePlayer>();
  TPlayRun run(device, {});
  run.Connect();
  run.Start(0, {});
  int pumped = 0;
  // Nothing confirms: the pump is asked once, with the time-out, and the answer is no.
  const TPlayRun::TPump silent = [&](const std::function<bool()>& done, std::chrono::milliseconds) {
    ++pumped;
    return done();
  };
  EXPECT_FALSE(run.StopAndWait(silent, 5s));
  EXPECT_EQ(pumped, 1);
  // The release stops once more, then disconnects.
  run.Release();
  EXPECT_EQ(device->Log,
            (std::vector<std::string>{"connect", "burst", "play", "stop", "stop", "disconnect"}));
  const TPlayRun::TPump confirming = [&](const std::function<bool()>& done,
                                         std::chrono::milliseconds) {
    device->ReportStop();
    return done();
  };
  TPlayRun second(device, {});
  second.Connect();
  second.Start(1, {});
  EXPECT_TRUE(second.StopAndWait(confirming, 5s));
}

TEST(PlayRun, TheLastReleaseReturnsWhileTheDriverHangs) {
  auto device = std::make_shared<TFakePlayer>();
  TPlayRun run(device, {});
  run.Connect();
  run.Start(0, {});
  device->Transport->Hang = true;
  EXPECT_FALSE(run.LastRelease(50ms));
  device->Transport->Hang = false;
  // Once the driver lets go, the attempt's stop and local command still go out.
  for (int k = 0; k < 5000 && device->Transport->Sent < 2; ++k) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(device->Transport->Sent, 2);
  EXPECT_TRUE(run.LastRelease(5s));
}

// Random sequences of commands and reports against a model of what must reach the device: a
// release disconnects exactly once, stops first exactly when something may still play, and
// nothing is sent after it.
TEST(PlayRun, RandomRunsEndInOneRelease) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    auto device = std::make_shared<TFakePlayer>();
    int released = 0;
    auto run =
        std::make_unique<TPlayRun>(device, TPlayRun::TEvents{.Released = [&] { ++released; }});
    run->Connect();
    bool started = false, ended = false, trigger = false, stopSent = false;
    std::vector<std::string> expected{"connect"};
    const int steps = std::uniform_int_distribution<int>(0, 12)(random);
    for (int k = 0; k < steps; ++k) {
      switch (std::uniform_int_distribution<int>(0, 4)(random)) {
        case 0:
          run->Upload(nullptr, nullptr, true);
          expected.push_back("upload");
          break;
        case 1:
          trigger = (random() & 1) != 0;
          run->Start(0, {trigger, 0, std::nullopt});
          expected.insert(expected.end(), {"burst", "play"});
          started = true;
          ended = stopSent = false;
          break;
        case 2: {
          const bool sent = run->Stop();  // once per start
          EXPECT_EQ(sent, !stopSent) << "seed " << seed;
          if (sent) expected.push_back("stop");
          stopSent = true;
          break;
        }
        case 3:
          device->ReportStop();
          ended = true;
          break;
        case 4:
          device->ReportError();
          break;
      }
    }
    // Ending: by a release or by dropping the run (a closed window, an exception).
    const bool stopFirst = (random() & 1) != 0;
    if (stopFirst && started && (!ended || trigger)) expected.push_back("stop");
    expected.push_back("disconnect");
    if (random() & 1)
      run->Release(stopFirst);
    else if (stopFirst)
      run.reset();
    else
      run->Release(false);
    run.reset();
    EXPECT_EQ(device->Log, expected) << "seed " << seed;
    EXPECT_EQ(released, 1) << "seed " << seed;
  }
}

}  // namespace
}  // namespace ondrevo
