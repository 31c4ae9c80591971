// Driver of the family-C supplies (one- and two-channel models with list memory).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/Device.h"
#include "devices/Interface.h"
#include "model/ListSampling.h"

namespace ondrevo {

class TKsv7340Device : public TDevice, public IWaveformPlayer, public IAnalogOutput {
 public:
  TKsv7340Device(const std::string& model, std::shared_ptr<TInterface> transport,
                 const std::string& serialNumber);
  ~TKsv7340Device() override;

  // IRemoteControllable
  void Connect() override;
  void Disconnect() override;
  bool IsConnected() const override { return Connected; }
  std::shared_ptr<TInterface> GetInterface() const override { return Transport; }
  int32_t GetMaxCommandLength() const override { return MaxCommandLength; }

  // IWaveformPlayer
  void Upload(std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
              bool enableOutput) override;
  void CancelUpload() override;
  void Play() override;
  void Pause() override;
  void Stop() override;
  void SetBurstCount(int32_t count) override;
  int32_t GetBurstCount() override;
  double GetMinDwellTime() const override { return MinDwellTime; }
  double GetMaxDwellTime() const override { return MaxDwellTime; }
  int32_t GetMaxPoints() const override { return MaxPoints; }
  int32_t GetMaxBurstCount() const override { return MaxBurstCount; }
  double GetVoltageResolution() const override { return VoltageResolution; }
  double GetCurrentResolution() const override { return CurrentResolution; }
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

  // IAnalogOutput
  void SetOutputEnabled(bool enabled, int32_t channel) override;
  void SetOutputFlag(bool value, int32_t channel) override;
  void SetValues(double voltage, double current) override;
  void GetValues(double& voltage, double& current) override;
  TAnalogInputArray& GetConnectedInputs() override { return ConnectedInputs; }
  bool IsOutputEnabled(int32_t channel) override;
  bool GetOutputFlag(int32_t channel) const override;

  // Limits, resolutions, dwell times and budget an upload samples with now.
  SupplyListSettings ListSettings() const;
  // Point range of the last upload in list block 0.
  int32_t GetFirstIndex() const { return FirstIndex; }
  int32_t GetLastIndex() const { return LastIndex; }
  bool IsUploading() const { return UploadThread != nullptr; }
  // True while an upload or running-state thread of this device has not ended.
  bool HasRunningThreads() const { return activeThreads_->load() > 0; }
  // Time allowed for each reply (3000 ms); shorter in tests.
  void SetReplyTimeout(uint32_t ms) { replyTimeoutMs_ = ms; }

  static constexpr int32_t kMaxCommandLength = 509;

 private:
  class TUploadThread;
  class TCheckRunningThread;
  friend class TUploadThread;
  friend class TCheckRunningThread;

  std::string Query(const std::string& command);
  void ReportError(const std::exception& e);
  void CloseConnection(bool notify);

  bool Connected = false;
  std::shared_ptr<TInterface> Transport;
  int32_t MaxCommandLength = kMaxCommandLength;
  double MinDwellTime = 0.01;
  double MaxDwellTime = 100.0;
  int32_t MaxPoints = 1000;
  int32_t MaxBurstCount = 65535;
  double VoltageResolution = 0.0;
  double CurrentResolution = 0.0;
  TAnalogInputArray ConnectedInputs;
  std::vector<bool> OutputFlags;
  TDeviceProgressEvent OnUploadProgress, OnPlayProgress;
  TDeviceCountEvent OnBurst;
  TDeviceNotifyEvent OnUploadDone, OnPlay, OnStop, OnConnect, OnDisconnect;
  TDeviceErrorEvent OnError;
  bool DisconnectPending = false;
  std::shared_ptr<TUploadThread> UploadThread;
  int32_t FirstIndex = 0;
  int32_t LastIndex = 0;

  std::atomic<uint32_t> replyTimeoutMs_{3000};
  // Changes with every disconnect: a poll that fails because of it is no device error.
  std::atomic<int> connection_{0};
  std::shared_ptr<std::atomic<int>> activeThreads_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace ondrevo
