// The event handlers every waveform player keeps and hands back: stored once here, so the supply
// drivers and the analog output card only raise them.
#pragma once

#include <chrono>
#include <mutex>
#include <utility>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

class TPlayerEvents : public virtual IWaveformPlayer {
 public:
  void SetOnUploadProgress(TDeviceProgressEvent h) override { OnUploadProgress = std::move(h); }
  void SetOnPlayProgress(TDeviceProgressEvent h) override { OnPlayProgress = std::move(h); }
  void SetOnBurst(TDeviceCountEvent h) override { OnBurst = std::move(h); }
  void SetOnUploadDone(TDeviceNotifyEvent h) override { OnUploadDone = std::move(h); }
  void SetOnError(TDeviceErrorEvent h) override { OnError = std::move(h); }
  void SetOnPlay(TDeviceNotifyEvent h) override { OnPlay = std::move(h); }
  void SetOnStop(TDeviceNotifyEvent h) override { OnStop = std::move(h); }
  void SetOnConnect(TDeviceNotifyEvent h) override { OnConnect = std::move(h); }
  void SetOnDisconnect(TDeviceNotifyEvent h) override { OnDisconnect = std::move(h); }
  TDeviceProgressEvent GetOnUploadProgress() const override { return OnUploadProgress; }
  TDeviceProgressEvent GetOnPlayProgress() const override { return OnPlayProgress; }
  TDeviceCountEvent GetOnBurst() const override { return OnBurst; }
  TDeviceNotifyEvent GetOnUploadDone() const override { return OnUploadDone; }
  TDeviceErrorEvent GetOnError() const override { return OnError; }
  TDeviceNotifyEvent GetOnPlay() const override { return OnPlay; }
  TDeviceNotifyEvent GetOnStop() const override { return OnStop; }
  TDeviceNotifyEvent GetOnConnect() const override { return OnConnect; }
  TDeviceNotifyEvent GetOnDisconnect() const override { return OnDisconnect; }

 protected:
  TDeviceProgressEvent OnUploadProgress, OnPlayProgress;
  TDeviceCountEvent OnBurst;
  TDeviceNotifyEvent OnUploadDone, OnPlay, OnStop, OnConnect, OnDisconnect;
  TDeviceErrorEvent OnError;
};

// The start-sent handler of a player, shared with the threads that report the start.
class TStartSentSlot {
 public:
  void Set(IStartTimeReporter::TStartSentEvent handler) {
    std::lock_guard guard(lock_);
    handler_ = std::move(handler);
  }
  void Report(std::chrono::steady_clock::time_point at,
              std::chrono::steady_clock::duration uncertainty = {}) const {
    IStartTimeReporter::TStartSentEvent handler;
    {
      std::lock_guard guard(lock_);
      handler = handler_;
    }
    if (handler) handler(at, uncertainty);
  }

 private:
  mutable std::mutex lock_;
  IStartTimeReporter::TStartSentEvent handler_;
};

}  // namespace ondrevo
