#include "devices/supplies/Ksv7340Device.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "devices/MainThread.h"
#include "devices/ModelTables.h"
#include "devices/supplies/Ksv7340Protocol.h"
#include "document/Numbers.h"
#include "document/Translate.h"
#include "model/Samplers.h"

namespace ondrevo {

namespace {

// Runs body; any failure goes to onError as a std::exception.
template <typename Body, typename OnError>
void Guarded(Body&& body, OnError&& onError) {
  try {
    body();
  } catch (const std::exception& e) {
    onError(e);
  } catch (...) {
    onError(std::runtime_error("Unknown error"));
  }
}

int32_t Percent(double fraction) {
  return static_cast<int32_t>(RoundHalfEven(fraction * 100.0));
}

}  // namespace

// Samples the waveforms and writes the point lists; owned by itself while it runs.
class TKsv7340Device::TUploadThread {
 public:
  TUploadThread(std::shared_ptr<TKsv7340Device> device, std::shared_ptr<TWaveform> voltage,
                std::shared_ptr<TWaveform> current)
      : device_(std::move(device)),
        transport_(device_->Transport),
        voltage_(std::move(voltage)),
        current_(std::move(current)),
        MaxPoints(device_->MaxPoints),
        MaxCommandLength(device_->MaxCommandLength),
        timeoutMs_(device_->replyTimeoutMs_.load()) {
    PrepareListSampling(device_->ListSettings(), *voltage_, *current_, Sampler);
  }

  void Terminate() {
    terminated_.store(true);
    Sampler.Abort();
  }
  bool Terminated() const { return terminated_.load(); }
  // Set on the main thread once the done or error event has been handled: from then on the
  // thread no longer uses the transport, so a new upload need not wait for its end handler.
  bool Finishing() const { return finishing_.load(); }

  static void Start(std::shared_ptr<TUploadThread> self) {
    auto counter = self->device_->activeThreads_;
    counter->fetch_add(1);
    std::thread([self = std::move(self), counter]() mutable {
      self->Run();
      self.reset();  // the device may die here, on this thread, after its end handler ran
      counter->fetch_sub(1);
    }).detach();
  }

  TCountSampler Sampler;

 private:
  void Run() {
    TKsv7340Device* device = device_.get();
    Guarded([&] { Execute(); },
            [&](const std::exception& e) {
              Guarded(
                  [&] {
                    TMainThread::Synchronize([&] {
                      finishing_.store(true);
                      device->ReportError(e);
                    });
                  },
                  [](const std::exception&) {});
            });
    // End handler: also after a failure. A newer upload may already have taken the place.
    Guarded(
        [&] {
          TMainThread::Synchronize([&] {
            if (device->UploadThread.get() != this) return;
            device->UploadThread.reset();
            if (device->DisconnectPending) device->Disconnect();
          });
        },
        [](const std::exception&) {});
  }

  std::string Query(const std::string& command) {
    transport_->Send(command);
    return transport_->Receive(timeoutMs_);
  }

  void ReportProgress() {
    const int32_t percent = Percent(Progress);
    if (percent == lastPercent_) return;  // the event carries whole percent only
    lastPercent_ = percent;
    TKsv7340Device* device = device_.get();
    TMainThread::Synchronize([device, percent] {
      if (device->OnUploadProgress) device->OnUploadProgress(device, percent);
    });
  }

  void Execute() {
    TDoubleVector durations;
    TDoubleMatrix values;
    // Sampling clears an abort that came before it started; the end request stays.
    if (!Terminated()) Sampler.Execute(MaxPoints, durations, values);
    if (!Sampler.Aborted() && !Terminated()) {
      FirstIndex = LastIndex = 0;
      const int32_t n = static_cast<int32_t>(durations.size());
      int32_t p = 0;
      Progress = 0.0;
      ReportProgress();
      while (p < n && !Terminated()) {
        const ksv7340::ListChunk chunk =
            ksv7340::BuildListChunk(durations, values[0], values[1], p, MaxCommandLength);
        p = chunk.Last;
        Progress = static_cast<double>(p) / n;
        ReportProgress();
        Query(chunk.Voltage + ksv7340::kOpcQuery);
        Query(chunk.Current + ksv7340::kOpcQuery);
        Query(chunk.Dwell + ksv7340::kOpcQuery);
        ++p;
        Progress = static_cast<double>(p) / n;
        ReportProgress();
      }
      if (!Terminated()) {
        LastIndex = n > 0 ? n - 1 : 0;
        Query("SYST:ERR?");
      }
    }
    transport_->Send(ksv7340::BlockCommand(FirstIndex, LastIndex, 1));
    transport_->Send("INIT");
    Query("SYST:ERR?");
    TKsv7340Device* device = device_.get();
    TMainThread::Synchronize([&] {
      device->FirstIndex = FirstIndex;
      device->LastIndex = LastIndex;
      if (device->OnUploadDone) device->OnUploadDone(device);
      device->SetBurstCount(device->GetBurstCount());
      finishing_.store(true);
    });
  }

  std::shared_ptr<TKsv7340Device> device_;
  std::shared_ptr<TInterface> transport_;
  std::shared_ptr<TWaveform> voltage_, current_;
  const int32_t MaxPoints;
  const int32_t MaxCommandLength;
  const uint32_t timeoutMs_;
  double Progress = 0.0;
  int32_t FirstIndex = 0;
  int32_t LastIndex = 0;
  int32_t lastPercent_ = -1;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finishing_{false};
};

// Polls the instrument every 100 ms while it plays; the device keeps no reference to it.
class TKsv7340Device::TCheckRunningThread {
 public:
  static void Start(std::shared_ptr<TKsv7340Device> device) {
    auto counter = device->activeThreads_;
    counter->fetch_add(1);
    std::thread([device = std::move(device), counter]() mutable {
      TCheckRunningThread thread(device);
      thread.Run();
      device.reset();
      counter->fetch_sub(1);
    }).detach();
  }

 private:
  explicit TCheckRunningThread(const std::shared_ptr<TKsv7340Device>& device)
      : device_(device.get()),
        transport_(device->Transport),
        FirstIndex(device->FirstIndex),
        LastIndex(device->LastIndex),
        timeoutMs_(device->replyTimeoutMs_.load()) {}

  std::string Query(const std::string& command) {
    transport_->Send(command);
    return transport_->Receive(timeoutMs_);
  }

  void Run() {
    TKsv7340Device* device = device_;
    Guarded(
        [&] {
          int32_t condition = 0;
          do {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (FirstIndex < LastIndex) {
              int32_t index = 0, repetition = 0;
              ksv7340::ParseSequenceReply(Query("LIST:SEQ?"), index, repetition);
              Progress = static_cast<double>(index - FirstIndex) / (LastIndex - FirstIndex);
              const int32_t percent = Percent(Progress);
              TMainThread::Synchronize([device, percent] {
                if (device->OnPlayProgress) device->OnPlayProgress(device, percent);
              });
              if (repetition != Repetition) {
                Repetition = repetition;
                TMainThread::Synchronize([device, repetition] {
                  if (device->OnBurst) device->OnBurst(device, repetition);
                });
              }
            }
            condition = ksv7340::ParseIntegerReply(Query("STAT:OPER:COND?"));
          } while (condition == 8);
          TMainThread::Synchronize([device] {
            if (device->OnStop) device->OnStop(device);
          });
        },
        [&](const std::exception& e) {
          // The user disconnected while it played: the port went away under the poll.
          if (device->connection_.load() != connection_) return;
          Guarded([&] { TMainThread::Synchronize([&] { device->ReportError(e); }); },
                  [](const std::exception&) {});
        });
  }

  TKsv7340Device* device_;
  const int connection_ = device_->connection_.load();
  std::shared_ptr<TInterface> transport_;
  const int32_t FirstIndex;
  const int32_t LastIndex;
  const uint32_t timeoutMs_;
  double Progress = 0.0;
  int32_t Repetition = 1;
};

TKsv7340Device::TKsv7340Device(const std::string& model, std::shared_ptr<TInterface> transport,
                               const std::string& serialNumber)
    : TDevice(model, serialNumber), Transport(std::move(transport)) {
  const ModelLimits limits = FamilyCLimits(model);
  MinVoltage = limits.MinVoltage;
  MaxVoltage = limits.MaxVoltage;
  MinCurrent = limits.MinCurrent;
  MaxCurrent = limits.MaxCurrent;
  VoltageResolution = limits.VoltageResolution;
  CurrentResolution = limits.CurrentResolution;
  VoltageFactor = limits.VoltageFactor;
  CurrentFactor = limits.CurrentFactor;
  Unsupported = limits.Unsupported;
  const int32_t channels = OutputChannelCount(model);
  ConnectedInputs.resize(channels);
  OutputFlags.resize(channels, false);
}

TKsv7340Device::~TKsv7340Device() {
  // Threads hold the device alive, so none runs here; handlers may be gone, so no events.
  if (Connected) CloseConnection(false);
}

std::string TKsv7340Device::Query(const std::string& command) {
  Transport->Send(command);
  return Transport->Receive(replyTimeoutMs_.load());
}

void TKsv7340Device::ReportError(const std::exception& e) {
  if (OnError) OnError(this, e);
}

void TKsv7340Device::Connect() {
  Transport->Open();
  Transport->OpenDevice();
  Transport->SetRemote();
  Transport->Send(";*CLS");
  Transport->Send("SYST:LANG CIIL");
  Transport->Send("LIST:SEQ:STAT OFF");
  const double maxVoltage = ParseNumber(Query("SOUR:VOLT? MAX"));
  const double maxCurrent = ParseNumber(Query("SOUR:CURR? MAX"));
  MaxVoltage = maxVoltage;
  MaxCurrent = maxCurrent;
  if (ConnectedInputs.size() > 1)
    Transport->Send(ConnectedInputs[0] ? "INST:NSEL 1" : "INST:NSEL 2");
  Transport->Send("LIST:SEQ:OPEN:MODE NORM");
  Transport->Send("LIST:SEQ:TERM FIRS");
  Transport->Send("LIST:SEQ:STAT ON");
  Transport->Send("LIST:SEQ:BLOC 0");
  Query("SYST:ERR?");
  Connected = true;
  if (OnConnect) OnConnect(this);
}

void TKsv7340Device::CloseConnection(bool notify) {
  ++connection_;
  try {
    Transport->Send("LIST:SEQ:STAT OFF");
    Transport->SetLocal();
    Transport->CloseDevice();
  } catch (...) {
  }
  try {
    Transport->Close();
  } catch (...) {
  }
  Connected = false;
  DisconnectPending = false;
  if (notify && OnDisconnect) OnDisconnect(this);
}

void TKsv7340Device::Disconnect() {
  DisconnectPending = true;
  if (UploadThread) {
    // The upload's end handler comes back here once the thread is done.
    UploadThread->Terminate();
    return;
  }
  CloseConnection(true);
}

void TKsv7340Device::Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
                            bool /*enableOutput*/) {
  if (UploadThread && !UploadThread->Finishing())
    throw std::runtime_error(_("An upload is already running"));
  if (!voltage || !current) throw std::runtime_error("No Waveform loaded");
  auto self = std::dynamic_pointer_cast<TKsv7340Device>(shared_from_this());
  UploadThread = std::make_shared<TUploadThread>(self, std::move(voltage), std::move(current));
  TUploadThread::Start(UploadThread);
}

SupplyListSettings TKsv7340Device::ListSettings() const {
  SupplyListSettings s;
  s.MinVoltage = MinVoltage;
  s.MaxVoltage = MaxVoltage;
  s.VoltageResolution = VoltageResolution;
  s.MinCurrent = MinCurrent;
  s.MaxCurrent = MaxCurrent;
  s.CurrentResolution = CurrentResolution;
  s.MinDwellTime = MinDwellTime;
  s.MaxDwellTime = MaxDwellTime;
  s.MaxPoints = MaxPoints;
  return s;
}

void TKsv7340Device::CancelUpload() {
  if (UploadThread) UploadThread->Terminate();
}

void TKsv7340Device::Play() {
  Transport->Send("OUTP ON");
  Transport->Send("TRIG:SOUR BUS");
  Transport->Send("INIT:CONT OFF");
  Transport->Send("INIT");
  Transport->Send("*TRG");
  TCheckRunningThread::Start(std::dynamic_pointer_cast<TKsv7340Device>(shared_from_this()));
  if (OnPlay) OnPlay(this);
}

void TKsv7340Device::Pause() {
  Transport->Send("ABOR");
}

void TKsv7340Device::Stop() {
  Transport->Send("ABOR");
  Transport->Send("LIST:SEQ:CLE");
}

void TKsv7340Device::SetBurstCount(int32_t count) {
  Transport->Send(count != 0 ? "LIST:SEQ:TERM FIRS" : "LIST:SEQ:TERM INF");
  Transport->Send(ksv7340::BlockCommand(FirstIndex, LastIndex, count));
  Query("SYST:ERR?");
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
