// Turning an identified instrument into a device, the same for every bus. The transports find
// instruments and read their identification; which driver takes one is decided here, through
// the factory the drivers install, so the transports never depend on the drivers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "devices/Device.h"
#include "devices/Interface.h"

namespace ondrevo {

using TDriverFactory = std::function<std::shared_ptr<TDevice>(
    const std::string& model, std::shared_ptr<TInterface> transport, const std::string& serial)>;

// Installed once by the program (InstallSupplyDrivers); thread-safe. Without one, every
// instrument is a plain device: listed, but not remote-controllable.
void SetDriverFactory(TDriverFactory factory);

// The device for an identification reply, owning `transport`.
std::shared_ptr<TDevice> MakeIdentifiedDevice(std::string_view reply,
                                              std::shared_ptr<TInterface> transport);

// The identification exchange of a line bus (serial, and what speaks lines like it): open,
// ";*IDN?", one reply within timeoutMs, "SYST:LOC", close. Any failure closes the transport and
// passes to the caller.
std::string ReadIdentification(TInterface& transport, uint32_t timeoutMs);

}  // namespace ondrevo
