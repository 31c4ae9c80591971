// Serial-line transport and scanner. Port n is the n-th entry of the ports the system lists,
// followed by the paths in ONDREVO_SERIAL_PORTS (colon-separated).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "devices/DeviceErrors.h"
#include "devices/DeviceInterfaces.h"
#include "devices/Interface.h"

namespace ondrevo {

// Line settings of a port; codes as kept in the preferences.
struct TRS232Settings {
  int32_t BaudRate = 9600;
  int32_t DataBits = 8;
  int32_t Parity = 0;        // 0 none, 1 odd, 2 even
  int32_t StopBits = 0;      // 0 one stop bit, 2 two stop bits
  int32_t Handshake = 4880;  // 4112 none, 4880 Xon/Xoff, 8212 RTS/CTS, 4136 DTR/DSR
  friend bool operator==(const TRS232Settings&, const TRS232Settings&) = default;
};

inline constexpr int32_t kHandshakeNone = 4112;
inline constexpr int32_t kHandshakeXonXoff = 4880;
inline constexpr int32_t kHandshakeRtsCts = 8212;
inline constexpr int32_t kHandshakeDtrDsr = 4136;

// The port does not take the baud rate of the settings.
class EBaudRateError : public EConnectionError {
 public:
  using EConnectionError::EConnectionError;
};

// The defaults every newly constructed transport copies; the program sets them from its
// preferences. Thread-safe.
void SetRS232Defaults(const TRS232Settings& settings);
TRS232Settings GetRS232Defaults();

// Device paths in port-number order (port 1 first).
std::vector<std::string> ListSerialPorts();

class TRS232Interface : public TInterface, public IDeviceScanner {
 public:
  // devicePath empty: resolved from the port list when opened.
  explicit TRS232Interface(int32_t portNumber, std::string devicePath = {});
  ~TRS232Interface() override;

  bool IsBusy() override { return false; }
  void Open() override;
  void Close() override;
  void OpenDevice() override {}
  void CloseDevice() override {}
  void SetRemote() override { Send(";SYST:REM"); }
  void SetLocal() override { Send("SYST:LOC"); }

  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;

  int32_t PortNumber;
  std::string DevicePath;
  const TRS232Settings Settings;
  // What the last GetDevices heard from instruments of other makers on the ports (a bench
  // meter, say): port number, path and *IDN? reply.
  struct TOtherInstrument {
    int32_t Port = 0;
    std::string Path;
    std::string Identification;
  };
  std::vector<TOtherInstrument> OtherInstruments;
  bool IsOpen() const { return handle_ >= 0; }

  // How long discovery waits for an identification reply.
  static constexpr uint32_t kProbeTimeoutMs = 200;
  // Highest port number discovery tries.
  static constexpr int32_t kMaxPorts = 256;

 protected:
  void DoSend(const std::string& command) override;
  std::string DoReceive(uint32_t timeoutMs) override;

 private:
  std::string ResolvePath() const;
  void Configure();
  // "The instrument on <port> stopped answering: " before the system's text.
  std::string StoppedAnswering(const std::string& systemText) const;

  int handle_ = -1;
  std::string openPath_;  // the device path the open port came from
  std::mutex lock_;       // one Send or one Receive at a time
};

}  // namespace ondrevo
