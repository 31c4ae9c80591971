// Driver of the family-B supplies: waveform points stored in numbered registers, played between
// a start and an end address with a repetition count; two analog control inputs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/supplies/ListPlayerDevice.h"

namespace ondrevo {

class TKsv6140Device : public TListPlayerDevice, public IAnalogOutput, public IAnalogInput {
 public:
  TKsv6140Device(const std::string& model, std::shared_ptr<TInterface> transport,
                 const std::string& serialNumber);
  ~TKsv6140Device() override;

  // IRemoteControllable
  void Connect() override;

  // IWaveformPlayer
  void Play() override;
  void Pause() override;
  void Stop() override;
  void SetBurstCount(int32_t count) override;
  int32_t GetBurstCount() override;

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
  void PlayFinished() override;
  void ReleaseInstrument() override;

 private:
  bool Stopped = false;
  std::string SavedSettings;
  TAnalogOutputArray ConnectedOutputs{2};
  TAnalogInputArray ConnectedInputs{1};
  std::vector<bool> OutputFlags{false};
};

}  // namespace ondrevo
