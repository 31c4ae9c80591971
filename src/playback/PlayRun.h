// One run of a waveform player, from connect to release: the steps the command line and the
// remote window share. It binds the device's events, keeps what they reported and passes them
// on; every end of a run (finished, failed, interrupted, window closed) goes through Release,
// which stops what still plays and gives the instrument back to local control. No widgets and no
// waiting of its own: events arrive on the main thread, and a caller that blocks pumps them
// through the TPump it hands to the ...AndWait calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "devices/Device.h"

namespace ondrevo {

class TWaveform;

struct TRunTrigger {
  bool External = false;
  int32_t Channel = 0;
  std::optional<bool> FallingEdge;  // left as the device has it when not given
};

class TPlayRun {
 public:
  // What the device reported, passed on. Sender is the run's device; events of a device the run
  // no longer holds are dropped.
  struct TEvents {
    std::function<void(int32_t percent)> UploadProgress;
    std::function<void()> UploadDone;
    std::function<void()> Playing;
    std::function<void(int32_t percent)> PlayProgress;
    std::function<void(int32_t burst)> Burst;
    std::function<void()> Triggered;
    std::function<void()> Ended;  // the device reports that it plays no longer
    std::function<void(IDevice* sender, const std::exception& error)> Error;
    std::function<void()> Released;
  };
  using TPump = std::function<bool(const std::function<bool()>& done, std::chrono::milliseconds)>;

  // `device` must play waveforms (IWaveformPlayer).
  TPlayRun(std::shared_ptr<IDevice> device, TEvents events);
  // Releases without waiting, then lets go of the device's events.
  ~TPlayRun();
  TPlayRun(const TPlayRun&) = delete;
  TPlayRun& operator=(const TPlayRun&) = delete;

  const std::shared_ptr<IDevice>& Device() const { return device_; }
  // No more events to the caller (one going away while its device may still report).
  void ClearEvents() { events_ = {}; }
  IWaveformPlayer& Player() const { return *player_; }

  // Channel `channel` of a multi-output supply: the others get no device behind them.
  void SelectChannel(int channel);
  // Opens the connection; on failure the port is closed and the instrument local again before
  // the error is rethrown.
  void Connect();
  void Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
              bool enableOutput);
  void CancelUpload();
  // Burst count and trigger (where the device has a trigger input), then Play and the output.
  void Start(int32_t burst, const TRunTrigger& trigger);
  // Halts the run where it is; the device reports it as a stop.
  void Pause() { player_->Pause(); }
  // Resumes a paused run: Play and the output, the settings stay.
  void Resume();
  // Sends the stop, once per start unless `again`; true when it went out.
  bool Stop(bool again = false);
  // Stops first when `stopFirst` and the device may still play (started, and not reported
  // ended, or re-armed for its trigger), then disconnects. Once only; a failing stop does not
  // keep the instrument from being released.
  void Release(bool stopFirst = true);

  // Stop, then wait up to `timeout` for the device to report the end: false when it did not.
  bool StopAndWait(const TPump& pump, std::chrono::milliseconds timeout);
  // Release, then wait up to `timeout` for the disconnect: false when it was not reported.
  bool ReleaseAndWait(const TPump& pump, std::chrono::milliseconds timeout);

  // For a caller whose main thread may be stuck in the device (a hanging driver): from any
  // thread, sends the stop and the local command on a thread of its own, waiting at most
  // `timeout`. True when both went out in time.
  bool LastRelease(std::chrono::milliseconds timeout) const;

  // ---- what the device reported so far
  bool Connected() const { return connected_; }
  bool UploadFinished() const { return uploadDone_; }
  bool Started() const { return started_; }
  bool StopSent() const { return stopSent_; }
  bool Ended() const { return ended_; }
  bool Released() const { return released_; }
  const std::optional<std::string>& ErrorText() const { return error_; }

 private:
  void Bind();
  void Unbind();
  bool Current(const IDevice* sender) const { return sender == device_.get(); }

  std::shared_ptr<IDevice> device_;
  std::shared_ptr<IWaveformPlayer> player_;
  TEvents events_;
  bool connected_ = false, uploadDone_ = false, started_ = false, stopSent_ = false;
  bool ended_ = false, releasing_ = false, released_ = false;
  bool externalTrigger_ = false;
  std::optional<std::string> error_;
};

}  // namespace ondrevo
