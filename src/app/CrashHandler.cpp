#include "app/CrashHandler.h"

#include <QMessageBox>
#include <exception>

#include "document/Translate.h"

namespace ondrevo {

TCrashHandler::TCrashHandler(QObject* parent) : QObject(parent) {
  crashTimer_.setInterval(200);
  crashTimer_.setSingleShot(false);
  connect(&crashTimer_, &QTimer::timeout, this, &TCrashHandler::OnCrashTimer);

  MessageParent = [] { return QApplication::activeWindow(); };
  ShowError = [this](const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(_("Ondrevo")), text, QMessageBox::Ok,
                    MessageParent ? MessageParent() : nullptr);
    box.exec();
  };
  AskTerminate = [this](const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(_("Ondrevo")), text,
                    QMessageBox::Yes | QMessageBox::No, MessageParent ? MessageParent() : nullptr);
    return box.exec() == QMessageBox::Yes;
  };
  Terminate = [] { std::_Exit(1); };
}

QString TCrashHandler::FirstMessage(const QString& message) {
  return QString::fromUtf8(_("An unhandled exception occurred. You should save your work and try a "
                             "restart of Ondrevo.")) +
         "\n\n" + QString::fromUtf8(_("Error:")) + " \"" + message + "\"";
}

QString TCrashHandler::TerminateQuestion(const QString& message) {
  return QString::fromUtf8(_("Ondrevo cannot recover from the error state. Do you want to "
                             "terminate Ondrevo now?")) +
         "\n\n" + QString::fromUtf8(_("Error:")) + " \"" + message + "\"";
}

void TCrashHandler::HandleException(const QString& message) {
  if (!crashFlag_) {
    ShowError(FirstMessage(message));
    crashFlag_ = true;
    crashTimer_.start();
  } else {
    crashTimer_.stop();
    if (AskTerminate(TerminateQuestion(message))) Terminate();
  }
}

void TCrashHandler::OnCrashTimer() {
  crashFlag_ = false;
  crashTimer_.stop();
}

TOndrevoApplication::TOndrevoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TOndrevoApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    if (!handler_) throw;
    handler_->HandleException(QString::fromUtf8(e.what()));
  } catch (...) {
    if (!handler_) throw;
    handler_->HandleException(QString::fromUtf8(_("Unknown error")));
  }
  return false;
}

}  // namespace ondrevo
