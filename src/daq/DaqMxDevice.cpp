#include "daq/DaqMxDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "devices/DeviceErrors.h"
#include "devices/MainThread.h"
#include "devices/VendorLibrary.h"
#include "document/Numbers.h"
#include "document/Translate.h"
#include "model/Waveform.h"

namespace ondrevo {

namespace {

using Lib = TDaqMxLibrary;

std::string ReadText(const std::function<Lib::int32(char*, Lib::uInt32)>& read, std::size_t size) {
  std::string text(size, '\0');
  read(text.data(), static_cast<Lib::uInt32>(size));
  text.resize(std::strlen(text.c_str()));
  return text;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// An E-series product: its only 'E' ends the name.
bool IsESeries(const std::string& model) {
  const std::size_t e = model.find('E');
  return e != std::string::npos && e + 1 == model.size();
}

}  // namespace

double CardMinDwellTime(const std::string& productType, double aoMaxRate) {
  if (IsESeries(productType) && productType.find("DAQCard") != std::string::npos) return 0.000005;
  return 1.0 / aoMaxRate;
}

std::optional<TDaqCardInfo> FirstDaqCard() {
  std::shared_ptr<TDaqMxLibrary> lib;
  try {
    lib = TDaqMxLibrary::Load();
  } catch (const EInterfaceError&) {
    return std::nullopt;
  }
  const auto names = SplitDaqList(
      ReadText([&](char* d, Lib::uInt32 n) { return lib->GetSysDevNames(d, n); }, 255));
  for (const auto& name : names) {
    TDaqCardInfo card;
    card.Name = name;
    card.ProductType = ReadText(
        [&](char* d, Lib::uInt32 n) { return lib->GetDevProductType(name.c_str(), d, n); }, 255);
    double maxRate = 0.0;
    if (lib->GetDevAOMaxRate(name.c_str(), &maxRate) < 0 || !(maxRate > 0.0)) continue;
    card.MaxStreamRate = 1.0 / CardMinDwellTime(card.ProductType, maxRate);
    return card;
  }
  return std::nullopt;
}

TDaqRateChoice ChooseStreamRate(double probeMilliseconds, const std::optional<TDaqCardInfo>& card) {
  TDaqRateChoice choice;
  const double unlimited =
      ChooseDaqRate(std::numeric_limits<double>::infinity(), probeMilliseconds);
  choice.Rate = card ? ChooseDaqRate(card->MaxStreamRate, probeMilliseconds) : unlimited;
  choice.CardLimited = card && choice.Rate < unlimited;
  return choice;
}

struct TDaqMxDevice::TTriggerCookie {
  std::weak_ptr<TDaqExecuteThread> thread;
  std::weak_ptr<TDaqMxDevice> device;
  std::shared_ptr<TStartSentSlot> startSent;
  std::atomic<bool> started{false};  // only the first edge starts the clock
};

TDaqMxDevice::TDaqMxDevice(const std::string& productType, const std::string& cardName,
                           const std::string& serialNumber)
    : TDevice(productType, serialNumber),
      Lib(TDaqMxLibrary::Load()),
      Trace(std::make_shared<TDaqTrace>(Lib)),
      CardName(cardName) {
  const char* card = CardName.c_str();
  OutputChannels = SplitDaqList(ReadText(
      [&](char* d, Lib::uInt32 n) { return Lib->GetDevAOPhysicalChans(card, d, n); }, 255));
  ConnectedInputs.resize(OutputChannels.size());
  OutputFlags.resize(OutputChannels.size());

  double maxRate = 0.0, minRate = 0.0;
  Lib->Check(Lib->GetDevAOMaxRate(card, &maxRate));
  Lib->GetDevAOMinRate(card, &minRate);
  if (!(maxRate > 0.0)) throw EInterfaceError(_("The card reports no output rate."));
  MinDwellTime = CardMinDwellTime(Model, maxRate);
  MaxDwellTime = minRate > 0.0 ? 1.0 / minRate : 0.0;
  MaxPoints = 2000000;

  double ranges[8] = {};
  Lib->GetDevAOVoltageRngs(card, ranges, 8);
  double lo = 0.0, hi = 0.0;
  for (double r : ranges) {
    lo = std::min(lo, r);
    hi = std::max(hi, r);
  }
  MinVoltage = MinCurrent = lo;
  MaxVoltage = MaxCurrent = hi;

  const std::string pfiPrefix = "/" + CardName + "/PFI";
  for (auto& t : SplitDaqList(
           ReadText([&](char*d, Lib::uInt32 n) { return Lib->GetDevTerminals(card, d, n); }, 2048)))
    if (StartsWith(t, pfiPrefix)) PfiTerminals.push_back(t);
  for (auto& l : SplitDaqList(
           ReadText([&](char*d, Lib::uInt32 n) { return Lib->GetDevDILines(card, d, n); }, 2048)))
    if (l.find("port0") != std::string::npos) TriggerLines.push_back(l);
  if (!TriggerLines.empty()) TriggerLine = TriggerLines.front();

  ProgressTimer =
      std::make_unique<TProgressTimer>([this] { ProgressTick(); }, std::chrono::milliseconds(100));
  Unsupported = false;

  if (IsESeries(Model)) {
    TriggerAvailable = false;
  } else if (!PfiTerminals.empty() && !TriggerLines.empty()) {
    // The trigger is a change on a port0 line routed to a terminal: both are needed.
    const std::string event = "/" + CardName + "/ChangeDetectionEvent";
    Trace->Call("route " + event + " to " + PfiTerminals.front(), [&] {
      return Lib->ConnectTerms(event.c_str(), PfiTerminals.front().c_str(),
                               Lib::Val_DoNotInvertPolarity);
    });
    Routed = true;
    TriggerAvailable = true;
  }
}

TDaqMxDevice::~TDaqMxDevice() {
  if (ExecuteThread) {
    // The thread ends on its own and leaves the outputs at 0 V; nobody hears from it again.
    ExecuteThread->DetachEvents();
    ExecuteThread->Terminate();
    ExecuteThread.reset();
  }
  if (Connected) {
    OnDisconnect = nullptr;
    Disconnect();
  }
  ClearTriggerTask();
  if (Routed) {
    const std::string event = "/" + CardName + "/ChangeDetectionEvent";
    Trace->Call("unroute " + event + " from " + PfiTerminals.front(),
                [&] { return Lib->DisconnectTerms(event.c_str(), PfiTerminals.front().c_str()); });
  }
  ProgressTimer.reset();
}

bool TDaqMxDevice::IsCurrent(const TDaqExecuteThread* thread) const {
  return ExecuteThread && ExecuteThread.get() == thread;
}

void TDaqMxDevice::Connect() {
  OutputTask = std::make_shared<TDaqTask>(Lib, Trace, "output");
  TaskChannels.clear();
  for (auto& input : ConnectedInputs)
    if (auto rc = std::dynamic_pointer_cast<IRemoteControllable>(input)) rc->Connect();
  Connected = true;
  if (OnConnect) OnConnect(this);
}

void TDaqMxDevice::Disconnect() {
  DisconnectPending = true;
  if (ExecuteThread) {
    ExecuteThread->Terminate();
    return;  // completed when the thread has ended
  }
  for (auto& input : ConnectedInputs) {
    if (!input) continue;
    if (auto rc = std::dynamic_pointer_cast<IRemoteControllable>(input)) rc->Disconnect();
    for (auto& out : input->GetConnectedOutputs()) out.reset();
    input.reset();
  }
  ClearTriggerTask();
  OutputTask.reset();
  TaskChannels.clear();
  ProgressTimer->SetEnabled(false);
  Connected = false;
  DisconnectPending = false;
  if (OnDisconnect) OnDisconnect(this);
}

void TDaqMxDevice::Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
                          bool enableOutput) {
  std::shared_ptr<TDaqExecuteThread> previous = std::move(ExecuteThread);
  if (previous) {
    previous->DetachEvents();
    previous->Terminate();
  }
  if (!OutputTask) throw EConnectionError(_("The card is not connected."));
  double scale = 1.0;
  bool currentMode = false;
  std::vector<std::string> channels;
  for (std::size_t c = 0; c < OutputChannels.size(); ++c) {
    const auto& input = ConnectedInputs[c];
    if (!input) continue;
    const std::string& name = OutputChannels[c];
    if (std::find(TaskChannels.begin(), TaskChannels.end(), name) == TaskChannels.end()) {
      OutputTask->Check(DescribeDaqChannel(name), [&](TDaqTaskHandle t) {
        return Lib->CreateAOVoltageChan(t, name.c_str(), "", -10.0, 10.0, Lib::Val_Volts, nullptr);
      });
      TaskChannels.push_back(name);
    }
    channels.push_back(name);
    auto device = std::dynamic_pointer_cast<IDevice>(input);
    if (!device)
      throw std::runtime_error(_("The connected device does not support external control."));
    int32_t used = -1;
    auto& outputs = input->GetConnectedOutputs();
    for (std::size_t i = 0; i < outputs.size(); ++i)
      if (!outputs[i].expired()) {
        used = static_cast<int32_t>(i);
        break;
      }
    currentMode = used >= 0 && input->IsCurrentInput(used);
    scale = currentMode ? 1.0 / device->GetCurrentFactor() : 1.0 / device->GetVoltageFactor();
    MinVoltage = device->GetMinVoltage() / device->GetVoltageFactor();
    MaxVoltage = device->GetMaxVoltage() / device->GetVoltageFactor();
    MinCurrent = device->GetMinCurrent() / device->GetCurrentFactor();
    MaxCurrent = device->GetMaxCurrent() / device->GetCurrentFactor();
  }
  if (voltage)
    voltage->MinValue = MinVoltage, voltage->MaxValue = MaxVoltage, voltage->Resolution = 0.0;
  if (current)
    current->MinValue = MinCurrent, current->MaxValue = MaxCurrent, current->Resolution = 0.0;
  std::shared_ptr<TWaveform> played = currentMode ? current : voltage;
  if (!played) throw std::runtime_error("No Waveform loaded");
  Duration = played->GetDuration();

  TDaqExecuteThread::TConfig config;
  config.Task = OutputTask;
  config.MaxRate = 1.0 / MinDwellTime;
  config.Scale = scale;
  config.Waveform = played;
  config.ChannelNames = channels;
  config.EnableOutput = enableOutput;
  config.Processors = Processors;
  config.Predecessor = std::move(previous);

  // The thread reports to this device only while it is the current one.
  auto self =
      std::weak_ptr<TDaqMxDevice>(std::static_pointer_cast<TDaqMxDevice>(shared_from_this()));
  auto slot = std::make_shared<const TDaqExecuteThread*>(nullptr);
  auto current_ = [self, slot]() -> std::shared_ptr<TDaqMxDevice> {
    auto d = self.lock();
    return d && d->IsCurrent(*slot) ? d : nullptr;
  };
  TDaqEngineEvents events;
  events.OnError = [current_](const std::exception& e) {
    if (auto d = current_(); d && d->OnError) d->OnError(d.get(), e);
  };
  events.OnPrepared = [current_] {
    if (auto d = current_(); d && d->OnUploadDone) d->OnUploadDone(d.get());
  };
  events.OnOutputStarted = [slot = StartSent] { slot->Report(std::chrono::steady_clock::now()); };
  events.OnStarted = [current_] {
    auto d = current_();
    if (!d) return;
    d->Elapsed = 0.0;
    d->ReportedBurst = 0;
    if (d->OnPlay) d->OnPlay(d.get());
    if (!d->ExternalTrigger) d->ProgressTimer->SetEnabled(true);
  };
  events.OnStopped = [current_] {
    auto d = current_();
    if (!d) return;
    d->ReportBurst();  // the run's last burst, before its end
    d->ProgressTimer->SetEnabled(false);
    if (d->OnStop) d->OnStop(d.get());
  };
  events.OnTriggered = [current_] {
    auto d = current_();
    if (!d || d->ProgressTimer->Enabled()) return;
    d->ProgressTimer->SetEnabled(true);
    if (d->OnTrigger) d->OnTrigger(d.get());
  };
  events.OnEnded = [self, slot] {
    auto d = self.lock();
    if (!d) return;
    if (d->IsCurrent(*slot)) {
      d->ExecuteThread.reset();
      d->ProgressTimer->SetEnabled(false);
    }
    if (d->DisconnectPending && !d->ExecuteThread) d->Disconnect();
  };
  ExecuteThread = TDaqExecuteThread::Create(std::move(config), std::move(events));
  *slot = ExecuteThread.get();
  ExecuteThread->Resume();
}

void TDaqMxDevice::CancelUpload() {
  throw std::runtime_error(_("Not implemented"));
}

void TDaqMxDevice::Pause() {
  throw std::runtime_error(_("Not implemented"));
}

Lib::int32 TDaqMxDevice::TriggerCallback(TDaqTaskHandle, Lib::int32, void* data) {
  try {
    auto* cookie = static_cast<TTriggerCookie*>(data);
    auto thread = cookie->thread.lock();
    if (!thread) return -1;
    // The edge started the card's sample clock; the library calls back right after it (its
    // callback latency is the uncertainty).
    if (!cookie->started.exchange(true))
      cookie->startSent->Report(std::chrono::steady_clock::now());
    thread->MarkTriggered();
    thread->Notify([](const TDaqEngineEvents& e) {
      if (e.OnTriggered) e.OnTriggered();
    });
    return 0;
  } catch (...) {
    return -1;
  }
}

void TDaqMxDevice::ClearTriggerTask() {
  TriggerTask.reset();  // clears the task: no more callbacks with the cookie
  Cookie.reset();
}

void TDaqMxDevice::Play() {
  if (!ExecuteThread) return;
  if (ExternalTrigger) {
    if (!TriggerAvailable) throw EInterfaceError(_("The card has no trigger input."));
    ClearTriggerTask();
    TriggerTask = std::make_shared<TDaqTask>(Lib, Trace, "trigger");
    Cookie = std::make_shared<TTriggerCookie>();
    Cookie->thread = ExecuteThread;
    Cookie->device = std::static_pointer_cast<TDaqMxDevice>(shared_from_this());
    Cookie->startSent = StartSent;
    const TDaqTask& t = *TriggerTask;
    const std::string edge = TriggerOnFallingEdge ? "falling" : "rising";
    t.Check("digital input " + TriggerLine, [&](TDaqTaskHandle h) {
      return Lib->CreateDIChan(h, TriggerLine.c_str(), "", Lib::Val_ChanPerLine);
    });
    t.Check("change detection on the " + edge + " edge of " + TriggerLine, [&](TDaqTaskHandle h) {
      return Lib->CfgChangeDetectionTiming(h, TriggerOnFallingEdge ? "" : TriggerLine.c_str(),
                                           TriggerOnFallingEdge ? TriggerLine.c_str() : "",
                                           Lib::Val_ContSamps, 1);
    });
    // The trace names the edge from the value that goes out, so a wrong value shows there.
    const Lib::int32 startEdge = TriggerOnFallingEdge ? Lib::Val_Falling : Lib::Val_Rising;
    const std::string startEdgeName = startEdge == Lib::Val_Falling  ? "falling"
                                      : startEdge == Lib::Val_Rising ? "rising"
                                                                     : std::to_string(startEdge);
    OutputTask->Check("start trigger " + PfiTerminals.front() + ", " + startEdgeName + " edge",
                      [&](TDaqTaskHandle h) {
                        return Lib->CfgDigEdgeStartTrig(h, PfiTerminals.front().c_str(), startEdge);
                      });
    t.Check("notify on change detection", [&](TDaqTaskHandle h) {
      return Lib->RegisterSignalEvent(h, Lib::Val_ChangeDetectionEvent, 0, &TriggerCallback,
                                      Cookie.get());
    });
    t.Check("start", [&](TDaqTaskHandle h) { return Lib->StartTask(h); });
  } else if (OutputTask) {
    OutputTask->Call("no start trigger",
                     [&](TDaqTaskHandle h) { return Lib->DisableStartTrig(h); });
  }
  // Only now: a thread that finds the trigger wait set goes on at once, and its task must
  // already wait for the edge.
  ExecuteThread->SetTriggerWait(ExternalTrigger);
  ExecuteThread->Resume();
  Stopping = false;
}

void TDaqMxDevice::Stop() {
  if (ExecuteThread) {
    ExecuteThread->SetTriggerWait(false);
    ExecuteThread->RequestStop();
    if (ExternalTrigger && TriggerTask) {
      TriggerTask->Call("stop", [&](TDaqTaskHandle h) { return Lib->StopTask(h); });
      ClearTriggerTask();
    }
  }
  Stopping = true;
}

void TDaqMxDevice::SetBurstCount(int32_t count) {
  if (ExecuteThread) ExecuteThread->SetBurstCount(static_cast<uint32_t>(std::max(count, 0)));
}

int32_t TDaqMxDevice::GetBurstCount() {
  return ExecuteThread ? static_cast<int32_t>(ExecuteThread->GetBurstCount()) : 1;
}

void TDaqMxDevice::SetTriggerChannel(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(TriggerLines.size()))
    throw std::out_of_range("No trigger line " + std::to_string(index));
  TriggerLine = TriggerLines[static_cast<std::size_t>(index)];
}

int32_t TDaqMxDevice::GetTriggerChannelCount() const {
  return static_cast<int32_t>(TriggerLines.size());
}

void TDaqMxDevice::GetTriggerTypes(TTriggerTypes& types) const {
  types = {TTriggerType::ttRisingEdge, TTriggerType::ttFallingEdge};
}

void TDaqMxDevice::GetTriggerChannelName(int32_t index, std::string& name) const {
  if (index < 0 || index >= static_cast<int32_t>(TriggerLines.size()))
    throw std::out_of_range("No trigger line " + std::to_string(index));
  name = TriggerLines[static_cast<std::size_t>(index)];
}

void TDaqMxDevice::SetOutputEnabled(bool enabled, int32_t) {
  for (auto& input : ConnectedInputs)
    if (auto out = std::dynamic_pointer_cast<IAnalogOutput>(input))
      out->SetOutputEnabled(enabled, 0);
}

void TDaqMxDevice::SetOutputFlag(bool value, int32_t channel) {
  if (channel >= 0 && channel < static_cast<int32_t>(OutputFlags.size()))
    OutputFlags[static_cast<std::size_t>(channel)] = value;
}

bool TDaqMxDevice::GetOutputFlag(int32_t channel) const {
  return channel >= 0 && channel < static_cast<int32_t>(OutputFlags.size()) &&
         OutputFlags[static_cast<std::size_t>(channel)];
}

void TDaqMxDevice::SetValues(double, double) {
  throw std::runtime_error(_("Not implemented"));
}

void TDaqMxDevice::GetValues(double&, double&) {
  throw std::runtime_error(_("Not implemented"));
}

bool TDaqMxDevice::IsOutputEnabled(int32_t channel) {
  if (channel < 0 || channel >= static_cast<int32_t>(ConnectedInputs.size())) return false;
  const auto& input = ConnectedInputs[static_cast<std::size_t>(channel)];
  if (!input) return false;
  if (auto out = std::dynamic_pointer_cast<IAnalogOutput>(input)) return out->IsOutputEnabled(0);
  return true;
}

bool TDaqMxDevice::ReportBurst() {
  if (!ExecuteThread) return false;
  const int32_t n = ExecuteThread->PlayingBurst();
  if (n <= 0 || n == ReportedBurst) return false;
  ReportedBurst = n;
  Elapsed = 0.0;
  if (OnBurst) OnBurst(this, n);
  return true;
}

namespace {
using TFireTrigger = void (*)(const char* line, int rising);
TFireTrigger SimulatedTrigger(const TDaqMxLibrary& lib) {
  return reinterpret_cast<TFireTrigger>(OwnSymbol(lib.Handle(), "OndrevoDaqSimFireTrigger"));
}
}  // namespace

bool TDaqMxDevice::IsSimulated() const {
  return SimulatedTrigger(*Lib) != nullptr;
}

void TDaqMxDevice::FireSimulatedTrigger() {
  if (TriggerLine.empty()) return;
  if (auto fire = SimulatedTrigger(*Lib)) fire(TriggerLine.c_str(), TriggerOnFallingEdge ? 0 : 1);
}

void TDaqMxDevice::ProgressTick() {
  if (ReportBurst()) {
    if (OnPlayProgress) OnPlayProgress(this, 0);
    return;
  }
  if (!(Duration > 0.0)) return;
  Elapsed += 0.1;
  if (Elapsed + 0.15 > Duration) Elapsed = 0.0;
  const int percent = static_cast<int>(RoundHalfEven(Elapsed / Duration * 100.0));
  if (OnPlayProgress) OnPlayProgress(this, percent);
}

TDaqInterface::TDaqInterface() : lib_(TDaqMxLibrary::Load()) {
  Name = "NI-DAQmx";
}

TDaqInterface::~TDaqInterface() = default;

void TDaqInterface::OpenDevice() {
  task_ = std::make_unique<TDaqTask>(lib_);
}

void TDaqInterface::CloseDevice() {
  task_.reset();
}

void TDaqInterface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.push_back(std::make_shared<TDaqInterface>());
}

void TDaqInterface::GetDevices(TDeviceList& devices) {
  devices.clear();
  const std::string names =
      ReadText([&](char* d, Lib::uInt32 n) { return lib_->GetSysDevNames(d, n); }, 255);
  for (const auto& name : SplitDaqList(names)) {
    try {
      const std::string product = ReadText(
          [&](char* d, Lib::uInt32 n) { return lib_->GetDevProductType(name.c_str(), d, n); }, 255);
      Lib::uInt32 serial = 0;
      lib_->Check(lib_->GetDevSerialNum(name.c_str(), &serial));
      char hex[16];
      std::snprintf(hex, sizeof hex, "%03X", static_cast<unsigned>(serial));
      devices.push_back(std::make_shared<TDaqMxDevice>(product, name, hex));
    } catch (const std::exception&) {
      // A card that cannot be opened is left out.
    }
  }
}

}  // namespace ondrevo
