#pragma once
// The cell-resistance group of the XPL tab: the connection resistances of
// cells 1..13 read from and written to the BMS over the borrowed port of the
// running polling loop, loaded from MTD.ini, and the RW boxes.
#include <array>
#include <cstdint>
#include <string>

#include "core/context.h"

namespace bms {

inline constexpr int kResistanceCellCount = 13;
inline constexpr uint16_t kRegCellRRead = 0x100C;
inline constexpr uint16_t kRegCellRWrite = 0x3400;

// The payload of a resistance write: value big-endian in bytes 0-1.
std::array<uint8_t, 8> CellResistancePayload(uint16_t milliohm);

// The two exchanges; they borrow the port (LinkBusy) for their whole length.
// True when every selected cell answered (read) or echoed (write).
bool ReadCellResistances(Context& ctx);
bool WriteCellResistances(Context& ctx);
// Step 8.4 of the polling cycle: the write-all and read-all variants.
void RunCellResistanceCycle(Context& ctx);

void BitBtnCellRPrarmLoadClick(Context& ctx);
void BitBtnRCellmOmhAdjustClick(Context& ctx);
void BitBtnWCellmOmhAdjustClick(Context& ctx);
void BitBtnRWAllClick(Context& ctx);
void BitBtnRWCancelClick(Context& ctx);
void CheckBoxCellRAllReadClick(Context& ctx);
void CheckBoxCellRAllWriteClick(Context& ctx);
void WireCellResistanceHandlers(Context& ctx);

}  // namespace bms
