// Drawing on the plot: hands the plot's mouse events to the mouse editor, shows the cursor a
// press would use, and draws the curve being changed until the release hands it back.
#pragma once

#include <QObject>
#include <functional>

#include "document/SegmentTable.h"
#include "editor/core/PlotEditing.h"

class QMouseEvent;
class QPointF;

namespace ondrevo {

class TCurveView;
class TEditorCore;
class TPlot;

class TPlotMouse : public QObject {
  Q_OBJECT
 public:
  TPlotMouse(TPlot* plot, TCurveView& curves, const TEditorCore& core, QObject* parent = nullptr);

  // Snap steps in effect (time, value of the active quantity).
  std::function<double()> SnapTime;
  std::function<double()> SnapValue;
  // Before a press reads the curve: text typed into the grid is committed first.
  std::function<void()> BeforePress;
  // An event changed the curve or selected a segment; `table` is the active curve it left.
  std::function<void(const TMouseOutcome& outcome, const SegmentTable& table)> OnOutcome;

  // The plot as the editor sees it now: visible ranges, pixel scales and snap steps.
  TPlotView View() const;
  // Ends a gesture without a change (Escape, or a message box that takes the mouse): the
  // curve goes back to the document's. A press being prepared starts nothing.
  void Cancel();
  const TMouseEditor& Editor() const { return editor_; }

 private:
  void Pressed(QMouseEvent* event);
  void Moved(QMouseEvent* event);
  void Released(QMouseEvent* event);
  TPlotPoint ToPlot(const QPointF& pixel) const;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void ShowCursor(PlotCursor cursor);
  // Previews and Mark stay off the plot while a point follows the mouse.
  void BeginLive();
  void EndLive();
  void DrawLive();

  TPlot* plot_;
  TCurveView& curves_;
  const TEditorCore& core_;
  TMouseEditor editor_;
  // The active curve while an operation runs; the core sees it only at the release.
  SegmentTable table_;
  bool markWasVisible_ = false;
  int cancels_ = 0;
};

}  // namespace ondrevo
