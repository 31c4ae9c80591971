// Stand-ins for the remote window's tests: dialogs that answer from a script, and a device and
// scanner whose events the test raises by hand.
#pragma once

#include <QAction>
#include <QStringList>
#include <QTreeWidget>
#include <QtTest>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "devices/Device.h"
#include "devices/DeviceErrors.h"
#include "devices/Interface.h"
#include "remote/RemoteDialogs.h"
#include "remote/RemoteForm.h"

namespace ondrevo::test {

// The device tree's item, searched again until found: on a loaded machine a serial probe may
// miss its reply, so a search that ended without the instrument is repeated.
inline QTreeWidgetItem* FindDevice(TRemoteForm& form, const QString& caption) {
  auto* tree = form.findChild<QTreeWidget*>("DeviceTreeView");
  for (int search = 0; search < 5; ++search) {
    auto found = tree->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
    if (!found.isEmpty()) return found.first();
    form.findChild<QAction*>("Refresh")->trigger();
    if (!QTest::qWaitFor([&] { return !form.IsRefreshing(); }, 60000)) break;
  }
  return nullptr;
}

class TScriptedDialogs : public TRemoteDialogs {
 public:
  std::deque<QMessageBox::StandardButton> Answers;
  QStringList Asked;  // caption + "|" + text of every message box
  QString SavePath;

  QMessageBox::StandardButton Message(QWidget*, QMessageBox::Icon, const QString& caption,
                                      const QString& text, QMessageBox::StandardButtons) override {
    Asked << caption + QLatin1Char('|') + text;
    if (Answers.empty()) return QMessageBox::No;
    const auto answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
    return SavePath;
  }
};

// A triggerable player with output channels; every call is recorded in Calls.
class TFakePlayer : public TDevice, public ITriggerablePlayer, public IAnalogOutput {
 public:
  TFakePlayer(const std::string& model, const std::string& serial, int channels = 1)
      : TDevice(model, serial), Inputs(static_cast<size_t>(channels)) {
    MinVoltage = 0;
    MaxVoltage = 20;
    MinCurrent = 0;
    MaxCurrent = 10;
    Unsupported = false;
  }

  std::vector<std::string> Calls;
  bool FailConnect = false;
  bool FailUpload = false;
  bool TriggerAvailable = true;
  int32_t MaxBurst = 255;
  double MinDwell = 0.01;
  TAnalogInputArray Inputs;

  TDeviceProgressEvent UploadProgress, PlayProgress;
  TDeviceCountEvent Burst;
  TDeviceNotifyEvent UploadDone, PlayEvent, StopEvent, ConnectEvent, DisconnectEvent, Trigger;
  TDeviceErrorEvent Error;

  void Connect() override {
    Calls.push_back("Connect");
    if (FailConnect) throw EConnectionError("No device connected");
  }
  void Disconnect() override {
    Calls.push_back("Disconnect");
    if (DisconnectEvent) DisconnectEvent(this);
  }
  bool IsConnected() const override { return false; }
  std::shared_ptr<TInterface> GetInterface() const override { return transport_; }
  int32_t GetMaxCommandLength() const override { return 509; }

  void Upload(std::shared_ptr<TWaveform>, std::shared_ptr<TWaveform>, bool enable) override {
    Calls.push_back(enable ? "Upload 1" : "Upload 0");
    if (FailUpload) throw ETimeoutError("Timeout");
  }
  void CancelUpload() override { Calls.push_back("CancelUpload"); }
  void Play() override {
    Calls.push_back("Play");
    if (PlayEvent) PlayEvent(this);
  }
  void Pause() override { Calls.push_back("Pause"); }
  void Stop() override { Calls.push_back("Stop"); }
  void SetBurstCount(int32_t n) override { Calls.push_back("SetBurstCount " + std::to_string(n)); }
  void SetOnUploadProgress(TDeviceProgressEvent h) override { UploadProgress = h; }
  void SetOnPlayProgress(TDeviceProgressEvent h) override { PlayProgress = h; }
  void SetOnBurst(TDeviceCountEvent h) override { Burst = h; }
  void SetOnUploadDone(TDeviceNotifyEvent h) override { UploadDone = h; }
  void SetOnError(TDeviceErrorEvent h) override { Error = h; }
  void SetOnPlay(TDeviceNotifyEvent h) override { PlayEvent = h; }
  void SetOnStop(TDeviceNotifyEvent h) override { StopEvent = h; }
  void SetOnConnect(TDeviceNotifyEvent h) override { ConnectEvent = h; }
  void SetOnDisconnect(TDeviceNotifyEvent h) override { DisconnectEvent = h; }
  int32_t GetBurstCount() override { return 1; }
  double GetMinDwellTime() const override { return MinDwell; }
  double GetMaxDwellTime() const override { return 100; }
  int32_t GetMaxPoints() const override { return 1000; }
  int32_t GetMaxBurstCount() const override { return MaxBurst; }
  double GetVoltageResolution() const override { return 0.01; }
  double GetCurrentResolution() const override { return 0.01; }
  TDeviceProgressEvent GetOnUploadProgress() const override { return UploadProgress; }
  TDeviceProgressEvent GetOnPlayProgress() const override { return PlayProgress; }
  TDeviceCountEvent GetOnBurst() const override { return Burst; }
  TDeviceNotifyEvent GetOnUploadDone() const override { return UploadDone; }
  TDeviceErrorEvent GetOnError() const override { return Error; }
  TDeviceNotifyEvent GetOnPlay() const override { return PlayEvent; }
  TDeviceNotifyEvent GetOnStop() const override { return StopEvent; }
  TDeviceNotifyEvent GetOnConnect() const override { return ConnectEvent; }
  TDeviceNotifyEvent GetOnDisconnect() const override { return DisconnectEvent; }

  void SetExternalTrigger(bool on) override {
    Calls.push_back(on ? "SetExternalTrigger 1" : "SetExternalTrigger 0");
  }
  void SetTriggerChannel(int32_t i) override {
    Calls.push_back("SetTriggerChannel " + std::to_string(i));
  }
  void SetTriggerOnFallingEdge(bool v) override {
    Calls.push_back(v ? "SetTriggerOnFallingEdge 1" : "SetTriggerOnFallingEdge 0");
  }
  void SetOnTrigger(TDeviceNotifyEvent h) override { Trigger = h; }
  bool GetExternalTrigger() const override { return false; }
  int32_t GetTriggerChannelCount() const override { return 2; }
  void GetTriggerTypes(TTriggerTypes& types) const override {
    types = {TTriggerType::ttRisingEdge, TTriggerType::ttFallingEdge};
  }
  void GetTriggerChannelName(int32_t i, std::string& name) const override {
    name = "Trig" + std::to_string(i);
  }
  TDeviceNotifyEvent GetOnTrigger() const override { return Trigger; }
  bool IsExternalTriggerAvailable() const override { return TriggerAvailable; }

  void SetOutputEnabled(bool on, int32_t ch) override {
    Calls.push_back(std::string(on ? "OutputOn " : "OutputOff ") + std::to_string(ch));
  }
  void SetOutputFlag(bool, int32_t) override {}
  void SetValues(double, double) override {}
  void GetValues(double&, double&) override {}
  TAnalogInputArray& GetConnectedInputs() override { return Inputs; }
  bool IsOutputEnabled(int32_t) override { return false; }
  bool GetOutputFlag(int32_t) const override { return false; }

  bool Called(const std::string& call) const {
    for (const auto& c : Calls)
      if (c == call) return true;
    return false;
  }

 private:
  // A command transport of some kind, so the window takes this for an instrument.
  struct TNullTransport : TSilentInterface {};
  std::shared_ptr<TInterface> transport_ = std::make_shared<TNullTransport>();
};

// A bus with a fixed list of devices.
class TFakeBus : public TSilentInterface, public IDeviceScanner {
 public:
  explicit TFakeBus(std::string name, TDeviceList devices) : devices_(std::move(devices)) {
    Name = std::move(name);
  }
  void GetInterfaces(TInterfaceList& interfaces) override {
    interfaces = {std::make_shared<TFakeBus>(Name, devices_)};
  }
  void GetDevices(TDeviceList& devices) override { devices = devices_; }

 private:
  TDeviceList devices_;
};

}  // namespace ondrevo::test
