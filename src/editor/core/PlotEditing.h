// Drawing and reshaping the active curve with the mouse: snapping, hit tests, the cursor a press
// would use, and the press / move / release operation on the working table. No widgets: the
// plot converts pixels to plot coordinates and carries out what an outcome asks for (grid,
// previews, Mark, undo step). Tick labels, zoom limits and snap steps live in Timescale.h.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "document/SegmentTable.h"
#include "editor/Timescale.h"

namespace ondrevo {

// The SnapX and SnapY lists, in list order; percent of a division, "Free" counts as 0.
inline constexpr const char* kSnapChoices[8] = {"100", "50", "20", "10", "5", "2", "1", "Free"};
double SnapChoicePercent(std::string_view choice);

enum class PlotCursor { Cross, SizeAll, Default };

// The visible plot in plot units: the time axis, the axis of the active quantity (left for
// voltage, right for current), their pixel scales and the snap steps in effect.
struct TPlotView {
  double TimeMin = 0, TimeMax = 10;
  double ValueMin = 0, ValueMax = 10;
  double PixelsPerSecond = 100;
  double PixelsPerUnit = 10;  // per volt or ampere
  double SnapTime = 0.01;     // HorizontalSnapStep
  double SnapValue = 0.02;    // VerticalSnapStep

  double ClampTime(double t) const;
  double ClampValue(double v) const;
};

// A mouse position in plot coordinates, as the axes convert it (not clamped).
struct TPlotPoint {
  double Time = 0;
  double Value = 0;
  bool operator==(const TPlotPoint&) const = default;
};

// Segment under the mouse at time t: the index p of the point that ends it (the first point
// at or after t, moved past a vertical step within 10 pixels of it); -1 when no point lies at
// or after t. The segment runs from point p - 1 to point p.
std::int32_t SegmentEndUnder(const SegmentTable& table, double t, const TPlotView& view);
// Inside the rectangle spanned by points p - 1 and p (point 0 alone for p = 0), widened by 10
// pixels on every side.
bool InsideSegmentBox(const SegmentTable& table, std::int32_t p, TPlotPoint m,
                      const TPlotView& view);

enum class MouseAction {
  None,             // nothing changed (ignored, refused, or a click outside every segment)
  Started,          // a moving point was appended, or a drag began
  Moved,            // the moving or dragged point moved
  Cancelled,        // the moving point was taken back: the curve is as before the press
  PointAdded,       // released: the moving point stays
  PointMoved,       // released: the dragged point stays at its new place
  PointRemoved,     // a point left the curve
  SegmentSelected,  // a click on a segment: select row SelectRow
};

// What the widget has to do after an event, in this order: rerun the superposition routine of
// each segment in RerunSegments with recording off, refresh the table with RefreshRow, then
// record one undo step when RecordStep is set.
struct TMouseOutcome {
  MouseAction Action = MouseAction::None;
  bool RecordStep = false;
  std::vector<std::int32_t> RerunSegments;
  // Refresh the table with this point index (row current, its segment selected, Mark on it).
  std::int32_t RefreshRow = -1;
  // Mark on the segment starting at this point.
  std::int32_t MarkSegment = -1;
  // A clicked segment: its row (the point ending it); show the table, load the tabs.
  std::int32_t SelectRow = -1;
  // Make sure the table is shown and load the selected row into the tabs.
  bool ShowTable = false;
};

// One mouse operation at a time on the working table. Modifier keys (Shift, Ctrl, Alt) and
// buttons other than the left are the widget's to filter: they never reach these calls.
class TMouseEditor {
 public:
  // Mouse moved while no operation runs: decides the cursor and the hovered point.
  // `curveEmpty`: the active curve shows no point (a table with N = 0 may hold a lone point).
  PlotCursor Hover(const SegmentTable& table, bool curveEmpty, TPlotPoint m, const TPlotView& view);
  TMouseOutcome Press(SegmentTable& table, bool curveEmpty, TPlotPoint m, const TPlotView& view);
  TMouseOutcome Move(SegmentTable& table, TPlotPoint m, const TPlotView& view);
  TMouseOutcome Release(SegmentTable& table, TPlotPoint m, const TPlotView& view);

  // Ends the operation without a change; the caller restores the table.
  void Abort() { End(); }
  bool Active() const { return active_; }
  bool Dragging() const { return dragging_; }
  std::int32_t DraggedPoint() const { return dragged_; }
  std::int32_t HoveredPoint() const { return hovered_; }
  PlotCursor Cursor() const { return cursor_; }
  TPlotPoint LastValid() const { return lastValid_; }

 private:
  TMouseOutcome MoveAdding(SegmentTable& table, TPlotPoint s);
  TMouseOutcome MoveDragging(SegmentTable& table, TPlotPoint s);
  TMouseOutcome ReleaseAdding(SegmentTable& table, TPlotPoint s, const TPlotView& view);
  TMouseOutcome ReleaseDragging(SegmentTable& table, TPlotPoint s);
  void End();

  bool active_ = false;
  bool dragging_ = false;
  std::int32_t dragged_ = -1;
  std::int32_t hovered_ = -1;
  PlotCursor cursor_ = PlotCursor::Cross;
  TPlotPoint lastValid_;
};

// The moving point (the last one) may sit at `t`: not before the point before it, and strictly
// after it when that point ends a vertical step.
bool AddingAllows(const SegmentTable& table, double t);
// Removes point i (0 < i <= N), moving the later rows down; N decreases by 1.
void RemovePoint(SegmentTable& table, std::int32_t i);

}  // namespace ondrevo
