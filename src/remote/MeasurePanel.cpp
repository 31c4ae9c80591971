#include "remote/MeasurePanel.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/TrQ.h"
#include "measure/Deviation.h"
#include "plot/Plot.h"

namespace ondrevo {

namespace {

const QColor kDesign(60, 60, 60);
const QColor kPoints(90, 150, 255);
const QColor kMeasuredVoltage(0, 0, 200);
const QColor kMeasuredCurrent(200, 0, 0);

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Sets the axis to 0..max on round ticks (1, 2, 2.5 or 5 times a power of ten apart, at most
// ten steps).
void SetRoundRange(TPlot* plot, PlotAxis axis, double max) {
  if (!(max > 0) || !std::isfinite(max)) max = 1.0;
  const double raw = max / 10;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * decade;
  for (double m : {1.0, 2.0, 2.5, 5.0})
    if (m * decade >= raw * (1 - 1e-9)) {
      step = m * decade;
      break;
    }
  const int steps = std::max(1, static_cast<int>(std::ceil(max / step - 1e-9)));
  plot->SetTickCount(axis, steps + 1);
  plot->SetAxisRange(axis, 0, steps * step);
}

}  // namespace

TMeasurePanel::TMeasurePanel(QAction* saveRecord, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("MeasurePanel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* top = new QHBoxLayout;
  auto* caption = new QLabel(TrQ("Measure:"), this);
  choice_ = new QComboBox(this);
  choice_->setObjectName(QStringLiteral("MeasureChoice"));
  choice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  caption->setBuddy(choice_);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("MeasureNote"));
  note_->setWordWrap(true);
  auto* save = new QToolButton(this);
  save->setObjectName(QStringLiteral("SaveRecordButton"));
  save->setDefaultAction(saveRecord);
  save->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  top->addWidget(caption);
  top->addWidget(choice_);
  top->addWidget(note_, 1);
  top->addWidget(save);
  layout->addLayout(top);

  plot_ = new TPlot(this);
  plot_->setObjectName(QStringLiteral("MeasurePlot"));
  plot_->setMinimumHeight(160);
  plot_->SetAxisCaption(PlotAxis::Bottom, TrQ("Time [s]"));
  plot_->SetAxisCaption(PlotAxis::Left, TrQ("Voltage [V]"));
  plot_->SetAxisCaption(PlotAxis::Right, TrQ("Current [A]"));
  auto add = [this](const char* name, PlotAxis axis, const QColor& color, PlotLineStyle style) {
    TPlotSeries* s = plot_->AddSeries(QString::fromLatin1(name), axis);
    s->SetColor(color);
    s->SetLineStyle(style);
    return s;
  };
  // The design on top of the points, which mostly lie on it.
  add("Points", PlotAxis::Left, kPoints, PlotLineStyle::Solid)->SetWidth(3);
  add("Design", PlotAxis::Left, kDesign, PlotLineStyle::DashDot)->SetWidth(2);
  add("MeasuredVoltage", PlotAxis::Left, kMeasuredVoltage, PlotLineStyle::Solid)->SetWidth(2);
  add("MeasuredCurrent", PlotAxis::Right, kMeasuredCurrent, PlotLineStyle::Solid);
  layout->addWidget(plot_, 1);
  auto* legend = new QLabel(this);
  auto item = [](const QColor& color, const QString& text) {
    return QStringLiteral("<span style=\"color:%1\">&#9644;</span>&nbsp;%2&nbsp;&nbsp;&nbsp;")
        .arg(color.name(), text.toHtmlEscaped());
  };
  legend->setText(item(kDesign, TrQ("design")) + item(kPoints, TrQ("instrument points")) +
                  item(kMeasuredVoltage, TrQ("measured voltage")) +
                  item(kMeasuredCurrent, TrQ("measured current")));
  layout->addWidget(legend);

  figures_ = new QLabel(this);
  figures_->setObjectName(QStringLiteral("MeasureFigures"));
  figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(figures_);
  SetOffer({});
}

void TMeasurePanel::SetOffer(const TMeasureOffer& offer) {
  QStringList entries{TrQ("none")};
  if (offer.SupplyItself) entries << TrQ("the supply itself");
  for (const TMeterCandidate& m : offer.Meters)
    entries << TrQ("meter") + QStringLiteral(" ") + Q(m.Name) + QStringLiteral("  (") +
                   Q(m.Identification) + QLatin1Char(')');
  note_->setText(Q(offer.Note));
  offer_ = offer;
  if (entries == entries_) return;
  const QString kept = choice_->currentText();
  entries_ = entries;
  choice_->clear();
  choice_->addItems(entries);
  choice_->setCurrentIndex(std::max(0, static_cast<int>(entries.indexOf(kept))));
}

void TMeasurePanel::SetChoiceEnabled(bool enabled) {
  choice_->setEnabled(enabled);
}

EMeasureChoice TMeasurePanel::Choice() const {
  const int k = choice_->currentIndex();
  if (k <= 0) return EMeasureChoice::None;
  if (offer_.SupplyItself && k == 1) return EMeasureChoice::Supply;
  return EMeasureChoice::Meter;
}

const TMeterCandidate* TMeasurePanel::Meter() const {
  if (Choice() != EMeasureChoice::Meter) return nullptr;
  const int k = choice_->currentIndex() - 1 - (offer_.SupplyItself ? 1 : 0);
  if (k < 0 || k >= static_cast<int>(offer_.Meters.size())) return nullptr;
  return &offer_.Meters[static_cast<std::size_t>(k)];
}

bool TMeasurePanel::Choose(EMeasureChoice choice, int meter) {
  int k = 0;
  if (choice == EMeasureChoice::Supply) {
    if (!offer_.SupplyItself) return false;
    k = 1;
  } else if (choice == EMeasureChoice::Meter) {
    if (meter < 0 || meter >= static_cast<int>(offer_.Meters.size())) return false;
    k = 1 + (offer_.SupplyItself ? 1 : 0) + meter;
  }
  choice_->setCurrentIndex(k);
  return true;
}

void TMeasurePanel::BeginRun(const TRecordInput& in) {
  lastDesignTime_ = -1;
  plot_->Series(QStringLiteral("MeasuredVoltage"))->Clear();
  plot_->Series(QStringLiteral("MeasuredCurrent"))->Clear();
  const double duration = in.Duration > 0 ? in.Duration : 1.0;
  std::vector<QPointF> design;
  double vmax = 0;
  if (in.DesignVoltage) {
    constexpr int kSamples = 600;
    for (int k = 0; k <= kSamples; ++k) {
      const double t = duration * k / kSamples;
      const double v = in.DesignVoltage(t);
      design.emplace_back(t, v);
      vmax = std::max(vmax, v);
    }
  }
  plot_->Series(QStringLiteral("Design"))->SetPoints(std::move(design));
  // The points as the supply holds them: a staircase.
  std::vector<QPointF> points;
  for (std::size_t j = 0; j + 1 < in.PointTimes.size() && j < in.PointVoltage.size(); ++j) {
    points.emplace_back(in.PointTimes[j], in.PointVoltage[j]);
    points.emplace_back(in.PointTimes[j + 1], in.PointVoltage[j]);
    vmax = std::max(vmax, in.PointVoltage[j]);
  }
  plot_->Series(QStringLiteral("Points"))->SetPoints(std::move(points));
  double imax = 0;
  if (in.DesignCurrent)
    for (int k = 0; k <= 100; ++k) imax = std::max(imax, in.DesignCurrent(duration * k / 100));
  SetRoundRange(plot_, PlotAxis::Bottom, duration);
  SetRoundRange(plot_, PlotAxis::Left, vmax * 1.05);
  SetRoundRange(plot_, PlotAxis::Right, imax * 1.05);
  figures_->clear();
  plot_->Replot();
}

void TMeasurePanel::AddReadings(const TRecordInput& in, const std::vector<TReading>& fresh) {
  if (fresh.empty()) return;
  TPlotSeries* volts = plot_->Series(QStringLiteral("MeasuredVoltage"));
  TPlotSeries* amps = plot_->Series(QStringLiteral("MeasuredCurrent"));
  std::vector<QPointF> v = volts->Points(), i = amps->Points();
  for (const TReading& r : fresh) {
    if (!Judged(in, r)) continue;
    const double u = DesignTime(in, r.Time);
    if (u < lastDesignTime_) {  // the next repetition
      v.clear();
      i.clear();
    }
    lastDesignTime_ = u;
    v.emplace_back(u, r.Voltage);
    i.emplace_back(u, r.Current);
    // Keep what the supply delivers beyond the design in view.
    if (r.Voltage > plot_->AxisMax(PlotAxis::Left))
      SetRoundRange(plot_, PlotAxis::Left, r.Voltage * 1.05);
    if (r.Current > plot_->AxisMax(PlotAxis::Right))
      SetRoundRange(plot_, PlotAxis::Right, r.Current * 1.05);
  }
  volts->SetPoints(std::move(v));
  amps->SetPoints(std::move(i));
  plot_->Replot();
}

void TMeasurePanel::ShowFigures(const TRecordInput& in, const TRunningFigures& f,
                                std::size_t failures) {
  QString text = Q(in.Source) + QStringLiteral(": ") + QString::number(f.Count) + QLatin1Char(' ') +
                 TrQ("readings");
  if (f.Count > 0)
    text += QStringLiteral(" \u00b7 ") + TrQ("largest deviation so far") + QLatin1Char(' ') +
            Q(RoundedNumber(f.MaxDeviation, 4)) + QStringLiteral(" V ") + TrQ("at") +
            QLatin1Char(' ') + Q(RoundedNumber(f.MaxDeviationAt, 4)) +
            QStringLiteral(" s \u00b7 ") + TrQ("in current limit") + QLatin1Char(' ') +
            Q(RoundedNumber(f.CurrentLimited, 4)) + QStringLiteral(" s");
  if (failures > 0)
    text += QStringLiteral(" \u00b7 ") + QString::number(failures) + QLatin1Char(' ') +
            TrQ("readings failed");
  figures_->setText(text);
}

QString TMeasurePanel::FiguresText() const {
  return figures_->text();
}

}  // namespace ondrevo
