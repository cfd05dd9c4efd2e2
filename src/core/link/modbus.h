#pragma once
// The Modbus RTU master on LinkPort: read holding registers (0x03) and the
// pack's write of several registers under function 0x16 (the layout of the
// standard write-multiple function: start, quantity, byte count, data).
// The master neither opens nor closes the port; the caller runs
// OpenLinkPort before and CloseLinkPort after. One transaction at a time.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/context.h"

namespace bms {

inline constexpr uint8_t ModbusSlaveAddress = 0x60;
inline constexpr uint8_t kModbusReadHolding = 0x03;
inline constexpr uint8_t kModbusWriteRegisters = 0x16;
inline constexpr uint16_t kModbusMaxRead = 125;   // the reply's data area is 250 bytes
inline constexpr uint16_t kModbusMaxWrite = 127;  // the byte count is one byte holding 2n
inline constexpr size_t kModbusMaxFrame = 1024;

// CRC-16/MODBUS (reflected 0xA001, initial 0xFFFF, no final inversion),
// byte-wise through the two 256-entry tables of the reference code. The low
// byte of the result travels first.
uint16_t ModbusCrc16(const uint8_t* bytes, size_t length);
// The two tables: P gives the low byte, Q the high byte of each step.
const std::array<uint8_t, 256>& ModbusCrcTableLow();
const std::array<uint8_t, 256>& ModbusCrcTableHigh();

// Frame builders (pure): the read request (8 bytes) and the write request
// (2n + 9 bytes; only the low 16 bits of each value are sent). Empty when
// the quantity is outside the limits.
std::vector<uint8_t> BuildModbusReadRequest(uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity);
std::vector<uint8_t> BuildModbusWriteRequest(uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity, const int32_t* values);

// Reply checks (pure). A read reply is good when it is 2n + 5 bytes long
// and slave, function, byte count (2n) and CRC match; a write echo when it
// is 8 bytes and slave, function, start, quantity and CRC match.
bool ModbusReadReplyGood(const uint8_t* reply, size_t got, uint8_t slave, uint8_t function, uint16_t quantity);
bool ModbusWriteReplyGood(const uint8_t* reply, size_t got, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity);

// The transactions, over ctx.LinkPort.
bool ModbusSendReadRequest(Context& ctx, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity);
// On success the 2n data bytes are in destination (room for 2n bytes);
// otherwise destination is untouched.
bool ModbusReceiveReadReply(Context& ctx, uint8_t slave, uint8_t function, uint16_t quantity, uint8_t* destination);
bool ModbusSendWriteRequest(Context& ctx, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity, const int32_t* values);
bool ModbusReceiveWriteReply(Context& ctx, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity);

// Slave 0x60 (or `slave`), function 0x03: on success ModbusReadBytes and
// entries 0..n-1 of ModbusReadWords hold the values; on failure both keep
// what they held.
bool ModbusReadRegisters(Context& ctx, uint16_t start, uint16_t quantity, uint8_t slave = ModbusSlaveAddress);
// Slave 0x60, function 0x16: sends entries 0..n-1 of ModbusWriteWords and
// checks the echo.
bool ModbusWriteRegisters(Context& ctx, uint16_t start, uint16_t quantity, uint8_t slave = ModbusSlaveAddress);

// Clearing the tables, as callers do before a transaction.
void ClearModbusReadTables(Context& ctx);
void ClearModbusWriteTable(Context& ctx);

}  // namespace bms
