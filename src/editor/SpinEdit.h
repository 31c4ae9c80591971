// A spin edit that tells arrow steps apart from typing: arrows emit stepped() after the value
// changed by one step; Enter and leaving the field emit committed(), after entered() or left().
// A field given a unit kind takes a number with a unit ("5 ms", "500mV") and converts it into
// the unit it shows; text that does not read is refused with refused(message), never dropped.
#pragma once

#include <QDoubleSpinBox>
#include <algorithm>
#include <functional>
#include <optional>

#include "editor/core/EditRules.h"

namespace ondrevo {

class TSpinEdit : public QDoubleSpinBox {
  Q_OBJECT
 public:
  TSpinEdit(const QString& name, int decimals, double step, QWidget* parent);
  // A field without limits accepts any number.
  void RemoveLimits() { SetRangeIfChanged(-1e15, 1e15); }
  // Setters that leave a field alone when it already holds what they set: the spin box repaints
  // (and lays out its tab again) on every call otherwise.
  void SetValueQuietly(double value);
  void SetMaximumIfChanged(double maximum) {
    SetRangeIfChanged(std::min(minimum(), maximum), maximum);
  }
  void SetRangeIfChanged(double minimum, double maximum);
  void stepBy(int steps) override;
  // Units typed into the field: of `kind`, the field showing `shownFactor()` base units per 1.
  void SetUnits(UnitKind kind, std::function<double()> shownFactor);

  QValidator::State validate(QString& text, int& pos) const override;
  double valueFromText(const QString& text) const override;

 signals:
  void stepped(int steps);
  void committed();
  void entered();
  void left();
  void refused(const QString& message);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // The typed text without prefix and suffix.
  QString Typed(const QString& text) const;
  // False (after refused()) when the typed text does not read; the field then shows its value.
  bool CheckTyped();

  bool quiet_ = false;
  // What the last SetValueQuietly was given and left behind.
  struct Shown {
    double Given, Value, Minimum, Maximum;
    QString Text;
  };
  std::optional<Shown> shown_;
  bool units_ = false;
  bool refusedEnter_ = false;
  UnitKind kind_ = UnitKind::Time;
  std::function<double()> shownFactor_;
};

}  // namespace ondrevo
