#include "remote/RemoteLog.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "app/TrQ.h"
#include "devices/DeviceInterfaces.h"

namespace ondrevo {

namespace {
const QColor kErrorColor(255, 0, 0);
}

TRemoteLog::TRemoteLog(QWidget* parent) : QTextEdit(parent) {
  setObjectName(QStringLiteral("RemoteOutput"));
  setReadOnly(true);
  setLineWrapMode(QTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

TRemoteLog::TLine TRemoteLog::Append(const QString& text, bool error) {
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  if (lineCount_ > 0) cursor.insertBlock();
  // Each line sets its own colour, so an error line never colours the next one.
  QTextCharFormat format;
  if (error) format.setForeground(kErrorColor);
  cursor.insertText(text, format);
  TLine line{lineCount_, generation_, text};
  ++lineCount_;
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  emit linesChanged();
  return line;
}

void TRemoteLog::AppendError(const QString& message, const IDevice* device) {
  Append(device ? TrQ("Error on") + QLatin1Char(' ') + QString::fromStdString(device->GetModel()) +
                      QStringLiteral(": ") + message
                : TrQ("Error:") + QLatin1Char(' ') + message,
         true);
}

void TRemoteLog::Complete(const TLine& line, const QString& suffix) {
  const QTextBlock block = document()->findBlockByNumber(line.Index);
  if (line.Index < 0 || line.Generation != generation_ || !block.isValid()) {
    // The line was cleared meanwhile: report the outcome on a line of its own.
    Append(line.Text + QLatin1Char(' ') + suffix);
    return;
  }
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(QLatin1Char(' ') + suffix);
}

void TRemoteLog::Clear() {
  clear();
  setTextColor(palette().color(QPalette::Text));
  lineCount_ = 0;
  ++generation_;
  emit linesChanged();
}

QStringList TRemoteLog::Lines() const {
  if (lineCount_ == 0) return {};
  return toPlainText().split(QLatin1Char('\n'));
}

}  // namespace ondrevo
