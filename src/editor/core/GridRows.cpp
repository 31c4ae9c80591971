#include "editor/core/GridRows.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "document/Numbers.h"

namespace ondrevo {

TGridRows::TGridRows() {
  slots_.emplace_back().Own = std::make_unique<Owned>();
}

TGridRows::TGridRows(const SegmentTable& table) {
  const std::int32_t n = table.LastPointIndex();
  if (n <= 0) {
    slots_.emplace_back().Own = std::make_unique<Owned>();
    return;
  }
  auto points = std::make_shared<std::vector<SegmentRow>>(static_cast<std::size_t>(n) + 1);
  for (std::int32_t p = 0; p <= n; ++p) (*points)[static_cast<std::size_t>(p)] = table[p];
  points_ = std::move(points);
  slots_.resize(static_cast<std::size_t>(n) + 1);
  for (std::int32_t p = 0; p <= n; ++p) slots_[static_cast<std::size_t>(p)].Point = p;
}

namespace {
constexpr std::size_t kCachedRows = 128;
}

const std::string& TGridRows::PointCell(std::int32_t point, int col) const {
  const std::vector<SegmentRow>& points = *points_;
  if (cache_.empty()) cache_.resize(std::min(kCachedRows, points.size()));
  CachedRow& cached = cache_[static_cast<std::size_t>(point) % cache_.size()];
  if (cached.Point != point) {
    cached.Point = point;
    cached.Formatted = 0;
  }
  const std::uint32_t bit = std::uint32_t{1} << col;
  if (!(cached.Formatted & bit)) {
    const std::size_t p = static_cast<std::size_t>(point);
    cached.Cells[static_cast<std::size_t>(col)] =
        PointRowCell(points[p], p + 1 < points.size() ? &points[p + 1] : nullptr, col);
    cached.Formatted |= bit;
  }
  return cached.Cells[static_cast<std::size_t>(col)];
}

std::string TGridRows::Cell(int row, int col) const {
  const Slot& slot = At(row);
  if (col < 0 || col >= kGridColumns) throw std::out_of_range("grid column");
  if (slot.Own) return slot.Own->Cells[static_cast<std::size_t>(col)];
  return PointCell(slot.Point, col);
}

GridRow TGridRows::Row(int row) const {
  const Slot& slot = At(row);
  if (slot.Own) return slot.Own->Cells;
  GridRow cells;
  for (int c = 0; c < kGridColumns; ++c) cells[c] = PointCell(slot.Point, c);
  return cells;
}

void TGridRows::SourceOf(int row, RowSource& out) const {
  const Slot& slot = At(row);
  if (slot.Own) {
    out = slot.Own->Source;
    return;
  }
  // What TableSources gives the point's row.
  const std::vector<SegmentRow>& points = *points_;
  const std::size_t p = static_cast<std::size_t>(slot.Point);
  out.Point = points[p];
  out.Value = true;
  if (p + 1 < points.size()) {
    out.Duration = points[p + 1].Time >= points[p].Time;
    out.NextTime = points[p + 1].Time;
    out.Sup[0] = out.Sup[1] = true;
  } else {
    out.Duration = out.Sup[0] = out.Sup[1] = false;
    out.NextTime = 0;
  }
}

bool TGridRows::ShownSeconds(int row, double& seconds) const {
  const Slot& slot = At(row);
  const auto read = [&](double& out) {
    double d = 0;
    if (!TryParseNumber(Cell(row, kColDuration), d)) return false;
    out = d * UnitSeconds(Cell(row, kColUnit));
    return true;
  };
  // The last point's row shows no duration.
  if (slot.Own || static_cast<std::size_t>(slot.Point) + 1 == points_->size()) {
    return read(seconds);
  }
  // Any other point's row shows a duration, the same as long as the row exists: it is read once.
  if (shownSeconds_.empty()) {
    shownSeconds_.assign(points_->size(), std::numeric_limits<double>::quiet_NaN());
  }
  double& kept = shownSeconds_[static_cast<std::size_t>(slot.Point)];
  if (std::isnan(kept) && !read(kept)) return false;
  seconds = kept;
  return true;
}

TGridRows::Owned& TGridRows::Materialize(int row) {
  Slot& slot = At(row);
  if (!slot.Own) {
    auto own = std::make_unique<Owned>();
    own->Cells = Row(row);
    SourceOf(row, own->Source);
    slot.Own = std::move(own);
    slot.Point = -1;
  }
  return *slot.Own;
}

GridRow& TGridRows::MutableRow(int row) {
  return Materialize(row).Cells;
}

RowSource& TGridRows::MutableSource(int row) {
  return Materialize(row).Source;
}

void TGridRows::Insert(int row, const GridRow& cells, const RowSource& source) {
  Slot slot;
  slot.Own = std::make_unique<Owned>(Owned{cells, source});
  slots_.insert(slots_.begin() + std::clamp(row, 0, Count()), std::move(slot));
}

void TGridRows::Append(const GridRow& cells, const RowSource& source) {
  Insert(Count(), cells, source);
}

void TGridRows::InsertRows(int row, const std::vector<GridRow>& cells) {
  std::vector<Slot> added(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    added[i].Own = std::make_unique<Owned>(Owned{cells[i], RowSource{}});
  }
  slots_.insert(slots_.begin() + std::clamp(row, 0, Count()),
                std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
}

void TGridRows::Erase(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, Count() - 1);
  if (first > last) return;
  slots_.erase(slots_.begin() + first, slots_.begin() + last + 1);
}

void TGridRows::Truncate(int count) {
  if (count >= 0 && count < Count()) slots_.resize(static_cast<std::size_t>(count));
}

void TGridRows::FillHiddenDefaults(int first, int last) {
  if (last < 0 || last >= Count()) last = Count() - 1;
  for (int r = std::max(first, 0); r <= last; ++r) {
    Slot& slot = slots_[static_cast<std::size_t>(r)];
    // A point's row formats every hidden field but the last point's, which has none.
    const bool lastPoint = !slot.Own && static_cast<std::size_t>(slot.Point) + 1 == points_->size();
    if (slot.Own || lastPoint) ondrevo::FillHiddenDefaults(Materialize(r).Cells);
  }
}

std::vector<GridRow> TGridRows::ToVector() const {
  std::vector<GridRow> rows;
  rows.reserve(slots_.size());
  for (int r = 0; r < Count(); ++r) rows.push_back(Row(r));
  return rows;
}

int TGridRows::RowsWithTexts() const {
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.Own != nullptr; }));
}

}  // namespace ondrevo
