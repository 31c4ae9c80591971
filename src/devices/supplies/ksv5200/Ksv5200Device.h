// Driver of the family-A supplies: a point memory played between a start and an end address,
// a repetition count, an external trigger input and two analog control inputs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/supplies/ListPlayerDevice.h"

namespace ondrevo {

class TKsv5200Device : public TListPlayerDevice,
                       public ITriggerablePlayer,
                       public IAnalogOutput,
                       public IAnalogInput {
 public:
  TKsv5200Device(const std::string& model, std::shared_ptr<TInterface> transport,
                 const std::string& serialNumber);
  ~TKsv5200Device() override;

  // IRemoteControllable
  void Connect() override;

  // IWaveformPlayer
  void Play() override;
  void Pause() override;
  void Stop() override;
  void SetBurstCount(int32_t count) override;
  int32_t GetBurstCount() override;

  // ITriggerablePlayer
  void SetExternalTrigger(bool enabled) override { ExternalTrigger = enabled; }
  void SetTriggerChannel(int32_t index) override;
  void SetTriggerOnFallingEdge(bool /*value*/) override {}
  void SetOnTrigger(TDeviceNotifyEvent h) override { OnTrigger = std::move(h); }
  bool GetExternalTrigger() const override { return ExternalTrigger; }
  int32_t GetTriggerChannelCount() const override { return 1; }
  void GetTriggerTypes(TTriggerTypes& types) const override;
  void GetTriggerChannelName(int32_t index, std::string& name) const override;
  TDeviceNotifyEvent GetOnTrigger() const override { return OnTrigger; }
  bool IsExternalTriggerAvailable() const override { return true; }

  // IAnalogOutput
  void SetOutputEnabled(bool enabled, int32_t channel) override;
  void SetOutputFlag(bool value, int32_t channel) override;
  void SetValues(double voltage, double current) override;
  void GetValues(double& voltage, double& current) override;
  TAnalogInputArray& GetConnectedInputs() override { return ConnectedInputs; }
  bool IsOutputEnabled(int32_t channel) override;
  bool GetOutputFlag(int32_t channel) const override;

  // IAnalogInput: input 0 controls the voltage, input 1 the current.
  void SetCurrentInput(bool /*value*/, int32_t /*input*/) override {}
  TAnalogOutputArray& GetConnectedOutputs() override { return ConnectedOutputs; }
  bool IsCurrentInput(int32_t input) const override { return input != 0; }

  const std::string& GetSavedSettings() const { return SavedSettings; }

 protected:
  void WritePoints(TUploadJob& job, const std::vector<double>& dwell,
                   const std::vector<double>& voltage, const std::vector<double>& current) override;
  bool PollRunning(TPollJob& job) override;
  void PlayProgress(double fraction) override;
  void PlayFinished() override;
  void ReleaseInstrument() override;

 private:
  // Poll thread.
  void EstimateTriggerStart(const TPollJob& job, int32_t address,
                            std::chrono::steady_clock::time_point sent,
                            std::chrono::steady_clock::time_point received);

  int32_t BurstCount = 0;
  int32_t RemainingBursts = 0;
  bool CycleActive = false;
  bool WaitingForTrigger = false;
  bool ExternalTrigger = false;
  bool Stopped = false;
  std::string SavedSettings;
  TAnalogOutputArray ConnectedOutputs{2};
  TAnalogInputArray ConnectedInputs{1};
  std::vector<bool> OutputFlags{false};
  TDeviceNotifyEvent OnTrigger;
  // Set by Play before the poll thread starts, then the poll thread's.
  std::atomic<bool> triggerStartPending_{false};
  std::optional<std::chrono::steady_clock::time_point> lastFirstAddressSent_;
};

}  // namespace ondrevo
