#include <clocale>

#include "app/CrashHandler.h"
#ifdef ONDREVO_HAVE_REMOTE
#include "remote/QtMainThread.h"
#endif
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
#ifdef ONDREVO_HAVE_REMOTE
  ondrevo::InstallQtMainThread();
#endif
  int result = 0;
  {
    ondrevo::TShell shell(args, QApplication::applicationDirPath());
    result = app.exec();
  }
#ifdef ONDREVO_HAVE_REMOTE
  ondrevo::UninstallQtMainThread();
#endif
  return result;
}
