#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QRadioButton>

#include "editor/CurveView.h"
#include "editor/EditorTabs.h"
#include "editor/GraphForm.h"
#include "editor/GraphFormText.h"
#include "editor/PlotMouse.h"
#include "editor/SegmentGrid.h"
#include "editor/Timescale.h"
#include "editor/core/History.h"
#include "plot/Plot.h"

// The editor window's part that follows the editing core: curves, grid, tabs, the active
// quantity, the timescale and zooming.
namespace ondrevo {

// ---- state helpers ----------------------------------------------------------------------------

TPlotSeries* TGraphForm::Curve(Quantity q) const {
  return curves_->Curve(q);
}

bool TGraphForm::TableChecked() const {
  return act_.Table->isChecked();
}

double TGraphForm::ActiveMaximum() const {
  return ActiveQuantity() == Quantity::Voltage ? ActiveLimits().MaxVoltage
                                               : ActiveLimits().MaxCurrent;
}

void TGraphForm::UpdateCaption(bool readOnly) {
  // "[*]": the "*" of a modified document (setWindowModified).
  QString caption = docName_ + QStringLiteral("[*]");
  if (readOnly) caption += QLatin1Char(' ') + T("(read-only)");
  setWindowTitle(caption + QStringLiteral(" - ") + baseCaption_);
}

void TGraphForm::UpdateRemoteEnabled() {
  const bool any = Doc().Voltage.LastPointIndex() > 0 || Doc().Current.LastPointIndex() > 0;
  act_.RemoteControl->setEnabled(any);
}

void TGraphForm::SetGridLinesForActive() {
  plot_->SetGridVisible(PlotAxis::Left, ActiveQuantity() == Quantity::Voltage);
  plot_->SetGridVisible(PlotAxis::Right, ActiveQuantity() == Quantity::Current);
  plot_->SetGridVisible(PlotAxis::Bottom, true);
  plot_->SetActiveValueAxis(ActiveQuantity() == Quantity::Voltage ? PlotAxis::Left
                                                                  : PlotAxis::Right);
}

void TGraphForm::ShowMark(bool visible) {
  curves_->ShowMark(visible);
}

void TGraphForm::SetTableChecked(bool checked) {
  act_.Table->setChecked(checked);
}

void TGraphForm::HideTable() {
  grid_->CommitPending();
  core_->DropEmptyRows();
  SetTableChecked(false);
  panelRight_->hide();
  ShowMark(false);
}

void TGraphForm::RebuildGrid(bool rowsBuilt) {
  if (rowsBuilt)
    core_->AnnounceRows();
  else
    core_->RebuildRows();
  curves_->PlaceMark(ActiveQuantity());
  curves_->MarkPoints(ActiveQuantity(), 0, 1);
  ShowMark(true);
}

void TGraphForm::UpdateSpinLimits() {
  tabs_->UpdateQuantity();
}

void TGraphForm::RecomputeSnapX() {
  timeSpan_ = plot_->AxisMax(PlotAxis::Bottom);
  const int index = snapX_->currentIndex();
  const double percent = index == snapX_->count() - 1 ? 0 : snapX_->currentText().toDouble();
  snapStepX_ = ondrevo::HorizontalSnapStep(percent, timeSpan_);
}

void TGraphForm::RecomputeSnapY() {
  const int index = snapY_->currentIndex();
  const double percent = index == snapY_->count() - 1 ? 0 : snapY_->currentText().toDouble();
  const double resolution = ActiveQuantity() == Quantity::Voltage
                                ? ActiveLimits().VoltageResolution
                                : ActiveLimits().CurrentResolution;
  snapStepY_ = ondrevo::VerticalSnapStep(percent, ActiveMaximum(), resolution);
}

void TGraphForm::UpdateTimeAxisLabels() {
  const int unit = comboUnit_->currentIndex();
  const TimeTickLabel label = LabelTimeTick(unit, plot_->AxisMax(PlotAxis::Bottom), 0);
  if (label.Caption) plot_->SetAxisCaption(PlotAxis::Bottom, T(label.Caption));
  // Previews are computed for the span on screen.
  curves_->Draw(Quantity::Voltage, core_->Curve(Quantity::Voltage));
  curves_->Draw(Quantity::Current, core_->Curve(Quantity::Current));
  plot_->Replot();
}

void TGraphForm::FollowZoom() {
  const double width = plot_->AxisMax(PlotAxis::Bottom) - plot_->AxisMin(PlotAxis::Bottom);
  if (const auto choice = ZoomToFitTimescale(width)) SetTimescale(choice->ValueIndex, choice->Unit);
  UpdateTimeAxisLabels();
}

// ---- curves -----------------------------------------------------------------------------------

void TGraphForm::OnCoreChange(const EditorChange& change) {
  if (change.Limits) tabs_->UpdateQuantity();
  if (change.Curve || change.BothCurves || change.Limits) {
    for (Quantity q : {Quantity::Voltage, Quantity::Current})
      curves_->DrawBreaches(q, core_->Curve(q), core_->Breaches(q));
    if (!change.Curve && !change.BothCurves) plot_->Replot();
  }
  if (!change.Curve && !change.BothCurves) return;
  if (change.BothCurves) {
    curves_->Draw(Quantity::Voltage, core_->Curve(Quantity::Voltage));
    curves_->Draw(Quantity::Current, core_->Curve(Quantity::Current));
  } else {
    curves_->Draw(ActiveQuantity(), core_->Working());
  }
  UpdateRemoteEnabled();
  if (TableChecked() && !change.BothCurves) {
    // A committed edit that leaves the curve far from the time axis refits it.
    const double end = core_->Working().Length();
    const double max = plot_->AxisMax(PlotAxis::Bottom);
    if (!keepTimeAxis_ && (end > max || (end > 0 && end < max / 3))) ZoomToFitTime();
    MarkRow(core_->SelectedRow());
  }
  plot_->Replot();
}

void TGraphForm::MarkRow(int row) {
  const int last = core_->Working().LastPointIndex();
  if (last <= 0 || row > last) return;
  curves_->PlaceMark(ActiveQuantity());
  curves_->MarkPoints(ActiveQuantity(), row == last ? row - 1 : row, row == last ? row : row + 1);
}

void TGraphForm::OnCellSelected(int row, int col) {
  tabs_->CellSelected(row, col);
  if (!grid_->Model()->HasPending()) MarkRow(row);
  plot_->Replot();
}

void TGraphForm::ResetEditor(bool clearHistory) {
  core_->Reset();
  if (clearHistory) ClearHistory();
  UpdateRemoteEnabled();
}

void TGraphForm::SetActiveCurve(const SegmentTable& table, bool record) {
  core_->SetActiveCurve(table, record);
}

void TGraphForm::RebuildActiveCurve() {
  core_->SetActiveCurve(core_->Working(), false);
}

void TGraphForm::SwitchQuantity(Quantity quantity) {
  grid_->CommitPending();
  plot_->Canvas()->setCursor(Qt::CrossCursor);
  plot_->Canvas()->setFocus();
  (quantity == Quantity::Voltage ? act_.Voltage : act_.Current)->setChecked(true);
  (quantity == Quantity::Voltage ? rbVoltage_ : rbCurrent_)->setChecked(true);
  core_->SwitchQuantity(quantity);
  if (quantity == Quantity::Voltage) {
    plot_->SetAxisRange(PlotAxis::Right, 0, ActiveLimits().MaxCurrent + 2);
  } else {
    plot_->SetAxisRange(PlotAxis::Left, 0, ActiveLimits().MaxVoltage + 2);
  }
  SetGridLinesForActive();
  const bool hasPoints = Curve(quantity)->Count() > 0;
  if (hasPoints && !TableChecked()) {
    SetTableChecked(true);
    panelRight_->show();
  } else if (!hasPoints && TableChecked()) {
    HideTable();
  }
  if (TableChecked()) {
    RebuildGrid();
    if (grid_->isVisible()) grid_->setFocus();
  }
  RecomputeSnapY();
  UpdateSpinLimits();
  plot_->Replot();
}

// ---- timescale --------------------------------------------------------------------------------

void TGraphForm::SetTimescale(int valueIndex, int unit) {
  updatingTimescale_ = true;
  comboValue_->setCurrentIndex(valueIndex);
  comboUnit_->setCurrentIndex(unit);
  updatingTimescale_ = false;
}

void TGraphForm::ApplyTimescale(bool unitChanged) {
  if (updatingTimescale_) return;
  const bool shift = QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
  plot_->Canvas()->setFocus();
  const int unit = comboUnit_->currentIndex();
  const double max = TimescaleAxisMax(comboValue_->currentIndex(), unit);
  plot_->SetAxisRange(PlotAxis::Bottom, 0, max);
  if (unitChanged) plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[unit]));
  if (shift && timeSpan_ > 0) Stretch(max / timeSpan_);
  RecomputeSnapX();
  UpdateTimeAxisLabels();
}

void TGraphForm::Stretch(double factor) {
  const bool table = TableChecked();
  SetTableChecked(false);
  core_->Stretch(factor);
  SetTableChecked(table);
  if (table && panelRight_->isVisible()) RebuildGrid();
}

void TGraphForm::ZoomToFitTime() {
  const double end = std::max(Doc().Voltage.Length(), Doc().Current.Length());
  const auto choice = ZoomToFitTimescale(end);
  if (!choice) return;
  SetTimescale(choice->ValueIndex, choice->Unit);
  plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[choice->Unit]));
  plot_->SetAxisRange(PlotAxis::Bottom, 0, choice->AxisMax);
  RecomputeSnapX();
  UpdateTimeAxisLabels();
}

void TGraphForm::ZoomToFit() {
  plot_->Canvas()->setFocus();
  const double peak = CurvePeak(core_->Working());
  const bool voltage = ActiveQuantity() == Quantity::Voltage;
  // All three axes: a mouse zoom narrowed them together. The axis of the other quantity goes
  // back to its range as switching to it leaves it.
  plot_->SetAxisRange(PlotAxis::Left, 0, ActiveLimits().MaxVoltage + 2);
  plot_->SetAxisRange(PlotAxis::Right, 0,
                      !voltage && peak > 0 ? peak + 1 : ActiveLimits().MaxCurrent + 2);
  ZoomToFitTime();
}

// ---- history ----------------------------------------------------------------------------------

bool TGraphForm::IsModified() const {
  return history_->IsModified();
}

void TGraphForm::UpdateHistoryActions() {
  act_.Undo->setEnabled(history_->CanUndo());
  act_.Redo->setEnabled(history_->CanRedo());
  // Qt repeats its caption work (and a warning without "[*]") on every call.
  if (isWindowModified() != history_->IsModified()) setWindowModified(history_->IsModified());
}

void TGraphForm::RecordStep() {
  if (history_->RecordStep(core_->Curve(Quantity::Voltage), core_->Curve(Quantity::Current))) {
    UpdateHistoryActions();
  }
}

void TGraphForm::ClearHistory() {
  history_->ClearHistory(core_->Curve(Quantity::Voltage), core_->Curve(Quantity::Current),
                         core_->GridRows().Points());
  UpdateHistoryActions();
}

void TGraphForm::Undo() {
  if (mouse_->Editor().Active()) return;
  // A typed cell counts as an edit before the step back, as leaving the cell would.
  grid_->CommitPending();
  plot_->Canvas()->setFocus();
  SegmentTable voltage, current;
  if (!history_->Undo(voltage, current)) return;
  RestoreState(voltage, current);
  UpdateHistoryActions();
}

void TGraphForm::Redo() {
  if (mouse_->Editor().Active()) return;
  grid_->CommitPending();
  plot_->Canvas()->setFocus();
  SegmentTable voltage, current;
  if (!history_->Redo(voltage, current)) return;
  RestoreState(voltage, current);
  UpdateHistoryActions();
}

void TGraphForm::RestoreState(const SegmentTable& voltage, const SegmentTable& current) {
  core_->SetDocument(voltage, current);
  if (core_->Working().LastPointIndex() > 0) {
    SetTableChecked(true);
    panelRight_->show();
    RebuildGrid();
    grid_->SelectCell(0, kColValue);
  } else if (TableChecked()) {
    // Nothing to commit: the grid already shows the restored, empty curve.
    SetTableChecked(false);
    panelRight_->hide();
    ShowMark(false);
  }
  UpdateRemoteEnabled();
  plot_->Replot();
}

// ---- mouse ------------------------------------------------------------------------------------

void TGraphForm::OnMouseOutcome(const TMouseOutcome& out, const SegmentTable& table) {
  const Quantity q = ActiveQuantity();
  switch (out.Action) {
    case MouseAction::SegmentSelected: {
      if (!TableChecked()) {
        SetTableChecked(true);
        panelRight_->show();
      }
      RebuildGrid();
      // The grid's row r holds the segment from point r to r + 1.
      const QModelIndex current = grid_->currentIndex();
      grid_->SelectCell(std::max(0, out.SelectRow - 1),
                        current.isValid() ? current.column() : kColValue);
      if (grid_->isVisible()) grid_->setFocus();
      plot_->Replot();
      return;
    }
    case MouseAction::PointAdded:
    case MouseAction::PointMoved:
    case MouseAction::PointRemoved:
      break;
    default:
      // Nothing changed: the curve the mouse drew goes back to the document's.
      curves_->Draw(q, core_->Working());
      if (out.MarkSegment >= 0) curves_->MarkPoints(q, out.MarkSegment, out.MarkSegment + 1);
      plot_->Replot();
      return;
  }
  if (out.ShowTable && !TableChecked()) {
    SetTableChecked(true);
    panelRight_->show();
  }
  // One edit, one state: the commit and the superpositions run again without recording.
  keepTimeAxis_ = true;
  core_->CommitPlotEdit(table, out.RerunSegments);
  keepTimeAxis_ = false;
  if (out.RefreshRow >= 0) RefreshAfterPointEdit(out.RefreshRow);
  if (out.MarkSegment >= 0) curves_->MarkPoints(q, out.MarkSegment, out.MarkSegment + 1);
  if (out.RecordStep) RecordStep();
  plot_->Replot();
}

void TGraphForm::RefreshAfterPointEdit(int point) {
  if (!TableChecked()) return;
  RebuildGrid();
  const int last = core_->Working().LastPointIndex();
  point = std::min(point, last);
  if (point > 0) {
    // The row of the segment that ends at the point: grid cursor, selected segment and tabs
    // agree on it.
    const QModelIndex current = grid_->currentIndex();
    grid_->SelectCell(point - 1, current.isValid() ? current.column() : kColValue);
    core_->SelectRow(point - 1);
    tabs_->LoadRow(point - 1);
  }
  curves_->MarkPoints(ActiveQuantity(), point > 0 ? point - 1 : 0, point > 0 ? point : 1);
}

}  // namespace ondrevo
