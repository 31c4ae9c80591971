// The GUI's main-thread hand-over: device events from worker threads run on the Qt event loop's
// thread, and the worker waits until the handler has returned.
#pragma once

namespace ondrevo {

// Call once on the GUI thread after the QApplication exists, before devices are used.
void InstallQtMainThread();
// Back to running handlers where they are raised (before the QApplication goes away).
void UninstallQtMainThread();

}  // namespace ondrevo
