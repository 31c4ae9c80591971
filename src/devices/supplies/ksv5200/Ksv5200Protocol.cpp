#include "devices/supplies/ksv5200/Ksv5200Protocol.h"

#include <stdexcept>

#include "document/Numbers.h"
#include "document/Text.h"

namespace ondrevo::ksv5200 {

std::string PointCommand(int32_t index, double voltage, double current, double dwell) {
  return "FDS " + std::to_string(index) + "," + FormatDecimals(voltage, 3) + "," +
         FormatDecimals(current, 3) + "," + FormatDecimals(dwell, 4);
}

PointLine BuildPointLine(const std::vector<double>& dwell, const std::vector<double>& voltage,
                         const std::vector<double>& current, int32_t start,
                         int32_t maxCommandLength) {
  const int32_t n = static_cast<int32_t>(dwell.size());
  PointLine line;
  line.First = line.Last = start;
  line.Text = PointCommand(start, voltage[start], current[start], dwell[start]);
  const std::size_t opc = std::string_view(kOpcQuery).size();
  const std::size_t limit = static_cast<std::size_t>(maxCommandLength);
  for (int32_t q = start + 1; q < n; ++q) {
    const std::string piece = ";" + PointCommand(q, voltage[q], current[q], dwell[q]);
    if (line.Text.size() + piece.size() + opc >= limit) break;
    line.Text += piece;
    line.Last = q;
  }
  return line;
}

std::string FormatSetValue(double value) {
  return FormatFixed(value, 5, 3);
}

std::string SavedSettings(std::string_view learned, std::string_view mode) {
  const std::string needle = Upper("F " + std::string(mode) + ";");
  std::string rest(learned);
  for (std::size_t at = Upper(rest).find(needle); at != std::string::npos;
       at = Upper(rest).find(needle, at))
    rest.erase(at, needle.size());
  return "F 3;" + rest + ";F " + std::string(mode);
}

int32_t ParseIntegerReply(std::string_view reply) {
  const std::int64_t value = ParseInteger(Trim(reply));
  if (value < INT32_MIN || value > INT32_MAX)
    throw std::runtime_error("Invalid reply: " + ShowForeign(reply));
  return static_cast<int32_t>(value);
}

}  // namespace ondrevo::ksv5200
