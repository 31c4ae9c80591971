// A transport that answers from a script and records every line, for transcript tests.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "devices/DeviceErrors.h"
#include "devices/Interface.h"

namespace ondrevo::testing {

class TScriptedTransport : public TInterface {
 public:
  // Reply to the last line sent; return "\x01" for "no reply" (time-out).
  using Responder = std::function<std::string(const std::string& lastSent)>;

  // The status byte as a bus would read it; a serial line always says "not busy".
  bool IsBusy() override { return Busy ? Busy() : false; }
  std::function<bool()> Busy;
  void Open() override {
    Record("[open]");
    open_ = true;
  }
  void Close() override {
    Record("[close]");
    open_ = false;
  }
  void OpenDevice() override {}
  void CloseDevice() override {}
  void SetRemote() override { Send(";SYST:REM"); }
  void SetLocal() override { Send("SYST:LOC"); }

  // Replies for queries; exact lines first, then by suffix ";*OPC?".
  std::map<std::string, std::vector<std::string>> Replies;
  Responder Fallback;

  std::vector<std::string> Lines() {
    std::lock_guard g(lock_);
    return lines_;
  }
  // Lines sent, without the [open]/[close] markers.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    for (auto& l : Lines())
      if (l.empty() || l[0] != '[') out.push_back(l);
    return out;
  }
  void ClearLines() {
    std::lock_guard g(lock_);
    lines_.clear();
  }
  // While held, a Receive waits until Release (simulates a slow instrument).
  void Hold() {
    std::lock_guard g(lock_);
    held_ = true;
  }
  void Release() {
    std::lock_guard g(lock_);
    held_ = false;
    changed_.notify_all();
  }
  bool Waiting() {
    std::lock_guard g(lock_);
    return waiting_;
  }

 protected:
  void DoSend(const std::string& command) override {
    if (!open_) throw EConnectionError("No device connected");
    Record(command);
    std::lock_guard g(lock_);
    last_ = command;
  }
  std::string DoReceive(uint32_t) override {
    std::unique_lock g(lock_);
    waiting_ = true;
    changed_.wait(g, [&] { return !held_; });
    waiting_ = false;
    const std::string last = last_;
    auto it = Replies.find(last);
    std::string reply;
    if (it != Replies.end() && !it->second.empty()) {
      reply = it->second.front();
      if (it->second.size() > 1) it->second.erase(it->second.begin());
    } else if (Fallback) {
      g.unlock();
      reply = Fallback(last);
    } else {
      reply = Default(last);
    }
    if (reply == "\x01") throw ETimeoutError("The connection timed out");
    return reply;
  }

 private:
  static std::string Default(const std::string& last) {
    if (last.ends_with(";*OPC?")) return "1";
    if (last == "SYST:ERR?") return "0,\"No error\"";
    if (last == "SOUR:VOLT? MAX") return "81.6";
    if (last == "SOUR:CURR? MAX") return "5.1";
    if (last == "LIST:SEQ:STAT?") return "1";
    if (last == "STAT:OPER:COND?") return "0";
    return "\x01";
  }
  void Record(const std::string& line) {
    std::lock_guard g(lock_);
    lines_.push_back(line);
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::string last_;
  std::atomic<bool> open_{false};
  bool held_ = false;
  bool waiting_ = false;
};

}  // namespace ondrevo::testing
