// "Select connected device": which device input is wired to the card output being connected.
#pragma once

#include <QDialog>
#include <vector>

#include "interfaces/InputSelection.h"
#include "remote/RemoteDialogs.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace ondrevo {

class TSelectDeviceForm : public QDialog {
  Q_OBJECT
 public:
  // `dialogs` asks the limit question; `selection` receives the choice on OK.
  TSelectDeviceForm(QWidget* parent, TDeviceSelection& selection, TRemoteDialogs& dialogs);

  void accept() override;
  void done(int result) override;

 private:
  TDeviceSelection& selection_;
  TRemoteDialogs& dialogs_;
  std::vector<TInputEntry> entries_;
  QLabel* deviceLabel_;
  QLabel* channelLabel_;
  QComboBox* combo_;
  QPushButton* ok_;
};

}  // namespace ondrevo
