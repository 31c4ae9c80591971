// The family-C core on transcripts: what the driver sends, what comes back, what it changes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/Ksv7340Sim.h"

namespace ondrevo::sim {
namespace {

using Transcript = std::vector<std::pair<std::string, std::optional<std::string>>>;

class Ksv7340SimTest : public ::testing::Test {
 protected:
  TManualClock clock;
  TKsv7340Sim sim{"KSV 7342-80", "123456", clock.Function()};

  void Expect(const Transcript& transcript) {
    for (const auto& [line, reply] : transcript) {
      SCOPED_TRACE(line);
      EXPECT_EQ(sim.HandleLine(line), reply);
    }
  }
  std::string Ask(const std::string& line) { return sim.HandleLine(line).value_or("<none>"); }
  // Three points of 0.5, 1 and 0.5 s in block 0: one repetition takes 2 s.
  void LoadThreePoints(const std::string& count) {
    Expect({{";SYST:REM", {}},
            {"LIST:SEQ:STAT ON", {}},
            {"LIST:VOLT 0,1.000,2.000,3.000;*OPC?", "1"},
            {"LIST:CURR 0,0.100,0.200,0.300;*OPC?", "1"},
            {"LIST:DWEL 0,0.500,1.000,0.500;*OPC?", "1"},
            {"LIST:BLOC 0,0,2," + count, {}},
            {"SYST:ERR?", "0,\"No error\""}});
  }
};

TEST_F(Ksv7340SimTest, IdentifiesItselfInTheFormTheScannersParse) {
  EXPECT_EQ(Ask(";*IDN?"), "KESTRAVO,KSV7342-80,123456,1.02");
  EXPECT_EQ(sim.Model(), "KSV 7342-80");
  EXPECT_EQ(sim.Channels(), 2);
  TKsv7340Sim single("KSV7341-20", "9", clock.Function());
  EXPECT_EQ(single.IdentificationReply(), "KESTRAVO,KSV7341-20,9,1.02");
  EXPECT_EQ(single.Channels(), 1);
  EXPECT_EQ(single.MaxCurrent(), 40);
  EXPECT_THROW(TKsv7340Sim("KSV 7343-10", "1", clock.Function()), std::invalid_argument);
  EXPECT_THROW(CreateSimInstrument("KSV 5205", "1", clock.Function()), std::invalid_argument);
}

TEST_F(Ksv7340SimTest, ConnectSequenceOfTheDriver) {
  Expect({{";SYST:REM", {}},
          {";*CLS", {}},
          {"SYST:LANG CIIL", {}},
          {"LIST:SEQ:STAT OFF", {}},
          {"SOUR:VOLT? MAX", "80.000"},
          {"SOUR:CURR? MAX", "5.000"},
          {"INST:NSEL 2", {}},
          {"LIST:SEQ:OPEN:MODE NORM", {}},
          {"LIST:SEQ:TERM FIRS", {}},
          {"LIST:SEQ:STAT ON", {}},
          {"LIST:SEQ:BLOC 0", {}},
          {"SYST:ERR?", "0,\"No error\""},
          {"LIST:SEQ:STAT?", "1"}});
  EXPECT_TRUE(sim.Remote());
  EXPECT_TRUE(sim.SequenceOn());
  EXPECT_EQ(sim.SelectedChannel(), 2);
  Expect({{"LIST:SEQ:STAT OFF", {}}, {"SYST:LOC", {}}, {"LIST:SEQ:STAT?", "0"}});
  EXPECT_FALSE(sim.Remote());
}

TEST_F(Ksv7340SimTest, ListCommandsAreAllOrNothing) {
  Expect({{"LIST:VOLT 998,1.500,2.500;*OPC?", "1"},
          // Two points from 999 would run past the memory's end: nothing is written.
          {"LIST:VOLT 999,7.000,8.000;*OPC?", "1"},
          // A value above the model's maximum rejects the whole line.
          {"LIST:CURR 0,1.000,5.001;*OPC?", "1"},
          {"LIST:DWEL 0,0.005;*OPC?", "1"},
          {"LIST:DWEL 0,100.001;*OPC?", "1"},
          {"LIST:VOLT 5,abc;*OPC?", "1"}});
  EXPECT_EQ(sim.ListVoltage(998), 1.5);
  EXPECT_EQ(sim.ListVoltage(999), 2.5);
  EXPECT_EQ(sim.ListCurrent(0), 0);
  EXPECT_EQ(sim.ListCurrent(1), 0);
  EXPECT_EQ(sim.ListDwell(0), 0.01);
  Expect({{"SYST:ERR?", "-222,\"Data out of range\""},
          {"SYST:ERR?", "-222,\"Data out of range\""},
          {"SYST:ERR?", "-222,\"Data out of range\""},
          {"SYST:ERR?", "-222,\"Data out of range\""},
          {"SYST:ERR?", "-120,\"Numeric data error\""},
          {"SYST:ERR?", "0,\"No error\""}});
}

TEST_F(Ksv7340SimTest, SetValuesOnlyInRangeAndOnlyWithAPoint) {
  Expect({{"VOLT 12.500", {}},
          {"CURR 1.250", {}},
          {"VOLT?;CURR?", "12.500;1.250"},
          {"VOLT 80.010", {}},
          // The decimal comma of a German locale splits the number into two parameters.
          {"VOLT 1,500", {}},
          {"VOLT?", "12.500"},
          {"SYST:ERR?", "-222,\"Data out of range\""},
          {"SYST:ERR?", "-108,\"Parameter not allowed\""},
          {"OUTP?", "0"},
          {"MEAS:VOLT?", "0.000"},
          {"OUTP ON", {}},
          {"OUTP?", "1"},
          {"MEAS:VOLT?", "12.500"}});
  EXPECT_EQ(sim.SetValues(), std::make_pair(12.5, 1.25));
}

TEST_F(Ksv7340SimTest, HeadersInLongFormAnyCaseAndUnknownOnes) {
  Expect({{":source:voltage:level 3.5", {}},
          {"Sour:Volt?", "3.500"},
          {"LIST:SEQUENCE:STATE ON;LIST:SEQ:STAT?", "1"},
          {"SYSTEM:ERROR:NEXT?", "0,\"No error\""},
          {"LIST:FOO 1", {}},
          {"VOLT", {}},
          {"*IDN", {}},
          {"SYST:ERR?;SYST:ERR?;SYST:ERR?",
           "-113,\"Undefined header\";-109,\"Missing parameter\";"
           "-113,\"Undefined header\""}});
}

TEST_F(Ksv7340SimTest, LinesLongerThanTheInputBufferAreRefusedWhole) {
  const std::string fits = "LIST:VOLT 0,1.000;*OPC?" + std::string(485, ' ');
  ASSERT_EQ(fits.size(), 508u);
  EXPECT_EQ(Ask(fits), "1");
  EXPECT_EQ(Ask("LIST:VOLT 0,2.000;*OPC?" + std::string(486, ' ')), "<none>");
  EXPECT_EQ(sim.ListVoltage(0), 1);
  EXPECT_EQ(Ask("SYST:ERR?"), "-223,\"Too much data\"");
}

TEST_F(Ksv7340SimTest, ErrorQueueOverflowsIntoItsLastEntryAndClears) {
  for (int i = 0; i < 25; ++i) sim.HandleLine("BOGUS");
  const auto errors = sim.PendingErrors();
  ASSERT_EQ(errors.size(), TKsv7340Sim::ErrorQueueLength);
  EXPECT_EQ(errors.front(), "-113,\"Undefined header\"");
  EXPECT_EQ(errors.back(), "-350,\"Queue overflow\"");
  Expect({{"*CLS", {}}, {"SYST:ERR?", "0,\"No error\""}});
}

TEST_F(Ksv7340SimTest, PlaysTheBlockInInstrumentTime) {
  LoadThreePoints("3");
  // The upload ends with INIT: armed, waiting for the bus trigger.
  Expect({{"INIT", {}}, {"STAT:OPER:COND?", "32"}});
  // Play sends the start sequence again; the second INIT is ignored, *TRG starts the list.
  Expect({{"OUTP ON", {}},
          {"TRIG:SOUR BUS", {}},
          {"INIT:CONT OFF", {}},
          {"INIT", {}},
          {"*TRG", {}},
          {"STAT:OPER:COND?", "8"},
          {"LIST:SEQ?", "0,0,1"},
          {"MEAS:VOLT?", "1.000"}});
  clock.Set(0.6);
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,1,1");
  clock.Set(1.5);
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,2,1");
  EXPECT_EQ(Ask("MEAS:CURR?"), "0.300");
  clock.Set(2.1);
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,0,2");
  clock.Set(5.9);
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,2,3");
  EXPECT_EQ(Ask("STAT:OPER:COND?"), "8");
  // After the third repetition it stops and still reports where it ended.
  clock.Set(6.0);
  EXPECT_EQ(Ask("STAT:OPER:COND?"), "0");
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,2,3");
  EXPECT_EQ(Ask("SYST:ERR?"), "-213,\"Init ignored\"");
  EXPECT_EQ(sim.Starts(), 1);
}

TEST_F(Ksv7340SimTest, PauseStopAndPlayAgain) {
  LoadThreePoints("2");
  Expect({{"INIT", {}}, {"*TRG", {}}});
  clock.Set(2.7);
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,1,2");
  Expect({{"ABOR", {}}, {"STAT:OPER:COND?", "0"}, {"LIST:SEQ?", "0,1,2"}});
  // Stop: back to the first point, the repetition the poller saw last stays.
  Expect({{"LIST:SEQ:CLE", {}}, {"LIST:SEQ?", "0,0,2"}});
  clock.Set(10);
  Expect({{"INIT", {}}, {"*TRG", {}}, {"LIST:SEQ?", "0,0,1"}, {"STAT:OPER:COND?", "8"}});
  EXPECT_EQ(sim.Starts(), 2);
  // A trigger with nothing armed and INIT with the sequence off are refused.
  Expect({{"*TRG", {}}, {"SYST:ERR?", "-211,\"Trigger ignored\""}});
  Expect({{"LIST:SEQ:STAT OFF", {}},
          {"STAT:OPER:COND?", "0"},
          {"INIT", {}},
          {"SYST:ERR?", "-221,\"Settings conflict\""}});
}

TEST_F(Ksv7340SimTest, EndlessBurstAndTheBurstCountQueries) {
  LoadThreePoints("1");
  Expect({{"LIST:BLOC? 0", "0,0,2,1"},
          {"LIST:SEQ:TERM INF", {}},
          {"LIST:BLOC 0,0,2,INF", {}},
          {"LIST:BLOC? 0", "0,0,2,0"},
          {"TRIG:SOUR IMM", {}},
          {"INIT", {}},
          {"STAT:OPER:COND?", "8"}});
  clock.Set(201);
  EXPECT_EQ(Ask("LIST:SEQ?"), "0,1,101");
  // Back to a finite count while running: it ends after that repetition has passed.
  Expect({{"LIST:SEQ:TERM FIRS", {}}, {"LIST:BLOC 0,0,2,5", {}}, {"STAT:OPER:COND?", "0"}});
  Expect({{"LIST:BLOC 0,0,2,0", {}},
          {"LIST:BLOC 0,3,2,1", {}},
          {"LIST:BLOC 0,0,1000,1", {}},
          {"LIST:BLOC 0,0,2,65536", {}},
          {"LIST:BLOC? 0", "0,0,2,5"}});
  EXPECT_EQ(sim.PendingErrors().size(), 4u);
}

TEST_F(Ksv7340SimTest, RecordsEveryLineReceivedInOrder) {
  std::vector<std::string> heard;
  sim.SetLineListener([&](const std::string& line) { heard.push_back(line); });
  const std::vector<std::string> lines = {";*IDN?", "", "LIST:VOLT 0,1.000;*OPC?", "junk"};
  for (const auto& line : lines) sim.HandleLine(line);
  EXPECT_EQ(sim.ReceivedLines(), lines);
  EXPECT_EQ(heard, lines);
  sim.ClearReceivedLines();
  EXPECT_TRUE(sim.ReceivedLines().empty());
}

}  // namespace
}  // namespace ondrevo::sim
