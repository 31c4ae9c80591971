// Reading and writing .ovx documents.
#pragma once

#include <string>
#include <string_view>

#include "document/SegmentTable.h"

namespace ondrevo {

// The namespace of the format; only its path is fixed.
inline constexpr const char* kOvxNamespace = "http://ondrevo.kestravo.com/schemas/2015/ovx";

// A document that could not be read or written. For XML and conversion errors Line and Column
// (1-based) say where; both are 0 otherwise.
class EDocumentError : public std::runtime_error {
 public:
  EDocumentError(const std::string& file, const std::string& detail, long line = 0,
                 long column = 0);
  const std::string& File() const { return file_; }
  const std::string& Detail() const { return detail_; }
  long Line() const { return line_; }
  long Column() const { return column_; }

 private:
  std::string file_, detail_;
  long line_, column_;
};

// True when the number is written in every format of the file so that it reads back (values
// next to the largest double would be rounded beyond it).
bool IsStorableNumber(double value);

// The whole file as the writer produces it (CR LF lines, ISO-8859-1 declaration). Raises
// EDocumentError (without a file name) for a curve the reader would refuse: a time going
// backwards, or a number that would not read back.
std::string FormatDocument(const SegmentTable& voltage, const SegmentTable& current);

// Writes atomically (temp file in the same folder, fsync, rename): a failed write leaves the old
// file as it was. Raises EDocumentError.
void WriteDocument(const std::string& path, const SegmentTable& voltage,
                   const SegmentTable& current);

// Resets both tables and reads the document into them. On failure raises EDocumentError naming
// `sourceName` (and line and column where the XML or a number is at fault); the rows read before
// the error stay in the tables.
void ReadDocumentText(std::string_view data, const std::string& sourceName, SegmentTable& voltage,
                      SegmentTable& current);
void ReadDocumentFile(const std::string& path, SegmentTable& voltage, SegmentTable& current);

// True when the file exists and cannot be written by this user.
bool IsReadOnlyFile(const std::string& path);

// Largest document file the reader accepts, in bytes.
inline constexpr std::size_t kMaxDocumentBytes = 256u * 1024u * 1024u;

}  // namespace ondrevo
