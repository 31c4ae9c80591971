// A spin edit that tells arrow steps apart from typing: arrows emit stepped() after the value
// changed by one step; Enter and leaving the field emit committed(), after entered() or left().
#pragma once

#include <QDoubleSpinBox>

namespace ondrevo {

class TSpinEdit : public QDoubleSpinBox {
  Q_OBJECT
 public:
  TSpinEdit(const QString& name, int decimals, double step, QWidget* parent);
  // A field without limits accepts any number.
  void RemoveLimits() { setRange(-1e15, 1e15); }
  void SetValueQuietly(double value);
  void stepBy(int steps) override;

 signals:
  void stepped(int steps);
  void committed();
  void entered();
  void left();

 protected:
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool quiet_ = false;
};

}  // namespace ondrevo
