// Asks every scanner for its buses and devices on a worker thread, so a window stays responsive
// while slow buses are probed. Results arrive bus by bus on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/Device.h"
#include "devices/DeviceInterfaces.h"
#include "devices/Interface.h"

namespace ondrevo {

struct TFoundBus {
  std::shared_ptr<TInterface> Bus;  // also the bus's scanner
  TDeviceList Devices;
};

class TDeviceSearch {
 public:
  using TScannerFactory = std::function<std::shared_ptr<IDeviceScanner>()>;
  // Main-thread handlers. OnDone comes last, once: cancelled when Cancel ended the search
  // early, error non-empty when a scanner failed (what was found before stays).
  struct TEvents {
    std::function<void(const std::string& busName)> OnSearching;
    std::function<void(const TFoundBus& bus)> OnBus;
    std::function<void(bool cancelled, const std::string& error)> OnDone;
  };

  TDeviceSearch() = default;
  // Cancels; a worker still probing ends on its own and reports nothing more.
  ~TDeviceSearch();
  TDeviceSearch(const TDeviceSearch&) = delete;
  TDeviceSearch& operator=(const TDeviceSearch&) = delete;

  // Starts a search (on the main thread); false while one runs. A factory that throws or
  // returns nothing is a bus this build or machine does not have.
  bool Start(std::vector<TScannerFactory> factories, TEvents events);
  // Ends the search after the scanner being asked now.
  void Cancel();
  bool Running() const;

  // Runs the same search on the calling thread (for the command line).
  static std::string SearchNow(const std::vector<TScannerFactory>& factories,
                               std::vector<TFoundBus>& found);

 private:
  struct TState;
  std::shared_ptr<TState> state_;
};

}  // namespace ondrevo
