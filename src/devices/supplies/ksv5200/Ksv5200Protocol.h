// Command building and reply parsing of the family-A supplies, as pure functions, and their
// command sequences as data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondrevo::ksv5200 {

inline constexpr const char* kOpcQuery = ";*OPC?";
inline constexpr const char* kLanguage = ";SYST:LANG COMP";
inline constexpr const char* kErrorQuery = "ERR?";
inline constexpr const char* kClear = "*CLS";
inline constexpr const char* kModeQuery = "F?";
inline constexpr const char* kSettingsQuery = "*LRN?";
inline constexpr const char* kBurstQuery = "FB?";
inline constexpr const char* kAddressQuery = "FAF?";
inline constexpr const char* kStart[] = {"EX 1", "FS"};
inline constexpr const char* kPause[] = {"FP"};
inline constexpr const char* kStop[] = {"FP", "FCL"};
inline constexpr const char* kEndUpload = "FCL";

// One line of point memory: "FDS p,v,i,t;FDS q,..." (without ";*OPC?").
struct PointLine {
  std::string Text;
  int32_t First = 0;
  int32_t Last = 0;  // inclusive
};

// "FDS p,v,i,t": voltage and current with 3 decimals, the dwell time with 4.
std::string PointCommand(int32_t index, double voltage, double current, double dwell);

// Points from `start` on, as many as fit so that the line plus ";*OPC?" stays below
// maxCommandLength characters; always at least one point.
PointLine BuildPointLine(const std::vector<double>& dwell, const std::vector<double>& voltage,
                         const std::vector<double>& current, int32_t start,
                         int32_t maxCommandLength);

// Set value: fixed, 3 decimals, at most 5 significant digits.
std::string FormatSetValue(double value);

// What Disconnect sends back: the *LRN? reply without any "F <mode>;" (any case), switched
// through mode 3 first and back to `mode` last.
std::string SavedSettings(std::string_view learned, std::string_view mode);

// Whole number reply (blanks around allowed); raises on anything else.
int32_t ParseIntegerReply(std::string_view reply);

}  // namespace ondrevo::ksv5200
