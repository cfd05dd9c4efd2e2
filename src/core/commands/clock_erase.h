#pragma once
// Clock and erase commands: set and read the pack's real-time clock, erase
// the external EEPROM and the controller's TCC and EEP areas, and the
// READ/STOP button of the last-charge-date reading.
#include <array>
#include <cstdint>
#include <string>

#include "core/context.h"

namespace bms {

inline constexpr uint16_t kRegClockSet = 0x4006;
inline constexpr uint16_t kRegClockGet = 0x1005;
inline constexpr uint16_t kRegEraseTcc = 0x4101;
inline constexpr uint16_t kRegEraseEep = 0x4102;
inline constexpr uint16_t kRegEraseExtEeprom = 0x4103;

// Status-label texts of the erase commands.
inline constexpr const char* kEraseSucceeded = " Succeeded ";
inline constexpr const char* kEraseTimeOut = " Time out ";
inline constexpr const char* kErasePassed = " Passed ";
inline constexpr const char* kEraseFailed = " Failed ";

// The 8 bytes of a clock set: year - 2000 (low 8 bits of year + 48), month,
// day, hour, minute, second, 0, 0.
std::array<uint8_t, 8> ClockPayload(const LocalTime& t);
// The record of a clock set kept for the production test.
RtcStamp MakeRtcStamp(const LocalTime& t);
// " yyyy.mm.dd   hh:nn:ss ": how EditRTC shows a clock that was sent.
std::string ClockSentText(const LocalTime& t);

// Button handlers (operator's thread); each starts one worker.
void SpdBtnRTCSetClick(Context& ctx);
void SpdBtnRTCGetClick(Context& ctx);  // ignored while the button is disabled
void SpdBtnEEPROMEraseSetClick(Context& ctx);
void SpdBtnEraseMCUIntTCCClick(Context& ctx);
void SpdBtnEraseMCUIntEEPClick(Context& ctx);
// Toggles by caption: "READ" starts the reading (caption "STOP"), "STOP"
// clears RunFlag and puts "READ" back without starting anything.
void SpdBtnLastChgDateGetClick(Context& ctx);

// Worker bodies (whole command on the calling thread). Results:
//   clock set: the echo arrived; clock get: a reply was decoded;
//   external erase: any of the five echoes arrived;
//   TCC / EEP erase: the fifth pass succeeded;
//   last charge date: the port opened and the reading ran.
bool RTCSetWorker(Context& ctx);
bool RTCGetWorker(Context& ctx);
bool EEPROMEraseWorker(Context& ctx);
bool EraseMCUIntTCCWorker(Context& ctx);
bool EraseMCUIntEEPWorker(Context& ctx);
bool LastChgDateWorker(Context& ctx);

// Production-test helpers: LinkPort already open, no control touched.
bool SetRtcFromPc(Context& ctx);  // also fills ctx.RtcSetStamp
bool EraseMcuTcc(Context& ctx);
bool EraseMcuEep(Context& ctx);
bool EraseExtEeprom(Context& ctx);

}  // namespace bms
