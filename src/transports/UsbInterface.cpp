#include "transports/UsbInterface.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/Probe.h"
#include "devices/VendorLibrary.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

using namespace ksvusb;

bool UsbMonitorRunning() {
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  const std::string wanted = Upper(kMonitorName);
  bool found = false;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm("/proc/" + name + "/comm");
    std::string command;
    if (std::getline(comm, command) && Upper(command) == wanted) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

namespace {

template <typename T>
bool Resolve(void* handle, const char* name, T& target) {
  target = reinterpret_cast<T>(OwnSymbol(handle, name));
  return target != nullptr;
}

}  // namespace

TUsbInterface::TUsbInterface() {
  const char* path = std::getenv("ONDREVO_USB_LIBRARY");
  library_ = ::dlopen(path && *path ? path : "libksvdrv.so", RTLD_NOW | RTLD_LOCAL);
  if (!library_) throw ENotInstalledError(_("USB driver could not be loaded"));
  if (!(Resolve(library_, "get_num_devices", get_num_devices_) &&
        Resolve(library_, "open", open_) && Resolve(library_, "close", close_) &&
        Resolve(library_, "read", read_) && Resolve(library_, "write", write_) &&
        Resolve(library_, "get_status", get_status_))) {
    ::dlclose(library_);
    throw ENotInstalledError(_("USB driver could not be loaded"));
  }
  if (!UsbMonitorRunning()) {
    ::dlclose(library_);
    throw ENotInstalledError(_("USB monitor is not running"));
  }
}

TUsbInterface::~TUsbInterface() {
  try {
    if (handle_ != 0) CloseDevice();
  } catch (...) {
  }
  ::dlclose(library_);
}

void TUsbInterface::Raise(uint8_t code, bool reading) {
  switch (code) {
    case kLost:
      throw EConnectionError(_("Device has been lost"));
    case kTransferFailed:
      throw ETransceiveError(reading ? _("The data could not be received")
                                     : _("The data could not be transmitted"));
    case kUnknown:
      throw std::runtime_error(_("An unkown error occurred"));
    case kDriverMissing:
      throw ENotInstalledError(_("An underlying driver DLL is missing"));
    case kNoData:
      throw ETransceiveError(_("No data available"));
    case kTimeout:
      throw ETimeoutError(_("The connection timed out"));
    default:
      break;
  }
}

void TUsbInterface::DoSend(const std::string& command) {
  std::lock_guard guard(lock_);
  if (handle_ == 0) throw EConnectionError(_("No device connected"));
  const std::string data = command + '\n';
  uint32_t written = 0;
  const uint8_t code = write_(handle_, data.data(), static_cast<uint32_t>(data.size()), &written);
  if (code == kLost || code == kTransferFailed || code == kUnknown || code == kDriverMissing)
    Raise(code, false);
}

std::string TUsbInterface::DoReceive(uint32_t /*timeoutMs*/) {
  std::lock_guard guard(lock_);
  if (handle_ == 0) throw EConnectionError(_("No device connected"));
  char buffer[kReadBufferSize] = {};
  uint32_t count = 0;
  const uint8_t code = read_(handle_, buffer, kReadBufferSize, &count);
  if (code == kOk) {
    std::size_t length = 0;
    const std::size_t limit = std::min<std::size_t>(count, kReadBufferSize);
    while (length < limit && buffer[length] != '\n' && buffer[length] != '\r') ++length;
    return std::string(buffer, length);
  }
  if (code == kLost) handle_ = 0;
  Raise(code, true);
  return {};
}

bool TUsbInterface::IsBusy() {
  std::lock_guard guard(lock_);
  if (handle_ == 0) throw EConnectionError(_("No device connected"));
  uint8_t status = 0;
  const uint8_t code = get_status_(handle_, &status);
  if (code == kOk) return (status & kReady) == 0;
  if (code == kLost) handle_ = 0;
  if (code == kLost || code == kTransferFailed || code == kUnknown || code == kDriverMissing)
    Raise(code, true);
  return false;
}

void TUsbInterface::Close() {
  if (handle_ != 0) CloseDevice();
}

void TUsbInterface::OpenDevice() {
  std::lock_guard guard(lock_);
  uint32_t handle = 0;
  if (handle_ != 0 || open_(DeviceName.c_str(), &handle) != kOk || handle == 0)
    throw EConnectionError(_("Could not connect to device"));
  handle_ = handle;
}

// Under the lock: a polling thread may be sending while the user disconnects.
void TUsbInterface::CloseDevice() {
  std::lock_guard guard(lock_);
  if (handle_ == 0) return;
  if (close_(handle_) != kOk) throw EConnectionError(_("Could not disconnect"));
  handle_ = 0;
}

void TUsbInterface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.clear();
  if (!UsbMonitorRunning()) return;
  auto bus = std::make_shared<TUsbInterface>();
  bus->Name = "USB";
  interfaces.push_back(bus);
}

void TUsbInterface::GetDevices(TDeviceList& devices) {
  devices.clear();
  OtherInstruments.clear();
  char buffer[kListBufferSize] = {};
  char* buffers[kListEntries] = {buffer};
  uint32_t count = kListEntries;
  if (get_num_devices_(buffers, &count, kListBufferSize) != kOk) return;
  count = std::min(count, kListEntries);
  std::size_t at = 0;
  for (uint32_t k = 0; k < count && at < kListBufferSize - 1; ++k) {
    std::string entry;
    while (at < kListBufferSize - 1 && buffer[at] != '\0') entry += buffer[at++];
    ++at;
    if (!IsMakerReply(entry) && ParseIdentification(entry).Model.rfind("KSV", 0) != 0) {
      OtherInstruments.push_back(entry);
      continue;
    }
    auto transport = std::make_shared<TUsbInterface>();
    transport->Name = Name;
    transport->DeviceName = entry;
    devices.push_back(MakeIdentifiedDevice(entry, transport));
  }
}

std::string UsbInstrumentName(const std::string& identification) {
  const auto first = identification.find(',');
  const auto second = first == std::string::npos ? first : identification.find(',', first + 1);
  if (second != std::string::npos) {
    const auto end = identification.find(',', second + 1);
    const std::string serial(Trim(identification.substr(
        second + 1, end == std::string::npos ? std::string::npos : end - second - 1)));
    if (!serial.empty()) return "USB::" + serial;
  }
  return "USB::" + identification;
}

std::shared_ptr<TUsbInterface> OpenUsbInstrument(const std::string& name) {
  TUsbInterface bus;
  TDeviceList devices;
  bus.GetDevices(devices);
  for (const std::string& entry : bus.OtherInstruments)
    if (name == UsbInstrumentName(entry) || name == "USB::" + entry) {
      auto line = std::make_shared<TUsbInterface>();
      line->Name = "USB";
      line->DeviceName = entry;
      line->OpenDevice();
      return line;
    }
  throw EConnectionError(_("No instrument of that name on the USB bus: ") + EscapeControls(name));
}

}  // namespace ondrevo
