// The card device and its scanner over the simulated library: what they read from the library.
#include <gtest/gtest.h>

#include "daq/DaqMxDevice.h"
#include "daq/DaqSim.h"
#include "devices/DeviceErrors.h"

namespace ondrevo {
namespace {

using test::DaqSim;

constexpr const char* kCards =
    "Dev1 PCIe-6361 serial=1A2B3C ao=2 maxrate=2000000 minrate=0.5 ranges=-10,10,-5,5\n"
    "# an E-series card has no change-detection trigger\n"
    "Dev2 PCI-6024E serial=5 ao=2 maxrate=10000 ranges=-10,10\n"
    "Dev3 DAQCard-6024E serial=abc ao=2 maxrate=10000 ranges=0,5\n";

class DaqDevice : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sim.Configure(kCards), 0); }
  DaqSim& sim = DaqSim::Get();
};

TEST_F(DaqDevice, ScannerListsEveryCardWithItsProductAndSerial) {
  TDaqInterface scanner;
  TInterfaceList buses;
  scanner.GetInterfaces(buses);
  ASSERT_EQ(buses.size(), 1u);
  EXPECT_EQ(buses[0]->Name, "NI-DAQmx");
  TDeviceList cards;
  scanner.GetDevices(cards);
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_EQ(cards[0]->GetModel(), "PCIe-6361");
  EXPECT_EQ(cards[0]->GetSerialNumber(), "1A2B3C");
  EXPECT_EQ(cards[1]->GetSerialNumber(), "005") << "at least three hexadecimal digits";
  EXPECT_EQ(cards[2]->GetSerialNumber(), "ABC");
  sim.RemoveCard("Dev2");
  scanner.GetDevices(cards);
  EXPECT_EQ(cards.size(), 2u);
  sim.Configure("");
  scanner.GetDevices(cards);
  EXPECT_TRUE(cards.empty());
}

TEST_F(DaqDevice, CardCapabilitiesFromTheLibrary) {
  auto card = std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1A2B3C");
  EXPECT_EQ(card->GetOutputChannels(), (std::vector<std::string>{"Dev1/ao0", "Dev1/ao1"}));
  EXPECT_EQ(card->GetConnectedInputs().size(), 2u);
  EXPECT_DOUBLE_EQ(card->GetMinDwellTime(), 1.0 / 2000000);
  EXPECT_DOUBLE_EQ(card->GetMaxDwellTime(), 2.0);
  EXPECT_EQ(card->GetMaxPoints(), 2000000);
  EXPECT_EQ(card->GetMaxBurstCount(), 1000000);
  EXPECT_EQ(card->GetMinVoltage(), -10.0);
  EXPECT_EQ(card->GetMaxCurrent(), 10.0);
  EXPECT_FALSE(card->IsUnsupported());
  EXPECT_TRUE(card->IsExternalTriggerAvailable());
  ASSERT_EQ(card->GetTriggerChannelCount(), 8);
  std::string name;
  card->GetTriggerChannelName(7, name);
  EXPECT_EQ(name, "Dev1/port0/line7");
  EXPECT_EQ(card->GetTriggerLine(), "Dev1/port0/line0");
  TTriggerTypes types;
  card->GetTriggerTypes(types);
  EXPECT_EQ(types.size(), 2u);
  EXPECT_EQ(card->GetBurstCount(), 1) << "1 without an upload";
  EXPECT_FALSE(card->IsOutputEnabled(0)) << "nothing wired";
  EXPECT_FALSE(card->IsOutputEnabled(5));
  card->SetOutputFlag(true, 1);
  EXPECT_TRUE(card->GetOutputFlag(1));
  EXPECT_FALSE(card->GetOutputFlag(0));
  EXPECT_FALSE(card->GetOutputFlag(9));
  try {
    card->Pause();
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Not implemented");
  }
  EXPECT_THROW(card->CancelUpload(), std::runtime_error);
  double v, i;
  EXPECT_THROW(card->GetValues(v, i), std::runtime_error);
  EXPECT_THROW(card->Upload(nullptr, nullptr, false), EConnectionError) << "not connected";
}

// The trigger needs a port0 line to watch: terminals alone offer none, so such a card plays
// without one rather than refusing every Play for want of a line.
TEST_F(DaqDevice, TerminalsWithoutPort0LinesOfferNoTrigger) {
  ASSERT_EQ(sim.Configure("Dev1 PCIe-6361 serial=0x1 ao=2 dilines=0 pfi=8"), 0);
  auto card = std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1");
  EXPECT_FALSE(card->IsExternalTriggerAvailable());
  EXPECT_EQ(card->GetTriggerChannelCount(), 0);
  ASSERT_EQ(sim.Configure("Dev1 PCIe-6361 serial=0x1 ao=2 dilines=8 pfi=0"), 0);
  EXPECT_FALSE(
      std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1")->IsExternalTriggerAvailable());
}

TEST_F(DaqDevice, ECardsHaveNoTriggerAndDaqCardsAreSlower) {
  auto pci = std::make_shared<TDaqMxDevice>("PCI-6024E", "Dev2", "005");
  EXPECT_FALSE(pci->IsExternalTriggerAvailable());
  EXPECT_DOUBLE_EQ(pci->GetMinDwellTime(), 1.0 / 10000);
  auto daqCard = std::make_shared<TDaqMxDevice>("DAQCard-6024E", "Dev3", "ABC");
  EXPECT_FALSE(daqCard->IsExternalTriggerAvailable());
  EXPECT_DOUBLE_EQ(daqCard->GetMinDwellTime(), 0.000005);
  EXPECT_EQ(daqCard->GetMinVoltage(), 0.0) << "0 V is always inside the range";
  EXPECT_EQ(daqCard->GetMaxVoltage(), 5.0);
}

// Whoever shows the stream before it runs reads the same highest rate as the device streams at.
TEST_F(DaqDevice, FirstCardHasTheDevicesHighestStreamRate) {
  for (const char* only : {"Dev1 PCIe-6361 maxrate=2000000", "Dev3 DAQCard-6024E maxrate=10000"}) {
    ASSERT_EQ(sim.Configure(only), 0);
    const auto card = FirstDaqCard();
    ASSERT_TRUE(card) << only;
    auto device = std::make_shared<TDaqMxDevice>(card->ProductType, card->Name, "1");
    EXPECT_DOUBLE_EQ(card->MaxStreamRate, 1.0 / device->GetMinDwellTime()) << only;
  }
  ASSERT_EQ(sim.Configure(""), 0);
  EXPECT_FALSE(FirstDaqCard()) << "no card, no rate";
}

TEST_F(DaqDevice, ConnectAndDisconnectLeaveNoTask) {
  {
    auto card = std::make_shared<TDaqMxDevice>("PCIe-6361", "Dev1", "1A2B3C");
    int connects = 0, disconnects = 0;
    card->SetOnConnect([&](IDevice*) { ++connects; });
    card->SetOnDisconnect([&](IDevice*) { ++disconnects; });
    card->Connect();
    EXPECT_TRUE(card->IsConnected());
    EXPECT_EQ(sim.OpenTasks(), 1);
    card->Disconnect();
    EXPECT_FALSE(card->IsConnected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(disconnects, 1);
    card->Connect();
  }
  EXPECT_EQ(sim.OpenTasks(), 0) << "destroying a connected card clears its task";
}

TEST(DaqLibrary, MissingLibraryMeansNoCardsNotACrash) {
  const char* before = getenv("ONDREVO_DAQMX_LIBRARY");
  std::string saved = before ? before : "";
  setenv("ONDREVO_DAQMX_LIBRARY", "/nonexistent/libnidaqmx.so.1", 1);
  EXPECT_FALSE(TDaqMxLibrary::Available());
  try {
    TDaqInterface scanner;
    FAIL();
  } catch (const ENotInstalledError& e) {
    EXPECT_STREQ(e.what(), "DAQmx-DLL could not be loaded");
  }
  if (before)
    setenv("ONDREVO_DAQMX_LIBRARY", saved.c_str(), 1);
  else
    unsetenv("ONDREVO_DAQMX_LIBRARY");
}

// A library whose DAQmx names all come from a library it depends on is no DAQmx library.
TEST(DaqLibrary, EntryPointsFromADependencyDoNotCount) {
  const char* before = getenv("ONDREVO_DAQMX_LIBRARY");
  const std::string saved = before ? before : "";
  setenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_TEST_VENDOR_FULL, 1);
  EXPECT_TRUE(TDaqMxLibrary::Available()) << "the same names defined by the library itself";
  setenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_TEST_VENDOR_PARTIAL, 1);
  EXPECT_FALSE(TDaqMxLibrary::Available());
  if (before)
    setenv("ONDREVO_DAQMX_LIBRARY", saved.c_str(), 1);
  else
    unsetenv("ONDREVO_DAQMX_LIBRARY");
}

// The trace's summary of a write: count, channels and the range to six digits, never the samples.
TEST(DaqLibrary, WritesAreSummarisedInOneLine) {
  const double one[] = {4.99980199999937, -0.0000123456789, 123456789.0};
  EXPECT_EQ(DescribeDaqWrite(one, 3, 1), "write 3 samples [-0.0000123457 .. 123457000]");
  const double two[] = {1, 2, -3, 4};  // two channels of two samples, one block each
  EXPECT_EQ(DescribeDaqWrite(two, 2, 2), "write 2 samples x 2 channels [-3 .. 4]");
  EXPECT_EQ(DescribeDaqWrite(one, 1, 1), "write 1 sample [4.9998 .. 4.9998]");
  EXPECT_EQ(DescribeDaqWrite(nullptr, 0, 1), "write 0 samples");
  EXPECT_EQ(DescribeDaqChannel("Dev1/ao0", -10, 10), "channel Dev1/ao0, range -10 .. 10 V");
}

TEST(DaqLibrary, ListsAreSplitAtCommasWithoutBlanks) {
  EXPECT_EQ(SplitDaqList("Dev1, Dev2 ,,Dev 3"), (std::vector<std::string>{"Dev1", "Dev2", "Dev3"}));
  EXPECT_TRUE(SplitDaqList("").empty());
}

}  // namespace
}  // namespace ondrevo
