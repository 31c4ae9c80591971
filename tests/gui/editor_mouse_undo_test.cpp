// Drawing on the real plot with mouse press, move and release, checked against the mouse editor
// run on a plain table; undo and redo through the Edit menu, the shortcuts and the history's
// modified flag.
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "editor/GraphForm.h"
#include "editor/PlotMouse.h"
#include "editor/core/EditRules.h"
#include "editor/core/History.h"
#include "editor_fakes.h"
#include "plot/Plot.h"

using namespace ondrevo;

class EditorMouseUndoTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<TGraphForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;
  // The mouse editor on a plain table, fed the same plot points as the window: what the core
  // predicts for the document.
  TMouseEditor model_;
  SegmentTable predicted_;

  TGraphForm* Make() {
    TGraphFormSettings s;
    s.SettingsFolder = dir_.path();
    form_ = std::make_unique<TGraphForm>(s);
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->resize(1100, 650);
    form_->show();
    form_->New();
    model_ = TMouseEditor{};
    predicted_ = SegmentTable{};
    QApplication::processEvents();
    return form_.get();
  }
  QWidget* Canvas() { return form_->Plot()->Canvas(); }
  PlotAxis ValueAxis() {
    return form_->ActiveQuantity() == Quantity::Voltage ? PlotAxis::Left : PlotAxis::Right;
  }
  // The pixel of a plot position, after any pending layout change of the window.
  QPoint Px(double t, double v) {
    QApplication::processEvents();
    TPlot* p = form_->Plot();
    return QPoint(qRound(p->ValueToPixel(PlotAxis::Bottom, t)),
                  qRound(p->ValueToPixel(ValueAxis(), v)));
  }
  TPlotPoint At(QPoint px) {
    return {form_->Plot()->PixelToValue(PlotAxis::Bottom, px.x()),
            form_->Plot()->PixelToValue(ValueAxis(), px.y())};
  }
  bool ModelEmpty() { return predicted_.LastPointIndex() < 1; }
  void Hover(double t, double v) {
    const QPoint px = Px(t, v);
    QMouseEvent e(QEvent::MouseMove, px, Canvas()->mapToGlobal(px), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(Canvas(), &e);
    model_.Hover(predicted_, ModelEmpty(), At(px), form_->Mouse().View());
  }
  void Press(double t, double v) {
    Hover(t, v);
    const QPoint px = Px(t, v);
    const TPlotView view = form_->Mouse().View();
    QTest::mousePress(Canvas(), Qt::LeftButton, {}, px);
    model_.Hover(predicted_, ModelEmpty(), At(px), view);
    model_.Press(predicted_, ModelEmpty(), At(px), view);
  }
  void Move(double t, double v) {
    const QPoint px = Px(t, v);
    const TPlotView view = form_->Mouse().View();
    QTest::mouseMove(Canvas(), px);
    model_.Move(predicted_, At(px), view);
  }
  void Release(double t, double v) {
    const QPoint px = Px(t, v);
    const TPlotView view = form_->Mouse().View();
    QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, px);
    model_.Release(predicted_, At(px), view);
  }
  void Drag(double t0, double v0, double t1, double v1) {
    Press(t0, v0);
    Move((t0 + t1) / 2, (v0 + v1) / 2);
    Move(t1, v1);
    Release(t1, v1);
  }
  // Starts the model from the document (a curve that was not drawn with the mouse).
  void SyncModel() { predicted_ = form_->Doc().Working; }
  static bool Near(double a, double b) { return qAbs(a - b) < 1e-9; }
  // The document, the plot and the grid show what the mouse editor predicts.
  void ExpectPredicted() {
    const SegmentTable& doc = form_->Doc().Voltage;
    QCOMPARE(doc.LastPointIndex(), predicted_.LastPointIndex());
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(),
             doc.LastPointIndex() > 0 ? doc.LastPointIndex() + 1 : 0);
    for (std::int32_t i = 0; i <= doc.LastPointIndex(); ++i) {
      QVERIFY2(Near(doc[i].Time, predicted_[i].Time), qPrintable(QString::number(i)));
      QVERIFY2(Near(doc[i].Value, predicted_[i].Value), qPrintable(QString::number(i)));
      QCOMPARE(form_->Plot()->Series("U_Line")->Point(i), QPointF(doc[i].Time, doc[i].Value));
    }
    const std::vector<GridRow> rows = TableToGrid(predicted_);
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    QCOMPARE(grid->model()->rowCount(), static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r) {
      for (int c = kColValue; c <= kColEndValue; ++c) {
        QCOMPARE(form_->Core().Cell(static_cast<int>(r), c), rows[r][c]);
      }
    }
  }
  // Draws (0, 3.2) - (2, 8) - (5, 4): the first press snaps 3.14 V to 3.2 V (20 V maximum).
  void DrawThreePoints() {
    Drag(0, 3.14, 2, 8);
    Drag(2, 8, 5, 4);
  }
  int Net() { return form_->History().NetChanges(); }

 private slots:
  void init() { QFile::remove(dir_.filePath("Ondrevo.cfg")); }
  void cleanup() { form_.reset(); }

  void drawThreePointsWithTheMouse() {
    Make();
    QCOMPARE(form_->VerticalSnapStep(), 0.2);
    QCOMPARE(Canvas()->cursor().shape(), Qt::CrossCursor);
    // A click and release on the empty plot without a move adds nothing.
    Press(0, 3.14);
    Release(0, 3.14);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 0);
    QCOMPARE(Net(), 0);
    Press(0, 3.14);
    // The point follows the mouse before anything is committed.
    Move(1, 6);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    Move(2, 8);
    Release(2, 8);
    QVERIFY(form_->TableChecked());
    QVERIFY(form_->findChild<QWidget*>("Panel_Right")->isVisible());
    QVERIFY(Near(form_->Doc().Voltage[0].Value, 3.2));
    QCOMPARE(form_->Doc().Voltage[0].Time, 0.0);
    QCOMPARE(Net(), 1);
    Drag(2, 8, 5, 4);
    ExpectPredicted();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2);
    QVERIFY(Near(form_->Doc().Voltage[2].Time, 5) && Near(form_->Doc().Voltage[2].Value, 4));
    QCOMPARE(Net(), 2);
    QVERIFY(form_->Act().Undo->isEnabled());
    QVERIFY(form_->IsModified());
    // The grid's current row is the segment ending at the new point (from point 1 to 2): the
    // selected segment and the tabs show it too; Mark shows it.
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    QCOMPARE(grid->currentIndex().row(), 1);
    QCOMPARE(form_->Core().SelectedRow(), 1);
    auto* tabs = form_->findChild<QTabWidget*>("PageControl1");
    QVERIFY(tabs->isTabVisible(1));
    QCOMPARE(form_->findChild<QDoubleSpinBox*>("XeditL")->value(), 2.0);
    QCOMPARE(form_->findChild<QDoubleSpinBox*>("XeditR")->value(), 5.0);
    QVERIFY(form_->findChild<QDoubleSpinBox*>("XeditL")->isEnabled());
    TPlotSeries* mark = form_->Plot()->Series("Mark");
    QVERIFY(mark->Visible());
    QCOMPARE(mark->Point(1), QPointF(form_->Doc().Voltage[2].Time, form_->Doc().Voltage[2].Value));
    // The time axis stays where the user draws.
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Bottom), 10.0);

    // A click and release after the last point without a move changes nothing.
    Press(7, 6);
    Release(7, 6);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 3);  // the click itself is a new point
    Press(7, 6);
    Release(7, 6);
    ExpectPredicted();
    const int before = Net();
    Press(7, 6);
    Release(7, 6);
    QCOMPARE(Net(), before);
  }

  void cursorsAndSegmentClick() {
    Make();
    DrawThreePoints();
    Hover(2, 8);
    QCOMPARE(Canvas()->cursor().shape(), Qt::SizeAllCursor);
    Hover(3.5, 6);
    QCOMPARE(Canvas()->cursor().shape(), Qt::ArrowCursor);
    Hover(8, 6);
    QCOMPARE(Canvas()->cursor().shape(), Qt::CrossCursor);
    // A click on the second segment selects its row, records nothing.
    const int before = Net();
    Press(3.5, 6);
    Release(3.5, 6);
    QCOMPARE(form_->findChild<QTableView*>("StringGrid1")->currentIndex().row(), 1);
    QCOMPARE(form_->Core().SelectedRow(), 1);
    QCOMPARE(Net(), before);
    ExpectPredicted();
  }

  void dragTheMiddlePoint() {
    Make();
    DrawThreePoints();
    Drag(2, 8, 3, 6);
    ExpectPredicted();
    QVERIFY(Near(form_->Doc().Voltage[1].Time, 3) && Near(form_->Doc().Voltage[1].Value, 6));
    QCOMPARE(Net(), 3);
    // Released beyond the next point: the last position reached stays.
    Press(3, 6);
    Move(4, 7);
    Move(6, 5);
    Release(6, 5);
    ExpectPredicted();
    QVERIFY(Near(form_->Doc().Voltage[1].Time, 4) && Near(form_->Doc().Voltage[1].Value, 7));
    // Point 0 keeps its time.
    Drag(0, 3.2, 1, 5);
    ExpectPredicted();
    QCOMPARE(form_->Doc().Voltage[0].Time, 0.0);
    QVERIFY(Near(form_->Doc().Voltage[0].Value, 5));
    // One Undo per drag.
    form_->Undo();
    QVERIFY(Near(form_->Doc().Voltage[0].Value, 3.2));
    QVERIFY(Near(form_->Doc().Voltage[1].Time, 4));
    form_->Undo();
    QVERIFY(Near(form_->Doc().Voltage[1].Time, 3));
  }

  void draggingOntoAStepRemovesThePoint() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 2}, {2, 2}, {2, 8}, {5, 8}}));
    form_->RecordStep();
    form_->RebuildGrid();
    SyncModel();
    const int before = Net();
    // The end of a vertical step stops short of the step's time while moving...
    Press(4.96, 8);
    Move(2.5, 8);
    Move(1, 8);
    Move(2, 8);
    QVERIFY(Near(form_->Plot()->Series("U_Line")->Point(3).x(), 2.5));
    // ...and released at that time it leaves the curve, as one undo step.
    Release(2, 8);
    ExpectPredicted();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2);
    QCOMPARE(Net(), before + 1);
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 3);
  }

  void ctrlDragZoomsWithinTheTimeAxis() {
    Make();
    DrawThreePoints();
    const SegmentTable before = form_->Doc().Voltage;
    TPlot* plot = form_->Plot();
    QTest::mousePress(Canvas(), Qt::LeftButton, Qt::ControlModifier, Px(1, 10));
    QTest::mouseMove(Canvas(), Px(3, 2));
    QTest::mouseRelease(Canvas(), Qt::LeftButton, Qt::ControlModifier, Px(3, 2));
    QVERIFY(qAbs(plot->AxisMin(PlotAxis::Bottom) - 1) < 0.05);
    QVERIFY(qAbs(plot->AxisMax(PlotAxis::Bottom) - 3) < 0.05);
    QVERIFY(form_->Doc().Voltage.SameCurve(before));
    // Reaching beyond the axis maximum does not zoom.
    const double min = plot->AxisMin(PlotAxis::Bottom), max = plot->AxisMax(PlotAxis::Bottom);
    const QRect field = plot->PlotRect();
    QTest::mousePress(Canvas(), Qt::LeftButton, Qt::ControlModifier, Px(2, 10));
    QTest::mouseMove(Canvas(), QPoint(field.right() + 15, field.center().y()));
    QTest::mouseRelease(Canvas(), Qt::LeftButton, Qt::ControlModifier,
                        QPoint(field.right() + 15, field.center().y()));
    QCOMPARE(plot->AxisMin(PlotAxis::Bottom), min);
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), max);
    QVERIFY(form_->Doc().Voltage.SameCurve(before));
  }

  void undoEmptiesAndRedoRestores() {
    Make();
    Drag(0, 3.14, 2, 8);
    QVERIFY(form_->Act().Undo->isEnabled());
    QVERIFY(!form_->Act().Redo->isEnabled());
    QTest::keyClick(form_.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 0);
    QVERIFY(!form_->Act().Undo->isEnabled());
    QVERIFY(form_->Act().Redo->isEnabled());
    QVERIFY(!form_->TableChecked());
    QVERIFY(!form_->IsModified());
    QTest::keyClick(form_.get(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 1);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2);
    QVERIFY(form_->TableChecked());
    QCOMPARE(form_->findChild<QTableView*>("StringGrid1")->model()->rowCount(), 2);
    QVERIFY(form_->Act().Undo->isEnabled());
    QVERIFY(!form_->Act().Redo->isEnabled());
    QVERIFY(form_->IsModified());
    // The toolbar's buttons are the same actions.
    form_->Act().Undo->trigger();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
  }

  void undoRestoresPreviews() {
    Make();
    SegmentTable u = Ramp({{0, 1}, {2, 5}, {3, 5}});
    u[0].Sup1.Kind = SuperpositionKind::Sine;
    u[0].Sup1.AmpStart = u[0].Sup1.AmpEnd = 1;
    form_->SetActiveCurve(u);
    form_->RecordStep();
    form_->SetActiveCurve(Ramp({{0, 1}, {2, 5}}));
    form_->RecordStep();
    QVERIFY(form_->Plot()->Series("UE_Line1")->Count() == 0);
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2);
    QVERIFY(form_->Plot()->Series("UE_Line1")->Count() > 2);
  }

  void spinArrowsRecordOneStateWhenCommitted() {
    Make();
    DrawThreePoints();
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    const QRect cell = grid->visualRect(grid->model()->index(0, kColValue));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    auto* end = form_->findChild<QDoubleSpinBox*>("YeditR");
    QVERIFY(Near(end->value(), 8));
    const int before = Net();
    for (int i = 0; i < 10; ++i) QTest::keyClick(end, Qt::Key_Up);
    QVERIFY(Near(form_->Doc().Voltage[1].Value, 18));
    QCOMPARE(Net(), before);
    QTest::keyClick(end, Qt::Key_Return);
    QCOMPARE(Net(), before + 1);
    // One Undo takes back all ten steps.
    form_->Undo();
    QVERIFY(Near(form_->Doc().Voltage[1].Value, 8));
  }

  void leavingASpinFieldRecordsOneState() {
    Make();
    DrawThreePoints();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    const QRect cell = grid->visualRect(grid->model()->index(1, kColValue));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    auto* start = form_->findChild<QDoubleSpinBox*>("YeditL");
    start->setFocus();
    const int before = Net();
    for (int i = 0; i < 10; ++i) QTest::keyClick(start, Qt::Key_Down);
    QCOMPARE(Net(), before);
    grid->setFocus();
    QCOMPARE(Net(), before + 1);
  }

  // Enter or an arrow on the duty cycle applies it; leaving the field then skips its apply, but
  // still records the arrows' step and applies a value typed after them.
  void dutyCycleSkipsTheExitAfterEnterAndArrows() {
    Make();
    DrawThreePoints();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    const QRect cell = grid->visualRect(grid->model()->index(0, kColValue));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    form_->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(1);
    QTest::mouseClick(form_->findChild<QRadioButton*>("RechteckButton1"), Qt::LeftButton);
    auto* pwm = form_->findChild<QDoubleSpinBox*>("PWM");
    QVERIFY(pwm->isVisible());
    const SegmentTable& w = form_->Doc().Working;
    pwm->setFocus();
    int before = Net();
    for (int i = 0; i < 3; ++i) QTest::keyClick(pwm, Qt::Key_Up);
    QCOMPARE(w[0].Sup1.DutyCycle, 53);
    QCOMPARE(Net(), before);
    grid->setFocus();
    QCOMPARE(Net(), before + 1);
    // A value typed after an arrow is applied when leaving.
    pwm->setFocus();
    QTest::keyClick(pwm, Qt::Key_Up);
    QCOMPARE(w[0].Sup1.DutyCycle, 54);
    pwm->selectAll();
    QTest::keyClicks(pwm, "70");
    grid->setFocus();
    QCOMPARE(w[0].Sup1.DutyCycle, 70);
    QCOMPARE(pwm->value(), 70.0);
    // Enter applies and records once; leaving adds nothing.
    pwm->setFocus();
    pwm->selectAll();
    QTest::keyClicks(pwm, "40");
    before = Net();
    QTest::keyClick(pwm, Qt::Key_Return);
    QCOMPARE(w[0].Sup1.DutyCycle, 40);
    QCOMPARE(Net(), before + 1);
    grid->setFocus();
    QCOMPARE(Net(), before + 1);
    form_->Undo();
    QCOMPARE(form_->Doc().Working[0].Sup1.DutyCycle, 70);
  }

  void drawingTheCurrentCurveUsesTheRightAxis() {
    Make();
    form_->SwitchQuantity(Quantity::Current);
    const double step = form_->VerticalSnapStep();
    QVERIFY(step > 0);
    Drag(0, 7.3, 3, 12.1);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    const SegmentTable& i = form_->Doc().Current;
    QCOMPARE(i.LastPointIndex(), 1);
    QVERIFY(Near(i[0].Value, predicted_[0].Value) && Near(i[1].Value, predicted_[1].Value));
    QVERIFY(qAbs(i[0].Value - 7.3) <= step / 2 + 1e-9);
    QVERIFY(qAbs(i[1].Value - 12.1) <= step / 2 + 1e-9);
    QCOMPARE(form_->Plot()->Series("I_Line")->Count(), 2);
    form_->Undo();
    QCOMPARE(form_->Doc().Current.LastPointIndex(), 0);
  }

  void typedCellIsCommittedBeforeAPress() {
    Make();
    DrawThreePoints();
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    const QRect cell = grid->visualRect(grid->model()->index(2, kColValue));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClicks(grid, "6");  // typed, not yet committed
    const int before = Net();
    Drag(2, 8, 3, 10);
    const SegmentTable& u = form_->Doc().Voltage;
    QVERIFY(Near(u[2].Value, 6));
    QVERIFY(Near(u[1].Time, 3) && Near(u[1].Value, 10));
    QCOMPARE(form_->Core().Cell(2, kColValue), TableToGrid(u)[2][kColValue]);
    QCOMPARE(Net(), before + 2);
  }

  void unchangedCellRecordsNothing() {
    Make();
    DrawThreePoints();
    const int before = Net();
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    const QRect cell = grid->visualRect(grid->model()->index(1, kColValue));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClicks(grid, "8");
    QTest::keyClick(grid, Qt::Key_Return);
    QCOMPARE(Net(), before);
    QTest::keyClicks(grid, "9");
    QTest::keyClick(grid, Qt::Key_Return);
    QCOMPARE(Net(), before + 1);
  }

  void emptyingACurveRecordsAState() {
    Make();
    Drag(0, 3.14, 2, 8);
    auto* grid = form_->findChild<QTableView*>("StringGrid1");
    const QRect cell = grid->visualRect(grid->model()->index(1, kColValue));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    QCOMPARE(Net(), 2);
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 1);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2);
  }

  void saveClearsTheHistory() {
    Make();
    DrawThreePoints();
    form_->Undo();
    QVERIFY(form_->Act().Redo->isEnabled());
    dialogs_->files = {dir_.filePath("drawn.ovx")};
    QVERIFY(form_->Save());
    QVERIFY(!form_->Act().Undo->isEnabled());
    QVERIFY(!form_->Act().Redo->isEnabled());
    QVERIFY(!form_->IsModified());
    // The saved document is what the first Undo after the next edit returns to.
    Drag(2, 8, 6, 2);
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 1);
    QVERIFY(!form_->IsModified());
    dialogs_->messages.clear();
    QVERIFY(form_->CloseDocument());
    QVERIFY(dialogs_->messages.isEmpty());
  }

  void savedInThePromptIsNotAskedAgain() {
    Make();
    Drag(0, 3.14, 2, 8);
    dialogs_->answers = {QMessageBox::Yes, QMessageBox::No};
    dialogs_->files = {dir_.filePath("kept.ovx")};
    form_->OpenRecent(dir_.filePath("gone.ovx"));
    QVERIFY(QFile::exists(dir_.filePath("kept.ovx")));
    QVERIFY(!form_->IsModified());
    dialogs_->messages.clear();
    QVERIFY(form_->CloseDocument());
    QVERIFY(dialogs_->messages.isEmpty());
  }

  void closingAsksAfter256Changes() {
    Make();
    Drag(0, 3.14, 2, 8);
    for (int i = 1; i < 256; ++i) {
      form_->Core().SetCell(1, kColValue, std::to_string(i % 2 ? 9 : 8));
    }
    QCOMPARE(Net(), 256);
    // At most 255 steps lead back; the net count never reaches 0.
    int undos = 0;
    while (form_->Act().Undo->isEnabled() && undos < 300) {
      form_->Undo();
      ++undos;
    }
    QCOMPARE(undos, 255);
    QVERIFY(form_->IsModified());
    QVERIFY(form_->Act().Redo->isEnabled());
    dialogs_->answers = {QMessageBox::Cancel};
    QVERIFY(!form_->CloseDocument());
    QCOMPARE(dialogs_->messages, QStringList{"Unsaved changes will be lost. Save document?"});
  }

  void undoAfterCsvImportRestoresTheWholeTrace() {
    Make();
    QByteArray trace = "Model\nFirmware 1\n";
    for (int i = 0; i < 5000; ++i)
      trace += QByteArray::number(i) + "," + QByteArray::number(i % 7) + "\n";
    const QString path = dir_.filePath("long.csv");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(trace);
    f.close();
    QVERIFY(form_->ImportCsvFile(path));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2000);
    const SegmentTable imported = form_->Doc().Voltage;
    form_->Core().SetCell(3, kColValue, "12");
    QVERIFY(!form_->Doc().Voltage.SameCurve(imported));
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 2000);
    QVERIFY(form_->Doc().Voltage.SameCurve(imported));
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2001);
    QCOMPARE(form_->findChild<QTableView*>("StringGrid1")->model()->rowCount(), 2001);
    // Before the import: the empty document.
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    form_->Redo();
    QVERIFY(form_->Doc().Voltage.SameCurve(imported));
  }

  void shiftStretchIsAnUndoStep() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 1}, {2, 5}, {3, 5}}));
    form_->ClearHistory();
    auto* value = form_->findChild<QComboBox*>("ComboBox1");
    QTest::keyClick(value, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(form_->Doc().Voltage[2].Time, 6.0);
    QVERIFY(form_->IsModified());
    form_->Undo();
    QCOMPARE(form_->Doc().Voltage[2].Time, 3.0);
    QVERIFY(!form_->IsModified());
  }
};

QTEST_MAIN(EditorMouseUndoTest)
#include "editor_mouse_undo_test.moc"
