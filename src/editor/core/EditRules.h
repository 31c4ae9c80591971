// Rules of the segment grid and the tabs as pure functions: cell texts, units, typed keys,
// grid <-> table conversion, clipboard text, the tabs' display units and spin limits.
// Texts held here are C-locale ("." as separator); widgets localize what they show.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/Durations.h"
#include "document/SegmentTable.h"
#include "editor/DeviceLimits.h"

namespace ondrevo {

class TGridRows;

// A number typed or pasted into the grid: it must convert and be one the document can store
// (values next to the largest double would be written rounded beyond it and never read back).
bool TryParseStorable(std::string_view text, double& out);

// Column 0 is the row number, 1..6 are shown, 7..20 are the hidden superposition fields.
inline constexpr int kGridColumns = 21;
enum GridColumn : int {
  kColNumber = 0,
  kColValue = 1,
  kColDuration = 2,
  kColUnit = 3,
  kColEndValue = 4,
  kColSup1Name = 5,
  kColSup2Name = 6,
  kColSup1Fields = 7,  // FreqStart, FreqEnd, AmpStart, AmpEnd, DutyCycle, Phase
  kColSup2Fields = 13,
  kColKind1 = 19,
  kColKind2 = 20,
};
using GridRow = std::array<std::string, kGridColumns>;

// Rows a curve can hold.
inline constexpr int kMaxGridRows = SegmentTable::kCapacity;

// ---- durations and units

// Seconds per unit text; anything unknown counts as seconds.
double UnitSeconds(std::string_view unit);
// The unit cell after a key typed into it ("m" then "i" gives "min").
std::string UnitKey(std::string_view unit, char key);
// A value cell after a typed key: digits, one decimal point ("." or ",") and Backspace ('\b');
// nothing for a refused key. After the number, a blank and the letters of a unit name are kept
// for the commit to read.
std::optional<std::string> ValueKey(std::string_view text, char key);

// Letters that may make up a unit name typed behind a number.
bool IsUnitLetter(char c);
// What a typed number may carry behind it.
enum class UnitKind { Time, Voltage, Current, Frequency };
struct TypedNumber {
  double Number = 0;  // as typed, in Unit
  std::string Unit;   // normalised name ("ms", "us", "mV", "kHz"...), empty when none was typed
  double Factor = 1;  // base units (s, V, A, Hz) per Unit; 1 without a unit
  std::string Error;  // translated; empty when the text was accepted
  bool Ok() const { return Error.empty(); }
};
// A number with an optional unit suffix, with or without a blank: s, ms, us or \u00b5s, min, h;
// V, mV; A, mA; Hz, kHz. "," counts as the decimal point. Anything else, a unit of another kind
// included, gives an error naming what was typed.
TypedNumber ParseTypedNumber(std::string_view text, UnitKind kind);
// The number in base units: Number * Factor, divided for the milli and micro units so that
// "500 mV" is exactly 0.5.
double BaseValue(const TypedNumber& typed);

// Translated name of a kind for columns 5 and 6 ("" for none).
std::string KindName(SuperpositionKind kind);

// ---- grid <-> table

// Rows of a curve as RebuildGrid writes them; an empty curve gives one empty row.
std::vector<GridRow> TableToGrid(const SegmentTable& table);
// One cell of TableToGrid's row for `point`, formatted alone; `next` is the point after it
// (none for the last point).
std::string PointRowCell(const SegmentRow& point, const SegmentRow* next, int col);
// Fills every empty hidden field with its default.
void FillHiddenDefaults(GridRow& row);
// The point a grid row was built from, for as long as its cells still show it: converting the
// row keeps these numbers instead of reading back the rounded texts, so an edit changes only
// what it addresses.
struct RowSource {
  bool Value = false;            // column 1 shows Point.Value
  bool Duration = false;         // columns 2 and 3 show NextTime - Point.Time
  bool Sup[2] = {false, false};  // the kind and fields of superposition 1 / 2 show Point's
  SegmentRow Point;
  double NextTime = 0;
};
// One source per row of TableToGrid(table).
std::vector<RowSource> TableSources(const SegmentTable& table);

// Converts rows into the table up to the first row that does not convert; returns the number of
// points converted and sets the table's last point index from it. `sources`, when given, runs
// parallel to `rows`.
int GridToTable(std::vector<GridRow>& rows, SegmentTable& table,
                const std::vector<RowSource>* sources = nullptr);
int GridToTable(TGridRows& rows, SegmentTable& table);
// Converts only rows first..last, the table holding the earlier rows converted and the later
// ones unchanged (an edit that moves no later point). False when a row of the range does not
// convert; the caller then converts everything.
bool GridRangeToTable(std::vector<GridRow>& rows, SegmentTable& table, int first, int last,
                      const std::vector<RowSource>* sources = nullptr);
bool GridRangeToTable(TGridRows& rows, SegmentTable& table, int first, int last);
// Writes a segment row's superposition fields and names into columns 5..20.
void WriteSuperpositions(GridRow& row, const SegmentRow& source);

// ---- clipboard

// One line per row: columns 1..20 separated by tabs, "\n" after each line.
std::string RowsToClipboard(const std::vector<GridRow>& rows, int first, int last);
std::string RowsToClipboard(const TGridRows& rows, int first, int last);
struct ClipboardRows {
  std::vector<GridRow> Rows;
  std::string Error;  // empty when the text was accepted
};
// Tab-separated lines (spreadsheet form) or the 20-item comma-separated form with quotes.
// Each line gives one row; fewer than 20 items leave the rest empty. Anything malformed gives
// an error naming the line and nothing else.
ClipboardRows ParseClipboard(std::string_view text);

// ---- tabs

struct ShownTimes {
  double Start = 0, End = 0;
  const char* Unit = "s";
};
// LoadRow's display unit for a segment's start and end time.
ShownTimes TabTimeDisplay(double start, double end);

enum FrequencyUnit : int { kMilliHertz = 0, kHertz, kKiloHertz, kMegaHertz };
inline constexpr const char* kFrequencyUnitNames[4] = {"mHz", "Hz", "kHz", "MHz"};
double FrequencyFactor(int unit);
struct ShownFrequencies {
  double Start = 1, End = 1;
  int Unit = kHertz;
};
ShownFrequencies TabFrequencyDisplay(double startHz, double endHz);

// Upper limits of the tabs' value and amplitude fields for the active quantity.
struct SpinLimits {
  double Value = 0;        // YeditL, YeditR
  double Amplitude1 = 0;   // Ue1_A1, Ue1_A2
  double Amplitude2 = 30;  // Ue2_A1, Ue2_A2: fixed whatever the device
};
SpinLimits TabSpinLimits(const DeviceLimits& active, Quantity quantity);

// "Skip next exit" of the duty-cycle fields: Enter or an arrow applies the field, so leaving it
// afterwards need not apply it again. The skip holds only while the field still shows the value
// then applied (a value typed after an arrow is applied when leaving), and leaving after arrows,
// which apply without recording, still records their step.
class TSkipNextExit {
 public:
  enum class OnExit { Apply, RecordOnly, Nothing };
  // Enter (recorded) or an arrow (not recorded) applied `value`.
  void Set(double value, bool recorded) {
    set_ = true;
    value_ = value;
    unrecorded_ = !recorded;
  }
  // Leaving the field that shows `shown`; clears the skip.
  OnExit Leave(double shown);
  bool IsSet() const { return set_; }

 private:
  bool set_ = false, unrecorded_ = false;
  double value_ = 0;
};

// The time fields' arrows, in seconds. `before` is the time of the point before the segment's
// start point (or nothing), `after` the time of the point after its end point (or nothing).
// Start going down: nothing (-1 returned as nullopt) when it became negative.
std::optional<double> StartArrowDown(double newStart, std::optional<double> before);
double StartArrowUp(double newStart, double end, double minDwell);
double EndArrowDown(double start, double newEnd, double minDwell);
double EndArrowUp(double newEnd, std::optional<double> after, double minDwell);

}  // namespace ondrevo
