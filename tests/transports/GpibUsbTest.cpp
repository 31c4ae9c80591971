// The GPIB and USB transports against their stand-in libraries: discovery rules, status bytes,
// the error texts, and the instrument's faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "devices/DeviceErrors.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ListPlayerDevice.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "transports/BusFixtures.h"
#include "transports/Gpib488.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::TScopedEnv;
using Clock = std::chrono::steady_clock;

std::shared_ptr<sim::TSimInstrument> Instrument(const char* model, const char* serial = "1") {
  return sim::CreateSimInstrument(model, serial, sim::MakeScaledClock(20.0));
}

template <typename E, typename F>
std::string Failure(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong kind: ") + e.what();
  }
  return "no exception";
}

TEST(Gpib, WithoutTheLibraryThereIsNoScanner) {
  TScopedEnv env("ONDREVO_GPIB_LIBRARY", "/nonexistent/libgpib-missing.so");
  if (::dlopen("libgpib.so.0", RTLD_NOW | RTLD_NOLOAD) || ::dlopen("libni4882.so", RTLD_NOW))
    GTEST_SKIP() << "a GPIB library is installed";
  EXPECT_EQ(Failure<ENotInstalledError>([] { TGpibInterface scanner(0); }),
            "GPIB-DLL could not be loaded");
}

TEST(Gpib, BoardsAndAddressesDiscoveryLeavesOut) {
  InstallSupplyDrivers();
  TScopedEnv env("ONDREVO_GPIB_LIBRARY", sim::GpibSimLibraryPath());
  sim::TGpibSimHost host;
  host.SetBoard(0, true, 3);   // the board itself answers at address 3
  host.SetBoard(1, false, 0);  // not system controller
  host.Attach(0, 3, Instrument("KSV 7341-20", "33"));
  host.Attach(0, 30, Instrument("KSV 6141-80", "30"));
  host.Attach(0, 7, Instrument("KSV 5206-40", "7"));
  TGpibInterface scanner(0);
  TInterfaceList boards;
  scanner.GetInterfaces(boards);
  ASSERT_EQ(boards.size(), 1u);
  EXPECT_EQ(boards[0]->Name, "GPIB0");
  TDeviceList devices;
  std::dynamic_pointer_cast<IDeviceScanner>(boards[0])->GetDevices(devices);
  ASSERT_EQ(devices.size(), 2u);  // ascending addresses; never the board's own
  EXPECT_EQ(devices[0]->GetName(), "KSV 5206-40, SN 7");
  EXPECT_EQ(devices[1]->GetName(), "KSV 6141-80");
  auto transport = std::dynamic_pointer_cast<TGpibInterface>(
      std::dynamic_pointer_cast<IRemoteControllable>(devices[0])->GetInterface());
  ASSERT_TRUE(transport);
  EXPECT_EQ(transport->PrimaryAddress, 7);
  EXPECT_EQ(transport->Name, "GPIB0");

  TGpibInterface second(1);
  EXPECT_EQ(Failure<EConnectionError>([&] { second.Open(); }),
            "The board GPIB1 is no system controller");
  EXPECT_EQ(second.BoardDescriptor, -1);
  TGpibInterface missing(4);
  EXPECT_EQ(Failure<EConnectionError>([&] { missing.Open(); }),
            "Could not find GPIB controller GPIB4");
  host.RemoveBoard(1);
  host.SetBoard(0, true, 0);
}

TEST(Gpib, StatusByteTimeOutsLateRepliesAndGarbage) {
  TScopedEnv env("ONDREVO_GPIB_LIBRARY", sim::GpibSimLibraryPath());
  sim::TGpibSimHost host;
  host.Attach(0, 9, Instrument("KSV 5206-40"));
  TGpibInterface gpib(0, 9);
  EXPECT_EQ(Failure<EConnectionError>([&] { gpib.Send("*IDN?"); }), "No device connected");
  EXPECT_EQ(Failure<EConnectionError>([&] { gpib.OpenDevice(); }), "Interface not opened");
  gpib.Open();
  gpib.OpenDevice();
  gpib.SetRemote();
  EXPECT_FALSE(gpib.IsBusy());  // bit 7 set: no waveform runs
  gpib.Send("F?");
  EXPECT_EQ(gpib.Receive(1000), "1");

  sim::TSimFaults faults;
  faults.NoReply = true;
  faults.Replies = 1;
  host.At(0, 9).SetFaults(faults);
  gpib.Send("F?");
  const auto start = Clock::now();
  EXPECT_EQ(Failure<ETimeoutError>([&] { gpib.Receive(300); }), "The device timed out");
  EXPECT_GE(Clock::now() - start, 300ms);
  EXPECT_LT(Clock::now() - start, 1000ms);

  faults = {};
  faults.LateReplyMs = 400;
  faults.Replies = 1;
  host.At(0, 9).SetFaults(faults);
  gpib.Send("FB?");
  EXPECT_THROW(gpib.Receive(100), ETimeoutError);
  // The next query gets its own answer, not the late one.
  gpib.Send("F?");
  EXPECT_EQ(gpib.Receive(1000), "1");

  faults = {};
  faults.GarbageBytes = 12;
  faults.Replies = 1;
  host.At(0, 9).SetFaults(faults);
  gpib.Send("F?");
  EXPECT_EQ(gpib.Receive(1000), "ABCDEFGHIJKL");
  gpib.SetLocal();
  gpib.Close();
  EXPECT_EQ(gpib.BoardDescriptor, -1);
  EXPECT_EQ(gpib.DeviceDescriptor, 0);
}

// The stand-in checks the arguments against the C reference's own values, so a wrong constant
// in the transport fails here: the literals below are the reference's.
TEST(Gpib, DeviceAndBoardAreOpenedWithTheReferenceCodes) {
  TScopedEnv env("ONDREVO_GPIB_LIBRARY", sim::GpibSimLibraryPath());
  sim::TGpibSimHost host;
  host.Attach(0, 12, Instrument("KSV 5206-40"));
  // Board 0 has descriptor 0, as in the library the stand-in stands for: found and opened.
  TGpibInterface scanner(0);
  TInterfaceList boards;
  scanner.GetInterfaces(boards);
  ASSERT_FALSE(boards.empty());
  EXPECT_EQ(boards[0]->Name, "GPIB0");
  EXPECT_EQ(std::dynamic_pointer_cast<TGpibInterface>(boards[0])->BoardDescriptor, 0);
  TDeviceList devices;
  std::dynamic_pointer_cast<IDeviceScanner>(boards[0])->GetDevices(devices);
  ASSERT_EQ(devices.size(), 1u);
  auto probed = host.DeviceSettings(0, 12);
  EXPECT_EQ(probed.Timeout, 11);  // T1s
  EXPECT_EQ(probed.Eot, 0);
  EXPECT_EQ(probed.Eos, 0x0A);  // '\n', no end-of-string mode bits
  host.Detach(0, 12);
  host.Attach(0, 13, Instrument("KSV 5206-40"));

  TGpibInterface gpib(0, 13);
  EXPECT_EQ(host.DeviceSettings(0, 13).Timeout, -1);
  gpib.Open();
  EXPECT_EQ(gpib.BoardDescriptor, 0);
  EXPECT_EQ(host.RemoteEnable(0), 1);  // IbcSRE (0x0B) set
  gpib.OpenDevice();
  const auto opened = host.DeviceSettings(0, 13);
  EXPECT_EQ(opened.Timeout, 11);  // T1s
  EXPECT_EQ(opened.Eot, 0);
  EXPECT_EQ(opened.Eos, 0x0A);
  gpib.Send("F?");
  EXPECT_EQ(gpib.Receive(1000), "1");
  gpib.Close();
  EXPECT_EQ(host.RemoteEnable(0), 0);
  EXPECT_EQ(gpib.BoardDescriptor, -1);

  // Codes the reference does not have, or that the stand-in does not model, are refused.
  void* library = ::dlopen(sim::GpibSimLibraryPath().c_str(), RTLD_NOW);
  ASSERT_NE(library, nullptr);
  auto ibdev = reinterpret_cast<gpib::ibdev_t>(::dlsym(library, "ibdev"));
  auto ibconfig = reinterpret_cast<gpib::ibconfig_t>(::dlsym(library, "ibconfig"));
  EXPECT_EQ(ibdev(0, 13, 0, 18, 0, 0x0A), -1);       // time-out codes end at T1000s (17)
  EXPECT_EQ(ibdev(0, 13, 0, 11, 2, 0x0A), -1);       // EOT is 0 or 1
  EXPECT_EQ(ibdev(0, 13, 0, 11, 0, 0x200A), -1);     // no such end-of-string mode bit
  EXPECT_NE(ibconfig(0, 0x000A, 1) & gpib::ERR, 0);  // IbcSC: not modelled
  EXPECT_NE(ibconfig(0, 0x0003, 18) & gpib::ERR, 0);
  EXPECT_EQ(ibconfig(0, 0x000B, 1) & gpib::ERR, 0);  // IbcSRE
  EXPECT_EQ(ibconfig(0, 0x000B, 0) & gpib::ERR, 0);
  ::dlclose(library);
}

TEST(Usb, WithoutMonitorOrLibraryThereIsNoScanner) {
  {
    TScopedEnv env("ONDREVO_USB_LIBRARY", "/nonexistent/libksvdrv-missing.so");
    EXPECT_EQ(Failure<ENotInstalledError>([] { TUsbInterface usb; }),
              "USB driver could not be loaded");
  }
  TScopedEnv env("ONDREVO_USB_LIBRARY", sim::UsbSimLibraryPath());
  // Other tests running in parallel start monitors of their own (the demo does); an attempt
  // during which a foreign monitor ran at either end of a check proves nothing and is repeated.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (UsbMonitorRunning()) {
      std::this_thread::sleep_for(50ms);
      continue;
    }
    const std::string without = Failure<ENotInstalledError>([] { TUsbInterface usb; });
    if (UsbMonitorRunning()) continue;
    std::unique_ptr<TUsbInterface> scanner;
    {
      sim::TUsbMonitorProcess monitor;
      scanner = std::make_unique<TUsbInterface>();
    }
    if (UsbMonitorRunning()) continue;
    TInterfaceList buses;
    scanner->GetInterfaces(buses);  // the monitor has gone since
    if (UsbMonitorRunning()) continue;
    EXPECT_EQ(without, "USB monitor is not running");
    EXPECT_TRUE(buses.empty());
    return;
  }
  GTEST_SKIP() << "other tests kept a monitor running throughout";
}

TEST(Usb, ListedInstrumentsStatusCodesAndReplies) {
  InstallSupplyDrivers();
  TScopedEnv env("ONDREVO_USB_LIBRARY", sim::UsbSimLibraryPath());
  sim::TUsbMonitorProcess monitor;
  sim::TUsbSimHost host;
  auto a = Instrument("KSV 5206-40", "61");
  auto b = Instrument("KSV 6141-80", "62");
  host.Attach(a);
  host.Attach(b);
  TUsbInterface scanner;
  TInterfaceList buses;
  scanner.GetInterfaces(buses);
  ASSERT_EQ(buses.size(), 1u);
  EXPECT_EQ(buses[0]->Name, "USB");
  TDeviceList devices;
  std::dynamic_pointer_cast<IDeviceScanner>(buses[0])->GetDevices(devices);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->GetSerialNumber(), "61");
  EXPECT_EQ(devices[1]->GetSerialNumber(), "62");
  auto t0 = std::dynamic_pointer_cast<IRemoteControllable>(devices[0])->GetInterface();
  auto t1 = std::dynamic_pointer_cast<IRemoteControllable>(devices[1])->GetInterface();
  EXPECT_NE(t0, t1);
  EXPECT_EQ(t0->Name, "USB");

  TUsbInterface usb;
  usb.DeviceName = a->IdentificationReply();
  EXPECT_EQ(Failure<EConnectionError>([&] { usb.Receive(100); }), "No device connected");
  usb.OpenDevice();
  EXPECT_EQ(Failure<EConnectionError>([&] { usb.OpenDevice(); }), "Could not connect to device");
  EXPECT_FALSE(usb.IsBusy());

  sim::TSimFaults faults;
  faults.CrLf = true;
  host.At(a).SetFaults(faults);
  usb.Send("V?");
  EXPECT_EQ(usb.Receive(100), "0.000");
  faults = {};
  faults.GarbageBytes = 7;
  faults.Replies = 1;
  host.At(a).SetFaults(faults);
  usb.Send("V?");
  EXPECT_EQ(usb.Receive(100), "ABCDEFG");  // no line end: exactly the bytes reported

  host.SetReadTimeout(150);
  usb.Send("FAS 0");  // no reply
  EXPECT_EQ(Failure<ETimeoutError>([&] { usb.Receive(100); }), "The connection timed out");
  host.FailNext(24);
  EXPECT_EQ(Failure<ETransceiveError>([&] { usb.Receive(100); }), "No data available");
  host.FailNext(4);
  EXPECT_EQ(Failure<ETransceiveError>([&] { usb.Send("F?"); }),
            "The data could not be transmitted");
  host.FailNext(23);
  EXPECT_EQ(Failure<ENotInstalledError>([&] { usb.IsBusy(); }),
            "An underlying driver DLL is missing");
  host.FailNext(1);
  EXPECT_EQ(Failure<EConnectionError>([&] { usb.Receive(100); }), "Device has been lost");
  EXPECT_FALSE(usb.IsConnected());  // forgotten without close
  host.SetReadTimeout(3000);
}

std::shared_ptr<TWaveform> Ramp(int levels) {
  SegmentTable table;
  int row = 0;
  for (int k = 0; k < levels; ++k) {
    SegmentRow p, q;
    p.Time = k * 0.1;
    q.Time = (k + 1) * 0.1;
    p.Value = q.Value = 1.0 + 0.01 * k;
    table[row++] = p;
    table[row++] = q;
  }
  table.SetLastPointIndex(row - 1);
  return BuildWaveform(table);
}

// The instrument vanishes in the middle of an upload: one clear error, nothing more, and once it
// is back a new connection works.
class VanishingInstrument : public ::testing::TestWithParam<testing::BusKind> {};

TEST_P(VanishingInstrument, OneErrorThenReconnect) {
  InstallSupplyDrivers();
  TEventQueue queue;
  queue.Install();
  auto instrument = Instrument("KSV 5206-40", "88");
  auto bus = testing::StartBus(GetParam(), instrument);
  TDeviceList devices = bus->Discover();
  ASSERT_EQ(devices.size(), 1u);
  auto device = std::dynamic_pointer_cast<TListPlayerDevice>(devices[0]);
  ASSERT_TRUE(device);
  device->SetReplyTimeout(500);
  std::vector<std::string> errors;
  int done = 0;
  device->SetOnError([&](IDevice*, const std::exception& e) { errors.push_back(e.what()); });
  device->SetOnUploadDone([&](IDevice*) { ++done; });
  device->Connect();
  sim::TSimFaults faults;
  faults.HangUpAfterBytes = 1500;
  auto* gpib = dynamic_cast<testing::TGpibBus*>(bus.get());
  auto* usb = dynamic_cast<testing::TUsbBus*>(bus.get());
  if (gpib) gpib->Host().At(0, testing::TGpibBus::kAddress).SetFaults(faults);
  if (usb) usb->Endpoint().SetFaults(faults);
  const auto start = Clock::now();
  device->Upload(Ramp(400), Ramp(400), false);
  ASSERT_TRUE(queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 10s));
  EXPECT_LT(Clock::now() - start, 3s);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], ::testing::AnyOf("The device has been lost", "Device has been lost"));
  EXPECT_EQ(done, 0);
  device->Disconnect();

  // Back on the bus (fresh from power-up): discovery finds it and it connects again.
  auto again = Instrument("KSV 5206-40", "88");
  if (gpib) gpib->Host().Attach(0, testing::TGpibBus::kAddress, again);
  if (usb) usb->Host().Attach(again);
  devices = bus->Discover();
  ASSERT_EQ(devices.size(), 1u);
  auto fresh = std::dynamic_pointer_cast<TListPlayerDevice>(devices[0]);
  fresh->Connect();
  EXPECT_TRUE(fresh->IsConnected());
  fresh->Disconnect();
  TMainThread::SetDispatcher(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Buses, VanishingInstrument,
                         ::testing::Values(testing::BusKind::Gpib, testing::BusKind::Usb),
                         [](const auto& info) { return testing::BusName(info.param); });

}  // namespace
}  // namespace ondrevo
