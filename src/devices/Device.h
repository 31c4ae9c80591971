// The device base class and the placeholder input device.
#pragma once

#include <memory>
#include <string>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

class TDevice : public virtual IDevice, public std::enable_shared_from_this<TDevice> {
 public:
  // Limits and factors from the plain device table; Unsupported when the model matches no row.
  TDevice(const std::string& model, const std::string& serialNumber);
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  std::string GetModel() const final { return Model; }
  std::string GetSerialNumber() const final { return SerialNumber; }
  std::string GetName() const final { return Name; }
  double GetMinVoltage() const final { return MinVoltage; }
  double GetMaxVoltage() const final { return MaxVoltage; }
  double GetMinCurrent() const final { return MinCurrent; }
  double GetMaxCurrent() const final { return MaxCurrent; }
  double GetVoltageFactor() const final { return VoltageFactor; }
  double GetCurrentFactor() const final { return CurrentFactor; }
  bool IsUnsupported() const final { return Unsupported; }
  void SetName(const std::string& name) final { Name = name; }

 protected:
  std::string Model;
  std::string SerialNumber;
  std::string Name;
  double MinVoltage = 0.0;
  double MaxVoltage = 0.0;
  double MinCurrent = 0.0;
  double MaxCurrent = 0.0;
  double VoltageFactor = 1.0;
  double CurrentFactor = 1.0;
  bool Unsupported = false;
};

// Stands for "some device on this output channel"; the two-channel supplies read their channel
// from where the remote window puts one.
class TDummyDevice : public TDevice, public IAnalogInput {
 public:
  TDummyDevice();
  void SetCurrentInput(bool value, int32_t input) override {}
  TAnalogOutputArray& GetConnectedOutputs() override { return outputs_; }
  bool IsCurrentInput(int32_t input) const override { return false; }

 private:
  TAnalogOutputArray outputs_{1};
};

// Driver choice by the model an instrument reports: family-C, family-B, a plain device, or
// family-A. The device owns `transport` (a plain device has none).
std::shared_ptr<TDevice> CreateDeviceForModel(const std::string& model,
                                              std::shared_ptr<TInterface> transport,
                                              const std::string& serialNumber);

}  // namespace ondrevo
