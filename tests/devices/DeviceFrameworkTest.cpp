// The device base classes, the driver choice, the wiring arrays and the main-thread hand-over.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "devices/Device.h"
#include "devices/DeviceErrors.h"
#include "devices/Interface.h"
#include "devices/MainThread.h"
#include "devices/supplies/ksv5200/Ksv5200Device.h"
#include "devices/supplies/ksv6140/Ksv6140Device.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;

TEST(Device, TableRowsAreFoundBySubstringInOrder) {
  TDevice a("KSV 3720-6", "1");
  EXPECT_DOUBLE_EQ(a.GetMaxVoltage(), 6);
  EXPECT_DOUBLE_EQ(a.GetMaxCurrent(), 40);
  TDevice b("KSV 3720-60", "1");
  EXPECT_DOUBLE_EQ(b.GetMaxVoltage(), 60);
  EXPECT_DOUBLE_EQ(b.GetCurrentFactor(), 0.533);
  EXPECT_FALSE(b.IsUnsupported());
  EXPECT_EQ(b.GetName(), "KSV 3720-60, SN 1");

  TDevice unknown("XYZ 1", "9");
  EXPECT_TRUE(unknown.IsUnsupported());
  EXPECT_EQ(unknown.GetMaxVoltage(), 0);
  EXPECT_EQ(unknown.GetVoltageFactor(), 1);
  EXPECT_EQ(unknown.GetCurrentFactor(), 1);
}

TEST(Device, DummyHasOneOutputSlotAndNoCurrentInputs) {
  auto dummy = std::make_shared<TDummyDevice>();
  EXPECT_TRUE(dummy->IsUnsupported());
  EXPECT_EQ(dummy->GetConnectedOutputs().size(), 1u);
  for (int i : {-1, 0, 1, 100}) EXPECT_FALSE(dummy->IsCurrentInput(i));
  EXPECT_TRUE(std::dynamic_pointer_cast<IAnalogInput>(std::shared_ptr<TDevice>(dummy)));
}

TEST(Device, DriverChoiceAndCapabilities) {
  auto c = CreateDeviceForModel("KSV 7342-80", nullptr, "5");
  ASSERT_TRUE(std::dynamic_pointer_cast<TKsv7340Device>(c));
  EXPECT_TRUE(std::dynamic_pointer_cast<IWaveformPlayer>(c));
  EXPECT_TRUE(std::dynamic_pointer_cast<IAnalogOutput>(c));
  EXPECT_TRUE(std::dynamic_pointer_cast<IRemoteControllable>(c));
  EXPECT_FALSE(std::dynamic_pointer_cast<ITriggerablePlayer>(c));
  EXPECT_FALSE(std::dynamic_pointer_cast<IAnalogInput>(c));
  EXPECT_FALSE(c->IsUnsupported());
  // One object behind several interfaces.
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(c);
  auto output = std::dynamic_pointer_cast<IAnalogOutput>(c);
  EXPECT_EQ(dynamic_cast<IDevice*>(player.get()), dynamic_cast<IDevice*>(output.get()));

  // "614" is tested before "52", and a model without "52" is a plain device.
  auto b = CreateDeviceForModel("KSV 6142-52", nullptr, "");
  EXPECT_TRUE(std::dynamic_pointer_cast<TKsv6140Device>(b));
  EXPECT_TRUE(std::dynamic_pointer_cast<IAnalogInput>(b));
  EXPECT_FALSE(std::dynamic_pointer_cast<ITriggerablePlayer>(b));
  auto a = CreateDeviceForModel("KSV 5206-40", nullptr, "9");
  ASSERT_TRUE(std::dynamic_pointer_cast<TKsv5200Device>(a));
  EXPECT_TRUE(std::dynamic_pointer_cast<ITriggerablePlayer>(a));
  EXPECT_TRUE(std::dynamic_pointer_cast<IAnalogOutput>(a));
  EXPECT_TRUE(std::dynamic_pointer_cast<IAnalogInput>(a));
  EXPECT_EQ(a->GetName(), "KSV 5206-40, SN 9");
  auto plain = CreateDeviceForModel("KSV 3720-20", nullptr, "7");
  EXPECT_FALSE(std::dynamic_pointer_cast<IRemoteControllable>(plain));
  EXPECT_DOUBLE_EQ(plain->GetMaxVoltage(), 20);

  auto unknown = CreateDeviceForModel("KSV 7349", nullptr, "1");
  EXPECT_TRUE(std::dynamic_pointer_cast<TKsv7340Device>(unknown));
  EXPECT_TRUE(unknown->IsUnsupported());
  EXPECT_EQ(unknown->GetMaxVoltage(), 0);
}

TEST(Device, WiringArraysAreSharedAndDoNotKeepEachOtherAlive) {
  auto supply = std::make_shared<TKsv7340Device>("KSV 7342-20", nullptr, "1");
  std::weak_ptr<TKsv7340Device> watch = supply;
  IAnalogOutput& out = *supply;
  ASSERT_EQ(out.GetConnectedInputs().size(), 2u);
  auto dummy = std::make_shared<TDummyDevice>();
  out.GetConnectedInputs()[1] = dummy;
  dummy->GetConnectedOutputs()[0] = supply;
  EXPECT_EQ(out.GetConnectedInputs()[1], dummy);
  EXPECT_FALSE(out.GetConnectedInputs()[0]);
  EXPECT_EQ(dummy->GetConnectedOutputs()[0].lock().get(),
            static_cast<IAnalogOutput*>(supply.get()));
  supply.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(dummy->GetConnectedOutputs()[0].expired());
}

TEST(DeviceErrors, CodesAreUpperCaseHexWithAtLeastTwoDigits) {
  EXPECT_EQ(WithErrorCode("Error code is", 5), "Error code is 0x05");
  EXPECT_EQ(WithErrorCode("x", 0x1f4), "x 0x1F4");
  ETimeoutError timeout("late");
  const EInterfaceError& base = timeout;
  EXPECT_STREQ(base.what(), "late");
}

class EchoTransport : public TSilentInterface {
 protected:
  void DoSend(const std::string& c) override { last = c; }
  std::string DoReceive(uint32_t) override {
    if (last == "fail") throw ETimeoutError("The connection timed out");
    return "echo " + last;
  }
  std::string last;
};

TEST(Interface, EverySentAndReceivedLineIsTraced) {
  EchoTransport t;
  std::vector<std::string> trace;
  t.SetTraceObserver([&](const std::string& line) { trace.push_back(line); });
  t.Send("*IDN?");
  EXPECT_EQ(t.Receive(10), "echo *IDN?");
  t.Send("fail");
  EXPECT_THROW(t.Receive(10), ETimeoutError);
  t.SetTraceObserver(nullptr);
  t.Send("quiet");
  EXPECT_THAT(trace, ::testing::ElementsAre("> *IDN?", "< echo *IDN?", "> fail"));
}

TEST(MainThread, WorkerHandlersRunOnTheMainThreadAndErrorsComeBack) {
  TEventQueue queue;
  queue.Install();
  const auto mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  bool rethrown = false;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    TMainThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      TMainThread::Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      rethrown = std::string(e.what()) == "handler failed";
    }
    finished = true;
  });
  EXPECT_TRUE(queue.PumpUntil([&] { return finished.load(); }, 5s));
  worker.join();
  EXPECT_EQ(ranOn, mainId);
  EXPECT_TRUE(rethrown);
  // On the main thread the handler runs at once.
  bool direct = false;
  TMainThread::Synchronize([&] { direct = true; });
  EXPECT_TRUE(direct);
  TMainThread::SetDispatcher(nullptr);
}

// Reports posted without waiting run on the main thread in the order posted and before a later
// hand-over of the same thread; without a poster installed, posting waits like a hand-over.
TEST(MainThread, PostedReportsKeepTheirOrderAndFallBackToWaiting) {
  TEventQueue queue;
  queue.Install();
  const auto mainId = std::this_thread::get_id();
  std::vector<int> ran;
  bool offMain = false;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int k = 0; k < 50; ++k)
      TMainThread::Post([&, k] {
        offMain |= std::this_thread::get_id() != mainId;
        ran.push_back(k);
      });
    TMainThread::Synchronize([&] { ran.push_back(-1); });
    finished = true;
  });
  EXPECT_TRUE(queue.PumpUntil([&] { return finished.load(); }, 5s));
  worker.join();
  ASSERT_EQ(ran.size(), 51u);
  for (int k = 0; k < 50; ++k) EXPECT_EQ(ran[k], k);
  EXPECT_EQ(ran.back(), -1);
  EXPECT_FALSE(offMain);

  // A lone report is delivered without any later hand-over to carry it.
  std::atomic<bool> lone{false};
  std::thread single([&] { TMainThread::Post([&] { lone = true; }); });
  single.join();
  EXPECT_TRUE(queue.PumpUntil([&] { return lone.load(); }, 5s));

  // A dispatcher without a poster (a GUI's blocking call): Post returns after the handler ran.
  TMainThread::SetDispatcher([&](const std::function<void()>& fn) { queue.Post(fn); });
  bool done = false, seenAfterReturn = false;
  finished = false;
  std::thread blocking([&] {
    TMainThread::Post([&] { done = true; });
    seenAfterReturn = done;
    finished = true;
  });
  EXPECT_TRUE(queue.PumpUntil([&] { return finished.load(); }, 5s));
  blocking.join();
  EXPECT_TRUE(seenAfterReturn);
  TMainThread::SetDispatcher(nullptr);
}

}  // namespace
}  // namespace ondrevo
