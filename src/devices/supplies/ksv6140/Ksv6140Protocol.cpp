#include "devices/supplies/ksv6140/Ksv6140Protocol.h"

#include <stdexcept>

#include "document/Numbers.h"
#include "document/Text.h"

namespace ondrevo::ksv6140 {

const char* ModeLine(bool voltageInputWired, bool currentInputWired) {
  if (voltageInputWired && currentInputWired) return "V 0;C 0;FSEQ OFF";
  if (voltageInputWired) return "V 0;C MAX;FSEQ OFF";
  if (currentInputWired) return "V MAX;C 0;FSEQ OFF";
  return "V 0;C 0;FSEQ ON";
}

std::string RegisterCommand(double voltage, double current, double dwell, int32_t location) {
  return "FREG " + FormatDecimals(voltage, 3) + "," + FormatDecimals(current, 3) + "," +
         FormatDecimals(dwell, 4) + ";FSTO " + std::to_string(location);
}

RegisterLine BuildRegisterLine(const std::vector<double>& dwell, const std::vector<double>& voltage,
                               const std::vector<double>& current, int32_t start,
                               int32_t maxCommandLength) {
  const int32_t n = static_cast<int32_t>(dwell.size());
  RegisterLine line;
  line.First = line.Last = start;
  line.Text = RegisterCommand(voltage[start], current[start], dwell[start], start + 1);
  const std::size_t opc = std::string_view(kOpcQuery).size();
  const std::size_t limit = static_cast<std::size_t>(maxCommandLength);
  for (int32_t q = start + 1; q < n; ++q) {
    const std::string piece = ";" + RegisterCommand(voltage[q], current[q], dwell[q], q + 1);
    if (line.Text.size() + piece.size() + opc >= limit) break;
    line.Text += piece;
    line.Last = q;
  }
  return line;
}

std::string EndAddressLine(int32_t last) {
  return "FAE " + std::to_string(last) + ";FAF 1;FAL 1";
}

std::string FormatSetValue(double value) {
  return FormatFixed(value, 5, 3);
}

int32_t ParseIntegerReply(std::string_view reply) {
  const std::int64_t value = ParseInteger(Trim(reply));
  if (value < INT32_MIN || value > INT32_MAX)
    throw std::runtime_error("Invalid reply: " + ShowForeign(reply));
  return static_cast<int32_t>(value);
}

}  // namespace ondrevo::ksv6140
