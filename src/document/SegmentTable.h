// The document's data model: two curves of points, each pair of neighbours a segment.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ondrevo {

enum class SuperpositionKind : std::uint8_t {
  None = 0,
  Sine = 1,
  Square = 2,
  Triangle = 3,
  Sawtooth = 4
};

// Element name in .ovx files ("sine", "square", "triangle", "saw"); empty for None.
const char* SuperpositionElementName(SuperpositionKind kind);
// English name shown to the user ("Sine", "Square", "Triangle", "Saw tooth"); empty for None.
const char* SuperpositionDisplayName(SuperpositionKind kind);

// The highest superposition frequency (the tabs' largest value in Hz). Faster ones are refused
// where they enter: at 20 samples a period their sample times soon stop advancing a double.
inline constexpr double kMaxFrequency = 1.0e9;  // Hz
// Whether a frequency may enter a curve: finite and at most kMaxFrequency either way.
bool FrequencyWithinLimit(double hz);
// "A frequency cannot exceed 1000000000 Hz:", translated, for the messages that refuse one.
std::string FrequencyLimitText();

struct SuperpositionSpec {
  SuperpositionKind Kind = SuperpositionKind::None;
  double FreqStart = 1.0;       // Hz
  double FreqEnd = 1.0;         // Hz
  double AmpStart = 1.0;        // peak to peak
  double AmpEnd = 1.0;          // peak to peak
  std::int32_t DutyCycle = 50;  // percent
  std::int32_t Phase = 0;       // degrees

  bool operator==(const SuperpositionSpec&) const = default;
};

struct SegmentRow {
  double Time = 0.0;   // s from the start of the curve
  double Value = 0.0;  // V or A
  SuperpositionSpec Sup1;
  SuperpositionSpec Sup2;
  std::uint8_t PreviewSlot = 0;  // editor state, never stored in files

  bool operator==(const SegmentRow&) const = default;
};

// Raised when a curve would need more rows than a table holds.
class ECapacityError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A curve: rows 0..N are its points, N its last point index (N segments).
// Storage grows on demand up to kCapacity rows and never shrinks, so rows above N keep
// what they last held, as the editor expects.
class SegmentTable {
 public:
  static constexpr std::int32_t kCapacity = 60000;

  std::int32_t LastPointIndex() const { return last_; }
  // Sets N; refuses N outside 0..kCapacity-1 with ECapacityError.
  void SetLastPointIndex(std::int32_t n);
  std::int32_t SegmentCount() const { return last_; }

  // Row i (0 <= i < kCapacity); the mutable form allocates rows up to i, refusing i beyond the
  // capacity with ECapacityError.
  // Rows already stored are reached inline: editors and samplers index rows in their loops.
  SegmentRow& operator[](std::int32_t i) {
    if (i >= 0 && static_cast<std::size_t>(i) < rows_.size())
      return rows_[static_cast<std::size_t>(i)];
    return Grow(i);
  }
  const SegmentRow& operator[](std::int32_t i) const {
    if (i >= 0 && static_cast<std::size_t>(i) < rows_.size())
      return rows_[static_cast<std::size_t>(i)];
    return Untouched(i);
  }
  SegmentRow& Row(std::int32_t i) { return (*this)[i]; }
  const SegmentRow& Row(std::int32_t i) const { return (*this)[i]; }

  double SegmentDuration(std::int32_t i) const { return (*this)[i + 1].Time - (*this)[i].Time; }
  // Time of the last point; 0 for an empty curve.
  double Length() const { return last_ > 0 ? (*this)[last_].Time : 0.0; }
  bool HasSuperposition(std::int32_t i) const {
    return (*this)[i].Sup1.Kind != SuperpositionKind::None;
  }

  // Superpositions to their defaults and PreviewSlot 0 in every row, N = 0; times and values stay.
  void Reset();

  // Rows 0..N compared field by field (rows above N do not count).
  bool SameCurve(const SegmentTable& other) const;

 private:
  SegmentRow& Grow(std::int32_t i);
  static const SegmentRow& Untouched(std::int32_t i);

  std::vector<SegmentRow> rows_;
  std::int32_t last_ = 0;
};

enum class Quantity { Voltage, Current };

// The one document the editor owns: two curves, a working copy of the active one.
struct Document {
  SegmentTable Voltage;
  SegmentTable Current;
  SegmentTable Working;
  Quantity Active = Quantity::Voltage;

  SegmentTable& TableOf(Quantity q) { return q == Quantity::Voltage ? Voltage : Current; }
  const SegmentTable& TableOf(Quantity q) const {
    return q == Quantity::Voltage ? Voltage : Current;
  }
  SegmentTable& ActiveTable() { return TableOf(Active); }
};

}  // namespace ondrevo
