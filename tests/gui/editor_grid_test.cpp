// The grid, the tabs and the curve view driven with real key and mouse events, and a document
// built through the widgets compared byte for byte with the same document built by the core.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDoubleSpinBox>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "document/DocumentIO.h"
#include "editor/GraphForm.h"
#include "editor_fakes.h"
#include "editor_grid_driver.h"
#include "plot/Plot.h"

using namespace ondrevo;

class EditorGridTest : public QObject, TEditorGridDriver {
  Q_OBJECT

  QTemporaryDir dir_;
  std::shared_ptr<TScriptedDialogs> dialogs_;
  std::function<void(const QStringList&)> storeRecent_;

  TGraphForm* Make() {
    TGraphFormSettings s;
    s.SettingsFolder = dir_.path();
    s.StoreRecentFiles = [this](const QStringList& l) {
      if (storeRecent_) storeRecent_(l);
    };
    form_ = std::make_unique<TGraphForm>(s);
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->show();
    form_->Act().Table->trigger();  // the table shown, as a user starts drawing in it
    return form_.get();
  }
  TPlotSeries* Series(const char* name) { return form_->Plot()->Series(name); }
  void Enter() { QTest::keyClick(Grid(), Qt::Key_Return); }
  // Types a point row: value, duration, unit keys, end value, each closed with Enter.
  void TypeSegment(const char* value, const char* duration, const char* unit, const char* end) {
    if (value) {
      Type(value);
      Enter();
    }
    Type(duration);
    Enter();
    Type(unit);
    Enter();
    Type(end);
    Enter();
  }
  void SetSpin(const char* name, const char* text) {
    auto* spin = Find<QDoubleSpinBox>(name);
    spin->selectAll();
    QTest::keyClicks(spin, text);
    QTest::keyClick(spin, Qt::Key_Return);
  }
  void ChooseMenuItem(QWidget* target, QPoint pos, char accelerator) {
    QTimer::singleShot(0, [accelerator] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu) QTest::keyClick(menu, accelerator);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
  }

 private slots:
  void cleanup() { form_.reset(); }

  void typingBuildsTheCurve() {
    Make();
    Go(0, 1);
    Type("1.2.3");  // the second point is refused
    QCOMPARE(Cell(0, 1), QString("1.23"));
    Type("-e");  // neither sign nor exponent
    QCOMPARE(Cell(0, 1), QString("1.23"));
    Enter();
    QCOMPARE(Grid()->currentIndex().column(), 2);
    TypeSegment(nullptr, "2", "us", "3");  // "u" then "s" leaves "s"
    QCOMPARE(Cell(0, 3), QString("s"));
    const SegmentTable& w = form_->Doc().Working;
    QCOMPARE(w.LastPointIndex(), 1);
    QCOMPARE(w[1].Time, 2.0);
    QCOMPARE(w[1].Value, 3.0);
    QCOMPARE(Series("U_Line")->Count(), 2);
    QCOMPARE(Grid()->currentIndex().row(), 1);  // Enter went on to the new row
    // Next segment: 500 ms, typed as "m" then "s"; then "m", "i" gives minutes.
    Go(1, 2);
    TypeSegment(nullptr, "500", "ms", "4");
    QCOMPARE(w[2].Time, 2.5);
    Go(2, 2);
    TypeSegment(nullptr, "1", "mi", "0");
    QCOMPARE(w[3].Time, 62.5);
    QCOMPARE(Cell(2, 3), QString("min"));
    // Escape drops what was typed.
    Go(0, 1);
    Type("7");
    QTest::keyClick(Grid(), Qt::Key_Escape);
    Go(1, 1);
    QCOMPARE(w[0].Value, 1.23);
    // Leaving a cell commits it, and the end value of the row above follows.
    Type("9");
    Go(0, 1);
    QCOMPARE(w[1].Value, 9.0);
    QCOMPARE(Cell(0, 4), QString("9"));
    // Shift+Delete on row 1 does nothing; on row 2 it deletes the point.
    QTest::keyClick(Grid(), Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(w.LastPointIndex(), 3);
    Go(1, 1);
    QTest::keyClick(Grid(), Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(w.LastPointIndex(), 2);
    QCOMPARE(Series("U_Line")->Count(), 3);
    // Insert adds a zero-length copy of the point above it (the curve stays whole while it is
    // filled in); Shift+Insert appends a row with the last value.
    QTest::keyClick(Grid(), Qt::Key_Insert);
    QCOMPARE(Grid()->model()->rowCount(), 4);
    QCOMPARE(w.LastPointIndex(), 3);
    QCOMPARE(Cell(1, 1), Cell(2, 1));
    QCOMPARE(w[1].Time, w[2].Time);
    QTest::keyClick(Grid(), Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(Grid()->model()->rowCount(), 5);
    QCOMPARE(Grid()->currentIndex().row(), 4);
  }

  // Enter moves on (column 4 of the last row opens the next point) and Mark then shows the
  // segment that ends at the current row's point.
  void enterMovesOnAndMarksTheSegmentEndingThere() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 1}, {2, 3}, {5, 2}, {6, 4}}));
    form_->RebuildGrid();
    const SegmentTable& w = form_->Doc().Working;
    TPlotSeries* mark = Series("Mark");
    auto marks = [&](int a, int b) {
      return mark->Count() == 2 && mark->Point(0) == QPointF(w[a].Time, w[a].Value) &&
             mark->Point(1) == QPointF(w[b].Time, w[b].Value);
    };
    Go(2, 2);
    Type("3");
    Enter();
    QCOMPARE(w[3].Time, 8.0);
    QCOMPARE(Grid()->currentIndex(), Grid()->model()->index(2, 3));
    QVERIFY(marks(1, 2));
    Go(0, 4);
    Type("5");
    Enter();
    QCOMPARE(Grid()->currentIndex(), Grid()->model()->index(1, 1));
    QVERIFY(marks(0, 1));
    Go(0, 1);
    Enter();
    QVERIFY(marks(0, 1));
    // The last row: a duration, then Enter on the empty end value opens the next point's row.
    Go(3, 2);
    Type("1");
    Enter();
    Enter();
    QCOMPARE(Grid()->currentIndex(), Grid()->model()->index(3, 4));
    Enter();
    QCOMPARE(Grid()->model()->rowCount(), 5);
    QCOMPARE(Grid()->currentIndex(), Grid()->model()->index(4, 1));
    QCOMPARE(w.LastPointIndex(), 3);
    Type("6");
    Enter();
    QCOMPARE(w.LastPointIndex(), 4);
    QCOMPARE(w[4].Time, 9.0);
    QCOMPARE(w[4].Value, 6.0);
    QCOMPARE(Cell(3, 4), QString("6"));
    QCOMPARE(Grid()->currentIndex(), Grid()->model()->index(4, 2));
    QVERIFY(marks(3, 4));
  }

  // The duration's header spans the unit column and shows a delta and a "t".
  void durationHeaderSpansTheUnitColumn() {
    Make();
    QHeaderView* header = Grid()->horizontalHeader();
    QCOMPARE(header->model()->headerData(kColDuration, Qt::Horizontal).toString(),
             QString::fromUtf8("\u0394t"));
    QCOMPARE(header->model()->headerData(kColUnit, Qt::Horizontal).toString(), QString());
    const QImage image = header->grab().toImage();
    const int y = image.height() / 2;
    // Columns of pixels that differ from the plain header at x = 1 beside a divider.
    auto differs = [&](int x) {
      for (int yy = 2; yy < image.height() - 2; ++yy) {
        if (image.pixel(x, yy) != image.pixel(x + 1, yy) &&
            image.pixel(x, yy) != image.pixel(x - 1, yy)) {
          return true;
        }
      }
      return false;
    };
    const int unitStart = header->sectionViewportPosition(kColUnit);
    const int endStart = header->sectionViewportPosition(kColEndValue);
    QVERIFY(differs(endStart - 1) || differs(endStart));      // a divider before "V2"
    QVERIFY(!differs(unitStart - 1) && !differs(unitStart));  // none before the unit
    // The delta and the "t" sit around the middle of the duration column.
    const int middle =
        header->sectionViewportPosition(kColDuration) + header->sectionSize(kColDuration) / 2;
    int ink = 0;
    for (int x = middle - 12; x < middle + 16; ++x) {
      if (qGray(image.pixel(x, y)) < 128 || qGray(image.pixel(x, y - 2)) < 128) ++ink;
    }
    QVERIFY(ink >= 3);
  }

  void contextMenuCopiesAndPastes() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 1}, {2, 3}, {3, 3}}));
    form_->RebuildGrid();
    Go(0, 1);
    QWidget* viewport = Grid()->viewport();
    const QPoint pos = Grid()->visualRect(Grid()->model()->index(0, 1)).center();
    ChooseMenuItem(viewport, pos, 'o');  // "C&opy"
    const QString copied = QApplication::clipboard()->text();
    QVERIFY(copied.startsWith("1.0000\t2.00000\ts\t3.0000\t"));
    QCOMPARE(copied.count('\t'), 19);
    ChooseMenuItem(viewport, pos, 'p');  // "&Paste" before row 1
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 3);
    QCOMPARE(form_->Doc().Working[1].Time, 2.0);
    QCOMPARE(form_->Doc().Working[2].Time, 4.0);
    // A spreadsheet's text pastes too; text that is no rows changes nothing and says why.
    QApplication::clipboard()->setText("0.5\t1\ts\t0.5\n");
    Go(0, 1);
    QTest::keyClick(Grid(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 4);
    QApplication::clipboard()->setText("hello world");
    QTest::keyClick(Grid(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 4);
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains("Line 1"));
    ChooseMenuItem(viewport, pos, 'n');  // "Ca&ncel" does nothing
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 4);
  }

  void tabsSetSuperpositionsAndPreviews() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 1}, {2, 3}, {3, 3}}));
    form_->RebuildGrid();
    Go(0, 1);
    auto* tabs = Find<QTabWidget>("PageControl1");
    QVERIFY(tabs->isTabVisible(1));
    QVERIFY(!tabs->isTabVisible(2));
    QVERIFY(!Find<QDoubleSpinBox>("XeditL")->isEnabled());  // the first segment starts at 0
    tabs->setCurrentIndex(1);
    QTest::mouseClick(Find<QRadioButton>("RechteckButton1"), Qt::LeftButton);
    QCOMPARE(form_->Doc().Working[0].Sup1.Kind, SuperpositionKind::Square);
    QVERIFY(Find<QWidget>("PWM")->isVisible());
    QCOMPARE(Find<QDoubleSpinBox>("PWM")->value(), 50.0);
    QVERIFY(tabs->isTabVisible(2));
    QCOMPARE(Cell(0, 5), QString("Square"));
    QVERIFY(Series("UE_Line1")->Count() > 4);
    QCOMPARE(Series("Mark_Line1")->Count(), 2);
    QTest::mouseClick(Find<QRadioButton>("SinusButton1"), Qt::LeftButton);
    QVERIFY(!Find<QWidget>("PWM")->isVisible());
    // A committed cell redraws the curve and the preview ending at its new value.
    Go(0, 4);
    Type("5");
    Enter();
    QCOMPARE(Series("U_Line")->Point(1).y(), 5.0);
    QCOMPARE(Series("UE_Line1")->Points().back().y(), 5.0);
    // The memory check: 10 Hz on a 2 s segment needs 200 points, 600 Hz 12000.
    Go(0, 1);
    tabs->setCurrentIndex(1);
    SetSpin("Ue1_F2", "600");
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains("first superposition"));
    QCOMPARE(Find<QDoubleSpinBox>("Ue1_F2")->value(), 1.0);  // back to the stored one
    QCOMPARE(form_->Doc().Working[0].Sup1.FreqEnd, 1.0);
    // "&None" clears both superpositions and hides the second tab.
    tabs->setCurrentIndex(2);
    QTest::mouseClick(Find<QRadioButton>("DreieckButton2"), Qt::LeftButton);
    QCOMPARE(form_->Doc().Working[0].Sup2.Kind, SuperpositionKind::Triangle);
    tabs->setCurrentIndex(1);
    QTest::mouseClick(Find<QRadioButton>("OhneButton1"), Qt::LeftButton);
    QCOMPARE(form_->Doc().Working[0].Sup1.Kind, SuperpositionKind::None);
    QCOMPARE(form_->Doc().Working[0].Sup2.Kind, SuperpositionKind::None);
    QVERIFY(!tabs->isTabVisible(2));
    QCOMPARE(Series("UE_Line1")->Count(), 0);
    // The last row has no segment: no superposition tabs; other rows may move their start.
    Go(2, 1);
    QVERIFY(!tabs->isTabVisible(1));
    Go(1, 1);
    QVERIFY(Find<QDoubleSpinBox>("XeditL")->isEnabled());
  }

  void generalTabMovesLaterPoints() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 0}, {2, 1}, {5, 2}, {7, 3}}));
    form_->RebuildGrid();
    Go(1, 1);
    QCOMPARE(Find<QDoubleSpinBox>("XeditR")->value(), 5.0);
    SetSpin("XeditR", "6");
    QCOMPARE(form_->Doc().Working[2].Time, 6.0);
    QCOMPARE(form_->Doc().Working[3].Time, 8.0);
    // An arrow changes the value and applies without recording a step; Enter records.
    const bool modified = form_->IsModified();
    form_->ClearHistory();
    Find<QDoubleSpinBox>("YeditR")->stepBy(1);
    QCOMPARE(form_->Doc().Working[2].Value, 3.0);
    QVERIFY(!form_->IsModified());
    QTest::keyClick(Find<QDoubleSpinBox>("YeditR"), Qt::Key_Return);
    QVERIFY(form_->IsModified() || modified);
    // The end time's arrow stops short of the next point.
    Find<QDoubleSpinBox>("XeditR")->setValue(7.5);
    Find<QDoubleSpinBox>("XeditR")->stepBy(1);
    QVERIFY(form_->Doc().Working[2].Time < 8.0);
  }

  void spinLimitsFollowTheDeviceAndQuantity() {
    Make();
    form_->SelectDevice(2, 4);  // "5203" -> "32": 32 V, 20 A
    QCOMPARE(Find<QDoubleSpinBox>("YeditL")->maximum(), 32.0);
    QCOMPARE(Find<QDoubleSpinBox>("Ue1_A1")->maximum(), 32.0);
    QCOMPARE(Find<QDoubleSpinBox>("Ue2_A2")->maximum(), 30.0);
    form_->SwitchQuantity(Quantity::Current);
    QCOMPARE(Find<QDoubleSpinBox>("YeditR")->maximum(), 20.0);
    QCOMPARE(Find<QDoubleSpinBox>("Ue1_A2")->maximum(), 20.0);
    QCOMPARE(Grid()->model()->headerData(1, Qt::Horizontal).toString(), QString("A1"));
  }

  void documentBuiltByWidgetsEqualsTheCore() {
    Make();
    Go(0, 1);
    TypeSegment("1", "2", "s", "3");
    TypeSegment("3", "1", "s", "2");  // Enter went on to the value of the new row
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 2);
    Go(0, 1);
    auto* tabs = Find<QTabWidget>("PageControl1");
    tabs->setCurrentIndex(1);
    QTest::mouseClick(Find<QRadioButton>("SinusButton1"), Qt::LeftButton);
    SetSpin("Ue1_F1", "2");
    SetSpin("Ue1_F2", "20");
    SetSpin("Ue1_A1", "0.5");
    SetSpin("Ue1_A2", "1.5");
    Go(1, 1);
    tabs->setCurrentIndex(1);
    QTest::mouseClick(Find<QRadioButton>("RechteckButton1"), Qt::LeftButton);
    SetSpin("PWM", "30");
    const QString viaWidgets = dir_.filePath("widgets.ovx");
    dialogs_->files.push_back(viaWidgets);
    QVERIFY(form_->Save());

    TEditorCore core;
    core.SetCell(0, kColValue, "1");
    core.SetCell(0, kColDuration, "2");
    core.SetCell(0, kColUnit, "s");
    core.SetCell(0, kColEndValue, "3");
    core.SetCell(1, kColDuration, "1");
    core.SetCell(1, kColUnit, "s");
    core.SetCell(1, kColEndValue, "2");
    TabValues tabs0 = core.LoadRow(0);
    tabs0.Sup[0] = {SuperpositionKind::Sine, 2, 20, kHertz, 0.5, 1.5, 50, 0};
    QCOMPARE(core.ApplyTabs(0, tabs0), ApplyResult::Applied);
    TabValues tabs1 = core.LoadRow(1);
    tabs1.Sup[0] = {SuperpositionKind::Square, 1, 1, kHertz, 1, 1, 30, 0};
    QCOMPARE(core.ApplyTabs(1, tabs1), ApplyResult::Applied);
    const QString viaCore = dir_.filePath("core.ovx");
    WriteDocument(viaCore.toStdString(), core.Doc().Voltage, core.Doc().Current);

    QFile a(viaWidgets), b(viaCore);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray bytes = a.readAll();
    QVERIFY(bytes.contains("sine") && bytes.contains("square"));
    QCOMPARE(bytes, b.readAll());
    // And it reads back as the document shown.
    SegmentTable u, i;
    ReadDocumentFile(viaWidgets.toStdString(), u, i);
    QVERIFY(u.SameCurve(form_->Doc().Voltage));
  }

  void windowFaultsMended() {
    Make();
    // "&" in a recent path is shown as written.
    form_->AddRecentFile("/tmp/R&D/a.ovx");
    auto* recent = form_->findChild<QAction*>("actRecent1");
    QCOMPARE(recent->text(), QString("&1 /tmp/R&&D/a.ovx"));
    // A settings file that cannot be written is reported.
    storeRecent_ = [](const QStringList&) { throw std::runtime_error("Cannot write x.ini"); };
    form_->ClearRecentFiles();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains("Cannot write x.ini"));
    storeRecent_ = nullptr;
    // Save as into a folder that does not exist: the reason, not "read-only".
    form_->SetActiveCurve(Ramp({{0, 1}, {1, 2}}), true);
    dialogs_->files = {dir_.filePath("missing/a.ovx")};
    QVERIFY(!form_->SaveAs());
    QVERIFY(dialogs_->messages.last().contains("could not be saved"));
    QVERIFY(!dialogs_->messages.last().contains("read-only"));
    // Close returns fully to voltage, the current axis included.
    form_->SwitchQuantity(Quantity::Current);
    form_->Plot()->SetAxisRange(PlotAxis::Right, 0, 5);
    dialogs_->answers = {QMessageBox::No};
    QVERIFY(form_->CloseDocument());
    QCOMPARE(form_->ActiveQuantity(), Quantity::Voltage);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Right), form_->ActiveLimits().MaxCurrent + 2);
    QVERIFY(form_->Act().Voltage->isChecked());
    QCOMPARE(Grid()->model()->headerData(1, Qt::Horizontal).toString(), QString("V1"));
  }
};

QTEST_MAIN(EditorGridTest)
#include "editor_grid_test.moc"
