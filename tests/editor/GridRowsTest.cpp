// The grid's rows formatted when read against the rows TableToGrid formats all at once, and
// against a plain vector of rows under random edits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "document/Numbers.h"
#include "editor/core/EditorCore.h"
#include "editor/core/GridRows.h"

using namespace ondrevo;

namespace {

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameSource(const RowSource& a, const RowSource& b) {
  return a.Value == b.Value && a.Duration == b.Duration && a.Sup[0] == b.Sup[0] &&
         a.Sup[1] == b.Sup[1] && a.Point == b.Point && SameBits(a.NextTime, b.NextTime);
}

// Values where a formatter could round otherwise: halves of the last decimal shown, numbers
// too large for the decimals, tiny ones, and the limits of every duration unit.
double PickValue(std::mt19937& rng) {
  static const double kEdges[] = {
      0,     0.00005, 1.00005,     2.50005,   19.99995,  0.123456789, 999999.5, 1000000,
      1.5e7, 1e-7,    65535.99995, 0.0000499, 4.0000501, 1.0 / 3.0,   21.5,     123456.78905};
  std::uniform_int_distribution<int> pick(0, 3);
  switch (pick(rng)) {
    case 0:
      return kEdges[std::uniform_int_distribution<std::size_t>(0, std::size(kEdges) - 1)(rng)];
    case 1:  // a half of the fourth decimal, as typed
      return std::uniform_int_distribution<int>(0, 400000)(rng) / 10000.0 + 0.00005;
    default:
      return std::uniform_real_distribution<double>(0, 60)(rng);
  }
}

double PickDuration(std::mt19937& rng) {
  static const double kEdges[] = {0,
                                  1e-7,
                                  0.0000005,
                                  0.0001,
                                  0.00009999995,
                                  0.1,
                                  0.1 * (1 + 1e-12),
                                  0.0999999,
                                  600,
                                  600.0000001,
                                  599.99,
                                  36000,
                                  36000.00001,
                                  86400.5,
                                  0.00100000049,
                                  1.00000500000001};
  if (std::uniform_int_distribution<int>(0, 1)(rng)) {
    return kEdges[std::uniform_int_distribution<std::size_t>(0, std::size(kEdges) - 1)(rng)];
  }
  return std::pow(10.0, std::uniform_real_distribution<double>(-6, 5)(rng));
}

SuperpositionSpec PickSuperposition(std::mt19937& rng) {
  SuperpositionSpec s;
  s.Kind = static_cast<SuperpositionKind>(std::uniform_int_distribution<int>(0, 4)(rng));
  static const double kFrequencies[] = {1, 0.001, 1e-6, 1000, 1e9, 12.5, 0.1 + 0.2, 1e15, 3e-5};
  s.FreqStart = kFrequencies[std::uniform_int_distribution<std::size_t>(0, 8)(rng)];
  s.FreqEnd = std::uniform_real_distribution<double>(0, 5000)(rng);
  s.AmpStart = PickValue(rng);
  s.AmpEnd = std::uniform_int_distribution<int>(0, 30)(rng);
  s.DutyCycle = std::uniform_int_distribution<int>(0, 100)(rng);
  s.Phase = std::uniform_int_distribution<int>(-360, 360)(rng);
  return s;
}

SegmentTable RandomTable(std::mt19937& rng, int points) {
  SegmentTable t;
  double time = 0;
  for (int p = 0; p < points; ++p) {
    t[p].Time = time;
    t[p].Value = PickValue(rng);
    t[p].Sup1 = PickSuperposition(rng);
    t[p].Sup2 = PickSuperposition(rng);
    time += PickDuration(rng);
  }
  // A point whose time goes back shows a duration of 0.
  if (points > 3) t[2].Time = t[1].Time - 0.5;
  t.SetLastPointIndex(points - 1);
  return t;
}

}  // namespace

TEST(GridRows, CellsReadOneByOneAreTheCellsFormattedAtOnce) {
  std::mt19937 rng(20261210);
  for (int points : {0, 1, 2, 3, 5, 300}) {
    const SegmentTable table = RandomTable(rng, std::max(points, 1));
    SegmentTable shown = table;
    shown.SetLastPointIndex(std::max(points - 1, 0));
    const std::vector<GridRow> eager = TableToGrid(shown);
    const std::vector<RowSource> sources = TableSources(shown);
    const TGridRows rows(shown);
    ASSERT_EQ(rows.Count(), static_cast<int>(eager.size()));
    EXPECT_EQ(rows.RowsWithTexts(), points > 1 ? 0 : 1);
    // Rows far apart share places in the cache of rows read last: read in a scattered order,
    // then whole rows.
    std::vector<std::pair<int, int>> order;
    for (int r = 0; r < rows.Count(); ++r) {
      for (int c = 0; c < kGridColumns; ++c) order.emplace_back(r, c);
    }
    std::shuffle(order.begin(), order.end(), rng);
    for (const auto& [r, c] : order) {
      ASSERT_EQ(rows.Cell(r, c), eager[r][c]) << "row " << r << " column " << c;
    }
    for (int r = 0; r < rows.Count(); ++r) {
      ASSERT_EQ(rows.Row(r), eager[r]) << "row " << r;
      RowSource s;
      rows.SourceOf(r, s);
      ASSERT_TRUE(SameSource(s, sources[r])) << "row " << r;
    }
    EXPECT_EQ(rows.ToVector(), eager);
  }
}

TEST(GridRows, LoadedCurveKeepsNoTextsUntilARowIsEdited) {
  std::mt19937 rng(7);
  const SegmentTable table = RandomTable(rng, SegmentTable::kCapacity);
  SegmentTable monotone = table;
  for (std::int32_t p = 1; p <= monotone.LastPointIndex(); ++p) {
    monotone[p].Time = monotone[p - 1].Time + 0.01 * (p % 5 + 1);
    monotone[p].Sup1.Kind = monotone[p].Sup2.Kind = SuperpositionKind::None;
  }
  TEditorCore core;
  core.SetDocument(monotone, SegmentTable{});
  EXPECT_EQ(core.GridRows().RowsWithTexts(), 0);
  EXPECT_EQ(core.Cell(40000, kColEndValue), core.Cell(40001, kColValue));
  // The tabs of a late row sum every duration shown above it.
  EXPECT_GT(core.LoadRow(59990).StartTime, 0);
  core.SetCell(30000, kColValue, "2.5");
  EXPECT_EQ(core.Cell(29999, kColEndValue), "2.5");
  EXPECT_LE(core.GridRows().RowsWithTexts(), 3);
  EXPECT_EQ(core.Working()[30000].Value, 2.5);
}

// Random edits applied to the rows and to a plain vector of rows with their sources: both show
// the same cells, sources and durations, and convert into the same table, bit for bit.
TEST(GridRows, AgreeWithAPlainVectorUnderRandomEdits) {
  static const char* kTexts[] = {"",  "1.5", "abc",   "0.00010", "2",  "ms", "min",
                                 "0", "-1",  "1e400", "3.00005", "us", "4",  "12.75000"};
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const SegmentTable base = RandomTable(rng, std::uniform_int_distribution<int>(1, 40)(rng));
    SegmentTable start = base;
    for (std::int32_t p = 1; p <= start.LastPointIndex(); ++p) {
      start[p].Time = std::max(start[p].Time, start[p - 1].Time);
    }
    TGridRows rows(start);
    std::vector<GridRow> plain = TableToGrid(start);
    std::vector<RowSource> sources = TableSources(start);
    const auto any = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    const auto randomRow = [&] {
      GridRow row;
      for (int c = 1; c < kGridColumns; ++c) row[c] = kTexts[any(std::size(kTexts))];
      return row;
    };
    for (int step = 0; step < 300; ++step) {
      const int n = rows.Count();
      const int r = any(n);
      std::string what;
      switch (any(10)) {
        case 0: {
          const int c = any(kGridColumns);
          const std::string text = kTexts[any(std::size(kTexts))];
          rows.MutableRow(r)[c] = text;
          plain[r][c] = text;
          what = "cell";
          break;
        }
        case 1: {
          RowSource& s = rows.MutableSource(r);
          s.Value = !s.Value;
          s.Duration = any(2);
          s.Point.Value = PickValue(rng);
          sources[r] = s;
          what = "source";
          break;
        }
        case 2: {
          const GridRow row = randomRow();
          RowSource s;
          s.Value = any(2);
          s.Point.Value = PickValue(rng);
          rows.Insert(r, row, s);
          plain.insert(plain.begin() + r, row);
          sources.insert(sources.begin() + r, s);
          what = "insert";
          break;
        }
        case 3: {
          std::vector<GridRow> block(static_cast<std::size_t>(any(4) + 1));
          for (GridRow& row : block) row = randomRow();
          rows.InsertRows(r, block);
          plain.insert(plain.begin() + r, block.begin(), block.end());
          sources.insert(sources.begin() + r, block.size(), RowSource{});
          what = "insert rows";
          break;
        }
        case 4: {
          if (n < 2) break;
          const int last = std::min(n - 2, r + any(3));
          if (r > last) break;
          rows.Erase(r, last);
          plain.erase(plain.begin() + r, plain.begin() + last + 1);
          sources.erase(sources.begin() + r, sources.begin() + last + 1);
          what = "erase";
          break;
        }
        case 5: {
          const int keep = std::max(1, n - any(3));
          rows.Truncate(keep);
          plain.resize(static_cast<std::size_t>(keep));
          sources.resize(static_cast<std::size_t>(keep));
          what = "truncate";
          break;
        }
        case 6: {
          std::vector<char> keep(static_cast<std::size_t>(n));
          for (char& k : keep) k = any(4) != 0;
          keep[0] = 1;
          rows.Filter([&keep](int i) { return keep[static_cast<std::size_t>(i)] != 0; });
          std::size_t kept = 0;
          for (std::size_t i = 0; i < keep.size(); ++i) {
            if (!keep[i]) continue;
            plain[kept] = plain[i];
            sources[kept] = sources[i];
            ++kept;
          }
          plain.resize(kept);
          sources.resize(kept);
          what = "filter";
          break;
        }
        case 7: {
          SegmentTable a = base, b = base;
          const int last = std::min(n - 1, r + any(4));
          const bool ranged = GridRangeToTable(rows, a, r, last);
          ASSERT_EQ(ranged, GridRangeToTable(plain, b, r, last, &sources)) << "seed " << seed;
          if (ranged) {
            for (int p = r; p <= last; ++p) ASSERT_TRUE(a[p] == b[p]) << "seed " << seed;
          }
          what = "range to table";
          break;
        }
        case 8: {
          SegmentTable a = base, b = base;
          ASSERT_EQ(GridToTable(rows, a), GridToTable(plain, b, &sources)) << "seed " << seed;
          ASSERT_TRUE(a.SameCurve(b)) << "seed " << seed;
          what = "to table";
          break;
        }
        default: {
          const GridRow row = randomRow();
          rows.Append(row);
          plain.push_back(row);
          sources.emplace_back();
          what = "append";
          break;
        }
      }
      ASSERT_EQ(rows.Count(), static_cast<int>(plain.size())) << "seed " << seed << " " << what;
      for (int i = 0; i < rows.Count(); ++i) {
        for (int c = 0; c < kGridColumns; ++c) {
          ASSERT_EQ(rows.Cell(i, c), plain[i][c])
              << "seed " << seed << " step " << step << " after " << what << ": row " << i;
        }
        RowSource s;
        rows.SourceOf(i, s);
        ASSERT_TRUE(SameSource(s, sources[i])) << "seed " << seed << " " << what << " row " << i;
        double d = 0, seconds = 0;
        const bool reads = TryParseNumber(plain[i][kColDuration], d);
        ASSERT_EQ(rows.ShownSeconds(i, seconds), reads) << "seed " << seed << " row " << i;
        if (reads) {
          ASSERT_TRUE(SameBits(seconds, d * UnitSeconds(plain[i][kColUnit])))
              << "seed " << seed << " row " << i;
        }
      }
    }
  }
}
