// The remote window's upload and playback: the commands, and the device events that report
// how they go. Each feeds the session and shows the state it reaches.
#include <QLabel>
#include <QProgressBar>

#include "app/TrQ.h"
#include "document/Numbers.h"
#include "remote/BurstEdit.h"
#include "remote/RemoteForm.h"
#include "remote/RemotePlayerPanel.h"
#include "remote/RemoteTexts.h"

namespace ondrevo {

// ---------------------------------------------------------------- upload

void TRemoteForm::UploadOrCancel() {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (session_.IsUploading()) {
    try {
      if (run_) run_->CancelUpload();
      session_.CancelUpload();
    } catch (...) {
    }
    ApplyState();
    return;
  }
  if (!session_.BeginUpload()) return;
  uploadLine_ = output_->Append(TrQ("Preparing waveform for device..."));
  SetStatus(TrQ("Preparing waveform"));
  ApplyState();
  ProcessMessages();
  if (session_.State() != TRemoteState::PreparingUpload) return;  // disconnected meanwhile
  const bool enableOutput = player_->OutputEnabledAfterUpload();
  if (player && run_) {
    session_.StartUpload();
    player_->StartMarquee();  // indeterminate until the first progress report
    ApplyState();
    try {
      run_->Upload(VoltageWaveform, CurrentWaveform, enableOutput);
    } catch (const std::exception& e) {
      output_->AppendError(QString::fromUtf8(e.what()), nullptr);
      session_.UploadFailed();
      player_->ResetUpload();
      ApplyState();
      return;
    }
  } else {
    session_.UploadFailed();  // nothing here plays a waveform
  }
  try {
    if (enableOutput)
      if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(Device))
        output->SetOutputEnabled(true, 0);
  } catch (const std::exception& e) {
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
  }
  ApplyState();
}

void TRemoteForm::OnUploadProgress(IDevice* sender, int32_t percent) {
  if (!IsCurrent(sender)) return;
  if (player_->IsMarquee()) {
    uploadLine_ = output_->Append(TrQ("Uploading waveform data..."));
    SetStatus(TrQ("Uploading waveform data"));
  }
  player_->SetUploadPercent(percent);
  if (session_.OnUploadProgress(percent, player_->ExternalTrigger())) {
    output_->Append(TrQ("Waiting for trigger"));
    SetStatus(TrQ("Waiting for trigger"));
  }
  ApplyState();
}

void TRemoteForm::OnUploadDone(IDevice* sender) {
  if (!IsCurrent(sender)) return;
  switch (session_.OnUploadDone()) {
    case TUploadEnd::Done:
      output_->Complete(uploadLine_, TrQ("Done."));
      break;
    case TUploadEnd::Aborted:
      output_->Complete(uploadLine_, TrQ("Abort."));
      break;
    case TUploadEnd::Ignored:
      // The card prepares its next run again after each one: that is no upload the user
      // asked for, and the run's "Stopped" stays.
      ApplyState();
      return;
  }
  SetStatus(TrQ("Ready"));
  player_->ResetUpload();
  ApplyState();
}

// ---------------------------------------------------------------- playback

void TRemoteForm::Play() {
  const TPlayStart start = session_.BeginPlay();
  if (start == TPlayStart::Refused) return;
  ApplyState();
  auto failed = [this](const std::exception& e) {
    EndMeasurement();
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
    session_.PlayFailed();
    ApplyState();
  };
  if (start == TPlayStart::Fresh) {
    ProcessMessages();
    if (session_.State() != TRemoteState::Starting) return;  // disconnected meanwhile
    output_->Append(TrQ("Setting burst"));
    PrepareMeasurement();
  }
  try {
    if (run_ && start == TPlayStart::Fresh)
      run_->Start(static_cast<int32_t>(RoundHalfEven(player_->Burst()->value())),
                  TRunTrigger{player_->ExternalTrigger(), player_->TriggerChannel(),
                              player_->TriggerOnFallingEdge()});
    else if (run_)
      run_->Resume();
  } catch (const std::exception& e) {
    failed(e);
    return;
  }
  session_.PlaySent();
  ApplyState();
}

void TRemoteForm::Pause() {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (!player || !session_.BeginPause()) return;
  output_->Append(TrQ("Pausing execution"));
  try {
    if (run_) run_->Pause();
  } catch (const std::exception& e) {
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
    session_.PauseFailed();
  }
  ApplyState();
}

void TRemoteForm::Stop() {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (!player) return;
  const TStopKind kind = session_.BeginStop();
  if (kind == TStopKind::Refused) return;
  output_->Append(TrQ("Stopping execution"));
  try {
    if (run_) run_->Stop(true);  // the user may ask again
    session_.StopSent();
    if (kind == TStopKind::AtOnce) {
      // The device halted when it paused: no stop event follows, the run ends here.
      output_->Append(TrQ("Execution stopped"));
      SetStatus(TrQ("Stopped"));
      EndMeasurement();
    }
  } catch (const std::exception& e) {
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
    session_.StopFailed();
  }
  ApplyState();
}

void TRemoteForm::OnPlayProgress(IDevice* sender, int32_t percent) {
  if (!IsCurrent(sender)) return;
  session_.OnPlayProgress(percent);
  playerProgress_->setValue(session_.PlayPercent());
}

void TRemoteForm::OnBurst(IDevice* sender, int32_t count) {
  if (!IsCurrent(sender)) return;
  if (session_.OnBurst()) SetBurstText(BurstText(count));
}

void TRemoteForm::OnPlay(IDevice* sender) {
  if (!IsCurrent(sender)) return;
  switch (session_.OnPlay(player_->ExternalTrigger())) {
    case TPlayReport::WaitingForTrigger:
      output_->Append(TrQ("Waiting for trigger"));
      SetStatus(TrQ("Waiting for trigger"));
      break;
    case TPlayReport::Executing:
      output_->Append(TrQ("Executing waveform"));
      SetStatus(TrQ("Running"));
      StartMeasurement();
      SetBurstText(BurstText(session_.BurstCounter()));
      break;
    case TPlayReport::Ignored:
      break;
  }
  ApplyState();
}

void TRemoteForm::OnTrigger(IDevice* sender) {
  if (!IsCurrent(sender) || !session_.OnTrigger()) return;
  output_->Append(TrQ("Received Trigger, executing waveform"));
  StartMeasurement();
  SetStatus(TrQ("Running"));
  SetBurstText(BurstText(session_.BurstCounter()));
  ApplyState();
}

void TRemoteForm::OnStop(IDevice* sender) {
  if (!IsCurrent(sender)) return;
  switch (session_.OnStop(player_->ExternalTrigger())) {
    case TStopReport::Ignored:
      return;  // a run already ended (stopped while paused)
    case TStopReport::Paused:
      output_->Append(TrQ("Execution paused"));
      SetStatus(TrQ("Paused"));
      break;
    case TStopReport::Stopped:
      output_->Append(TrQ("Execution stopped"));
      SetStatus(TrQ("Stopped"));
      EndMeasurement();
      break;
    case TStopReport::Finished:
      output_->Append(TrQ("Execution finished"));
      SetStatus(TrQ("Stopped"));
      EndMeasurement();
      break;
  }
  ApplyState();
}

void TRemoteForm::OnError(IDevice* sender, const std::exception& e) {
  // A device left behind (disconnected meanwhile) no longer speaks in this window.
  if (!IsCurrent(sender)) return;
  EndMeasurement();
  if (session_.OnError()) output_->Complete(uploadLine_, TrQ("Error:"));
  output_->AppendError(QString::fromUtf8(e.what()), sender);
  player_->ResetUpload();
  SetStatus(TrQ("Error"));
  SetBurstText(QString());
  ApplyState();
}

}  // namespace ondrevo
