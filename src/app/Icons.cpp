#include "app/Icons.h"

#include <QDir>

// Resources of a static library must be registered by hand.
static void InitAppResources() {
  Q_INIT_RESOURCE(app);
}

namespace ondrevo {

namespace {
void EnsureResources() {
  static const bool done = (InitAppResources(), true);
  (void)done;
}
}  // namespace

QIcon ThemeIcon(const QString& themeName, const QString& fallback) {
  EnsureResources();
  QIcon own(QStringLiteral(":/ondrevo/icons/%1.svg").arg(fallback));
  if (themeName.isEmpty()) return own;
  return QIcon::fromTheme(themeName, own);
}

QIcon AppIcon() {
  return QIcon(QStringLiteral(":/ondrevo/icons/ondrevo.svg"));
}

void InitIconTheme() {
  if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor")) return;
  for (const char* name : {"Adwaita", "breeze", "oxygen", "Tango"}) {
    for (const QString& base : QIcon::themeSearchPaths()) {
      if (QDir(base + "/" + QLatin1String(name)).exists()) {
        QIcon::setThemeName(QLatin1String(name));
        return;
      }
    }
  }
}

}  // namespace ondrevo
