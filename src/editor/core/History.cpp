#include "editor/core/History.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace ondrevo {

namespace {

bool SameSuperposition(const SuperpositionSpec& a, const SuperpositionSpec& b) {
  return a.Kind == b.Kind && a.FreqStart == b.FreqStart && a.FreqEnd == b.FreqEnd &&
         a.AmpStart == b.AmpStart && a.AmpEnd == b.AmpEnd && a.DutyCycle == b.DutyCycle &&
         a.Phase == b.Phase;
}

bool Bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every field the same, to the bit: rows shared instead of copied restore as the copy would.
bool SameBits(const SegmentRow& a, const SegmentRow& b) {
  const auto same = [](const SuperpositionSpec& x, const SuperpositionSpec& y) {
    return x.Kind == y.Kind && Bits(x.FreqStart, y.FreqStart) && Bits(x.FreqEnd, y.FreqEnd) &&
           Bits(x.AmpStart, y.AmpStart) && Bits(x.AmpEnd, y.AmpEnd) && x.DutyCycle == y.DutyCycle &&
           x.Phase == y.Phase;
  };
  return Bits(a.Time, b.Time) && Bits(a.Value, b.Value) && same(a.Sup1, b.Sup1) &&
         same(a.Sup2, b.Sup2) && a.PreviewSlot == b.PreviewSlot;
}

// Beyond this many slices a curve is copied into one fresh block, so that a long run of edits
// cannot make a state cost more in slices than in rows.
std::size_t MaxSlices(std::int32_t rows) {
  return 8 + static_cast<std::size_t>(rows) / 32;
}

}  // namespace

bool SameRowData(const SegmentRow& a, const SegmentRow& b) {
  return a.Time == b.Time && a.Value == b.Value && SameSuperposition(a.Sup1, b.Sup1) &&
         SameSuperposition(a.Sup2, b.Sup2);
}

void TCurveSnapshot::CopySlices(std::int32_t begin, std::int32_t length,
                                std::vector<Slice>& out) const {
  std::int32_t pos = 0;
  const std::int32_t end = begin + length;
  for (const Slice& s : slices_) {
    const std::int32_t sBegin = pos;
    const std::int32_t sEnd = pos + static_cast<std::int32_t>(s.Length);
    pos = sEnd;
    if (sEnd <= begin) continue;
    if (sBegin >= end) break;
    const std::int32_t from = std::max(sBegin, begin);
    const std::int32_t to = std::min(sEnd, end);
    out.push_back({s.Block, s.Begin + static_cast<std::uint32_t>(from - sBegin),
                   static_cast<std::uint32_t>(to - from)});
  }
}

TCurveSnapshot TCurveSnapshot::Capture(const SegmentTable& table, const TCurveSnapshot& base,
                                       bool* same, const std::shared_ptr<const RowBlock>& known) {
  TCurveSnapshot snap;
  const std::int32_t n = table.LastPointIndex();
  if (same) *same = n < 1 && base.count_ < 0;
  if (n < 1) return snap;
  const std::int32_t rows = n + 1;
  const std::int32_t baseRows = base.count_ >= 0 ? base.RowCount() : 0;
  const std::int32_t common = std::min(rows, baseRows);

  // The rows that changed lie between the longest equal prefix and the longest equal suffix.
  std::int32_t prefix = 0;
  for (const Slice& s : base.slices_) {
    bool differs = false;
    for (std::uint32_t k = 0; k < s.Length && prefix < common; ++k, ++prefix) {
      if (!SameRowData((*s.Block)[s.Begin + k], table[prefix])) {
        differs = true;
        break;
      }
    }
    if (differs || prefix >= common) break;
  }
  std::int32_t suffix = 0;
  const std::int32_t maxSuffix = common - prefix;
  for (auto it = base.slices_.rbegin(); it != base.slices_.rend() && suffix < maxSuffix; ++it) {
    bool differs = false;
    for (std::uint32_t k = it->Length; k-- > 0 && suffix < maxSuffix; ++suffix) {
      if (!SameRowData((*it->Block)[it->Begin + k], table[rows - 1 - suffix])) {
        differs = true;
        break;
      }
    }
    if (differs) break;
  }

  snap.count_ = n;
  if (prefix == rows && rows == baseRows) {
    if (same) *same = true;
    snap.slices_ = base.slices_;
    return snap;
  }
  base.CopySlices(0, prefix, snap.slices_);
  const std::int32_t changedEnd = rows - suffix;
  if (changedEnd > prefix) {
    // A whole curve equal to rows held elsewhere (what a loaded document's grid shows) shares
    // them: a long document would otherwise be held once more.
    const bool whole = prefix == 0 && changedEnd == rows && known &&
                       known->size() == static_cast<std::size_t>(rows) &&
                       std::equal(known->begin(), known->end(), &table[0], SameBits);
    std::shared_ptr<const RowBlock> block =
        whole ? known
              : std::make_shared<RowBlock>(&table[prefix], &table[prefix] + (changedEnd - prefix));
    snap.slices_.push_back({std::move(block), 0, static_cast<std::uint32_t>(changedEnd - prefix)});
  }
  base.CopySlices(baseRows - suffix, suffix, snap.slices_);

  if (snap.slices_.size() > MaxSlices(rows)) {
    auto block = std::make_shared<RowBlock>(&table[0], &table[0] + rows);
    snap.slices_.clear();
    snap.slices_.push_back({std::move(block), 0, static_cast<std::uint32_t>(rows)});
  }
  return snap;
}

bool TCurveSnapshot::Matches(const SegmentTable& table) const {
  const std::int32_t n = table.LastPointIndex();
  if ((n < 1 ? -1 : n) != count_) return false;
  std::int32_t i = 0;
  for (const Slice& s : slices_) {
    for (std::uint32_t k = 0; k < s.Length; ++k, ++i) {
      if (!SameRowData((*s.Block)[s.Begin + k], table[i])) return false;
    }
  }
  return true;
}

void TCurveSnapshot::RestoreInto(SegmentTable& table) const {
  if (count_ < 1) {
    table.SetLastPointIndex(0);
    return;
  }
  table[count_];  // allocates rows 0..count_, so they are contiguous from row 0
  table.SetLastPointIndex(count_);
  SegmentRow* out = &table[0];
  for (const Slice& s : slices_) {
    const SegmentRow* from = s.Block->data() + s.Begin;
    out = std::copy(from, from + s.Length, out);
  }
}

// ---- TEditHistory ----------------------------------------------------------------------------

void TEditHistory::ClearHistory() {
  undo_.fill({});
  redo_.fill({});
  undoPos_ = redoPos_ = 0;
  undoDepth_ = redoDepth_ = 0;
  netChanges_ = 0;
  canUndo_ = canRedo_ = false;
}

void TEditHistory::ClearHistory(const SegmentTable& voltage, const SegmentTable& current,
                                const std::shared_ptr<const std::vector<SegmentRow>>& known) {
  ClearHistory();
  undo_[0].Voltage = TCurveSnapshot::Capture(voltage, {}, nullptr, known);
  undo_[0].Current = TCurveSnapshot::Capture(current, {}, nullptr, known);
}

void TEditHistory::ClearHistory(const Document& shown) {
  // The working table is the newest form of the active curve.
  if (shown.Active == Quantity::Voltage)
    ClearHistory(shown.Working, shown.Current);
  else
    ClearHistory(shown.Voltage, shown.Working);
}

bool TEditHistory::RecordStep(Document& doc) {
  if (suppress_) return false;
  doc.ActiveTable() = doc.Working;
  return RecordStep(doc.Voltage, doc.Current);
}

bool TEditHistory::RecordStep(const SegmentTable& voltage, const SegmentTable& current) {
  if (suppress_) return false;
  const TDocumentState& shown = Current();
  bool sameVoltage = false, sameCurrent = false;
  TDocumentState state{TCurveSnapshot::Capture(voltage, shown.Voltage, &sameVoltage),
                       TCurveSnapshot::Capture(current, shown.Current, &sameCurrent)};
  if (sameVoltage && sameCurrent) return false;
  undoPos_ = Next(undoPos_);
  undo_[static_cast<std::size_t>(undoPos_)] = std::move(state);
  ++netChanges_;
  undoDepth_ = std::min(undoDepth_ + 1, kReach);
  canUndo_ = true;
  return true;
}

bool TEditHistory::Undo(SegmentTable& voltage, SegmentTable& current) {
  if (!canUndo_) return false;
  redoPos_ = Next(redoPos_);
  redo_[static_cast<std::size_t>(redoPos_)] = undo_[static_cast<std::size_t>(undoPos_)];
  redoDepth_ = std::min(redoDepth_ + 1, kReach);
  undoPos_ = Prev(undoPos_);
  --undoDepth_;
  --netChanges_;
  canRedo_ = true;
  const TDocumentState& shown = Current();
  shown.Voltage.RestoreInto(voltage);
  shown.Current.RestoreInto(current);
  canUndo_ = undoDepth_ > 0 && shown.NonEmpty();
  return true;
}

bool TEditHistory::Redo(SegmentTable& voltage, SegmentTable& current) {
  if (!canRedo_) return false;
  undoPos_ = Next(undoPos_);
  undo_[static_cast<std::size_t>(undoPos_)] = redo_[static_cast<std::size_t>(redoPos_)];
  undoDepth_ = std::min(undoDepth_ + 1, kReach);
  ++netChanges_;
  canUndo_ = true;
  const TDocumentState& shown = Current();
  shown.Voltage.RestoreInto(voltage);
  shown.Current.RestoreInto(current);
  redoPos_ = Prev(redoPos_);
  --redoDepth_;
  canRedo_ = redoDepth_ > 0 && redo_[static_cast<std::size_t>(redoPos_)].NonEmpty();
  return true;
}

bool TEditHistory::Undo(Document& doc) {
  if (!Undo(doc.Voltage, doc.Current)) return false;
  doc.Working = doc.ActiveTable();
  return true;
}

bool TEditHistory::Redo(Document& doc) {
  if (!Redo(doc.Voltage, doc.Current)) return false;
  doc.Working = doc.ActiveTable();
  return true;
}

std::size_t TEditHistory::SharedRowBytes() const {
  std::unordered_set<const void*> seen;
  std::size_t bytes = 0;
  auto count = [&](const TCurveSnapshot& c) {
    bytes += c.SliceCount() * 24;
    c.ForEachBlock([&](const std::vector<SegmentRow>* b) {
      if (seen.insert(b).second) bytes += b->capacity() * sizeof(SegmentRow);
    });
  };
  for (const auto* ring : {&undo_, &redo_}) {
    for (const TDocumentState& s : *ring) {
      count(s.Voltage);
      count(s.Current);
    }
  }
  return bytes;
}

}  // namespace ondrevo
