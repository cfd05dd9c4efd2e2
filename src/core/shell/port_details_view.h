#pragma once
// The connection dialog's port details: what the port in CobBoxInterfaceName
// is and whether this user may open it, shown in LabelPortDetails before Yes.
#include "core/context.h"

namespace bms {

// Fills LabelPortDetails for the text of CobBoxInterfaceName.
void ShowPortDetails(Context& ctx);
// Shows the details whenever the port in the box changes.
void WirePortDetails(Context& ctx);

}  // namespace bms
