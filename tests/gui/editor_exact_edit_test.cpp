// Edits through real keys and mouse change only what they address: the tabs follow the curve on
// screen, emptied cells and pastes never cut the curve, a mouse edit leaves every other point's
// bits alone, and numbers are taken with the units they were typed with.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <algorithm>
#include <cstring>

#include "editor/GraphForm.h"
#include "editor/PlotMouse.h"
#include "editor_fakes.h"
#include "editor_grid_driver.h"
#include "plot/Plot.h"

using namespace ondrevo;

namespace {

// Points with more digits than the grid shows: any re-reading of display text shows in them.
SegmentTable Fine() {
  SegmentTable t =
      Ramp({{0, 1.23456789}, {2.123456789, 6.3456789}, {5.5, 3.14159265}, {7.0000001, 4.44444444}});
  return t;
}

bool SameBits(const SegmentRow& a, const SegmentRow& b) {
  return std::memcmp(&a.Time, &b.Time, sizeof(double)) == 0 &&
         std::memcmp(&a.Value, &b.Value, sizeof(double)) == 0 && a.Sup1 == b.Sup1 &&
         a.Sup2 == b.Sup2;
}

}  // namespace

class EditorExactEditTest : public QObject, TEditorGridDriver {
  Q_OBJECT

  QTemporaryDir dir_;
  std::shared_ptr<TScriptedDialogs> dialogs_;

  TGraphForm* Make() {
    TGraphFormSettings s;
    s.SettingsFolder = dir_.path();
    form_ = std::make_unique<TGraphForm>(s);
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->resize(1100, 650);
    form_->show();
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_.get())) qWarning("editor window not active");
    form_->New();
    return form_.get();
  }
  QDoubleSpinBox* Spin(const char* name) { return Find<QDoubleSpinBox>(name); }
  void Enter() { QTest::keyClick(Grid(), Qt::Key_Return); }
  void Backspace(int n) {
    for (int i = 0; i < n; ++i) QTest::keyClick(Grid(), Qt::Key_Backspace);
  }
  QToolButton* Button(QAction* a) {
    auto* bar = form_->findChild<QToolBar*>("ToolBarDefault");
    return qobject_cast<QToolButton*>(bar->widgetForAction(a));
  }
  // Clicks into a spin field, types over it and presses Enter.
  void TypeSpin(const char* name, const char* text) {
    QDoubleSpinBox* spin = Spin(name);
    QTest::mouseClick(spin, Qt::LeftButton);
    spin->selectAll();
    QTest::keyClicks(spin, text);
    QTest::keyClick(spin, Qt::Key_Return);
  }
  void SetCurves(const SegmentTable& u, const SegmentTable& i) {
    form_->SwitchQuantity(Quantity::Current);
    form_->SetActiveCurve(i);
    form_->SwitchQuantity(Quantity::Voltage);
    form_->SetActiveCurve(u);
    form_->RebuildGrid();
  }
  // A document with more digits than the grid shows, as a file or undo brings it.
  void Load(const SegmentTable& u) {
    form_->Core().SetDocument(u, SegmentTable{});
    if (!form_->TableChecked()) form_->Act().Table->trigger();
    form_->RebuildGrid();
  }
  // Rows except `changed` hold the same bits as in `before`.
  static bool OthersKept(const SegmentTable& before, const SegmentTable& after,
                         std::initializer_list<int> changed) {
    if (before.LastPointIndex() != after.LastPointIndex()) return false;
    for (std::int32_t i = 0; i <= before.LastPointIndex(); ++i) {
      if (std::find(changed.begin(), changed.end(), i) != changed.end()) continue;
      if (!SameBits(before[i], after[i])) return false;
    }
    return true;
  }

 private slots:
  void init() { QFile::remove(dir_.filePath("Ondrevo.cfg")); }
  void cleanup() { form_.reset(); }

  // After a switch of curve the tabs show the voltage curve's segment, and Enter in Start
  // changes the start alone.
  void tabsFollowACurveSwitch() {
    Make();
    SetCurves(Ramp({{0, 12}, {1, 13.5}, {2, 13.5}}), Ramp({{0, 1}, {1, 2}, {3, 2}}));
    QTest::mouseClick(Button(form_->Act().Current), Qt::LeftButton);
    Go(0, 1);
    QCOMPARE(Spin("YeditR")->value(), 2.0);
    QTest::mouseClick(Button(form_->Act().Voltage), Qt::LeftButton);
    QCOMPARE(Spin("YeditL")->value(), 12.0);
    QCOMPARE(Spin("YeditR")->value(), 13.5);
    const SegmentTable before = form_->Doc().Voltage;
    TypeSpin("YeditL", "0.5");
    QCOMPARE(form_->Doc().Voltage[0].Value, 0.5);
    QVERIFY(OthersKept(before, form_->Doc().Voltage, {0}));
    QVERIFY(OthersKept(Ramp({{0, 1}, {1, 2}, {3, 2}}), form_->Doc().Current, {}));
  }

  // A stretch resets the selection: grid and tabs follow it instead of keeping the old row.
  void tabsFollowAStretch() {
    Make();
    SetCurves(Ramp({{0, 1}, {2, 5}, {3, 7}}), SegmentTable{});
    Go(1, 1);
    QCOMPARE(Spin("YeditL")->value(), 5.0);
    QTest::keyClick(Find<QComboBox>("ComboBox1"), Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(form_->Doc().Voltage[2].Time, 6.0);
    QCOMPARE(Grid()->currentIndex().row(), form_->Core().SelectedRow());
    const int row = form_->Core().SelectedRow();
    QCOMPARE(Spin("YeditL")->value(), form_->Doc().Voltage[row].Value);
    QCOMPARE(Spin("XeditR")->value(), form_->Doc().Voltage[row + 1].Time);
    const SegmentTable before = form_->Doc().Voltage;
    TypeSpin("YeditL", "0.5");
    QCOMPARE(form_->Doc().Voltage[row].Value, 0.5);
    QVERIFY(OthersKept(before, form_->Doc().Voltage, {row}));
  }

  // Leaving a spin field that was not edited applies nothing, not even its rounded display.
  void leavingAnUneditedFieldAppliesNothing() {
    Make();
    Load(Fine());
    Go(1, 1);
    const SegmentTable before = form_->Doc().Voltage;
    for (const char* name : {"YeditL", "YeditR", "XeditR"}) {
      QTest::mouseClick(Spin(name), Qt::LeftButton);
      QTRY_VERIFY(Spin(name)->hasFocus());
      Go(1, 1);
      QVERIFY2(OthersKept(before, form_->Doc().Voltage, {}), name);
    }
  }

  // Backspacing an end value to nothing and leaving the cell keeps the curve whole.
  void emptiedEndValueKeepsTheCurve() {
    Make();
    Load(Fine());
    const SegmentTable before = form_->Doc().Voltage;
    Go(0, 4);
    Backspace(8);
    Go(2, 1);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 3);
    QVERIFY(OthersKept(before, form_->Doc().Voltage, {}));
    QCOMPARE(Cell(1, 1), Cell(0, 4));
    QCOMPARE(Grid()->model()->rowCount(), 4);
  }

  // A block whose last row has no duration pasted before other rows is refused with a message;
  // one with durations lands whole.
  void pasteLandsWholeOrNotAtAll() {
    Make();
    Load(Fine());
    const SegmentTable before = form_->Doc().Voltage;
    Go(3, 1);
    QTest::keyClick(Grid(), Qt::Key_C, Qt::ControlModifier);
    Go(1, 1);
    QTest::keyClick(Grid(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages.front().contains("duration"));
    QVERIFY(OthersKept(before, form_->Doc().Voltage, {}));
    QCOMPARE(Grid()->model()->rowCount(), 4);
    // Rows 1..2 (with durations) pasted before row 2: every later point moves on.
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {},
                      Grid()->visualRect(Grid()->model()->index(0, 1)).center());
    QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      Grid()->visualRect(Grid()->model()->index(1, 1)).center());
    QTest::keyClick(Grid(), Qt::Key_C, Qt::ControlModifier);
    Go(2, 1);
    QTest::keyClick(Grid(), Qt::Key_V, Qt::ControlModifier);
    const SegmentTable& after = form_->Doc().Voltage;
    QCOMPARE(after.LastPointIndex(), 5);
    QCOMPARE(Grid()->model()->rowCount(), 6);
    for (int i = 0; i < 2; ++i) QVERIFY(SameBits(after[i], before[i]));
    QCOMPARE(after[5].Value, before[3].Value);
  }

  // Dragging a point and adding one leave every other point's bits alone.
  void mouseEditChangesOnlyItsPoint() {
    Make();
    Load(Fine());
    QWidget* canvas = form_->Plot()->Canvas();
    auto px = [this](double t, double v) {
      QApplication::processEvents();
      return QPoint(qRound(form_->Plot()->ValueToPixel(PlotAxis::Bottom, t)),
                    qRound(form_->Plot()->ValueToPixel(PlotAxis::Left, v)));
    };
    const SegmentTable before = form_->Doc().Voltage;
    const QPoint from = px(before[1].Time, before[1].Value), to = px(3, 5);
    QTest::mouseMove(canvas, from);
    QTest::mousePress(canvas, Qt::LeftButton, {}, from);
    QTest::mouseMove(canvas, px(2.5, 5.5));
    QTest::mouseMove(canvas, to);
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, to);
    QVERIFY(form_->Doc().Voltage[1].Time != before[1].Time);
    QVERIFY(OthersKept(before, form_->Doc().Voltage, {1}));
    // A point added after the last one.
    const SegmentTable moved = form_->Doc().Voltage;
    const QPoint add = px(9, 2);
    QTest::mouseMove(canvas, add);
    QTest::mousePress(canvas, Qt::LeftButton, {}, add);
    QTest::mouseMove(canvas, px(9.5, 2));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, px(9.5, 2));
    const SegmentTable& added = form_->Doc().Voltage;
    QCOMPARE(added.LastPointIndex(), moved.LastPointIndex() + 1);
    for (std::int32_t i = 0; i <= moved.LastPointIndex(); ++i) {
      QVERIFY2(SameBits(added[i], moved[i]), qPrintable(QString::number(i)));
    }
  }

  // Units typed with a number set the unit column; other text is refused with a message; Tab
  // steps over the unit cell, and a digit typed there goes to the end value.
  void unitsAreTakenAsTyped() {
    Make();
    Load(Fine());
    const SegmentTable before = form_->Doc().Voltage;
    Go(0, 2);
    Type("5 ms");
    Enter();
    QCOMPARE(Cell(0, 3), QString("ms"));
    QCOMPARE(form_->Doc().Voltage[1].Time, 0.005);
    Go(1, 2);
    Type("2min");
    Enter();
    QCOMPARE(Cell(1, 3), QString("min"));
    QCOMPARE(form_->Doc().Voltage[2].Time, 120.005);
    Go(0, 1);
    Type("500 mV");
    Enter();
    QCOMPARE(form_->Doc().Voltage[0].Value, 0.5);
    QCOMPARE(form_->Doc().Voltage[3].Value, before[3].Value);
    // A unit of another kind is refused with a message; the cell keeps its duration.
    const SegmentTable typed = form_->Doc().Voltage;
    Go(2, 2);
    Type("3 V");
    Go(2, 1);
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(OthersKept(typed, form_->Doc().Voltage, {}));
    // Tab from the duration goes to the end value; a digit in the unit cell goes there too.
    Go(2, 2);
    QTest::keyClick(Grid(), Qt::Key_Tab);
    QCOMPARE(Grid()->currentIndex().column(), int(kColEndValue));
    QTest::keyClick(Grid(), Qt::Key_Backtab);
    QCOMPARE(Grid()->currentIndex().column(), int(kColDuration));
    Go(2, 3);
    Type("9.5");
    Enter();
    QCOMPARE(form_->Doc().Voltage[3].Value, 9.5);
    // Spin fields take units too, converted into the unit they show.
    Go(2, 1);
    TypeSpin("YeditL", "250 mV");
    QCOMPARE(form_->Doc().Voltage[2].Value, 0.25);
    const double start = form_->Doc().Voltage[2].Time;
    QCOMPARE(Find<QLabel>("Label14")->text(), QString("s"));
    TypeSpin("XeditR", "130000 ms");
    QVERIFY(qAbs(form_->Doc().Voltage[3].Time - 130.0) < 1e-9);
    QVERIFY(form_->Doc().Voltage[2].Time == start);
    const int shown = dialogs_->messages.size();
    TypeSpin("YeditR", "7 xs");
    QCOMPARE(dialogs_->messages.size(), shown + 1);
    QCOMPARE(form_->Doc().Voltage[3].Value, 9.5);
  }
};

QTEST_MAIN(EditorExactEditTest)
#include "editor_exact_edit_test.moc"
