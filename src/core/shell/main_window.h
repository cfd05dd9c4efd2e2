#pragma once
// The main window: creation, show, and the top-bar handlers.
#include "core/context.h"

namespace bms {

void FormCreate(Context& ctx);
void FormShow(Context& ctx);
void SpdBtnExitClick(Context& ctx);
void SpdBtnConfigureClick(Context& ctx);
void SpdBtnUpgradeClick(Context& ctx);
void WireMainWindow(Context& ctx);

}  // namespace bms
