// The serial transport on real pseudo-terminals, and the identification parser.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"
#include "transports/RS232Interface.h"

namespace ondrevo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The instrument's end of a pseudo-terminal; the transport opens SlavePath().
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    path_ = ::ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& SlavePath() const { return path_; }
  void Write(const std::string& data) {
    ASSERT_EQ(::write(master_, data.data(), data.size()), (ssize_t)data.size());
  }
  // Reads what the transport sent within the time-out.
  std::string Read(int timeoutMs = 500) {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, timeoutMs) > 0) {
      char buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, n);
      if (out.back() == '\n') break;
    }
    return out;
  }
  // Writes what fits within 10 ms; never blocks (the reader may have stopped reading).
  void Offer(const std::string& data) {
    pollfd p{master_, POLLOUT, 0};
    if (::poll(&p, 1, 10) > 0) {
      const int flags = ::fcntl(master_, F_GETFL);
      ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
      [[maybe_unused]] auto n = ::write(master_, data.data(), data.size());
      ::fcntl(master_, F_SETFL, flags);
    }
  }
  void HangUp() {
    ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

TEST(Identification, ModelAndSerialComeFromTheFirstLine) {
  auto id = ParseIdentification("KESTRAVO,KSV7342,123456,1.02\r\n");
  EXPECT_EQ(id.Model, "KSV 7342");
  EXPECT_EQ(id.SerialNumber, "123456");
  id = ParseIdentification("KESTRAVO,KSV7342-80,100001");
  EXPECT_EQ(id.Model, "KSV 7342-80");
  EXPECT_EQ(id.SerialNumber, "100001");
  id = ParseIdentification("KESTRAVO,OTHER 1,77,9\nKESTRAVO,KSV1,2,3");
  EXPECT_EQ(id.Model, "OTHER 1");
  EXPECT_EQ(id.SerialNumber, "77");
  id = ParseIdentification("KESTRAVO");  // too short: nothing, no crash
  EXPECT_EQ(id.Model, "");
  EXPECT_TRUE(IsMakerReply("x KESTRAVO,"));
  EXPECT_FALSE(IsMakerReply("kestravo,KSV7342"));
}

TEST(Identification, ForeignPrefixesMissingModelsAndHostileReplies) {
  // Text before the maker's name does not shift the model.
  auto id = ParseIdentification(">> KESTRAVO,KSV7342-80,4711,1.0\n");
  EXPECT_EQ(id.Model, "KSV 7342-80");
  EXPECT_EQ(id.SerialNumber, "4711");
  id = ParseIdentification("echo\r\nKESTRAVO,KSV7341-20,5,1");
  EXPECT_EQ(id.Model, "KSV 7341-20");
  // The USB library's entries need not name the maker: the model from the 10th character.
  EXPECT_EQ(ParseIdentification("XXXXXXXXXKSV6141-80,99").Model, "KSV 6141-80");
  // No model, no comma after the name.
  EXPECT_EQ(ParseIdentification("KESTRAVO,,4711,1").Model, "");
  EXPECT_EQ(ParseIdentification("KESTRAVO,,4711,1").SerialNumber, "4711");
  EXPECT_EQ(ParseIdentification("KESTRAVO").Model, "");
  // Control bytes are escaped; a huge field is cut.
  id = ParseIdentification("KESTRAVO,KSV\x1b[2J\x07,\x1b]0;x\x07," + std::string(100000, 'Z'));
  EXPECT_EQ(id.Model, "KSV \\x1B[2J\\x07");
  EXPECT_EQ(id.SerialNumber, "\\x1B]0;x\\x07");
  id = ParseIdentification("KESTRAVO," + std::string(100000, 'M') + ",1");
  EXPECT_EQ(id.Model, std::string(kMaxIdentificationField, 'M') + "...");
}

TEST(RS232, ClosedPortRefusesSendAndReceive) {
  TRS232Interface port(1, "/nonexistent/port");
  EXPECT_FALSE(port.IsBusy());
  try {
    port.Send("X");
    FAIL();
  } catch (const EConnectionError& e) {
    EXPECT_STREQ(e.what(), "No device connected");
  }
  EXPECT_THROW(port.Receive(10), EConnectionError);
  try {
    port.Open();
    FAIL();
  } catch (const ENotInstalledError& e) {
    EXPECT_STREQ(e.what(), "The requested COM port does not exist.");
  }
}

TEST(RS232, SettingsAreCopiedAtConstruction) {
  const TRS232Settings saved = GetRS232Defaults();
  TRS232Settings custom;
  custom.BaudRate = 19200;
  custom.Handshake = kHandshakeRtsCts;
  SetRS232Defaults(custom);
  TRS232Interface before(1);
  SetRS232Defaults(saved);
  TRS232Interface after(1);
  EXPECT_EQ(before.Settings, custom);
  EXPECT_EQ(after.Settings, saved);

  // A rate the line cannot run at is refused naming the rate, and the port is closed.
  TRS232Settings odd;
  odd.BaudRate = 14400;
  SetRS232Defaults(odd);
  Pty pty;
  TRS232Interface port(1, pty.SlavePath());
  SetRS232Defaults(saved);
  try {
    port.Open();
    FAIL();
  } catch (const EConnectionError& e) {
    EXPECT_STREQ(e.what(), "The serial port does not take the baud rate 14400");
  }
  EXPECT_FALSE(port.IsOpen());
}

TEST(RS232, LinesGoOutWithOneLineFeedAndRepliesAreAssembled) {
  Pty pty;
  TRS232Interface port(1, pty.SlavePath());
  port.Open();
  port.Send("*IDN?");
  EXPECT_EQ(pty.Read(), "*IDN?\n");

  // A reply in pieces, with carriage returns inside.
  std::thread instrument([&] {
    pty.Write("KEST\r");
    std::this_thread::sleep_for(30ms);
    pty.Write("RAVO,1\r\n");
  });
  EXPECT_EQ(port.Receive(1000), "KESTRAVO,1");
  instrument.join();

  // Two lines at once: the last one is the answer, without the previous line's end.
  pty.Write("old\r\nnew\r\n");
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(port.Receive(500), "new");
  pty.Write("first\nsecond\nthird\n");
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(port.Receive(500), "third");

  // Stale input is discarded before the next command.
  pty.Write("stale\n");
  std::this_thread::sleep_for(20ms);
  port.Send("Q?");
  EXPECT_EQ(pty.Read(), "Q?\n");
  // Nothing of it is left to read: a stale line would be taken for the answer.
  EXPECT_THROW(port.Receive(100), ETimeoutError);
  // And an answer in a read of its own is not joined to it either.
  pty.Write("stale2");
  std::this_thread::sleep_for(20ms);
  port.Send("R?");
  EXPECT_EQ(pty.Read(), "R?\n");
  pty.Write("fresh\n");
  EXPECT_EQ(port.Receive(500), "fresh");
}

TEST(RS232, TimeOutsAndHangUpsEndQuickly) {
  Pty pty;
  TRS232Interface port(1, pty.SlavePath());
  port.Open();
  auto start = Clock::now();
  try {
    port.Receive(150);
    FAIL();
  } catch (const ETimeoutError& e) {
    EXPECT_STREQ(e.what(), "The connection timed out");
  }
  auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 150ms);
  EXPECT_LT(elapsed, 1000ms);  // generous: the machine may be busy

  // Bytes that keep coming without a line feed still time out.
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    const std::string junk(4096, 'x');
    while (!stop) {
      pty.Offer(junk);
      std::this_thread::sleep_for(1ms);
    }
  });
  start = Clock::now();
  EXPECT_THROW(port.Receive(200), ETimeoutError);
  EXPECT_LT(Clock::now() - start, 1500ms);
  stop = true;
  flood.join();

  // The other end goes away: an error at once, no spinning until the time-out.
  pty.HangUp();
  start = Clock::now();
  EXPECT_THROW(port.Receive(2000), EConnectionError);
  EXPECT_LT(Clock::now() - start, 1000ms);  // well below the 2 s time-out
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

TEST(RS232, AnOpenPortIsNotSharedWithAProbe) {
  Pty pty;
  TRS232Interface owner(1, pty.SlavePath());
  owner.Open();
  TRS232Interface probe(1, pty.SlavePath());
  EXPECT_THROW(probe.Open(), ENotInstalledError);
  owner.Close();
  EXPECT_NO_THROW(probe.Open());
}

TEST(RS232, TroubleSaysWhichPortAndKeepsTheSystemsText) {
  Pty pty;
  TRS232Interface owner(1, pty.SlavePath());
  owner.Open();
  TRS232Interface second(1, pty.SlavePath());
  try {
    second.Open();
    FAIL();
  } catch (const ENotInstalledError& e) {
    EXPECT_EQ(std::string(e.what()),
              "The serial port " + pty.SlavePath() + " is in use by another program.");
  }

  // The instrument goes away: the next send names the port before the system's text.
  pty.HangUp();
  try {
    owner.Send("*IDN?");
    FAIL();
  } catch (const EInterfaceError& e) {
    EXPECT_EQ(std::string(e.what()), "The instrument on " + pty.SlavePath() +
                                         " stopped answering: The input buffer could not be "
                                         "cleared. Error code is 0x05");
  }
  try {
    owner.Receive(100);
    FAIL();
  } catch (const EConnectionError& e) {
    EXPECT_EQ(std::string(e.what()), "The instrument on " + pty.SlavePath() +
                                         " stopped answering: The connection to the device was "
                                         "lost");
  }

  // A plain file opens, but has no line settings.
  char plain[] = "/tmp/ondrevo-plain-XXXXXX";
  const int fd = ::mkstemp(plain);
  ASSERT_GE(fd, 0);
  ::close(fd);
  TRS232Interface file(1, plain);
  try {
    file.Open();
    FAIL();
  } catch (const EConnectionError& e) {
    EXPECT_EQ(std::string(e.what()), std::string(plain) +
                                         " is not a serial port: Could not load COM port "
                                         "settings. Error code is 0x19");
  }
  EXPECT_FALSE(file.IsOpen());
  ::unlink(plain);
}

TEST(RS232, ScannerHasOneComInterface) {
  TRS232Interface scanner(1);
  TInterfaceList list;
  scanner.GetInterfaces(list);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->Name, "COM");
  EXPECT_TRUE(std::dynamic_pointer_cast<IDeviceScanner>(list[0]));
}

TEST(RS232, DiscoveryIdentifiesAnsweringPortsAndSkipsSilentOnes) {
  InstallSupplyDrivers();
  Pty silent, instrument;
  const char* old = std::getenv("ONDREVO_SERIAL_PORTS");
  const std::string saved = old ? old : "";
  ::setenv("ONDREVO_SERIAL_PORTS",
           ("/nonexistent:" + silent.SlavePath() + ":" + instrument.SlavePath()).c_str(), 1);
  std::thread answer([&] {
    // Answers the identification query of the probe.
    for (int i = 0; i < 50; ++i) {
      const std::string line = instrument.Read(100);
      if (line.find("*IDN?") != std::string::npos) {
        instrument.Write("KESTRAVO,KSV7342,123456,1.02\r\n");
        return;
      }
    }
  });
  TRS232Interface scanner(1);
  scanner.Name = "COM";
  TDeviceList devices;
  scanner.GetDevices(devices);
  answer.join();
  if (old)
    ::setenv("ONDREVO_SERIAL_PORTS", saved.c_str(), 1);
  else
    ::unsetenv("ONDREVO_SERIAL_PORTS");

  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]->GetModel(), "KSV 7342");
  EXPECT_EQ(devices[0]->GetSerialNumber(), "123456");
  auto driver = std::dynamic_pointer_cast<TKsv7340Device>(devices[0]);
  ASSERT_TRUE(driver);
  auto transport = std::dynamic_pointer_cast<TRS232Interface>(driver->GetInterface());
  ASSERT_TRUE(transport);
  EXPECT_EQ(transport->Name, "COM");
  EXPECT_EQ(transport->DevicePath, instrument.SlavePath());
  EXPECT_NE(transport.get(), &scanner);
  EXPECT_FALSE(transport->IsOpen());
}

}  // namespace
}  // namespace ondrevo
