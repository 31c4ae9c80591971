// play --meter/--record/--report: measures while the document plays and writes the record.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/Interface.h"
#include "measure/Measurement.h"
#include "measure/Record.h"

namespace ondrevo {
class IDevice;
class IWaveformPlayer;
class SegmentTable;
class TWaveform;
}  // namespace ondrevo

namespace ondrevo::cli {

struct TPlayMeasureOptions {
  std::string Meter, Record, Tolerance = "0.1V";
  std::vector<std::string> Reports;  // a name ending in .pdf gets the PDF, any other the HTML
  int IntervalMs = 20;
  bool Active() const { return !Meter.empty() || !Record.empty() || !Reports.empty(); }
};

class TPlayMeasurement {
 public:
  // Checks the options; throws std::invalid_argument with the user's text.
  explicit TPlayMeasurement(TPlayMeasureOptions options);
  ~TPlayMeasurement();
  // Every transport line also goes into the record's command log.
  TInterface::TTraceObserver WrapTrace(TInterface::TTraceObserver inner);
  // After connecting: the source (the meter, else the supply itself where it can measure) and
  // the instrument's points. Throws std::runtime_error with the user's text.
  void Prepare(const IDevice& device, IWaveformPlayer& player, const SegmentTable& voltageTable,
               const SegmentTable& currentTable, std::shared_ptr<TWaveform> voltage,
               std::shared_ptr<TWaveform> current, const std::string& document, int burst);
  // Once: later calls do nothing.
  void Start();
  void Stop();
  // Writes the record and the report; returns 1 when `status` is 0 but the measurement left
  // the band (with a line on stderr), else `status`.
  int Finish(int status);

 private:
  TPlayMeasureOptions options_;
  TRecordInput input_;
  std::shared_ptr<TInterface> meterLine_;
  // Shared with the driver's start handler, which may outlive this run.
  std::shared_ptr<TMeasurementPoller> poller_;
  // The driver reported the supply's start: time 0 is that instant.
  std::shared_ptr<std::atomic<bool>> startReported_ = std::make_shared<std::atomic<bool>>(false);
  bool started_ = false;
  std::shared_ptr<std::mutex> logLock_ = std::make_shared<std::mutex>();
  std::shared_ptr<std::vector<std::string>> log_ = std::make_shared<std::vector<std::string>>();
};

}  // namespace ondrevo::cli
