#include "remote/RemoteForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTime>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/TrQ.h"
#include "daq/DaqMxDevice.h"
#include "devices/Device.h"
#include "devices/Interface.h"
#include "devices/supplies/Drivers.h"
#include "document/AtomicFile.h"
#include "document/Numbers.h"
#include "document/SegmentTable.h"
#include "interfaces/InterfaceDevices.h"
#include "model/Builder.h"
#include "model/Waveform.h"
#include "playback/DeviceSearch.h"
#include "playback/FitChecks.h"
#include "playback/Wiring.h"
#include "remote/BurstEdit.h"
#include "remote/CommandsView.h"
#include "remote/RemotePreview.h"
#include "sim/Demo.h"
#include "transports/GpibInterface.h"
#include "transports/RS232Interface.h"
#include "transports/UsbInterface.h"

namespace ondrevo {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;
const QColor kErrorColor(255, 0, 0);

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Fills "%s" and "%.0n" (a whole number with the locale's digit grouping) in order.
QString FormatText(const QString& format, const QStringList& args) {
  QString result;
  int next = 0;
  for (int i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('%') && next < args.size()) {
      if (format.mid(i, 2) == QLatin1String("%s")) {
        result += args[next++];
        i += 1;
        continue;
      }
      if (format.mid(i, 4) == QLatin1String("%.0n")) {
        result += args[next++];
        i += 3;
        continue;
      }
    }
    result += format[i];
  }
  return result;
}

QString WholeNumber(long long n) {
  return QLocale().toString(n);
}

// The analog output card plays through no command transport; every instrument has one.
QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback, const QWidget* widget) {
  return QIcon::fromTheme(QString::fromLatin1(name), widget->style()->standardIcon(fallback));
}

enum class TMediaGlyph { Play, Pause, Stop };

// Large, clear transport glyphs; the style's own are too small for the big buttons.
QIcon MediaIcon(TMediaGlyph glyph) {
  QIcon icon;
  for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const bool on = mode == QIcon::Normal;
    switch (glyph) {
      case TMediaGlyph::Play: {
        painter.setBrush(on ? QColor(46, 160, 67) : QColor(190, 190, 190));
        const QPointF points[] = {{18, 10}, {18, 54}, {54, 32}};
        painter.drawPolygon(points, 3);
        break;
      }
      case TMediaGlyph::Pause:
        painter.setBrush(on ? QColor(40, 110, 200) : QColor(190, 190, 190));
        painter.drawRoundedRect(QRectF(14, 10, 13, 44), 2, 2);
        painter.drawRoundedRect(QRectF(37, 10, 13, 44), 2, 2);
        break;
      case TMediaGlyph::Stop:
        painter.setBrush(on ? QColor(200, 50, 50) : QColor(190, 190, 190));
        painter.drawRoundedRect(QRectF(13, 13, 38, 38), 3, 3);
        break;
    }
    painter.end();
    icon.addPixmap(pixmap, mode);
  }
  return icon;
}

// Runs on scope exit.
template <typename F>
struct TFinally {
  F fn;
  ~TFinally() { fn(); }
};
template <typename F>
TFinally(F) -> TFinally<F>;

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
  resize(900, 640);
  SetStatus(TrQ("Ready"));
  UpdateTriggerControls();
  UpdateActions();
}

TRemoteForm::~TRemoteForm() {
  commands_->Trace(nullptr);
  // Devices may outlive the window (a worker thread holds them): they must not call back here.
  for (const auto& weak : boundDevices_)
    if (auto device = weak.lock()) UnbindHandlers(device);
  // A connected device says goodbye to its instrument before the demo instruments go away.
  if (auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device)) {
    try {
      if (Connected) player->Disconnect();
    } catch (...) {
    }
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
  actions_.AddInterface->setVisible(false);
  actions_.Configure->setVisible(false);
  actions_.GotoStart->setEnabled(false);
  actions_.GotoEnd->setEnabled(false);

  connect(actions_.Refresh, &QAction::triggered, this, [this] {
    if (Refreshing)
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
}

void TRemoteForm::CreateWidgets() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  deviceToolbar_ = new QToolBar(this);
  deviceToolbar_->setObjectName(QStringLiteral("DeviceToolbar"));
  deviceToolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  deviceToolbar_->addAction(actions_.Connect);
  deviceToolbar_->addAction(actions_.Refresh);
  deviceToolbar_->addAction(actions_.AddInterface);
  deviceToolbar_->addAction(actions_.Configure);
  layout->addWidget(deviceToolbar_);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->setChildrenCollapsible(false);
  layout->addWidget(splitter, 1);

  // Upper half: the device tree and the player controls.
  auto* upper = new QWidget(splitter);
  auto* upperLayout = new QHBoxLayout(upper);
  upperLayout->setContentsMargins(6, 6, 6, 6);

  tree_ = new QTreeWidget(upper);
  tree_->setObjectName(QStringLiteral("DeviceTreeView"));
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setExpandsOnDoubleClick(false);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setMinimumWidth(260);
  upperLayout->addWidget(tree_, 1);
  treeMenu_ = new QMenu(tree_);
  treeMenu_->addAction(actions_.Connect);
  treeMenu_->addAction(actions_.Refresh);
  treeMenu_->setDefaultAction(actions_.Connect);
  connect(tree_, &QWidget::customContextMenuRequested, this, &TRemoteForm::OnTreeContextMenu);
  connect(tree_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { OnTreeDoubleClicked(item); });
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, [this] {
    UpdateActions();
    if (Connected || Refreshing || inCommand_) return;
    // A device with outputs is connected through one of them: say so, as Connect stays off.
    const QTreeWidgetItem* item = tree_->selectedItems().value(0);
    const TNode* node = NodeOf(item);
    if (node && node->Device && item->childCount() > 0)
      SetStatus(TrQ("Choose one of the outputs below the device to connect it."));
    else
      SetStatus(TrQ("Ready"));
  });

  auto* panel = new QWidget(upper);
  panel->setObjectName(QStringLiteral("PlayerPanel"));
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(12, 0, 0, 0);
  grid->setVerticalSpacing(10);
  upperLayout->addWidget(panel, 0);

  uploadButton_ = new QToolButton(panel);
  uploadButton_->setObjectName(QStringLiteral("UploadButton"));
  uploadButton_->setDefaultAction(actions_.Upload);
  uploadButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  uploadButton_->setMinimumWidth(160);
  grid->addWidget(uploadButton_, 0, 0);

  // The progress bar and the output check box share one place.
  uploadProgress_ = new QProgressBar(panel);
  uploadProgress_->setObjectName(QStringLiteral("UploadProgressBar"));
  uploadProgress_->setRange(0, 100);
  uploadProgress_->setValue(0);
  uploadProgress_->setVisible(false);
  outputEnable_ = new QCheckBox(TrQ("&Enable output after upload"), panel);
  outputEnable_->setObjectName(QStringLiteral("OutputEnableCheckBox"));
  outputEnable_->setChecked(true);
  outputEnable_->setEnabled(false);
  grid->addWidget(uploadProgress_, 0, 1, 1, 3);
  grid->addWidget(outputEnable_, 0, 1, 1, 3);

  triggerCheck_ = new QCheckBox(TrQ("External &trigger on channel"), panel);
  triggerCheck_->setObjectName(QStringLiteral("ExternalTriggerCheckBox"));
  triggerChannel_ = new QComboBox(panel);
  triggerChannel_->setObjectName(QStringLiteral("ExternalTriggerChannelComboBox"));
  triggerChannel_->setMinimumWidth(90);
  triggerLabel_ = new QLabel(TrQ("on"), panel);
  triggerLabel_->setObjectName(QStringLiteral("ExternalTriggerLabel"));
  triggerEdge_ = new QComboBox(panel);
  triggerEdge_->setObjectName(QStringLiteral("ExternalTriggerEdgeComboBox"));
  triggerEdge_->setMinimumWidth(110);
  grid->addWidget(triggerCheck_, 1, 0);
  grid->addWidget(triggerChannel_, 1, 1);
  grid->addWidget(triggerLabel_, 1, 2);
  grid->addWidget(triggerEdge_, 1, 3);

  labelBurst_ = new QLabel(TrQ("Burst: "), panel);
  labelBurst_->setObjectName(QStringLiteral("LabelBurst"));
  editBurst_ = new TBurstEdit(panel);
  editBurst_->setObjectName(QStringLiteral("EditBurst"));
  labelBurst_->setBuddy(editBurst_);
  labelBurst_->setEnabled(false);
  editBurst_->setEnabled(false);
  grid->addWidget(labelBurst_, 2, 0, Qt::AlignRight);
  grid->addWidget(editBurst_, 2, 1);

  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(8);
  auto bigButton = [panel](QAction* action, const char* name) {
    auto* button = new QToolButton(panel);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefaultAction(action);
    button->setIconSize(QSize(36, 36));
    button->setMinimumSize(QSize(56, 56));
    button->setAutoRaise(false);
    return button;
  };
  playButton_ = bigButton(actions_.Play, "PlayButton");
  pauseButton_ = bigButton(actions_.Pause, "PauseButton");
  stopButton_ = bigButton(actions_.Stop, "StopButton");
  gotoStartButton_ = bigButton(actions_.GotoStart, "GotoStartButton");
  gotoEndButton_ = bigButton(actions_.GotoEnd, "GotoEndButton");
  pauseButton_->setVisible(false);
  gotoStartButton_->setVisible(false);
  gotoEndButton_->setVisible(false);
  buttons->addWidget(gotoStartButton_);
  buttons->addWidget(playButton_);
  buttons->addWidget(pauseButton_);
  buttons->addWidget(stopButton_);
  buttons->addWidget(gotoEndButton_);
  buttons->addStretch(1);
  grid->addLayout(buttons, 3, 0, 1, 4);
  grid->setRowStretch(4, 1);

  // Lower half: the log with its toolbar.
  auto* lower = new QWidget(splitter);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->setSpacing(0);
  playerToolbar_ = new QToolBar(lower);
  playerToolbar_->setObjectName(QStringLiteral("PlayerToolbar"));
  playerToolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  playerToolbar_->addAction(actions_.Disconnect);
  playerToolbar_->addSeparator();
  playerToolbar_->addAction(actions_.SaveOutput);
  playerToolbar_->addAction(actions_.ClearOutput);
  lowerLayout->addWidget(playerToolbar_);

  output_ = new QTextEdit(lower);
  output_->setObjectName(QStringLiteral("RemoteOutput"));
  output_->setReadOnly(true);
  output_->setLineWrapMode(QTextEdit::NoWrap);
  output_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  output_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  output_->setContextMenuPolicy(Qt::CustomContextMenu);
  output_->addAction(actions_.Copy);
  // What was sent and received, as the transport traced it, beside the log.
  commands_ = new TCommandsView(lower);
  auto* tabs = new QTabWidget(lower);
  tabs->setObjectName(QStringLiteral("OutputTabs"));
  tabs->setDocumentMode(true);
  tabs->addTab(output_, TrQ("Log"));
  tabs->addTab(commands_, TrQ("Commands"));
  lowerLayout->addWidget(tabs, 1);
  outputMenu_ = new QMenu(output_);
  outputMenu_->addAction(actions_.Copy);
  outputMenu_->addAction(actions_.SaveOutput);
  outputMenu_->addSeparator();
  outputMenu_->addAction(actions_.ClearOutput);
  connect(output_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    UpdateActions();
    outputMenu_->popup(output_->viewport()->mapToGlobal(pos));
  });
  connect(output_, &QTextEdit::copyAvailable, this, [this](bool) { UpdateActions(); });
  splitter->addWidget(upper);
  splitter->addWidget(lower);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 1);

  statusBar_ = new QStatusBar(this);
  statusBar_->setObjectName(QStringLiteral("StatusBar"));
  statusBar_->setSizeGripEnabled(false);
  statusPanel0_ = new QLabel(statusBar_);
  statusPanel0_->setObjectName(QStringLiteral("StatusPanel0"));
  statusPanel1_ = new QLabel(statusBar_);
  statusPanel1_->setObjectName(QStringLiteral("StatusPanel1"));
  statusPanel1_->setFixedWidth(160);
  auto* panel2 = new QWidget(statusBar_);
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
  statusBar_->addWidget(statusPanel0_, 1);
  statusBar_->addPermanentWidget(statusPanel1_);
  statusBar_->addPermanentWidget(panel2);
  layout->addWidget(statusBar_);
}

// ---------------------------------------------------------------- state display

void TRemoteForm::UpdateActions() {
  const bool idle = !inCommand_;
  QTreeWidgetItem* selected = tree_->selectedItems().value(0);
  actions_.Refresh->setEnabled(!Connected && idle);
  actions_.Refresh->setText(Refreshing ? TrQ("&Cancel") : TrQ("&Refresh"));
  actions_.Connect->setEnabled(!Connected && !Refreshing && idle && selected &&
                               selected->childCount() == 0 && selected->parent());
  actions_.Disconnect->setEnabled(Connected && !Uploading && idle);
  actions_.Upload->setEnabled(Connected && !Uploaded && (idle || Uploading));
  actions_.Upload->setText(Uploading ? TrQ("&Cancel") : TrQ("&Upload waveform"));
  actions_.Upload->setIcon(
      style()->standardIcon(Uploading ? QStyle::SP_BrowserStop : QStyle::SP_ArrowUp));
  actions_.Play->setEnabled(Connected && Uploaded && !Running && idle);
  actions_.Pause->setEnabled(Connected && Uploaded && Running && idle);
  actions_.Stop->setEnabled(Connected && Uploaded && (Running || Paused) && idle);
  playButton_->setVisible(!Running);
  pauseButton_->setVisible(Running);
  const bool hasLines = lineCount_ > 0;
  actions_.ClearOutput->setEnabled(hasLines);
  actions_.SaveOutput->setEnabled(hasLines);
  actions_.Copy->setEnabled(output_->textCursor().hasSelection());
}

void TRemoteForm::UpdateTriggerControls() {
  auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(Device);
  const bool available = trigger && !Running && Uploaded && trigger->IsExternalTriggerAvailable();
  if (!available) {
    triggerCheck_->setEnabled(false);
    triggerLabel_->setEnabled(false);
    triggerChannel_->setEnabled(false);
    triggerEdge_->setEnabled(false);
    if (!trigger) {
      triggerChannel_->clear();
      triggerEdge_->clear();
    }
    return;
  }
  triggerCheck_->setEnabled(true);
  triggerLabel_->setEnabled(true);
  if (triggerChannel_->count() == 0 || triggerEdge_->count() == 0) {
    triggerChannel_->clear();
    for (int32_t i = 0; i < trigger->GetTriggerChannelCount(); ++i) {
      std::string name;
      trigger->GetTriggerChannelName(i, name);
      triggerChannel_->addItem(Q(name));
    }
    triggerChannel_->setCurrentIndex(triggerChannel_->count() > 0 ? 0 : -1);
    triggerEdge_->clear();
    TTriggerTypes types;
    trigger->GetTriggerTypes(types);
    for (TTriggerType type : types) {
      if (type == TTriggerType::ttRisingEdge) triggerEdge_->addItem(TrQ("rising edge"));
      if (type == TTriggerType::ttFallingEdge) triggerEdge_->addItem(TrQ("falling edge"));
    }
    triggerEdge_->setCurrentIndex(triggerEdge_->count() > 0 ? 0 : -1);
  }
  triggerChannel_->setEnabled(true);
  triggerEdge_->setEnabled(true);
}

void TRemoteForm::SetStatus(const QString& text) {
  statusPanel0_->setText(text);
}

void TRemoteForm::SetBurstText(const QString& text) {
  statusPanel1_->setText(text);
}

QString TRemoteForm::BurstText() const {
  return FormatText(TrQ("Burst %.0n of %.0n"),
                    {WholeNumber(BurstCounter), WholeNumber(editBurst_->value())});
}

QString TRemoteForm::StatusText(int panel) const {
  return panel == 0 ? statusPanel0_->text() : panel == 1 ? statusPanel1_->text() : QString();
}

void TRemoteForm::ProcessMessages() {
  QCoreApplication::processEvents();
}

// ---------------------------------------------------------------- log

TRemoteForm::TLineRef TRemoteForm::AppendLine(const QString& text) {
  QTextCursor cursor(output_->document());
  cursor.movePosition(QTextCursor::End);
  if (lineCount_ > 0) cursor.insertBlock();
  QTextCharFormat format;
  if (errorColour_) format.setForeground(kErrorColor);
  cursor.insertText(text, format);
  TLineRef line{lineCount_, generation_, text};
  ++lineCount_;
  output_->verticalScrollBar()->setValue(output_->verticalScrollBar()->maximum());
  UpdateActions();
  return line;
}

void TRemoteForm::AppendErrorLine(const QString& message, const IDevice* device) {
  const QString text = device ? TrQ("Error on") + QLatin1Char(' ') + Q(device->GetModel()) +
                                    QStringLiteral(": ") + message
                              : TrQ("Error:") + QLatin1Char(' ') + message;
  errorColour_ = true;
  AppendLine(text);
  errorColour_ = false;
}

void TRemoteForm::RewriteLine(const TLineRef& line, const QString& suffix) {
  const QTextBlock block = output_->document()->findBlockByNumber(line.Index);
  if (line.Index < 0 || line.Generation != generation_ || !block.isValid()) {
    // The line was cleared meanwhile: report the outcome on a line of its own.
    AppendLine(line.Text + QLatin1Char(' ') + suffix);
    return;
  }
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(QLatin1Char(' ') + suffix);
}

QStringList TRemoteForm::OutputLines() const {
  if (lineCount_ == 0) return {};
  return output_->toPlainText().split(QLatin1Char('\n'));
}

void TRemoteForm::ClearOutput() {
  errorColour_ = false;
  output_->clear();
  commands_->clear();
  output_->setTextColor(palette().color(QPalette::Text));
  lineCount_ = 0;
  ++generation_;
  UpdateActions();
}

void TRemoteForm::SaveOutput() {
  if (lineCount_ == 0) return;
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
    AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
  }
}

void TRemoteForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  BuildWaveforms();
  // Search once the window is on screen, so that the tree grows visibly.
  refreshQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    if (refreshQueued_ && isVisible()) Refresh();
  });
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
  if (Refreshing || inCommand_) return false;
  CloseCancelled = false;
  if (Connected) {
    const auto answer = dialogs_->Message(
        this, QMessageBox::Warning, TrQ("Ondrevo"),
        TrQ("You are still connected to a device. Closing the window will also close the "
            "connection.") +
            QStringLiteral("\n\n") + TrQ("Disconnect and close window?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return false;
    DisconnectDevice();
    if (CloseCancelled) return false;
  }
  return true;
}

void TRemoteForm::ClearForClose() {
  ClearOutput();
  tree_->clear();
  nodes_.clear();
  FoundScanners.clear();
  FoundDevices.clear();
  SetStatus(TrQ("Ready"));
  SetBurstText(QString());
  UpdateActions();
}

void TRemoteForm::reject() {
  if (!CanClose()) return;
  ClearForClose();
  QDialog::reject();
}

// ---------------------------------------------------------------- tree

const TRemoteForm::TNode* TRemoteForm::NodeOf(const QTreeWidgetItem* item) const {
  if (!item) return nullptr;
  bool ok = false;
  const int index = item->data(0, kNodeRole).toInt(&ok);
  if (!ok || index < 0 || index >= static_cast<int>(nodes_.size())) return nullptr;
  return &nodes_[static_cast<size_t>(index)];
}

QTreeWidgetItem* TRemoteForm::AddNode(QTreeWidgetItem* parent, const QString& caption,
                                      int nodeIndex) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(0, caption);
  if (nodeIndex >= 0) item->setData(0, kNodeRole, nodeIndex);
  return item;
}

bool TRemoteForm::IsSelectableDevice(const IDevice& device) const {
  return dynamic_cast<const IWaveformPlayer*>(&device) && !device.IsUnsupported();
}

void TRemoteForm::OnTreeContextMenu(const QPoint& pos) {
  if (QTreeWidgetItem* item = tree_->itemAt(pos))
    if (item->flags() & Qt::ItemIsSelectable) tree_->setCurrentItem(item);
  UpdateActions();
  treeMenu_->popup(tree_->viewport()->mapToGlobal(pos));
}

void TRemoteForm::OnTreeDoubleClicked(QTreeWidgetItem* /*item*/) {
  UpdateActions();
  if (actions_.Connect->isEnabled()) ConnectDevice();
}

void TRemoteForm::Refresh() {
  if (Connected || Refreshing || inCommand_) return;
  refreshQueued_ = false;
  const TLineRef line = AppendLine(TrQ("Searching devices..."));
  SetStatus(TrQ("Searching devices..."));
  Refreshing = true;
  tree_->clear();
  nodes_.clear();
  FoundScanners.clear();
  FoundDevices.clear();
  UpdateActions();

  // The buses are probed on a worker; the window stays responsive and grows the tree bus by bus.
  TDeviceSearch::TEvents events;
  // Progress: the bus being probed, beside the status.
  events.OnSearching = [this](const std::string& bus) { statusPanel1_->setText(Q(bus)); };
  events.OnBus = [this](const TFoundBus& bus) { AddBusNode(bus); };
  events.OnDone = [this, line](bool cancelled, const std::string& error) {
    statusPanel1_->clear();
    Refreshing = false;
    SetStatus(TrQ("Ready"));
    if (!error.empty()) {
      // A scanner failed while searching: the search ends here, what was found stays.
      RewriteLine(line, TrQ("Error:"));
      AppendErrorLine(QString::fromUtf8(error.c_str()), nullptr);
    } else {
      RewriteLine(line, cancelled ? TrQ("Abort.") : TrQ("Done."));
    }
    UpdateActions();
  };
  search_->Start(scanners_, std::move(events));
}

void TRemoteForm::CancelSearch() {
  if (Refreshing) search_->Cancel();
}

void TRemoteForm::AddBusNode(const TFoundBus& bus) {
  const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
  const std::shared_ptr<TInterface>& iface = bus.Bus;
  FoundScanners.push_back(iface);
  nodes_.push_back({iface, nullptr});
  QTreeWidgetItem* ifaceNode =
      AddNode(nullptr, Q(iface->Name), static_cast<int>(nodes_.size() - 1));
  for (const auto& found : bus.Devices) {
    std::shared_ptr<IDevice> device = found;
    if (!device) continue;
    nodes_.push_back({nullptr, device});
    QTreeWidgetItem* deviceNode =
        AddNode(ifaceNode, Q(device->GetName()), static_cast<int>(nodes_.size() - 1));
    FoundDevices.push_back(device);
    const bool selectable = IsSelectableDevice(*device);
    std::vector<QTreeWidgetItem*> shown{deviceNode};
    if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(device)) {
      const auto& inputs = output->GetConnectedInputs();
      if (inputs.size() > 1)
        for (size_t k = 0; k < inputs.size(); ++k)
          shown.push_back(AddNode(
              deviceNode,
              TrQ("Analog Out") + QLatin1Char(' ') + QString::number(static_cast<qulonglong>(k)),
              -1));
      deviceNode->setExpanded(true);
    }
    if (!selectable)
      for (QTreeWidgetItem* node : shown) {
        node->setForeground(0, grey);
        node->setFlags(node->flags() & ~Qt::ItemIsSelectable);
      }
  }
  ifaceNode->setExpanded(true);
}

// ---------------------------------------------------------------- connect and disconnect

void TRemoteForm::BindHandlers(const std::shared_ptr<IDevice>& device) {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(device);
  if (!player) return;
  player->SetOnUploadProgress([this](IDevice* s, int32_t p) { OnUploadProgress(s, p); });
  player->SetOnPlayProgress([this](IDevice* s, int32_t p) { OnPlayProgress(s, p); });
  player->SetOnBurst([this](IDevice* s, int32_t n) { OnBurst(s, n); });
  player->SetOnUploadDone([this](IDevice* s) { OnUploadDone(s); });
  player->SetOnError([this](IDevice* s, const std::exception& e) { OnError(s, e); });
  player->SetOnDisconnect([this](IDevice* s) { OnDisconnect(s); });
  player->SetOnPlay([this](IDevice* s) { OnPlay(s); });
  player->SetOnStop([this](IDevice* s) { OnStop(s); });
  bool known = false;
  for (const auto& weak : boundDevices_) known = known || weak.lock() == device;
  if (!known) boundDevices_.push_back(device);
}

void TRemoteForm::UnbindHandlers(const std::shared_ptr<IDevice>& device) {
  if (auto player = std::dynamic_pointer_cast<IWaveformPlayer>(device)) {
    player->SetOnUploadProgress(nullptr);
    player->SetOnPlayProgress(nullptr);
    player->SetOnBurst(nullptr);
    player->SetOnUploadDone(nullptr);
    player->SetOnError(nullptr);
    player->SetOnDisconnect(nullptr);
    player->SetOnPlay(nullptr);
    player->SetOnStop(nullptr);
  }
  if (auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(device))
    trigger->SetOnTrigger(nullptr);
}

void TRemoteForm::ConnectDevice() {
  if (Connected || Refreshing || inCommand_) return;
  QTreeWidgetItem* item = tree_->selectedItems().value(0);
  if (!item) {
    dialogs_->Message(this, QMessageBox::Critical, TrQ("Ondrevo"),
                      TrQ("Please select a device to connect to."), QMessageBox::Ok);
    return;
  }
  int channel = -1;
  const TNode* node = NodeOf(item);
  if (!node && item->parent()) {
    QTreeWidgetItem* parent = item->parent();
    channel = parent->indexOfChild(item);
    item = parent;
    node = NodeOf(item);
  }
  if (!node || !node->Device) return;
  const std::shared_ptr<IDevice> device = node->Device;
  const auto player = std::dynamic_pointer_cast<IWaveformPlayer>(device);
  const bool card = IsAnalogOutputCard(device);

  if (player) {
    // The same checks as the command line's; here they become questions.
    for (const TFitFinding& finding :
         CheckFit(*device, *player, *VoltageWaveform, *CurrentWaveform, card)) {
      if (finding.Refused) {
        dialogs_->Message(this, QMessageBox::Critical, TrQ("Error"), TrQ(finding.Text),
                          QMessageBox::Ok);
        return;
      }
      const auto answer =
          dialogs_->Message(this, QMessageBox::Warning, TrQ("Warning"),
                            TrQ(finding.Text) + QLatin1Char('\n') + TrQ("Connect anyway?"),
                            QMessageBox::Yes | QMessageBox::No);
      if (answer != QMessageBox::Yes) return;
    }
  }
  // A card with a single output has no channel nodes: its device node stands for output 0.
  if (card && channel < 0) channel = 0;

  inCommand_ = true;
  TFinally done{[this] {
    inCommand_ = false;
    UpdateActions();
  }};
  Device = device;
  const TLineRef line =
      AppendLine(FormatText(TrQ("Connecting to %s (serial number %s)..."),
                            {Q(device->GetModel()), Q(device->GetSerialNumber())}));
  SetStatus(TrQ("Connecting to device..."));
  TitleText = Q(device->GetModel()) + TrQ(", SN ") + Q(device->GetSerialNumber());
  UpdateActions();
  ProcessMessages();

  // Undoes the wiring this connect made and forgets the device.
  auto abandon = [this](const std::shared_ptr<IAnalogOutput>& output) {
    if (output) UnwireOutput(*output);
    Device.reset();
    labelBurst_->setEnabled(false);
    editBurst_->setEnabled(false);
    outputEnable_->setEnabled(false);
  };

  const auto output = std::dynamic_pointer_cast<IAnalogOutput>(device);
  if (output) {
    auto& inputs = output->GetConnectedInputs();
    if (card) {
      TDeviceSelection selection;
      selection.DeviceText = device->GetModel();
      selection.OutputText =
          (TrQ("Analog Out") + QLatin1Char(' ') + QString::number(channel)).toStdString();
      for (const auto& found : FoundDevices)
        if (auto input = std::dynamic_pointer_cast<IAnalogInput>(found))
          if (!input->IsUnsupported()) selection.Candidates.push_back(input);
      selection.VoltageWaveform = VoltageWaveform;
      selection.CurrentWaveform = CurrentWaveform;
      if (!dialogs_->SelectConnectedDevice(this, selection) || !selection.SelectedInput) {
        RewriteLine(line, TrQ("Abort."));
        SetStatus(TrQ("Ready"));
        Device.reset();
        return;
      }
      WireOutput(output, channel, selection.SelectedInput, selection.SelectedInputIndex);
      TitleText = Q(selection.SelectedInput->GetModel()) + TrQ(", SN ") +
                  Q(selection.SelectedInput->GetSerialNumber()) + QStringLiteral(" (") +
                  TrQ("analog") + QStringLiteral(")");
    } else if (channel >= 0 && channel < static_cast<int>(inputs.size())) {
      inputs[static_cast<size_t>(channel)] = std::make_shared<TDummyDevice>();
    }
    labelBurst_->setEnabled(true);
    editBurst_->setEnabled(true);
    outputEnable_->setEnabled(true);
  }

  if (player) {
    editBurst_->SetMaximum(player->GetMaxBurstCount());
    editBurst_->Normalize();
    BindHandlers(device);
    try {
      auto daq = std::dynamic_pointer_cast<TDaqMxDevice>(device);
      commands_->Trace(daq ? daq->GetTrace() : player->GetInterface());
      player->Connect();
    } catch (const std::exception& e) {
      RewriteLine(line, TrQ("Error:"));
      SetStatus(TrQ("Ready"));
      AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
      // Leave the port closed and the instrument in local mode; the window stays disconnected.
      UnbindHandlers(device);
      try {
        player->Disconnect();
      } catch (...) {
      }
      abandon(output);
      return;
    }
  }
  if (auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(device))
    trigger->SetOnTrigger([this](IDevice* s) { OnTrigger(s); });

  UpdateTriggerControls();
  Connected = true;
  tree_->setEnabled(false);
  RewriteLine(line, TrQ("Done."));
  SetStatus(FormatText(TrQ("Connected to %s"), {Q(device->GetModel())}));
  setWindowTitle(TitleText + QStringLiteral(" - ") + TrQ("Ondrevo Remote"));

  // What the supply will play, in the log before the upload; computed aside, never blocking.
  if (player && !card && voltageTable_ && currentTable_) {
    if (!preview_) {
      preview_ = new TRemotePreview(this);
      connect(preview_, &TRemotePreview::line, this, [this](const QString& text, bool warning) {
        if (!Connected) return;  // a result for a device already gone
        errorColour_ = warning;
        AppendLine(text);
        errorColour_ = false;
      });
    }
    // A short wait keeps a small document's summary next to its connection line.
    preview_->Request(ListSettingsOf(*device, *player), *voltageTable_, *currentTable_,
                      std::chrono::milliseconds(300));
  }
}

void TRemoteForm::DisconnectDevice() {
  if (!Connected) return;
  bool stopFirst = true;
  if (Running) {
    const auto answer = dialogs_->Message(
        this, QMessageBox::Warning, TrQ("Ondrevo"),
        TrQ("The device is still running. Do you want to stop the execution before "
            "disconnecting?") +
            QStringLiteral("\n\n") + TrQ("Note:") + QLatin1Char('\n') +
            TrQ("It is possible that you will not be able to reconnect until the execution is "
                "stopped."),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel) {
      CloseCancelled = true;
      return;
    }
    stopFirst = answer == QMessageBox::Yes;
  }
  // Closing during an upload ends it early: its outcome is an abort, not a success.
  if (Uploading) UploadCancelled = true;
  if (auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device)) {
    try {
      if (stopFirst && Running) player->Stop();
      player->Disconnect();
    } catch (const std::exception& e) {
      AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
    }
  }
  UpdateActions();
}

QStringList TRemoteForm::CommandLines() const {
  return commands_->Lines();
}

void TRemoteForm::OnDisconnect(IDevice* sender) {
  if (!Connected || !Device || sender != Device.get()) return;
  commands_->Trace(nullptr);
  if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(Device))
    for (auto& input : output->GetConnectedInputs()) {
      if (!input) continue;
      for (auto& back : input->GetConnectedOutputs()) back.reset();
      input.reset();
    }
  Device.reset();
  Connected = Running = Uploaded = Uploading = Paused = false;
  StopRequested = WaitingForTrigger = false;
  tree_->setEnabled(true);
  editBurst_->setEnabled(false);
  labelBurst_->setEnabled(false);
  outputEnable_->setEnabled(false);
  outputEnable_->setVisible(true);
  uploadProgress_->setVisible(false);
  playerProgress_->setVisible(false);
  triggerCheck_->setChecked(false);
  AppendLine(TrQ("Disconnected from device."));
  SetStatus(TrQ("Ready"));
  SetBurstText(QString());
  setWindowTitle(TrQ("Ondrevo Remote"));
  UpdateTriggerControls();
  UpdateActions();
}

// ---------------------------------------------------------------- upload

void TRemoteForm::UploadOrCancel() {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (Uploading) {
    try {
      if (player) player->CancelUpload();
      UploadCancelled = true;
    } catch (...) {
    }
    UpdateActions();
    return;
  }
  if (!Connected || inCommand_) return;
  inCommand_ = true;
  TFinally done{[this] {
    inCommand_ = false;
    UpdateActions();
  }};
  Uploaded = false;
  UploadLine = AppendLine(TrQ("Preparing waveform for device..."));
  SetStatus(TrQ("Preparing waveform"));
  ProcessMessages();
  UpdateTriggerControls();
  try {
    if (player) {
      Uploading = true;
      uploadProgress_->setVisible(true);
      outputEnable_->setEnabled(false);
      outputEnable_->setVisible(false);
      player->Upload(VoltageWaveform, CurrentWaveform, outputEnable_->isChecked());
    }
    if (outputEnable_->isChecked())
      if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(Device))
        output->SetOutputEnabled(true, 0);
  } catch (const std::exception& e) {
    AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
    return;
  }
  if (!MarqueeActive) {
    uploadProgress_->setRange(0, 0);  // indeterminate until the first progress report
    MarqueeActive = true;
  }
}

void TRemoteForm::OnUploadProgress(IDevice* sender, int32_t percent) {
  if (!Device || sender != Device.get()) return;
  if (MarqueeActive) {
    uploadProgress_->setRange(0, 100);
    MarqueeActive = false;
    UploadLine = AppendLine(TrQ("Uploading waveform data..."));
    SetStatus(TrQ("Uploading waveform data"));
  }
  uploadProgress_->setValue(percent);
  if (triggerCheck_->isChecked() && percent > 99 && Running) {
    AppendLine(TrQ("Waiting for trigger"));
    SetStatus(TrQ("Waiting for trigger"));
    WaitingForTrigger = true;
  }
}

void TRemoteForm::OnUploadDone(IDevice* sender) {
  if (!Device || sender != Device.get()) return;
  if (Uploading) {
    Uploading = false;
    if (UploadCancelled) {
      RewriteLine(UploadLine, TrQ("Abort."));
      Uploaded = false;
      outputEnable_->setEnabled(true);
    } else {
      RewriteLine(UploadLine, TrQ("Done."));
      Uploaded = true;
    }
  }
  UploadCancelled = false;
  SetStatus(TrQ("Ready"));
  if (MarqueeActive) {
    uploadProgress_->setRange(0, 100);
    MarqueeActive = false;
  }
  uploadProgress_->setValue(0);
  uploadProgress_->setVisible(false);
  outputEnable_->setVisible(true);
  UpdateTriggerControls();
  UpdateActions();
}

// ---------------------------------------------------------------- playback

void TRemoteForm::Play() {
  if (!Connected || inCommand_) return;
  inCommand_ = true;
  TFinally done{[this] {
    inCommand_ = false;
    UpdateActions();
  }};
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  auto output = std::dynamic_pointer_cast<IAnalogOutput>(Device);
  if (!Paused) {
    BurstCounter = 1;
    ProcessMessages();
    if (!Device) return;  // disconnected meanwhile
    AppendLine(TrQ("Setting burst"));
    try {
      if (player) player->SetBurstCount(static_cast<int32_t>(RoundHalfEven(editBurst_->value())));
      labelBurst_->setEnabled(false);
      editBurst_->setEnabled(false);
      auto trigger = std::dynamic_pointer_cast<ITriggerablePlayer>(Device);
      if (trigger && trigger->IsExternalTriggerAvailable()) {
        trigger->SetTriggerChannel(triggerChannel_->currentIndex());
        trigger->SetTriggerOnFallingEdge(triggerEdge_->currentIndex() != 0);
        trigger->SetExternalTrigger(triggerCheck_->isChecked());
      }
    } catch (const std::exception& e) {
      AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
      return;
    }
  }
  try {
    if (player) player->Play();
    if (output) output->SetOutputEnabled(true, 0);
  } catch (const std::exception& e) {
    AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
    return;
  }
  Running = true;
  Paused = false;
  playerProgress_->setVisible(true);
  UpdateTriggerControls();
}

void TRemoteForm::Pause() {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (!player || inCommand_) return;
  AppendLine(TrQ("Pausing execution"));
  try {
    player->Pause();
    Paused = true;
  } catch (const std::exception& e) {
    AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
  }
  UpdateActions();
}

void TRemoteForm::Stop() {
  auto player = std::dynamic_pointer_cast<IWaveformPlayer>(Device);
  if (!player || inCommand_) return;
  AppendLine(TrQ("Stopping execution"));
  try {
    player->Stop();
    if (Paused) {
      // The device stopped when it paused: no stop event follows, the run ends here.
      Paused = false;
      Running = false;
      WaitingForTrigger = false;
      playerProgress_->setValue(0);
      playerProgress_->setVisible(false);
      AppendLine(TrQ("Execution stopped"));
      SetStatus(TrQ("Stopped"));
      labelBurst_->setEnabled(true);
      editBurst_->setEnabled(true);
      UpdateTriggerControls();
    } else {
      StopRequested = true;
    }
  } catch (const std::exception& e) {
    AppendErrorLine(QString::fromUtf8(e.what()), nullptr);
  }
  UpdateActions();
}

void TRemoteForm::OnPlayProgress(IDevice* sender, int32_t percent) {
  if (!Device || sender != Device.get()) return;
  if (percent < playerProgress_->value()) ++BurstCounter;  // a new burst began
  playerProgress_->setValue(percent);
}

void TRemoteForm::OnBurst(IDevice* sender, int32_t count) {
  if (!Device || sender != Device.get()) return;
  if (Running && !StopRequested)
    SetBurstText(FormatText(TrQ("Burst %.0n of %.0n"),
                            {WholeNumber(count), WholeNumber(editBurst_->value())}));
}

void TRemoteForm::OnPlay(IDevice* sender) {
  if (!Device || sender != Device.get()) return;
  if (triggerCheck_->isChecked()) {
    AppendLine(TrQ("Waiting for trigger"));
    SetStatus(TrQ("Waiting for trigger"));
    WaitingForTrigger = true;
  } else {
    AppendLine(TrQ("Executing waveform"));
    SetStatus(TrQ("Running"));
    SetBurstText(BurstText());
  }
}

void TRemoteForm::OnTrigger(IDevice* sender) {
  if (!Device || sender != Device.get()) return;
  AppendLine(TrQ("Received Trigger, executing waveform"));
  SetStatus(TrQ("Running"));
  SetBurstText(BurstText());
  WaitingForTrigger = false;
}

void TRemoteForm::OnStop(IDevice* sender) {
  if (!Device || sender != Device.get()) return;
  if (!Running) return;  // a run already ended (stopped while paused)
  playerProgress_->setValue(0);
  if (Paused) {
    AppendLine(TrQ("Execution paused"));
    SetStatus(TrQ("Paused"));
  } else if (StopRequested) {
    AppendLine(TrQ("Execution stopped"));
    SetStatus(TrQ("Stopped"));
  } else {
    AppendLine(TrQ("Execution finished"));
    SetStatus(TrQ("Stopped"));
  }
  if (StopRequested) {
    WaitingForTrigger = false;
    Running = false;
    playerProgress_->setVisible(false);
  } else if (triggerCheck_->isChecked()) {
    WaitingForTrigger = true;  // the device re-arms for the next trigger
  } else {
    WaitingForTrigger = false;
    Running = false;
    playerProgress_->setVisible(false);
  }
  StopRequested = false;
  UpdateTriggerControls();
  if (!WaitingForTrigger) {
    labelBurst_->setEnabled(true);
    editBurst_->setEnabled(true);
  }
  UpdateActions();
}

void TRemoteForm::OnError(IDevice* sender, const std::exception& e) {
  // A device left behind (disconnected meanwhile) no longer speaks in this window.
  if (!Device || sender != Device.get()) return;
  if (Uploading) RewriteLine(UploadLine, TrQ("Error:"));
  AppendErrorLine(QString::fromUtf8(e.what()), sender);
  Uploading = false;
  Running = false;
  if (MarqueeActive) {
    uploadProgress_->setRange(0, 100);
    MarqueeActive = false;
  }
  uploadProgress_->setValue(0);
  uploadProgress_->setVisible(false);
  playerProgress_->setValue(0);
  playerProgress_->setVisible(false);
  UpdateTriggerControls();
  labelBurst_->setEnabled(true);
  editBurst_->setEnabled(true);
  outputEnable_->setVisible(true);
  outputEnable_->setEnabled(!Uploaded);
  SetStatus(TrQ("Error"));
  SetBurstText(QString());
  UpdateActions();
}

}  // namespace ondrevo
