#include "remote/CommandsView.h"

#include <QApplication>
#include <QPointer>
#include <QTime>

#include "devices/Interface.h"

namespace ondrevo {

TCommandsView::TCommandsView(QWidget* parent) : QPlainTextEdit(parent) {
  setObjectName(QStringLiteral("CommandsView"));
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setMaximumBlockCount(100000);
}

TCommandsView::~TCommandsView() {
  Trace(nullptr);
}

void TCommandsView::Trace(const std::shared_ptr<TInterface>& transport) {
  if (auto previous = traced_.lock()) previous->SetTraceObserver(nullptr);
  traced_ = transport;
  if (!transport) return;
  // Any thread traces; the line reaches the view through the event loop, never blocking.
  QPointer<TCommandsView> self(this);
  transport->SetTraceObserver([self](const std::string& line) {
    const QString stamped = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) +
                            QLatin1Char(' ') + QString::fromUtf8(line.c_str());
    QMetaObject::invokeMethod(
        qApp,
        [self, stamped] {
          if (self) self->appendPlainText(stamped);
        },
        Qt::QueuedConnection);
  });
}

QStringList TCommandsView::Lines() const {
  const QString text = toPlainText();
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

}  // namespace ondrevo
