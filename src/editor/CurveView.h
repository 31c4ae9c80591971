// The curves on the plot: U_Line and I_Line, the 50 preview slots (UE_LineN with Mark_LineN)
// and Mark, drawn from the tables of the editing core. Slots are view state only.
#pragma once

#include <QColor>
#include <array>
#include <functional>

#include "document/SegmentTable.h"
#include "editor/core/LimitBreaches.h"
#include "editor/core/Preview.h"

namespace ondrevo {

// Cells, fields and plot stretches beyond a limit of the model in effect.
inline const QColor kBeyondLimitColor(255, 176, 96);

class TPlot;
class TPlotSeries;

class TCurveView {
 public:
  explicit TCurveView(TPlot* plot);

  // Shortest time step of the target (the preview's resolution).
  std::function<double()> MinTimeStep;

  // Redraws a curve with its previews: every superposed segment gets the lowest free slot.
  void Draw(Quantity quantity, const SegmentTable& table);
  // Both curves and every slot emptied.
  void Clear();
  // The curve's line alone, previews untouched (a point following the mouse).
  void DrawLine(Quantity quantity, const SegmentTable& table);
  // Takes every preview series off the plot, or puts it back; the slots stay as they are.
  void SetPreviewsVisible(bool visible);

  TPlotSeries* Curve(Quantity quantity) const;
  TPlotSeries* MarkSeries() const { return mark_; }
  // The stretches of a curve beyond a limit, drawn over it (LimitU_Line, LimitI_Line).
  void DrawBreaches(Quantity quantity, const SegmentTable& table,
                    const std::vector<LimitBreach>& breaches);
  TPlotSeries* BreachSeries(Quantity quantity) const { return breach_[quantity == Quantity::Voltage ? 0 : 1]; }
  // Slot drawing segment `segment` of a quantity, or -1.
  int SlotOf(Quantity quantity, int segment) const;
  int UsedSlots() const;

  // Mark on the active axis, in the active colour (red for voltage, blue for current).
  void PlaceMark(Quantity active);
  void ShowMark(bool visible);
  // Points first..last of the active curve (a selected segment, or rows of a selection).
  void MarkPoints(Quantity active, int first, int last);

 private:
  // What a slot's preview was computed from: an unchanged segment keeps its drawing.
  struct SlotKey {
    SegmentRow Row;
    double T0 = 0, T1 = 0, Y0 = 0, Y1 = 0, MinStep = 0, AxisWidth = 0;
    double From = 0, To = 0;  // the part of the segment on screen
    bool operator==(const SlotKey&) const = default;
  };
  struct Slot {
    bool Used = false;
    Quantity Owner = Quantity::Voltage;
    int Segment = -1;
    SlotKey Key;
  };
  void FreeSlots(Quantity quantity);

  TPlot* plot_;
  TPlotSeries* uLine_;
  TPlotSeries* iLine_;
  TPlotSeries* mark_ = nullptr;
  std::array<TPlotSeries*, 2> breach_{};
  std::array<TPlotSeries*, kPreviewSlotCount> lines_{};
  std::array<TPlotSeries*, kPreviewSlotCount> bases_{};
  std::array<Slot, kPreviewSlotCount> slots_{};
};

}  // namespace ondrevo
