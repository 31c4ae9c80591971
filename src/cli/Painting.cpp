#include "cli/Painting.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ondrevo::cli {

std::unique_ptr<QGuiApplication> PaintingApplication() {
  if (QCoreApplication::instance()) return nullptr;
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  const std::string before = chosen ? chosen : "";
  const std::string platforms = before.empty() ? "offscreen" : before + ";offscreen";
  setenv("QT_QPA_PLATFORM", platforms.c_str(), 1);
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
      std::fprintf(stderr, "ondrevo-cli: %s\n", message.toLocal8Bit().constData());
  });
  static int argc = 1;
  static char name[] = "ondrevo-cli";
  static char* argv[] = {name, nullptr};
  auto app = std::make_unique<QGuiApplication>(argc, argv);
  if (before.empty())
    unsetenv("QT_QPA_PLATFORM");
  else
    setenv("QT_QPA_PLATFORM", before.c_str(), 1);
  return app;
}

}  // namespace ondrevo::cli
