#pragma once
// `bmsmon-cli history read BLOCK` and `bmsmon-cli diagnose`: the EEPROM
// history window's block and range reads and the diagnosis report's
// reading pass, run through the same handlers as the buttons.
#include <CLI/CLI.hpp>

#include "app/cli/cli_common.h"

void RegisterHistoryCommand(CLI::App& app, cli::CliEnv& env);
void RegisterDiagnoseCommand(CLI::App& app, cli::CliEnv& env);
