// GPIB transport and scanner over the NI-488.2 library. An object is a controller board (the
// scanner: board number and descriptor) or one instrument on a board (board and address).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/DeviceInterfaces.h"
#include "devices/Interface.h"

namespace ondrevo {

class TGpibLibrary;

class TGpibInterface : public TInterface, public IDeviceScanner {
 public:
  // Loads the library; raises ENotInstalledError "GPIB-DLL could not be loaded" without it.
  explicit TGpibInterface(int32_t boardIndex = 0, int32_t primaryAddress = 0);
  ~TGpibInterface() override;

  bool IsBusy() override;
  void Open() override;
  void Close() override;
  void OpenDevice() override;
  void CloseDevice() override;
  void SetRemote() override;
  void SetLocal() override;

  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;

  int32_t BoardIndex;
  int32_t PrimaryAddress;
  // What the last GetDevices heard from instruments of other makers (a bench meter, say):
  // address and *IDN? reply. They are no devices of ours but can be measured with.
  struct TOtherInstrument {
    int32_t Address = 0;
    std::string Identification;
  };
  std::vector<TOtherInstrument> OtherInstruments;
  int32_t BoardDescriptor = -1;  // -1 none (not opened, or opening failed), >= 0 open
  int32_t DeviceDescriptor = 0;  // 0 not opened, -1 opening failed, > 0 open

  // Boards tried by GetInterfaces; addresses on a board.
  static constexpr int32_t kMaxBoards = 20;
  static constexpr int32_t kMaxAddress = 30;
  // How long discovery waits for an identification reply.
  static constexpr uint32_t kProbeTimeoutMs = 3000;

 protected:
  void DoSend(const std::string& command) override;
  std::string DoReceive(uint32_t timeoutMs) override;

 private:
  std::string BoardName() const { return "GPIB" + std::to_string(BoardIndex); }
  // Serial polls until the status byte has MAV or the time is up; false without MAV.
  bool WaitForMessage(int ud, uint32_t timeoutMs, bool& failed);

  std::shared_ptr<TGpibLibrary> library_;
  std::mutex lock_;  // one Send, Receive or IsBusy at a time
};

}  // namespace ondrevo
