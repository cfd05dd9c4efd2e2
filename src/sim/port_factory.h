#pragma once
// The ports the application can open: the built-in virtual pack under its
// own name, any other name as a serial device.
#include "core/context.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace bms::sim {

// pack and log may be null (no virtual pack offered / no wire log).
PortFactory MakePortFactory(VirtualPack* pack, Clock& clock, WireLog* log);

}  // namespace bms::sim
