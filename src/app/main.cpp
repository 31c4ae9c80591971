#include <QFileInfo>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <cstring>

#include "app/AboutForm.h"
#include "app/CrashHandler.h"
#include "document/Translate.h"
#ifdef ONDREVO_HAVE_REMOTE
#include "remote/QtMainThread.h"
#endif
#include "app/Icons.h"
#include "app/Startup.h"

namespace {

void PrintHelp() {
  std::printf("%s\n\n%s\n\n", _("Usage: ondrevo [OPTION]... [DOC.ovx]"),
              _("Designs voltage and current curves and plays them on programmable DC power "
                "supplies. Opens DOC.ovx in the editor, else shows the welcome window."));
  std::printf("%s\n", _("Options:"));
  const char* options[][2] = {
      {"--demo", N_("start simulated instruments on every bus for this run")},
      {"--coff", N_("import CSV traces in offset mode")},
      {"--fmax=N", N_("point budget for analog output cards (four digits or more; 12000)")},
      {"--exit-after-start", N_("open the windows, then exit at once (checks an installation)")},
      {"--help", N_("show this help and exit")},
      {"--version", N_("show the version and exit")},
  };
  for (const auto& [name, text] : options) std::printf("  %-20s %s\n", name, _(text));
  std::printf("\n%s\n", _("Environment:"));
  const char* variables[][2] = {
      {"LANGUAGE", N_("the language of the texts, e.g. de")},
      {"APPDATA", N_("settings folder base, else XDG_CONFIG_HOME or ~/.config")},
      {"ONDREVO_SERIAL_PORTS", N_("serial ports to search besides the system's, colon-separated")},
      {"ONDREVO_GPIB_LIBRARY", N_("the GPIB library, else libgpib.so.0, else libni4882.so")},
      {"ONDREVO_USB_LIBRARY", N_("the USB library, else libksvdrv.so")},
      {"ONDREVO_DAQMX_LIBRARY", N_("the NI-DAQmx library, else libnidaqmx.so.1")},
      {"ONDREVO_INTERFACE_PRODUCTS", N_("a file listing the analog and TTL interface products")},
  };
  for (const auto& [name, text] : variables) std::printf("  %-27s %s\n", name, _(text));
}

}  // namespace

int main(int argc, char** argv) {
  // Pictures compiled into the static widget libraries.
  Q_INIT_RESOURCE(editor_icons);
  std::setlocale(LC_ALL, "");
  // Bound before the application exists, so --help speaks the user's language without a display.
  ondrevo::BindTranslations(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
  bool exitAfterStart = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintHelp();
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("ondrevo %s\n", ondrevo::kProgramVersion);
      return 0;
    }
    if (std::strcmp(argv[i], "--exit-after-start") == 0) exitAfterStart = true;
  }
  ondrevo::TOndrevoApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Ondrevo Designer"));
  QApplication::setDesktopFileName(QStringLiteral("ondrevo"));
  QApplication::setWindowIcon(ondrevo::AppIcon());
  QApplication::setQuitOnLastWindowClosed(false);
  ondrevo::InitIconTheme();
  ondrevo::InstallQtTranslations();

  QStringList args = QApplication::arguments();
  args.removeFirst();
#ifdef ONDREVO_HAVE_REMOTE
  ondrevo::InstallQtMainThread();
#endif
  int result = 0;
  {
    ondrevo::TShell shell(args, QApplication::applicationDirPath());
    // Leaves once the windows are up, through the same teardown as a normal exit; exit(), not
    // quit(), which would first ask the windows to close (and an open editor shows the welcome).
    if (exitAfterStart) QTimer::singleShot(0, &app, [] { QCoreApplication::exit(0); });
    result = app.exec();
  }
#ifdef ONDREVO_HAVE_REMOTE
  ondrevo::UninstallQtMainThread();
#endif
  return result;
}
