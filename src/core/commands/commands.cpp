#include "core/commands/commands.h"

#include "core/commands/clock_erase.h"
#include "core/commands/identity.h"
#include "core/commands/power_mode.h"

namespace bms {

void WireCommandHandlers(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  struct Binding {
    Control& control;
    void (*handler)(Context&);
  };
  const Binding bindings[] = {
      {m.SpdBtnSleep, SpdBtnSleepClick},
      {m.SpdBtnDeepSleep, SpdBtnDeepSleepClick},
      {m.SpdBtnLITDeepSleep, SpdBtnLITDeepSleepClick},
      {m.SpdBtnShippingModeSet, SpdBtnShippingModeSetClick},
      {m.SpdBtnShippingModeGet, SpdBtnShippingModeGetClick},
      {m.SpeedButton_GatewayMode, SpeedButton_GatewayModeClick},
      {m.SpeedButton_MOSFETSW, SpeedButton_MOSFETSWClick},
      {m.CheckBox_GatewayMode, CheckBox_GatewayModeClick},
      {m.CheckBox_MOSFETSW, CheckBox_MOSFETSWClick},
      {m.SpdBtnRTCSet, SpdBtnRTCSetClick},
      {m.SpdBtnRTCGet, SpdBtnRTCGetClick},
      {m.SpdBtnEEPROMEraseSet, SpdBtnEEPROMEraseSetClick},
      {m.SpdBtnEraseMCUIntTCC, SpdBtnEraseMCUIntTCCClick},
      {m.SpdBtnEraseMCUIntEEP, SpdBtnEraseMCUIntEEPClick},
      {m.SpdBtnLastChgDateGet, SpdBtnLastChgDateGetClick},
      {m.BitBtnBarCodeRead, BitBtnBarCodeReadClick},
      {m.BitBtnBarCodeWrite, BitBtnBarCodeWriteClick},
      {m.RadioGroupBarcodeSelect, RadioGroupBarcodeSelectClick},
      {m.CheckBoxBarCodeAutoSet, CheckBoxBarCodeAutoSetClick},
      {m.SpdBtnSNSet, SpdBtnSNSetClick},
      {m.SpdBtnSNGet, SpdBtnSNGetClick},
  };
  for (const Binding& b : bindings) b.control.on_click = [&ctx, h = b.handler] { h(ctx); };
}

}  // namespace bms
