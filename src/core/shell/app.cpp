#include "core/shell/app.h"

namespace bms {

void InitAppIdentity(Context&, const StartOptions&) {}
void CreateApplication(Context&) {}
void ShowMainWindow(Context&) {}
void ExitApplication(Context& ctx) { ctx.Shutdown(); }

}  // namespace bms
