// libondrevo-gpib-sim.so: the NI-488.2 entry points the GPIB transport calls, answering from
// simulated instruments that the loading program attaches at board addresses. Board 0 exists
// and is system controller at address 0; tests configure more. Board n has descriptor n, as in
// the library it stands in for.
//
// The arguments are checked against the C reference's own values, kept here apart from the
// transport's constants so that a wrong constant there does not pass because both share it:
// time-out codes, end-of-string settings and ibconfig/ibask options the stand-in does not know
// are refused (EARG), and what each device was opened with can be asked for.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimEndpoint.h"
#include "transports/Gpib488.h"

using namespace ondrevo::gpib;

namespace {

using Clock = std::chrono::steady_clock;

// From the NI-488.2 C reference (ni488.h).
namespace reference {
constexpr int IbcTMO = 0x0003;
constexpr int IbcEOT = 0x0004;
constexpr int IbcSRE = 0x000B;
constexpr int IbcEOSrd = 0x000C;
constexpr int IbcEOSchar = 0x000F;
constexpr int IbaPAD = 0x0001;
constexpr int IbaSC = 0x000A;
constexpr int TNONE = 0;
constexpr int T1000s = 17;
constexpr int EOSModeBits = 0x0400 | 0x0800 | 0x1000;  // REOS, XEOS, BIN
// Time-out codes T1ms (5) to T1000s (17), in milliseconds.
constexpr long kTimeoutMs[] = {1,    3,     10,    30,     100,    300,    1000,
                               3000, 10000, 30000, 100000, 300000, 1000000};
}  // namespace reference

bool ValidTimeout(int code) {
  return code >= reference::TNONE && code <= reference::T1000s;
}
// Codes 1 to 5 are below a millisecond.
long TimeoutMs(int code) {
  return code == 0 ? -1 : code < 5 ? 1 : reference::kTimeoutMs[code - 5];
}

struct Board {
  bool systemController = true;
  int pad = 0;
  int remoteEnable = 0;  // IbcSRE
};

struct Reply {
  std::string bytes;
  Clock::time_point ready;
};

struct Descriptor {
  bool isBoard = false;
  int board = 0;
  int pad = 0;
  std::string input;
  std::deque<Reply> output;
  int tmo = 0, eot = 0, eos = 0;  // as given to ibdev, then changed by ibconfig
};

// What ibdev was last given for an address: {tmo, eot, eos}.
struct Settings {
  int tmo = -1, eot = -1, eos = -1;
};

constexpr int kBoardBase = 0;    // board n has descriptor n
constexpr int kDeviceBase = 64;  // instrument descriptors from here on

std::mutex gLock;
std::map<int, Board> gBoards{{0, Board{}}};
std::map<std::pair<int, int>, ondrevo_sim_endpoint> gEndpoints;
std::map<int, Descriptor> gDescriptors;
std::map<std::pair<int, int>, Settings> gSettings;
int gNextDevice = kDeviceBase;

thread_local int tStatus = 0;
thread_local int tError = 0;
thread_local long tCount = 0;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int ibsta = 0;
__attribute__((visibility("default"))) int iberr = 0;
__attribute__((visibility("default"))) int ibcnt = 0;

}  // extern "C"

namespace {

int Finish(int status, int error = -1) {
  if (error >= 0) {
    status |= ERR;
    tError = error;
  }
  tStatus = status;
  ibsta = status;
  iberr = tError;
  ibcnt = static_cast<int>(tCount);
  return status;
}

int BoardStatus(int board) {
  const auto it = gBoards.find(board);
  return CMPL | (it != gBoards.end() && it->second.systemController ? CIC : 0);
}

Descriptor* Find(int ud) {
  if (ud >= kBoardBase && ud < kDeviceBase) {
    static thread_local Descriptor boardView;
    if (!gBoards.count(ud - kBoardBase)) return nullptr;
    boardView = Descriptor{true, ud - kBoardBase, gBoards[ud - kBoardBase].pad, {}, {}, 0, 0, 0};
    return &boardView;
  }
  const auto it = gDescriptors.find(ud);
  return it == gDescriptors.end() ? nullptr : &it->second;
}

ondrevo_sim_endpoint* Endpoint(const Descriptor& d) {
  const auto it = gEndpoints.find({d.board, d.pad});
  return it == gEndpoints.end() ? nullptr : &it->second;
}

bool ReplyReady(const Descriptor& d) {
  return !d.output.empty() && d.output.front().ready <= Clock::now();
}

}  // namespace

extern "C" {

#define EXPORT __attribute__((visibility("default")))

EXPORT int ThreadIbsta() {
  return tStatus;
}
EXPORT int ThreadIberr() {
  return tError;
}
EXPORT int ThreadIbcnt() {
  return static_cast<int>(tCount);
}
EXPORT long ThreadIbcntl() {
  return tCount;
}

EXPORT int ibfind(const char* name) {
  std::lock_guard lock(gLock);
  int board = -1;
  if (name && std::sscanf(name, "GPIB%d", &board) == 1 && gBoards.count(board)) {
    Finish(BoardStatus(board));
    return kBoardBase + board;
  }
  Finish(0, EDVR);
  return -1;
}

EXPORT int ibask(int ud, int option, int* value) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d || !d->isBoard || !value) return Finish(0, EARG);
  if (option == reference::IbaSC)
    *value = gBoards[d->board].systemController ? 1 : 0;
  else if (option == reference::IbaPAD)
    *value = gBoards[d->board].pad;
  else
    return Finish(0, EARG);
  return Finish(BoardStatus(d->board));
}

EXPORT int ibsic(int ud) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d || !d->isBoard) return Finish(0, EARG);
  if (!gBoards[d->board].systemController) return Finish(0, 1 /* ECIC */);
  return Finish(BoardStatus(d->board));
}

EXPORT int ibsre(int ud, int value) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d || !d->isBoard) return Finish(0, EARG);
  gBoards[d->board].remoteEnable = value != 0;
  return Finish(BoardStatus(d->board));
}

EXPORT int ibln(int ud, int pad, int /*sad*/, short* listen) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d || !d->isBoard || !listen) return Finish(0, EARG);
  *listen = gEndpoints.count({d->board, pad}) ? 1 : 0;
  return Finish(BoardStatus(d->board));
}

EXPORT int ibdev(int board, int pad, int /*sad*/, int tmo, int eot, int eos) {
  std::lock_guard lock(gLock);
  if (!gBoards.count(board) || pad < 0 || pad > 30 || !ValidTimeout(tmo) ||
      (eot != 0 && eot != 1) || (eos & ~(0xFF | reference::EOSModeBits)) != 0) {
    Finish(0, EARG);
    return -1;
  }
  const int ud = gNextDevice++;
  gDescriptors[ud] = Descriptor{false, board, pad, {}, {}, tmo, eot, eos};
  gSettings[{board, pad}] = Settings{tmo, eot, eos};
  Finish(CMPL);
  return ud;
}

EXPORT int ibconfig(int ud, int option, int value) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d) return Finish(0, EARG);
  if (d->isBoard) {
    if (option == reference::IbcSRE && (value == 0 || value == 1))
      gBoards[d->board].remoteEnable = value;
    else if (option != reference::IbcTMO || !ValidTimeout(value))
      return Finish(0, EARG);
    return Finish(BoardStatus(d->board));
  }
  if (option == reference::IbcTMO && ValidTimeout(value)) {
    d->tmo = value;
  } else if (option == reference::IbcEOT && (value == 0 || value == 1)) {
    d->eot = value;
  } else if (option == reference::IbcEOSchar && value >= 0 && value <= 0xFF) {
    d->eos = (d->eos & ~0xFF) | value;
  } else if (option == reference::IbcEOSrd && (value == 0 || value == 1)) {
    d->eos = value ? d->eos | 0x0400 : d->eos & ~0x0400;
  } else {
    return Finish(0, EARG);
  }
  return Finish(CMPL);
}

EXPORT int ibtmo(int ud, int value) {
  return ibconfig(ud, reference::IbcTMO, value);
}

EXPORT int ibonl(int ud, int value) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d) return Finish(0, EARG);
  if (value == 0 && !d->isBoard) gDescriptors.erase(ud);
  return Finish(CMPL);
}

EXPORT int ibclr(int ud) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d || d->isBoard) return Finish(0, EARG);
  if (!Endpoint(*d)) return Finish(0, ENOL);
  d->input.clear();
  d->output.clear();
  return Finish(CMPL);
}

EXPORT int ibloc(int ud) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d) return Finish(0, EARG);
  if (!d->isBoard && !Endpoint(*d)) return Finish(0, ENOL);
  return Finish(CMPL);
}

EXPORT int ibwrt(int ud, const void* buffer, long count) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  tCount = 0;
  if (!d || d->isBoard || !buffer || count < 0) return Finish(0, EARG);
  ondrevo_sim_endpoint* endpoint = Endpoint(*d);
  if (!endpoint) return Finish(0, ENOL);
  // A new message discards a reply nobody read, as an IEEE 488.2 instrument does.
  d->output.clear();
  d->input.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
  tCount = count;
  for (auto end = d->input.find('\n'); end != std::string::npos; end = d->input.find('\n')) {
    std::string line = d->input.substr(0, end);
    d->input.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    static thread_local char reply[ONDREVO_SIM_REPLY_CAPACITY];
    long length = 0;
    int delay = 0;
    const int result =
        endpoint->line(endpoint->context, line.data(), static_cast<long>(line.size()), reply,
                       sizeof reply, &length, &delay);
    if (result < 0) {
      gEndpoints.erase({d->board, d->pad});
      return Finish(0, ENOL);
    }
    if (result > 0)
      d->output.push_back(Reply{std::string(reply, static_cast<std::size_t>(length)),
                                Clock::now() + std::chrono::milliseconds(delay)});
  }
  return Finish(CMPL | END);
}

EXPORT int ibrsp(int ud, char* statusByte) {
  std::lock_guard lock(gLock);
  Descriptor* d = Find(ud);
  if (!d || d->isBoard || !statusByte) return Finish(0, EARG);
  ondrevo_sim_endpoint* endpoint = Endpoint(*d);
  if (!endpoint) return Finish(0, ENOL);
  const bool busy = endpoint->busy && endpoint->busy(endpoint->context);
  *statusByte = static_cast<char>((busy ? 0 : READY) | (ReplyReady(*d) ? MAV : 0));
  return Finish(CMPL);
}

EXPORT int ibrd(int ud, void* buffer, long count) {
  tCount = 0;
  long timeoutMs = -1;
  {
    std::lock_guard lock(gLock);
    if (const Descriptor* d = Find(ud)) timeoutMs = TimeoutMs(d->tmo);
  }
  // The device's own time-out; TNONE waits for ever.
  const auto deadline = timeoutMs < 0 ? Clock::time_point::max()
                                      : Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard lock(gLock);
      Descriptor* d = Find(ud);
      if (!d || d->isBoard || !buffer || count < 0) return Finish(0, EARG);
      if (!Endpoint(*d)) return Finish(0, ENOL);
      if (ReplyReady(*d)) {
        std::string& bytes = d->output.front().bytes;
        const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(count));
        std::memcpy(buffer, bytes.data(), n);
        bytes.erase(0, n);
        if (bytes.empty()) d->output.pop_front();
        tCount = static_cast<long>(n);
        return Finish(CMPL | END);
      }
    }
    if (Clock::now() >= deadline) return Finish(TIMO, EABO);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Control of the stand-in, for the program that hosts the instruments.
EXPORT void ondrevo_gpib_sim_board(int board, int systemController, int pad) {
  std::lock_guard lock(gLock);
  gBoards[board] = Board{systemController != 0, pad};
}

// The time-out code, end-of-transmission and end-of-string setting ibdev was last given for the
// address (-1 each where none was opened); 0 when one was, else -1.
EXPORT int ondrevo_gpib_sim_device_settings(int board, int pad, int* tmo, int* eot, int* eos) {
  std::lock_guard lock(gLock);
  const auto it = gSettings.find({board, pad});
  const Settings settings = it == gSettings.end() ? Settings{} : it->second;
  if (tmo) *tmo = settings.tmo;
  if (eot) *eot = settings.eot;
  if (eos) *eos = settings.eos;
  return it == gSettings.end() ? -1 : 0;
}

// The board's remote enable as set with ibconfig (IbcSRE); -1 for no such board.
EXPORT int ondrevo_gpib_sim_remote_enable(int board) {
  std::lock_guard lock(gLock);
  const auto it = gBoards.find(board);
  return it == gBoards.end() ? -1 : it->second.remoteEnable;
}

EXPORT void ondrevo_gpib_sim_remove_board(int board) {
  std::lock_guard lock(gLock);
  gBoards.erase(board);
}

EXPORT int ondrevo_gpib_sim_attach(int board, int pad, const ondrevo_sim_endpoint* endpoint) {
  std::lock_guard lock(gLock);
  if (!endpoint || !endpoint->line || pad < 0 || pad > 30) return -1;
  gEndpoints[{board, pad}] = *endpoint;
  return 0;
}

EXPORT void ondrevo_gpib_sim_detach(int board, int pad) {
  std::lock_guard lock(gLock);
  gEndpoints.erase({board, pad});
}

}  // extern "C"
