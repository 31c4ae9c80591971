// Instruments on the network: a raw SCPI socket (TCPIP::HOST::PORT::SOCKET) and VXI-11
// (TCPIP::HOST::INSTR) through liblxi, and the "LAN" bus that probes a list of hosts.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devices/DeviceErrors.h"
#include "devices/DeviceInterfaces.h"
#include "devices/Interface.h"

namespace ondrevo {

struct TLanAddress {
  std::string Host;
  int Port = 5025;               // the raw socket's port
  bool Socket = true;            // false: VXI-11
  std::string Device = "inst0";  // the VXI-11 device name
  // As the field writes it: TCPIP::HOST::PORT::SOCKET or TCPIP::HOST::INSTR.
  std::string Text() const;
};

inline constexpr int kDefaultScpiPort = 5025;

// The host itself cannot be reached (unknown, silent, no route): no port of it will answer.
class EHostUnreachableError : public EConnectionError {
 public:
  using EConnectionError::EConnectionError;
};

// Reads TCPIP[n]::HOST::PORT::SOCKET and TCPIP[n]::HOST[::DEVICE][::INSTR], any letter case;
// nothing for any other text.
std::optional<TLanAddress> ParseLanAddress(const std::string& text);

// A host list entry: "HOST", "HOST:PORT" or an address as above. Nothing when it is none.
struct TLanHostEntry {
  std::string Host;
  int Port = kDefaultScpiPort;
  bool Raw = true;  // probe the raw socket
  bool Vxi = true;  // probe VXI-11
};
std::optional<TLanHostEntry> ParseLanHostEntry(const std::string& text);

// The hosts of the preferences (set by the program) and of ONDREVO_LAN_HOSTS (separated by
// commas, semicolons or blanks), in that order, without repeats. Thread-safe.
void SetLanHosts(const std::vector<std::string>& hosts);
std::vector<TLanHostEntry> ListLanHosts();
// Broadcast and mDNS discovery through liblxi (off unless the preferences or
// ONDREVO_LAN_DISCOVER=1 turn it on: it costs seconds and finds nothing on most networks).
void SetLanDiscovery(bool enabled);
bool LanDiscoveryEnabled();

// Shared by both transports: the line operations and "stopped answering" texts.
class TLanTransport : public TInterface {
 public:
  explicit TLanTransport(TLanAddress address) : Address(std::move(address)) {}
  const TLanAddress Address;

  bool IsBusy() override { return false; }
  void OpenDevice() override {}
  void CloseDevice() override {}
  void SetRemote() override { Send(";SYST:REM"); }
  void SetLocal() override { Send("SYST:LOC"); }

  // How long opening waits for the host; discovery shortens it.
  uint32_t ConnectTimeoutMs = 3000;

 protected:
  std::string StoppedAnswering(const std::string& why) const;
};

class TLanSocketInterface : public TLanTransport {
 public:
  explicit TLanSocketInterface(TLanAddress address);
  ~TLanSocketInterface() override;
  void Open() override;
  void Close() override;
  bool IsOpen() const { return handle_ >= 0; }

 protected:
  void DoSend(const std::string& command) override;
  std::string DoReceive(uint32_t timeoutMs) override;

 private:
  // The error for a connection the peer closed, after these last bytes from it.
  EConnectionError Lost(const std::string& lastBytes) const;
  // Whatever the peer sent that is still unread, without waiting (at most a few hundred bytes).
  std::string ReadWhatIsLeft();
  static constexpr const char* kBusyReply = "ERROR: busy";

  int handle_ = -1;
  std::string pending_;  // bytes after the last line end, kept for the next reply
  std::mutex lock_;
};

class TLanVxiInterface : public TLanTransport {
 public:
  explicit TLanVxiInterface(TLanAddress address);
  ~TLanVxiInterface() override;
  void Open() override;
  void Close() override;
  bool IsOpen() const { return device_ >= 0; }

 protected:
  void DoSend(const std::string& command) override;
  std::string DoReceive(uint32_t timeoutMs) override;

 private:
  // The host's port mapper takes a connection (the host is still on the network).
  bool HostAnswers() const;
  int device_ = -1;
  std::mutex lock_;
};

// The "LAN" node: every listed host probed on both transports, plus discovery where enabled.
// The transport an address names: the raw socket or VXI-11. Not opened.
std::shared_ptr<TLanTransport> MakeLanTransport(const TLanAddress& address);

class TLanInterface : public TSilentInterface, public IDeviceScanner {
 public:
  TLanInterface() { Name = "LAN"; }
  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;

  // Opening time-out of a probe: a host that is off costs no more.
  static constexpr uint32_t kProbeConnectMs = 1000;
  static constexpr uint32_t kProbeReplyMs = 1000;

  // SCPI instruments of other makers heard at the last search (a bench meter, perhaps).
  struct TOtherInstrument {
    TLanAddress Address;
    std::string Identification;
  };
  std::vector<TOtherInstrument> OtherInstruments;
};

}  // namespace ondrevo
