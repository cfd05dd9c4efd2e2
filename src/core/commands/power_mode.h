#pragma once
// Power and mode commands of the main window: Sleep, Deep Sleep, shipping
// mode set and get, gateway (transparent) mode and the MOSFET switch.
#include <cstdint>

#include "core/context.h"

namespace bms {

// Registers of the commands.
inline constexpr uint16_t kRegSleep = 0x4205;
inline constexpr uint16_t kRegDeepSleep = 0x4206;
inline constexpr uint16_t kRegShippingModeSet = 0x4209;
inline constexpr uint16_t kRegShippingModeGet = 0x200B;
inline constexpr uint16_t kRegGatewayMode = 0x0F00;
inline constexpr uint16_t kRegMosfetSwitch = 0x000E;

// Button handlers (operator's thread): each starts one worker. When no
// worker can be started, SpdBtnConfigure is enabled again.
void SpdBtnSleepClick(Context& ctx);
void SpdBtnDeepSleepClick(Context& ctx);
void SpdBtnLITDeepSleepClick(Context& ctx);
void SpdBtnShippingModeSetClick(Context& ctx);
void SpdBtnShippingModeGetClick(Context& ctx);
void SpeedButton_GatewayModeClick(Context& ctx);
void SpeedButton_MOSFETSWClick(Context& ctx);

// Check-box handlers: captions only, no link traffic.
void CheckBox_GatewayModeClick(Context& ctx);
void CheckBox_MOSFETSWClick(Context& ctx);

// Worker bodies: the whole command on the calling thread (open, requests,
// controls, close, buttons). The result is the command's own outcome, which
// the window does not show for every command:
//   Sleep / Deep Sleep: the port opened and the request was written;
//   shipping set, gateway, MOSFET: the echo arrived;
//   shipping get: a reply was decoded.
bool SleepWorker(Context& ctx);
bool DeepSleepWorker(Context& ctx);
bool LITDeepSleepWorker(Context& ctx);
bool ShippingModeSetWorker(Context& ctx);
bool ShippingModeGetWorker(Context& ctx);
bool GatewayModeWorker(Context& ctx);
bool MOSFETSWWorker(Context& ctx);

// Payload bytes of the mode commands, from the check-box states.
void ShippingModePayload(bool on, uint8_t out[8]);
void GatewayModePayload(bool checked, uint8_t out[8]);
void MosfetSwitchPayload(bool checked, uint8_t out[8]);

// Production-test helpers: LinkPort is already open; they neither open nor
// close it and touch no control.
void SendSleep(Context& ctx);          // request, then 2 x 100 ms; no reply read
void SendDeepSleep(Context& ctx);      // request, then 100 ms; no reply read
bool SetShippingModeOn(Context& ctx);  // true when the echo arrived

}  // namespace bms
