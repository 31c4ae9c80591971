#include "remote/RemotePreview.h"

#include "app/TrQ.h"

namespace ondrevo {

TRemotePreview::TRemotePreview(QObject* parent) : QObject(parent) {
  worker_ = std::make_unique<TPreviewWorker>([this](const PreviewOutcome& outcome) {
    QMetaObject::invokeMethod(
        this, [this, outcome] { Report(outcome); }, Qt::QueuedConnection);
  });
}

TRemotePreview::~TRemotePreview() {
  worker_.reset();
}

void TRemotePreview::Request(const SupplyListSettings& settings, const SegmentTable& voltage,
                             const SegmentTable& current, std::chrono::milliseconds wait) {
  requested_ = worker_->Request({voltage, current, settings});
  if (wait.count() <= 0 || !worker_->WaitIdle(wait)) return;
  if (const auto latest = worker_->Latest(); latest && latest->Generation == requested_)
    Report(*latest);
}

void TRemotePreview::Cancel() {
  worker_->Cancel();
  requested_ = 0;  // the worker never numbers a request 0
}

void TRemotePreview::Report(const PreviewOutcome& outcome) {
  if (requested_ == 0 || outcome.Generation != requested_ || outcome.Generation == reported_) return;
  reported_ = outcome.Generation;
  const QString warning = TrQ("Warning: ");
  if (!outcome.Preview) {
    emit line(warning + QString::fromStdString(outcome.Error), true);
    emit finished();
    return;
  }
  const QString summary = QString::fromStdString(PreviewSummary(*outcome.Preview));
  emit line(TrQ("The device will play:") + QLatin1Char(' ') + summary, false);
  // The missing current curve is part of the summary already.
  for (const std::string& finding : PreviewFindings(*outcome.Preview)) {
    const QString text = QString::fromStdString(finding);
    if (!summary.contains(text)) emit line(warning + text, true);
  }
  emit finished();
}

}  // namespace ondrevo
