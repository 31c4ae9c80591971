// gettext lookup returning a QString (catalogue keyword "TrQ").
#pragma once

#include <QString>

#include "document/Translate.h"

namespace ondrevo {
inline QString TrQ(const char* english) {
  return QString::fromUtf8(_(english));
}
}  // namespace ondrevo
