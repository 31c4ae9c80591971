#include "interfaces/InterfaceDevices.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace ondrevo {

namespace {

std::mutex gProductsLock;
bool gProductsSet = false;
TInterfaceProductList gProducts;

bool Contains(const std::string& s, const char* key) {
  return s.find(key) != std::string::npos;
}

}  // namespace

TAnalogDevice::TAnalogDevice(const std::string& model, const std::string& serialNumber)
    : TDevice(model, serialNumber) {}

void TAnalogDevice::SetCurrentInput(bool value, int32_t input) {
  if (input >= 0 && input < static_cast<int32_t>(CurrentInputs.size()))
    CurrentInputs[static_cast<std::size_t>(input)] = value;
}

bool TAnalogDevice::IsCurrentInput(int32_t input) const {
  return input >= 0 && input < static_cast<int32_t>(CurrentInputs.size()) &&
         CurrentInputs[static_cast<std::size_t>(input)];
}

TTtlDevice::TTtlDevice(const std::string& model, const std::string& serialNumber)
    : TDevice(model, serialNumber) {}

TInterfaceProductList ParseInterfaceProducts(const std::string& text) {
  TInterfaceProductList out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    TInterfaceProduct p;
    if (!(words >> p.Product) || p.Product[0] == '#') continue;
    words >> p.SerialNumber;
    out.push_back(p);
  }
  return out;
}

void SetInterfaceProducts(TInterfaceProductList products) {
  std::lock_guard guard(gProductsLock);
  gProducts = std::move(products);
  gProductsSet = true;
}

TInterfaceProductList GetInterfaceProducts() {
  std::lock_guard guard(gProductsLock);
  if (!gProductsSet) {
    gProductsSet = true;
    if (const char* path = std::getenv("ONDREVO_INTERFACE_PRODUCTS")) {
      std::ifstream f(path);
      std::stringstream text;
      text << f.rdbuf();
      gProducts = ParseInterfaceProducts(text.str());
    }
  }
  return gProducts;
}

std::string InterfaceModelName(const std::string& product) {
  std::string model;
  for (char c : product) {
    model += c;
    if (model == "KSV") model += ' ';
  }
  return model;
}

void TAnalogInterface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.push_back(std::make_shared<TAnalogInterface>());
}

void TAnalogInterface::GetDevices(TDeviceList& devices) {
  devices.clear();
  for (const auto& p : GetInterfaceProducts())
    if (Contains(p.Product, "3720") || Contains(p.Product, "3710"))
      devices.push_back(
          std::make_shared<TAnalogDevice>(InterfaceModelName(p.Product), p.SerialNumber));
}

void TTtlInterface::GetInterfaces(TInterfaceList& interfaces) {
  interfaces.push_back(std::make_shared<TTtlInterface>());
}

void TTtlInterface::GetDevices(TDeviceList& devices) {
  devices.clear();
  for (const auto& p : GetInterfaceProducts())
    if (Contains(p.Product, "446"))
      devices.push_back(
          std::make_shared<TTtlDevice>(InterfaceModelName(p.Product), p.SerialNumber));
}

}  // namespace ondrevo
