// The burst field: an integer spin edit that may be left empty, "-" or "+" while typing.
// A typed value outside 0..Maximum is replaced by the nearest bound as it is typed; an empty or
// sign-only text becomes 1 when the field loses the focus.
#pragma once

#include <QSpinBox>

namespace ondrevo {

class TBurstEdit : public QSpinBox {
  Q_OBJECT
 public:
  explicit TBurstEdit(QWidget* parent = nullptr);

  void SetMaximum(int maximum);
  int Maximum() const { return maximum_; }
  // The text is empty, "-" or "+".
  bool IsBlank() const;
  // Applies the field's rules to what it shows now: blank becomes 1, then clamped.
  void Normalize();

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  int valueFromText(const QString& text) const override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void OnTextChanged(const QString& text);
  int maximum_ = 255;
  bool adjusting_ = false;
};

}  // namespace ondrevo
