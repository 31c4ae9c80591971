#include "editor/SpinEdit.h"

#include <QKeyEvent>

namespace ondrevo {

TSpinEdit::TSpinEdit(const QString& name, int decimals, double step, QWidget* parent)
    : QDoubleSpinBox(parent) {
  setObjectName(name);
  setDecimals(decimals);
  setSingleStep(step);
  setKeyboardTracking(false);
  setAccelerated(true);
}

void TSpinEdit::SetValueQuietly(double value) {
  quiet_ = true;
  setValue(value);
  quiet_ = false;
}

void TSpinEdit::stepBy(int steps) {
  const double before = value();
  QDoubleSpinBox::stepBy(steps);
  if (value() != before) emit stepped(steps);
}

void TSpinEdit::keyReleaseEvent(QKeyEvent* event) {
  QDoubleSpinBox::keyReleaseEvent(event);
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    interpretText();
    emit entered();
    emit committed();
  }
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  QDoubleSpinBox::focusOutEvent(event);
  if (event->reason() != Qt::PopupFocusReason) {
    emit left();
    emit committed();
  }
}

}  // namespace ondrevo
