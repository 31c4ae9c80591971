#include "devices/Device.h"

#include "devices/ModelTables.h"

namespace ondrevo {

TDevice::TDevice(const std::string& model, const std::string& serialNumber)
    : Model(model), SerialNumber(serialNumber), Name(model + ", SN " + serialNumber) {
  const ModelLimits limits = BaseDeviceLimits(model);
  MinVoltage = limits.MinVoltage;
  MaxVoltage = limits.MaxVoltage;
  MinCurrent = limits.MinCurrent;
  MaxCurrent = limits.MaxCurrent;
  VoltageFactor = limits.VoltageFactor;
  CurrentFactor = limits.CurrentFactor;
  Unsupported = limits.Unsupported;
}

TDummyDevice::TDummyDevice() : TDevice("", "") {}

}  // namespace ondrevo
