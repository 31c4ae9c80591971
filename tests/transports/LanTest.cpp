// The family-C driver over the raw LAN socket against the simulator's TCP front: addresses,
// the host list, discovery, a whole run, and the faults of a network.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/MainThread.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "document/SegmentTable.h"
#include "model/Builder.h"
#include "sim/Front.h"
#include "sim/Ksv7340Sim.h"
#include "transports/BusFixtures.h"
#include "transports/LanInterface.h"
#include "transports/LanTestKit.h"
#include "transports/RS232Interface.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(LanAddress, ReadsTheFieldsFormsAndRefusesTheRest) {
  auto raw = ParseLanAddress("TCPIP::192.168.1.7::5025::SOCKET");
  ASSERT_TRUE(raw);
  EXPECT_TRUE(raw->Socket);
  EXPECT_EQ(raw->Host, "192.168.1.7");
  EXPECT_EQ(raw->Port, 5025);
  EXPECT_EQ(raw->Text(), "TCPIP::192.168.1.7::5025::SOCKET");
  auto instr = ParseLanAddress("tcpip0::psu.lab::instr");
  ASSERT_TRUE(instr);
  EXPECT_FALSE(instr->Socket);
  EXPECT_EQ(instr->Host, "psu.lab");
  EXPECT_EQ(instr->Device, "inst0");
  EXPECT_EQ(instr->Text(), "TCPIP::psu.lab::INSTR");
  auto named = ParseLanAddress("TCPIP::10.0.0.2::inst1::INSTR");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->Device, "inst1");
  EXPECT_EQ(named->Text(), "TCPIP::10.0.0.2::inst1::INSTR");
  for (const char* bad : {"", "TCPIP", "TCPIP::", "TCPIP::h::0::SOCKET", "TCPIP::h::70000::SOCKET",
                          "TCPIP::h::5025::SOCKETS", "TCPIP::h::x1::SOCKET", "GPIB0::5::INSTR",
                          "/dev/ttyS0", "TCPIPX::h::INSTR", "TCPIP::h::a::b::INSTR"})
    EXPECT_FALSE(ParseLanAddress(bad)) << bad;
}

TEST(LanHosts, PreferencesThenEnvironmentWithoutRepeats) {
  testing::TScopedEnv env("ONDREVO_LAN_HOSTS",
                          "10.0.0.9, psu:6000;TCPIP::h2::INSTR  10.0.0.9 bad:port");
  SetLanHosts({"10.0.0.9", "labpsu"});
  const auto hosts = ListLanHosts();
  SetLanHosts({});
  ASSERT_EQ(hosts.size(), 4u);
  EXPECT_EQ(hosts[0].Host, "10.0.0.9");
  EXPECT_TRUE(hosts[0].Raw && hosts[0].Vxi);
  EXPECT_EQ(hosts[1].Host, "labpsu");
  EXPECT_EQ(hosts[2].Host, "psu");
  EXPECT_EQ(hosts[2].Port, 6000);
  EXPECT_EQ(hosts[3].Host, "h2");
  EXPECT_FALSE(hosts[3].Raw);
  EXPECT_TRUE(hosts[3].Vxi);
}

// A port where nothing listens: bound once, then given back.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

class LanFixture : public testing::TLanRunFixture {
 protected:
  void SetUp() override {
    TLanRunFixture::SetUp();
    StartFront();
    TLanAddress address;
    address.Host = "127.0.0.1";
    address.Port = tcp->Port();
    Attach(std::make_shared<TLanSocketInterface>(address));
  }
  void StartFront(int port = 0) { tcp = std::make_unique<sim::TTcpFront>(instrument, port); }
  void TearDown() override {
    TLanRunFixture::TearDown();
    tcp.reset();
  }
  std::unique_ptr<sim::TTcpFront> tcp;
};

// The lines of an upload over the serial line, for the same document.
std::vector<std::string> SerialUploadLines() {
  TEventQueue queue;
  queue.Install();
  auto instrument = sim::CreateSimInstrument("KSV 7342-80", "100001", sim::MakeScaledClock(10.0));
  testing::TSerialBus bus(instrument);
  auto transport = std::make_shared<TRS232Interface>(1, bus.Front().Path());
  std::vector<std::string> sent;
  std::mutex lock;
  transport->SetTraceObserver([&](const std::string& line) {
    std::lock_guard g(lock);
    if (line.starts_with("> ")) sent.push_back(line.substr(2));
  });
  auto device = std::make_shared<TKsv7340Device>("KSV 7342-80", transport, "100001");
  device->Connect();
  device->Upload(testing::Staircase(20, 0.1, 1.0, 0.5), testing::Staircase(20, 0.1, 0.5, 0.1),
                 false);
  queue.PumpUntil([&] { return !device->HasRunningThreads(); }, 20s);
  std::vector<std::string> upload;
  {
    std::lock_guard g(lock);
    upload = sent;
  }
  device->Disconnect();
  TMainThread::SetDispatcher(nullptr);
  return upload;
}

TEST_F(LanFixture, UploadAndPlayThreeBurstsSendingWhatTheSerialLineSends) {
  const auto serialLines = SerialUploadLines();
  queue.Install();
  device->Connect();
  RunUploadAndThreeBursts();
  const auto sent = Sent();
  ASSERT_GE(sent.size(), serialLines.size());
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + serialLines.size()), serialLines);
  queue.PumpUntil([&] { return instrument->ReceivedLines().size() >= sent.size(); }, 2s);
  EXPECT_EQ(instrument->ReceivedLines(), sent);
}

TEST_F(LanFixture, TheHostListFindsTheInstrumentOnTheLanNode) {
  // Raw sockets only: VXI-11 on this host belongs to the tests that take turns with the port
  // mapper.
  testing::TScopedEnv env("ONDREVO_LAN_HOSTS", "TCPIP::127.0.0.1::" + std::to_string(tcp->Port()) +
                                                   "::SOCKET, TCPIP::127.0.0.1::" +
                                                   std::to_string(FreePort()) + "::SOCKET");
  InstallSupplyDrivers();
  TLanInterface scanner;
  TInterfaceList buses;
  scanner.GetInterfaces(buses);
  ASSERT_EQ(buses.size(), 1u);
  EXPECT_EQ(buses[0]->Name, "LAN");
  TDeviceList devices;
  std::dynamic_pointer_cast<IDeviceScanner>(buses[0])->GetDevices(devices);
  std::vector<std::string> found;
  for (auto& d : devices) {
    auto remote = std::dynamic_pointer_cast<IRemoteControllable>(d);
    ASSERT_TRUE(remote);
    auto lan = std::dynamic_pointer_cast<TLanTransport>(remote->GetInterface());
    ASSERT_TRUE(lan);
    if (lan->Address.Socket) found.push_back(d->GetModel() + " " + lan->Address.Text());
  }
  EXPECT_THAT(found, ElementsAre("KSV 7342-80 TCPIP::127.0.0.1::" + std::to_string(tcp->Port()) +
                                 "::SOCKET"));
  // The probe left the instrument in local mode.
  EXPECT_TRUE(
      queue.PumpUntil([&] { return !dynamic_cast<sim::TKsv7340Sim&>(*instrument).Remote(); }, 5s));
}

// The LAN node asks between its hosts whether the search goes on: a cancel stops the host list.
TEST_F(LanFixture, ACancelBetweenHostsEndsTheHostList) {
  // Two hosts that refuse, then the instrument.
  const auto at = [](int port) { return "TCPIP::127.0.0.1::" + std::to_string(port) + "::SOCKET"; };
  testing::TScopedEnv env("ONDREVO_LAN_HOSTS",
                          at(FreePort()) + "," + at(FreePort()) + "," + at(tcp->Port()));
  InstallSupplyDrivers();
  TLanInterface scanner;
  TDeviceList devices;
  scanner.GetDevices(devices);
  EXPECT_EQ(devices.size(), 1u) << "the instrument, last in the list";
  int asked = 0;
  scanner.SetCancelCheck([&] { return ++asked > 1; });
  scanner.GetDevices(devices);
  EXPECT_TRUE(devices.empty()) << "the list ended before the instrument";
  EXPECT_LE(asked, 3);
  scanner.SetCancelCheck(nullptr);
}

TEST_F(LanFixture, ASecondClientIsRefusedAtOnceWithAClearMessage) {
  device->Connect();
  TLanAddress address;
  address.Host = "127.0.0.1";
  address.Port = tcp->Port();
  TLanSocketInterface second(address);
  try {
    second.Open();
    second.Query("*IDN?", 1000);
    FAIL() << "the second client was served";
  } catch (const EConnectionError& e) {
    EXPECT_THAT(e.what(), HasSubstr("serving another client"));
  }
  // The first goes on undisturbed.
  EXPECT_TRUE(IsMakerReply(transport->Query("*IDN?", 1000)));
}

// The line drops in the middle of the list: from the client's side the same as an instrument
// switched off or a cable pulled (the command-line tests kill the simulator for real).
TEST_F(LanFixture, InstrumentGoneMidUploadIsSaidAndConnectWorksAgain) {
  device->Connect();
  const int port = tcp->Port();
  tcp->SetFaults({.HangUpAfterBytes = 700});
  device->Upload(testing::Staircase(400, 0.01, 1.0, 0.01),
                 testing::Staircase(400, 0.01, 0.5, 0.001), false);
  ASSERT_TRUE(WaitThreads());
  EXPECT_EQ(tcp->HangUps(), 1);
  tcp.reset();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_THAT(log[0], HasSubstr("The instrument at 127.0.0.1 stopped answering"));
  device->Disconnect();
  // Switched on again at the same address: Connect works without a new program.
  StartFront(port);
  log.clear();
  device->Connect();
  RunUploadAndThreeBursts();
}

TEST_F(LanFixture, InstrumentSwitchedOffMidPlayIsSaid) {
  device->Connect();
  device->Upload(testing::Staircase(20, 0.1, 1.0, 0.5), testing::Staircase(20, 0.1, 0.5, 0.1),
                 false);
  ASSERT_TRUE(WaitThreads());
  log.clear();
  device->SetBurstCount(0);  // endless: only the fault ends it
  device->Play();
  ASSERT_TRUE(queue.PumpUntil([&] { return !log.empty(); }, 10s));
  tcp.reset();
  ASSERT_TRUE(WaitThreads());
  ASSERT_FALSE(log.empty());
  bool said = false;
  for (const auto& line : log) said = said || line.find("stopped answering") != std::string::npos;
  EXPECT_TRUE(said) << ::testing::PrintToString(log);
  device->Disconnect();
  EXPECT_FALSE(device->IsConnected());
}

TEST(LanFaults, NoSuchHostRefusedPortAndSilentPeerEachSayWhat) {
  TLanAddress address;
  address.Host = "no-such-host.invalid";
  TLanSocketInterface nowhere(address);
  try {
    nowhere.Open();
    FAIL();
  } catch (const EInterfaceError& e) {
    EXPECT_THAT(e.what(), HasSubstr("There is no host no-such-host.invalid"));
  }
  address.Socket = false;
  TLanVxiInterface nowhereVxi(address);
  try {
    nowhereVxi.Open();
    FAIL();
  } catch (const EInterfaceError& e) {
    EXPECT_THAT(e.what(), HasSubstr("There is no host no-such-host.invalid"));
  }
  EXPECT_FALSE(nowhereVxi.IsOpen());
  address.Socket = true;

  address.Host = "127.0.0.1";
  address.Port = FreePort();
  TLanSocketInterface refused(address);
  try {
    refused.Open();
    FAIL();
  } catch (const EConnectionError& e) {
    EXPECT_THAT(e.what(), HasSubstr("refuses connections on port " + std::to_string(address.Port)));
  }
  EXPECT_FALSE(refused.IsOpen());

  // A peer that takes the connection (the system's backlog does) and never says a word.
  testing::TLoopbackListener listener;
  address.Port = listener.Port();
  TLanSocketInterface silent(address);
  silent.Open();
  try {
    silent.Query("*IDN?", 200);
    FAIL();
  } catch (const ETimeoutError& e) {
    EXPECT_THAT(e.what(), HasSubstr("The instrument at 127.0.0.1 stopped answering"));
  }
  auto device = std::make_shared<TKsv7340Device>(
      "KSV 7342-80", std::make_shared<TLanSocketInterface>(address), "1");
  device->SetReplyTimeout(200);
  EXPECT_THROW(device->Connect(), std::runtime_error);
  device->Disconnect();
  EXPECT_FALSE(device->IsConnected());
}

// A busy instrument says so and closes. The line must be what the user is told however the close
// arrives: after our command reached it (the close then resets the connection, orderly or at
// once), or only after our next command went out (the line must not be dropped as stale input).
TEST(LanFaults, ABusyLineIsToldHoweverTheCloseArrives) {
  testing::TLoopbackListener listener(1);
  const TLanAddress address = listener.Address();
  enum { Orderly, Abortive, ClosedLater };
  for (const int close : {Orderly, Abortive, ClosedLater}) {
    TLanSocketInterface client(address);
    client.Open();
    const int peer = ::accept(listener.Fd(), nullptr, nullptr);
    ASSERT_GE(peer, 0);
    client.Send("*IDN?");
    char got[6];
    ASSERT_EQ(::recv(peer, got, sizeof got, MSG_WAITALL), 6);
    client.Send("*CLS");  // left unread: closing now resets the connection
    const std::string busy = "ERROR: busy, serving another client\n";
    ASSERT_EQ(::send(peer, busy.data(), busy.size(), 0), static_cast<ssize_t>(busy.size()));
    if (close == Abortive) {
      const linger hard{1, 0};
      ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    int open = peer;
    if (close != ClosedLater) ::close(std::exchange(open, -1));
    try {
      client.Send("*IDN?");
      if (open >= 0) ::close(std::exchange(open, -1));
      client.Receive(1000);
      FAIL() << "a closed connection answered";
    } catch (const EConnectionError& e) {
      EXPECT_THAT(e.what(), HasSubstr("serving another client")) << "case " << close;
    }
    if (open >= 0) ::close(open);
  }
}

// Replies read as a stream, against the lines the peer wrote: whatever way the bytes are cut into
// packets, each Receive gives the next line whole, without its CR.
TEST(LanStream, RandomlyCutRepliesArriveAsTheirLines) {
  testing::TLoopbackListener listener(1);
  const TLanAddress address = listener.Address();
  TLanSocketInterface transport(address);
  transport.Open();
  const int peer = ::accept(listener.Fd(), nullptr, nullptr);
  ASSERT_GE(peer, 0);
  for (unsigned seed = 1; seed <= 25; ++seed) {
    std::mt19937 random(seed);
    std::vector<std::string> model;
    std::string stream;
    const int lines = 1 + static_cast<int>(random() % 40);
    for (int k = 0; k < lines; ++k) {
      std::string line;
      const int size = static_cast<int>(random() % 300);
      for (int c = 0; c < size; ++c) line += static_cast<char>(' ' + random() % 95);
      model.push_back(line);
      stream += line + (random() % 3 == 0 ? "\r\n" : "\n");
    }
    std::thread writer([&] {
      std::mt19937 cuts(seed * 7919);
      for (std::size_t at = 0; at < stream.size();) {
        const std::size_t piece = std::min<std::size_t>(1 + cuts() % 700, stream.size() - at);
        ASSERT_EQ(::send(peer, stream.data() + at, piece, MSG_NOSIGNAL),
                  static_cast<ssize_t>(piece));
        at += piece;
      }
    });
    for (int k = 0; k < lines; ++k)
      EXPECT_EQ(transport.Receive(10000), model[k]) << "seed " << seed;
    writer.join();
  }
  transport.Close();
  ::close(peer);
}

}  // namespace
}  // namespace ondrevo
