// Traces exported by measuring instruments (a time column and one or two value columns) turned
// into a voltage curve: a staircase that holds each taken sample until the next one.
#pragma once

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "document/SegmentTable.h"

namespace ondrevo {

// A trace file that could not be read at all (missing, unreadable).
class ECsvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class CsvLayout {
  Unknown,       // not imported
  AOneChannel,   // "x-axis" header line, then "second,Volt": time, value
  ATwoChannels,  // "x-axis" and "1,2", then "second,Volt": time, value, second value
  B,             // a free header up to and including its "Firmware" line: time, value
};

struct CsvSample {
  double Time = 0.0;
  double Value = 0.0;
  double Value2 = 0.0;  // second channel, read but not used
};

struct CsvTrace {
  CsvLayout Layout = CsvLayout::Unknown;
  std::vector<CsvSample> Samples;  // in file order, times non-decreasing
  // Records left out: a field that is not a finite number, or a time earlier than the record
  // before it (a curve cannot go back in time). Blank lines are not counted.
  std::int64_t SkippedRecords = 0;
  std::int64_t FirstSkippedLine = 0;  // 1-based line number, 0 when none
  std::string FirstSkippedRecord;     // its start, as read (quote it through ShowForeign)
};

// Feeds a trace line by line (without its line end; a trailing carriage return is dropped).
class TCsvTraceReader {
 public:
  void AddLine(std::string_view line);
  // The trace read so far; Layout stays Unknown until the header is complete.
  CsvTrace Finish() &&;

 private:
  void AddRecord(std::string_view line);
  void Skip(std::string_view line);

  CsvTrace trace_;
  CsvLayout pending_ = CsvLayout::Unknown;
  std::int64_t lineNo_ = 0;
  bool headerDone_ = false;
  bool layoutA_ = false;
  bool rejected_ = false;
};

// Bounds of what is read, so that neither one endless line nor an endless input can take all
// memory: longer lines, larger inputs and more samples raise ECsvError.
inline constexpr std::size_t kMaxCsvLineBytes = 1u << 20;
inline constexpr std::uint64_t kMaxCsvBytes = 256u * 1024u * 1024u;
inline constexpr std::size_t kMaxCsvSamples = 5'000'000;

// Lines end with LF, CR LF or a lone CR.
CsvTrace ReadCsvText(std::string_view text);
// Reads in one pass, in pieces: memory stays within the bounds above.
CsvTrace ReadCsvStream(std::istream& in);
// Raises ECsvError naming the file when it cannot be opened or read, or is beyond the bounds (a
// larger regular file is refused before it is read). Unless `streams` (the command line, which
// reads pipes such as /dev/stdin), only a regular file is read, opened without blocking.
CsvTrace ReadCsvFile(const std::string& path, bool streams = false);

// Why a trace of a known layout has no samples, in one line: the records skipped and the first of
// them (cut and cleaned), and a hint when its fields are separated by ';' or tabs.
std::string DescribeTraceWithoutData(const CsvTrace& trace);

// k = round((n - 1) / budget + 0.5), halves to even, at least 1; raised further where the
// staircase (2 points per taken sample, plus one) would not fit the table.
std::int64_t CsvDecimationStep(std::int64_t samples, std::int32_t budget);

struct CsvStaircase {
  std::vector<std::pair<double, double>> Points;  // (time, value), starting (0, 0), (0, 0)
  std::int64_t Step = 1;                          // decimation step k
  double Offset = 0.0;  // m subtracted from every value in offset mode, else 0
};

// Offset mode lowers every value by m = min(100, lowest value); otherwise negative values
// become 0. Times are shifted so that the first sample is at 0. The trace must hold at least one
// sample (std::invalid_argument otherwise); a result that is not finite raises ECsvError.
CsvStaircase MakeCsvStaircase(const CsvTrace& trace, bool offsetMode, std::int32_t budget);

// The staircase as the rows of a table (no superpositions); last point index = points - 1.
void StoreCsvStaircase(const CsvStaircase& staircase, SegmentTable& table);

}  // namespace ondrevo
