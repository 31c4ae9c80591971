#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>

#include "app/Config.h"
#include "cli/Commands.h"
#include "devices/supplies/Drivers.h"
#include "transports/LanInterface.h"
#include "transports/RS232Interface.h"

namespace ondrevo::cli {

bool& DemoRequested() {
  static bool demo = false;
  return demo;
}

int Fail(const std::string& message) {
  std::cerr << "ondrevo-cli: " << message << '\n';
  return 1;
}

int FlushStdout(const std::string& what) {
  errno = 0;
  std::cout.flush();
  const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
  if (!failed) return 0;
  const int err = errno;
  return Fail("cannot write " + what + " to standard output" +
              (err ? std::string(": ") + std::strerror(err) : std::string()));
}

}  // namespace ondrevo::cli

namespace {

// The serial and LAN settings of the preferences, as the desktop program uses them for its search.
void ApplySavedSerialSettings() {
  namespace fs = std::filesystem;
  const std::string folder = ondrevo::ResolveSettingsFolder();
  std::error_code ec;
  if (!fs::exists(fs::path(folder) / ondrevo::kSettingsFileName, ec)) return;
  const ondrevo::TWConfig config("", ondrevo::kSettingsSubfolder);
  const ondrevo::RS232Defaults& d = config.GetRS232Defaults();
  ondrevo::SetRS232Defaults(
      ondrevo::TRS232Settings{d.BaudRate, d.DataBits, d.Parity, d.StopBits, d.Handshake});
  ondrevo::SetLanHosts({config.GetLanHosts()});
  ondrevo::SetLanDiscovery(config.GetLanDiscovery());
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers never depend on the locale (they go through our own helpers); messages may.
  std::setlocale(LC_ALL, "");
  ondrevo::InstallSupplyDrivers();
  ApplySavedSerialSettings();
  CLI::App app{"Ondrevo Designer command-line tool", "ondrevo-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("ondrevo-cli ") + ONDREVO_VERSION);
  app.add_flag("--demo", ondrevo::cli::DemoRequested(),
               "Start simulated instruments for the device commands; with "
               "ONDREVO_SIM_RECORD=DIR each supply records its output to "
               "DIR/<model without spaces>-<serial>.csv");
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
  } catch (const CLI::CallForVersion& e) {
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
