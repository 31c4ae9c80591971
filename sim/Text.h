// Small text helpers shared by the simulated command parsers.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "document/Text.h"

namespace ondrevo::sim {

using ondrevo::Trim;
using ondrevo::Upper;

// Pieces between separators, each trimmed; "a;;b" gives a, "", b.
inline std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    pieces.push_back(Trim(text.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

// Range test that lets a value through which only its last printed digit puts outside.
inline bool InRange(double value, double low, double high) {
  const double slack = 1e-9 * std::max(1.0, std::fabs(high));
  return value >= low - slack && value <= high + slack;
}

}  // namespace ondrevo::sim
