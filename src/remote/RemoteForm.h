// The remote-control window: finds instruments, connects to one, uploads the document's curves
// and plays them, reporting every step in its log and status bar. It drives devices only through
// their capability interfaces and learns about progress from the device events, which arrive on
// the GUI thread. Its state is one TRemoteSession; the widgets only show what that allows.
// RemoteForm.cpp builds the window and searches; RemoteConnect.cpp connects and disconnects;
// RemotePlayback.cpp uploads and plays.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceInterfaces.h"
#include "playback/DeviceSearch.h"
#include "playback/MeasuredRun.h"
#include "playback/PlayRun.h"
#include "playback/RemoteSession.h"
#include "remote/RemoteDialogs.h"
#include "remote/RemoteLog.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTabWidget;
class QTimer;

namespace ondrevo {

class SegmentTable;
class TCommandsView;
class TDeviceTree;
class TMeasurePanel;
class TPlayerPanel;
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
  // A simulated instrument whose trigger input the window fires ("Fire trigger", shown only
  // while such a device is connected). Simulated cards are known without one.
  struct TSimulatedTrigger {
    std::function<bool(const IDevice&)> Covers;
    std::function<void(IDevice&)> Fire;
  };
  void AddSimulatedTrigger(TSimulatedTrigger trigger);

  // The document's curves: the window builds its waveforms from these tables each time it is
  // shown. The tables must outlive the window's showing.
  void SetDocument(const SegmentTable* voltage, const SegmentTable* current);
  // The document's name as the record of a measured run gives it.
  void SetDocumentName(const QString& name) { documentName_ = name; }
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
  // Writes the measured run's record (CSV) and its HTML report beside it.
  void SaveRecord();
  // Fires the trigger input of the connected simulated instrument.
  void FireTrigger();

  // ---- state, as the window sees it
  TRemoteState State() const { return session_.State(); }
  bool IsConnected() const { return session_.IsConnected(); }
  bool IsUploading() const { return session_.IsUploading(); }
  bool IsUploaded() const { return session_.IsUploaded(); }
  // Reports what the connected supply will play; null until a supply was connected.
  TRemotePreview* InstrumentPreview() const { return preview_; }
  bool IsRunning() const { return session_.IsRunning(); }
  bool IsPaused() const { return session_.IsPaused(); }
  bool IsWaitingForTrigger() const { return session_.IsWaitingForTrigger(); }
  bool IsRefreshing() const { return session_.IsSearching(); }
  int32_t GetBurstCounter() const { return session_.BurstCounter(); }
  std::shared_ptr<IDevice> GetDevice() const { return Device; }
  const std::vector<std::shared_ptr<IDevice>>& GetFoundDevices() const { return FoundDevices; }
  std::shared_ptr<TWaveform> GetVoltageWaveform() const { return VoltageWaveform; }
  std::shared_ptr<TWaveform> GetCurrentWaveform() const { return CurrentWaveform; }
  QString StatusText(int panel) const;
  // The log, one entry per line.
  QStringList OutputLines() const;
  // The connected device's transport trace: time stamp, then "> " + sent or "< " + received.
  QStringList CommandLines() const;
  // The measurement tab; the run measured last (null before one was).
  TMeasurePanel* MeasurePanel() const { return measure_; }
  const TMeasuredRun* MeasuredRun() const { return measured_.get(); }
  // Bench meters heard on the buses at the last search.
  const std::vector<TMeterCandidate>& FoundMeters() const { return meters_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  void CreateActions();
  void CreateWidgets();
  // Shows what the state allows; called after every command step and device event.
  void ApplyState();
  void BuildWaveforms();
  void ProcessMessages();
  bool CanClose();
  void ClearForClose();
  // False when the user chose to stay connected after all.
  bool Disconnect();
  bool IsCurrent(const IDevice* sender) const { return Device && sender == Device.get(); }
  const TSimulatedTrigger* SimulatedTriggerOf(const IDevice* device) const;
  TMeasureOffer CurrentMeasureOffer() const;
  // Before the play command: sets up the chosen measurement (a failure is logged, the play
  // goes on without it).
  void PrepareMeasurement();
  // The supply started: readings count from now.
  void StartMeasurement();
  void EndMeasurement();
  void TakeReadings();

  void SetStatus(const QString& text);
  void SetBurstText(const QString& text);
  QString BurstText(int32_t burst) const;
  void AddBus(const TFoundBus& bus);
  void OnTreeContextMenu(const QPoint& pos);
  void OnSelectionChanged();

  // ---- device events, as the run passes them on
  TPlayRun::TEvents RunEvents();
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
  TRemoteSession session_;
  std::shared_ptr<IDevice> Device;
  std::vector<std::shared_ptr<TInterface>> FoundScanners;
  std::vector<std::shared_ptr<IDevice>> FoundDevices;
  std::shared_ptr<TWaveform> VoltageWaveform;
  std::shared_ptr<TWaveform> CurrentWaveform;
  TRemoteLog::TLine uploadLine_;

  QString documentName_;
  const SegmentTable* voltageTable_ = nullptr;
  const SegmentTable* currentTable_ = nullptr;
  std::vector<TScannerFactory> scanners_;
  std::shared_ptr<TRemoteDialogs> dialogs_;
  std::vector<TSimulatedTrigger> simulatedTriggers_;
  // The connected player's run: its steps from connect to release.
  std::unique_ptr<TPlayRun> run_;
  std::vector<TMeterCandidate> meters_;
  // Polls while the supply plays; declared after run_ so that it stops before the run goes.
  std::unique_ptr<TMeasuredRun> measured_;
  QTimer* measureTimer_ = nullptr;
  TMeasurePanel* measure_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  TRemotePreview* preview_ = nullptr;
  std::unique_ptr<TDeviceSearch> search_;
  QTimer* firstSearch_ = nullptr;  // the search that follows showing the window

  struct TActions {
    QAction *Refresh, *Connect, *Disconnect, *Upload, *Play, *Pause, *Stop, *GotoStart, *GotoEnd,
        *ClearOutput, *SaveOutput, *Copy, *AddInterface, *Configure, *FireTrigger, *SaveRecord;
  } actions_{};
  TDeviceTree* tree_ = nullptr;
  QMenu* treeMenu_ = nullptr;
  QMenu* outputMenu_ = nullptr;
  TRemoteLog* output_ = nullptr;
  TCommandsView* commands_ = nullptr;
  TPlayerPanel* player_ = nullptr;
  QLabel* statusPanel0_ = nullptr;
  QLabel* statusPanel1_ = nullptr;
  QProgressBar* playerProgress_ = nullptr;
};

// Simulated supplies on the serial devices at `serialPaths` and every GPIB device (the GPIB
// library is a stand-in then), whose trigger inputs `fire` fires together: the demo's.
TRemoteForm::TSimulatedTrigger SimulatedSupplies(std::vector<std::string> serialPaths,
                                                 std::function<void()> fire);

}  // namespace ondrevo
