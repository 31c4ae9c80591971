// The load model on known answers and against a step-by-step integration, the simulated meter
// and family C's measurement queries reading through it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "document/Numbers.h"
#include "sim/Ksv7340Sim.h"
#include "sim/Load.h"
#include "sim/Meter.h"

namespace ondrevo::sim {
namespace {

TEST(Load, ParsesResistanceAndCapacitanceWithUnitsAndRefusesNonsense) {
  EXPECT_EQ(ParseLoad("10ohm").Resistance, 10);
  EXPECT_EQ(ParseLoad("10ohm").Capacitance, 0);
  const TLoad a = ParseLoad("2.5kOhm,100uF");
  EXPECT_DOUBLE_EQ(a.Resistance, 2500);
  EXPECT_DOUBLE_EQ(a.Capacitance, 100e-6);
  const TLoad b = ParseLoad("10,4.7mF");
  EXPECT_DOUBLE_EQ(b.Resistance, 10);
  EXPECT_DOUBLE_EQ(b.Capacitance, 4.7e-3);
  for (const char* bad : {"", "0ohm", "-5ohm", "tenohm", "10ohm,-1uF", "10ohm,xF", "nanohm"})
    EXPECT_THROW(ParseLoad(bad), std::invalid_argument) << bad;
}

TEST(Load, ConstantVoltageConstantCurrentAndTheRcLag) {
  const TLoad r10{10, 0};
  std::vector<TOutputChange> c = {{0.0, 0, {5, 1, true}},
                                  {1.0, 0, {20, 1, true}},
                                  {2.0, 0, {20, 1, false}},
                                  {0.5, 1, {9, 9, true}}};
  TLoadReading x = LoadAt(c, 0, 0.5, r10);  // 5 V into 10 ohm: 0.5 A, below the limit
  EXPECT_DOUBLE_EQ(x.Voltage, 5);
  EXPECT_DOUBLE_EQ(x.Current, 0.5);
  EXPECT_FALSE(x.Limited);
  x = LoadAt(c, 0, 1.5, r10);  // 20 V would draw 2 A: held at 1 A, 10 V
  EXPECT_DOUBLE_EQ(x.Voltage, 10);
  EXPECT_DOUBLE_EQ(x.Current, 1);
  EXPECT_TRUE(x.Limited);
  x = LoadAt(c, 0, 2.5, r10);
  EXPECT_EQ(x.Voltage, 0);
  EXPECT_FALSE(x.On);
  EXPECT_EQ(LoadAt(c, 0, -1, r10).Voltage, 0);     // before anything was noted
  EXPECT_EQ(LoadAt(c, 0, 1, TLoad{}).Voltage, 0);  // no load, nothing to read

  // 10 ohm, 100 uF: tau = 1 ms.
  const TLoad rc{10, 100e-6};
  const double tau = 1e-3;
  c = {{1.0, 0, {5, 1, true}}, {2.0, 0, {2, 1, true}}, {3.0, 0, {2, 1, false}}};
  EXPECT_NEAR(LoadAt(c, 0, 1 + tau, rc).Voltage, 5 * (1 - std::exp(-1.0)), 1e-9);
  EXPECT_NEAR(LoadAt(c, 0, 1 + tau, rc).Current, 0.5, 1e-12);
  EXPECT_NEAR(LoadAt(c, 0, 2 + 2 * tau, rc).Voltage, 2 + 3 * std::exp(-2.0), 1e-9);
  EXPECT_NEAR(LoadAt(c, 0, 3 + tau, rc).Voltage, 2 * std::exp(-1.0), 1e-9);
  EXPECT_EQ(LoadAt(c, 0, 3 + tau, rc).Current, 0);
}

// Random set-points, limits and switching against C dv/dt = i - v / R integrated in small steps,
// with i what the supply delivers: the target over R while on, else nothing.
TEST(Load, RandomRecordsFollowTheIntegratedCircuit) {
  std::mt19937 random(2112);
  for (int run = 0; run < 20; ++run) {
    const TLoad load{std::uniform_real_distribution<double>(1, 50)(random),
                     std::uniform_real_distribution<double>(1e-5, 1e-3)(random)};
    std::vector<TOutputChange> changes;
    double t = 0;
    for (int k = 0; k < 12; ++k) {
      t += std::uniform_real_distribution<double>(0.001, 0.05)(random);
      changes.push_back({t,
                         0,
                         {std::uniform_real_distribution<double>(0, 30)(random),
                          std::uniform_real_distribution<double>(0, 2)(random),
                          std::bernoulli_distribution(0.8)(random)}});
    }
    const double dt = 1e-6;
    double v = 0, now = 0;
    std::size_t next = 0;
    TOutputState state;
    for (int probe = 0; probe < 10; ++probe) {
      const double until = std::uniform_real_distribution<double>(now, t + 0.05)(random);
      while (now < until) {
        while (next < changes.size() && changes[next].Time <= now) state = changes[next++].State;
        const double target =
            state.On ? std::min(state.Voltage, state.CurrentLimit * load.Resistance) : 0.0;
        const double i = target / load.Resistance;
        const double step = std::min(dt, until - now);
        v += step * (i - v / load.Resistance) / load.Capacitance;
        now += step;
      }
      EXPECT_NEAR(LoadAt(changes, 0, now, load).Voltage, v, 1e-3 * (1 + std::fabs(v)))
          << "run " << run << " at " << now;
    }
  }
}

TEST(SimMeter, ReadsTheWiredSupplyThroughItsLoadWithSeededNoise) {
  TManualClock clock;
  auto supply = std::make_shared<TKsv7340Sim>("KSV 7342-80", "1", clock.Function());
  supply->SetLoad({10, 0});
  supply->Output().Note(0.0, 0, {20, 1, true});
  TSimMeter meter(supply, 0, clock.Function());
  clock.Set(0.5);
  EXPECT_EQ(meter.HandleLine("*IDN?"), "SIMLAB,DMM-100,881001,1.00");
  EXPECT_EQ(meter.HandleLine("MEAS:VOLT:DC?"), "10");
  EXPECT_EQ(meter.HandleLine("measure:current:dc?"), "1");
  EXPECT_EQ(meter.HandleLine("MEAS:VOLT:DC?;MEAS:CURR:DC?"), "10;1");
  EXPECT_EQ(meter.HandleLine("FOO"), std::nullopt);
  EXPECT_EQ(meter.HandleLine("SYST:ERR?"), "-113,\"Undefined header\"");
  EXPECT_EQ(meter.HandleLine("SYST:ERR?"), "0,\"No error\"");

  // The supply answers its own measurement queries from the same model.
  EXPECT_EQ(supply->HandleLine("MEAS:VOLT?"), "10.000");
  EXPECT_EQ(supply->HandleLine("MEAS:CURR?"), "1.000");

  TMeterNoise noise = ParseNoise("0.01V,0.001A");
  EXPECT_EQ(noise.Voltage, 0.01);
  EXPECT_EQ(noise.Current, 0.001);
  EXPECT_THROW(ParseNoise("0.01X"), std::invalid_argument);
  noise.Seed = 7;
  TSimMeter a(supply, 0, clock.Function(), noise), b(supply, 0, clock.Function(), noise);
  double sum = 0;
  const int n = 400;
  for (int k = 0; k < n; ++k) {
    const auto x = a.HandleLine("MEAS:VOLT:DC?");
    EXPECT_EQ(x, b.HandleLine("MEAS:VOLT:DC?"));  // the same seed, the same readings
    sum += ParseNumber(*x);
  }
  EXPECT_NEAR(sum / n, 10, 4 * 0.01 / std::sqrt(n));
}

}  // namespace
}  // namespace ondrevo::sim
