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
    // Short and printable, whatever the reply.
    constexpr std::size_t most = 4 * ondrevo::kMaxIdentificationField + 3;
    if (id.Model.size() > most || id.SerialNumber.size() > most) __builtin_trap();
    for (const std::string* field : {&id.Model, &id.SerialNumber})
      for (char c : *field)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) __builtin_trap();
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
