#include <clocale>
#include <exception>
#include <iostream>

#include "cli/Commands.h"

namespace ondrevo::cli {

bool& DemoRequested() {
  static bool demo = false;
  return demo;
}

int Fail(const std::string& message) {
  std::cerr << "ondrevo-cli: " << message << '\n';
  return 1;
}

}  // namespace ondrevo::cli

int main(int argc, char** argv) {
  // Numbers never depend on the locale (they go through our own helpers); messages may.
  std::setlocale(LC_ALL, "");
  CLI::App app{"Ondrevo Designer command-line tool", "ondrevo-cli"};
  app.require_subcommand(1);
  app.add_flag("--demo", ondrevo::cli::DemoRequested(),
               "Start simulated instruments for the device commands");
  ondrevo::cli::CommandRegistry registry{app, {}};
  ondrevo::cli::RegisterDocumentCommands(registry);
  ondrevo::cli::RegisterSimCommand(registry);
  ondrevo::cli::RegisterDeviceCommands(registry);
  ondrevo::cli::RegisterSampleCommand(registry);
  ondrevo::cli::RegisterCsvCommand(registry);
  ondrevo::cli::RegisterCheckCommand(registry);
  ondrevo::cli::RegisterPlotCommand(registry);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  try {
    for (auto& [sub, run] : registry.runners)
      if (sub->parsed()) return run();
  } catch (const std::exception& e) {
    return ondrevo::cli::Fail(e.what());
  }
  return 2;
}
