#include "playback/RemoteSession.h"

#include <initializer_list>

namespace ondrevo {

namespace {

using S = TRemoteState;

bool In(S state, std::initializer_list<S> states) {
  for (S s : states)
    if (s == state) return true;
  return false;
}

}  // namespace

TRemoteWidgets WidgetsFor(TRemoteState state, const TRemoteFacts& facts) {
  TRemoteWidgets w;
  const bool running = In(state, {S::Playing, S::WaitingForTrigger, S::Stopping, S::Pausing});
  const bool uploading = In(state, {S::Uploading, S::CancellingUpload});
  const bool connected = !In(state, {S::Idle, S::Searching, S::Connecting});
  const bool busy = In(state, {S::Connecting, S::PreparingUpload, S::Starting});
  w.Refresh = In(state, {S::Idle, S::Searching});
  w.RefreshCancels = state == S::Searching;
  w.Connect = state == S::Idle && facts.SelectionConnectable;
  w.Disconnect = connected && !uploading && !busy;
  w.Upload = state == S::Connected || uploading;
  w.UploadCancels = uploading;
  w.Play = In(state, {S::Uploaded, S::Paused});
  w.Pause = running && facts.SupportsPause;
  w.Stop = running || state == S::Paused;
  w.PauseShown = running;
  w.Tree = !connected;
  w.Burst = facts.AnalogOutput &&
            (In(state, {S::Connected, S::PreparingUpload, S::Uploaded, S::Paused}) || uploading);
  w.OutputEnable = facts.AnalogOutput && state == S::Connected;
  w.OutputEnableShown = !uploading;
  w.UploadProgressShown = uploading;
  w.PlayerProgressShown = running;
  w.Trigger = facts.TriggerAvailable && In(state, {S::Uploaded, S::Paused});
  return w;
}

bool TRemoteSession::IsConnected() const {
  return !In(state_, {S::Idle, S::Searching, S::Connecting});
}

bool TRemoteSession::IsUploading() const {
  return In(state_, {S::Uploading, S::CancellingUpload});
}

bool TRemoteSession::IsUploaded() const {
  return In(state_, {S::Uploaded, S::Starting, S::Playing, S::WaitingForTrigger, S::Stopping,
                     S::Pausing, S::Paused});
}

bool TRemoteSession::IsRunning() const {
  return In(state_, {S::Playing, S::WaitingForTrigger, S::Stopping, S::Pausing});
}

bool TRemoteSession::IsPaused() const {
  return In(state_, {S::Pausing, S::Paused});
}

bool TRemoteSession::IsBusy() const {
  return In(state_, {S::Connecting, S::PreparingUpload, S::Starting});
}

// ---------------------------------------------------------------- commands

bool TRemoteSession::BeginSearch() {
  if (state_ != S::Idle) return false;
  state_ = S::Searching;
  return true;
}

void TRemoteSession::SearchEnded() {
  if (state_ == S::Searching) state_ = S::Idle;
}

bool TRemoteSession::BeginConnect() {
  if (state_ != S::Idle) return false;
  state_ = S::Connecting;
  return true;
}

void TRemoteSession::ConnectFailed() {
  if (state_ == S::Connecting) state_ = S::Idle;
}

void TRemoteSession::ConnectDone() {
  if (state_ == S::Connecting) state_ = S::Connected;
}

bool TRemoteSession::BeginUpload() {
  if (state_ != S::Connected) return false;
  state_ = S::PreparingUpload;
  return true;
}

void TRemoteSession::StartUpload() {
  if (state_ == S::PreparingUpload) state_ = S::Uploading;
}

void TRemoteSession::UploadFailed() {
  if (In(state_, {S::PreparingUpload, S::Uploading, S::CancellingUpload})) state_ = S::Connected;
}

bool TRemoteSession::CancelUpload() {
  if (!IsUploading()) return false;
  state_ = S::CancellingUpload;
  return true;
}

TPlayStart TRemoteSession::BeginPlay() {
  if (state_ == S::Uploaded) {
    before_ = state_;
    state_ = S::Starting;
    burstCounter_ = 1;
    return TPlayStart::Fresh;
  }
  if (state_ == S::Paused) {
    before_ = state_;
    state_ = S::Starting;
    return TPlayStart::Resume;
  }
  return TPlayStart::Refused;
}

void TRemoteSession::PlaySent() {
  if (state_ == S::Starting) state_ = S::Playing;
}

void TRemoteSession::PlayFailed() {
  if (state_ == S::Starting) state_ = before_;
}

bool TRemoteSession::BeginPause() {
  if (!IsRunning()) return false;
  before_ = state_;
  state_ = S::Pausing;
  return true;
}

void TRemoteSession::PauseFailed() {
  if (state_ == S::Pausing) state_ = before_;
}

TStopKind TRemoteSession::BeginStop() {
  if (IsPaused()) return TStopKind::AtOnce;
  if (!IsRunning()) return TStopKind::Refused;
  before_ = state_;
  state_ = S::Stopping;
  return TStopKind::WhenReported;
}

void TRemoteSession::StopSent() {
  // A halted device reports no stop: the run ends here.
  if (IsPaused()) {
    state_ = S::Uploaded;
    playPercent_ = 0;
  }
}

void TRemoteSession::StopFailed() {
  if (state_ == S::Stopping) state_ = before_;
}

void TRemoteSession::DisconnectRequested() {
  if (state_ == S::Uploading) state_ = S::CancellingUpload;
}

TCloseAnswer TRemoteSession::CloseRequested() const {
  if (IsSearching() || IsBusy()) return TCloseAnswer::Refuse;
  return IsConnected() ? TCloseAnswer::AskToDisconnect : TCloseAnswer::Close;
}

// ---------------------------------------------------------------- device events

bool TRemoteSession::OnUploadProgress(int32_t percent, bool externalTrigger) {
  if (!externalTrigger || percent <= 99 || !IsRunning()) return false;
  if (state_ == S::Playing) state_ = S::WaitingForTrigger;
  return true;
}

TUploadEnd TRemoteSession::OnUploadDone() {
  if (state_ == S::Uploading) {
    state_ = S::Uploaded;
    return TUploadEnd::Done;
  }
  if (state_ == S::CancellingUpload) {
    state_ = S::Connected;
    return TUploadEnd::Aborted;
  }
  return TUploadEnd::Ignored;
}

bool TRemoteSession::OnPlayProgress(int32_t percent) {
  const bool newBurst = percent < playPercent_;
  if (newBurst) ++burstCounter_;
  playPercent_ = percent;
  return newBurst;
}

bool TRemoteSession::OnBurst() const {
  return IsRunning() && state_ != S::Stopping;
}

TPlayReport TRemoteSession::OnPlay(bool externalTrigger) {
  if (!IsConnected()) return TPlayReport::Ignored;
  if (externalTrigger) {
    if (In(state_, {S::Starting, S::Playing})) state_ = S::WaitingForTrigger;
    return TPlayReport::WaitingForTrigger;
  }
  if (state_ == S::Starting) state_ = S::Playing;
  return TPlayReport::Executing;
}

bool TRemoteSession::OnTrigger() {
  if (!IsConnected()) return false;
  if (state_ == S::WaitingForTrigger) state_ = S::Playing;
  return true;
}

TStopReport TRemoteSession::OnStop(bool externalTrigger) {
  if (!IsRunning() && state_ != S::Starting) return TStopReport::Ignored;
  playPercent_ = 0;
  switch (state_) {
    case S::Pausing:
      state_ = S::Paused;
      return TStopReport::Paused;
    case S::Stopping:
      state_ = S::Uploaded;
      return TStopReport::Stopped;
    default:
      // With the external trigger the device re-arms for the next one.
      state_ = externalTrigger ? S::WaitingForTrigger : S::Uploaded;
      return TStopReport::Finished;
  }
}

bool TRemoteSession::OnError() {
  const bool wasUploading = IsUploading();
  if (IsConnected()) state_ = IsUploaded() ? S::Uploaded : S::Connected;
  playPercent_ = 0;
  return wasUploading;
}

bool TRemoteSession::OnDisconnect() {
  if (!IsConnected()) return false;
  state_ = S::Idle;
  playPercent_ = 0;
  return true;
}

}  // namespace ondrevo
