// The driver choice lives with the drivers, which build on the device framework.
#include "devices/Device.h"
#include "devices/ModelTables.h"
#include "devices/supplies/Ksv7340Device.h"

namespace ondrevo {

std::shared_ptr<TDevice> CreateDeviceForModel(const std::string& model,
                                              std::shared_ptr<TInterface> transport,
                                              const std::string& serialNumber) {
  switch (FamilyForModel(model)) {
    case DeviceFamily::C:
      return std::make_shared<TKsv7340Device>(model, std::move(transport), serialNumber);
    case DeviceFamily::A:
    case DeviceFamily::B:
      // No driver for these families yet: the instrument is listed, marked unsupported.
    case DeviceFamily::None:
      break;
  }
  return std::make_shared<TDevice>(model, serialNumber);
}

}  // namespace ondrevo
