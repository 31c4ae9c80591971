#include "remote/SelectDeviceForm.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "app/TrQ.h"

namespace ondrevo {

TSelectDeviceForm::TSelectDeviceForm(QWidget* parent, TDeviceSelection& selection,
                                     TRemoteDialogs& dialogs)
    : QDialog(parent), selection_(selection), dialogs_(dialogs) {
  setObjectName(QStringLiteral("SelectDeviceForm"));
  setWindowTitle(TrQ("Select connected device"));
  auto* grid = new QGridLayout;
  deviceLabel_ = new QLabel(QString::fromStdString(selection.DeviceText));
  deviceLabel_->setObjectName(QStringLiteral("DeviceLabel"));
  channelLabel_ = new QLabel(QString::fromStdString(selection.OutputText));
  channelLabel_->setObjectName(QStringLiteral("ChannelLabel"));
  combo_ = new QComboBox;
  combo_->setObjectName(QStringLiteral("DeviceComboBox"));
  combo_->setMinimumContentsLength(36);
  grid->addWidget(new QLabel(TrQ("Device:")), 0, 0);
  grid->addWidget(deviceLabel_, 0, 1);
  grid->addWidget(new QLabel(TrQ("Output:")), 1, 0);
  grid->addWidget(channelLabel_, 1, 1);
  grid->addWidget(new QLabel(TrQ("Connected input:")), 2, 0);
  grid->addWidget(combo_, 2, 1);

  ok_ = new QPushButton(TrQ("&OK"));
  ok_->setObjectName(QStringLiteral("ButtonOk"));
  ok_->setDefault(true);
  auto* cancel = new QPushButton(TrQ("&Cancel"));
  cancel->setObjectName(QStringLiteral("ButtonCancel"));
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // fixed border

  entries_ = InputEntries(selection.Candidates);
  if (entries_.empty()) {
    ok_->setEnabled(false);
    combo_->addItem(TrQ("no compatible devices found"));
  } else {
    ok_->setEnabled(true);
    for (const auto& e : entries_)
      combo_->addItem(QString::fromStdString(e.Name) + QStringLiteral(", ") + TrQ(e.Kind));
  }
  combo_->setCurrentIndex(0);
}

void TSelectDeviceForm::accept() {
  const int index = combo_->currentIndex();
  if (index < 0 || index >= static_cast<int>(entries_.size())) return;
  const TInputEntry& entry = entries_[static_cast<size_t>(index)];
  selection_.SelectedInput = entry.Input;
  selection_.SelectedInputIndex = entry.Index;
  if (!WaveformsWithinLimits(*entry.Input, selection_.VoltageWaveform.get(),
                             selection_.CurrentWaveform.get())) {
    const auto answer =
        dialogs_.Message(this, QMessageBox::Warning, TrQ("Warning"),
                         TrQ("The waveform exceeds the device bounderies and will be clipped.") +
                             QLatin1Char('\n') + TrQ("Connect anyway?"),
                         QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
      selection_.SelectedInput.reset();
      selection_.SelectedInputIndex = -1;
      return;  // open for another choice
    }
  }
  QDialog::accept();
}

void TSelectDeviceForm::done(int result) {
  ok_->setEnabled(false);
  combo_->clear();
  selection_.Candidates.clear();
  entries_.clear();
  QDialog::done(result);
}

}  // namespace ondrevo
