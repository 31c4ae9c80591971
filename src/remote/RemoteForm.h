// The remote-control window: finds instruments, connects to one, uploads the document's curves
// and plays them, reporting every step in its log and status bar. It drives devices only through
// their capability interfaces and learns about progress from the device events, which arrive on
// the GUI thread.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceInterfaces.h"
#include "playback/DeviceSearch.h"
#include "remote/RemoteDialogs.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ondrevo::sim {
class TDemoInstruments;
}

namespace ondrevo {

class TCommandsView;

class SegmentTable;
class TBurstEdit;
class TRemotePreview;

class TRemoteForm : public QDialog {
  Q_OBJECT
 public:
  // Makes one scanner; may throw when its driver is missing (it is then left out).
  using TScannerFactory = std::function<std::shared_ptr<IDeviceScanner>()>;

  explicit TRemoteForm(QWidget* parent = nullptr);
  ~TRemoteForm() override;

  // The scanners Refresh constructs, in order: GPIB, USB, RS232, NI-DAQmx, Analog, TTL (those
  // that exist in this build).
  static std::vector<TScannerFactory> DefaultScanners();
  void SetScanners(std::vector<TScannerFactory> factories);
  void SetDialogs(std::shared_ptr<TRemoteDialogs> dialogs);

  // The document's curves: the window builds its waveforms from these tables each time it is
  // shown. The tables must outlive the window's showing.
  void SetDocument(const SegmentTable* voltage, const SegmentTable* current);
  // Builds the waveforms from the tables given and shows the window modally.
  int ShowModal(const SegmentTable& voltage, const SegmentTable& current);

  // ---- commands (what the actions and buttons do)
  void Refresh();
  // Ends a running device search after the bus being probed (the Refresh action does this
  // while a search runs).
  void CancelSearch();
  void ConnectDevice();
  void DisconnectDevice();
  void UploadOrCancel();
  void Play();
  void Pause();
  void Stop();
  void ClearOutput();
  void SaveOutput();
  void CopyOutput();

  // ---- state, as the window sees it
  bool IsConnected() const { return Connected; }
  bool IsUploading() const { return Uploading; }
  bool IsUploaded() const { return Uploaded; }
  // Reports what the connected supply will play; null until a supply was connected.
  TRemotePreview* InstrumentPreview() const { return preview_; }
  bool IsRunning() const { return Running; }
  bool IsPaused() const { return Paused; }
  bool IsWaitingForTrigger() const { return WaitingForTrigger; }
  bool IsRefreshing() const { return Refreshing; }
  int32_t GetBurstCounter() const { return BurstCounter; }
  std::shared_ptr<IDevice> GetDevice() const { return Device; }
  const std::vector<std::shared_ptr<IDevice>>& GetFoundDevices() const { return FoundDevices; }
  std::shared_ptr<TWaveform> GetVoltageWaveform() const { return VoltageWaveform; }
  std::shared_ptr<TWaveform> GetCurrentWaveform() const { return CurrentWaveform; }
  QString StatusText(int panel) const;
  // The log, one entry per line.
  QStringList OutputLines() const;
  // The connected device's transport trace: time stamp, then "> " + sent or "< " + received.
  QStringList CommandLines() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  struct TNode {
    std::shared_ptr<TInterface> Interface;
    std::shared_ptr<IDevice> Device;
  };
  struct TLineRef {
    int Index = -1;
    int Generation = -1;
    QString Text;
  };

  void CreateActions();
  void CreateWidgets();
  void UpdateActions();
  void UpdateTriggerControls();
  void BuildWaveforms();
  void ProcessMessages();
  bool CanClose();
  void ClearForClose();

  // ---- log
  TLineRef AppendLine(const QString& text);
  void AppendErrorLine(const QString& message, const IDevice* device);
  void RewriteLine(const TLineRef& line, const QString& suffix);
  void SetStatus(const QString& text);
  void SetBurstText(const QString& text);
  QString BurstText() const;

  // ---- tree
  const TNode* NodeOf(const QTreeWidgetItem* item) const;
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& caption, int nodeIndex);
  bool IsSelectableDevice(const IDevice& device) const;
  void AddBusNode(const TFoundBus& bus);
  void OnTreeContextMenu(const QPoint& pos);
  void OnTreeDoubleClicked(QTreeWidgetItem* item);

  // ---- device events
  void BindHandlers(const std::shared_ptr<IDevice>& device);
  void UnbindHandlers(const std::shared_ptr<IDevice>& device);
  void OnUploadProgress(IDevice* sender, int32_t percent);
  void OnPlayProgress(IDevice* sender, int32_t percent);
  void OnBurst(IDevice* sender, int32_t count);
  void OnUploadDone(IDevice* sender);
  void OnError(IDevice* sender, const std::exception& e);
  void OnPlay(IDevice* sender);
  void OnStop(IDevice* sender);
  void OnTrigger(IDevice* sender);
  void OnDisconnect(IDevice* sender);

  // ---- window state
  std::shared_ptr<IDevice> Device;
  std::vector<std::shared_ptr<TInterface>> FoundScanners;
  std::vector<std::shared_ptr<IDevice>> FoundDevices;
  std::shared_ptr<TWaveform> VoltageWaveform;
  std::shared_ptr<TWaveform> CurrentWaveform;
  bool Connected = false;
  bool Uploading = false;
  bool Uploaded = false;
  bool UploadCancelled = false;
  bool Running = false;
  bool Paused = false;
  bool StopRequested = false;
  bool WaitingForTrigger = false;
  bool Refreshing = false;
  bool CloseCancelled = false;
  int32_t BurstCounter = 0;
  TLineRef UploadLine;
  bool MarqueeActive = false;
  QString TitleText;

  const SegmentTable* voltageTable_ = nullptr;
  const SegmentTable* currentTable_ = nullptr;
  std::vector<TScannerFactory> scanners_;
  std::shared_ptr<TRemoteDialogs> dialogs_;
  std::vector<TNode> nodes_;
  int lineCount_ = 0;
  int generation_ = 0;
  bool refreshQueued_ = false;
  bool inCommand_ = false;    // a command lets messages run: no other command meanwhile
  bool errorColour_ = false;  // the next appended line is an error line
  std::vector<std::weak_ptr<IDevice>> boundDevices_;
  TRemotePreview* preview_ = nullptr;
  std::unique_ptr<TDeviceSearch> search_;

  struct TActions {
    QAction *Refresh, *Connect, *Disconnect, *Upload, *Play, *Pause, *Stop, *GotoStart, *GotoEnd,
        *ClearOutput, *SaveOutput, *Copy, *AddInterface, *Configure;
  } actions_{};
  QToolBar* deviceToolbar_ = nullptr;
  QToolBar* playerToolbar_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QMenu* treeMenu_ = nullptr;
  QMenu* outputMenu_ = nullptr;
  QTextEdit* output_ = nullptr;
  TCommandsView* commands_ = nullptr;
  QToolButton* uploadButton_ = nullptr;
  QProgressBar* uploadProgress_ = nullptr;
  QCheckBox* outputEnable_ = nullptr;
  QCheckBox* triggerCheck_ = nullptr;
  QComboBox* triggerChannel_ = nullptr;
  QLabel* triggerLabel_ = nullptr;
  QComboBox* triggerEdge_ = nullptr;
  QLabel* labelBurst_ = nullptr;
  TBurstEdit* editBurst_ = nullptr;
  QToolButton *playButton_ = nullptr, *pauseButton_ = nullptr, *stopButton_ = nullptr,
              *gotoStartButton_ = nullptr, *gotoEndButton_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
  QLabel* statusPanel0_ = nullptr;
  QLabel* statusPanel1_ = nullptr;
  QProgressBar* playerProgress_ = nullptr;
};

}  // namespace ondrevo
