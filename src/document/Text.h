// ASCII text helpers for files, command lines and instrument replies; independent of the locale.
#pragma once

#include <string>
#include <string_view>

namespace ondrevo {

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Without leading and trailing blanks (space, tab, CR, LF, VT, FF).
inline std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// ASCII letters in upper case; other bytes unchanged.
inline std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace ondrevo
