// The remote window measuring what the demo's simulated supplies deliver into their loads: the
// supply measuring itself on a pseudo-terminal, and a family-A supply with the bench meter on
// the GPIB stand-in. The live plot grows while it plays; the record saved parses back.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "document/Numbers.h"
#include "document/SegmentTable.h"
#include "plot/Plot.h"
#include "remote/MeasurePanel.h"
#include "remote/QtMainThread.h"
#include "remote/RemoteForm.h"
#include "remote_fakes.h"
#include "sim/Demo.h"
#include "sim/Front.h"
#include "sim/Meter.h"

using namespace ondrevo;
using namespace ondrevo::test;

class RemoteMeasureTest : public QObject {
  Q_OBJECT
  SegmentTable voltage_, current_;
  std::unique_ptr<sim::TDemoInstruments> demo_;
  // A bench meter on a pseudo-terminal of its own, across the family-C supply's output.
  std::unique_ptr<sim::TPtyFront> serialMeter_;
  std::unique_ptr<sim::TTcpFront> lanMeter_;
  QString lanMeterName_;
  std::unique_ptr<TRemoteForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;
  QTemporaryDir dir_;

  QAction* Action(const char* name) { return form_->findChild<QAction*>(name); }
  QTreeWidget* Tree() { return form_->findChild<QTreeWidget*>("DeviceTreeView"); }
  TMeasurePanel* Panel() { return form_->MeasurePanel(); }
  TPlotSeries* Measured() { return Panel()->Plot()->Series("MeasuredVoltage"); }
  QStringList Choices() {
    auto* box = form_->findChild<QComboBox*>("MeasureChoice");
    QStringList out;
    for (int k = 0; k < box->count(); ++k) out << box->itemText(k);
    return out;
  }
  QTreeWidgetItem* Find(const QString& caption) { return test::FindDevice(*form_, caption); }
  void Connect(const QString& caption) {
    QTreeWidgetItem* item = Find(caption);
    QVERIFY2(item, qPrintable(caption));
    Tree()->setCurrentItem(item);
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
  }
  void UploadAndPlayWatchingThePlot(int bursts) {
    Action("Upload")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form_->IsUploaded(), 20000);
    form_->findChild<QSpinBox*>("EditBurst")->setValue(bursts);
    QVERIFY(!Action("SaveRecord")->isEnabled());
    Action("Play")->trigger();
    QVERIFY(form_->MeasuredRun());
    QCOMPARE(form_->findChild<QTabWidget*>("OutputTabs")->currentWidget(), Panel());
    // The plot gains points while the supply still plays.
    QTRY_VERIFY_WITH_TIMEOUT(Measured()->Count() > 0 || !form_->IsRunning(), 30000);
    QVERIFY(form_->IsRunning());
    const int first = Measured()->Count();
    QTRY_VERIFY_WITH_TIMEOUT(Measured()->Count() > first || !form_->IsRunning(), 30000);
    QVERIFY(Measured()->Count() > first);
    QTRY_VERIFY_WITH_TIMEOUT(!form_->IsRunning(), 60000);
    QVERIFY(!form_->MeasuredRun()->Polling());
    QVERIFY(Action("SaveRecord")->isEnabled());
    QVERIFY(Panel()->FiguresText().contains("largest deviation so far"));
    QVERIFY(Panel()->FiguresText().contains("in current limit"));
  }
  // Saves the record and reads it back: the CSV the CLI would write for the same input, one
  // line per reading, and the report beside it.
  void SaveAndCompare(const QString& name) {
    dialogs_->SavePath = dir_.filePath(name + ".csv");
    Action("SaveRecord")->trigger();
    const TRecordInput& in = form_->MeasuredRun()->Input();
    QFile csv(dialogs_->SavePath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray text = csv.readAll();
    QCOMPARE(text.toStdString(), RecordCsv(in));
    const QList<QByteArray> lines = text.trimmed().split('\n');
    QCOMPARE(lines.size(), static_cast<qsizetype>(in.Readings.size() + 1));
    QVERIFY(lines[0].startsWith("time_s,voltage_V,current_A"));
    // The readings parse back, in the C locale, to the values read.
    const QList<QByteArray> row = lines[1].split(',');
    double t = 0, v = 0;
    QVERIFY(TryParseNumber(row[0].toStdString(), t));
    QVERIFY(TryParseNumber(row[1].toStdString(), v));
    QCOMPARE(t, in.Readings[0].Time);
    QCOMPARE(v, in.Readings[0].Voltage);
    QFile html(dir_.filePath(name + ".html"));
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QByteArray report = html.readAll();
    QVERIFY(report.startsWith("<!DOCTYPE html>"));
    QVERIFY(report.contains("<svg"));
    QVERIFY(report.contains("Clipped ramp.ovx"));
    QFile pdf(dir_.filePath(name + ".pdf"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.readAll().startsWith("%PDF-"));
    QVERIFY(form_->OutputLines().last().endsWith(name + ".pdf"));
    QVERIFY(form_->OutputLines().last().startsWith("Record saved: "));
  }

 private slots:
  void initTestCase() {
    InstallQtMainThread();
    QVERIFY(dir_.isValid());
    // 0 V, up to 8 V at 1 s, down to 2 V at 2 s; a 0.5 A limit clips the top through 10 ohm.
    voltage_[0].Time = 0.0;
    voltage_[0].Value = 0.0;
    voltage_[1].Time = 1.0;
    voltage_[1].Value = 8.0;
    voltage_[2].Time = 2.0;
    voltage_[2].Value = 2.0;
    voltage_.SetLastPointIndex(2);
    current_[0].Time = 0.0;
    current_[0].Value = 0.5;
    current_[1].Time = 2.0;
    current_[1].Value = 0.5;
    current_.SetLastPointIndex(1);
    demo_ = std::make_unique<sim::TDemoInstruments>(1.0);  // two seconds a burst
    serialMeter_ = std::make_unique<sim::TPtyFront>(std::make_shared<sim::TSimMeter>(
        demo_->Fronts()[1]->Instrument(), 0, sim::MakeScaledClock(1.0)));
    const QByteArray ports =
        qgetenv("ONDREVO_SERIAL_PORTS") + ":" + QByteArray::fromStdString(serialMeter_->Path());
    qputenv("ONDREVO_SERIAL_PORTS", ports);
    // And one on the LAN, reached over its raw socket.
    lanMeter_ = std::make_unique<sim::TTcpFront>(
        std::make_shared<sim::TSimMeter>(demo_->Fronts()[1]->Instrument(), 0,
                                         sim::MakeScaledClock(1.0)),
        0);
    lanMeterName_ = "TCPIP::127.0.0.1::" + QString::number(lanMeter_->Port()) + "::SOCKET";
    QByteArray hosts = qgetenv("ONDREVO_LAN_HOSTS");
    if (!hosts.isEmpty()) hosts += ",";
    qputenv("ONDREVO_LAN_HOSTS", hosts + "127.0.0.1:" + QByteArray::number(lanMeter_->Port()));
  }
  void cleanupTestCase() {
    lanMeter_.reset();
    serialMeter_.reset();
    demo_.reset();
  }

  void init() {
    form_ = std::make_unique<TRemoteForm>();
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    form_->SetDocument(&voltage_, &current_);
    form_->SetDocumentName("Clipped ramp.ovx");
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

  void familyCSupplyMeasuresItself() {
    QCOMPARE(Choices(), QStringList{"none"});  // nothing connected
    Connect("KSV 7341-20, SN 734120001");
    QVERIFY(Choices().size() >= 2);
    QCOMPARE(Choices()[1], QString("the supply itself"));
    QVERIFY(Panel()->Choose(EMeasureChoice::Supply));
    UploadAndPlayWatchingThePlot(2);
    QCOMPARE(QString::fromStdString(form_->MeasuredRun()->Input().Source),
             QString("the supply itself"));
    // Through 10 ohm at 0.5 A the top of the ramp is clipped at 5 V.
    QVERIFY(form_->MeasuredRun()->Figures().CurrentLimited > 0);
    SaveAndCompare("self");
    // The choice stays for the next run.
    QCOMPARE(Panel()->Choice(), EMeasureChoice::Supply);
  }

  // A meter on a serial port is offered beside the supply itself and measures with its own line.
  void familyCSupplyWithASerialMeter() {
    const QString path = QString::fromStdString(serialMeter_->Path());
    Connect("KSV 7341-20, SN 734120001");
    int meter = -1;
    for (int k = 0; k < static_cast<int>(form_->FoundMeters().size()); ++k)
      if (QString::fromStdString(form_->FoundMeters()[static_cast<size_t>(k)].Name) == path)
        meter = k;
    QVERIFY2(meter >= 0, qPrintable(path));
    QVERIFY(Choices().contains("meter " + path + "  (SIMLAB,DMM-100,881001,1.00)"));
    QVERIFY(Panel()->Choose(EMeasureChoice::Meter, meter));
    UploadAndPlayWatchingThePlot(1);
    QCOMPARE(QString::fromStdString(form_->MeasuredRun()->Input().Source), "meter on " + path);
  }

  void familyASupplyWithTheDemoMeter() {
    if (form_->FoundMeters().empty()) QSKIP("no GPIB stand-in in this build");
    QCOMPARE(QString::fromStdString(form_->FoundMeters()[0].Name), QString("GPIB0::6"));
    Connect("KSV 5206-40, SN 520640001");
    QVERIFY(!Choices().contains("the supply itself"));
    // The meters in the order of the buses: GPIB, USB, the serial ports, the LAN.
    QCOMPARE(Choices().size(), 5);
    QCOMPARE(Choices()[1], QString("meter GPIB0::6  (SIMLAB,DMM-100,881001,1.00)"));
    QVERIFY(form_->findChild<QLabel*>("MeasureNote")->text().contains("needs a meter"));
    QVERIFY(Panel()->Choose(EMeasureChoice::Meter, 0));
    UploadAndPlayWatchingThePlot(1);
    QCOMPARE(QString::fromStdString(form_->MeasuredRun()->Input().Source),
             QString("meter on GPIB0::6"));
    // The meter reads what the load takes: never more than the 0.5 A limit through 10 ohm.
    for (const TReading& r : form_->MeasuredRun()->Input().Readings) QVERIFY(r.Voltage < 5.2);
    SaveAndCompare("meter");

    // An unwritable place: a clear error and nothing written.
    dialogs_->SavePath = dir_.filePath("no-such-folder/run.csv");
    Action("SaveRecord")->trigger();
    QVERIFY(!dialogs_->Asked.isEmpty());
    QVERIFY(dialogs_->Asked.last().startsWith("Error|"));
    QVERIFY(dialogs_->Asked.last().contains("no-such-folder"));
    QVERIFY(!QFile::exists(dir_.filePath("no-such-folder")));
  }

  // A meter heard on the LAN is offered and measures over a connection of its own.
  void familyCSupplyWithALanMeter() {
    Connect("KSV 7341-20, SN 734120001");
    const int entry =
        Choices().indexOf("meter " + lanMeterName_ + "  (SIMLAB,DMM-100,881001,1.00)");
    QVERIFY2(entry >= 1, qPrintable(Choices().join('|')));
    QVERIFY(Panel()->Choose(EMeasureChoice::Meter, entry - 2));  // after "none" and the supply
    UploadAndPlayWatchingThePlot(1);
    QCOMPARE(QString::fromStdString(form_->MeasuredRun()->Input().Source),
             "meter on " + lanMeterName_);
    QVERIFY(form_->MeasuredRun()->Figures().CurrentLimited > 0);
  }

  // A meter the USB library lists beside the family-B supply is offered and measures over a
  // USB handle of its own.
  void familyBSupplyWithTheUsbMeter() {
    const auto usb = Tree()->findItems("USB", Qt::MatchExactly);
    if (usb.isEmpty()) QSKIP("no USB stand-in in this build");
    QCOMPARE(usb.first()->childCount(), 1);  // the supply; the meter is no supply
    Tree()->setCurrentItem(usb.first()->child(0));
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
    const int entry = Choices().indexOf("meter USB::881002  (SIMLAB,DMM-100,881002,1.00)");
    QVERIFY2(entry >= 1, qPrintable(Choices().join('|')));
    QVERIFY(!Choices().contains("the supply itself"));
    QVERIFY(Panel()->Choose(EMeasureChoice::Meter, entry - 1));
    UploadAndPlayWatchingThePlot(1);
    QCOMPARE(QString::fromStdString(form_->MeasuredRun()->Input().Source),
             QString("meter on USB::881002"));
    // Timed from the supply's start: every judged reading follows the clipped ramp.
    const TRecordInput& in = form_->MeasuredRun()->Input();
    int judged = 0;
    for (const TReading& r : in.Readings)
      if (Judged(in, r)) {
        ++judged;
        QVERIFY(r.Voltage < 5.2);
      }
    QVERIFY(judged > 10);
    QVERIFY(form_->MeasuredRun()->Figures().CurrentLimited > 0);
  }
};

QTEST_MAIN(RemoteMeasureTest)
#include "remote_measure_test.moc"
