#include "document/SegmentTable.h"

#include <cmath>
#include <string>

#include "document/Numbers.h"
#include "document/Translate.h"

namespace ondrevo {

bool FrequencyWithinLimit(double hz) {
  return std::fabs(hz) <= kMaxFrequency;
}

std::string FrequencyLimitText() {
  return _("A frequency cannot exceed") + (" " + FormatGeneral(kMaxFrequency) + " Hz:");
}

const char* SuperpositionElementName(SuperpositionKind kind) {
  switch (kind) {
    case SuperpositionKind::Sine:
      return "sine";
    case SuperpositionKind::Square:
      return "square";
    case SuperpositionKind::Triangle:
      return "triangle";
    case SuperpositionKind::Sawtooth:
      return "saw";
    default:
      return "";
  }
}

const char* SuperpositionDisplayName(SuperpositionKind kind) {
  switch (kind) {
    case SuperpositionKind::Sine:
      return "Sine";
    case SuperpositionKind::Square:
      return "Square";
    case SuperpositionKind::Triangle:
      return "Triangle";
    case SuperpositionKind::Sawtooth:
      return "Saw tooth";
    default:
      return "";
  }
}

static void CheckIndex(std::int32_t i) {
  if (i < 0 || i >= SegmentTable::kCapacity)
    throw ECapacityError("A curve can hold at most " + std::to_string(SegmentTable::kCapacity) +
                         " points.");
}

void SegmentTable::SetLastPointIndex(std::int32_t n) {
  CheckIndex(n);
  if (static_cast<std::size_t>(n) >= rows_.size()) rows_.resize(static_cast<std::size_t>(n) + 1);
  last_ = n;
}

SegmentRow& SegmentTable::Grow(std::int32_t i) {
  CheckIndex(i);
  rows_.resize(static_cast<std::size_t>(i) + 1);
  return rows_[static_cast<std::size_t>(i)];
}

const SegmentRow& SegmentTable::Untouched(std::int32_t i) {
  static const SegmentRow kUntouched{};
  CheckIndex(i);
  return kUntouched;
}

void SegmentTable::Reset() {
  for (auto& row : rows_) {
    row.Sup1 = SuperpositionSpec{};
    row.Sup2 = SuperpositionSpec{};
    row.PreviewSlot = 0;
  }
  last_ = 0;
}

bool SegmentTable::SameCurve(const SegmentTable& other) const {
  if (last_ != other.last_) return false;
  for (std::int32_t i = 0; i <= last_; ++i)
    if (!((*this)[i] == other[i])) return false;
  return true;
}

}  // namespace ondrevo
