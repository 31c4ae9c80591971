#include "devices/supplies/ksv7340/Ksv7340Protocol.h"

#include <cstdint>
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
  return TListChunkBuilder(dwell, voltage, current, start, maxCommandLength).Take();
}

TListChunkBuilder::TListChunkBuilder(const std::vector<double>& dwell,
                                     const std::vector<double>& voltage,
                                     const std::vector<double>& current, int32_t start,
                                     int32_t maxCommandLength)
    : dwell_(dwell),
      voltage_(voltage),
      current_(current),
      limit_(static_cast<std::size_t>(maxCommandLength)),
      next_(start + 1) {
  const std::string index = std::to_string(start);
  chunk_.First = chunk_.Last = start;
  chunk_.Dwell = "LIST:DWEL " + index + "," + FormatListValue(dwell[start]);
  chunk_.Voltage = "LIST:VOLT " + index + "," + FormatListValue(voltage[start]);
  chunk_.Current = "LIST:CURR " + index + "," + FormatListValue(current[start]);
  chunk_.Dwell.reserve(limit_);
  chunk_.Voltage.reserve(limit_);
  chunk_.Current.reserve(limit_);
}

bool TListChunkBuilder::Extend(int32_t points) {
  const int32_t n = static_cast<int32_t>(dwell_.size());
  const std::size_t opc = std::string_view(kOpcQuery).size();
  for (; points > 0 && !complete_; --points) {
    if (next_ >= n) {
      complete_ = true;
      break;
    }
    const int32_t p = next_;
    const std::size_t dwellSize = chunk_.Dwell.size();
    const std::size_t voltageSize = chunk_.Voltage.size();
    const std::size_t currentSize = chunk_.Current.size();
    // Appended in place and taken back when the point does not fit.
    chunk_.Dwell += ',';
    AppendDecimals(chunk_.Dwell, dwell_[p], kListDecimals);
    chunk_.Voltage += ',';
    AppendDecimals(chunk_.Voltage, voltage_[p], kListDecimals);
    chunk_.Current += ',';
    AppendDecimals(chunk_.Current, current_[p], kListDecimals);
    if (chunk_.Dwell.size() + opc >= limit_ || chunk_.Voltage.size() + opc >= limit_ ||
        chunk_.Current.size() + opc >= limit_) {
      chunk_.Dwell.resize(dwellSize);
      chunk_.Voltage.resize(voltageSize);
      chunk_.Current.resize(currentSize);
      complete_ = true;
      break;
    }
    chunk_.Last = p;
    ++next_;
  }
  return !complete_;
}

ListChunk TListChunkBuilder::Take() {
  while (Extend(INT32_MAX)) {
  }
  return std::move(chunk_);
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
