#include "editor/GraphForm.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "document/Translate.h"
#include "editor/CurveView.h"
#include "editor/DeviceMenu.h"
#include "editor/EditorTabs.h"
#include "editor/GraphFormText.h"
#include "editor/InstrumentOverlay.h"
#include "editor/PlotMouse.h"
#include "editor/SegmentGrid.h"
#include "editor/Timescale.h"
#include "editor/core/History.h"
#include "plot/Plot.h"

// Resources of a static library are only linked when something names them.
static void InitEditorResources() {
  Q_INIT_RESOURCE(editor_icons);
}

namespace ondrevo {

namespace {

QIcon ThemeIcon(const char* themeName, const char* fallback) {
  return QIcon::fromTheme(QString::fromLatin1(themeName),
                          QIcon(QStringLiteral(":/editor/icons/%1.svg").arg(fallback)));
}

}  // namespace

TGraphForm::TGraphForm(TGraphFormSettings settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(std::move(settings)),
      switches_(settings_.Switches),
      dialogs_(std::make_shared<TEditorDialogs>()),
      core_(std::make_unique<TEditorCore>()),
      history_(std::make_unique<TEditHistory>()) {
  InitEditorResources();
  setObjectName(QStringLiteral("GraphForm"));
  setWindowTitle(T("Ondrevo Designer"));
  setMinimumSize(800, 400);
  core_->OnMessage = [this](const std::string& m) { ShowError(QString::fromStdString(m)); };
  core_->RecordStep = [this] { RecordStep(); };

  CreateActions();
  CreateMenus();
  CreateCentral();
  CreateToolbars();
  CreateStatusBar();
  core_->AddListener([this](const EditorChange& change) { OnCoreChange(change); });
  CreateOverlay();

  untitled_ = 0;
  docName_.clear();
  baseCaption_ = windowTitle();

  try {
    if (settings_.LoadRecentFiles) recent_ = settings_.LoadRecentFiles();
  } catch (...) {
    recent_.clear();
  }
  while (recent_.size() > kMaxRecentFiles) recent_.removeLast();
  UpdateRecentMenu();

  CreatePlotSeries();

  updatingTimescale_ = true;
  comboValue_->setCurrentIndex(0);
  comboUnit_->setCurrentIndex(kUnitSecond);
  snapX_->setCurrentText(QStringLiteral("10"));
  snapY_->setCurrentText(QStringLiteral("10"));
  updatingTimescale_ = false;
  plot_->SetAxisRange(PlotAxis::Bottom, 0, 10);
  plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[kUnitSecond]));

  ResetEditor(true);
  plot_->Canvas()->setCursor(Qt::CrossCursor);

  LoadDeviceConfiguration();
  UpdateSpinLimits();
  RecomputeSnapX();
  RecomputeSnapY();

  if (settings_.LoadPlacement) {
    try {
      restoreGeometry(settings_.LoadPlacement());
    } catch (...) {
    }
  }
}

TGraphForm::~TGraphForm() {
  // The grid and the tabs talk to the core until they are gone.
  delete panelRight_;
  panelRight_ = nullptr;
}

void TGraphForm::SetDialogs(std::shared_ptr<TEditorDialogs> dialogs) {
  dialogs_ = dialogs ? std::move(dialogs) : std::make_shared<TEditorDialogs>();
}

void TGraphForm::ShowError(const QString& text, const QString& reason) {
  const QString message = reason.isEmpty() ? text : text + QStringLiteral("\n\n") + reason;
  // The message box takes the mouse: a gesture cannot go on below it.
  if (mouse_) mouse_->Cancel();
  // The same refusal asked again while its box is open (the box took the focus from the field
  // that caused it) is one message.
  if (shownMessages_.contains(message)) return;
  shownMessages_ << message;
  if (tabs_) tabs_->SetSuspended(true);
  dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"), message, QMessageBox::Ok);
  shownMessages_.removeOne(message);
  if (tabs_) tabs_->SetSuspended(!shownMessages_.isEmpty());
}

// ---- construction -----------------------------------------------------------------------------

void TGraphForm::CreateActions() {
  auto make = [this](const char* name, const char* caption, const char* hint,
                     const QKeySequence& key = {}) {
    auto* a = new QAction(T(caption), this);
    a->setObjectName(QString::fromLatin1(name));
    if (hint) {
      a->setStatusTip(T(hint));
      a->setToolTip(T(hint));
    }
    if (!key.isEmpty()) a->setShortcut(key);
    return a;
  };
  act_.New = make("actNew", "&New", "Create a new document", QKeySequence(Qt::CTRL | Qt::Key_N));
  act_.Open =
      make("actOpen", "&Open...", "Open existing document", QKeySequence(Qt::CTRL | Qt::Key_O));
  act_.Library = make("actLibrary", "&Library...", "Create a new document based on a library file");
  act_.Close = make("actClose", "&Close", "Close document");
  act_.Save = make("actSave", "&Save", "Save document", QKeySequence(Qt::CTRL | Qt::Key_S));
  act_.SaveAs = make("actSaveAs", "Save &as...", "Save document in a new file",
                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  act_.ImportCsv = make("actImportCsv", "&Import CSV...",
                        "Import data from a comma separated values (CSV) file");
  act_.ClearHistory =
      make("actClearHistory", "&Clear history", "Clear history of recently opened files");
  act_.Exit = make("actExit", "&Exit", "Exit Ondrevo", QKeySequence(Qt::ALT | Qt::Key_F4));
  act_.Undo = make("actUndo", "&Undo", "Undo the last action", QKeySequence(Qt::CTRL | Qt::Key_Z));
  act_.Redo =
      make("actRedo", "&Redo", "Redo the last undone action", QKeySequence(Qt::CTRL | Qt::Key_Y));
  act_.Undo->setEnabled(false);
  act_.Redo->setEnabled(false);
  act_.DeleteAll = make("actDeleteAll", "&Delete all", "Delete all segments");
  act_.Preferences = make("actPreferences", "&Preferences...", nullptr);
  act_.ToggleDefault = make("actToggleDefault", "Default", "Toggle the default toolbar");
  act_.ToggleTimescale = make("actToggleTimescale", "Timescale", "Toggle the timescale toolbar");
  act_.ToggleStatusbar = make("actToggleStatusbar", "Statusbar", "Toggle the statusbar");
  for (QAction* a : {act_.ToggleDefault, act_.ToggleTimescale, act_.ToggleStatusbar}) {
    a->setCheckable(true);
    a->setChecked(true);
  }
  act_.Table = make("actTable", "&Table", nullptr);
  act_.Table->setCheckable(true);
  // Unchecked while the panel is hidden: one click shows the table.
  act_.Table->setChecked(false);
  act_.RemoteControl = make("actRemoteControl", "&Remote control...",
                            "Open remote control dialog to execute waveform");
  act_.About = make("actAbout", "&About Ondrevo...", "Show some information about this program");
  act_.ZoomToFit = make("actZoomToFit", "Zoom to fit", "Zoom plot to fit all segments");
  act_.Voltage = make("actVoltage", "Voltage", nullptr);
  act_.Current = make("actCurrent", "Current", nullptr);
  auto* quantities = new QActionGroup(this);
  quantities->setExclusive(true);
  for (QAction* a : {act_.Voltage, act_.Current}) {
    a->setCheckable(true);
    quantities->addAction(a);
  }
  act_.Voltage->setChecked(true);

  act_.New->setIcon(ThemeIcon("document-new", "new"));
  act_.Open->setIcon(ThemeIcon("document-open", "open"));
  act_.Library->setIcon(ThemeIcon("folder-templates", "library"));
  act_.Save->setIcon(ThemeIcon("document-save", "save"));
  act_.Undo->setIcon(ThemeIcon("edit-undo", "undo"));
  act_.Redo->setIcon(ThemeIcon("edit-redo", "redo"));
  act_.DeleteAll->setIcon(ThemeIcon("edit-delete", "delete"));
  act_.ZoomToFit->setIcon(ThemeIcon("zoom-fit-best", "zoom"));
  act_.RemoteControl->setIcon(ThemeIcon("network-transmit-receive", "remote"));
  act_.Voltage->setIcon(QIcon(QStringLiteral(":/editor/icons/voltage.svg")));
  act_.Current->setIcon(QIcon(QStringLiteral(":/editor/icons/current.svg")));

  connect(act_.New, &QAction::triggered, this, [this] { New(); });
  connect(act_.Open, &QAction::triggered, this, [this] { Open(); });
  connect(act_.Library, &QAction::triggered, this, [this] { Library(); });
  connect(act_.Close, &QAction::triggered, this, [this] { CloseDocument(); });
  connect(act_.Save, &QAction::triggered, this, [this] { Save(); });
  connect(act_.SaveAs, &QAction::triggered, this, [this] { SaveAs(); });
  connect(act_.ImportCsv, &QAction::triggered, this, [this] { ImportCsv(); });
  connect(act_.ClearHistory, &QAction::triggered, this, [this] { ClearRecentFiles(); });
  connect(act_.Exit, &QAction::triggered, this, [this] { Exit(); });
  connect(act_.Undo, &QAction::triggered, this, [this] { Undo(); });
  connect(act_.Redo, &QAction::triggered, this, [this] { Redo(); });
  connect(act_.DeleteAll, &QAction::triggered, this, [this] { DeleteAll(); });
  connect(act_.Preferences, &QAction::triggered, this, &TGraphForm::preferencesRequested);
  connect(act_.About, &QAction::triggered, this, &TGraphForm::aboutRequested);
  connect(act_.RemoteControl, &QAction::triggered, this, &TGraphForm::remoteControlRequested);
  connect(act_.ZoomToFit, &QAction::triggered, this, [this] { ZoomToFit(); });
  connect(act_.Voltage, &QAction::triggered, this, [this] { SwitchQuantity(Quantity::Voltage); });
  connect(act_.Current, &QAction::triggered, this, [this] { SwitchQuantity(Quantity::Current); });
  connect(act_.Table, &QAction::triggered, this, [this](bool checked) {
    if (checked) {
      panelRight_->show();
      RebuildGrid();
      grid_->SelectCell(0, kColValue);
    } else {
      HideTable();
    }
  });
  connect(act_.ToggleDefault, &QAction::triggered, this,
          [this](bool on) { mainToolbar_->setVisible(on); });
  connect(act_.ToggleTimescale, &QAction::triggered, this,
          [this](bool on) { timeToolbar_->setVisible(on); });
  connect(act_.ToggleStatusbar, &QAction::triggered, this,
          [this](bool on) { statusBar()->setVisible(on); });
}

void TGraphForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu(T("&File"));
  file->setObjectName(QStringLiteral("mnuFile"));
  file->addActions({act_.New, act_.Open, act_.Library});
  file->addSeparator();
  file->addActions({act_.Close, act_.Save, act_.SaveAs});
  file->addSeparator();
  file->addAction(act_.ImportCsv);
  recentMenu_ = file->addMenu(T("&Recent files"));
  recentMenu_->setObjectName(QStringLiteral("mnuRecent"));
  file->addSeparator();
  file->addAction(act_.Exit);

  QMenu* edit = menuBar()->addMenu(T("&Edit"));
  edit->setObjectName(QStringLiteral("mnuEdit"));
  edit->addActions({act_.Undo, act_.Redo});
  edit->addSeparator();
  edit->addAction(act_.DeleteAll);
  edit->addSeparator();
  edit->addAction(act_.Preferences);

  QMenu* view = menuBar()->addMenu(T("&View"));
  view->setObjectName(QStringLiteral("mnuView"));
  QMenu* bars = view->addMenu(T("Toolbars"));
  bars->addActions({act_.ToggleDefault, act_.ToggleTimescale});
  view->addAction(act_.ToggleStatusbar);
  view->addSeparator();
  view->addAction(act_.Table);

  QMenu* device = menuBar()->addMenu(T("&Device"));
  device->setObjectName(QStringLiteral("mnuDevice"));
  device_ = new TDeviceMenu(device, settings_.SettingsFolder, switches_.DaqPointBudget, this);
  act_.Daq = device_->DaqAction();
  connect(device_, &TDeviceMenu::deviceSelected, this, [this] { OnDeviceSelected(); });
  connect(device_, &TDeviceMenu::limitsChanged, this, [this] {
    core_->SetLimits(device_->ActiveLimits(), device_->PointBudget(), switches_.DaqPointBudget);
  });
  connect(device_, &TDeviceMenu::statusChanged, this, [this] {
    panels_[1]->setText(device_->DeviceCaption());
    panels_[2]->setText(device_->InterfaceCaption());
  });
  device->addAction(act_.RemoteControl);

  QMenu* help = menuBar()->addMenu(T("&Help"));
  help->setObjectName(QStringLiteral("mnuHelp"));
  help->addAction(act_.About);
}

void TGraphForm::CreateCentral() {
  auto* central = new QWidget(this);
  auto* layout = new QHBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  plot_ = new TPlot(central);
  plot_->setObjectName(QStringLiteral("Plot1"));
  const QString plotHint =
      T("Alt + left mouse: Move plot    Ctrl + left mouse: Zoom in selected area");
  plot_->setStatusTip(plotHint);
  plot_->Canvas()->setStatusTip(plotHint);
  layout->addWidget(plot_, 1);

  panelRight_ = new QWidget(central);
  panelRight_->setObjectName(QStringLiteral("Panel_Right"));
  panelRight_->setFixedWidth(411);
  auto* right = new QVBoxLayout(panelRight_);
  right->setContentsMargins(0, 0, 0, 0);
  grid_ = new TSegmentGrid(*core_, panelRight_);
  right->addWidget(grid_, 1);
  editMode_ = new QCheckBox(T("&Edit mode"), panelRight_);
  editMode_->setObjectName(QStringLiteral("EditMode"));
  editMode_->setChecked(true);
  right->addWidget(editMode_);
  tabs_ = new TEditorTabs(*core_, panelRight_);
  tabs_->setFixedHeight(240);
  right->addWidget(tabs_);
  rbVoltage_ = new QRadioButton(panelRight_);
  rbVoltage_->setObjectName(QStringLiteral("rbVoltage"));
  rbCurrent_ = new QRadioButton(panelRight_);
  rbCurrent_->setObjectName(QStringLiteral("rbCurrent"));
  rbVoltage_->hide();
  rbCurrent_->hide();
  rbVoltage_->setChecked(true);
  layout->addWidget(panelRight_);
  panelRight_->hide();
  setCentralWidget(central);

  connect(grid_, &TSegmentGrid::cellSelected, this, &TGraphForm::OnCellSelected);
  connect(grid_, &TSegmentGrid::rowsSelected, this, [this](int first, int last) {
    curves_->MarkPoints(core_->Active(), first,
                        std::min(last + 1, core_->Working().LastPointIndex()));
    plot_->Replot();
  });
  // After Enter, Mark shows the segment that ends at the current row's point.
  connect(grid_, &TSegmentGrid::entered, this, [this](int row) {
    if (core_->Working().LastPointIndex() < 1) return;
    curves_->PlaceMark(core_->Active());
    curves_->MarkPoints(core_->Active(), std::max(0, row - 1), std::max(1, row));
    plot_->Replot();
  });
  connect(editMode_, &QCheckBox::toggled, this, [this](bool on) {
    grid_->SetEditMode(on);
    if (on) MarkRow(0);
  });
  connect(tabs_, &TEditorTabs::applied, this, [this](int row) {
    grid_->SelectCell(row, grid_->currentIndex().isValid() ? grid_->currentIndex().column() : 1);
  });

  plot_->SetActiveValueAxis(PlotAxis::Left);
  plot_->BeforeZoom = [this](PlotAxis axis, double& min, double& max) {
    return LimitZoom(axis == PlotAxis::Bottom, plot_->AxisMax(axis), min, max);
  };
  connect(plot_, &TPlot::rangesChanged, this, [this] { FollowZoom(); });
  // Over a stretch beyond a limit, the plot says which limit and by how much.
  connect(plot_, &TPlot::plotMouseMoved, this, [this](QMouseEvent* e) {
    const double t = plot_->PixelToValue(PlotAxis::Bottom, e->position().x());
    QString tip;
    for (const LimitBreach& b : core_->Breaches(ActiveQuantity())) {
      if (t >= b.From && t <= b.To) tip = QString::fromStdString(LimitBreachText(b, ActiveQuantity()));
    }
    plot_->Canvas()->setToolTip(tip);
  });
}

void TGraphForm::CreateToolbars() {
  mainToolbar_ = new QToolBar(T("Default"), this);
  mainToolbar_->setObjectName(QStringLiteral("ToolBarDefault"));
  mainToolbar_->setMovable(true);
  mainToolbar_->addActions({act_.New, act_.Open, act_.Library, act_.Save});
  mainToolbar_->addSeparator();
  mainToolbar_->addActions({act_.Undo, act_.Redo, act_.DeleteAll});
  mainToolbar_->addSeparator();
  mainToolbar_->addAction(act_.ZoomToFit);
  mainToolbar_->addSeparator();
  mainToolbar_->addActions({act_.Voltage, act_.Current});
  for (QAction* a : {act_.Voltage, act_.Current}) {
    if (auto* b = qobject_cast<QToolButton*>(mainToolbar_->widgetForAction(a))) {
      b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
  }
  mainToolbar_->addSeparator();
  mainToolbar_->addAction(act_.RemoteControl);
  addToolBar(Qt::TopToolBarArea, mainToolbar_);

  timeToolbar_ = new QToolBar(T("Timescale"), this);
  timeToolbar_->setObjectName(QStringLiteral("ToolBarTimescale"));
  timeToolbar_->addWidget(new QLabel(T("Timescale resolution: "), timeToolbar_));
  comboValue_ = new QComboBox(timeToolbar_);
  comboValue_->setObjectName(QStringLiteral("ComboBox1"));
  for (int v : kTimescaleValues) comboValue_->addItem(QString::number(v));
  timeToolbar_->addWidget(comboValue_);
  comboUnit_ = new QComboBox(timeToolbar_);
  comboUnit_->setObjectName(QStringLiteral("ComboBox2"));
  for (const char* unit : kUnitNames) comboUnit_->addItem(QString::fromLatin1(unit));
  timeToolbar_->addWidget(comboUnit_);
  timeToolbar_->addSeparator();
  timeToolbar_->addWidget(new QLabel(T("Snap: "), timeToolbar_));
  snapX_ = new QComboBox(timeToolbar_);
  snapX_->setObjectName(QStringLiteral("SnapX"));
  snapY_ = new QComboBox(this);
  snapY_->setObjectName(QStringLiteral("SnapY"));
  snapY_->hide();
  for (QComboBox* snap : {snapX_, snapY_}) {
    for (const char* s : {"100", "50", "20", "10", "5", "2", "1"}) {
      snap->addItem(QString::fromLatin1(s));
    }
    snap->addItem(T("Free"));
  }
  timeToolbar_->addWidget(snapX_);
  timeToolbar_->addWidget(new QLabel(QStringLiteral("%"), timeToolbar_));
  addToolBar(Qt::BottomToolBarArea, timeToolbar_);

  connect(comboValue_, &QComboBox::currentIndexChanged, this, [this] { ApplyTimescale(false); });
  connect(comboUnit_, &QComboBox::currentIndexChanged, this, [this] { ApplyTimescale(true); });
  connect(snapX_, &QComboBox::currentIndexChanged, this, [this] { RecomputeSnapX(); });
  connect(snapY_, &QComboBox::currentIndexChanged, this, [this] { RecomputeSnapY(); });
  connect(mainToolbar_, &QToolBar::visibilityChanged, act_.ToggleDefault, &QAction::setChecked);
  connect(timeToolbar_, &QToolBar::visibilityChanged, act_.ToggleTimescale, &QAction::setChecked);
}

QMenu* TGraphForm::createPopupMenu() {
  auto* menu = new QMenu(this);
  menu->addActions({act_.ToggleDefault, act_.ToggleTimescale});
  return menu;
}

void TGraphForm::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar1"));
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    panels_[i] = new QLabel(bar);
    panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  }
  panels_[1]->setFixedWidth(100);
  panels_[2]->setFixedWidth(100);
  bar->addWidget(panels_[0], 1);
  bar->addPermanentWidget(panels_[1]);
  bar->addPermanentWidget(panels_[2]);
}

void TGraphForm::CreatePlotSeries() {
  plot_->SetAxisCaption(PlotAxis::Left, T("Voltage [V]"));
  plot_->SetAxisCaption(PlotAxis::Right, T("Current [A]"));
  for (PlotAxis a : {PlotAxis::Left, PlotAxis::Right, PlotAxis::Bottom}) {
    plot_->SetTickCount(a, 11);
    plot_->SetNumberDecimals(a, 2);
  }
  plot_->SetBottomTickLabeler([this](double t) {
    const double max = plot_->AxisMax(PlotAxis::Bottom);
    const double step = (max - plot_->AxisMin(PlotAxis::Bottom)) / 10;
    return Localized(LabelTimeTick(comboUnit_->currentIndex(), max, t, step).Text);
  });
  SetGridLinesForActive();
  curves_ = std::make_unique<TCurveView>(plot_);
  curves_->MinTimeStep = [this] { return core_->Limits().MinDwellTime; };
  mouse_ = std::make_unique<TPlotMouse>(plot_, *curves_, *core_);
  mouse_->SnapTime = [this] { return snapStepX_; };
  mouse_->SnapValue = [this] { return snapStepY_; };
  mouse_->BeforePress = [this] { grid_->CommitPending(); };
  mouse_->OnOutcome = [this](const TMouseOutcome& out, const SegmentTable& table) {
    OnMouseOutcome(out, table);
  };
}

bool TGraphForm::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    panels_[0]->setText(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void TGraphForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // The whole application goes to the task bar, not only the editor.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != this && w->isVisible() && w->isWindow() && !w->isMinimized() &&
        !qobject_cast<QMenu*>(w)) {
      w->showMinimized();
    }
  }
}

void TGraphForm::closeEvent(QCloseEvent* event) {
  event->ignore();
  CloseDocument();
}

void TGraphForm::CreateOverlay() {
  overlay_ = new TInstrumentOverlay(*core_, plot_, statusBar(), this);
  overlay_->Target = [this] {
    return EditorOverlayTarget(device_->Model(), device_->Variant(), device_->ActiveLimits(),
                               device_->DaqChecked());
  };
  if (auto* view = menuBar()->findChild<QMenu*>(QStringLiteral("mnuView"))) {
    view->addAction(overlay_->Action());
  }
  connect(device_, &TDeviceMenu::deviceSelected, overlay_, &TInstrumentOverlay::Refresh);
  connect(overlay_, &TInstrumentOverlay::toggled, this, [this](bool on) {
    if (!settings_.StoreViewFlag) return;
    try {
      settings_.StoreViewFlag(QStringLiteral("InstrumentPoints"), on);
    } catch (const std::exception& e) {
      ShowError(T("The settings file could not be written."), QString::fromStdString(e.what()));
    }
  });
  if (settings_.LoadViewFlag) {
    try {
      overlay_->SetEnabled(settings_.LoadViewFlag(QStringLiteral("InstrumentPoints"), false));
    } catch (...) {
    }
  }
}

// ---- device -----------------------------------------------------------------------------------

const DeviceLimits& TGraphForm::ActiveLimits() const {
  return device_->ActiveLimits();
}
const DeviceLimits& TGraphForm::SelectedDeviceLimits() const {
  return device_->DeviceLimitsOfTarget();
}
std::int32_t TGraphForm::PointBudget() const {
  return device_->PointBudget();
}
bool TGraphForm::DaqChecked() const {
  return device_->DaqChecked();
}
int TGraphForm::SelectedModel() const {
  return device_->Model();
}
int TGraphForm::SelectedVariant() const {
  return device_->Variant();
}
InterfaceChoice TGraphForm::Interface() const {
  return device_->Interface();
}
void TGraphForm::SelectDevice(int model, int variant) {
  device_->SelectDevice(model, variant);
}
void TGraphForm::ToggleDaq() {
  device_->ToggleDaq();
}
void TGraphForm::SelectInterface(InterfaceChoice choice) {
  device_->SelectInterface(choice);
}

void TGraphForm::OnDeviceSelected() {
  plot_->SetAxisMax(PlotAxis::Left, SelectedDeviceLimits().MaxVoltage + 2);
  plot_->SetAxisMax(PlotAxis::Right, SelectedDeviceLimits().MaxCurrent + 2);
  RecomputeSnapY();
  RecomputeSnapX();
  UpdateSpinLimits();
}

void TGraphForm::LoadDeviceConfiguration() {
  if (device_->LoadConfiguration()) {
    plot_->SetAxisRange(PlotAxis::Left, 0, SelectedDeviceLimits().MaxVoltage + 2);
    plot_->SetAxisRange(PlotAxis::Right, 0, SelectedDeviceLimits().MaxCurrent + 2);
  } else {
    plot_->SetAxisRange(PlotAxis::Left, 0, 22);
    plot_->SetAxisRange(PlotAxis::Right, 0, 42);
  }
}

void TGraphForm::SaveDeviceConfiguration() {
  try {
    device_->SaveConfiguration();
  } catch (const std::exception&) {
    // Not being able to keep the device choice must not stop the editor from closing.
  }
}

// ---- preview image ----------------------------------------------------------------------------

void TGraphForm::PrepareThumbnail() {
  ShowMark(false);
  thumbCaption_ = plot_->AxisCaption(PlotAxis::Bottom);
  for (PlotAxis a : {PlotAxis::Bottom, PlotAxis::Left, PlotAxis::Right}) {
    plot_->SetAxisCaption(a, QString());
    plot_->SetAxisLineVisible(a, false);
  }
  plot_->SetTickLabelsVisible(false);
  plot_->SetGridColor(QColor(192, 192, 192));
  plot_->SetMargins(0, 0, 0, 0);
}

void TGraphForm::RestoreAfterThumbnail() {
  plot_->SetAxisCaption(PlotAxis::Bottom, thumbCaption_);
  plot_->SetAxisCaption(PlotAxis::Left, T("Voltage [V]"));
  plot_->SetAxisCaption(PlotAxis::Right, T("Current [A]"));
  plot_->SetTickLabelsVisible(true);
  plot_->SetGridColor(QColor(128, 128, 128));
  plot_->SetMargins(20, 4, 20, 20);
  for (PlotAxis a : {PlotAxis::Bottom, PlotAxis::Left, PlotAxis::Right}) {
    plot_->SetAxisLineVisible(a, true);
  }
  ShowMark(TableChecked() && panelRight_->isVisible());
  plot_->Replot();
}

QImage TGraphForm::RenderPreviewImage(QSize size) {
  PrepareThumbnail();
  QImage image;
  try {
    image = plot_->Render(size);
  } catch (...) {
  }
  RestoreAfterThumbnail();
  return image;
}

}  // namespace ondrevo
