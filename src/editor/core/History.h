// Undo and redo of the document: two rings of 256 complete states and the net change count
// behind the modified flag. No widgets; the editor window restores previews and the grid from
// the curves it gets back.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "document/SegmentTable.h"

namespace ondrevo {

// One curve as recorded: rows 0..Count held as slices of immutable row blocks. A state shares
// every run of rows that did not change with the state it was recorded after, so a cell edit
// costs one row, not a copy of the curve.
class TCurveSnapshot {
 public:
  // Last point index; -1 for a curve without a segment (empty, or a lone first point, which is
  // not saved either).
  std::int32_t Count() const { return count_; }
  // Two points or more: Undo and Redo restore only such curves.
  bool NonEmpty() const { return count_ >= 1; }
  std::int32_t RowCount() const { return count_ + 1; }

  // Rows 0..N of `table` (nothing when N is 0), sharing runs equal to `base`; `same` tells
  // whether the curve equals `base`.
  // `known`, when it holds exactly rows 0..N of `table`, is shared instead of copied.
  static TCurveSnapshot Capture(const SegmentTable& table, const TCurveSnapshot& base,
                                bool* same = nullptr,
                                const std::shared_ptr<const std::vector<SegmentRow>>& known = {});
  // Same points with the same time, value and superpositions (preview slots do not count).
  bool Matches(const SegmentTable& table) const;
  // Rows 0..Count into `table` and N = Count (0 for an empty snapshot); rows above stay.
  void RestoreInto(SegmentTable& table) const;

  // Distinct row blocks and slices, for memory accounting.
  std::size_t SliceCount() const { return slices_.size(); }
  template <typename F>
  void ForEachBlock(F&& f) const {
    for (const Slice& s : slices_) f(s.Block.get());
  }

 private:
  using RowBlock = std::vector<SegmentRow>;
  struct Slice {
    std::shared_ptr<const RowBlock> Block;
    std::uint32_t Begin = 0;
    std::uint32_t Length = 0;
  };
  // Appends rows [begin, begin + length) of this snapshot's slices to `out`.
  void CopySlices(std::int32_t begin, std::int32_t length, std::vector<Slice>& out) const;

  std::int32_t count_ = -1;
  std::vector<Slice> slices_;
};

// The same fields RecordStep compares: everything but the preview slot.
bool SameRowData(const SegmentRow& a, const SegmentRow& b);

struct TDocumentState {
  TCurveSnapshot Voltage;
  TCurveSnapshot Current;
  bool NonEmpty() const { return Voltage.NonEmpty() || Current.NonEmpty(); }
};

class TEditHistory {
 public:
  static constexpr int kSlots = 256;
  // How far Undo (and Redo) reach in a row: the ring holds the shown state and 255 before it.
  static constexpr int kReach = kSlots - 1;

  TEditHistory() = default;

  // Empties both rings; the document is not modified. `shown` becomes the state the first
  // Undo returns to (without it, the empty document, and an Undo after loading would empty
  // both curves).
  void ClearHistory();
  void ClearHistory(const Document& shown);
  // `known`: rows that one of the curves may equal exactly (the grid's points), shared if so.
  void ClearHistory(const SegmentTable& voltage, const SegmentTable& current,
                    const std::shared_ptr<const std::vector<SegmentRow>>& known = {});

  // Set while a spin arrow is handled, so holding it does not record a state per step.
  void SetSuppressRecording(bool suppress) { suppress_ = suppress; }
  bool SuppressRecording() const { return suppress_; }

  // Copies the working table into the active quantity's table, then records both curves when
  // they differ from the state at the undo position. True when a state was recorded.
  bool RecordStep(Document& doc);
  bool RecordStep(const SegmentTable& voltage, const SegmentTable& current);

  // Step back or forward and write the restored curves into the tables (an empty state leaves a
  // table with N = 0); the Document forms also copy the active table into the working table.
  // False (nothing changed) when the step is not available.
  bool Undo(Document& doc);
  bool Undo(SegmentTable& voltage, SegmentTable& current);
  bool Redo(Document& doc);
  bool Redo(SegmentTable& voltage, SegmentTable& current);

  bool CanUndo() const { return canUndo_; }
  bool CanRedo() const { return canRedo_; }
  // Recorded changes since the last ClearHistory, minus those undone, plus those redone.
  std::int32_t NetChanges() const { return netChanges_; }
  bool IsModified() const { return netChanges_ != 0; }
  int UndoPosition() const { return undoPos_; }
  int RedoPosition() const { return redoPos_; }
  // The state at the undo position: the one shown.
  const TDocumentState& Current() const { return undo_[static_cast<std::size_t>(undoPos_)]; }

  // Heap bytes held by distinct row blocks of both rings (each block counted once).
  std::size_t SharedRowBytes() const;

 private:
  static int Next(int i) { return (i + 1) % kSlots; }
  static int Prev(int i) { return (i + kSlots - 1) % kSlots; }

  std::array<TDocumentState, kSlots> undo_{};
  std::array<TDocumentState, kSlots> redo_{};
  int undoPos_ = 0;
  int redoPos_ = 0;
  // States below the shown one that Undo may still reach, and states Redo may re-apply.
  int undoDepth_ = 0;
  int redoDepth_ = 0;
  std::int32_t netChanges_ = 0;
  bool suppress_ = false;
  bool canUndo_ = false;
  bool canRedo_ = false;
};

}  // namespace ondrevo
