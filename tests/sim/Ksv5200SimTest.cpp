// The family-A core: modes, saved settings, the point memory and the trigger input.
#include <gtest/gtest.h>

#include <optional>
#include <string>
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

}  // namespace
}  // namespace ondrevo::sim
