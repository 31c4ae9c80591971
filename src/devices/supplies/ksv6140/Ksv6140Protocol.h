// Command building and reply parsing of the family-B supplies, as pure functions, and their
// command sequences as data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondrevo::ksv6140 {

inline constexpr const char* kOpcQuery = ";*OPC?";
inline constexpr const char* kLanguage = ";SYST:LANG COMP";
inline constexpr const char* kConditionQuery = "OCR?";
inline constexpr int32_t kConditionRunning = 16384;  // bit 14: a waveform runs
inline constexpr const char* kPrepare[] = {";*CLS", "SYST:LANG COMP"};
inline constexpr const char* kSequenceQuery = "FSEQ?";
inline constexpr const char* kSettingsQuery = "*LRN?";
inline constexpr const char* kLimitQueries[] = {"V? MAX", "V? MIN", "C? MAX", "C? MIN"};
inline constexpr const char* kErrorQuery = "ERR?";
inline constexpr const char* kStart[] = {"EX 1", "FS"};
inline constexpr const char* kPause[] = {"FP"};
inline constexpr const char* kStop[] = {"FP", "FCL"};
inline constexpr const char* kEndUpload = "FCL";
inline constexpr const char* kAddressQuery = "FADR?";
inline constexpr const char* kBurstQuery = "FREP?";

// The set-up line of Connect for the wired control inputs (0 voltage, 1 current).
const char* ModeLine(bool voltageInputWired, bool currentInputWired);

struct RegisterLine {
  std::string Text;  // "FREG v,i,t;FSTO p+1;FREG ..." without ";*OPC?"
  int32_t First = 0;
  int32_t Last = 0;  // inclusive, zero-based point index
};

// "FREG v,i,t;FSTO location": values with 3 decimals, dwell with 4; locations one-based.
std::string RegisterCommand(double voltage, double current, double dwell, int32_t location);

// Points from `start` on, as many as fit so that the line plus ";*OPC?" stays below
// maxCommandLength characters; always at least one point.
RegisterLine BuildRegisterLine(const std::vector<double>& dwell, const std::vector<double>& voltage,
                               const std::vector<double>& current, int32_t start,
                               int32_t maxCommandLength);

// "FAE n;FAF 1;FAL 1": the locations written become the played range.
std::string EndAddressLine(int32_t last);

// Set value: fixed, 3 decimals, at most 5 significant digits.
std::string FormatSetValue(double value);

// Whole number reply (blanks around allowed); raises on anything else.
int32_t ParseIntegerReply(std::string_view reply);

}  // namespace ondrevo::ksv6140
