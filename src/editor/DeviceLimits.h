// Editing limits of the target device chosen in the editor's device menu, and the small
// configuration file that keeps the choice between runs. Pure data and functions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/ModelTables.h"

namespace ondrevo {

struct DeviceLimits {
  double MaxVoltage = 20.0;
  double VoltageResolution = 0.001;
  double MaxCurrent = 40.0;
  double CurrentResolution = 0.002;
  double Reserved = 100.0;
  double MinDwellTime = 0.01;

  bool operator==(const DeviceLimits&) const = default;
};

inline constexpr int kDeviceModelCount = 17;
inline constexpr int kMaxDeviceVariants = 10;
inline constexpr std::int32_t kSupplyPointBudget = 1000;
inline constexpr std::int32_t kDefaultDaqPointBudget = 12000;

struct DeviceModelInfo {
  const char* Caption;                // "5201"
  std::vector<const char*> Variants;  // voltage captions, "16", "18", ...
};

// The 17 models of the device menu, in menu order.
const std::vector<DeviceModelInfo>& DeviceModels();
int VariantCount(int model);

// Family by the editor's caption rule: "73" -> C, else "614" -> B, else A.
DeviceFamily EditorFamilyOfModel(std::string_view caption);

// Rated current of variant v of model m; 0 outside the table.
double RatedCurrent(int model, int variant);

// Limits of the device itself (no DAQ overrides): rating tables, resolutions by family,
// minimum dwell time by family. Reserved keeps its default.
DeviceLimits LimitsForDevice(int model, int variant);
double VoltageResolutionFor(DeviceFamily family, double maxVoltage);
double CurrentResolutionFor(DeviceFamily family, double maxCurrent);

// The limits in effect while a DAQ card is the output path.
DeviceLimits WithDaqOverrides(DeviceLimits limits);

// "KSV 5203-32"
std::string DeviceText(int model, int variant);

enum class InterfaceChoice : std::int32_t { None = 0, Usb = 1, Rs232 = 2, Gpib = 3 };

struct DeviceConfiguration {
  std::int32_t Model = 15;   // "7341"
  std::int32_t Variant = 0;  // "20"
  bool Daq = false;
  DeviceLimits Limits;
  bool SerialAvailable = false;
  InterfaceChoice Interface = InterfaceChoice::None;

  bool operator==(const DeviceConfiguration&) const = default;
};

// Eleven lines, "." as separator, shortest exact doubles, each line ended by "\n".
std::string FormatDeviceConfiguration(const DeviceConfiguration& config);
// Nothing when a line is missing, not a number, or out of range (the caller takes defaults).
std::optional<DeviceConfiguration> ParseDeviceConfiguration(std::string_view text);

}  // namespace ondrevo
