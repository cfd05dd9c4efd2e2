#pragma once
// `bmsmon-cli plan check FILE` and `bmsmon-cli test run ...`: the production
// test's plan loader and one pack's run exactly as the TEST button runs it.
#include <CLI/CLI.hpp>

#include "app/cli/cli_common.h"

void RegisterPlanCommand(CLI::App& app, cli::CliEnv& env);
void RegisterTestCommand(CLI::App& app, cli::CliEnv& env);
