// The test record of one run: every reading beside the design and the instrument point in
// force, the deviation figures, the time outside a tolerance band and the stretches in current
// limit, written as CSV and as one self-contained HTML report (inline SVG, no network). The PDF
// of the same report is drawn from TReportContent by measure/RecordPdf.h (Qt).
#pragma once

#include <string>
#include <vector>

#include "measure/Deviation.h"
#include "measure/Measurement.h"

namespace ondrevo {

struct TRecordInput {
  std::string Document;        // path as given
  std::string Model;           // "KSV 7342-80"
  std::string Identification;  // the instrument's reply, or its serial number
  std::string Date;            // ISO 8601, UTC
  std::string Source;          // where the readings come from
  int Repeat = 1;              // bursts, 0: endless
  // One repetition of the design; the record repeats it.
  TCurveFunction DesignVoltage, DesignCurrent;
  bool HasCurrentCurve = false;
  double Duration = 0;  // s, one repetition
  // The instrument's points over one repetition: PointTimes has one more entry.
  std::vector<double> PointTimes, PointVoltage, PointCurrent;
  std::vector<TReading> Readings;
  double VoltageTolerance = 0.1;  // V: the band around the design
  double ShiftWindow = 0.01;      // s: how far a shift in time is looked for (the shortest dwell)
  // s: how far time 0 may lie from the supply's real start (see IStartTimeReporter).
  double TimeBaseUncertainty = 0;
  std::vector<std::string> CommandLog;
};

struct TStretch {
  double From = 0, To = 0;
  double Length() const { return To - From; }
};

struct TRecordFigures {
  DeviationReport Voltage;  // measured against the designed voltage
  double OutsideBand = 0;   // s the voltage spent outside the band
  std::vector<TStretch> OutsideStretches;
  std::vector<TStretch> CurrentLimited;  // the measured current at the limit, the voltage below
  // Also for a lone reading, whose stretch has no length.
  bool LeftBand() const { return !OutsideStretches.empty(); }
};

// t lies within the run's repetitions: not before time 0, nor after the last repetition of a
// run that ends.
bool WithinRun(const TRecordInput& in, double t);
// The reading is judged against the design: all of Time +- (Spread + the time base's
// uncertainty) lies within the run. Others stay in the record without design columns (the
// output may not yet or no longer play there).
bool Judged(const TRecordInput& in, const TReading& r);
// Where the run stands in the design at time t from the start of play: the time within the
// repetition, held at the end after the last one.
double DesignTime(const TRecordInput& in, double t);
// The index of the instrument point in force at t, or -1.
int PointAt(const TRecordInput& in, double t);

TRecordFigures ComputeRecordFigures(const TRecordInput& in);

// "time_s,voltage_V,current_A,design_voltage_V,design_current_limit_A,point,point_voltage_V,
// point_current_A,output,time_spread_s" and one
// line per reading, its design columns empty after the last repetition (C locale, shortest
// round-trip numbers).
std::string RecordCsv(const TRecordInput& in);

// The report once, in translated words and formatted numbers, for every format to lay out.
struct TReportTable {
  std::vector<std::string> Header;
  std::vector<std::vector<std::string>> Rows;  // none: the table reads "none"
};
struct TReportSection {
  std::string Title;
  std::string Text;  // a paragraph before the table, may be empty
  TReportTable Table;
};
struct TReportContent {
  std::string Title;     // "Test record"
  std::string Document;  // for the window title and the page footer
  std::vector<std::pair<std::string, std::string>> Facts;  // label, value
  std::string Verdict;
  bool LeftBand = false;
  std::vector<std::string> Pictures;  // self-contained SVG: voltage, then current
  std::vector<TReportSection> Sections;
  std::string LogTitle;
  std::vector<std::string> Log;
};

// The charts of the report as SVG documents: design, instrument points and measurement over
// every repetition the readings cover; voltage first, then current.
std::vector<std::string> ReportPictures(const TRecordInput& in);
TReportContent ComposeReport(const TRecordInput& in, const TRecordFigures& figures);
std::string ReportHtml(const TReportContent& content);
std::string ReportHtml(const TRecordInput& in, const TRecordFigures& figures);

// "2026-12-10T20:17:45Z" for now.
std::string UtcTimestamp();

}  // namespace ondrevo
