#include "sim/Demo.h"

#include <cstdlib>

namespace ondrevo::sim {

TDemoInstruments::TDemoInstruments(double speed) {
  const std::pair<const char*, const char*> models[] = {{"KSV 7342-80", "734280001"},
                                                        {"KSV 7341-20", "734120001"}};
  for (const auto& [model, serial] : models)
    fronts_.push_back(
        std::make_unique<TPtyFront>(CreateSimInstrument(model, serial, MakeScaledClock(speed))));
  if (const char* previous = std::getenv("ONDREVO_SERIAL_PORTS")) previousPorts_ = previous;
  std::string ports;
  for (const auto& path : Paths()) ports += (ports.empty() ? "" : ":") + path;
  if (previousPorts_ && !previousPorts_->empty()) ports += ":" + *previousPorts_;
  setenv("ONDREVO_SERIAL_PORTS", ports.c_str(), 1);
}

TDemoInstruments::~TDemoInstruments() {
  if (previousPorts_)
    setenv("ONDREVO_SERIAL_PORTS", previousPorts_->c_str(), 1);
  else
    unsetenv("ONDREVO_SERIAL_PORTS");
  fronts_.clear();
}

std::vector<std::string> TDemoInstruments::Paths() const {
  std::vector<std::string> paths;
  for (const auto& front : fronts_) paths.push_back(front->Path());
  return paths;
}

}  // namespace ondrevo::sim
