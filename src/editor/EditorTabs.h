// PageControl1: the General tab and the two superposition tabs of the selected segment. Loads
// a grid row into the tabs and applies the tabs through the editing core.
#pragma once

#include <QTabWidget>

#include "editor/core/EditorCore.h"

namespace ondrevo {

class TGeneralPage;
class TSuperpositionPage;

class TEditorTabs : public QTabWidget {
  Q_OBJECT
 public:
  TEditorTabs(TEditorCore& core, QWidget* parent = nullptr);

  // A grid cell became current: start field, tab visibility, and the row's values.
  void CellSelected(int row, int col);
  void LoadRow(int row);
  // Loads the core's selected segment (the tabs' fields apply to nothing while there is none).
  void Reload();
  // Applies the tabs to the selected segment; arrows apply without recording a step.
  ApplyResult Apply(bool arrow);
  bool Applying() const { return applying_; }
  // While a message box is open, a field it took the focus from does not apply.
  void SetSuspended(bool suspended) { suspended_ = suspended; }
  // Captions and limits of the active quantity.
  void UpdateQuantity();

  TGeneralPage* General() const { return general_; }
  TSuperpositionPage* Page(int number) const { return number == 1 ? sup1_ : sup2_; }

 signals:
  void applied(int row);

 private:
  void KindChosen(int number, SuperpositionKind kind);
  void UpdateVisibility(int row);
  void ShowTab(int index, bool visible);
  void StartStepped(int steps);
  void EndStepped(int steps);

  TEditorCore& core_;
  TGeneralPage* general_;
  TSuperpositionPage* sup1_;
  TSuperpositionPage* sup2_;
  bool applying_ = false;
  bool suspended_ = false;
  // The fields as last loaded: only fields that differ from them apply.
  TabValues shown_;
  bool noSegment_ = true;
};

}  // namespace ondrevo
