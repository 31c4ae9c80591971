#include <clocale>

#include "app/CrashHandler.h"
#include "app/Icons.h"
#include "app/Startup.h"

int main(int argc, char** argv) {
  // Pictures compiled into the static widget libraries.
  Q_INIT_RESOURCE(editor_icons);
  std::setlocale(LC_ALL, "");
  ondrevo::TOndrevoApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ondrevo Designer"));
  QApplication::setDesktopFileName(QStringLiteral("ondrevo"));
  QApplication::setWindowIcon(ondrevo::AppIcon());
  QApplication::setQuitOnLastWindowClosed(false);
  ondrevo::InitIconTheme();
  ondrevo::BindTranslations(QApplication::applicationDirPath());

  QStringList args = QApplication::arguments();
  args.removeFirst();
  ondrevo::TShell shell(args, QApplication::applicationDirPath());
  return app.exec();
}
