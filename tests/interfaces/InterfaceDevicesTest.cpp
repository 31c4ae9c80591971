// Interface products: the device nodes the scanners make from the product list.
#include <gtest/gtest.h>

#include "interfaces/InterfaceDevices.h"

namespace ondrevo {
namespace {

TDeviceList Scan(IDeviceScanner& scanner, const char* products) {
  SetInterfaceProducts(ParseInterfaceProducts(products));
  TDeviceList devices;
  scanner.GetDevices(devices);
  return devices;
}

TEST(InterfaceProducts, EmptyListGivesBothNodesWithoutDevices) {
  TAnalogInterface analog;
  TTtlInterface ttl;
  TInterfaceList buses;
  analog.GetInterfaces(buses);
  ttl.GetInterfaces(buses);
  ASSERT_EQ(buses.size(), 2u);
  EXPECT_EQ(buses[0]->Name, "Analog");
  EXPECT_EQ(buses[1]->Name, "TTL");
  EXPECT_TRUE(Scan(analog, "").empty());
  EXPECT_TRUE(Scan(ttl, "").empty());
}

TEST(InterfaceProducts, AnalogProductsTakeTheirRowsByModel) {
  TAnalogInterface analog;
  const char* list =
      "KSV3720-6 11\n"
      "# comment\n"
      "KSV3720-60 12\n"
      "KSV4461-50 13\n"
      "KSV3710-99 14\n";
  auto devices = Scan(analog, list);
  ASSERT_EQ(devices.size(), 3u) << "the TTL product is not an analog one";
  EXPECT_EQ(devices[0]->GetModel(), "KSV 3720-6");
  EXPECT_EQ(devices[0]->GetSerialNumber(), "11");
  EXPECT_EQ(devices[0]->GetMaxVoltage(), 6.0);
  EXPECT_EQ(devices[0]->GetMinCurrent(), -40.0);
  EXPECT_EQ(devices[0]->GetMaxCurrent(), 40.0);
  EXPECT_EQ(devices[1]->GetModel(), "KSV 3720-60");
  EXPECT_EQ(devices[1]->GetMaxVoltage(), 60.0) << "not the 3720-6 row";
  EXPECT_EQ(devices[1]->GetVoltageFactor(), 6.0);
  EXPECT_FALSE(devices[1]->IsUnsupported());
  EXPECT_TRUE(devices[2]->IsUnsupported()) << "3710 without a table row";

  auto input = std::dynamic_pointer_cast<IAnalogInput>(devices[0]);
  ASSERT_TRUE(input);
  EXPECT_EQ(input->GetConnectedOutputs().size(), 1u);
  EXPECT_FALSE(input->IsCurrentInput(0));
  input->SetCurrentInput(true, 0);
  EXPECT_TRUE(input->IsCurrentInput(0));
  input->SetCurrentInput(true, 3);  // no such input: ignored
  EXPECT_FALSE(input->IsCurrentInput(3));
}

TEST(InterfaceProducts, TtlProductsAlwaysDriveTheVoltagePath) {
  TTtlInterface ttl;
  auto devices = Scan(ttl, "KSV4460-100 1\nKSV3720-40 2\nKSV4461-50 3\n");
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0]->GetModel(), "KSV 4460-100");
  EXPECT_EQ(devices[1]->GetMaxVoltage(), 5.0);
  auto input = std::dynamic_pointer_cast<IAnalogInput>(devices[1]);
  input->SetCurrentInput(true, 0);
  EXPECT_FALSE(input->IsCurrentInput(0));
}

TEST(InterfaceProducts, ModelNameGetsOneBlankAfterTheMaker) {
  EXPECT_EQ(InterfaceModelName("KSV3720-40"), "KSV 3720-40");
  EXPECT_EQ(InterfaceModelName("3720-40"), "3720-40");
}

}  // namespace
}  // namespace ondrevo
