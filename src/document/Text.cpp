#include "document/Text.h"

namespace ondrevo {

namespace {

// Length of the valid UTF-8 character at the start of `s` that may be shown (no C1 control,
// surrogate or overlong form); 0 when the first byte must be escaped.
std::size_t ShowableCharacter(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c >= 0x20 && c < 0x7f) return 1;
  std::size_t n = 0;
  char32_t code = 0;
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2;
    code = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3;
    code = c & 0x0f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (b(i) & 0x3f);
  }
  const bool overlong = (n == 3 && code < 0x800) || (n == 4 && code < 0x10000);
  const bool surrogate = code >= 0xd800 && code <= 0xdfff;
  if (overlong || surrogate || code > 0x10ffff || (code >= 0x80 && code < 0xa0)) return 0;
  return n;
}

void AppendEscaped(std::string& out, unsigned char c) {
  static const char* const hex = "0123456789ABCDEF";
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\\':
      out += "\\\\";
      return;
    default:
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
  }
}

std::string Escape(std::string_view text, std::size_t limit) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t n = ShowableCharacter(text.substr(i));
    if (i + (n ? n : 1) > limit) return out + "...";
    if (n == 0 || text[i] == '\\') {
      AppendEscaped(out, static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace

std::string ShowForeign(std::string_view text, std::size_t limit) {
  return Escape(text, limit);
}

std::string EscapeControls(std::string_view text) {
  return Escape(text, text.size());
}

std::string FillPlaceholders(std::string text,
                             std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& [key, value] : values) {
    const std::string k = std::string("{") + key + "}";
    for (std::size_t at = text.find(k); at != std::string::npos;
         at = text.find(k, at + value.size()))
      text.replace(at, k.size(), value);
  }
  return text;
}

}  // namespace ondrevo
