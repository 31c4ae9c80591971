#include "editor/DeviceMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "document/AtomicFile.h"
#include "document/Translate.h"

namespace ondrevo {

namespace {
QString T(const char* english) {
  return QString::fromUtf8(_(english));
}
}  // namespace

TDeviceMenu::TDeviceMenu(QMenu* device, QString configFolder, std::int32_t daqBudget,
                         QObject* parent)
    : QObject(parent), folder_(std::move(configFolder)), daqBudget_(daqBudget) {
  QMenu* select = device->addMenu(T("&Select"));
  select->setObjectName(QStringLiteral("mnuSelect"));
  select->menuAction()->setStatusTip(T("Select the device in use"));
  auto* models = new QActionGroup(this);
  auto* variants = new QActionGroup(this);
  const auto& infos = DeviceModels();
  for (int m = 0; m < kDeviceModelCount; ++m) {
    const DeviceModelInfo& info = infos[static_cast<std::size_t>(m)];
    QMenu* sub = select->addMenu(QString::fromLatin1(info.Caption));
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
  select->addSeparator();
  daq_ = select->addAction(T("DAQ"));
  daq_->setObjectName(QStringLiteral("actDaq"));
  daq_->setCheckable(true);
  connect(daq_, &QAction::triggered, this, [this] { OnDaqChanged(); });
  CheckItems(model_, variant_);

  QMenu* interfaces = device->addMenu(T("&Interface"));
  interfaces->setObjectName(QStringLiteral("mnuInterface"));
  interfaces->menuAction()->setStatusTip(T("Select the interface to communicate with the device"));
  interfaces->menuAction()->setVisible(false);
  auto* group = new QActionGroup(this);
  const char* names[4] = {"None", "USB", "RS232", "GPIB"};
  for (int i = 0; i < 4; ++i) {
    QAction* a = interfaces->addAction(i == 0 ? T(names[i]) : QString::fromLatin1(names[i]));
    a->setObjectName(QStringLiteral("actInterface%1").arg(QLatin1String(names[i])));
    a->setCheckable(true);
    group->addAction(a);
    interfaceActions_[static_cast<std::size_t>(i)] = a;
    connect(a, &QAction::triggered, this,
            [this, i] { SelectInterface(static_cast<InterfaceChoice>(i)); });
  }
  interfaceActions_[0]->setChecked(true);
}

bool TDeviceMenu::DaqChecked() const {
  return daq_->isChecked();
}

void TDeviceMenu::CheckItems(int model, int variant) {
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

void TDeviceMenu::ApplyInterfaceAvailability() {
  interfaceActions_[1]->setEnabled(serialAvailable_);
  interfaceActions_[2]->setEnabled(serialAvailable_);
  if (!serialAvailable_ &&
      (interface_ == InterfaceChoice::Usb || interface_ == InterfaceChoice::Rs232)) {
    SelectInterface(InterfaceChoice::None);
  }
}

void TDeviceMenu::SelectDevice(int model, int variant) {
  if (model < 0 || model >= kDeviceModelCount || variant < 0 || variant >= VariantCount(model)) {
    return;
  }
  CheckItems(model, variant);
  deviceText_ = QString::fromStdString(DeviceText(model, variant));
  const DeviceFamily family =
      EditorFamilyOfModel(DeviceModels()[static_cast<std::size_t>(model)].Caption);
  serialAvailable_ = family == DeviceFamily::C;
  ApplyInterfaceAvailability();
  const double reserved = device_.Reserved;
  device_ = LimitsForDevice(model, variant);
  device_.Reserved = reserved;
  active_ = DaqChecked() ? WithDaqOverrides(device_) : device_;
  budget_ = DaqChecked() ? daqBudget_ : kSupplyPointBudget;
  emit statusChanged();
  emit limitsChanged();
  emit deviceSelected();
}

void TDeviceMenu::ToggleDaq() {
  daq_->trigger();
}

void TDeviceMenu::OnDaqChanged() {
  if (DaqChecked()) {
    active_ = WithDaqOverrides(active_);
    budget_ = daqBudget_;
  } else {
    active_.VoltageResolution = device_.VoltageResolution;
    active_.CurrentResolution = device_.CurrentResolution;
    active_.Reserved = device_.Reserved;
    active_.MinDwellTime = device_.MinDwellTime;
    budget_ = kSupplyPointBudget;
  }
  emit limitsChanged();
}

void TDeviceMenu::SelectInterface(InterfaceChoice choice) {
  interface_ = choice;
  interfaceActions_[static_cast<std::size_t>(choice)]->setChecked(true);
  static const char* names[4] = {"", "USB", "RS232", "GPIB"};
  interfaceText_ = QString::fromLatin1(names[static_cast<int>(choice)]);
  emit statusChanged();
}

QString TDeviceMenu::ConfigurationPath() const {
  if (folder_.isEmpty()) return {};
  return QDir(folder_).filePath(QStringLiteral("Ondrevo.cfg"));
}

bool TDeviceMenu::LoadConfiguration() {
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
    device_ = DeviceLimits{};
    active_ = DaqChecked() ? WithDaqOverrides(device_) : device_;
    emit limitsChanged();
    return false;
  }
  CheckItems(config->Model, config->Variant);
  daq_->setChecked(config->Daq);
  budget_ = config->Daq ? daqBudget_ : kSupplyPointBudget;
  deviceText_ = QString::fromStdString(DeviceText(config->Model, config->Variant));
  device_ = config->Limits;
  active_ = config->Daq ? WithDaqOverrides(device_) : device_;
  serialAvailable_ = config->SerialAvailable;
  interface_ = InterfaceChoice::None;
  SelectInterface(config->Interface);
  ApplyInterfaceAvailability();
  emit statusChanged();
  emit limitsChanged();
  return true;
}

void TDeviceMenu::SaveConfiguration() const {
  if (folder_.isEmpty() || !QDir(folder_).exists()) return;
  DeviceConfiguration c;
  c.Model = model_;
  c.Variant = variant_;
  c.Daq = DaqChecked();
  c.Limits = device_;
  c.SerialAvailable = serialAvailable_;
  c.Interface = interface_;
  WriteFileAtomically(ConfigurationPath().toStdString(), FormatDeviceConfiguration(c));
}

}  // namespace ondrevo
