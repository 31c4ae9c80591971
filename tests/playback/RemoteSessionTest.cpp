// The remote window's state machine, driven as the window drives it: commands, then the device's
// events, and the widgets each state allows.
#include <gtest/gtest.h>

#include "playback/RemoteSession.h"

namespace ondrevo {
namespace {

using S = TRemoteState;

constexpr TRemoteFacts kSupply{true, true, true, true};

TRemoteSession ConnectedSession() {
  TRemoteSession s;
  EXPECT_TRUE(s.BeginConnect());
  s.ConnectDone();
  EXPECT_EQ(s.State(), S::Connected);
  return s;
}

TRemoteSession UploadedSession() {
  TRemoteSession s = ConnectedSession();
  EXPECT_TRUE(s.BeginUpload());
  s.StartUpload();
  EXPECT_EQ(s.OnUploadDone(), TUploadEnd::Done);
  EXPECT_EQ(s.State(), S::Uploaded);
  return s;
}

TRemoteSession PlayingSession() {
  TRemoteSession s = UploadedSession();
  EXPECT_EQ(s.BeginPlay(), TPlayStart::Fresh);
  EXPECT_EQ(s.OnPlay(false), TPlayReport::Executing);
  s.PlaySent();
  EXPECT_EQ(s.State(), S::Playing);
  return s;
}

TRemoteWidgets Widgets(const TRemoteSession& s, TRemoteFacts facts = kSupply) {
  return WidgetsFor(s.State(), facts);
}

TEST(RemoteSession, SearchAndConnect) {
  TRemoteSession s;
  TRemoteFacts nothingSelected = kSupply;
  nothingSelected.SelectionConnectable = false;
  EXPECT_FALSE(Widgets(s, nothingSelected).Connect);
  EXPECT_TRUE(Widgets(s).Connect && Widgets(s).Refresh && Widgets(s).Tree);
  EXPECT_FALSE(Widgets(s).RefreshCancels);

  ASSERT_TRUE(s.BeginSearch());
  EXPECT_FALSE(s.BeginSearch()) << "one search at a time";
  EXPECT_FALSE(s.BeginConnect()) << "no connecting while searching";
  EXPECT_TRUE(Widgets(s).Refresh && Widgets(s).RefreshCancels);
  EXPECT_FALSE(Widgets(s).Connect);
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::Refuse);
  s.SearchEnded();
  EXPECT_EQ(s.State(), S::Idle);
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::Close);

  // A refused or cancelled connect leaves the window disconnected; a late device event too.
  ASSERT_TRUE(s.BeginConnect());
  const TRemoteWidgets connecting = Widgets(s);
  EXPECT_FALSE(connecting.Refresh || connecting.Connect || connecting.Disconnect ||
               connecting.Upload || connecting.Play);
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::Refuse);
  EXPECT_FALSE(s.OnDisconnect());
  EXPECT_FALSE(s.OnError());
  EXPECT_EQ(s.State(), S::Connecting);
  s.ConnectFailed();
  EXPECT_EQ(s.State(), S::Idle);
  EXPECT_FALSE(s.IsConnected());

  s = ConnectedSession();
  const TRemoteWidgets w = Widgets(s);
  EXPECT_TRUE(w.Upload && w.Disconnect && w.Burst && w.OutputEnable);
  EXPECT_FALSE(w.Tree || w.Refresh || w.Connect || w.Play || w.Stop || w.Trigger);
  EXPECT_FALSE(s.BeginSearch());
}

TEST(RemoteSession, UploadOncePerConnectionAndCancel) {
  TRemoteSession s = ConnectedSession();
  ASSERT_TRUE(s.BeginUpload());
  EXPECT_TRUE(s.IsBusy());
  EXPECT_FALSE(Widgets(s).Upload) << "nothing while the upload is being set up";
  s.StartUpload();
  TRemoteWidgets w = Widgets(s);
  EXPECT_TRUE(s.IsUploading());
  EXPECT_TRUE(w.Upload && w.UploadCancels && w.UploadProgressShown);
  EXPECT_FALSE(w.Disconnect || w.OutputEnableShown || w.OutputEnable);

  ASSERT_TRUE(s.CancelUpload());
  EXPECT_TRUE(Widgets(s).UploadCancels) << "still cancelling until the device reports";
  EXPECT_EQ(s.OnUploadDone(), TUploadEnd::Aborted);
  EXPECT_EQ(s.State(), S::Connected);
  EXPECT_TRUE(Widgets(s).Upload && Widgets(s).OutputEnable);
  EXPECT_FALSE(s.CancelUpload());

  s = UploadedSession();
  w = Widgets(s);
  EXPECT_FALSE(w.Upload) << "a waveform is uploaded once per connection";
  EXPECT_FALSE(s.BeginUpload());
  EXPECT_TRUE(w.Play && w.Trigger && w.Burst && w.OutputEnableShown);
  EXPECT_FALSE(w.OutputEnable || w.Stop || w.Pause);
  EXPECT_EQ(s.OnUploadDone(), TUploadEnd::Ignored);
}

TEST(RemoteSession, ErrorsReturnToConnectedOrUploaded) {
  // During an upload: back to connected, Upload usable again.
  TRemoteSession s = ConnectedSession();
  s.BeginUpload();
  s.StartUpload();
  EXPECT_TRUE(s.OnError());
  EXPECT_EQ(s.State(), S::Connected);
  EXPECT_TRUE(Widgets(s).Upload && Widgets(s).Disconnect && Widgets(s).OutputEnable);
  EXPECT_FALSE(Widgets(s).UploadCancels || Widgets(s).UploadProgressShown);

  // The upload call itself refused.
  s.BeginUpload();
  s.StartUpload();
  s.UploadFailed();
  EXPECT_EQ(s.State(), S::Connected);
  EXPECT_TRUE(Widgets(s).Upload);

  // While playing, paused or armed: uploaded, without playback.
  for (int from = 0; from < 3; ++from) {
    s = PlayingSession();
    if (from == 1) {
      s.BeginPause();
      s.OnStop(false);
    }
    if (from == 2) s.OnUploadProgress(100, true);
    EXPECT_FALSE(s.OnError());
    EXPECT_EQ(s.State(), S::Uploaded) << from;
    EXPECT_FALSE(s.IsRunning() || s.IsPaused() || s.IsWaitingForTrigger());
    EXPECT_EQ(s.PlayPercent(), 0);
    EXPECT_EQ(s.BeginPlay(), TPlayStart::Fresh) << "the burst count is set again";
  }
}

TEST(RemoteSession, PlayStopAndFinish) {
  TRemoteSession s = PlayingSession();
  EXPECT_EQ(s.BurstCounter(), 1);
  TRemoteWidgets w = Widgets(s);
  EXPECT_TRUE(w.Pause && w.PauseShown && w.Stop && w.Disconnect && w.PlayerProgressShown);
  EXPECT_FALSE(w.Play || w.Burst || w.Trigger || w.Upload);
  EXPECT_TRUE(s.OnBurst());

  // A drop of the progress starts the next burst; the same percentage again (a poll faster
  // than the list moves, or 0 at the start) does not.
  EXPECT_FALSE(s.OnPlayProgress(60));
  EXPECT_FALSE(s.OnPlayProgress(60));
  EXPECT_TRUE(s.OnPlayProgress(10));
  EXPECT_EQ(s.BurstCounter(), 2);
  EXPECT_FALSE(s.OnPlayProgress(10));
  EXPECT_FALSE(s.OnPlayProgress(10));
  EXPECT_EQ(s.BurstCounter(), 2);
  EXPECT_TRUE(s.OnPlayProgress(0));
  EXPECT_FALSE(s.OnPlayProgress(0));
  EXPECT_EQ(s.BurstCounter(), 3);

  ASSERT_EQ(s.BeginStop(), TStopKind::WhenReported);
  s.StopSent();
  EXPECT_EQ(s.State(), S::Stopping);
  EXPECT_FALSE(s.OnBurst()) << "no burst count after Stop";
  EXPECT_EQ(s.OnStop(false), TStopReport::Stopped);
  EXPECT_EQ(s.State(), S::Uploaded);
  EXPECT_EQ(s.OnStop(false), TStopReport::Ignored) << "a second stop event";

  s = PlayingSession();
  EXPECT_EQ(s.OnStop(false), TStopReport::Finished);
  EXPECT_EQ(s.State(), S::Uploaded);
  EXPECT_TRUE(Widgets(s).Play && Widgets(s).Burst);

  // A Stop the device refused leaves the run going.
  s = PlayingSession();
  s.BeginStop();
  s.StopFailed();
  EXPECT_EQ(s.State(), S::Playing);

  // A Play the device refused leaves the window ready to play.
  s = UploadedSession();
  s.BeginPlay();
  s.PlayFailed();
  EXPECT_EQ(s.State(), S::Uploaded);
}

TEST(RemoteSession, PauseResumeAndStopWhilePaused) {
  TRemoteSession s = PlayingSession();
  ASSERT_TRUE(s.BeginPause());
  EXPECT_TRUE(s.IsPaused() && s.IsRunning());
  EXPECT_EQ(s.OnStop(false), TStopReport::Paused);
  EXPECT_EQ(s.State(), S::Paused);
  EXPECT_FALSE(s.IsRunning());
  TRemoteWidgets w = Widgets(s);
  EXPECT_TRUE(w.Play && w.Stop && !w.PauseShown && !w.PlayerProgressShown);

  // Play resumes without setting the burst count; the counter goes on.
  s.OnPlayProgress(50);
  ASSERT_EQ(s.BeginPlay(), TPlayStart::Resume);
  EXPECT_EQ(s.OnPlay(false), TPlayReport::Executing);
  s.PlaySent();
  EXPECT_EQ(s.State(), S::Playing);

  // Stop while paused ends the run at once: no stop event follows a halted device.
  s.BeginPause();
  s.OnStop(false);
  ASSERT_EQ(s.BeginStop(), TStopKind::AtOnce);
  s.StopSent();
  EXPECT_EQ(s.State(), S::Uploaded);
  EXPECT_FALSE(s.IsPaused() || s.IsRunning());
  EXPECT_EQ(s.OnStop(false), TStopReport::Ignored);

  // Also when the halt was not reported yet.
  s = PlayingSession();
  s.BeginPause();
  ASSERT_EQ(s.BeginStop(), TStopKind::AtOnce);
  s.StopSent();
  EXPECT_EQ(s.State(), S::Uploaded);

  // A refused Pause keeps playing; a halt with the trigger armed is still a halt.
  s = PlayingSession();
  s.BeginPause();
  s.PauseFailed();
  EXPECT_EQ(s.State(), S::Playing);
  s.BeginPause();
  EXPECT_EQ(s.OnStop(true), TStopReport::Paused);
  EXPECT_TRUE(Widgets(s).Play);
}

TEST(RemoteSession, DeviceWithoutPauseKeepsPauseDisabled) {
  TRemoteFacts card = kSupply;
  card.SupportsPause = false;
  TRemoteSession s = PlayingSession();
  EXPECT_FALSE(WidgetsFor(s.State(), card).Pause);
  EXPECT_TRUE(WidgetsFor(s.State(), card).Stop);
  s.OnUploadProgress(100, true);
  EXPECT_FALSE(WidgetsFor(s.State(), card).Pause);
  for (S state : {S::Idle, S::Connected, S::Uploading, S::Uploaded, S::Playing,
                  S::WaitingForTrigger, S::Stopping, S::Pausing, S::Paused})
    EXPECT_FALSE(WidgetsFor(state, card).Pause) << static_cast<int>(state);
}

TEST(RemoteSession, ExternalTriggerWaitsUntilStop) {
  TRemoteSession s = UploadedSession();
  TRemoteFacts noTrigger = kSupply;
  noTrigger.TriggerAvailable = false;
  EXPECT_FALSE(Widgets(s, noTrigger).Trigger);
  ASSERT_EQ(s.BeginPlay(), TPlayStart::Fresh);
  // The device may report Play before the call returns.
  EXPECT_EQ(s.OnPlay(true), TPlayReport::WaitingForTrigger);
  s.PlaySent();
  EXPECT_TRUE(s.IsWaitingForTrigger() && s.IsRunning());
  EXPECT_FALSE(Widgets(s).Trigger);
  EXPECT_TRUE(s.OnTrigger());
  EXPECT_EQ(s.State(), S::Playing);

  // The end of the burst sequence re-arms; only Stop ends the run.
  EXPECT_EQ(s.OnStop(true), TStopReport::Finished);
  EXPECT_TRUE(s.IsWaitingForTrigger() && s.IsRunning());
  EXPECT_FALSE(Widgets(s).Burst);
  EXPECT_TRUE(Widgets(s).Stop);
  ASSERT_EQ(s.BeginStop(), TStopKind::WhenReported);
  s.StopSent();
  EXPECT_EQ(s.OnStop(true), TStopReport::Stopped);
  EXPECT_EQ(s.State(), S::Uploaded);
  EXPECT_FALSE(s.IsWaitingForTrigger());

  // The last upload report of a run armed for its trigger.
  s = PlayingSession();
  EXPECT_FALSE(s.OnUploadProgress(100, false));
  EXPECT_FALSE(s.OnUploadProgress(99, true));
  EXPECT_TRUE(s.OnUploadProgress(100, true));
  EXPECT_TRUE(s.IsWaitingForTrigger());
}

TEST(RemoteSession, DisconnectFromEveryState) {
  // Disconnecting during an upload ends it as an abort, then the device goes.
  TRemoteSession s = ConnectedSession();
  s.BeginUpload();
  s.StartUpload();
  s.DisconnectRequested();
  EXPECT_EQ(s.State(), S::CancellingUpload);
  EXPECT_FALSE(Widgets(s).Disconnect);
  EXPECT_EQ(s.OnUploadDone(), TUploadEnd::Aborted);
  EXPECT_TRUE(s.OnDisconnect());
  EXPECT_EQ(s.State(), S::Idle);
  EXPECT_TRUE(Widgets(s).Tree && Widgets(s).Connect);
  EXPECT_FALSE(Widgets(s).Burst || Widgets(s).OutputEnable);

  // Or the device goes first, in the middle of the upload.
  s = ConnectedSession();
  s.BeginUpload();
  s.StartUpload();
  EXPECT_TRUE(s.OnDisconnect());
  EXPECT_EQ(s.State(), S::Idle);
  EXPECT_EQ(s.OnUploadDone(), TUploadEnd::Ignored);

  for (int from = 0; from < 5; ++from) {
    s = PlayingSession();
    if (from == 1) s.BeginStop();
    if (from == 2) s.BeginPause();
    if (from == 3) {
      s.BeginPause();
      s.OnStop(false);
    }
    if (from == 4) s.OnUploadProgress(100, true);
    EXPECT_TRUE(Widgets(s).Disconnect) << from;
    EXPECT_TRUE(s.OnDisconnect()) << from;
    EXPECT_EQ(s.State(), S::Idle) << from;
    EXPECT_FALSE(Widgets(s).PlayerProgressShown || Widgets(s).Stop);
    EXPECT_EQ(s.OnStop(false), TStopReport::Ignored);
    EXPECT_EQ(s.OnPlay(false), TPlayReport::Ignored);
    EXPECT_FALSE(s.OnTrigger());
  }
  EXPECT_FALSE(s.OnDisconnect()) << "once";
}

TEST(RemoteSession, ClosingWhileConnectedDisconnectsFirst) {
  TRemoteSession s = PlayingSession();
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::AskToDisconnect);
  s = UploadedSession();
  s.BeginPlay();
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::Refuse) << "not while a command runs";
  s.PlaySent();
  s.OnStop(false);
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::AskToDisconnect);
  s.OnDisconnect();
  EXPECT_EQ(s.CloseRequested(), TCloseAnswer::Close);
}

}  // namespace
}  // namespace ondrevo
