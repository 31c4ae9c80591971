#include "playback/DeviceSearch.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "devices/MainThread.h"

namespace ondrevo {

struct TDeviceSearch::TState {
  std::atomic<bool> cancel{false};
  std::atomic<bool> abandoned{false};  // the owner is gone: report nothing
  bool running = false;                // main thread only
  TEvents events;
};

namespace {

// One pass over the scanners; `bus` and `searching` are called for every bus as it is asked.
std::string Search(const std::vector<TDeviceSearch::TScannerFactory>& factories,
                   const std::function<bool()>& cancelled,
                   const std::function<void(const std::string&)>& searching,
                   const std::function<void(TFoundBus&)>& bus) {
  try {
    for (const auto& factory : factories) {
      if (cancelled()) return {};
      std::shared_ptr<IDeviceScanner> scanner;
      try {
        scanner = factory();
      } catch (...) {
        continue;  // no such bus here
      }
      if (!scanner) continue;
      TInterfaceList interfaces;
      scanner->GetInterfaces(interfaces);
      for (const auto& iface : interfaces) {
        if (cancelled()) return {};
        auto busScanner = std::dynamic_pointer_cast<IDeviceScanner>(iface);
        if (!busScanner) continue;
        searching(iface->Name);
        TFoundBus found{iface, {}};
        busScanner->SetCancelCheck(cancelled);
        busScanner->GetDevices(found.Devices);
        busScanner->SetCancelCheck(nullptr);
        bus(found);
      }
    }
  } catch (const std::exception& e) {
    return e.what()[0] ? e.what() : "error";
  }
  return {};
}

}  // namespace

TDeviceSearch::~TDeviceSearch() {
  if (state_) {
    state_->cancel = true;
    state_->abandoned = true;
  }
}

bool TDeviceSearch::Running() const {
  return state_ && state_->running;
}

void TDeviceSearch::Cancel() {
  if (state_) state_->cancel = true;
}

bool TDeviceSearch::Start(std::vector<TScannerFactory> factories, TEvents events) {
  if (Running()) return false;
  if (state_) state_->abandoned = true;  // a finished search's last hand-over, if any
  state_ = std::make_shared<TState>();
  state_->events = std::move(events);
  state_->running = true;
  std::thread([state = state_, factories = std::move(factories)] {
    auto onMain = [&](const std::function<void()>& fn) {
      try {
        TMainThread::Synchronize([&] {
          if (!state->abandoned) fn();
        });
      } catch (...) {
        // A failing handler is the window's matter; the search goes on.
      }
    };
    const std::string error = Search(
        factories, [&] { return state->cancel.load(); },
        [&](const std::string& name) {
          onMain([&] {
            if (state->events.OnSearching) state->events.OnSearching(name);
          });
        },
        [&](TFoundBus& found) {
          onMain([&] {
            if (state->events.OnBus) state->events.OnBus(found);
          });
        });
    onMain([&] {
      state->running = false;
      if (state->events.OnDone) state->events.OnDone(state->cancel.load(), error);
    });
  }).detach();
  return true;
}

std::string TDeviceSearch::SearchNow(const std::vector<TScannerFactory>& factories,
                                     std::vector<TFoundBus>& found) {
  found.clear();
  return Search(
      factories, [] { return false; }, [](const std::string&) {},
      [&](TFoundBus& bus) { found.push_back(std::move(bus)); });
}

}  // namespace ondrevo
