// ondrevo-cli sample: the point list a supply driver would upload for a document.
#include <cstdio>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "devices/ModelTables.h"
#include "document/DocumentIO.h"
#include "document/Numbers.h"
#include "model/Builder.h"
#include "model/ListSampling.h"
#include "model/Samplers.h"
#include "playback/InstrumentPreview.h"

namespace ondrevo::cli {

namespace {

struct SampleOptions {
  std::string document;
  std::string model;
  std::string maxPoints, minDwell, maxDwell;
  std::string vmin, vmax, vres, imin, imax, ires;
  bool json = false;
};

// Numbers on the command line are read like numbers in files: "." whatever the locale.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::optional<double> Number(const std::string& text, const char* option) {
  if (text.empty()) return std::nullopt;
  double x = 0;
  if (!TryParseNumber(text, x)) throw EUsage(std::string(option) + ": not a number: " + text);
  return x;
}

std::string Join(const TDoubleVector& v) {
  std::string s;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i) s += ',';
    s += FormatShortest(v[i]);
  }
  return s;
}

int Run(const SampleOptions& o) {
  const DeviceFamily family = FamilyForModel(o.model);
  ModelLimits limits = LimitsForModel(o.model);
  const FamilyConstants constants = ConstantsForFamily(family);

  auto maxPoints = Number(o.maxPoints, "--max-points");
  auto minDwell = Number(o.minDwell, "--min-dwell");
  auto maxDwell = Number(o.maxDwell, "--max-dwell");
  const std::optional<double> overrides[6] = {Number(o.vmin, "--vmin"), Number(o.vmax, "--vmax"),
                                              Number(o.vres, "--vres"), Number(o.imin, "--imin"),
                                              Number(o.imax, "--imax"), Number(o.ires, "--ires")};
  double* fields[6] = {&limits.MinVoltage, &limits.MaxVoltage, &limits.VoltageResolution,
                       &limits.MinCurrent, &limits.MaxCurrent, &limits.CurrentResolution};
  bool allLimits = true;
  for (int i = 0; i < 6; ++i) {
    if (overrides[i])
      *fields[i] = *overrides[i];
    else
      allLimits = false;
  }
  if (family == DeviceFamily::None && !(maxPoints && minDwell && maxDwell))
    return Fail("\"" + o.model +
                "\" is not a supply with a point memory; known models: " + KnownSupplyModels());
  if (family != DeviceFamily::None && limits.Unsupported && !allLimits)
    return Fail("Unsupported model \"" + o.model + "\"; known models: " + KnownSupplyModels());
  if (maxPoints &&
      (*maxPoints < 1 || *maxPoints > 10000000 || *maxPoints != static_cast<int>(*maxPoints)))
    throw EUsage("--max-points: a whole number from 1 to 10000000 is required");

  SupplyListSettings settings;
  settings.MinVoltage = limits.MinVoltage;
  settings.MaxVoltage = limits.MaxVoltage;
  settings.VoltageResolution = limits.VoltageResolution;
  settings.MinCurrent = limits.MinCurrent;
  settings.MaxCurrent = limits.MaxCurrent;
  settings.CurrentResolution = limits.CurrentResolution;
  settings.MinDwellTime = minDwell.value_or(constants.MinDwellTime);
  settings.MaxDwellTime = maxDwell.value_or(constants.MaxDwellTime);
  settings.MaxPoints = maxPoints ? static_cast<std::int32_t>(*maxPoints) : constants.MaxPoints;

  SegmentTable voltageTable, currentTable;
  ReadDocumentFile(o.document, voltageTable, currentTable);
  // JSON adds the deviation, which the preview computes on the very same list.
  InstrumentPreview preview;
  if (o.json) {
    preview = ComputeInstrumentPreview(voltageTable, currentTable, settings);
  } else {
    auto voltage = BuildWaveform(voltageTable);
    auto current = BuildWaveform(currentTable);
    TCountSampler sampler;
    SupplyPointList list = SampleSupplyList(settings, *voltage, *current, sampler);
    preview.Durations = std::move(list.Durations);
    preview.Values = std::move(list.Values);
  }
  const TDoubleVector& durations = preview.Durations;
  const TDoubleMatrix& values = preview.Values;

  std::string out;
  if (o.json) {
    auto deviation = [](const CurvePreview& c) -> std::string {
      if (!c.Designed) return "null";
      return "{\"max\":" + FormatShortest(c.MaxDeviation) +
             ",\"time\":" + FormatShortest(c.DeviationTime) + "}";
    };
    out = "{\"durations\":[" + Join(durations) + "],\"voltage\":[" + Join(values[0]) +
          "],\"current\":[" + Join(values[1]) +
          "],\"points\":" + std::to_string(preview.PointCount()) +
          ",\"budget\":" + std::to_string(settings.MaxPoints) +
          ",\"deviation\":{\"voltage\":" + deviation(preview.Voltage) +
          ",\"current\":" + deviation(preview.Current) + "}}\n";
  } else {
    out.reserve(durations.size() * 24);
    for (std::size_t j = 0; j < durations.size(); ++j) {
      out += FormatShortest(durations[j]);
      out += ',';
      out += FormatShortest(values[0][j]);
      out += ',';
      out += FormatShortest(values[1][j]);
      out += '\n';
    }
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
    return Fail("cannot write the point list");
  return 0;
}

}  // namespace

void RegisterSampleCommand(CommandRegistry& registry) {
  auto opts = std::make_shared<SampleOptions>();
  CLI::App* sub = registry.app.add_subcommand(
      "sample", "Sample a document into the point list a supply model's driver uploads");
  sub->add_option("document", opts->document, "The .ovx document")->required();
  sub->add_option("--model", opts->model, "Instrument model, e.g. \"KSV 7341-20\"")->required();
  sub->add_option("--max-points", opts->maxPoints, "Largest number of points");
  sub->add_option("--min-dwell", opts->minDwell, "Shortest dwell time of a point, s");
  sub->add_option("--max-dwell", opts->maxDwell, "Longest dwell time of a point, s");
  sub->add_option("--vmin", opts->vmin, "Lowest voltage, V");
  sub->add_option("--vmax", opts->vmax, "Highest voltage, V");
  sub->add_option("--vres", opts->vres, "Voltage resolution, V");
  sub->add_option("--imin", opts->imin, "Lowest current, A");
  sub->add_option("--imax", opts->imax, "Highest current, A");
  sub->add_option("--ires", opts->ires, "Current resolution, A");
  sub->add_flag("--json", opts->json,
                "Print {\"durations\":[...],\"voltage\":[...],\"current\":[...],\"points\":N,"
                "\"budget\":N,\"deviation\":{\"voltage\":{\"max\":V,\"time\":S},\"current\":...}}");
  registry.Add(sub, [opts]() -> int {
    try {
      return Run(*opts);
    } catch (const EUsage& e) {
      std::fprintf(stderr, "ondrevo-cli: %s\n", e.what());
      return 2;
    }
  });
}

}  // namespace ondrevo::cli
