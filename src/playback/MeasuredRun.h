// Measuring while the remote window plays: what the "Measure:" choice offers for the connected
// supply, and one measured run from the choice to the saved record. Free of widgets; the
// window's measurement panel only shows what this allows.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceInterfaces.h"
#include "measure/Measurement.h"
#include "measure/Record.h"

namespace ondrevo {

class IDevice;
class IWaveformPlayer;
class SegmentTable;
class TInterface;
class TWaveform;

enum class EMeasureChoice { None, Supply, Meter };

// A SCPI instrument found on a bus that is not one of our supplies: a bench meter, perhaps.
struct TMeterCandidate {
  std::string Name;            // "GPIB0::6"
  std::string Identification;  // its *IDN? reply
  // Opens its line (raises on failure).
  std::function<std::shared_ptr<TInterface>()> Open;
};

// What the choice offers for a supply.
struct TMeasureOffer {
  bool SupplyItself = false;  // its command set has measurement queries
  std::vector<TMeterCandidate> Meters;
  // Translated words when measuring needs something that is not there; empty otherwise.
  std::string Note;
  bool Available(EMeasureChoice choice) const {
    return choice == EMeasureChoice::None || (choice == EMeasureChoice::Supply && SupplyItself) ||
           (choice == EMeasureChoice::Meter && !Meters.empty());
  }
};

// `supplyLine` names the supply's own line ("GPIB0::5"); a candidate on it is left out.
TMeasureOffer MeasureOfferFor(const std::string& model, const std::string& supplyLine,
                              const std::vector<TMeterCandidate>& found);

// The record's description of a run: the document, the instrument, the design and the
// instrument's points over one repetition. Readings, date and source are left to the caller.
TRecordInput DescribeRun(const IDevice& device, IWaveformPlayer& player,
                         const SegmentTable& voltageTable, const SegmentTable& currentTable,
                         std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
                         const std::string& document, int burst);

// The figures the window shows while it plays, brought up to date reading by reading.
struct TRunningFigures {
  std::size_t Count = 0;      // readings so far
  double MaxDeviation = 0;    // V: largest |measured - design| within the run
  double MaxDeviationAt = 0;  // s from the start of play
  double CurrentLimited = 0;  // s the current stood at its limit with the voltage below design
};

// One run measured: prepared before the play command, started when the supply starts, stopped
// when it stops. Update copies the readings that came since the last call.
class TMeasuredRun {
 public:
  TMeasuredRun(TRecordInput description, std::shared_ptr<IMeasurementSource> source,
               std::chrono::milliseconds interval, std::shared_ptr<TInterface> ownLine = {});
  ~TMeasuredRun();
  TMeasuredRun(const TMeasuredRun&) = delete;
  TMeasuredRun& operator=(const TMeasuredRun&) = delete;

  void Start();
  // Stops polling (at most one exchange later) and takes the last readings; closes a meter's
  // line.
  void Stop();
  bool Started() const { return started_; }
  bool Polling() const { return poller_->Running(); }
  // For the player's start report (IStartTimeReporter): makes the instant the supply started
  // time 0 of this run's readings, from the driver's thread, for as long as this run lives.
  IStartTimeReporter::TStartSentEvent StartSentHandler() const;

  // The readings that arrived since the last call, also appended to Input().Readings. When the
  // time base moved after readings were taken, all of them come again, with `restarted` set.
  std::vector<TReading> Update(bool* restarted = nullptr);
  const TRecordInput& Input() const { return input_; }
  const TRunningFigures& Figures() const { return figures_; }
  std::size_t Failures() const { return poller_->Failures(); }

  // The bytes of a report in another format, drawn by a library this one does not link (the
  // PDF: measure/RecordPdf.h).
  using TReportDrawer = std::function<std::string(const TReportContent&)>;
  // Writes the CSV to `csvPath`, the HTML report beside it (ReportPath) and, given `pdf`, the
  // PDF beside both; each file is replaced whole or not at all, and new files are taken back
  // when a later one fails. `commandLog` goes into the reports.
  void SaveRecord(const std::string& csvPath, std::vector<std::string> commandLog,
                  const TReportDrawer& pdf = {});

 private:
  void Account(const TReading& r);

  TRecordInput input_;
  // Shared with the start handler, which may outlive this run in a driver.
  std::shared_ptr<TMeasurementPoller> poller_;
  std::size_t rebases_ = 0;
  std::shared_ptr<TInterface> ownLine_;
  TRunningFigures figures_;
  bool started_ = false;
  // The previous reading within the run, for the time in current limit.
  bool lastLimited_ = false;
  double lastTime_ = 0;
};

// "run.csv" -> "run.html"; a path without ".csv" gets ".html" appended. `extension` names
// another report beside it (".pdf").
std::string ReportPath(const std::string& csvPath, const std::string& extension = ".html");
// A reading within the run counts as current-limited as the record counts it.
bool CurrentLimitedAt(const TRecordInput& in, const TReading& r);

}  // namespace ondrevo
