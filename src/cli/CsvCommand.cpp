// import-csv: a measured trace turned into a document's voltage curve, without the desktop program.
#include <iostream>
#include <memory>
#include <string>

#include "cli/Commands.h"
#include "document/CsvImport.h"
#include "document/DocumentIO.h"
#include "document/Text.h"

namespace ondrevo::cli {

void RegisterCsvCommand(CommandRegistry& registry) {
  struct Options {
    std::string trace, out;
    bool offset = false;
    std::int32_t budget = 1000;  // a power supply's point budget
  };
  auto o = std::make_shared<Options>();
  CLI::App* cmd =
      registry.app.add_subcommand("import-csv", "Turn a CSV trace into a document's voltage curve");
  cmd->add_option("TRACE", o->trace, "CSV trace (.csv, .txt)")->required();
  cmd->add_option("-o,--output", o->out, "Output document (default: standard output)");
  cmd->add_flag("--offset", o->offset, "Lower all values by the lowest one (at most 100)");
  cmd->add_option("--budget", o->budget, "About how many samples to take (default 1000)")
      ->check(CLI::Range(1, 100000000));
  registry.Add(cmd, [o]() {
    // A pipe (/dev/stdin) is read as it comes: blocking is what a command line does.
    const CsvTrace trace = ReadCsvFile(o->trace, true);
    const std::string shown = EscapeControls(o->trace);
    if (trace.Layout == CsvLayout::Unknown) {
      return Fail(shown + ": not a CSV trace of a known layout");
    }
    if (trace.Samples.empty()) return Fail(shown + ": " + DescribeTraceWithoutData(trace));
    SegmentTable voltage, current;
    StoreCsvStaircase(MakeCsvStaircase(trace, o->offset, o->budget), voltage);
    if (o->out.empty()) {
      std::cout << FormatDocument(voltage, current);
      if (FlushStdout("the document") != 0) return 1;
    } else {
      WriteDocument(o->out, voltage, current);
    }
    if (trace.SkippedRecords > 0) {
      std::cerr << "ondrevo-cli: " << shown << ": " << trace.SkippedRecords
                << " records skipped (not numbers, or going back in time), the first on line "
                << trace.FirstSkippedLine << '\n';
    }
    return 0;
  });
}

}  // namespace ondrevo::cli
