// The driver choice lives with the drivers, which build on the device framework.
#include "devices/Device.h"
#include "devices/ModelTables.h"
#include "devices/Probe.h"
#include "devices/supplies/Drivers.h"
#include "devices/supplies/ksv5200/Ksv5200Device.h"
#include "devices/supplies/ksv6140/Ksv6140Device.h"
#include "devices/supplies/ksv7340/Ksv7340Device.h"

namespace ondrevo {

std::shared_ptr<TDevice> CreateDeviceForModel(const std::string& model,
                                              std::shared_ptr<TInterface> transport,
                                              const std::string& serialNumber) {
  switch (FamilyForModel(model)) {
    case DeviceFamily::C:
      return std::make_shared<TKsv7340Device>(model, std::move(transport), serialNumber);
    case DeviceFamily::B:
      return std::make_shared<TKsv6140Device>(model, std::move(transport), serialNumber);
    case DeviceFamily::A:
      return std::make_shared<TKsv5200Device>(model, std::move(transport), serialNumber);
    case DeviceFamily::None:
      break;
  }
  return std::make_shared<TDevice>(model, serialNumber);
}

void InstallSupplyDrivers() {
  SetDriverFactory(&CreateDeviceForModel);
}

}  // namespace ondrevo
