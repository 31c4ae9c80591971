// The remote window's measurement tab: the "Measure:" choice, the live plot of what the supply
// delivers over the design and the instrument's points, the running figures and "Save
// record...". It shows what TMeasuredRun holds; the window feeds it.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "playback/MeasuredRun.h"

class QAction;
class QComboBox;
class QLabel;

namespace ondrevo {

class TPlot;

class TMeasurePanel : public QWidget {
  Q_OBJECT
 public:
  TMeasurePanel(QAction* saveRecord, QWidget* parent = nullptr);

  // Lists what can be measured with; keeps the choice when it is still offered.
  void SetOffer(const TMeasureOffer& offer);
  void SetChoiceEnabled(bool enabled);
  EMeasureChoice Choice() const;
  // The meter chosen, or null.
  const TMeterCandidate* Meter() const;
  // Chooses by the entry's position: 0 none, then the supply itself (when offered), then the
  // meters in order. False when there is no such entry.
  bool Choose(EMeasureChoice choice, int meter = 0);

  // A new run: the design and the instrument's points over one repetition, no readings.
  void BeginRun(const TRecordInput& in);
  // Readings that came since the last call; each is drawn at its time within the repetition,
  // and a new repetition starts the measured lines again.
  void AddReadings(const TRecordInput& in, const std::vector<TReading>& fresh);
  void ShowFigures(const TRecordInput& in, const TRunningFigures& figures, std::size_t failures);
  TPlot* Plot() const { return plot_; }
  QString FiguresText() const;

 private:
  QComboBox* choice_;
  QLabel* note_;
  TPlot* plot_;
  QLabel* figures_;
  TMeasureOffer offer_;
  QStringList entries_;
  double lastDesignTime_ = -1;
};

}  // namespace ondrevo
