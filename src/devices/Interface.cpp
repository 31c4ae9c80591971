#include "devices/Interface.h"

#include "document/Text.h"

namespace ondrevo {

void TInterface::Send(const std::string& command) {
  std::lock_guard exchange(exchangeLock_);
  DoSend(command);
  Trace("> ", command);
}

std::string TInterface::Receive(uint32_t timeoutMs) {
  std::lock_guard exchange(exchangeLock_);
  std::string reply = DoReceive(timeoutMs);
  Trace("< ", reply);
  return reply;
}

std::string TInterface::Query(const std::string& command, uint32_t timeoutMs) {
  std::lock_guard exchange(exchangeLock_);
  Send(command);
  return Receive(timeoutMs);
}

std::unique_lock<std::recursive_mutex> TInterface::Hold() {
  return std::unique_lock(exchangeLock_);
}

void TInterface::SetTraceObserver(TTraceObserver observer) {
  std::lock_guard guard(traceLock_);
  trace_ = observer ? std::make_shared<const TTraceObserver>(std::move(observer)) : nullptr;
}

bool TInterface::HasTraceObserver() {
  std::lock_guard guard(traceLock_);
  return trace_ != nullptr;
}

void TInterface::Trace(const char* prefix, const std::string& line) {
  std::shared_ptr<const TTraceObserver> observer;
  {
    std::lock_guard guard(traceLock_);
    observer = trace_;
  }
  // Every byte is kept, but a control byte in a reply can neither break the record into lines nor
  // reach a terminal that shows it.
  if (observer) (*observer)(prefix + EscapeControls(line));
}

}  // namespace ondrevo
