#pragma once
// bmsmon-cli oz890 check: the OZ890 EEPROM check of the ENG tab.
#include <CLI/CLI.hpp>

#include "app/cli/cli_common.h"

void RegisterOz890Command(CLI::App& app, cli::CliEnv& env);
