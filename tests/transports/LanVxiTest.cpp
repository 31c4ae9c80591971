// The family-C driver over VXI-11 (liblxi) against the simulator's VXI-11 channel. VXI-11
// clients find the channel through the port mapper on port 111: where none runs, the tests start
// Debian's rpcbind when they may (as root), and otherwise skip saying why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/supplies/Drivers.h"
#include "sim/Demo.h"
#include "sim/Front.h"
#include "sim/VxiFront.h"
#include "transports/BusFixtures.h"
#include "transports/LanInterface.h"
#include "transports/LanTestKit.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Starts rpcbind for the test program when there is none and this may; stops it at the end.
class PortMapperEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (sim::PortMapperRunning()) return;
    if (::geteuid() != 0 || ::access("/usr/sbin/rpcbind", X_OK) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/usr/sbin/rpcbind", "rpcbind", "-f", "-w", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Ready once it answers; it may also have lost a race against another starter, which serves.
    for (int k = 0; k < 500 && !sim::PortMapperRunning(); ++k) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

const auto* const gPortMapper = ::testing::AddGlobalTestEnvironment(new PortMapperEnvironment);

#define SKIP_WITHOUT_PORT_MAPPER()                                                         \
  if (!sim::PortMapperRunning())                                                           \
  GTEST_SKIP() << "No port mapper on port 111 and none may be started here (not root, or " \
                  "rpcbind is not installed): VXI-11 clients cannot find an instrument"

class VxiFixture : public testing::TLanRunFixture {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_PORT_MAPPER();
    TLanRunFixture::SetUp();
    slot = std::make_shared<sim::TClientSlot>();
    vxi = std::make_unique<sim::TVxiFront>(instrument, slot);
    ASSERT_TRUE(vxi->Registered());
    TLanAddress address;
    address.Host = "127.0.0.1";
    address.Socket = false;
    Attach(std::make_shared<TLanVxiInterface>(address));
  }
  void TearDown() override {
    TLanRunFixture::TearDown();
    vxi.reset();
  }
  std::shared_ptr<sim::TClientSlot> slot;
  std::unique_ptr<sim::TVxiFront> vxi;
};

TEST_F(VxiFixture, UploadAndPlayThreeBursts) {
  device->Connect();
  RunUploadAndThreeBursts();
  const auto sent = Sent();
  EXPECT_EQ(instrument->ReceivedLines(), sent) << "VXI-11 delivers each write before it returns";
}

TEST_F(VxiFixture, OneClientAtATimeAcrossBothFronts) {
  sim::TTcpFront tcp(instrument, 0);
  tcp.SetClientSlot(slot);
  device->Connect();
  TLanAddress address;
  address.Host = "127.0.0.1";
  address.Socket = false;
  TLanVxiInterface second(address);
  try {
    second.Open();
    FAIL() << "a second link was granted";
  } catch (const EConnectionError& e) {
    EXPECT_THAT(e.what(), HasSubstr("serving another client"));
  }
  EXPECT_EQ(vxi->Refused(), 1);
  address.Socket = true;
  address.Port = tcp.Port();
  TLanSocketInterface raw(address);
  raw.Open();
  EXPECT_THROW(raw.Query("*IDN?", 1000), EConnectionError);
  raw.Close();
  device->Disconnect();
  // Free again once the link is gone.
  raw.Open();
  EXPECT_TRUE(IsMakerReply(raw.Query("*IDN?", 1000)));
  raw.Close();
}

TEST_F(VxiFixture, SilentInstrumentTimesOutAndOneSwitchedOffIsSaid) {
  device->Connect();
  vxi->SetSilent(true);
  try {
    transport->Query("*IDN?", 200);
    FAIL();
  } catch (const ETimeoutError& e) {
    EXPECT_THAT(e.what(), HasSubstr("The instrument at 127.0.0.1 stopped answering"));
    EXPECT_THAT(e.what(), HasSubstr("timed out"));
  }
  vxi->SetSilent(false);
  // A link the instrument drops is said as lost, at once rather than after the time-out.
  vxi->DropAfterWrites(1);
  const auto start = std::chrono::steady_clock::now();
  try {
    transport->Query("*IDN?", 20000);
    FAIL();
  } catch (const ETimeoutError& e) {
    FAIL() << "a lost link taken for a time-out: " << e.what();
  } catch (const EConnectionError& e) {
    EXPECT_THAT(e.what(), HasSubstr("The instrument at 127.0.0.1 stopped answering"));
    EXPECT_THAT(e.what(), HasSubstr("lost"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  device->Disconnect();
  device->Connect();
  vxi->DropAfterWrites(14);  // within the list lines
  device->Upload(testing::Staircase(400, 0.01, 1.0, 0.01),
                 testing::Staircase(400, 0.01, 0.5, 0.001), false);
  ASSERT_TRUE(WaitThreads());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_THAT(log[0], HasSubstr("The instrument at 127.0.0.1 stopped answering"));
  EXPECT_THAT(log[0], ::testing::Not(HasSubstr("timed out")));
  device->Disconnect();
  // Off and on again: Connect works in the same program.
  vxi.reset();
  vxi = std::make_unique<sim::TVxiFront>(instrument, slot);
  log.clear();
  device->Connect();
  RunUploadAndThreeBursts();
}

// Switched off while it plays: the poll finds the link gone, says so, and the supply connects
// again once it is back.
TEST_F(VxiFixture, SwitchedOffMidPlayIsSaidAndConnectWorksAgain) {
  device->Connect();
  device->Upload(testing::Staircase(20, 0.1, 1.0, 0.5), testing::Staircase(20, 0.1, 0.5, 0.1),
                 false);
  ASSERT_TRUE(WaitThreads());
  log.clear();
  device->SetBurstCount(0);  // endless: only the fault ends it
  device->Play();
  ASSERT_TRUE(queue.PumpUntil([&] { return !log.empty(); }, 10s));
  vxi->DropAfterWrites(1);
  ASSERT_TRUE(WaitThreads());
  bool said = false;
  for (const auto& line : log)
    said =
        said || (line.find("The instrument at 127.0.0.1 stopped answering") != std::string::npos &&
                 line.find("timed out") == std::string::npos);
  EXPECT_TRUE(said) << ::testing::PrintToString(log);
  device->Disconnect();
  EXPECT_FALSE(device->IsConnected());
  log.clear();
  device->Connect();
  RunUploadAndThreeBursts();
}

TEST_F(VxiFixture, TheHostListFindsItOverVxi11) {
  InstallSupplyDrivers();
  testing::TScopedEnv env("ONDREVO_LAN_HOSTS", "TCPIP::127.0.0.1::INSTR");
  TLanInterface scanner;
  TDeviceList devices;
  scanner.GetDevices(devices);
  ASSERT_EQ(devices.size(), 1u);
  auto remote = std::dynamic_pointer_cast<IRemoteControllable>(devices[0]);
  ASSERT_TRUE(remote);
  EXPECT_EQ(std::dynamic_pointer_cast<TLanTransport>(remote->GetInterface())->Address.Text(),
            "TCPIP::127.0.0.1::INSTR");
  EXPECT_EQ(devices[0]->GetModel(), "KSV 7342-80");
}

// The demo's second supply on the LAN answers over VXI-11 where a port mapper runs; a live
// instrument listed there already keeps its place, and the demo says so instead.
TEST(DemoOverVxi, ServesASecondSupplyUnlessAnotherIsListed) {
  SKIP_WITHOUT_PORT_MAPPER();
  InstallSupplyDrivers();
  constexpr unsigned long kCoreChannel = 0x0607AF;  // the VXI-11 core channel's program number
  pmap_unset(kCoreChannel, 1);
  auto hosts = [] { return std::string(std::getenv("ONDREVO_LAN_HOSTS")); };
  {
    testing::TScopedEnv env("ONDREVO_LAN_HOSTS", "");
    sim::TDemoInstruments demo(50);
    ASSERT_NE(demo.VxiFront(), nullptr);
    EXPECT_TRUE(demo.Notes().empty());
    EXPECT_EQ(sim::RegisteredVxiPort(), demo.VxiFront()->Port());
    EXPECT_THAT(hosts(), HasSubstr(",TCPIP::127.0.0.1::INSTR"));
    TLanInterface scanner;
    TDeviceList devices;
    scanner.GetDevices(devices);
    std::vector<std::string> found;
    for (const auto& d : devices) {
      auto remote = std::dynamic_pointer_cast<IRemoteControllable>(d);
      ASSERT_TRUE(remote);
      found.push_back(
          d->GetSerialNumber() + " " +
          std::dynamic_pointer_cast<TLanTransport>(remote->GetInterface())->Address.Text());
    }
    EXPECT_THAT(found, ElementsAre(HasSubstr("734280002 TCPIP::127.0.0.1::"),
                                   "734280003 TCPIP::127.0.0.1::INSTR"));
  }
  EXPECT_EQ(sim::RegisteredVxiPort(), 0) << "the demo's entry goes with it";

  // Another instrument listed and accepting connections.
  auto other = std::make_unique<testing::TLoopbackListener>();
  const int otherPort = other->Port();
  ASSERT_TRUE(pmap_set(kCoreChannel, 1, IPPROTO_TCP, static_cast<unsigned short>(otherPort)));
  {
    testing::TScopedEnv env("ONDREVO_LAN_HOSTS", "");
    sim::TDemoInstruments demo(50);
    EXPECT_EQ(demo.VxiFront(), nullptr);
    ASSERT_EQ(demo.Notes().size(), 1u);
    EXPECT_THAT(demo.Notes()[0], HasSubstr("lists another VXI-11 instrument"));
    EXPECT_THAT(hosts(), ::testing::Not(HasSubstr("INSTR")));
  }
  EXPECT_EQ(sim::RegisteredVxiPort(), otherPort) << "the other instrument keeps its place";
  // Once it is gone, its stale entry does not keep the demo's supply out.
  other.reset();
  {
    sim::TDemoInstruments demo(50);
    ASSERT_NE(demo.VxiFront(), nullptr);
    EXPECT_EQ(sim::RegisteredVxiPort(), demo.VxiFront()->Port());
  }
  pmap_unset(kCoreChannel, 1);
}

}  // namespace
}  // namespace ondrevo
