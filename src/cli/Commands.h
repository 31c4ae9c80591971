// Sub-commands of ondrevo-cli. Each file registers its own; main.cpp runs the chosen one.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "model/ListSampling.h"

namespace ondrevo::cli {

// Exit status: 0 success, 1 failure (one line on stderr), 2 bad usage.
using CommandRunner = std::function<int()>;

struct CommandRegistry {
  CLI::App& app;
  std::vector<std::pair<CLI::App*, CommandRunner>> runners;
  void Add(CLI::App* sub, CommandRunner run) { runners.emplace_back(sub, std::move(run)); }
};

// Set by the top-level --demo (ondrevo-cli --demo devices): the device commands then start the
// simulated instruments as their own --demo does.
bool& DemoRequested();

// Prints "ondrevo-cli: <message>" on stderr and returns 1.
int Fail(const std::string& message);

// Flushes standard output: 0, or Fail naming `what` when it could not be written (a full disk, a
// closed pipe).
int FlushStdout(const std::string& what);

void RegisterDocumentCommands(CommandRegistry& registry);  // info, normalize
void RegisterSimCommand(CommandRegistry& registry);        // sim
void RegisterDeviceCommands(CommandRegistry& registry);    // devices, play
void RegisterSampleCommand(CommandRegistry& registry);     // sample
void RegisterCsvCommand(CommandRegistry& registry);        // import-csv
void RegisterCheckCommand(CommandRegistry& registry);      // check
void RegisterPlotCommand(CommandRegistry& registry);       // plot

// The list settings of a supply model; raises std::runtime_error for a model without a point
// memory or an unsupported one.
SupplyListSettings SupplySettingsForModel(const std::string& model);

}  // namespace ondrevo::cli
