// Base of every transport and scanner. Send and Receive are the one place where command traffic
// passes, so the trace of every line is written here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace ondrevo {

class TInterface {
 public:
  // Receives "> " + every line sent and "< " + every line received, from any thread.
  using TTraceObserver = std::function<void(const std::string& line)>;

  TInterface() = default;
  TInterface(const TInterface&) = delete;
  TInterface& operator=(const TInterface&) = delete;
  virtual ~TInterface() = default;

  std::string Name;  // caption of the bus node in the device tree

  // Writes command + LF to the open instrument.
  void Send(const std::string& command);
  // Waits up to timeoutMs for one reply line; returns it without CR and LF.
  std::string Receive(uint32_t timeoutMs);
  // A command and its reply as one exchange. Every transport clears its input before it sends,
  // so a line another thread sent between the two would drop the reply (or take its place):
  // Send and Receive of other threads wait until the exchange is over.
  std::string Query(const std::string& command, uint32_t timeoutMs);
  // Holds the line the same way for a reply awaited later than the send (a query sent, the
  // next one prepared, then its reply read). Released on the thread that took it.
  [[nodiscard]] std::unique_lock<std::recursive_mutex> Hold();
  // True when the instrument's status byte has bit 7 clear; false where it cannot be read.
  virtual bool IsBusy() = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual void OpenDevice() = 0;
  virtual void CloseDevice() = 0;
  virtual void SetRemote() = 0;
  virtual void SetLocal() = 0;

  void SetTraceObserver(TTraceObserver observer);

 protected:
  virtual void DoSend(const std::string& command) = 0;
  virtual std::string DoReceive(uint32_t timeoutMs) = 0;

 protected:
  // The one logging point: every traced line passes here.
  void Trace(const char* prefix, const std::string& line);
  bool HasTraceObserver();

 private:
  std::recursive_mutex exchangeLock_;
  std::mutex traceLock_;
  std::shared_ptr<const TTraceObserver> trace_;
};

// A bus without a line to drive: analog products and cards are reached through their own
// libraries, so every bus operation is empty and nothing is sent or received.
class TSilentInterface : public TInterface {
 public:
  bool IsBusy() override { return false; }
  void Open() override {}
  void Close() override {}
  void OpenDevice() override {}
  void CloseDevice() override {}
  void SetRemote() override {}
  void SetLocal() override {}

 protected:
  void DoSend(const std::string&) override {}
  std::string DoReceive(uint32_t) override { return {}; }
};

}  // namespace ondrevo
