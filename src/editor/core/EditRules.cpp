#include "editor/core/EditRules.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "document/DocumentIO.h"
#include "document/Numbers.h"
#include "document/Translate.h"
#include "editor/core/GridRows.h"

namespace ondrevo {

bool TryParseStorable(std::string_view text, double& out) {
  double v = 0;
  if (!TryParseNumber(text, v) || !IsStorableNumber(v)) return false;
  out = v;
  return true;
}

namespace {

// Defaults of columns 7..20 when a cell is empty.
constexpr const char* kHiddenDefaults[kGridColumns] = {"",  "",  "",  "",   "",   "",  "",
                                                       "1", "1", "1", "1",  "50", "0", "1",
                                                       "1", "1", "1", "50", "0",  "0", "0"};

bool IsUnit(std::string_view u) {
  return u == "h" || u == "min" || u == "s" || u == "ms" || u == "us";
}

std::string Replace(std::string text, std::string_view key, const std::string& value) {
  const auto pos = text.find(key);
  if (pos != std::string::npos) text.replace(pos, key.size(), value);
  return text;
}

}  // namespace

double UnitSeconds(std::string_view unit) {
  if (unit == "h") return 3600;
  if (unit == "min") return 60;
  if (unit == "ms") return 0.001;
  if (unit == "us") return 0.000001;
  return 1;
}

std::string UnitKey(std::string_view unit, char key) {
  switch (key) {
    case 'h':
      return "h";
    case 'm':
      return "m";
    case 'u':
      return "us";
    case 'i':
      return unit == "m" ? "min" : std::string(unit);
    case 's':
      if (unit == "m") return "ms";
      if (unit == "u") return "us";
      return "s";
    default:
      return std::string(unit);
  }
}

std::optional<std::string> ValueKey(std::string_view text, char key) {
  if (key == '\b') {
    if (text.empty()) return std::string();
    // A multi-byte character (the micro sign) goes as one.
    std::size_t cut = text.size() - 1;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut));
  }
  const bool inUnit =
      std::any_of(text.begin(), text.end(), [](char c) { return c == ' ' || IsUnitLetter(c); });
  if (key >= '0' && key <= '9') {
    if (inUnit) return std::nullopt;
    return std::string(text) + key;
  }
  if (key == '.' || key == ',') {
    if (inUnit || text.find('.') != std::string_view::npos) return std::nullopt;
    return std::string(text) + '.';
  }
  if (key == ' ') {
    if (text.empty() || inUnit) return std::nullopt;
    return std::string(text) + ' ';
  }
  if (IsUnitLetter(key) && !text.empty()) return std::string(text) + key;
  return std::nullopt;
}

namespace {

struct UnitName {
  const char* Name;
  UnitKind Kind;
  double Factor;
  double Divisor;  // milli and micro units divide, so that 500 mV is exactly 0.5 V
};
constexpr UnitName kUnitNames[] = {
    {"h", UnitKind::Time, 3600, 1},     {"min", UnitKind::Time, 60, 1},
    {"s", UnitKind::Time, 1, 1},        {"ms", UnitKind::Time, 1, 1000},
    {"us", UnitKind::Time, 1, 1000000}, {"\u00b5s", UnitKind::Time, 1, 1000000},
    {"V", UnitKind::Voltage, 1, 1},     {"mV", UnitKind::Voltage, 1, 1000},
    {"A", UnitKind::Current, 1, 1},     {"mA", UnitKind::Current, 1, 1000},
    {"Hz", UnitKind::Frequency, 1, 1},  {"kHz", UnitKind::Frequency, 1000, 1},
};

const char* UnitsOf(UnitKind kind) {
  switch (kind) {
    case UnitKind::Time:
      return "h, min, s, ms, us";
    case UnitKind::Voltage:
      return "V, mV";
    case UnitKind::Current:
      return "A, mA";
    default:
      return "Hz, kHz";
  }
}

}  // namespace

bool IsUnitLetter(char c) {
  // The letters of h, min, s, ms, us, V, mV, A, mA, Hz, kHz and the bytes of the micro sign.
  return std::string_view("hminsuVAHzk").find(c) != std::string_view::npos ||
         (static_cast<unsigned char>(c) & 0x80);
}

TypedNumber ParseTypedNumber(std::string_view text, UnitKind kind) {
  TypedNumber out;
  std::string_view t = text;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  std::size_t split = t.size();
  const auto letter = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (static_cast<unsigned char>(c) & 0x80);
  };
  while (split > 0 && letter(t[split - 1])) --split;
  std::string number(t.substr(0, split));
  const std::string_view unit = t.substr(split);
  while (!number.empty() && number.back() == ' ') number.pop_back();
  for (char& c : number) {
    if (c == ',') c = '.';
  }
  double v = 0;
  if (number.empty() || !TryParseStorable(number, v)) {
    out.Error = Replace(_("\"%1\" is not a number."), "%1", std::string(text));
    return out;
  }
  out.Number = v;
  if (unit.empty()) return out;
  for (const UnitName& u : kUnitNames) {
    if (u.Kind != kind || unit != u.Name) continue;
    out.Unit = std::string_view(u.Name) == "\u00b5s" ? "us" : u.Name;
    out.Factor = u.Factor / u.Divisor;
    return out;
  }
  std::string m = Replace(_("\"%1\": \"%2\" is not a unit here; use %3."), "%1", std::string(text));
  m = Replace(m, "%2", std::string(unit));
  out.Error = Replace(m, "%3", UnitsOf(kind));
  return out;
}

double BaseValue(const TypedNumber& typed) {
  for (const UnitName& u : kUnitNames) {
    if (typed.Unit == u.Name) return typed.Number * u.Factor / u.Divisor;
  }
  return typed.Number;
}

std::string KindName(SuperpositionKind kind) {
  switch (kind) {
    case SuperpositionKind::Sine:
      return _("Sine");
    case SuperpositionKind::Square:
      return _("Square");
    case SuperpositionKind::Triangle:
      return _("Triangle");
    case SuperpositionKind::Sawtooth:
      return _("Saw tooth");
    default:
      return {};
  }
}

namespace {

// FormatGeneral, with whole numbers (the defaults 1, 50, 0 of every row) written directly:
// rebuilding a long grid spends most of its time here otherwise.
std::string General(double v) {
  if (v == std::floor(v) && std::abs(v) < 1e15 && !(v == 0 && std::signbit(v))) {
    return std::to_string(static_cast<long long>(v));
  }
  return FormatGeneral(v);
}

}  // namespace

void WriteSuperpositions(GridRow& row, const SegmentRow& source) {
  const bool first = source.Sup1.Kind != SuperpositionKind::None;
  row[kColSup1Name] = KindName(source.Sup1.Kind);
  row[kColSup2Name] = first ? KindName(source.Sup2.Kind) : std::string();
  row[kColKind1] = std::to_string(static_cast<int>(source.Sup1.Kind));
  row[kColKind2] = std::to_string(static_cast<int>(source.Sup2.Kind));
  const SuperpositionSpec* specs[2] = {&source.Sup1, &source.Sup2};
  for (int k = 0; k < 2; ++k) {
    const SuperpositionSpec& s = *specs[k];
    const int c = k == 0 ? kColSup1Fields : kColSup2Fields;
    row[c + 0] = General(s.FreqStart);
    row[c + 1] = General(s.FreqEnd);
    row[c + 2] = General(s.AmpStart);
    row[c + 3] = General(s.AmpEnd);
    row[c + 4] = std::to_string(s.DutyCycle);
    row[c + 5] = std::to_string(s.Phase);
  }
}

std::vector<GridRow> TableToGrid(const SegmentTable& t) {
  const std::int32_t n = t.LastPointIndex();
  if (n <= 0) return std::vector<GridRow>(1);
  std::vector<GridRow> rows(static_cast<std::size_t>(n) + 1);
  for (std::int32_t p = 0; p <= n; ++p) {
    GridRow& row = rows[static_cast<std::size_t>(p)];
    row[kColValue] = FormatFixed(t[p].Value, 6, 4);
    if (p == n) break;
    const double d = std::max(0.0, t[p + 1].Time - t[p].Time);
    const ShownDuration shown = DurationDisplay(d);
    row[kColDuration] = DurationCellText(shown);
    row[kColUnit] = shown.Unit;
    row[kColEndValue] = FormatFixed(t[p + 1].Value, 6, 4);
    WriteSuperpositions(row, t[p]);
  }
  return rows;
}

std::string PointRowCell(const SegmentRow& point, const SegmentRow* next, int col) {
  if (col == kColValue) return FormatFixed(point.Value, 6, 4);
  if (!next || col <= kColNumber || col >= kGridColumns) return {};
  switch (col) {
    case kColDuration:
      return DurationCellText(DurationDisplay(std::max(0.0, next->Time - point.Time)));
    case kColUnit:
      return DurationDisplay(std::max(0.0, next->Time - point.Time)).Unit;
    case kColEndValue:
      return FormatFixed(next->Value, 6, 4);
    case kColSup1Name:
      return KindName(point.Sup1.Kind);
    case kColSup2Name:
      return point.Sup1.Kind != SuperpositionKind::None ? KindName(point.Sup2.Kind) : std::string();
    case kColKind1:
      return std::to_string(static_cast<int>(point.Sup1.Kind));
    case kColKind2:
      return std::to_string(static_cast<int>(point.Sup2.Kind));
    default:
      break;
  }
  const SuperpositionSpec& s = col < kColSup2Fields ? point.Sup1 : point.Sup2;
  switch ((col - kColSup1Fields) % 6) {
    case 0:
      return General(s.FreqStart);
    case 1:
      return General(s.FreqEnd);
    case 2:
      return General(s.AmpStart);
    case 3:
      return General(s.AmpEnd);
    case 4:
      return std::to_string(s.DutyCycle);
    default:
      return std::to_string(s.Phase);
  }
}

void FillHiddenDefaults(GridRow& row) {
  for (int c = kColSup1Fields; c < kGridColumns; ++c) {
    if (row[c].empty()) row[c] = kHiddenDefaults[c];
  }
}

namespace {

// Rows of a plain vector with their sources, read as TGridRows is.
struct VectorRows {
  const std::vector<GridRow>& Rows;
  const std::vector<RowSource>* Sources;
  const std::string& Cell(int r, int c) const { return Rows[static_cast<std::size_t>(r)][c]; }
  bool SourceOf(int r, RowSource& out) const {
    if (!Sources || r < 0 || r >= static_cast<int>(Sources->size())) return false;
    out = (*Sources)[static_cast<std::size_t>(r)];
    return true;
  }
};

struct GridRowsAccess {
  const TGridRows& Rows;
  std::string Cell(int r, int c) const { return Rows.Cell(r, c); }
  bool SourceOf(int r, RowSource& out) const {
    Rows.SourceOf(r, out);
    return true;
  }
};

template <typename Rows>
bool ReadSpec(const Rows& rows, int r, int kindCol, int first, SuperpositionSpec& s) {
  std::int64_t kind = 0, duty = 0, phase = 0;
  if (!TryParseInteger(rows.Cell(r, kindCol), kind) || kind < 0 || kind > 4) return false;
  s.Kind = static_cast<SuperpositionKind>(kind);
  if (s.Kind == SuperpositionKind::None) return true;
  double values[4];
  for (int i = 0; i < 4; ++i) {
    if (!TryParseStorable(rows.Cell(r, first + i), values[i])) return false;
  }
  double dutyValue = 0, phaseValue = 0;
  if (!TryParseStorable(rows.Cell(r, first + 4), dutyValue) ||
      !TryParseStorable(rows.Cell(r, first + 5), phaseValue)) {
    return false;
  }
  duty = static_cast<std::int64_t>(RoundHalfEven(dutyValue));
  phase = static_cast<std::int64_t>(RoundHalfEven(phaseValue));
  s.FreqStart = values[0];
  s.FreqEnd = values[1];
  s.AmpStart = values[2];
  s.AmpEnd = values[3];
  s.DutyCycle = static_cast<std::int32_t>(std::clamp<std::int64_t>(duty, -1000000, 1000000));
  s.Phase = static_cast<std::int32_t>(std::clamp<std::int64_t>(phase, -1000000, 1000000));
  return true;
}

// Converts rows from `first` (whose time the table holds) up to `end`; returns the first row not
// converted. A field whose source still holds it is taken from there, not read from its text.
template <typename Rows>
int ConvertRows(const Rows& rows, SegmentTable& table, int first, int end) {
  double time = first > 0 ? table[first].Time : 0;
  RowSource src, before;
  bool hasSrc = false, hasBefore = false;
  int r = first;
  for (; r < end; ++r) {
    hasSrc = rows.SourceOf(r, src);
    double value = 0;
    if (hasSrc && src.Value) {
      value = src.Point.Value;
    } else if (!TryParseStorable(rows.Cell(r, kColValue), value)) {
      break;
    }
    if (r > first) {
      if (hasBefore && before.Duration) {
        // The untouched duration: the point keeps its time unless an earlier edit moved it.
        time = time == before.Point.Time ? before.NextTime
                                         : time + (before.NextTime - before.Point.Time);
      } else {
        double d = 0;
        if (!TryParseStorable(rows.Cell(r - 1, kColDuration), d) || d < 0) break;
        time += d * UnitSeconds(rows.Cell(r - 1, kColUnit));
      }
    }
    SegmentRow& out = table[r];
    SuperpositionSpec s1 = hasSrc ? src.Point.Sup1 : out.Sup1;
    SuperpositionSpec s2 = hasSrc ? src.Point.Sup2 : out.Sup2;
    if ((!(hasSrc && src.Sup[0]) && !ReadSpec(rows, r, kColKind1, kColSup1Fields, s1)) ||
        (!(hasSrc && src.Sup[1]) && !ReadSpec(rows, r, kColKind2, kColSup2Fields, s2))) {
      break;
    }
    out.Time = time;
    out.Value = value;
    out.Sup1 = s1;
    out.Sup2 = s2;
    std::swap(src, before);
    hasBefore = hasSrc;
  }
  return r;
}

}  // namespace

std::vector<RowSource> TableSources(const SegmentTable& t) {
  const std::int32_t n = t.LastPointIndex();
  if (n <= 0) return std::vector<RowSource>(1);
  std::vector<RowSource> sources(static_cast<std::size_t>(n) + 1);
  for (std::int32_t p = 0; p <= n; ++p) {
    RowSource& s = sources[static_cast<std::size_t>(p)];
    s.Point = t[p];
    s.Value = true;
    if (p == n) break;
    // A negative duration shows as 0: only a shown one is kept.
    s.Duration = t[p + 1].Time >= t[p].Time;
    s.NextTime = t[p + 1].Time;
    s.Sup[0] = s.Sup[1] = true;
  }
  return sources;
}

int GridToTable(std::vector<GridRow>& rows, SegmentTable& table,
                const std::vector<RowSource>* sources) {
  for (GridRow& row : rows) FillHiddenDefaults(row);
  const int count = std::min<int>(static_cast<int>(rows.size()), kMaxGridRows);
  const int converted = ConvertRows(VectorRows{rows, sources}, table, 0, count);
  table.SetLastPointIndex(std::max(0, converted - 1));
  return converted;
}

int GridToTable(TGridRows& rows, SegmentTable& table) {
  rows.FillHiddenDefaults();
  const int count = std::min(rows.Count(), kMaxGridRows);
  const int converted = ConvertRows(GridRowsAccess{rows}, table, 0, count);
  table.SetLastPointIndex(std::max(0, converted - 1));
  return converted;
}

bool GridRangeToTable(std::vector<GridRow>& rows, SegmentTable& table, int first, int last,
                      const std::vector<RowSource>* sources) {
  if (first < 0 || last < first || last > table.LastPointIndex() ||
      last >= static_cast<int>(rows.size())) {
    return false;
  }
  for (int r = first; r <= last; ++r) FillHiddenDefaults(rows[static_cast<std::size_t>(r)]);
  return ConvertRows(VectorRows{rows, sources}, table, first, last + 1) == last + 1;
}

bool GridRangeToTable(TGridRows& rows, SegmentTable& table, int first, int last) {
  if (first < 0 || last < first || last > table.LastPointIndex() || last >= rows.Count()) {
    return false;
  }
  rows.FillHiddenDefaults(first, last);
  return ConvertRows(GridRowsAccess{rows}, table, first, last + 1) == last + 1;
}

std::string RowsToClipboard(const std::vector<GridRow>& rows, int first, int last) {
  std::string text;
  for (int r = first; r <= last && r < static_cast<int>(rows.size()); ++r) {
    for (int c = 1; c < kGridColumns; ++c) {
      if (c > 1) text += '\t';
      text += rows[static_cast<std::size_t>(r)][c];
    }
    text += '\n';
  }
  return text;
}

std::string RowsToClipboard(const TGridRows& rows, int first, int last) {
  std::string text;
  for (int r = first; r <= last && r < rows.Count(); ++r) {
    for (int c = 1; c < kGridColumns; ++c) {
      if (c > 1) text += '\t';
      text += rows.Cell(r, c);
    }
    text += '\n';
  }
  return text;
}

namespace {

// The comma-separated form: items split at commas and blanks outside quotes, quotes doubled
// inside quoted items. False on an unterminated quote.
bool SplitQuoted(std::string_view line, std::vector<std::string>& items) {
  std::string item;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (quoted) {
      if (ch == '"') {
        if (i + 1 < line.size() && line[i + 1] == '"') {
          item += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        item += ch;
      }
    } else if (ch == '"') {
      quoted = any = true;
    } else if (ch == ',') {
      items.push_back(item);
      item.clear();
      any = false;
    } else if (ch == ' ') {
      if (any || !item.empty()) {
        items.push_back(item);
        item.clear();
        any = false;
      }
    } else {
      item += ch;
      any = true;
    }
  }
  if (quoted) return false;
  items.push_back(item);
  return true;
}

std::string LineError(const char* english, std::size_t line, int field, std::string_view text) {
  std::string m = Replace(_(english), "%1", std::to_string(line));
  m = Replace(m, "%2", std::to_string(field));
  return Replace(m, "%3", std::string(text));
}

}  // namespace

ClipboardRows ParseClipboard(std::string_view text) {
  ClipboardRows out;
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (lines.empty()) {
    out.Error = _("The clipboard holds no rows.");
    return out;
  }
  if (lines.size() > static_cast<std::size_t>(kMaxGridRows)) {
    out.Error = Replace(_("The clipboard holds more than %1 rows; a curve cannot take them."), "%1",
                        std::to_string(kMaxGridRows));
    return out;
  }
  out.Rows.reserve(lines.size());
  for (std::size_t l = 0; l < lines.size(); ++l) {
    std::vector<std::string> items;
    const std::string_view line = lines[l];
    if (line.find('\t') != std::string_view::npos) {
      std::size_t s = 0;
      for (;;) {
        const std::size_t e = line.find('\t', s);
        items.emplace_back(line.substr(s, e == std::string_view::npos ? e : e - s));
        if (e == std::string_view::npos) break;
        s = e + 1;
      }
    } else if (!SplitQuoted(line, items)) {
      out.Rows.clear();
      out.Error =
          LineError(N_("Line %1 of the clipboard has a quote that is not closed."), l + 1, 0, {});
      return out;
    }
    if (items.size() > kGridColumns - 1) {
      out.Rows.clear();
      out.Error = LineError(N_("Line %1 of the clipboard has more than 20 items."), l + 1, 0, {});
      return out;
    }
    GridRow row;
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::string item = items[i];
      // Spreadsheets may pad their cells.
      while (!item.empty() && (item.front() == ' ')) item.erase(item.begin());
      while (!item.empty() && (item.back() == ' ')) item.pop_back();
      row[static_cast<std::size_t>(i) + 1] = item;
    }
    // Validate what GridToTable reads: a value, then numbers in the numeric columns.
    for (int c = 1; c < kGridColumns; ++c) {
      const std::string& cell = row[c];
      if (c == kColSup1Name || c == kColSup2Name) continue;
      if (c == kColUnit) {
        if (!cell.empty() && !IsUnit(cell)) {
          out.Rows.clear();
          out.Error = LineError(N_("Line %1 of the clipboard, item %2: \"%3\" is not a time unit."),
                                l + 1, c, cell);
          return out;
        }
        continue;
      }
      if (cell.empty() && c != kColValue) continue;
      double v = 0;
      if (TryParseNumber(cell, v) && !IsStorableNumber(v)) {
        out.Rows.clear();
        out.Error = LineError(N_("Line %1 of the clipboard, item %2: \"%3\" is too large to be "
                                 "stored in a document."),
                              l + 1, c, cell);
        return out;
      }
      const bool frequency = (c >= kColSup1Fields && c < kColSup1Fields + 2) ||
                             (c >= kColSup2Fields && c < kColSup2Fields + 2);
      if (frequency && TryParseNumber(cell, v) && !FrequencyWithinLimit(v)) {
        out.Rows.clear();
        out.Error = LineError(N_("Line %1 of the clipboard, item %2: \"%3\" is above the highest "
                                 "frequency, 1000000000 Hz."),
                              l + 1, c, cell);
        return out;
      }
      bool ok = TryParseNumber(cell, v) && v >= 0;
      if (ok && (c == kColKind1 || c == kColKind2)) {
        ok = v == std::floor(v) && v <= 4;
      }
      if (!ok) {
        out.Rows.clear();
        out.Error = LineError(
            N_("Line %1 of the clipboard, item %2: \"%3\" is not a valid number."), l + 1, c, cell);
        return out;
      }
    }
    // The names follow the kinds (a spreadsheet may hold other names or none).
    FillHiddenDefaults(row);
    std::int64_t k1 = 0, k2 = 0;
    TryParseInteger(row[kColKind1], k1);
    TryParseInteger(row[kColKind2], k2);
    row[kColSup1Name] = KindName(static_cast<SuperpositionKind>(k1));
    row[kColSup2Name] = k1 != 0 ? KindName(static_cast<SuperpositionKind>(k2)) : std::string();
    out.Rows.push_back(std::move(row));
  }
  return out;
}

ShownTimes TabTimeDisplay(double s, double e) {
  if (s > 36000 || e > 36000) return {s / 3600, e / 3600, "h"};
  if (s > 600 || e > 600) return {s / 60, e / 60, "min"};
  ShownTimes shown{s, e, "s"};
  // 0.0001 s times 1000 is 0.1 only after rounding: it still counts as below 0.1.
  constexpr double kBelow = 0.1 * (1 + 1e-12);
  for (const char* next : {"ms", "us"}) {
    const bool small = s == 0 ? (e != 0 && e < kBelow) : (s < kBelow || e < kBelow);
    if (!small) break;
    s *= 1000;
    e *= 1000;
    shown = {s, e, next};
  }
  return shown;
}

double FrequencyFactor(int unit) {
  static constexpr double kFactor[4] = {0.001, 1, 1000, 1000000};
  return kFactor[std::clamp(unit, 0, 3)];
}

ShownFrequencies TabFrequencyDisplay(double f1, double f2) {
  int unit = kHertz;
  if (f1 >= 1000000 || f2 >= 1000000) {
    unit = kMegaHertz;
  } else if (f1 >= 1000 || f2 >= 1000) {
    unit = kKiloHertz;
  } else if (f1 <= 0.001 || f2 <= 0.001) {
    unit = kMilliHertz;
  }
  double a = f1 / FrequencyFactor(unit), b = f2 / FrequencyFactor(unit);
  if (unit != kMilliHertz && (a < 1 || b < 1)) {
    --unit;
    a *= 1000;
    b *= 1000;
  }
  return {a, b, unit};
}

SpinLimits TabSpinLimits(const DeviceLimits& active, Quantity quantity) {
  const double max = quantity == Quantity::Voltage ? active.MaxVoltage : active.MaxCurrent;
  return {max, max, 30};
}

std::optional<double> StartArrowDown(double newStart, std::optional<double> before) {
  if (newStart < 0) return std::nullopt;
  if (before && newStart < *before) return *before;
  return newStart;
}

double StartArrowUp(double newStart, double end, double minDwell) {
  return end > newStart ? newStart : end - minDwell;
}

double EndArrowDown(double start, double newEnd, double minDwell) {
  return start < newEnd ? newEnd : start + minDwell;
}

double EndArrowUp(double newEnd, std::optional<double> after, double minDwell) {
  return after && newEnd >= *after ? *after - minDwell : newEnd;
}

TSkipNextExit::OnExit TSkipNextExit::Leave(double shown) {
  if (!set_) return OnExit::Apply;
  set_ = false;
  if (shown != value_) return OnExit::Apply;
  return std::exchange(unrecorded_, false) ? OnExit::RecordOnly : OnExit::Nothing;
}

}  // namespace ondrevo
