#include "devices/supplies/ksv7340/Ksv7340Protocol.h"

#include <stdexcept>

#include "document/Numbers.h"
#include "document/Text.h"

namespace ondrevo::ksv7340 {

namespace {
constexpr int kListDecimals = 3;
}

std::string FormatListValue(double value) {
  return FormatDecimals(value, kListDecimals);
}

std::string FormatSetValue(double value) {
  return FormatFixed(value, 5, 3);
}

ListChunk BuildListChunk(const std::vector<double>& dwell, const std::vector<double>& voltage,
                         const std::vector<double>& current, int32_t start,
                         int32_t maxCommandLength) {
  const int32_t n = static_cast<int32_t>(dwell.size());
  const std::string index = std::to_string(start);
  ListChunk chunk;
  chunk.First = chunk.Last = start;
  chunk.Dwell = "LIST:DWEL " + index + "," + FormatListValue(dwell[start]);
  chunk.Voltage = "LIST:VOLT " + index + "," + FormatListValue(voltage[start]);
  chunk.Current = "LIST:CURR " + index + "," + FormatListValue(current[start]);
  const std::size_t opc = std::string_view(kOpcQuery).size();
  const std::size_t limit = static_cast<std::size_t>(maxCommandLength);
  chunk.Dwell.reserve(limit);
  chunk.Voltage.reserve(limit);
  chunk.Current.reserve(limit);
  for (int32_t p = start + 1; p < n; ++p) {
    const std::size_t dwellSize = chunk.Dwell.size();
    const std::size_t voltageSize = chunk.Voltage.size();
    const std::size_t currentSize = chunk.Current.size();
    // Appended in place and taken back when the point does not fit.
    chunk.Dwell += ',';
    AppendDecimals(chunk.Dwell, dwell[p], kListDecimals);
    chunk.Voltage += ',';
    AppendDecimals(chunk.Voltage, voltage[p], kListDecimals);
    chunk.Current += ',';
    AppendDecimals(chunk.Current, current[p], kListDecimals);
    if (chunk.Dwell.size() + opc >= limit || chunk.Voltage.size() + opc >= limit ||
        chunk.Current.size() + opc >= limit) {
      chunk.Dwell.resize(dwellSize);
      chunk.Voltage.resize(voltageSize);
      chunk.Current.resize(currentSize);
      break;
    }
    chunk.Last = p;
  }
  return chunk;
}

std::string BlockCommand(int32_t first, int32_t last, int32_t count) {
  return "LIST:BLOC 0," + std::to_string(first) + "," + std::to_string(last) + "," +
         (count == 0 ? std::string("INF") : std::to_string(count));
}

int32_t ParseIntegerReply(std::string_view reply) {
  const std::int64_t value = ParseInteger(Trim(reply));
  if (value < INT32_MIN || value > INT32_MAX)
    throw std::runtime_error("Invalid reply: " + ShowForeign(reply));
  return static_cast<int32_t>(value);
}

void ParseSequenceReply(std::string_view reply, int32_t& index, int32_t& repetition) {
  const auto first = reply.find(',');
  const auto second = first == std::string_view::npos ? first : reply.find(',', first + 1);
  if (second == std::string_view::npos)
    throw std::runtime_error("Invalid reply: " + ShowForeign(reply));
  index = ParseIntegerReply(reply.substr(first + 1, second - first - 1));
  repetition = ParseIntegerReply(reply.substr(reply.rfind(',') + 1));
}

int32_t ParseBlockCount(std::string_view reply) {
  const auto comma = reply.rfind(',');
  const std::string_view tail =
      Trim(comma == std::string_view::npos ? reply : reply.substr(comma + 1));
  if (tail == "INF") return 0;
  return ParseIntegerReply(tail);
}

}  // namespace ondrevo::ksv7340
