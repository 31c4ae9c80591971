// ondrevo-cli check: every reason a document will not play as designed on a supply model.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "cli/Commands.h"
#include "devices/ModelTables.h"
#include "document/DocumentIO.h"
#include "document/Translate.h"
#include "playback/InstrumentPreview.h"

namespace ondrevo::cli {

SupplyListSettings SupplySettingsForModel(const std::string& model) {
  const DeviceFamily family = FamilyForModel(model);
  if (family == DeviceFamily::None)
    throw std::runtime_error("\"" + model + "\" " + _("is not a supply with a point memory"));
  if (LimitsForModel(model).Unsupported)
    throw std::runtime_error(_("Unsupported model") + std::string(" \"") + model + "\"");
  return ListSettingsForModel(model);
}

namespace {

nlohmann::json CurveJson(const CurvePreview& c) {
  nlohmann::json j;
  j["designed"] = c.Designed;
  j["resolution"] = c.Resolution;
  j["min"] = c.MinValue;
  j["max"] = c.MaxValue;
  if (c.Designed) {
    j["deviation"] = {{"max", c.MaxDeviation}, {"time", c.DeviationTime}};
    j["deviationTooLarge"] = c.MaxDeviation > 10 * c.Resolution + 1e-12;
  }
  j["clipping"] = nlohmann::json::array();
  for (const ClipFinding& f : c.Clipping)
    j["clipping"].push_back({{"segment", f.Segment + 1},
                             {"from", f.From},
                             {"to", f.To},
                             {"limit", f.Limit},
                             {"excess", f.Excess},
                             {"above", f.Above}});
  j["memory"] = nlohmann::json::array();
  for (const SuperpositionMemoryFinding& f : c.Memory)
    j["memory"].push_back({{"segment", f.Segment + 1},
                           {"superposition", f.Superposition},
                           {"needed", f.Needed},
                           {"message", _(f.Message)}});
  return j;
}

int RunCheck(const std::string& document, const std::string& model, bool json) {
  const SupplyListSettings settings = SupplySettingsForModel(model);
  SegmentTable voltage, current;
  ReadDocumentFile(document, voltage, current);
  const InstrumentPreview p = ComputeInstrumentPreview(voltage, current, settings);
  const std::vector<std::string> findings = PreviewFindings(p);
  std::string out;
  if (json) {
    nlohmann::json j;
    j["model"] = model;
    j["fits"] = p.Fits();
    j["points"] = p.PointCount();
    j["budget"] = p.Budget();
    j["voltage"] = CurveJson(p.Voltage);
    j["current"] = CurveJson(p.Current);
    j["missingCurrent"] = p.MissingCurrent();
    j["currentLimit"] = settings.MaxCurrent;
    j["summary"] = PreviewSummary(p);
    j["findings"] = findings;
    out = j.dump() + "\n";
  } else {
    out = model + ": " + PreviewSummary(p) + "\n";
    for (const std::string& line : findings) out += "  " + line + "\n";
    out += p.Fits() ? _("The document plays as designed on this model.")
                    : _("The document does not play as designed on this model.");
    out += "\n";
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
    return Fail("cannot write the findings");
  return p.Fits() ? 0 : 1;
}

}  // namespace

void RegisterCheckCommand(CommandRegistry& registry) {
  struct Options {
    std::string document, model;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = registry.app.add_subcommand(
      "check",
      "List every reason a document will not play as designed on a supply model "
      "(exit 1 when it does not fit)");
  sub->add_option("document", o->document, "The .ovx document")->required();
  sub->add_option("--model", o->model, "Instrument model, e.g. \"KSV 7341-20\"")->required();
  sub->add_flag("--json", o->json, "Print the findings as JSON");
  registry.Add(sub, [o]() { return RunCheck(o->document, o->model, o->json); });
}

}  // namespace ondrevo::cli
