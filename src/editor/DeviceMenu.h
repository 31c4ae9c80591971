// The "&Device" menu's "&Select" and "&Interface" submenus and the target they choose: model,
// variant, DAQ, interface, the limits in effect and the point budget, kept in "Ondrevo.cfg".
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <vector>

#include "editor/DeviceLimits.h"

class QAction;
class QMenu;

namespace ondrevo {

class TDeviceMenu : public QObject {
  Q_OBJECT
 public:
  // Builds the submenus into `device`; `configFolder` holds "Ondrevo.cfg" (empty: none).
  TDeviceMenu(QMenu* device, QString configFolder, std::int32_t daqBudget, QObject* parent);

  void SelectDevice(int model, int variant);
  void ToggleDaq();
  void SelectInterface(InterfaceChoice choice);
  // False when there was no usable file (the defaults are in effect).
  bool LoadConfiguration();
  // Throws when the file cannot be written; nothing is written without the folder.
  void SaveConfiguration() const;
  // Applies the availability of the serial interfaces again (after a document is loaded).
  void ApplyInterfaceAvailability();

  const DeviceLimits& ActiveLimits() const { return active_; }
  const DeviceLimits& DeviceLimitsOfTarget() const { return device_; }
  std::int32_t PointBudget() const { return budget_; }
  std::int32_t DaqPointBudget() const { return daqBudget_; }
  bool DaqChecked() const;
  int Model() const { return model_; }
  int Variant() const { return variant_; }
  InterfaceChoice Interface() const { return interface_; }
  QAction* DaqAction() const { return daq_; }
  QString DeviceCaption() const { return deviceText_; }
  QString InterfaceCaption() const { return interfaceText_; }

 signals:
  // A device was selected or restored: axes, snap steps and spin limits follow.
  void deviceSelected();
  // Limits in effect or budget changed (also by DAQ).
  void limitsChanged();
  // Status panel 1 and 2 texts.
  void statusChanged();

 private:
  void CheckItems(int model, int variant);
  void OnDaqChanged();
  QString ConfigurationPath() const;

  QString folder_;
  DeviceLimits device_, active_;
  std::int32_t budget_ = kSupplyPointBudget;
  std::int32_t daqBudget_;
  int model_ = 15, variant_ = 0;
  bool serialAvailable_ = false;
  InterfaceChoice interface_ = InterfaceChoice::None;
  QString deviceText_, interfaceText_;
  QAction* daq_ = nullptr;
  std::vector<QAction*> modelActions_;
  std::vector<std::vector<QAction*>> variantActions_;
  std::array<QAction*, 4> interfaceActions_{};
};

}  // namespace ondrevo
