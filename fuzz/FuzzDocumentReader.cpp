// libFuzzer target: the .ovx reader must turn any input into a document or a clean error.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/DocumentIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ondrevo::SegmentTable voltage, current;
  try {
    ondrevo::ReadDocumentText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz",
                              voltage, current);
  } catch (const ondrevo::EDocumentError&) {
  }
  // Whatever was read (even before an error) must be written as a document the reader accepts.
  const std::string text = ondrevo::FormatDocument(voltage, current);
  ondrevo::SegmentTable v2, c2;
  try {
    ondrevo::ReadDocumentText(text, "again", v2, c2);
  } catch (const ondrevo::EDocumentError&) {
    __builtin_trap();
  }
  return 0;
}
