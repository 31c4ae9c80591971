// USB transport and scanner over the maker's USB library (ONDREVO_USB_LIBRARY, else
// libksvdrv.so), which needs the maker's monitor process running.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/DeviceInterfaces.h"
#include "devices/Interface.h"
#include "transports/KsvUsb.h"

namespace ondrevo {

// True when a process with the monitor's executable name runs (names compared in upper case).
bool UsbMonitorRunning();

class TUsbInterface;

// "USB::881002" for an instrument listed as "SIMLAB,DMM-100,881002,1.00": its serial number,
// else the whole identification string.
std::string UsbInstrumentName(const std::string& identification);
// A line to the listed instrument named so (by UsbInstrumentName or its whole identification
// string); throws EConnectionError when none is listed under that name.
std::shared_ptr<TUsbInterface> OpenUsbInstrument(const std::string& name);

class TUsbInterface : public TInterface, public IDeviceScanner {
 public:
  // Raises ENotInstalledError "USB driver could not be loaded" or "USB monitor is not running".
  TUsbInterface();
  ~TUsbInterface() override;

  bool IsBusy() override;
  void Open() override {}
  void Close() override;
  void OpenDevice() override;
  void CloseDevice() override;
  void SetRemote() override { Send(";SYST:REM"); }
  void SetLocal() override { Send("SYST:LOC"); }

  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;

  std::string DeviceName;  // the library's identification string of the instrument
  // Listed by the library but not our maker's supplies (a bench meter, perhaps): by the last
  // GetDevices, their identification strings.
  std::vector<std::string> OtherInstruments;
  bool IsConnected() const { return handle_ != 0; }

 protected:
  void DoSend(const std::string& command) override;
  std::string DoReceive(uint32_t timeoutMs) override;

 private:
  // Raises the exception of a status code; `reading` picks the text of code 4.
  static void Raise(uint8_t code, bool reading);

  void* library_ = nullptr;
  ksvusb::get_num_devices_t get_num_devices_ = nullptr;
  ksvusb::open_t open_ = nullptr;
  ksvusb::close_t close_ = nullptr;
  ksvusb::read_t read_ = nullptr;
  ksvusb::write_t write_ = nullptr;
  ksvusb::get_status_t get_status_ = nullptr;
  uint32_t handle_ = 0;
  std::mutex lock_;  // one Send, Receive or IsBusy at a time
};

}  // namespace ondrevo
