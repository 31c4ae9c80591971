// libondrevo-usb-sim.so: the six entry points of the maker's USB library, answering from
// simulated instruments that the loading program attaches. Instruments are listed by their
// identification string, in attach order.
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimEndpoint.h"
#include "transports/KsvUsb.h"

using namespace ondrevo::ksvusb;

namespace {

using Clock = std::chrono::steady_clock;

struct Attached {
  std::string id;
  ondrevo_sim_endpoint endpoint;
  bool present = true;
};

struct Reply {
  std::string bytes;
  Clock::time_point ready;
};

struct Connection {
  std::size_t instrument = 0;  // index into gInstruments
  std::string input;
  std::deque<Reply> output;
};

std::mutex gLock;
std::vector<Attached> gInstruments;
std::map<uint32_t, Connection> gConnections;
uint32_t gNextHandle = 1;
int gTimeoutMs = 3000;
uint8_t gFailNext = 0;  // status the next call returns instead of doing its work

bool TakeFailure(uint8_t& code) {
  code = gFailNext;
  gFailNext = 0;
  return code != 0;
}

Attached* InstrumentOf(uint32_t handle, Connection** connection) {
  const auto it = gConnections.find(handle);
  if (it == gConnections.end()) return nullptr;
  *connection = &it->second;
  Attached& a = gInstruments[it->second.instrument];
  return a.present ? &a : nullptr;
}

// A driver that hangs: while the file ONDREVO_USB_SIM_BLOCK names exists, open and read do not
// return. Nothing else is held meanwhile, as a driver stuck in the kernel would hold nothing of
// ours either.
void WaitWhileBlocked() {
  const char* path = std::getenv("ONDREVO_USB_SIM_BLOCK");
  if (!path || !*path) return;
  struct stat info {};
  while (::stat(path, &info) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

#define EXPORT __attribute__((visibility("default")))

// The library's entry points carry the names of C library functions: declared under other
// names here and given theirs as symbol names only.
EXPORT uint8_t UsbOpen(const char* device, uint32_t* handle) __asm__("open");
EXPORT uint8_t UsbClose(uint32_t handle) __asm__("close");
EXPORT uint8_t UsbWrite(uint32_t handle, const char* data, uint32_t count,
                        uint32_t* written) __asm__("write");
EXPORT uint8_t UsbRead(uint32_t handle, char* buffer, uint32_t size,
                       uint32_t* count) __asm__("read");

extern "C" {

EXPORT uint8_t get_num_devices(char** buffers, uint32_t* count, uint32_t size) {
  std::lock_guard lock(gLock);
  if (!buffers || !buffers[0] || !count || size == 0) return kUnknown;
  std::size_t at = 0;
  uint32_t listed = 0;
  for (const Attached& a : gInstruments) {
    if (!a.present || listed >= *count) continue;
    if (at + a.id.size() + 1 > size) break;
    std::memcpy(buffers[0] + at, a.id.c_str(), a.id.size() + 1);
    at += a.id.size() + 1;
    ++listed;
  }
  *count = listed;
  return kOk;
}

}  // extern "C"

uint8_t UsbOpen(const char* device, uint32_t* handle) {
  WaitWhileBlocked();
  std::lock_guard lock(gLock);
  if (!device || !handle) return kUnknown;
  for (std::size_t k = 0; k < gInstruments.size(); ++k)
    if (gInstruments[k].present && gInstruments[k].id == device) {
      *handle = gNextHandle++;
      gConnections[*handle] = Connection{k, {}, {}};
      return kOk;
    }
  return kLost;
}

uint8_t UsbClose(uint32_t handle) {
  std::lock_guard lock(gLock);
  return gConnections.erase(handle) ? kOk : kUnknown;
}

uint8_t UsbWrite(uint32_t handle, const char* data, uint32_t count, uint32_t* written) {
  std::lock_guard lock(gLock);
  if (uint8_t code = 0; TakeFailure(code)) return code;
  Connection* c = nullptr;
  Attached* a = InstrumentOf(handle, &c);
  if (!a) return kLost;
  c->input.append(data, count);
  if (written) *written = count;
  for (auto end = c->input.find('\n'); end != std::string::npos; end = c->input.find('\n')) {
    std::string line = c->input.substr(0, end);
    c->input.erase(0, end + 1);
    static thread_local char reply[ONDREVO_SIM_REPLY_CAPACITY];
    long length = 0;
    int delay = 0;
    const int result =
        a->endpoint.line(a->endpoint.context, line.data(), static_cast<long>(line.size()), reply,
                         sizeof reply, &length, &delay);
    if (result < 0) {
      a->present = false;
      return kLost;
    }
    if (result > 0)
      c->output.push_back(Reply{std::string(reply, static_cast<std::size_t>(length)),
                                Clock::now() + std::chrono::milliseconds(delay)});
  }
  return kOk;
}

uint8_t UsbRead(uint32_t handle, char* buffer, uint32_t size, uint32_t* count) {
  WaitWhileBlocked();
  int timeout = 0;
  {
    std::lock_guard lock(gLock);
    if (uint8_t code = 0; TakeFailure(code)) return code;
    timeout = gTimeoutMs;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
  for (;;) {
    {
      std::lock_guard lock(gLock);
      Connection* c = nullptr;
      if (!InstrumentOf(handle, &c)) return kLost;
      if (!c->output.empty() && c->output.front().ready <= Clock::now()) {
        std::string& bytes = c->output.front().bytes;
        const std::size_t n = std::min<std::size_t>(bytes.size(), size);
        std::memcpy(buffer, bytes.data(), n);
        bytes.erase(0, n);
        if (bytes.empty()) c->output.pop_front();
        if (count) *count = static_cast<uint32_t>(n);
        return kOk;
      }
    }
    if (Clock::now() >= deadline) return kTimeout;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

extern "C" {

EXPORT uint8_t get_status(uint32_t handle, uint8_t* status) {
  std::lock_guard lock(gLock);
  if (uint8_t code = 0; TakeFailure(code)) return code;
  Connection* c = nullptr;
  Attached* a = InstrumentOf(handle, &c);
  if (!a) return kLost;
  const bool busy = a->endpoint.busy && a->endpoint.busy(a->endpoint.context);
  *status = busy ? 0 : kReady;
  return kOk;
}

// Control of the stand-in, for the program that hosts the instruments.
EXPORT int ondrevo_usb_sim_attach(const char* id, const ondrevo_sim_endpoint* endpoint) {
  std::lock_guard lock(gLock);
  if (!id || !endpoint || !endpoint->line) return -1;
  gInstruments.push_back(Attached{id, *endpoint, true});
  return 0;
}

EXPORT void ondrevo_usb_sim_detach(void* context) {
  std::lock_guard lock(gLock);
  for (Attached& a : gInstruments)
    if (a.present && a.endpoint.context == context) a.present = false;
}

EXPORT void ondrevo_usb_sim_fail_next(int code) {
  std::lock_guard lock(gLock);
  gFailNext = static_cast<uint8_t>(code);
}

EXPORT void ondrevo_usb_sim_timeout(int milliseconds) {
  std::lock_guard lock(gLock);
  gTimeoutMs = milliseconds;
}

}  // extern "C"
