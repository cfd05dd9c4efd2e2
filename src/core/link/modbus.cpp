#include "core/link/modbus.h"

#include <algorithm>

#include "core/link/link_port.h"

namespace bms {

namespace {

// One bit-wise step of the reflected polynomial 0xA001 over eight rounds.
constexpr uint16_t CrcStep(uint16_t v) {
  for (int k = 0; k < 8; ++k) v = (v & 1) ? static_cast<uint16_t>((v >> 1) ^ 0xA001) : static_cast<uint16_t>(v >> 1);
  return v;
}

constexpr std::array<uint8_t, 256> MakeTable(bool high) {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    const uint16_t s = CrcStep(static_cast<uint16_t>(i));
    t[static_cast<size_t>(i)] = static_cast<uint8_t>(high ? s >> 8 : s & 0xFF);
  }
  return t;
}

constexpr std::array<uint8_t, 256> kTableLow = MakeTable(false);
constexpr std::array<uint8_t, 256> kTableHigh = MakeTable(true);

void PutWord(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}

uint16_t GetWord(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void PutCrc(uint8_t* frame, size_t covered) {
  const uint16_t crc = ModbusCrc16(frame, covered);
  frame[covered] = static_cast<uint8_t>(crc & 0xFF);
  frame[covered + 1] = static_cast<uint8_t>(crc >> 8);
}

bool CrcGood(const uint8_t* frame, size_t length) {
  if (length < 3) return false;
  const uint16_t crc = ModbusCrc16(frame, length - 2);
  return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

constexpr unsigned kPurgeRx = kPurgeRxAbort | kPurgeRxClear;

}  // namespace

const std::array<uint8_t, 256>& ModbusCrcTableLow() { return kTableLow; }
const std::array<uint8_t, 256>& ModbusCrcTableHigh() { return kTableHigh; }

uint16_t ModbusCrc16(const uint8_t* bytes, size_t length) {
  uint8_t lo = 0xFF, hi = 0xFF;
  for (size_t k = 0; k < length; ++k) {
    const uint8_t i = bytes[k] ^ lo;
    lo = kTableLow[i] ^ hi;
    hi = kTableHigh[i];
  }
  return static_cast<uint16_t>(hi << 8 | lo);
}

std::vector<uint8_t> BuildModbusReadRequest(uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity) {
  if (quantity < 1 || quantity > kModbusMaxRead) return {};
  std::vector<uint8_t> f(8, 0);
  f[0] = slave;
  f[1] = function;
  PutWord(&f[2], start);
  PutWord(&f[4], quantity);
  PutCrc(f.data(), 6);
  return f;
}

std::vector<uint8_t> BuildModbusWriteRequest(uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity, const int32_t* values) {
  if (quantity < 1 || quantity > kModbusMaxWrite) return {};
  const size_t n = quantity;
  std::vector<uint8_t> f(2 * n + 9, 0);
  f[0] = slave;
  f[1] = function;
  PutWord(&f[2], start);
  PutWord(&f[4], quantity);
  f[6] = static_cast<uint8_t>((2 * n) & 0xFF);
  for (size_t j = 0; j < n; ++j) {
    const auto v = static_cast<uint32_t>(values[j]);  // two's complement: only the low 16 bits go out
    f[7 + 2 * j] = static_cast<uint8_t>((v >> 8) & 0xFF);
    f[8 + 2 * j] = static_cast<uint8_t>(v & 0xFF);
  }
  PutCrc(f.data(), 2 * n + 7);
  return f;
}

bool ModbusReadReplyGood(const uint8_t* reply, size_t got, uint8_t slave, uint8_t function, uint16_t quantity) {
  const size_t expected = std::min<size_t>(2u * quantity + 5u, kModbusMaxFrame);
  if (quantity < 1 || quantity > kModbusMaxRead || got < expected) return false;
  return reply[0] == slave && reply[1] == function && reply[2] == 2u * quantity && CrcGood(reply, expected);
}

bool ModbusWriteReplyGood(const uint8_t* reply, size_t got, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity) {
  if (got < 8) return false;
  return reply[0] == slave && reply[1] == function && GetWord(&reply[2]) == start && GetWord(&reply[4]) == quantity && CrcGood(reply, 8);
}

bool ModbusSendReadRequest(Context& ctx, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity) {
  const std::vector<uint8_t> f = BuildModbusReadRequest(slave, function, start, quantity);
  if (f.empty()) return false;
  PurgeLink(ctx, kPurgeAll);
  size_t written = 0;
  const bool ok = LinkWrite(ctx, f.data(), f.size(), &written);
  if (ok) PurgeLink(ctx, kPurgeRx);
  return ok && written == f.size();
}

bool ModbusReceiveReadReply(Context& ctx, uint8_t slave, uint8_t function, uint16_t quantity, uint8_t* destination) {
  if (quantity < 1 || quantity > kModbusMaxRead) return false;
  const size_t expected = std::min<size_t>(2u * quantity + 5u, kModbusMaxFrame);
  std::array<uint8_t, kModbusMaxFrame> buf{};
  size_t got = 0;
  const bool ok = LinkRead(ctx, buf.data(), expected, &got);
  PurgeLink(ctx, kPurgeRx);
  if (!ok || !ModbusReadReplyGood(buf.data(), got, slave, function, quantity)) return false;
  std::copy_n(buf.begin() + 3, 2u * quantity, destination);
  return true;
}

bool ModbusSendWriteRequest(Context& ctx, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity, const int32_t* values) {
  const std::vector<uint8_t> f = BuildModbusWriteRequest(slave, function, start, quantity, values);
  if (f.empty()) return false;
  size_t written = 0;
  const bool ok = LinkWrite(ctx, f.data(), f.size(), &written);
  return ok && written == f.size();
}

bool ModbusReceiveWriteReply(Context& ctx, uint8_t slave, uint8_t function, uint16_t start, uint16_t quantity) {
  std::array<uint8_t, 8> buf{};
  size_t got = 0;
  const bool ok = LinkRead(ctx, buf.data(), buf.size(), &got);
  PurgeLink(ctx, kPurgeRx);
  return ok && ModbusWriteReplyGood(buf.data(), got, slave, function, start, quantity);
}

bool ModbusReadRegisters(Context& ctx, uint16_t start, uint16_t quantity, uint8_t slave) {
  if (!ModbusSendReadRequest(ctx, slave, kModbusReadHolding, start, quantity)) return false;
  std::array<uint8_t, 2 * kModbusMaxRead> data{};
  if (!ModbusReceiveReadReply(ctx, slave, kModbusReadHolding, quantity, data.data())) return false;
  ctx.ModbusReadBytes.with([&](auto& bytes) { std::copy_n(data.begin(), 2u * quantity, bytes.begin()); });
  ctx.ModbusReadWords.with([&](auto& words) {
    for (size_t j = 0; j < quantity; ++j) words[j] = data[2 * j] * 256 + data[2 * j + 1];
  });
  return true;
}

bool ModbusWriteRegisters(Context& ctx, uint16_t start, uint16_t quantity, uint8_t slave) {
  if (quantity < 1 || quantity > kModbusMaxWrite) return false;
  const auto values = ctx.ModbusWriteWords.get();
  if (!ModbusSendWriteRequest(ctx, slave, kModbusWriteRegisters, start, quantity, values.data())) return false;
  return ModbusReceiveWriteReply(ctx, slave, kModbusWriteRegisters, start, quantity);
}

void ClearModbusReadTables(Context& ctx) {
  ctx.ModbusReadBytes.set({});
  ctx.ModbusReadWords.set({});
}

void ClearModbusWriteTable(Context& ctx) { ctx.ModbusWriteWords.set({}); }

}  // namespace bms
