#pragma once
// RUN/STOP and the polling loops, plus the readings they share with the
// commands and the production test.
#include "core/context.h"

namespace bms {

void SpdBtnRUNClick(Context& ctx);
void MonitorThread(Context& ctx);
void MonitorLoop(Context& ctx);
void MonitorLoopPQ(Context& ctx);
void ApplyRunLocks(Context& ctx);

// Register 0x1005 with up to 3 attempts; false when all failed.
bool ReadClock(Context& ctx);
// Register 0x200B once.
bool ReadShippingMode(Context& ctx);
// True when the pack reports EEPROM history records (LEAD + LAST > 0).
bool ProbeLastChargeSupport(Context& ctx);
// The last-charge-date search over the LEAD and LAST blocks.
void FindLastChargeDate(Context& ctx);

}  // namespace bms
