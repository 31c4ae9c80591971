// Fronts carry a simulated instrument's lines over a pseudo-terminal or a local TCP socket.
// Each front serves from a thread of its own until it is destroyed.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Instrument.h"

namespace ondrevo::sim {

// The one client an instrument serves, shared by its fronts: a raw socket client and a VXI-11
// link exclude each other as they do on the instrument.
class TClientSlot {
 public:
  // True when the slot was free (or is held by `who` already) and is now held by `who`.
  bool Take(int who) {
    int free = 0;
    return owner_.compare_exchange_strong(free, who) || free == who;
  }
  void Release(int who) {
    int held = who;
    owner_.compare_exchange_strong(held, 0);
  }
  bool Free() const { return owner_.load() == 0; }

 private:
  std::atomic<int> owner_{0};
};

class TSimFront {
 public:
  virtual ~TSimFront();
  TSimFront(const TSimFront&) = delete;
  TSimFront& operator=(const TSimFront&) = delete;

  const std::shared_ptr<TSimInstrument>& Instrument() const { return instrument_; }
  void SetFaults(const TSimFaults& faults);
  TSimFaults Faults() const;
  // How often the front has hung up on purpose.
  int HangUps() const { return hangUps_.load(); }
  // Ends serving; called by the destructor.
  void Stop();

 protected:
  explicit TSimFront(std::shared_ptr<TSimInstrument> instrument);
  void Start();
  // Gives the fd to serve, or -1 to wait for `WaitFd` to become readable (then asks again).
  virtual int AcquireConnection() = 0;
  virtual int WaitFd() const = 0;
  // The connection is gone (peer closed it, or a hang-up): release it.
  virtual void ReleaseConnection(bool hangUp) = 0;
  // `WaitFd` became readable while a connection is served: turn the newcomer away.
  virtual void RefuseWaiting() {}
  int stopFd_ = -1;  // eventfd, readable once Stop was called

 private:
  void Run();
  void Serve(int fd);
  bool TakeReplyFault(TSimFaults& applied);

  std::shared_ptr<TSimInstrument> instrument_;
  mutable std::mutex faultMutex_;
  TSimFaults faults_;
  long long bytesSinceFaults_ = 0;
  std::atomic<int> hangUps_{0};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// A pseudo-terminal: the program opens Path() as its serial port.
class TPtyFront : public TSimFront {
 public:
  // With a link path, a symbolic link there points at the current pty and Path() returns it, so
  // a reconnection after a hang-up finds the new pty under the same name.
  explicit TPtyFront(std::shared_ptr<TSimInstrument> instrument, std::string linkPath = {});
  ~TPtyFront() override;
  std::string Path() const;

 private:
  int AcquireConnection() override;
  int WaitFd() const override { return -1; }
  void ReleaseConnection(bool hangUp) override;
  void OpenPty();
  void ClosePty();

  mutable std::mutex pathMutex_;
  std::string linkPath_;
  std::string slavePath_;
  int master_ = -1;
  int slaveKeep_ = -1;  // held open so the master never sees a hang-up between clients
};

// A TCP listener on 127.0.0.1, one client at a time, as an instrument that accepts one socket:
// a further client gets kBusyLine and is closed at once. Port 0 picks a free port.
class TTcpFront : public TSimFront {
 public:
  TTcpFront(std::shared_ptr<TSimInstrument> instrument, int port);
  ~TTcpFront() override;
  int Port() const { return port_; }
  // Shares the instrument's one client with another front; set before the first client.
  void SetClientSlot(std::shared_ptr<TClientSlot> slot) { slot_ = std::move(slot); }

 private:
  int AcquireConnection() override;
  int WaitFd() const override { return listen_; }
  void ReleaseConnection(bool hangUp) override;
  void RefuseWaiting() override;

 public:
  static constexpr const char* kBusyLine = "ERROR: busy, serving another client";

 private:
  void Refuse(int fd);
  std::shared_ptr<TClientSlot> slot_;
  int listen_ = -1;
  int client_ = -1;
  int port_ = 0;
};

}  // namespace ondrevo::sim
