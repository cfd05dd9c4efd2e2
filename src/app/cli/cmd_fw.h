#pragma once
// bmsmon-cli fw, socv and cellr: the firmware data dialog's transfers and the
// cell-resistance group, each over the port borrowed from a polling loop the
// command starts and stops again.
#include <CLI/CLI.hpp>

#include "app/cli/cli_common.h"

void RegisterFwCommand(CLI::App& app, cli::CliEnv& env);
void RegisterSocvCommand(CLI::App& app, cli::CliEnv& env);
void RegisterCellrCommand(CLI::App& app, cli::CliEnv& env);
