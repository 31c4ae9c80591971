// The editing core: the document being edited, the grid rows of the active curve, the
// selection, the target's limits and point budget. Every edit is an operation here; views
// listen for changes and redraw. No widgets.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "document/SegmentTable.h"
#include "editor/DeviceLimits.h"
#include "editor/core/EditRules.h"
#include "editor/core/GridRows.h"
#include "editor/core/LimitBreaches.h"
#include "editor/core/Preview.h"

namespace ondrevo {

// What a change touched, so that views redraw only that.
struct EditorChange {
  bool Curve = false;       // the active curve (and its previews)
  bool BothCurves = false;  // both curves (load, reset, switch)
  bool Grid = false;        // the grid rows
  bool Limits = false;      // limits or point budget
  bool Selection = false;   // the core moved the selected row (new rows, curve or document)
  // With Grid: the rows whose cells changed (no row added or removed); LastRow -1 for any.
  int FirstRow = 0, LastRow = -1;
};

// The values of the General and Superposition tabs, as shown.
struct SuperpositionFields {
  SuperpositionKind Kind = SuperpositionKind::None;
  double FreqStart = 1, FreqEnd = 1;  // in Unit
  int Unit = kHertz;
  double AmpStart = 1, AmpEnd = 1;
  int DutyCycle = 50, Phase = 0;
  bool operator==(const SuperpositionFields&) const = default;
};
// The fields of the tabs; only those marked edited apply, so a field the user did not touch
// never writes its rounded display back.
enum TabField : unsigned {
  kFieldStartValue = 1,
  kFieldEndValue = 2,
  kFieldStartTime = 4,
  kFieldEndTime = 8,
  kFieldSup1 = 16,
  kFieldSup2 = 32,
  kFieldAll = 63,
};
struct TabValues {
  double StartValue = 0, EndValue = 0;
  double StartTime = 0, EndTime = 0;  // in TimeUnit
  std::string TimeUnit = "s";
  SuperpositionFields Sup[2];
  unsigned Edited = kFieldAll;
};

enum class ApplyResult {
  Applied,
  NothingToApply,  // fewer than two points, or the last row
  Refused,         // the memory check refused; frequency fields go back to the stored ones
  NoSlot,          // 50 superposed segments already: the first superposition was set to none
};

class TEditorCore {
 public:
  TEditorCore();

  // ---- notifications
  using Listener = std::function<void(const EditorChange&)>;
  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }
  // Every message the rules give the user (translated).
  std::function<void(const std::string&)> OnMessage;
  // Called once at the end of every committed edit unless recording is suppressed; the undo
  // history plugs in here.
  std::function<void()> RecordStep;
  bool SuppressRecording = false;
  // Records what edits applied with recording suppressed (spin arrows) changed; nothing when
  // they changed nothing.
  void RecordArrowSteps() {
    if (!SuppressRecording && RecordStep) RecordStep();
  }

  // ---- document
  const Document& Doc() const { return doc_; }
  Quantity Active() const { return doc_.Active; }
  const SegmentTable& Working() const { return doc_.Working; }
  const SegmentTable& Curve(Quantity q) const {
    return q == doc_.Active ? doc_.Working : doc_.TableOf(q);
  }
  // Replaces both curves (a loaded document): commit rules run, nothing recorded.
  void SetDocument(SegmentTable voltage, SegmentTable current);
  // Replaces the active curve as a committed edit (import, stretch, plot editing).
  void SetActiveCurve(const SegmentTable& table, bool record = true);
  // A mouse edit's table: set without recording, then the superpositions of `rerunSegments`
  // checked again (a changed duration changes what their previews need). Points the edit did
  // not move keep every bit.
  void CommitPlotEdit(const SegmentTable& table, const std::vector<std::int32_t>& rerunSegments);
  // Shift with a timescale choice: every time of both curves times `factor`, one recorded step;
  // refused with a message when a superposition frequency would exceed what a document holds.
  void Stretch(double factor);
  // Both curves empty, superpositions reset, selection cleared.
  void Reset();
  void SwitchQuantity(Quantity q);

  // ---- grid
  // Every row's texts, formatted: for checks, not for showing a long curve.
  std::vector<GridRow> Rows() const { return rows_.ToVector(); }
  const TGridRows& GridRows() const { return rows_; }
  GridRow Row(int row) const { return rows_.Row(row); }
  int RowCount() const { return rows_.Count(); }
  std::string Cell(int row, int col) const { return rows_.Cell(row, col); }
  // Rows rebuilt from the active curve (RebuildGrid).
  void RebuildRows();
  // The rows as SetDocument built them, announced to the views again (the table shown after
  // loading) without formatting a long curve a second time.
  void AnnounceRows();
  // Commits a typed cell (columns 1..4) with the rules of leaving a cell. A number may carry a
  // unit (durations: the unit column follows it); anything that does not read is refused with a
  // message and the cell keeps what it held. Emptying a duration or end value of a segment
  // changes nothing.
  void SetCell(int row, int col, const std::string& text);
  // Enter in a cell whose typed text is committed: the cell (row, column) to go to. In column 4
  // of the last row, once it has a duration, a row for the next point is appended with the end
  // value (empty when none was typed) and becomes the target.
  std::pair<int, int> EnterTarget(int row, int col);
  // Insert: inside the curve the new row is a point at the time and value of the one it goes
  // before (a zero-length segment), so the curve stays whole until the row is filled in.
  void InsertRow(int row);
  // Shift+Insert: a row at the end with the value of the row above.
  void AppendRow();
  // Shift+Delete.
  void DeleteRow(int row);
  // Delete in column 5 (which 0) or 6 (which 1).
  void ClearSuperposition(int row, int which);
  // Hiding the table: rows after the first whose value is empty go, and the rest is committed.
  void DropEmptyRows();
  std::string Copy(int first, int last) const;
  void Cut(int first, int last);
  // False (and a message, nothing changed) when the text is refused, also when a pasted row
  // without a duration would end the curve before rows that follow it.
  bool Paste(int row, const std::string& text);

  // ---- selection
  int SelectedRow() const { return selectedRow_; }
  void SelectRow(int row);
  int SelectedSegment() const {
    return selectedRow_ < doc_.Working.LastPointIndex() ? selectedRow_ : -1;
  }

  // ---- tabs
  TabValues LoadRow(int row) const;
  ApplyResult ApplyTabs(int row, const TabValues& tabs);

  // ---- device
  void SetLimits(const DeviceLimits& active, std::int32_t budget, std::int32_t daqBudget);
  const DeviceLimits& Limits() const { return limits_; }
  std::int32_t PointBudget() const { return budget_; }
  std::int32_t DaqPointBudget() const { return daqBudget_; }
  SpinLimits CurrentSpinLimits() const { return TabSpinLimits(limits_, doc_.Active); }

  // Superposed segments of both curves.
  int SuperposedSegments() const;
  // Every stored superposition of both curves that the point budget in effect refuses, one
  // line per segment; "" when all fit. Run wherever previews are drawn anew.
  std::string MemoryFindings() const;
  // Stretches of a curve beyond the limits in effect, kept current with every change.
  const std::vector<LimitBreach>& Breaches(Quantity q) const {
    return breaches_[q == Quantity::Voltage ? 0 : 1];
  }
  // The finding a grid cell of the active curve shows (a value, an end value or a superposition
  // that goes beyond a limit); "" when it keeps within.
  std::string CellBreach(int row, int col) const;

 private:
  // GridToTable, the commit rules, notification and the recording hook. An edit that moves no
  // point converts only rows first..last.
  void Commit(bool record = true, int first = 0, int last = -1);
  // Enforces what a curve may hold; returns a message or "".
  std::string ApplyRules(SegmentTable& table, int othersSuperposed) const;
  void Notify(const EditorChange& change);
  void Message(const std::string& m);
  double TimeOfRow(int row) const;
  // Rows from `first` on changed: the times summed over them are stale.
  void ForgetRowTimes(int first);
  // Rows and their sources from the working table; the selection stays within them.
  void BuildRows();
  UnitKind ValueUnitKind() const {
    return doc_.Active == Quantity::Voltage ? UnitKind::Voltage : UnitKind::Current;
  }

  Document doc_;
  TGridRows rows_;  // with the source of every row
  int selectedRow_ = 0;
  // False while rows were inserted or appended without a commit: the table then no longer
  // lines up with the rows, and only a full conversion is right.
  bool inSync_ = true;
  DeviceLimits limits_;
  std::int32_t budget_ = kSupplyPointBudget;
  std::int32_t daqBudget_ = kDefaultDaqPointBudget;
  std::vector<Listener> listeners_;
  std::vector<LimitBreach> breaches_[2];
  // TimeOfRow's sums: rowTimes_[k] is the time of row k; timesStopAt_ the row whose duration
  // did not read (-1 while none did).
  mutable std::vector<double> rowTimes_;
  mutable int timesStopAt_ = -1;
};

}  // namespace ondrevo
