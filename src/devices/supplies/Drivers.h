// The supply drivers plug into the probing of every bus.
#pragma once

namespace ondrevo {

// Makes CreateDeviceForModel the driver factory of discovery; idempotent.
void InstallSupplyDrivers();

}  // namespace ondrevo
