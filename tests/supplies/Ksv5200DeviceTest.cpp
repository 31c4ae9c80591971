// Transcript tests of the family-A driver against a scripted transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "devices/Device.h"
#include "devices/supplies/ksv5200/Ksv5200Device.h"
#include "devices/supplies/ksv5200/Ksv5200Protocol.h"
#include "supplies/SupplyTestKit.h"

namespace ondrevo {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using namespace ondrevo::testing;
using namespace std::chrono_literals;

class Ksv5200Test : public ::testing::Test {
 protected:
  void SetUp() override { queue.Install(); }
  void TearDown() override {
    if (device) WaitForThreads(queue, *device);
    TMainThread::SetDispatcher(nullptr);
  }

  void Make(const std::string& model = "KSV 5206-40", const std::string& mode = "1") {
    transport = std::make_shared<TScriptedTransport>();
    transport->Fallback = [mode](const std::string& last) -> std::string {
      if (last.ends_with(";*OPC?")) return "1";
      if (last == "ERR?") return "0";
      if (last == "F?") return mode;
      if (last == "*LRN?") return "F 1;V 12.000;c 2.000;f 1;FB 1;ETR 0;EX 0";
      if (last == "FB?") return "1";
      return "\x01";
    };
    device = std::make_shared<TKsv5200Device>(model, transport, "77");
    device->SetReplyTimeout(200);
    events.Attach(*device);
  }

  void ConnectQuietly() {
    device->Connect();
    transport->ClearLines();
    events.log.clear();
  }

  void UploadThreePoints() {
    device->Upload(Staircase(3, 1.0, 1.0), Constant(0.3, 0.5), false);
    ASSERT_TRUE(WaitForThreads(queue, *device));
  }

  TEventQueue queue;
  std::shared_ptr<TScriptedTransport> transport;
  std::shared_ptr<TKsv5200Device> device;
  TEventLog events;
};

TEST_F(Ksv5200Test, ModelTableLimitsFactorsAndConstants) {
  Make("KSV 5206-40");
  EXPECT_FALSE(device->IsUnsupported());
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 40);
  EXPECT_DOUBLE_EQ(device->GetMaxCurrent(), 40);
  EXPECT_DOUBLE_EQ(device->GetCurrentResolution(), 0.002);
  EXPECT_DOUBLE_EQ(device->GetVoltageResolution(), 0.005);
  EXPECT_DOUBLE_EQ(device->GetVoltageFactor(), 4);
  EXPECT_DOUBLE_EQ(device->GetCurrentFactor(), 4);
  EXPECT_EQ(device->GetMaxPoints(), 1000);
  EXPECT_EQ(device->GetMaxCommandLength(), 255);
  EXPECT_EQ(device->GetMaxBurstCount(), 255);
  EXPECT_DOUBLE_EQ(device->GetMinDwellTime(), 0.0002);
  EXPECT_EQ(device->GetName(), "KSV 5206-40, SN 77");

  Make("KSV 5299-40");
  EXPECT_TRUE(device->IsUnsupported());
  EXPECT_EQ(device->GetMaxVoltage(), 0);
  EXPECT_EQ(device->GetVoltageFactor(), 1);
}

TEST_F(Ksv5200Test, ConnectSavesTheSettingsAndDisconnectRestoresThem) {
  Make("KSV 5206-40", "1");
  device->Connect();
  EXPECT_THAT(transport->Lines(), ElementsAre("[open]", ";SYST:REM", ";SYST:LANG COMP", "ERR?",
                                              "*CLS", "F?", "*LRN?", "F 3", "FB?", "ERR?"));
  // Every "F 1;" is cut out, whatever its case; mode 3 first, the old mode last.
  EXPECT_EQ(device->GetSavedSettings(), "F 3;V 12.000;c 2.000;FB 1;ETR 0;EX 0;F 1");
  EXPECT_EQ(device->GetBurstCount(), 1);
  EXPECT_THAT(events.log, ElementsAre("connect"));
  transport->ClearLines();
  device->Disconnect();
  EXPECT_THAT(transport->Lines(),
              ElementsAre("F 3;V 12.000;c 2.000;FB 1;ETR 0;EX 0;F 1;*OPC?", "SYST:LOC", "[close]"));
  EXPECT_FALSE(device->IsConnected());
}

// A reconnection that fails at its first query (the instrument went silent) must not give the
// instrument the settings saved by the earlier connection: they are not its settings now.
TEST_F(Ksv5200Test, AFailedReconnectRestoresNothingOfTheEarlierConnection) {
  Make("KSV 5206-40", "1");
  device->Connect();
  device->Disconnect();
  ASSERT_FALSE(device->GetSavedSettings().empty());
  transport->Fallback = [](const std::string&) -> std::string { return "\x01"; };
  transport->ClearLines();
  EXPECT_THROW(device->Connect(), std::exception);
  EXPECT_TRUE(device->GetSavedSettings().empty());
  device->Disconnect();
  for (const std::string& line : transport->Sent())
    EXPECT_EQ(line.find("V 12.000"), std::string::npos) << line;
}

TEST_F(Ksv5200Test, ModeThreeSavesNothingAndABusyInstrumentIsLeftAlone) {
  Make("KSV 5206-40", "3");
  device->Connect();
  EXPECT_THAT(transport->Sent(), ElementsAre(";SYST:REM", ";SYST:LANG COMP", "ERR?", "*CLS", "F?",
                                             "F 3", "FB?", "ERR?"));
  transport->ClearLines();
  device->Disconnect();
  EXPECT_THAT(transport->Lines(), ElementsAre("SYST:LOC", "[close]"));

  // Running a waveform at connect: no mode set-up, nothing restored.
  Make("KSV 5206-40", "1");
  transport->Busy = [] { return true; };
  device->Connect();
  EXPECT_THAT(transport->Sent(), ElementsAre(";SYST:REM", ";SYST:LANG COMP", "ERR?", "ERR?"));
  EXPECT_TRUE(device->GetSavedSettings().empty());
}

TEST_F(Ksv5200Test, WiredControlInputsChooseTheMode) {
  auto output = std::make_shared<TKsv5200Device>("KSV 5201-16", nullptr, "1");
  Make("KSV 5206-40", "3");
  device->GetConnectedOutputs()[1] = output;
  device->Connect();
  EXPECT_THAT(transport->Sent(), ElementsAre(";SYST:REM", ";SYST:LANG COMP", "ERR?", "*CLS", "F?",
                                             "F 2", "V 40.000", "ERR?"));
  Make("KSV 5206-40", "3");
  device->GetConnectedOutputs()[0] = output;
  device->GetConnectedOutputs()[1] = output;
  device->Connect();
  EXPECT_THAT(transport->Sent(), ElementsAre(";SYST:REM", ";SYST:LANG COMP", "ERR?", "*CLS", "F?",
                                             "F 1", "C 40.000", "ERR?"));
  EXPECT_FALSE(device->IsCurrentInput(0));
  EXPECT_TRUE(device->IsCurrentInput(1));
}

TEST_F(Ksv5200Test, ThreePointUploadTranscript) {
  Make();
  ConnectQuietly();
  UploadThreePoints();
  EXPECT_THAT(transport->Sent(), ElementsAre("FAS 0", "FAE 0",
                                             "FDS 0,1.000,0.500,0.1000;FDS 1,2.000,0.500,0.1000;"
                                             "FDS 2,3.000,0.500,0.1000;*OPC?",
                                             "FAE 2", "FAE 2", "FCL", "ERR?"));
  EXPECT_THAT(events.log, ElementsAre("done"));  // no repetition count is touched
  EXPECT_EQ(device->GetFirstIndex(), 0);
  EXPECT_EQ(device->GetLastIndex(), 2);
  EXPECT_EQ(events.uploadProgress.front(), 0);
  EXPECT_EQ(events.uploadProgress.back(), 100);
}

TEST_F(Ksv5200Test, AnErrorQueuedByTheUploadFailsIt) {
  Make();
  ConnectQuietly();
  transport->Replies["ERR?"] = {"3", "3", "0"};
  UploadThreePoints();
  EXPECT_THAT(events.log, ElementsAre("error"));
  EXPECT_EQ(events.lastError, "The instrument reports an error: 3");
  const auto sent = transport->Sent();
  EXPECT_THAT(std::vector<std::string>(sent.end() - 4, sent.end()),
              ElementsAre("FCL", "ERR?", "ERR?", "ERR?"));
}

TEST_F(Ksv5200Test, LongUploadsStayBelowTheLineLimitAndMoveTheEndEveryOtherLine) {
  Make("KSV 5213-100");
  ConnectQuietly();
  device->Upload(Staircase(1000, 10.0, 0.0537, 0.001), Constant(1.0, 51.999), false);
  ASSERT_TRUE(WaitForThreads(queue, *device));
  const auto sent = transport->Sent();
  std::vector<std::string> afterLines;
  int lines = 0, points = 0;
  for (std::size_t k = 0; k < sent.size(); ++k) {
    if (!sent[k].starts_with("FDS ")) continue;
    ++lines;
    EXPECT_LT(sent[k].size(), 255u);
    EXPECT_TRUE(sent[k].ends_with(";*OPC?"));
    for (std::size_t at = sent[k].find("FDS "); at != std::string::npos;
         at = sent[k].find("FDS ", at + 1))
      ++points;
    afterLines.push_back(k + 1 < sent.size() && sent[k + 1].starts_with("FAE ") ? "FAE" : "-");
  }
  EXPECT_EQ(points, 1000);
  ASSERT_GT(lines, 10);
  for (int k = 0; k + 1 < lines; ++k) EXPECT_EQ(afterLines[k], k % 2 == 0 ? "FAE" : "-") << k;
  // And each line is as long as the limit allows: the next line's first point would not have
  // fitted (a limit set too low fails here, one too high above).
  std::vector<std::string> fds;
  for (const std::string& line : sent)
    if (line.starts_with("FDS ")) fds.push_back(line);
  for (std::size_t k = 0; k + 1 < fds.size(); ++k)
    EXPECT_GE(fds[k].size() + 1 + fds[k + 1].find(';'), 255u) << fds[k];
  EXPECT_THAT(std::vector<std::string>(sent.end() - 3, sent.end()),
              ElementsAre("FAE 999", "FCL", "ERR?"));
  // Progress events carry whole percent and never repeat one.
  for (std::size_t k = 1; k < events.uploadProgress.size(); ++k)
    EXPECT_LT(events.uploadProgress[k - 1], events.uploadProgress[k]);
}

// Replies to the address query from a list, then the last one; busy until the list is used up.
struct AddressScript {
  std::mutex lock;
  std::deque<std::string> addresses;
  std::atomic<bool> done{false};
  std::string Next() {
    std::lock_guard g(lock);
    if (addresses.empty()) return "0";
    std::string a = addresses.front();
    addresses.pop_front();
    if (addresses.empty()) done = true;
    return a;
  }
};

TEST_F(Ksv5200Test, TriggeredBurstsReportStopAndPlayAndReArm) {
  Make();
  auto script = std::make_shared<AddressScript>();
  script->addresses = {"0", "1", "0", "1", "0", "1"};
  auto fallback = transport->Fallback;
  transport->Fallback = [fallback, script](const std::string& last) {
    return last == "FAF?" ? script->Next() : fallback(last);
  };
  ConnectQuietly();  // idle at connect: the mode set-up reads the repetition count 1
  transport->Busy = [script] { return !script->done.load(); };
  UploadThreePoints();
  int triggers = 0;
  device->SetOnTrigger([&](IDevice*) {
    ++triggers;
    events.log.push_back("trigger");
  });
  device->SetBurstCount(2);
  device->SetExternalTrigger(true);
  events.log.clear();
  transport->ClearLines();
  device->Play();
  ASSERT_TRUE(WaitForThreads(queue, *device));
  const auto sent = transport->Sent();
  EXPECT_THAT(std::vector<std::string>(sent.begin(), sent.begin() + 3),
              ElementsAre("ETR 1", "EX 1", "FS"));
  // The first return to 0 ends burst 1 of 2; the second reports the end of the run and re-arms.
  // The run ends by itself after the re-armed third trigger: the count set is reported last.
  EXPECT_THAT(events.log, ElementsAre("play", "trigger", "burst 2", "burst 3", "stop", "play",
                                      "trigger", "burst 2", "stop"));
  EXPECT_EQ(triggers, 2);
  EXPECT_THAT(events.playProgress, ElementsAre(0, 50, 0, 50, 0, 50));
}

TEST_F(Ksv5200Test, StopEndsWithoutAFinalBurstAndTimeOutsOfTheAddressQueryAreSkipped) {
  Make();
  auto script = std::make_shared<AddressScript>();
  script->addresses = {"1", "\x01", "2"};
  auto fallback = transport->Fallback;
  transport->Fallback = [fallback, script](const std::string& last) {
    return last == "FAF?" ? script->Next() : fallback(last);
  };
  ConnectQuietly();  // idle at connect: the mode set-up reads the repetition count 1
  transport->Busy = [script] { return !script->done.load(); };
  UploadThreePoints();
  events.log.clear();
  device->Play();
  ASSERT_TRUE(WaitForThreads(queue, *device));
  // Ended by itself: the repetition count set comes before the stop.
  EXPECT_THAT(events.log, ElementsAre("play", "burst 1", "stop"));
  EXPECT_THAT(events.playProgress, ElementsAre(50, 100));

  script->addresses = {"1", "1", "1", "1", "1"};
  script->done = false;
  events.log.clear();
  device->Play();
  device->Stop();
  ASSERT_TRUE(WaitForThreads(queue, *device));
  EXPECT_THAT(events.log, ElementsAre("play", "stop"));
}

TEST_F(Ksv5200Test, TriggerChannelsBurstCountAndSetValues) {
  Make();
  std::string name;
  device->GetTriggerChannelName(0, name);
  EXPECT_EQ(name, "trigger input 0");
  EXPECT_THROW(device->GetTriggerChannelName(1, name), std::runtime_error);
  EXPECT_THROW(device->SetTriggerChannel(1), std::runtime_error);
  EXPECT_NO_THROW(device->SetTriggerChannel(0));
  TTriggerTypes types;
  device->GetTriggerTypes(types);
  EXPECT_THAT(types, ElementsAre(TTriggerType::ttRisingEdge));

  ConnectQuietly();
  transport->Replies["FB?"] = {"\x01"};
  EXPECT_EQ(device->GetBurstCount(), 1);  // a time-out counts as 1
  device->SetBurstCount(7);
  EXPECT_THROW(device->SetValues(40.001, 1), std::runtime_error);
  EXPECT_THROW(device->SetValues(std::nan(""), 1), std::runtime_error);
  device->SetValues(12.5, 39.99);
  EXPECT_THAT(transport->Sent(), ElementsAre("FB?", "FB 7", "ERR?", "V 12.500", "C 39.990"));
}

TEST(Ksv5200Protocol, PointLinesHoldAtLeastOnePointAndStayBelowTheLimit) {
  const std::vector<double> t{99.9999, 0.0002}, v{100, 0}, i{320, 0};
  const auto one = ksv5200::BuildPointLine(t, v, i, 0, 20);
  EXPECT_EQ(one.Text, "FDS 0,100.000,320.000,99.9999");
  EXPECT_EQ(one.Last, 0);
  const auto both = ksv5200::BuildPointLine(t, v, i, 0, 255);
  EXPECT_EQ(both.Text, "FDS 0,100.000,320.000,99.9999;FDS 1,0.000,0.000,0.0002");
  EXPECT_EQ(ksv5200::SavedSettings("f 2;V 1.000;F 2;", "2"), "F 3;V 1.000;;F 2");
}

}  // namespace
}  // namespace ondrevo
