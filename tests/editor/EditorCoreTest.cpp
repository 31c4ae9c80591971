// Edits as operations of the core: grid cells, rows, clipboard, tabs and the commit rules.
#include <gtest/gtest.h>

#include "CurveHelpers.h"
#include "editor/core/EditorCore.h"

using namespace ondrevo;

namespace {

constexpr auto Ramp = &test::CurveThrough;

struct Fixture : ::testing::Test {
  TEditorCore core;
  std::vector<std::string> messages;
  int steps = 0, curveChanges = 0;
  void SetUp() override {
    core.OnMessage = [this](const std::string& m) { messages.push_back(m); };
    core.RecordStep = [this] { ++steps; };
    core.AddListener([this](const EditorChange& c) { curveChanges += c.Curve ? 1 : 0; });
  }
  const SegmentTable& W() { return core.Working(); }
};

using CoreGrid = Fixture;
using CoreClipboard = Fixture;
using CoreTabs = Fixture;
using CoreRules = Fixture;

}  // namespace

TEST_F(CoreGrid, TypingCellsBuildsTheCurve) {
  core.SetCell(0, kColValue, "1");
  EXPECT_EQ(W().LastPointIndex(), 0);
  core.SetCell(0, kColDuration, "2");
  EXPECT_EQ(core.Cell(0, kColUnit), "s");  // a duration gets seconds
  core.SetCell(0, kColUnit, "m");
  EXPECT_EQ(core.Cell(0, kColUnit), "s");  // a lone "m" is seconds
  core.SetCell(0, kColEndValue, "3");      // the end value makes the next point
  ASSERT_EQ(core.RowCount(), 2);
  EXPECT_EQ(W().LastPointIndex(), 1);
  EXPECT_DOUBLE_EQ(W()[1].Time, 2);
  EXPECT_DOUBLE_EQ(W()[1].Value, 3);
  EXPECT_EQ(core.Doc().Voltage.LastPointIndex(), 1);  // the active table follows
  core.SetCell(1, kColDuration, "500");
  core.SetCell(1, kColUnit, "ms");
  core.SetCell(1, kColEndValue, "4");
  EXPECT_DOUBLE_EQ(W()[2].Time, 2.5);
  // The end value and the next row's value are one.
  core.SetCell(0, kColEndValue, "7");
  EXPECT_EQ(core.Cell(1, kColValue), "7");
  EXPECT_DOUBLE_EQ(W()[1].Value, 7);
  core.SetCell(1, kColValue, "");  // an emptied value is 0
  EXPECT_EQ(core.Cell(0, kColEndValue), "0");
  core.SetCell(1, kColValue, "-3");  // refused
  EXPECT_DOUBLE_EQ(W()[1].Value, 0);
  EXPECT_GT(steps, 0);
  EXPECT_GT(curveChanges, 0);
}

TEST_F(CoreGrid, RowsInsertAppendAndDelete) {
  core.SetActiveCurve(Ramp({{0, 1}, {1, 2}, {3, 5}}));
  const int before = steps;
  core.DeleteRow(0);  // Shift+Delete on row 1 does nothing
  EXPECT_EQ(core.RowCount(), 3);
  EXPECT_EQ(steps, before);
  core.AppendRow();
  EXPECT_EQ(core.RowCount(), 4);
  EXPECT_EQ(core.Cell(3, kColValue), "5.0000");
  EXPECT_EQ(W().LastPointIndex(), 2);  // no duration yet: no point
  core.InsertRow(1);                   // inside the curve: a zero-length copy of point 1
  EXPECT_EQ(core.Cell(1, kColValue), "2.0000");
  EXPECT_EQ(W().LastPointIndex(), 3);
  EXPECT_EQ(W()[1].Time, W()[2].Time);
  core.SetActiveCurve(Ramp({{0, 1}, {1, 2}, {3, 5}}));
  core.DeleteRow(1);
  EXPECT_EQ(W().LastPointIndex(), 1);
  EXPECT_DOUBLE_EQ(W()[1].Value, 5);
  EXPECT_EQ(core.Cell(0, kColEndValue), "5.0000");
  core.DeleteRow(1);  // only row 1 left: the curve is empty
  EXPECT_EQ(core.RowCount(), 1);
  EXPECT_EQ(W().LastPointIndex(), 0);
  EXPECT_EQ(core.Cell(0, kColValue), "");
}

TEST_F(CoreGrid, HidingTheTableDropsEmptyRows) {
  core.SetActiveCurve(Ramp({{0, 1}, {1, 2}, {3, 5}}));
  core.AppendRow();
  core.InsertRow(3);  // behind the curve an inserted row is empty
  EXPECT_EQ(core.Cell(3, kColValue), "");
  core.DropEmptyRows();
  EXPECT_EQ(core.RowCount(), 4);  // the appended row holds a value
  EXPECT_EQ(W().LastPointIndex(), 2);
  EXPECT_DOUBLE_EQ(W()[2].Time, 3);
}

TEST_F(CoreGrid, DeleteKeyClearsASuperposition) {
  SegmentTable t = Ramp({{0, 1}, {1, 2}});
  t[0].Sup1.Kind = SuperpositionKind::Sine;
  t[0].Sup2.Kind = SuperpositionKind::Square;
  core.SetActiveCurve(t);
  core.ClearSuperposition(0, 1);
  EXPECT_EQ(W()[0].Sup1.Kind, SuperpositionKind::Sine);
  EXPECT_EQ(W()[0].Sup2.Kind, SuperpositionKind::None);
  core.ClearSuperposition(0, 0);
  EXPECT_EQ(W()[0].Sup1.Kind, SuperpositionKind::None);
  EXPECT_EQ(core.Cell(0, kColSup1Name), "");
}

TEST_F(CoreClipboard, PasteTwentyRowsWithTheirSuperpositions) {
  SegmentTable t;
  for (int i = 0; i < 20; ++i) {
    t[i].Time = i * 0.5;
    t[i].Value = i;
    t[i].Sup1 = {SuperpositionKind::Square, 10.0 + i, 20, 1, 0.5, 30, 90};
    t[i].Sup2 = {SuperpositionKind::Sine, 100, 200, 0.25, 0.25, 50, 0};
  }
  t.SetLastPointIndex(19);
  TEditorCore source;
  source.SetActiveCurve(t);
  const std::string text = source.Copy(0, 19);

  ASSERT_TRUE(core.Paste(0, text));
  // 20 rows pasted before the empty one: its value is missing, so 20 points.
  EXPECT_EQ(W().LastPointIndex(), 19);
  for (int i = 0; i < 19; ++i) {
    EXPECT_EQ(W()[i].Sup1, t[i].Sup1) << i;
    EXPECT_EQ(W()[i].Sup2, t[i].Sup2) << i;
    EXPECT_DOUBLE_EQ(W()[i].Time, t[i].Time);
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(CoreClipboard, RefusedTextChangesNothing) {
  core.SetActiveCurve(Ramp({{0, 1}, {1, 2}}));
  const auto rows = core.Rows();
  const SegmentTable before = W();
  const int stepsBefore = steps;
  EXPECT_FALSE(core.Paste(0, "1\t2\ts\t3\nnot a number\t1\n"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Line 2"), std::string::npos);
  std::string many;
  for (int i = 0; i < 60001; ++i) many += "1\t1\ts\t1\n";
  EXPECT_FALSE(core.Paste(0, many));
  EXPECT_EQ(messages.size(), 2u);
  // Fits alone, not together with the rows already there.
  many.erase(0, 2 * 8);
  EXPECT_FALSE(core.Paste(0, many));
  EXPECT_EQ(core.Rows(), rows);
  EXPECT_TRUE(W().SameCurve(before));
  EXPECT_EQ(steps, stepsBefore);
}

TEST_F(CoreClipboard, CopyPasteOnRowOneInsertsBefore) {
  SegmentTable t = Ramp({{0, 1}, {2, 3}, {3, 3}});
  t[0].Sup1 = {SuperpositionKind::Triangle, 4, 4, 1, 1, 50, 0};
  core.SetActiveCurve(t);
  ASSERT_TRUE(core.Paste(0, core.Copy(0, 0)));
  EXPECT_EQ(W().LastPointIndex(), 3);
  EXPECT_DOUBLE_EQ(W()[1].Time, 2);
  EXPECT_DOUBLE_EQ(W()[2].Time, 4);
  EXPECT_EQ(W()[0].Sup1.Kind, SuperpositionKind::Triangle);
  EXPECT_EQ(W()[1].Sup1.Kind, SuperpositionKind::Triangle);
}

TEST_F(CoreClipboard, CutAllButTheLastEmptiesTheCurve) {
  core.SetActiveCurve(Ramp({{0, 1}, {2, 3}, {3, 3}}));
  const int before = steps;
  core.Cut(0, 2);  // the last row is left out
  EXPECT_EQ(core.RowCount(), 1);
  EXPECT_EQ(W().LastPointIndex(), 0);
  EXPECT_EQ(core.Doc().Voltage.LastPointIndex(), 0);
  EXPECT_EQ(steps, before + 1);
  core.SetActiveCurve(Ramp({{0, 1}, {2, 3}, {3, 4}}));
  core.Cut(1, 1);
  EXPECT_EQ(W().LastPointIndex(), 1);
  EXPECT_DOUBLE_EQ(W()[1].Value, 4);
}

TEST_F(CoreTabs, LoadAndApplyTimes) {
  core.SetActiveCurve(Ramp({{0, 0}, {2, 1}, {5, 2}, {7, 3}}));
  TabValues tabs = core.LoadRow(1);
  EXPECT_DOUBLE_EQ(tabs.StartTime, 2);
  EXPECT_DOUBLE_EQ(tabs.EndTime, 5);
  EXPECT_EQ(tabs.TimeUnit, "s");
  EXPECT_DOUBLE_EQ(tabs.StartValue, 1);
  EXPECT_DOUBLE_EQ(tabs.EndValue, 2);
  tabs.EndTime = 6;  // every later point moves
  EXPECT_EQ(core.ApplyTabs(1, tabs), ApplyResult::Applied);
  EXPECT_DOUBLE_EQ(W()[2].Time, 6);
  EXPECT_DOUBLE_EQ(W()[3].Time, 8);
  tabs = core.LoadRow(1);
  tabs.StartTime = 3;
  tabs.EndTime = 5;  // start 2 -> 3: the start point stays, the segment lasts 2 s
  core.ApplyTabs(1, tabs);
  EXPECT_DOUBLE_EQ(W()[1].Time, 2);
  EXPECT_DOUBLE_EQ(W()[2].Time, 4);
  tabs = core.LoadRow(1);
  tabs.StartValue = 9;
  tabs.EndValue = 8.5;
  core.ApplyTabs(1, tabs);
  EXPECT_DOUBLE_EQ(W()[1].Value, 9);
  EXPECT_DOUBLE_EQ(W()[2].Value, 8.5);
  EXPECT_EQ(core.Cell(0, kColEndValue), "9.0000");

  core.SetActiveCurve(Ramp({{0, 0}, {0.05, 1}}));
  EXPECT_EQ(core.LoadRow(0).TimeUnit, "ms");
  EXPECT_DOUBLE_EQ(core.LoadRow(0).EndTime, 50);
  EXPECT_EQ(core.ApplyTabs(1, core.LoadRow(1)), ApplyResult::NothingToApply);  // last row
}

TEST_F(CoreTabs, SuperpositionsAndTheMemoryCheck) {
  core.SetActiveCurve(Ramp({{0, 0}, {10, 1}, {10, 2}}));
  TabValues tabs = core.LoadRow(0);
  tabs.Sup[0] = {SuperpositionKind::Sine, 10, 10, kHertz, 2, 2, 50, 0};
  EXPECT_EQ(core.ApplyTabs(0, tabs), ApplyResult::Applied);
  EXPECT_EQ(W()[0].Sup1.Kind, SuperpositionKind::Sine);
  EXPECT_DOUBLE_EQ(W()[0].Sup1.FreqEnd, 10);
  EXPECT_EQ(core.Cell(0, kColSup1Name), "Sine");

  const SegmentTable accepted = W();
  tabs.Sup[0].FreqEnd = 10.1;
  EXPECT_EQ(core.ApplyTabs(0, tabs), ApplyResult::Refused);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("first superposition"), std::string::npos);
  EXPECT_TRUE(W().SameCurve(accepted));
  core.SetLimits(WithDaqOverrides({}), 12000, 12000);  // the card takes any count
  EXPECT_EQ(core.ApplyTabs(0, tabs), ApplyResult::Applied);
  EXPECT_DOUBLE_EQ(W()[0].Sup1.FreqEnd, 10.1);

  // kHz are stored in Hz; the second superposition with its own kind.
  tabs.Sup[1] = {SuperpositionKind::Square, 1.5, 2.5, kKiloHertz, 0.5, 0.5, 20, 45};
  core.ApplyTabs(0, tabs);
  EXPECT_DOUBLE_EQ(W()[0].Sup2.FreqStart, 1500);
  EXPECT_EQ(W()[0].Sup2.DutyCycle, 20);
  EXPECT_EQ(core.Cell(0, kColSup2Name), "Square");
  // None on the first tab clears both.
  tabs.Sup[0].Kind = SuperpositionKind::None;
  core.ApplyTabs(0, tabs);
  EXPECT_EQ(W()[0].Sup1.Kind, SuperpositionKind::None);
  EXPECT_EQ(W()[0].Sup2.Kind, SuperpositionKind::None);
  EXPECT_EQ(core.Cell(0, kColSup2Name), "");

  // A zero-duration segment switches the first superposition off, with the message.
  messages.clear();
  tabs = core.LoadRow(1);
  tabs.Sup[0] = {SuperpositionKind::Sine, 1, 1, kHertz, 1, 1, 50, 0};
  EXPECT_EQ(core.ApplyTabs(1, tabs), ApplyResult::Applied);
  EXPECT_EQ(W()[1].Sup1.Kind, SuperpositionKind::None);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "The duration should be greater than 0.");
}

TEST_F(CoreTabs, ArrowsSuppressRecording) {
  core.SetActiveCurve(Ramp({{0, 0}, {1, 1}}));
  const int before = steps;
  core.SuppressRecording = true;
  TabValues tabs = core.LoadRow(0);
  for (int i = 0; i < 10; ++i) {
    tabs.EndValue += 1;
    core.ApplyTabs(0, tabs);
  }
  EXPECT_DOUBLE_EQ(W()[1].Value, 11);
  EXPECT_EQ(steps, before);
  core.SuppressRecording = false;
  core.ApplyTabs(0, tabs);
  EXPECT_EQ(steps, before + 1);
}

TEST_F(CoreRules, CommitNeverKeepsWhatCannotBeShown) {
  // Time going back: the curve ends before it, and the user is told.
  core.SetActiveCurve(Ramp({{0, 1}, {2, 2}, {1, 3}, {4, 4}}));
  EXPECT_EQ(W().LastPointIndex(), 1);
  EXPECT_EQ(core.Doc().Voltage.LastPointIndex(), 1);
  EXPECT_EQ(core.RowCount(), 2);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("point 2"), std::string::npos);

  // 51 superposed segments: the 51st loses its superpositions at the commit, with a message.
  SegmentTable t;
  for (int i = 0; i <= 51; ++i) t[i].Time = i;
  t.SetLastPointIndex(51);
  for (int i = 0; i < 51; ++i) t[i].Sup1.Kind = SuperpositionKind::Sine;
  messages.clear();
  core.SetActiveCurve(t);
  EXPECT_EQ(W()[49].Sup1.Kind, SuperpositionKind::Sine);
  EXPECT_EQ(W()[50].Sup1.Kind, SuperpositionKind::None);
  EXPECT_EQ(core.Cell(50, kColSup1Name), "");
  EXPECT_EQ(messages.size(), 1u);
  // The other curve's superpositions count too.
  core.SwitchQuantity(Quantity::Current);
  TabValues tabs;
  core.SetActiveCurve(Ramp({{0, 0}, {1, 1}}));
  tabs = core.LoadRow(0);
  tabs.Sup[0].Kind = SuperpositionKind::Sine;
  EXPECT_EQ(core.ApplyTabs(0, tabs), ApplyResult::NoSlot);
  EXPECT_EQ(W()[0].Sup1.Kind, SuperpositionKind::None);

  // A loaded document gets the same rules, both curves together.
  messages.clear();
  core.SetDocument(t, t);
  EXPECT_EQ(core.SuperposedSegments(), 50);
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(CoreGrid, ValueEditsMatchAFullConversion) {
  SegmentTable t = Ramp({{0, 1}, {0.5, 2}, {1.25, 3}, {4, 4}, {4, 5}});
  t[1].Sup1 = {SuperpositionKind::Sawtooth, 3, 4, 1, 1, 50, 0};
  core.SetActiveCurve(t);
  core.SetCell(1, kColValue, "7.5");
  core.SetCell(2, kColEndValue, "0.25");
  core.SetCell(4, kColValue, "9");  // the last point
  std::vector<GridRow> rows = core.Rows();
  SegmentTable full;
  GridToTable(rows, full);
  EXPECT_TRUE(W().SameCurve(full));
  EXPECT_TRUE(core.Doc().Voltage.SameCurve(full));
  EXPECT_DOUBLE_EQ(W()[3].Value, 0.25);
  EXPECT_DOUBLE_EQ(W()[4].Value, 9);
  // An inserted row is a zero-length copy of its point: the curve stays whole while it is
  // filled in, and a later value edit still converts it all.
  core.SetCell(2, kColDuration, "1");
  core.InsertRow(2);
  EXPECT_EQ(W().LastPointIndex(), 5);
  EXPECT_EQ(W()[2].Time, W()[3].Time);
  EXPECT_EQ(W()[2].Value, W()[3].Value);
  EXPECT_EQ(W()[2].Sup1.Kind, SuperpositionKind::None);
  core.SetCell(0, kColValue, "2");
  core.SetCell(2, kColValue, "6");
  EXPECT_DOUBLE_EQ(W()[2].Value, 6);
  core.SetCell(2, kColDuration, "1");
  EXPECT_EQ(W().LastPointIndex(), 5);
  rows = core.Rows();
  GridToTable(rows, full);
  EXPECT_TRUE(W().SameCurve(full));
}

TEST_F(CoreGrid, EnterMovesOnAndOpensTheNextPoint) {
  core.SetCell(0, kColValue, "1");
  using Cell = std::pair<int, int>;
  EXPECT_EQ(core.EnterTarget(0, kColValue), Cell(0, kColDuration));
  EXPECT_EQ(core.EnterTarget(0, kColUnit), Cell(0, kColEndValue));
  // Column 4 of the last row without a duration stays.
  EXPECT_EQ(core.EnterTarget(0, kColEndValue), Cell(0, kColEndValue));
  EXPECT_EQ(core.RowCount(), 1);
  // With a duration but no end value typed: an empty row for the next point.
  core.SetCell(0, kColDuration, "2");
  EXPECT_EQ(core.EnterTarget(0, kColEndValue), Cell(1, kColValue));
  ASSERT_EQ(core.RowCount(), 2);
  EXPECT_EQ(core.Cell(1, kColValue), "");
  EXPECT_EQ(W().LastPointIndex(), 0);  // nothing to convert yet
  // Its value, once typed, makes the point and fills the end value above.
  core.SetCell(1, kColValue, "4");
  EXPECT_EQ(W().LastPointIndex(), 1);
  EXPECT_DOUBLE_EQ(W()[1].Time, 2);
  EXPECT_EQ(core.Cell(0, kColEndValue), "4");
  // Column 4 of a row that is not the last goes to the next row; the name columns stay.
  EXPECT_EQ(core.EnterTarget(0, kColEndValue), Cell(1, kColValue));
  EXPECT_EQ(core.EnterTarget(0, kColSup1Name), Cell(0, kColSup1Name));
  EXPECT_EQ(core.RowCount(), 2);
}
