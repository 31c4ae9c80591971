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
                             const SegmentTable& current) {
  requested_ = worker_->Request({voltage, current, settings});
}

void TRemotePreview::Cancel() {
  worker_->Cancel();
  ++requested_;
}

void TRemotePreview::Report(const PreviewOutcome& outcome) {
  if (outcome.Generation != requested_) return;
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
