#include "editor/EditorTabs.h"

#include "document/Translate.h"
#include "editor/GeneralPage.h"
#include "editor/SpinEdit.h"
#include "editor/SuperpositionPage.h"

namespace ondrevo {

namespace {
QString T(const char* english) {
  return QString::fromUtf8(_(english));
}
constexpr int kTabGeneral = 0, kTabSup1 = 1, kTabSup2 = 2;
}  // namespace

TEditorTabs::TEditorTabs(TEditorCore& core, QWidget* parent) : QTabWidget(parent), core_(core) {
  setObjectName(QStringLiteral("PageControl1"));
  general_ = new TGeneralPage(this);
  sup1_ = new TSuperpositionPage(1, this);
  sup2_ = new TSuperpositionPage(2, this);
  addTab(general_, T("&General"));
  addTab(sup1_, T("&1. Superposition"));
  addTab(sup2_, T("&2. Superposition"));
  setTabVisible(kTabSup1, false);
  setTabVisible(kTabSup2, false);

  const auto refused = [this](const QString& m) {
    if (core_.OnMessage) core_.OnMessage(m.toStdString());
  };
  connect(general_, &TGeneralPage::refused, this, refused);
  connect(sup1_, &TSuperpositionPage::refused, this, refused);
  connect(sup2_, &TSuperpositionPage::refused, this, refused);
  connect(general_, &TGeneralPage::applyRequested, this, [this](bool arrow) { Apply(arrow); });
  connect(general_, &TGeneralPage::startStepped, this, &TEditorTabs::StartStepped);
  connect(general_, &TGeneralPage::endStepped, this, &TEditorTabs::EndStepped);
  for (int n : {1, 2}) {
    TSuperpositionPage* page = Page(n);
    connect(page, &TSuperpositionPage::applyRequested, this, [this](bool arrow) { Apply(arrow); });
    connect(page, &TSuperpositionPage::recordRequested, this, [this] { core_.RecordArrowSteps(); });
    connect(page, &TSuperpositionPage::kindChosen, this,
            [this, n](SuperpositionKind kind) { KindChosen(n, kind); });
  }
  UpdateQuantity();
  // The tabs always show the selected segment of the curve on screen: after a switch of curve,
  // a stretch, an import or a load they must not keep another curve's values to apply later.
  core_.AddListener([this](const EditorChange& change) {
    if (!applying_ && (change.Curve || change.Grid || change.Selection)) Reload();
  });
}

void TEditorTabs::Reload() {
  const int row = core_.SelectedRow();
  if (row < 0 || row >= core_.Working().LastPointIndex() || row + 1 >= core_.RowCount()) {
    // No segment: nothing the tabs show may apply.
    general_->Read(shown_);
    shown_.Sup[0] = sup1_->Fields();
    shown_.Sup[1] = sup2_->Fields();
    noSegment_ = true;
    return;
  }
  LoadRow(row);
}

void TEditorTabs::UpdateQuantity() {
  const SpinLimits limits = core_.CurrentSpinLimits();
  general_->SetQuantity(core_.Active());
  general_->SetValueMaximum(limits.Value);
  sup1_->SetAmplitudeMaximum(limits.Amplitude1);
  sup2_->SetAmplitudeMaximum(limits.Amplitude2);
  const QString unit =
      core_.Active() == Quantity::Voltage ? QStringLiteral("Vss") : QStringLiteral("Ass");
  sup1_->SetAmplitudeUnit(unit);
  sup2_->SetAmplitudeUnit(unit);
}

void TEditorTabs::ShowTab(int index, bool visible) {
  // Setting the visibility a tab already has lays out and repaints the whole tab widget.
  if (isTabVisible(index) != visible) setTabVisible(index, visible);
}

void TEditorTabs::UpdateVisibility(int row) {
  const bool last = row >= core_.RowCount() - 1;
  ShowTab(kTabSup1, !last);
  ShowTab(kTabSup2, !last && sup1_->Kind() != SuperpositionKind::None);
}

void TEditorTabs::CellSelected(int row, int col) {
  general_->SetStartEnabled(row != 0);
  const bool last = row >= core_.RowCount() - 1;
  ShowTab(kTabSup1, !last);
  ShowTab(kTabSup2, !last && !core_.Cell(row, kColSup1Name).empty());
  if (applying_ || last || core_.Cell(row, kColValue).empty() ||
      core_.Cell(row, kColDuration).empty()) {
    return;
  }
  LoadRow(row);
  if (col == kColSup1Name) setCurrentIndex(kTabSup1);
  if (col == kColSup2Name) {
    setCurrentIndex(sup1_->Kind() == SuperpositionKind::None ? kTabSup1 : kTabSup2);
  }
}

void TEditorTabs::LoadRow(int row) {
  const TabValues v = core_.LoadRow(row);
  general_->Show(v);
  general_->MarkBeyond(QString::fromStdString(core_.CellBreach(row, kColValue)),
                       QString::fromStdString(core_.CellBreach(row, kColEndValue)));
  sup1_->Show(v.Sup[0]);
  sup2_->Show(v.Sup[1]);
  // What the fields show now, rounded as they show it: a field still showing it is not edited.
  general_->Read(shown_);
  shown_.Sup[0] = sup1_->Fields();
  shown_.Sup[1] = sup2_->Fields();
  noSegment_ = false;
  UpdateVisibility(row);
}

void TEditorTabs::KindChosen(int number, SuperpositionKind kind) {
  if (number == 1) {
    if (kind == SuperpositionKind::None) sup2_->SetKind(SuperpositionKind::None);
    ShowTab(kTabSup2, kind != SuperpositionKind::None);
  }
  Apply(false);
}

ApplyResult TEditorTabs::Apply(bool arrow) {
  // A message box (of this apply, or of another change) took the focus from a field, whose
  // leaving asks again.
  if (applying_ || suspended_) return ApplyResult::NothingToApply;
  const int row = core_.SelectedRow();
  const int front = currentIndex();
  TabValues v;
  general_->Read(v);
  v.Sup[0] = sup1_->Fields();
  v.Sup[1] = sup2_->Fields();
  v.Edited = 0;
  if (v.StartValue != shown_.StartValue) v.Edited |= kFieldStartValue;
  if (v.EndValue != shown_.EndValue) v.Edited |= kFieldEndValue;
  if (v.StartTime != shown_.StartTime) v.Edited |= kFieldStartTime;
  if (v.EndTime != shown_.EndTime) v.Edited |= kFieldEndTime;
  if (!(v.Sup[0] == shown_.Sup[0])) v.Edited |= kFieldSup1;
  if (!(v.Sup[1] == shown_.Sup[1])) v.Edited |= kFieldSup2;
  // Fields left over from no segment, or nothing edited: nothing to apply, but Enter or leaving
  // a field still records what its arrows applied.
  if (noSegment_ || v.Edited == 0) {
    if (!arrow && !noSegment_) core_.RecordArrowSteps();
    return ApplyResult::NothingToApply;
  }
  applying_ = true;
  const bool suppress = core_.SuppressRecording;
  core_.SuppressRecording = suppress || arrow;
  const ApplyResult result = core_.ApplyTabs(row, v);
  core_.SuppressRecording = suppress;
  const TabValues stored = core_.LoadRow(row);
  switch (result) {
    case ApplyResult::Refused:
      // The frequencies go back to what the segment holds; the rest stays as typed.
      sup1_->ShowFrequencies(stored.Sup[0]);
      sup2_->ShowFrequencies(stored.Sup[1]);
      break;
    case ApplyResult::NoSlot:
      sup1_->SetKind(SuperpositionKind::None);
      sup2_->SetKind(SuperpositionKind::None);
      UpdateVisibility(row);
      break;
    case ApplyResult::Applied:
      LoadRow(row);
      setCurrentIndex(isTabVisible(front) ? front : kTabGeneral);
      emit applied(row);
      break;
    case ApplyResult::NothingToApply:
      break;
  }
  applying_ = false;
  return result;
}

void TEditorTabs::StartStepped(int steps) {
  const int row = core_.SelectedRow();
  if (row < 0 || row >= core_.Working().LastPointIndex()) return;
  const double unit = UnitSeconds(general_->TimeUnit().toStdString());
  const double start = general_->StartTime()->value() * unit;
  const double end = general_->EndTime()->value() * unit;
  double result = start;
  if (steps < 0) {
    std::optional<double> before;
    if (row > 0) before = core_.Working()[row - 1].Time;
    const auto down = StartArrowDown(start, before);
    if (!down) {
      general_->StartTime()->SetValueQuietly(0);
      return;
    }
    result = *down;
  } else {
    result = StartArrowUp(start, end, core_.Limits().MinDwellTime);
  }
  general_->StartTime()->SetValueQuietly(result / unit);
  Apply(true);
}

void TEditorTabs::EndStepped(int steps) {
  const int row = core_.SelectedRow();
  if (row < 0 || row >= core_.Working().LastPointIndex()) return;
  const double unit = UnitSeconds(general_->TimeUnit().toStdString());
  const double start = general_->StartTime()->value() * unit;
  const double end = general_->EndTime()->value() * unit;
  double result = end;
  if (steps < 0) {
    result = EndArrowDown(start, end, core_.Limits().MinDwellTime);
  } else {
    std::optional<double> after;
    if (row + 2 <= core_.Working().LastPointIndex()) after = core_.Working()[row + 2].Time;
    result = EndArrowUp(end, after, core_.Limits().MinDwellTime);
  }
  general_->EndTime()->SetValueQuietly(result / unit);
  Apply(true);
}

}  // namespace ondrevo
