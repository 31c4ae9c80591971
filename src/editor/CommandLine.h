// Command-line switches the editor reads: "\COFF" and "\FMAX<n>" in any letter case, and their
// Linux spellings "--coff" and "--fmax=<n>".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "editor/DeviceLimits.h"

namespace ondrevo {

struct EditorSwitches {
  bool CsvOffsetMode = false;
  std::int32_t DaqPointBudget = kDefaultDaqPointBudget;

  bool operator==(const EditorSwitches&) const = default;
};

// `args` without the program name. Unknown parameters are ignored (the first may name a
// document). A budget text of three characters or fewer, or one that is not a positive whole
// number, leaves the default.
EditorSwitches ParseEditorSwitches(const std::vector<std::string>& args);

}  // namespace ondrevo
