#include "devices/supplies/ListPlayerDevice.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "devices/MainThread.h"
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

constexpr auto kPollInterval = std::chrono::milliseconds(100);

// Upload and polling threads come from here: starting a thread costs as much as a good part of
// a short upload's line exchange. A thread idle for kIdle ends.
class TWorkers {
 public:
  // Never destroyed: idle workers may still wait on it while the program ends.
  static TWorkers& Instance() {
    static TWorkers* workers = new TWorkers;
    return *workers;
  }

  void Run(std::function<void()> job) {
    bool handed = false;
    {
      std::lock_guard guard(lock_);
      if (idle_ > 0) {
        --idle_;
        jobs_.push_back(std::move(job));
        handed = true;
      }
    }
    // Woken outside the lock, the worker starts at once instead of waiting for it.
    if (handed) {
      wake_.notify_one();
      return;
    }
    std::thread([this, job = std::move(job)]() mutable { Work(std::move(job)); }).detach();
  }

 private:
  static constexpr auto kIdle = std::chrono::seconds(10);

  void Work(std::function<void()> job) {
    for (;;) {
      job();
      job = nullptr;  // what the job holds goes now, not when the next one comes
      std::unique_lock guard(lock_);
      ++idle_;
      if (!wake_.wait_for(guard, kIdle, [&] { return !jobs_.empty(); })) {
        --idle_;
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  int idle_ = 0;  // workers waiting that no job has been handed to yet
};

}  // namespace

int32_t ProgressPercent(double fraction) {
  return static_cast<int32_t>(RoundHalfEven(fraction * 100.0));
}

// Samples the waveforms and hands the points to the family; owned by itself while it runs.
class TListPlayerDevice::TUploadThread : public TListPlayerDevice::TUploadJob {
 public:
  TUploadThread(std::shared_ptr<TListPlayerDevice> device, std::shared_ptr<TWaveform> voltage,
                std::shared_ptr<TWaveform> current)
      : device_(std::move(device)),
        transport_(device_->Transport),
        voltage_(std::move(voltage)),
        current_(std::move(current)),
        maxPoints_(device_->MaxPoints),
        timeoutMs_(device_->ReplyTimeout()) {
    PrepareListSampling(device_->ListSettings(), *voltage_, *current_, Sampler);
  }

  void Terminate() {
    terminated_.store(true);
    Sampler.Abort();
  }
  bool Terminated() const override { return terminated_.load(); }
  // Set on the main thread once the done or error event has been handled: from then on the
  // thread no longer uses the transport, so a new upload need not wait for its end handler.
  bool Finishing() const { return finishing_.load(); }

  static void Start(std::shared_ptr<TUploadThread> self) {
    auto counter = self->device_->activeThreads_;
    counter->fetch_add(1);
    TWorkers::Instance().Run([self = std::move(self), counter]() mutable {
      self->Run();
      self.reset();  // the device may die here, on this thread, after its end handler ran
      counter->fetch_sub(1);
    });
  }

  void Send(const std::string& command) override { transport_->Send(command); }
  std::string Query(const std::string& command) override {
    return transport_->Query(command, timeoutMs_);
  }
  // The line stays held until the reply is in: a command of the main thread in between (the
  // output switched on as the upload starts) would clear it.
  void SendQuery(const std::string& command) override {
    held_ = transport_->Hold();
    transport_->Send(command);
  }
  std::string AwaitReply() override {
    const auto held = std::move(held_);
    return transport_->Receive(timeoutMs_);
  }
  // Progress is posted, not waited for: a hand-over per percent would stall the line. A handler
  // that throws ends the upload with its error at the next step, as a waited-for one would.
  void SetProgress(double fraction) override {
    handlerFailure_->Rethrow();
    const int32_t percent = ProgressPercent(fraction);
    if (percent == lastPercent_) return;  // the event carries whole percent only
    lastPercent_ = percent;
    TMainThread::Post([device = device_, percent, failure = handlerFailure_] {
      try {
        if (device->OnUploadProgress) device->OnUploadProgress(device.get(), percent);
      } catch (...) {
        failure->Keep(std::current_exception());
      }
    });
  }

  TCountSampler Sampler;

 private:
  // The done or error event and the release of the device are one hand-over: a second one
  // would only add a wait on the main thread.
  void Run() {
    TListPlayerDevice* device = device_.get();
    Guarded([&] { Execute(); },
            [&](const std::exception& e) {
              // A failure between a query and its reply: the main thread must get the line.
              if (held_.owns_lock()) held_.unlock();
              Guarded(
                  [&] {
                    TMainThread::Synchronize([&] {
                      finishing_.store(true);
                      try {
                        device->ReportError(e);
                      } catch (...) {
                      }
                      Release();
                    });
                  },
                  [](const std::exception&) {});
            });
    // When no hand-over ran: the device must still forget this upload.
    if (!released_)
      Guarded([&] { TMainThread::Synchronize([&] { Release(); }); }, [](const std::exception&) {});
  }

  // Main thread, last: the device forgets this upload. A newer upload may already have taken
  // the place.
  void Release() {
    released_ = true;
    TListPlayerDevice* device = device_.get();
    if (device->UploadThread.get() != this) return;
    device->UploadThread.reset();
    if (!device->DisconnectPending) return;
    try {
      device->Disconnect();
    } catch (...) {
      // The upload's outcome has been reported; a failing disconnect handler does not change it.
    }
  }

  void Execute() {
    TDoubleVector durations;
    TDoubleMatrix values;
    // Sampling clears an abort that came before it started; the end request stays.
    if (!Terminated()) Sampler.Execute(maxPoints_, durations, values);
    if (!Sampler.Aborted() && !Terminated()) {
      starts_.assign(1, 0.0);
      for (const double d : durations) starts_.push_back(starts_.back() + d);
      FirstIndex = LastIndex = 0;
      SetProgress(0.0);
      device_->WritePoints(*this, durations, values[0], values[1]);
      handlerFailure_->Rethrow();
    }
    device_->FinishUpload(*this);
    TListPlayerDevice* device = device_.get();
    TMainThread::Synchronize([&] {
      // Every progress handler has run by now.
      handlerFailure_->Rethrow();
      device->PointStarts = std::move(starts_);
      device->UploadDone(FirstIndex, LastIndex);
      finishing_.store(true);
      Release();
    });
  }

  // The first exception of a posted handler, kept for the upload thread.
  class THandlerFailure {
   public:
    void Keep(std::exception_ptr error) {
      std::lock_guard guard(lock_);
      if (!error_) error_ = std::move(error);
    }
    void Rethrow() {
      std::exception_ptr error;
      {
        std::lock_guard guard(lock_);
        error = std::exchange(error_, nullptr);
      }
      if (error) std::rethrow_exception(error);
    }

   private:
    std::mutex lock_;
    std::exception_ptr error_;
  };

  std::shared_ptr<TListPlayerDevice> device_;
  const std::shared_ptr<THandlerFailure> handlerFailure_ = std::make_shared<THandlerFailure>();
  std::shared_ptr<TInterface> transport_;
  std::shared_ptr<TWaveform> voltage_, current_;
  std::vector<double> starts_;
  const int32_t maxPoints_;
  const uint32_t timeoutMs_;
  int32_t lastPercent_ = -1;
  std::unique_lock<std::recursive_mutex> held_;  // upload thread only
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finishing_{false};
  bool released_ = false;  // main thread; read by the upload thread after its hand-over
};

// Polls the instrument while it plays; the device keeps no reference to it.
class TListPlayerDevice::TCheckRunningThread : public TListPlayerDevice::TPollJob {
 public:
  static void Start(std::shared_ptr<TListPlayerDevice> device) {
    auto counter = device->activeThreads_;
    counter->fetch_add(1);
    TWorkers::Instance().Run([device = std::move(device), counter]() mutable {
      TCheckRunningThread thread(device);
      thread.Run();
      device.reset();
      counter->fetch_sub(1);
    });
  }

  std::string Query(const std::string& command) override {
    return transport_->Query(command, timeoutMs_);
  }
  bool IsBusy() override { return transport_->IsBusy(); }
  void ReportProgress(double fraction) override {
    TListPlayerDevice* device = device_;
    TMainThread::Synchronize([device, fraction] { device->PlayProgress(fraction); });
  }
  void ReportRepetition(int32_t repetition) override {
    TListPlayerDevice* device = device_;
    TMainThread::Synchronize([device, repetition] { device->PlayRepetition(repetition); });
  }

 private:
  explicit TCheckRunningThread(const std::shared_ptr<TListPlayerDevice>& device)
      : device_(device.get()),
        connection_(device->connection_.load()),
        transport_(device->Transport),
        timeoutMs_(device->ReplyTimeout()) {
    FirstIndex = device->FirstIndex;
    LastIndex = device->LastIndex;
    LastAddress = FirstIndex;
    PointStarts = device->PointStarts;
  }

  void Run() {
    TListPlayerDevice* device = device_;
    Guarded(
        [&] {
          bool running = true;
          while (running) {
            std::this_thread::sleep_for(kPollInterval);
            running = device->PollRunning(*this);
          }
          TMainThread::Synchronize([device] { device->PlayFinished(); });
        },
        [&](const std::exception& e) {
          // The user disconnected while it played: the port went away under the poll.
          if (device->connection_.load() != connection_) return;
          Guarded([&] { TMainThread::Synchronize([&] { device->ReportError(e); }); },
                  [](const std::exception&) {});
        });
  }

  TListPlayerDevice* device_;
  const int connection_;
  std::shared_ptr<TInterface> transport_;
  const uint32_t timeoutMs_;
};

TListPlayerDevice::TListPlayerDevice(const std::string& model,
                                     std::shared_ptr<TInterface> transport,
                                     const std::string& serialNumber, DeviceFamily family)
    : TDevice(model, serialNumber), Transport(std::move(transport)) {
  const FamilyConstants constants = ConstantsForFamily(family);
  MaxCommandLength = constants.MaxCommandLength;
  MinDwellTime = constants.MinDwellTime;
  MaxDwellTime = constants.MaxDwellTime;
  MaxPoints = constants.MaxPoints;
  MaxBurstCount = constants.MaxBurstCount;
  ModelLimits limits;
  switch (family) {
    case DeviceFamily::A:
      limits = FamilyALimits(model);
      break;
    case DeviceFamily::B:
      limits = FamilyBLimits(model);
      break;
    case DeviceFamily::C:
      limits = FamilyCLimits(model);
      break;
    case DeviceFamily::None:
      break;
  }
  MinVoltage = limits.MinVoltage;
  MaxVoltage = limits.MaxVoltage;
  MinCurrent = limits.MinCurrent;
  MaxCurrent = limits.MaxCurrent;
  VoltageResolution = limits.VoltageResolution;
  CurrentResolution = limits.CurrentResolution;
  VoltageFactor = limits.VoltageFactor;
  CurrentFactor = limits.CurrentFactor;
  Unsupported = limits.Unsupported;
}

std::string TListPlayerDevice::Query(const std::string& command) {
  return Transport->Query(command, replyTimeoutMs_.load());
}

void TListPlayerDevice::ReportError(const std::exception& e) {
  if (OnError) OnError(this, e);
}

void TListPlayerDevice::ConnectDone() {
  Connected = true;
  if (OnConnect) OnConnect(this);
}

void TListPlayerDevice::CloseConnection(bool notify) {
  ++connection_;
  ReleaseInstrument();
  try {
    Transport->Close();
  } catch (...) {
  }
  Connected = false;
  DisconnectPending = false;
  if (notify && OnDisconnect) OnDisconnect(this);
}

void TListPlayerDevice::Disconnect() {
  DisconnectPending = true;
  if (UploadThread) {
    // The upload's end handler comes back here once the thread is done.
    UploadThread->Terminate();
    return;
  }
  CloseConnection(true);
}

void TListPlayerDevice::Upload(std::shared_ptr<TWaveform> voltage,
                               std::shared_ptr<TWaveform> current, bool /*enableOutput*/) {
  if (UploadThread && !UploadThread->Finishing())
    throw std::runtime_error(_("An upload is already running"));
  if (!voltage || !current) throw std::runtime_error("No Waveform loaded");
  auto self = std::dynamic_pointer_cast<TListPlayerDevice>(shared_from_this());
  UploadThread = std::make_shared<TUploadThread>(self, std::move(voltage), std::move(current));
  TUploadThread::Start(UploadThread);
}

SupplyListSettings TListPlayerDevice::ListSettings() const {
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

void TListPlayerDevice::CancelUpload() {
  if (UploadThread) UploadThread->Terminate();
}

void TListPlayerDevice::UploadDone(int32_t firstIndex, int32_t lastIndex) {
  FirstIndex = firstIndex;
  LastIndex = lastIndex;
  if (OnUploadDone) OnUploadDone(this);
}

void TListPlayerDevice::StartRunningThread() {
  TCheckRunningThread::Start(std::dynamic_pointer_cast<TListPlayerDevice>(shared_from_this()));
}

void TListPlayerDevice::SetOnStartSent(TStartSentEvent handler) {
  startSent_.Set(std::move(handler));
}

void TListPlayerDevice::ReportStartSent(std::chrono::steady_clock::time_point at,
                                        std::chrono::steady_clock::duration uncertainty) {
  startSent_.Report(at, uncertainty);
}

void TListPlayerDevice::PlayProgress(double fraction) {
  if (OnPlayProgress) OnPlayProgress(this, ProgressPercent(fraction));
}

void TListPlayerDevice::PlayRepetition(int32_t repetition) {
  if (OnBurst) OnBurst(this, repetition);
}

void TListPlayerDevice::PlayFinished() {
  if (OnStop) OnStop(this);
}

}  // namespace ondrevo
