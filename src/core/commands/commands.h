#pragma once
// Binding of the device-command handlers to their controls.
#include "core/context.h"

namespace bms {

// Binds the click handlers of the power/mode, clock/erase and identity
// commands to the on_click of their controls on the main window.
void WireCommandHandlers(Context& ctx);

}  // namespace bms
