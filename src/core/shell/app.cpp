#include "core/shell/app.h"

#include <unistd.h>

#include <climits>

#include "core/commands/commands.h"
#include "core/history/diagnosis.h"
#include "core/link/link_port.h"
#include "core/link/oz890.h"
#include "core/commands/cell_resistance.h"
#include "core/parameters/fw_data.h"
#include "core/monitor/data_log.h"
#include "core/monitor/live_display.h"
#include "core/parameters/eep2.h"
#include "core/platform/files.h"
#include "core/production_test/production_test.h"
#include "core/shell/connection_dialog.h"
#include "core/shell/main_window.h"
#include "core/shell/password_dialog.h"
#include "core/version.h"

namespace bms {

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty()) return "./";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  if (::getcwd(buf, sizeof buf) == nullptr) return "./";
  return WithSlash(buf);
}

}  // namespace

void InitAppIdentity(Context& ctx, const StartOptions& opts) {
  AppIdentity& app = ctx.app;
  const std::string& argv0 = opts.argv0;
  const size_t slash = argv0.rfind('/');
  const std::string base = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
  app.exe_name = opts.edition + base;
  if (slash != std::string::npos) {
    std::string folder = argv0.substr(0, slash + 1);
    if (folder.front() != '/') folder = CurrentDirectory() + folder;
    app.app_folder = folder;
  } else {
    app.app_folder = WithSlash(ExecutableFolder(argv0));
  }
  app.current_dir = CurrentDirectory();
  if (opts.data_dir.empty()) {
    const DataFolderChoice choice = ChooseDataFolderReport(app.app_folder);
    app.data_folder = WithSlash(choice.folder);
    app.data_folder_note = choice.note;
  } else {
    app.data_folder = WithSlash(opts.data_dir);
  }
  app.version_major = BMS_VERSION_MAJOR;
  app.version_minor = BMS_VERSION_MINOR;
  app.version_release = BMS_VERSION_PATCH;
  app.version_known = true;
  app.simulate = opts.simulate;
}

void CreateApplication(Context& ctx) {
  WireMainWindow(ctx);
  WireConnectionDialog(ctx);
  WirePasswordDialog(ctx);
  WireLiveDisplayHandlers(ctx);
  WireCommandHandlers(ctx);
  WireProductionTestHandlers(ctx);
  WireOz890Handlers(ctx);
  WireFwDataHandlers(ctx);
  WireCellResistanceHandlers(ctx);
  WireHistoryAndDiagnosis(ctx);
  WireEep2Window(ctx);
  FormCreate(ctx);
  ConfigFormCreate(ctx);
  if (!ctx.app.data_folder_note.empty()) SetStatusPanel(ctx, 2, "  " + ctx.app.data_folder_note);
}

void ShowMainWindow(Context& ctx) {
  FormShow(ctx);
  // With the built-in pack, the connection dialog opens ready to confirm.
  if (ctx.app.simulate) ctx.FormConfig.self.set_visible(true);
}

void ExitApplication(Context& ctx) { ctx.Shutdown(); }

}  // namespace bms
