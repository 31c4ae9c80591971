#include "transports/GpibInterface.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/Probe.h"
#include "document/Translate.h"
#include "transports/GpibLibrary.h"

namespace ondrevo {

using namespace gpib;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollSleep = std::chrono::milliseconds(50);

}  // namespace

TGpibInterface::TGpibInterface(int32_t boardIndex, int32_t primaryAddress)
    : BoardIndex(boardIndex), PrimaryAddress(primaryAddress), library_(TGpibLibrary::Acquire()) {
  Name = BoardName();
}

TGpibInterface::~TGpibInterface() {
  try {
    if (DeviceDescriptor > 0) CloseDevice();
    if (BoardDescriptor >= 0) Close();
  } catch (...) {
  }
}

void TGpibInterface::Open() {
  if (BoardDescriptor >= 0) return;
  TGpibLibrary& lib = *library_;
  BoardDescriptor = lib.ibfind(BoardName().c_str());
  if (BoardDescriptor < 0) {
    BoardDescriptor = -1;
    throw EConnectionError(std::string(_("Could not find GPIB controller")) + " " + BoardName());
  }
  int systemController = 0;
  const int status = lib.ibask(BoardDescriptor, IbaSC, &systemController);
  if (status <= 0 || (status & ERR)) {
    BoardDescriptor = -1;
    throw EConnectionError(_("Could not check system controller state"));
  }
  if (systemController == 0) {
    BoardDescriptor = -1;
    throw EConnectionError(std::string(_("The board")) + " " + BoardName() + " " +
                           _("is no system controller"));
  }
  if (!(status & CIC) && (lib.ibsic(BoardDescriptor) & ERR)) {
    BoardDescriptor = -1;
    throw EConnectionError(_("The bus could not be initialized"));
  }
  if (lib.ibconfig(BoardDescriptor, IbcSRE, 1) & ERR) {
    BoardDescriptor = -1;
    throw EConnectionError(_("Could not set remote enable"));
  }
}

void TGpibInterface::Close() {
  CloseDevice();
  if (BoardDescriptor >= 0) {
    if (library_->ibconfig(BoardDescriptor, IbcSRE, 0) & ERR) {
      BoardDescriptor = -1;
      throw EConnectionError(_("Could not unset remote enable"));
    }
  }
  BoardDescriptor = -1;
}

void TGpibInterface::OpenDevice() {
  std::lock_guard guard(lock_);
  if (BoardDescriptor < 0) throw EConnectionError(_("Interface not opened"));
  if (DeviceDescriptor > 0) return;
  TGpibLibrary& lib = *library_;
  DeviceDescriptor = lib.ibdev(BoardIndex, PrimaryAddress, NO_SAD, T1s, 0, 0x0A);
  if (DeviceDescriptor <= 0) {
    DeviceDescriptor = -1;
    throw EConnectionError(_("Device could not be opened"));
  }
  if (lib.ibclr(DeviceDescriptor) & ERR) {
    DeviceDescriptor = -1;
    throw EConnectionError(_("Device could not be cleared"));
  }
  if (lib.ibconfig(DeviceDescriptor, IbcTMO, T1s) & ERR) {
    DeviceDescriptor = -1;
    throw EConnectionError(_("Could not set timeout"));
  }
}

// Under the lock: a polling thread may be sending while the user disconnects.
void TGpibInterface::CloseDevice() {
  std::lock_guard guard(lock_);
  if (DeviceDescriptor > 0) {
    library_->ibclr(DeviceDescriptor);
    // The descriptor goes back to the library, so it is not used up by every connection.
    library_->ibonl(DeviceDescriptor, 0);
  }
  DeviceDescriptor = 0;
}

void TGpibInterface::SetRemote() {
  std::lock_guard guard(lock_);
  if (DeviceDescriptor > 0 && (library_->ibonl(DeviceDescriptor, 1) & ERR))
    throw EConnectionError(_("Could not set device to remote"));
}

void TGpibInterface::SetLocal() {
  std::lock_guard guard(lock_);
  if (DeviceDescriptor > 0 && (library_->ibloc(DeviceDescriptor) & ERR))
    throw EConnectionError(_("Could not set device to local"));
}

void TGpibInterface::DoSend(const std::string& command) {
  std::lock_guard guard(lock_);
  if (DeviceDescriptor <= 0) throw EConnectionError(_("No device connected"));
  const std::string data = command + '\n';
  TGpibLibrary& lib = *library_;
  if (lib.ibwrt(DeviceDescriptor, data.data(), static_cast<long>(data.size())) & ERR) {
    const int error = lib.Error();
    if (error == ENOL || error == EBUS) throw EConnectionError(_("The device has been lost"));
    if (error == EABO) throw ETimeoutError(_("The connection timed out"));
  }
}

bool TGpibInterface::WaitForMessage(int ud, uint32_t timeoutMs, bool& failed) {
  TGpibLibrary& lib = *library_;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char statusByte = 0;
  failed = (lib.ibrsp(ud, &statusByte) & ERR) != 0;
  while (!failed) {
    if (statusByte & MAV) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollSleep);
    failed = (lib.ibrsp(ud, &statusByte) & ERR) != 0;
  }
  return false;
}

std::string TGpibInterface::DoReceive(uint32_t timeoutMs) {
  std::lock_guard guard(lock_);
  if (DeviceDescriptor <= 0) throw EConnectionError(_("No device connected"));
  TGpibLibrary& lib = *library_;
  bool failed = false;
  if (!WaitForMessage(DeviceDescriptor, timeoutMs, failed)) {
    // A lost instrument says so at once instead of as a time-out.
    if (failed && (lib.Error() == ENOL || lib.Error() == EBUS))
      throw EConnectionError(_("The device has been lost"));
    throw ETimeoutError(_("The device timed out"));
  }
  char buffer[256] = {};
  const int status = lib.ibrd(DeviceDescriptor, buffer, sizeof buffer);
  if (status & ERR) {
    const int error = lib.Error();
    if (error == ENOL || error == EBUS) throw EConnectionError(_("The device has been lost"));
    if (error == EABO) throw ETimeoutError(_("The connection timed out"));
  }
  // The byte count is not asked for: the reply ends at its line end or at the buffer's end.
  std::size_t length = 0;
  while (length < sizeof buffer && buffer[length] != '\n' && buffer[length] != '\r' &&
         buffer[length] != '\0')
    ++length;
  return std::string(buffer, length);
}

bool TGpibInterface::IsBusy() {
  std::lock_guard guard(lock_);
  if (DeviceDescriptor <= 0) throw EConnectionError(_("No device connected"));
  char statusByte = 0;
  TGpibLibrary& lib = *library_;
  if (lib.ibrsp(DeviceDescriptor, &statusByte) & ERR) {
    const int error = lib.Error();
    if (error == EABO) throw ETimeoutError(_("The connection timed out"));
    if (error == EBUS || error == ENOL) throw EConnectionError(_("The device has been lost"));
  }
  return (statusByte & READY) == 0;
}

void TGpibInterface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.clear();
  TGpibLibrary& lib = *library_;
  for (int32_t n = 0; n < kMaxBoards; ++n) {
    const int board = lib.ibfind(("GPIB" + std::to_string(n)).c_str());
    if (board < 0) continue;  // the library numbers boards from descriptor 0
    int systemController = 0;
    const int status = lib.ibask(board, IbaSC, &systemController);
    if (status <= 0 || (status & ERR) || systemController == 0) continue;
    auto found = std::make_shared<TGpibInterface>(n);
    found->BoardDescriptor = board;
    interfaces.push_back(found);
  }
}

void TGpibInterface::GetDevices(TDeviceList& devices) {
  devices.clear();
  OtherInstruments.clear();
  TGpibLibrary& lib = *library_;
  const int board = lib.ibfind(BoardName().c_str());
  if (board < 0) return;
  int ownAddress = -1;
  const int status = lib.ibask(board, IbaPAD, &ownAddress);
  if (!(status & CIC) && (lib.ibsic(board) & ERR)) return;
  lib.ibsre(board, 1);
  for (int address = 0; address <= kMaxAddress; ++address) {
    if (address == ownAddress) continue;
    short listener = 0;
    if (lib.ibln(board, address, NO_SAD, &listener) & ERR) break;
    if (!listener) continue;
    const int ud = lib.ibdev(BoardIndex, address, NO_SAD, T1s, 0, 0x0A);
    if (ud <= 0) continue;
    lib.ibclr(ud);
    std::this_thread::sleep_for(kPollSleep);
    lib.ibtmo(ud, T1s);
    lib.ibwrt(ud, "*IDN?\n", 6);
    bool failed = false;
    std::string reply;
    if (WaitForMessage(ud, kProbeTimeoutMs, failed)) {
      char buffer[256] = {};
      lib.ibrd(ud, buffer, 255);
      reply.assign(buffer, ::strnlen(buffer, 255));
    }
    lib.ibloc(ud);
    lib.ibonl(ud, 0);
    if (!IsMakerReply(reply)) {
      while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
      if (!reply.empty()) OtherInstruments.push_back({address, reply});
      continue;
    }
    auto transport = std::make_shared<TGpibInterface>(BoardIndex, address);
    transport->Name = Name;
    devices.push_back(MakeIdentifiedDevice(reply, transport));
  }
}

}  // namespace ondrevo
