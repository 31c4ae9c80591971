// Command building and reply parsing of the family-C supplies, as pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondrevo::ksv7340 {

// One chunk of list memory: the same points in all three list commands (without ";*OPC?").
struct ListChunk {
  std::string Voltage;  // LIST:VOLT s,v,v...
  std::string Current;  // LIST:CURR s,c,c...
  std::string Dwell;    // LIST:DWEL s,t,t...
  int32_t First = 0;
  int32_t Last = 0;  // inclusive
};

inline constexpr const char* kOpcQuery = ";*OPC?";

// Command sequences. Connect sends kConnectHead, reads the two maxima, selects the channel of a
// two-channel model, then sends kConnectTail and reads the error query.
inline constexpr const char* kConnectHead[] = {";*CLS", "SYST:LANG CIIL", "LIST:SEQ:STAT OFF"};
inline constexpr const char* kQueryMaxVoltage = "SOUR:VOLT? MAX";
inline constexpr const char* kQueryMaxCurrent = "SOUR:CURR? MAX";
inline constexpr const char* kConnectTail[] = {"LIST:SEQ:OPEN:MODE NORM", "LIST:SEQ:TERM FIRS",
                                               "LIST:SEQ:STAT ON", "LIST:SEQ:BLOC 0"};
inline constexpr const char* kErrorQuery = "SYST:ERR?";
inline constexpr const char* kPlay[] = {"OUTP ON", "TRIG:SOUR BUS", "INIT:CONT OFF", "INIT",
                                        "*TRG"};
inline constexpr const char* kPause[] = {"ABOR"};
inline constexpr const char* kStop[] = {"ABOR", "LIST:SEQ:CLE"};
inline constexpr const char* kRelease = "LIST:SEQ:STAT OFF";
inline constexpr const char* kPollSequence = "LIST:SEQ?";
inline constexpr const char* kPollCondition = "STAT:OPER:COND?";
inline constexpr int32_t kConditionRunning = 8;
inline constexpr int32_t kInitIgnored = -213;  // error code: INIT while initiated already

// Points from `start` on, as many as fit so that each line plus ";*OPC?" stays below
// maxCommandLength characters; always at least one point.
ListChunk BuildListChunk(const std::vector<double>& dwell, const std::vector<double>& voltage,
                         const std::vector<double>& current, int32_t start,
                         int32_t maxCommandLength);

// BuildListChunk in steps, so that the upload can build the next chunk while each of the three
// lines of the current one is with the instrument. The chunk is the same however it is split.
class TListChunkBuilder {
 public:
  TListChunkBuilder(const std::vector<double>& dwell, const std::vector<double>& voltage,
                    const std::vector<double>& current, int32_t start, int32_t maxCommandLength);
  // Tries up to `points` more points; false once the chunk is complete.
  bool Extend(int32_t points);
  // The chunk, completed first where it is not yet.
  ListChunk Take();

 private:
  const std::vector<double>& dwell_;
  const std::vector<double>& voltage_;
  const std::vector<double>& current_;
  std::size_t limit_ = 0;
  int32_t next_ = 0;
  bool complete_ = false;
  ListChunk chunk_;
};

// Number of a list point: fixed, 3 decimals, "." always.
std::string FormatListValue(double value);
// Set value: fixed, 3 decimals, at most 5 significant digits.
std::string FormatSetValue(double value);

// "LIST:BLOC 0,F,L,count" (count 0 is INF).
std::string BlockCommand(int32_t first, int32_t last, int32_t count);

// "LIST:SEQ?" reply: field 2 is the point playing, the text after the last comma the
// repetition. Raises std::runtime_error for fewer than three fields or non-numbers.
void ParseSequenceReply(std::string_view reply, int32_t& index, int32_t& repetition);

// Whole number reply (blanks around allowed); raises on anything else.
int32_t ParseIntegerReply(std::string_view reply);

// The count after the last comma of a "LIST:BLOC? 0" reply; "INF" is endless (0).
int32_t ParseBlockCount(std::string_view reply);

}  // namespace ondrevo::ksv7340
