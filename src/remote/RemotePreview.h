// What a connected supply will play, reported in the remote window's log before the upload:
// the summary, then every finding that plays the document differently (never blocking).
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

#include "playback/PreviewWorker.h"

namespace ondrevo {

class TRemotePreview : public QObject {
  Q_OBJECT
 public:
  explicit TRemotePreview(QObject* parent = nullptr);
  ~TRemotePreview() override;

  // Replaces any computation under way. A result ready within `wait` is reported before this
  // returns (so a short document's lines come in order); a later one when it arrives.
  void Request(const SupplyListSettings& settings, const SegmentTable& voltage,
               const SegmentTable& current, std::chrono::milliseconds wait = {});
  void Cancel();
  const TPreviewWorker& Worker() const { return *worker_; }

 signals:
  // One log line; `warning` marks a finding (error colour).
  void line(const QString& text, bool warning);
  // Every line of the result has been sent.
  void finished();

 private:
  void Report(const PreviewOutcome& outcome);

  std::uint64_t requested_ = 0;
  std::uint64_t reported_ = 0;
  std::unique_ptr<TPreviewWorker> worker_;  // last: its thread posts to this object
};

}  // namespace ondrevo
