#pragma once
// `bmsmon-cli eep2 read|write c|d` and `bmsmon-cli modbus read START COUNT`:
// the EEP2 window's block transfers and files, and a plain holding-register
// read for diagnosis.
#include <CLI/CLI.hpp>

#include "app/cli/cli_common.h"

void RegisterEep2Command(CLI::App& app, cli::CliEnv& env);
void RegisterModbusCommand(CLI::App& app, cli::CliEnv& env);
