#include "remote/BurstEdit.h"

#include <QLineEdit>
#include <limits>

namespace ondrevo {

namespace {

bool IsBlankText(const QString& text) {
  const QString t = text.trimmed();
  return t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+");
}

// An optionally signed run of digits; out of the int range it saturates.
bool ParseSigned(const QString& text, long long& value) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return false;
  int i = 0;
  bool negative = false;
  if (t[0] == QLatin1Char('-') || t[0] == QLatin1Char('+')) {
    negative = t[0] == QLatin1Char('-');
    i = 1;
  }
  if (i >= t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (!t[i].isDigit() || t[i].unicode() > '9') return false;
    v = std::min<long long>(v * 10 + (t[i].unicode() - '0'), 1LL << 40);
  }
  value = negative ? -v : v;
  return true;
}

}  // namespace

TBurstEdit::TBurstEdit(QWidget* parent) : QSpinBox(parent) {
  setRange(0, maximum_);
  setValue(1);
  setAccelerated(true);
  connect(lineEdit(), &QLineEdit::textChanged, this, &TBurstEdit::OnTextChanged);
}

void TBurstEdit::SetMaximum(int maximum) {
  maximum_ = std::max(0, maximum);
  setRange(0, maximum_);
}

bool TBurstEdit::IsBlank() const {
  return IsBlankText(lineEdit()->text());
}

void TBurstEdit::Normalize() {
  if (IsBlank()) {
    lineEdit()->setText(QStringLiteral("1"));
    setValue(std::min(1, maximum_));
  }
  OnTextChanged(lineEdit()->text());
}

QValidator::State TBurstEdit::validate(QString& input, int& /*pos*/) const {
  if (IsBlankText(input)) return QValidator::Intermediate;
  long long v = 0;
  return ParseSigned(input, v) ? QValidator::Acceptable : QValidator::Invalid;
}

void TBurstEdit::fixup(QString& input) const {
  if (IsBlankText(input)) input = QStringLiteral("1");
}

int TBurstEdit::valueFromText(const QString& text) const {
  long long v = 0;
  if (!ParseSigned(text, v)) return 1;
  return static_cast<int>(std::clamp<long long>(v, 0, maximum_));
}

void TBurstEdit::focusOutEvent(QFocusEvent* event) {
  if (IsBlank()) lineEdit()->setText(QStringLiteral("1"));
  QSpinBox::focusOutEvent(event);
}

void TBurstEdit::OnTextChanged(const QString& text) {
  if (adjusting_) return;
  long long v = 0;
  if (IsBlankText(text) || !ParseSigned(text, v)) return;
  const long long clamped = std::clamp<long long>(v, 0, maximum_);
  if (clamped == v && text.trimmed() == QString::number(v)) return;
  if (clamped == v) return;  // "+5" or "007" stay as typed
  adjusting_ = true;
  lineEdit()->setText(QString::number(clamped));
  setValue(static_cast<int>(clamped));
  adjusting_ = false;
}

}  // namespace ondrevo
