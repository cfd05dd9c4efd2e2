#include "core/shell/port_details_view.h"

namespace bms {

void ShowPortDetails(Context& ctx) {
  TFormConfig& f = ctx.FormConfig;
  const std::string port = f.CobBoxInterfaceName.text();
  std::string text;
  if (port.empty())
    text = "";
  else if (port.find('/') == std::string::npos)
    text = port + ": the built-in virtual pack";  // no device node: the in-process pack
  else
    text = PortDetailsText(ctx.PortDetailsOf(port));
  f.LabelPortDetails.set_text(text);
}

void WirePortDetails(Context& ctx) {
  Control& box = ctx.FormConfig.CobBoxInterfaceName;
  box.on_change = [&ctx] { ShowPortDetails(ctx); };
  box.on_click = [&ctx] { ShowPortDetails(ctx); };
}

}  // namespace bms
