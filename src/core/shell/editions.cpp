#include "core/shell/editions.h"

namespace bms {

bool ExeNameStartsWith(const Context& ctx, std::string_view prefix) {
  const std::string& name = ctx.app.exe_name;
  return name.size() >= prefix.size() && std::string_view(name).substr(0, prefix.size()) == prefix;
}

std::string VersionText(const Context& ctx) {
  if (!ctx.app.version_known) return "";
  return "V1." + std::to_string(ctx.app.version_release) + ".7";
}

bool IsPqEdition(const Context& ctx) {
  for (const char* p : {"PQTQ58_LIT", "PQTQ58_ENG", "PQTQ58_CPL", "PQTQ58_FPL", "PQTQ58_EVT"})
    if (ExeNameStartsWith(ctx, p)) return true;
  return false;
}

}  // namespace bms
