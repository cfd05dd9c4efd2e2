#include "core/commands/power_mode.h"

#include <cstring>

#include "core/commands/command_worker.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"

namespace bms {

namespace {

constexpr const char* kResultOk = " : OK";
constexpr const char* kResultNg = " : NG";

// Clears the transmit queue, then the receive queue.
void ClearQueues(Context& ctx) {
  PurgeLink(ctx, kPurgeTxAbort | kPurgeTxClear);
  PurgeLink(ctx, kPurgeRxAbort | kPurgeRxClear);
}

// A click of a power/mode button: when no worker can be started the
// configure button is given back to the operator.
void Start(Context& ctx, bool (*worker)(Context&)) {
  StartCommandWorker(
      ctx, [&ctx, worker] { worker(ctx); }, [&ctx] { ctx.FormMain.SpdBtnConfigure.set_enabled(true); });
}

// Sleep and Deep Sleep: one request, no reply. The product tab's Deep Sleep
// button comes back only after the command buttons.
bool PowerDownWorker(Context& ctx, uint16_t address, Control& button, bool button_last) {
  button.set_enabled(false);
  SetCommandButtons(ctx, false);
  ctx.clock.sleep_ms(100);
  bool sent = false;
  if (OpenLinkPort(ctx)) {
    sent = SendRequest(ctx, address, 0, 0x00);
    ctx.clock.sleep_ms(100);
  }
  if (!button_last) button.set_enabled(true);
  CloseLinkPort(ctx);
  ctx.clock.sleep_ms(100);
  SetStatusPanel(ctx, 0, kSysStop);
  SetCommandButtons(ctx, true);
  if (button_last) button.set_enabled(true);
  return sent;
}

// Gateway mode and MOSFET switch: request, payload, echo; the outcome is
// appended to the button's caption every time.
bool ModeSetWorker(Context& ctx, uint16_t address, Control& button, void (*payload)(bool, uint8_t*), Control& box) {
  button.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool echo = false;
  if (OpenLinkPort(ctx)) {
    ClearQueues(ctx);
    SendRequest(ctx, address, 0, 0x01);
    ctx.clock.sleep_ms(100);
    uint8_t data[8];
    payload(box.checked(), data);
    SendPayloadBytes(ctx, data);
    echo = AwaitEcho(ctx, address, 0);
    button.set_text(button.text() + (echo ? kResultOk : kResultNg));
    CloseLinkPort(ctx);
  }
  button.set_enabled(true);
  SetCommandButtons(ctx, true);
  return echo;
}

}  // namespace

void ShippingModePayload(bool on, uint8_t out[8]) {
  std::memset(out, 0, 8);
  out[0] = on ? 0x01 : 0x00;
}

void GatewayModePayload(bool checked, uint8_t out[8]) {
  std::memset(out, 0, 8);
  out[0] = checked ? 0x01 : 0x00;
}

void MosfetSwitchPayload(bool checked, uint8_t out[8]) {
  std::memset(out, 0, 8);
  out[0] = 0xFF;
  out[1] = checked ? 0x20 : 0x10;
}

bool SleepWorker(Context& ctx) { return PowerDownWorker(ctx, kRegSleep, ctx.FormMain.SpdBtnSleep, false); }
bool DeepSleepWorker(Context& ctx) { return PowerDownWorker(ctx, kRegDeepSleep, ctx.FormMain.SpdBtnDeepSleep, false); }
bool LITDeepSleepWorker(Context& ctx) { return PowerDownWorker(ctx, kRegDeepSleep, ctx.FormMain.SpdBtnLITDeepSleep, true); }

bool ShippingModeSetWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnShippingModeSet.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool echo = false;
  if (OpenLinkPort(ctx)) {
    ClearQueues(ctx);
    uint8_t data[8];
    ShippingModePayload(m.CheckBoxSippingMode.checked(), data);
    SendRequest(ctx, kRegShippingModeSet, 0, 0x01);
    ctx.clock.sleep_ms(100);
    SendPayloadBytes(ctx, data);
    echo = AwaitEcho(ctx, kRegShippingModeSet, 0);
    CloseLinkPort(ctx);
  }
  m.SpdBtnShippingModeSet.set_enabled(true);
  SetCommandButtons(ctx, true);
  return echo;
}

bool ShippingModeGetWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnShippingModeGet.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool decoded = false;
  if (OpenLinkPort(ctx)) {
    for (int attempt = 0; attempt < 3 && !decoded; ++attempt) {
      PurgeLink(ctx, kPurgeAll);
      SendRequest(ctx, kRegShippingModeGet, 0, 0x00);
      ctx.clock.sleep_ms(100);
      decoded = AwaitReplyDecode(ctx);
      if (!decoded) ctx.clock.sleep_ms(300);
    }
    CloseLinkPort(ctx);
  }
  m.SpdBtnShippingModeGet.set_enabled(true);
  SetCommandButtons(ctx, true);
  return decoded;
}

bool GatewayModeWorker(Context& ctx) { return ModeSetWorker(ctx, kRegGatewayMode, ctx.FormMain.SpeedButton_GatewayMode, GatewayModePayload, ctx.FormMain.CheckBox_GatewayMode); }

bool MOSFETSWWorker(Context& ctx) { return ModeSetWorker(ctx, kRegMosfetSwitch, ctx.FormMain.SpeedButton_MOSFETSW, MosfetSwitchPayload, ctx.FormMain.CheckBox_MOSFETSW); }

void SpdBtnSleepClick(Context& ctx) { Start(ctx, SleepWorker); }
void SpdBtnDeepSleepClick(Context& ctx) { Start(ctx, DeepSleepWorker); }
void SpdBtnLITDeepSleepClick(Context& ctx) { Start(ctx, LITDeepSleepWorker); }
void SpdBtnShippingModeSetClick(Context& ctx) { Start(ctx, ShippingModeSetWorker); }
void SpdBtnShippingModeGetClick(Context& ctx) { Start(ctx, ShippingModeGetWorker); }
void SpeedButton_GatewayModeClick(Context& ctx) { Start(ctx, GatewayModeWorker); }
void SpeedButton_MOSFETSWClick(Context& ctx) { Start(ctx, MOSFETSWWorker); }

void CheckBox_GatewayModeClick(Context& ctx) {
  Control& box = ctx.FormMain.CheckBox_GatewayMode;
  box.set_text(box.checked() ? "Normal" : "Transparent");
}

void CheckBox_MOSFETSWClick(Context& ctx) {
  Control& box = ctx.FormMain.CheckBox_MOSFETSW;
  box.set_text(box.checked() ? "OFF" : "ON");
}

void SendSleep(Context& ctx) {
  SendRequest(ctx, kRegSleep, 0, 0x00);
  ctx.clock.sleep_ms(100);
  ctx.clock.sleep_ms(100);
}

void SendDeepSleep(Context& ctx) {
  SendRequest(ctx, kRegDeepSleep, 0, 0x00);
  ctx.clock.sleep_ms(100);
}

bool SetShippingModeOn(Context& ctx) {
  ClearQueues(ctx);
  SendRequest(ctx, kRegShippingModeSet, 0, 0x01);
  ctx.clock.sleep_ms(100);
  uint8_t data[8];
  ShippingModePayload(true, data);
  SendPayloadBytes(ctx, data);
  ctx.clock.sleep_ms(100);
  return AwaitEcho(ctx, kRegShippingModeSet, 0);
}

}  // namespace bms
