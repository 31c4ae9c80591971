#include "daq/DaqExecuteThread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include "devices/DeviceErrors.h"
#include "devices/MainThread.h"
#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

using Lib = TDaqMxLibrary;
using std::chrono::milliseconds;

constexpr std::size_t kProbeSamples = 1000000;
constexpr double kProbeInterval = 0.000001;

}  // namespace

double ChooseDaqRate(double maxRate, double probeMilliseconds) {
  return std::min(maxRate, 1000.0 / (2.0 * (probeMilliseconds + 1.0)) * 1000000.0);
}

int DaqSamplingThreads(int processors) {
  const int n = processors > 0 ? processors : static_cast<int>(std::thread::hardware_concurrency());
  return std::max(n, 1);
}

namespace {

// How fast this computer computes samples of the waveform: a million of them, interleaved over
// the sampling threads as a fill is.
double RunProbe(std::vector<std::unique_ptr<TDaqSampleThread>>& samplers,
                TPendingCounter& pending) {
  TDoubleVector probe(kProbeSamples);
  const auto t0 = std::chrono::steady_clock::now();
  pending.Set(static_cast<int>(samplers.size()));
  for (auto& s : samplers) {
    s->Restart(kProbeInterval);
    s->Run(&probe);
  }
  pending.Wait();
  for (auto& s : samplers)
    if (s->Error) std::rethrow_exception(s->Error);
  return static_cast<double>(
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - t0).count());
}

}  // namespace

double ProbeDaqWaveform(TWaveform& waveform, double scale, int processors) {
  const int n = DaqSamplingThreads(processors);
  TPendingCounter pending;
  std::vector<std::unique_ptr<TDaqSampleThread>> samplers;
  for (int i = 0; i < n; ++i)
    samplers.push_back(std::make_unique<TDaqSampleThread>(&waveform, scale, n, i, pending));
  return RunProbe(samplers, pending);
}

void TPendingCounter::Set(int n) {
  std::lock_guard guard(lock_);
  pending_ = n;
}

void TPendingCounter::Done() {
  std::lock_guard guard(lock_);
  if (--pending_ <= 0) zero_.notify_all();
}

void TPendingCounter::Wait() {
  std::unique_lock guard(lock_);
  zero_.wait(guard, [&] { return pending_ <= 0; });
}

TDaqSampleThread::TDaqSampleThread(TWaveform* waveform, double scale, int stride, int index,
                                   TPendingCounter& pending)
    : stride_(stride), index_(index), pending_(pending) {
  sampler_.Waveform = waveform;
  sampler_.Gain = scale;
  thread_ = std::thread([this] { Loop(); });
}

TDaqSampleThread::~TDaqSampleThread() {
  {
    std::lock_guard guard(lock_);
    terminate_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TDaqSampleThread::Restart(double interval) {
  std::lock_guard guard(lock_);
  restartInterval_ = interval;
}

void TDaqSampleThread::Run(TDoubleVector* buffer) {
  {
    std::lock_guard guard(lock_);
    target_ = buffer;
  }
  wake_.notify_all();
}

void TDaqSampleThread::Loop() {
  for (;;) {
    TDoubleVector* buffer = nullptr;
    double restart = 0.0;
    {
      std::unique_lock guard(lock_);
      wake_.wait(guard, [&] { return terminate_ || target_ != nullptr; });
      if (terminate_ && !target_) return;
      buffer = std::exchange(target_, nullptr);
      restart = std::exchange(restartInterval_, 0.0);
    }
    try {
      Error = nullptr;
      if (restart > 0.0) sampler_.Start(stride_ - 1, index_, restart);
      sampler_.Fill(*buffer, Restarts, RestartPositions);
    } catch (...) {
      Error = std::current_exception();
      Restarts = 0;
      RestartPositions.clear();
    }
    pending_.Done();
  }
}

std::shared_ptr<TDaqExecuteThread> TDaqExecuteThread::Create(TConfig config,
                                                             TDaqEngineEvents events) {
  std::shared_ptr<TDaqExecuteThread> self(
      new TDaqExecuteThread(std::move(config), std::move(events)));
  std::thread([self]() mutable {
    self->Run();
    self.reset();  // may be the last reference
  }).detach();
  return self;
}

TDaqExecuteThread::TDaqExecuteThread(TConfig config, TDaqEngineEvents events)
    : config_(std::move(config)),
      lib_(config_.Task->Library()),
      events_(std::move(events)),
      taskHandle_(config_.Task->Handle()) {}

TDaqExecuteThread::~TDaqExecuteThread() = default;

void TDaqExecuteThread::Resume() {
  {
    std::lock_guard guard(ctl_);
    resumed_ = true;
    // A Stop counts until the next Play, not until the next run begins: a run that re-arms or
    // prepares again by itself must not swallow it.
    stopRequest_ = false;
  }
  wake_.notify_all();
}

void TDaqExecuteThread::SetTriggerWait(bool wait) {
  {
    std::lock_guard guard(ctl_);
    triggerWait_ = wait;
  }
  wake_.notify_all();
}

void TDaqExecuteThread::SetBurstCount(std::uint32_t count) {
  std::lock_guard guard(ctl_);
  requestedBurstCount_ = count;
}

std::uint32_t TDaqExecuteThread::GetBurstCount() const {
  std::lock_guard guard(ctl_);
  return requestedBurstCount_;
}

void TDaqExecuteThread::RequestStop() {
  {
    std::lock_guard guard(ctl_);
    stopRequest_ = true;
  }
  wake_.notify_all();
}

void TDaqExecuteThread::Terminate() {
  {
    std::lock_guard guard(ctl_);
    terminate_ = true;
  }
  wake_.notify_all();
}

void TDaqExecuteThread::MarkTriggered() {
  {
    std::lock_guard guard(ctl_);
    triggered_ = true;
  }
  wake_.notify_all();
}

void TDaqExecuteThread::DetachEvents() {
  detached_ = true;
}

void TDaqExecuteThread::Notify(const std::function<void(const TDaqEngineEvents&)>& fn) {
  if (detached_) return;
  try {
    TMainThread::Synchronize([&] {
      if (!detached_) fn(events_);
    });
  } catch (...) {
    // A failing handler is the receiver's matter; the stream goes on.
  }
}

bool TDaqExecuteThread::Terminating() {
  std::lock_guard guard(ctl_);
  return terminate_;
}

bool TDaqExecuteThread::StopRequested() {
  std::lock_guard guard(ctl_);
  return stopRequest_;
}

bool TDaqExecuteThread::Suspend() {
  std::unique_lock guard(ctl_);
  wake_.wait(guard, [&] { return resumed_ || terminate_; });
  resumed_ = false;
  return !terminate_;
}

void TDaqExecuteThread::WaitFor(const std::function<bool()>& done, milliseconds step) {
  std::unique_lock guard(ctl_);
  while (!done()) wake_.wait_for(guard, step);
}

void TDaqExecuteThread::Pause(milliseconds time) {
  std::unique_lock guard(ctl_);
  wake_.wait_for(guard, time, [&] { return terminate_ || stopRequest_; });
}

void TDaqExecuteThread::Fill(TDoubleVector& buffer, bool restart, bool wait) {
  const double interval = 1.0 / rate_.load();
  pending_.Set(static_cast<int>(samplers_.size()));
  for (auto& s : samplers_) {
    if (restart) s->Restart(interval);
    s->Run(&buffer);
  }
  if (wait) FinishFill();
}

void TDaqExecuteThread::FinishFill() {
  pending_.Wait();
  for (auto& s : samplers_)
    if (s->Error) std::rethrow_exception(s->Error);
}

void TDaqExecuteThread::Prepare() {
  const int n = DaqSamplingThreads(config_.Processors);
  for (int i = 0; i < n; ++i)
    samplers_.push_back(
        std::make_unique<TDaqSampleThread>(config_.Waveform.get(), config_.Scale, n, i, pending_));
  const double probeMs = RunProbe(samplers_, pending_);
  probeMs_ = probeMs;
  const double rate = ChooseDaqRate(config_.MaxRate, probeMs);
  const double h = std::max(1.0, std::nearbyint(rate));
  if (h > std::numeric_limits<std::int32_t>::max() / 4)
    throw EInterfaceError(_("The sample rate is out of range."));
  rate_ = rate;
  bufferLength_ = static_cast<std::uint32_t>(h);
  timeout_ = h * 1.3 / rate;
  bufferA_.assign(static_cast<std::size_t>(h), 0.0);
  bufferB_.assign(static_cast<std::size_t>(h), 0.0);

  const TDaqTask& task = *config_.Task;
  const auto samples = static_cast<std::uint64_t>(h);
  task.Check("buffer " + std::to_string(2 * samples) + " samples", [&](TDaqTaskHandle t) {
    return lib_->CfgOutputBuffer(t, static_cast<Lib::uInt32>(2 * h));
  });
  task.Check("timing " + FormatGeneral(rate) + " S/s, rising edge, continuous, " +
                 std::to_string(samples) + " samples per buffer",
             [&](TDaqTaskHandle t) {
               return lib_->CfgSampClkTiming(t, "", rate, Lib::Val_Rising, Lib::Val_ContSamps,
                                             static_cast<Lib::uInt64>(h));
             });

  if (config_.EnableOutput && !config_.ChannelNames.empty()) {
    const TWaveform& w = *config_.Waveform;
    double v = w.ValueAt(0) * config_.Scale;
    if (!std::isfinite(v)) throw ESamplerError(_("The waveform has no finite value at 0 s."));
    v = std::clamp(v, std::min(w.MinValue, w.MaxValue), std::max(w.MinValue, w.MaxValue));
    TDaqTask start(lib_, task.Trace(), "start value");
    for (const auto& name : config_.ChannelNames)
      start.Check(DescribeDaqChannel(name), [&](TDaqTaskHandle t) {
        return lib_->CreateAOVoltageChan(t, name.c_str(), "", -10.0, 10.0, Lib::Val_Volts, nullptr);
      });
    start.Call("no start trigger", [&](TDaqTaskHandle t) { return lib_->DisableStartTrig(t); });
    const std::vector<double> values(config_.ChannelNames.size(), v);
    Lib::int32 written = 0;
    start.Check("auto start, " + DescribeDaqWrite(values.data(), 1, values.size()),
                [&](TDaqTaskHandle t) {
                  return lib_->WriteAnalogF64(t, 1, 1, timeout_, Lib::Val_GroupByChannel,
                                              values.data(), &written, nullptr);
                });
    std::this_thread::sleep_for(milliseconds(100));
    start.Call("stop", [&](TDaqTaskHandle t) { return lib_->StopTask(t); });
  }
}

void TDaqExecuteThread::EndCheck(TDoubleVector& buffer) {
  maxRestarts_ = 0;
  bool restarted = false;
  for (auto& s : samplers_) {
    maxRestarts_ = std::max(maxRestarts_, s->Restarts);
    restarted = restarted || s->Restarts > 0;
  }
  // The n-th restart of the fill begins at the earliest n-th restart of any sampling thread.
  auto& starts = StartsOf(buffer);
  starts.clear();
  for (std::uint32_t n = 0; n < maxRestarts_; ++n) {
    std::int64_t first = -1;
    for (auto& s : samplers_)
      if (s->RestartPositions.size() > n && (first < 0 || s->RestartPositions[n] < first))
        first = s->RestartPositions[n];
    if (first >= 0) starts.push_back(first);
  }
  if (burstCount_ == 0) return;
  std::int64_t cut = -1;
  if (remaining_ > 0) {
    for (auto& s : samplers_) {
      if (s->RestartPositions.size() < remaining_) continue;
      const std::int64_t p = s->RestartPositions[remaining_ - 1];
      if (cut < 0 || p < cut) cut = p;
    }
  }
  if (!restarted) return;
  remaining_ -= std::min(remaining_, maxRestarts_);
  const std::int64_t length = static_cast<std::int64_t>(buffer.size());
  if (cut >= 0 && cut < length) {
    validMs_ = std::ceil(static_cast<double>(cut) / rate_.load() * 1000.0) + 15.0;
    hold_ = cut > 0 ? buffer[static_cast<std::size_t>(cut - 1)]
                    : (write_->empty() ? 0.0 : write_->back());
    std::fill(buffer.begin() + cut, buffer.end(), hold_);
  } else if (remaining_ == 0) {
    hold_ = buffer.back();  // the last burst ends exactly with this buffer
  }
}

void TDaqExecuteThread::Write(const TDoubleVector& buffer, bool autoStart) {
  const std::size_t channels = std::max<std::size_t>(1, config_.ChannelNames.size());
  const double* data = buffer.data();
  // Every wired channel plays the same samples: the library reads one block per channel.
  if (channels > 1) {
    channelCopy_.resize(buffer.size() * channels);
    for (std::size_t c = 0; c < channels; ++c)
      std::copy(buffer.begin(), buffer.end(), channelCopy_.begin() + c * buffer.size());
    data = channelCopy_.data();
  }
  Lib::int32 written = 0;
  const TDaqTask& task = *config_.Task;
  // Summarised only for a reader: the summary is a pass over every sample.
  std::string what = "write";
  if (task.Traced())
    what = (autoStart ? "auto start, " : "") + DescribeDaqWrite(data, buffer.size(), channels);
  const Lib::int32 status = task.Call(what, [&](TDaqTaskHandle t) {
    return lib_->WriteAnalogF64(t, static_cast<Lib::int32>(buffer.size()), autoStart ? 1 : 0,
                                timeout_, Lib::Val_GroupByChannel, data, &written, nullptr);
  });
  if (status == Lib::ErrorSamplesNotYetWritten) throw ETimeoutError(lib_->ErrorText(status));
  lib_->Check(status);
}

void TDaqExecuteThread::WriteWithRetry(const TDoubleVector& buffer) {
  for (int attempt = 1;; ++attempt) {
    try {
      Write(buffer, false);
      NoteWritten(buffer);
      return;
    } catch (const ETimeoutError&) {
      if (Terminating() || StopRequested()) return;
      if (attempt >= kMaxWriteAttempts)
        throw ETimeoutError(_("The card has taken no new samples in time."));
    }
    // One 100 ms pause between attempts, cut short by Stop or termination.
    Pause(milliseconds(100));
    if (Terminating() || StopRequested()) return;
  }
}

std::vector<std::int64_t>& TDaqExecuteThread::StartsOf(const TDoubleVector& buffer) {
  return &buffer == &bufferA_ ? startsA_ : startsB_;
}

void TDaqExecuteThread::BeginRunBursts() {
  std::lock_guard guard(burstLock_);
  burstStarts_.assign(1, {0, 1});
  nextBurst_ = 2;
  writtenTotal_ = 0;
  playing_ = 0;
  runActive_ = true;
}

void TDaqExecuteThread::NoteWritten(const TDoubleVector& buffer) {
  std::lock_guard guard(burstLock_);
  if (!runActive_) return;
  for (const std::int64_t p : StartsOf(buffer)) {
    // A counted run's last restart is its end, cut to the hold value.
    if (burstCount_ != 0 && static_cast<std::uint32_t>(nextBurst_) > burstCount_) break;
    burstStarts_.emplace_back(writtenTotal_ + static_cast<std::uint64_t>(p), nextBurst_++);
  }
  writtenTotal_ += buffer.size();
}

std::uint64_t TDaqExecuteThread::GeneratedLocked() {
  if (lib_->GetWriteTotalSampPerChanGenerated) {
    Lib::uInt64 generated = 0;
    if (lib_->GetWriteTotalSampPerChanGenerated(taskHandle_, &generated) >= 0) return generated;
  }
  // A write returns once the card's buffer of two buffer lengths has room: at least what lies
  // beyond that is out.
  const std::uint64_t held = 2ull * bufferLength_.load();
  return writtenTotal_ > held ? writtenTotal_ - held : 0;
}

void TDaqExecuteThread::AdvanceBurstsLocked(std::uint64_t generated) {
  while (!burstStarts_.empty() && burstStarts_.front().first < generated) {
    playing_ = burstStarts_.front().second;
    burstStarts_.pop_front();
  }
}

void TDaqExecuteThread::EndRunBursts(bool allOut) {
  std::lock_guard guard(burstLock_);
  if (!runActive_) return;
  AdvanceBurstsLocked(allOut ? std::numeric_limits<std::uint64_t>::max() : GeneratedLocked());
  burstStarts_.clear();
  runActive_ = false;
}

std::int32_t TDaqExecuteThread::PlayingBurst() {
  std::lock_guard guard(burstLock_);
  if (runActive_) AdvanceBurstsLocked(GeneratedLocked());
  return playing_;
}

void TDaqExecuteThread::LeaveAtZero() {
  if (bufferA_.empty()) return;
  std::fill(bufferA_.begin(), bufferA_.end(), 0.0);
  if (!config_.Task) return;
  const TDaqTask& task = *config_.Task;
  task.Call("no start trigger", [&](TDaqTaskHandle t) { return lib_->DisableStartTrig(t); });
  try {
    Write(bufferA_, true);
  } catch (const EInterfaceError&) {
    // The card may be gone: there is nothing more to leave safe.
  }
  std::this_thread::sleep_for(milliseconds(100));
  task.Call("stop", [&](TDaqTaskHandle t) { return lib_->StopTask(t); });
}

void TDaqExecuteThread::Run() {
  auto notify = [this](std::function<void()> TDaqEngineEvents::*handler) {
    Notify([handler](const TDaqEngineEvents& e) {
      if (e.*handler) (e.*handler)();
    });
  };
  if (auto before = std::move(config_.Predecessor)) before->WaitEnded();
  try {
    if (Suspend()) {
      Prepare();
      Cycle();
    }
    samplers_.clear();
    LeaveAtZero();
  } catch (const std::exception& e) {
    samplers_.clear();  // finishes any fill still writing into the buffers
    Notify([&e](const TDaqEngineEvents& ev) {
      if (ev.OnError) ev.OnError(e);
    });
    try {
      config_.Task->Call("stop", [&](TDaqTaskHandle t) { return lib_->StopTask(t); });
      LeaveAtZero();
    } catch (...) {
    }
  }
  // The task goes with the last holder: the device may clear its own once it hears of the end.
  config_.Task.reset();
  config_.Waveform.reset();
  notify(&TDaqEngineEvents::OnEnded);
  {
    std::lock_guard guard(endLock_);
    ended_ = true;
  }
  endChanged_.notify_all();
}

bool TDaqExecuteThread::Ended() {
  std::lock_guard guard(endLock_);
  return ended_;
}

void TDaqExecuteThread::WaitEnded() {
  std::unique_lock guard(endLock_);
  endChanged_.wait(guard, [&] { return ended_; });
}

void TDaqExecuteThread::Cycle() {
  auto notify = [this](std::function<void()> TDaqEngineEvents::*handler) {
    Notify([handler](const TDaqEngineEvents& e) {
      if (e.*handler) (e.*handler)();
    });
  };
  const double rate = rate_.load();
  const double bufferMs = static_cast<double>(bufferA_.size()) / rate * 1000.0;
  const TDaqTask& task = *config_.Task;
  bool reprepare = false;
  bool awaitPlay = false;  // the last run was stopped before it began
  while (!Terminating()) {
    {
      std::lock_guard guard(ctl_);
      burstCount_ = requestedBurstCount_;
    }
    remaining_ = burstCount_;
    preparedFor_ = burstCount_;
    validMs_ = std::nearbyint(static_cast<double>(bufferA_.size()) / rate) * 1000.0;
    maxRestarts_ = 0;
    Fill(*fill_, true);
    EndCheck(*fill_);  // an endless run only notes where its bursts begin
    std::swap(fill_, write_);
    if (remaining_ > 0 || burstCount_ == 0) Fill(*fill_, false);
    notify(&TDaqEngineEvents::OnPrepared);

    bool wait;
    {
      std::lock_guard guard(ctl_);
      wait = awaitPlay || (!reprepare && !triggerWait_);
      if (!wait) resumed_ = false;  // a Play that came early is this run's Play
    }
    reprepare = false;
    awaitPlay = false;
    if (wait && !Suspend()) break;
    if (Terminating()) break;

    std::uint32_t count;
    {
      std::lock_guard guard(ctl_);
      count = requestedBurstCount_;
    }
    // Samples prepared for another count that cannot be reused: prepare again.
    // Between endless and counted the prepared samples never fit: endless ones are not
    // counted, counted ones may end in the hold value.
    if ((count < preparedFor_ && count != 0 && remaining_ < preparedFor_) ||
        (preparedFor_ < count && remaining_ == 0 && preparedFor_ != 0) ||
        ((count == 0) != (preparedFor_ == 0))) {
      reprepare = true;
      continue;
    }
    burstCount_ = count;
    if (count != 0) {
      remaining_ = static_cast<std::uint32_t>(
          std::max<std::int64_t>(0, static_cast<std::int64_t>(remaining_) + count - preparedFor_));
    } else {
      remaining_ = 0;
    }
    bool stopped;
    {
      std::lock_guard guard(ctl_);
      stopped = stopRequest_;
      triggered_ = false;
    }
    if (stopped) {
      // Stopped while this run was being prepared: it does not start, and the next one waits
      // for Play.
      notify(&TDaqEngineEvents::OnStopped);
      awaitPlay = true;
      continue;
    }
    BeginRunBursts();
    WriteWithRetry(*write_);
    bool firstWrite = true;
    task.Check("start", [&](TDaqTaskHandle t) { return lib_->StartTask(t); });
    bool waitsForTrigger;
    {
      std::lock_guard guard(ctl_);
      waitsForTrigger = triggerWait_;
    }
    if (!waitsForTrigger && !detached_ && events_.OnOutputStarted) events_.OnOutputStarted();
    notify(&TDaqEngineEvents::OnStarted);

    auto waitTrigger = [&] {
      WaitFor([&] { return triggered_ || terminate_ || stopRequest_; }, milliseconds(500));
    };
    auto triggerPending = [&] {
      std::lock_guard guard(ctl_);
      return triggerWait_ && firstWrite;
    };
    while (!Terminating() && !StopRequested() && !(burstCount_ != 0 && remaining_ == 0)) {
      EndCheck(*fill_);
      std::swap(fill_, write_);
      const bool filling = remaining_ > 0 || burstCount_ == 0;
      if (filling) Fill(*fill_, false, false);
      try {
        WriteWithRetry(*write_);
      } catch (...) {
        if (filling) pending_.Wait();
        throw;
      }
      if (triggerPending()) waitTrigger();
      firstWrite = false;
      if (filling) FinishFill();
    }

    if (!Terminating() && !StopRequested()) {
      std::fill(fill_->begin(), fill_->end(), hold_);
      StartsOf(*fill_).clear();
      if (triggerPending()) waitTrigger();
      WriteWithRetry(*fill_);
      if (validMs_ + 15.0 > bufferMs) {
        WriteWithRetry(*fill_);
      } else {
        Pause(milliseconds(static_cast<std::int64_t>(validMs_)));
      }
    }
    // Once the valid samples are out every burst has begun; a stopped run counts what the card
    // put out before the stop.
    EndRunBursts(!Terminating() && !StopRequested());
    task.Call("stop", [&](TDaqTaskHandle t) { return lib_->StopTask(t); });
    notify(&TDaqEngineEvents::OnStopped);
  }
}

}  // namespace ondrevo
