// Demo mode: simulated supplies inside this process on every bus, so discovery, connect, upload
// and play work without hardware: two family-C supplies on pseudo-terminals, a family-A supply
// at GPIB address 5 of the GPIB stand-in library (a meter across it at 6), a family-B supply on
// the USB stand-in (a meter across it listed beside it), a family-C supply on the loopback LAN
// (its raw SCPI socket, listed in ONDREVO_LAN_HOSTS), and a second one there over VXI-11 where
// the host's port mapper can list it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/BusHost.h"
#include "sim/Front.h"
#include "sim/VxiFront.h"

namespace ondrevo::sim {

class TDemoInstruments {
 public:
  // Starts a KSV 7342-80 and a KSV 7341-20, each on its own pty, playing at `speed` times real
  // time, and puts their paths in front of ONDREVO_SERIAL_PORTS (colon-separated); points
  // ONDREVO_GPIB_LIBRARY and ONDREVO_USB_LIBRARY at the stand-ins, hosting a KSV 5206-40 and a
  // KSV 6141-80 there (left out when this build has no stand-ins); adds the simulated analog
  // output card (ONDREVO_DAQMX_LIBRARY) and a KSV 3720-40 analog interface product.
  // With ONDREVO_SIM_RECORD=DIR every simulated supply writes what its output delivers to
  // DIR/<model without spaces>-<serial>.csv (see TOutputCsvWriter); throws std::runtime_error
  // when one of them cannot be created.
  explicit TDemoInstruments(double speed = 1.0);
  // Stops the instruments and gives the three variables their previous values back.
  ~TDemoInstruments();
  TDemoInstruments(const TDemoInstruments&) = delete;
  TDemoInstruments& operator=(const TDemoInstruments&) = delete;

  std::vector<std::string> Paths() const;
  // Fires the trigger input of every simulated supply of the demo.
  void Trigger();
  const std::vector<std::unique_ptr<TPtyFront>>& Fronts() const { return fronts_; }
  // The supply on the loopback LAN; null where the loopback network could not be used.
  TTcpFront* LanFront() const { return lan_.get(); }
  // The supply reached over VXI-11 (TCPIP::127.0.0.1::INSTR); null where it cannot be found:
  // no port mapper runs, or it lists another instrument.
  TVxiFront* VxiFront() const { return vxi_.get(); }
  // What the demo could not offer and why, for its start message; empty when all is there.
  const std::vector<std::string>& Notes() const { return notes_; }

 private:
  void SetVariable(const char* name, const std::string& value);
  void StartVxi(double speed);
  void ApplyTestSettings();
  void RestoreVariables();
  void StopRecording(bool settle);
  void StartRecording(
      const std::vector<std::pair<std::shared_ptr<TSimInstrument>, std::string>>& supplies);

  std::vector<std::unique_ptr<TPtyFront>> fronts_;
  std::unique_ptr<TTcpFront> lan_;  // a family-C supply on the loopback LAN
  std::unique_ptr<TVxiFront> vxi_;  // another one, over VXI-11
  std::vector<std::string> notes_;
  std::optional<std::string> previousPorts_;
  std::vector<std::pair<const char*, std::optional<std::string>>> previous_;
  std::unique_ptr<TGpibSimHost> gpib_;
  std::unique_ptr<TUsbMonitorProcess> monitor_;
  std::unique_ptr<TUsbSimHost> usb_;
  std::vector<std::shared_ptr<TSimInstrument>> usbInstruments_;  // the supplies
  std::shared_ptr<TSimInstrument> usbMeter_;
  std::vector<std::shared_ptr<TSimInstrument>> recorded_;
  std::vector<std::unique_ptr<TOutputCsvWriter>> recordings_;
};

}  // namespace ondrevo::sim
