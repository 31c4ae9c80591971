// The card stand-in as the program meets it: the values of the C reference it takes, the errors
// it returns for others, and the recording of what its outputs play.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "daq/DaqMxLibrary.h"
#include "daq/DaqSim.h"

namespace ondrevo {
namespace {

using test::DaqSim;
using Lib = TDaqMxLibrary;

class DaqStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.Configure(
        "Dev1 PCIe-6361 ao=2 maxrate=4000\n"
        "Dev2 USB-6001 ao=1 maxrate=4000 ranges=-5,5\n");
    sim.SetSpeed(1.0);
    lib = TDaqMxLibrary::Load();
    ASSERT_EQ(lib->CreateTask("", &task), 0);
  }
  void TearDown() override {
    lib->ClearTask(task);
    sim.SetRecordFolder("");
    EXPECT_EQ(sim.OpenTasks(), 0);
  }
  std::string Error(Lib::int32 status) { return lib->ErrorText(status); }

  DaqSim& sim = DaqSim::Get();
  std::shared_ptr<TDaqMxLibrary> lib;
  TDaqTaskHandle task = nullptr;
};

TEST_F(DaqStandIn, OutputChannelsTakeVoltsWithinTheCardsRange) {
  EXPECT_EQ(lib->CreateAOVoltageChan(task, "Dev1/ao0", "", -10, 10, Lib::Val_Volts, nullptr), 0);
  EXPECT_EQ(lib->CreateAOVoltageChan(task, "Dev1/ao1", "", 0, 5, Lib::Val_Volts, nullptr), 0)
      << "a range within the card's";
  TDaqTaskHandle other = nullptr;
  ASSERT_EQ(lib->CreateTask("", &other), 0);
  struct Case {
    const char* channel;
    double min, max;
    Lib::int32 units;
    const char* property;
  } refused[] = {
      {"Dev1/ao0", -10, 10, 10065, "DAQmx_AO_Voltage_Units"},  // from a custom scale
      {"Dev1/ao0", -10, 10, 10280, "DAQmx_AO_Voltage_Units"},  // an edge is no unit
      {"Dev1/ao0", -10.5, 10, Lib::Val_Volts, "DAQmx_AO_Min"},
      {"Dev1/ao0", -10, 12, Lib::Val_Volts, "DAQmx_AO_Max"},
      {"Dev1/ao0", 10, -10, Lib::Val_Volts, "DAQmx_AO_Min"},  // the wrong way round
      {"Dev2/ao0", -10, 10, Lib::Val_Volts, "DAQmx_AO_Min"},  // a ±5 V card
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(std::string(c.channel) + " " + std::to_string(c.min) + " .. " +
                 std::to_string(c.max) + " units " + std::to_string(c.units));
    const Lib::int32 status =
        lib->CreateAOVoltageChan(other, c.channel, "", c.min, c.max, c.units, nullptr);
    EXPECT_EQ(status, -200077);
    EXPECT_NE(Error(status).find(c.property), std::string::npos) << Error(status);
  }
  lib->ClearTask(other);
}

TEST_F(DaqStandIn, TimingTriggerWritesAndRoutesTakeTheReferenceValuesOnly) {
  ASSERT_EQ(lib->CreateAOVoltageChan(task, "Dev1/ao0", "", -10, 10, Lib::Val_Volts, nullptr), 0);
  EXPECT_EQ(lib->CfgSampClkTiming(task, "", 1000, 0, Lib::Val_ContSamps, 1000), -200077)
      << "edge 0";
  EXPECT_EQ(lib->CfgSampClkTiming(task, "", 1000, Lib::Val_Rising, 10178, 1000), -200077)
      << "finite generation";
  EXPECT_EQ(lib->CfgSampClkTiming(task, "", 1000, Lib::Val_Falling, Lib::Val_ContSamps, 1000), 0);
  EXPECT_EQ(lib->CfgDigEdgeStartTrig(task, "/Dev1/PFI0", 1), -200077);
  EXPECT_EQ(lib->CfgDigEdgeStartTrig(task, "/Dev1/PFI0", Lib::Val_Falling), 0);
  const double two[] = {1, 2};
  Lib::int32 written = 0;
  EXPECT_EQ(lib->WriteAnalogF64(task, 2, 0, 1.0, 2, two, &written, nullptr), -200077) << "layout 2";
  EXPECT_EQ(lib->ConnectTerms("/Dev1/ChangeDetectionEvent", "/Dev1/PFI1", 7), -200077);
  TDaqTaskHandle di = nullptr;
  ASSERT_EQ(lib->CreateTask("", &di), 0);
  EXPECT_EQ(lib->CreateDIChan(di, "Dev1/port0/line0", "", 2), -200077);
  EXPECT_EQ(lib->CreateDIChan(di, "Dev1/port0/line0", "", Lib::Val_ChanPerLine), 0);
  EXPECT_EQ(lib->CfgChangeDetectionTiming(di, "Dev1/port0/line0", "", 10178, 1), -200077);
  EXPECT_EQ(lib->CfgChangeDetectionTiming(di, "Dev1/port0/line0", "", Lib::Val_ContSamps, 1), 0);
  lib->ClearTask(di);
}

std::vector<std::vector<std::string>> ReadCsv(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1)
      fields.push_back(line.substr(from, comma - from));
    fields.push_back(line.substr(from));
    rows.push_back(fields);
  }
  return rows;
}

// Every change once, on the card's sample clock, interleaved writes read per scan; a stopped
// task leaves its value undriven.
TEST_F(DaqStandIn, RecordsEachChangeOnTheSampleClock) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("ondrevo-daq-record-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  sim.SetRecordFolder(folder.c_str());
  ASSERT_EQ(lib->CreateAOVoltageChan(task, "Dev1/ao0", "", -10, 10, Lib::Val_Volts, nullptr), 0);
  ASSERT_EQ(lib->CreateAOVoltageChan(task, "Dev1/ao1", "", -10, 10, Lib::Val_Volts, nullptr), 0);
  ASSERT_EQ(lib->CfgSampClkTiming(task, "", 1000, Lib::Val_Rising, Lib::Val_ContSamps, 6), 0);
  // Scans of (ao0, ao1).
  const double scans[] = {1, -1, 1, -1, 2, -1, 2, -1.5, 3, -1.5, 3, -1.5};
  Lib::int32 written = 0;
  ASSERT_EQ(lib->WriteAnalogF64(task, 6, 1, 1.0, 1, scans, &written, nullptr), 0);
  Lib::uInt64 generated = 0;
  while (generated < 6) {
    ASSERT_EQ(lib->GetWriteTotalSampPerChanGenerated(task, &generated), 0);
    std::this_thread::yield();
  }
  ASSERT_EQ(lib->StopTask(task), 0);

  const auto ao0 = ReadCsv(folder / "Dev1-Dev1_ao0.csv");
  const auto ao1 = ReadCsv(folder / "Dev1-Dev1_ao1.csv");
  ASSERT_EQ(ao0.size(), 5u);  // header, 1, 2, 3, released
  ASSERT_EQ(ao1.size(), 4u);  // header, -1, -1.5, released
  const std::vector<std::string> header{"time_s", "channel", "voltage_V", "current_limit_A",
                                        "output"};
  EXPECT_EQ(ao0[0], header);
  const double t0 = std::stod(ao0[1][0]);
  const struct {
    const std::vector<std::vector<std::string>>& rows;
    std::size_t row;
    double dt;
    const char *channel, *volts, *on;
  } expected[] = {{ao0, 1, 0.000, "0", "1", "1"},
                  {ao0, 2, 0.002, "0", "2", "1"},
                  {ao0, 3, 0.004, "0", "3", "1"},
                  {ao1, 1, 0.000, "1", "-1", "1"},
                  {ao1, 2, 0.003, "1", "-1.5", "1"}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.row);
    EXPECT_NEAR(std::stod(e.rows[e.row][0]) - t0, e.dt, 1e-9);
    EXPECT_EQ(e.rows[e.row][1], e.channel);
    EXPECT_EQ(e.rows[e.row][2], e.volts);
    EXPECT_EQ(e.rows[e.row][3], "0");
    EXPECT_EQ(e.rows[e.row][4], e.on);
  }
  // Stopped: the value stays, no task drives it.
  EXPECT_EQ(ao0[4][2], "3");
  EXPECT_EQ(ao0[4][4], "0");
  EXPECT_GE(std::stod(ao0[4][0]) - t0, 0.004);
  EXPECT_EQ(ao1[3][2], "-1.5");
  EXPECT_EQ(ao1[3][4], "0");
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace ondrevo
