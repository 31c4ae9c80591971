// The PDF report of a known record read back with poppler's pdftotext and pdfinfo: the facts,
// the figures, the stretches and every command-log line survive the layout, none cut at a page
// break or the margin, and a long log goes on over as many pages as it takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "document/Numbers.h"
#include "measure/RecordPdf.h"

using namespace ondrevo;
using ::testing::HasSubstr;

namespace {

class QtFonts : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QGuiApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[32] = "test_measure_pdf";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> app_;
};
[[maybe_unused]] auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtFonts);

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

struct Pdf {
  std::string text;  // pdftotext, page breaks as form feeds
  int pages = 0;
  QImage first;  // page 1 rendered by pdftoppm
};

// Pixels of the page within a small distance of `colour`.
int Count(const QImage& page, QColor colour) {
  int n = 0;
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) {
      const QColor c = page.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) <
          12)
        ++n;
    }
  return n;
}

Pdf WriteAndRead(const TReportContent& content, const std::string& name) {
  const std::string bytes = ReportPdf(content);
  EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
  const auto path =
      std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()) + ".pdf");
  std::ofstream(path, std::ios::binary) << bytes;
  Pdf pdf;
  pdf.text = Run("pdftotext -enc UTF-8 '" + path.string() + "' - 2>&1");
  // The font sets "fi" and "fl" as one glyph each; viewers search through them.
  for (const auto& [ligature, letters] : {std::pair{"\uFB01", "fi"}, std::pair{"\uFB02", "fl"}})
    for (std::size_t at; (at = pdf.text.find(ligature)) != std::string::npos;)
      pdf.text.replace(at, std::string(ligature).size(), letters);
  std::istringstream info(Run("pdfinfo '" + path.string() + "' 2>&1"));
  for (std::string line; std::getline(info, line);)
    if (line.rfind("Pages:", 0) == 0) pdf.pages = std::atoi(line.c_str() + 6);
  const std::string png = path.string() + "-page";
  Run("pdftoppm -png -r 150 -f 1 -l 1 -singlefile '" + path.string() + "' '" + png + "'");
  pdf.first.load(QString::fromStdString(png + ".png"));
  std::filesystem::remove(png + ".png");
  if (!std::getenv("ONDREVO_KEEP_PDF")) std::filesystem::remove(path);
  return pdf;
}

Pdf WriteAndRead(const TRecordInput& in, const std::string& name) {
  return WriteAndRead(ComposeReport(in, ComputeRecordFigures(in)), name);
}

// The ramp clipped at a current limit: 0 to 20 V in 1 s into 10 ohm with a 1 A limit.
TRecordInput ClippedRamp(int logLines) {
  TRecordInput in;
  in.Document = "Clipped ramp <1>.ovx";
  in.Model = "KSV 7342-80";
  in.Identification = "SIMLAB,KSV7342-80,SN4711,1.02";
  in.Date = "2026-12-11T10:00:00Z";
  in.Source = "the supply itself";
  in.Repeat = 3;
  in.Duration = 1;
  in.DesignVoltage = [](double t) { return 20 * t; };
  in.DesignCurrent = [](double) { return 1.0; };
  in.PointTimes = {0, 0.5, 1};
  in.PointVoltage = {5, 15};
  in.PointCurrent = {1, 1};
  for (int k = 0; k <= 1000; ++k) {
    const double t = k / 1000.0;
    in.Readings.push_back({t, std::min(20 * t, 10.0), std::min(2 * t, 1.0)});
  }
  in.CommandLog.push_back("> *IDN?");
  for (int k = 1; k + 1 < logLines; ++k) in.CommandLog.push_back("< line " + std::to_string(k));
  in.CommandLog.push_back("< MEAS:CURR? 0.999 (the last line)");
  return in;
}

// pdftotext's lines that start with `prefix`, in order.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) {
    if (!line.empty() && line[0] == '\f') line.erase(0, 1);
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

}  // namespace

TEST(RecordPdf, HoldsTheReportAndEveryLogLine) {
  TRecordInput in = ClippedRamp(6);
  // One log line far wider than the page and without a space: wrapped, not cut.
  std::string list = "> LIST:VOLT ";
  for (int k = 0; k < 400; ++k) list += std::to_string(k) + ",";
  in.CommandLog.insert(in.CommandLog.begin() + 1, list);
  const TRecordFigures f = ComputeRecordFigures(in);
  ASSERT_EQ(f.CurrentLimited.size(), 1u);
  const Pdf pdf = WriteAndRead(in, "record");
  ASSERT_GT(pdf.pages, 0) << pdf.text;
  for (const std::string& want :
       {std::string("Test record"), std::string("Clipped ramp <1>.ovx"), std::string("KSV 7342-80"),
        std::string("SIMLAB,KSV7342-80,SN4711,1.02"), std::string("2026-12-11T10:00:00Z"),
        std::string("the supply itself"), std::string("left the tolerance band"),
        RoundedNumber(f.Voltage.MaxValue, 4) + " V",
        "Time outside the band: " + RoundedNumber(f.OutsideBand, 6) + " s",
        RoundedNumber(f.CurrentLimited[0].From, 6) + " s",
        RoundedNumber(f.CurrentLimited[0].To, 6) + " s", std::string("> *IDN?"),
        std::string("< MEAS:CURR? 0.999 (the last line)"),
        "Page 1 of " + std::to_string(pdf.pages)})
    EXPECT_THAT(pdf.text, HasSubstr(want));
  // The charts are drawn (their labels are outlines, not text): the design, the instrument's
  // points and the measurement each leave their colour on the first page, beyond what the same
  // page without the charts has of it.
  TReportContent bare = ComposeReport(in, f);
  bare.Pictures.clear();
  const Pdf without = WriteAndRead(bare, "bare");
  ASSERT_FALSE(pdf.first.isNull());
  ASSERT_FALSE(without.first.isNull());
  for (const QColor colour :
       {QColor(0x1f, 0x5f, 0xbf), QColor(0xe0, 0x8a, 0x00), QColor(0xc0, 0x26, 0x2d)})
    EXPECT_GT(Count(pdf.first, colour), 2 * Count(without.first, colour) + 200)
        << colour.name().toStdString();
  // The wide line comes back whole once the wrapping is taken out.
  auto squeezed = [](const std::string& text) {
    std::string out;
    for (char c : text)
      if (!std::isspace(static_cast<unsigned char>(c))) out += c;
    return out;
  };
  EXPECT_THAT(squeezed(pdf.text), HasSubstr(squeezed(list)));
}

TEST(RecordPdf, LongLogGoesOnOverPagesLosingNoLine) {
  const TRecordInput in = ClippedRamp(2500);
  const Pdf pdf = WriteAndRead(in, "long-log");
  // 7-point lines on A4: fewer than 120 a page.
  EXPECT_GE(pdf.pages, 2500 / 120);
  EXPECT_THAT(pdf.text,
              HasSubstr("Page " + std::to_string(pdf.pages) + " of " + std::to_string(pdf.pages)));
  std::vector<std::string> want;
  for (const std::string& line : in.CommandLog)
    if (line.rfind("< line ", 0) == 0) want.push_back(line);
  EXPECT_EQ(LinesStartingWith(pdf.text, "< line "), want);
  EXPECT_THAT(pdf.text, HasSubstr("< MEAS:CURR? 0.999 (the last line)"));
}

TEST(RecordPdf, EmptyRecordIsOnePageSayingNone) {
  TRecordInput in;
  in.Document = "empty.ovx";
  in.DesignVoltage = [](double) { return 0.0; };
  const Pdf pdf = WriteAndRead(in, "empty");
  EXPECT_EQ(pdf.pages, 1);
  EXPECT_THAT(pdf.text, HasSubstr("none"));
  EXPECT_THAT(pdf.text, HasSubstr("stayed within the tolerance band"));
}

TEST(RecordPdf, PdfNames) {
  EXPECT_TRUE(IsPdfName("run.pdf"));
  EXPECT_TRUE(IsPdfName("/tmp/RUN.PDF"));
  EXPECT_TRUE(IsPdfName("a.Pdf"));
  EXPECT_FALSE(IsPdfName("run.html"));
  EXPECT_FALSE(IsPdfName("pdf"));
  EXPECT_FALSE(IsPdfName("run.pdf.html"));
}
