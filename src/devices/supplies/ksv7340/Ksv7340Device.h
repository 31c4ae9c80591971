// Driver of the family-C supplies (one- and two-channel models with list memory).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/supplies/ListPlayerDevice.h"

namespace ondrevo {

class TKsv7340Device : public TListPlayerDevice, public IAnalogOutput {
 public:
  TKsv7340Device(const std::string& model, std::shared_ptr<TInterface> transport,
                 const std::string& serialNumber);
  ~TKsv7340Device() override;

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

  static constexpr int32_t kMaxCommandLength = 509;

 protected:
  void WritePoints(TUploadJob& job, const std::vector<double>& dwell,
                   const std::vector<double>& voltage, const std::vector<double>& current) override;
  void FinishUpload(TUploadJob& job) override;
  void UploadDone(int32_t firstIndex, int32_t lastIndex) override;
  bool PollRunning(TPollJob& job) override;
  void ReleaseInstrument() override;

 private:
  TAnalogInputArray ConnectedInputs;
  std::vector<bool> OutputFlags;
};

}  // namespace ondrevo
