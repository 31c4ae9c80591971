// Icons from the desktop theme, with the program's own pictures as fallback.
#pragma once

#include <QIcon>
#include <QString>

namespace ondrevo {

// The theme icon `themeName`, or the bundled ":/ondrevo/icons/<fallback>.svg".
QIcon ThemeIcon(const QString& themeName, const QString& fallback);
QIcon AppIcon();
// Picks a theme when the platform names none (bare X servers, offscreen).
void InitIconTheme();

}  // namespace ondrevo
