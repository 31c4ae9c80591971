#include "editor/SpinEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <utility>

#include "document/Translate.h"

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
  // The same value into the same range and text gives the same field.
  if (shown_ && shown_->Given == value && shown_->Value == this->value() &&
      shown_->Minimum == minimum() && shown_->Maximum == maximum() && shown_->Text == text() &&
      !lineEdit()->isModified()) {
    return;
  }
  quiet_ = true;
  setValue(value);
  quiet_ = false;
  shown_ = Shown{value, this->value(), minimum(), maximum(), text()};
}

void TSpinEdit::SetRangeIfChanged(double minimum, double maximum) {
  if (minimum != this->minimum() || maximum != this->maximum()) setRange(minimum, maximum);
}

void TSpinEdit::SetUnits(UnitKind kind, std::function<double()> shownFactor) {
  units_ = true;
  kind_ = kind;
  shownFactor_ = std::move(shownFactor);
}

void TSpinEdit::stepBy(int steps) {
  const double before = value();
  QDoubleSpinBox::stepBy(steps);
  if (value() != before) emit stepped(steps);
}

QString TSpinEdit::Typed(const QString& text) const {
  QString t = text;
  if (!prefix().isEmpty() && t.startsWith(prefix())) t.remove(0, prefix().size());
  if (!suffix().isEmpty() && t.endsWith(suffix())) t.chop(suffix().size());
  t.replace(QLocale().decimalPoint(), QStringLiteral("."));
  t.replace(QLocale().groupSeparator(), QString());
  t.replace(QChar(0x00b5), QStringLiteral("u"));
  return t.trimmed();
}

QValidator::State TSpinEdit::validate(QString& text, int& pos) const {
  if (!units_) return QDoubleSpinBox::validate(text, pos);
  const QString t = Typed(text);
  bool hasUnit = false;
  for (QChar c : t) hasUnit = hasUnit || c.isLetter();
  if (!hasUnit) {
    // Plain numbers as the spin box reads them; anything else waits for the commit's word.
    const QValidator::State plain = QDoubleSpinBox::validate(text, pos);
    return plain == QValidator::Invalid ? QValidator::Intermediate : plain;
  }
  const TypedNumber typed = ParseTypedNumber(t.toStdString(), kind_);
  if (!typed.Ok()) return QValidator::Intermediate;
  const double v = valueFromText(text);
  return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

double TSpinEdit::valueFromText(const QString& text) const {
  if (!units_) return QDoubleSpinBox::valueFromText(text);
  const TypedNumber typed = ParseTypedNumber(Typed(text).toStdString(), kind_);
  if (!typed.Ok()) return value();
  if (typed.Unit.empty()) return typed.Number;
  const double factor = shownFactor_ ? shownFactor_() : 1;
  return BaseValue(typed) / factor;
}

bool TSpinEdit::CheckTyped() {
  if (!units_) return true;
  const QString t = Typed(lineEdit()->text());
  const TypedNumber typed = ParseTypedNumber(t.toStdString(), kind_);
  QString message;
  if (!typed.Ok()) {
    message = QString::fromStdString(typed.Error);
  } else {
    const double v = valueFromText(lineEdit()->text());
    if (v < minimum() || v > maximum()) {
      message = QString::fromUtf8(_("\"%1\" lies outside %2 to %3."))
                    .arg(t, textFromValue(minimum()), textFromValue(maximum()));
    }
  }
  if (message.isEmpty()) return true;
  // The field goes back to its value; the user hears why.
  const double shown = value();
  quiet_ = true;
  lineEdit()->setText(textFromValue(shown));
  setValue(shown);
  quiet_ = false;
  emit refused(message);
  return false;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  // The spin box would quietly put back its value for text it cannot read.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !CheckTyped()) {
    refusedEnter_ = true;
    return;
  }
  QDoubleSpinBox::keyPressEvent(event);
}

void TSpinEdit::keyReleaseEvent(QKeyEvent* event) {
  QDoubleSpinBox::keyReleaseEvent(event);
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (std::exchange(refusedEnter_, false)) return;
    interpretText();
    emit entered();
    emit committed();
  }
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  const bool ok = event->reason() == Qt::PopupFocusReason || CheckTyped();
  QDoubleSpinBox::focusOutEvent(event);
  if (ok && event->reason() != Qt::PopupFocusReason) {
    emit left();
    emit committed();
  }
}

}  // namespace ondrevo
