// The application-wide handler for exceptions that reach the message loop.
#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <functional>

namespace ondrevo {

class TCrashHandler : public QObject {
  Q_OBJECT
 public:
  explicit TCrashHandler(QObject* parent = nullptr);

  // Seams: the error box, the termination question (true for Yes) and the termination.
  std::function<void(const QString& text)> ShowError;
  std::function<bool(const QString& text)> AskTerminate;
  std::function<void()> Terminate;
  // Window the messages are parented to.
  std::function<QWidget*()> MessageParent;

  void HandleException(const QString& message);
  bool CrashFlag() const { return crashFlag_; }
  QTimer& CrashTimer() { return crashTimer_; }

  static QString FirstMessage(const QString& message);
  static QString TerminateQuestion(const QString& message);

 private:
  bool crashFlag_ = false;
  QTimer crashTimer_;
  void OnCrashTimer();
};

// Routes exceptions escaping event handlers to a TCrashHandler.
class TOndrevoApplication : public QApplication {
 public:
  TOndrevoApplication(int& argc, char** argv);
  void SetCrashHandler(TCrashHandler* handler) { handler_ = handler; }
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  TCrashHandler* handler_ = nullptr;
};

}  // namespace ondrevo
