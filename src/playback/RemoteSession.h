// Where the remote window stands with its device: one state, moved by the user's commands and by
// the device's events, and the widget states that follow from it. No widgets here, so every
// rule can be checked without a display.
#pragma once

#include <cstdint>

namespace ondrevo {

enum class TRemoteState {
  Idle,               // no device connected
  Searching,          // the buses are being searched
  Connecting,         // wiring and Connect under way
  Connected,          // connected; nothing uploaded on this connection
  PreparingUpload,    // the upload is being set up
  Uploading,          // the device uploads
  CancellingUpload,   // cancel asked; the device has not reported the end yet
  Uploaded,           // ready to play
  Starting,           // burst count, trigger and Play are being sent
  Playing,            // running
  WaitingForTrigger,  // running, armed for the external trigger
  Stopping,           // Stop sent; the device has not reported the end yet
  Pausing,            // Pause sent; the device has not reported the halt yet
  Paused,             // halted; Play resumes without setting the burst count again
};

// What besides the state decides the widgets.
struct TRemoteFacts {
  bool SelectionConnectable = false;  // the selected tree node is a device or one of its outputs
  bool AnalogOutput = false;          // the device has outputs: burst count and output switch
  bool SupportsPause = true;
  bool TriggerAvailable = false;  // the device can wait for an external trigger
};

struct TRemoteWidgets {
  bool Refresh = false, RefreshCancels = false;  // Refresh reads "Cancel" during a search
  bool Connect = false, Disconnect = false;
  bool Upload = false, UploadCancels = false;  // Upload reads "Cancel" during an upload
  bool Play = false, Pause = false, Stop = false;
  bool PauseShown = false;  // the Pause button takes the Play button's place
  bool Tree = true;
  bool Burst = false;
  bool OutputEnable = false, OutputEnableShown = true;
  bool UploadProgressShown = false, PlayerProgressShown = false;
  bool Trigger = false;

  bool operator==(const TRemoteWidgets&) const = default;
};

TRemoteWidgets WidgetsFor(TRemoteState state, const TRemoteFacts& facts);

// How a Play command starts.
enum class TPlayStart { Refused, Fresh, Resume };
// How a Stop command ends: at once when the device was halted (it reports no stop then).
enum class TStopKind { Refused, WhenReported, AtOnce };
enum class TCloseAnswer { Refuse, AskToDisconnect, Close };

// What the window reports for a device event.
enum class TUploadEnd { Ignored, Done, Aborted };
enum class TPlayReport { Ignored, Executing, WaitingForTrigger };
enum class TStopReport { Ignored, Paused, Stopped, Finished };

class TRemoteSession {
 public:
  TRemoteState State() const { return state_; }
  bool IsSearching() const { return state_ == TRemoteState::Searching; }
  bool IsConnected() const;
  bool IsUploading() const;
  bool IsUploaded() const;
  bool IsRunning() const;
  bool IsPaused() const;
  bool IsWaitingForTrigger() const { return state_ == TRemoteState::WaitingForTrigger; }
  // A command is letting messages run: no other command meanwhile, and no closing.
  bool IsBusy() const;
  int32_t BurstCounter() const { return burstCounter_; }
  int32_t PlayPercent() const { return playPercent_; }

  // ---- commands; a Begin... that returns false leaves the state as it was
  bool BeginSearch();
  void SearchEnded();
  bool BeginConnect();
  void ConnectFailed();  // refused, cancelled or failed: disconnected
  void ConnectDone();
  bool BeginUpload();
  void StartUpload();  // the device is asked now; its events may follow at once
  void UploadFailed();
  bool CancelUpload();  // false when no upload runs
  TPlayStart BeginPlay();
  void PlaySent();
  void PlayFailed();
  bool BeginPause();
  void PauseFailed();
  TStopKind BeginStop();
  void StopSent();
  void StopFailed();
  // Disconnecting ends an upload early: its outcome is an abort.
  void DisconnectRequested();
  TCloseAnswer CloseRequested() const;

  // ---- device events
  // Whether the report means that the armed run now waits for its trigger.
  bool OnUploadProgress(int32_t percent, bool externalTrigger);
  TUploadEnd OnUploadDone();
  // Whether a new burst began.
  bool OnPlayProgress(int32_t percent);
  bool OnBurst() const;  // whether a burst count is reported now
  TPlayReport OnPlay(bool externalTrigger);
  bool OnTrigger();
  TStopReport OnStop(bool externalTrigger);
  // Returns whether an upload was under way.
  bool OnError();
  // False when there was no connection to end.
  bool OnDisconnect();

 private:
  TRemoteState state_ = TRemoteState::Idle;
  TRemoteState before_ = TRemoteState::Idle;  // where a failed command returns to
  int32_t burstCounter_ = 0;
  int32_t playPercent_ = 0;
};

}  // namespace ondrevo
