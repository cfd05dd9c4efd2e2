#pragma once
// The I2C gateway on the serial line: fixed 19-byte frames at 115200 baud
// that reach the registers of the pack's OZ890 front end. The gateway port is
// opened by the check itself, with settings of its own; it is never LinkPort.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/context.h"
#include "core/link/gateway_types.h"

namespace bms {

inline constexpr size_t kGatewayFrameSize = 19;
inline constexpr int kGatewayBaud = 115200;
inline constexpr uint8_t kGatewayHeader0 = 0x55;
inline constexpr uint8_t kGatewayHeader1 = 0xAA;
inline constexpr uint8_t kGatewayTrailer = 0x0D;
inline constexpr uint8_t kOz890Address = 0x60;
// Request kinds of the frame builder; kind 1 (code 0x07) is the register read.
inline constexpr int kGatewayKindRead = 1;

using GatewayFrame = std::array<uint8_t, kGatewayFrameSize>;

// CRC-8, polynomial 0x85, initial 0, most significant bit first, no
// reflection, no final inversion ("123456789" gives 0x2A).
uint8_t GatewayCrc8(const uint8_t* data, size_t n);
// The request frame: 55 AA 02 CODE 00 00 ADDRESS REGISTER 00 .. 00 CRC 0D,
// CODE 0x01, 0x07 or 0x03 for kind 0, 1 or 2 (any other kind gives 0x07).
GatewayFrame BuildGatewayRequest(int kind, uint8_t address, uint8_t reg);

const char* GatewayReplyText(GatewayReply r);

// Checks `got` bytes read for a request to (address, reg); *value holds the
// register value of a valid reply.
GatewayReply CheckGatewayReply(const uint8_t* buf, size_t got, uint8_t address, uint8_t reg, uint8_t* value);

// Opens the device `name` for the gateway: queues 1024 bytes, both buffers
// cleared, read interval 50 ms, read total 1000 ms, write total 500 ms,
// 115200 baud 8N1. On failure the device is closed again, `port` stays
// empty and *why says what failed in the operator's words.
bool OpenGatewayPort(Context& ctx, const std::string& name, std::unique_ptr<SerialPort>& port, std::string* why = nullptr);
// True when all 19 bytes were written.
bool SendGatewayRequest(SerialPort& port, int kind, uint8_t address, uint8_t reg);
// Reads one 19-byte reply; true when it is valid and echoes address and
// register. *check (when given) says what was wrong.
bool ReadGatewayReply(SerialPort& port, uint8_t address, uint8_t reg, uint8_t* value, GatewayReply* check = nullptr);

}  // namespace bms
