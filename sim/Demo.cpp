#include "sim/Demo.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>

#include "document/Translate.h"
#include "interfaces/InterfaceDevices.h"
#include "sim/Meter.h"

namespace ondrevo::sim {

namespace {
constexpr const char* kSerialSerials[] = {"734280001", "734120001"};
constexpr const char* kGpibSerial = "520640001";
constexpr const char* kUsbSerial = "614180001";
constexpr const char* kUsbMeterSerial = "881002";
constexpr const char* kLanSerial = "734280002";
constexpr const char* kVxiSerial = "734280003";
}  // namespace

TDemoInstruments::TDemoInstruments(double speed) {
  const std::pair<const char*, const char*> models[] = {{"KSV 7342-80", kSerialSerials[0]},
                                                        {"KSV 7341-20", kSerialSerials[1]}};
  for (const auto& [model, serial] : models) {
    auto supply = CreateSimInstrument(model, serial, MakeScaledClock(speed));
    supply->SetLoad({10, 0});  // something to measure
    fronts_.push_back(std::make_unique<TPtyFront>(supply));
  }
  if (const char* previous = std::getenv("ONDREVO_SERIAL_PORTS")) previousPorts_ = previous;
  std::string ports;
  for (const auto& path : Paths()) ports += (ports.empty() ? "" : ":") + path;
  if (previousPorts_ && !previousPorts_->empty()) ports += ":" + *previousPorts_;
  setenv("ONDREVO_SERIAL_PORTS", ports.c_str(), 1);
  try {
    gpib_ = std::make_unique<TGpibSimHost>();
    const TSimClock clock = MakeScaledClock(speed);
    auto supply = CreateSimInstrument("KSV 5206-40", kGpibSerial, clock);
    supply->SetLoad({10, 0});
    gpib_->Attach(0, 5, supply);
    // A bench meter across its terminals, for measuring while it plays.
    gpib_->Attach(0, 6, std::make_shared<TSimMeter>(supply, 0, clock));
    SetVariable("ONDREVO_GPIB_LIBRARY", gpib_->Path());
  } catch (const std::exception&) {
    gpib_.reset();  // no stand-in in this build: serial only
  }
  try {
    usb_ = std::make_unique<TUsbSimHost>();
    const TSimClock clock = MakeScaledClock(speed);
    usbInstruments_.push_back(CreateSimInstrument("KSV 6141-80", kUsbSerial, clock));
    usbInstruments_.back()->SetLoad({10, 0});
    usb_->Attach(usbInstruments_.back());
    // Family B cannot measure itself: a meter across its terminals, listed as USB::881002.
    usbMeter_ = std::make_shared<TSimMeter>(usbInstruments_.back(), 0, clock, TMeterNoise{},
                                            kUsbMeterSerial);
    usb_->Attach(usbMeter_);
    monitor_ = std::make_unique<TUsbMonitorProcess>();
    SetVariable("ONDREVO_USB_LIBRARY", usb_->Path());
  } catch (const std::exception&) {
    monitor_.reset();
    usbMeter_.reset();
    usb_.reset();
  }
  // A two-output analog output card and an analog interface to wire one of them to.
  if (const std::string daqmx = DaqMxSimLibraryPath(); access(daqmx.c_str(), R_OK) == 0) {
    SetVariable("ONDREVO_DAQMX_LIBRARY", daqmx);
    SetVariable("ONDREVO_DAQMX_SIM_CARDS", "Dev1 PCIe-6361 serial=1A2B3C4 ao=2 maxrate=100000");
  }
  try {
    auto supply = CreateSimInstrument("KSV 7342-80", kLanSerial, MakeScaledClock(speed));
    supply->SetLoad({10, 0});
    lan_ = std::make_unique<TTcpFront>(supply, 0);
    std::string listed = "TCPIP::127.0.0.1::" + std::to_string(lan_->Port()) + "::SOCKET";
    StartVxi(speed);
    if (vxi_) listed += ",TCPIP::127.0.0.1::INSTR";
    const char* hosts = std::getenv("ONDREVO_LAN_HOSTS");
    SetVariable("ONDREVO_LAN_HOSTS", listed + (hosts && *hosts ? std::string(",") + hosts : ""));
  } catch (const std::exception&) {
    vxi_.reset();
    lan_.reset();  // no loopback network: the other buses only
  }
  SetInterfaceProducts({{"KSV3720-40", "372040001"}});
  try {
    ApplyTestSettings();
  } catch (...) {
    StopRecording(false);
    RestoreVariables();
    throw;
  }
}

// A supply of its own rather than the raw socket's: one instrument serves one client, so a
// search probing both transports one after the other would find the second one refused.
void TDemoInstruments::StartVxi(double speed) {
  if (!PortMapperRunning()) {
    notes_.push_back(
        _("The simulated supply on VXI-11 (TCPIP::127.0.0.1::INSTR) is not started: no port "
          "mapper (rpcbind) runs on this host, and VXI-11 clients find their instrument through "
          "it."));
    return;
  }
  try {
    auto supply = CreateSimInstrument("KSV 7342-80", kVxiSerial, MakeScaledClock(speed));
    supply->SetLoad({10, 0});
    // Another instrument listed there stays reachable: the demo does not take its place.
    vxi_ = std::make_unique<TVxiFront>(supply, nullptr, true);
    if (vxi_->Registered()) return;
    notes_.push_back(
        vxi_->Displaced()
            ? _("The simulated supply on VXI-11 (TCPIP::127.0.0.1::INSTR) is not started: the "
                "port mapper of this host lists another VXI-11 instrument already.")
            : _("The simulated supply on VXI-11 (TCPIP::127.0.0.1::INSTR) is not started: the "
                "port mapper of this host did not take it."));
  } catch (const std::exception& e) {
    notes_.push_back(
        std::string(_("The simulated supply on VXI-11 (TCPIP::127.0.0.1::INSTR) could not be "
                      "started:")) +
        " " + e.what());
  }
  vxi_.reset();
}

// For the command-line tests, which cannot reach the instruments inside the process:
// ONDREVO_DEMO_LOG names a file that gets every line any of them receives, and
// ONDREVO_DEMO_IGNORE_STOP=1 makes them ignore stop commands.
void TDemoInstruments::ApplyTestSettings() {
  std::vector<std::shared_ptr<TSimInstrument>> all;
  for (const auto& front : fronts_) all.push_back(front->Instrument());
  if (lan_) all.push_back(lan_->Instrument());
  if (vxi_) all.push_back(vxi_->Instrument());
  if (gpib_) all.push_back(gpib_->At(0, 5).Instrument());
  if (usb_)
    for (const auto& instrument : usbInstruments_) all.push_back(instrument);
  std::vector<std::pair<std::shared_ptr<TSimInstrument>, std::string>> supplies;
  for (std::size_t k = 0; k < fronts_.size(); ++k)
    supplies.emplace_back(fronts_[k]->Instrument(), kSerialSerials[k]);
  if (gpib_) supplies.emplace_back(gpib_->At(0, 5).Instrument(), kGpibSerial);
  if (usb_) supplies.emplace_back(usbInstruments_.front(), kUsbSerial);
  if (lan_) supplies.emplace_back(lan_->Instrument(), kLanSerial);
  if (vxi_) supplies.emplace_back(vxi_->Instrument(), kVxiSerial);
  StartRecording(supplies);
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

void TDemoInstruments::StartRecording(
    const std::vector<std::pair<std::shared_ptr<TSimInstrument>, std::string>>& supplies) {
  const char* dir = std::getenv("ONDREVO_SIM_RECORD");
  if (!dir || !*dir) return;
  for (const auto& [instrument, serial] : supplies) {
    std::string model = instrument->Model();
    std::erase(model, ' ');
    recordings_.push_back(
        std::make_unique<TOutputCsvWriter>(std::string(dir) + "/" + model + "-" + serial + ".csv"));
    for (const auto& change : instrument->Output().Changes()) recordings_.back()->Write(change);
    instrument->Output().SetListener([writer = recordings_.back().get()](
                                         const TOutputChange& change) { writer->Write(change); });
    recorded_.push_back(instrument);
  }
}

void TDemoInstruments::SetVariable(const char* name, const std::string& value) {
  const char* old = std::getenv(name);
  previous_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  setenv(name, value.c_str(), 1);
}

TDemoInstruments::~TDemoInstruments() {
  RestoreVariables();
  fronts_.clear();
  vxi_.reset();
  lan_.reset();
  monitor_.reset();
  usb_.reset();
  gpib_.reset();
  // No line arrives any more: what played up to now goes into the recordings before they close.
  StopRecording(true);
}

void TDemoInstruments::StopRecording(bool settle) {
  for (const auto& instrument : recorded_) {
    if (settle) instrument->SettleOutput();
    instrument->Output().SetListener(nullptr);
  }
  recorded_.clear();
  recordings_.clear();
}

void TDemoInstruments::RestoreVariables() {
  if (previousPorts_)
    setenv("ONDREVO_SERIAL_PORTS", previousPorts_->c_str(), 1);
  else
    unsetenv("ONDREVO_SERIAL_PORTS");
  for (const auto& [name, value] : previous_)
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  previous_.clear();
}

void TDemoInstruments::Trigger() {
  for (const auto& front : fronts_) front->Instrument()->Trigger();
  if (lan_) lan_->Instrument()->Trigger();
  if (vxi_) vxi_->Instrument()->Trigger();
  if (gpib_) gpib_->At(0, 5).Instrument()->Trigger();
  for (const auto& instrument : usbInstruments_) instrument->Trigger();
}

std::vector<std::string> TDemoInstruments::Paths() const {
  std::vector<std::string> paths;
  for (const auto& front : fronts_) paths.push_back(front->Path());
  return paths;
}

}  // namespace ondrevo::sim
