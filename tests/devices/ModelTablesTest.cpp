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

// Every row of the plain, family-B and family-C tables, looked up by the full model name: a
// swapped or mistyped cell anywhere shows.
TEST(ModelTables, EveryRowOfEveryTable) {
  struct Row {
    const char* key;
    double minV, maxV, minI, maxI, resV, resI, factorV, factorI;
  };
  const Row plain[] = {
      {"3710-60", -60, 60, -2.5, 2.5, 0, 0, 6, 0.25},
      {"3710-40", -40, 40, -4, 4, 0, 0, 4, 0.4},
      {"3710-20", -20, 20, -7.5, 7.5, 0, 0, 2, 0.75},
      {"3710-10", -10, 10, -15, 15, 0, 0, 1, 1.5},
      {"3720-100", -100, 100, -3.2, 3.2, 0, 0, 10, 0.32},
      {"3720-80", -80, 80, -4, 4, 0, 0, 8, 0.4},
      {"3720-60", -60, 60, -5.33, 5.33, 0, 0, 6, 0.533},
      {"3720-40", -40, 40, -8, 8, 0, 0, 4, 0.8},
      {"3720-32", -32, 32, -10, 10, 0, 0, 3.2, 1},
      {"3720-20", -20, 20, -16, 16, 0, 0, 2, 1.6},
      {"3720-10", -10, 10, -30, 30, 0, 0, 1, 3},
      {"3720-6", -6, 6, -40, 40, 0, 0, 0.6, 4},
      {"4460-100", 0, 5, 0, 0, 0, 0, 1, 1},
      {"4460-50", 0, 5, 0, 0, 0, 0, 1, 1},
      {"4461-100", 0, 5, 0, 0, 0, 0, 1, 1},
      {"4461-50", 0, 5, 0, 0, 0, 0, 1, 1},
  };
  const Row familyB[] = {
      {"6141-400", 0, 400, 0, 5, 0.1, 0.001, 40, 0.5},
      {"6141-200", 0, 200, 0, 10, 0.1, 0.005, 20, 1},
      {"6141-130", 0, 130, 0, 16, 0.1, 0.01, 13, 1.6},
      {"6141-80", 0, 80, 0, 25, 0.02, 0.01, 8, 2.5},
      {"6141-60", 0, 60, 0, 35, 0.02, 0.01, 6, 3.5},
      {"6141-44", 0, 44, 0, 50, 0.01, 0.01, 4.4, 5},
      {"6141-40", 0, 40, 0, 50, 0.01, 0.01, 4, 5},
      {"6142-420", 0, 420, 0, 7.5, 0.01, 0.002, 42, 0.75},
      {"6142-400", 0, 400, 0, 7.5, 0.1, 0.002, 40, 0.75},
      {"6142-200", 0, 200, 0, 15, 0.1, 0.01, 20, 1.5},
      {"6142-130", 0, 130, 0, 25, 0.1, 0.01, 13, 2.5},
      {"6142-80", 0, 80, 0, 50, 0.02, 0.01, 8, 5},
      {"6142-60", 0, 60, 0, 65, 0.02, 0.02, 6, 6.5},
      {"6142-40", 0, 40, 0, 100, 0.01, 0.05, 4, 10},
  };
  const Row familyC[] = {
      {"7342-130", 0, 130, 0, 3, 0.02, 0.001, 26, 0.6},
      {"7342-80", 0, 80, 0, 5, 0.02, 0.001, 16, 1},
      {"7342-60", 0, 60, 0, 7, 0.01, 0.001, 12, 1.4},
      {"7342-40", 0, 40, 0, 10, 0.01, 0.002, 8, 2},
      {"7342-20", 0, 20, 0, 20, 0.005, 0.005, 4, 4},
      {"7341-130", 0, 130, 0, 6, 0.02, 0.001, 26, 1.2},
      {"7341-80", 0, 80, 0, 10, 0.02, 0.002, 16, 2},
      {"7341-60", 0, 60, 0, 14, 0.01, 0.002, 12, 2.8},
      {"7341-40", 0, 40, 0, 20, 0.01, 0.005, 8, 4},
      {"7341-20", 0, 20, 0, 40, 0.005, 0.01, 4, 8},
  };
  auto check = [](const Row& r) {
    const std::string model = std::string("KSV ") + r.key;
    const ModelLimits m = LimitsForModel(model);
    EXPECT_FALSE(m.Unsupported) << model;
    EXPECT_EQ(m.MinVoltage, r.minV) << model;
    EXPECT_EQ(m.MaxVoltage, r.maxV) << model;
    EXPECT_EQ(m.MinCurrent, r.minI) << model;
    EXPECT_EQ(m.MaxCurrent, r.maxI) << model;
    EXPECT_EQ(m.VoltageResolution, r.resV) << model;
    EXPECT_EQ(m.CurrentResolution, r.resI) << model;
    EXPECT_DOUBLE_EQ(m.VoltageFactor, r.factorV) << model;
    EXPECT_DOUBLE_EQ(m.CurrentFactor, r.factorI) << model;
  };
  for (const Row& r : plain) check(r);
  for (const Row& r : familyB) check(r);
  for (const Row& r : familyC) check(r);
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
