#include "editor/CommandLine.h"

#include <algorithm>
#include <cctype>

#include "document/Numbers.h"
#include "document/Text.h"

namespace ondrevo {

namespace {

// The budget text must be longer than three characters and a positive whole number.
void TakeBudget(const std::string& text, EditorSwitches& out) {
  if (text.size() <= 3) return;
  std::int64_t n = 0;
  if (TryParseInteger(text, n) && n > 0 && n <= 100000000) {
    out.DaqPointBudget = static_cast<std::int32_t>(n);
  }
}

}  // namespace

EditorSwitches ParseEditorSwitches(const std::vector<std::string>& args) {
  EditorSwitches out;
  for (const std::string& arg : args) {
    const std::string up = Upper(arg);
    if (up == "\\COFF" || up == "--COFF") {
      out.CsvOffsetMode = true;
    } else if (const std::size_t at = up.find("\\FMAX"); at != std::string::npos) {
      TakeBudget(up.substr(at + 5), out);
    } else if (up.rfind("--FMAX=", 0) == 0) {
      TakeBudget(up.substr(7), out);
    }
  }
  return out;
}

}  // namespace ondrevo
