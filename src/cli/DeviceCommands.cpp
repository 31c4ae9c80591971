// `devices`: the remote window's search as a tree. `play`: connect, upload, play, follow and
// disconnect from the command line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/Commands.h"
#include "cli/EndingSignals.h"
#include "cli/PlayMeasure.h"
#include "daq/DaqMxDevice.h"
#include "devices/Device.h"
#include "devices/DeviceErrors.h"
#include "devices/Identification.h"
#include "devices/Interface.h"
#include "devices/MainThread.h"
#include "document/DocumentIO.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"
#include "interfaces/InputSelection.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "playback/FitChecks.h"
#include "playback/InstrumentPreview.h"
#include "playback/PlayRun.h"
#include "playback/PreviewWorker.h"
#include "playback/Wiring.h"
#include "sim/Demo.h"
#include "transports/GpibInterface.h"
#include "transports/LanInterface.h"
#include "transports/RS232Interface.h"
#include "transports/UsbInterface.h"

namespace ondrevo::cli {

namespace {

std::atomic<bool> gTriggerSignal{false};

// How long the instrument has to report a stop, and the release, before the run ends without.
constexpr std::chrono::milliseconds kStopConfirmation{5000};
constexpr std::chrono::milliseconds kReleaseConfirmation{10000};

extern "C" void OnTriggerSignal(int) {
  gTriggerSignal = true;
}

// Sets a flag from a signal for as long as it lives, then puts the old handler back.
class ScopedSignal {
 public:
  ScopedSignal(int signal, std::atomic<bool>& flag, void (*handler)(int)) : signal_(signal) {
    flag = false;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_, &action, &old_);
  }
  ~ScopedSignal() { sigaction(signal_, &old_, nullptr); }
  ScopedSignal(const ScopedSignal&) = delete;
  ScopedSignal& operator=(const ScopedSignal&) = delete;

 private:
  int signal_;
  struct sigaction old_ {};
};

struct FoundBus {
  std::string name;
  TDeviceList devices;
};

// The scanners this build has, in the window's order; a scanner that fails is left out.
std::vector<FoundBus> SearchDevices() {
  std::vector<FoundBus> buses;
  std::vector<std::shared_ptr<IDeviceScanner>> scanners;
  // A bus whose library or monitor is missing has no scanner.
  try {
    scanners.push_back(std::make_shared<TGpibInterface>(0));
  } catch (...) {
  }
  try {
    scanners.push_back(std::make_shared<TUsbInterface>());
  } catch (...) {
  }
  try {
    scanners.push_back(std::make_shared<TRS232Interface>(1));
  } catch (...) {
  }
  scanners.push_back(std::make_shared<TLanInterface>());
  // Cards where the DAQmx library is installed; interface products from the product list.
  try {
    if (TDaqMxLibrary::Available()) scanners.push_back(std::make_shared<TDaqInterface>());
  } catch (...) {
  }
  scanners.push_back(std::make_shared<TAnalogInterface>());
  scanners.push_back(std::make_shared<TTtlInterface>());
  for (auto& scanner : scanners) {
    TInterfaceList interfaces;
    try {
      scanner->GetInterfaces(interfaces);
    } catch (...) {
      continue;
    }
    for (auto& bus : interfaces) {
      FoundBus found{bus->Name, {}};
      if (auto busScanner = std::dynamic_pointer_cast<IDeviceScanner>(bus)) {
        try {
          busScanner->GetDevices(found.devices);
        } catch (const std::exception& e) {
          // The search goes on with the other buses; why this one found nothing is said.
          std::cerr << "ondrevo-cli: " << bus->Name << ": " << e.what() << '\n';
        }
      }
      buses.push_back(std::move(found));
    }
  }
  return buses;
}

bool Selectable(const std::shared_ptr<TDevice>& device) {
  return std::dynamic_pointer_cast<IWaveformPlayer>(device) && !device->IsUnsupported();
}

// A product taking a card's control signal (wired with play --wire).
bool ControlInput(const std::shared_ptr<TDevice>& device) {
  return std::dynamic_pointer_cast<IAnalogInput>(device) && !device->IsUnsupported() &&
         !std::dynamic_pointer_cast<IWaveformPlayer>(device);
}

std::string PortOf(const std::shared_ptr<TDevice>& device) {
  if (auto card = std::dynamic_pointer_cast<TDaqMxDevice>(device)) return card->GetCardName();
  auto remote = std::dynamic_pointer_cast<IRemoteControllable>(device);
  const auto transport = remote ? remote->GetInterface() : nullptr;
  if (auto serial = std::dynamic_pointer_cast<TRS232Interface>(transport))
    return serial->DevicePath;
  if (auto gpib = std::dynamic_pointer_cast<TGpibInterface>(transport))
    return gpib->Name + "::" + std::to_string(gpib->PrimaryAddress);
  if (auto lan = std::dynamic_pointer_cast<TLanTransport>(transport)) return lan->Address.Text();
  return {};
}

// Starts the simulated instruments and says what of them is missing.
void StartDemo(std::optional<sim::TDemoInstruments>& instruments) {
  instruments.emplace(1.0);
  for (const auto& note : instruments->Notes()) std::cerr << "ondrevo-cli: " << note << '\n';
}

int RunDevices(bool json, bool demo) {
  std::optional<sim::TDemoInstruments> instruments;
  if (demo || DemoRequested()) StartDemo(instruments);
  const auto buses = SearchDevices();
  if (json) {
    nlohmann::json out = nlohmann::json::array();
    for (auto& bus : buses) {
      nlohmann::json devices = nlohmann::json::array();
      for (auto& d : bus.devices) {
        nlohmann::json item{{"name", d->GetName()},
                            {"model", d->GetModel()},
                            {"serial", d->GetSerialNumber()},
                            {"supported", Selectable(d)},
                            {"port", PortOf(d)}};
        if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(d))
          item["channels"] = output->GetConnectedInputs().size();
        if (ControlInput(d))
          item["controlInputs"] =
              std::dynamic_pointer_cast<IAnalogInput>(d)->GetConnectedOutputs().size();
        devices.push_back(item);
      }
      out.push_back({{"interface", bus.name}, {"devices", devices}});
    }
    // Replies are cleaned where they are parsed; a stray byte must still not end the listing.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return FlushStdout("the device list");
  }
  for (auto& bus : buses) {
    std::cout << bus.name << '\n';
    for (auto& d : bus.devices) {
      std::cout << "  " << d->GetName();
      if (!Selectable(d) && !ControlInput(d)) std::cout << "  (" << _("not supported") << ")";
      const std::string port = PortOf(d);
      if (!port.empty()) std::cout << "  [" << EscapeControls(port) << "]";
      std::cout << '\n';
      auto output = std::dynamic_pointer_cast<IAnalogOutput>(d);
      if (output && output->GetConnectedInputs().size() > 1)
        for (std::size_t k = 0; k < output->GetConnectedInputs().size(); ++k)
          std::cout << "    " << _("Analog Out") << ' ' << k << '\n';
    }
  }
  return FlushStdout("the device list");
}

// One line on stderr, redrawn in place. Ended when it goes, so that an error leaving the run
// as an exception is printed on a line of its own.
class ProgressLine {
 public:
  ProgressLine() = default;
  ~ProgressLine() { End(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void Show(const std::string& label, int percent, const std::string& suffix = {}) {
    const int width = 30;
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    std::string bar = "\r" + label + " [" + std::string(filled, '#') +
                      std::string(width - filled, ' ') + "] " + std::to_string(percent) + "%";
    if (!suffix.empty()) bar += "  " + suffix;
    if (bar.size() < last_) bar += std::string(last_ - bar.size(), ' ');
    last_ = bar.size();
    std::cerr << bar << std::flush;
    lost_ = lost_ || !std::cerr;
  }
  void End() {
    if (last_) std::cerr << '\n';
    last_ = 0;
    lost_ = lost_ || !std::cerr;
  }
  // Standard error could not be written (its reader went away).
  bool Lost() const { return lost_; }

 private:
  std::size_t last_ = 0;
  bool lost_ = false;
};

// The instrument behind a transport from `makeTransport`, identified like discovery does on a
// first one and then handed a second; `shown` names the address in messages.
std::shared_ptr<TDevice> IdentifiedDevice(
    const std::function<std::shared_ptr<TInterface>()>& makeTransport, const std::string& shown) {
  std::string reply;
  {
    auto probe = makeTransport();
    probe->Open();
    try {
      reply = probe->Query(";*IDN?", 1000);
      probe->Send("SYST:LOC");
    } catch (...) {
      probe->Close();
      throw;
    }
    probe->Close();
  }
  if (reply.empty()) throw std::runtime_error(_("No instrument answers on ") + shown);
  if (!IsMakerReply(reply))
    throw std::runtime_error(shown + ": " +
                             _("the device there is no known instrument; it answered:") + " \"" +
                             ShowForeign(reply) + "\"");
  const TIdentification id = ParseIdentification(reply);
  if (id.Model.empty())
    throw std::runtime_error(shown + ": " +
                             _("the instrument names no model in its identification:") + " \"" +
                             ShowForeign(reply) + "\"");
  return CreateDeviceForModel(id.Model, makeTransport(), id.SerialNumber);
}

// The device on `port`; `trace` sees the probe's lines too.
std::shared_ptr<TDevice> DeviceOnPort(const std::string& port,
                                      const TInterface::TTraceObserver& trace = {}) {
  return IdentifiedDevice(
      [&]() -> std::shared_ptr<TInterface> {
        auto transport = std::make_shared<TRS232Interface>(1, port);
        transport->Name = "COM";
        transport->SetTraceObserver(trace);
        return transport;
      },
      EscapeControls(port));
}

// The instrument at a LAN address (TCPIP::HOST::PORT::SOCKET or TCPIP::HOST::INSTR).
std::shared_ptr<TDevice> DeviceOnLan(const TLanAddress& address,
                                     const TInterface::TTraceObserver& trace = {}) {
  return IdentifiedDevice(
      [&]() -> std::shared_ptr<TInterface> {
        const auto transport = MakeLanTransport(address);
        transport->Name = "LAN";
        transport->SetTraceObserver(trace);
        return transport;
      },
      EscapeControls(address.Text()));
}

std::shared_ptr<TDevice> DeviceByName(const std::string& name) {
  for (auto& bus : SearchDevices())
    for (auto& d : bus.devices)
      if (d->GetName() == name || d->GetModel() == name || d->GetSerialNumber() == name ||
          PortOf(d) == name)
        return d;
  throw std::runtime_error(_("No device found: ") + name);
}

// The --trace file. A write that fails (a full disk) is remembered; the command then fails once the
// run has ended as usual.
class TTraceFile {
 public:
  bool Open(const std::string& path) {
    path_ = EscapeControls(path);
    file_.open(path, std::ios::trunc);
    return static_cast<bool>(file_);
  }
  TInterface::TTraceObserver Observer() {
    return [this](const std::string& line) {
      std::lock_guard guard(lock_);
      if (error_) return;
      errno = 0;
      file_ << line << '\n';
      file_.flush();
      if (!file_) Failed(errno);
    };
  }
  void Close() {
    std::lock_guard guard(lock_);
    if (file_.is_open()) file_.close();
  }
  // `status`, or 1 with the message when the trace is not complete.
  int Finish(int status) {
    std::lock_guard guard(lock_);
    if (file_.is_open()) {
      errno = 0;
      file_.close();
      if (!file_) Failed(errno);
    }
    return error_ ? Fail(*error_) : status;
  }

 private:
  void Failed(int err) {
    if (!error_)
      error_ = _("Cannot write ") + path_ + (err ? std::string(": ") + std::strerror(err) : "");
  }
  std::mutex lock_;
  std::ofstream file_;
  std::string path_;
  std::optional<std::string> error_;
};

struct PlayOptions {
  std::string document, port, device, trace, wire;
  int output = 0, input = 0;
  bool currentInput = false;
  int burst = 1;
  bool trigger = false, noPlay = false, demo = false;
  TPlayMeasureOptions measure;
};

int RunPlay(const PlayOptions& options, TTraceFile& traceFile) {
  SegmentTable voltageTable, currentTable;
  ReadDocumentFile(options.document, voltageTable, currentTable);
  // An empty voltage curve would be played at the model's maximum: refuse before connecting.
  if (voltageTable.SegmentCount() == 0)
    return Fail(options.document + ": " +
                _("The document has no voltage curve, so there is nothing to play."));
  std::shared_ptr<TWaveform> voltage = BuildWaveform(voltageTable);
  std::shared_ptr<TWaveform> current = BuildWaveform(currentTable);

  std::optional<sim::TDemoInstruments> instruments;
  if (options.demo || DemoRequested()) StartDemo(instruments);

  // The trace starts with the first line, also when connecting fails.
  TInterface::TTraceObserver traceObserver;
  if (!options.trace.empty()) {
    if (!traceFile.Open(options.trace))
      return Fail(_("Cannot write ") + EscapeControls(options.trace));
    traceObserver = traceFile.Observer();
  }
  std::optional<TPlayMeasurement> measurement;
  if (options.measure.Active()) {
    measurement.emplace(options.measure);
    traceObserver = measurement->WrapTrace(traceObserver);
  }

  std::shared_ptr<TDevice> found;
  if (!options.port.empty())
    found = DeviceOnPort(options.port, traceObserver);
  else if (const auto lan = ParseLanAddress(options.device))
    found = DeviceOnLan(*lan, traceObserver);
  else if (!options.device.empty())
    found = DeviceByName(options.device);
  else if (instruments)
    found = DeviceOnPort(instruments->Paths().front(), traceObserver);
  else
    return Fail(_("Name an instrument with --port or --device"));

  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(found);
  if (!player || found->IsUnsupported())
    return Fail(found->GetName() + ": " + _("this device cannot play waveforms"));
  if (options.trigger && !std::dynamic_pointer_cast<ITriggerablePlayer>(found))
    return Fail(found->GetModel() + ": " + _("this device has no external trigger"));
  if (options.burst < 0 || options.burst > player->GetMaxBurstCount())
    return Fail(_("The burst count must lie between 0 and ") +
                std::to_string(player->GetMaxBurstCount()));

  // A card streams into the control input of the device wired to one of its outputs.
  const bool card = IsAnalogOutputCard(found);
  if (card) {
    if (options.wire.empty())
      return Fail(found->GetName() + ": " +
                  _("name the device wired to the card output with --wire"));
    const std::shared_ptr<TDevice> wired = DeviceByName(options.wire);
    auto input = std::dynamic_pointer_cast<IAnalogInput>(wired);
    if (!input || wired->IsUnsupported())
      return Fail(wired->GetName() + ": " + _("this device takes no control signal"));
    if (options.currentInput) input->SetCurrentInput(true, options.input);
    if (!WireOutput(std::dynamic_pointer_cast<IAnalogOutput>(found), options.output, input,
                    options.input))
      return Fail(_("No such card output or device input"));
    if (!WaveformsWithinLimits(*wired, voltage.get(), current.get()))
      std::cerr << _("Warning: ")
                << _("The waveform exceeds the device bounderies and will be clipped.") << '\n';
  }
  // The remote window's checks before connecting; the questions become warnings here.
  for (const TFitFinding& finding : CheckFit(*found, *player, *voltage, *current, card)) {
    if (finding.Refused) return Fail(_(finding.Text));
    std::cerr << _("Warning: ") << _(finding.Text) << '\n';
  }

  if (auto transport = player->GetInterface(); transport && traceObserver)
    transport->SetTraceObserver(traceObserver);
  // A card has no transport: its log of library calls is its trace.
  if (auto daq = std::dynamic_pointer_cast<TDaqMxDevice>(found); daq && traceObserver)
    daq->GetTrace()->SetTraceObserver(traceObserver);

  TEventQueue queue;
  queue.Install();
  const TPlayRun::TPump pump = [&](const std::function<bool()>& done,
                                   std::chrono::milliseconds timeout) {
    return queue.PumpUntil(done, timeout);
  };
  ProgressLine progress;
  int burstCounter = 1, lastPercent = 0, burstShown = 1;
  const std::string burstTotal = options.burst == 0 ? "INF" : std::to_string(options.burst);
  TPlayRun::TEvents events;
  events.UploadProgress = [&](int percent) { progress.Show(_("Uploading"), percent); };
  bool stopRequested = false;
  events.PlayProgress = [&](int percent) {
    if (measurement) measurement->Start();  // a device that reports progress but not the start
    if (stopRequested) return;              // the line reads "Stopping" now
    if (percent < lastPercent) ++burstCounter;
    lastPercent = percent;
    int burst = std::max(burstCounter, burstShown);
    if (options.burst > 0) burst = std::min(burst, options.burst);
    progress.Show(_("Playing"), percent,
                  _("Burst") + std::string(" ") + std::to_string(burst) + " / " + burstTotal);
  };
  events.Burst = [&](int n) { burstShown = n; };
  // Polling begins when the device reports that it plays; time 0 of the readings is the start
  // its driver reported just before (IStartTimeReporter), or this instant for one that cannot.
  events.Playing = [&] {
    if (measurement) measurement->Start();
  };
  events.Triggered = [&] {
    progress.End();
    std::cerr << _("Received Trigger, executing waveform") << '\n';
  };
  TPlayRun run(found, events);
  // Channel 1 of a two-channel supply, as picking its first channel node does.
  if (auto output = card ? nullptr : std::dynamic_pointer_cast<IAnalogOutput>(found))
    if (output->GetConnectedInputs().size() > 1) run.SelectChannel(0);

  // From here every end goes through the run's release: the end of the list, an instrument
  // error, an ending signal, a reader of the output that went away. A closed pipe is a failed
  // write, not a signal.
  TIgnoredBrokenPipe brokenPipe;
  TEndingSignals signals(
      kStopConfirmation + kReleaseConfirmation + std::chrono::seconds(5),
      [&run] { return run.LastRelease(std::chrono::milliseconds(1200)); },
      _("Ended at once: the stop and the local command were sent, unconfirmed."),
      _("Ended without the instrument's confirmation: it may still be playing, with its output "
        "on."));
  auto interrupted = [&] { return TEndingSignals::Received() != 0 || progress.Lost(); };
  // An interruption ends with 128 + the signal's number, as shells expect; a lost output with 1.
  auto interruptedStatus = [&] {
    return TEndingSignals::Received() != 0 ? TEndingSignals::ExitStatus() : 1;
  };
  auto finish = [&](int status) {
    progress.End();
    if (!run.ReleaseAndWait(pump, kReleaseConfirmation))
      std::cerr << _("Warning: ") << _("The instrument did not confirm the disconnect.") << '\n';
    TMainThread::SetDispatcher(nullptr);
    if (run.ErrorText()) {
      Fail(*run.ErrorText());
      return status ? status : 1;
    }
    return status;
  };

  // A failure thrown on the way still ends the run through its release, waited for.
  struct TReleaseOnThrow {
    std::function<void()> Release;
    ~TReleaseOnThrow() {
      if (std::uncaught_exceptions() == 0) return;
      try {
        Release();
      } catch (...) {
      }
    }
  } releaseOnThrow{[&] {
    progress.End();
    run.ReleaseAndWait(pump, kReleaseConfirmation);
  }};

  std::cerr << _("Connecting to") << ' ' << found->GetName() << "...\n";
  run.Connect();
  if (measurement)
    measurement->Prepare(*found, *player, voltageTable, currentTable, voltage, current,
                         options.document, options.burst);

  // What the supply will play differently from the design without saying so, with the
  // limits the instrument reported.
  for (const std::string& line : SilentChangeFindings(
           ComputeLimitFindings(voltageTable, currentTable, ListSettingsOf(*found, *player))))
    std::cerr << _("Warning: ") << line << '\n';

  run.Upload(voltage, current, true);
  while (!queue.PumpUntil([&] { return run.UploadFinished() || run.ErrorText() || interrupted(); },
                          std::chrono::hours(24))) {
  }
  if (interrupted() && !run.UploadFinished() && !run.ErrorText()) {
    run.CancelUpload();
    queue.PumpUntil([&] { return run.UploadFinished() || run.ErrorText().has_value(); },
                    std::chrono::seconds(60));
    progress.End();
    const bool failed = run.ErrorText().has_value();
    const int status = finish(interruptedStatus());
    if (!failed) Fail(_("Upload cancelled."));
    return status;
  }
  progress.End();
  if (run.ErrorText()) return finish(1);
  if (options.noPlay) return finish(0);

  // With the demo instruments, SIGUSR1 fires their trigger input: an external trigger from
  // outside the process.
  std::optional<ScopedSignal> triggerSignal;
  if (instruments) triggerSignal.emplace(SIGUSR1, gTriggerSignal, OnTriggerSignal);
  // As the window does: the trigger setting goes to every player that has a trigger input.
  run.Start(options.burst, TRunTrigger{options.trigger, 0, std::nullopt});
  if (options.trigger) std::cerr << _("Waiting for trigger") << '\n';
  progress.Show(_("Playing"), 0, _("Burst") + std::string(" 1 / ") + burstTotal);
  bool unconfirmed = false;
  for (;;) {
    queue.PumpUntil(
        [&] {
          return run.Ended() || run.ErrorText() || (interrupted() && !stopRequested) ||
                 gTriggerSignal.load();
        },
        std::chrono::hours(24));
    if (instruments && gTriggerSignal.exchange(false)) instruments->Trigger();
    if (run.Ended() || run.ErrorText()) break;
    if (interrupted() && !stopRequested) {
      stopRequested = true;
      progress.End();
      std::cerr << _("Stopping...") << '\n';
      if (measurement) measurement->Stop();  // the stop never waits behind a reading
      if (!run.StopAndWait(pump, kStopConfirmation) && !run.ErrorText()) {
        unconfirmed = true;
        break;
      }
    }
  }
  progress.End();
  if (measurement) measurement->Stop();
  if (unconfirmed)
    std::cerr << "ondrevo-cli: " << _("The instrument did not confirm the stop.") << '\n';
  else if (stopRequested && !run.ErrorText())
    std::cerr << _("Stopped.") << '\n';
  const int status = finish(stopRequested ? interruptedStatus() : 0);
  return measurement ? measurement->Finish(status) : status;
}

}  // namespace

void RegisterDeviceCommands(CommandRegistry& registry) {
  auto* devices = registry.app.add_subcommand("devices", "Search the connected instruments");
  auto json = std::make_shared<bool>(false);
  auto demoDevices = std::make_shared<bool>(false);
  devices->add_flag("--json", *json, "Print the tree as JSON");
  devices->add_flag("--demo", *demoDevices, "Start simulated instruments first");
  registry.Add(devices, [json, demoDevices] { return RunDevices(*json, *demoDevices); });

  auto* play = registry.app.add_subcommand(
      "play", "Connect to an instrument, upload a document, play it and disconnect");
  auto options = std::make_shared<PlayOptions>();
  play->add_option("document", options->document, "The .ovx document")->required();
  auto* port = play->add_option("--port", options->port, "Serial port of the instrument");
  play->add_option("--device", options->device,
                   "Device name, model, serial number, port, or LAN address "
                   "(TCPIP::HOST::PORT::SOCKET, TCPIP::HOST::INSTR)")
      ->excludes(port);
  play->add_option("--burst", options->burst, "Repetitions (0: endless)");
  play->add_flag("--trigger", options->trigger, "Wait for the external trigger");
  play->add_flag("--no-play", options->noPlay, "Upload only");
  play->add_option("--output", options->output, "Card output to stream through (default 0)");
  play->add_option("--wire", options->wire,
                   "Device wired to the card output: name, model or serial number");
  play->add_option("--input", options->input, "Its control input (default 0)");
  play->add_flag("--current-input", options->currentInput,
                 "The wired input controls the current: the current curve is streamed");
  play->add_option("--trace", options->trace, "Write every transport line to this file");
  play->add_flag("--demo", options->demo, "Start simulated instruments first");
  play->add_option("--meter", options->measure.Meter,
                   "Measure with this SCPI meter while playing: serial port, GPIB0::ADDRESS, "
                   "USB::SERIAL, TCPIP::HOST::PORT::SOCKET or TCPIP::HOST::INSTR (family C "
                   "measures itself without one)");
  play->add_option("--record", options->measure.Record,
                   "Write every reading with the design and the point in force to this CSV file");
  play->add_option("--report", options->measure.Reports,
                   "Write the test report to this file: PDF when the name ends in .pdf, else "
                   "self-contained HTML; may be given more than once")
      // One name each time, so a document named after it stays the document.
      ->allow_extra_args(false);
  play->add_option("--tolerance", options->measure.Tolerance,
                   "Band around the designed voltage (default 0.1V); leaving it exits 1");
  play->add_option("--poll-interval", options->measure.IntervalMs,
                   "Milliseconds between readings (default 20)");
  registry.Add(play, [options] {
    if (options->measure.Active()) {
      try {
        TPlayMeasurement check(options->measure);
      } catch (const std::invalid_argument& e) {
        std::cerr << "ondrevo-cli: " << e.what() << "\n";
        return 2;
      }
    }
    if (options->port.empty() && options->device.empty() && !options->demo && !DemoRequested()) {
      std::cerr << "ondrevo-cli: play needs --port or --device\n";
      return 2;
    }
    TTraceFile trace;
    int status = 1;
    try {
      status = RunPlay(*options, trace);
    } catch (...) {
      trace.Close();  // the exception's message is the one line
      throw;
    }
    return trace.Finish(status);
  });
}

}  // namespace ondrevo::cli
