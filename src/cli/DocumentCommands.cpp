// info and normalize: the document reader and writer without the desktop program.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/Commands.h"
#include "document/DocumentIO.h"
#include "document/Durations.h"
#include "document/Numbers.h"
#include "model/Builder.h"

namespace ondrevo::cli {

namespace {

struct TableFacts {
  std::int32_t segments = 0;
  std::int32_t superposed = 0;
  double length = 0.0;
};

TableFacts FactsOf(const SegmentTable& t) {
  TableFacts f;
  f.segments = t.SegmentCount();
  f.length = t.Length();
  for (std::int32_t i = 0; i < f.segments; ++i)
    if (t.HasSuperposition(i)) ++f.superposed;
  return f;
}

nlohmann::json CurveJson(const SegmentTable& t) {
  TableFacts f = FactsOf(t);
  nlohmann::json j;
  j["segments"] = f.segments;
  j["points"] = f.segments > 0 ? f.segments + 1 : 0;
  j["length"] = f.length;
  j["superposed_segments"] = f.superposed;
  // What the waveform model makes of the curve.
  CurveFacts m = ComputeCurveFacts(t);
  j["duration"] = m.Duration;
  j["min"] = m.Min;
  j["max"] = m.Max;
  j["sample_rate"] = m.SampleRate;
  j["point_count"] = m.PointCount;
  return j;
}

std::string CurveLine(const char* name, const char* unit, const SegmentTable& t) {
  TableFacts f = FactsOf(t);
  std::string line = std::string(name) + ": ";
  if (f.segments == 0) return line + "empty";
  line += std::to_string(f.segments) + (f.segments == 1 ? " segment, " : " segments, ");
  line += std::to_string(f.segments + 1) + " points, length " + DurationText(f.length);
  line += ", " + std::to_string(f.superposed) + " superposed";
  CurveFacts m = ComputeCurveFacts(t);
  line += "; duration " + DurationText(m.Duration) + ", min " + FormatShortest(m.Min) + " " + unit +
          ", max " + FormatShortest(m.Max) + " " + unit + ", sample rate " +
          FormatShortest(m.SampleRate) + " S/s, " + std::to_string(m.PointCount) + " samples";
  return line;
}

}  // namespace

void RegisterDocumentCommands(CommandRegistry& registry) {
  auto path = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  CLI::App* info = registry.app.add_subcommand("info", "Describe a waveform document");
  info->add_option("DOC", *path, "Document (.ovx)")->required();
  info->add_flag("--json", *json, "Print JSON");
  registry.Add(info, [path, json]() {
    SegmentTable voltage, current;
    ReadDocumentFile(*path, voltage, current);
    if (*json) {
      nlohmann::json j;
      j["file"] = *path;
      j["voltage"] = CurveJson(voltage);
      j["current"] = CurveJson(current);
      std::cout << j.dump(2) << '\n';
    } else {
      std::cout << "file: " << *path << '\n'
                << CurveLine("voltage", "V", voltage) << '\n'
                << CurveLine("current", "A", current) << '\n';
    }
    return FlushStdout("the description");
  });

  auto in = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  CLI::App* normalize =
      registry.app.add_subcommand("normalize", "Read a document and write it as the program does");
  normalize->add_option("DOC", *in, "Document (.ovx)")->required();
  normalize->add_option("-o,--output", *out, "Output file (default: standard output)");
  registry.Add(normalize, [in, out]() {
    SegmentTable voltage, current;
    ReadDocumentFile(*in, voltage, current);
    if (out->empty()) {
      std::cout << FormatDocument(voltage, current);
      return FlushStdout("the document");
    }
    WriteDocument(*out, voltage, current);
    return 0;
  });
}

}  // namespace ondrevo::cli
