#include "editor/core/PlotEditing.h"

#include <algorithm>
#include <cmath>

namespace ondrevo {

namespace {

constexpr double kBoxMarginPixels = 10;
constexpr double kStepPixels = 10;
constexpr double kFirstPointPixels = 7;
constexpr double kPointPixels = 5;

bool Near(double a, double b, double pixelsPerUnit, double pixels) {
  return std::abs(a - b) * pixelsPerUnit < pixels;
}

bool NearPoint(const SegmentRow& row, TPlotPoint m, const TPlotView& view, double pixels) {
  return Near(m.Time, row.Time, view.PixelsPerSecond, pixels) &&
         Near(m.Value, row.Value, view.PixelsPerUnit, pixels);
}

// The segment from point i - 1 to point i is a vertical step (i >= 1).
bool VerticalBefore(const SegmentTable& table, std::int32_t i) {
  return i >= 1 && table[i - 1].Time == table[i].Time;
}

TPlotPoint ClampSnap(TPlotPoint m, const TPlotView& view) {
  return {SnapTo(view.ClampTime(m.Time), view.SnapTime),
          SnapTo(view.ClampValue(m.Value), view.SnapValue)};
}

TPlotPoint At(const SegmentTable& table, std::int32_t i) {
  return {table[i].Time, table[i].Value};
}

void Put(SegmentTable& table, std::int32_t i, TPlotPoint p) {
  table[i].Time = p.Time;
  table[i].Value = p.Value;
}

}  // namespace

double SnapChoicePercent(std::string_view choice) {
  static constexpr double kPercents[7] = {100, 50, 20, 10, 5, 2, 1};
  for (int i = 0; i < 7; ++i) {
    if (choice == kSnapChoices[i]) return kPercents[i];
  }
  return 0;
}

double TPlotView::ClampTime(double t) const {
  return std::clamp(t, std::min(TimeMin, TimeMax), std::max(TimeMin, TimeMax));
}

double TPlotView::ClampValue(double v) const {
  return std::clamp(v, std::min(ValueMin, ValueMax), std::max(ValueMin, ValueMax));
}

std::int32_t SegmentEndUnder(const SegmentTable& table, double t, const TPlotView& view) {
  const std::int32_t n = table.LastPointIndex();
  // Times never decrease, so the first point at or after t is found by halving.
  std::int32_t lo = 0, hi = n + 1;
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (table[mid].Time < t)
      lo = mid + 1;
    else
      hi = mid;
  }
  std::int32_t p = lo;
  if (p > n) return -1;
  if (p < n && table[p + 1].Time == table[p].Time &&
      Near(t, table[p].Time, view.PixelsPerSecond, kStepPixels))
    ++p;
  return p;
}

bool InsideSegmentBox(const SegmentTable& table, std::int32_t p, TPlotPoint m,
                      const TPlotView& view) {
  if (p < 0 || p > table.LastPointIndex()) return false;
  const SegmentRow& a = table[p > 0 ? p - 1 : 0];
  const SegmentRow& b = table[p];
  const double mt = kBoxMarginPixels / view.PixelsPerSecond;
  const double mv = kBoxMarginPixels / view.PixelsPerUnit;
  return m.Time >= std::min(a.Time, b.Time) - mt && m.Time <= std::max(a.Time, b.Time) + mt &&
         m.Value >= std::min(a.Value, b.Value) - mv && m.Value <= std::max(a.Value, b.Value) + mv;
}

bool AddingAllows(const SegmentTable& table, double t) {
  const std::int32_t q = table.LastPointIndex() - 1;
  if (q < 0) return false;
  const double tq = table[q].Time;
  return VerticalBefore(table, q) ? t > tq : t >= tq;
}

void RemovePoint(SegmentTable& table, std::int32_t i) {
  const std::int32_t n = table.LastPointIndex();
  if (i <= 0 || i > n) return;
  for (std::int32_t k = i; k < n; ++k) table[k] = table[k + 1];
  table.SetLastPointIndex(n - 1);
}

// ---- hover ----------------------------------------------------------------------------------

PlotCursor TMouseEditor::Hover(const SegmentTable& table, bool curveEmpty, TPlotPoint m,
                               const TPlotView& view) {
  if (active_) return cursor_;
  hovered_ = -1;
  cursor_ = PlotCursor::Cross;
  if (curveEmpty) return cursor_;
  m = {view.ClampTime(m.Time), view.ClampValue(m.Value)};
  const std::int32_t n = table.LastPointIndex();
  if (m.Time >= table[n].Time) return cursor_;
  cursor_ = PlotCursor::Default;
  const std::int32_t p = SegmentEndUnder(table, m.Time, view);
  if (p == 0) {
    if (NearPoint(table[0], m, view, kFirstPointPixels)) hovered_ = 0;
  } else if (p > 0) {
    if (NearPoint(table[p], m, view, kPointPixels))
      hovered_ = p;
    else if (NearPoint(table[p - 1], m, view, kPointPixels))
      hovered_ = p - 1;
  }
  if (hovered_ >= 0) cursor_ = PlotCursor::SizeAll;
  return cursor_;
}

// ---- press ----------------------------------------------------------------------------------

TMouseOutcome TMouseEditor::Press(SegmentTable& table, bool curveEmpty, TPlotPoint m,
                                  const TPlotView& view) {
  TMouseOutcome out;
  if (active_) return out;
  m = {view.ClampTime(m.Time), view.ClampValue(m.Value)};
  lastValid_ = m;

  if (cursor_ == PlotCursor::SizeAll) {
    if (hovered_ < 0 || hovered_ > table.LastPointIndex()) return out;
    dragged_ = hovered_;
    hovered_ = -1;
    active_ = dragging_ = true;
    // The drag starts from the point itself, a valid place (the press lies up to 7 pixels off,
    // possibly before a neighbour in time).
    lastValid_ = At(table, dragged_);
    out.Action = MouseAction::Started;
    return out;
  }

  if (curveEmpty) {
    SegmentRow first;  // a fresh row: no superposition left over from an earlier curve
    first.Time = 0;
    first.Value = SnapTo(m.Value, view.SnapValue);
    table[1] = first;
    table[0] = first;
    table.SetLastPointIndex(1);
    active_ = true;
    dragging_ = false;
    out.Action = MouseAction::Started;
    return out;
  }

  const std::int32_t n = table.LastPointIndex();
  if (m.Time < table[n].Time) {
    if (cursor_ != PlotCursor::Default || !(m.Time > 0)) return out;
    const std::int32_t p = SegmentEndUnder(table, m.Time, view);
    if (p < 0 || !InsideSegmentBox(table, p, m, view)) return out;
    out.Action = MouseAction::SegmentSelected;
    out.SelectRow = p;
    out.ShowTable = true;
    return out;
  }

  if (n > 0 && table[n].Time == 0 && table[n].Value == 0) {
    table.SetLastPointIndex(n - 1);
    out.Action = MouseAction::PointRemoved;
    out.RecordStep = true;  // the curve changed: Undo brings the point back
    return out;
  }
  if (n + 1 >= SegmentTable::kCapacity) return out;  // the curve is full
  const SegmentRow copy = table[n];                  // a copy: growing the table may move its rows
  table[n + 1] = copy;
  table.SetLastPointIndex(n + 1);
  active_ = true;
  dragging_ = false;
  out.Action = MouseAction::Started;
  return out;
}

// ---- move -----------------------------------------------------------------------------------

TMouseOutcome TMouseEditor::Move(SegmentTable& table, TPlotPoint m, const TPlotView& view) {
  if (!active_) {
    TMouseOutcome none;
    return none;
  }
  const TPlotPoint s = ClampSnap(m, view);
  return dragging_ ? MoveDragging(table, s) : MoveAdding(table, s);
}

TMouseOutcome TMouseEditor::MoveAdding(SegmentTable& table, TPlotPoint s) {
  TMouseOutcome out;
  const std::int32_t n = table.LastPointIndex();
  if (n < 1) {
    End();
    return out;
  }
  if (!AddingAllows(table, s.Time)) return out;
  Put(table, n, s);
  lastValid_ = s;
  out.Action = MouseAction::Moved;
  return out;
}

TMouseOutcome TMouseEditor::MoveDragging(SegmentTable& table, TPlotPoint s) {
  TMouseOutcome out;
  const std::int32_t n = table.LastPointIndex();
  const std::int32_t d = dragged_;
  const double x = s.Time;
  bool allowed = false;
  if (d == 0) {
    allowed = x == 0;
  } else if (d == 1) {
    if (table[1].Time == 0)
      allowed = x == 0;
    else
      allowed = x >= table[0].Time && (n == 1 || x <= table[2].Time);
  } else {
    const double o = table[d - 1].Time;
    if (s == At(table, d - 1)) return out;
    if (d == n) {
      const bool strict = table.HasSuperposition(d - 1) || VerticalBefore(table, d - 1);
      allowed = strict ? x > o : x >= o;
    } else {
      if (s == At(table, d + 1)) return out;
      const double m = table[d + 1].Time;
      if (d + 2 <= n && table[d + 2].Time == m)
        allowed = o <= x && x < m;
      else if (VerticalBefore(table, d - 1) || table.HasSuperposition(d - 1))
        allowed = o < x && x <= m;
      else
        allowed = o <= x && x <= m;
    }
  }
  if (!allowed) return out;
  Put(table, d, s);
  lastValid_ = s;
  out.Action = MouseAction::Moved;
  return out;
}

// ---- release --------------------------------------------------------------------------------

TMouseOutcome TMouseEditor::Release(SegmentTable& table, TPlotPoint m, const TPlotView& view) {
  TMouseOutcome out;
  if (!active_) return out;
  const TPlotPoint s = ClampSnap(m, view);
  out = dragging_ ? ReleaseDragging(table, s) : ReleaseAdding(table, s, view);
  End();
  return out;
}

TMouseOutcome TMouseEditor::ReleaseAdding(SegmentTable& table, TPlotPoint s,
                                          const TPlotView& view) {
  TMouseOutcome out;
  const std::int32_t n = table.LastPointIndex();
  if (n < 1) return out;
  if (s == At(table, n - 1)) {
    table.SetLastPointIndex(n - 1);
    out.Action = MouseAction::Cancelled;
    return out;
  }
  if (n >= 2 && VerticalBefore(table, n - 1) && s.Time == table[n - 1].Time) {
    table.SetLastPointIndex(n - 1);
    out.Action = MouseAction::Cancelled;
    out.MarkSegment = n - 2;
    return out;
  }
  const TPlotPoint p = {SnapTo(lastValid_.Time, view.SnapTime),
                        SnapTo(lastValid_.Value, view.SnapValue)};
  // A press that snapped before the last point (or onto it) adds nothing rather than a point
  // that runs back in time.
  if (!AddingAllows(table, p.Time) || p == At(table, n - 1)) {
    table.SetLastPointIndex(n - 1);
    out.Action = MouseAction::Cancelled;
    return out;
  }
  Put(table, n, p);
  table[n].Sup1.Kind = SuperpositionKind::None;
  out.Action = MouseAction::PointAdded;
  out.ShowTable = true;
  out.RefreshRow = n;
  out.RecordStep = true;
  return out;
}

TMouseOutcome TMouseEditor::ReleaseDragging(SegmentTable& table, TPlotPoint s) {
  TMouseOutcome out;
  const std::int32_t n = table.LastPointIndex();
  const std::int32_t d = dragged_;
  if (d < 0 || d > n) return out;

  if (d >= 2 && VerticalBefore(table, d - 1) && s.Time == table[d - 1].Time) {
    RemovePoint(table, d);
    out.Action = MouseAction::PointRemoved;
    out.MarkSegment = d - 2;
    out.RefreshRow = d - 1;
    // A point left the document: it must count as a change like any other edit.
    out.RecordStep = true;
    return out;
  }

  if (d == 0) {
    s.Time = 0;
    Put(table, 0, s);
    out.RefreshRow = 0;
    if (n >= 1 && table.HasSuperposition(0)) out.RerunSegments.push_back(0);
  } else {
    if (!(s.Time > table[d - 1].Time) || (d < n && !(s.Time < table[d + 1].Time))) s = lastValid_;
    Put(table, d, s);
    out.RefreshRow = d;
    if (d < n && table.HasSuperposition(d)) out.RerunSegments.push_back(d);
    if (table.HasSuperposition(d - 1)) out.RerunSegments.push_back(d - 1);
  }
  out.Action = MouseAction::PointMoved;
  out.RecordStep = true;
  return out;
}

void TMouseEditor::End() {
  active_ = dragging_ = false;
  dragged_ = -1;
  cursor_ = PlotCursor::Cross;
}

}  // namespace ondrevo
