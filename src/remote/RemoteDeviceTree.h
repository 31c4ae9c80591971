// The remote window's device tree: buses at the top, their devices below, and one node per
// output below a device with several. What cannot play a waveform is grey and cannot be chosen.
#pragma once

#include <QTreeWidget>
#include <memory>
#include <vector>

#include "devices/DeviceInterfaces.h"

namespace ondrevo {

struct TFoundBus;
class TInterface;

class TDeviceTree : public QTreeWidget {
  Q_OBJECT
 public:
  // The device behind the selected node and, for one of its output nodes, that output.
  struct TChoice {
    std::shared_ptr<IDevice> Device;
    int Channel = -1;
  };

  explicit TDeviceTree(QWidget* parent = nullptr);

  void AddBus(const TFoundBus& bus);
  void Clear();
  bool HasSelection() const { return !selectedItems().isEmpty(); }
  // A leaf below a bus: a device without output nodes or one of the outputs.
  bool SelectionConnectable() const;
  // A device whose outputs are listed below it: one of them must be chosen.
  bool SelectionNeedsOutput() const;
  TChoice Selected() const;

 private:
  struct TNode {
    std::shared_ptr<TInterface> Interface;
    std::shared_ptr<IDevice> Device;
  };
  const TNode* NodeOf(const QTreeWidgetItem* item) const;
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& caption, int nodeIndex);

  std::vector<TNode> nodes_;
};

}  // namespace ondrevo
