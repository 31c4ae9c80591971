#include "document/CsvImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "document/DocumentIO.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {

bool Contains(std::string_view line, std::string_view what) {
  return line.find(what) != std::string_view::npos;
}

bool IsBlank(std::string_view s) {
  return s.find_first_not_of(" \t") == std::string_view::npos;
}

// Empty fields between records' commas carry nothing: a line of them is no record.
bool IsEmptyRecord(std::string_view s) {
  return s.find_first_not_of(" \t,") == std::string_view::npos;
}

}  // namespace

void TCsvTraceReader::AddLine(std::string_view line) {
  ++lineNo_;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (headerDone_) {
    AddRecord(line);
    return;
  }
  if (rejected_) return;
  if (lineNo_ == 1) {
    if (Contains(line, "x-axis")) {
      layoutA_ = true;
      pending_ = Contains(line, "1,2") ? CsvLayout::ATwoChannels : CsvLayout::AOneChannel;
      return;
    }
    pending_ = CsvLayout::B;
  }
  if (layoutA_) {
    // Layout A names its units on the second line; anything else is not a trace we know.
    if (Contains(line, "second,Volt")) {
      headerDone_ = true;
      trace_.Layout = pending_;
    } else {
      rejected_ = true;
    }
    return;
  }
  if (Contains(line, "Firmware")) {
    headerDone_ = true;
    trace_.Layout = CsvLayout::B;
  }
}

void TCsvTraceReader::Skip(std::string_view line) {
  ++trace_.SkippedRecords;
  if (trace_.FirstSkippedLine == 0) {
    trace_.FirstSkippedLine = lineNo_;
    trace_.FirstSkippedRecord = std::string(line.substr(0, kForeignTextLimit + 1));
  }
}

void TCsvTraceReader::AddRecord(std::string_view line) {
  if (IsEmptyRecord(line)) return;
  // Leading empty fields are passed over; the time is the first field with text.
  std::size_t pos = 0;
  for (;;) {
    const std::size_t comma = line.find(',', pos);
    if (comma == std::string_view::npos || !IsBlank(line.substr(pos, comma - pos))) break;
    pos = comma + 1;
  }
  const std::size_t timeEnd = line.find(',', pos);
  if (timeEnd == std::string_view::npos) {
    Skip(line);
    return;
  }
  const std::string_view timeText = line.substr(pos, timeEnd - pos);
  std::string_view rest = line.substr(timeEnd + 1);
  std::string_view valueText = rest;
  std::string_view secondText;
  if (trace_.Layout == CsvLayout::ATwoChannels) {
    const std::size_t comma = rest.find(',');
    if (comma != std::string_view::npos) {
      valueText = rest.substr(0, comma);
      secondText = rest.substr(comma + 1);
    }
  }
  if (!valueText.empty() && valueText.back() == ',') valueText.remove_suffix(1);
  if (!secondText.empty() && secondText.back() == ',') secondText.remove_suffix(1);

  CsvSample s;
  if (!TryParseNumber(timeText, s.Time) || !TryParseNumber(valueText, s.Value)) {
    Skip(line);
    return;
  }
  if (trace_.Samples.size() >= kMaxCsvSamples) {
    throw ECsvError(std::string(_("The trace has too many samples; the most a trace may hold is")) +
                    " " + std::to_string(kMaxCsvSamples) + ".");
  }
  // The second channel is never used: a gap in it does not cost the first channel a sample.
  if (!TryParseNumber(secondText, s.Value2)) s.Value2 = 0.0;
  if (!trace_.Samples.empty()) {
    const double first = trace_.Samples.front().Time;
    if (s.Time < trace_.Samples.back().Time || !std::isfinite(s.Time - first)) {
      Skip(line);
      return;
    }
  }
  trace_.Samples.push_back(s);
}

CsvTrace TCsvTraceReader::Finish() && {
  if (!headerDone_) {
    CsvTrace none;
    return none;
  }
  return std::move(trace_);
}

namespace {

[[noreturn]] void LineTooLong(std::int64_t line) {
  std::string message = _("Line %s of the trace is longer than 1 MiB.");
  const auto at = message.find("%s");
  if (at != std::string::npos) message.replace(at, 2, std::to_string(line));
  throw ECsvError(message);
}

[[noreturn]] void TooLarge() {
  throw ECsvError(_("The trace is larger than 256 MiB."));
}

}  // namespace

namespace {

// Splits pieces of a trace into lines for the reader. LF, CR LF and a lone CR (old Mac files) all
// end a line; a line never grows beyond the bound.
class TLineSplitter {
 public:
  explicit TLineSplitter(TCsvTraceReader& reader) : reader_(reader) {}

  void Add(std::string_view piece) {
    total_ += piece.size();
    if (total_ > kMaxCsvBytes) TooLarge();
    if (afterCR_ && !piece.empty() && piece.front() == '\n') piece.remove_prefix(1);
    afterCR_ = false;
    for (;;) {
      const std::size_t end = piece.find_first_of("\r\n");
      if (end == std::string_view::npos) {
        if (pending_.size() + piece.size() > kMaxCsvLineBytes) LineTooLong(line_);
        pending_.append(piece);
        return;
      }
      if (pending_.size() + end > kMaxCsvLineBytes) LineTooLong(line_);
      if (pending_.empty()) {
        reader_.AddLine(piece.substr(0, end));
      } else {
        pending_.append(piece.substr(0, end));
        reader_.AddLine(pending_);
        pending_.clear();
      }
      ++line_;
      const bool cr = piece[end] == '\r';
      piece.remove_prefix(end + 1);
      if (cr) {
        if (piece.empty()) {
          afterCR_ = true;  // the LF may start the next piece
          return;
        }
        if (piece.front() == '\n') piece.remove_prefix(1);
      }
    }
  }

  void Finish() {
    if (!pending_.empty()) reader_.AddLine(pending_);
    pending_.clear();
  }

 private:
  TCsvTraceReader& reader_;
  std::string pending_;  // the line read so far
  std::uint64_t total_ = 0;
  std::int64_t line_ = 1;
  bool afterCR_ = false;
};

}  // namespace

CsvTrace ReadCsvText(std::string_view text) {
  if (text.size() > kMaxCsvBytes) TooLarge();
  TCsvTraceReader reader;
  TLineSplitter lines(reader);
  lines.Add(text);
  lines.Finish();
  return std::move(reader).Finish();
}

CsvTrace ReadCsvStream(std::istream& in) {
  TCsvTraceReader reader;
  TLineSplitter lines(reader);
  std::vector<char> chunk(64 * 1024);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    lines.Add(std::string_view(chunk.data(), got));
  }
  lines.Finish();
  return std::move(reader).Finish();
}

CsvTrace ReadCsvFile(const std::string& path, bool streams) {
  const std::string shown = EscapeControls(path);
  // Without blocking: a FIFO or a device in place of the file must not hang the import.
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (streams ? 0 : O_NONBLOCK));
  if (fd < 0) throw ECsvError(shown + ": " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw ECsvError(shown + ": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw ECsvError(shown + ": " + std::strerror(EISDIR));
  if (!S_ISREG(st.st_mode) && !streams)
    throw ECsvError(shown + ": " + _("The file cannot be read: it is not a regular file."));
  TCsvTraceReader reader;
  TLineSplitter lines(reader);
  try {
    if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > kMaxCsvBytes) TooLarge();
    std::vector<char> chunk(64 * 1024);
    for (;;) {
      const ssize_t got = ::read(fd, chunk.data(), chunk.size());
      if (got < 0) {
        if (errno == EINTR) continue;
        throw ECsvError(std::strerror(errno));
      }
      if (got == 0) break;
      lines.Add(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    }
    lines.Finish();
  } catch (const ECsvError& e) {
    throw ECsvError(shown + ": " + e.what());
  }
  return std::move(reader).Finish();
}

std::string DescribeTraceWithoutData(const CsvTrace& trace) {
  if (trace.SkippedRecords == 0) return _("The trace holds no data.");
  std::string message =
      _("The trace holds no data: %1 records were skipped (not numbers separated by commas, or "
        "going back in time), the first on line %2:");
  message.replace(message.find("%1"), 2, std::to_string(trace.SkippedRecords));
  message.replace(message.find("%2"), 2, std::to_string(trace.FirstSkippedLine));
  message += " \"" + ShowForeign(trace.FirstSkippedRecord) + "\"";
  const std::string_view first = trace.FirstSkippedRecord;
  if (first.find(',') == std::string_view::npos &&
      first.find_first_of(";\t") != std::string_view::npos)
    message += std::string(" ") + _("The fields must be separated by commas.");
  return message;
}

std::int64_t CsvDecimationStep(std::int64_t samples, std::int32_t budget) {
  if (samples < 1) return 1;
  const double p = budget < 1 ? 1.0 : static_cast<double>(budget);
  auto k = static_cast<std::int64_t>(RoundHalfEven(static_cast<double>(samples - 1) / p + 0.5));
  k = std::max<std::int64_t>(k, 1);
  // Each taken sample costs two rows, the start one more: a large budget could overflow the table.
  constexpr std::int64_t maxTaken = (SegmentTable::kCapacity - 1) / 2;
  return std::max(k, (samples - 1) / maxTaken + 1);
}

CsvStaircase MakeCsvStaircase(const CsvTrace& trace, bool offsetMode, std::int32_t budget) {
  const auto& s = trace.Samples;
  if (s.empty()) throw std::invalid_argument("a trace without samples");
  const auto n = static_cast<std::int64_t>(s.size());
  CsvStaircase out;
  if (offsetMode) {
    double m = 100.0;
    for (const CsvSample& x : s) m = std::min(m, x.Value);
    out.Offset = m;
  }
  auto value = [&](const CsvSample& x) {
    if (offsetMode) return x.Value - out.Offset;
    return x.Value > 0 ? x.Value : 0.0;
  };
  out.Step = CsvDecimationStep(n, budget);
  out.Points.reserve(static_cast<std::size_t>(2 * ((n - 1) / out.Step + 1) + 1));
  out.Points.emplace_back(0.0, 0.0);
  double previous = 0.0;
  const double t0 = s.front().Time;
  for (std::int64_t j = 0; j < n; j += out.Step) {
    const CsvSample& x = s[static_cast<std::size_t>(j)];
    const double tau = x.Time - t0;
    const double v = value(x);
    if (!std::isfinite(tau) || !std::isfinite(v)) {
      throw ECsvError("the trace's values are out of range");
    }
    // What enters the document must come back when the document is opened again.
    if (!IsStorableNumber(tau) || !IsStorableNumber(v)) {
      throw ECsvError(std::string(_("The number cannot be stored in a document:")) + " " +
                      FormatShortest(IsStorableNumber(tau) ? v : tau));
    }
    out.Points.emplace_back(tau, previous);
    out.Points.emplace_back(tau, v);
    previous = v;
  }
  return out;
}

void StoreCsvStaircase(const CsvStaircase& staircase, SegmentTable& table) {
  const auto count = static_cast<std::int32_t>(staircase.Points.size());
  if (count < 1) {
    table.SetLastPointIndex(0);
    return;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    SegmentRow row;
    row.Time = staircase.Points[static_cast<std::size_t>(i)].first;
    row.Value = staircase.Points[static_cast<std::size_t>(i)].second;
    table[i] = row;
  }
  table.SetLastPointIndex(count - 1);
}

}  // namespace ondrevo
