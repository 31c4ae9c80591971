// The editor window driven as a user would: menus, toolbar buttons, timescale lists, keys, and
// dialogs answered through the dialog seam.
#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <cmath>
#include <deque>
#include <random>

#include "document/DocumentIO.h"
#include "editor/GraphForm.h"
#include "editor_fakes.h"
#include "plot/Plot.h"

using namespace ondrevo;

class EditorWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  std::unique_ptr<TGraphForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;
  QStringList storedRecent_;

  TGraphForm* Make(TGraphFormSettings s = {}) {
    if (s.SettingsFolder.isEmpty()) s.SettingsFolder = dir_.path();
    s.StoreRecentFiles = [this](const QStringList& l) { storedRecent_ = l; };
    form_ = std::make_unique<TGraphForm>(s);
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->show();
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_.get())) qWarning("editor window not active");
    return form_.get();
  }
  QString Panel(int i) {
    return form_->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->text();
  }
  QComboBox* Combo(const char* name) { return form_->findChild<QComboBox*>(name); }
  QToolButton* Button(QAction* a) {
    auto* bar = form_->findChild<QToolBar*>("ToolBarDefault");
    return qobject_cast<QToolButton*>(bar->widgetForAction(a));
  }
  QAction* Action(const char* name) { return form_->findChild<QAction*>(name); }
  // Draws curves as if they had been edited.
  void SetCurves(const SegmentTable& u, const SegmentTable& i) {
    form_->SwitchQuantity(Quantity::Current);
    form_->SetActiveCurve(i);
    form_->SwitchQuantity(Quantity::Voltage);
    form_->SetActiveCurve(u);
  }
  QString WriteFile(const QString& name, const SegmentTable& u, const SegmentTable& i = {}) {
    const QString path = dir_.filePath(name);
    WriteDocument(path.toStdString(), u, i);
    return path;
  }

 private slots:
  void init() { QFile::remove(dir_.filePath("Ondrevo.cfg")); }
  void cleanup() { form_.reset(); }

  void startsEmptyWithTheDefaults() {
    Make();
    QCOMPARE(form_->windowTitle(), QString("Ondrevo Designer"));
    QCOMPARE(form_->minimumSize(), QSize(800, 400));
    auto* plot = form_->findChild<TPlot*>("Plot1");
    QVERIFY(plot);
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), 10.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Left), 22.0);
    QCOMPARE(plot->AxisMax(PlotAxis::Right), 42.0);
    QCOMPARE(plot->AxisCaption(PlotAxis::Left), QString("Voltage [V]"));
    QCOMPARE(plot->TickPositions(PlotAxis::Bottom).size(), std::size_t(11));
    QVERIFY(plot->Series("UE_Line50") && plot->Series("Mark_Line50") && plot->Series("Mark"));
    QVERIFY(!plot->Series("UE_Line51"));
    QCOMPARE(Combo("ComboBox1")->currentText(), QString("1"));
    QCOMPARE(Combo("ComboBox2")->currentText(), QString("s/div"));
    QCOMPARE(Combo("SnapX")->currentText(), QString("10"));
    QVERIFY(!form_->findChild<QWidget*>("Panel_Right")->isVisible());
    // "&Table" follows the hidden panel: one click shows it.
    QVERIFY(!form_->TableChecked());
    form_->Act().Table->trigger();
    QVERIFY(form_->findChild<QWidget*>("Panel_Right")->isVisible());
    form_->Act().Table->trigger();
    QVERIFY(!form_->Act().Undo->isEnabled());
    QCOMPARE(Panel(1), QString());
    QCOMPARE(form_->ActiveLimits(), DeviceLimits{});
    // A hint reaches panel 0 while the mouse is over a control.
    QStatusTipEvent tip(form_->Act().New->statusTip());
    QApplication::sendEvent(form_.get(), &tip);
    QCOMPARE(Panel(0), QString("Create a new document"));
    // The control bars' context menu offers the two toolbar toggles.
    std::unique_ptr<QMenu> popup(form_->createPopupMenu());
    QCOMPARE(popup->actions().size(), 2);
    form_->Act().ToggleTimescale->trigger();
    QVERIFY(!form_->findChild<QToolBar*>("ToolBarTimescale")->isVisible());
  }

  void newAfterNewCountsUntitled() {
    Make();
    QTest::mouseClick(Button(form_->Act().New), Qt::LeftButton);
    QCOMPARE(form_->windowTitle(), QString("Unnamed1[*] - Ondrevo Designer"));
    QTest::keyClick(form_.get(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(form_->DocumentName(), QString("Unnamed2"));
    QCOMPARE(form_->windowTitle(), QString("Unnamed2[*] - Ondrevo Designer"));
    QVERIFY(!form_->TableChecked());
  }

  void zoomToFitPicksTheTimescale_data() {
    QTest::addColumn<double>("uEnd");
    QTest::addColumn<double>("iEnd");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("axisMax");
    QTest::newRow("7 s") << 7.0 << 0.0 << "1"
                         << "s/div" << 10.0;
    QTest::newRow("4 ms") << 0.004 << 0.0 << "500"
                          << "us/div" << 0.005;
    QTest::newRow("8 s and 12 s") << 8.0 << 12.0 << "2"
                                  << "s/div" << 20.0;
    QTest::newRow("9000 s") << 9000.0 << 0.0 << "1000"
                            << "s/div" << 10000.0;
  }
  void zoomToFitPicksTheTimescale() {
    QFETCH(double, uEnd);
    QFETCH(double, iEnd);
    QFETCH(QString, value);
    QFETCH(QString, unit);
    QFETCH(double, axisMax);
    Make();
    SetCurves(Ramp({{0, 1}, {uEnd, 5}}), iEnd > 0 ? Ramp({{0, 1}, {iEnd, 2}}) : SegmentTable{});
    QTest::mouseClick(Button(form_->Act().ZoomToFit), Qt::LeftButton);
    QCOMPARE(Combo("ComboBox1")->currentText(), value);
    QCOMPARE(Combo("ComboBox2")->currentText(), unit);
    auto* plot = form_->Plot();
    QCOMPARE(plot->AxisMin(PlotAxis::Bottom), 0.0);
    QVERIFY(qAbs(plot->AxisMax(PlotAxis::Bottom) - axisMax) < axisMax * 1e-12);
    QCOMPARE(plot->AxisMax(PlotAxis::Left), 22.0);  // voltage: max in effect + 2
    QCOMPARE(form_->TimeSpan(), plot->AxisMax(PlotAxis::Bottom));
  }

  void zoomToFitOnCurrentUsesThePeak() {
    Make();
    SetCurves(Ramp({{0, 1}, {1, 5}}), Ramp({{0, 1}, {2, 3}}));
    form_->Act().Current->trigger();
    form_->Act().ZoomToFit->trigger();
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Right), 4.0);
    QVERIFY(form_->Plot()->GridVisible(PlotAxis::Right));
    QVERIFY(!form_->Plot()->GridVisible(PlotAxis::Left));
  }

  void timescaleListsSetTheAxis() {
    Make();
    auto* unit = Combo("ComboBox2");
    unit->setCurrentIndex(unit->findText("ms/div"));
    auto* value = Combo("ComboBox1");
    value->setCurrentIndex(value->findText("500"));
    auto* plot = form_->Plot();
    QCOMPARE(plot->AxisMax(PlotAxis::Bottom), 5.0);
    // 500 ms/div spans 5 s: the labels and caption switch to seconds.
    QCOMPARE(plot->AxisCaption(PlotAxis::Bottom), QString("Time [s]"));
    QCOMPARE(plot->TickLabels(PlotAxis::Bottom).at(5), QString("2.50"));
    value->setCurrentIndex(value->findText("50"));
    QCOMPARE(plot->AxisCaption(PlotAxis::Bottom), QString("Time [ms]"));
    QCOMPARE(plot->TickLabels(PlotAxis::Bottom).at(5), QString("250.00"));
    QCOMPARE(form_->HorizontalSnapStep(), 10 * 0.5 * 0.001);
  }

  void shiftStretchesBothCurves() {
    Make();
    SegmentTable u = Ramp({{0, 1}, {2, 5}, {3, 5}});
    u[1].Sup1.Kind = SuperpositionKind::Sine;
    u[1].Sup1.FreqStart = 50;
    u[1].Sup1.FreqEnd = 10;
    SetCurves(u, Ramp({{0, 1}, {4, 2}}));
    auto* value = Combo("ComboBox1");
    QCOMPARE(value->currentText(), QString("1"));
    QTest::keyClick(value, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(value->currentText(), QString("2"));
    const Document& d = form_->Doc();
    QCOMPARE(d.Voltage[1].Time, 4.0);
    QCOMPARE(d.Voltage[2].Time, 6.0);
    QCOMPARE(d.Voltage[1].Sup1.FreqStart, 25.0);
    QCOMPARE(d.Voltage[1].Sup1.FreqEnd, 5.0);
    QCOMPARE(d.Current[1].Time, 8.0);
    QCOMPARE(d.Working[2].Time, 6.0);
    QCOMPARE(form_->Plot()->Series("I_Line")->Point(1).x(), 8.0);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Bottom), 20.0);
    // Without Shift only the axis changes.
    QTest::keyClick(value, Qt::Key_Up);
    QCOMPARE(d.Voltage[2].Time, 6.0);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Bottom), 10.0);
  }

  void fmaxSetsTheDaqBudget() {
    TGraphFormSettings s;
    s.Switches = ParseEditorSwitches({"\\FMAX800"});
    Make(s);
    form_->ToggleDaq();
    QCOMPARE(form_->PointBudget(), 12000);
    s.Switches = ParseEditorSwitches({"\\fmax20000"});
    Make(s);
    QCOMPARE(form_->PointBudget(), 1000);
    form_->Act().Daq->trigger();
    QCOMPARE(form_->PointBudget(), 20000);
  }

  void remoteControlNeedsASegment() {
    Make();
    QVERIFY(!form_->Act().RemoteControl->isEnabled());
    SegmentTable single = Ramp({{0, 1}});
    single.SetLastPointIndex(0);
    form_->SetActiveCurve(single);
    QVERIFY(!form_->Act().RemoteControl->isEnabled());
    SetCurves(Ramp({{0, 1}, {1, 2}}), {});
    QVERIFY(form_->Act().RemoteControl->isEnabled());
    QSignalSpy spy(form_.get(), &TGraphForm::remoteControlRequested);
    QTest::mouseClick(Button(form_->Act().RemoteControl), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
  }

  void deleteAllOnlyWithTableChecked() {
    Make();
    form_->New();
    SetCurves(Ramp({{0, 1}, {1, 2}}), {});
    QVERIFY(!form_->TableChecked());
    QTest::mouseClick(Button(form_->Act().Voltage), Qt::LeftButton);
    QVERIFY(form_->TableChecked());  // the active curve has points: the table is shown
    form_->Act().Table->trigger();   // user hides the table
    QVERIFY(!form_->TableChecked());
    QTest::mouseClick(Button(form_->Act().DeleteAll), Qt::LeftButton);
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2);
    form_->Act().Table->trigger();
    QVERIFY(form_->findChild<QWidget*>("Panel_Right")->isVisible());
    form_->Act().DeleteAll->trigger();
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 0);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    QVERIFY(!form_->TableChecked());
    QVERIFY(!form_->findChild<QWidget*>("Panel_Right")->isVisible());
    QVERIFY(!form_->Act().RemoteControl->isEnabled());
  }

  void deviceSelections() {
    Make();
    QVERIFY(form_->findChild<QAction*>("actVariant7341_20")->isChecked());
    Action("actVariant5203_32")->trigger();
    QCOMPARE(form_->ActiveLimits().MaxVoltage, 32.0);
    QCOMPARE(form_->ActiveLimits().MaxCurrent, 20.0);
    QCOMPARE(form_->ActiveLimits().VoltageResolution, 0.002);
    QCOMPARE(form_->ActiveLimits().CurrentResolution, 0.002);
    QCOMPARE(form_->ActiveLimits().MinDwellTime, 0.0002);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Left), 34.0);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Right), 22.0);
    QCOMPARE(Panel(1), QString("KSV 5203-32"));
    QVERIFY(!Action("actVariant7341_20")->isChecked());
    QVERIFY(!Action("actInterfaceUSB")->isEnabled());

    Action("actVariant6142_420")->trigger();
    QCOMPARE(form_->ActiveLimits().MaxCurrent, 7.5);
    QCOMPARE(form_->ActiveLimits().VoltageResolution, 0.1);
    QCOMPARE(form_->ActiveLimits().CurrentResolution, 0.002);
    QCOMPARE(form_->ActiveLimits().MinDwellTime, 0.05);

    Action("actVariant7341_20")->trigger();
    QCOMPARE(form_->ActiveLimits().VoltageResolution, 0.01);
    QCOMPARE(form_->ActiveLimits().CurrentResolution, 0.005);
    QVERIFY(Action("actInterfaceUSB")->isEnabled() && Action("actInterfaceRS232")->isEnabled());

    form_->Act().Daq->trigger();
    QCOMPARE(form_->ActiveLimits().CurrentResolution, 0.0001);
    QCOMPARE(form_->PointBudget(), 12000);
    QCOMPARE(form_->SelectedDeviceLimits().CurrentResolution, 0.005);
    form_->Act().Daq->trigger();
    QCOMPARE(form_->ActiveLimits().CurrentResolution, 0.005);
    QCOMPARE(form_->PointBudget(), 1000);

    Action("actInterfaceRS232")->trigger();
    QCOMPARE(Panel(2), QString("RS232"));
    Action("actVariant5201_16")->trigger();
    QVERIFY(Action("actInterfaceNone")->isChecked());
    QCOMPARE(form_->Interface(), InterfaceChoice::None);
    QCOMPARE(Panel(2), QString());
  }

  void deviceConfigurationSurvivesARestart() {
    Make();
    Action("actVariant5213_100")->trigger();
    form_->Act().Daq->trigger();
    Action("actInterfaceGPIB")->trigger();
    QVERIFY(form_->CloseDocument());
    QVERIFY(QFile::exists(dir_.filePath("Ondrevo.cfg")));
    Make();
    QVERIFY(Action("actVariant5213_100")->isChecked());
    QVERIFY(form_->findChild<QMenu*>("mnuModel5213")->menuAction()->isChecked());
    QVERIFY(form_->DaqChecked());
    QCOMPARE(Panel(1), QString("KSV 5213-100"));
    QCOMPARE(Panel(2), QString("GPIB"));
    QCOMPARE(form_->SelectedDeviceLimits().MaxCurrent, 52.0);
    QCOMPARE(form_->ActiveLimits().CurrentResolution, 0.0001);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Left), 102.0);

    // A damaged file gives the defaults.
    QFile f(dir_.filePath("Ondrevo.cfg"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("12\n9\nx\n");
    f.close();
    Make();
    QCOMPARE(form_->ActiveLimits(), DeviceLimits{});
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Right), 42.0);
    QCOMPARE(Panel(1), QString());

    // No settings folder: nothing written, no complaint.
    TGraphFormSettings s;
    s.SettingsFolder = dir_.filePath("missing");
    Make(s);
    QVERIFY(form_->CloseDocument());
    QVERIFY(!QFile::exists(dir_.filePath("missing/Ondrevo.cfg")));
  }

  void saveNewDocumentAsksForAName() {
    Make();
    form_->New();
    SetCurves(Ramp({{0, 1}, {1.5, 12}}), {});
    form_->RecordStep();
    QVERIFY(form_->IsModified());
    const QString target = dir_.filePath("first");
    dialogs_->files = {target};
    QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(dialogs_->fileTitles, QStringList{"Save file as..."});
    QVERIFY(QFile::exists(target + ".ovx"));
    QCOMPARE(form_->windowTitle(), QString("first.ovx[*] - Ondrevo Designer"));
    QVERIFY(!form_->IsModified());
    QVERIFY(!form_->Act().Undo->isEnabled());
    QCOMPARE(form_->RecentFiles().value(0), target + ".ovx");
    QCOMPARE(storedRecent_.value(0), target + ".ovx");
    // Saved again under its name without a dialog.
    dialogs_->fileTitles.clear();
    QVERIFY(form_->Save());
    QVERIFY(dialogs_->fileTitles.isEmpty());
  }

  void aLoadedDocumentShowsItsOwnRowsInTheTable() {
    Make();
    // The table is shown by the first load; the second load's rows must be its own, with the
    // times and values a grid shows (minutes, hours, milliseconds, four decimals).
    QVERIFY(form_->LoadDocument(WriteFile("short.ovx", Ramp({{0, 0}, {1, 10}}))));
    QVERIFY(form_->TableChecked());
    const SegmentTable longer =
        Ramp({{0, 1.25}, {0.0125, 2}, {612.0125, 3.00005}, {36613.25, 4}, {36614, 4}});
    QVERIFY(form_->LoadDocument(WriteFile("long.ovx", longer)));
    const TEditorCore& core = form_->Core();
    QCOMPARE(core.RowCount(), 5);
    QVERIFY(core.Rows() == TableToGrid(core.Working()));
    QCOMPARE(core.Cell(1, kColDuration), std::string("10.20000"));
    QCOMPARE(core.Cell(1, kColUnit), std::string("min"));
    auto* view = form_->findChild<QTableView*>();
    QVERIFY(view);
    QCOMPARE(view->model()->rowCount(), 5);
    QCOMPARE(core.SelectedRow(), 0);
  }

  void everyCellOfALoadedDocumentShowsItsExactText() {
    // The grid formats the cells on screen when they are drawn: every one of them must read as
    // the texts formatted for the whole curve at once, in the user's decimal separator.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::mt19937 rng(22);
    SegmentTable t;
    double time = 0;
    for (int p = 0; p < 3000; ++p) {
      t[p].Time = time;
      t[p].Value = std::uniform_int_distribution<int>(0, 200000)(rng) / 10000.0 + (p % 3) * 0.00005;
      if (p % 97 == 0) t[p].Sup1 = {SuperpositionKind::Sine, 0.5 * p, 1e3, 1, 2, 50, p % 360};
      static const double kDurations[] = {0.0001, 0.1,   0.09999999, 600,      600.00001,
                                          36000,  36001, 1e-6,       12.345678};
      time +=
          p % 2 ? kDurations[p % 9] : std::pow(10, std::uniform_real_distribution<>(-5, 4)(rng));
    }
    t.SetLastPointIndex(2999);
    Make();
    QVERIFY(form_->LoadDocument(WriteFile("exact.ovx", t)));
    const std::vector<GridRow> exact = TableToGrid(form_->Core().Working());
    QAbstractItemModel* model =
        form_->findChild<QTableView*>(QStringLiteral("StringGrid1"))->model();
    QCOMPARE(model->rowCount(), static_cast<int>(exact.size()));
    for (int r = 0; r < model->rowCount(); ++r) {
      for (int c = 0; c < model->columnCount(); ++c) {
        QString want =
            c == kColNumber ? QString::number(r + 1) : QString::fromStdString(exact[r][c]);
        if (c == kColValue || c == kColDuration || c == kColEndValue) want.replace('.', ',');
        const QString shown = model->data(model->index(r, c), Qt::DisplayRole).toString();
        if (shown != want) {
          QLocale::setDefault(before);
          QFAIL(qPrintable(
              QStringLiteral("row %1 column %2 shows %3, not %4").arg(r).arg(c).arg(shown, want)));
        }
      }
    }
    QLocale::setDefault(before);
  }

  void aFileChangedOnDiskIsNotReplacedWithoutAsking() {
    Make();
    const QString path = WriteFile("shared.ovx", Ramp({{0, 0}, {1, 10}}));
    QVERIFY(form_->LoadDocument(path));
    SetCurves(Ramp({{0, 0}, {1, 20}}), {});
    form_->RecordStep();
    // Someone else writes the file meanwhile (a new file in its place, as an editor saves).
    const QString theirs = WriteFile("theirs.ovx", Ramp({{0, 0}, {1, 30}}));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(theirs, path));
    auto valueOnDisk = [&] {
      SegmentTable u, i;
      ReadDocumentFile(path.toStdString(), u, i);
      return u[1].Value;
    };
    // No: not replaced; the name dialog comes instead (cancelled here).
    dialogs_->answers = {QMessageBox::No};
    QVERIFY(!form_->Save());
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].startsWith("The file has been changed on disk"));
    QCOMPARE(dialogs_->fileTitles, QStringList{"Save file as..."});
    QCOMPARE(valueOnDisk(), 30.0);
    QVERIFY(form_->IsModified());
    // The prompt on closing asks the same before it saves.
    dialogs_->messages.clear();
    dialogs_->answers = {QMessageBox::Yes, QMessageBox::No};
    QVERIFY(!form_->CloseDocument());
    QCOMPARE(dialogs_->messages.size(), 2);
    QCOMPARE(valueOnDisk(), 30.0);
    // Yes replaces it; a file this window saved itself is then saved again without asking.
    dialogs_->messages.clear();
    dialogs_->answers = {QMessageBox::Yes};
    QVERIFY(form_->Save());
    QCOMPARE(valueOnDisk(), 20.0);
    SetCurves(Ramp({{0, 0}, {1, 25}}), {});
    form_->RecordStep();
    QVERIFY(form_->Save());
    QCOMPARE(dialogs_->messages.size(), 1);
    QCOMPARE(valueOnDisk(), 25.0);
  }

  void readOnlyDocumentSavesUnderANewName() {
    Make();
    const QString ro = WriteFile("ro.ovx", Ramp({{0, 0}, {1, 10}}));
    QFile::setPermissions(ro, QFile::ReadOwner);
    if (!IsReadOnlyFile(ro.toStdString())) QSKIP("running as a user who can write anything");
    QVERIFY(form_->LoadDocument(ro));
    QCOMPARE(form_->windowTitle(), QString("ro.ovx[*] (read-only) - Ondrevo Designer"));
    const QString other = dir_.filePath("other.ovx");
    dialogs_->files = {ro, other};  // first the read-only file again, then another
    QVERIFY(form_->Save());
    QCOMPARE(dialogs_->messages,
             QStringList{"The file is read-only. Please choose a different filename."});
    QCOMPARE(dialogs_->fileTitles.size(), 2);
    QVERIFY(QFile::exists(other));
    QCOMPARE(form_->windowTitle(), QString("other.ovx[*] - Ondrevo Designer"));
    SegmentTable u, i;
    ReadDocumentFile(other.toStdString(), u, i);
    QCOMPARE(u[1].Value, 10.0);
    QFile::setPermissions(ro, QFile::ReadOwner | QFile::WriteOwner);
  }

  void promptCancelKeepsTheDocument() {
    Make();
    form_->New();
    SetCurves(Ramp({{0, 1}, {1, 2}}), {});
    form_->RecordStep();
    dialogs_->answers = {QMessageBox::Cancel};
    form_->Act().New->trigger();
    QCOMPARE(form_->DocumentName(), QString("Unnamed1"));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 1);
    // Yes, then cancelling the save dialog cancels too; the window stays open.
    dialogs_->answers = {QMessageBox::Yes};
    QVERIFY(!form_->CloseDocument());
    QVERIFY(form_->isVisible());
    // No discards.
    dialogs_->answers = {QMessageBox::No};
    QSignalSpy closed(form_.get(), &TGraphForm::closed);
    form_->Act().Close->trigger();
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form_->isVisible());
  }

  void exitAsksToEndTheProgram() {
    Make();
    QSignalSpy exit(form_.get(), &TGraphForm::exitRequested);
    form_->Act().Exit->trigger();
    QCOMPARE(exit.count(), 1);
  }

  void openLoadsAndRemembers() {
    Make();
    SegmentTable u = Ramp({{0, 0}, {2, 10}, {3, 10}});
    const QString path = WriteFile("doc.ovx", u, Ramp({{0, 1}, {5, 1}}));
    QStringList previews;
    form_->WritePreviewImage = [&](const QString& p) { previews << p; };
    dialogs_->files = {path};
    QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(dialogs_->fileTitles, QStringList{"Open file..."});
    QCOMPARE(form_->windowTitle(), QString("doc.ovx[*] - Ondrevo Designer"));
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 3);
    QCOMPARE(form_->Plot()->Series("I_Line")->Count(), 2);
    QCOMPARE(form_->RecentFiles().value(0), path);
    QCOMPARE(previews, QStringList{path});
    QVERIFY(form_->Act().RemoteControl->isEnabled());
    QVERIFY(!form_->IsModified());
  }

  void failedLoadLeavesAnUnnamedDocument() {
    Make();
    const QString bad = dir_.filePath("bad.ovx");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(
        "<?xml version=\"1.0\"?>\n<ondrevo><arbdata><waveform_list>\n"
        "<waveform type=\"voltage\"><segment duration=\"1\" start=\"0\" end=\"2\"/>\n"
        "<segment duration=\"x\" start=\"0\" end=\"2\"/>\n");
    f.close();
    const QByteArray before = [&] {
      QFile r(bad);
      r.open(QIODevice::ReadOnly);
      return r.readAll();
    }();
    QVERIFY(!form_->LoadDocument(bad));
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY(dialogs_->messages[0].contains("bad.ovx"));
    QVERIFY(dialogs_->messages[0].contains(":4:"));  // line of the bad number
    QVERIFY(form_->DocumentName().startsWith("Unnamed"));
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 0);
    // Save cannot reach the damaged file: it asks for a name (cancelled here).
    QVERIFY(!form_->Save());
    QFile r(bad);
    QVERIFY(r.open(QIODevice::ReadOnly));
    QCOMPARE(r.readAll(), before);
  }

  void aFifoInPlaceOfTheDeviceConfigurationDoesNotBlock() {
    const QString cfg = dir_.filePath("Ondrevo.cfg");
    QCOMPARE(::mkfifo(QFile::encodeName(cfg).constData(), 0600), 0);
    Make();  // reads the configuration: a FIFO without a writer would block here for ever
    QVERIFY(form_->CloseDocument());  // and writing it is refused, not blocked on
    QVERIFY(QFileInfo(cfg).isFile() == false && QFileInfo::exists(cfg));
    QFile::remove(cfg);
  }

  void aHugeBadAttributeGivesAShortMessage() {
    Make();
    const QString bad = dir_.filePath("huge.ovx");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<ondrevo><arbdata><waveform_list><waveform type=\"voltage\"><segment duration=\"");
    f.write(QByteArray(20 << 20, '7') + "x&#10;forged\" start=\"0\" end=\"1\"/>");
    f.close();
    QVERIFY(!form_->LoadDocument(bad));
    QCOMPARE(dialogs_->messages.size(), 1);
    QVERIFY2(dialogs_->messages[0].size() < 600, qPrintable(dialogs_->messages[0].left(600)));
    QVERIFY(!dialogs_->messages[0].contains("\nforged"));
  }

  void recentListKeepsNineAndAsksForMissingFiles() {
    TGraphFormSettings s;
    s.LoadRecentFiles = [] { return QStringList{}; };
    Make(s);
    for (int i = 1; i <= 11; ++i) form_->AddRecentFile(QStringLiteral("/no/such/doc%1.ovx").arg(i));
    QCOMPARE(form_->RecentFiles().size(), 9);
    QCOMPARE(form_->RecentFiles().first(), QString("/no/such/doc11.ovx"));
    auto* menu = form_->findChild<QMenu*>("mnuRecent");
    QCOMPARE(menu->actions().first()->text(), QString("&1 /no/such/doc11.ovx"));
    QCOMPARE(menu->actions().size(), 9 + 2);  // entries, separator, "&Clear history"
    dialogs_->answers = {QMessageBox::No};
    form_->findChild<QAction*>("actRecent2")->trigger();
    QCOMPARE(dialogs_->messages.last(),
             QString("The file can not be found. Remove it from history?"));
    QCOMPARE(form_->RecentFiles().size(), 9);
    dialogs_->answers = {QMessageBox::Yes};
    form_->findChild<QAction*>("actRecent2")->trigger();
    QCOMPARE(form_->RecentFiles().size(), 8);
    QVERIFY(!form_->RecentFiles().contains("/no/such/doc10.ovx"));
    QCOMPARE(storedRecent_, form_->RecentFiles());
    // An existing file moves to the top and loads.
    const QString path = WriteFile("r.ovx", Ramp({{0, 0}, {1, 1}}));
    form_->AddRecentFile(path);
    form_->AddRecentFile("/no/such/x.ovx");
    form_->findChild<QAction*>("actRecent2")->trigger();
    QCOMPARE(form_->RecentFiles().first(), path);
    QCOMPARE(form_->DocumentName(), QString("r.ovx"));
    form_->Act().ClearHistory->trigger();
    QVERIFY(form_->RecentFiles().isEmpty());
    // A list that cannot be read starts empty.
    s.LoadRecentFiles = []() -> QStringList { throw std::runtime_error("broken"); };
    Make(s);
    QVERIFY(form_->RecentFiles().isEmpty());
  }

  void switchQuantityMovesTheWorkingTable() {
    Make();
    SetCurves(Ramp({{0, 1}, {1, 2}}), Ramp({{0, 3}, {2, 4}, {3, 4}}));
    QTest::mouseClick(Button(form_->Act().Current), Qt::LeftButton);
    QCOMPARE(form_->ActiveQuantity(), Quantity::Current);
    QVERIFY(form_->findChild<QRadioButton*>("rbCurrent")->isChecked());
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 2);
    QCOMPARE(form_->Plot()->AxisMax(PlotAxis::Left), 22.0);
    QVERIFY(form_->TableChecked());
    QCOMPARE(form_->findChild<QTableView*>("StringGrid1")->model()->rowCount(), 3);
    QCOMPARE(form_->Plot()->Series("Mark")->Axis(), PlotAxis::Right);
    QCOMPARE(form_->Plot()->Series("Mark")->Color(), QColor(Qt::blue));
    QTest::mouseClick(Button(form_->Act().Voltage), Qt::LeftButton);
    QCOMPARE(form_->Doc().Working.LastPointIndex(), 1);
    QCOMPARE(form_->Doc().Current.LastPointIndex(), 2);
  }

  void rebuildStopsAtATimeGoingBack() {
    Make();
    form_->SetActiveCurve(Ramp({{0, 1}, {2, 2}, {1, 3}, {4, 4}}));
    QCOMPARE(form_->Plot()->Series("U_Line")->Count(), 2);
    QCOMPARE(form_->Doc().Voltage.LastPointIndex(), 1);
    // The cut is a rule of the edit, told to the user, not a side effect of drawing.
    QCOMPARE(dialogs_->messages.size(), 1);
  }

  void fiftyOnePreviewSlotsDropTheLast() {
    Make();
    SegmentTable t;
    for (int i = 0; i <= 51; ++i) t[i] = P(double(i), 1);
    t.SetLastPointIndex(51);
    for (int i = 0; i < 51; ++i) t[i].Sup1.Kind = SuperpositionKind::Sine;
    form_->SetActiveCurve(t);
    QCOMPARE(form_->Doc().Voltage[49].Sup1.Kind, SuperpositionKind::Sine);
    form_->ZoomToFit();  // previews are computed for the span on screen
    QVERIFY(form_->Plot()->Series("UE_Line50")->Count() > 2);  // slot 49 draws segment 49
    QCOMPARE(form_->Doc().Voltage[50].Sup1.Kind, SuperpositionKind::None);
    QCOMPARE(dialogs_->messages.size(), 1);
  }

  void previewImageHasTheCacheSize() {
    Make();
    SetCurves(Ramp({{0, 1}, {5, 10}}), {});
    const QString caption = form_->Plot()->AxisCaption(PlotAxis::Bottom);
    const QImage image = form_->RenderPreviewImage();
    QCOMPARE(image.size(), QSize(115, 56));
    QCOMPARE(form_->Plot()->AxisCaption(PlotAxis::Bottom), caption);
    QCOMPARE(form_->Plot()->AxisCaption(PlotAxis::Left), QString("Voltage [V]"));
  }
};

QTEST_MAIN(EditorWindowTest)
#include "editor_window_test.moc"
