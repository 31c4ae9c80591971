#include "remote/RemoteDeviceTree.h"

#include "app/TrQ.h"
#include "devices/Interface.h"
#include "playback/DeviceSearch.h"
#include "transports/LanInterface.h"

namespace ondrevo {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

bool IsSelectableDevice(const IDevice& device) {
  return dynamic_cast<const IWaveformPlayer*>(&device) && !device.IsUnsupported();
}

}  // namespace

TDeviceTree::TDeviceTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("DeviceTreeView"));
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setExpandsOnDoubleClick(false);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setMinimumWidth(260);
}

const TDeviceTree::TNode* TDeviceTree::NodeOf(const QTreeWidgetItem* item) const {
  if (!item) return nullptr;
  bool ok = false;
  const int index = item->data(0, kNodeRole).toInt(&ok);
  if (!ok || index < 0 || index >= static_cast<int>(nodes_.size())) return nullptr;
  return &nodes_[static_cast<size_t>(index)];
}

QTreeWidgetItem* TDeviceTree::AddNode(QTreeWidgetItem* parent, const QString& caption,
                                      int nodeIndex) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  item->setText(0, caption);
  if (nodeIndex >= 0) item->setData(0, kNodeRole, nodeIndex);
  return item;
}

void TDeviceTree::AddBus(const TFoundBus& bus) {
  const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
  nodes_.push_back({bus.Bus, nullptr});
  QTreeWidgetItem* busNode =
      AddNode(nullptr, QString::fromStdString(bus.Bus->Name), static_cast<int>(nodes_.size() - 1));
  for (const auto& device : bus.Devices) {
    if (!device) continue;
    nodes_.push_back({nullptr, device});
    QString caption = QString::fromStdString(device->GetName());
    // One instrument can answer on two LAN addresses (raw socket and VXI-11): say which.
    if (auto remote = std::dynamic_pointer_cast<IRemoteControllable>(device))
      if (auto lan = std::dynamic_pointer_cast<TLanTransport>(remote->GetInterface()))
        caption +=
            QStringLiteral("  [") + QString::fromStdString(lan->Address.Text()) + QLatin1Char(']');
    QTreeWidgetItem* deviceNode = AddNode(busNode, caption, static_cast<int>(nodes_.size() - 1));
    std::vector<QTreeWidgetItem*> shown{deviceNode};
    if (auto output = std::dynamic_pointer_cast<IAnalogOutput>(device)) {
      const auto& inputs = output->GetConnectedInputs();
      if (inputs.size() > 1)
        for (size_t k = 0; k < inputs.size(); ++k)
          shown.push_back(AddNode(
              deviceNode,
              TrQ("Analog Out") + QLatin1Char(' ') + QString::number(static_cast<qulonglong>(k)),
              -1));
      deviceNode->setExpanded(true);
    }
    if (!IsSelectableDevice(*device))
      for (QTreeWidgetItem* node : shown) {
        node->setForeground(0, grey);
        node->setFlags(node->flags() & ~Qt::ItemIsSelectable);
      }
  }
  busNode->setExpanded(true);
}

void TDeviceTree::Clear() {
  clear();
  nodes_.clear();
}

bool TDeviceTree::SelectionConnectable() const {
  const QTreeWidgetItem* item = selectedItems().value(0);
  return item && item->childCount() == 0 && item->parent();
}

bool TDeviceTree::SelectionNeedsOutput() const {
  const QTreeWidgetItem* item = selectedItems().value(0);
  const TNode* node = NodeOf(item);
  return node && node->Device && item->childCount() > 0;
}

TDeviceTree::TChoice TDeviceTree::Selected() const {
  QTreeWidgetItem* item = selectedItems().value(0);
  TChoice choice;
  const TNode* node = NodeOf(item);
  // An output node carries no device: its parent does, and its position is the output.
  if (!node && item && item->parent()) {
    QTreeWidgetItem* parent = item->parent();
    choice.Channel = parent->indexOfChild(item);
    node = NodeOf(parent);
  }
  if (node) choice.Device = node->Device;
  return choice;
}

}  // namespace ondrevo
