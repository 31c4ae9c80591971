// Instrument replies are untrusted input: every parser either returns or throws a std::exception.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "devices/supplies/ksv7340/Ksv7340Protocol.h"
#include "devices/Identification.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  if (ondrevo::IsMakerReply(reply)) {
    const auto id = ondrevo::ParseIdentification(reply);
    if (id.Model.size() > size + 1 || id.SerialNumber.size() > size) __builtin_trap();
  }
  int32_t index = 0, repetition = 0;
  try {
    ondrevo::ksv7340::ParseSequenceReply(reply, index, repetition);
  } catch (const std::exception&) {
  }
  try {
    ondrevo::ksv7340::ParseIntegerReply(reply);
  } catch (const std::exception&) {
  }
  try {
    ondrevo::ksv7340::ParseBlockCount(reply);
  } catch (const std::exception&) {
  }
  return 0;
}
