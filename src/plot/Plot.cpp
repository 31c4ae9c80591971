#include "plot/Plot.h"

#include <qcustomplot.h>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRubberBand>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace ondrevo {

namespace {

// Ticks at equal steps between the range ends (the library's own ticker picks "nice" steps and
// a varying count); labels from a callback or with at most `decimals` decimals.
class TFixedCountTicker : public QCPAxisTicker {
 public:
  int count = 11;
  int decimals = 2;
  std::function<QString(double)> labeler;

 protected:
  QVector<double> createTickVector(double, const QCPRange& range) override {
    QVector<double> ticks;
    const int n = std::max(count, 2);
    for (int i = 0; i < n; ++i) {
      ticks.append(i == n - 1 ? range.upper
                              : range.lower + (range.upper - range.lower) * i / (n - 1));
    }
    return ticks;
  }
  QVector<double> createSubTickVector(int, const QVector<double>&) override { return {}; }
  QString getTickLabel(double tick, const QLocale& locale, QChar, int) override {
    if (labeler) return labeler(tick);
    QString text = locale.toString(tick, 'f', decimals);
    if (decimals > 0 && text.contains(locale.decimalPoint())) {
      while (text.endsWith(QLatin1Char('0'))) text.chop(1);
      if (text.endsWith(locale.decimalPoint())) text.chop(locale.decimalPoint().size());
    }
    if (text == QLatin1String("-0")) text = QStringLiteral("0");
    return text;
  }
};

}  // namespace

struct TPlot::Impl {
  QFrame* frame = nullptr;
  QCustomPlot* cp = nullptr;
  QSharedPointer<TFixedCountTicker> tickers[3];
  QRubberBand* band = nullptr;
  enum class Drag { None, Zoom, Pan } drag = Drag::None;
  QPoint origin, last;
  QCursor savedCursor;
  QCPRange panFrom[3];  // the ranges a pan started from, for Escape
  QColor gridColor = QColor(128, 128, 128);

  QCPAxis* Axis(PlotAxis a) const {
    switch (a) {
      case PlotAxis::Left:
        return cp->yAxis;
      case PlotAxis::Right:
        return cp->yAxis2;
      case PlotAxis::Bottom:
        break;
    }
    return cp->xAxis;
  }
  int Index(PlotAxis a) const { return static_cast<int>(a); }
};

// ---- series -----------------------------------------------------------------------------------

namespace {
QCPGraph* G(void* graph) {
  return static_cast<QCPGraph*>(graph);
}
}  // namespace

TPlotSeries::TPlotSeries(TPlot* plot, QString name, void* graph)
    : plot_(plot), name_(std::move(name)), graph_(graph) {}

void TPlotSeries::SetAxis(PlotAxis axis) {
  if (axis == PlotAxis::Bottom || axis == axis_) return;
  axis_ = axis;
  G(graph_)->setValueAxis(plot_->d_->Axis(axis));
}

void TPlotSeries::SetColor(const QColor& color) {
  QPen pen = G(graph_)->pen();
  pen.setColor(color);
  G(graph_)->setPen(pen);
  ApplyPen();
}

QColor TPlotSeries::Color() const {
  return G(graph_)->pen().color();
}

void TPlotSeries::SetLineStyle(PlotLineStyle style) {
  style_ = style;
  QPen pen = G(graph_)->pen();
  pen.setStyle(style == PlotLineStyle::DashDot ? Qt::DashDotLine : Qt::SolidLine);
  G(graph_)->setPen(pen);
}

void TPlotSeries::SetWidth(int width) {
  QPen pen = G(graph_)->pen();
  pen.setWidth(width);
  G(graph_)->setPen(pen);
}

void TPlotSeries::SetMarker(PlotMarker marker) {
  marker_ = marker;
  ApplyPen();
}

void TPlotSeries::SetMarkersVisible(bool visible) {
  markersVisible_ = visible;
  ApplyPen();
}

void TPlotSeries::UpdateDensity(double min, double max, int pixels) {
  auto byX = [](const QPointF& p, double x) { return p.x() < x; };
  const auto first = std::lower_bound(points_.begin(), points_.end(), min, byX);
  const auto last = std::lower_bound(first, points_.end(), max, byX);
  const bool dense = (last - first) * 3 > pixels;
  if (dense == dense_) return;
  dense_ = dense;
  ApplyPen();
}

void TPlotSeries::ApplyPen() {
  QCPScatterStyle style;
  if (markersVisible_ && !dense_ && marker_ != PlotMarker::None) {
    const QColor c = G(graph_)->pen().color();
    if (marker_ == PlotMarker::Ellipse) {
      style = QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(c), QBrush(c), 9);
    } else {
      style = QCPScatterStyle(QCPScatterStyle::ssSquare, QPen(c), QBrush(Qt::white), 6);
    }
  }
  G(graph_)->setScatterStyle(style);
}

void TPlotSeries::SetVisible(bool visible) {
  G(graph_)->setVisible(visible);
}
bool TPlotSeries::Visible() const {
  return G(graph_)->visible();
}

void TPlotSeries::Clear() {
  points_.clear();
  Push();
}

void TPlotSeries::AddPoint(double x, double y) {
  points_.emplace_back(x, y);
  // Appending in key order keeps the container sorted without a full copy.
  if (points_.size() == 1 || x >= points_[points_.size() - 2].x()) {
    G(graph_)->addData(x, y);
  } else {
    Push();
  }
}

namespace {
// Bit for bit (QPointF's own comparison is fuzzy).
bool Same(const QPointF& a, const QPointF& b) {
  return std::memcmp(&a, &b, sizeof(QPointF)) == 0;
}
}  // namespace

void TPlotSeries::SetPoints(std::vector<QPointF> points) {
  // A redraw after an edit hands over the same points but a few: only those change in the
  // library's container (handing over all of them copies and sorts the whole series again).
  const std::size_t n = points.size();
  if (sorted_ && n == points_.size()) {
    std::size_t a = 0, b = n;
    while (a < n && Same(points[a], points_[a])) ++a;
    while (b > a && Same(points[b - 1], points_[b - 1])) --b;
    bool sorted = true;
    for (std::size_t i = std::max<std::size_t>(a, 1); i < std::min(b + 1, n); ++i) {
      if (points[i].x() < points[i - 1].x()) sorted = false;
    }
    if (sorted) {
      QSharedPointer<QCPGraphDataContainer> data = G(graph_)->data();
      auto it = data->begin() + static_cast<int>(a);
      for (std::size_t i = a; i < b; ++i, ++it) {
        it->key = points[i].x();
        it->value = points[i].y();
      }
      points_ = std::move(points);
      return;
    }
  }
  points_ = std::move(points);
  Push();
}

void TPlotSeries::SetPoint(int index, double x, double y) {
  points_.at(static_cast<std::size_t>(index)) = QPointF(x, y);
  Push();
}

void TPlotSeries::RemoveLast() {
  if (points_.empty()) return;
  points_.pop_back();
  Push();
}

void TPlotSeries::Push() {
  QVector<double> keys, values;
  keys.reserve(static_cast<qsizetype>(points_.size()));
  values.reserve(static_cast<qsizetype>(points_.size()));
  bool sorted = true;
  for (std::size_t i = 0; i < points_.size(); ++i) {
    keys.append(points_[i].x());
    values.append(points_[i].y());
    if (i > 0 && points_[i].x() < points_[i - 1].x()) sorted = false;
  }
  // Equal keys (vertical steps) keep their order: data already in key order is taken as is.
  G(graph_)->setData(keys, values, sorted);
  sorted_ = sorted;
}

// ---- plot -------------------------------------------------------------------------------------

TPlot::TPlot(QWidget* parent) : QWidget(parent), d_(std::make_unique<Impl>()) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  d_->frame = new QFrame(this);
  d_->frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  layout->addWidget(d_->frame);
  auto* inner = new QVBoxLayout(d_->frame);
  inner->setContentsMargins(2, 2, 2, 2);
  d_->cp = new QCustomPlot(d_->frame);
  d_->cp->setObjectName(QStringLiteral("PlotCanvas"));
  inner->addWidget(d_->cp);
  d_->cp->setBackground(Qt::white);
  d_->cp->setMouseTracking(true);
  d_->cp->installEventFilter(this);
  d_->cp->setNotAntialiasedElements(QCP::aeAll);
  // No legend is shown: items for a hundred series would be laid out again on every replot.
  d_->cp->setAutoAddPlottableToLegend(false);
  // The plot fills its whole area, so nothing beneath it needs painting on a redraw.
  d_->cp->setAttribute(Qt::WA_OpaquePaintEvent);
  d_->cp->yAxis2->setVisible(true);
  // Markers closer than three pixels hide the line and each other; they come back on zooming in.
  connect(d_->cp, &QCustomPlot::beforeReplot, this, [this] {
    const QCPRange range = d_->cp->xAxis->range();
    const int pixels = d_->cp->axisRect()->width();
    for (auto& s : series_) {
      if (s->marker_ != PlotMarker::None) s->UpdateDensity(range.lower, range.upper, pixels);
    }
  });

  for (PlotAxis a : {PlotAxis::Left, PlotAxis::Right, PlotAxis::Bottom}) {
    QCPAxis* axis = d_->Axis(a);
    auto ticker = QSharedPointer<TFixedCountTicker>::create();
    d_->tickers[d_->Index(a)] = ticker;
    axis->setTicker(ticker);
    axis->setSubTicks(false);
    axis->setTickLabels(true);
    const QPen gray(QColor(128, 128, 128));
    axis->setBasePen(gray);
    axis->setTickPen(gray);
    axis->grid()->setPen(QPen(d_->gridColor, 0, Qt::DotLine));
    axis->grid()->setZeroLinePen(Qt::NoPen);
    axis->grid()->setSubGridVisible(false);
  }
  d_->cp->yAxis2->grid()->setVisible(false);
  d_->band = new QRubberBand(QRubberBand::Rectangle, d_->cp);
}

TPlot::~TPlot() = default;

void TPlot::SetAxisCaption(PlotAxis axis, const QString& caption) {
  d_->Axis(axis)->setLabel(caption);
}
QString TPlot::AxisCaption(PlotAxis axis) const {
  return d_->Axis(axis)->label();
}

void TPlot::SetAxisRange(PlotAxis axis, double min, double max) {
  d_->Axis(axis)->setRange(min, max);
  d_->cp->replot(QCustomPlot::rpQueuedReplot);
}
double TPlot::AxisMin(PlotAxis axis) const {
  return d_->Axis(axis)->range().lower;
}
double TPlot::AxisMax(PlotAxis axis) const {
  return d_->Axis(axis)->range().upper;
}

void TPlot::SetTickCount(PlotAxis axis, int count) {
  d_->tickers[d_->Index(axis)]->count = count;
}
int TPlot::TickCount(PlotAxis axis) const {
  return d_->tickers[d_->Index(axis)]->count;
}

std::vector<double> TPlot::TickPositions(PlotAxis axis) const {
  d_->cp->replot(QCustomPlot::rpImmediateRefresh);
  const QVector<double> ticks = d_->Axis(axis)->tickVector();
  return std::vector<double>(ticks.begin(), ticks.end());
}

QStringList TPlot::TickLabels(PlotAxis axis) const {
  d_->cp->replot(QCustomPlot::rpImmediateRefresh);
  return d_->Axis(axis)->tickVectorLabels();
}

void TPlot::SetNumberDecimals(PlotAxis axis, int decimals) {
  d_->tickers[d_->Index(axis)]->decimals = decimals;
}

void TPlot::SetBottomTickLabeler(std::function<QString(double)> labeler) {
  d_->tickers[d_->Index(PlotAxis::Bottom)]->labeler = std::move(labeler);
}

void TPlot::SetAxisLineVisible(PlotAxis axis, bool visible) {
  QCPAxis* a = d_->Axis(axis);
  const QPen pen = visible ? QPen(QColor(128, 128, 128)) : QPen(Qt::NoPen);
  a->setBasePen(pen);
  a->setTickPen(pen);
}

void TPlot::SetGridVisible(PlotAxis axis, bool visible) {
  d_->Axis(axis)->grid()->setVisible(visible);
  d_->cp->replot(QCustomPlot::rpQueuedReplot);
}
bool TPlot::GridVisible(PlotAxis axis) const {
  return d_->Axis(axis)->grid()->visible();
}

void TPlot::SetGridColor(const QColor& color) {
  d_->gridColor = color;
  for (PlotAxis a : {PlotAxis::Left, PlotAxis::Right, PlotAxis::Bottom}) {
    d_->Axis(a)->grid()->setPen(QPen(color, 0, Qt::DotLine));
  }
}

void TPlot::SetTickLabelsVisible(bool visible) {
  for (PlotAxis a : {PlotAxis::Left, PlotAxis::Right, PlotAxis::Bottom}) {
    d_->Axis(a)->setTickLabels(visible);
    d_->Axis(a)->setTicks(visible);
  }
}

void TPlot::SetMargins(int left, int top, int right, int bottom) {
  QCPAxisRect* rect = d_->cp->axisRect();
  if (left == 0 && top == 0 && right == 0 && bottom == 0) {
    rect->setAutoMargins(QCP::msNone);
    rect->setMargins(QMargins(0, 0, 0, 0));
  } else {
    rect->setAutoMargins(QCP::msAll);
    rect->setMinimumMargins(QMargins(left, top, right, bottom));
  }
}

TPlotSeries* TPlot::AddSeries(const QString& name, PlotAxis axis) {
  QCPAxis* valueAxis = d_->Axis(axis == PlotAxis::Bottom ? PlotAxis::Left : axis);
  QCPGraph* graph = d_->cp->addGraph(d_->cp->xAxis, valueAxis);
  graph->setName(name);
  graph->setAdaptiveSampling(true);
  series_.push_back(std::unique_ptr<TPlotSeries>(new TPlotSeries(this, name, graph)));
  TPlotSeries* s = series_.back().get();
  s->axis_ = axis == PlotAxis::Bottom ? PlotAxis::Left : axis;
  return s;
}

TPlotSeries* TPlot::Series(const QString& name) const {
  for (const auto& s : series_) {
    if (s->Name() == name) return s.get();
  }
  return nullptr;
}

double TPlot::PixelToValue(PlotAxis axis, double pixel) const {
  return d_->Axis(axis)->pixelToCoord(pixel);
}
double TPlot::ValueToPixel(PlotAxis axis, double value) const {
  return d_->Axis(axis)->coordToPixel(value);
}
QRect TPlot::PlotRect() const {
  return d_->cp->axisRect()->rect();
}
QWidget* TPlot::Canvas() const {
  return d_->cp;
}

void TPlot::Replot() {
  d_->cp->replot(QCustomPlot::rpImmediateRefresh);
}

QImage TPlot::Render(QSize size) {
  return d_->cp->toPixmap(size.width(), size.height()).toImage();
}

void TPlot::EndDrag(bool cancelled) {
  QCustomPlot* cp = d_->cp;
  qApp->removeEventFilter(this);
  if (d_->drag == Impl::Drag::Zoom) d_->band->hide();
  if (d_->drag == Impl::Drag::Pan) {
    cp->setCursor(d_->savedCursor);
    if (cancelled) {
      for (PlotAxis a : {PlotAxis::Bottom, PlotAxis::Left, PlotAxis::Right})
        d_->Axis(a)->setRange(d_->panFrom[d_->Index(a)]);
      cp->replot(QCustomPlot::rpQueuedReplot);
      emit rangesChanged();
    }
  }
  d_->drag = Impl::Drag::None;
}

bool TPlot::eventFilter(QObject* watched, QEvent* event) {
  // Escape ends a zoom or pan wherever the keyboard focus is.
  if (event->type() == QEvent::KeyPress && d_->drag != Impl::Drag::None &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    EndDrag(true);
    return true;
  }
  if (watched != d_->cp) return QWidget::eventFilter(watched, event);
  QCustomPlot* cp = d_->cp;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (d_->drag != Impl::Drag::None) return true;
      if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier)) {
        d_->drag = Impl::Drag::Zoom;
        qApp->installEventFilter(this);
        d_->origin = e->position().toPoint();
        d_->band->setGeometry(QRect(d_->origin, QSize()));
        d_->band->show();
        return true;
      }
      if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::AltModifier)) {
        d_->drag = Impl::Drag::Pan;
        qApp->installEventFilter(this);
        for (PlotAxis a : {PlotAxis::Bottom, PlotAxis::Left, PlotAxis::Right})
          d_->panFrom[d_->Index(a)] = d_->Axis(a)->range();
        d_->last = e->position().toPoint();
        d_->savedCursor = cp->cursor();
        cp->setCursor(Qt::ClosedHandCursor);
        return true;
      }
      emit plotMousePressed(e);
      return true;
    }
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint pos = e->position().toPoint();
      if (d_->drag == Impl::Drag::Zoom) {
        d_->band->setGeometry(QRect(d_->origin, pos).normalized());
        return true;
      }
      if (d_->drag == Impl::Drag::Pan) {
        for (PlotAxis a : {PlotAxis::Bottom, PlotAxis::Left, PlotAxis::Right}) {
          QCPAxis* axis = d_->Axis(a);
          const bool horizontal = a == PlotAxis::Bottom;
          const double from = axis->pixelToCoord(horizontal ? d_->last.x() : d_->last.y());
          const double to = axis->pixelToCoord(horizontal ? pos.x() : pos.y());
          axis->moveRange(from - to);
        }
        d_->last = pos;
        cp->replot(QCustomPlot::rpQueuedReplot);
        emit rangesChanged();
        return true;
      }
      emit plotMouseMoved(e);
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (d_->drag == Impl::Drag::Zoom) {
        EndDrag(false);
        const QRect r = QRect(d_->origin, e->position().toPoint()).normalized();
        if (r.width() < 3 || r.height() < 3) return true;
        struct Change {
          PlotAxis axis;
          double min, max;
        };
        std::vector<Change> changes;
        for (PlotAxis a : {PlotAxis::Bottom, PlotAxis::Left, PlotAxis::Right}) {
          QCPAxis* axis = d_->Axis(a);
          double lo, hi;
          if (a == PlotAxis::Bottom) {
            lo = axis->pixelToCoord(r.left());
            hi = axis->pixelToCoord(r.right());
          } else {
            lo = axis->pixelToCoord(r.bottom());
            hi = axis->pixelToCoord(r.top());
          }
          if (lo > hi) std::swap(lo, hi);
          // One refused axis refuses the whole zoom: a half-applied zoom would distort the curve.
          if (BeforeZoom && !BeforeZoom(a, lo, hi)) return true;
          changes.push_back({a, lo, hi});
        }
        for (const Change& c : changes) d_->Axis(c.axis)->setRange(c.min, c.max);
        cp->replot(QCustomPlot::rpQueuedReplot);
        emit rangesChanged();
        return true;
      }
      if (d_->drag == Impl::Drag::Pan) {
        EndDrag(false);
        return true;
      }
      emit plotMouseReleased(e);
      return true;
    }
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
      return true;  // no wheel zoom: the time axis only widens through the timescale
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace ondrevo
