#include "devices/ModelTables.h"

#include <string>

namespace ondrevo {

namespace {

bool Contains(std::string_view model, std::string_view key) {
  return model.find(key) != std::string_view::npos;
}

struct BaseRow {
  const char* key;
  double minV, maxV, minI, maxI, factorV, factorI;
};

// Tried in this order: "3720-6" must come after "3720-60".
constexpr BaseRow kBaseRows[] = {
    {"3710-60", -60, 60, -2.5, 2.5, 6, 0.25},
    {"3710-40", -40, 40, -4, 4, 4, 0.4},
    {"3710-20", -20, 20, -7.5, 7.5, 2, 0.75},
    {"3710-10", -10, 10, -15, 15, 1, 1.5},
    {"3720-100", -100, 100, -3.2, 3.2, 10, 0.32},
    {"3720-80", -80, 80, -4, 4, 8, 0.4},
    {"3720-60", -60, 60, -5.33, 5.33, 6, 0.533},
    {"3720-40", -40, 40, -8, 8, 4, 0.8},
    {"3720-32", -32, 32, -10, 10, 3.2, 1},
    {"3720-20", -20, 20, -16, 16, 2, 1.6},
    {"3720-10", -10, 10, -30, 30, 1, 3},
    {"3720-6", -6, 6, -40, 40, 0.6, 4},
    {"4460-100", 0, 5, 0, 0, 1, 1},
    {"4460-50", 0, 5, 0, 0, 1, 1},
    {"4461-100", 0, 5, 0, 0, 1, 1},
    {"4461-50", 0, 5, 0, 0, 1, 1},
};

// Family A: rows 5201..5213, columns in the variant order of kFamilyAVariants.
constexpr double kFamilyAMaxCurrent[13][10] = {
    {1.6, 2, 2.5, 3.5, 4, 5, 7, 8, 9, 10},           {3.2, 4, 5, 7, 8, 10, 14, 16, 18, 20},
    {6.4, 8, 10, 14, 16, 20, 28, 32, 36, 40},        {10, 12, 15, 21, 24, 30, 42, 48, 54, 60},
    {13, 16, 20, 28, 32, 40, 56, 64, 72, 80},        {16, 20, 25, 35, 40, 50, 70, 80, 90, 100},
    {19.5, 24, 30, 42, 48, 60, 84, 96, 110, 120},    {26, 32, 40, 55, 64, 80, 110, 130, 145, 160},
    {32, 40, 50, 70, 80, 100, 135, 160, 180, 200},   {36, 45, 55, 77, 90, 110, 150, 180, 200, 220},
    {39, 48, 60, 84, 96, 120, 165, 195, 215, 240},   {45, 56, 70, 96, 115, 140, 190, 225, 250, 280},
    {52, 64, 80, 110, 130, 160, 215, 260, 285, 320},
};

constexpr double kFamilyACurrentResolution[13][10] = {
    {0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.001},
    {0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.001, 0.002, 0.002},
    {0.001, 0.001, 0.001, 0.001, 0.001, 0.002, 0.002, 0.002, 0.002, 0.002},
    {0.001, 0.001, 0.001, 0.002, 0.002, 0.002, 0.002, 0.002, 0.005, 0.005},
    {0.001, 0.001, 0.001, 0.002, 0.002, 0.002, 0.005, 0.005, 0.005, 0.005},
    {0.001, 0.001, 0.001, 0.002, 0.002, 0.005, 0.005, 0.005, 0.005, 0.01},
    {0.001, 0.002, 0.002, 0.002, 0.002, 0.005, 0.005, 0.005, 0.01, 0.01},
    {0.002, 0.002, 0.002, 0.005, 0.005, 0.005, 0.01, 0.01, 0.01, 0.01},
    {0.002, 0.002, 0.005, 0.005, 0.005, 0.01, 0.01, 0.01, 0.01, 0.02},
    {0.002, 0.002, 0.005, 0.005, 0.005, 0.01, 0.01, 0.01, 0.02, 0.02},
    {0.002, 0.002, 0.005, 0.005, 0.005, 0.01, 0.01, 0.01, 0.02, 0.02},
    {0.002, 0.005, 0.005, 0.005, 0.01, 0.01, 0.01, 0.02, 0.02, 0.02},
    {0.005, 0.005, 0.005, 0.01, 0.01, 0.01, 0.02, 0.02, 0.02, 0.02},
};

double FamilyAVoltageResolution(int variant) {
  if (variant == 100) return 0.01;
  if (variant >= 40) return 0.005;
  if (variant >= 20) return 0.002;
  return 0.001;
}

struct FamilyRow {
  const char* key;
  double maxV, maxI, resV, resI;
};

// "6141-40" after "6141-400", "6142-40" after "6142-400": each key contains the other.
constexpr FamilyRow kFamilyBRows[] = {
    {"6141-400", 400, 5, 0.1, 0.001},   {"6141-200", 200, 10, 0.1, 0.005},
    {"6141-130", 130, 16, 0.1, 0.01},   {"6141-80", 80, 25, 0.02, 0.01},
    {"6141-60", 60, 35, 0.02, 0.01},    {"6141-44", 44, 50, 0.01, 0.01},
    {"6141-40", 40, 50, 0.01, 0.01},    {"6142-420", 420, 7.5, 0.01, 0.002},
    {"6142-400", 400, 7.5, 0.1, 0.002}, {"6142-200", 200, 15, 0.1, 0.01},
    {"6142-130", 130, 25, 0.1, 0.01},   {"6142-80", 80, 50, 0.02, 0.01},
    {"6142-60", 60, 65, 0.02, 0.02},    {"6142-40", 40, 100, 0.01, 0.05},
};

struct FamilyCRow {
  const char* key;
  double maxV, maxI, resV, resI, factorV, factorI;
};

constexpr FamilyCRow kFamilyCRows[] = {
    {"7342-130", 130, 3, 0.02, 0.001, 26, 0.6}, {"7342-80", 80, 5, 0.02, 0.001, 16, 1},
    {"7342-60", 60, 7, 0.01, 0.001, 12, 1.4},   {"7342-40", 40, 10, 0.01, 0.002, 8, 2},
    {"7342-20", 20, 20, 0.005, 0.005, 4, 4},    {"7341-130", 130, 6, 0.02, 0.001, 26, 1.2},
    {"7341-80", 80, 10, 0.02, 0.002, 16, 2},    {"7341-60", 60, 14, 0.01, 0.002, 12, 2.8},
    {"7341-40", 40, 20, 0.01, 0.005, 8, 4},     {"7341-20", 20, 40, 0.005, 0.01, 4, 8},
};

}  // namespace

DeviceFamily FamilyForModel(std::string_view model) {
  if (Contains(model, "734")) return DeviceFamily::C;
  if (Contains(model, "614")) return DeviceFamily::B;
  if (!Contains(model, "52")) return DeviceFamily::None;
  return DeviceFamily::A;
}

ModelLimits BaseDeviceLimits(std::string_view model) {
  ModelLimits m;
  for (const BaseRow& row : kBaseRows) {
    if (!Contains(model, row.key)) continue;
    m.MinVoltage = row.minV;
    m.MaxVoltage = row.maxV;
    m.MinCurrent = row.minI;
    m.MaxCurrent = row.maxI;
    m.VoltageFactor = row.factorV;
    m.CurrentFactor = row.factorI;
    m.Unsupported = false;
    break;
  }
  return m;
}

ModelLimits FamilyALimits(std::string_view model) {
  ModelLimits m;
  for (int number = 13; number >= 1; --number) {
    for (int v = 0; v < 10; ++v) {
      const int variant = kFamilyAVariants[v];
      const std::string key = std::to_string(5200 + number) + "-" + std::to_string(variant);
      if (!Contains(model, key)) continue;
      m.MaxVoltage = variant;
      m.MaxCurrent = kFamilyAMaxCurrent[number - 1][v];
      m.VoltageResolution = FamilyAVoltageResolution(variant);
      m.CurrentResolution = kFamilyACurrentResolution[number - 1][v];
      m.VoltageFactor = m.MaxVoltage / 10.0;
      m.CurrentFactor = m.MaxCurrent / 10.0;
      m.Unsupported = false;
      return m;
    }
  }
  return m;
}

ModelLimits FamilyBLimits(std::string_view model) {
  ModelLimits m;
  for (const FamilyRow& row : kFamilyBRows) {
    if (!Contains(model, row.key)) continue;
    m.MaxVoltage = row.maxV;
    m.MaxCurrent = row.maxI;
    m.VoltageResolution = row.resV;
    m.CurrentResolution = row.resI;
    m.VoltageFactor = row.maxV / 10.0;
    m.CurrentFactor = row.maxI / 10.0;
    m.Unsupported = false;
    break;
  }
  return m;
}

ModelLimits FamilyCLimits(std::string_view model) {
  ModelLimits m;
  for (const FamilyCRow& row : kFamilyCRows) {
    if (!Contains(model, row.key)) continue;
    m.MaxVoltage = row.maxV;
    m.MaxCurrent = row.maxI;
    m.VoltageResolution = row.resV;
    m.CurrentResolution = row.resI;
    m.VoltageFactor = row.factorV;
    m.CurrentFactor = row.factorI;
    m.Unsupported = false;
    break;
  }
  return m;
}

ModelLimits LimitsForModel(std::string_view model) {
  switch (FamilyForModel(model)) {
    case DeviceFamily::A:
      return FamilyALimits(model);
    case DeviceFamily::B:
      return FamilyBLimits(model);
    case DeviceFamily::C:
      return FamilyCLimits(model);
    case DeviceFamily::None:
      break;
  }
  return BaseDeviceLimits(model);
}

FamilyConstants ConstantsForFamily(DeviceFamily family) {
  switch (family) {
    case DeviceFamily::A:
      return {0.0002, 100.0, 1000, 255, 255};
    case DeviceFamily::B:
      return {0.05, 100.0, 255, 255, 255};
    case DeviceFamily::C:
      return {0.01, 100.0, 1000, 509, 65535};
    case DeviceFamily::None:
      break;
  }
  return {};
}

std::string KnownSupplyModels() {
  std::string text = "KSV 5201..5213 ";
  for (int k = 0; k < 10; ++k) text += (k ? "/-" : "-") + std::to_string(kFamilyAVariants[k]);
  for (const FamilyRow& row : kFamilyBRows) text += std::string(", KSV ") + row.key;
  for (const FamilyCRow& row : kFamilyCRows) text += std::string(", KSV ") + row.key;
  return text;
}

std::int32_t OutputChannelCount(std::string_view model) {
  return FamilyForModel(model) == DeviceFamily::C && Contains(model, "7342") ? 2 : 1;
}

SupplyListSettings ListSettingsForModel(std::string_view model) {
  const ModelLimits limits = LimitsForModel(model);
  const FamilyConstants constants = ConstantsForFamily(FamilyForModel(model));
  SupplyListSettings s;
  s.MinVoltage = limits.MinVoltage;
  s.MaxVoltage = limits.MaxVoltage;
  s.VoltageResolution = limits.VoltageResolution;
  s.MinCurrent = limits.MinCurrent;
  s.MaxCurrent = limits.MaxCurrent;
  s.CurrentResolution = limits.CurrentResolution;
  s.MinDwellTime = constants.MinDwellTime;
  s.MaxDwellTime = constants.MaxDwellTime;
  s.MaxPoints = constants.MaxPoints;
  return s;
}

}  // namespace ondrevo
