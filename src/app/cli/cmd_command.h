#pragma once
// `bmsmon-cli cmd NAME [VALUE]`: one engineering command of the main window,
// run as the operator would run it, with the texts the window then shows.
#include <ostream>
#include <string>

#include "core/context.h"

// Runs command NAME on ctx, whose port name and baud rate are already set
// and whose handlers are bound (CreateApplication). Sets the controls the
// command reads (check boxes, barcode selection, edits), runs the command's
// worker and waits for it, then prints the texts the operator would see, one
// per line as `Name: "text"`.
// Returns 0 on success, 2 on a usage error (message on err, nothing sent),
// 3 when the port could not be opened (its reason on err) or the command's
// own result is a failure. docs/cli.md lists what success means per command.
// With json, one JSON object goes to out instead of the lines: the command,
// its exit status, "ok", the same texts under "controls" (keys as the line
// names) and, on a failure, "error".
int RunCommandCli(bms::Context& ctx, const std::string& name, const std::string& value, const std::string& barcode_mode, std::ostream& out, std::ostream& err, bool json = false);
