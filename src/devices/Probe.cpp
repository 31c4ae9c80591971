#include "devices/Probe.h"

#include <mutex>

#include "devices/Identification.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

std::mutex gFactoryLock;
TDriverFactory gFactory;

}  // namespace

void SetDriverFactory(TDriverFactory factory) {
  std::lock_guard lock(gFactoryLock);
  gFactory = std::move(factory);
}

std::shared_ptr<TDevice> MakeIdentifiedDevice(std::string_view reply,
                                              std::shared_ptr<TInterface> transport) {
  const TIdentification id = ParseIdentification(reply);
  TDriverFactory factory;
  {
    std::lock_guard lock(gFactoryLock);
    factory = gFactory;
  }
  auto device = factory ? factory(id.Model, std::move(transport), id.SerialNumber)
                        : std::make_shared<TDevice>(id.Model, id.SerialNumber);
  // Listed all the same, under a name that says what is missing.
  if (device && id.Model.empty())
    device->SetName(std::string(_("Unknown model")) + ", SN " + id.SerialNumber);
  return device;
}

std::string ReadIdentification(TInterface& transport, uint32_t timeoutMs) {
  std::string reply;
  try {
    transport.Open();
    reply = transport.Query(";*IDN?", timeoutMs);
    transport.Send("SYST:LOC");
  } catch (...) {
    try {
      transport.Close();
    } catch (...) {
    }
    throw;
  }
  transport.Close();
  return reply;
}

}  // namespace ondrevo
