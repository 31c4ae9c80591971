#include "remote/QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <exception>

#include "devices/MainThread.h"

namespace ondrevo {

void InstallQtMainThread() {
  QPointer<QCoreApplication> app = QCoreApplication::instance();
  TMainThread::SetMainThread();
  TMainThread::SetDispatcher(
      [app](const std::function<void()>& fn) {
        // A Qt event handler must not throw: carry the exception back to the waiting worker.
        std::exception_ptr error;
        bool ran = false;
        QCoreApplication* target = app.data();
        if (!target) {
          fn();
          return;
        }
        QMetaObject::invokeMethod(
            target,
            [&] {
              ran = true;
              try {
                fn();
              } catch (...) {
                error = std::current_exception();
              }
            },
            Qt::BlockingQueuedConnection);
        // When the application went away before delivering, the event is dropped and the wait
        // released; the handler then simply did not run.
        (void)ran;
        if (error) std::rethrow_exception(error);
      },
      nullptr,
      [app](std::function<void()> fn) {
        // Reports nobody waits for (upload progress) go through the same event queue, so they stay
        // in order with the blocking hand-overs; an exception of theirs has nobody to go back to.
        QCoreApplication* target = app.data();
        if (!target) return;
        QMetaObject::invokeMethod(
            target,
            [fn = std::move(fn)] {
              try {
                fn();
              } catch (...) {
              }
            },
            Qt::QueuedConnection);
      });
}

void UninstallQtMainThread() {
  TMainThread::SetDispatcher(nullptr);
}

}  // namespace ondrevo
