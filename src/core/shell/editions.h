#pragma once
// Editions: the beginning of the executable's file name selects what the
// tool unlocks.
#include <string>
#include <string_view>

#include "core/context.h"

namespace bms {

// True when the executable's file name begins with prefix, byte for byte.
bool ExeNameStartsWith(const Context& ctx, std::string_view prefix);

// "V1." + release number + ".7"; empty when the version is unknown.
std::string VersionText(const Context& ctx);

// The editions whose polling runs the reduced loop.
bool IsPqEdition(const Context& ctx);

}  // namespace bms
