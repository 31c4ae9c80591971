// The remote window's device search runs beside the window: a slow bus keeps nothing waiting,
// and the Refresh action cancels a search that runs.
#include <QAction>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <chrono>
#include <thread>

#include "document/SegmentTable.h"
#include "interfaces/InterfaceDevices.h"
#include "remote/QtMainThread.h"
#include "remote/RemoteForm.h"
#include "remote_fakes.h"

using namespace ondrevo;
using namespace ondrevo::test;

namespace {

// A bus that takes its time to answer, as a GPIB bus probing thirty addresses does.
class TSlowBus : public TAnalogInterface {
 public:
  explicit TSlowBus(int ms) : ms_(ms) { Name = "Slow"; }
  void GetInterfaces(TInterfaceList& interfaces) override {
    interfaces.push_back(std::make_shared<TSlowBus>(ms_));
  }
  void GetDevices(TDeviceList& devices) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms_));
    devices = {std::make_shared<TAnalogDevice>("KSV 3720-40", "1")};
  }

 private:
  int ms_;
};

}  // namespace

class RemoteSearchTest : public QObject {
  Q_OBJECT
  SegmentTable voltage_, current_;

 private slots:
  void initTestCase() { InstallQtMainThread(); }
  void cleanupTestCase() { UninstallQtMainThread(); }

  void windowStaysResponsiveAndCancelEndsTheSearch() {
    voltage_[0].Value = 1;
    voltage_[1].Time = 1;
    voltage_[1].Value = 1;
    voltage_.SetLastPointIndex(1);
    current_ = voltage_;
    TRemoteForm form;
    form.SetDialogs(std::make_shared<TScriptedDialogs>());
    form.SetScanners(std::vector<TRemoteForm::TScannerFactory>(5, [] {
      return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TSlowBus>(700));
    }));
    form.SetDocument(&voltage_, &current_);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    form.show();
    QTRY_VERIFY(form.IsRefreshing());
    auto* tree = form.findChild<QTreeWidget*>("DeviceTreeView");
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 1, 5000);
    QVERIFY2(ticks >= 20, qPrintable(QString("only %1 timer ticks in 0.7 s").arg(ticks)));
    QTRY_COMPARE(form.StatusText(1), QString("Slow"));  // the bus being probed
    auto* refresh = form.findChild<QAction*>("Refresh");
    QVERIFY(refresh->isEnabled());
    QCOMPARE(refresh->text(), QString("&Cancel"));
    refresh->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsRefreshing(), 2000);
    QVERIFY(tree->topLevelItemCount() <= 2);
    QVERIFY(form.OutputLines().last().endsWith("Abort."));
    QCOMPARE(refresh->text(), QString("&Refresh"));
    QCOMPARE(form.StatusText(0), QString("Ready"));
    QCOMPARE(form.StatusText(1), QString());
  }

  // Found when tried as a new user would.
  void stopWhilePausedEndsTheRunAndSupplyRowsGiveAHint() {
    voltage_[0].Value = 1;
    voltage_[1].Time = 1;
    voltage_[1].Value = 1;
    voltage_.SetLastPointIndex(1);
    current_ = voltage_;
    auto single = std::make_shared<TFakePlayer>("KSV 7341-20", "100");
    auto dual = std::make_shared<TFakePlayer>("KSV 7342-80", "200", 2);
    TRemoteForm form;
    form.SetDialogs(std::make_shared<TScriptedDialogs>());
    TDeviceList devices{single, dual};
    form.SetScanners({[devices] { return std::make_shared<TFakeBus>("COM", devices); }});
    form.SetDocument(&voltage_, &current_);
    form.show();
    QTRY_VERIFY(!form.OutputLines().isEmpty() && !form.IsRefreshing());
    auto* tree = form.findChild<QTreeWidget*>("DeviceTreeView");
    auto node = [&](const char* caption) {
      return tree->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive).value(0);
    };
    auto action = [&](const char* name) { return form.findChild<QAction*>(name); };

    tree->setCurrentItem(node("KSV 7342-80, SN 200"));
    QVERIFY(!action("Connect")->isEnabled());
    QCOMPARE(form.StatusText(0),
             QString("Choose one of the outputs below the device to connect it."));
    tree->setCurrentItem(node("KSV 7341-20, SN 100"));
    QCOMPARE(form.StatusText(0), QString("Ready"));

    action("Connect")->trigger();
    QVERIFY(form.IsConnected());
    action("Upload")->trigger();
    single->UploadDone(single.get());
    action("Play")->trigger();
    action("Pause")->trigger();
    single->StopEvent(single.get());
    QCOMPARE(form.StatusText(0), QString("Paused"));
    action("Stop")->trigger();
    QCOMPARE(form.StatusText(0), QString("Stopped"));
    QVERIFY(!form.IsPaused() && !form.IsRunning());
    QCOMPARE(form.OutputLines().last(), QString("Execution stopped"));
    QVERIFY(action("Play")->isEnabled());
    single->StopEvent(single.get());  // a late stop event changes nothing
    QCOMPARE(form.OutputLines().last(), QString("Execution stopped"));

    // The transport's trace, stamped, in the Commands view; Save output includes it.
    std::thread([single] { single->GetInterface()->Send("OUTP ON"); }).join();
    QTRY_COMPARE(form.CommandLines().size(), 1);
    QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d > OUTP ON$")
                 .match(form.CommandLines()[0])
                 .hasMatch(),
             qPrintable(form.CommandLines()[0]));
    QTemporaryDir dir;
    auto dialogs = std::make_shared<TScriptedDialogs>();
    dialogs->SavePath = dir.filePath("out.txt");
    form.SetDialogs(dialogs);
    form.SaveOutput();
    QFile saved(dialogs->SavePath);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(saved.readAll());
    QVERIFY(text.contains("Execution stopped\n\nCommands:\n"));
    QVERIFY(text.contains("> OUTP ON\n"));
    action("Disconnect")->trigger();
    std::thread([single] { single->GetInterface()->Send("*RST"); }).join();
    QTest::qWait(50);
    QCOMPARE(form.CommandLines().size(), 1);  // not traced once disconnected
  }
};

QTEST_MAIN(RemoteSearchTest)
#include "remote_search_test.moc"
