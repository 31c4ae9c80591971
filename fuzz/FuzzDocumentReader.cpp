// libFuzzer target: the .ovx reader must turn any input into a document or a clean error; every
// document it accepts has times that never decrease and writes back to a document it accepts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/DocumentIO.h"

namespace {

void CheckTimes(const ondrevo::SegmentTable& t) {
  for (std::int32_t i = 0; i < t.LastPointIndex(); ++i)
    if (!(t[i + 1].Time >= t[i].Time)) __builtin_trap();
  if (t.LastPointIndex() > 0 && t[0].Time != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ondrevo::SegmentTable voltage, current;
  bool accepted = true;
  try {
    ondrevo::ReadDocumentText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz",
                              voltage, current);
  } catch (const ondrevo::EDocumentError&) {
    accepted = false;
  }
  CheckTimes(voltage);
  CheckTimes(current);
  // Whatever was read (even before an error) must be written as a document the reader accepts.
  std::string text;
  try {
    text = ondrevo::FormatDocument(voltage, current);
  } catch (const ondrevo::EDocumentError&) {
    __builtin_trap();
  }
  ondrevo::SegmentTable v2, c2;
  try {
    ondrevo::ReadDocumentText(text, "again", v2, c2);
  } catch (const ondrevo::EDocumentError&) {
    __builtin_trap();
  }
  CheckTimes(v2);
  CheckTimes(c2);
  if (accepted && (v2.LastPointIndex() != voltage.LastPointIndex() ||
                   c2.LastPointIndex() != current.LastPointIndex()))
    __builtin_trap();
  return 0;
}
