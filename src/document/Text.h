// ASCII text helpers for files, command lines and instrument replies; independent of the locale.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

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

// Bytes of foreign text (a file's content, an instrument's reply) that a message quotes at most.
inline constexpr std::size_t kForeignTextLimit = 80;

// Foreign text fit for one line of a message: at most `limit` of its bytes (whole characters;
// "..." appended when cut), control bytes, DEL, C1 controls and bytes that are not UTF-8 shown as
// \xNN (\n, \r, \t and \\ as such). So a huge text cannot flood a message, a line break cannot
// forge another line and no escape sequence reaches a terminal.
std::string ShowForeign(std::string_view text, std::size_t limit = kForeignTextLimit);

// Every byte kept, escaped as ShowForeign does: for records that must hold all that was received.
std::string EscapeControls(std::string_view text);

// Every "{key}" of a translated pattern replaced by its value, so that translations may order
// the values as their language wants.
std::string FillPlaceholders(std::string text,
                             std::initializer_list<std::pair<const char*, std::string>> values);

}  // namespace ondrevo
