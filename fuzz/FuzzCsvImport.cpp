// libFuzzer target: any CSV text becomes a well-formed staircase or a clean refusal.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/CsvImport.h"
#include "document/DocumentIO.h"

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the mode and a small budget, so that decimation is exercised too.
  const bool offset = data[0] & 1;
  const std::int32_t budget = 1 + (data[0] >> 1);
  ondrevo::CsvTrace trace;
  try {
    trace =
        ondrevo::ReadCsvText(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  } catch (const ondrevo::ECsvError&) {
    return 0;  // beyond the bounds of a trace
  }
  if (trace.Layout == ondrevo::CsvLayout::Unknown) Check(trace.Samples.empty());
  if (trace.Samples.empty()) return 0;
  ondrevo::CsvStaircase s;
  try {
    s = ondrevo::MakeCsvStaircase(trace, offset, budget);
  } catch (const ondrevo::ECsvError&) {
    return 0;
  }
  Check(s.Points.size() >= 3 && s.Points[0].first == 0 && s.Points[0].second == 0);
  for (std::size_t i = 0; i < s.Points.size(); ++i) {
    Check(std::isfinite(s.Points[i].first) && std::isfinite(s.Points[i].second));
    if (!offset) Check(s.Points[i].second >= 0);
    if (i > 0) Check(s.Points[i].first >= s.Points[i - 1].first);
  }
  ondrevo::SegmentTable voltage, current;
  ondrevo::StoreCsvStaircase(s, voltage);
  Check(voltage.LastPointIndex() == static_cast<std::int32_t>(s.Points.size()) - 1);
  // What the import makes must be a document the reader takes back.
  ondrevo::SegmentTable v2, c2;
  try {
    ondrevo::ReadDocumentText(ondrevo::FormatDocument(voltage, current), "again", v2, c2);
  } catch (const ondrevo::EDocumentError&) {
    __builtin_trap();
  }
  Check(v2.LastPointIndex() == voltage.LastPointIndex());
  return 0;
}
