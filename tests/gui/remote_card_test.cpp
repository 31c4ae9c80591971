// The remote window streaming a document through the simulated analog output card to an
// analog interface product: found, wired in the selection dialog, uploaded, played, stopped.
// With ONDREVO_SCREENSHOT set (under Xvfb), the screen is saved as that picture while it streams.
#include <QAction>
#include <QCheckBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>

#include "daq/DaqMxDevice.h"
#include "devices/MainThread.h"
#include "document/SegmentTable.h"
#include "interfaces/InterfaceDevices.h"
#include "remote/QtMainThread.h"
#include "remote/RemoteForm.h"
#include "remote_fakes.h"

using namespace ondrevo;
using namespace ondrevo::test;

namespace {

// Picks the first entry of the selection dialog, as a user pressing OK does.
class TPickFirstInput : public TScriptedDialogs {
 public:
  bool SelectConnectedDevice(QWidget*, TDeviceSelection& selection) override {
    Offered = selection.Candidates.size();
    if (selection.Candidates.empty()) return false;
    selection.SelectedInput = selection.Candidates.front();
    selection.SelectedInputIndex = 0;
    return true;
  }
  size_t Offered = 0;
};

}  // namespace

class RemoteCardTest : public QObject {
  Q_OBJECT
  SegmentTable voltage_, current_;

 private slots:
  void initTestCase() {
    setenv("ONDREVO_DAQMX_LIBRARY", ONDREVO_DAQMX_SIM, 1);
    setenv("ONDREVO_DAQMX_SIM_CARDS", "Dev1 PCIe-6361 serial=1A2B3C ao=2 maxrate=20000", 1);
    SetInterfaceProducts({{"KSV3720-40", "372040001"}, {"KSV4461-50", "446150001"}});
    InstallQtMainThread();
  }
  void cleanupTestCase() { UninstallQtMainThread(); }

  void streamsThroughTheCardToTheWiredDevice() {
    // 0 to 20 V and back in 0.5 s, repeated.
    voltage_[0].Value = 0;
    voltage_[1].Time = 0.25;
    voltage_[1].Value = 20;
    voltage_[2].Time = 0.5;
    voltage_[2].Value = 0;
    voltage_.SetLastPointIndex(2);
    current_[0].Value = 2;
    current_[1].Time = 0.5;
    current_[1].Value = 2;
    current_.SetLastPointIndex(1);

    TRemoteForm form;
    auto dialogs = std::make_shared<TPickFirstInput>();
    form.SetDialogs(dialogs);
    form.SetScanners({
        [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TDaqInterface>()); },
        [] {
          return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TAnalogInterface>());
        },
        [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TTtlInterface>()); },
    });
    form.SetDocument(&voltage_, &current_);
    form.setGeometry(0, 0, 900, 640);
    form.show();
    QTRY_VERIFY(!form.OutputLines().isEmpty() && !form.IsRefreshing());
    auto* tree = form.findChild<QTreeWidget*>("DeviceTreeView");
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("NI-DAQmx"));
    QTreeWidgetItem* card = tree->topLevelItem(0)->child(0);
    QCOMPARE(card->text(0), QString("PCIe-6361, SN 1A2B3C"));
    QCOMPARE(card->childCount(), 2);
    QCOMPARE(card->child(1)->text(0), QString("Analog Out 1"));
    QCOMPARE(tree->topLevelItem(1)->child(0)->text(0), QString("KSV 3720-40, SN 372040001"));

    tree->setCurrentItem(card->child(1));
    form.findChild<QAction*>("Connect")->trigger();
    QVERIFY(form.IsConnected());
    QCOMPARE(dialogs->Offered, size_t(2));  // the analog and the TTL product
    auto daq = std::dynamic_pointer_cast<TDaqMxDevice>(form.GetDevice());
    QVERIFY(daq);
    QVERIFY(daq->GetConnectedInputs()[1] != nullptr);

    form.findChild<QAction*>("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.IsUploaded(), 20000);
    auto* burst = form.findChild<QSpinBox*>("EditBurst");
    QCOMPARE(burst->maximum(), 1000000);
    burst->setValue(4);
    form.findChild<QAction*>("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.GetBurstCounter() >= 1 && form.IsRunning(), 10000);
    QTest::qWait(800);
    QVERIFY(form.IsRunning());
    if (const char* shot = std::getenv("ONDREVO_SCREENSHOT"))
      QProcess::execute("import", {"-window", "root", QString::fromLocal8Bit(shot)});
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsRunning(), 20000);
    QVERIFY(form.OutputLines().contains("Execution finished"));
    // The Commands page shows what the card was told: the calls into its library.
    QTRY_VERIFY(!form.CommandLines().filter(QRegularExpression(R"( > output: stop$)")).isEmpty());
    // The run ends as the supplies' runs do; the card preparing its next run changes nothing.
    QCOMPARE(form.StatusText(0), QString("Stopped"));
    QCOMPARE(form.StatusText(1), QString("Burst 4 of 4"));
    const QStringList commands = form.CommandLines();
    const auto first = [&](const QString& pattern) {
      const QRegularExpression re(QStringLiteral(R"(^\S+ > output: )") + pattern);
      for (int k = 0; k < commands.size(); ++k)
        if (re.match(commands[k]).hasMatch()) return k;
      return -1;
    };
    QVERIFY(first("channel Dev1/ao1, range -10 .. 10 V$") >= 0);
    QVERIFY(first("timing ") > first("channel "));
    QVERIFY(first("write \\d+ samples \\[") > first("timing "));
    QVERIFY(first("start$") > first("write "));
    QVERIFY(first("stop$") > first("start$"));
    // The card drove the wired device's control input: 20 V on a 40 V product is 5 V.
    QCOMPARE(daq->GetMaxVoltage(), 10.0);
    form.findChild<QAction*>("Disconnect")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected(), 10000);
  }

  // The simulated card's trigger input fires from the window: the armed run starts on it.
  void simulatedCardFiresItsTriggerFromTheWindow() {
    voltage_[0].Value = 0;
    voltage_[1].Time = 0.25;
    voltage_[1].Value = 20;
    voltage_.SetLastPointIndex(1);
    current_[0].Value = 2;
    current_[1].Time = 0.25;
    current_[1].Value = 2;
    current_.SetLastPointIndex(1);
    TRemoteForm form;
    form.SetDialogs(std::make_shared<TPickFirstInput>());
    form.SetScanners({
        [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TDaqInterface>()); },
        [] {
          return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TAnalogInterface>());
        },
    });
    form.SetDocument(&voltage_, &current_);
    form.show();
    QTRY_VERIFY(!form.OutputLines().isEmpty() && !form.IsRefreshing());
    auto* tree = form.findChild<QTreeWidget*>("DeviceTreeView");
    tree->setCurrentItem(tree->topLevelItem(0)->child(0)->child(0));
    QAction* fire = form.findChild<QAction*>("FireTrigger");
    QVERIFY(!fire->isVisible());
    form.findChild<QAction*>("Connect")->trigger();
    QVERIFY(form.IsConnected());
    auto* button = qobject_cast<QToolButton*>(
        form.findChild<QToolBar*>("PlayerToolbar")->widgetForAction(fire));
    QVERIFY(fire->isVisible() && button);
    QTRY_VERIFY(button->isVisible());  // once the toolbar has laid itself out again
    form.findChild<QAction*>("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.IsUploaded(), 20000);
    form.findChild<QCheckBox*>("ExternalTriggerCheckBox")->setChecked(true);
    form.findChild<QSpinBox*>("EditBurst")->setValue(1);
    form.findChild<QAction*>("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.StatusText(0) == "Waiting for trigger", 10000);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.OutputLines().contains("Received Trigger, executing waveform"),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(form.OutputLines().contains("Execution finished"), 20000);
    QVERIFY(form.IsRunning());  // armed again for the next edge
    // The card prepares the next run first; the stop goes to the armed run.
    QTRY_VERIFY_WITH_TIMEOUT(form.OutputLines().count("Waiting for trigger") >= 2, 20000);
    form.findChild<QAction*>("Stop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsRunning(), 10000);
    form.findChild<QAction*>("Disconnect")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected(), 10000);
    QVERIFY(!fire->isVisible());
  }

  // A stream cannot be halted and resumed: Pause stays off, Stop works.
  void cardKeepsPauseDisabled() {
    voltage_[0].Value = 0;
    voltage_[1].Time = 0.25;
    voltage_[1].Value = 20;
    voltage_.SetLastPointIndex(1);
    current_[0].Value = 2;
    current_[1].Time = 0.25;
    current_[1].Value = 2;
    current_.SetLastPointIndex(1);
    TRemoteForm form;
    form.SetDialogs(std::make_shared<TPickFirstInput>());
    form.SetScanners({
        [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TDaqInterface>()); },
        [] {
          return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TAnalogInterface>());
        },
    });
    form.SetDocument(&voltage_, &current_);
    form.show();
    QTRY_VERIFY(!form.OutputLines().isEmpty() && !form.IsRefreshing());
    auto* tree = form.findChild<QTreeWidget*>("DeviceTreeView");
    tree->setCurrentItem(tree->topLevelItem(0)->child(0)->child(0));
    form.findChild<QAction*>("Connect")->trigger();
    QVERIFY(form.IsConnected());
    form.findChild<QAction*>("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.IsUploaded(), 20000);
    form.findChild<QSpinBox*>("EditBurst")->setValue(0);  // until Stop
    form.findChild<QAction*>("Play")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.StatusText(0) == "Running", 10000);
    QVERIFY(!form.findChild<QAction*>("Pause")->isEnabled());
    QVERIFY(form.findChild<QAction*>("Stop")->isEnabled());
    form.findChild<QAction*>("Pause")->trigger();  // Space while running
    QVERIFY(!form.OutputLines().contains("Pausing execution"));
    form.findChild<QAction*>("Stop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsRunning(), 10000);
    QCOMPARE(form.OutputLines().last(), QString("Execution stopped"));
    form.findChild<QAction*>("Disconnect")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsConnected(), 10000);
  }
};

QTEST_MAIN(RemoteCardTest)
#include "remote_card_test.moc"
