#include "sim/Demo.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

#include "interfaces/InterfaceDevices.h"

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
  try {
    gpib_ = std::make_unique<TGpibSimHost>();
    gpib_->Attach(0, 5, CreateSimInstrument("KSV 5206-40", "520640001", MakeScaledClock(speed)));
    SetVariable("ONDREVO_GPIB_LIBRARY", gpib_->Path());
  } catch (const std::exception&) {
    gpib_.reset();  // no stand-in in this build: serial only
  }
  try {
    usb_ = std::make_unique<TUsbSimHost>();
    usbInstruments_.push_back(
        CreateSimInstrument("KSV 6141-80", "614180001", MakeScaledClock(speed)));
    usb_->Attach(usbInstruments_.back());
    monitor_ = std::make_unique<TUsbMonitorProcess>();
    SetVariable("ONDREVO_USB_LIBRARY", usb_->Path());
  } catch (const std::exception&) {
    monitor_.reset();
    usb_.reset();
  }
  // A two-output analog output card and an analog interface to wire one of them to.
  if (const std::string daqmx = DaqMxSimLibraryPath(); access(daqmx.c_str(), R_OK) == 0) {
    SetVariable("ONDREVO_DAQMX_LIBRARY", daqmx);
    SetVariable("ONDREVO_DAQMX_SIM_CARDS", "Dev1 PCIe-6361 serial=1A2B3C4 ao=2 maxrate=100000");
  }
  try {
    lan_ = std::make_unique<TTcpFront>(
        CreateSimInstrument("KSV 7342-80", "734280002", MakeScaledClock(speed)), 0);
    const char* hosts = std::getenv("ONDREVO_LAN_HOSTS");
    SetVariable("ONDREVO_LAN_HOSTS", "TCPIP::127.0.0.1::" + std::to_string(lan_->Port()) +
                                         "::SOCKET" +
                                         (hosts && *hosts ? std::string(",") + hosts : ""));
  } catch (const std::exception&) {
    lan_.reset();  // no loopback network: the other buses only
  }
  SetInterfaceProducts({{"KSV3720-40", "372040001"}});
  ApplyTestSettings();
}

// For the command-line tests, which cannot reach the instruments inside the process:
// ONDREVO_DEMO_LOG names a file that gets every line any of them receives, and
// ONDREVO_DEMO_IGNORE_STOP=1 makes them ignore stop commands.
void TDemoInstruments::ApplyTestSettings() {
  std::vector<std::shared_ptr<TSimInstrument>> all;
  for (const auto& front : fronts_) all.push_back(front->Instrument());
  if (lan_) all.push_back(lan_->Instrument());
  if (gpib_) all.push_back(gpib_->At(0, 5).Instrument());
  if (usb_)
    for (const auto& instrument : usbInstruments_) all.push_back(instrument);
  const char* ignore = std::getenv("ONDREVO_DEMO_IGNORE_STOP");
  if (ignore && std::string(ignore) == "1")
    for (const auto& instrument : all) instrument->SetStopIgnored(true);
  const char* path = std::getenv("ONDREVO_DEMO_LOG");
  if (!path || !*path) return;
  auto log = std::make_shared<std::ofstream>(path, std::ios::app);
  auto lock = std::make_shared<std::mutex>();
  for (const auto& instrument : all)
    instrument->SetLineListener([log, lock](const std::string& line) {
      std::lock_guard guard(*lock);
      *log << line << '\n';
      log->flush();
    });
}

void TDemoInstruments::SetVariable(const char* name, const std::string& value) {
  const char* old = std::getenv(name);
  previous_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  setenv(name, value.c_str(), 1);
}

TDemoInstruments::~TDemoInstruments() {
  if (previousPorts_)
    setenv("ONDREVO_SERIAL_PORTS", previousPorts_->c_str(), 1);
  else
    unsetenv("ONDREVO_SERIAL_PORTS");
  for (const auto& [name, value] : previous_)
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  fronts_.clear();
  lan_.reset();
  monitor_.reset();
  usb_.reset();
  gpib_.reset();
}

void TDemoInstruments::Trigger() {
  for (const auto& front : fronts_) front->Instrument()->Trigger();
  if (lan_) lan_->Instrument()->Trigger();
  if (gpib_) gpib_->At(0, 5).Instrument()->Trigger();
}

std::vector<std::string> TDemoInstruments::Paths() const {
  std::vector<std::string> paths;
  for (const auto& front : fronts_) paths.push_back(front->Path());
  return paths;
}

}  // namespace ondrevo::sim
