// One simulated instrument reachable over a bus, and discovery on that bus, for the
// integration tests that run the same scenario on every bus.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "devices/Device.h"
#include "sim/Front.h"
#include "sim/Instrument.h"
#include "transports/RS232Interface.h"

namespace ondrevo::testing {

enum class BusKind { Serial, Gpib, Usb };

inline std::string BusName(BusKind kind) {
  switch (kind) {
    case BusKind::Serial:
      return "Serial";
    case BusKind::Gpib:
      return "Gpib";
    case BusKind::Usb:
      return "Usb";
  }
  return "?";
}

class TBusUnderTest {
 public:
  virtual ~TBusUnderTest() = default;
  // What the bus's scanner finds.
  virtual TDeviceList Discover() = 0;
};

// The instrument on a pty that is the only extra serial port.
class TSerialBus : public TBusUnderTest {
 public:
  explicit TSerialBus(std::shared_ptr<sim::TSimInstrument> instrument) {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("ondrevo-bus-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    front_ = std::make_unique<sim::TPtyFront>(std::move(instrument), (dir_ / "ttySIM").string());
    if (const char* old = std::getenv("ONDREVO_SERIAL_PORTS")) previous_ = old;
    ::setenv("ONDREVO_SERIAL_PORTS", front_->Path().c_str(), 1);
  }
  ~TSerialBus() override {
    if (previous_)
      ::setenv("ONDREVO_SERIAL_PORTS", previous_->c_str(), 1);
    else
      ::unsetenv("ONDREVO_SERIAL_PORTS");
    front_.reset();
    std::filesystem::remove_all(dir_);
  }
  TDeviceList Discover() override {
    TRS232Interface scanner(1);
    scanner.Name = "COM";
    TDeviceList devices;
    scanner.GetDevices(devices);
    return devices;
  }
  sim::TPtyFront& Front() { return *front_; }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<sim::TPtyFront> front_;
  std::optional<std::string> previous_;
};

std::unique_ptr<TBusUnderTest> StartBus(BusKind kind,
                                        std::shared_ptr<sim::TSimInstrument> instrument);

}  // namespace ondrevo::testing
