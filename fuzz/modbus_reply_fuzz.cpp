// The Modbus master's reply checks, pure and through a fuzzed port. The
// verdict is compared with the frame rules (length, slave, function, byte
// count, start and quantity of a write echo) and with a bitwise CRC-16 of
// our own; a good read leaves exactly its data in the tables, a refused one
// leaves the tables as they were. With the fix-up, the two bytes after the
// expected frame carry its CRC.
#include <algorithm>
#include <string>

#include "core/link/link_port.h"
#include "core/link/modbus.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

uint16_t BitwiseCrc16(const uint8_t* d, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= d[i];
    for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
  }
  return crc;
}

bool CrcHolds(const std::vector<uint8_t>& f, size_t n) {
  if (n < 3 || f.size() < n) return false;
  const uint16_t crc = BitwiseCrc16(f.data(), n - 2);
  return f[n - 2] == (crc & 0xFF) && f[n - 1] == (crc >> 8);
}

}  // namespace

BMS_FUZZ_TARGET(modbus_reply) {
  Input in(data, size);
  const uint8_t mode = in.u8();
  const bool fix = mode & 0x80;
  const bool write = mode & 0x01;
  const uint8_t slave = mode & 0x02 ? in.u8() : ModbusSlaveAddress;
  const uint16_t start = in.u16();
  const uint16_t quantity = in.u8();  // 0..255: the limits are 125 and 127
  const size_t expected = write ? 8 : 2u * quantity + 5u;
  Bench& b = SharedBench();
  Context& ctx = b.ctx;
  b.wire->bursts = ReadBursts(in, [&](std::vector<uint8_t>& f) {
    if (!fix || f.size() < expected || expected < 3) return;
    const uint16_t crc = ModbusCrc16(f.data(), expected - 2);
    f[expected - 2] = static_cast<uint8_t>(crc & 0xFF);
    f[expected - 1] = static_cast<uint8_t>(crc >> 8);
  });
  std::vector<uint8_t> first;
  bool fails = false;
  if (!b.wire->bursts.empty()) {
    const Burst& f = b.wire->bursts.front();
    first.assign(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(f.bytes.size(), expected)));
    fails = f.fail && f.bytes.size() <= expected;
  }
  if (!OpenLinkPort(ctx)) Fail(__FILE__, __LINE__, "the fuzzed port did not open");

  if (first.size() > 2) BMS_FUZZ_CHECK(ModbusCrc16(first.data(), first.size()) == BitwiseCrc16(first.data(), first.size()), "CRC-16 differs from the bitwise CRC");

  if (write) {
    const bool in_limits = quantity >= 1 && quantity <= kModbusMaxWrite;
    const bool shape = first.size() == 8 && first[0] == slave && first[1] == kModbusWriteRegisters && (first[2] << 8 | first[3]) == start &&
                       (first[4] << 8 | first[5]) == quantity && CrcHolds(first, 8);
    BMS_FUZZ_CHECK(ModbusWriteReplyGood(first.data(), first.size(), slave, kModbusWriteRegisters, start, quantity) == shape, "write echo check");
    const bool model = in_limits && !fails && shape;
    const bool ok = ModbusWriteRegisters(ctx, start, quantity, slave);
    BMS_FUZZ_CHECK(ok == model, "write verdict differs from the frame rules");
    if (in_limits) {
      BMS_FUZZ_CHECK(b.wire->writes.size() == 1 && b.wire->writes[0].size() == 2u * quantity + 9u, "one write request of 2n + 9 bytes");
      BMS_FUZZ_CHECK(CrcHolds(b.wire->writes[0], b.wire->writes[0].size()), "the request's CRC");
    } else {
      BMS_FUZZ_CHECK(b.wire->writes.empty(), "a request outside the limits went out");
    }
    CloseLinkPort(ctx);
    return 0;
  }

  const bool in_limits = quantity >= 1 && quantity <= kModbusMaxRead;
  const bool shape = first.size() == expected && first[0] == slave && first[1] == kModbusReadHolding && first[2] == 2u * quantity && CrcHolds(first, expected);
  if (in_limits) BMS_FUZZ_CHECK(ModbusReadReplyGood(first.data(), first.size(), slave, kModbusReadHolding, quantity) == shape, "read reply check");
  const bool model = in_limits && !fails && shape;

  std::array<uint8_t, 260> bytes_before{};
  std::array<int32_t, 125> words_before{};
  for (size_t i = 0; i < bytes_before.size(); ++i) bytes_before[i] = static_cast<uint8_t>(i * 7 + 1);
  for (size_t i = 0; i < words_before.size(); ++i) words_before[i] = -static_cast<int32_t>(i) - 1;
  ctx.ModbusReadBytes.set(bytes_before);
  ctx.ModbusReadWords.set(words_before);
  const bool ok = ModbusReadRegisters(ctx, start, quantity, slave);
  BMS_FUZZ_CHECK(ok == model, "read verdict differs from the frame rules");
  const auto bytes = ctx.ModbusReadBytes.get();
  const auto words = ctx.ModbusReadWords.get();
  if (!ok) {
    BMS_FUZZ_CHECK(bytes == bytes_before && words == words_before, "a refused reply changed the tables");
  } else {
    for (size_t j = 0; j < quantity; ++j) {
      BMS_FUZZ_CHECK(words[j] == (first[3 + 2 * j] << 8 | first[4 + 2 * j]), "word " + std::to_string(j));
      BMS_FUZZ_CHECK(words[j] >= 0 && words[j] <= 0xFFFF, "a register value outside 16 bits");
    }
    BMS_FUZZ_CHECK(std::equal(bytes.begin(), bytes.begin() + 2 * quantity, first.begin() + 3), "the data bytes");
    BMS_FUZZ_CHECK(std::equal(bytes.begin() + 2 * quantity, bytes.end(), bytes_before.begin() + 2 * quantity), "bytes past the reply changed");
    for (size_t j = quantity; j < words.size(); ++j) BMS_FUZZ_CHECK(words[j] == words_before[j], "words past the reply changed");
  }
  if (in_limits) {
    BMS_FUZZ_CHECK(b.wire->writes.size() == 1 && b.wire->writes[0] == BuildModbusReadRequest(slave, kModbusReadHolding, start, quantity), "one read request");
    BMS_FUZZ_CHECK(b.wire->writes[0].size() == 8 && CrcHolds(b.wire->writes[0], 8), "the request's CRC");
  }
  CloseLinkPort(ctx);
  return 0;
}
