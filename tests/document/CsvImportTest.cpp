#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "document/CsvImport.h"

using namespace ondrevo;
using Points = std::vector<std::pair<double, double>>;

namespace {

const char* kOneChannel = "x-axis,1\nsecond,Volt\n0.0,1.5\n0.5,2.5\n1.0,-0.2\n";

Points Staircase(const std::string& text, bool offset, std::int32_t budget = 1000) {
  return MakeCsvStaircase(ReadCsvText(text), offset, budget).Points;
}

}  // namespace

TEST(CsvLayoutTest, HeadersDecideTheLayout) {
  EXPECT_EQ(ReadCsvText(kOneChannel).Layout, CsvLayout::AOneChannel);
  EXPECT_EQ(ReadCsvText("x-axis,1,2\nsecond,Volt,Volt\n0,1,2\n").Layout, CsvLayout::ATwoChannels);
  EXPECT_EQ(ReadCsvText("Model,X\nFirmware,1.0\n0,1\n").Layout, CsvLayout::B);
  // The "Firmware" line may be the first one.
  EXPECT_EQ(ReadCsvText("Firmware 2\n0,1\n").Samples.size(), 1u);

  // Not imported: layout A without its unit line, layout B without "Firmware", an empty file.
  for (const char* text : {"x-axis,1\nsecond,Ampere\n0,1\n", "x-axis,1\n", "Model,X\n0,1\n1,2\n",
                           "", "x-axis,1\n0,1\nFirmware\n0,1\n"}) {
    const CsvTrace t = ReadCsvText(text);
    EXPECT_EQ(t.Layout, CsvLayout::Unknown) << text;
    EXPECT_TRUE(t.Samples.empty()) << text;
  }
}

TEST(CsvStaircaseTest, OneChannelExampleWithAndWithoutOffset) {
  EXPECT_EQ(Staircase(kOneChannel, false),
            (Points{{0, 0}, {0, 0}, {0, 1.5}, {0.5, 1.5}, {0.5, 2.5}, {1, 2.5}, {1, 0}}));

  const CsvStaircase raised = MakeCsvStaircase(ReadCsvText(kOneChannel), true, 1000);
  EXPECT_DOUBLE_EQ(raised.Offset, -0.2);
  const Points expected{{0, 0}, {0, 0}, {0, 1.7}, {0.5, 1.7}, {0.5, 2.7}, {1, 2.7}, {1, 0}};
  ASSERT_EQ(raised.Points.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_DOUBLE_EQ(raised.Points[i].first, expected[i].first) << i;
    EXPECT_NEAR(raised.Points[i].second, expected[i].second, 1e-12) << i;
  }

  // All values above 100: offset mode lowers them by 100, not to 0.
  const Points high = Staircase("x-axis,1\nsecond,Volt\n0,150\n1,120\n", true);
  EXPECT_EQ(high.back(), (std::pair<double, double>{1, 20}));
  EXPECT_EQ(high[2], (std::pair<double, double>{0, 50}));
}

TEST(CsvStaircaseTest, TimesAreShiftedToStartAtZero) {
  const Points p = Staircase("Firmware\n-2,1\n-1.5,2\n3e0,4\n", false);
  EXPECT_EQ(p, (Points{{0, 0}, {0, 0}, {0, 1}, {0.5, 1}, {0.5, 2}, {5, 2}, {5, 4}}));
}

TEST(CsvStaircaseTest, DecimationTakesAboutTheBudget) {
  std::string text = "x-axis,1\nsecond,Volt\n";
  for (int i = 0; i < 5000; ++i) text += std::to_string(i) + ".0," + std::to_string(i % 7) + "\n";
  const CsvTrace trace = ReadCsvText(text);
  ASSERT_EQ(trace.Samples.size(), 5000u);
  const CsvStaircase s = MakeCsvStaircase(trace, false, 1000);
  EXPECT_EQ(s.Step, 5);
  EXPECT_EQ(s.Points.size(), 2001u);
  EXPECT_EQ(s.Points.back(), (std::pair<double, double>{4995, 4995 % 7}));

  EXPECT_EQ(CsvDecimationStep(1, 1000), 1);
  EXPECT_EQ(CsvDecimationStep(1000, 1000), 1);  // 999/1000 + 0.5 rounds to 1
  EXPECT_EQ(CsvDecimationStep(1001, 1000), 2);  // exactly 1.5: the even neighbour
  EXPECT_EQ(CsvDecimationStep(3001, 1000), 4);  // exactly 3.5
  EXPECT_EQ(CsvDecimationStep(2001, 1000), 2);  // exactly 2.5: down to the even neighbour
  EXPECT_EQ(CsvDecimationStep(4001, 1000), 4);  // exactly 4.5
  // A budget beyond what a table holds: the staircase still fits it.
  const std::int64_t k = CsvDecimationStep(100000, 100000);
  EXPECT_LE(2 * ((100000 - 1) / k + 1) + 1, SegmentTable::kCapacity);
  EXPECT_EQ(CsvDecimationStep(29999, 100000), 1);
}

TEST(CsvStaircaseTest, RowsGoIntoTheTable) {
  SegmentTable t;
  t[3].Sup1.Kind = SuperpositionKind::Sine;  // left over from an earlier curve
  StoreCsvStaircase(MakeCsvStaircase(ReadCsvText(kOneChannel), false, 1000), t);
  EXPECT_EQ(t.LastPointIndex(), 6);
  EXPECT_EQ(t[3].Sup1.Kind, SuperpositionKind::None);
  EXPECT_EQ(t[6].Time, 1.0);
  EXPECT_EQ(t[4].Value, 2.5);
}

TEST(CsvRecordTest, MalformedRecordsAreSkippedAndCounted) {
  const CsvTrace t = ReadCsvText(
      "x-axis,1\nsecond,Volt\n"
      "0,1\n"         // 3
      "0.1,abc\n"     // 4: not a number
      "0.2\n"         // 5: no value
      "0.3,1,5\n"     // 6: one channel has no third field
      "0.4,nan\n"     // 7: non-finite
      "0.5,1e999\n"   // 8: out of range
      "-0.1,2\n"      // 9: earlier than the record before
      "0.6,3,\n"      // 10: trailing comma is dropped
      ",,0.7, 4 \n"   // 11: leading empty fields passed over
      "0,5 1,6\n"     // 12: two numbers in one field
      "0.8,1.0e+1\n"  // 13
      ",,,\n"         // empty fields only: not a record
      "\n");          // final empty line: normal
  std::vector<double> times, values;
  for (const CsvSample& s : t.Samples) {
    times.push_back(s.Time);
    values.push_back(s.Value);
  }
  EXPECT_EQ(times, (std::vector<double>{0, 0.6, 0.7, 0.8}));
  EXPECT_EQ(values, (std::vector<double>{1, 3, 4, 10}));
  EXPECT_EQ(t.SkippedRecords, 7);
  EXPECT_EQ(t.FirstSkippedLine, 4);
}

TEST(CsvRecordTest, LineEndingsChannelsAndLocale) {
  // CRLF lines and no final line feed.
  const CsvTrace crlf = ReadCsvText("x-axis,1\r\nsecond,Volt\r\n0,1.5\r\n1,2.5");
  ASSERT_EQ(crlf.Samples.size(), 2u);
  EXPECT_EQ(crlf.Samples[1].Value, 2.5);
  EXPECT_EQ(crlf.SkippedRecords, 0);

  // Two channels: the first value is the curve; a bad second value does not cost the sample.
  const CsvTrace two = ReadCsvText("x-axis,1,2\r\nsecond,Volt,Volt\r\n0,1,9\r\n1,2,x\r\n2,3\r\n");
  ASSERT_EQ(two.Samples.size(), 3u);
  EXPECT_EQ(two.Samples[0].Value, 1);
  EXPECT_EQ(two.Samples[0].Value2, 9);
  EXPECT_EQ(two.Samples[1].Value, 2);
  EXPECT_EQ(two.Samples[2].Value, 3);

  // A comma locale must not change what "." means.
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    EXPECT_EQ(ReadCsvText("Firmware\n0.5,2.25\n").Samples.at(0).Value, 2.25);
    std::setlocale(LC_ALL, saved.c_str());
  }
}

TEST(CsvRecordTest, TraceWithoutSamplesAndHugeRange) {
  EXPECT_THROW(MakeCsvStaircase(ReadCsvText("Firmware\n\n"), false, 1000), std::invalid_argument);
  // Each value is finite, but the offset would make one infinite.
  const CsvTrace t = ReadCsvText("Firmware\n0,-1.7e308\n1,1.7e308\n");
  ASSERT_EQ(t.Samples.size(), 2u);
  EXPECT_THROW(MakeCsvStaircase(t, true, 1000), ECsvError);
  EXPECT_NO_THROW(MakeCsvStaircase(t, false, 1000));
  EXPECT_THROW(ReadCsvFile("/nonexistent/trace.csv"), ECsvError);
}

TEST(CsvRecordTest, NumbersThatWouldNotReadBackAreRefused) {
  // Written as 1.797693135E308, which no longer reads as a number.
  try {
    MakeCsvStaircase(ReadCsvText("Firmware\n0,1\n1,1.7976931348623157e308\n"), false, 1000);
    FAIL() << "imported";
  } catch (const ECsvError& e) {
    EXPECT_STREQ(e.what(), "The number cannot be stored in a document: 1.7976931348623157e+308");
  }
  EXPECT_THROW(
      MakeCsvStaircase(ReadCsvText("Firmware\n0,1\n1.7976931348623157e308,1\n"), false, 1000),
      ECsvError);
  EXPECT_NO_THROW(MakeCsvStaircase(ReadCsvText("Firmware\n0,1\n1,1.797693134e308\n"), false, 1000));
}

TEST(CsvRecordTest, LinesAndTracesAreBounded) {
  // A line just at the bound is read; one byte more is refused with its line number, from a
  // stream and from text alike.
  const std::string atBound = "Firmware\n0," + std::string(kMaxCsvLineBytes - 2, '1') + "\n";
  std::istringstream ok(atBound);
  EXPECT_EQ(ReadCsvStream(ok).SkippedRecords, 1);
  const std::string over = "Firmware\n0," + std::string(kMaxCsvLineBytes - 1, '1') + "\n";
  std::istringstream bad(over);
  try {
    ReadCsvStream(bad);
    FAIL() << "read";
  } catch (const ECsvError& e) {
    EXPECT_STREQ(e.what(), "Line 2 of the trace is longer than 1 MiB.");
  }
  EXPECT_THROW(ReadCsvText(over), ECsvError);
  EXPECT_NO_THROW(ReadCsvText(atBound));
  // Lines split across the pieces the stream is read in are put together again.
  std::string many = "Firmware\n";
  for (int i = 0; i < 20000; ++i) many += std::to_string(i) + ",1.25\r\n";
  std::istringstream in(many);
  const CsvTrace t = ReadCsvStream(in);
  ASSERT_EQ(t.Samples.size(), 20000u);
  EXPECT_EQ(t.Samples.back().Time, 19999);
  EXPECT_EQ(t.SkippedRecords, 0);
}

TEST(CsvRecordTest, EveryLineEndEndsALine) {
  const std::string lf = "x-axis,1\nsecond,Volt\n0,1.5\n1,2.5\n";
  for (const std::string& text : {lf, std::string("x-axis,1\rsecond,Volt\r0,1.5\r1,2.5\r"),
                                  std::string("x-axis,1\r\nsecond,Volt\r0,1.5\n1,2.5")}) {
    const CsvTrace t = ReadCsvText(text);
    EXPECT_EQ(t.Layout, CsvLayout::AOneChannel);
    ASSERT_EQ(t.Samples.size(), 2u);
    EXPECT_EQ(t.Samples[1].Value, 2.5);
    EXPECT_EQ(t.SkippedRecords, 0);
  }
  // A CR LF split between the pieces of a stream is one line end, not two.
  std::string many = "Firmware\r";
  for (int i = 0; i < 20000; ++i) many += std::to_string(i) + ",x\r\n";
  std::istringstream in(many);
  const CsvTrace t = ReadCsvStream(in);
  EXPECT_EQ(t.SkippedRecords, 20000);
  EXPECT_EQ(t.FirstSkippedLine, 2);
}

TEST(CsvRecordTest, ATraceWithoutDataSaysWhy) {
  EXPECT_EQ(DescribeTraceWithoutData(ReadCsvText("Firmware\n\n")), "The trace holds no data.");
  const std::string semicolons = DescribeTraceWithoutData(ReadCsvText("Firmware\n0;1\n1;2\n"));
  EXPECT_EQ(semicolons,
            "The trace holds no data: 2 records were skipped (not numbers separated by commas, or "
            "going back in time), the first on line 2: \"0;1\" The fields must be separated by "
            "commas.");
  const std::string tabs = DescribeTraceWithoutData(ReadCsvText("Firmware\n0\t1\n"));
  EXPECT_NE(tabs.find("\"0\\t1\""), std::string::npos) << tabs;
  EXPECT_NE(tabs.find("separated by commas."), std::string::npos) << tabs;
  // A hostile record is quoted short and clean.
  const std::string hostile =
      DescribeTraceWithoutData(ReadCsvText("Firmware\n\x1b[31m" + std::string(100000, 'y') + "\n"));
  EXPECT_LT(hostile.size(), 300u);
  EXPECT_EQ(hostile.find('\x1b'), std::string::npos);
}

TEST(CsvRecordTest, FilesAreReadOnlyWhenRegularAndWithinBounds) {
  const std::string dir = ::testing::TempDir() + "csv-files-" + std::to_string(::getpid());
  ::mkdir(dir.c_str(), 0700);
  const std::string fifo = dir + "/fifo.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  try {
    ReadCsvFile(fifo);  // would block for ever without a writer
    FAIL() << "read a FIFO";
  } catch (const ECsvError& e) {
    EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
  }
  const std::string big = dir + "/big.csv";
  {
    FILE* f = std::fopen(big.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(kMaxCsvBytes) + 1), 0);  // sparse
  try {
    ReadCsvFile(big);
    FAIL() << "read an oversized file";
  } catch (const ECsvError& e) {
    EXPECT_NE(std::string(e.what()).find("larger than 256 MiB"), std::string::npos) << e.what();
  }
  ::unlink(fifo.c_str());
  ::unlink(big.c_str());
  ::rmdir(dir.c_str());
}
