#include "editor/GraphForm.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "document/AtomicFile.h"
#include "document/CsvImport.h"
#include "document/DocumentIO.h"
#include "document/Numbers.h"
#include "document/Translate.h"
#include "editor/Timescale.h"
#include "plot/Plot.h"

// Resources of a static library are only linked when something names them.
static void InitEditorResources() {
  Q_INIT_RESOURCE(editor_icons);
}

namespace ondrevo {

namespace {

QString T(const char* english) {
  return QString::fromUtf8(_(english));
}

const QColor kVoltageColor(Qt::blue);
const QColor kCurrentColor(Qt::red);

QIcon ThemeIcon(const char* themeName, const char* fallback) {
  return QIcon::fromTheme(QString::fromLatin1(themeName),
                          QIcon(QStringLiteral(":/editor/icons/%1.svg").arg(fallback)));
}

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Shown numbers use the user's decimal separator; files never see these.
QString Localized(const std::string& text) {
  QString s = Q(text);
  return s.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

}  // namespace

TGraphForm::TGraphForm(TGraphFormSettings settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(std::move(settings)),
      switches_(settings_.Switches),
      dialogs_(std::make_shared<TEditorDialogs>()) {
  InitEditorResources();
  setObjectName(QStringLiteral("GraphForm"));
  setWindowTitle(T("Ondrevo Designer"));
  setMinimumSize(800, 400);

  CreateActions();
  CreateMenus();
  CreateCentral();
  CreateToolbars();
  CreateStatusBar();

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
  doc_.Active = Quantity::Voltage;
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

TGraphForm::~TGraphForm() = default;

void TGraphForm::SetDialogs(std::shared_ptr<TEditorDialogs> dialogs) {
  dialogs_ = dialogs ? std::move(dialogs) : std::make_shared<TEditorDialogs>();
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
  act_.Table->setChecked(true);
  act_.Daq = make("actDaq", "DAQ", nullptr);
  act_.Daq->setCheckable(true);
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
      grid_->setCurrentCell(0, 1);
    } else {
      HideTable();
    }
  });
  connect(act_.Daq, &QAction::triggered, this, [this] { OnDaqChanged(); });
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
  deviceSelectMenu_ = device->addMenu(T("&Select"));
  deviceSelectMenu_->setObjectName(QStringLiteral("mnuSelect"));
  deviceSelectMenu_->menuAction()->setStatusTip(T("Select the device in use"));
  auto* models = new QActionGroup(this);
  auto* variants = new QActionGroup(this);
  const auto& infos = DeviceModels();
  for (int m = 0; m < kDeviceModelCount; ++m) {
    const DeviceModelInfo& info = infos[static_cast<std::size_t>(m)];
    QMenu* sub = deviceSelectMenu_->addMenu(QString::fromLatin1(info.Caption));
    sub->setObjectName(QStringLiteral("mnuModel%1").arg(QLatin1String(info.Caption)));
    sub->menuAction()->setCheckable(true);
    models->addAction(sub->menuAction());
    modelActions_.push_back(sub->menuAction());
    variantActions_.emplace_back();
    for (int v = 0; v < VariantCount(m); ++v) {
      const char* caption = info.Variants[static_cast<std::size_t>(v)];
      QAction* a = sub->addAction(QString::fromLatin1(caption));
      a->setObjectName(QStringLiteral("actVariant%1_%2")
                           .arg(QLatin1String(info.Caption), QLatin1String(caption)));
      a->setCheckable(true);
      variants->addAction(a);
      variantActions_.back().push_back(a);
      connect(a, &QAction::triggered, this, [this, m, v] { SelectDevice(m, v); });
    }
  }
  deviceSelectMenu_->addSeparator();
  deviceSelectMenu_->addAction(act_.Daq);
  CheckDeviceItems(model_, variant_);

  interfaceMenu_ = device->addMenu(T("&Interface"));
  interfaceMenu_->setObjectName(QStringLiteral("mnuInterface"));
  interfaceMenu_->menuAction()->setStatusTip(
      T("Select the interface to communicate with the device"));
  interfaceMenu_->menuAction()->setVisible(false);
  auto* interfaces = new QActionGroup(this);
  const char* names[4] = {"None", "USB", "RS232", "GPIB"};
  for (int i = 0; i < 4; ++i) {
    QAction* a = interfaceMenu_->addAction(i == 0 ? T(names[i]) : QString::fromLatin1(names[i]));
    a->setObjectName(QStringLiteral("actInterface%1").arg(QLatin1String(names[i])));
    a->setCheckable(true);
    interfaces->addAction(a);
    interfaceActions_[static_cast<std::size_t>(i)] = a;
    connect(a, &QAction::triggered, this,
            [this, i] { SelectInterface(static_cast<InterfaceChoice>(i)); });
  }
  interfaceActions_[0]->setChecked(true);
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
  grid_ = new QTableWidget(1, 7, panelRight_);
  grid_->setObjectName(QStringLiteral("StringGrid1"));
  grid_->verticalHeader()->hide();
  grid_->verticalHeader()->setDefaultSectionSize(20);
  const int widths[7] = {44, 64, 64, 22, 64, 62, 64};
  for (int c = 0; c < 7; ++c) grid_->setColumnWidth(c, widths[c]);
  right->addWidget(grid_, 1);
  editMode_ = new QCheckBox(T("&Edit mode"), panelRight_);
  editMode_->setObjectName(QStringLiteral("EditMode"));
  editMode_->setChecked(true);
  right->addWidget(editMode_);
  pages_ = new QTabWidget(panelRight_);
  pages_->setObjectName(QStringLiteral("PageControl1"));
  for (const char* caption : {"&General", "&1. Superposition", "&2. Superposition"}) {
    pages_->addTab(new QWidget(pages_), T(caption));
  }
  pages_->setFixedHeight(220);
  right->addWidget(pages_);
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

  plot_->SetActiveValueAxis(PlotAxis::Left);
  plot_->BeforeZoom = [this](PlotAxis axis, double& min, double& max) {
    return LimitZoom(axis == PlotAxis::Bottom, plot_->AxisMax(axis), min, max);
  };
  connect(plot_, &TPlot::rangesChanged, this, [this] { UpdateTimeAxisLabels(); });
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
    return Localized(
        LabelTimeTick(comboUnit_->currentIndex(), plot_->AxisMax(PlotAxis::Bottom), t).Text);
  });
  SetGridLinesForActive();

  uLine_ = plot_->AddSeries(QStringLiteral("U_Line"), PlotAxis::Left);
  uLine_->SetColor(kVoltageColor);
  uLine_->SetMarker(PlotMarker::Rectangle);
  iLine_ = plot_->AddSeries(QStringLiteral("I_Line"), PlotAxis::Right);
  iLine_->SetColor(kCurrentColor);
  iLine_->SetMarker(PlotMarker::Rectangle);
  for (int i = 0; i < kPreviewSlots; ++i) {
    TPlotSeries* line = plot_->AddSeries(QStringLiteral("UE_Line%1").arg(i + 1), PlotAxis::Left);
    line->SetColor(kVoltageColor);
    line->SetWidth(1);
    line->SetMarker(PlotMarker::None);
    TPlotSeries* companion =
        plot_->AddSeries(QStringLiteral("Mark_Line%1").arg(i + 1), PlotAxis::Left);
    companion->SetColor(Qt::white);
    companion->SetLineStyle(PlotLineStyle::DashDot);
    companion->SetWidth(1);
    companion->SetMarker(PlotMarker::None);
    previewLines_[static_cast<std::size_t>(i)] = line;
    previewMarks_[static_cast<std::size_t>(i)] = companion;
  }
  mark_ = plot_->AddSeries(QStringLiteral("Mark"), PlotAxis::Left);
  mark_->SetColor(kCurrentColor);
  mark_->SetMarker(PlotMarker::Ellipse);
  mark_->SetVisible(false);
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

// ---- state helpers ----------------------------------------------------------------------------

TPlotSeries* TGraphForm::Curve(Quantity q) const {
  return q == Quantity::Voltage ? uLine_ : iLine_;
}

bool TGraphForm::TableChecked() const {
  return act_.Table->isChecked();
}
bool TGraphForm::DaqChecked() const {
  return act_.Daq->isChecked();
}

double TGraphForm::ActiveMaximum() const {
  return doc_.Active == Quantity::Voltage ? activeLimits_.MaxVoltage : activeLimits_.MaxCurrent;
}

void TGraphForm::UpdateCaption(bool readOnly) {
  QString caption = docName_;
  if (readOnly) caption += QLatin1Char(' ') + T("(read-only)");
  setWindowTitle(caption + QStringLiteral(" - ") + baseCaption_);
}

void TGraphForm::UpdateRemoteEnabled() {
  const std::int32_t active = doc_.Working.LastPointIndex();
  const bool any =
      doc_.Voltage.LastPointIndex() > 0 || doc_.Current.LastPointIndex() > 0 || active > 0;
  act_.RemoteControl->setEnabled(any);
}

void TGraphForm::SetGridLinesForActive() {
  plot_->SetGridVisible(PlotAxis::Left, doc_.Active == Quantity::Voltage);
  plot_->SetGridVisible(PlotAxis::Right, doc_.Active == Quantity::Current);
  plot_->SetGridVisible(PlotAxis::Bottom, true);
  plot_->SetActiveValueAxis(doc_.Active == Quantity::Voltage ? PlotAxis::Left : PlotAxis::Right);
}

void TGraphForm::ShowMark(bool visible) {
  mark_->SetVisible(visible);
}

void TGraphForm::SetTableChecked(bool checked) {
  act_.Table->setChecked(checked);
}

void TGraphForm::HideTable() {
  SetTableChecked(false);
  panelRight_->hide();
  ShowMark(false);
}

void TGraphForm::RebuildGrid() {
  // The editable grid comes with the grid issue; this fills the visible columns so the table
  // view shows the active curve. The panel is shown by whoever checks "&Table".
  const bool voltage = doc_.Active == Quantity::Voltage;
  grid_->setHorizontalHeaderLabels(
      {QString(), voltage ? QStringLiteral("V1") : QStringLiteral("A1"), QStringLiteral("dt"),
       QString(), voltage ? QStringLiteral("V2") : QStringLiteral("A2"), QStringLiteral("\u00dc1"),
       QStringLiteral("\u00dc2")});
  const SegmentTable& t = doc_.Working;
  const std::int32_t n = t.LastPointIndex();
  const bool empty = n == 0 && Curve(doc_.Active)->Count() == 0;
  grid_->setRowCount(empty ? 1 : n + 1);
  grid_->clearContents();
  if (!empty) {
    for (std::int32_t p = 0; p <= n; ++p) {
      auto set = [this, p](int col, const QString& text) {
        grid_->setItem(p, col, new QTableWidgetItem(text));
      };
      set(0, QString::number(p + 1));
      set(1, Localized(FormatFixed(t[p].Value, 6, 4)));
      if (p < n) {
        double d = std::max(0.0, t[p + 1].Time - t[p].Time);
        const char* unit = "s";
        if (d > 36000) {
          d /= 3600;
          unit = "h";
        } else if (d > 600) {
          d /= 60;
          unit = "min";
        } else {
          for (const char* next : {"ms", "us"}) {
            if (d == 0 || d >= 0.1) break;
            d *= 1000;
            unit = next;
          }
        }
        set(2, Localized(FormatFixed(d, 7, 5)));
        set(3, QString::fromLatin1(unit));
        set(4, Localized(FormatFixed(t[p + 1].Value, 6, 4)));
        if (t[p].Sup1.Kind != SuperpositionKind::None) {
          set(5, T(SuperpositionDisplayName(t[p].Sup1.Kind)));
          if (t[p].Sup2.Kind != SuperpositionKind::None) {
            set(6, T(SuperpositionDisplayName(t[p].Sup2.Kind)));
          }
        }
      }
    }
  }
  const PlotAxis axis = voltage ? PlotAxis::Left : PlotAxis::Right;
  mark_->SetAxis(axis);
  mark_->SetColor(voltage ? kCurrentColor : kVoltageColor);
  mark_->Clear();
  TPlotSeries* curve = Curve(doc_.Active);
  if (curve->Count() >= 2) {
    mark_->AddPoint(curve->Point(0).x(), curve->Point(0).y());
    mark_->AddPoint(curve->Point(1).x(), curve->Point(1).y());
  } else {
    mark_->AddPoint(0, 0);
    mark_->AddPoint(0, 0);
  }
  ShowMark(true);
}

void TGraphForm::UpdateSpinLimits() {
  // The General and Superposition tabs come with the tabs issue; their value and amplitude
  // limits follow ActiveMaximum() there.
}

void TGraphForm::RecomputeSnapX() {
  timeSpan_ = plot_->AxisMax(PlotAxis::Bottom);
  const int index = snapX_->currentIndex();
  const double percent = index == snapX_->count() - 1 ? 0 : snapX_->currentText().toDouble();
  snapStepX_ = ondrevo::HorizontalSnapStep(percent, timeSpan_);
}

void TGraphForm::RecomputeSnapY() {
  const int index = snapY_->currentIndex();
  const double percent = index == snapY_->count() - 1 ? 0 : snapY_->currentText().toDouble();
  const double resolution = doc_.Active == Quantity::Voltage ? activeLimits_.VoltageResolution
                                                             : activeLimits_.CurrentResolution;
  snapStepY_ = ondrevo::VerticalSnapStep(percent, ActiveMaximum(), resolution);
}

void TGraphForm::UpdateTimeAxisLabels() {
  const int unit = comboUnit_->currentIndex();
  const TimeTickLabel label = LabelTimeTick(unit, plot_->AxisMax(PlotAxis::Bottom), 0);
  if (label.Caption) plot_->SetAxisCaption(PlotAxis::Bottom, T(label.Caption));
  plot_->Replot();
}

// ---- curves -----------------------------------------------------------------------------------

void TGraphForm::ClearCurves() {
  uLine_->Clear();
  iLine_->Clear();
  for (int i = 0; i < kPreviewSlots; ++i) {
    slotUsed_[static_cast<std::size_t>(i)] = false;
    previewLines_[static_cast<std::size_t>(i)]->Clear();
    previewMarks_[static_cast<std::size_t>(i)]->Clear();
  }
  selected_ = {-1, -1};
}

void TGraphForm::AllocatePreviews(Quantity quantity, SegmentTable& table) {
  const PlotAxis axis = quantity == Quantity::Voltage ? PlotAxis::Left : PlotAxis::Right;
  for (std::int32_t i = 0; i < table.LastPointIndex(); ++i) {
    SegmentRow& row = table[i];
    if (row.Sup1.Kind == SuperpositionKind::None) continue;
    int slot = -1;
    for (int s = 0; s < kPreviewSlots; ++s) {
      if (!slotUsed_[static_cast<std::size_t>(s)]) {
        slot = s;
        break;
      }
    }
    if (slot < 0) {
      // Every slot is taken: the segment loses its superpositions.
      row.Sup1.Kind = SuperpositionKind::None;
      row.Sup2.Kind = SuperpositionKind::None;
      continue;
    }
    const auto s = static_cast<std::size_t>(slot);
    slotUsed_[s] = true;
    slotQuantity_[s] = quantity;
    row.PreviewSlot = static_cast<std::uint8_t>(slot);
    previewLines_[s]->SetAxis(axis);
    previewMarks_[s]->SetAxis(axis);
    // The superposition preview polyline of the slot is drawn by the preview issue.
  }
}

void TGraphForm::DrawCurve(Quantity quantity) {
  SegmentTable& table = quantity == doc_.Active ? doc_.Working : doc_.TableOf(quantity);
  TPlotSeries* curve = Curve(quantity);
  curve->Clear();
  const std::int32_t n = table.LastPointIndex();
  if (n <= 0) return;
  std::int32_t last = 0;
  curve->AddPoint(table[0].Time, table[0].Value);
  for (std::int32_t i = 1; i <= n; ++i) {
    if (table[i].Time < table[i - 1].Time) break;
    curve->AddPoint(table[i].Time, table[i].Value);
    last = i;
  }
  if (last != n && quantity == doc_.Active) table.SetLastPointIndex(last);
  AllocatePreviews(quantity, table);
}

void TGraphForm::ResetEditor(bool clearHistory) {
  ClearCurves();
  doc_.Voltage.Reset();
  doc_.Current.Reset();
  doc_.Working.Reset();
  if (clearHistory) ClearHistory();
  UpdateRemoteEnabled();
}

void TGraphForm::RebuildActiveCurve() {
  const Quantity q = doc_.Active;
  Curve(q)->Clear();
  for (int i = 0; i < kPreviewSlots; ++i) {
    const auto s = static_cast<std::size_t>(i);
    if (slotUsed_[s] && slotQuantity_[s] == q) {
      slotUsed_[s] = false;
      previewLines_[s]->Clear();
      previewMarks_[s]->Clear();
    }
  }
  selected_[q == Quantity::Voltage ? 0 : 1] = -1;
  DrawCurve(q);
  doc_.TableOf(q) = doc_.Working;
  UpdateRemoteEnabled();
  plot_->Replot();
}

void TGraphForm::SwitchQuantity(Quantity quantity) {
  plot_->Canvas()->setCursor(Qt::CrossCursor);
  plot_->Canvas()->setFocus();
  (quantity == Quantity::Voltage ? act_.Voltage : act_.Current)->setChecked(true);
  (quantity == Quantity::Voltage ? rbVoltage_ : rbCurrent_)->setChecked(true);
  if (quantity != doc_.Active) {
    doc_.TableOf(doc_.Active) = doc_.Working;
    doc_.Working = doc_.TableOf(quantity);
    doc_.Active = quantity;
  }
  if (quantity == Quantity::Voltage) {
    plot_->SetAxisRange(PlotAxis::Right, 0, activeLimits_.MaxCurrent + 2);
  } else {
    plot_->SetAxisRange(PlotAxis::Left, 0, activeLimits_.MaxVoltage + 2);
  }
  SetGridLinesForActive();
  const bool hasPoints = Curve(quantity)->Count() > 0;
  if (hasPoints && !TableChecked()) {
    SetTableChecked(true);
    panelRight_->show();
  } else if (!hasPoints && TableChecked()) {
    HideTable();
  }
  if (TableChecked()) {
    RebuildGrid();
    if (grid_->isVisible()) grid_->setFocus();
  }
  RecomputeSnapY();
  UpdateSpinLimits();
  plot_->Replot();
}

// ---- timescale --------------------------------------------------------------------------------

void TGraphForm::SetTimescale(int valueIndex, int unit) {
  updatingTimescale_ = true;
  comboValue_->setCurrentIndex(valueIndex);
  comboUnit_->setCurrentIndex(unit);
  updatingTimescale_ = false;
}

void TGraphForm::ApplyTimescale(bool unitChanged) {
  if (updatingTimescale_) return;
  const bool shift = QGuiApplication::keyboardModifiers() & Qt::ShiftModifier;
  plot_->Canvas()->setFocus();
  const int unit = comboUnit_->currentIndex();
  const double max = TimescaleAxisMax(comboValue_->currentIndex(), unit);
  plot_->SetAxisRange(PlotAxis::Bottom, 0, max);
  if (unitChanged) plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[unit]));
  if (shift && timeSpan_ > 0) Stretch(max / timeSpan_);
  RecomputeSnapX();
  UpdateTimeAxisLabels();
}

void TGraphForm::Stretch(double factor) {
  const bool table = TableChecked();
  const Quantity active = doc_.Active;
  SetTableChecked(false);
  doc_.TableOf(active) = doc_.Working;
  StretchTable(doc_.Voltage, factor);
  StretchTable(doc_.Current, factor);
  ClearCurves();
  doc_.Working = doc_.TableOf(active);
  DrawCurve(Quantity::Voltage);
  DrawCurve(Quantity::Current);
  doc_.TableOf(active) = doc_.Working;
  SetTableChecked(table);
  if (table && panelRight_->isVisible()) RebuildGrid();
  RecordStep();
}

void TGraphForm::ZoomToFitTime() {
  const double end = std::max(uLine_->Count() ? uLine_->Points().back().x() : 0.0,
                              iLine_->Count() ? iLine_->Points().back().x() : 0.0);
  const auto choice = ZoomToFitTimescale(end);
  if (!choice) return;
  SetTimescale(choice->ValueIndex, choice->Unit);
  plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[choice->Unit]));
  plot_->SetAxisRange(PlotAxis::Bottom, 0, choice->AxisMax);
  RecomputeSnapX();
  UpdateTimeAxisLabels();
}

void TGraphForm::ZoomToFit() {
  plot_->Canvas()->setFocus();
  const double peak = CurvePeak(doc_.Working);
  if (peak > 0) {
    if (doc_.Active == Quantity::Voltage) {
      plot_->SetAxisRange(PlotAxis::Left, 0, activeLimits_.MaxVoltage + 2);
    } else {
      plot_->SetAxisRange(PlotAxis::Right, 0, peak + 1);
    }
  }
  ZoomToFitTime();
}

// ---- history (filled in by the undo issue) ----------------------------------------------------

void TGraphForm::RecordStep() {
  ++netChanges_;
  act_.Undo->setEnabled(true);
}

void TGraphForm::ClearHistory() {
  netChanges_ = 0;
  act_.Undo->setEnabled(false);
  act_.Redo->setEnabled(false);
}

// ---- document commands ------------------------------------------------------------------------

QString TGraphForm::SaveFilter() const {
  return T("Ondrevo files (*.ovx)") + QStringLiteral(" (*.ovx);;") + T("All files (*.*)") +
         QStringLiteral(" (*)");
}

void TGraphForm::NewDocumentState() {
  HideTable();
  ResetEditor(true);
  ++untitled_;
  docFolder_.clear();
  docName_ = T("Unnamed") + QString::number(untitled_);
  UpdateCaption();
  grid_->setRowCount(1);
  grid_->clearContents();
  SetTimescale(0, kUnitSecond);
  plot_->SetAxisCaption(PlotAxis::Bottom, T(kUnitCaptions[kUnitSecond]));
  plot_->SetAxisRange(PlotAxis::Bottom, 0, 10);
  timeSpan_ = 10;
  snapX_->setCurrentText(QStringLiteral("10"));
  snapY_->setCurrentText(QStringLiteral("10"));
  RecomputeSnapX();
  RecomputeSnapY();
  UpdateTimeAxisLabels();
}

void TGraphForm::New() {
  if (!SaveChangesPrompt()) return;
  NewDocumentState();
}

bool TGraphForm::TrySave(const QString& path) {
  try {
    doc_.TableOf(doc_.Active) = doc_.Working;
    WriteDocument(path);
  } catch (const std::exception&) {
    return false;
  }
  if (WritePreviewImage) WritePreviewImage(path);
  return true;
}

bool TGraphForm::SaveChangesPrompt() {
  if (!IsModified()) return true;
  const auto answer = dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                                        T("Unsaved changes will be lost. Save document?"),
                                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::No) return true;
  // A new document has no folder: its bare name must not overwrite a file of that name in the
  // working folder, so it goes straight to the dialog.
  QString path = docFolder_.isEmpty() ? QString() : docFolder_ + docName_;
  bool dialogUsed = false;
  for (;;) {
    if (!path.isEmpty()) {
      const std::string p = path.toStdString();
      const bool exists = QFileInfo::exists(path);
      if (((exists && !IsReadOnlyFile(p)) || (!exists && dialogUsed)) && TrySave(path)) {
        return true;
      }
      if (dialogUsed) {
        dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"),
                          T("The file is read-only. Please choose a different filename."),
                          QMessageBox::Ok);
      }
    }
    path =
        dialogs_->GetSaveFileName(this, T("Save file as..."), SaveFilter(), docFolder_ + docName_);
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".ovx");
    dialogUsed = true;
  }
}

void TGraphForm::WriteDocument(const QString& path) {
  ondrevo::WriteDocument(path.toStdString(), doc_.Voltage, doc_.Current);
  AddRecentFile(path);
}

bool TGraphForm::Save() {
  if (docFolder_.isEmpty() || docName_.isEmpty()) return SaveAs();
  const QString path = docFolder_ + docName_;
  if (IsReadOnlyFile(path.toStdString())) return SaveAs();
  doc_.TableOf(doc_.Active) = doc_.Working;
  try {
    WriteDocument(path);
  } catch (const std::exception& e) {
    // Shown here rather than as an unhandled error: the document stays modified and open.
    dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"),
                      T("The document could not be saved.") + QStringLiteral("\n\n") +
                          QString::fromStdString(e.what()),
                      QMessageBox::Ok);
    return false;
  }
  if (WritePreviewImage) WritePreviewImage(path);
  ClearHistory();
  return true;
}

bool TGraphForm::SaveAs() {
  for (;;) {
    QString path =
        dialogs_->GetSaveFileName(this, T("Save file as..."), SaveFilter(), docFolder_ + docName_);
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".ovx");
    if (!IsReadOnlyFile(path.toStdString()) && TrySave(path)) {
      const QFileInfo info(path);
      docName_ = info.fileName();
      docFolder_ = QDir::toNativeSeparators(info.absolutePath());
      if (!docFolder_.endsWith(QDir::separator())) docFolder_ += QDir::separator();
      UpdateCaption();
      ClearHistory();
      return true;
    }
    dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"),
                      T("The file is read-only. Please choose a different filename."),
                      QMessageBox::Ok);
  }
}

void TGraphForm::Open() {
  if (!SaveChangesPrompt()) return;
  NewDocumentState();
  const QString path = dialogs_->GetOpenFileName(this, T("Open file..."), SaveFilter());
  if (path.isEmpty()) return;
  if (!LoadDocument(path)) return;
  AddRecentFile(path);
  if (WritePreviewImage) WritePreviewImage(path);
}

bool TGraphForm::LoadDocument(const QString& path) {
  ResetEditor(true);
  const QFileInfo info(path);
  try {
    ReadDocumentFile(path.toStdString(), doc_.Voltage, doc_.Current);
  } catch (const std::exception& e) {
    // Never keep the file's name with a partial document: Save would overwrite the file.
    NewDocumentState();
    dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"),
                      T("The document could not be read.") + QStringLiteral("\n\n") +
                          QString::fromStdString(e.what()),
                      QMessageBox::Ok);
    return false;
  }
  docName_ = info.fileName();
  docFolder_ = info.absolutePath();
  if (!docFolder_.endsWith(QLatin1Char('/'))) docFolder_ += QLatin1Char('/');
  UpdateCaption(IsReadOnlyFile(path.toStdString()));

  ApplyInterfaceAvailability();
  ClearCurves();
  ClearHistory();
  uLine_->SetMarkersVisible(true);
  iLine_->SetMarkersVisible(true);
  doc_.Working = doc_.TableOf(doc_.Active);
  // Drawn from copies: the redisplay leaves the loaded tables as read.
  for (Quantity q : {Quantity::Voltage, Quantity::Current}) {
    if (q == doc_.Active) {
      DrawCurve(q);
    } else {
      SegmentTable copy = doc_.TableOf(q);
      std::swap(doc_.TableOf(q), copy);
      DrawCurve(q);
      std::swap(doc_.TableOf(q), copy);
    }
  }
  RecomputeSnapX();
  RecomputeSnapY();
  UpdateSpinLimits();
  if (TableChecked()) RebuildGrid();
  UpdateRemoteEnabled();
  plot_->Replot();
  return true;
}

void TGraphForm::Library() {
  if (!SaveChangesPrompt()) return;
  DeleteAll();
  QString folder = settings_.LibraryPath ? settings_.LibraryPath() : QString();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
    dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                      T("Your library was not found. Please check your library path settings."),
                      QMessageBox::Ok);
    folder.clear();
  }
  const QString path =
      dialogs_->GetOpenFileNameIn(this, T("Open file from library"), SaveFilter(), folder);
  if (path.isEmpty()) return;
  // A template, not a document the user worked on: no recent entry, no preview image.
  LoadDocument(path);
}

void TGraphForm::ImportCsv() {
  const QString filter = T("CSV files (*.csv)") + QStringLiteral(";;") + T("Text files (*.txt)") +
                         QStringLiteral(";;") + T("All files (*.*)") + QStringLiteral(" (*)");
  const QString path = dialogs_->GetOpenFileName(this, T("Open CSV file..."), filter);
  if (path.isEmpty()) return;
  ImportCsvFile(path);
}

bool TGraphForm::ImportCsvFile(const QString& path) {
  // Everything that can fail is done before the document is touched.
  CsvTrace trace;
  CsvStaircase staircase;
  try {
    trace = ReadCsvFile(path.toStdString());
    if (trace.Layout == CsvLayout::Unknown) {
      dialogs_->Message(
          this, QMessageBox::Warning, T("Ondrevo"),
          T("The file is not a CSV file of a known layout:") + QStringLiteral("\n\n") + path,
          QMessageBox::Ok);
      return false;
    }
    if (trace.Samples.empty()) {
      dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                        T("The file contains no data:") + QStringLiteral("\n\n") + path,
                        QMessageBox::Ok);
      return false;
    }
    staircase = MakeCsvStaircase(trace, switches_.CsvOffsetMode, pointBudget_);
  } catch (const std::exception& e) {
    dialogs_->Message(this, QMessageBox::Critical, T("Ondrevo"),
                      T("The file could not be imported.") + QStringLiteral("\n\n") +
                          QString::fromStdString(e.what()),
                      QMessageBox::Ok);
    return false;
  }

  SwitchQuantity(Quantity::Voltage);
  uLine_->SetMarkersVisible(false);
  iLine_->SetMarkersVisible(false);
  ClearCurves();
  StoreCsvStaircase(staircase, doc_.Working);
  doc_.Voltage = doc_.Working;
  // The current curve goes before the zoom, so that the time axis fits what is left.
  doc_.Current.Reset();
  DrawCurve(Quantity::Voltage);
  ZoomToFit();
  SetTableChecked(true);
  RebuildGrid();
  panelRight_->show();
  UpdateRemoteEnabled();
  // Recorded so that closing asks before the imported curve is thrown away.
  RecordStep();
  plot_->Replot();

  if (trace.SkippedRecords > 0) {
    dialogs_->Message(this, QMessageBox::Warning, T("Ondrevo"),
                      T("Lines of the file that hold no valid data were skipped: %1 (the first "
                        "is line %2).")
                          .arg(trace.SkippedRecords)
                          .arg(trace.FirstSkippedLine),
                      QMessageBox::Ok);
  }
  return true;
}

void TGraphForm::OpenRecent(const QString& path) {
  if (!SaveChangesPrompt()) return;
  if (TableChecked()) {
    HideTable();
    ResetEditor(false);
    grid_->setRowCount(1);
    grid_->clearContents();
  }
  if (QFileInfo::exists(path)) {
    AddRecentFile(path);
    LoadDocument(path);
    return;
  }
  const auto answer = dialogs_->Message(this, QMessageBox::Question, T("Ondrevo"),
                                        T("The file can not be found. Remove it from history?"),
                                        QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes) RemoveRecentFile(path);
}

bool TGraphForm::CloseDocument() {
  if (!SaveChangesPrompt()) return false;
  SaveDeviceConfiguration();
  if (doc_.Active != Quantity::Voltage) {
    doc_.TableOf(doc_.Active) = doc_.Working;
    doc_.Active = Quantity::Voltage;
    doc_.Working = doc_.Voltage;
  }
  act_.Voltage->setChecked(true);
  rbVoltage_->setChecked(true);
  SetGridLinesForActive();
  panelRight_->hide();
  ShowMark(false);
  ResetEditor(true);
  if (settings_.StorePlacement && isVisible()) {
    try {
      settings_.StorePlacement(saveGeometry());
    } catch (...) {
    }
  }
  hide();
  emit closed();
  return true;
}

void TGraphForm::Exit() {
  CloseDocument();
  if (!isVisible()) emit exitRequested();
}

void TGraphForm::DeleteAll() {
  if (!TableChecked()) return;
  HideTable();
  ResetEditor(false);
  grid_->setRowCount(1);
  grid_->clearContents();
  plot_->Replot();
}

// ---- recent list ------------------------------------------------------------------------------

void TGraphForm::UpdateRecentMenu() {
  recentMenu_->clear();
  for (int i = 0; i < recent_.size(); ++i) {
    const QString path = recent_[i];
    QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path));
    a->setObjectName(QStringLiteral("actRecent%1").arg(i + 1));
    a->setStatusTip(path);
    connect(a, &QAction::triggered, this, [this, path] { OpenRecent(path); });
  }
  recentMenu_->addSeparator();
  recentMenu_->addAction(act_.ClearHistory);
}

void TGraphForm::StoreRecent() {
  UpdateRecentMenu();
  if (settings_.StoreRecentFiles) {
    // A settings file that cannot be written must not turn a saved document into a failure.
    try {
      settings_.StoreRecentFiles(recent_);
    } catch (...) {
    }
  }
  emit recentFilesChanged();
}

void TGraphForm::AddRecentFile(const QString& path) {
  recent_.removeAll(path);
  recent_.prepend(path);
  while (recent_.size() > kMaxRecentFiles) recent_.removeLast();
  StoreRecent();
}

void TGraphForm::RemoveRecentFile(const QString& path) {
  recent_.removeAll(path);
  StoreRecent();
}

void TGraphForm::ClearRecentFiles() {
  recent_.clear();
  StoreRecent();
}

// ---- device -----------------------------------------------------------------------------------

void TGraphForm::CheckDeviceItems(int model, int variant) {
  model_ = model;
  variant_ = variant;
  for (std::size_t m = 0; m < modelActions_.size(); ++m) {
    modelActions_[m]->setChecked(static_cast<int>(m) == model);
    for (std::size_t v = 0; v < variantActions_[m].size(); ++v) {
      variantActions_[m][v]->setChecked(static_cast<int>(m) == model &&
                                        static_cast<int>(v) == variant);
    }
  }
}

void TGraphForm::ApplyInterfaceAvailability() {
  interfaceActions_[1]->setEnabled(serialAvailable_);
  interfaceActions_[2]->setEnabled(serialAvailable_);
  if (!serialAvailable_ &&
      (interface_ == InterfaceChoice::Usb || interface_ == InterfaceChoice::Rs232)) {
    SelectInterface(InterfaceChoice::None);
  }
}

void TGraphForm::SelectDevice(int model, int variant) {
  if (variant < 0 || variant >= VariantCount(model)) return;
  CheckDeviceItems(model, variant);
  panels_[1]->setText(Q(DeviceText(model, variant)));
  const DeviceFamily family =
      EditorFamilyOfModel(DeviceModels()[static_cast<std::size_t>(model)].Caption);
  serialAvailable_ = family == DeviceFamily::C;
  ApplyInterfaceAvailability();
  const double reserved = deviceLimits_.Reserved;
  deviceLimits_ = LimitsForDevice(model, variant);
  deviceLimits_.Reserved = reserved;
  activeLimits_ = deviceLimits_;
  if (DaqChecked()) {
    pointBudget_ = switches_.DaqPointBudget;
    activeLimits_ = WithDaqOverrides(deviceLimits_);
  } else {
    pointBudget_ = kSupplyPointBudget;
  }
  plot_->SetAxisMax(PlotAxis::Left, deviceLimits_.MaxVoltage + 2);
  plot_->SetAxisMax(PlotAxis::Right, deviceLimits_.MaxCurrent + 2);
  RecomputeSnapY();
  RecomputeSnapX();
  UpdateSpinLimits();
}

void TGraphForm::ToggleDaq() {
  act_.Daq->trigger();
}

void TGraphForm::OnDaqChanged() {
  if (DaqChecked()) {
    activeLimits_ = WithDaqOverrides(activeLimits_);
    pointBudget_ = switches_.DaqPointBudget;
  } else {
    activeLimits_.VoltageResolution = deviceLimits_.VoltageResolution;
    activeLimits_.CurrentResolution = deviceLimits_.CurrentResolution;
    activeLimits_.Reserved = deviceLimits_.Reserved;
    activeLimits_.MinDwellTime = deviceLimits_.MinDwellTime;
    pointBudget_ = kSupplyPointBudget;
  }
}

void TGraphForm::SelectInterface(InterfaceChoice choice) {
  interface_ = choice;
  interfaceActions_[static_cast<std::size_t>(choice)]->setChecked(true);
  static const char* names[4] = {"", "USB", "RS232", "GPIB"};
  panels_[2]->setText(QString::fromLatin1(names[static_cast<int>(choice)]));
}

QString TGraphForm::ConfigurationPath() const {
  if (settings_.SettingsFolder.isEmpty()) return {};
  return QDir(settings_.SettingsFolder).filePath(QStringLiteral("Ondrevo.cfg"));
}

void TGraphForm::LoadDeviceConfiguration() {
  std::optional<DeviceConfiguration> config;
  const QString path = ConfigurationPath();
  if (!path.isEmpty() && QFileInfo::exists(path)) {
    try {
      config = ParseDeviceConfiguration(ReadWholeFile(path.toStdString(), 64 * 1024));
    } catch (const std::exception&) {
      config.reset();
    }
  }
  if (!config) {
    // Missing, unreadable or damaged: the defaults, menus as they are.
    deviceLimits_ = DeviceLimits{};
    activeLimits_ = deviceLimits_;
    if (DaqChecked()) activeLimits_ = WithDaqOverrides(deviceLimits_);
    plot_->SetAxisRange(PlotAxis::Left, 0, 22);
    plot_->SetAxisRange(PlotAxis::Right, 0, 42);
    return;
  }
  CheckDeviceItems(config->Model, config->Variant);
  act_.Daq->setChecked(config->Daq);
  pointBudget_ = config->Daq ? switches_.DaqPointBudget : kSupplyPointBudget;
  panels_[1]->setText(Q(DeviceText(config->Model, config->Variant)));
  deviceLimits_ = config->Limits;
  plot_->SetAxisRange(PlotAxis::Left, 0, deviceLimits_.MaxVoltage + 2);
  plot_->SetAxisRange(PlotAxis::Right, 0, deviceLimits_.MaxCurrent + 2);
  activeLimits_ = config->Daq ? WithDaqOverrides(deviceLimits_) : deviceLimits_;
  serialAvailable_ = config->SerialAvailable;
  interface_ = InterfaceChoice::None;
  SelectInterface(config->Interface);
  ApplyInterfaceAvailability();
}

void TGraphForm::SaveDeviceConfiguration() {
  if (settings_.SettingsFolder.isEmpty() || !QDir(settings_.SettingsFolder).exists()) return;
  DeviceConfiguration c;
  c.Model = model_;
  c.Variant = variant_;
  c.Daq = DaqChecked();
  c.Limits = deviceLimits_;
  c.SerialAvailable = serialAvailable_;
  c.Interface = interface_;
  try {
    WriteFileAtomically(ConfigurationPath().toStdString(), FormatDeviceConfiguration(c));
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
