// Text helpers shared by the editor window's source files.
#pragma once

#include <QLocale>
#include <QString>
#include <string>

#include "document/Translate.h"

namespace ondrevo {

inline QString T(const char* english) {
  return QString::fromUtf8(_(english));
}

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Shown numbers use the user's decimal separator; files never see these.
inline QString Localized(const std::string& text) {
  QString s = Q(text);
  return s.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

}  // namespace ondrevo
