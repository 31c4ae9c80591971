// The remote window's connect flow: the fit questions, the wiring of an analog output, the
// device's event handlers, and the way back to disconnected.
#include <QMessageBox>

#include "app/TrQ.h"
#include "daq/DaqMxDevice.h"
#include "devices/Device.h"
#include "model/Waveform.h"
#include "playback/FitChecks.h"
#include "playback/Wiring.h"
#include "remote/BurstEdit.h"
#include "remote/CommandsView.h"
#include "remote/RemoteDeviceTree.h"
#include "remote/RemoteForm.h"
#include "remote/RemotePlayerPanel.h"
#include "remote/RemotePreview.h"
#include "remote/RemoteTexts.h"

namespace ondrevo {

TPlayRun::TEvents TRemoteForm::RunEvents() {
  TPlayRun::TEvents e;
  e.UploadProgress = [this](int32_t percent) { OnUploadProgress(Device.get(), percent); };
  e.UploadDone = [this] { OnUploadDone(Device.get()); };
  e.Playing = [this] { OnPlay(Device.get()); };
  e.PlayProgress = [this](int32_t percent) { OnPlayProgress(Device.get(), percent); };
  e.Burst = [this](int32_t burst) { OnBurst(Device.get(), burst); };
  e.Triggered = [this] { OnTrigger(Device.get()); };
  e.Ended = [this] { OnStop(Device.get()); };
  e.Error = [this](IDevice* sender, const std::exception& error) { OnError(sender, error); };
  e.Released = [this] { OnDisconnect(Device.get()); };
  return e;
}

void TRemoteForm::ConnectDevice() {
  if (session_.State() != TRemoteState::Idle) return;
  if (!tree_->HasSelection()) {
    dialogs_->Message(this, QMessageBox::Critical, TrQ("Ondrevo"),
                      TrQ("Please select a device to connect to."), QMessageBox::Ok);
    return;
  }
  auto [device, channel] = tree_->Selected();
  if (!device) return;
  const auto player = std::dynamic_pointer_cast<IWaveformPlayer>(device);
  const bool card = IsAnalogOutputCard(device);

  if (player) {
    // The same checks as the command line's; here they become questions.
    for (const TFitFinding& finding :
         CheckFit(*device, *player, *VoltageWaveform, *CurrentWaveform, card)) {
      if (finding.Refused) {
        dialogs_->Message(this, QMessageBox::Critical, TrQ("Error"), TrQ(finding.Text),
                          QMessageBox::Ok);
        return;
      }
      const auto answer =
          dialogs_->Message(this, QMessageBox::Warning, TrQ("Warning"),
                            TrQ(finding.Text) + QLatin1Char('\n') + TrQ("Connect anyway?"),
                            QMessageBox::Yes | QMessageBox::No);
      if (answer != QMessageBox::Yes) return;
    }
  }
  // A card with a single output has no channel nodes: its device node stands for output 0.
  if (card && channel < 0) channel = 0;

  if (!session_.BeginConnect()) return;
  Device = device;
  const TRemoteLog::TLine line =
      output_->Append(FormatText(TrQ("Connecting to %s (serial number %s)..."),
                                 {Q(device->GetModel()), Q(device->GetSerialNumber())}));
  SetStatus(TrQ("Connecting to device..."));
  QString title = Q(device->GetModel()) + TrQ(", SN ") + Q(device->GetSerialNumber());
  ApplyState();
  ProcessMessages();

  // Undoes the wiring this connect made and forgets the device.
  auto abandon = [this](const std::shared_ptr<IAnalogOutput>& output) {
    if (output) UnwireOutput(*output);
    Device.reset();
    session_.ConnectFailed();
    ApplyState();
  };

  const auto output = std::dynamic_pointer_cast<IAnalogOutput>(device);
  if (output) {
    auto& inputs = output->GetConnectedInputs();
    if (card) {
      TDeviceSelection selection;
      selection.DeviceText = device->GetModel();
      selection.OutputText =
          (TrQ("Analog Out") + QLatin1Char(' ') + QString::number(channel)).toStdString();
      for (const auto& found : FoundDevices)
        if (auto input = std::dynamic_pointer_cast<IAnalogInput>(found))
          if (!input->IsUnsupported()) selection.Candidates.push_back(input);
      selection.VoltageWaveform = VoltageWaveform;
      selection.CurrentWaveform = CurrentWaveform;
      if (!dialogs_->SelectConnectedDevice(this, selection) || !selection.SelectedInput) {
        output_->Complete(line, TrQ("Abort."));
        SetStatus(TrQ("Ready"));
        abandon(nullptr);
        return;
      }
      WireOutput(output, channel, selection.SelectedInput, selection.SelectedInputIndex);
      title = Q(selection.SelectedInput->GetModel()) + TrQ(", SN ") +
              Q(selection.SelectedInput->GetSerialNumber()) + QStringLiteral(" (") + TrQ("analog") +
              QStringLiteral(")");
    } else if (channel >= 0 && channel < static_cast<int>(inputs.size())) {
      inputs[static_cast<size_t>(channel)] = std::make_shared<TDummyDevice>();
    }
  }

  if (player) {
    player_->Burst()->SetMaximum(player->GetMaxBurstCount());
    player_->Burst()->Normalize();
    run_.reset();  // the last run lets go of its device before a new one binds it
    run_ = std::make_unique<TPlayRun>(device, RunEvents());
    try {
      auto daq = std::dynamic_pointer_cast<TDaqMxDevice>(device);
      commands_->Trace(daq ? daq->GetTrace() : player->GetInterface());
      // A failed connect leaves the port closed and the instrument in local mode.
      run_->Connect();
    } catch (const std::exception& e) {
      output_->Complete(line, TrQ("Error:"));
      SetStatus(TrQ("Ready"));
      output_->AppendError(QString::fromUtf8(e.what()), nullptr);
      run_.reset();
      abandon(output);
      return;
    }
  }

  session_.ConnectDone();
  output_->Complete(line, TrQ("Done."));
  SetStatus(FormatText(TrQ("Connected to %s"), {Q(device->GetModel())}));
  setWindowTitle(title + QStringLiteral(" - ") + TrQ("Ondrevo Remote"));
  ApplyState();

  // What the supply will play, in the log before the upload; computed aside, never blocking.
  if (player && !card && voltageTable_ && currentTable_) {
    if (!preview_) {
      preview_ = new TRemotePreview(this);
      connect(preview_, &TRemotePreview::line, this, [this](const QString& text, bool warning) {
        if (!session_.IsConnected()) return;  // a result for a device already gone
        output_->Append(text, warning);
      });
    }
    // A short wait keeps a small document's summary next to its connection line.
    preview_->Request(ListSettingsOf(*device, *player), *voltageTable_, *currentTable_,
                      std::chrono::milliseconds(300));
  }
}

void TRemoteForm::DisconnectDevice() {
  Disconnect();
}

bool TRemoteForm::Disconnect() {
  if (!session_.IsConnected()) return true;
  bool stopFirst = true;
  if (session_.IsRunning()) {
    const auto answer = dialogs_->Message(
        this, QMessageBox::Warning, TrQ("Ondrevo"),
        TrQ("The device is still running. Do you want to stop the execution before "
            "disconnecting?") +
            QStringLiteral("\n\n") + TrQ("Note:") + QLatin1Char('\n') +
            TrQ("It is possible that you will not be able to reconnect until the execution is "
                "stopped."),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) return false;
    stopFirst = answer == QMessageBox::Yes;
  }
  session_.DisconnectRequested();
  EndMeasurement();
  if (run_) {
    try {
      run_->Release(stopFirst && session_.IsRunning());
    } catch (const std::exception& e) {
      output_->AppendError(QString::fromUtf8(e.what()), nullptr);
    }
  }
  ApplyState();
  return true;
}

void TRemoteForm::OnDisconnect(IDevice* sender) {
  if (!IsCurrent(sender) || !session_.OnDisconnect()) return;
  commands_->Trace(nullptr);
  EndMeasurement();
  if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(Device))
    for (auto& input : output->GetConnectedInputs()) {
      if (!input) continue;
      for (auto& back : input->GetConnectedOutputs()) back.reset();
      input.reset();
    }
  Device.reset();
  player_->ResetUpload();
  player_->ClearExternalTrigger();
  output_->Append(TrQ("Disconnected from device."));
  SetStatus(TrQ("Ready"));
  SetBurstText(QString());
  setWindowTitle(TrQ("Ondrevo Remote"));
  ApplyState();
}

}  // namespace ondrevo
