// Shared by the editor window tests that work in the grid as a user does: widgets found by their
// design names, a click on a cell, typed keys, the text a cell shows.
#pragma once

#include <QTableView>
#include <QtTest>
#include <memory>

#include "editor/GraphForm.h"

namespace ondrevo {

class TEditorGridDriver {
 protected:
  std::unique_ptr<TGraphForm> form_;

  QTableView* Grid() { return form_->findChild<QTableView*>("StringGrid1"); }
  template <typename W>
  W* Find(const char* name) {
    W* w = form_->findChild<W*>(name);
    if (!w) qFatal("no widget %s", name);
    return w;
  }
  QString Cell(int row, int col) { return Grid()->model()->index(row, col).data().toString(); }
  // A click on the cell, as a user selects it.
  void Go(int row, int col) {
    const QRect rect = Grid()->visualRect(Grid()->model()->index(row, col));
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void Type(const char* keys) { QTest::keyClicks(Grid(), keys); }
};

}  // namespace ondrevo
