// Runs the instrument preview on its own thread: a newer request cancels a stale one, so an
// editor can ask after every edit without waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "devices/DeviceInterfaces.h"
#include "playback/InstrumentPreview.h"

namespace ondrevo {

struct PreviewRequest {
  SegmentTable Voltage;
  SegmentTable Current;
  SupplyListSettings Settings;
};

struct PreviewOutcome {
  std::uint64_t Generation = 0;                      // the number Request returned
  std::shared_ptr<const InstrumentPreview> Preview;  // null when sampling failed
  std::string Error;                                 // the sampler's message then
};

// The settings a connected (or merely found) player uploads with.
SupplyListSettings ListSettingsOf(const IDevice& device, const IWaveformPlayer& player);

class TPreviewWorker {
 public:
  // `done` runs on the worker thread for every request that was neither cancelled nor
  // superseded; a GUI posts it on to its own thread. It must not call back into the worker
  // synchronously except for Request and Cancel.
  explicit TPreviewWorker(std::function<void(const PreviewOutcome&)> done = {});
  ~TPreviewWorker();  // cancels and joins
  TPreviewWorker(const TPreviewWorker&) = delete;
  TPreviewWorker& operator=(const TPreviewWorker&) = delete;

  // Replaces any pending request and cancels the one running; returns its generation.
  std::uint64_t Request(PreviewRequest request);
  // Drops the pending request and cancels the running one.
  void Cancel();
  // The most recent finished outcome, if any.
  std::optional<PreviewOutcome> Latest() const;
  // Waits until no request is pending or running; false on time-out.
  bool WaitIdle(std::chrono::milliseconds timeout) const;
  // Requests cancelled while they ran (for tests and diagnostics).
  std::uint64_t CancelledRuns() const;

 private:
  void Run(std::stop_token stop);

  std::function<void(const PreviewOutcome&)> done_;
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::optional<PreviewRequest> pending_;
  std::uint64_t pendingGeneration_ = 0;
  std::uint64_t generation_ = 0;
  std::shared_ptr<TPreviewCancel> running_;  // the job now computing
  bool busy_ = false;
  std::uint64_t cancelledRuns_ = 0;
  std::optional<PreviewOutcome> latest_;
  std::jthread thread_;  // last: starts after the members it uses
};

}  // namespace ondrevo
