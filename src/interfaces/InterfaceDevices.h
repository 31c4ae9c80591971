// Interface products that drive a supply from a control voltage (3710, 3720) or TTL levels (446x).
// They have no bus of their own: an analog output card is wired to them, and the scanners turn a
// list of owned products into device nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/Device.h"
#include "devices/Interface.h"

namespace ondrevo {

class TAnalogDevice : public TDevice, public IAnalogInput {
 public:
  TAnalogDevice(const std::string& model, const std::string& serialNumber);
  void SetCurrentInput(bool value, int32_t input) override;
  TAnalogOutputArray& GetConnectedOutputs() override { return ConnectedOutputs; }
  bool IsCurrentInput(int32_t input) const override;

 private:
  TAnalogOutputArray ConnectedOutputs{1};
  std::vector<bool> CurrentInputs{false};
};

class TTtlDevice : public TDevice, public IAnalogInput {
 public:
  TTtlDevice(const std::string& model, const std::string& serialNumber);
  // A TTL input always drives the voltage path.
  void SetCurrentInput(bool value, int32_t input) override {}
  TAnalogOutputArray& GetConnectedOutputs() override { return ConnectedOutputs; }
  bool IsCurrentInput(int32_t input) const override { return false; }

 private:
  TAnalogOutputArray ConnectedOutputs{1};
};

// One owned product: its text as printed on it ("KSV3720-40") and its serial number.
struct TInterfaceProduct {
  std::string Product;
  std::string SerialNumber;
};
using TInterfaceProductList = std::vector<TInterfaceProduct>;

// The products the scanners list. Until set, read once from the file named by
// ONDREVO_INTERFACE_PRODUCTS: one product per line, its text then its serial number.
void SetInterfaceProducts(TInterfaceProductList products);
TInterfaceProductList GetInterfaceProducts();
// Lines "PRODUCT SERIAL"; blank lines and '#' comments skipped.
TInterfaceProductList ParseInterfaceProducts(const std::string& text);

// "KSV3720-40" -> "KSV 3720-40": a blank right after a leading "KSV".
std::string InterfaceModelName(const std::string& product);

class TProductInterface : public TSilentInterface, public IDeviceScanner {};

class TAnalogInterface : public TProductInterface {
 public:
  TAnalogInterface() { Name = "Analog"; }
  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;
};

class TTtlInterface : public TProductInterface {
 public:
  TTtlInterface() { Name = "TTL"; }
  void GetInterfaces(TInterfaceList& interfaces) override;
  void GetDevices(TDeviceList& devices) override;
};

}  // namespace ondrevo
