// The "&General" tab: start and end value (YeditL, YeditR) and start and end time (XeditL,
// XeditR) of the selected segment, one time unit for both.
#pragma once

#include <QWidget>

#include "editor/core/EditorCore.h"

class QGroupBox;
class QLabel;

namespace ondrevo {

class TSpinEdit;

class TGeneralPage : public QWidget {
  Q_OBJECT
 public:
  explicit TGeneralPage(QWidget* parent = nullptr);

  void Show(const TabValues& values);
  // Values and times as shown, into `values`.
  void Read(TabValues& values) const;
  void SetQuantity(Quantity quantity);
  void SetValueMaximum(double maximum);
  void SetStartEnabled(bool enabled);
  // The findings of a start or end value beyond a limit ("" when within): the field is marked.
  void MarkBeyond(const QString& start, const QString& end);
  QString TimeUnit() const;

  TSpinEdit* StartTime() const { return xl_; }
  TSpinEdit* EndTime() const { return xr_; }
  TSpinEdit* StartValue() const { return yl_; }

 signals:
  void applyRequested(bool arrow);
  // A time field's arrow: the caller corrects the value before applying.
  void startStepped(int steps);
  void endStepped(int steps);
  // A typed text was refused (the message says why).
  void refused(const QString& message);

 private:
  TSpinEdit *yl_, *yr_, *xl_, *xr_;
  QGroupBox* valueGroup_;
  QLabel *unitL_, *unitR_, *timeL_, *timeR_;
  double valueMax_ = 0;
};

}  // namespace ondrevo
