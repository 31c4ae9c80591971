// Demo mode: simulated supplies on pseudo-terminals inside this process, so discovery,
// connect, upload and play work without hardware.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/Front.h"

namespace ondrevo::sim {

class TDemoInstruments {
 public:
  // Starts a KSV 7342-80 and a KSV 7341-20, each on its own pty, playing at `speed` times real
  // time, and puts their paths in front of ONDREVO_SERIAL_PORTS (colon-separated).
  explicit TDemoInstruments(double speed = 1.0);
  // Stops the instruments and gives ONDREVO_SERIAL_PORTS its previous value back.
  ~TDemoInstruments();
  TDemoInstruments(const TDemoInstruments&) = delete;
  TDemoInstruments& operator=(const TDemoInstruments&) = delete;

  std::vector<std::string> Paths() const;
  const std::vector<std::unique_ptr<TPtyFront>>& Fronts() const { return fronts_; }

 private:
  std::vector<std::unique_ptr<TPtyFront>> fronts_;
  std::optional<std::string> previousPorts_;
};

}  // namespace ondrevo::sim
