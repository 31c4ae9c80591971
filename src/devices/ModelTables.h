// Instrument model tables as data: which driver family a model string selects, and the limits,
// resolutions, control factors and memory constants that go with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/ListSampling.h"

namespace ondrevo {

enum class DeviceFamily { None, A, B, C };

// Substring rule of the driver choice: "734" -> C, else "614" -> B, else no "52" -> None
// (a plain device), else A.
DeviceFamily FamilyForModel(std::string_view model);

struct ModelLimits {
  double MinVoltage = 0.0;
  double MaxVoltage = 0.0;
  double MinCurrent = 0.0;
  double MaxCurrent = 0.0;
  double VoltageResolution = 0.0;
  double CurrentResolution = 0.0;
  double VoltageFactor = 1.0;
  double CurrentFactor = 1.0;
  bool Unsupported = true;
};

// The plain device table (analog supplies and interface products); resolutions are 0.
ModelLimits BaseDeviceLimits(std::string_view model);
// The family tables: first key (in the table's search order) that occurs in the model string;
// no match gives zero limits, factors 1 and Unsupported.
ModelLimits FamilyALimits(std::string_view model);
ModelLimits FamilyBLimits(std::string_view model);
ModelLimits FamilyCLimits(std::string_view model);
// The table of the model's family (the plain device table for DeviceFamily::None).
ModelLimits LimitsForModel(std::string_view model);

struct FamilyConstants {
  double MinDwellTime = 0.0;  // s
  double MaxDwellTime = 0.0;  // s
  std::int32_t MaxPoints = 0;
  std::int32_t MaxCommandLength = 0;
  std::int32_t MaxBurstCount = 0;
};
// All zero for DeviceFamily::None.
FamilyConstants ConstantsForFamily(DeviceFamily family);

// The models of the three supply families on one line, for messages that list what is known:
// "KSV 5201..5213 -100/-80/..., KSV 6141-400, ..., KSV 7341-20".
std::string KnownSupplyModels();

// Number of output channels of a model: 2 for a two-channel family-C model ("7342"), else 1.
std::int32_t OutputChannelCount(std::string_view model);

// Family-A search order: model numbers 5213 down to 5201, variants in this order.
inline constexpr int kFamilyAVariants[10] = {100, 80, 64, 48, 40, 32, 24, 20, 18, 16};

// What a supply of this model uploads with before it is connected: its table limits and its
// family's dwell times and point budget. MaxPoints is 0 for a model without a point memory.
SupplyListSettings ListSettingsForModel(std::string_view model);

}  // namespace ondrevo
