#include "transports/BusFixtures.h"

namespace ondrevo::testing {

std::unique_ptr<TBusUnderTest> StartBus(BusKind kind,
                                        std::shared_ptr<sim::TSimInstrument> instrument) {
  switch (kind) {
    case BusKind::Serial:
      return std::make_unique<TSerialBus>(std::move(instrument));
    case BusKind::Gpib:
    case BusKind::Usb:
      break;
  }
  return nullptr;
}

}  // namespace ondrevo::testing
