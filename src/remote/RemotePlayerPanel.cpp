#include "remote/RemotePlayerPanel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QToolButton>
#include <string>

#include "app/TrQ.h"
#include "devices/DeviceInterfaces.h"
#include "remote/BurstEdit.h"

namespace ondrevo {

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

TPlayerPanel::TPlayerPanel(const TActions& actions, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PlayerPanel"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(12, 0, 0, 0);
  grid->setVerticalSpacing(10);

  uploadButton_ = new QToolButton(this);
  uploadButton_->setObjectName(QStringLiteral("UploadButton"));
  uploadButton_->setDefaultAction(actions.Upload);
  uploadButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  uploadButton_->setMinimumWidth(160);
  grid->addWidget(uploadButton_, 0, 0);

  // The progress bar and the output check box share one place.
  uploadProgress_ = new QProgressBar(this);
  uploadProgress_->setObjectName(QStringLiteral("UploadProgressBar"));
  uploadProgress_->setRange(0, 100);
  uploadProgress_->setValue(0);
  uploadProgress_->setVisible(false);
  outputEnable_ = new QCheckBox(TrQ("&Enable output after upload"), this);
  outputEnable_->setObjectName(QStringLiteral("OutputEnableCheckBox"));
  outputEnable_->setChecked(true);
  outputEnable_->setEnabled(false);
  grid->addWidget(uploadProgress_, 0, 1, 1, 3);
  grid->addWidget(outputEnable_, 0, 1, 1, 3);

  triggerCheck_ = new QCheckBox(TrQ("External &trigger on channel"), this);
  triggerCheck_->setObjectName(QStringLiteral("ExternalTriggerCheckBox"));
  triggerChannel_ = new QComboBox(this);
  triggerChannel_->setObjectName(QStringLiteral("ExternalTriggerChannelComboBox"));
  triggerChannel_->setMinimumWidth(90);
  triggerLabel_ = new QLabel(TrQ("on"), this);
  triggerLabel_->setObjectName(QStringLiteral("ExternalTriggerLabel"));
  triggerEdge_ = new QComboBox(this);
  triggerEdge_->setObjectName(QStringLiteral("ExternalTriggerEdgeComboBox"));
  triggerEdge_->setMinimumWidth(110);
  grid->addWidget(triggerCheck_, 1, 0);
  grid->addWidget(triggerChannel_, 1, 1);
  grid->addWidget(triggerLabel_, 1, 2);
  grid->addWidget(triggerEdge_, 1, 3);

  labelBurst_ = new QLabel(TrQ("Burst: "), this);
  labelBurst_->setObjectName(QStringLiteral("LabelBurst"));
  editBurst_ = new TBurstEdit(this);
  editBurst_->setObjectName(QStringLiteral("EditBurst"));
  labelBurst_->setBuddy(editBurst_);
  labelBurst_->setEnabled(false);
  editBurst_->setEnabled(false);
  grid->addWidget(labelBurst_, 2, 0, Qt::AlignRight);
  grid->addWidget(editBurst_, 2, 1);

  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(8);
  auto bigButton = [this](QAction* action, const char* name) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setDefaultAction(action);
    button->setIconSize(QSize(36, 36));
    button->setMinimumSize(QSize(56, 56));
    button->setAutoRaise(false);
    return button;
  };
  playButton_ = bigButton(actions.Play, "PlayButton");
  pauseButton_ = bigButton(actions.Pause, "PauseButton");
  stopButton_ = bigButton(actions.Stop, "StopButton");
  QToolButton* gotoStart = bigButton(actions.GotoStart, "GotoStartButton");
  QToolButton* gotoEnd = bigButton(actions.GotoEnd, "GotoEndButton");
  pauseButton_->setVisible(false);
  gotoStart->setVisible(false);
  gotoEnd->setVisible(false);
  buttons->addWidget(gotoStart);
  buttons->addWidget(playButton_);
  buttons->addWidget(pauseButton_);
  buttons->addWidget(stopButton_);
  buttons->addWidget(gotoEnd);
  buttons->addStretch(1);
  grid->addLayout(buttons, 3, 0, 1, 4);
  grid->setRowStretch(4, 1);
}

void TPlayerPanel::Apply(const TRemoteWidgets& widgets, ITriggerablePlayer* trigger) {
  labelBurst_->setEnabled(widgets.Burst);
  editBurst_->setEnabled(widgets.Burst);
  outputEnable_->setEnabled(widgets.OutputEnable);
  outputEnable_->setVisible(widgets.OutputEnableShown);
  uploadProgress_->setVisible(widgets.UploadProgressShown);
  playButton_->setVisible(!widgets.PauseShown);
  pauseButton_->setVisible(widgets.PauseShown);

  const bool available = widgets.Trigger && trigger;
  triggerCheck_->setEnabled(available);
  triggerLabel_->setEnabled(available);
  if (available && (triggerChannel_->count() == 0 || triggerEdge_->count() == 0))
    FillTriggerLists(*trigger);
  if (!trigger) {
    triggerChannel_->clear();
    triggerEdge_->clear();
  }
  triggerChannel_->setEnabled(available);
  triggerEdge_->setEnabled(available);
}

void TPlayerPanel::FillTriggerLists(ITriggerablePlayer& trigger) {
  triggerChannel_->clear();
  for (int32_t i = 0; i < trigger.GetTriggerChannelCount(); ++i) {
    std::string name;
    trigger.GetTriggerChannelName(i, name);
    triggerChannel_->addItem(QString::fromStdString(name));
  }
  triggerChannel_->setCurrentIndex(triggerChannel_->count() > 0 ? 0 : -1);
  triggerEdge_->clear();
  TTriggerTypes types;
  trigger.GetTriggerTypes(types);
  for (TTriggerType type : types) {
    if (type == TTriggerType::ttRisingEdge) triggerEdge_->addItem(TrQ("rising edge"));
    if (type == TTriggerType::ttFallingEdge) triggerEdge_->addItem(TrQ("falling edge"));
  }
  triggerEdge_->setCurrentIndex(triggerEdge_->count() > 0 ? 0 : -1);
}

void TPlayerPanel::StartMarquee() {
  uploadProgress_->setRange(0, 0);
}

bool TPlayerPanel::IsMarquee() const {
  return uploadProgress_->maximum() == 0;
}

void TPlayerPanel::SetUploadPercent(int percent) {
  uploadProgress_->setRange(0, 100);
  uploadProgress_->setValue(percent);
}

void TPlayerPanel::ResetUpload() {
  SetUploadPercent(0);
}

bool TPlayerPanel::OutputEnabledAfterUpload() const {
  return outputEnable_->isChecked();
}

bool TPlayerPanel::ExternalTrigger() const {
  return triggerCheck_->isChecked();
}

void TPlayerPanel::ClearExternalTrigger() {
  triggerCheck_->setChecked(false);
}

int TPlayerPanel::TriggerChannel() const {
  return triggerChannel_->currentIndex();
}

bool TPlayerPanel::TriggerOnFallingEdge() const {
  return triggerEdge_->currentIndex() != 0;
}

}  // namespace ondrevo
