// The family-B core on transcripts of the driver's sequences.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/Ksv6140Sim.h"

namespace ondrevo::sim {
namespace {

using Transcript = std::vector<std::pair<std::string, std::optional<std::string>>>;

class Ksv6140SimTest : public ::testing::Test {
 protected:
  TManualClock clock;
  TKsv6140Sim sim{"KSV 6142-40", "777", clock.Function()};

  void Expect(const Transcript& transcript) {
    for (const auto& [line, reply] : transcript) {
      SCOPED_TRACE(line);
      EXPECT_EQ(sim.HandleLine(line), reply);
    }
  }
  std::string Ask(const std::string& line) { return sim.HandleLine(line).value_or("<none>"); }
};

TEST_F(Ksv6140SimTest, ModelRowsAreMatchedLongestFirst) {
  EXPECT_EQ(Ask(";*IDN?"), "KESTRAVO,KSV6142-40,777,2.10");
  EXPECT_EQ(sim.MaxCurrent(), 100);
  TKsv6140Sim big("KSV 6141-400", "1", clock.Function());
  EXPECT_EQ(big.MaxVoltage(), 400);
  EXPECT_EQ(big.MaxCurrent(), 5);
  auto made = CreateSimInstrument("KSV6141-40", "2", clock.Function());
  EXPECT_EQ(made->Model(), "KSV 6141-40");
  EXPECT_EQ(dynamic_cast<TKsv6140Sim&>(*made).MaxVoltage(), 40);
}

TEST_F(Ksv6140SimTest, ConnectSavesSettingsThatReadBackOnDisconnect) {
  Expect({{"V 12.000;C 3.500;EX 1", {}}});
  Expect({{";SYST:REM", {}},
          {";SYST:LANG COMP", {}},
          {"OCR?", "0"},
          {";*CLS", {}},
          {"SYST:LANG COMP", {}},
          {"FSEQ?", "0"},
          {"*LRN?", "V 12.000;C 3.500;FREP 1;FSEQ OFF;EX 1"},
          {"V? MAX", "40.000"},
          {"V? MIN", "0.000"},
          {"C? MAX", "100.000"},
          {"C? MIN", "0.000"},
          {"V 0;C 0;FSEQ ON", {}},
          {"ERR?", "0"}});
  EXPECT_TRUE(sim.SequenceMode());
  EXPECT_EQ(sim.SetValues(), std::make_pair(0.0, 0.0));
  Expect({{"EX 0", {}},
          {"V 12.000;C 3.500;FREP 1;FSEQ OFF;EX 1;*OPC?", "1"},
          {"SYST:LOC", {}},
          {"ERR?", "0"}});
  EXPECT_EQ(sim.SetValues(), std::make_pair(12.0, 3.5));
  EXPECT_FALSE(sim.SequenceMode());
  EXPECT_TRUE(sim.OutputOn());
  EXPECT_FALSE(sim.Remote());
}

TEST_F(Ksv6140SimTest, TwoPointUploadAndPlaybackWithAddresses) {
  Expect({{"FAS 0", {}},
          {"FREG 1.000,2.000,0.5000;FSTO 1;FREG 3.000,4.000,1.5000;FSTO 2;*OPC?", "1"},
          {"FAE 2;FAF 1;FAL 1", {}},
          {"FCL", {}},
          {"ERR?", "0"},
          {"FREP 2", {}},
          {"ERR?", "0"},
          {"FREP?", "2"}});
  EXPECT_EQ(sim.Register(2).Voltage, 3);
  EXPECT_EQ(sim.Register(2).Dwell, 1.5);
  Expect({{"FSEQ ON", {}}, {"EX 1", {}}, {"FS", {}}, {"FADR?", "1"}, {"OCR?", "16384"}});
  clock.Set(0.6);
  EXPECT_EQ(Ask("FADR?"), "2");
  clock.Set(2.1);  // second repetition: the address falls back
  EXPECT_EQ(Ask("FADR?;OCR?"), "1;16384");
  clock.Set(4.0);
  EXPECT_EQ(Ask("OCR?"), "0");
  EXPECT_EQ(Ask("FADR?"), "2");
  // Pause and stop end the run; FCL rewinds.
  Expect({{"FS", {}}, {"FP", {}}, {"OCR?", "0"}, {"FCL", {}}, {"FADR?", "1"}});
}

// Sequence mode, the stepping and end flags and location 0 each change what the output does.
TEST_F(Ksv6140SimTest, FlagsDecideWhatTheOutputDoes) {
  Expect({{"FAS 0", {}},
          {"FREG 1.000,2.000,0.5000;FSTO 1;FREG 3.000,4.000,1.5000;FSTO 2;*OPC?", "1"},
          {"FSTO 0", {}},
          {"FAE 2", {}},
          {"V 6.000;C 5.000;EX 1", {}},
          {"FS", {}},
          {"ERR?", std::to_string(TKsv6140Sim::RangeError)},
          {"ERR?", std::to_string(TKsv6140Sim::SequenceError)}});
  auto last = [&] {
    sim.SettleOutput();
    const auto s = sim.Output().Last(0);
    return std::make_pair(s.Voltage, s.CurrentLimit);
  };
  // FAF 0: each start steps to the next location and holds it.
  Expect({{"FSEQ ON", {}}, {"FS", {}}});
  EXPECT_EQ(last(), std::make_pair(1.0, 2.0));
  clock.Set(10);
  EXPECT_EQ(Ask("FS;FADR?;OCR?"), "2;0");
  EXPECT_EQ(last(), std::make_pair(3.0, 4.0));
  // FAF 1, FAL 0: played through, the last location stays on the output until FCL.
  Expect({{"FCL", {}}, {"FAF 1", {}}, {"FS", {}}});
  clock.Set(12.1);
  EXPECT_EQ(last(), std::make_pair(3.0, 4.0));
  EXPECT_FALSE(sim.Running());
  Expect({{"FCL", {}}});
  EXPECT_EQ(last(), std::make_pair(6.0, 5.0));
  // FAL 1: back at the set values when the last repetition ends.
  Expect({{"FAL 1;FS", {}}});
  clock.Set(14.1);
  EXPECT_EQ(last(), std::make_pair(6.0, 5.0));
  EXPECT_EQ(sim.Output().Changes().back().Time, 12.1 + 2.0);
  // FSEQ OFF ends a sequence in force.
  Expect({{"FS", {}}});
  EXPECT_EQ(last(), std::make_pair(1.0, 2.0));
  Expect({{"FSEQ OFF", {}}, {"OCR?", "0"}, {"FAF 2", {}}, {"ERR?", "3"}});
  EXPECT_EQ(last(), std::make_pair(6.0, 5.0));
  sim.Trigger();
  EXPECT_EQ(sim.Warnings(),
            (std::vector<std::string>{"FAS 0: there is no location 0; the address is location 1",
                                      "FS: refused outside sequence mode (FSEQ OFF)",
                                      "trigger: the instrument has no trigger input"}));
}

TEST_F(Ksv6140SimTest, RejectsWhatTheInstrumentCannotHold) {
  Expect({{"FREG 41.000,1.000,0.0500;FSTO 1", {}},  // the store takes the old buffer
          {"FREG 1.000,1.000,0.0400", {}},
          {"FSTO 256", {}},
          {"FREP 256", {}},
          {"FAE 0;FS", {}},
          {"V 1,5", {}},
          {"BOGUS", {}},
          {"FREG 1.000,1.000,0.0500;*OPC?" + std::string(230, ' '), {}}});
  EXPECT_EQ(sim.Register(1).Voltage, 0);
  EXPECT_FALSE(sim.Running());
  EXPECT_EQ(sim.PendingErrors(),
            (std::deque<int>{TKsv6140Sim::RangeError, TKsv6140Sim::RangeError,
                             TKsv6140Sim::RangeError, TKsv6140Sim::RangeError,
                             TKsv6140Sim::SequenceError, TKsv6140Sim::ParameterError,
                             TKsv6140Sim::CommandError, TKsv6140Sim::LineTooLong}));
}

}  // namespace
}  // namespace ondrevo::sim

namespace ondrevo::sim {
namespace {

// The fault for a stop that is never confirmed: FP and FCL are taken (and logged) but the run
// goes on; without the fault the same lines end it.
TEST_F(Ksv6140SimTest, IgnoredStopKeepsTheRunGoing) {
  Expect({{"FAS 0", {}},
          {"FREG 1.000,2.000,0.5000;FSTO 1;*OPC?", "1"},
          {"FAE 1;FAF 1;FAL 1", {}},
          {"FREP 0", {}},
          {"FSEQ ON", {}},
          {"EX 1", {}},
          {"FS", {}}});
  sim.SetStopIgnored(true);
  Expect({{"FP", {}}, {"FCL", {}}, {"OCR?", "16384"}});
  EXPECT_TRUE(sim.Running());
  EXPECT_EQ(sim.ReceivedLines().back(), "OCR?");
  sim.SetStopIgnored(false);
  Expect({{"FP", {}}, {"OCR?", "0"}});
}

}  // namespace
}  // namespace ondrevo::sim
