// The remote window's measured run without widgets: what the choice offers, the readings copied
// piece by piece, the running figures against a model of them, and the saved record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "playback/MeasuredRun.h"

using namespace ondrevo;
using namespace std::chrono_literals;

namespace {

// Seeded readings around a 5 V level with a 1 A limit: now within the band, now clipped.
class TRandomSource : public IMeasurementSource {
 public:
  explicit TRandomSource(unsigned seed) : random_(seed) {}
  std::string Name() const override { return "random"; }
  void Read(double& v, double& i) override {
    std::lock_guard guard(lock_);
    v = std::uniform_real_distribution<double>(3.0, 6.0)(random_);
    i = std::uniform_real_distribution<double>(0.9, 1.1)(random_);
  }

 private:
  std::mutex lock_;
  std::mt19937 random_;
};

TRecordInput LevelRun() {
  TRecordInput in;
  in.DesignVoltage = [](double) { return 5.0; };
  in.DesignCurrent = [](double) { return 1.0; };
  in.HasCurrentCurve = true;
  in.Duration = 0.5;
  in.Repeat = 0;  // endless: every reading lies within the run
  in.VoltageTolerance = 0.1;
  return in;
}

TMeterCandidate Meter(const std::string& name) {
  return {name, "SIMLAB,DMM-100,1,1.00", [] { return std::shared_ptr<TInterface>(); }};
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void WaitForReadings(TMeasuredRun& run, std::size_t count, std::vector<TReading>& collected) {
  // A safety net only: the loop ends when the readings are there.
  const auto giveUp = std::chrono::steady_clock::now() + 60s;
  while (collected.size() < count && std::chrono::steady_clock::now() < giveUp) {
    for (const TReading& r : run.Update()) collected.push_back(r);
    std::this_thread::sleep_for(1ms);
  }
}

}  // namespace

TEST(MeasureOffer, SupplyItselfOnlyForFamilyCAndMetersOffTheSupplysLine) {
  const std::vector<TMeterCandidate> found{
      Meter("GPIB0::6"), Meter("GPIB0::5"), {"GPIB0::7", "x", nullptr}};
  const TMeasureOffer c = MeasureOfferFor("KSV 7342-80", "GPIB0::5", found);
  EXPECT_TRUE(c.SupplyItself);
  EXPECT_TRUE(c.Note.empty());
  ASSERT_EQ(c.Meters.size(), 1u);  // not the supply's own address, not one that cannot open
  EXPECT_EQ(c.Meters[0].Name, "GPIB0::6");
  EXPECT_TRUE(c.Available(EMeasureChoice::Supply));

  const TMeasureOffer a = MeasureOfferFor("KSV 5206-40", "", found);
  EXPECT_FALSE(a.SupplyItself);
  EXPECT_FALSE(a.Available(EMeasureChoice::Supply));
  EXPECT_TRUE(a.Available(EMeasureChoice::Meter));
  EXPECT_NE(a.Note.find("needs a meter"), std::string::npos);

  const TMeasureOffer b = MeasureOfferFor("KSV 6141-80", "", {});
  EXPECT_FALSE(b.Available(EMeasureChoice::Meter));
  EXPECT_TRUE(b.Available(EMeasureChoice::None));
  EXPECT_NE(b.Note.find("none was found"), std::string::npos);
}

TEST(MeasureOffer, ReportPathBesideTheRecord) {
  EXPECT_EQ(ReportPath("/tmp/run.csv"), "/tmp/run.html");
  EXPECT_EQ(ReportPath("/tmp/RUN.CSV"), "/tmp/RUN.html");
  EXPECT_EQ(ReportPath("/tmp/run"), "/tmp/run.html");
  EXPECT_EQ(ReportPath("/tmp/.csv"), "/tmp/.csv.html");  // a name, not an extension
  EXPECT_EQ(ReportPath("/tmp/a.csv.d/run"), "/tmp/a.csv.d/run.html");
  EXPECT_EQ(ReportPath("/tmp/RUN.CSV", ".pdf"), "/tmp/RUN.pdf");
  EXPECT_EQ(ReportPath("/tmp/run", ".pdf"), "/tmp/run.pdf");
}

// Seeded runs: the pieces Update hands out add up to every reading once, in order, and the
// running figures equal those of a model computed from the whole list afterwards.
TEST(MeasuredRun, RunningFiguresFollowEveryReadingOnce) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    TMeasuredRun run(LevelRun(), std::make_shared<TRandomSource>(seed), 1ms);
    EXPECT_EQ(run.Input().Source, "random");
    EXPECT_TRUE(run.Update().empty());  // nothing before the start
    run.Start();
    std::vector<TReading> collected;
    WaitForReadings(run, 60, collected);
    run.Stop();  // takes the last readings itself
    EXPECT_TRUE(run.Update().empty());
    const std::vector<TReading>& all = run.Input().Readings;
    ASSERT_GE(collected.size(), 60u);
    ASSERT_GE(all.size(), collected.size());
    double maxDev = 0, maxAt = 0, limited = 0;
    bool lastLimited = false;
    for (std::size_t k = 0; k < all.size(); ++k) {
      if (k < collected.size()) EXPECT_EQ(collected[k].Time, all[k].Time);
      if (k > 0) EXPECT_GT(all[k].Time, all[k - 1].Time);
      const double dev = std::fabs(all[k].Voltage - 5.0);
      if (dev > maxDev) {
        maxDev = dev;
        maxAt = all[k].Time;
      }
      const bool atLimit = all[k].Current >= 0.99 && all[k].Voltage < 4.9;
      if (atLimit && lastLimited) limited += all[k].Time - all[k - 1].Time;
      lastLimited = atLimit;
    }
    EXPECT_EQ(run.Figures().Count, all.size());
    EXPECT_DOUBLE_EQ(run.Figures().MaxDeviation, maxDev);
    EXPECT_DOUBLE_EQ(run.Figures().MaxDeviationAt, maxAt);
    EXPECT_NEAR(run.Figures().CurrentLimited, limited, 1e-12);
    EXPECT_GT(limited, 0.0);  // the seeds give both kinds of reading
  }
}

TEST(MeasuredRun, SaveRecordWritesEveryFileWholeOrNotAtAll) {
  TMeasuredRun run(LevelRun(), std::make_shared<TRandomSource>(7), 1ms);
  run.Start();
  std::vector<TReading> collected;
  WaitForReadings(run, 10, collected);
  run.Stop();
  const auto dir =
      std::filesystem::temp_directory_path() / ("measured-run-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string csv = (dir / "run.csv").string();
  run.SaveRecord(csv, {"> MEAS:VOLT?", "< 5.0"});
  TRecordInput expected = run.Input();
  expected.CommandLog = {"> MEAS:VOLT?", "< 5.0"};
  EXPECT_EQ(ReadAll(csv), RecordCsv(expected));
  const std::string html = ReadAll((dir / "run.html").string());
  EXPECT_EQ(html, ReportHtml(expected, ComputeRecordFigures(expected)));
  EXPECT_NE(html.find("MEAS:VOLT?"), std::string::npos);

  // A third report drawn elsewhere lands beside them from the same content; one that cannot be
  // drawn leaves no new file of the record.
  const std::string csv2 = (dir / "drawn.csv").string();
  run.SaveRecord(csv2, {"> MEAS:VOLT?"},
                 [](const TReportContent& c) { return "%PDF " + c.Document + " " + c.Log.back(); });
  EXPECT_EQ(ReadAll((dir / "drawn.pdf").string()),
            "%PDF " + run.Input().Document + " > MEAS:VOLT?");
  EXPECT_TRUE(std::filesystem::exists(dir / "drawn.html"));
  EXPECT_ANY_THROW(run.SaveRecord(
      (dir / "undrawable.csv").string(), {},
      [](const TReportContent&) -> std::string { throw std::runtime_error("no fonts"); }));
  EXPECT_FALSE(std::filesystem::exists(dir / "undrawable.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "undrawable.html"));
  // A PDF that cannot be written takes back the new record and its HTML.
  std::filesystem::create_directory(dir / "late.pdf");
  EXPECT_ANY_THROW(run.SaveRecord((dir / "late.csv").string(), {},
                                  [](const TReportContent&) { return std::string("%PDF"); }));
  EXPECT_FALSE(std::filesystem::exists(dir / "late.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "late.html"));

  // A folder that is not there: an error, and no file of either name.
  const std::string missing = (dir / "no-such-folder" / "run.csv").string();
  EXPECT_ANY_THROW(run.SaveRecord(missing, {}));
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
  // A report that cannot be written takes its new record back.
  std::filesystem::create_directory(dir / "blocked.html");
  EXPECT_ANY_THROW(run.SaveRecord((dir / "blocked.csv").string(), {}));
  EXPECT_FALSE(std::filesystem::exists(dir / "blocked.csv"));
  std::filesystem::remove_all(dir);
}
