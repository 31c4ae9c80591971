// Transcript tests of the family-B driver against a scripted transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "devices/supplies/ksv6140/Ksv6140Device.h"
#include "devices/supplies/ksv6140/Ksv6140Protocol.h"
#include "supplies/SupplyTestKit.h"

namespace ondrevo {
namespace {

using ::testing::ElementsAre;
using namespace ondrevo::testing;

class Ksv6140Test : public ::testing::Test {
 protected:
  void SetUp() override { queue.Install(); }
  void TearDown() override {
    if (device) WaitForThreads(queue, *device);
    TMainThread::SetDispatcher(nullptr);
  }

  void Make(const std::string& model = "KSV 6141-80", std::string condition = "0") {
    transport = std::make_shared<TScriptedTransport>();
    transport->Fallback = [condition](const std::string& last) -> std::string {
      if (last.ends_with(";*OPC?")) return "1";
      if (last == "ERR?") return "0";
      if (last == "OCR?") return condition;
      if (last == "FSEQ?") return "0";
      if (last == "*LRN?") return "V 1.000;C 2.000;FSEQ OFF";
      if (last == "V? MAX") return "81.000";
      if (last == "V? MIN") return "0.000";
      if (last == "C? MAX") return "25.500";
      if (last == "C? MIN") return "0.000";
      if (last == "FREP?") return "3";
      return "\x01";
    };
    device = std::make_shared<TKsv6140Device>(model, transport, "55");
    device->SetReplyTimeout(200);
    events.Attach(*device);
  }

  void ConnectQuietly() {
    device->Connect();
    transport->ClearLines();
    events.log.clear();
  }

  TEventQueue queue;
  std::shared_ptr<TScriptedTransport> transport;
  std::shared_ptr<TKsv6140Device> device;
  TEventLog events;
};

TEST_F(Ksv6140Test, ModelTableAndName) {
  Make("KSV 6141-400");
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 400);  // not the "6141-40" row
  EXPECT_DOUBLE_EQ(device->GetMaxCurrent(), 5);
  EXPECT_DOUBLE_EQ(device->GetVoltageResolution(), 0.1);
  EXPECT_DOUBLE_EQ(device->GetCurrentFactor(), 0.5);
  EXPECT_EQ(device->GetName(), "KSV 6141-400");  // no serial number in the name
  EXPECT_EQ(device->GetMaxPoints(), 255);
  EXPECT_DOUBLE_EQ(device->GetMinDwellTime(), 0.05);
  Make("KSV 6142-40");
  EXPECT_DOUBLE_EQ(device->GetMaxCurrent(), 100);
  EXPECT_FALSE(device->IsCurrentInput(0));
  EXPECT_TRUE(device->IsCurrentInput(1));
}

TEST_F(Ksv6140Test, ConnectReadsTheLimitsSavesTheSettingsAndDisconnectRestoresThem) {
  Make();
  device->Connect();
  EXPECT_THAT(transport->Lines(),
              ElementsAre("[open]", ";SYST:REM", ";SYST:LANG COMP", "OCR?", ";*CLS",
                          "SYST:LANG COMP", "FSEQ?", "*LRN?", "V? MAX", "V? MIN", "C? MAX",
                          "C? MIN", "V 0;C 0;FSEQ ON", "ERR?"));
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 81);
  EXPECT_DOUBLE_EQ(device->GetMaxCurrent(), 25.5);
  EXPECT_DOUBLE_EQ(device->GetVoltageFactor(), 8.1);
  EXPECT_EQ(device->GetSavedSettings(), "V 1.000;C 2.000;FSEQ OFF");
  transport->ClearLines();
  device->Disconnect();
  EXPECT_THAT(transport->Lines(),
              ElementsAre("V 1.000;C 2.000;FSEQ OFF;*OPC?", "SYST:LOC", "[close]"));
  EXPECT_THAT(events.log, ElementsAre("connect", "disconnect"));
}

// As on family A: a reconnection that fails at its first query restores nothing of the earlier
// connection's settings.
TEST_F(Ksv6140Test, AFailedReconnectRestoresNothingOfTheEarlierConnection) {
  Make();
  device->Connect();
  device->Disconnect();
  ASSERT_FALSE(device->GetSavedSettings().empty());
  transport->Fallback = [](const std::string&) -> std::string { return "\x01"; };
  transport->ClearLines();
  EXPECT_THROW(device->Connect(), std::exception);
  EXPECT_TRUE(device->GetSavedSettings().empty());
  device->Disconnect();
  for (const std::string& line : transport->Sent())
    EXPECT_EQ(line.find("V 1.000"), std::string::npos) << line;
}

TEST_F(Ksv6140Test, ARunningInstrumentKeepsTheTableLimitsAndGetsNoModeCommand) {
  Make("KSV 6141-80", "16385");
  device->Connect();
  EXPECT_THAT(transport->Sent(), ElementsAre(";SYST:REM", ";SYST:LANG COMP", "OCR?", "ERR?"));
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 80);
  EXPECT_DOUBLE_EQ(device->GetMaxCurrent(), 25);
}

TEST(Ksv6140Protocol, ModeLineFollowsTheWiredInputs) {
  EXPECT_STREQ(ksv6140::ModeLine(true, true), "V 0;C 0;FSEQ OFF");
  EXPECT_STREQ(ksv6140::ModeLine(true, false), "V 0;C MAX;FSEQ OFF");
  EXPECT_STREQ(ksv6140::ModeLine(false, true), "V MAX;C 0;FSEQ OFF");
  EXPECT_STREQ(ksv6140::ModeLine(false, false), "V 0;C 0;FSEQ ON");
}

TEST_F(Ksv6140Test, TwoPointUploadTranscript) {
  Make();
  ConnectQuietly();
  device->Upload(Staircase(2, 1.0, 1.0), Constant(0.2, 0.5), false);
  ASSERT_TRUE(WaitForThreads(queue, *device));
  EXPECT_THAT(
      transport->Sent(),
      ElementsAre("FAS 0", "FREG 1.000,0.500,0.1000;FSTO 1;FREG 2.000,0.500,0.1000;FSTO 2;*OPC?",
                  "FAE 2;FAF 1;FAL 1", "FCL", "ERR?"));
  EXPECT_THAT(events.log, ElementsAre("done"));
  EXPECT_EQ(device->GetFirstIndex(), 0);
  EXPECT_EQ(device->GetLastIndex(), 2);
}

TEST_F(Ksv6140Test, AnErrorQueuedByTheUploadFailsIt) {
  Make();
  ConnectQuietly();
  transport->Replies["ERR?"] = {"2", "0"};
  device->Upload(Staircase(2, 1.0, 1.0), Constant(0.2, 0.5), false);
  ASSERT_TRUE(WaitForThreads(queue, *device));
  EXPECT_THAT(events.log, ElementsAre("error"));
  EXPECT_EQ(events.lastError, "The instrument reports an error: 2");
}

// The four limits become the clipping limits of every upload.
TEST_F(Ksv6140Test, ReportedLimitsMustBeUsable) {
  const std::pair<const char*, const char*> bad[] = {
      {"V? MAX", "-5"}, {"V? MAX", "0"},  {"V? MAX", "1e308"}, {"V? MAX", "90"},
      {"C? MAX", "0"},  {"V? MIN", "-1"}, {"V? MIN", "81"},    {"C? MIN", "30"},
  };
  for (const auto& [query, reply] : bad) {
    SCOPED_TRACE(std::string(query) + " " + reply);
    Make();  // KSV 6141-80: 80 V
    transport->Replies[query] = {reply};
    EXPECT_THROW(device->Connect(), std::runtime_error);
    EXPECT_FALSE(device->IsConnected());
  }
  Make();
  transport->Replies["V? MAX"] = {"84"};  // within the margin above the rating
  device->Connect();
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 84.0);
}

TEST_F(Ksv6140Test, FullLengthPointsAreSplitBelowTheLineLimit) {
  Make("KSV 6142-400");
  transport->Replies["V? MAX"] = {"400"};
  transport->Replies["C? MAX"] = {"7.5"};
  ConnectQuietly();
  device->Upload(Staircase(255, 80.9, -0.3, 99.9), Constant(255 * 99.9, 7.498), false);
  ASSERT_TRUE(WaitForThreads(queue, *device));
  int location = 0;
  for (const std::string& line : transport->Sent()) {
    if (!line.starts_with("FREG ")) continue;
    EXPECT_LT(line.size(), 255u);
    EXPECT_TRUE(line.ends_with(";*OPC?"));
    for (std::size_t at = line.find("FSTO "); at != std::string::npos;
         at = line.find("FSTO ", at + 1))
      EXPECT_EQ(std::stoi(line.substr(at + 5)), ++location);
  }
  EXPECT_EQ(location, 255);
  EXPECT_EQ(device->GetLastIndex(), 255);
}

// Address replies from a list; the condition register shows a run until the list is used up.
struct RunScript {
  std::mutex lock;
  std::deque<std::string> addresses;
  std::atomic<bool> done{false};
  std::string Reply(const std::string& last) {
    std::lock_guard g(lock);
    if (last == "FADR?") {
      if (addresses.empty()) return "1";
      std::string a = addresses.front();
      addresses.pop_front();
      if (addresses.empty()) done = true;
      return a;
    }
    return done ? "0" : "16384";
  }
};

TEST_F(Ksv6140Test, APlaybackThatEndsReadsTheCountBackBeforeStopAndStopDoesNot) {
  Make();
  ConnectQuietly();
  device->Upload(Staircase(3, 1.0, 1.0), Constant(0.3, 0.5), false);
  ASSERT_TRUE(WaitForThreads(queue, *device));
  auto script = std::make_shared<RunScript>();
  script->addresses = {"2", "3", "1", "3"};
  auto fallback = transport->Fallback;
  transport->Fallback = [fallback, script](const std::string& last) {
    return last == "FADR?" || last == "OCR?" ? script->Reply(last) : fallback(last);
  };
  events.log.clear();
  transport->ClearLines();
  device->Play();
  ASSERT_TRUE(WaitForThreads(queue, *device));
  EXPECT_THAT(events.log, ElementsAre("play", "burst 2", "burst 3", "stop"));
  EXPECT_THAT(events.playProgress, ElementsAre(67, 100, 33, 100));
  const auto sent = transport->Sent();
  EXPECT_THAT(std::vector<std::string>(sent.begin(), sent.begin() + 4),
              ElementsAre("EX 1", "FS", "FADR?", "OCR?"));
  EXPECT_EQ(sent.back(), "FREP?");

  script->addresses = {"2", "2", "2", "2"};
  script->done = false;
  events.log.clear();
  device->Play();
  device->Stop();
  ASSERT_TRUE(WaitForThreads(queue, *device));
  EXPECT_THAT(events.log, ElementsAre("play", "stop"));
}

TEST_F(Ksv6140Test, APollTimeOutEndsThePlaybackWithOneError) {
  Make();
  ConnectQuietly();
  device->Upload(Staircase(3, 1.0, 1.0), Constant(0.3, 0.5), false);
  ASSERT_TRUE(WaitForThreads(queue, *device));
  auto fallback = transport->Fallback;
  transport->Fallback = [fallback](const std::string& last) {
    return last == "FADR?" ? std::string("\x01") : fallback(last);
  };
  events.log.clear();
  device->Play();
  ASSERT_TRUE(WaitForThreads(queue, *device));
  EXPECT_THAT(events.log, ElementsAre("play", "error"));
  EXPECT_EQ(events.lastError, "The connection timed out");
}

TEST_F(Ksv6140Test, BurstCountAndValues) {
  Make();
  ConnectQuietly();
  device->SetBurstCount(0);
  EXPECT_EQ(device->GetBurstCount(), 3);
  transport->Replies["FREP?"] = {"\x01"};
  EXPECT_EQ(device->GetBurstCount(), 1);
  EXPECT_THROW(device->SetValues(81.01, 1), std::runtime_error);
  device->SetValues(80, 25.5);
  EXPECT_THAT(transport->Sent(),
              ElementsAre("FREP 0", "ERR?", "FREP?", "FREP?", "V 80.000", "C 25.500"));
}

}  // namespace
}  // namespace ondrevo
