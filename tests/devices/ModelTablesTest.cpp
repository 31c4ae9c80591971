#include <gtest/gtest.h>

#include <string>

#include "devices/ModelTables.h"

namespace ondrevo {
namespace {

TEST(ModelTables, FamilyBySubstringInOrder) {
  EXPECT_EQ(FamilyForModel("KSV 7342-80"), DeviceFamily::C);
  EXPECT_EQ(FamilyForModel("KSV 6142-40"), DeviceFamily::B);
  EXPECT_EQ(FamilyForModel("KSV 5206-40"), DeviceFamily::A);
  EXPECT_EQ(FamilyForModel("KSV 3720-6"), DeviceFamily::None);
  EXPECT_EQ(FamilyForModel("6141-52"), DeviceFamily::B);  // the family-B test comes first
  EXPECT_EQ(FamilyForModel("7345-52 614"), DeviceFamily::C);
  EXPECT_EQ(FamilyForModel("X52"), DeviceFamily::A);  // unsupported, but family A
  EXPECT_EQ(FamilyForModel(""), DeviceFamily::None);
}

TEST(ModelTables, PlainDeviceTable) {
  ModelLimits m = BaseDeviceLimits("KSV 3720-6");
  EXPECT_FALSE(m.Unsupported);
  EXPECT_EQ(m.MaxVoltage, 6);
  EXPECT_EQ(m.MinCurrent, -40);
  EXPECT_EQ(m.VoltageFactor, 0.6);
  m = BaseDeviceLimits("KSV 3720-60");
  EXPECT_EQ(m.MaxVoltage, 60);
  EXPECT_EQ(m.MaxCurrent, 5.33);
  EXPECT_EQ(m.CurrentFactor, 0.533);
  m = BaseDeviceLimits("KSV 4461-50");
  EXPECT_EQ(m.MaxVoltage, 5);
  EXPECT_EQ(m.MaxCurrent, 0);
  m = BaseDeviceLimits("KSV 9999");
  EXPECT_TRUE(m.Unsupported);
  EXPECT_EQ(m.MaxVoltage, 0);
  EXPECT_EQ(m.VoltageFactor, 1);
  EXPECT_EQ(m.CurrentFactor, 1);
  EXPECT_EQ(LimitsForModel("KSV 3710-20").MaxCurrent, 7.5);
}

TEST(ModelTables, FamilyAAllKeys) {
  ModelLimits m = FamilyALimits("KSV 5206-40");
  EXPECT_FALSE(m.Unsupported);
  EXPECT_EQ(m.MaxCurrent, 40);
  EXPECT_EQ(m.CurrentResolution, 0.002);
  EXPECT_EQ(m.VoltageResolution, 0.005);
  EXPECT_EQ(m.VoltageFactor, 4);
  EXPECT_EQ(m.CurrentFactor, 4);
  // Every one of the 130 keys is found, with the table's corners right.
  int found = 0;
  for (int number = 5201; number <= 5213; ++number)
    for (int variant : kFamilyAVariants) {
      const std::string model = "KSV " + std::to_string(number) + "-" + std::to_string(variant);
      const ModelLimits l = FamilyALimits(model);
      if (!l.Unsupported && l.MaxVoltage == variant && l.MaxCurrent > 0) ++found;
      EXPECT_EQ(l.MinVoltage, 0);
      EXPECT_EQ(l.VoltageFactor, variant / 10.0) << model;
    }
  EXPECT_EQ(found, 130);
  EXPECT_EQ(FamilyALimits("5201-100").MaxCurrent, 1.6);
  EXPECT_EQ(FamilyALimits("5213-16").MaxCurrent, 320);
  EXPECT_EQ(FamilyALimits("5213-16").CurrentResolution, 0.02);
  EXPECT_EQ(FamilyALimits("5207-18").MaxCurrent, 110);
  EXPECT_EQ(FamilyALimits("5201-16").VoltageResolution, 0.001);
  EXPECT_EQ(FamilyALimits("5201-24").VoltageResolution, 0.002);
  EXPECT_EQ(FamilyALimits("5201-100").VoltageResolution, 0.01);
  // Search order: higher model numbers first, then the variant order.
  EXPECT_EQ(FamilyALimits("5201-80 5213-16").MaxCurrent, 320);
  EXPECT_EQ(FamilyALimits("5205-16 5205-100").MaxVoltage, 100);
  m = FamilyALimits("KSV 5214-40");
  EXPECT_TRUE(m.Unsupported);
  EXPECT_EQ(m.CurrentFactor, 1);
}

TEST(ModelTables, FamilyBAndCContainedKeys) {
  EXPECT_EQ(FamilyBLimits("KSV 6141-400").MaxVoltage, 400);
  EXPECT_EQ(FamilyBLimits("KSV 6141-40").MaxVoltage, 40);
  EXPECT_EQ(FamilyBLimits("KSV 6142-400").CurrentResolution, 0.002);
  EXPECT_EQ(FamilyBLimits("KSV 6142-420").VoltageResolution, 0.01);
  EXPECT_EQ(FamilyBLimits("KSV 6142-40").MaxCurrent, 100);
  EXPECT_EQ(FamilyBLimits("KSV 6142-40").CurrentFactor, 10);
  EXPECT_TRUE(FamilyBLimits("KSV 6143-40").Unsupported);

  ModelLimits m = FamilyCLimits("KSV 7342-130");
  EXPECT_EQ(m.MaxCurrent, 3);
  EXPECT_EQ(m.VoltageFactor, 26);
  EXPECT_EQ(m.CurrentFactor, 0.6);
  EXPECT_EQ(FamilyCLimits("KSV 7341-20").CurrentResolution, 0.01);
  EXPECT_EQ(LimitsForModel("KSV 7341-20").MaxCurrent, 40);
  EXPECT_TRUE(LimitsForModel("KSV 7341-99").Unsupported);
  EXPECT_EQ(OutputChannelCount("KSV 7342-40"), 2);
  EXPECT_EQ(OutputChannelCount("KSV 7341-40"), 1);
}

TEST(ModelTables, FamilyConstants) {
  const FamilyConstants a = ConstantsForFamily(DeviceFamily::A);
  EXPECT_EQ(a.MinDwellTime, 0.0002);
  EXPECT_EQ(a.MaxPoints, 1000);
  EXPECT_EQ(a.MaxCommandLength, 255);
  EXPECT_EQ(ConstantsForFamily(DeviceFamily::B).MinDwellTime, 0.05);
  EXPECT_EQ(ConstantsForFamily(DeviceFamily::B).MaxPoints, 255);
  EXPECT_EQ(ConstantsForFamily(DeviceFamily::C).MaxCommandLength, 509);
  EXPECT_EQ(ConstantsForFamily(DeviceFamily::C).MaxBurstCount, 65535);
  EXPECT_EQ(ConstantsForFamily(DeviceFamily::None).MaxPoints, 0);
}

}  // namespace
}  // namespace ondrevo
