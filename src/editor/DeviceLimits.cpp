#include "editor/DeviceLimits.h"

#include <cmath>

#include "document/Numbers.h"

namespace ondrevo {

namespace {

const std::vector<const char*> kFamilyAVariantCaptions = {"16", "18", "20", "24", "32",
                                                          "40", "48", "64", "80", "100"};

// Rated current in amperes by model and variant; columns beyond a model's variants are 0.
constexpr double kRatedCurrent[kDeviceModelCount][kMaxDeviceVariants] = {
    {10, 9, 8, 7, 5, 4, 3.5, 2.5, 2, 1.6},
    {20, 18, 16, 14, 10, 8, 7, 5, 4, 3.2},
    {40, 36, 32, 28, 20, 16, 14, 10, 8, 6.4},
    {60, 54, 48, 42, 30, 24, 21, 15, 12, 10},
    {80, 72, 64, 56, 40, 32, 28, 20, 16, 13},
    {100, 90, 80, 60, 50, 40, 35, 25, 20, 16},
    {120, 110, 96, 84, 60, 48, 42, 30, 24, 19.5},
    {160, 145, 130, 110, 80, 64, 55, 40, 32, 26},
    {200, 180, 160, 135, 100, 80, 70, 50, 40, 32},
    {220, 200, 180, 150, 110, 90, 77, 55, 45, 36},
    {240, 215, 195, 165, 120, 96, 84, 60, 48, 39},
    {280, 250, 225, 190, 140, 115, 96, 70, 56, 45},
    {320, 285, 260, 215, 160, 130, 110, 80, 64, 52},
    {50, 50, 35, 25, 16, 10, 5, 0, 0, 0},
    {100, 65, 50, 25, 15, 7.5, 7.5, 0, 0, 0},
    {40, 20, 14, 10, 6, 0, 0, 0, 0, 0},
    {10, 7, 7, 5, 3, 0, 0, 0, 0, 0},
};

}  // namespace

const std::vector<DeviceModelInfo>& DeviceModels() {
  static const std::vector<DeviceModelInfo> models = [] {
    std::vector<DeviceModelInfo> m;
    for (const char* caption : {"5201", "5202", "5203", "5204", "5205", "5206", "5207", "5208",
                                "5209", "5210", "5211", "5212", "5213"}) {
      m.push_back({caption, kFamilyAVariantCaptions});
    }
    m.push_back({"6141", {"40", "44", "60", "80", "130", "200", "400"}});
    m.push_back({"6142", {"40", "60", "80", "130", "200", "400", "420"}});
    m.push_back({"7341", {"20", "40", "60", "80", "130"}});
    m.push_back({"7342", {"20", "40", "60", "80", "130"}});
    return m;
  }();
  return models;
}

int VariantCount(int model) {
  if (model < 0 || model >= kDeviceModelCount) return 0;
  return static_cast<int>(DeviceModels()[static_cast<std::size_t>(model)].Variants.size());
}

DeviceFamily EditorFamilyOfModel(std::string_view caption) {
  if (caption.find("73") != std::string_view::npos) return DeviceFamily::C;
  if (caption.find("614") != std::string_view::npos) return DeviceFamily::B;
  return DeviceFamily::A;
}

double RatedCurrent(int model, int variant) {
  if (model < 0 || model >= kDeviceModelCount || variant < 0 || variant >= kMaxDeviceVariants) {
    return 0.0;
  }
  return kRatedCurrent[model][variant];
}

double VoltageResolutionFor(DeviceFamily family, double u) {
  switch (family) {
    case DeviceFamily::B:
      return u < 60 ? 0.01 : u < 130 ? 0.02 : 0.1;
    case DeviceFamily::C:
      return u < 20 ? 0.005 : u < 80 ? 0.01 : 0.02;
    default:
      return u < 20 ? 0.001 : u < 40 ? 0.002 : u < 100 ? 0.005 : 0.01;
  }
}

double CurrentResolutionFor(DeviceFamily family, double i) {
  switch (family) {
    case DeviceFamily::B:
      return i < 7.5 ? 0.001 : i < 10 ? 0.002 : i < 65 ? 0.01 : i < 100 ? 0.02 : 0.05;
    case DeviceFamily::C:
      return i < 10 ? 0.001 : i < 20 ? 0.002 : 0.005;
    default:
      return i < 18 ? 0.001 : i < 48 ? 0.002 : i < 100 ? 0.005 : i < 200 ? 0.01 : 0.02;
  }
}

DeviceLimits LimitsForDevice(int model, int variant) {
  DeviceLimits limits;
  if (variant < 0 || variant >= VariantCount(model)) return limits;
  const DeviceModelInfo& info = DeviceModels()[static_cast<std::size_t>(model)];
  const DeviceFamily family = EditorFamilyOfModel(info.Caption);
  limits.MinDwellTime = family == DeviceFamily::A   ? 0.0002
                        : family == DeviceFamily::B ? 0.05
                                                    : 0.01;
  limits.MaxVoltage = ParseNumber(info.Variants[static_cast<std::size_t>(variant)]);
  limits.MaxCurrent = RatedCurrent(model, variant);
  limits.VoltageResolution = VoltageResolutionFor(family, limits.MaxVoltage);
  limits.CurrentResolution = CurrentResolutionFor(family, limits.MaxCurrent);
  return limits;
}

DeviceLimits WithDaqOverrides(DeviceLimits limits) {
  limits.VoltageResolution = 0.001;
  limits.CurrentResolution = 0.0001;
  limits.Reserved = 1000;
  limits.MinDwellTime = 0.000000001;
  return limits;
}

std::string DeviceText(int model, int variant) {
  if (variant < 0 || variant >= VariantCount(model)) return {};
  const DeviceModelInfo& info = DeviceModels()[static_cast<std::size_t>(model)];
  return std::string("KSV ") + info.Caption + "-" +
         info.Variants[static_cast<std::size_t>(variant)];
}

std::string FormatDeviceConfiguration(const DeviceConfiguration& c) {
  std::string out;
  auto line = [&out](const std::string& text) { out += text + "\n"; };
  line(std::to_string(c.Model));
  line(std::to_string(c.Variant));
  line(c.Daq ? "1" : "0");
  for (double v : {c.Limits.MaxVoltage, c.Limits.VoltageResolution, c.Limits.MaxCurrent,
                   c.Limits.CurrentResolution, c.Limits.Reserved, c.Limits.MinDwellTime}) {
    line(FormatGeneral(v));
  }
  line(c.SerialAvailable ? "1" : "0");
  line(std::to_string(static_cast<int>(c.Interface)));
  return out;
}

std::optional<DeviceConfiguration> ParseDeviceConfiguration(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty() && lines.size() < 11) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  if (lines.size() < 11) return std::nullopt;
  std::int64_t ints[5];
  const int intLines[5] = {0, 1, 2, 9, 10};
  for (int i = 0; i < 5; ++i) {
    if (!TryParseInteger(lines[static_cast<std::size_t>(intLines[i])], ints[i])) {
      return std::nullopt;
    }
  }
  double doubles[6];
  for (int i = 0; i < 6; ++i) {
    if (!TryParseNumber(lines[static_cast<std::size_t>(3 + i)], doubles[i])) return std::nullopt;
  }
  DeviceConfiguration c;
  if (ints[0] < 0 || ints[0] >= kDeviceModelCount) return std::nullopt;
  c.Model = static_cast<std::int32_t>(ints[0]);
  if (ints[1] < 0 || ints[1] >= VariantCount(c.Model)) return std::nullopt;
  c.Variant = static_cast<std::int32_t>(ints[1]);
  if (ints[2] != 0 && ints[2] != 1) return std::nullopt;
  c.Daq = ints[2] == 1;
  // Limits bound spin edits and snap steps: a zero or negative one would break editing.
  for (double d : doubles) {
    if (!(d > 0)) return std::nullopt;
  }
  c.Limits = {doubles[0], doubles[1], doubles[2], doubles[3], doubles[4], doubles[5]};
  if (ints[3] != 0 && ints[3] != 1) return std::nullopt;
  c.SerialAvailable = ints[3] == 1;
  if (ints[4] < 0 || ints[4] > 3) return std::nullopt;
  c.Interface = static_cast<InterfaceChoice>(ints[4]);
  return c;
}

}  // namespace ondrevo
