// Transcript tests of the family-C driver against a scripted transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

#include "devices/MainThread.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "devices/supplies/ksv7340/Ksv7340Protocol.h"
#include "document/Numbers.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "supplies/ScriptedTransport.h"

namespace ondrevo {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::TScriptedTransport;
using namespace std::chrono_literals;

SegmentRow Point(double t, double v) {
  SegmentRow row;
  row.Time = t;
  row.Value = v;
  return row;
}

// A staircase of `levels` held levels of 0.1 s each: one list point per level.
std::shared_ptr<TWaveform> Staircase(int levels, double first, double step) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    table[row++] = Point(k * 0.1, first + k * step);
    table[row++] = Point((k + 1) * 0.1, first + k * step);
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

std::shared_ptr<TWaveform> Constant(double duration, double value) {
  SegmentTable table;
  table[0] = Point(0.0, value);
  table[1] = Point(duration, value);
  table.SetLastPointIndex(1);
  return BuildWaveform(table);
}

struct Events {
  std::vector<std::string> log;
  std::vector<int> uploadProgress, playProgress, bursts;
  int errors = 0;
  std::string lastError;
};

class Ksv7340Test : public ::testing::Test {
 protected:
  void SetUp() override { queue.Install(); }
  void TearDown() override {
    if (device) queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 10s);
    TMainThread::SetDispatcher(nullptr);
  }

  std::shared_ptr<TKsv7340Device> Make(const std::string& model = "KSV 7342-80") {
    transport = std::make_shared<TScriptedTransport>();
    device = std::make_shared<TKsv7340Device>(model, transport, "123456");
    device->SetOnUploadProgress([this](IDevice*, int p) { events.uploadProgress.push_back(p); });
    device->SetOnPlayProgress([this](IDevice*, int p) { events.playProgress.push_back(p); });
    device->SetOnBurst([this](IDevice*, int n) { events.bursts.push_back(n); });
    device->SetOnUploadDone([this](IDevice*) { events.log.push_back("done"); });
    device->SetOnError([this](IDevice*, const std::exception& e) {
      ++events.errors;
      events.lastError = e.what();
      events.log.push_back("error");
    });
    device->SetOnPlay([this](IDevice*) { events.log.push_back("play"); });
    device->SetOnStop([this](IDevice*) { events.log.push_back("stop"); });
    device->SetOnConnect([this](IDevice*) { events.log.push_back("connect"); });
    device->SetOnDisconnect([this](IDevice*) { events.log.push_back("disconnect"); });
    return device;
  }

  void ConnectQuietly() {
    device->Connect();
    transport->ClearLines();
    events.log.clear();
  }

  bool WaitThreads() {
    return queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s);
  }

  TEventQueue queue;
  std::shared_ptr<TScriptedTransport> transport;
  std::shared_ptr<TKsv7340Device> device;
  Events events;
};

TEST_F(Ksv7340Test, ConnectSendsTheSequenceAndTakesTheReportedMaxima) {
  Make("KSV 7341-80");
  device->Connect();
  EXPECT_THAT(
      transport->Lines(),
      ElementsAre("[open]", ";SYST:REM", ";*CLS", "SYST:LANG CIIL", "LIST:SEQ:STAT OFF",
                  "SOUR:VOLT? MAX", "SOUR:CURR? MAX", "LIST:SEQ:OPEN:MODE NORM",
                  "LIST:SEQ:TERM FIRS", "LIST:SEQ:STAT ON", "LIST:SEQ:BLOC 0", "SYST:ERR?"));
  EXPECT_TRUE(device->IsConnected());
  EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 81.6);
  EXPECT_DOUBLE_EQ(device->GetMaxCurrent(), 5.1);
  EXPECT_DOUBLE_EQ(device->GetVoltageResolution(), 0.02);  // table values stay
  EXPECT_THAT(events.log, ElementsAre("connect"));
}

TEST_F(Ksv7340Test, TwoChannelConnectSelectsTheWiredChannel) {
  Make("KSV 7342-40");
  transport->Replies["SOUR:VOLT? MAX"] = {"40.8"};
  transport->Replies["SOUR:CURR? MAX"] = {"10.2"};
  ASSERT_EQ(device->GetConnectedInputs().size(), 2u);
  device->GetConnectedInputs()[1] = std::make_shared<TDummyDevice>();
  device->Connect();
  auto sent = transport->Sent();
  EXPECT_NE(std::find(sent.begin(), sent.end(), "INST:NSEL 2"), sent.end());
  device->Disconnect();

  Make("KSV 7342-40");
  transport->Replies["SOUR:VOLT? MAX"] = {"40.8"};
  transport->Replies["SOUR:CURR? MAX"] = {"10.2"};
  device->GetConnectedInputs()[0] = std::make_shared<TDummyDevice>();
  device->Connect();
  sent = transport->Sent();
  EXPECT_EQ(sent[6], "INST:NSEL 1");  // right after the two maxima
}

TEST_F(Ksv7340Test, ConnectFailurePassesToTheCallerAndStaysDisconnected) {
  Make();
  transport->Replies["SOUR:CURR? MAX"] = {"\x01"};
  EXPECT_THROW(device->Connect(), ETimeoutError);
  EXPECT_FALSE(device->IsConnected());
  EXPECT_TRUE(events.log.empty());
  transport->Replies["SOUR:CURR? MAX"] = {"garbage"};
  EXPECT_ANY_THROW(device->Connect());
  EXPECT_FALSE(device->IsConnected());
}

// The maxima become the clipping limits of every upload: one that no model of the kind has is
// refused before anything can be uploaded.
TEST_F(Ksv7340Test, ReportedMaximaMustBeUsableLimitsOfTheModel) {
  struct Case {
    const char* voltage;
    const char* current;
    const char* error;  // nullptr: accepted
  };
  const Case cases[] = {
      {"20.4", "40.8", nullptr},  // a little above the rating, as supplies report it
      {"21", "42", nullptr},
      {"-5", "40",
       "The instrument reports an unusable maximum voltage: -5 V (the model is rated "
       "up to 20 V)."},
      {"0", "40", "The instrument reports an unusable maximum voltage: 0 V"},
      {"1e308", "40", "The instrument reports an unusable maximum voltage: 1E308 V"},
      {"21.01", "40", "The instrument reports an unusable maximum voltage: 21.01 V"},
      {"20", "0",
       "The instrument reports an unusable maximum current: 0 A (the model is rated "
       "up to 40 A)."},
      {"20", "-0.001", "The instrument reports an unusable maximum current: -0.001 A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.voltage) + " V, " + c.current + " A");
    Make("KSV 7341-20");
    transport->Replies["SOUR:VOLT? MAX"] = {c.voltage};
    transport->Replies["SOUR:CURR? MAX"] = {c.current};
    if (!c.error) {
      device->Connect();
      EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), ParseNumber(c.voltage));
      device->Disconnect();
      continue;
    }
    try {
      device->Connect();
      ADD_FAILURE() << "connected";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), ::testing::StartsWith(c.error));
    }
    EXPECT_FALSE(device->IsConnected());
    EXPECT_DOUBLE_EQ(device->GetMaxVoltage(), 20.0) << "the table limit stays";
    EXPECT_THAT(transport->Sent(), ::testing::Not(::testing::Contains("LIST:SEQ:STAT ON")));
  }
}

// An error the instrument queued while it took the lists fails the upload with its own text;
// the block is neither bounded nor armed, so nothing can play the list it was left with.
TEST_F(Ksv7340Test, AnErrorQueuedByTheUploadFailsItBeforeTheBlockIsArmed) {
  for (const char* first : {"-222,\"Data out of range\"", "-350,\"Queue overflow\""}) {
    SCOPED_TRACE(first);
    Make();
    ConnectQuietly();
    transport->Replies["SYST:ERR?"] = {first, "-222,\"Data out of range\"", "0,\"No error\""};
    device->Upload(Staircase(3, 1.0, 1.0), Constant(0.3, 0.5), true);
    ASSERT_TRUE(WaitThreads());
    EXPECT_THAT(events.log, ElementsAre("error"));
    EXPECT_EQ(events.lastError, std::string("The instrument reports an error: ") + first);
    const auto sent = transport->Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "SYST:ERR?"), 3) << "the queue is emptied";
    EXPECT_EQ(sent.back(), "SYST:ERR?");
    for (const std::string& line : sent)
      EXPECT_FALSE(line.starts_with("LIST:BLOC") || line == "INIT");
    events = {};
  }
}

TEST_F(Ksv7340Test, OnePointUploadTranscript) {
  Make("KSV 7342-80");
  ConnectQuietly();
  device->Upload(Constant(0.005, 12.5), Constant(0.005, 1.25), true);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(
      transport->Sent(),
      ElementsAre("LIST:VOLT 0,12.500;*OPC?", "LIST:CURR 0,1.250;*OPC?", "LIST:DWEL 0,0.010;*OPC?",
                  "SYST:ERR?", "LIST:BLOC 0,0,0,1", "INIT", "SYST:ERR?",
                  // the done handler: SetBurstCount(GetBurstCount())
                  "LIST:SEQ:STAT?", "LIST:SEQ:TERM FIRS", "LIST:BLOC 0,0,0,1", "SYST:ERR?"));
  EXPECT_THAT(events.log, ElementsAre("done"));
  EXPECT_EQ(events.uploadProgress.front(), 0);
  EXPECT_EQ(events.uploadProgress.back(), 100);
  EXPECT_FALSE(device->IsUploading());
}

TEST_F(Ksv7340Test, ThousandPointsAreCutIntoAlignedChunksBelowTheLineLimit) {
  Make("KSV 7342-80");
  ConnectQuietly();
  device->Upload(Staircase(1000, 12.345, 0.02), Staircase(1000, 1.234, 0.001), false);
  ASSERT_TRUE(WaitThreads());
  ASSERT_EQ(events.errors, 0) << events.lastError;
  const auto sent = transport->Sent();
  int chunks = 0;
  int next = 0;
  for (std::size_t i = 0; i + 2 < sent.size() && sent[i].starts_with("LIST:VOLT "); i += 3) {
    ++chunks;
    const std::string start = sent[i].substr(10, sent[i].find(',') - 10);
    EXPECT_EQ(std::stoi(start), next);
    EXPECT_TRUE(sent[i + 1].starts_with("LIST:CURR " + start + ","));
    EXPECT_TRUE(sent[i + 2].starts_with("LIST:DWEL " + start + ","));
    const auto points = std::count(sent[i].begin(), sent[i].end(), ',');
    for (int k = 0; k < 3; ++k) {
      EXPECT_LE(sent[i + k].size(), 508u) << sent[i + k];
      EXPECT_TRUE(sent[i + k].ends_with(";*OPC?"));
      EXPECT_EQ(std::count(sent[i + k].begin(), sent[i + k].end(), ','), points);
    }
    next += static_cast<int>(points);
  }
  EXPECT_EQ(next, 1000);
  EXPECT_GT(chunks, 3);
  EXPECT_EQ(device->GetLastIndex(), 999);
  EXPECT_NE(std::find(sent.begin(), sent.end(), "LIST:BLOC 0,0,999,1"), sent.end());
  EXPECT_TRUE(std::is_sorted(events.uploadProgress.begin(), events.uploadProgress.end()));
  // Raised only when the whole percent changes.
  EXPECT_EQ(std::adjacent_find(events.uploadProgress.begin(), events.uploadProgress.end()),
            events.uploadProgress.end());
}

// Holds the sampler inside its first look at the waveform until released.
class TBlockingWaveform : public TWaveform {
 public:
  double GetDuration() const override {
    std::unique_lock g(lock_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(g, [&] { return released_; });
    return TWaveform::GetDuration();
  }
  bool Entered() const {
    std::lock_guard g(lock_);
    return entered_;
  }
  void Release() {
    std::lock_guard g(lock_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  mutable bool entered_ = false;
  bool released_ = false;
};

TEST_F(Ksv7340Test, CancelDuringSamplingStillEndsTheBlockAndFiresDone) {
  Make();
  ConnectQuietly();
  auto voltage = std::make_shared<TBlockingWaveform>();
  device->Upload(voltage, Constant(1.0, 1.0), false);
  ASSERT_TRUE(queue.PumpUntil([&] { return voltage->Entered(); }, 10s));
  device->CancelUpload();
  voltage->Release();
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(transport->Sent(),
              ElementsAre("LIST:BLOC 0,0,0,1", "INIT", "SYST:ERR?", "LIST:SEQ:STAT?",
                          "LIST:SEQ:TERM FIRS", "LIST:BLOC 0,0,0,1", "SYST:ERR?"));
  EXPECT_THAT(events.log, ElementsAre("done"));
}

// A cancelled upload leaves the list initiated, so the next upload's INIT is ignored (-213):
// that is the state INIT asks for, not a failure. Any other error after INIT still fails it.
TEST_F(Ksv7340Test, InitIgnoredAfterTheBlockIsNoFailureOtherErrorsAre) {
  const std::string none = "0,\"No error\"", ignored = "-213,\"Init ignored\"";
  for (const std::string& other : {std::string(), std::string("-221,\"Settings conflict\"")}) {
    SCOPED_TRACE(other);
    Make();
    ConnectQuietly();
    transport->Replies["SYST:ERR?"] = {none, ignored};
    if (!other.empty()) transport->Replies["SYST:ERR?"].push_back(other);
    transport->Replies["SYST:ERR?"].push_back(none);
    device->Upload(Staircase(3, 1.0, 1.0), Constant(0.3, 0.5), true);
    ASSERT_TRUE(WaitThreads());
    if (other.empty()) {
      EXPECT_THAT(events.log, ElementsAre("done")) << events.lastError;
    } else {
      EXPECT_THAT(events.log, ElementsAre("error"));
      EXPECT_EQ(events.lastError, "The instrument reports an error: " + other);
    }
    events = {};
  }
}

TEST_F(Ksv7340Test, UploadAgainRightAfterDoneDoesNotWaitForTheEndHandler) {
  // The window enables Upload as soon as the done event has been handled; the finishing thread
  // must not refuse the next upload while its end handler is still on its way.
  Make();
  ConnectQuietly();
  for (int round = 0; round < 20; ++round) {
    const std::size_t before = events.log.size();
    ASSERT_NO_THROW(device->Upload(Constant(0.005, 1.0), Constant(0.005, 1.0), false)) << round;
    ASSERT_TRUE(queue.PumpUntil([&] { return events.log.size() > before; }, 10s));
  }
  // Asked again from inside the done handler (before the burst count is read back) the driver
  // still refuses: the finishing thread's done handler uses the transport there.
  std::string refused;
  device->SetOnUploadDone([&](IDevice*) {
    try {
      device->Upload(Constant(0.005, 1.0), Constant(0.005, 1.0), false);
    } catch (const std::exception& e) {
      refused = e.what();
    }
  });
  device->Upload(Constant(0.005, 1.0), Constant(0.005, 1.0), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_EQ(refused, "An upload is already running");
  EXPECT_FALSE(device->IsUploading());
  EXPECT_EQ(events.errors, 0);
}

// Progress is posted without the upload waiting for it: the reports still arrive on the main
// thread, in order and all before the done event; a progress handler that throws ends the upload
// with its error, and the device takes the next upload.
TEST_F(Ksv7340Test, PostedProgressKeepsItsOrderAndAThrowingHandlerEndsTheUpload) {
  Make();
  ConnectQuietly();
  const auto mainId = std::this_thread::get_id();
  bool offMain = false;
  device->SetOnUploadProgress([&](IDevice*, int p) {
    offMain |= std::this_thread::get_id() != mainId;
    events.log.push_back(std::to_string(p));
  });
  device->Upload(Staircase(1000, 12.345, 0.02), Staircase(1000, 1.234, 0.001), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_FALSE(offMain);
  ASSERT_GE(events.log.size(), 3u);
  EXPECT_EQ(events.log.front(), "0");
  EXPECT_THAT(std::vector<std::string>(events.log.end() - 2, events.log.end()),
              ElementsAre("100", "done"));
  for (std::size_t k = 1; k + 1 < events.log.size(); ++k)
    EXPECT_LT(std::stoi(events.log[k - 1]), std::stoi(events.log[k]));

  events.log.clear();
  transport->ClearLines();
  device->SetOnUploadProgress([&](IDevice*, int p) {
    events.log.push_back(std::to_string(p));
    if (p >= 50) throw std::runtime_error("progress display failed");
  });
  device->Upload(Staircase(1000, 12.345, 0.02), Staircase(1000, 1.234, 0.001), false);
  ASSERT_TRUE(WaitThreads());
  ASSERT_FALSE(events.log.empty());
  EXPECT_EQ(events.log.back(), "error");
  EXPECT_EQ(events.lastError, "progress display failed");
  EXPECT_EQ(std::count(events.log.begin(), events.log.end(), "done"), 0);
  EXPECT_FALSE(device->IsUploading());

  events.log.clear();
  device->SetOnUploadProgress(nullptr);
  device->Upload(Constant(0.005, 1.0), Constant(0.005, 1.0), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(events.log, ElementsAre("done"));
}

// A disconnect asked for in the done handler is carried out once the upload has let go of the
// line, in the same hand-over.
TEST_F(Ksv7340Test, DisconnectFromTheDoneHandlerClosesAfterTheUpload) {
  Make();
  ConnectQuietly();
  device->SetOnUploadDone([&](IDevice*) {
    events.log.push_back("done");
    device->Disconnect();
  });
  device->Upload(Staircase(20, 1.0, 0.1), Constant(2.0, 1.0), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(events.log, ElementsAre("done", "disconnect"));
  EXPECT_FALSE(device->IsConnected());
  EXPECT_FALSE(device->IsUploading());
  EXPECT_EQ(transport->Lines().back(), "[close]");
}

TEST_F(Ksv7340Test, BurstCountLines) {
  Make();
  ConnectQuietly();
  device->Upload(Staircase(200, 1.0, 0.1), Constant(20.0, 1.0), false);
  ASSERT_TRUE(WaitThreads());
  ASSERT_EQ(device->GetLastIndex(), 199);
  transport->ClearLines();
  device->SetBurstCount(0);
  device->SetBurstCount(3);
  EXPECT_THAT(transport->Sent(),
              ElementsAre("LIST:SEQ:TERM INF", "LIST:BLOC 0,0,199,INF", "SYST:ERR?",
                          "LIST:SEQ:TERM FIRS", "LIST:BLOC 0,0,199,3", "SYST:ERR?"));

  transport->ClearLines();
  transport->Replies["LIST:SEQ:STAT?"] = {"0", "0", "1"};
  transport->Replies["LIST:BLOC? 0"] = {"0,0,199,7", "0,0,199,INF"};
  EXPECT_EQ(device->GetBurstCount(), 7);
  EXPECT_EQ(device->GetBurstCount(), 0);
  EXPECT_EQ(device->GetBurstCount(), 1);
  EXPECT_THAT(transport->Sent(), ElementsAre("LIST:SEQ:STAT?", "LIST:BLOC? 0", "LIST:SEQ:STAT?",
                                             "LIST:BLOC? 0", "LIST:SEQ:STAT?"));
}

// Every remaining command sequence, line for line: a misspelt command shows here, not only on
// an instrument.
TEST_F(Ksv7340Test, PauseStopOutputAndDisconnectTranscripts) {
  Make();
  ConnectQuietly();
  device->Pause();
  EXPECT_THAT(transport->Lines(), ElementsAre("ABOR"));
  transport->ClearLines();
  device->Stop();
  EXPECT_THAT(transport->Lines(), ElementsAre("ABOR", "LIST:SEQ:CLE"));
  transport->ClearLines();
  device->SetOutputEnabled(false, 0);
  device->SetOutputEnabled(true, 0);
  EXPECT_THAT(transport->Lines(), ElementsAre("OUTP OFF", "OUTP ON"));
  transport->ClearLines();
  device->SetValues(12.5, 1.25);
  EXPECT_THAT(transport->Lines(), ElementsAre("VOLT 12.500", "CURR 1.250"));
  transport->ClearLines();
  device->Disconnect();
  EXPECT_THAT(transport->Lines(), ElementsAre("LIST:SEQ:STAT OFF", "SYST:LOC", "[close]"));
  EXPECT_THAT(events.log, ElementsAre("disconnect"));
}

TEST_F(Ksv7340Test, SetValuesChecksTheLimitsBeforeSendingAnything) {
  Make("KSV 7342-80");
  ConnectQuietly();  // maxima now 81.6 V and 5.1 A
  EXPECT_THROW(device->SetValues(81.6001, 1.0), std::runtime_error);
  EXPECT_THROW(device->SetValues(-0.001, 1.0), std::runtime_error);
  EXPECT_THROW(device->SetValues(1.0, 5.2), std::runtime_error);
  EXPECT_THROW(device->SetValues(std::nan(""), 1.0), std::runtime_error);
  EXPECT_TRUE(transport->Sent().empty());
  device->SetValues(12.5, 0.25);
  EXPECT_THAT(transport->Sent(), ElementsAre("VOLT 12.500", "CURR 0.250"));
}

TEST_F(Ksv7340Test, DisconnectDuringUploadWaitsForTheThread) {
  Make();
  ConnectQuietly();
  transport->Hold();
  device->Upload(Staircase(300, 1.0, 0.1), Constant(30.0, 1.0), false);
  ASSERT_TRUE(queue.PumpUntil([&] { return transport->Waiting(); }, 10s));
  device->Disconnect();  // returns at once
  EXPECT_TRUE(device->IsConnected());
  EXPECT_TRUE(device->IsUploading());
  EXPECT_TRUE(events.log.empty());
  transport->Release();
  ASSERT_TRUE(WaitThreads());
  EXPECT_FALSE(device->IsConnected());
  ASSERT_FALSE(events.log.empty());
  EXPECT_EQ(events.log.back(), "disconnect");
  const auto lines = transport->Lines();
  // The upload ended (block bounds, INIT) before the instrument was put back to local.
  const auto init = std::find(lines.begin(), lines.end(), "INIT");
  const auto local = std::find(lines.begin(), lines.end(), "SYST:LOC");
  ASSERT_NE(init, lines.end());
  ASSERT_NE(local, lines.end());
  EXPECT_LT(init, local);
  EXPECT_EQ(lines.back(), "[close]");
  // Only the first chunk went out.
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.starts_with("LIST:VOLT"); }),
      1);
}

TEST_F(Ksv7340Test, UploadFailureReportsOnceAndSendsNothingMore) {
  Make();
  ConnectQuietly();
  transport->Fallback = [](const std::string& last) -> std::string {
    return last.starts_with("LIST:CURR") ? "\x01" : "1";
  };
  device->Upload(Staircase(10, 1.0, 0.1), Constant(1.0, 1.0), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(events.log, ElementsAre("error"));
  EXPECT_EQ(events.lastError, "The connection timed out");
  EXPECT_TRUE(transport->Sent().back().starts_with("LIST:CURR"));
  EXPECT_FALSE(device->IsUploading());
}

TEST_F(Ksv7340Test, PlayPollsUntilTheInstrumentLeavesTheRunningState) {
  Make();
  ConnectQuietly();
  device->Upload(Staircase(101, 1.0, 0.1), Constant(10.1, 1.0), false);
  ASSERT_TRUE(WaitThreads());
  transport->ClearLines();
  transport->Replies["LIST:SEQ?"] = {"0,50,1", "0,0,2", "0,100,3"};
  transport->Replies["STAT:OPER:COND?"] = {"8", "8", "0"};
  events.log.clear();
  device->Play();
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(events.log, ElementsAre("play", "stop"));
  EXPECT_THAT(events.playProgress, ElementsAre(50, 0, 100));
  EXPECT_THAT(events.bursts, ElementsAre(2, 3));
  const auto sent = transport->Sent();
  EXPECT_THAT(std::vector<std::string>(sent.begin(), sent.begin() + 5),
              ElementsAre("OUTP ON", "TRIG:SOUR BUS", "INIT:CONT OFF", "INIT", "*TRG"));

  // A sequence reply with too few fields ends the thread with one error and no stop.
  events.log.clear();
  transport->Replies["LIST:SEQ?"] = {"0,7"};
  transport->Replies["STAT:OPER:COND?"] = {"8"};
  device->Play();
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(events.log, ElementsAre("play", "error"));

  device->Stop();
  EXPECT_THAT(transport->Sent().back(), "LIST:SEQ:CLE");
}

TEST_F(Ksv7340Test, DisconnectWhilePlayingEndsThePollingQuietly) {
  Make();
  ConnectQuietly();
  transport->Fallback = [](const std::string& last) -> std::string {
    return last == "STAT:OPER:COND?" ? "8" : "0,1,1";
  };
  device->Play();
  queue.PumpUntil([&] { return transport->Sent().size() > 8; }, 5s);
  device->Disconnect();
  ASSERT_TRUE(WaitThreads());
  EXPECT_THAT(events.log, ElementsAre("play", "disconnect"));
}

TEST(Ksv7340Protocol, AChunkHoldsAtLeastOnePointAndStaysBelowTheLimit) {
  const std::vector<double> huge{1e20, 1.0}, one{1.0, 1.0};
  const auto chunk = ksv7340::BuildListChunk(one, huge, one, 0, 40);
  EXPECT_EQ(chunk.Last, 0);
  EXPECT_GT(chunk.Voltage.size() + 6, 40u);  // alone it may exceed the limit
  const auto rest = ksv7340::BuildListChunk(one, huge, one, 1, 40);
  EXPECT_EQ(rest.Voltage, "LIST:VOLT 1,1.000");

  std::vector<double> many(100, 1.5);
  const auto full = ksv7340::BuildListChunk(many, many, many, 0, 509);
  EXPECT_LT(full.Dwell.size() + 6, 509u);
  // One more value would have reached the limit.
  EXPECT_GE(full.Dwell.size() + 6 + 6, 509u);

  // At the limit exactly: "LIST:DWEL 0,1.500" and three more values with ";*OPC?" are 41
  // characters, which a limit of 42 takes and a limit of 41 does not.
  const auto at42 = ksv7340::BuildListChunk(many, many, many, 0, 42);
  EXPECT_EQ(at42.Last, 3);
  EXPECT_EQ(at42.Dwell.size() + 6, 41u);
  EXPECT_EQ(ksv7340::BuildListChunk(many, many, many, 0, 41).Last, 2);
  // The longest of the three lines decides, whichever it is.
  const std::vector<double> wide(100, 10.5);
  using Lines = std::tuple<const std::vector<double>*, const std::vector<double>*,
                           const std::vector<double>*>;
  for (const auto& [d, v, c] :
       {Lines{&wide, &many, &many}, Lines{&many, &wide, &many}, Lines{&many, &many, &wide}}) {
    EXPECT_EQ(ksv7340::BuildListChunk(*d, *v, *c, 0, 45).Last, 2);
    EXPECT_EQ(ksv7340::BuildListChunk(*d, *v, *c, 0, 46).Last, 3);
  }
}

// Built in steps of any size, a chunk is the one a plain greedy cut gives: points appended while
// every line with ";*OPC?" stays below the limit, each value as FormatListValue writes it.
TEST(Ksv7340Protocol, AChunkBuiltInStepsIsTheGreedyCut) {
  std::mt19937 rng(7342);
  std::uniform_real_distribution<double> value(-5, 120);
  for (int round = 0; round < 100; ++round) {
    const std::size_t n = 1 + rng() % 120;
    std::vector<double> d(n), v(n), c(n);
    for (std::size_t i = 0; i < n; ++i) {
      d[i] = value(rng) / 10;
      v[i] = rng() % 5 == 0 ? 1e6 * value(rng) : value(rng);
      c[i] = std::round(value(rng) * 2000) / 2000;  // halves of the last decimal included
    }
    const int32_t limit = 20 + static_cast<int32_t>(rng() % 700);
    for (int32_t first = 0; first < static_cast<int32_t>(n);) {
      SCOPED_TRACE(::testing::Message() << "round " << round << " first " << first);
      ksv7340::ListChunk expected;
      expected.First = expected.Last = first;
      auto line = [&](const char* name, const std::vector<double>& x, int32_t last) {
        std::string text = std::string(name) + " " + std::to_string(first);
        for (int32_t p = first; p <= last; ++p) text += "," + ksv7340::FormatListValue(x[p]);
        return text;
      };
      for (int32_t last = first;; ++last) {
        expected.Dwell = line("LIST:DWEL", d, last);
        expected.Voltage = line("LIST:VOLT", v, last);
        expected.Current = line("LIST:CURR", c, last);
        expected.Last = last;
        if (last + 1 >= static_cast<int32_t>(n)) break;
        const auto fits = [&](const char* name, const std::vector<double>& x) {
          return line(name, x, last + 1).size() + 6 < static_cast<std::size_t>(limit);
        };
        if (!fits("LIST:DWEL", d) || !fits("LIST:VOLT", v) || !fits("LIST:CURR", c)) break;
      }
      ksv7340::TListChunkBuilder builder(d, v, c, first, limit);
      while (rng() % 4 != 0 && builder.Extend(static_cast<int32_t>(rng() % 5))) {
      }
      const ksv7340::ListChunk chunk = builder.Take();
      ASSERT_EQ(chunk.Last, expected.Last);
      EXPECT_EQ(chunk.First, first);
      EXPECT_EQ(chunk.Dwell, expected.Dwell);
      EXPECT_EQ(chunk.Voltage, expected.Voltage);
      EXPECT_EQ(chunk.Current, expected.Current);
      first = chunk.Last + 1;
    }
  }
}

TEST(Ksv7340Protocol, RepliesAreParsedStrictly) {
  int32_t index = 0, repetition = 0;
  ksv7340::ParseSequenceReply("0,42,3", index, repetition);
  EXPECT_EQ(index, 42);
  EXPECT_EQ(repetition, 3);
  EXPECT_ANY_THROW(ksv7340::ParseSequenceReply("0,42", index, repetition));
  EXPECT_ANY_THROW(ksv7340::ParseSequenceReply("0,x,3", index, repetition));
  EXPECT_EQ(ksv7340::ParseIntegerReply(" 8"), 8);
  EXPECT_ANY_THROW(ksv7340::ParseIntegerReply("8.5"));
  EXPECT_EQ(ksv7340::ParseBlockCount("0,0,199,INF"), 0);
}

}  // namespace
}  // namespace ondrevo
