// The remote window's rules, driven against scripted devices: tree, connect checks, the log and
// status texts of each step, the trigger controls, the burst field and closing.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <thread>

#include "devices/DeviceErrors.h"
#include "devices/MainThread.h"
#include "document/SegmentTable.h"
#include "remote/QtMainThread.h"
#include "remote/RemoteForm.h"
#include "remote_fakes.h"

using namespace ondrevo;
using namespace ondrevo::test;

namespace {

void SetCurve(SegmentTable& table, std::initializer_list<std::pair<double, double>> points) {
  int i = 0;
  for (const auto& [t, v] : points) {
    table[i].Time = t;
    table[i].Value = v;
    ++i;
  }
  table.SetLastPointIndex(i - 1);
}

}  // namespace

class RemoteWindowTest : public QObject {
  Q_OBJECT
  SegmentTable voltage_, current_;
  std::unique_ptr<TRemoteForm> form_;
  std::shared_ptr<TScriptedDialogs> dialogs_;
  std::shared_ptr<TFakePlayer> single_, dual_;
  std::shared_ptr<TDevice> unknown_;

  QAction* Action(const char* name) { return form_->findChild<QAction*>(name); }
  QTreeWidget* Tree() { return form_->findChild<QTreeWidget*>("DeviceTreeView"); }
  QTreeWidgetItem* Node(const QString& caption) {
    auto found = Tree()->findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
    return found.value(0);
  }
  // Shows the window and waits until its device search is over.
  void ShowAndSearch() {
    form_->SetDocument(&voltage_, &current_);
    form_->show();
    QTRY_VERIFY(!form_->OutputLines().isEmpty() && !form_->IsRefreshing());
  }
  void Select(const QString& caption) {
    QTreeWidgetItem* item = Node(caption);
    QVERIFY2(item, qPrintable(caption));
    Tree()->setCurrentItem(item);
  }
  void ConnectTo(const QString& caption) {
    Select(caption);
    QVERIFY(Action("Connect")->isEnabled());
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
  }
  void UploadAndFinish(TFakePlayer& device) {
    Action("Upload")->trigger();
    QVERIFY(form_->IsUploading());
    device.UploadProgress(&device, 40);
    device.UploadProgress(&device, 100);
    device.UploadDone(&device);
    QVERIFY(form_->IsUploaded());
  }

 private slots:
  void initTestCase() { InstallQtMainThread(); }

  void init() {
    SetCurve(voltage_, {{0, 0}, {1, 5}, {2, 2}});
    SetCurve(current_, {{0, 1}, {2, 1}});
    single_ = std::make_shared<TFakePlayer>("KSV 7341-20", "100");
    dual_ = std::make_shared<TFakePlayer>("KSV 7342-80", "200", 2);
    unknown_ = std::make_shared<TDevice>("KSV 9999", "300");
    form_ = std::make_unique<TRemoteForm>();
    dialogs_ = std::make_shared<TScriptedDialogs>();
    form_->SetDialogs(dialogs_);
    TDeviceList devices{single_, dual_, unknown_};
    form_->SetScanners({
        []() -> std::shared_ptr<IDeviceScanner> { throw std::runtime_error("no driver"); },
        [devices] { return std::make_shared<TFakeBus>("COM", devices); },
    });
  }
  void cleanup() {
    form_.reset();
    single_.reset();
    dual_.reset();
  }

  void emptySearchLeavesOnlyTheSearchLine() {
    form_->SetScanners(
        {[]() -> std::shared_ptr<IDeviceScanner> { throw std::runtime_error("x"); }});
    ShowAndSearch();
    QCOMPARE(Tree()->topLevelItemCount(), 0);
    QCOMPARE(form_->OutputLines(), QStringList{"Searching devices... Done."});
    QCOMPARE(form_->StatusText(0), QString("Ready"));
  }

  void treeShowsChannelsAndGreysWhatCannotPlay() {
    ShowAndSearch();
    QCOMPARE(form_->OutputLines(), QStringList{"Searching devices... Done."});
    QCOMPARE(Tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* bus = Tree()->topLevelItem(0);
    QCOMPARE(bus->text(0), QString("COM"));
    QCOMPARE(bus->childCount(), 3);
    QCOMPARE(Node("KSV 7342-80, SN 200")->childCount(), 2);
    QCOMPARE(Node("KSV 7342-80, SN 200")->child(1)->text(0), QString("Analog Out 1"));
    QCOMPARE(Node("KSV 7341-20, SN 100")->childCount(), 0);
    QCOMPARE(form_->GetFoundDevices().size(), size_t(3));

    // The plain device is grey and cannot be selected.
    QTreeWidgetItem* grey = Node("KSV 9999, SN 300");
    QVERIFY(!(grey->flags() & Qt::ItemIsSelectable));
    QCOMPARE(grey->foreground(0).color(),
             form_->palette().color(QPalette::Disabled, QPalette::Text));
    Tree()->setCurrentItem(grey);
    QVERIFY(Tree()->selectedItems().isEmpty());

    // Neither the bus nor a device with channel nodes can be connected; a channel can.
    Select("COM");
    QVERIFY(!Action("Connect")->isEnabled());
    Select("KSV 7342-80, SN 200");
    QVERIFY(!Action("Connect")->isEnabled());
    Select("Analog Out 1");
    QVERIFY(Action("Connect")->isEnabled());
  }

  void connectWithoutSelectionSaysSo() {
    ShowAndSearch();
    form_->ConnectDevice();
    QCOMPARE(dialogs_->Asked, QStringList{"Ondrevo|Please select a device to connect to."});
    QVERIFY(!form_->IsConnected());
  }

  void channelNodeWiresAPlaceholderAtItsIndex() {
    ShowAndSearch();
    ConnectTo("Analog Out 1");
    QVERIFY(!dual_->Inputs[0]);
    QVERIFY(dual_->Inputs[1]);
    QVERIFY(dual_->Inputs[1]->IsUnsupported());
    QCOMPARE(form_->windowTitle(), QString("KSV 7342-80, SN 200 - Ondrevo Remote"));
    QCOMPARE(form_->StatusText(0), QString("Connected to KSV 7342-80"));
    const QStringList lines = form_->OutputLines();
    QCOMPARE(lines.at(lines.size() - 2),
             QString("Connecting to KSV 7342-80 (serial number 200)... Done."));
    QVERIFY(lines.last().startsWith("The device will play: "));
    QVERIFY(!Tree()->isEnabled());
    QVERIFY(!Action("Refresh")->isEnabled());
    // Disconnecting unwires it again.
    Action("Disconnect")->trigger();
    QVERIFY(!form_->IsConnected());
    QVERIFY(!dual_->Inputs[1]);
    QCOMPARE(form_->OutputLines().last(), QString("Disconnected from device."));
    QCOMPARE(form_->windowTitle(), QString("Ondrevo Remote"));
    QVERIFY(Tree()->isEnabled());
  }

  void warningsAnsweredNoLeaveNoLogLine() {
    SetCurve(voltage_, {{0, 0}, {1, 50}});  // above the device's voltage bounds
    ShowAndSearch();
    const int afterReshow = form_->OutputLines().size();
    Select("KSV 7341-20, SN 100");
    dialogs_->Answers = {QMessageBox::No};
    Action("Connect")->trigger();
    QVERIFY(!form_->IsConnected());
    QCOMPARE(form_->OutputLines().size(), afterReshow);
    QVERIFY(dialogs_->Asked.last().startsWith(
        "Warning|The waveform exceeds the device bounderies and will be clipped.\nConnect"));
    QVERIFY(single_->Calls.empty());

    // Too fast for the device: asked about the sample rate first.
    single_->MinDwell = 1.0;
    dialogs_->Answers = {QMessageBox::No};
    Action("Connect")->trigger();
    QVERIFY(dialogs_->Asked.last().startsWith("Warning|The waveform may not be reproduced"));
    QCOMPARE(form_->OutputLines().size(), afterReshow);

    // Yes to both warnings connects.
    dialogs_->Answers = {QMessageBox::Yes, QMessageBox::Yes};
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
  }

  void tooLongForTheDeviceIsRefused() {
    SetCurve(voltage_, {{0, 0}, {200000, 1}});
    ShowAndSearch();
    Select("KSV 7341-20, SN 100");
    Action("Connect")->trigger();
    QVERIFY(!form_->IsConnected());
    QVERIFY(dialogs_->Asked.last().startsWith("Error|The duration of the waveform exceeds"));
  }

  void failedConnectIsLoggedInRedAndStaysDisconnected() {
    single_->FailConnect = true;
    ShowAndSearch();
    Select("KSV 7341-20, SN 100");
    Action("Connect")->trigger();
    QVERIFY(!form_->IsConnected());
    const QStringList lines = form_->OutputLines();
    QCOMPARE(lines.at(1), QString("Connecting to KSV 7341-20 (serial number 100)... Error:"));
    QCOMPARE(lines.at(2), QString("Error: No device connected"));
    QCOMPARE(form_->StatusText(0), QString("Ready"));
    // The port is closed again and the window can try once more.
    QVERIFY(single_->Called("Disconnect"));
    QVERIFY(Tree()->isEnabled() && Action("Connect")->isEnabled());
    QVERIFY(!form_->findChild<QSpinBox*>("EditBurst")->isEnabled());
    single_->FailConnect = false;
    Action("Connect")->trigger();
    QVERIFY(form_->IsConnected());
  }

  void uploadPlayStopRoad() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    auto* bar = form_->findChild<QProgressBar*>("UploadProgressBar");
    auto* enable = form_->findChild<QCheckBox*>("OutputEnableCheckBox");
    QVERIFY(enable->isEnabled() && enable->isChecked());
    QVERIFY(!Action("Play")->isEnabled());

    Action("Upload")->trigger();
    QVERIFY(form_->IsUploading());
    QCOMPARE(Action("Upload")->text(), QString("&Cancel"));
    QVERIFY(!Action("Disconnect")->isEnabled());
    QVERIFY(!bar->isHidden());
    QVERIFY(enable->isHidden());
    QCOMPARE(bar->maximum(), 0);  // indeterminate until the first report
    QVERIFY(single_->Called("Upload 1") && single_->Called("OutputOn 0"));
    QCOMPARE(form_->StatusText(0), QString("Preparing waveform"));
    single_->UploadProgress(single_.get(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(form_->StatusText(0), QString("Uploading waveform data"));
    single_->UploadProgress(single_.get(), 57);
    QCOMPARE(bar->value(), 57);
    single_->UploadDone(single_.get());
    QVERIFY(form_->IsUploaded());
    QVERIFY(bar->isHidden() && !enable->isHidden() && !enable->isEnabled());
    QVERIFY(!Action("Upload")->isEnabled());  // once per connection
    QVERIFY(Action("Play")->isEnabled());

    auto* burst = form_->findChild<QSpinBox*>("EditBurst");
    burst->setValue(3);
    Action("Play")->trigger();
    QVERIFY(form_->IsRunning());
    QVERIFY(!burst->isEnabled());
    QVERIFY(single_->Called("SetBurstCount 3"));
    QCOMPARE(form_->StatusText(0), QString("Running"));
    QCOMPARE(form_->StatusText(1), QString("Burst 1 of 3"));
    single_->PlayProgress(single_.get(), 60);
    single_->PlayProgress(single_.get(), 10);  // a new burst began
    QCOMPARE(form_->GetBurstCounter(), 2);
    single_->Burst(single_.get(), 2);
    QCOMPARE(form_->StatusText(1), QString("Burst 2 of 3"));
    QVERIFY(Action("Pause")->isEnabled() && !Action("Play")->isEnabled());

    Action("Stop")->trigger();
    QVERIFY(single_->Called("Stop"));
    single_->StopEvent(single_.get());
    QVERIFY(!form_->IsRunning());
    QVERIFY(burst->isEnabled());
    QCOMPARE(form_->StatusText(0), QString("Stopped"));

    const QStringList expected{"Searching devices... Done.",
                               "Connecting to KSV 7341-20 (serial number 100)... Done.",
                               QString::fromUtf8("The device will play: 200 of 1000 points \u00b7 "
                                                 "max deviation 0.05 V at 0.81 s \u00b7 max "
                                                 "deviation 0 A at 0 s"),
                               "Preparing waveform for device...",
                               "Uploading waveform data... Done.",
                               "Setting burst",
                               "Executing waveform",
                               "Stopping execution",
                               "Execution stopped"};
    QCOMPARE(form_->OutputLines(), expected);
  }

  void pauseThenPlayResumesWithoutSettingTheBurst() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    UploadAndFinish(*single_);
    Action("Play")->trigger();
    Action("Pause")->trigger();
    single_->StopEvent(single_.get());
    QVERIFY(form_->IsPaused() && !form_->IsRunning());
    QCOMPARE(form_->StatusText(0), QString("Paused"));
    QVERIFY(Action("Stop")->isEnabled() && Action("Play")->isEnabled());
    single_->Calls.clear();
    Action("Play")->trigger();
    QCOMPARE(single_->Calls, (std::vector<std::string>{"Play", "OutputOn 0"}));
    QVERIFY(form_->OutputLines().contains("Execution paused"));
  }

  // A window that goes away while its device plays stops it before letting it go; one that
  // goes away after the run ended only lets go.
  void destroyedWindowStopsAndReleases() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    UploadAndFinish(*single_);
    Action("Play")->trigger();
    QVERIFY(form_->IsRunning());
    single_->Calls.clear();
    form_.reset();
    QCOMPARE(single_->Calls, (std::vector<std::string>{"Stop", "Disconnect"}));

    init();
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    UploadAndFinish(*single_);
    Action("Play")->trigger();
    single_->StopEvent(single_.get());  // the bursts are done
    QVERIFY(!form_->IsRunning());
    single_->Calls.clear();
    form_.reset();
    QCOMPARE(single_->Calls, (std::vector<std::string>{"Disconnect"}));
  }

  void cancelledUploadCanBeRepeated() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    Action("Upload")->trigger();
    Action("Upload")->trigger();  // reads "&Cancel" now
    QVERIFY(single_->Called("CancelUpload"));
    single_->UploadDone(single_.get());
    QVERIFY(!form_->IsUploaded() && !form_->IsUploading());
    QCOMPARE(form_->OutputLines().last(), QString("Preparing waveform for device... Abort."));
    QVERIFY(Action("Upload")->isEnabled());
    QVERIFY(form_->findChild<QCheckBox*>("OutputEnableCheckBox")->isEnabled());
  }

  void externalTriggerKeepsWaitingUntilStop() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    auto* check = form_->findChild<QCheckBox*>("ExternalTriggerCheckBox");
    auto* channels = form_->findChild<QComboBox*>("ExternalTriggerChannelComboBox");
    auto* edges = form_->findChild<QComboBox*>("ExternalTriggerEdgeComboBox");
    QVERIFY(!check->isEnabled());  // not before the upload
    UploadAndFinish(*single_);
    QVERIFY(check->isEnabled() && channels->isEnabled() && edges->isEnabled());
    QCOMPARE(channels->count(), 2);
    QCOMPARE(channels->itemText(1), QString("Trig1"));
    QCOMPARE(edges->itemText(0), QString("rising edge"));
    QCOMPARE(edges->itemText(1), QString("falling edge"));
    check->setChecked(true);
    channels->setCurrentIndex(1);
    edges->setCurrentIndex(1);
    single_->Calls.clear();
    Action("Play")->trigger();
    QCOMPARE(single_->Calls,
             (std::vector<std::string>{"SetBurstCount 1", "SetTriggerChannel 1",
                                       "SetTriggerOnFallingEdge 1", "SetExternalTrigger 1", "Play",
                                       "OutputOn 0"}));
    QVERIFY(form_->IsWaitingForTrigger());
    QCOMPARE(form_->StatusText(0), QString("Waiting for trigger"));
    QVERIFY(!check->isEnabled());  // not while running
    single_->Trigger(single_.get());
    QVERIFY(!form_->IsWaitingForTrigger());
    QCOMPARE(form_->OutputLines().last(), QString("Received Trigger, executing waveform"));

    single_->StopEvent(single_.get());  // the burst sequence ended
    QCOMPARE(form_->OutputLines().last(), QString("Execution finished"));
    QVERIFY(form_->IsRunning() && form_->IsWaitingForTrigger());
    QVERIFY(Action("Stop")->isEnabled());
    Action("Stop")->trigger();
    single_->StopEvent(single_.get());
    QCOMPARE(form_->OutputLines().last(), QString("Execution stopped"));
    QVERIFY(!form_->IsRunning() && !form_->IsWaitingForTrigger());
  }

  // "Fire trigger" shows only while a simulated instrument is connected, and its button fires
  // that instrument's trigger input.
  void fireTriggerOnlyForSimulatedInstruments() {
    int fired = 0;
    bool simulated = false;
    form_->AddSimulatedTrigger({[&](const IDevice& d) { return simulated && &d == single_.get(); },
                                [&](IDevice& d) {
                                  QCOMPARE(&d, static_cast<IDevice*>(single_.get()));
                                  ++fired;
                                  single_->Trigger(single_.get());
                                }});
    ShowAndSearch();
    auto* toolbar = form_->findChild<QToolBar*>("PlayerToolbar");
    QAction* fire = Action("FireTrigger");
    QVERIFY(toolbar && fire);
    auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(fire));
    QVERIFY(button);
    QVERIFY(!fire->isVisible());  // nothing connected
    ConnectTo("KSV 7341-20, SN 100");
    QVERIFY(!fire->isVisible() && !button->isVisible());  // a real instrument
    Action("Disconnect")->trigger();
    QVERIFY(!form_->IsConnected());

    simulated = true;
    ConnectTo("KSV 7341-20, SN 100");
    QVERIFY(fire->isVisible() && fire->isEnabled());
    QTRY_VERIFY(button->isVisible());  // once the toolbar has laid itself out again
    UploadAndFinish(*single_);
    form_->findChild<QCheckBox*>("ExternalTriggerCheckBox")->setChecked(true);
    Action("Play")->trigger();
    QVERIFY(form_->IsWaitingForTrigger());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(fired, 1);
    const QStringList lines = form_->OutputLines();
    QCOMPARE(lines.at(lines.size() - 2), QString("Trigger fired"));
    QCOMPARE(lines.last(), QString("Received Trigger, executing waveform"));
    QVERIFY(!form_->IsWaitingForTrigger());
    Action("Stop")->trigger();
    single_->StopEvent(single_.get());
    Action("Disconnect")->trigger();
    QVERIFY(!fire->isVisible());
  }

  // Before the upload the log says what the supply will play and what it plays differently;
  // none of it stops the upload.
  void instrumentPreviewInTheLog() {
    // 30 V on a 20 V supply for a second, no current curve.
    SetCurve(voltage_, {{0, 5}, {1, 5}, {1, 30}, {2, 30}, {2, 5}, {3, 5}});
    current_.SetLastPointIndex(0);
    ShowAndSearch();
    dialogs_->Answers = {QMessageBox::Yes};  // connect although it will be clipped
    ConnectTo("KSV 7341-20, SN 100");
    QStringList lines = form_->OutputLines();
    // The fake supply's limits: 20 V, 10 A.
    const QStringList expected{
        "Searching devices... Done.", "Connecting to KSV 7341-20 (serial number 100)... Done.",
        QString::fromUtf8("The device will play: 3 of 1000 points \u00b7 max deviation 10 V at 1 s "
                          "\u00b7 no current curve: limit 10 A"),
        "Warning: voltage above 20 V by up to 10 V from 1 s to 2 s",
        "Warning: voltage: the played staircase deviates by 10 V at 1 s, more than ten "
        "resolution steps"};
    QCOMPARE(lines, expected);
    auto* log = form_->findChild<QTextEdit*>("RemoteOutput");
    QCOMPARE(log->document()->lastBlock().begin().fragment().charFormat().foreground().color(),
             QColor(255, 0, 0));
    UploadAndFinish(*single_);
    QVERIFY(single_->Called("Upload 1"));
    Action("Disconnect")->trigger();

    // A 200 Hz ripple that 1000 points cannot follow: more than ten steps off, said in red.
    SetCurve(voltage_, {{0, 10}, {20, 10}});
    voltage_[0].Sup1.Kind = SuperpositionKind::Sine;
    voltage_[0].Sup1.FreqStart = voltage_[0].Sup1.FreqEnd = 200;
    voltage_[0].Sup1.AmpStart = voltage_[0].Sup1.AmpEnd = 4;
    SetCurve(current_, {{0, 1}, {20, 1}});
    form_->hide();
    ShowAndSearch();
    dialogs_->Answers = {QMessageBox::Yes};  // faster than the device's shortest dwell
    ConnectTo("KSV 7341-20, SN 100");
    lines = form_->OutputLines();
    QCOMPARE(lines.at(lines.size() - 4),
             QString("Connecting to KSV 7341-20 (serial number 100)... Done."));
    QCOMPARE(lines.at(lines.size() - 3),
             QString::fromUtf8("The device will play: 1 of 1000 points \u00b7 max deviation 2 V at "
                               "0.00375 s \u00b7 max deviation 0 A at 0 s"));
    QVERIFY(lines.at(lines.size() - 2).startsWith("Warning: voltage segment 1: "));
    QCOMPARE(lines.last(), QString("Warning: voltage: the played staircase deviates by 2 V at "
                                   "0.00375 s, more than ten resolution steps"));
    QVERIFY(Action("Upload")->isEnabled());
    UploadAndFinish(*single_);
    Action("Disconnect")->trigger();
    voltage_[0].Sup1 = {};  // the next test's document has none
  }

  void errorEventReturnsToConnected() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    Action("Upload")->trigger();
    single_->Error(single_.get(), ETimeoutError("Timeout"));
    QVERIFY(!form_->IsUploading() && !form_->IsUploaded() && form_->IsConnected());
    QCOMPARE(form_->StatusText(0), QString("Error"));
    QCOMPARE(form_->OutputLines().last(), QString("Error on KSV 7341-20: Timeout"));
    QVERIFY(Action("Upload")->isEnabled() && Action("Disconnect")->isEnabled());
    // The error line is red, and the next line is not.
    auto* log = form_->findChild<QTextEdit*>("RemoteOutput");
    QTextBlock errorBlock = log->document()->lastBlock();
    QCOMPARE(errorBlock.begin().fragment().charFormat().foreground().color(), QColor(255, 0, 0));
    Action("Disconnect")->trigger();
    QTextBlock next = log->document()->lastBlock();
    QVERIFY(next.begin().fragment().charFormat().foreground().color() != QColor(255, 0, 0));
    // Events of a device no longer connected are not reported.
    single_->Error(single_.get(), ETimeoutError("late"));
    QCOMPARE(form_->OutputLines().last(), QString("Disconnected from device."));
  }

  // An upload the device refuses at once, or an error while halted: back to a state whose
  // commands work, never stuck uploading or paused.
  void refusedUploadAndErrorWhilePausedLeaveUsableCommands() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    single_->FailUpload = true;
    Action("Upload")->trigger();
    QVERIFY(!form_->IsUploading() && form_->IsConnected());
    QCOMPARE(form_->OutputLines().last(), QString("Error: Timeout"));
    QCOMPARE(Action("Upload")->text(), QString("&Upload waveform"));
    QVERIFY(Action("Upload")->isEnabled() && Action("Disconnect")->isEnabled());
    QVERIFY(form_->findChild<QProgressBar*>("UploadProgressBar")->isHidden());
    QVERIFY(form_->findChild<QCheckBox*>("OutputEnableCheckBox")->isEnabled());
    single_->FailUpload = false;
    UploadAndFinish(*single_);

    Action("Play")->trigger();
    Action("Pause")->trigger();
    single_->StopEvent(single_.get());
    QVERIFY(form_->IsPaused());
    single_->Error(single_.get(), ETimeoutError("lost"));
    QVERIFY(!form_->IsPaused() && !form_->IsRunning() && form_->IsUploaded());
    QVERIFY(Action("Play")->isEnabled() && !Action("Stop")->isEnabled());
    single_->Calls.clear();
    Action("Play")->trigger();  // a new run: the burst count is set again
    QVERIFY(single_->Called("SetBurstCount 1"));
  }

  // Pausing an armed run halts it like any other: Play resumes it.
  void pauseWithTheTriggerArmedCanResume() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    UploadAndFinish(*single_);
    form_->findChild<QCheckBox*>("ExternalTriggerCheckBox")->setChecked(true);
    Action("Play")->trigger();
    single_->Trigger(single_.get());
    Action("Pause")->trigger();
    single_->StopEvent(single_.get());
    QCOMPARE(form_->OutputLines().last(), QString("Execution paused"));
    QCOMPARE(form_->StatusText(0), QString("Paused"));
    QVERIFY(form_->IsPaused() && !form_->IsRunning() && !form_->IsWaitingForTrigger());
    QVERIFY(Action("Play")->isEnabled() && Action("Stop")->isEnabled());
    single_->Calls.clear();
    Action("Play")->trigger();
    QCOMPARE(single_->Calls, (std::vector<std::string>{"Play", "OutputOn 0"}));
    QVERIFY(form_->IsRunning());
  }

  void burstFieldRules() {
    ShowAndSearch();
    single_->MaxBurst = 255;
    ConnectTo("KSV 7341-20, SN 100");
    auto* burst = form_->findChild<QSpinBox*>("EditBurst");
    QVERIFY(burst->isEnabled());
    burst->setFocus();
    burst->selectAll();
    QTest::keyClicks(burst, "300");
    QCOMPARE(burst->value(), 255);
    QCOMPARE(burst->text(), QString("255"));
    burst->selectAll();
    QTest::keyClick(burst, Qt::Key_Backspace);
    QCOMPARE(burst->text(), QString());
    form_->findChild<QTextEdit*>("RemoteOutput")->setFocus();
    QCoreApplication::processEvents();
    QCOMPARE(burst->text(), QString("1"));
    QCOMPARE(burst->value(), 1);
    burst->setFocus();
    burst->selectAll();
    QTest::keyClicks(burst, "-4");
    QCOMPARE(burst->value(), 0);
  }

  void closingWhileConnectedAsks() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    dialogs_->Answers = {QMessageBox::No};
    form_->close();
    QVERIFY(form_->isVisible() && form_->IsConnected());
    QVERIFY(dialogs_->Asked.last().startsWith("Ondrevo|You are still connected to a device."));

    // Running: Yes to closing, then Cancel to the stop question keeps it open too.
    UploadAndFinish(*single_);
    Action("Play")->trigger();
    dialogs_->Answers = {QMessageBox::Yes, QMessageBox::Cancel};
    form_->close();
    QVERIFY(form_->isVisible() && form_->IsConnected());

    // Yes, Yes: stopped, disconnected, closed and cleared.
    dialogs_->Answers = {QMessageBox::Yes, QMessageBox::Yes};
    form_->close();
    QVERIFY(!form_->isVisible());
    QVERIFY(!form_->IsConnected());
    QVERIFY(single_->Called("Stop") && single_->Called("Disconnect"));
    QVERIFY(form_->OutputLines().isEmpty());
    QCOMPARE(Tree()->topLevelItemCount(), 0);
    QVERIFY(form_->GetFoundDevices().empty());
  }

  void workerEventsRunOnTheGuiThreadAndWait() {
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    bool rethrown = false;
    std::thread worker([&] {
      TMainThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
      try {
        TMainThread::Synchronize([] { throw ETimeoutError("late"); });
      } catch (const ETimeoutError&) {
        rethrown = true;
      }
      returned = true;
    });
    QTRY_VERIFY(returned.load());
    worker.join();
    QCOMPARE(ranOn, std::this_thread::get_id());
    QVERIFY(rethrown);
    // On the GUI thread itself the handler runs at once.
    bool direct = false;
    TMainThread::Synchronize([&] { direct = true; });
    QVERIFY(direct);
  }

  void outcomeOfAClearedLineGetsALineOfItsOwn() {
    ShowAndSearch();
    ConnectTo("KSV 7341-20, SN 100");
    Action("Upload")->trigger();
    single_->UploadProgress(single_.get(), 10);
    Action("ClearOutput")->trigger();
    single_->UploadDone(single_.get());
    QCOMPARE(form_->OutputLines(), QStringList{"Uploading waveform data... Done."});
  }

  void logCommands() {
    ShowAndSearch();
    QVERIFY(Action("SaveOutput")->isEnabled() && Action("ClearOutput")->isEnabled());
    QTemporaryDir dir;
    dialogs_->SavePath = dir.filePath("out.txt");
    form_->SaveOutput();
    QFile file(dialogs_->SavePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Searching devices... Done.\n"));
    Action("ClearOutput")->trigger();
    QVERIFY(form_->OutputLines().isEmpty());
    QVERIFY(!Action("SaveOutput")->isEnabled() && !Action("ClearOutput")->isEnabled());
  }
};

QTEST_MAIN(RemoteWindowTest)
#include "remote_window_test.moc"
