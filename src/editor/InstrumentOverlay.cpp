#include "editor/InstrumentOverlay.h"

#include <QAction>
#include <QLabel>
#include <QPointF>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "daq/DaqExecuteThread.h"
#include "daq/DaqMxDevice.h"
#include "devices/ModelTables.h"
#include "document/Numbers.h"
#include "editor/GraphFormText.h"
#include "editor/core/EditorCore.h"
#include "model/Builder.h"
#include "model/Samplers.h"
#include "plot/Plot.h"

namespace ondrevo {

namespace {

// Lighter than the curves (blue voltage, red current) and dashed, so the design stays readable.
const QColor kVoltagePoints(90, 150, 255);
const QColor kCurrentPoints(255, 120, 120);

// Each point held until the next one starts.
std::vector<QPointF> Staircase(const TDoubleVector& times, const TDoubleVector& values) {
  std::vector<QPointF> out;
  const std::size_t n = std::min(values.size(), times.size() > 0 ? times.size() - 1 : 0);
  out.reserve(2 * n);
  for (std::size_t k = 0; k < n; ++k) {
    out.emplace_back(times[k], values[k]);
    out.emplace_back(times[k + 1], values[k]);
  }
  return out;
}

// Every `stride`-th sample of the card's stream of one curve (equidistant at `rate`), each held
// until the next one drawn. Values beyond the supply's range are played at its limit, as by the
// supply the card drives.
std::vector<QPointF> StreamGrid(const SegmentTable& table, double rate, std::int64_t stride,
                                double min, double max) {
  auto waveform = BuildWaveform(table);
  waveform->MinValue = min;
  waveform->MaxValue = max;
  const double duration = waveform->GetDuration();
  if (waveform->Empty() || duration <= 0 || rate <= 0) return {};
  const auto count = static_cast<std::int64_t>(std::ceil(duration * rate - 1e-9));
  const std::int64_t drawn = (std::max<std::int64_t>(count, 1) + stride - 1) / stride;
  TEquidistantSampler sampler;
  sampler.Waveform = waveform.get();
  sampler.Start(0, 0, static_cast<double>(stride) / rate);
  TDoubleVector samples(static_cast<std::size_t>(drawn));
  std::uint32_t restarts = 0;
  TIntegerVector restartPositions;
  sampler.Fill(samples, restarts, restartPositions);
  TDoubleVector times(samples.size() + 1);
  for (std::size_t k = 0; k < times.size(); ++k)
    times[k] = std::min(duration, static_cast<double>(k) * static_cast<double>(stride) / rate);
  return Staircase(times, samples);
}

bool SameCurve(const SegmentTable& a, const SegmentTable& b) {
  if (a.LastPointIndex() != b.LastPointIndex()) return false;
  for (std::int32_t k = 0; k <= a.LastPointIndex(); ++k)
    if (!(a[k] == b[k])) return false;
  return true;
}

}  // namespace

OverlayTarget EditorOverlayTarget(int model, int variant, const DeviceLimits& limits, bool daq) {
  OverlayTarget target;
  target.Daq = daq;
  const std::string text = DeviceText(model, variant);
  if (!text.empty() && !LimitsForModel(text).Unsupported) {
    target.Settings = ListSettingsForModel(text);
    if (target.Settings.MaxPoints > 0) return target;
  }
  const FamilyConstants family = ConstantsForFamily(
      text.empty() ? DeviceFamily::A
                   : EditorFamilyOfModel(DeviceModels()[static_cast<std::size_t>(model)].Caption));
  SupplyListSettings& s = target.Settings;
  s.MinVoltage = 0;
  s.MaxVoltage = limits.MaxVoltage;
  s.VoltageResolution = limits.VoltageResolution;
  s.MinCurrent = 0;
  s.MaxCurrent = limits.MaxCurrent;
  s.CurrentResolution = limits.CurrentResolution;
  s.MinDwellTime = limits.MinDwellTime;
  s.MaxDwellTime = family.MaxDwellTime;
  s.MaxPoints = kSupplyPointBudget;
  return target;
}

struct DaqGridRequest {
  std::uint64_t Generation = 0;
  SegmentTable Voltage, Current;
  SupplyListSettings Limits;
};

struct DaqGridResult {
  std::uint64_t Generation = 0;
  std::vector<QPointF> Voltage, Current;
  std::optional<TDaqCardInfo> Card;
  double Rate = 0.0;
  bool CardLimited = false;
  std::int64_t Samples = 0, Stride = 1;
  std::string Error;
};

// Chooses the card's rate as its engine does and samples the grid, off the GUI thread. The
// probe runs once per played curve; the card is asked every time (it may come and go).
class TDaqGridWorker {
 public:
  explicit TDaqGridWorker(std::function<void(const DaqGridResult&)> done)
      : done_(std::move(done)), thread_([this](std::stop_token stop) { Run(stop); }) {}

  void Request(DaqGridRequest request) {
    {
      std::lock_guard guard(lock_);
      pending_ = std::move(request);
    }
    changed_.notify_all();
  }
  void Cancel() {
    std::lock_guard guard(lock_);
    pending_.reset();
  }

 private:
  void Run(std::stop_token stop) {
    for (;;) {
      DaqGridRequest request;
      {
        std::unique_lock guard(lock_);
        if (!changed_.wait(guard, stop, [&] { return pending_.has_value(); })) return;
        request = std::move(*pending_);
        pending_.reset();
      }
      DaqGridResult result = Compute(request);
      if (stop.stop_requested()) return;
      done_(result);
    }
  }

  DaqGridResult Compute(const DaqGridRequest& r) {
    DaqGridResult out;
    out.Generation = r.Generation;
    try {
      // The engine plays the voltage curve unless the card drives a current input.
      const SegmentTable& played = r.Voltage.LastPointIndex() > 0 ? r.Voltage : r.Current;
      if (!probed_ || !SameCurve(played, probedCurve_)) {
        auto waveform = BuildWaveform(played);
        probeMs_ = ProbeDaqWaveform(*waveform, 1.0, 0);
        probedCurve_ = played;
        probed_ = true;
      }
      // Kept loaded while the overlay lives: loading the library is slow.
      if (!lib_) {
        try {
          lib_ = TDaqMxLibrary::Load();
        } catch (const std::exception&) {
          // No library, no card: FirstDaqCard says so.
        }
      }
      out.Card = FirstDaqCard();
      const TDaqRateChoice choice = ChooseStreamRate(probeMs_, out.Card);
      out.Rate = choice.Rate;
      out.CardLimited = choice.CardLimited;
      const double duration = std::max(r.Voltage.Length(), r.Current.Length());
      out.Samples = static_cast<std::int64_t>(std::ceil(duration * out.Rate - 1e-9));
      out.Stride =
          std::max<std::int64_t>(1, (out.Samples + kMaxDaqGridSamples - 1) / kMaxDaqGridSamples);
      out.Voltage =
          StreamGrid(r.Voltage, out.Rate, out.Stride, r.Limits.MinVoltage, r.Limits.MaxVoltage);
      out.Current =
          StreamGrid(r.Current, out.Rate, out.Stride, r.Limits.MinCurrent, r.Limits.MaxCurrent);
    } catch (const std::exception& e) {
      out.Error = e.what();
      out.Voltage.clear();
      out.Current.clear();
    }
    return out;
  }

  std::function<void(const DaqGridResult&)> done_;
  std::mutex lock_;
  std::condition_variable_any changed_;
  std::optional<DaqGridRequest> pending_;
  // The worker thread's own.
  SegmentTable probedCurve_;
  bool probed_ = false;
  double probeMs_ = 0.0;
  std::shared_ptr<TDaqMxLibrary> lib_;
  std::jthread thread_;  // last: starts after the members it uses
};

TInstrumentOverlay::TInstrumentOverlay(TEditorCore& core, TPlot* plot, QStatusBar* bar,
                                       QObject* parent)
    : QObject(parent), core_(core), plot_(plot) {
  action_ = new QAction(T("Instrument points"), this);
  action_->setObjectName(QStringLiteral("actInstrumentPoints"));
  action_->setStatusTip(T("Show the points the selected device plays over the curves"));
  action_->setCheckable(true);
  connect(action_, &QAction::triggered, this, [this](bool on) {
    SetEnabled(on);
    emit toggled(on);
  });

  panel_ = new QLabel(bar);
  panel_->setObjectName(QStringLiteral("InstrumentPanel"));
  panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel_->hide();
  bar->addWidget(panel_);

  voltage_ = plot_->AddSeries(QStringLiteral("U_Points"), PlotAxis::Left);
  current_ = plot_->AddSeries(QStringLiteral("I_Points"), PlotAxis::Right);
  for (auto [series, colour] : {std::pair{voltage_, kVoltagePoints}, {current_, kCurrentPoints}}) {
    series->SetColor(colour);
    series->SetLineStyle(PlotLineStyle::DashDot);
    series->SetWidth(2);  // wider than the design's line, so that it shows where they coincide
    series->SetMarker(PlotMarker::None);
    series->SetVisible(false);
  }

  // The results arrive on the worker threads; only the GUI thread draws.
  daqWorker_ = std::make_unique<TDaqGridWorker>([this](const DaqGridResult& result) {
    QMetaObject::invokeMethod(
        this, [this, result] { ShowDaqGrid(result); }, Qt::QueuedConnection);
  });
  worker_ = std::make_unique<TPreviewWorker>([this](const PreviewOutcome& outcome) {
    QMetaObject::invokeMethod(
        this, [this, outcome] { Show(outcome); }, Qt::QueuedConnection);
  });
  core_.AddListener([this](const EditorChange& change) {
    if (change.Curve || change.BothCurves || change.Limits) Refresh();
  });
}

TInstrumentOverlay::~TInstrumentOverlay() {
  worker_.reset();
  daqWorker_.reset();
}

bool TInstrumentOverlay::Enabled() const {
  return action_->isChecked();
}

void TInstrumentOverlay::SetEnabled(bool on) {
  action_->setChecked(on);
  panel_->setVisible(on);
  voltage_->SetVisible(on);
  current_->SetVisible(on);
  if (on) {
    Refresh();
  } else {
    worker_->Cancel();
    daqWorker_->Cancel();
    waiting_ = daqWaiting_ = 0;  // whatever is still under way is stale now
    requested_ = delivered_ = requested_ + 1;
    Clear();
  }
  plot_->Replot();
}

void TInstrumentOverlay::Clear() {
  voltage_->Clear();
  current_->Clear();
  shown_.reset();
  daqRate_ = 0.0;
  findings_.clear();
  panel_->clear();
  panel_->setToolTip(QString());
}

void TInstrumentOverlay::Refresh() {
  if (!Enabled() || !Target) return;
  if (core_.Curve(Quantity::Voltage).LastPointIndex() <= 0 &&
      core_.Curve(Quantity::Current).LastPointIndex() <= 0) {
    // Nothing designed yet: nothing to play, nothing to say.
    worker_->Cancel();
    daqWorker_->Cancel();
    waiting_ = daqWaiting_ = 0;
    requested_ = delivered_ = requested_ + 1;
    Clear();
    plot_->Replot();
    emit updated();
    return;
  }
  const OverlayTarget target = Target();
  if (target.Daq) {
    worker_->Cancel();
    waiting_ = 0;
    RequestDaqGrid(target.Settings);
    return;
  }
  daqWorker_->Cancel();
  daqWaiting_ = 0;
  PreviewRequest request;
  request.Voltage = core_.Curve(Quantity::Voltage);
  request.Current = core_.Curve(Quantity::Current);
  request.Settings = target.Settings;
  ++requested_;
  waiting_ = worker_->Request(std::move(request));
}

void TInstrumentOverlay::RequestDaqGrid(const SupplyListSettings& limits) {
  DaqGridRequest request;
  request.Generation = daqWaiting_ = ++daqRequests_;
  request.Voltage = core_.Curve(Quantity::Voltage);
  request.Current = core_.Curve(Quantity::Current);
  request.Limits = limits;
  ++requested_;
  if (!daqRate_) panel_->setText(T("Analog output card: choosing the sample rate..."));
  daqWorker_->Request(std::move(request));
}

void TInstrumentOverlay::ShowDaqGrid(const DaqGridResult& result) {
  // A result that a newer edit, a supply or switching off replaced.
  if (daqWaiting_ == 0 || result.Generation != daqWaiting_ || !Enabled()) return;
  daqWaiting_ = 0;
  delivered_ = requested_;
  Clear();
  if (!result.Error.empty()) {
    panel_->setText(Q(result.Error));
  } else {
    daqRate_ = result.Rate;
    voltage_->SetPoints(result.Voltage);
    current_->SetPoints(result.Current);
    const QString rate = Localized(FormatGeneral(result.Rate));
    QString text = result.Card ? T("Analog output card %1: %2 samples at %3 samples/s")
                                     .arg(Q(result.Card->Name))
                                     .arg(static_cast<qlonglong>(result.Samples))
                                     .arg(rate)
                               : T("No analog output card found: %1 samples at %2 samples/s")
                                     .arg(static_cast<qlonglong>(result.Samples))
                                     .arg(rate);
    text += QStringLiteral(" (") +
            (result.CardLimited ? T("the card's highest rate")
                                : T("half the computing speed of this computer")) +
            QLatin1Char(')');
    if (result.Stride > 1)
      text += QStringLiteral(" \u00b7 ") +
              T("one sample in %1 drawn").arg(static_cast<qlonglong>(result.Stride));
    panel_->setText(text);
  }
  plot_->Replot();
  emit updated();
}

void TInstrumentOverlay::Show(const PreviewOutcome& outcome) {
  // A result of a request that a newer edit, the card or switching off replaced.
  if (waiting_ == 0 || outcome.Generation != waiting_ || !Enabled()) return;
  waiting_ = 0;
  delivered_ = requested_;
  Clear();
  if (!outcome.Preview) {
    panel_->setText(Q(outcome.Error));
  } else {
    shown_ = outcome.Preview;
    const InstrumentPreview& p = *shown_;
    voltage_->SetPoints(Staircase(p.Times, p.Values.at(0)));
    current_->SetPoints(Staircase(p.Times, p.Values.at(1)));
    // The summary names missing curves; clipping joins it because it happens without notice.
    QString text = Localized(PreviewSummary(p));
    for (const std::string& line : SilentChangeFindings(p)) {
      const QString finding = Localized(line);
      if (!text.contains(finding)) text += QStringLiteral(" \u00b7 ") + finding;
    }
    for (const std::string& line : PreviewFindings(p)) findings_ << Localized(line);
    panel_->setText(text);
    panel_->setToolTip(findings_.join(QLatin1Char('\n')));
  }
  plot_->Replot();
  emit updated();
}

QString TInstrumentOverlay::StatusText() const {
  return panel_->text();
}

}  // namespace ondrevo
