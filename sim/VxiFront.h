// A simulated instrument's VXI-11 core channel (ONC RPC over TCP on 127.0.0.1): create_link,
// device_write, device_read and destroy_link, registered with the port mapper where one runs.
// The RPC library keeps its server state per process, so a process has one such front at a time.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "sim/Front.h"
#include "sim/Instrument.h"

namespace ondrevo::sim {

class TVxiFront {
 public:
  // Throws when another VXI-11 front of this process still serves. The port mapper lists one
  // VXI-11 channel per host: a front takes that place over from an instrument that died, and
  // from a live one too unless `keepLiveEntry` (then Registered() stays false).
  explicit TVxiFront(std::shared_ptr<TSimInstrument> instrument,
                     std::shared_ptr<TClientSlot> slot = nullptr, bool keepLiveEntry = false);
  ~TVxiFront();
  TVxiFront(const TVxiFront&) = delete;
  TVxiFront& operator=(const TVxiFront&) = delete;

  // The core channel's TCP port.
  int Port() const { return port_; }
  // True when the port mapper on this host lists the channel: only then can clients find it.
  bool Registered() const { return registered_; }
  // Another live instrument is listed with the port mapper (with `keepLiveEntry`).
  bool Displaced() const { return displaced_; }
  // Replies are taken but never delivered (the read times out), as from a hung instrument.
  void SetSilent(bool silent) { silent_ = silent; }
  // Fault: after this many more writes every connection drops, as when the instrument is
  // switched off (it serves new ones after that).
  void DropAfterWrites(int writes) { dropAfter_ = writes; }
  // Links refused because another client held the instrument.
  int Refused() const { return refused_.load(); }

  const std::shared_ptr<TSimInstrument>& Instrument() const { return instrument_; }

  // Handlers of the four calls; public for the RPC dispatcher only.
  struct TState;

 private:
  void Run();

  std::shared_ptr<TSimInstrument> instrument_;
  std::shared_ptr<TClientSlot> slot_;
  std::unique_ptr<TState> state_;
  int port_ = 0;
  bool registered_ = false;
  bool displaced_ = false;
  std::atomic<bool> silent_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<int> refused_{0};
  std::atomic<int> dropAfter_{-1};
  int stopFd_ = -1;
  std::thread thread_;
};

// True when a port mapper answers on this host (VXI-11 clients ask it first).
bool PortMapperRunning();
// The port the host's port mapper lists for the VXI-11 core channel; 0 for none.
int RegisteredVxiPort();

}  // namespace ondrevo::sim
