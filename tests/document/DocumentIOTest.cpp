#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "document/AtomicFile.h"
#include "document/DocumentIO.h"

using namespace ondrevo;
namespace fs = std::filesystem;

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n"
    "<ondrevo version=\"1.0\" xmlns=\"http://ondrevo.kestravo.com/schemas/2015/ovx\">\r\n"
    "<arbdata>\r\n<waveform_list>\r\n";
const std::string kTail = "</waveform_list>\r\n</arbdata>\r\n</ondrevo>\r\n";

// Appends a point; the first call sets point 0.
void AddPoint(SegmentTable& t, double time, double value, bool first = false) {
  std::int32_t n = first ? 0 : t.LastPointIndex() + 1;
  t[n].Time = time;
  t[n].Value = value;
  t.SetLastPointIndex(n);
}

SuperpositionSpec Sine(double amp, double freq) {
  SuperpositionSpec s;
  s.Kind = SuperpositionKind::Sine;
  s.AmpStart = s.AmpEnd = amp;
  s.FreqStart = s.FreqEnd = freq;
  return s;
}

void Read(const std::string& body, SegmentTable& v, SegmentTable& c) {
  ReadDocumentText(kHead + body + kTail, "test.ovx", v, c);
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ondrevo-doc-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

}  // namespace

TEST(WriteDocument, TheNineLineExample) {
  SegmentTable v, c;
  AddPoint(v, 0, 0, true);
  AddPoint(v, 2, 10);
  AddPoint(v, 3, 10);
  v[1].Sup1 = Sine(1, 50);
  std::string expected = kHead +
                         "<waveform name=\"\" type=\"voltage\">\r\n"
                         "<segment duration=\"2.00000000\" start=\"0.0000\" end=\"10.0000\"/>\r\n"
                         "<segment duration=\"1.00000000\" start=\"10.0000\" end=\"10.0000\">\r\n"
                         "<sine>\r\n"
                         "<amplitude start=\"1.0000\" end=\"1.0000\"/>\r\n"
                         "<frequency start=\"50.0000\" end=\"50.0000\"/>\r\n"
                         "<phase value=\"0.0000\"/>\r\n"
                         "</sine>\r\n"
                         "</segment>\r\n"
                         "</waveform>\r\n" +
                         kTail;
  EXPECT_EQ(FormatDocument(v, c), expected);
}

TEST(WriteDocument, NumberFormatsPerQuantity) {
  SegmentTable v, c;
  AddPoint(v, 0, 1.5, true);
  AddPoint(v, 0.1, 2.25);
  AddPoint(c, 0, 1.5, true);
  AddPoint(c, 0.1, 2.25);
  SuperpositionSpec sq;
  sq.Kind = SuperpositionKind::Square;
  sq.AmpStart = 0.5;
  sq.AmpEnd = 2;
  sq.FreqStart = 1000;
  sq.FreqEnd = 0.25;
  sq.DutyCycle = 25;
  sq.Phase = 90;
  c[0].Sup1 = sq;
  std::string text = FormatDocument(v, c);
  EXPECT_NE(text.find("<segment duration=\"0.10000000\" start=\"1.5000\" end=\"2.2500\"/>\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("<segment duration=\"0.1\" start=\"1.5\" end=\"2.25\">\r\n<square>\r\n"
                      "<amplitude start=\"0.5000\" end=\"2.0000\"/>\r\n"
                      "<frequency start=\"1000.0000\" end=\"0.2500\"/>\r\n"
                      "<phase value=\"90.0000\"/>\r\n"
                      "<dutycycle value=\"0.2500\"/>\r\n</square>\r\n</segment>\r\n"),
            std::string::npos);
  // Voltage before current whatever was filled first.
  EXPECT_LT(text.find("type=\"voltage\""), text.find("type=\"current\""));
}

TEST(WriteDocument, EmptyCurvesAreLeftOut) {
  SegmentTable v, c;
  EXPECT_EQ(FormatDocument(v, c), kHead + kTail);
  AddPoint(c, 0, 1, true);
  AddPoint(c, 1, 1);
  std::string onlyCurrent = FormatDocument(v, c);
  EXPECT_EQ(onlyCurrent.find("type=\"voltage\""), std::string::npos);
  EXPECT_NE(onlyCurrent.find("type=\"current\""), std::string::npos);
  // A single point is not a segment.
  AddPoint(v, 0, 5, true);
  EXPECT_EQ(FormatDocument(v, c), onlyCurrent);
}

TEST(WriteDocument, SecondSuperpositionWithoutAFirstIsNotWritten) {
  SegmentTable v, c;
  AddPoint(v, 0, 0, true);
  AddPoint(v, 1, 1);
  v[0].Sup2 = Sine(2, 3);
  std::string text = FormatDocument(v, c);
  EXPECT_NE(text.find("end=\"1.0000\"/>\r\n</waveform>"), std::string::npos);
  EXPECT_EQ(text.find("<sine>"), std::string::npos);
  SegmentTable v2, c2;
  ReadDocumentText(text, "x", v2, c2);
  EXPECT_EQ(v2[0].Sup1.Kind, SuperpositionKind::None);
}

TEST(ReadDocument, ReadsWhatTheWriterWrote) {
  SegmentTable v, c;
  Read(
      "<waveform name=\"\" type=\"voltage\">\r\n"
      "<segment duration=\"2.00000000\" start=\"0.0000\" end=\"10.0000\"/>\r\n"
      "<segment duration=\"1.00000000\" start=\"10.0000\" end=\"10.0000\">\r\n"
      "<sine>\r\n<amplitude start=\"1.0000\" end=\"1.5000\"/>\r\n"
      "<frequency start=\"50.0000\" end=\"60.0000\"/>\r\n<phase value=\"90.0000\"/>\r\n</sine>\r\n"
      "<square>\r\n<amplitude start=\"2\" end=\"3\"/>\r\n<frequency start=\"5\" end=\"6\"/>\r\n"
      "<phase value=\"0\"/>\r\n<dutycycle value=\"0.333\"/>\r\n</square>\r\n"
      "</segment>\r\n</waveform>\r\n",
      v, c);
  ASSERT_EQ(v.LastPointIndex(), 2);
  EXPECT_EQ(c.LastPointIndex(), 0);
  EXPECT_EQ(v[1].Time, 2);
  EXPECT_EQ(v[2].Time, 3);
  EXPECT_EQ(v[1].Value, 10);
  EXPECT_EQ(v[1].Sup1.Kind, SuperpositionKind::Sine);
  EXPECT_EQ(v[1].Sup1.AmpEnd, 1.5);
  EXPECT_EQ(v[1].Sup1.FreqEnd, 60);
  EXPECT_EQ(v[1].Sup1.Phase, 90);
  EXPECT_EQ(v[1].Sup2.Kind, SuperpositionKind::Square);
  EXPECT_EQ(v[1].Sup2.DutyCycle, 33);
  EXPECT_EQ(v[1].Sup2.FreqStart, 5);
  EXPECT_EQ(v[0].Sup1.Kind, SuperpositionKind::None);
}

TEST(ReadDocument, OrderOfCurvesAndTypeSpelling) {
  const std::string voltage =
      "<waveform type=\"voltage\"><segment duration=\"1\" start=\"1\" end=\"2\"/></waveform>";
  const std::string current =
      "<waveform type=\"current\"><segment duration=\"3\" start=\"4\" end=\"5\"/></waveform>";
  SegmentTable v1, c1, v2, c2;
  Read(voltage + current, v1, c1);
  Read(current + voltage, v2, c2);
  EXPECT_TRUE(v1.SameCurve(v2));
  EXPECT_TRUE(c1.SameCurve(c2));
  EXPECT_EQ(v1.LastPointIndex(), 1);

  SegmentTable v3, c3;
  Read(
      "<waveform type=\"Voltage\"><segment duration=\"0\" start=\"1\" end=\"2\"/></waveform>"
      "<waveform><segment duration=\"1\" start=\"7\" end=\"8\"/></waveform>",
      v3, c3);
  EXPECT_EQ(v3.LastPointIndex(), 0);
  EXPECT_EQ(c3.LastPointIndex(), 2);
}

TEST(ReadDocument, SharedPointsAppendedWaveformsAndRounding) {
  SegmentTable v, c;
  Read(
      "<waveform type=\"voltage\">"
      "<segment duration=\"1\" start=\"0\" end=\"5\"/>"
      "<segment duration=\"1\" start=\"6\" end=\"7\">"
      "<sine><phase value=\"12.5\"/></sine>"
      "<triangle><phase value=\"13.5\"/></triangle>"
      "<saw><phase value=\"-0.5\"/><dutycycle value=\"0.125\"/></saw>"
      "</segment></waveform>",
      v, c);
  ASSERT_EQ(v.LastPointIndex(), 2);
  EXPECT_EQ(v[1].Value, 6);  // the next start overwrites the previous end
  EXPECT_EQ(v[1].Sup1.Phase, 12);
  EXPECT_EQ(v[1].Sup1.Kind, SuperpositionKind::Sine);
  EXPECT_EQ(v[1].Sup2.Kind, SuperpositionKind::Sawtooth);  // a third overwrites the second
  EXPECT_EQ(v[1].Sup2.Phase, 0);
  EXPECT_EQ(v[1].Sup2.DutyCycle, 12);  // 12.5 % to the even neighbour
  // A second waveform of the same curve appends to it; starting its times again at 0 after the
  // curve's end would make them go backwards, so only an empty curve may be continued.
  SegmentTable a, b;
  Read(
      "<waveform type=\"voltage\"><segment duration=\"0\" start=\"1\" end=\"5\"/></waveform>"
      "<waveform type=\"voltage\"><segment duration=\"2\" start=\"9\" end=\"9\"/></waveform>",
      a, b);
  ASSERT_EQ(a.LastPointIndex(), 2);
  EXPECT_EQ(a[1].Time, 0);
  EXPECT_EQ(a[2].Time, 2);
  EXPECT_EQ(a[1].Value, 9);
}

TEST(ReadDocument, IgnoredElementsAndSuperpositionsBeforeTheFirstSegment) {
  SegmentTable v, c;
  Read(
      "<waveform type=\"voltage\"><sine><amplitude start=\"9\" end=\"9\"/></sine>"
      "<Segment duration=\"1\" start=\"1\" end=\"1\"/><comment text=\"x\"/>"
      "<segment duration=\"1\" start=\"2\" end=\"2\" colour=\"red\"/><sine/><sine/></waveform>",
      v, c);
  ASSERT_EQ(v.LastPointIndex(), 1);
  EXPECT_EQ(v[0].Value, 2);
  EXPECT_EQ(v[0].Sup1.Kind, SuperpositionKind::Sine);
  // Empty-element tags are not end tags: the second <sine/> sets the first superposition again.
  EXPECT_EQ(v[0].Sup2.Kind, SuperpositionKind::None);
  EXPECT_EQ(v[0].Sup1.AmpStart, 1.0);
}

TEST(ReadDocument, ConversionErrorNamesTextLineAndColumnAndKeepsEarlierRows) {
  SegmentTable v, c;
  try {
    ReadDocumentText(kHead +
                         "<waveform type=\"voltage\">\r\n"
                         "<segment duration=\"1\" start=\"0\" end=\"1\"/>\r\n"
                         "<segment duration=\"1.5abc\" start=\"1\" end=\"2\"/>\r\n" +
                         "</waveform>\r\n" + kTail,
                     "bad.ovx", v, c);
    FAIL() << "no error";
  } catch (const EDocumentError& e) {
    EXPECT_EQ(e.File(), "bad.ovx");
    EXPECT_EQ(e.Line(), 7);
    EXPECT_EQ(e.Column(), 1);
    EXPECT_NE(std::string(e.what()).find("'1.5abc'"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("bad.ovx:7:1"), std::string::npos);
  }
  EXPECT_EQ(v.LastPointIndex(), 1);
  EXPECT_EQ(v[1].Value, 1);
}

TEST(ReadDocument, RefusesBrokenAndHostileInput) {
  struct Case {
    std::string text;
    const char* why;
  };
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "<x>";
  const Case cases[] = {
      {"", "empty file"},
      {"<ondrevo><arbdata>", "unclosed"},
      {"<ondrevo></arbdata>", "mismatched"},
      {"<!DOCTYPE ondrevo [<!ENTITY a \"aaaa\">]><ondrevo>&a;</ondrevo>", "doctype"},
      {kHead + "<waveform type=\"voltage\"><segment start=\"0\" end=\"1\"/>", "missing attribute"},
      {kHead + "<waveform type=\"voltage\"><segment duration=\"inf\" start=\"0\" end=\"1\"/>",
       "inf"},
      {kHead + "<waveform type=\"voltage\"><segment duration=\"1e400\" start=\"0\" end=\"1\"/>",
       "range"},
      {kHead +
           "<waveform><segment duration=\"1\" start=\"0\" end=\"1\"><sine><phase value=\"1e20\"/>",
       "phase"},
      {deep, "nesting"},
      {kHead + "<waveform><segment duration=\"1e308\" start=\"0\" end=\"1\"/>"
               "<segment duration=\"1e308\" start=\"0\" end=\"1\"/>",
       "time overflow"},
  };
  for (const auto& k : cases) {
    SegmentTable v, c;
    EXPECT_THROW(ReadDocumentText(k.text, "f.ovx", v, c), EDocumentError) << k.why;
  }
}

// Errors of Read() with the full document around the body: "test.ovx:line:column: detail".
std::string ReadError(const std::string& text) {
  SegmentTable v, c;
  try {
    ReadDocumentText(text, "test.ovx", v, c);
  } catch (const EDocumentError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(ReadDocument, RefusesWhatIsNotAWaveformDocument) {
  EXPECT_EQ(ReadError("<html><body/></html>"),
            "test.ovx:1:1: The file is not a waveform document.");
  EXPECT_EQ(ReadError("<ondrevo><arbdata/></ondrevo>"),
            "test.ovx: The file is not a waveform document: it has no waveform list.");
  EXPECT_EQ(ReadError("<?xml version=\"1.0\"?>\n<ondrevo/>"),
            "test.ovx: The file is not a waveform document: it has no waveform list.");
  // A document the writer wrote with both curves empty stays readable.
  SegmentTable v, c;
  EXPECT_EQ(ReadError(FormatDocument(v, c)), "accepted");
}

TEST(ReadDocument, RefusesTimesGoingBackwards) {
  const std::string negative =
      kHead +
      "<waveform type=\"current\">\r\n<segment duration=\"-5\" start=\"0\" end=\"1\"/>\r\n" +
      "</waveform>\r\n" + kTail;
  EXPECT_EQ(ReadError(negative), "test.ovx:6:1: The curve's time goes backwards.");
  const std::string zigzag = kHead + "<waveform type=\"voltage\">\r\n" +
                             "<segment duration=\"1\" start=\"0\" end=\"1\"/>\r\n" +
                             "<segment duration=\"-2\" start=\"1\" end=\"2\"/>\r\n" +
                             "<segment duration=\"1\" start=\"2\" end=\"3\"/>\r\n" +
                             "</waveform>\r\n" + kTail;
  EXPECT_EQ(ReadError(zigzag), "test.ovx:7:1: The curve's time goes backwards.");
  // The smallest step back counts too.
  EXPECT_EQ(ReadError(kHead + "<waveform><segment duration=\"-1E-300\" start=\"0\" end=\"1\"/>"),
            "test.ovx:5:11: The curve's time goes backwards.");
  // Zero durations (steps) and a negative zero are no step back.
  SegmentTable v, c;
  Read(
      "<waveform type=\"voltage\"><segment duration=\"0\" start=\"0\" end=\"1\"/>"
      "<segment duration=\"-0\" start=\"1\" end=\"2\"/></waveform>",
      v, c);
  EXPECT_EQ(v.LastPointIndex(), 2);
  // The writer never writes a table whose times decrease.
  v[2].Time = -1;
  EXPECT_THROW(FormatDocument(v, c), EDocumentError);
}

TEST(ReadDocument, WhatTheWriterWritesTheReaderReads) {
  const double huge = 1.7976931348623157e308;
  EXPECT_FALSE(IsStorableNumber(huge));
  EXPECT_FALSE(IsStorableNumber(-huge));
  EXPECT_TRUE(IsStorableNumber(1.797693134e308));    // rounds down in every format
  EXPECT_FALSE(IsStorableNumber(1.7976931345e308));  // fixed (10, 4) rounds it up
  EXPECT_TRUE(IsStorableNumber(5e-324));
  EXPECT_TRUE(IsStorableNumber(-1e306));

  // Writing refuses it with the text that would not read back; nothing is written.
  SegmentTable v, c;
  AddPoint(v, 0, 0, true);
  AddPoint(v, 1, huge);
  try {
    FormatDocument(v, c);
    FAIL() << "written";
  } catch (const EDocumentError& e) {
    EXPECT_STREQ(e.what(), "The number cannot be stored in a document: 1.797693135E308");
  }
  AddPoint(c, 0, 0, true);
  AddPoint(c, huge, 1);  // general form: 1.79769313486232E308
  v.SetLastPointIndex(0);
  EXPECT_THROW(FormatDocument(v, c), EDocumentError);

  // The reader refuses it where it enters, with line and column.
  EXPECT_EQ(
      ReadError(kHead + "<waveform type=\"current\">\r\n"
                        "<segment duration=\"1\" start=\"0\" end=\"1.7976931348623157e308\"/>"),
      "test.ovx:6:1: The number cannot be stored in a document: 1.7976931348623157e308");
  EXPECT_NE(ReadError(kHead + "<waveform><segment duration=\"1\" start=\"0\" end=\"0\">"
                              "<sine><frequency start=\"1\" end=\"1.79769313486e308\"/>"),
            "accepted");
  // Durations that add up to nearly the largest double stay finite once rounded and read again.
  EXPECT_NE(ReadError(kHead +
                      "<waveform type=\"voltage\">"
                      "<segment duration=\"8.98846567431157e307\" start=\"0\" end=\"0\"/>"
                      "<segment duration=\"8.98846567431157e307\" start=\"0\" end=\"0\"/>"
                      "</waveform>" +
                      kTail),
            "accepted");
}

// A superposition faster than the samplers can walk is refused where it enters, the limit named.
TEST(ReadDocument, RefusesFrequenciesAboveTheLimit) {
  auto sine = [](const std::string& start, const std::string& end) {
    return kHead +
           "<waveform type=\"voltage\">\r\n<segment duration=\"10\" start=\"5\" end=\"5\">"
           "<sine><amplitude start=\"2\" end=\"2\"/><frequency start=\"" +
           start + "\" end=\"" + end + "\"/><phase value=\"0\"/></sine></segment></waveform>" +
           kTail;
  };
  EXPECT_EQ(ReadError(sine("1e14", "1")),
            "test.ovx:6:78: A frequency cannot exceed 1000000000 Hz: 1e14");
  EXPECT_THAT(ReadError(sine("1", "-1e14")), ::testing::HasSubstr("1000000000 Hz: -1e14"));
  EXPECT_THAT(ReadError(sine("1000000000.0001", "1")), ::testing::HasSubstr("1000000000 Hz"));
  EXPECT_EQ(ReadError(sine("1e9", "1e9")), "accepted");
}

TEST(ReadDocument, RefusesMoreRowsThanACurveHolds) {
  std::string body = "<waveform type=\"current\">";
  for (int i = 0; i < SegmentTable::kCapacity; ++i)
    body += "<segment duration=\"1\" start=\"0\" end=\"0\"/>";
  SegmentTable v, c;
  try {
    Read(body, v, c);
    FAIL();
  } catch (const EDocumentError& e) {
    EXPECT_NE(std::string(e.what()).find("60000"), std::string::npos);
  }
  EXPECT_EQ(c.LastPointIndex(), SegmentTable::kCapacity - 1);
}

TEST(ReadDocument, ResetsSuperpositionsOfReusedTables) {
  SegmentTable v, c;
  Read(
      "<waveform type=\"voltage\"><segment duration=\"1\" start=\"0\" "
      "end=\"1\"><sine/></segment></waveform>",
      v, c);
  EXPECT_EQ(v[0].Sup1.Kind, SuperpositionKind::Sine);
  Read("<waveform type=\"voltage\"><segment duration=\"1\" start=\"0\" end=\"1\"/></waveform>", v,
       c);
  EXPECT_EQ(v[0].Sup1.Kind, SuperpositionKind::None);
}

TEST_F(TempDir, FileErrorsNameTheFile) {
  SegmentTable v, c;
  try {
    ReadDocumentFile(Path("missing.ovx"), v, c);
    FAIL();
  } catch (const EDocumentError& e) {
    EXPECT_EQ(e.File(), Path("missing.ovx"));
    EXPECT_NE(std::string(e.what()).find("missing.ovx"), std::string::npos);
  }
  EXPECT_THROW(ReadDocumentFile(dir_.string(), v, c), EDocumentError);
  EXPECT_THROW(WriteDocument(Path("no/such/folder/x.ovx"), v, c), EDocumentError);
}

TEST_F(TempDir, WritingIsAtomicAndKeepsTheOldFileOnFailure) {
  SegmentTable v, c;
  AddPoint(v, 0, 1, true);
  AddPoint(v, 1, 2);
  const std::string path = Path("doc.ovx");
  WriteDocument(path, v, c);
  SegmentTable v2, c2;
  ReadDocumentFile(path, v2, c2);
  EXPECT_TRUE(v.SameCurve(v2));
  // A directory in the way: the rename fails, nothing is left behind.
  fs::create_directories(Path("busy.ovx/inner"));
  EXPECT_THROW(WriteDocument(Path("busy.ovx"), v, c), EDocumentError);
  EXPECT_TRUE(fs::is_directory(Path("busy.ovx/inner")));
  int entries = 0;
  for (auto& e : fs::directory_iterator(dir_)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2);  // doc.ovx and busy.ovx, no temporary files
  // Replacing keeps the permissions of the old file.
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteDocument(path, v, c);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(TempDir, SavingRefusesReadOnlyAndOddTargetsAndFollowsLinks) {
  SegmentTable v, c;
  AddPoint(v, 0, 1, true);
  AddPoint(v, 1, 2);
  auto content = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };

  // A 0444 file is not replaced, even by root.
  const std::string ro = Path("ro.ovx");
  WriteFileAtomically(ro, "old");
  fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  try {
    WriteDocument(ro, v, c);
    FAIL() << "replaced";
  } catch (const EDocumentError& e) {
    EXPECT_EQ(std::string(e.what()), ro + ": The file is read-only.");
  }
  EXPECT_EQ(content(ro), "old");

  // A link is followed: its file gets the document, the link stays a link.
  fs::create_directories(Path("real"));
  const std::string real = Path("real/doc.ovx");
  WriteFileAtomically(real, "old");
  fs::create_symlink("real/doc.ovx", Path("link.ovx"));
  fs::create_symlink(Path("link.ovx"), Path("link2.ovx"));
  WriteDocument(Path("link2.ovx"), v, c);
  EXPECT_TRUE(fs::is_symlink(Path("link.ovx")));
  EXPECT_TRUE(fs::is_symlink(Path("link2.ovx")));
  EXPECT_EQ(content(real), FormatDocument(v, c));
  // A dangling link creates the file it names; a loop of links is an error.
  fs::create_symlink("real/new.ovx", Path("dangling.ovx"));
  WriteDocument(Path("dangling.ovx"), v, c);
  EXPECT_EQ(content(Path("real/new.ovx")), FormatDocument(v, c));
  fs::create_symlink("loop.ovx", Path("loop.ovx"));
  EXPECT_THROW(WriteDocument(Path("loop.ovx"), v, c), EDocumentError);

  // A FIFO is not a file to save into (and is never opened: that would block).
  const std::string fifo = Path("fifo.ovx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  try {
    WriteDocument(fifo, v, c);
    FAIL() << "replaced";
  } catch (const EDocumentError& e) {
    EXPECT_EQ(std::string(e.what()),
              fifo + ": The file cannot be saved there: it is not a regular file.");
  }
  EXPECT_TRUE(fs::is_fifo(fifo));

  // Nothing was left behind in either folder.
  for (const auto& folder : {dir_, dir_ / "real"})
    for (auto& e : fs::directory_iterator(folder))
      EXPECT_EQ(e.path().filename().string().find(".ondrevo-"), std::string::npos) << e.path();
}

TEST_F(TempDir, SavingRefusesAnotherUsersFile) {
  // The folder is writable for everyone, the file only for its owner (root here).
  fs::permissions(dir_, fs::perms::all);
  const std::string theirs = Path("theirs.ovx");
  WriteFileAtomically(theirs, "old");
  fs::permissions(theirs, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
  if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    try {
      WriteFileAtomically(theirs, "new");
    } catch (const EFileRefused&) {
      ::_exit(0);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(theirs);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "old");
}

TEST_F(TempDir, TemporaryFilesGoOnSignalsAndStaleOnesAreRemoved) {
  const std::string target = Path("big.ovx");
  WriteFileAtomically(target, "old");
  auto temps = [&] {
    int n = 0;
    for (auto& e : fs::directory_iterator(dir_))
      if (e.path().filename().string().find(".ondrevo-") != std::string::npos) ++n;
    return n;
  };
  // A large write ended by the signal while its temporary file exists.
  for (int sig : {SIGTERM, SIGINT}) {
    bool interrupted = false;
    for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
      const pid_t child = ::fork();
      if (child == 0) {
        const std::string data(64u << 20, 'x');
        WriteFileAtomically(target, data);
        ::_exit(0);
      }
      while (temps() == 0) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) break;
        ::usleep(200);
      }
      ::kill(child, sig);
      int status = 0;
      ::waitpid(child, &status, 0);
      interrupted = WIFSIGNALED(status) && WTERMSIG(status) == sig;
      if (!interrupted) WriteFileAtomically(target, "old");
    }
    ASSERT_TRUE(interrupted) << "the write always finished first";
    EXPECT_EQ(temps(), 0) << sig;
    std::ifstream in(target);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "old");
  }

  // Left by a process that died (no pid 99999999 exists), or by a live one (ours).
  const std::string stale = Path(".big.ovx.99999999.ondrevo-AbC123");
  const std::string live = Path(".big.ovx." + std::to_string(::getpid()) + ".ondrevo-XyZ789");
  const std::string other = Path(".other.ovx.99999999.ondrevo-AbC123");
  for (const auto& p : {stale, live, other}) WriteFileAtomically(p, "tmp");
  WriteFileAtomically(target, "new");
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(other));  // another file's business
}

TEST_F(TempDir, ReadOnlyDetection) {
  const std::string path = Path("ro.ovx");
  WriteFileAtomically(path, "x");
  EXPECT_FALSE(IsReadOnlyFile(path));
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_TRUE(IsReadOnlyFile(path));
  EXPECT_FALSE(IsReadOnlyFile(Path("absent.ovx")));
}

namespace {
// A random document whose numbers survive the file formats exactly.
void RandomTables(std::mt19937& rng, SegmentTable& v, SegmentTable& c) {
  auto grid = [&](int lo, int hi, int scale) {
    return std::uniform_int_distribution<int>(lo, hi)(rng) / static_cast<double>(scale);
  };
  for (SegmentTable* t : {&v, &c}) {
    int n = std::uniform_int_distribution<int>(0, 12)(rng);
    double time = 0;
    for (int i = 0; i <= n && n > 0; ++i) {
      (*t)[i].Time = time;
      (*t)[i].Value = grid(-300000, 300000, 10000);
      time += grid(0, 40000, 1000);
      t->SetLastPointIndex(i);
      if (i < n && rng() % 3 == 0) {
        for (SuperpositionSpec* s : {&(*t)[i].Sup1, &(*t)[i].Sup2}) {
          if (s == &(*t)[i].Sup2 && rng() % 2) break;
          s->Kind = static_cast<SuperpositionKind>(1 + rng() % 4);
          s->AmpStart = grid(0, 300000, 10000);
          s->AmpEnd = grid(0, 300000, 10000);
          s->FreqStart = grid(1, 100000000, 1000);
          s->FreqEnd = grid(1, 100000000, 1000);
          s->Phase = static_cast<int>(rng() % 361);
          // Only a square stores its duty cycle.
          if (s->Kind == SuperpositionKind::Square) s->DutyCycle = 1 + static_cast<int>(rng() % 99);
        }
      }
    }
  }
}
}  // namespace

TEST_F(TempDir, RandomDocumentsRoundTripByteForByteAndAreWellFormed) {
  std::mt19937 rng(2015);
  const bool haveXmllint = std::system("command -v xmllint >/dev/null 2>&1") == 0;
  for (int k = 0; k < 200; ++k) {
    SegmentTable v, c;
    RandomTables(rng, v, c);
    const std::string text = FormatDocument(v, c);
    SegmentTable v2, c2;
    ReadDocumentText(text, "r.ovx", v2, c2);
    EXPECT_TRUE(v.SameCurve(v2)) << k;
    EXPECT_TRUE(c.SameCurve(c2)) << k;
    EXPECT_EQ(FormatDocument(v2, c2), text) << k;
    if (haveXmllint && k < 20) {
      const std::string path = Path("r" + std::to_string(k) + ".ovx");
      WriteDocument(path, v, c);
      EXPECT_EQ(std::system(("xmllint --noout " + path).c_str()), 0) << text;
    }
  }
}

TEST(WriteDocument, GermanLocaleChangesNoByte) {
  SegmentTable v, c;
  AddPoint(v, 0, 1.25, true);
  AddPoint(v, 0.5, 2.5);
  AddPoint(c, 0, 0.125, true);
  AddPoint(c, 0.000001, 1.5);
  const std::string before = FormatDocument(v, c);
  std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not generated";
  EXPECT_EQ(FormatDocument(v, c), before);
  SegmentTable v2, c2;
  ReadDocumentText(before, "x", v2, c2);
  EXPECT_TRUE(c.SameCurve(c2));
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_NE(before.find("duration=\"1E-6\""), std::string::npos);
}
