// The remote window's device search runs beside the window: a slow bus keeps nothing waiting,
// and the Refresh action cancels a search that runs.
#include <QAction>
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
    auto* refresh = form.findChild<QAction*>("Refresh");
    QVERIFY(refresh->isEnabled());
    QCOMPARE(refresh->text(), QString("&Cancel"));
    refresh->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.IsRefreshing(), 2000);
    QVERIFY(tree->topLevelItemCount() <= 2);
    QVERIFY(form.OutputLines().last().endsWith("Abort."));
    QCOMPARE(refresh->text(), QString("&Refresh"));
    QCOMPARE(form.StatusText(0), QString("Ready"));
  }
};

QTEST_MAIN(RemoteSearchTest)
#include "remote_search_test.moc"
