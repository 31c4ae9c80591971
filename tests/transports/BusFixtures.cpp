#include "transports/BusFixtures.h"

namespace ondrevo::testing {

std::unique_ptr<TBusUnderTest> StartBus(BusKind kind,
                                        std::shared_ptr<sim::TSimInstrument> instrument) {
  switch (kind) {
    case BusKind::Serial:
      return std::make_unique<TSerialBus>(std::move(instrument));
    case BusKind::Gpib:
      return std::make_unique<TGpibBus>(std::move(instrument));
    case BusKind::Usb:
      return std::make_unique<TUsbBus>(std::move(instrument));
  }
  return nullptr;
}

}  // namespace ondrevo::testing
