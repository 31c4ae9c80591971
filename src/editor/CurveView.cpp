#include "editor/CurveView.h"

#include <QPointF>
#include <algorithm>
#include <limits>

#include "plot/Plot.h"

namespace ondrevo {

namespace {
const QColor kVoltageColor(Qt::blue);
const QColor kCurrentColor(Qt::red);
PlotAxis AxisOf(Quantity q) {
  return q == Quantity::Voltage ? PlotAxis::Left : PlotAxis::Right;
}
}  // namespace

TCurveView::TCurveView(TPlot* plot) : plot_(plot) {
  uLine_ = plot_->AddSeries(QStringLiteral("U_Line"), PlotAxis::Left);
  uLine_->SetColor(kVoltageColor);
  uLine_->SetMarker(PlotMarker::Rectangle);
  iLine_ = plot_->AddSeries(QStringLiteral("I_Line"), PlotAxis::Right);
  iLine_->SetColor(kCurrentColor);
  iLine_->SetMarker(PlotMarker::Rectangle);
  for (int i = 0; i < kPreviewSlotCount; ++i) {
    TPlotSeries* line = plot_->AddSeries(QStringLiteral("UE_Line%1").arg(i + 1), PlotAxis::Left);
    line->SetColor(kVoltageColor);
    line->SetWidth(1);
    line->SetMarker(PlotMarker::None);
    TPlotSeries* base = plot_->AddSeries(QStringLiteral("Mark_Line%1").arg(i + 1), PlotAxis::Left);
    base->SetColor(Qt::white);
    base->SetLineStyle(PlotLineStyle::DashDot);
    base->SetWidth(1);
    base->SetMarker(PlotMarker::None);
    lines_[static_cast<std::size_t>(i)] = line;
    bases_[static_cast<std::size_t>(i)] = base;
  }
  for (Quantity q : {Quantity::Voltage, Quantity::Current}) {
    TPlotSeries* s = plot_->AddSeries(
        q == Quantity::Voltage ? QStringLiteral("LimitU_Line") : QStringLiteral("LimitI_Line"),
        AxisOf(q));
    s->SetColor(kBeyondLimitColor.darker(130));
    s->SetWidth(4);
    s->SetMarker(PlotMarker::None);
    breach_[q == Quantity::Voltage ? 0 : 1] = s;
  }
  mark_ = plot_->AddSeries(QStringLiteral("Mark"), PlotAxis::Left);
  mark_->SetColor(kCurrentColor);
  mark_->SetMarker(PlotMarker::Ellipse);
  mark_->SetVisible(false);
}

TPlotSeries* TCurveView::Curve(Quantity q) const {
  return q == Quantity::Voltage ? uLine_ : iLine_;
}

void TCurveView::FreeSlots(Quantity q) {
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    if (!slots_[s].Used || slots_[s].Owner != q) continue;
    slots_[s] = Slot{};
    lines_[s]->Clear();
    bases_[s]->Clear();
  }
}

void TCurveView::Clear() {
  uLine_->Clear();
  iLine_->Clear();
  FreeSlots(Quantity::Voltage);
  FreeSlots(Quantity::Current);
}

void TCurveView::DrawLine(Quantity q, const SegmentTable& t) {
  const std::int32_t n = t.LastPointIndex();
  std::vector<QPointF> points;
  if (n > 0) {
    points.reserve(static_cast<std::size_t>(n) + 1);
    for (std::int32_t i = 0; i <= n; ++i) points.emplace_back(t[i].Time, t[i].Value);
  }
  Curve(q)->SetPoints(std::move(points));
}

void TCurveView::SetPreviewsVisible(bool visible) {
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    lines_[s]->SetVisible(visible);
    bases_[s]->SetVisible(visible);
  }
}

void TCurveView::Draw(Quantity q, const SegmentTable& t) {
  const std::int32_t n = t.LastPointIndex();
  DrawLine(q, t);
  const double minStep = MinTimeStep ? MinTimeStep() : 0.01;
  const double shownFrom = plot_->AxisMin(PlotAxis::Bottom);
  const double shownTo = plot_->AxisMax(PlotAxis::Bottom);
  const double axisWidth = shownTo - shownFrom;

  // Slots whose segment is drawn as before stay; the others are freed and handed out again.
  std::vector<std::pair<std::int32_t, SlotKey>> wanted;
  for (std::int32_t i = 0; i < n; ++i) {
    if (!t.HasSuperposition(i)) continue;
    // Only the part on screen is computed, at the resolution of the span shown (zoomed in,
    // the whole segment at that resolution would be too many points, and fewer would alias).
    SlotKey key{t[i],    t[i].Time, t[i + 1].Time,
                t[i].Value, t[i + 1].Value, minStep, axisWidth,
                std::max(shownFrom, t[i].Time), std::min(shownTo, t[i + 1].Time)};
    key.Row.PreviewSlot = 0;
    wanted.emplace_back(i, key);
  }
  std::vector<bool> done(wanted.size(), false);
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    Slot& slot = slots_[s];
    if (!slot.Used || slot.Owner != q) continue;
    bool keep = false;
    for (std::size_t w = 0; w < wanted.size(); ++w) {
      if (!done[w] && wanted[w].first == slot.Segment && wanted[w].second == slot.Key) {
        done[w] = keep = true;
        break;
      }
    }
    if (!keep) {
      slot = Slot{};
      lines_[s]->Clear();
      bases_[s]->Clear();
    }
  }
  std::size_t next = 0;
  for (std::size_t w = 0; w < wanted.size(); ++w) {
    if (done[w]) continue;
    while (next < slots_.size() && slots_[next].Used) ++next;
    // The core keeps at most 50 superposed segments in the document.
    if (next >= slots_.size()) break;
    const SlotKey& key = wanted[w].second;
    slots_[next] = {true, q, wanted[w].first, key};
    const Polyline preview =
        SegmentPreview(key.Row, key.T0, key.T1, key.Y0, key.Y1, minStep, axisWidth, key.From, key.To);
    std::vector<QPointF> line;
    line.reserve(preview.size());
    for (const PreviewPoint& p : preview) line.emplace_back(p.T, p.V);
    lines_[next]->SetAxis(AxisOf(q));
    lines_[next]->SetColor(q == Quantity::Voltage ? kVoltageColor : kCurrentColor);
    lines_[next]->SetPoints(std::move(line));
    bases_[next]->SetAxis(AxisOf(q));
    bases_[next]->SetPoints({QPointF(key.T0, key.Y0), QPointF(key.T1, key.Y1)});
  }
}

void TCurveView::DrawBreaches(Quantity q, const SegmentTable& t,
                              const std::vector<LimitBreach>& breaches) {
  std::vector<QPointF> points;
  for (const LimitBreach& b : breaches) {
    if (b.Segment >= t.LastPointIndex()) continue;
    const SegmentRow& p0 = t[b.Segment];
    const SegmentRow& p1 = t[b.Segment + 1];
    auto ramp = [&](double x) {
      return p1.Time > p0.Time ? p0.Value + (x - p0.Time) / (p1.Time - p0.Time) * (p1.Value - p0.Value)
                               : p1.Value;
    };
    // A gap between stretches that do not meet.
    if (!points.empty() && points.back().x() != b.From)
      points.emplace_back(b.From, std::numeric_limits<double>::quiet_NaN());
    points.emplace_back(b.From, ramp(b.From));
    points.emplace_back(b.To, ramp(b.To));
  }
  BreachSeries(q)->SetPoints(std::move(points));
}

int TCurveView::SlotOf(Quantity q, int segment) const {
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    if (slots_[s].Used && slots_[s].Owner == q && slots_[s].Segment == segment) {
      return static_cast<int>(s);
    }
  }
  return -1;
}

int TCurveView::UsedSlots() const {
  int n = 0;
  for (const Slot& s : slots_) n += s.Used ? 1 : 0;
  return n;
}

void TCurveView::PlaceMark(Quantity active) {
  mark_->SetAxis(AxisOf(active));
  mark_->SetColor(active == Quantity::Voltage ? kCurrentColor : kVoltageColor);
}

void TCurveView::ShowMark(bool visible) {
  mark_->SetVisible(visible);
}

void TCurveView::MarkPoints(Quantity active, int first, int last) {
  const TPlotSeries* curve = Curve(active);
  std::vector<QPointF> points;
  if (curve->Count() < 2) {
    points = {QPointF(0, 0), QPointF(0, 0)};
  } else {
    first = std::clamp(first, 0, curve->Count() - 1);
    last = std::clamp(last, 0, curve->Count() - 1);
    if (first == last) first = std::max(0, last - 1);
    for (int i = first; i <= last; ++i) points.push_back(curve->Point(i));
  }
  mark_->SetPoints(std::move(points));
}

}  // namespace ondrevo
