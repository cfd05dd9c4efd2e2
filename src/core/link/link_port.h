#pragma once
// The one serial connection to the pack: open/close around every
// transaction, the activity lamps, the link-state texts and the command lock.
#include <string_view>

#include "core/context.h"

namespace bms {

inline constexpr const char* kSysStart = "  SYS : < START > ";
inline constexpr const char* kSysLink = "  SYS : < LINK >";
inline constexpr const char* kSysStop = "  SYS : < STOP >";
inline constexpr const char* kSysStopPolling = "  SYS : < STOP > ";

// Baud rate for the baud selector index (0: 9600, 1: 19200, other: keep = 0).
int BaudForSelector(int index);

bool OpenLinkPort(Context& ctx);
bool CloseLinkPort(Context& ctx);
bool LinkPortOpen(Context& ctx);
void SetCommandButtons(Context& ctx, bool on);
void SetStatusPanel(Context& ctx, int panel, std::string_view text);

// Port primitives over LinkPort; all fail harmlessly when it is closed.
bool PurgeLink(Context& ctx, unsigned flags);
bool LinkBytesWaiting(Context& ctx, size_t* n);
bool LinkRead(Context& ctx, uint8_t* buf, size_t n, size_t* got);
bool LinkWrite(Context& ctx, const uint8_t* buf, size_t n, size_t* written);

// Lamps: toggled between white and the partner colour on every exchange.
void ToggleTxLamp(Context& ctx);
void ToggleRxLamp(Context& ctx);
void SetRxLampIdle(Context& ctx);

// Sleeps in 1 ms steps while LinkBusy is set (waiting senders and waiters).
void WaitWhileLinkBusy(Context& ctx);

}  // namespace bms
