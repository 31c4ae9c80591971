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
#include "sim/BusHost.h"
#include "sim/Front.h"
#include "sim/Instrument.h"
#include "transports/GpibInterface.h"
#include "transports/RS232Interface.h"
#include "transports/UsbInterface.h"

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

// Sets an environment variable for the object's lifetime.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (previous_)
      ::setenv(name_, previous_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// The instrument at address 5 of board 0 of the GPIB stand-in.
class TGpibBus : public TBusUnderTest {
 public:
  static constexpr int kAddress = 5;
  explicit TGpibBus(std::shared_ptr<sim::TSimInstrument> instrument)
      : env_("ONDREVO_GPIB_LIBRARY", sim::GpibSimLibraryPath()) {
    host_.Attach(0, kAddress, std::move(instrument));
  }
  TDeviceList Discover() override {
    TGpibInterface scanner(0);
    TInterfaceList boards;
    scanner.GetInterfaces(boards);
    TDeviceList all;
    for (auto& board : boards) {
      TDeviceList devices;
      std::dynamic_pointer_cast<IDeviceScanner>(board)->GetDevices(devices);
      all.insert(all.end(), devices.begin(), devices.end());
    }
    return all;
  }
  sim::TGpibSimHost& Host() { return host_; }

 private:
  TScopedEnv env_;
  sim::TGpibSimHost host_;
};

// The instrument listed by the USB stand-in, with the monitor running.
class TUsbBus : public TBusUnderTest {
 public:
  explicit TUsbBus(std::shared_ptr<sim::TSimInstrument> instrument)
      : env_("ONDREVO_USB_LIBRARY", sim::UsbSimLibraryPath()), instrument_(instrument) {
    host_.Attach(std::move(instrument));
  }
  TDeviceList Discover() override {
    TUsbInterface scanner;
    TInterfaceList buses;
    scanner.GetInterfaces(buses);
    TDeviceList all;
    for (auto& bus : buses) {
      TDeviceList devices;
      std::dynamic_pointer_cast<IDeviceScanner>(bus)->GetDevices(devices);
      all.insert(all.end(), devices.begin(), devices.end());
    }
    return all;
  }
  sim::TUsbSimHost& Host() { return host_; }
  sim::TSimEndpoint& Endpoint() { return host_.At(instrument_); }

 private:
  TScopedEnv env_;
  sim::TUsbMonitorProcess monitor_;
  sim::TUsbSimHost host_;
  std::shared_ptr<sim::TSimInstrument> instrument_;
};

std::unique_ptr<TBusUnderTest> StartBus(BusKind kind,
                                        std::shared_ptr<sim::TSimInstrument> instrument);

}  // namespace ondrevo::testing
