// What the editor window tells the user, driven with real keys and mouse: one message per
// refusal, gestures that a message or Escape ends, the modified mark in the title, zoom to fit
// on every axis, zoomed tick labels and previews computed for the span on screen.
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <QtTest>

#include "document/DocumentIO.h"
#include "editor/GraphForm.h"
#include "editor/PlotMouse.h"
#include "editor_fakes.h"
#include "plot/Plot.h"

using namespace ondrevo;

namespace {

// Real modal message boxes, each closed once it is the active window, so that the focus moves
// to it and back as it does for a user.
class TModalDialogs : public TScriptedDialogs {
 public:
  QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon,
                                      const QString& caption, const QString& text,
                                      QMessageBox::StandardButtons buttons) override {
    messages << text;
    QMessageBox box(icon, caption, text, buttons, parent);
    QMetaObject::invokeMethod(
        &box,
        [&box] {
          if (!QTest::qWaitFor([&box] { return box.isActiveWindow(); })) qWarning("box never active");
          box.done(QMessageBox::Ok);
        },
        Qt::QueuedConnection);
    box.exec();
    return QMessageBox::Ok;
  }
};

// The title as the window shows it.
QString ShownTitle(const QWidget* w) {
  QString t = w->windowTitle();
  return t.replace(QStringLiteral("[*]"), w->isWindowModified() ? QStringLiteral("*") : QString());
}

SegmentTable SineSegments(int count, double frequency) {
  SegmentTable t;
  for (int i = 0; i <= count; ++i) t[i] = P(10.0 * i, 5);
  for (int i = 0; i < count; ++i) t[i].Sup1 = {SuperpositionKind::Sine, frequency, frequency, 2, 2, 50, 0};
  t.SetLastPointIndex(count);
  return t;
}

}  // namespace

class EditorFeedbackTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<TGraphForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;

  TGraphForm* Make(bool modal = false) {
    TGraphFormSettings s;
    s.SettingsFolder = dir_.path();
    form_ = std::make_unique<TGraphForm>(s);
    dialogs_ = modal ? std::make_shared<TModalDialogs>() : std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->resize(1100, 650);
    form_->show();
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_.get())) qWarning("editor window not active");
    form_->New();
    return form_.get();
  }
  template <typename W>
  W* Find(const char* name) {
    W* w = form_->findChild<W*>(name);
    if (!w) qFatal("no widget %s", name);
    return w;
  }
  QWidget* Canvas() { return form_->Plot()->Canvas(); }
  QPoint Px(double t, double v) {
    QApplication::processEvents();
    TPlot* p = form_->Plot();
    return QPoint(qRound(p->ValueToPixel(PlotAxis::Bottom, t)),
                  qRound(p->ValueToPixel(PlotAxis::Left, v)));
  }
  void Hover(QPoint px) {
    QMouseEvent e(QEvent::MouseMove, px, Canvas()->mapToGlobal(px), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(Canvas(), &e);
  }
  // Ctrl + left drag: the plot zooms into the rectangle.
  void ZoomInto(QPoint from, QPoint to) {
    QTest::mousePress(Canvas(), Qt::LeftButton, Qt::ControlModifier, from);
    QTest::mouseMove(Canvas(), to);
    QTest::mouseRelease(Canvas(), Qt::LeftButton, Qt::ControlModifier, to);
  }
  QToolButton* Button(QAction* a) {
    auto* bar = form_->findChild<QToolBar*>("ToolBarDefault");
    return qobject_cast<QToolButton*>(bar->widgetForAction(a));
  }
  void SelectRow(int row) {
    auto* grid = Find<QTableView>("StringGrid1");
    const QRect rect = grid->visualRect(grid->model()->index(row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
  }

 private slots:
  void init() { QFile::remove(dir_.filePath("Ondrevo.cfg")); }
  void cleanup() { form_.reset(); }

  // 200 Hz on a 10 s segment needs 20000 points of a supply's 1000: refused once, with one
  // message, although the message box takes the focus from the field and gives it back.
  void aRefusedFrequencyIsOneMessage() {
    Make(true);
    form_->SetActiveCurve(Ramp({{0, 5}, {10, 5}}));
    SelectRow(0);
    auto* tabs = Find<QTabWidget>("PageControl1");
    tabs->setCurrentIndex(1);
    QTest::mouseClick(Find<QRadioButton>("SinusButton1"), Qt::LeftButton);
    QCOMPARE(form_->Doc().Voltage[0].Sup1.Kind, SuperpositionKind::Sine);
    auto* f1 = Find<QDoubleSpinBox>("Ue1_F1");
    f1->setFocus();
    QTRY_VERIFY(f1->hasFocus());
    f1->selectAll();
    QTest::keyClicks(f1, "200");
    QTest::keyClick(f1, Qt::Key_Return);
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages.first().contains("first superposition"));
    QCOMPARE(form_->Doc().Voltage[0].Sup1.FreqStart, 1.0);
    // Leaving the field afterwards applies what it shows again: the stored frequency, no word.
    Find<QDoubleSpinBox>("Ue1_A1")->setFocus();
    QApplication::processEvents();
    QCOMPARE(dialogs_->messages.size(), 1);
  }

  // The card switched off with the focus in a field of a segment it refuses: the box of the
  // device change takes the focus, and leaving the field adds no second message.
  void aDeviceChangeIsOneMessage() {
    Make(true);
    form_->ToggleDaq();
    form_->SetActiveCurve(SineSegments(1, 200));
    form_->Act().Table->trigger();
    SelectRow(0);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    auto* f1 = Find<QDoubleSpinBox>("Ue1_F1");
    f1->setFocus();
    QTRY_VERIFY(f1->hasFocus());
    form_->ToggleDaq();
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages.first().startsWith("voltage segment 1:"));
  }

  // Escape ends a gesture: the point that followed the mouse goes, nothing is recorded, and
  // the mouse moves nothing afterwards.
  void escapeCancelsAGesture() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 5}, {2, 5}}));
    const SegmentTable before = form_->Doc().Voltage;
    const bool undo = form_->Act().Undo->isEnabled();
    Hover(Px(5, 8));
    QTest::mousePress(Canvas(), Qt::LeftButton, {}, Px(5, 8));
    QTest::mouseMove(Canvas(), Px(6, 10));
    QVERIFY(form_->Mouse().Editor().Active());
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form_.get(),
                    Qt::Key_Escape);
    QVERIFY(!form_->Mouse().Editor().Active());
    QTest::mouseMove(Canvas(), Px(7, 12));
    QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, Px(7, 12));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), before.LastPointIndex());
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2);
    QCOMPARE(form_->Plot()->Series("U_Line")->Point(1), QPointF(2, 5));
    QCOMPARE(form_->Act().Undo->isEnabled(), undo);
    // A zoom rectangle and a pan end with Escape too, the axes as they were.
    TPlot* plot = form_->Plot();
    QTest::mousePress(Canvas(), Qt::LeftButton, Qt::ControlModifier, Px(1, 8));
    QTest::mouseMove(Canvas(), Px(3, 2));
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    QTest::mouseRelease(Canvas(), Qt::LeftButton, Qt::ControlModifier, Px(3, 2));
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), 10.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Left), 22.0);
    QTest::mousePress(Canvas(), Qt::LeftButton, Qt::AltModifier, Px(5, 5));
    QTest::mouseMove(Canvas(), Px(3, 2));
    QVERIFY(plot->AxisMax(PlotAxis::Bottom) > 10.0);
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    QTest::mouseRelease(Canvas(), Qt::LeftButton, Qt::AltModifier, Px(3, 2));
    QCOMPARE(plot->AxisMin(PlotAxis::Bottom), 0.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), 10.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Left), 22.0);
  }

  // Superpositions accepted with the card are over a supply's budget once the card is off:
  // one message lists every such segment, and it ends the gesture the mouse was in.
  void aMessageEndsAGestureAndListsEverySegment() {
    Make();
    form_->ToggleDaq();
    QVERIFY(form_->DaqChecked());
    form_->SetActiveCurve(SineSegments(3, 200));
    form_->ZoomToFit();
    QCOMPARE(dialogs_->messages.size(), 0);
    const SegmentTable before = form_->Doc().Voltage;
    Hover(Px(35, 8));
    QTest::mousePress(Canvas(), Qt::LeftButton, {}, Px(35, 8));
    QTest::mouseMove(Canvas(), Px(36, 10));
    QVERIFY(form_->Mouse().Editor().Active());
    form_->ToggleDaq();  // the card switched off
    QVERIFY(!form_->DaqChecked());
    QCOMPARE(dialogs_->messages.size(), 1);
    for (const char* segment : {"segment 1:", "segment 2:", "segment 3:"})
      QVERIFY2(dialogs_->messages.first().contains(segment), qPrintable(dialogs_->messages.first()));
    QVERIFY(!form_->Mouse().Editor().Active());
    QTest::mouseMove(Canvas(), Px(37, 12));
    QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, Px(37, 12));
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 4);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 3);
    QCOMPARE(form_->Doc().Voltage[1].Sup1.FreqStart, 200.0);  // stored values stay as they are
  }

  // Loading, undo, redo and stretching draw previews: each checks the budget.
  void everyRedrawChecksTheBudget() {
    Make();
    const QString path = dir_.filePath("dense.ovx");
    WriteDocument(path.toStdString(), SineSegments(2, 200), {});
    QVERIFY(form_->LoadDocument(path));
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages.last().contains("segment 2:"));
    auto* value = Find<QComboBox>("ComboBox1");
    QTest::keyClick(value, Qt::Key_Down, Qt::ShiftModifier);  // stretched: still too dense
    QCOMPARE(dialogs_->messages.size(), 2);
    QTest::keyClick(form_.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form_->Doc().Voltage[1].Time, 10.0);
    QCOMPARE(dialogs_->messages.size(), 3);
  }

  // The title carries "*" while the document differs from the one loaded or saved.
  void theTitleSaysModified() {
    Make();
    QCOMPARE(ShownTitle(form_.get()), QString("Unnamed1 - Ondrevo Designer"));
    form_->Act().Table->trigger();
    auto* grid = Find<QTableView>("StringGrid1");
    SelectRow(0);
    QTest::keyClicks(grid, "5");
    QTest::keyClick(grid, Qt::Key_Return);
    QTest::keyClicks(grid, "2");
    QTest::keyClick(grid, Qt::Key_Return);
    QTest::keyClick(grid, Qt::Key_Return);
    QTest::keyClicks(grid, "7");
    QTest::keyClick(grid, Qt::Key_Return);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 1);
    QVERIFY(form_->isWindowModified());
    QCOMPARE(ShownTitle(form_.get()), QString("Unnamed1* - Ondrevo Designer"));
    QTest::keyClick(form_.get(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(form_.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    QVERIFY(!form_->isWindowModified());
    QTest::keyClick(form_.get(), Qt::Key_Y, Qt::ControlModifier);
    QVERIFY(form_->isWindowModified());
    dialogs_->files.push_back(dir_.filePath("saved.ovx"));
    QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(ShownTitle(form_.get()), QString("saved.ovx - Ondrevo Designer"));
  }

  // After a mouse zoom: the labels of neighbouring ticks differ, the timescale lists show the
  // span on screen, and zoom to fit brings back all three axes.
  void zoomingKeepsLabelsTimescaleAndFit() {
    Make();
    form_->SwitchQuantity(Quantity::Current);
    form_->SetActiveCurve(Ramp({{0, 7}, {8, 7.5}}));
    form_->SwitchQuantity(Quantity::Voltage);
    form_->SetActiveCurve(Ramp({{0, 5}, {8, 6}}));
    TPlot* plot = form_->Plot();
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), 10.0);
    ZoomInto(Px(2.5, 8), Px(2.6, 2));
    ZoomInto(Px(2.55, 7), Px(2.551, 3));
    const double width = plot->AxisMax(PlotAxis::Bottom) - plot->AxisMin(PlotAxis::Bottom);
    QVERIFY2(width < 0.01, qPrintable(QString::number(width)));
    const QStringList labels = plot->TickLabels(PlotAxis::Bottom);
    for (int i = 1; i < labels.size(); ++i) QVERIFY2(labels[i] != labels[i - 1], qPrintable(labels.join(' ')));
    // The timescale lists name the smallest division that holds a tenth of the span.
    const double division =
        Find<QComboBox>("ComboBox1")->currentText().toDouble() *
        (Find<QComboBox>("ComboBox2")->currentText() == "ms/div"   ? 0.001
         : Find<QComboBox>("ComboBox2")->currentText() == "us/div" ? 0.000001
                                                                   : 1.0);
    QVERIFY2(division >= width / 10 * (1 - 1e-9) && division < width, qPrintable(QString::number(division)));
    QTest::mouseClick(Button(form_->Act().ZoomToFit), Qt::LeftButton);
    QCOMPARE(plot->AxisMin(PlotAxis::Bottom), 0.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), 10.0);
    QCOMPARE(plot->AxisMin(PlotAxis::Left), 0.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Left), 22.0);
    QCOMPARE(plot->AxisMin(PlotAxis::Right), 0.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Right), 42.0);
    QCOMPARE(Find<QComboBox>("ComboBox1")->currentText(), QString("1"));
    QCOMPARE(Find<QComboBox>("ComboBox2")->currentText(), QString("s/div"));
  }

  // 25 V typed on a 20 V model: the cells and the plot stretch beyond 20 V are marked with
  // the instrument view's wording, and the General tab shows 25, so applying it keeps 25.
  void aValueBeyondTheLimitIsMarkedAndKept() {
    Make();
    form_->Act().Table->trigger();
    auto* grid = Find<QTableView>("StringGrid1");
    SelectRow(0);
    for (const char* keys : {"5", "2", "", "25"}) {
      QTest::keyClicks(grid, keys);
      QTest::keyClick(grid, Qt::Key_Return);
    }
    QCOMPARE(form_->Doc().Voltage[1].Value, 25.0);
    const QModelIndex end = grid->model()->index(0, 4);
    QVERIFY(end.data(Qt::BackgroundRole).isValid());
    QCOMPARE(end.data(Qt::ToolTipRole).toString(),
             QString("voltage above 20 V by up to 5 V from 1.5 s to 2 s"));
    QVERIFY(!grid->model()->index(0, 1).data(Qt::ToolTipRole).isValid());  // 5 V is within
    const TPlotSeries* stretch = form_->Plot()->Series("LimitU_Line");
    QCOMPARE(stretch->Count(), 2);
    QCOMPARE(stretch->Point(0), QPointF(1.5, 20));
    QCOMPARE(stretch->Point(1), QPointF(2, 25));
    Hover(Px(1.8, 22));
    QCOMPARE(Canvas()->toolTip(), end.data(Qt::ToolTipRole).toString());
    SelectRow(0);
    auto* endValue = Find<QDoubleSpinBox>("YeditR");
    QCOMPARE(endValue->value(), 25.0);
    QCOMPARE(endValue->toolTip(), end.data(Qt::ToolTipRole).toString());
    // Another field applied: the end value stays as stored.
    auto* endTime = Find<QDoubleSpinBox>("XeditR");
    endTime->setFocus();
    endTime->selectAll();
    QTest::keyClicks(endTime, "3");
    QTest::keyClick(endTime, Qt::Key_Return);
    QCOMPARE(form_->Doc().Voltage[1].Time, 3.0);
    QCOMPARE(form_->Doc().Voltage[1].Value, 25.0);
  }

  // A 1-2 kHz sine over a 10 s segment: zoomed to 10 ms, the preview on screen is that sine,
  // many points per period reaching both peaks, not a slow ramp.
  void aZoomedSineIsASine() {
    Make();
    form_->ToggleDaq();  // the card takes any frequency
    SegmentTable t = Ramp({{0, 5}, {10, 5}});
    t[0].Sup1 = {SuperpositionKind::Sine, 1000, 2000, 4, 4, 50, 0};
    form_->SetActiveCurve(t);
    auto* unit = Find<QComboBox>("ComboBox2");
    QTest::keyClick(unit, Qt::Key_Down);  // s/div -> ms/div: 0 .. 10 ms
    QCOMPARE(unit->currentText(), QString("ms/div"));
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Bottom), 0.01);
    const TPlotSeries* line = form_->Plot()->Series("UE_Line1");
    int inside = 0;
    double lo = 1e9, hi = -1e9;
    for (const QPointF& p : line->Points()) {
      if (p.x() < 0 || p.x() > 0.01) continue;
      ++inside;
      lo = std::min(lo, p.y());
      hi = std::max(hi, p.y());
    }
    QVERIFY2(inside > 1000, qPrintable(QString::number(inside)));  // about 10 periods
    QVERIFY(hi > 6.99 && lo < 3.01);
  }
};

QTEST_MAIN(EditorFeedbackTest)
#include "editor_feedback_test.moc"
