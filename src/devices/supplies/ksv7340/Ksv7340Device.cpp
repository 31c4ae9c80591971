#include "devices/supplies/ksv7340/Ksv7340Device.h"

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "devices/ModelTables.h"
#include "devices/supplies/InstrumentChecks.h"
#include "devices/supplies/ksv7340/Ksv7340Protocol.h"
#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

TKsv7340Device::TKsv7340Device(const std::string& model, std::shared_ptr<TInterface> transport,
                               const std::string& serialNumber)
    : TListPlayerDevice(model, std::move(transport), serialNumber, DeviceFamily::C) {
  const int32_t channels = OutputChannelCount(model);
  ConnectedInputs.resize(channels);
  OutputFlags.resize(channels, false);
}

TKsv7340Device::~TKsv7340Device() {
  // Threads hold the device alive, so none runs here; handlers may be gone, so no events.
  if (Connected) CloseConnection(false);
}

void TKsv7340Device::Connect() {
  Transport->Open();
  Transport->OpenDevice();
  Transport->SetRemote();
  for (const char* line : ksv7340::kConnectHead) Transport->Send(line);
  // The reported maxima become the clipping limits of every upload: a negative, zero or
  // absurd one would be played, so it ends the connect.
  const ModelLimits rating = FamilyCLimits(Model);
  const double maxVoltage = CheckReportedMaximum(ParseNumber(Query(ksv7340::kQueryMaxVoltage)),
                                                 rating.MaxVoltage, TQuantity::Voltage);
  const double maxCurrent = CheckReportedMaximum(ParseNumber(Query(ksv7340::kQueryMaxCurrent)),
                                                 rating.MaxCurrent, TQuantity::Current);
  MaxVoltage = maxVoltage;
  MaxCurrent = maxCurrent;
  if (ConnectedInputs.size() > 1)
    Transport->Send(ConnectedInputs[0] ? "INST:NSEL 1" : "INST:NSEL 2");
  for (const char* line : ksv7340::kConnectTail) Transport->Send(line);
  Query(ksv7340::kErrorQuery);
  ConnectDone();
}

void TKsv7340Device::ReleaseInstrument() {
  try {
    Transport->Send(ksv7340::kRelease);
    Transport->SetLocal();
    Transport->CloseDevice();
  } catch (...) {
  }
}

void TKsv7340Device::WritePoints(TUploadJob& job, const std::vector<double>& dwell,
                                 const std::vector<double>& voltage,
                                 const std::vector<double>& current) {
  const int32_t n = static_cast<int32_t>(dwell.size());
  int32_t p = 0;
  ksv7340::ListChunk chunk;
  if (n > 0) chunk = ksv7340::BuildListChunk(dwell, voltage, current, 0, MaxCommandLength);
  while (p < n && !job.Terminated()) {
    p = chunk.Last;
    job.SetProgress(static_cast<double>(p) / n);
    // The next chunk is built a third at a time while the instrument stores each line of this
    // one: over a fast line, building it whole during one of them would keep the line waiting.
    std::optional<ksv7340::TListChunkBuilder> next;
    if (p + 1 < n) next.emplace(dwell, voltage, current, p + 1, MaxCommandLength);
    const int32_t third = (chunk.Last - chunk.First) / 3 + 1;
    const std::string* lines[] = {&chunk.Voltage, &chunk.Current, &chunk.Dwell};
    for (const std::string* line : lines) {
      job.SendQuery(*line + ksv7340::kOpcQuery);
      if (next) next->Extend(line == &chunk.Dwell ? INT32_MAX : third);
      job.AwaitReply();
    }
    chunk = next ? next->Take() : ksv7340::ListChunk{};
    ++p;
    job.SetProgress(static_cast<double>(p) / n);
  }
  if (!job.Terminated()) {
    job.LastIndex = n > 0 ? n - 1 : 0;
    // A list the instrument refused in part must not be bounded, armed and played.
    RaiseQueuedError([&] { return job.Query(ksv7340::kErrorQuery); });
  }
}

void TKsv7340Device::FinishUpload(TUploadJob& job) {
  // Also after a cancel: the block bounds and INIT leave the list in a playable state.
  job.Send(ksv7340::BlockCommand(job.FirstIndex, job.LastIndex, 1));
  job.Send("INIT");
  // -213 "Init ignored": the list was initiated already (a cancelled upload initiates it too),
  // which is the state INIT asks for.
  RaiseQueuedError([&] { return job.Query(ksv7340::kErrorQuery); }, {ksv7340::kInitIgnored});
}

void TKsv7340Device::UploadDone(int32_t firstIndex, int32_t lastIndex) {
  TListPlayerDevice::UploadDone(firstIndex, lastIndex);
  SetBurstCount(GetBurstCount());
}

bool TKsv7340Device::PollRunning(TPollJob& job) {
  if (job.FirstIndex < job.LastIndex) {
    int32_t index = 0, repetition = 0;
    ksv7340::ParseSequenceReply(job.Query(ksv7340::kPollSequence), index, repetition);
    job.ReportProgress(static_cast<double>(index - job.FirstIndex) /
                       (job.LastIndex - job.FirstIndex));
    if (repetition != job.Repetition) {
      job.Repetition = repetition;
      job.ReportRepetition(repetition);
    }
  }
  return ksv7340::ParseIntegerReply(job.Query(ksv7340::kPollCondition)) ==
         ksv7340::kConditionRunning;
}

void TKsv7340Device::Play() {
  SendStart(ksv7340::kPlay);
  StartRunningThread();
  if (OnPlay) OnPlay(this);
}

void TKsv7340Device::Pause() {
  for (const char* line : ksv7340::kPause) Transport->Send(line);
}

void TKsv7340Device::Stop() {
  for (const char* line : ksv7340::kStop) Transport->Send(line);
}

void TKsv7340Device::SetBurstCount(int32_t count) {
  Transport->Send(count != 0 ? "LIST:SEQ:TERM FIRS" : "LIST:SEQ:TERM INF");
  Transport->Send(ksv7340::BlockCommand(FirstIndex, LastIndex, count));
  Query(ksv7340::kErrorQuery);
}

int32_t TKsv7340Device::GetBurstCount() {
  const std::string state = Query("LIST:SEQ:STAT?");
  if (state != "0") return 1;
  return ksv7340::ParseBlockCount(Query("LIST:BLOC? 0"));
}

void TKsv7340Device::SetOutputEnabled(bool enabled, int32_t /*channel*/) {
  Transport->Send(enabled ? "OUTP ON" : "OUTP OFF");
}

void TKsv7340Device::SetOutputFlag(bool value, int32_t channel) {
  OutputFlags.at(static_cast<std::size_t>(channel)) = value;
}

bool TKsv7340Device::GetOutputFlag(int32_t channel) const {
  return OutputFlags.at(static_cast<std::size_t>(channel));
}

void TKsv7340Device::SetValues(double voltage, double current) {
  // Negated tests so that a NaN is out of range too.
  if (!(voltage >= MinVoltage && voltage <= MaxVoltage && current >= MinCurrent &&
        current <= MaxCurrent))
    throw std::runtime_error(_("Data out of range"));
  Transport->Send("VOLT " + ksv7340::FormatSetValue(voltage));
  Transport->Send("CURR " + ksv7340::FormatSetValue(current));
}

void TKsv7340Device::GetValues(double& voltage, double& current) {
  voltage = ParseNumber(Query("VOLT?"));
  current = ParseNumber(Query("CURR?"));
}

bool TKsv7340Device::IsOutputEnabled(int32_t /*channel*/) {
  return Query("OUTP?") == "1";
}

}  // namespace ondrevo
