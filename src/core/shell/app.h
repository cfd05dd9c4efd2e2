#pragma once
// Start-up of the tool: identity and edition, creation of the windows in
// their fixed order, the handlers of every window, and shutdown.
#include <string>

#include "core/context.h"

namespace bms {

struct StartOptions {
  std::string argv0;      // as the program was started (symlinks work)
  std::string edition;    // --edition PREFIX (empty: from the file name)
  std::string data_dir;   // --data-dir DIR (empty: beside the executable)
  bool simulate = false;  // --simulate: the built-in virtual pack is listed and chosen
};

// Fills ctx.app: the file name that selects the edition, the folders and
// the version.
void InitAppIdentity(Context& ctx, const StartOptions& opts);

// Binds every handler of every window, then creates the windows in their
// fixed order (main window FormCreate, connection dialog FormCreate, ...).
void CreateApplication(Context& ctx);

// Main window FormShow: edition captions, password prompt where needed.
void ShowMainWindow(Context& ctx);

// Stops every worker and closes the port and the data log.
void ExitApplication(Context& ctx);

}  // namespace bms
