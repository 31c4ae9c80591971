// The record of what a simulated supply delivered: only changes are kept, per channel, and the
// CSV form reads back to the same numbers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "document/Numbers.h"
#include "sim/Output.h"

namespace ondrevo::sim {
namespace {

TEST(OutputRecord, KeepsChangesPerChannelAndTellsTheListener) {
  TOutputRecord record;
  std::vector<double> heard;
  record.SetListener([&](const TOutputChange& c) { heard.push_back(c.Time); });
  record.Note(0.0, 0, {0, 0, false});  // the first note of a channel is kept even when all zero
  record.Note(0.5, 0, {0, 0, false});
  record.Note(1.0, 0, {5, 1, true});
  record.Note(1.0, 1, {5, 1, true});  // the other channel has its own last state
  record.Note(2.0, 0, {5, 1, true});
  record.Note(3.0, 0, {5, 1, false});
  const auto changes = record.Changes();
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(heard, (std::vector<double>{0.0, 1.0, 1.0, 3.0}));
  EXPECT_EQ(changes[2].Channel, 1);
  EXPECT_EQ(record.Last(0), (TOutputState{5, 1, false}));
  EXPECT_EQ(record.Last(7), TOutputState{});
  record.Clear();
  record.Note(4.0, 0, {5, 1, false});  // after Clear the same state is a first note again
  EXPECT_EQ(record.Changes().size(), 1u);
}

TEST(OutputCsvWriter, WritesOneFlushedLinePerChangeThatReadsBack) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("ondrevo-record-" + std::to_string(::getpid()) + ".csv");
  const TOutputChange change{0.1 + 0.2, 1, {13.5, 1e-7, true}};
  {
    TOutputCsvWriter writer(path.string());
    writer.Write(change);
    // Flushed before the writer goes: a killed recorder keeps its lines.
    std::ifstream partial(path);
    std::stringstream text;
    text << partial.rdbuf();
    EXPECT_EQ(text.str(),
              TOutputCsvWriter::Header() + "\n" + TOutputCsvWriter::Line(change) + "\n");
  }
  std::ifstream in(path);
  std::string header, line;
  std::getline(in, header);
  std::getline(in, line);
  EXPECT_EQ(header, "time_s,channel,voltage_V,current_limit_A,output");
  std::vector<std::string> fields;
  std::stringstream split(line);
  for (std::string f; std::getline(split, f, ',');) fields.push_back(f);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(ParseNumber(fields[0]), 0.1 + 0.2);
  EXPECT_EQ(fields[1], "1");
  EXPECT_EQ(ParseNumber(fields[2]), 13.5);
  EXPECT_EQ(ParseNumber(fields[3]), 1e-7);
  EXPECT_EQ(fields[4], "1");
  std::filesystem::remove(path);
  EXPECT_THROW(TOutputCsvWriter("/nonexistent-dir/x.csv"), std::runtime_error);
}

}  // namespace
}  // namespace ondrevo::sim
