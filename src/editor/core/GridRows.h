// The rows of the segment grid. Rows built from a curve hold no texts: their cells are formatted
// from the curve's points when read, exactly as TableToGrid writes them, so a 60,000-point curve
// does not keep 21 strings a row. A row gets texts of its own the first time it is changed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "editor/core/EditRules.h"

namespace ondrevo {

class TGridRows {
 public:
  // One empty row.
  TGridRows();
  // The rows of TableToGrid(table), each with its TableSources(table) source.
  explicit TGridRows(const SegmentTable& table);
  TGridRows(TGridRows&&) noexcept = default;
  TGridRows& operator=(TGridRows&&) noexcept = default;

  int Count() const { return static_cast<int>(slots_.size()); }
  std::string Cell(int row, int col) const;
  GridRow Row(int row) const;
  // The row's source into `out`.
  void SourceOf(int row, RowSource& out) const;
  // The duration the row shows, read from its texts, in seconds: the number of the duration
  // cell times its unit; false when the cell does not read as a number.
  bool ShownSeconds(int row, double& seconds) const;

  // A row's texts and source to change; the row keeps texts of its own from now on.
  GridRow& MutableRow(int row);
  RowSource& MutableSource(int row);

  void Insert(int row, const GridRow& cells, const RowSource& source = {});
  void Append(const GridRow& cells, const RowSource& source = {});
  // Rows with the given texts and no source, before `row`.
  void InsertRows(int row, const std::vector<GridRow>& cells);
  // Removes rows first..last.
  void Erase(int first, int last);
  void Truncate(int count);
  // Keeps the rows `keep` says true for, in their order.
  template <typename Keep>
  void Filter(Keep keep) {
    std::size_t kept = 0;
    for (std::size_t r = 0; r < slots_.size(); ++r) {
      if (!keep(static_cast<int>(r))) continue;
      if (r != kept) slots_[kept] = std::move(slots_[r]);
      ++kept;
    }
    slots_.resize(kept);
  }
  // FillHiddenDefaults on rows first..last (every row when last is -1).
  void FillHiddenDefaults(int first = 0, int last = -1);

  std::vector<GridRow> ToVector() const;
  // The points the rows were built from (none for an empty curve); they never change.
  const std::shared_ptr<const std::vector<SegmentRow>>& Points() const { return points_; }
  // Rows that hold texts of their own (the others are formatted when read).
  int RowsWithTexts() const;

 private:
  struct Owned {
    GridRow Cells;
    RowSource Source;
  };
  struct Slot {
    std::int32_t Point = -1;  // index into points_ while the row has no texts of its own
    std::unique_ptr<Owned> Own;
  };
  Slot& At(int row) { return slots_.at(static_cast<std::size_t>(row)); }
  const Slot& At(int row) const { return slots_.at(static_cast<std::size_t>(row)); }
  Owned& Materialize(int row);

  // The points the rows were built from, as they were then: later edits of the curve must not
  // change what an untouched row shows.
  std::shared_ptr<const std::vector<SegmentRow>> points_;
  std::vector<Slot> slots_;
  // The cells of the points' rows read last, formatted once: the rows on screen are read again
  // with every repaint. Direct-mapped by point; a point's cells never change.
  struct CachedRow {
    std::int32_t Point = -1;
    std::uint32_t Formatted = 0;  // bit c: Cells[c] holds column c
    GridRow Cells;
  };
  const std::string& PointCell(std::int32_t point, int col) const;
  mutable std::vector<CachedRow> cache_;
  // ShownSeconds of each point's row, read once (NaN until then): summing the durations above
  // a row would otherwise format every one of them again after each edit.
  mutable std::vector<double> shownSeconds_;
};

}  // namespace ondrevo
