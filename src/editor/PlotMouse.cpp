#include "editor/PlotMouse.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <cmath>

#include "editor/CurveView.h"
#include "editor/core/EditorCore.h"
#include "plot/Plot.h"

namespace ondrevo {

namespace {

bool ModifierHeld(const QMouseEvent* e) {
  return e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

}  // namespace

TPlotMouse::TPlotMouse(TPlot* plot, TCurveView& curves, const TEditorCore& core, QObject* parent)
    : QObject(parent), plot_(plot), curves_(curves), core_(core) {
  connect(plot_, &TPlot::plotMousePressed, this, &TPlotMouse::Pressed);
  connect(plot_, &TPlot::plotMouseMoved, this, &TPlotMouse::Moved);
  connect(plot_, &TPlot::plotMouseReleased, this, &TPlotMouse::Released);
}

TPlotView TPlotMouse::View() const {
  const PlotAxis valueAxis = core_.Active() == Quantity::Voltage ? PlotAxis::Left : PlotAxis::Right;
  TPlotView v;
  v.TimeMin = plot_->AxisMin(PlotAxis::Bottom);
  v.TimeMax = plot_->AxisMax(PlotAxis::Bottom);
  v.ValueMin = plot_->AxisMin(valueAxis);
  v.ValueMax = plot_->AxisMax(valueAxis);
  auto scale = [this](PlotAxis a, double min, double max) {
    if (!(max > min)) return 1.0;
    return std::abs(plot_->ValueToPixel(a, max) - plot_->ValueToPixel(a, min)) / (max - min);
  };
  v.PixelsPerSecond = scale(PlotAxis::Bottom, v.TimeMin, v.TimeMax);
  v.PixelsPerUnit = scale(valueAxis, v.ValueMin, v.ValueMax);
  v.SnapTime = SnapTime ? SnapTime() : 0;
  v.SnapValue = SnapValue ? SnapValue() : 0;
  return v;
}

TPlotPoint TPlotMouse::ToPlot(const QPointF& pixel) const {
  const PlotAxis valueAxis = core_.Active() == Quantity::Voltage ? PlotAxis::Left : PlotAxis::Right;
  return {plot_->PixelToValue(PlotAxis::Bottom, pixel.x()),
          plot_->PixelToValue(valueAxis, pixel.y())};
}

void TPlotMouse::ShowCursor(PlotCursor cursor) {
  switch (cursor) {
    case PlotCursor::Cross:
      plot_->Canvas()->setCursor(Qt::CrossCursor);
      break;
    case PlotCursor::SizeAll:
      plot_->Canvas()->setCursor(Qt::SizeAllCursor);
      break;
    case PlotCursor::Default:
      plot_->Canvas()->setCursor(Qt::ArrowCursor);
      break;
  }
}

void TPlotMouse::Cancel() {
  ++cancels_;
  if (!editor_.Active()) return;
  editor_.Abort();
  EndLive();
  curves_.DrawLine(core_.Active(), core_.Working());
  ShowCursor(PlotCursor::Cross);
  plot_->Replot();
}

bool TPlotMouse::eventFilter(QObject* watched, QEvent* event) {
  // Escape ends the gesture wherever the keyboard focus is.
  if (event->type() == QEvent::KeyPress && editor_.Active() &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    Cancel();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void TPlotMouse::BeginLive() {
  qApp->installEventFilter(this);
  markWasVisible_ = curves_.MarkSeries()->Visible();
  curves_.ShowMark(false);
  curves_.SetPreviewsVisible(false);
  DrawLive();
}

void TPlotMouse::EndLive() {
  qApp->removeEventFilter(this);
  curves_.SetPreviewsVisible(true);
  curves_.ShowMark(markWasVisible_);
}

void TPlotMouse::DrawLive() {
  curves_.DrawLine(core_.Active(), table_);
  plot_->Replot();
}

void TPlotMouse::Pressed(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || ModifierHeld(e) || editor_.Active()) return;
  const int cancels = cancels_;
  if (BeforePress) BeforePress();
  // Committing the grid showed a message: the button went up in its box.
  if (cancels_ != cancels) return;
  const TPlotView view = View();
  const TPlotPoint m = ToPlot(e->position());
  const bool empty = core_.Working().LastPointIndex() < 1;
  // The cursor decides what the press does; it is taken at the press position.
  editor_.Hover(core_.Working(), empty, m, view);
  table_ = core_.Working();
  const TMouseOutcome out = editor_.Press(table_, empty, m, view);
  if (out.Action == MouseAction::Started) {
    ShowCursor(editor_.Cursor());
    BeginLive();
    return;
  }
  if (out.Action != MouseAction::None && OnOutcome) OnOutcome(out, table_);
}

void TPlotMouse::Moved(QMouseEvent* e) {
  if (ModifierHeld(e)) return;
  const TPlotView view = View();
  const TPlotPoint m = ToPlot(e->position());
  if (!editor_.Active()) {
    ShowCursor(editor_.Hover(core_.Working(), core_.Working().LastPointIndex() < 1, m, view));
    return;
  }
  if (editor_.Move(table_, m, view).Action == MouseAction::Moved) DrawLive();
}

void TPlotMouse::Released(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || ModifierHeld(e) || !editor_.Active()) return;
  const TMouseOutcome out = editor_.Release(table_, ToPlot(e->position()), View());
  EndLive();
  ShowCursor(PlotCursor::Cross);
  if (OnOutcome) OnOutcome(out, table_);
}

}  // namespace ondrevo
