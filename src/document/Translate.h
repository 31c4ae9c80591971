// Every user-visible text goes through gettext with the English text as key.
#pragma once

#include <libintl.h>

#include <string>

namespace ondrevo {
inline constexpr const char* kTextDomain = "ondrevo";
inline const char* Tr(const char* english) {
  return dgettext(kTextDomain, english);
}
}  // namespace ondrevo

#ifndef _
#define _(text) ::ondrevo::Tr(text)
#endif
// Marks a text for the catalogue without translating it here.
#ifndef N_
#define N_(text) text
#endif
