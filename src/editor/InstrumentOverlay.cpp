#include "editor/InstrumentOverlay.h"

#include <QAction>
#include <QLabel>
#include <QPointF>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <vector>

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

// The card's stream of one curve: equidistant samples, each held for one interval.
// Values beyond the supply's range are played at its limit, as by the supply the card drives.
std::vector<QPointF> StreamGrid(const SegmentTable& table, double rate, double min, double max) {
  auto waveform = BuildWaveform(table);
  waveform->MinValue = min;
  waveform->MaxValue = max;
  const double duration = waveform->GetDuration();
  if (waveform->Empty() || duration <= 0 || rate <= 0) return {};
  const auto count = static_cast<std::int32_t>(std::ceil(duration * rate - 1e-9));
  TEquidistantSampler sampler;
  sampler.Waveform = waveform.get();
  sampler.Start(0, 0, 1.0 / rate);
  TDoubleVector samples(static_cast<std::size_t>(std::max(count, 1)));
  std::uint32_t restarts = 0;
  TIntegerVector restartPositions;
  sampler.Fill(samples, restarts, restartPositions);
  TDoubleVector times(samples.size() + 1);
  for (std::size_t k = 0; k < times.size(); ++k)
    times[k] = std::min(duration, static_cast<double>(k) / rate);
  return Staircase(times, samples);
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

double DaqGridRate(double duration) {
  if (duration <= 0) return kDaqGridRate;
  return std::min(kDaqGridRate, kMaxDaqGridSamples / duration);
}

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

  // The result arrives on the worker thread; only the GUI thread draws.
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
    waiting_ = 0;  // whatever is still under way is stale now
    requested_ = delivered_ = requested_ + 1;
    Clear();
  }
  plot_->Replot();
}

void TInstrumentOverlay::Clear() {
  voltage_->Clear();
  current_->Clear();
  shown_.reset();
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
    waiting_ = 0;
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
    requested_ = delivered_ = requested_ + 1;
    ShowDaqGrid(target.Settings);
    return;
  }
  PreviewRequest request;
  request.Voltage = core_.Curve(Quantity::Voltage);
  request.Current = core_.Curve(Quantity::Current);
  request.Settings = target.Settings;
  ++requested_;
  waiting_ = worker_->Request(std::move(request));
}

void TInstrumentOverlay::ShowDaqGrid(const SupplyListSettings& limits) {
  const SegmentTable& v = core_.Curve(Quantity::Voltage);
  const SegmentTable& i = core_.Curve(Quantity::Current);
  const double rate = DaqGridRate(std::max(v.Length(), i.Length()));
  Clear();
  try {
    voltage_->SetPoints(StreamGrid(v, rate, limits.MinVoltage, limits.MaxVoltage));
    current_->SetPoints(StreamGrid(i, rate, limits.MinCurrent, limits.MaxCurrent));
    const auto samples = static_cast<qlonglong>(std::max(voltage_->Count(), current_->Count()) / 2);
    panel_->setText(T("Analog output card: %1 samples at %2 samples/s")
                        .arg(samples)
                        .arg(Localized(FormatGeneral(rate))));
  } catch (const std::exception& e) {
    Clear();
    panel_->setText(Q(e.what()));
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
