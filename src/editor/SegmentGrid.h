// The segment grid StringGrid1: one row per point of the active curve, shown from the editing
// core's rows. Typing keeps a pending text in the current cell; leaving the cell, Enter or
// losing the focus commits it through the core, Escape drops it.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>

#include "document/SegmentTable.h"

namespace ondrevo {

class TEditorCore;

class TGridModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TGridModel(TEditorCore& core, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // Follows the core's rows: rows added or removed at the end, every cell redrawn; only rows
  // first..last when the core says only they changed.
  void Refresh(int first = 0, int last = -1);
  void SetPending(int row, int col, const QString& text);
  void ClearPending();
  bool HasPending() const { return pendingRow_ >= 0; }
  int PendingRow() const { return pendingRow_; }
  int PendingColumn() const { return pendingCol_; }
  const QString& PendingText() const { return pending_; }
  void SetCurrent(int row, int col);

 private:
  TEditorCore& core_;
  int rows_ = 1;
  Quantity headerQuantity_;
  int pendingRow_ = -1, pendingCol_ = -1;
  QString pending_;
  int currentRow_ = 0, currentCol_ = 1;
};

class TSegmentGrid : public QTableView {
  Q_OBJECT
 public:
  TSegmentGrid(TEditorCore& core, QWidget* parent = nullptr);

  void SetEditMode(bool on);
  bool EditMode() const { return editMode_; }
  // Commits the pending text of the current cell, if any.
  void CommitPending();
  void CancelPending();
  void SelectCell(int row, int col);
  // Rows of the selection (first, last); the current row when nothing else is selected.
  std::pair<int, int> SelectedRows() const;
  TGridModel* Model() const { return model_; }

  void Copy();
  void Cut();
  void Paste();

 signals:
  // A cell became current (row and column of the grid, 0-based rows).
  void cellSelected(int row, int col);
  // Rows first..last are selected.
  void rowsSelected(int first, int last);
  // Enter was handled; `row` is the current row now.
  void entered(int row);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  bool TypeKey(QKeyEvent* event);
  void Enter();

  TEditorCore& core_;
  TGridModel* model_;
  bool editMode_ = true;
  bool committing_ = false;
};

}  // namespace ondrevo
