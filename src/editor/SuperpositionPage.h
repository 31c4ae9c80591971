// One superposition tab ("&1. Superposition" or "&2. Superposition"): kind buttons, frequency
// sweep with its unit, phase, amplitude sweep and duty cycle. The same class serves both tabs;
// the controls are named after the tab (Ue1_F1 / Ue2_F1, PWM / PWM2, ...).
#pragma once

#include <QWidget>
#include <array>

#include "editor/core/EditorCore.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QRadioButton;

namespace ondrevo {

class TSpinEdit;

class TSuperpositionPage : public QWidget {
  Q_OBJECT
 public:
  // number: 1 or 2
  TSuperpositionPage(int number, QWidget* parent = nullptr);

  void Show(const SuperpositionFields& fields);
  SuperpositionFields Fields() const;
  // Back to the stored frequencies after a refusal.
  void ShowFrequencies(const SuperpositionFields& fields);
  SuperpositionKind Kind() const;
  void SetKind(SuperpositionKind kind);
  void SetAmplitudeMaximum(double maximum);
  void SetAmplitudeUnit(const QString& unit);  // "Vss" or "Ass"

 signals:
  // A kind button was clicked (its check has taken effect).
  void kindChosen(SuperpositionKind kind);
  // A field was committed (Enter, leaving it, a unit chosen); `arrow` for a spin arrow.
  void applyRequested(bool arrow);
  // Leaving the duty-cycle field after its arrows: their step is recorded, nothing re-applied.
  void recordRequested();
  // A typed text was refused (the message says why).
  void refused(const QString& message);

 private:
  void UpdateDutyVisibility();

  int number_;
  std::array<QRadioButton*, 5> kinds_{};
  TSpinEdit* f1_;
  TSpinEdit* f2_;
  QComboBox* unit_;
  TSpinEdit* phase_;
  TSpinEdit* a1_;
  TSpinEdit* a2_;
  TSpinEdit* pwm_;
  QLabel* pwmLabel_;
  QLabel* pwmUnit_;
  std::array<QLabel*, 2> ampUnits_{};
  TSkipNextExit skipExit_;
  double ampMax_ = 30;
};

}  // namespace ondrevo
