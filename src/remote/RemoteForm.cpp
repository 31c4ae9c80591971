#include "remote/RemoteForm.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/TrQ.h"
#include "daq/DaqMxDevice.h"
#include "devices/Device.h"
#include "devices/Interface.h"
#include "devices/supplies/Drivers.h"
#include "document/AtomicFile.h"
#include "document/SegmentTable.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "model/Waveform.h"
#include "playback/FitChecks.h"
#include "remote/BurstEdit.h"
#include "remote/CommandsView.h"
#include "remote/MeasurePanel.h"
#include "remote/RemoteDeviceTree.h"
#include "remote/RemotePlayerPanel.h"
#include "remote/RemoteTexts.h"
#include "transports/GpibInterface.h"
#include "transports/LanInterface.h"
#include "transports/RS232Interface.h"
#include "transports/UsbInterface.h"

namespace ondrevo {

namespace {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback, const QWidget* widget) {
  return QIcon::fromTheme(QString::fromLatin1(name), widget->style()->standardIcon(fallback));
}

}  // namespace

TRemoteForm::TRemoteForm(QWidget* parent)
    : QDialog(parent),
      VoltageWaveform(std::make_shared<TWaveform>()),
      CurrentWaveform(std::make_shared<TWaveform>()),
      scanners_(DefaultScanners()),
      dialogs_(std::make_shared<TRemoteDialogs>()) {
  setObjectName(QStringLiteral("RemoteForm"));
  search_ = std::make_unique<TDeviceSearch>();
  setWindowTitle(TrQ("Ondrevo Remote"));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setSizeGripEnabled(true);
  CreateActions();
  CreateWidgets();
  // A card on the simulated library fires its selected trigger line.
  simulatedTriggers_.push_back(
      {[](const IDevice& d) {
         const auto* card = dynamic_cast<const TDaqMxDevice*>(&d);
         return card && card->IsSimulated();
       },
       [](IDevice& d) { dynamic_cast<TDaqMxDevice&>(d).FireSimulatedTrigger(); }});
  resize(900, 640);
  SetStatus(TrQ("Ready"));
  // Search once the window is on screen, so that the tree grows visibly.
  firstSearch_ = new QTimer(this);
  firstSearch_->setSingleShot(true);
  firstSearch_->setInterval(0);
  connect(firstSearch_, &QTimer::timeout, this, [this] {
    if (isVisible()) Refresh();
  });
  ApplyState();
}

TRemoteForm::~TRemoteForm() {
  commands_->Trace(nullptr);
  measured_.reset();  // its poller may share the supply's line
  // Devices may outlive the window (a worker thread holds them): they must not call back here.
  // A connected device says goodbye to its instrument before the demo instruments go away.
  if (run_) {
    run_->ClearEvents();
    try {
      run_->Release(session_.IsRunning());
    } catch (...) {
    }
    run_.reset();
  }
  Device.reset();
  FoundDevices.clear();
}

std::vector<TRemoteForm::TScannerFactory> TRemoteForm::DefaultScanners() {
  InstallSupplyDrivers();
  // In bus order; GPIB and USB come before the serial scanner, NI-DAQmx, analog and TTL after
  // it, as their scanners are added.
  return {
      [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TGpibInterface>(0)); },
      [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TUsbInterface>()); },
      [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TRS232Interface>(1)); },
      [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TLanInterface>()); },
      // Without the DAQmx library there is no card node, and no error.
      []() -> std::shared_ptr<IDeviceScanner> {
        if (!TDaqMxLibrary::Available()) return nullptr;
        return std::make_shared<TDaqInterface>();
      },
      [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TAnalogInterface>()); },
      [] { return std::static_pointer_cast<IDeviceScanner>(std::make_shared<TTtlInterface>()); },
  };
}

void TRemoteForm::SetScanners(std::vector<TScannerFactory> factories) {
  scanners_ = std::move(factories);
}

void TRemoteForm::SetDialogs(std::shared_ptr<TRemoteDialogs> dialogs) {
  dialogs_ = dialogs ? std::move(dialogs) : std::make_shared<TRemoteDialogs>();
}

void TRemoteForm::SetDocument(const SegmentTable* voltage, const SegmentTable* current) {
  voltageTable_ = voltage;
  currentTable_ = current;
}

int TRemoteForm::ShowModal(const SegmentTable& voltage, const SegmentTable& current) {
  SetDocument(&voltage, &current);
  return exec();
}

// ---------------------------------------------------------------- construction

void TRemoteForm::CreateActions() {
  auto make = [this](const char* name, const QString& caption, const QString& hint,
                     const QIcon& icon = QIcon()) {
    auto* action = new QAction(icon, caption, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(hint);
    action->setStatusTip(hint);
    addAction(action);
    return action;
  };
  actions_.Refresh = make("Refresh", TrQ("&Refresh"), TrQ("Refresh device list"),
                          ThemeIcon("view-refresh", QStyle::SP_BrowserReload, this));
  actions_.Refresh->setShortcut(Qt::Key_F5);
  actions_.Connect = make("Connect", TrQ("&Connect"), TrQ("Connect to device"),
                          ThemeIcon("network-connect", QStyle::SP_DialogApplyButton, this));
  actions_.Connect->setShortcut(Qt::Key_F6);
  actions_.Disconnect = make("Disconnect", TrQ("&Disconnect"), TrQ("Disconnect from device"),
                             ThemeIcon("network-disconnect", QStyle::SP_DialogCancelButton, this));
  actions_.Upload =
      make("Upload", TrQ("&Upload waveform"), TrQ("Uploads the waveform data to the device"),
           ThemeIcon("go-up", QStyle::SP_ArrowUp, this));
  actions_.Play = make("Play", QString(), TrQ("Starts the playback of the arbitrary data"),
                       MediaIcon(TMediaGlyph::Play));
  actions_.Play->setShortcut(Qt::Key_Space);
  actions_.Pause =
      make("Pause", QString(), TrQ("Pauses the playback"), MediaIcon(TMediaGlyph::Pause));
  actions_.Pause->setShortcut(Qt::Key_Space);
  actions_.Stop = make("Stop", QString(), TrQ("Stops the playback"), MediaIcon(TMediaGlyph::Stop));
  actions_.Stop->setShortcut(Qt::Key_Escape);
  actions_.GotoStart = make("GotoStart", QString(), TrQ("Go to starting point"),
                            style()->standardIcon(QStyle::SP_MediaSkipBackward));
  actions_.GotoStart->setShortcut(Qt::Key_Home);
  actions_.GotoEnd = make("GotoEnd", QString(), TrQ("Go to end point"),
                          style()->standardIcon(QStyle::SP_MediaSkipForward));
  actions_.GotoEnd->setShortcut(Qt::Key_End);
  actions_.ClearOutput = make("ClearOutput", TrQ("Clear &output"), TrQ("Clear the output window"),
                              ThemeIcon("edit-clear", QStyle::SP_DialogResetButton, this));
  actions_.SaveOutput =
      make("SaveOutput", TrQ("&Save output..."), TrQ("Save output to a text file"),
           ThemeIcon("document-save", QStyle::SP_DialogSaveButton, this));
  actions_.SaveOutput->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  actions_.Copy = make("Copy", TrQ("&Copy"), TrQ("Copy selected text to clipboard"),
                       ThemeIcon("edit-copy", QStyle::SP_FileIcon, this));
  actions_.Copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  actions_.Copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  actions_.AddInterface = make("AddInterface", TrQ("&Add interface"),
                               TrQ("Add LAN or COM interface to be scanned for devices"));
  actions_.Configure = make("Configure", TrQ("C&onfigure"), TrQ("Configure interface or device"));
  actions_.FireTrigger = make("FireTrigger", TrQ("Fire &trigger"),
                              TrQ("Fires the trigger input of the simulated instrument"),
                              ThemeIcon("media-playback-start", QStyle::SP_MediaPlay, this));
  actions_.SaveRecord = make("SaveRecord", TrQ("Save &record..."),
                             TrQ("Save the measured run as a CSV record and an HTML report"),
                             ThemeIcon("document-save-as", QStyle::SP_DialogSaveButton, this));
  actions_.SaveRecord->setEnabled(false);
  actions_.AddInterface->setVisible(false);
  actions_.Configure->setVisible(false);
  actions_.FireTrigger->setVisible(false);
  actions_.GotoStart->setEnabled(false);
  actions_.GotoEnd->setEnabled(false);

  connect(actions_.Refresh, &QAction::triggered, this, [this] {
    if (session_.IsSearching())
      CancelSearch();
    else
      Refresh();
  });
  connect(actions_.Connect, &QAction::triggered, this, [this] { ConnectDevice(); });
  connect(actions_.Disconnect, &QAction::triggered, this, [this] { DisconnectDevice(); });
  connect(actions_.Upload, &QAction::triggered, this, [this] { UploadOrCancel(); });
  connect(actions_.Play, &QAction::triggered, this, [this] { Play(); });
  connect(actions_.Pause, &QAction::triggered, this, [this] { Pause(); });
  connect(actions_.Stop, &QAction::triggered, this, [this] { Stop(); });
  connect(actions_.ClearOutput, &QAction::triggered, this, [this] { ClearOutput(); });
  connect(actions_.SaveOutput, &QAction::triggered, this, [this] { SaveOutput(); });
  connect(actions_.Copy, &QAction::triggered, this, [this] { CopyOutput(); });
  connect(actions_.FireTrigger, &QAction::triggered, this, [this] { FireTrigger(); });
  connect(actions_.SaveRecord, &QAction::triggered, this, [this] { SaveRecord(); });
}

void TRemoteForm::CreateWidgets() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* deviceToolbar = new QToolBar(this);
  deviceToolbar->setObjectName(QStringLiteral("DeviceToolbar"));
  deviceToolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  deviceToolbar->addAction(actions_.Connect);
  deviceToolbar->addAction(actions_.Refresh);
  deviceToolbar->addAction(actions_.AddInterface);
  deviceToolbar->addAction(actions_.Configure);
  layout->addWidget(deviceToolbar);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->setChildrenCollapsible(false);
  layout->addWidget(splitter, 1);

  // Upper half: the device tree and the player controls.
  auto* upper = new QWidget(splitter);
  auto* upperLayout = new QHBoxLayout(upper);
  upperLayout->setContentsMargins(6, 6, 6, 6);

  tree_ = new TDeviceTree(upper);
  upperLayout->addWidget(tree_, 1);
  treeMenu_ = new QMenu(tree_);
  treeMenu_->addAction(actions_.Connect);
  treeMenu_->addAction(actions_.Refresh);
  treeMenu_->setDefaultAction(actions_.Connect);
  connect(tree_, &QWidget::customContextMenuRequested, this, &TRemoteForm::OnTreeContextMenu);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) {
    ApplyState();
    if (actions_.Connect->isEnabled()) ConnectDevice();
  });
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &TRemoteForm::OnSelectionChanged);

  player_ = new TPlayerPanel({actions_.Upload, actions_.Play, actions_.Pause, actions_.Stop,
                              actions_.GotoStart, actions_.GotoEnd},
                             upper);
  upperLayout->addWidget(player_, 0);

  // Lower half: the log with its toolbar.
  auto* lower = new QWidget(splitter);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->setSpacing(0);
  auto* playerToolbar = new QToolBar(lower);
  playerToolbar->setObjectName(QStringLiteral("PlayerToolbar"));
  playerToolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  playerToolbar->addAction(actions_.Disconnect);
  playerToolbar->addAction(actions_.FireTrigger);
  playerToolbar->addSeparator();
  playerToolbar->addAction(actions_.SaveOutput);
  playerToolbar->addAction(actions_.ClearOutput);
  lowerLayout->addWidget(playerToolbar);

  output_ = new TRemoteLog(lower);
  output_->addAction(actions_.Copy);
  // What was sent and received, as the transport traced it, beside the log.
  commands_ = new TCommandsView(lower);
  auto* tabs = new QTabWidget(lower);
  tabs->setObjectName(QStringLiteral("OutputTabs"));
  tabs->setDocumentMode(true);
  tabs->addTab(output_, TrQ("Log"));
  tabs->addTab(commands_, TrQ("Commands"));
  measure_ = new TMeasurePanel(actions_.SaveRecord, lower);
  tabs->addTab(measure_, TrQ("Measurement"));
  tabs_ = tabs;
  lowerLayout->addWidget(tabs, 1);
  // The live plot follows the readings at the pace of the eye, not of the poller.
  measureTimer_ = new QTimer(this);
  measureTimer_->setInterval(200);
  connect(measureTimer_, &QTimer::timeout, this, [this] { TakeReadings(); });
  outputMenu_ = new QMenu(output_);
  outputMenu_->addAction(actions_.Copy);
  outputMenu_->addAction(actions_.SaveOutput);
  outputMenu_->addSeparator();
  outputMenu_->addAction(actions_.ClearOutput);
  connect(output_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    ApplyState();
    outputMenu_->popup(output_->viewport()->mapToGlobal(pos));
  });
  connect(output_, &QTextEdit::copyAvailable, this, [this](bool) { ApplyState(); });
  connect(output_, &TRemoteLog::linesChanged, this, [this] { ApplyState(); });
  splitter->addWidget(upper);
  splitter->addWidget(lower);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);

  auto* statusBar = new QStatusBar(this);
  statusBar->setObjectName(QStringLiteral("StatusBar"));
  statusBar->setSizeGripEnabled(false);
  statusPanel0_ = new QLabel(statusBar);
  statusPanel0_->setObjectName(QStringLiteral("StatusPanel0"));
  statusPanel1_ = new QLabel(statusBar);
  statusPanel1_->setObjectName(QStringLiteral("StatusPanel1"));
  statusPanel1_->setFixedWidth(160);
  auto* panel2 = new QWidget(statusBar);
  panel2->setObjectName(QStringLiteral("StatusPanel2"));
  panel2->setFixedWidth(300);
  auto* panel2Layout = new QHBoxLayout(panel2);
  panel2Layout->setContentsMargins(0, 2, 0, 2);
  playerProgress_ = new QProgressBar(panel2);
  playerProgress_->setObjectName(QStringLiteral("PlayerProgressBar"));
  playerProgress_->setRange(0, 100);
  playerProgress_->setTextVisible(false);
  playerProgress_->setVisible(false);
  panel2Layout->addWidget(playerProgress_);
  statusBar->addWidget(statusPanel0_, 1);
  statusBar->addPermanentWidget(statusPanel1_);
  statusBar->addPermanentWidget(panel2);
  layout->addWidget(statusBar);
}

// ---------------------------------------------------------------- state display

void TRemoteForm::ApplyState() {
  TRemoteFacts facts;
  facts.SelectionConnectable = tree_->SelectionConnectable();
  facts.AnalogOutput = static_cast<bool>(std::dynamic_pointer_cast<IAnalogOutput>(Device));
  // The analog output card cannot halt a stream and resume it.
  facts.SupportsPause = !IsAnalogOutputCard(Device);
  auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(Device);
  facts.TriggerAvailable = trigger && trigger->IsExternalTriggerAvailable();
  const TRemoteWidgets w = WidgetsFor(session_.State(), facts);

  actions_.Refresh->setEnabled(w.Refresh);
  actions_.Refresh->setText(w.RefreshCancels ? TrQ("&Cancel") : TrQ("&Refresh"));
  actions_.Connect->setEnabled(w.Connect);
  actions_.Disconnect->setEnabled(w.Disconnect);
  actions_.Upload->setEnabled(w.Upload);
  actions_.Upload->setText(w.UploadCancels ? TrQ("&Cancel") : TrQ("&Upload waveform"));
  actions_.Upload->setIcon(
      style()->standardIcon(w.UploadCancels ? QStyle::SP_BrowserStop : QStyle::SP_ArrowUp));
  actions_.Play->setEnabled(w.Play);
  actions_.Pause->setEnabled(w.Pause);
  actions_.Stop->setEnabled(w.Stop);
  const bool simulated = session_.IsConnected() && SimulatedTriggerOf(Device.get()) != nullptr;
  actions_.FireTrigger->setVisible(simulated);
  actions_.FireTrigger->setEnabled(simulated);
  tree_->setEnabled(w.Tree);
  player_->Apply(w, trigger.get());
  playerProgress_->setValue(session_.PlayPercent());
  playerProgress_->setVisible(w.PlayerProgressShown);

  measure_->SetOffer(CurrentMeasureOffer());
  measure_->SetChoiceEnabled(session_.IsConnected() && !session_.IsRunning() &&
                             !session_.IsUploading() && !measureTimer_->isActive());
  actions_.SaveRecord->setEnabled(measured_ && !measured_->Input().Readings.empty());

  const bool hasLines = output_->LineCount() > 0;
  actions_.ClearOutput->setEnabled(hasLines);
  actions_.SaveOutput->setEnabled(hasLines);
  actions_.Copy->setEnabled(output_->textCursor().hasSelection());
}

TRemoteForm::TSimulatedTrigger SimulatedSupplies(std::vector<std::string> serialPaths,
                                                 std::function<void()> fire) {
  return {[paths = std::move(serialPaths)](const IDevice& d) {
            const auto* rc = dynamic_cast<const IRemoteControllable*>(&d);
            const auto bus = rc ? rc->GetInterface() : nullptr;
            if (std::dynamic_pointer_cast<TGpibInterface>(bus)) return true;
            const auto serial = std::dynamic_pointer_cast<TRS232Interface>(bus);
            return serial &&
                   std::find(paths.begin(), paths.end(), serial->DevicePath) != paths.end();
          },
          [fire = std::move(fire)](IDevice&) { fire(); }};
}

void TRemoteForm::AddSimulatedTrigger(TSimulatedTrigger trigger) {
  simulatedTriggers_.push_back(std::move(trigger));
  ApplyState();
}

const TRemoteForm::TSimulatedTrigger* TRemoteForm::SimulatedTriggerOf(const IDevice* device) const {
  if (!device) return nullptr;
  for (const auto& t : simulatedTriggers_)
    if (t.Covers && t.Covers(*device)) return &t;
  return nullptr;
}

void TRemoteForm::FireTrigger() {
  const TSimulatedTrigger* trigger = SimulatedTriggerOf(Device.get());
  if (!trigger || !session_.IsConnected()) return;
  output_->Append(TrQ("Trigger fired"));
  try {
    trigger->Fire(*Device);
  } catch (const std::exception& e) {
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
  }
  ApplyState();
}

void TRemoteForm::SetStatus(const QString& text) {
  statusPanel0_->setText(text);
}

void TRemoteForm::SetBurstText(const QString& text) {
  statusPanel1_->setText(text);
}

QString TRemoteForm::BurstText(int32_t burst) const {
  return FormatText(TrQ("Burst %.0n of %.0n"),
                    {WholeNumber(burst), WholeNumber(player_->Burst()->value())});
}

QString TRemoteForm::StatusText(int panel) const {
  return panel == 0 ? statusPanel0_->text() : panel == 1 ? statusPanel1_->text() : QString();
}

void TRemoteForm::ProcessMessages() {
  QCoreApplication::processEvents();
}

// ---------------------------------------------------------------- log

QStringList TRemoteForm::OutputLines() const {
  return output_->Lines();
}

QStringList TRemoteForm::CommandLines() const {
  return commands_->Lines();
}

void TRemoteForm::ClearOutput() {
  output_->Clear();
  commands_->clear();
}

void TRemoteForm::SaveOutput() {
  if (output_->LineCount() == 0) return;
  const QString path = dialogs_->GetSaveFileName(
      this, TrQ("Save output to..."),
      TrQ("Text files (*.txt)") + QStringLiteral(";;") + TrQ("All files (*.*)"),
      QStringLiteral("txt"));
  if (path.isEmpty()) return;
  QString all = output_->toPlainText() + QLatin1Char('\n');
  if (!commands_->document()->isEmpty())
    all += QLatin1Char('\n') + TrQ("Commands") + QStringLiteral(":\n") + commands_->toPlainText() +
           QLatin1Char('\n');
  const QByteArray text = all.toUtf8();
  try {
    WriteFileAtomically(QFile::encodeName(path).toStdString(),
                        std::string_view(text.constData(), static_cast<size_t>(text.size())));
  } catch (const std::exception& e) {
    dialogs_->Message(this, QMessageBox::Critical, TrQ("Error"), QString::fromLocal8Bit(e.what()),
                      QMessageBox::Ok);
  }
}

void TRemoteForm::CopyOutput() {
  output_->copy();
}

// ---------------------------------------------------------------- showing and closing

void TRemoteForm::BuildWaveforms() {
  if (!voltageTable_ || !currentTable_) return;
  try {
    VoltageWaveform = std::shared_ptr<TWaveform>(BuildWaveform(*voltageTable_).release());
    CurrentWaveform = std::shared_ptr<TWaveform>(BuildWaveform(*currentTable_).release());
  } catch (const std::exception& e) {
    VoltageWaveform = std::make_shared<TWaveform>();
    CurrentWaveform = std::make_shared<TWaveform>();
    output_->AppendError(QString::fromUtf8(e.what()), nullptr);
  }
}

void TRemoteForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  BuildWaveforms();
  firstSearch_->start();
}

void TRemoteForm::keyPressEvent(QKeyEvent* event) {
  // Escape stops the playback; it never closes the window.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TRemoteForm::CanClose() {
  switch (session_.CloseRequested()) {
    case TCloseAnswer::Refuse:
      return false;
    case TCloseAnswer::Close:
      return true;
    case TCloseAnswer::AskToDisconnect:
      break;
  }
  const auto answer = dialogs_->Message(
      this, QMessageBox::Warning, TrQ("Ondrevo"),
      TrQ("You are still connected to a device. Closing the window will also close the "
          "connection.") +
          QStringLiteral("\n\n") + TrQ("Disconnect and close window?"),
      QMessageBox::Yes | QMessageBox::No);
  return answer == QMessageBox::Yes && Disconnect();
}

void TRemoteForm::ClearForClose() {
  ClearOutput();
  tree_->Clear();
  FoundScanners.clear();
  FoundDevices.clear();
  meters_.clear();
  SetStatus(TrQ("Ready"));
  SetBurstText(QString());
  ApplyState();
}

void TRemoteForm::reject() {
  if (!CanClose()) return;
  ClearForClose();
  QDialog::reject();
}

// ---------------------------------------------------------------- device search

void TRemoteForm::OnTreeContextMenu(const QPoint& pos) {
  if (QTreeWidgetItem* item = tree_->itemAt(pos))
    if (item->flags() & Qt::ItemIsSelectable) tree_->setCurrentItem(item);
  ApplyState();
  treeMenu_->popup(tree_->viewport()->mapToGlobal(pos));
}

void TRemoteForm::OnSelectionChanged() {
  ApplyState();
  if (session_.State() != TRemoteState::Idle) return;
  // A device with outputs is connected through one of them: say so, as Connect stays off.
  SetStatus(tree_->SelectionNeedsOutput()
                ? TrQ("Choose one of the outputs below the device to connect it.")
                : TrQ("Ready"));
}

void TRemoteForm::Refresh() {
  if (!session_.BeginSearch()) return;
  firstSearch_->stop();
  const TRemoteLog::TLine line = output_->Append(TrQ("Searching devices..."));
  SetStatus(TrQ("Searching devices..."));
  tree_->Clear();
  FoundScanners.clear();
  FoundDevices.clear();
  meters_.clear();
  ApplyState();

  // The buses are probed on a worker; the window stays responsive and grows the tree bus by bus.
  TDeviceSearch::TEvents events;
  // Progress: the bus being probed, beside the status.
  events.OnSearching = [this](const std::string& bus) { statusPanel1_->setText(Q(bus)); };
  events.OnBus = [this](const TFoundBus& bus) { AddBus(bus); };
  events.OnDone = [this, line](bool cancelled, const std::string& error) {
    statusPanel1_->clear();
    session_.SearchEnded();
    SetStatus(TrQ("Ready"));
    if (!error.empty()) {
      // A scanner failed while searching: the search ends here, what was found stays.
      output_->Complete(line, TrQ("Error:"));
      output_->AppendError(QString::fromUtf8(error.c_str()), nullptr);
    } else {
      output_->Complete(line, cancelled ? TrQ("Abort.") : TrQ("Done."));
    }
    ApplyState();
  };
  if (!search_->Start(scanners_, std::move(events))) {
    // The previous search has not wound down yet: this one never began.
    session_.SearchEnded();
    SetStatus(TrQ("Ready"));
    output_->Complete(line, TrQ("Abort."));
    ApplyState();
  }
}

void TRemoteForm::CancelSearch() {
  if (session_.IsSearching()) search_->Cancel();
}

void TRemoteForm::AddBus(const TFoundBus& bus) {
  FoundScanners.push_back(bus.Bus);
  for (const auto& device : bus.Devices)
    if (device) FoundDevices.push_back(device);
  if (const auto gpib = std::dynamic_pointer_cast<TGpibInterface>(bus.Bus))
    for (const auto& other : gpib->OtherInstruments) {
      const int board = gpib->BoardIndex, address = other.Address;
      meters_.push_back({"GPIB" + std::to_string(board) + "::" + std::to_string(address),
                         other.Identification, [board, address] {
                           auto line = std::make_shared<TGpibInterface>(board, address);
                           line->Open();
                           line->OpenDevice();
                           return std::static_pointer_cast<TInterface>(line);
                         }});
    }
  if (const auto serial = std::dynamic_pointer_cast<TRS232Interface>(bus.Bus))
    for (const auto& other : serial->OtherInstruments)
      meters_.push_back({other.Path, other.Identification, [port = other.Port, path = other.Path] {
                           auto line = std::make_shared<TRS232Interface>(port, path);
                           line->Open();
                           return std::static_pointer_cast<TInterface>(line);
                         }});
  if (const auto usb = std::dynamic_pointer_cast<TUsbInterface>(bus.Bus))
    for (const std::string& other : usb->OtherInstruments)
      meters_.push_back({UsbInstrumentName(other), other, [other] {
                           auto line = std::make_shared<TUsbInterface>();
                           line->Name = "USB";
                           line->DeviceName = other;
                           line->OpenDevice();
                           return std::static_pointer_cast<TInterface>(line);
                         }});
  if (const auto lan = std::dynamic_pointer_cast<TLanInterface>(bus.Bus))
    for (const auto& other : lan->OtherInstruments)
      meters_.push_back({other.Address.Text(), other.Identification, [address = other.Address] {
                           const auto line = MakeLanTransport(address);
                           line->Name = "LAN";
                           line->Open();
                           return std::static_pointer_cast<TInterface>(line);
                         }});
  tree_->AddBus(bus);
  ApplyState();
}

}  // namespace ondrevo
