#include "playback/PreviewWorker.h"

namespace ondrevo {

SupplyListSettings ListSettingsOf(const IDevice& device, const IWaveformPlayer& player) {
  SupplyListSettings s;
  s.MinVoltage = device.GetMinVoltage();
  s.MaxVoltage = device.GetMaxVoltage();
  s.VoltageResolution = player.GetVoltageResolution();
  s.MinCurrent = device.GetMinCurrent();
  s.MaxCurrent = device.GetMaxCurrent();
  s.CurrentResolution = player.GetCurrentResolution();
  s.MinDwellTime = player.GetMinDwellTime();
  s.MaxDwellTime = player.GetMaxDwellTime();
  s.MaxPoints = player.GetMaxPoints();
  return s;
}

TPreviewWorker::TPreviewWorker(std::function<void(const PreviewOutcome&)> done)
    : done_(std::move(done)), thread_([this](std::stop_token stop) { Run(stop); }) {}

TPreviewWorker::~TPreviewWorker() {
  {
    std::lock_guard guard(lock_);
    pending_.reset();
    if (running_) running_->Cancel();
  }
  thread_.request_stop();
  changed_.notify_all();
  thread_.join();
}

std::uint64_t TPreviewWorker::Request(PreviewRequest request) {
  std::lock_guard guard(lock_);
  pending_ = std::move(request);
  pendingGeneration_ = ++generation_;
  if (running_) running_->Cancel();
  changed_.notify_all();
  return pendingGeneration_;
}

void TPreviewWorker::Cancel() {
  std::lock_guard guard(lock_);
  pending_.reset();
  if (running_) running_->Cancel();
  changed_.notify_all();
}

std::optional<PreviewOutcome> TPreviewWorker::Latest() const {
  std::lock_guard guard(lock_);
  return latest_;
}

bool TPreviewWorker::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, timeout, [&] { return !pending_ && !busy_; });
}

std::uint64_t TPreviewWorker::CancelledRuns() const {
  std::lock_guard guard(lock_);
  return cancelledRuns_;
}

void TPreviewWorker::Run(std::stop_token stop) {
  for (;;) {
    PreviewRequest request;
    std::uint64_t generation = 0;
    auto job = std::make_shared<TPreviewCancel>();
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [&] { return pending_.has_value() || stop.stop_requested(); });
      if (stop.stop_requested()) return;
      request = std::move(*pending_);
      pending_.reset();
      generation = pendingGeneration_;
      running_ = job;
      busy_ = true;
    }
    PreviewOutcome outcome;
    outcome.Generation = generation;
    bool cancelled = false;
    try {
      outcome.Preview = std::make_shared<const InstrumentPreview>(
          ComputeInstrumentPreview(request.Voltage, request.Current, request.Settings, job.get()));
    } catch (const EPreviewCancelled&) {
      cancelled = true;
    } catch (const std::exception& e) {
      outcome.Error = e.what();
    }
    bool deliver = false;
    {
      std::lock_guard guard(lock_);
      running_.reset();
      cancelled = cancelled || job->Cancelled();
      if (cancelled) ++cancelledRuns_;
      // A newer request makes this result stale even when it finished.
      deliver = !cancelled && generation == generation_;
      if (deliver) latest_ = outcome;
    }
    if (deliver && done_) {
      try {
        done_(outcome);
      } catch (...) {
        // A failing receiver must not end the worker (nor the program through its thread).
      }
    }
    {
      std::lock_guard guard(lock_);
      busy_ = false;
    }
    changed_.notify_all();
  }
}

}  // namespace ondrevo
