// The maker's USB library as the USB transport uses it: six entry points and the status codes
// the program tells apart. Shared by the binding and the simulated library that stands in for it.
#pragma once

#include <cstdint>

namespace ondrevo::ksvusb {

inline constexpr uint8_t kOk = 0;
inline constexpr uint8_t kLost = 1;
inline constexpr uint8_t kTransferFailed = 4;
inline constexpr uint8_t kUnknown = 18;
inline constexpr uint8_t kDriverMissing = 23;
inline constexpr uint8_t kNoData = 24;
inline constexpr uint8_t kTimeout = 25;

inline constexpr uint32_t kListBufferSize = 1024;
inline constexpr uint32_t kListEntries = 10;
inline constexpr uint32_t kReadBufferSize = 255;
inline constexpr uint8_t kReady = 0x80;  // status byte bit 7: no waveform runs

extern "C" {
using get_num_devices_t = uint8_t (*)(char** buffers, uint32_t* count, uint32_t size);
using open_t = uint8_t (*)(const char* device, uint32_t* handle);
using close_t = uint8_t (*)(uint32_t handle);
using read_t = uint8_t (*)(uint32_t handle, char* buffer, uint32_t size, uint32_t* count);
using write_t = uint8_t (*)(uint32_t handle, const char* data, uint32_t count, uint32_t* written);
using get_status_t = uint8_t (*)(uint32_t handle, uint8_t* status);
}

// The monitor process the library needs, by its executable name.
inline constexpr const char* kMonitorName = "KSVMon32.exe";

}  // namespace ondrevo::ksvusb
