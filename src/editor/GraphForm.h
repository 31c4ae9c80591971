// The editor window: one document (a voltage and a current curve), its plot, menus, toolbars,
// timescale, file commands and the device menu that fixes the editing limits.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

#include "document/AtomicFile.h"
#include "document/SegmentTable.h"
#include "editor/CommandLine.h"
#include "editor/DeviceLimits.h"
#include "editor/EditorDialogs.h"
#include "editor/core/EditorCore.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QRadioButton;
class QToolBar;

namespace ondrevo {

class TCurveView;
class TDeviceMenu;
class TEditHistory;
class TEditorTabs;
class TPlotMouse;
struct TMouseOutcome;
class TInstrumentOverlay;
class TPlot;
class TPlotSeries;
class TSegmentGrid;

// What the program around the editor provides. Every member may be left empty.
struct TGraphFormSettings {
  // Folder of "Ondrevo.cfg"; empty or missing: the configuration is neither read nor written.
  QString SettingsFolder;
  // The recent-file list in the settings file (section "TGraphForm.MRUManager"), most recent
  // first. Loading may throw; the list then starts empty.
  std::function<QStringList()> LoadRecentFiles;
  std::function<void(const QStringList&)> StoreRecentFiles;
  // Window placement (position, size, state) kept in the settings file.
  std::function<QByteArray()> LoadPlacement;
  std::function<void(const QByteArray&)> StorePlacement;
  EditorSwitches Switches;
  // The waveform library folder of the preferences, asked each time (the user may change it).
  std::function<QString()> LibraryPath;
  // View toggles kept in the settings file; a missing key gives `fallback`. Storing may throw.
  std::function<bool(const QString& key, bool fallback)> LoadViewFlag;
  std::function<void(const QString& key, bool on)> StoreViewFlag;
};

class TGraphForm : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int kPreviewSlots = 50;
  static constexpr int kMaxRecentFiles = 9;

  explicit TGraphForm(TGraphFormSettings settings, QWidget* parent = nullptr);
  ~TGraphForm() override;

  // Replaces the file dialogs and message boxes (tests answer them).
  void SetDialogs(std::shared_ptr<TEditorDialogs> dialogs);
  // Writes the preview image of the document shown for a document path (after saves and opens).
  std::function<void(const QString& path)> WritePreviewImage;

  // ---- commands
  void New();
  void Open();
  // False when nothing was written (cancelled or failed).
  bool Save();
  bool SaveAs();
  // "&Library...": prompt, Delete all, open dialog in the library folder, LoadDocument. The file
  // is not added to the recent list and no preview image is written.
  void Library();
  void OpenFromLibrary() { Library(); }
  // "&Import CSV...": open dialog, then ImportCsvFile.
  void ImportCsv();
  // Replaces the voltage curve by the trace as a staircase and empties the current curve; the
  // document keeps its name. False (nothing changed) when the file is unreadable, of no known
  // layout or without data; each case is shown to the user.
  bool ImportCsvFile(const QString& path);
  // "&Close": prompt, store the device configuration, reset, hide, emit closed(). False when the
  // user cancelled.
  bool CloseDocument();
  void Exit();
  void DeleteAll();
  void ZoomToFit();
  void ZoomToFitTime();
  void SwitchQuantity(Quantity quantity);
  // Continue (true) or abort (false).
  bool SaveChangesPrompt();
  void ResetEditor(bool clearHistory);
  // Redraws the active curve from the core (its commit rules run again).
  void RebuildActiveCurve();
  // Replaces the active curve as an edit of the document (the rules of a commit run).
  void SetActiveCurve(const SegmentTable& table, bool record = false);
  // Reads the file and redisplays; on a read error shows it and leaves an empty unnamed
  // document. False when the file could not be read.
  bool LoadDocument(const QString& path);
  // Writes both tables and adds the path to the recent list; throws EDocumentError.
  void WriteDocument(const QString& path);
  // A recent entry chosen (also the welcome window's recent buttons).
  void OpenRecent(const QString& path);

  // ---- recent list
  QStringList RecentFiles() const { return recent_; }
  void AddRecentFile(const QString& path);  // to the top, at most nine kept
  void RemoveRecentFile(const QString& path);
  void ClearRecentFiles();

  // ---- history
  // Records the document when it differs from the state shown last.
  void RecordStep();
  // Forgets every state; the document shown becomes the one the first Undo returns to.
  void ClearHistory();
  bool IsModified() const;
  void Undo();
  void Redo();
  const TEditHistory& History() const { return *history_; }
  TPlotMouse& Mouse() const { return *mouse_; }

  // ---- device
  void SelectDevice(int model, int variant);
  void ToggleDaq();
  void SelectInterface(InterfaceChoice choice);
  void LoadDeviceConfiguration();
  void SaveDeviceConfiguration();
  const DeviceLimits& ActiveLimits() const;
  const DeviceLimits& SelectedDeviceLimits() const;
  std::int32_t PointBudget() const;
  std::int32_t DaqPointBudget() const { return switches_.DaqPointBudget; }
  bool CsvOffsetMode() const { return switches_.CsvOffsetMode; }
  bool DaqChecked() const;
  int SelectedModel() const;
  int SelectedVariant() const;
  InterfaceChoice Interface() const;
  // Maximum of the active quantity in effect.
  double ActiveMaximum() const;

  // ---- state
  TEditorCore& Core() { return *core_; }
  const Document& Doc() const { return core_->Doc(); }
  Quantity ActiveQuantity() const { return core_->Active(); }
  QString DocumentName() const { return docName_; }
  QString DocumentFolder() const { return docFolder_; }
  QString BaseCaption() const { return baseCaption_; }
  int UntitledCounter() const { return untitled_; }
  double TimeSpan() const { return timeSpan_; }
  double HorizontalSnapStep() const { return snapStepX_; }
  double VerticalSnapStep() const { return snapStepY_; }
  bool TableChecked() const;
  TPlot* Plot() const { return plot_; }
  TInstrumentOverlay* Overlay() const { return overlay_; }
  // The 115 by 56 preview of the document shown, as the cache keeps it.
  QImage RenderPreviewImage(QSize size = QSize(115, 56));
  // The plot's thumbnail look (no captions, tick labels, margins or axis lines, light grid)
  // and back; `Mark` is off the plot meanwhile.
  void PrepareThumbnail();
  void RestoreAfterThumbnail();

  // ---- places for the grid and tabs
  // `rowsBuilt`: the core's rows already show the active curve (a document just loaded).
  void RebuildGrid(bool rowsBuilt = false);
  void HideTable();
  // The control bars' context menu: the two toolbar toggles.
  QMenu* createPopupMenu() override;

 signals:
  void aboutRequested();
  void preferencesRequested();
  void remoteControlRequested();
  // The window was closed by "&Close", its close box or Exit: show the welcome window.
  void closed();
  // Exit closed the window: end the program.
  void exitRequested();
  void recentFilesChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolbars();
  void CreateCentral();
  void CreateStatusBar();
  void CreatePlotSeries();
  void CreateOverlay();
  void OnCoreChange(const EditorChange& change);
  void OnCellSelected(int row, int col);
  void MarkRow(int row);
  void OnDeviceSelected();
  void ShowError(const QString& text, const QString& reason = {});
  void UpdateRecentMenu();
  void StoreRecent();
  void UpdateRemoteEnabled();
  void UpdateCaption(bool readOnly = false);
  void ApplyTimescale(bool unitChanged);
  void Stretch(double factor);
  void SetTimescale(int valueIndex, int unitIndex);
  void UpdateTimeCaption();
  void RecomputeSnapX();
  void RecomputeSnapY();
  void UpdateSpinLimits();
  void DrawCurve(Quantity quantity);
  void SetGridLinesForActive();
  void ShowMark(bool visible);
  void SetTableChecked(bool checked);
  void NewDocumentState();
  // Empty on success, else why the document could not be written.
  QString TrySave(const QString& path);
  // False when `path` is the file read or saved and it changed on disk since, and the user does
  // not want it replaced.
  bool MayReplace(const QString& path);
  void RememberStamp(const QString& path);
  QString SaveFilter() const;
  QString ConfigurationPath() const;
  void UpdateTimeAxisLabels();
  // After a mouse zoom or pan: the timescale lists name the span on screen.
  void FollowZoom();
  // Shows a state of the history: curves, previews, grid and the table's visibility.
  void RestoreState(const SegmentTable& voltage, const SegmentTable& current);
  void UpdateHistoryActions();
  void OnMouseOutcome(const TMouseOutcome& outcome, const SegmentTable& table);
  // Grid, selected segment, tabs and Mark after point i was added or moved with the mouse.
  void RefreshAfterPointEdit(int point);
  QString thumbCaption_;
  TPlotSeries* Curve(Quantity quantity) const;

  TGraphFormSettings settings_;
  EditorSwitches switches_;
  std::shared_ptr<TEditorDialogs> dialogs_;
  std::unique_ptr<TEditorCore> core_;
  std::unique_ptr<TCurveView> curves_;
  QString docName_, docFolder_, baseCaption_;
  // The file as it was read or last saved: Save asks before it replaces a file changed since.
  QString stampPath_;
  TFileStamp docStamp_;
  int untitled_ = 0;
  double timeSpan_ = 10.0;
  double snapStepX_ = 0.01, snapStepY_ = 0.02;
  std::unique_ptr<TEditHistory> history_;
  std::unique_ptr<TPlotMouse> mouse_;
  // A mouse edit keeps the time axis the user draws on (no refit after the commit).
  bool keepTimeAxis_ = false;
  QStringList recent_;
  bool updatingTimescale_ = false;
  // Messages whose box is open.
  QStringList shownMessages_;

  // widgets
  TPlot* plot_ = nullptr;
  TDeviceMenu* device_ = nullptr;
  QWidget* panelRight_ = nullptr;
  TSegmentGrid* grid_ = nullptr;
  QCheckBox* editMode_ = nullptr;
  TEditorTabs* tabs_ = nullptr;
  QRadioButton* rbVoltage_ = nullptr;
  QRadioButton* rbCurrent_ = nullptr;
  QComboBox* comboValue_ = nullptr;  // ComboBox1
  QComboBox* comboUnit_ = nullptr;   // ComboBox2
  QComboBox* snapX_ = nullptr;
  QComboBox* snapY_ = nullptr;
  QToolBar* mainToolbar_ = nullptr;
  QToolBar* timeToolbar_ = nullptr;
  std::array<QLabel*, 3> panels_{};
  QMenu* recentMenu_ = nullptr;
  TInstrumentOverlay* overlay_ = nullptr;

 public:
  // Actions, named as the menus show them (objectName "act" + name) for tests and the shell.
  struct Actions {
    QAction *New, *Open, *Library, *Close, *Save, *SaveAs, *ImportCsv, *ClearHistory, *Exit;
    QAction *Undo, *Redo, *DeleteAll, *Preferences;
    QAction *ToggleDefault, *ToggleTimescale, *ToggleStatusbar, *Table;
    QAction *Daq, *RemoteControl, *About, *ZoomToFit, *Voltage, *Current;
  };
  const Actions& Act() const { return act_; }

 private:
  Actions act_{};
};

}  // namespace ondrevo
