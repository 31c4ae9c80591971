#include "devices/supplies/ksv6140/Ksv6140Device.h"

#include <stdexcept>

#include "devices/DeviceErrors.h"
#include "devices/ModelTables.h"
#include "devices/supplies/InstrumentChecks.h"
#include "devices/supplies/ksv6140/Ksv6140Protocol.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

TKsv6140Device::TKsv6140Device(const std::string& model, std::shared_ptr<TInterface> transport,
                               const std::string& serialNumber)
    : TListPlayerDevice(model, std::move(transport), serialNumber, DeviceFamily::B) {
  Name = model;
}

TKsv6140Device::~TKsv6140Device() {
  if (Connected) CloseConnection(false);
}

void TKsv6140Device::Connect() {
  // Settings of an earlier connection must not be restored at the end of this one, also when
  // this one fails before it has read any.
  SavedSettings.clear();
  Transport->Open();
  Transport->OpenDevice();
  Transport->SetRemote();
  Transport->Send(ksv6140::kLanguage);
  const int32_t condition = ksv6140::ParseIntegerReply(Query(ksv6140::kConditionQuery));
  if ((condition & ksv6140::kConditionRunning) == 0) {
    for (const char* line : ksv6140::kPrepare) Transport->Send(line);
    if (Trim(Query(ksv6140::kSequenceQuery)) != "1") SavedSettings = Query(ksv6140::kSettingsQuery);
    double limits[4];
    for (int k = 0; k < 4; ++k) limits[k] = ParseNumber(Query(ksv6140::kLimitQueries[k]));
    // They become the clipping limits of every upload: an absurd one ends the connect.
    const ModelLimits rating = FamilyBLimits(Model);
    MaxVoltage = CheckReportedMaximum(limits[0], rating.MaxVoltage, TQuantity::Voltage);
    MinVoltage = CheckReportedMinimum(limits[1], MaxVoltage, TQuantity::Voltage);
    MaxCurrent = CheckReportedMaximum(limits[2], rating.MaxCurrent, TQuantity::Current);
    MinCurrent = CheckReportedMinimum(limits[3], MaxCurrent, TQuantity::Current);
    Transport->Send(ksv6140::ModeLine(ConnectedOutputs[0].lock() != nullptr,
                                      ConnectedOutputs[1].lock() != nullptr));
  }
  Query(ksv6140::kErrorQuery);
  VoltageFactor = MaxVoltage / 10.0;
  CurrentFactor = MaxCurrent / 10.0;
  ConnectDone();
}

void TKsv6140Device::ReleaseInstrument() {
  try {
    if (!Transport->IsBusy() && !SavedSettings.empty()) Query(SavedSettings + ksv6140::kOpcQuery);
    Transport->SetLocal();
    Transport->CloseDevice();
  } catch (...) {
  }
}

void TKsv6140Device::WritePoints(TUploadJob& job, const std::vector<double>& dwell,
                                 const std::vector<double>& voltage,
                                 const std::vector<double>& current) {
  const int32_t n = static_cast<int32_t>(dwell.size());
  job.Send("FAS " + std::to_string(job.FirstIndex));
  int32_t p = 0;
  ksv6140::RegisterLine line;
  if (n > 0) line = ksv6140::BuildRegisterLine(dwell, voltage, current, 0, MaxCommandLength);
  while (p < n && !job.Terminated()) {
    p = line.Last;
    job.SetProgress(static_cast<double>(p) / n);
    job.SendQuery(line.Text + ksv6140::kOpcQuery);
    // The next line is built while the instrument stores this one.
    ksv6140::RegisterLine next;
    if (p + 1 < n)
      next = ksv6140::BuildRegisterLine(dwell, voltage, current, p + 1, MaxCommandLength);
    job.AwaitReply();
    line = std::move(next);
    ++p;
    job.SetProgress(static_cast<double>(p) / n);
  }
  if (!job.Terminated()) {
    job.LastIndex = n;  // locations are one-based: the last one written
    job.Send(ksv6140::EndAddressLine(job.LastIndex));
    job.Send(ksv6140::kEndUpload);
    // A register the instrument refused leaves a list that must not be played.
    RaiseQueuedError([&] { return job.Query(ksv6140::kErrorQuery); });
  }
}

void TKsv6140Device::Play() {
  Stopped = false;
  SendStart(ksv6140::kStart);
  StartRunningThread();
  if (OnPlay) OnPlay(this);
}

bool TKsv6140Device::PollRunning(TPollJob& job) {
  if (job.FirstIndex < job.LastIndex) {
    const int32_t address = ksv6140::ParseIntegerReply(job.Query(ksv6140::kAddressQuery));
    if (address < job.LastAddress) job.ReportRepetition(++job.Repetition);
    job.ReportProgress(static_cast<double>(address - job.FirstIndex) /
                       (job.LastIndex - job.FirstIndex));
    job.LastAddress = address;
  }
  const int32_t condition = ksv6140::ParseIntegerReply(job.Query(ksv6140::kConditionQuery));
  return (condition & ksv6140::kConditionRunning) != 0;
}

void TKsv6140Device::PlayFinished() {
  if (!Stopped && OnBurst) {
    // The count the instrument played, read back now that the poll no longer uses the line.
    int32_t count = 0;
    try {
      count = GetBurstCount();
    } catch (const std::exception& e) {
      ReportError(e);
      TListPlayerDevice::PlayFinished();
      return;
    }
    OnBurst(this, count);
  }
  TListPlayerDevice::PlayFinished();
}

void TKsv6140Device::Pause() {
  for (const char* line : ksv6140::kPause) Transport->Send(line);
}

void TKsv6140Device::Stop() {
  for (const char* line : ksv6140::kStop) Transport->Send(line);
  Stopped = true;
}

void TKsv6140Device::SetBurstCount(int32_t count) {
  Transport->Send("FREP " + std::to_string(count));
  Query(ksv6140::kErrorQuery);
}

int32_t TKsv6140Device::GetBurstCount() {
  std::string reply;
  try {
    reply = Query(ksv6140::kBurstQuery);
  } catch (const ETimeoutError&) {
    reply = "1";
  }
  return ksv6140::ParseIntegerReply(reply);
}

void TKsv6140Device::SetOutputEnabled(bool enabled, int32_t /*channel*/) {
  Transport->Send(enabled ? "EX 1" : "EX 0");
}

bool TKsv6140Device::IsOutputEnabled(int32_t /*channel*/) {
  return Query("EX?") == "1";
}

void TKsv6140Device::SetOutputFlag(bool value, int32_t channel) {
  OutputFlags.at(static_cast<std::size_t>(channel)) = value;
}

bool TKsv6140Device::GetOutputFlag(int32_t channel) const {
  return OutputFlags.at(static_cast<std::size_t>(channel));
}

void TKsv6140Device::SetValues(double voltage, double current) {
  // Negated tests so that a NaN is out of range too.
  if (!(voltage >= MinVoltage && voltage <= MaxVoltage && current >= MinCurrent &&
        current <= MaxCurrent))
    throw std::runtime_error(_("Data out of range"));
  Transport->Send("V " + ksv6140::FormatSetValue(voltage));
  Transport->Send("C " + ksv6140::FormatSetValue(current));
}

void TKsv6140Device::GetValues(double& voltage, double& current) {
  voltage = ParseNumber(Query("V?"));
  current = ParseNumber(Query("C?"));
}

}  // namespace ondrevo
