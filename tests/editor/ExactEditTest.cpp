// Units typed with numbers, and edits that leave every point they do not address bit for bit.
#include <gtest/gtest.h>

#include <cstring>

#include "CurveHelpers.h"
#include "editor/core/EditorCore.h"

using namespace ondrevo;

namespace {

constexpr auto Ramp = &test::CurveThrough;

bool Bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// More digits than the grid shows.
SegmentTable Fine() {
  SegmentTable t =
      Ramp({{0, 1.23456789}, {2.123456789, 6.3456789}, {5.5, 3.14159265}, {7.0000001, 4.44444444}});
  t[1].Sup1 = {SuperpositionKind::Sine, 2.3456789123, 1.7777777, 0.333333333, 1, 50, 0};
  return t;
}

struct Exact : ::testing::Test {
  TEditorCore core;
  std::vector<std::string> messages;
  void SetUp() override {
    core.OnMessage = [this](const std::string& m) { messages.push_back(m); };
  }
  const SegmentTable& W() { return core.Working(); }
  // Every point but `changed` as in `before`, bit for bit.
  ::testing::AssertionResult Kept(const SegmentTable& before, std::initializer_list<int> changed) {
    if (before.LastPointIndex() != W().LastPointIndex()) {
      return ::testing::AssertionFailure() << "N " << W().LastPointIndex();
    }
    for (std::int32_t i = 0; i <= before.LastPointIndex(); ++i) {
      if (std::find(changed.begin(), changed.end(), i) != changed.end()) continue;
      if (!Bits(before[i].Time, W()[i].Time) || !Bits(before[i].Value, W()[i].Value) ||
          !(before[i].Sup1 == W()[i].Sup1)) {
        return ::testing::AssertionFailure() << "point " << i;
      }
    }
    return ::testing::AssertionSuccess();
  }
};

}  // namespace

TEST(TypedNumbers, UnitsOfEachKind) {
  struct Case {
    const char* Text;
    UnitKind Kind;
    double Base;
    const char* Unit;
  };
  const Case cases[] = {
      {"5 ms", UnitKind::Time, 0.005, "ms"},
      {"5ms", UnitKind::Time, 0.005, "ms"},
      {"2 min", UnitKind::Time, 120, "min"},
      {"1.5h", UnitKind::Time, 5400, "h"},
      {"3 us", UnitKind::Time, 3e-6, "us"},
      {"3 \u00b5s", UnitKind::Time, 3e-6, "us"},
      {"7", UnitKind::Time, 7, ""},
      {" 0,5 s ", UnitKind::Time, 0.5, "s"},
      {"500 mV", UnitKind::Voltage, 0.5, "mV"},
      {"12V", UnitKind::Voltage, 12, "V"},
      {"250mA", UnitKind::Current, 0.25, "mA"},
      {"2 kHz", UnitKind::Frequency, 2000, "kHz"},
      {"50 Hz", UnitKind::Frequency, 50, "Hz"},
  };
  for (const Case& c : cases) {
    const TypedNumber t = ParseTypedNumber(c.Text, c.Kind);
    ASSERT_TRUE(t.Ok()) << c.Text << ": " << t.Error;
    EXPECT_EQ(BaseValue(t), c.Base) << c.Text;
    EXPECT_EQ(t.Unit, c.Unit) << c.Text;
  }
  // Units of another kind and anything else are refused, naming what was typed.
  for (auto [text, kind] : {std::pair{"5 V", UnitKind::Time},
                            {"5 mA", UnitKind::Voltage},
                            {"5 xs", UnitKind::Time},
                            {"abc", UnitKind::Time},
                            {"1..2", UnitKind::Voltage},
                            {"ms", UnitKind::Time},
                            {"5 MHz", UnitKind::Frequency},
                            {"1e999", UnitKind::Voltage}}) {
    const TypedNumber t = ParseTypedNumber(text, kind);
    EXPECT_FALSE(t.Ok()) << text;
    EXPECT_NE(t.Error.find(text), std::string::npos) << t.Error;
  }
}

TEST(TypedNumbers, KeysKeepAUnitBehindTheNumber) {
  std::string text;
  for (char k : std::string("5 ms")) text = ValueKey(text, k).value_or(text);
  EXPECT_EQ(text, "5 ms");
  EXPECT_FALSE(ValueKey("5 m", '3'));           // digits end with the unit
  EXPECT_FALSE(ValueKey("", 'm'));              // a unit needs a number
  EXPECT_FALSE(ValueKey("5", 'e'));             // no exponent
  EXPECT_EQ(ValueKey("5 \u00b5", '\b'), "5 ");  // the micro sign goes as one
}

TEST_F(Exact, TypedUnitsSetTheUnitColumn) {
  core.SetActiveCurve(Fine());
  const SegmentTable before = W();
  core.SetCell(0, kColDuration, "5 ms");
  EXPECT_EQ(core.Cell(0, kColDuration), "5");
  EXPECT_EQ(core.Cell(0, kColUnit), "ms");
  EXPECT_EQ(W()[1].Time, 0.005);
  core.SetCell(1, kColValue, "500 mV");
  EXPECT_EQ(W()[1].Value, 0.5);
  EXPECT_TRUE(messages.empty());
  // Refused: a message, nothing changed.
  const SegmentTable typed = W();
  for (const char* text : {"5 V", "5 xs", "-3", "abc"}) core.SetCell(2, kColDuration, text);
  core.SetCell(1, kColValue, "3 A");
  EXPECT_EQ(messages.size(), 5u);
  EXPECT_TRUE(Kept(typed, {}));
  (void)before;
}

TEST_F(Exact, EmptiedCellsNeverCutTheCurve) {
  core.SetActiveCurve(Fine());
  const SegmentTable before = W();
  core.SetCell(0, kColEndValue, "");
  core.SetCell(1, kColDuration, "");
  EXPECT_TRUE(Kept(before, {}));
  EXPECT_EQ(core.Cell(1, kColValue), core.Cell(0, kColEndValue));
  EXPECT_FALSE(core.Cell(1, kColDuration).empty());
  core.SetCell(2, kColValue, "");  // an emptied value is 0
  EXPECT_EQ(W()[2].Value, 0);
  EXPECT_TRUE(Kept(before, {2}));
}

TEST_F(Exact, PasteLandsWholeOrIsRefused) {
  core.SetActiveCurve(Fine());
  const SegmentTable before = W();
  const std::string last = core.Copy(3, 3);  // the last row has no duration
  EXPECT_FALSE(core.Paste(1, last));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("Line 1"), std::string::npos);
  EXPECT_TRUE(Kept(before, {}));
  EXPECT_EQ(core.RowCount(), 4);
  // Two rows with durations: every old point is still there, later ones moved on.
  EXPECT_TRUE(core.Paste(1, core.Copy(0, 1)));
  ASSERT_EQ(W().LastPointIndex(), 5);
  EXPECT_TRUE(Bits(W()[0].Value, before[0].Value));
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(Bits(W()[i + 2].Value, before[i].Value));
  EXPECT_EQ(W()[3].Sup1, before[1].Sup1);
}

TEST_F(Exact, EditsChangeOnlyWhatTheyAddress) {
  core.SetActiveCurve(Fine());
  const SegmentTable before = W();
  core.SetCell(1, kColValue, "7");
  EXPECT_TRUE(Kept(before, {1}));
  // A plot edit's table is taken as drawn.
  SegmentTable drawn = W();
  drawn[2].Value = 9.87654321;
  core.CommitPlotEdit(drawn, {1, 2});
  EXPECT_TRUE(Bits(W()[2].Value, 9.87654321));
  EXPECT_TRUE(Kept(drawn, {}));
  // Tabs: only the edited fields apply, exactly as given.
  const SegmentTable now = W();
  TabValues tabs = core.LoadRow(1);
  tabs.StartValue = 2.718281828;
  tabs.EndValue = 0;  // not edited: stays
  tabs.Edited = kFieldStartValue;
  EXPECT_EQ(core.ApplyTabs(1, tabs), ApplyResult::Applied);
  EXPECT_TRUE(Bits(W()[1].Value, 2.718281828));
  EXPECT_TRUE(Kept(now, {1}));
  tabs = core.LoadRow(1);
  tabs.Edited = 0;
  core.ApplyTabs(1, tabs);
  EXPECT_TRUE(Bits(W()[1].Value, 2.718281828));
  EXPECT_EQ(W()[1].Sup1, now[1].Sup1);
  // A new end time moves the later points by the same span, keeping their spacing.
  tabs.EndTime = tabs.StartTime + 1;
  tabs.Edited = kFieldEndTime;
  core.ApplyTabs(1, tabs);
  EXPECT_EQ(W()[2].Time, tabs.EndTime);  // the typed end time, exactly
  EXPECT_NEAR(W()[3].Time - W()[2].Time, now[3].Time - now[2].Time, 1e-12);
  EXPECT_TRUE(Bits(W()[3].Value, now[3].Value));
}

TEST_F(Exact, InsertKeepsTheCurveWhole) {
  core.SetActiveCurve(Fine());
  const SegmentTable before = W();
  core.InsertRow(2);
  ASSERT_EQ(W().LastPointIndex(), 4);
  for (int i = 0; i <= 4; ++i) {
    const SegmentRow& old = before[i <= 2 ? i : i - 1];
    EXPECT_TRUE(Bits(W()[i].Time, old.Time) && Bits(W()[i].Value, old.Value)) << i;
  }
  EXPECT_EQ(W()[2].Sup1.Kind, SuperpositionKind::None);
}

TEST_F(Exact, AStretchNeverMakesAnUnstorableFrequency) {
  SegmentTable t = Fine();
  t[1].Sup1.FreqStart = 4e8;
  core.SetActiveCurve(t);
  const SegmentTable before = W();
  core.Stretch(0.1);  // 4 GHz could not be saved
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(Kept(before, {}));
  core.Stretch(0.5);
  EXPECT_EQ(W()[1].Sup1.FreqStart, 8e8);
  EXPECT_EQ(W()[3].Time, before[3].Time * 0.5);
}
