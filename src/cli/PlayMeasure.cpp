#include "cli/PlayMeasure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "cli/Painting.h"
#include "devices/DeviceInterfaces.h"
#include "document/AtomicFile.h"
#include "document/Numbers.h"
#include "document/Text.h"
#include "document/Translate.h"
#include "measure/RecordPdf.h"
#include "model/Builder.h"
#include "playback/InstrumentPreview.h"
#include "playback/MeasuredRun.h"
#include "playback/PreviewWorker.h"
#include "transports/GpibInterface.h"
#include "transports/LanInterface.h"
#include "transports/RS232Interface.h"
#include "transports/UsbInterface.h"

namespace ondrevo::cli {

namespace {

// "GPIB0::5" names a meter on a GPIB board, "USB::881002" one listed by the USB library;
// anything else is a serial port.
std::shared_ptr<TInterface> OpenMeter(const std::string& name) {
  int board = 0, address = 0;
  char rest = 0;
  std::shared_ptr<TInterface> line;
  if (name.rfind("USB::", 0) == 0) {
    line = OpenUsbInstrument(name);
  } else if (const auto lan = ParseLanAddress(name)) {
    const auto transport = MakeLanTransport(*lan);
    transport->Open();
    line = transport;
  } else if (std::sscanf(name.c_str(), "GPIB%d::%d%c", &board, &address, &rest) == 2) {
    auto gpib = std::make_shared<TGpibInterface>(board, address);
    gpib->Open();
    gpib->OpenDevice();
    line = gpib;
  } else {
    auto serial = std::make_shared<TRS232Interface>(1, name);
    serial->Open();
    line = serial;
  }
  const std::string reply = line->Query("*IDN?", 1000);
  if (reply.empty()) throw std::runtime_error(_("No meter answers on ") + EscapeControls(name));
  return line;
}

}  // namespace

TPlayMeasurement::TPlayMeasurement(TPlayMeasureOptions options) : options_(std::move(options)) {
  std::string tolerance = options_.Tolerance;
  if (!tolerance.empty() && (tolerance.back() == 'V' || tolerance.back() == 'v'))
    tolerance.pop_back();
  double value = 0;
  if (!TryParseNumber(tolerance, value) || !(value > 0) || !std::isfinite(value))
    throw std::invalid_argument("--tolerance needs a voltage greater than 0, e.g. 0.1V");
  input_.VoltageTolerance = value;
  if (options_.IntervalMs < 1 || options_.IntervalMs > 60000)
    throw std::invalid_argument("--poll-interval lies between 1 and 60000 ms");
}

TPlayMeasurement::~TPlayMeasurement() {
  Stop();
}

TInterface::TTraceObserver TPlayMeasurement::WrapTrace(TInterface::TTraceObserver inner) {
  return [inner, lock = logLock_, log = log_](const std::string& line) {
    if (inner) inner(line);
    std::lock_guard guard(*lock);
    log->push_back(line);
  };
}

void TPlayMeasurement::Prepare(const IDevice& device, IWaveformPlayer& player,
                               const SegmentTable& voltageTable, const SegmentTable& currentTable,
                               std::shared_ptr<TWaveform> voltage,
                               std::shared_ptr<TWaveform> current, const std::string& document,
                               int burst) {
  std::shared_ptr<IMeasurementSource> source;
  if (!options_.Meter.empty()) {
    meterLine_ = OpenMeter(options_.Meter);
    source = MeterMeasurementSource(meterLine_, _("meter on ") + options_.Meter);
  } else if (SupplyMeasuresItself(device.GetModel()) && player.GetInterface()) {
    source = SupplyMeasurementSource(player.GetInterface());
  } else {
    throw std::runtime_error(device.GetModel() + ": " +
                             _("this supply cannot measure its output; measurement needs a "
                               "meter (--meter)"));
  }
  const double tolerance = input_.VoltageTolerance;
  input_ = DescribeRun(device, player, voltageTable, currentTable, std::move(voltage),
                       std::move(current), document, burst);
  input_.VoltageTolerance = tolerance;
  input_.Source = source->Name();
  poller_ =
      std::make_shared<TMeasurementPoller>(source, std::chrono::milliseconds(options_.IntervalMs));
  // Time 0 is when the driver sent the start (or saw the trigger start the list), not the play
  // report that comes after it.
  if (auto* reporter = dynamic_cast<IStartTimeReporter*>(&player))
    reporter->SetOnStartSent(
        [poller = std::weak_ptr<TMeasurementPoller>(poller_), reported = startReported_](
            std::chrono::steady_clock::time_point at, std::chrono::steady_clock::duration u) {
          if (const auto p = poller.lock())
            p->SetTimeBase(at, std::chrono::duration<double>(u).count());
          reported->store(true);
        });
}

void TPlayMeasurement::Start() {
  if (started_) return;
  started_ = true;
  input_.Date = UtcTimestamp();
  if (poller_) poller_->Start();
}

void TPlayMeasurement::Stop() {
  if (poller_) poller_->Stop();
}

int TPlayMeasurement::Finish(int status) {
  Stop();
  if (!poller_) return status;
  input_.Readings = poller_->Readings();
  input_.TimeBaseUncertainty = poller_->TimeBaseUncertainty();
  {
    std::lock_guard guard(*logLock_);
    input_.CommandLog = *log_;
  }
  if (meterLine_) meterLine_->Close();
  if (poller_->Failures() > 0 && poller_->LastError())
    std::cerr << _("Warning: ") << poller_->Failures() << ' ' << _("readings failed:") << ' '
              << *poller_->LastError() << '\n';
  const TRecordFigures figures = ComputeRecordFigures(input_);
  if (startReported_->load())
    std::cerr << _("Time 0: the supply's start, known within +-") << ' '
              << RoundedNumber(input_.TimeBaseUncertainty * 1000, 3) << " ms\n";
  // Every file's bytes first: a report that cannot be drawn leaves none of them half done.
  std::vector<std::pair<std::string, std::string>> files;
  if (!options_.Record.empty()) files.emplace_back(options_.Record, RecordCsv(input_));
  if (!options_.Reports.empty()) {
    const TReportContent content = ComposeReport(input_, figures);
    std::unique_ptr<QGuiApplication> app;
    for (const std::string& path : options_.Reports) {
      if (IsPdfName(path) && !app) app = PaintingApplication();
      files.emplace_back(path, IsPdfName(path) ? ReportPdf(content) : ReportHtml(content));
    }
  }
  for (const auto& [path, data] : files) WriteFileAtomically(path, data);
  std::cerr << input_.Readings.size() << ' ' << _("readings") << ", " << _("max deviation") << ' '
            << RoundedNumber(figures.Voltage.MaxValue, 4) << " V, " << _("outside the band") << ' '
            << RoundedNumber(figures.OutsideBand, 6) << " s\n";
  for (const TStretch& s : figures.CurrentLimited)
    std::cerr << _("In current limit") << ": " << RoundedNumber(s.From, 4) << " s - "
              << RoundedNumber(s.To, 4) << " s\n";
  const bool judged = std::any_of(input_.Readings.begin(), input_.Readings.end(),
                                  [&](const TReading& r) { return Judged(input_, r); });
  // Readings before the start or after the end say nothing about what the supply played.
  if (status == 0 && !judged) {
    std::cerr << "ondrevo-cli: " << _("No measurement was read while the document played.") << '\n';
    return 1;
  }
  if (status == 0 && figures.LeftBand()) {
    std::cerr << "ondrevo-cli: " << _("the measured voltage left the tolerance band for") << ' '
              << RoundedNumber(figures.OutsideBand, 6) << " s\n";
    return 1;
  }
  return status;
}

}  // namespace ondrevo::cli
