// The message boxes and dialogs the remote window shows, behind one seam so that tests can
// answer them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/DeviceInterfaces.h"

class QWidget;

namespace ondrevo {

// What the device selection dialog is given and what it returns, when an analog output card's
// channel is connected to the device wired to it.
struct TDeviceSelection {
  std::string DeviceText;        // the card's model
  std::string OutputText;        // "Analog Out" + " " + channel index
  TAnalogInputArray Candidates;  // found devices taking a control signal, not unsupported
  std::shared_ptr<TWaveform> VoltageWaveform;
  std::shared_ptr<TWaveform> CurrentWaveform;
  // Results after OK.
  std::shared_ptr<IAnalogInput> SelectedInput;
  int32_t SelectedInputIndex = -1;
};

class TRemoteDialogs {
 public:
  virtual ~TRemoteDialogs() = default;
  // A message box captioned `caption`; returns the button chosen.
  virtual QMessageBox::StandardButton Message(QWidget* parent, QMessageBox::Icon icon,
                                              const QString& caption, const QString& text,
                                              QMessageBox::StandardButtons buttons);
  // Asks for a file to write, with overwrite confirmation; empty when cancelled.
  virtual QString GetSaveFileName(QWidget* parent, const QString& title, const QString& filter,
                                  const QString& defaultSuffix);
  // Shows the device selection dialog modally; false when cancelled.
  virtual bool SelectConnectedDevice(QWidget* parent, TDeviceSelection& selection);
};

}  // namespace ondrevo
