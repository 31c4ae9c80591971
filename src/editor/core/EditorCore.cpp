#include "editor/core/EditorCore.h"

#include <algorithm>
#include <cmath>

#include "document/Numbers.h"
#include "document/Translate.h"
#include "editor/Timescale.h"
#include "model/Preview.h"

namespace ondrevo {

namespace {

int Superposed(const SegmentTable& t) {
  int n = 0;
  for (std::int32_t i = 0; i < t.LastPointIndex(); ++i) n += t.HasSuperposition(i) ? 1 : 0;
  return n;
}

std::string Replace(std::string text, std::string_view key, const std::string& value) {
  const auto pos = text.find(key);
  if (pos != std::string::npos) text.replace(pos, key.size(), value);
  return text;
}

SuperpositionSpec SpecOf(const SuperpositionFields& f) {
  SuperpositionSpec s;
  s.Kind = f.Kind;
  s.FreqStart = f.FreqStart * FrequencyFactor(f.Unit);
  s.FreqEnd = f.FreqEnd * FrequencyFactor(f.Unit);
  s.AmpStart = f.AmpStart;
  s.AmpEnd = f.AmpEnd;
  s.DutyCycle = f.DutyCycle;
  s.Phase = f.Phase;
  return s;
}

}  // namespace

TEditorCore::TEditorCore() = default;

void TEditorCore::BuildRows() {
  ForgetRowTimes(0);
  // The old rows go first: two grids of a long curve at once would double the peak memory.
  rows_ = TGridRows();
  rows_ = TGridRows(doc_.Working);
  selectedRow_ = std::min(selectedRow_, RowCount() - 1);
}

void TEditorCore::Notify(const EditorChange& change) {
  if (change.Grid) ForgetRowTimes(change.LastRow >= 0 ? change.FirstRow : 0);
  if (change.Grid && change.LastRow >= 0 && change.Curve && !change.BothCurves && !change.Limits) {
    // Rows first..last of the active curve changed: the segments they bound are found again.
    std::vector<LimitBreach>& kept = breaches_[doc_.Active == Quantity::Voltage ? 0 : 1];
    const std::int32_t from = std::max(change.FirstRow - 1, 0), to = change.LastRow;
    const auto begin = std::lower_bound(kept.begin(), kept.end(), from,
                                        [](const LimitBreach& b, int s) { return b.Segment < s; });
    const auto end = std::lower_bound(begin, kept.end(), to + 1,
                                      [](const LimitBreach& b, int s) { return b.Segment < s; });
    const std::vector<LimitBreach> found = FindLimitBreaches(
        doc_.Working, doc_.Active == Quantity::Voltage ? limits_.MaxVoltage : limits_.MaxCurrent,
        from, to);
    kept.insert(kept.erase(begin, end), found.begin(), found.end());
  } else if (change.Curve || change.BothCurves || change.Limits) {
    breaches_[0] = FindLimitBreaches(Curve(Quantity::Voltage), limits_.MaxVoltage);
    breaches_[1] = FindLimitBreaches(Curve(Quantity::Current), limits_.MaxCurrent);
  }
  for (const Listener& l : listeners_) l(change);
}

std::string TEditorCore::CellBreach(int row, int col) const {
  const std::vector<LimitBreach>& all = Breaches(doc_.Active);
  auto of = [&all](int segment) -> const LimitBreach* {
    const auto it = std::lower_bound(all.begin(), all.end(), segment,
                                     [](const LimitBreach& b, int s) { return b.Segment < s; });
    return it != all.end() && it->Segment == segment ? &*it : nullptr;
  };
  const LimitBreach* here = of(row);
  const LimitBreach* before = row > 0 ? of(row - 1) : nullptr;
  const LimitBreach* shown = nullptr;
  if (col == kColValue) {
    shown = here && here->StartAbove ? here : before && before->EndAbove ? before : nullptr;
  } else if (col == kColEndValue) {
    shown = here && here->EndAbove ? here : nullptr;
  } else if (col == kColSup1Name || col == kColSup2Name) {
    shown = here && (here->Superposed || !here->Above) ? here : nullptr;
  }
  return shown ? LimitBreachText(*shown, doc_.Active) : std::string();
}

void TEditorCore::Message(const std::string& m) {
  if (!m.empty() && OnMessage) OnMessage(m);
}

int TEditorCore::SuperposedSegments() const {
  return Superposed(doc_.Working) +
         Superposed(doc_.TableOf(doc_.Active == Quantity::Voltage ? Quantity::Current
                                                                  : Quantity::Voltage));
}

std::string TEditorCore::MemoryFindings() const {
  std::string text;
  for (const Quantity q : {Quantity::Voltage, Quantity::Current}) {
    const std::string pattern =
        q == Quantity::Voltage ? _("voltage segment {segment}:") : _("current segment {segment}:");
    for (const SuperpositionMemoryFinding& f :
         CheckSuperpositionMemory(Curve(q), budget_, budget_ < daqBudget_)) {
      if (!text.empty()) text += "\n";
      text += Replace(pattern, "{segment}", std::to_string(f.Segment + 1)) + " " + _(f.Message);
    }
  }
  return text;
}

std::string TEditorCore::ApplyRules(SegmentTable& t, int othersSuperposed) const {
  std::string message;
  // Time never goes back inside a curve: it ends before the first point that would.
  for (std::int32_t i = 1; i <= t.LastPointIndex(); ++i) {
    if (t[i].Time < t[i - 1].Time) {
      message = Replace(_("The curve ends at point %1: its time lies before the previous point."),
                        "%1", std::to_string(i));
      t.SetLastPointIndex(i - 1);
      break;
    }
  }
  // One preview per superposed segment, at most 50 in the document.
  int used = othersSuperposed, dropped = 0;
  for (std::int32_t i = 0; i < t.LastPointIndex(); ++i) {
    if (!t.HasSuperposition(i)) continue;
    if (used < kPreviewSlotCount) {
      ++used;
      continue;
    }
    t[i].Sup1.Kind = SuperpositionKind::None;
    t[i].Sup2.Kind = SuperpositionKind::None;
    ++dropped;
  }
  if (dropped > 0) {
    if (!message.empty()) message += "\n";
    message += Replace(_("At most 50 segments can carry superpositions; the superpositions of %1 "
                         "further segments were removed."),
                       "%1", std::to_string(dropped));
  }
  return message;
}

void TEditorCore::Commit(bool record, int first, int last) {
  const bool partial = inSync_ && last >= 0 && GridRangeToTable(rows_, doc_.Working, first, last);
  if (!partial) GridToTable(rows_, doc_.Working);
  inSync_ = true;
  const Quantity other = doc_.Active == Quantity::Voltage ? Quantity::Current : Quantity::Voltage;
  const std::string message = ApplyRules(doc_.Working, Superposed(doc_.TableOf(other)));
  if (!message.empty()) {
    // What the rules removed leaves the grid too: what is shown is what is saved.
    TGridRows rebuilt(doc_.Working);
    RowSource source;
    for (int r = rebuilt.Count(); r < rows_.Count(); ++r) {
      rows_.SourceOf(r, source);
      rebuilt.Append(rows_.Row(r), source);
    }
    if (doc_.Working.LastPointIndex() == 0) {
      rows_.SourceOf(0, source);
      rebuilt.MutableRow(0) = rows_.Row(0);
      rebuilt.MutableSource(0) = source;
    }
    rows_ = std::move(rebuilt);
  }
  SegmentTable& kept = doc_.TableOf(doc_.Active);
  const bool ranged =
      partial && message.empty() && kept.LastPointIndex() == doc_.Working.LastPointIndex();
  if (ranged) {
    for (int r = first; r <= last; ++r) kept[r] = doc_.Working[r];
  } else {
    kept = doc_.Working;
  }
  if (ranged) {
    // The rows converted are the only ones whose cells (and limit findings) can have changed.
    Notify({.Curve = true, .Grid = true, .FirstRow = first, .LastRow = last});
  } else {
    Notify({.Curve = true, .Grid = true});
  }
  Message(message);
  if (record && !SuppressRecording && RecordStep) RecordStep();
}

void TEditorCore::SetDocument(SegmentTable voltage, SegmentTable current) {
  doc_.Voltage = std::move(voltage);
  doc_.Current = std::move(current);
  std::string message = ApplyRules(doc_.Voltage, 0);
  const std::string second = ApplyRules(doc_.Current, Superposed(doc_.Voltage));
  if (!second.empty()) message += (message.empty() ? "" : "\n") + second;
  doc_.Working = doc_.TableOf(doc_.Active);
  selectedRow_ = 0;
  BuildRows();
  inSync_ = true;
  Notify({.Curve = true, .BothCurves = true, .Grid = true, .Selection = true});
  const std::string memory = MemoryFindings();
  if (!memory.empty()) message += (message.empty() ? "" : "\n") + memory;
  Message(message);
}

void TEditorCore::SetActiveCurve(const SegmentTable& table, bool record) {
  doc_.Working = table;
  // The rules run on the table itself: the grid cannot show a time going back.
  const Quantity other = doc_.Active == Quantity::Voltage ? Quantity::Current : Quantity::Voltage;
  const std::string message = ApplyRules(doc_.Working, Superposed(doc_.TableOf(other)));
  const int selected = selectedRow_;
  BuildRows();
  inSync_ = true;
  if (selected != selectedRow_) Notify({.Grid = true, .Selection = true});
  Commit(record);
  Message(message);
}

void TEditorCore::Reset() {
  doc_.Voltage.Reset();
  doc_.Current.Reset();
  doc_.Working.Reset();
  rows_ = TGridRows();
  inSync_ = true;
  selectedRow_ = 0;
  Notify({.Curve = true, .BothCurves = true, .Grid = true, .Selection = true});
}

void TEditorCore::SwitchQuantity(Quantity q) {
  if (q == doc_.Active) return;
  doc_.TableOf(doc_.Active) = doc_.Working;
  doc_.Active = q;
  doc_.Working = doc_.TableOf(q);
  selectedRow_ = 0;
  BuildRows();
  inSync_ = true;
  Notify({.Curve = true, .BothCurves = true, .Grid = true, .Limits = true, .Selection = true});
}

void TEditorCore::AnnounceRows() {
  Notify({.Grid = true});
}

void TEditorCore::RebuildRows() {
  // A row being typed (no point yet) survives a rebuild of an empty curve.
  const int selected = selectedRow_;
  if (doc_.Working.LastPointIndex() == 0 && !rows_.Cell(0, kColValue).empty()) {
    rows_.Truncate(1);
    selectedRow_ = 0;
  } else {
    BuildRows();
  }
  inSync_ = true;
  Notify({.Grid = true, .Selection = selected != selectedRow_});
}

void TEditorCore::SetCell(int row, int col, const std::string& input) {
  if (row < 0 || row >= RowCount() || col < kColValue || col > kColEndValue) return;
  std::string text = input;
  GridRow& r = rows_.MutableRow(row);
  RowSource& source = rows_.MutableSource(row);
  const bool last = row == RowCount() - 1;
  if (col == kColUnit) {
    if (text == "m") text = "s";
    if (text != "h" && text != "min" && text != "s" && text != "ms" && text != "us") {
      Message(Replace(_("\"%1\" is not a time unit; use h, min, s, ms or us."), "%1", text));
      return;
    }
    if (text == r[kColUnit]) return;
    r[kColUnit] = text;
    source.Duration = false;
  } else if (text.empty()) {
    // An emptied end value or duration of a segment would end the curve there: it stays.
    if (col == kColEndValue && !last) return;
    if (col == kColDuration && !last) return;
    if (col == kColValue) text = "0";
  } else {
    const TypedNumber typed =
        ParseTypedNumber(text, col == kColDuration ? UnitKind::Time : ValueUnitKind());
    if (!typed.Ok()) {
      Message(typed.Error);
      return;
    }
    if (typed.Number < 0) {
      Message(Replace(_("\"%1\": values and durations cannot be negative."), "%1", text));
      return;
    }
    if (col == kColDuration) {
      text = FormatShortest(typed.Number);
      if (!typed.Unit.empty()) r[kColUnit] = typed.Unit;
    } else {
      text = FormatShortest(BaseValue(typed));
    }
  }
  if (col != kColUnit) r[col] = text;
  if (col == kColValue) {
    source.Value = false;
    if (row > 0) rows_.MutableRow(row - 1)[kColEndValue] = text;
  }
  if (col == kColEndValue && !last && !text.empty()) {
    rows_.MutableRow(row + 1)[kColValue] = text;
    rows_.MutableSource(row + 1).Value = false;
  }
  if (col == kColDuration) {
    source.Duration = false;
    if (r[kColUnit].empty()) r[kColUnit] = "s";
  }
  // The last row's segment gets its end point once its duration and end value are known.
  if (last && (col == kColEndValue || col == kColDuration) && !r[kColDuration].empty() &&
      !r[kColEndValue].empty() && RowCount() < kMaxGridRows) {
    GridRow next;
    next[kColValue] = r[kColEndValue];
    rows_.Append(next);
    Commit();
    return;
  }
  // A value moves no point: only the rows around it are converted again.
  if ((col == kColValue || col == kColEndValue) && row + 1 <= doc_.Working.LastPointIndex()) {
    Commit(true, std::max(0, row - 1), row + 1);
    return;
  }
  Commit();
}

std::pair<int, int> TEditorCore::EnterTarget(int row, int col) {
  if (row < 0 || row >= RowCount()) return {row, col};
  if (col >= kColValue && col < kColEndValue) return {row, col + 1};
  if (col != kColEndValue) return {row, col};
  if (row + 1 < RowCount()) return {row + 1, kColValue};
  if (rows_.Cell(row, kColDuration).empty() || RowCount() >= kMaxGridRows) return {row, col};
  GridRow next;
  next[kColValue] = rows_.Cell(row, kColEndValue);
  rows_.Append(next);
  inSync_ = false;
  Notify({.Grid = true});
  return {row + 1, kColValue};
}

void TEditorCore::InsertRow(int row) {
  if (RowCount() >= kMaxGridRows) return;
  row = std::clamp(row, 0, RowCount());
  // Rows 0..N always show the table's points (rows are only ever appended after them without
  // a commit), so a row inside the curve is copied from its point.
  const std::int32_t n = doc_.Working.LastPointIndex();
  if (n >= 1 && row <= n) {
    // A copy of the point it goes before, without superpositions: the curve looks the same.
    GridRow copy;
    RowSource source;
    source.Point = doc_.Working[row];
    source.Point.Sup1 = SuperpositionSpec{};
    source.Point.Sup2 = SuperpositionSpec{};
    source.Value = source.Duration = true;
    source.Sup[0] = source.Sup[1] = true;
    source.NextTime = source.Point.Time;
    copy[kColValue] = rows_.Cell(row, kColValue);
    copy[kColDuration] = FormatFixed(0, 7, 5);
    copy[kColUnit] = "s";
    copy[kColEndValue] = copy[kColValue];
    WriteSuperpositions(copy, source.Point);
    rows_.Insert(row, copy, source);
    Commit();
    return;
  }
  rows_.Insert(row, GridRow{});
  inSync_ = false;
  Notify({.Grid = true});
}

void TEditorCore::AppendRow() {
  if (RowCount() >= kMaxGridRows) return;
  GridRow next;
  const int back = RowCount() - 1;
  next[kColValue] = rows_.Cell(back, kColValue);
  const bool complete = !rows_.Cell(back, kColDuration).empty() && !next[kColValue].empty();
  rows_.MutableRow(back)[kColEndValue] = next[kColValue];
  rows_.Append(next);
  inSync_ = false;
  selectedRow_ = RowCount() - 1;
  Notify({.Grid = true, .Selection = true});
  // Behind a row with a duration the new row is a point at once: what is shown is the curve.
  if (complete) Commit();
}

void TEditorCore::DeleteRow(int row) {
  if (row <= 0 || row >= RowCount()) return;
  rows_.Erase(row, row);
  if (RowCount() == 1) {
    GridRow& only = rows_.MutableRow(0);
    for (int c = kColValue; c <= kColSup2Name; ++c) only[c].clear();
    rows_.MutableSource(0) = RowSource{};
    doc_.Working.SetLastPointIndex(0);
    doc_.TableOf(doc_.Active) = doc_.Working;
    selectedRow_ = 0;
    Notify({.Curve = true, .Grid = true, .Selection = true});
    if (!SuppressRecording && RecordStep) RecordStep();
    return;
  }
  // The last point never carries a superposition.
  GridRow& tail = rows_.MutableRow(RowCount() - 1);
  tail[kColDuration].clear();
  tail[kColUnit].clear();
  tail[kColEndValue].clear();
  tail[kColSup1Name].clear();
  tail[kColSup2Name].clear();
  tail[kColKind1] = "0";
  tail[kColKind2] = "0";
  RowSource& tailSource = rows_.MutableSource(RowCount() - 1);
  tailSource.Duration = tailSource.Sup[0] = tailSource.Sup[1] = false;
  rows_.MutableRow(row - 1)[kColEndValue] =
      row < RowCount() ? rows_.Cell(row, kColValue) : std::string();
  const int selected = selectedRow_;
  selectedRow_ = std::min(selectedRow_, RowCount() - 1);
  Commit();
  BuildRows();
  Notify({.Grid = true, .Selection = selected != selectedRow_});
}

void TEditorCore::ClearSuperposition(int row, int which) {
  if (row < 0 || row >= doc_.Working.LastPointIndex()) return;
  GridRow& r = rows_.MutableRow(row);
  RowSource& source = rows_.MutableSource(row);
  if (which == 0) {
    r[kColKind1] = "0";
    r[kColKind2] = "0";
    r[kColSup1Name].clear();
    r[kColSup2Name].clear();
    source.Sup[0] = source.Sup[1] = false;
  } else {
    r[kColKind2] = "0";
    r[kColSup2Name].clear();
    source.Sup[1] = false;
  }
  Commit();
}

void TEditorCore::DropEmptyRows() {
  if (doc_.Working.LastPointIndex() < 1) return;
  std::vector<char> keep(static_cast<std::size_t>(RowCount()), 1);
  bool dropped = false;
  for (int r = 1; r < RowCount(); ++r) {
    if (!rows_.Cell(r, kColValue).empty()) continue;
    keep[static_cast<std::size_t>(r)] = 0;
    dropped = true;
  }
  if (!dropped) return;
  rows_.Filter([&keep](int r) { return keep[static_cast<std::size_t>(r)] != 0; });
  selectedRow_ = std::min(selectedRow_, RowCount() - 1);
  Commit();
}

std::string TEditorCore::Copy(int first, int last) const {
  return RowsToClipboard(rows_, std::max(0, first), std::min(last, RowCount() - 1));
}

void TEditorCore::Cut(int first, int last) {
  first = std::max(0, first);
  last = std::min(last, RowCount() - 2);  // the last row stays
  if (first > last) return;
  rows_.Erase(first, last);
  selectedRow_ = 0;
  if (RowCount() >= 2) {
    // The rows now meeting each other: the end value follows the next row.
    if (first > 0) rows_.MutableRow(first - 1)[kColEndValue] = rows_.Cell(first, kColValue);
    Commit();
    BuildRows();
    Notify({.Grid = true, .Selection = true});
    return;
  }
  doc_.Working.SetLastPointIndex(0);
  doc_.TableOf(doc_.Active) = doc_.Working;
  Notify({.Curve = true, .Grid = true, .Selection = true});
  if (!SuppressRecording && RecordStep) RecordStep();
}

bool TEditorCore::Paste(int row, const std::string& text) {
  ClipboardRows parsed = ParseClipboard(text);
  if (parsed.Error.empty() &&
      RowCount() + parsed.Rows.size() > static_cast<std::size_t>(kMaxGridRows)) {
    parsed.Error = Replace(_("The clipboard holds more than %1 rows; a curve cannot take them."),
                           "%1", std::to_string(kMaxGridRows));
  }
  row = std::clamp(row, 0, RowCount() - 1);
  // Every pasted row that rows follow needs a duration, or the curve would end there.
  const bool emptyCurve = RowCount() == 1 && rows_.Cell(0, kColValue).empty();
  for (std::size_t i = 0; parsed.Error.empty() && i < parsed.Rows.size(); ++i) {
    const bool followed = i + 1 < parsed.Rows.size() || !emptyCurve;
    if (followed && parsed.Rows[i][kColDuration].empty()) {
      parsed.Error = Replace(_("Line %1 of the clipboard has no duration; pasted before other rows "
                               "it would end the curve. Nothing was pasted."),
                             "%1", std::to_string(i + 1));
    }
  }
  if (!parsed.Error.empty()) {
    Message(parsed.Error);
    return false;
  }
  rows_.InsertRows(row, parsed.Rows);
  // The row before the block now ends at its first value.
  if (row > 0) rows_.MutableRow(row - 1)[kColEndValue] = parsed.Rows[0][kColValue];
  Commit();
  BuildRows();
  selectedRow_ = RowCount() - 1;
  Notify({.Grid = true, .Selection = true});
  return true;
}

void TEditorCore::SelectRow(int row) {
  selectedRow_ = std::clamp(row, 0, RowCount() - 1);
}

double TEditorCore::TimeOfRow(int row) const {
  // The durations shown above the row, summed in row order up to the first that does not read;
  // kept between calls, as a long curve would be read again for every row loaded.
  row = std::clamp(row, 0, RowCount());
  if (rowTimes_.empty()) rowTimes_.push_back(0);
  while (static_cast<int>(rowTimes_.size()) <= row) {
    const std::size_t r = rowTimes_.size() - 1;
    double t = rowTimes_.back(), d = 0;
    if (timesStopAt_ < 0 && rows_.ShownSeconds(static_cast<int>(r), d)) {
      t += d;
    } else if (timesStopAt_ < 0) {
      timesStopAt_ = static_cast<int>(r);
    }
    rowTimes_.push_back(t);
  }
  return rowTimes_[static_cast<std::size_t>(row)];
}

void TEditorCore::ForgetRowTimes(int first) {
  // rowTimes_[k] sums rows below k: it holds while rows 0..k-1 do.
  const std::size_t keep = static_cast<std::size_t>(std::max(first, 0)) + 1;
  if (rowTimes_.size() > keep) rowTimes_.resize(keep);
  if (timesStopAt_ >= first) timesStopAt_ = -1;
}

TabValues TEditorCore::LoadRow(int row) const {
  TabValues tabs;
  if (row < 0 || row >= RowCount()) return tabs;
  GridRow r = rows_.Row(row);
  TryParseNumber(r[kColValue], tabs.StartValue);
  if (row + 1 < RowCount()) TryParseNumber(rows_.Cell(row + 1, kColValue), tabs.EndValue);
  const double s = TimeOfRow(row);
  double d = 0;
  TryParseNumber(r[kColDuration], d);
  const double e = s + d * UnitSeconds(r[kColUnit]);
  const ShownTimes shown = TabTimeDisplay(s, e);
  tabs.StartTime = shown.Start;
  tabs.EndTime = shown.End;
  tabs.TimeUnit = shown.Unit;
  // Empty frequencies default to one per shown time unit.
  const char* freq = tabs.TimeUnit == "ms" ? "1E-3" : tabs.TimeUnit == "us" ? "1E-6" : "1";
  for (int c : {int{kColSup1Fields}, kColSup1Fields + 1, int{kColSup2Fields}, kColSup2Fields + 1}) {
    if (r[c].empty()) r[c] = freq;
  }
  FillHiddenDefaults(r);
  for (int k = 0; k < 2; ++k) {
    const int c = k == 0 ? kColSup1Fields : kColSup2Fields;
    SuperpositionFields& f = tabs.Sup[k];
    std::int64_t kind = 0;
    TryParseInteger(r[k == 0 ? kColKind1 : kColKind2], kind);
    f.Kind = static_cast<SuperpositionKind>(std::clamp<std::int64_t>(kind, 0, 4));
    double f1 = 1, f2 = 1, duty = 50, phase = 0;
    TryParseNumber(r[c], f1);
    TryParseNumber(r[c + 1], f2);
    const ShownFrequencies fs = TabFrequencyDisplay(f1, f2);
    f.FreqStart = fs.Start;
    f.FreqEnd = fs.End;
    f.Unit = fs.Unit;
    TryParseNumber(r[c + 2], f.AmpStart);
    TryParseNumber(r[c + 3], f.AmpEnd);
    TryParseNumber(r[c + 4], duty);
    TryParseNumber(r[c + 5], phase);
    f.DutyCycle = static_cast<int>(RoundHalfEven(duty));
    f.Phase = static_cast<int>(RoundHalfEven(phase));
  }
  if (tabs.Sup[0].Kind == SuperpositionKind::None) tabs.Sup[1].Kind = SuperpositionKind::None;
  return tabs;
}

ApplyResult TEditorCore::ApplyTabs(int row, const TabValues& input) {
  if (doc_.Working.LastPointIndex() < 1 || row < 0 || row >= doc_.Working.LastPointIndex() ||
      row + 1 >= RowCount()) {
    return ApplyResult::NothingToApply;
  }
  TabValues tabs = input;
  const auto edited = [&tabs](unsigned field) { return (tabs.Edited & field) != 0; };
  if (tabs.Sup[0].Kind == SuperpositionKind::None) tabs.Sup[1].Kind = SuperpositionKind::None;
  SegmentRow seg = doc_.Working[row];
  SegmentRow candidate = seg;
  if (edited(kFieldSup1)) candidate.Sup1 = SpecOf(tabs.Sup[0]);
  if (edited(kFieldSup2)) candidate.Sup2 = SpecOf(tabs.Sup[1]);
  if (candidate.Sup1.Kind == SuperpositionKind::None) candidate.Sup2.Kind = SuperpositionKind::None;
  // A segment that has no preview yet needs a free one.
  if (candidate.Sup1.Kind != SuperpositionKind::None && seg.Sup1.Kind == SuperpositionKind::None &&
      SuperposedSegments() >= kPreviewSlotCount) {
    Message(_("At most 50 segments can carry superpositions."));
    return ApplyResult::NoSlot;
  }
  const double unit = UnitSeconds(tabs.TimeUnit);
  const double t0 = doc_.Working[row].Time;
  const double oldEnd = doc_.Working[row + 1].Time;
  double duration = oldEnd - t0;
  const bool timed = edited(kFieldStartTime) || edited(kFieldEndTime);
  double t1 = oldEnd;
  if (timed) {
    // An untouched time field stands for the exact time, not its rounded display; a typed end
    // time alone is where the end point goes.
    const double start = edited(kFieldStartTime) ? tabs.StartTime * unit : t0;
    const double end = edited(kFieldEndTime) ? tabs.EndTime * unit : oldEnd;
    if (start < end) duration = end - start;
    t1 = !edited(kFieldStartTime) && start < end ? end : t0 + duration;
    duration = t1 - t0;
  }
  const MemoryCheck check = CheckSuperpositions(candidate, t0, t1, budget_, daqBudget_);
  switch (check.Outcome) {
    case CheckOutcome::RefusedFirst:
    case CheckOutcome::RefusedSecond:
      Message(check.Message);
      return ApplyResult::Refused;
    case CheckOutcome::FirstSwitchedOff:
      Message(check.Message);
      candidate.Sup1.Kind = SuperpositionKind::None;
      candidate.Sup2.Kind = SuperpositionKind::None;
      break;
    case CheckOutcome::Accepted:
      break;
  }

  GridRow& r = rows_.MutableRow(row);
  RowSource& source = rows_.MutableSource(row);
  RowSource& next = rows_.MutableSource(row + 1);
  if (edited(kFieldStartValue)) {
    const std::string startValue = FormatFixed(tabs.StartValue, 6, 4);
    r[kColValue] = startValue;
    if (row > 0) rows_.MutableRow(row - 1)[kColEndValue] = startValue;
    source.Value = true;
    source.Point.Value = tabs.StartValue;
  }
  if (edited(kFieldEndValue)) {
    const std::string endValue = FormatFixed(tabs.EndValue, 6, 4);
    rows_.MutableRow(row + 1)[kColValue] = endValue;
    r[kColEndValue] = endValue;
    next.Value = true;
    next.Point.Value = tabs.EndValue;
  }
  if (timed) {
    const ShownDuration shown = DurationDisplay(duration);
    r[kColDuration] = DurationCellText(shown);
    r[kColUnit] = shown.Unit;
    source.Duration = true;
    source.Point.Time = t0;
    source.NextTime = t1;
  }
  WriteSuperpositions(r, candidate);
  source.Sup[0] = source.Sup[1] = true;
  source.Point.Sup1 = candidate.Sup1;
  source.Point.Sup2 = candidate.Sup2;
  Commit();
  selectedRow_ = row;
  return ApplyResult::Applied;
}

void TEditorCore::Stretch(double factor) {
  SegmentTable voltage = Curve(Quantity::Voltage), current = Curve(Quantity::Current);
  StretchTable(voltage, factor);
  StretchTable(current, factor);
  // Shrinking time raises frequencies: one beyond what a document holds refuses the stretch.
  for (const SegmentTable* t : {&voltage, &current}) {
    for (std::int32_t i = 0; i < t->LastPointIndex(); ++i) {
      const SegmentRow& r = (*t)[i];
      for (const SuperpositionSpec* sup : {&r.Sup1, &r.Sup2}) {
        if (sup->Kind == SuperpositionKind::None) continue;
        for (double f : {sup->FreqStart, sup->FreqEnd}) {
          if (FrequencyWithinLimit(f)) continue;
          Message(FrequencyLimitText() + " " + FormatGeneral(f) + " Hz");
          return;
        }
      }
    }
  }
  SetDocument(voltage, current);
  if (!SuppressRecording && RecordStep) RecordStep();
}

void TEditorCore::CommitPlotEdit(const SegmentTable& table,
                                 const std::vector<std::int32_t>& rerunSegments) {
  const bool suppress = SuppressRecording;
  SuppressRecording = true;
  SetActiveCurve(table, false);
  for (std::int32_t segment : rerunSegments) {
    if (segment >= doc_.Working.LastPointIndex()) continue;
    // Only the memory check runs again: no field is re-read from its display.
    TabValues tabs = LoadRow(segment);
    tabs.Edited = 0;
    ApplyTabs(segment, tabs);
  }
  SuppressRecording = suppress;
}

void TEditorCore::SetLimits(const DeviceLimits& active, std::int32_t budget,
                            std::int32_t daqBudget) {
  const bool supplyBefore = budget_ < daqBudget_;
  const std::int32_t before = budget_;
  limits_ = active;
  budget_ = budget;
  daqBudget_ = daqBudget;
  Notify({.Limits = true});
  // Another model: what it refuses of the document is said once.
  if (budget_ != before || (budget_ < daqBudget_) != supplyBefore) Message(MemoryFindings());
}

}  // namespace ondrevo
