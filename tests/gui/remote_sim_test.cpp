// The remote window against the simulated supplies on pseudo-terminals: the whole road from
// the device search to playback and disconnection, through the real driver and serial port.
#include <QAction>
#include <QCheckBox>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>

#include "document/SegmentTable.h"
#include "remote/QtMainThread.h"
#include "remote/RemoteForm.h"
#include "remote_fakes.h"
#include "sim/Demo.h"

using namespace ondrevo;
using namespace ondrevo::test;

class RemoteSimTest : public QObject {
  Q_OBJECT
  SegmentTable voltage_, current_;
  std::unique_ptr<sim::TDemoInstruments> demo_;
  std::unique_ptr<TRemoteForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;

  QAction* Action(const char* name) { return form_->findChild<QAction*>(name); }
  QTreeWidget* Tree() { return form_->findChild<QTreeWidget*>("DeviceTreeView"); }
  QTreeWidgetItem* Find(const QString& caption) { return test::FindDevice(*form_, caption); }
  void Select(const QString& caption) {
    QTreeWidgetItem* item = Find(caption);
    QVERIFY2(item, qPrintable(caption));
    Tree()->setCurrentItem(item);
  }
  // A child of the named item (several devices have an "Analog Out 1").
  void Select(const QString& parent, const QString& child) {
    QTreeWidgetItem* item = Find(parent);
    QVERIFY2(item, qPrintable(parent));
    for (int k = 0; k < item->childCount(); ++k)
      if (item->child(k)->text(0) == child) return Tree()->setCurrentItem(item->child(k));
    QFAIL(qPrintable(parent + " has no " + child));
  }
  std::vector<std::string> Received(int instrument) {
    return demo_->Fronts()[static_cast<size_t>(instrument)]->Instrument()->ReceivedLines();
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  void ConnectAndUpload(const QString& caption) {
    Select(caption);
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
    Action("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form_->IsUploaded(), 20000);
  }

 private slots:
  void initTestCase() {
    InstallQtMainThread();
    // Two seconds per burst, played four times faster.
    voltage_[0].Time = 0.0;
    voltage_[0].Value = 0.0;
    voltage_[1].Time = 1.0;
    voltage_[1].Value = 5.0;
    voltage_[2].Time = 2.0;
    voltage_[2].Value = 2.0;
    voltage_.SetLastPointIndex(2);
    current_[0].Time = 0.0;
    current_[0].Value = 1.0;
    current_[1].Time = 2.0;
    current_[1].Value = 1.0;
    current_.SetLastPointIndex(1);
    demo_ = std::make_unique<sim::TDemoInstruments>(4.0);
  }
  void cleanupTestCase() { demo_.reset(); }

  void init() {
    form_ = std::make_unique<TRemoteForm>();
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->SetDocument(&voltage_, &current_);
    form_->show();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->OutputLines().isEmpty() && !form_->IsRefreshing(), 20000);
  }
  void cleanup() {
    if (form_->IsConnected()) {
      dialogs_->Answers = {QMessageBox::Yes, QMessageBox::Yes};
      form_->close();
      QTRY_VERIFY_WITH_TIMEOUT(!form_->IsConnected(), 10000);
    }
    form_.reset();
  }

  void discoveryFindsBothDemoSupplies() {
    QCOMPARE(form_->OutputLines(), QStringList{"Searching devices... Done."});
    // Every bus of the demo, GPIB and USB before the serial ports, the card and the interface
    // products after them.
    QCOMPARE(Tree()->topLevelItemCount(), 7);
    QCOMPARE(Tree()->topLevelItem(0)->text(0), QString("GPIB0"));
    QCOMPARE(Tree()->topLevelItem(1)->text(0), QString("USB"));
    QCOMPARE(Tree()->topLevelItem(2)->text(0), QString("COM"));
    QCOMPARE(Tree()->topLevelItem(3)->text(0), QString("LAN"));
    QCOMPARE(Tree()->topLevelItem(4)->text(0), QString("NI-DAQmx"));
    QCOMPARE(Tree()->topLevelItem(4)->child(0)->childCount(), 2);  // two card outputs
    QCOMPARE(Tree()->topLevelItem(5)->text(0), QString("Analog"));
    QCOMPARE(Tree()->topLevelItem(5)->child(0)->text(0), QString("KSV 3720-40, SN 372040001"));
    QCOMPARE(Tree()->topLevelItem(6)->text(0), QString("TTL"));
    QCOMPARE(Tree()->topLevelItem(0)->child(0)->text(0), QString("KSV 5206-40, SN 520640001"));
    QCOMPARE(Tree()->topLevelItem(1)->child(0)->text(0), QString("KSV 6141-80"));
    QVERIFY(!Tree()
                 ->findItems("KSV 7342-80, SN 734280001", Qt::MatchExactly | Qt::MatchRecursive)
                 .isEmpty());
    Select("KSV 7341-20, SN 734120001");
    QVERIFY(Action("Connect")->isEnabled());
  }

  void connectUploadPlayThreeBurstsDisconnect() {
    ConnectAndUpload("KSV 7341-20, SN 734120001");
    QCOMPARE(form_->StatusText(0), QString("Ready"));
    form_->findChild<QSpinBox*>("EditBurst")->setValue(3);
    Action("Play")->trigger();
    QVERIFY(form_->IsRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsRunning(), 30000);
    QCOMPARE(form_->StatusText(0), QString("Stopped"));
    QCOMPARE(form_->StatusText(1), QString("Burst 3 of 3"));
    QVERIFY(Action("Play")->isEnabled());
    Action("Disconnect")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsConnected(), 10000);
    const QStringList expected{"Searching devices... Done.",
                               "Connecting to KSV 7341-20 (serial number 734120001)... Done.",
                               QString::fromUtf8("The device will play: 200 of 1000 points \u00b7 "
                                                 "max deviation 0.05 V at 0.81 s \u00b7 max "
                                                 "deviation 0 A at 0 s"),
                               "Preparing waveform for device...",
                               "Uploading waveform data... Done.",
                               "Setting burst",
                               "Executing waveform",
                               "Execution finished",
                               "Disconnected from device."};
    QCOMPARE(form_->OutputLines(), expected);
    QVERIFY(Has(Received(1), "*TRG"));
    // Left in local mode (the simulator reads the last line in its own time).
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(Received(1).back()), QString("SYST:LOC"),
                              15000);
  }

  // The demo's family-A supply at the GPIB stand-in waits for its trigger input; the window's
  // "Fire trigger" button fires it.
  void fireTriggerStartsTheArmedDemoSupply() {
    form_->AddSimulatedTrigger(SimulatedSupplies(demo_->Paths(), [this] { demo_->Trigger(); }));
    ConnectAndUpload("KSV 5206-40, SN 520640001");
    QAction* fire = Action("FireTrigger");
    QVERIFY(fire->isVisible());
    auto* button = qobject_cast<QToolButton*>(
        form_->findChild<QToolBar*>("PlayerToolbar")->widgetForAction(fire));
    QVERIFY(button);
    QTRY_VERIFY(button->isVisible());
    form_->findChild<QCheckBox*>("ExternalTriggerCheckBox")->setChecked(true);
    form_->findChild<QSpinBox*>("EditBurst")->setValue(1);
    Action("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form_->IsWaitingForTrigger(), 20000);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form_->OutputLines().contains("Received Trigger, executing waveform"),
                             20000);
    QVERIFY(form_->OutputLines().contains("Trigger fired"));
    Action("Stop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsRunning(), 20000);
  }

  // The demo's supply on the loopback LAN, listed with its address, plays as the serial ones do;
  // when its line drops mid-play the window says so, stays usable, and connects again.
  void lanSupplyPlaysAndSurvivesADroppedLine() {
    QTreeWidgetItem* lan = Tree()->topLevelItem(3);
    // A second supply over VXI-11 follows where a port mapper ran as the demo started.
    QVERIFY(lan->childCount() >= 1);
    const QString caption = lan->child(0)->text(0);
    const QString address = QString("TCPIP::127.0.0.1::%1::SOCKET").arg(demo_->LanFront()->Port());
    QCOMPARE(caption, "KSV 7342-80, SN 734280002  [" + address + "]");
    Select(caption, "Analog Out 0");
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
    Action("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form_->IsUploaded(), 20000);
    form_->findChild<QSpinBox*>("EditBurst")->setValue(3);
    Action("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsRunning(), 30000);
    QCOMPARE(form_->StatusText(1), QString("Burst 3 of 3"));

    // The line drops while it plays.
    demo_->LanFront()->SetFaults({.HangUpAfterBytes = 60});
    Action("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(
        !form_->OutputLines().filter("The instrument at 127.0.0.1 stopped answering").isEmpty(),
        20000);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsRunning(), 20000);
    Action("Disconnect")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsConnected(), 10000);
    Select(caption, "Analog Out 0");
    QVERIFY(Action("Connect")->isEnabled());
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
    Action("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form_->IsUploaded(), 20000);
  }

  void secondChannelOfTheTwoChannelSupply() {
    Select("KSV 7342-80, SN 734280001", "Analog Out 1");
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
    QVERIFY(Has(Received(0), "INST:NSEL 2"));
    QCOMPARE(form_->windowTitle(), QString("KSV 7342-80, SN 734280001 - Ondrevo Remote"));
  }

  void stopDuringPlayback() {
    ConnectAndUpload("KSV 7341-20, SN 734120001");
    form_->findChild<QSpinBox*>("EditBurst")->setValue(50);
    Action("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form_->GetBurstCounter() >= 1 && form_->StatusText(0) == "Running",
                             15000);
    QTest::qWait(300);
    Action("Stop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsRunning(), 10000);
    QCOMPARE(form_->OutputLines().mid(form_->OutputLines().size() - 2),
             (QStringList{"Stopping execution", "Execution stopped"}));
    QCOMPARE(form_->StatusText(0), QString("Stopped"));
    // Once more from the start, then close while it plays: stopped and disconnected.
    Action("Play")->trigger();
    QVERIFY(form_->IsRunning());
    dialogs_->Answers = {QMessageBox::Yes, QMessageBox::Yes};
    form_->close();
    QVERIFY(!form_->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsConnected(), 10000);
    QVERIFY(Has(Received(1), "ABOR"));
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(Received(1).back()), QString("SYST:LOC"),
                              15000);
  }

  void closingDuringUploadDisconnectsWhenTheUploadEnds() {
    Select("KSV 7342-80, SN 734280001");
    QVERIFY(!Action("Connect")->isEnabled());  // one of its channels must be chosen
    Select("KSV 7342-80, SN 734280001", "Analog Out 0");
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
    Action("Upload")->trigger();
    QVERIFY(form_->IsUploading());
    dialogs_->Answers = {QMessageBox::Yes};
    form_->close();
    QVERIFY(!form_->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsConnected(), 20000);
    QVERIFY(!form_->IsUploading());
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(Received(0).back()), QString("SYST:LOC"),
                              15000);
    // The supply answers again at once.
    form_->show();
    // The late outcome and disconnection were still reported, in the cleared log.
    QTRY_VERIFY_WITH_TIMEOUT(
        form_->OutputLines().contains("Searching devices... Done.") && !form_->IsRefreshing(),
        20000);
    QVERIFY(form_->OutputLines().at(0).endsWith("waveform data... Abort.") ||
            form_->OutputLines().at(0).endsWith("for device... Abort."));
    QCOMPARE(form_->OutputLines().at(1), QString("Disconnected from device."));
    Select("KSV 7342-80, SN 734280001", "Analog Out 0");
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
  }

  void cancelDuringUploadThenUploadAgain() {
    Select("KSV 7341-20, SN 734120001");
    Action("Connect")->trigger();
    Action("Upload")->trigger();
    Action("Upload")->trigger();  // Cancel at once, while sampling
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsUploading(), 60000);
    QVERIFY(!form_->IsUploaded());
    QVERIFY2(form_->OutputLines().last().endsWith("Abort."),
             qPrintable(form_->OutputLines().join(" | ")));
    // The cancelled upload left the list initiated: the next one's INIT is ignored, not failed.
    Action("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsUploading(), 60000);  // done or failed, whichever
    QVERIFY2(form_->IsUploaded(), qPrintable(form_->OutputLines().join(" | ")));
  }
};

QTEST_MAIN(RemoteSimTest)
#include "remote_sim_test.moc"
