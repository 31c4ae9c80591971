// The remote window's player controls: Upload with its progress bar and the output switch, the
// external trigger, the burst count and the large Play, Pause and Stop buttons. It shows what
// the window's state allows; it decides nothing itself.
#pragma once

#include <QIcon>
#include <QWidget>

#include "playback/RemoteSession.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QToolButton;

namespace ondrevo {

class ITriggerablePlayer;
class TBurstEdit;

enum class TMediaGlyph { Play, Pause, Stop };
// Large, clear transport glyphs; the style's own are too small for the big buttons.
QIcon MediaIcon(TMediaGlyph glyph);

class TPlayerPanel : public QWidget {
  Q_OBJECT
 public:
  struct TActions {
    QAction *Upload, *Play, *Pause, *Stop, *GotoStart, *GotoEnd;
  };
  TPlayerPanel(const TActions& actions, QWidget* parent);

  // trigger: the device's trigger, null when it has none (its lists are emptied then).
  void Apply(const TRemoteWidgets& widgets, ITriggerablePlayer* trigger);

  // The upload bar runs indeterminate from the start of an upload until its first report.
  void StartMarquee();
  bool IsMarquee() const;
  void SetUploadPercent(int percent);
  void ResetUpload();

  bool OutputEnabledAfterUpload() const;
  bool ExternalTrigger() const;
  void ClearExternalTrigger();
  int TriggerChannel() const;
  bool TriggerOnFallingEdge() const;
  TBurstEdit* Burst() const { return editBurst_; }

 private:
  void FillTriggerLists(ITriggerablePlayer& trigger);

  QToolButton* uploadButton_ = nullptr;
  QProgressBar* uploadProgress_ = nullptr;
  QCheckBox* outputEnable_ = nullptr;
  QCheckBox* triggerCheck_ = nullptr;
  QComboBox* triggerChannel_ = nullptr;
  QLabel* triggerLabel_ = nullptr;
  QComboBox* triggerEdge_ = nullptr;
  QLabel* labelBurst_ = nullptr;
  TBurstEdit* editBurst_ = nullptr;
  QToolButton *playButton_ = nullptr, *pauseButton_ = nullptr, *stopButton_ = nullptr;
};

}  // namespace ondrevo
