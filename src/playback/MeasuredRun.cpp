#include "playback/MeasuredRun.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "devices/DeviceInterfaces.h"
#include "devices/Interface.h"
#include "document/AtomicFile.h"
#include "document/Translate.h"
#include "model/Waveform.h"
#include "playback/InstrumentPreview.h"
#include "playback/PreviewWorker.h"

namespace ondrevo {

TMeasureOffer MeasureOfferFor(const std::string& model, const std::string& supplyLine,
                              const std::vector<TMeterCandidate>& found) {
  TMeasureOffer offer;
  offer.SupplyItself = !model.empty() && SupplyMeasuresItself(model);
  for (const TMeterCandidate& m : found)
    if (m.Open && (supplyLine.empty() || m.Name != supplyLine)) offer.Meters.push_back(m);
  if (!offer.SupplyItself && offer.Meters.empty())
    offer.Note =
        _("This supply cannot measure its output; measurement needs a meter, and none "
          "was found.");
  else if (!offer.SupplyItself)
    offer.Note = _("This supply cannot measure its output; measurement needs a meter.");
  return offer;
}

TRecordInput DescribeRun(const IDevice& device, IWaveformPlayer& player,
                         const SegmentTable& voltageTable, const SegmentTable& currentTable,
                         std::shared_ptr<TWaveform> voltage, std::shared_ptr<TWaveform> current,
                         const std::string& document, int burst) {
  TRecordInput in;
  in.Document = document;
  in.Model = device.GetModel();
  in.Identification = device.GetModel() + ", " + device.GetSerialNumber();
  in.Repeat = burst;
  in.DesignVoltage = DesignFunction(std::shared_ptr<const TWaveform>(voltage));
  in.HasCurrentCurve = !current->Empty();
  if (in.HasCurrentCurve)
    in.DesignCurrent = DesignFunction(std::shared_ptr<const TWaveform>(current));
  in.Duration = std::max(voltage->GetDuration(), current->GetDuration());
  try {
    const SupplyListSettings settings = ListSettingsOf(device, player);
    const InstrumentPreview p = ComputeInstrumentPreview(voltageTable, currentTable, settings);
    in.PointTimes = p.Times;
    in.PointVoltage = p.Values[0];
    in.PointCurrent = p.Values[1];
    in.ShiftWindow = std::max(settings.MinDwellTime, 1e-3);
    if (!p.Times.empty()) in.Duration = p.Times.back();
    if (!in.HasCurrentCurve)  // the supply plays its maximum current
      in.DesignCurrent = [max = settings.MaxCurrent](double) { return max; };
  } catch (const std::exception&) {
    // No point list (a card streams): the record compares with the design alone.
  }
  return in;
}

bool CurrentLimitedAt(const TRecordInput& in, const TReading& r) {
  if (!in.DesignCurrent || !in.DesignVoltage || !Judged(in, r)) return false;
  const double u = DesignTime(in, r.Time);
  const double limit = in.DesignCurrent(u);
  return limit > 0 && r.Current >= limit * 0.99 &&
         r.Voltage < in.DesignVoltage(u) - in.VoltageTolerance;
}

std::string ReportPath(const std::string& csvPath, const std::string& extension) {
  const std::string ext = ".csv";
  const auto slash = csvPath.find_last_of('/');
  const std::string name = slash == std::string::npos ? csvPath : csvPath.substr(slash + 1);
  if (name.size() > ext.size()) {
    std::string tail = csvPath.substr(csvPath.size() - ext.size());
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (tail == ext) return csvPath.substr(0, csvPath.size() - ext.size()) + extension;
  }
  return csvPath + extension;
}

TMeasuredRun::TMeasuredRun(TRecordInput description, std::shared_ptr<IMeasurementSource> source,
                           std::chrono::milliseconds interval, std::shared_ptr<TInterface> ownLine)
    : input_(std::move(description)),
      poller_(std::make_shared<TMeasurementPoller>(source, interval)),
      ownLine_(std::move(ownLine)) {
  input_.Source = source->Name();
  input_.Readings.clear();
}

TMeasuredRun::~TMeasuredRun() {
  try {
    Stop();
  } catch (...) {
  }
}

void TMeasuredRun::Start() {
  if (started_) return;
  started_ = true;
  input_.Date = UtcTimestamp();
  poller_->Start();
}

void TMeasuredRun::Stop() {
  if (poller_->Running()) poller_->Stop();
  if (started_) Update();
  if (ownLine_) {
    auto line = std::move(ownLine_);
    line->Close();
  }
}

IStartTimeReporter::TStartSentEvent TMeasuredRun::StartSentHandler() const {
  return [poller = std::weak_ptr<TMeasurementPoller>(poller_)](
             std::chrono::steady_clock::time_point at, std::chrono::steady_clock::duration u) {
    if (const auto p = poller.lock()) p->SetTimeBase(at, std::chrono::duration<double>(u).count());
  };
}

std::vector<TReading> TMeasuredRun::Update(bool* restarted) {
  if (restarted) *restarted = false;
  if (const std::size_t rebases = poller_->Rebases(); rebases != rebases_) {
    // The readings so far moved in time: their figures are counted again.
    rebases_ = rebases;
    input_.Readings.clear();
    figures_ = {};
    lastLimited_ = false;
    lastTime_ = 0;
    if (restarted) *restarted = true;
  }
  input_.TimeBaseUncertainty = poller_->TimeBaseUncertainty();
  std::vector<TReading> fresh = poller_->ReadingsFrom(input_.Readings.size());
  for (const TReading& r : fresh) {
    Account(r);
    input_.Readings.push_back(r);
  }
  return fresh;
}

void TMeasuredRun::Account(const TReading& r) {
  ++figures_.Count;
  if (!Judged(input_, r) || !input_.DesignVoltage) {
    lastLimited_ = false;
    return;
  }
  const double deviation = std::fabs(r.Voltage - input_.DesignVoltage(DesignTime(input_, r.Time)));
  if (deviation > figures_.MaxDeviation) {
    figures_.MaxDeviation = deviation;
    figures_.MaxDeviationAt = r.Time;
  }
  const bool limited = CurrentLimitedAt(input_, r);
  if (limited && lastLimited_) figures_.CurrentLimited += r.Time - lastTime_;
  lastLimited_ = limited;
  lastTime_ = r.Time;
}

void TMeasuredRun::SaveRecord(const std::string& csvPath, std::vector<std::string> commandLog,
                              const TReportDrawer& pdf) {
  Update();
  TRecordInput in = input_;
  in.CommandLog = std::move(commandLog);
  // Every text first: a failure in between leaves no record without its reports.
  const TReportContent content = ComposeReport(in, ComputeRecordFigures(in));
  std::vector<std::pair<std::string, std::string>> files = {
      {csvPath, RecordCsv(in)}, {ReportPath(csvPath), ReportHtml(content)}};
  if (pdf) files.emplace_back(ReportPath(csvPath, ".pdf"), pdf(content));
  std::vector<std::string> created;
  try {
    for (const auto& [path, data] : files) {
      std::error_code ec;
      const bool existed = std::filesystem::exists(path, ec);
      WriteFileAtomically(path, data);
      if (!existed) created.push_back(path);
    }
  } catch (...) {
    // New files of this record are taken back; older ones were each replaced whole.
    std::error_code ec;
    for (const std::string& path : created) std::filesystem::remove(path, ec);
    throw;
  }
}

}  // namespace ondrevo
