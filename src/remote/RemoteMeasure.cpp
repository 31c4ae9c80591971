// The remote window's measurement while it plays: the choice offered for the connected supply,
// the run measured from the supply's start to its stop, and its saved record.
#include <QFile>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

#include "app/TrQ.h"
#include "document/AtomicFile.h"
#include "document/Numbers.h"
#include "document/Translate.h"
#include "measure/RecordPdf.h"
#include "playback/FitChecks.h"
#include "remote/BurstEdit.h"
#include "remote/MeasurePanel.h"
#include "remote/RemoteForm.h"
#include "remote/RemotePlayerPanel.h"
#include "transports/GpibInterface.h"
#include "transports/RS232Interface.h"

namespace ondrevo {

namespace {

constexpr std::chrono::milliseconds kPollInterval{50};

}  // namespace

TMeasureOffer TRemoteForm::CurrentMeasureOffer() const {
  // Only a supply playing a point list is measured; a card or a wired input is not.
  const auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (!session_.IsConnected() || !player || IsAnalogOutputCard(Device)) return {};
  std::string line;
  if (const auto gpib = std::dynamic_pointer_cast<TGpibInterface>(player->GetInterface()))
    line = "GPIB" + std::to_string(gpib->BoardIndex) + "::" + std::to_string(gpib->PrimaryAddress);
  else if (const auto serial = std::dynamic_pointer_cast<TRS232Interface>(player->GetInterface()))
    line = serial->DevicePath;
  return MeasureOfferFor(Device->GetModel(), line, meters_);
}

void TRemoteForm::PrepareMeasurement() {
  EndMeasurement();
  measured_.reset();
  const EMeasureChoice choice = measure_->Choice();
  const auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  const auto reporter = std::dynamic_pointer_cast<IStartTimeReporter>(Device);
  if (reporter) reporter->SetOnStartSent(nullptr);
  if (choice == EMeasureChoice::None || !player || !voltageTable_ || !currentTable_) {
    ApplyState();
    return;
  }
  try {
    std::shared_ptr<IMeasurementSource> source;
    std::shared_ptr<TInterface> meterLine;
    if (choice == EMeasureChoice::Supply) {
      source = SupplyMeasurementSource(player->GetInterface());
    } else {
      const TMeterCandidate* meter = measure_->Meter();
      if (!meter) throw std::runtime_error(_("The meter chosen is no longer there."));
      meterLine = meter->Open();
      source = MeterMeasurementSource(meterLine, _("meter on ") + meter->Name);
    }
    const int burst = static_cast<int>(RoundHalfEven(player_->Burst()->value()));
    TRecordInput in = DescribeRun(*Device, *player, *voltageTable_, *currentTable_, VoltageWaveform,
                                  CurrentWaveform, documentName_.toStdString(), burst);
    measured_ = std::make_unique<TMeasuredRun>(std::move(in), source, kPollInterval, meterLine);
    // Readings are timed from the supply's start as its driver saw it go out, not from the
    // play report that follows.
    if (reporter) reporter->SetOnStartSent(measured_->StartSentHandler());
    measure_->BeginRun(measured_->Input());
    measure_->ShowFigures(measured_->Input(), measured_->Figures(), 0);
    output_->Append(TrQ("Measuring with") + QLatin1Char(' ') +
                    QString::fromStdString(measured_->Input().Source));
    tabs_->setCurrentWidget(measure_);
  } catch (const std::exception& e) {
    measured_.reset();
    output_->AppendError(TrQ("No measurement:") + QLatin1Char(' ') + QString::fromUtf8(e.what()),
                         nullptr);
  }
  ApplyState();
}

void TRemoteForm::StartMeasurement() {
  if (!measured_ || measured_->Started()) return;
  measured_->Start();
  measureTimer_->start();
  ApplyState();
}

void TRemoteForm::TakeReadings() {
  if (!measured_) return;
  const bool had = !measured_->Input().Readings.empty();
  bool restarted = false;
  const std::vector<TReading> fresh = measured_->Update(&restarted);
  if (restarted) measure_->BeginRun(measured_->Input());
  measure_->AddReadings(measured_->Input(), fresh);
  measure_->ShowFigures(measured_->Input(), measured_->Figures(), measured_->Failures());
  if (!had && !fresh.empty()) ApplyState();
}

void TRemoteForm::EndMeasurement() {
  if (!measured_) return;
  measureTimer_->stop();
  // Stop first: the stop command never waits behind a reading, and the poller ends within
  // one exchange.
  try {
    measured_->Stop();
  } catch (const std::exception& e) {
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
  }
  TakeReadings();
  ApplyState();
}

void TRemoteForm::SaveRecord() {
  if (!measured_ || measured_->Input().Readings.empty()) return;
  const QString path = dialogs_->GetSaveFileName(
      this, TrQ("Save record to..."),
      TrQ("CSV files (*.csv)") + QStringLiteral(";;") + TrQ("All files (*.*)"),
      QStringLiteral("csv"));
  if (path.isEmpty()) return;
  std::vector<std::string> log;
  for (const QString& line : CommandLines()) log.push_back(line.toStdString());
  const std::string file = QFile::encodeName(path).toStdString();
  try {
    measured_->SaveRecord(file, std::move(log),
                          [](const TReportContent& content) { return ReportPdf(content); });
    output_->Append(TrQ("Record saved:") + QLatin1Char(' ') + path + QStringLiteral(", ") +
                    QFile::decodeName(ReportPath(file).c_str()) + QStringLiteral(", ") +
                    QFile::decodeName(ReportPath(file, ".pdf").c_str()));
  } catch (const EFileRefused& e) {
    dialogs_->Message(this, QMessageBox::Critical, TrQ("Error"), QString::fromStdString(e.Reason()),
                      QMessageBox::Ok);
  } catch (const std::exception& e) {
    dialogs_->Message(this, QMessageBox::Critical, TrQ("Error"), QString::fromLocal8Bit(e.what()),
                      QMessageBox::Ok);
  }
  TakeReadings();
}

}  // namespace ondrevo
