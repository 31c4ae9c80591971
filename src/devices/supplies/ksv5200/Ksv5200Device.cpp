#include "devices/supplies/ksv5200/Ksv5200Device.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "devices/DeviceErrors.h"
#include "devices/supplies/InstrumentChecks.h"
#include "devices/supplies/ksv5200/Ksv5200Protocol.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

TKsv5200Device::TKsv5200Device(const std::string& model, std::shared_ptr<TInterface> transport,
                               const std::string& serialNumber)
    : TListPlayerDevice(model, std::move(transport), serialNumber, DeviceFamily::A) {}

TKsv5200Device::~TKsv5200Device() {
  if (Connected) CloseConnection(false);
}

void TKsv5200Device::Connect() {
  // Settings of an earlier connection must not be restored at the end of this one, also when
  // this one fails before it has read any.
  SavedSettings.clear();
  Transport->Open();
  Transport->OpenDevice();
  Transport->SetRemote();
  Transport->Send(ksv5200::kLanguage);
  Query(ksv5200::kErrorQuery);
  if (!Transport->IsBusy()) {
    Transport->Send(ksv5200::kClear);
    const std::string mode(Trim(Query(ksv5200::kModeQuery)));
    if (mode != "3") SavedSettings = ksv5200::SavedSettings(Query(ksv5200::kSettingsQuery), mode);
    if (ConnectedOutputs[0].lock()) {
      Transport->Send("F 1");
      Transport->Send("C " + ksv5200::FormatSetValue(MaxCurrent));
    } else if (ConnectedOutputs[1].lock()) {
      Transport->Send("F 2");
      Transport->Send("V " + ksv5200::FormatSetValue(MaxVoltage));
    } else {
      Transport->Send("F 3");
      BurstCount = ksv5200::ParseIntegerReply(Query(ksv5200::kBurstQuery));
    }
  }
  Query(ksv5200::kErrorQuery);
  VoltageFactor = MaxVoltage / 10.0;
  CurrentFactor = MaxCurrent / 10.0;
  ConnectDone();
}

void TKsv5200Device::ReleaseInstrument() {
  // Mode and settings as before Connect, unless a waveform runs.
  try {
    if (!Transport->IsBusy() && !SavedSettings.empty()) Query(SavedSettings + ksv5200::kOpcQuery);
  } catch (...) {
  }
  try {
    Transport->SetLocal();
    Transport->CloseDevice();
  } catch (...) {
  }
}

void TKsv5200Device::WritePoints(TUploadJob& job, const std::vector<double>& dwell,
                                 const std::vector<double>& voltage,
                                 const std::vector<double>& current) {
  const int32_t n = static_cast<int32_t>(dwell.size());
  job.Send("FAS " + std::to_string(job.FirstIndex));
  job.Send("FAE " + std::to_string(job.LastIndex));
  bool toggle = false;
  int32_t p = 0;
  ksv5200::PointLine line;
  if (n > 0) line = ksv5200::BuildPointLine(dwell, voltage, current, 0, MaxCommandLength);
  while (p < n && !job.Terminated()) {
    p = line.Last;
    job.SetProgress(static_cast<double>(p) / n);
    job.SendQuery(line.Text + ksv5200::kOpcQuery);
    // The next line is built while the instrument stores this one.
    ksv5200::PointLine next;
    if (p + 1 < n) next = ksv5200::BuildPointLine(dwell, voltage, current, p + 1, MaxCommandLength);
    job.AwaitReply();
    // The end address follows every other line, so a burst can already run the points written.
    toggle = !toggle;
    if (toggle) job.Send("FAE " + std::to_string(p));
    line = std::move(next);
    ++p;
    job.SetProgress(static_cast<double>(p) / n);
  }
  if (!job.Terminated()) {
    job.LastIndex = n - 1;
    job.Send("FAE " + std::to_string(job.LastIndex));
    job.Send(ksv5200::kEndUpload);
    // A point the instrument refused leaves a list that must not be played.
    RaiseQueuedError([&] { return job.Query(ksv5200::kErrorQuery); });
  }
}

void TKsv5200Device::Play() {
  Stopped = false;
  Transport->Send(ExternalTrigger ? "ETR 1" : "ETR 0");
  WaitingForTrigger = ExternalTrigger;
  // "FS" starts the list, or arms it for the trigger, whose instant the poll estimates.
  triggerStartPending_ = ExternalTrigger;
  lastFirstAddressSent_.reset();
  SendStart(ksv5200::kStart, !ExternalTrigger);
  RemainingBursts = BurstCount;
  CycleActive = false;
  StartRunningThread();
  if (OnPlay) OnPlay(this);
}

bool TKsv5200Device::PollRunning(TPollJob& job) {
  if (job.FirstIndex < job.LastIndex) {
    try {
      const auto sent = std::chrono::steady_clock::now();
      const int32_t address = ksv5200::ParseIntegerReply(job.Query(ksv5200::kAddressQuery));
      if (triggerStartPending_)
        EstimateTriggerStart(job, address, sent, std::chrono::steady_clock::now());
      if (address < job.LastAddress) job.ReportRepetition(++job.Repetition);
      job.ReportProgress(static_cast<double>(address - job.FirstIndex) /
                         (job.LastIndex - job.FirstIndex));
      job.LastAddress = address;
    } catch (const ETimeoutError&) {
      // A single late answer to the address query is no reason to stop following the run.
    }
  }
  return job.IsBusy();
}

// The host does not see the trigger arrive; the address query tells how far the list has got.
// A reply of point k (k > 0) was read at some instant within [sent, received], so the list
// started within (sent - start of point k+1, received - start of point k]; an earlier reply of
// the first point at `sent0` moves the lower bound up to sent0 - start of point 1. The middle
// of that interval is reported, uncertain by half its width: at most half of point k's dwell
// plus half an exchange. A list that played once round between two polls (100 ms) would be
// placed one repetition late.
void TKsv5200Device::EstimateTriggerStart(const TPollJob& job, int32_t address,
                                          std::chrono::steady_clock::time_point sent,
                                          std::chrono::steady_clock::time_point received) {
  using std::chrono::duration_cast;
  using Dur = std::chrono::steady_clock::duration;
  const auto& starts = job.PointStarts;
  const int32_t k = address - job.FirstIndex;
  if (k <= 0 || starts.size() < 2) {
    lastFirstAddressSent_ = sent;
    return;
  }
  if (static_cast<std::size_t>(k) + 1 >= starts.size()) return;  // not a point of this list
  auto seconds = [](double s) { return duration_cast<Dur>(std::chrono::duration<double>(s)); };
  auto lower = sent - seconds(starts[k + 1]);
  if (lastFirstAddressSent_) lower = std::max(lower, *lastFirstAddressSent_ - seconds(starts[1]));
  const auto upper = received - seconds(starts[k]);
  if (upper < lower) lower = upper;
  triggerStartPending_ = false;
  ReportStartSent(lower + (upper - lower) / 2, (upper - lower) / 2);
}

void TKsv5200Device::PlayProgress(double x) {
  if (WaitingForTrigger && 0 < x && x + 0.001 < 1) {
    WaitingForTrigger = false;
    if (OnTrigger) OnTrigger(this);
  }
  if (ExternalTrigger && !WaitingForTrigger && x < 0.001 && CycleActive) {
    // Back at the start after a triggered burst: report it ended, then wait for the next.
    if (--RemainingBursts == 0) {
      WaitingForTrigger = true;
      if (OnStop) OnStop(this);
      if (OnPlay) OnPlay(this);
      RemainingBursts = BurstCount;
    }
    CycleActive = false;
  }
  if (x > 0) CycleActive = true;
  TListPlayerDevice::PlayProgress(x);
}

void TKsv5200Device::PlayFinished() {
  if (!Stopped && OnBurst) OnBurst(this, BurstCount);
  TListPlayerDevice::PlayFinished();
}

void TKsv5200Device::Pause() {
  for (const char* line : ksv5200::kPause) Transport->Send(line);
}

void TKsv5200Device::Stop() {
  for (const char* line : ksv5200::kStop) Transport->Send(line);
  Stopped = true;
}

void TKsv5200Device::SetBurstCount(int32_t count) {
  BurstCount = count;
  Transport->Send("FB " + std::to_string(count));
  Query(ksv5200::kErrorQuery);
}

int32_t TKsv5200Device::GetBurstCount() {
  std::string reply;
  try {
    reply = Query(ksv5200::kBurstQuery);
  } catch (const ETimeoutError&) {
    reply = "1";
  }
  BurstCount = ksv5200::ParseIntegerReply(reply);
  return BurstCount;
}

void TKsv5200Device::SetTriggerChannel(int32_t index) {
  if (index > 0) throw std::runtime_error(_("Unknown trigger channel"));
}

void TKsv5200Device::GetTriggerTypes(TTriggerTypes& types) const {
  types = {TTriggerType::ttRisingEdge};
}

void TKsv5200Device::GetTriggerChannelName(int32_t index, std::string& name) const {
  if (index > 0) throw std::runtime_error(_("Unknown trigger channel"));
  name = std::string(_("trigger input")) + " " + std::to_string(index);
}

void TKsv5200Device::SetOutputEnabled(bool enabled, int32_t /*channel*/) {
  Transport->Send(enabled ? "EX 1" : "EX 0");
}

bool TKsv5200Device::IsOutputEnabled(int32_t /*channel*/) {
  return Query("EX?") == "1";
}

void TKsv5200Device::SetOutputFlag(bool value, int32_t channel) {
  OutputFlags.at(static_cast<std::size_t>(channel)) = value;
}

bool TKsv5200Device::GetOutputFlag(int32_t channel) const {
  return OutputFlags.at(static_cast<std::size_t>(channel));
}

void TKsv5200Device::SetValues(double voltage, double current) {
  // Negated tests so that a NaN is out of range too.
  if (!(voltage >= MinVoltage && voltage <= MaxVoltage && current >= MinCurrent &&
        current <= MaxCurrent))
    throw std::runtime_error(_("Data out of range"));
  Transport->Send("V " + ksv5200::FormatSetValue(voltage));
  Transport->Send("C " + ksv5200::FormatSetValue(current));
}

void TKsv5200Device::GetValues(double& voltage, double& current) {
  voltage = ParseNumber(Query("V?"));
  current = ParseNumber(Query("C?"));
}

}  // namespace ondrevo
