// The family-A core: modes, saved settings, the point memory and the trigger input.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sim/Ksv5200Sim.h"

namespace ondrevo::sim {
namespace {

using Transcript = std::vector<std::pair<std::string, std::optional<std::string>>>;

class Ksv5200SimTest : public ::testing::Test {
 protected:
  TManualClock clock;
  TKsv5200Sim sim{"KSV 5206-40", "31", clock.Function()};

  void Expect(const Transcript& transcript) {
    for (const auto& [line, reply] : transcript) {
      SCOPED_TRACE(line);
      EXPECT_EQ(sim.HandleLine(line), reply);
    }
  }
  std::string Ask(const std::string& line) { return sim.HandleLine(line).value_or("<none>"); }
  // Three points of 0.5 s each: one repetition takes 1.5 s.
  void LoadThreePoints() {
    Expect(
        {{"F 3", {}},
         {"FAS 0", {}},
         {"FAE 0", {}},
         {"FDS 0,1.000,2.000,0.5000;FDS 1,3.000,4.000,0.5000;FDS 2,5.000,6.000,0.5000;*OPC?", "1"},
         {"FAE 2", {}},
         {"FAE 2", {}},
         {"FCL", {}},
         {"ERR?", "0"}});
  }
};

TEST_F(Ksv5200SimTest, ModelTableAndSavedSettings) {
  EXPECT_EQ(sim.MaxVoltage(), 40);
  EXPECT_EQ(sim.MaxCurrent(), 40);
  EXPECT_EQ(TKsv5200Sim("KSV5213-100", "1", clock.Function()).MaxCurrent(), 52);
  EXPECT_EQ(CreateSimInstrument("KSV 5201-16", "1", clock.Function())->Model(), "KSV 5201-16");
  // The driver's connect in mode 1 with no analog wiring.
  Expect({{"V 5.000;C 1.000", {}},
          {";SYST:REM", {}},
          {";SYST:LANG COMP", {}},
          {"ERR?", "0"},
          {"*CLS", {}},
          {"F?", "1"},
          {"*LRN?", "F 1;V 5.000;C 1.000;FB 1;ETR 0;EX 0"},
          {"F 3", {}},
          {"FB?", "1"},
          {"ERR?", "0"}});
  // The saved settings the driver sends back: through mode 3 to the old mode.
  Expect({{"V 7.000", {}}, {"F 3;V 5.000;C 1.000;FB 1;ETR 0;EX 0;F 1;*OPC?", "1"}});
  EXPECT_EQ(sim.Mode(), 1);
  EXPECT_EQ(sim.SetValues(), std::make_pair(5.0, 1.0));
}

TEST_F(Ksv5200SimTest, PlaysTheMemoryInModeThreeOnly) {
  Expect({{"FS", {}}, {"ERR?", std::to_string(TKsv5200Sim::ModeError)}});
  LoadThreePoints();
  EXPECT_EQ(sim.Point(2).Current, 6);
  Expect({{"FB 2", {}}, {"ETR 0", {}}, {"EX 1", {}}, {"FS", {}}, {"FAF?", "0"}});
  EXPECT_TRUE(sim.Busy());
  clock.Set(1.2);
  EXPECT_EQ(Ask("FAF?"), "2");
  clock.Set(1.6);
  EXPECT_EQ(Ask("FAF?"), "0");
  clock.Set(3.0);
  EXPECT_FALSE(sim.Busy());
  EXPECT_EQ(Ask("FAF?"), "2");
}

TEST_F(Ksv5200SimTest, TriggerInputStartsEachBurstAndRearms) {
  LoadThreePoints();
  Expect({{"FB 1", {}}, {"ETR 1", {}}, {"FS", {}}});
  EXPECT_TRUE(sim.Busy());
  EXPECT_FALSE(sim.Running());
  clock.Set(5);
  sim.Trigger();
  EXPECT_TRUE(sim.Running());
  clock.Set(5.7);
  EXPECT_EQ(Ask("FAF?"), "1");
  clock.Set(6.6);  // the burst is over: armed again at the start address, still busy
  EXPECT_FALSE(sim.Running());
  EXPECT_TRUE(sim.Busy());
  EXPECT_EQ(Ask("FAF?"), "0");
  sim.Trigger();
  EXPECT_EQ(sim.Triggers(), 2);
  Expect({{"FP", {}}});
  EXPECT_FALSE(sim.Busy());
  sim.Trigger();  // nothing armed: ignored
  EXPECT_EQ(sim.Triggers(), 2);
}

TEST_F(Ksv5200SimTest, RejectsPointsOutsideTheInstrument) {
  Expect({{"FDS 1000,1.000,1.000,0.0010", {}},
          {"FDS 0,40.001,1.000,0.0010", {}},
          {"FDS 0,1.000,1.000,0.0001", {}},
          {"FDS 0,1.000,1.000", {}},
          {"FB 256", {}}});
  EXPECT_EQ(sim.Point(0).Voltage, 0);
  EXPECT_EQ(
      sim.PendingErrors(),
      (std::deque<int>{TKsv5200Sim::RangeError, TKsv5200Sim::RangeError, TKsv5200Sim::RangeError,
                       TKsv5200Sim::ParameterError, TKsv5200Sim::RangeError}));
}

// The record: each point at the instant it begins, a pause that holds, a stop that must halt
// before it clears, and a start that precedes the output's switch-on.
TEST_F(Ksv5200SimTest, OutputFollowsPointsPausesAndStops) {
  LoadThreePoints();
  Expect({{"V 9.000;C 8.000", {}}, {"FB 0", {}}, {"ETR 0", {}}});
  sim.Output().Clear();
  Expect({{"FS", {}}});
  clock.Set(0.2);
  Expect({{"EX 1", {}}});  // the list has run behind an open output so far
  clock.Set(1.7);
  Expect({{"FCL", {}}});  // ignored: the list plays on
  EXPECT_TRUE(sim.Running());
  clock.Set(1.8);
  Expect({{"FP", {}}, {"FAF?", "0"}});
  clock.Set(9.0);
  Expect({{"FS", {}}});  // on with the rest of point 0: 0.2 s
  clock.Set(9.25);
  Expect({{"FP", {}}, {"FCL", {}}, {"FAF?", "0"}});
  clock.Set(20);
  sim.SettleOutput();
  std::vector<std::tuple<double, double, bool>> seen;
  for (const auto& c : sim.Output().Changes())
    seen.emplace_back(c.Time, c.State.Voltage, c.State.On);
  EXPECT_EQ(seen, (std::vector<std::tuple<double, double, bool>>{{0, 1, false},
                                                                  {0.2, 1, true},
                                                                  {0.5, 3, true},
                                                                  {1.0, 5, true},
                                                                  {1.5, 1, true},
                                                                  {9.2, 3, true},
                                                                  {9.25, 9, true}}));
  EXPECT_EQ(sim.Warnings(), std::vector<std::string>{"FCL: ignored while a list plays"});
}

TEST_F(Ksv5200SimTest, TriggeredRunsReturnToTheSetValuesAndWarnOfIgnoredEdges) {
  LoadThreePoints();
  sim.Trigger();  // the input is off
  Expect({{"V 7.000;C 1.000;EX 1", {}}, {"FB 1", {}}, {"ETR 1", {}}, {"FS", {}}, {"FS", {}}});
  sim.Output().Clear();
  clock.Set(2);
  sim.Trigger();
  clock.Set(4);
  sim.SettleOutput();
  const auto changes = sim.Output().Changes();
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0].Time, 2);
  EXPECT_EQ(changes[3].Time, 3.5);
  EXPECT_EQ(changes[3].State.Voltage, 7);
  EXPECT_TRUE(sim.Busy());  // armed again
  Expect({{"FP", {}}, {"FP", {}}});
  EXPECT_EQ(sim.Warnings(),
            (std::vector<std::string>{"trigger: the trigger input is off (ETR 0)",
                                      "FS: the run is armed already", "FP: nothing plays"}));
}

}  // namespace
}  // namespace ondrevo::sim
