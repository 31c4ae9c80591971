// "Instrument points": what the selected target plays, drawn over both curves of the editor,
// with a status-bar summary. A supply's point list is computed on a worker after every committed
// edit and device change; the analog output card shows its equidistant sample grid instead, at
// the rate its streaming engine would choose (its probe and its choice, run on a worker).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

#include "editor/DeviceLimits.h"
#include "model/ListSampling.h"
#include "playback/PreviewWorker.h"

class QAction;
class QLabel;
class QStatusBar;

namespace ondrevo {

class TEditorCore;
class TPlot;
class TPlotSeries;

struct OverlayTarget {
  SupplyListSettings Settings;  // what the supply's driver uploads with
  bool Daq = false;             // the analog output card streams instead
};

// The selected model's upload settings from the model tables (what its driver uses once
// connected); a model the tables do not know falls back to the editor's limits in effect.
OverlayTarget EditorOverlayTarget(int model, int variant, const DeviceLimits& limits, bool daq);

// The most samples of the card's grid drawn per curve: a longer stream shows every n-th sample.
inline constexpr std::int32_t kMaxDaqGridSamples = 100000;

class TDaqGridWorker;
struct DaqGridResult;

class TInstrumentOverlay : public QObject {
  Q_OBJECT
 public:
  // Listens to the core's committed edits; draws on `plot`, shows its text in `bar`.
  TInstrumentOverlay(TEditorCore& core, TPlot* plot, QStatusBar* bar, QObject* parent);
  ~TInstrumentOverlay() override;

  // The target in effect, asked on every refresh.
  std::function<OverlayTarget()> Target;

  QAction* Action() const { return action_; }  // "Instrument points", checkable
  bool Enabled() const;
  void SetEnabled(bool on);
  // Recomputes for the current document and target (nothing while disabled).
  void Refresh();

  QString StatusText() const;
  QStringList Findings() const { return findings_; }
  // The card's rate shown (0: none): the one its engine would stream at.
  double DaqRate() const { return daqRate_; }
  // The last supply result shown; null before one arrived, for the card or after an error.
  std::shared_ptr<const InstrumentPreview> Shown() const { return shown_; }
  // Generation of the last request and of the result shown.
  std::uint64_t Requested() const { return requested_; }
  std::uint64_t Delivered() const { return delivered_; }
  const TPreviewWorker& Worker() const { return *worker_; }

 signals:
  // The drawing and the text changed to a new result.
  void updated();
  // The user toggled the action.
  void toggled(bool on);

 private:
  void Show(const PreviewOutcome& outcome);
  void RequestDaqGrid(const SupplyListSettings& limits);
  void ShowDaqGrid(const DaqGridResult& result);
  void Clear();

  TEditorCore& core_;
  TPlot* plot_;
  QLabel* panel_;
  QAction* action_;
  TPlotSeries* voltage_;
  TPlotSeries* current_;
  std::shared_ptr<const InstrumentPreview> shown_;
  QStringList findings_;
  std::uint64_t requested_ = 0;
  std::uint64_t delivered_ = 0;
  std::uint64_t waiting_ = 0;     // the worker's number of the request shown next; 0: none
  std::uint64_t daqWaiting_ = 0;  // the card grid request shown next; 0: none
  std::uint64_t daqRequests_ = 0;
  double daqRate_ = 0.0;
  // Last: their threads post to this object.
  std::unique_ptr<TDaqGridWorker> daqWorker_;
  std::unique_ptr<TPreviewWorker> worker_;
};

}  // namespace ondrevo
