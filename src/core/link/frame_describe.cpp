#include "core/link/frame_describe.h"

#include <cstdio>
#include <string_view>

#include "core/link/frame.h"
#include "core/link/gateway.h"
#include "core/link/modbus.h"
#include "core/platform/safe_text.h"

namespace bms {

namespace {

std::string Hex8(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%02X", v & 0xFFu);
  return b;
}

std::string Hex16(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%04X", v & 0xFFFFu);
  return b;
}

uint16_t Be16(const uint8_t* b) { return static_cast<uint16_t>(b[0] << 8 | b[1]); }

// ASCII of the bytes for a quoted text: 8-bit bytes as '.', control bytes
// escaped by TerminalSafe.
std::string QuotedText(const uint8_t* b, size_t n) {
  std::string t;
  for (size_t i = 0; i < n; ++i) t += b[i] < 0x80 ? static_cast<char>(b[i]) : '.';
  return "\"" + TerminalSafe(t, /*quote=*/true) + "\"";
}

std::string Verdict(const char* what, bool good, unsigned got, unsigned expected, bool wide) {
  if (good) return std::string(what) + " ok";
  return std::string(what) + " BAD (" + (wide ? Hex16(got) : Hex8(got)) + ", expected " + (wide ? Hex16(expected) : Hex8(expected)) + ")";
}

// ---- recognising a frame at the start of the bytes ----
// Each returns the frame's length, or 0 when the bytes do not start one
// (or it is not complete).

size_t RegisterFrameAt(const uint8_t* b, size_t n) { return n >= kFrameSize && b[0] == kFrameStart && b[12] == kFrameEnd ? kFrameSize : 0; }
size_t StatusBlockAt(const uint8_t* b, size_t n) { return n >= kStatusBlockSize && b[0] == kStatusBlockStart ? kStatusBlockSize : 0; }
size_t GatewayFrameAt(const uint8_t* b, size_t n) {
  return n >= kGatewayFrameSize && b[0] == kGatewayHeader0 && b[1] == kGatewayHeader1 && b[18] == kGatewayTrailer ? kGatewayFrameSize : 0;
}
// A text block: '#' up to and including the first CR.
size_t TextBlockAt(const uint8_t* b, size_t n) {
  if (n < 2 || b[0] != '#') return 0;
  for (size_t i = 1; i < n && i < 256; ++i)
    if (b[i] == '\r') return i + 1;
  return 0;
}
// A Modbus reply: its length from the function, and either the pack's
// slave address or a CRC that holds (so stray bytes are not taken for one).
size_t ModbusReplyAt(const uint8_t* b, size_t n) {
  if (n < 5) return 0;
  size_t len = 0;
  if (b[1] == kModbusReadHolding)
    len = 5u + b[2];
  else if (b[1] == kModbusWriteRegisters)
    len = 8;
  else if (b[1] == (kModbusReadHolding | 0x80) || b[1] == (kModbusWriteRegisters | 0x80))
    len = 5;
  if (len == 0 || n < len) return 0;
  if (b[0] == ModbusSlaveAddress) return len;
  const uint16_t crc = ModbusCrc16(b, len - 2);
  return b[len - 2] == (crc & 0xFF) && b[len - 1] == (crc >> 8) ? len : 0;
}

using FrameAt = size_t (*)(const uint8_t*, size_t);
// The incoming frames, in the order they are tried.
constexpr FrameAt kIncoming[] = {RegisterFrameAt, StatusBlockAt, GatewayFrameAt, TextBlockAt, ModbusReplyAt};

size_t IncomingFrameAt(const uint8_t* b, size_t n) {
  for (FrameAt at : kIncoming)
    if (const size_t len = at(b, n)) return len;
  return 0;
}

bool IsModbusRequest(const uint8_t* b, size_t n) {
  if (n == 8 && b[1] == kModbusReadHolding) return true;
  return n >= 9 && b[1] == kModbusWriteRegisters && n == 9u + b[6];
}

// ---- meanings ----

void DescribeRegister(FrameDescription& d, const uint8_t* b, std::optional<uint16_t>& last_address) {
  const uint8_t* data = b + 3;
  const uint16_t address = Be16(data);
  const uint16_t length = Be16(data + 2);
  switch (b[2]) {
    case kFrameRequest: {
      d.kind = FrameKind::RegisterRequest;
      d.address = address;
      last_address = address;
      d.meaning = "request " + Hex16(address) + " length " + std::to_string(length);
      const unsigned param = static_cast<unsigned>(data[4] << 16 | data[5] << 8 | data[6]);
      if (param != 0) d.meaning += " param " + std::to_string(param);
      if (data[7] != 0) d.meaning += " write count " + std::to_string(data[7]);
      break;
    }
    case kFramePayload: {
      d.kind = FrameKind::RegisterPayload;
      d.address = last_address;
      size_t text = 0;
      while (text < 8 && data[text] != 0) ++text;
      d.meaning = "write payload " + QuotedText(data, text);
      break;
    }
    case kFrameReplyHeader:
      d.kind = FrameKind::ReplyHeader;
      d.address = address;
      last_address = address;
      d.meaning = "reply header " + Hex16(address) + " length " + std::to_string(length);
      if (data[7] != 0) d.meaning += " (byte 8 " + Hex8(data[7]) + ")";
      break;
    case kFrameReplyData:
      d.kind = FrameKind::ReplyData;
      d.address = last_address;
      d.meaning = "reply data" + (last_address ? " of " + Hex16(*last_address) : std::string()) + ": " + FrameHex(data, 8);
      break;
    default:
      d.kind = FrameKind::RegisterOther;
      d.meaning = "register frame id " + Hex8(b[2]);
      break;
  }
  if (b[1] != 0) d.meaning += " (byte 2 " + Hex8(b[1]) + ")";
  const uint8_t sum = FrameChecksum(b);
  d.verdict = sum == b[11] ? FrameVerdict::Good : FrameVerdict::Bad;
  d.verdict_text = Verdict("checksum", sum == b[11], b[11], sum, false);
}

void DescribeStatusBlock(FrameDescription& d, const uint8_t* b) {
  d.kind = FrameKind::StatusBlock;
  d.meaning = "status block, 96 bytes";
  const uint8_t sum = StatusBlockSum(b);
  d.verdict = sum == b[95] ? FrameVerdict::Good : FrameVerdict::Bad;
  d.verdict_text = Verdict("sum", sum == b[95], b[95], sum, false);
}

void DescribeGateway(FrameDescription& d, FrameDirection dir, const uint8_t* b) {
  d.address = b[7];
  if (dir == FrameDirection::Out) {
    d.kind = FrameKind::GatewayRequest;
    const char* what = b[3] == 0x01 ? " (kind 0)" : b[3] == 0x07 ? " (register read)" : b[3] == 0x03 ? " (kind 2)" : "";
    d.meaning = "gateway request code " + Hex8(b[3]) + what + ", device " + Hex8(b[6]) + " register " + Hex8(b[7]);
  } else {
    d.kind = FrameKind::GatewayReply;
    d.meaning = "gateway reply form " + Hex8(b[3]) + ", device " + Hex8(b[6]) + " register " + Hex8(b[7]);
    if (b[2] == 0x02 && (b[3] == 0x02 || b[3] == 0x08)) d.meaning += " value " + Hex8(b[8]);
    if (b[2] == 0x02 && b[3] == 0x04) d.meaning += " value " + Hex8(b[7]);
  }
  const uint8_t crc = GatewayCrc8(b + 2, 15);
  d.verdict = crc == b[17] ? FrameVerdict::Good : FrameVerdict::Bad;
  d.verdict_text = Verdict("CRC", crc == b[17], b[17], crc, false);
}

void DescribeModbus(FrameDescription& d, FrameDirection dir, const uint8_t* b, size_t n, std::optional<uint16_t>& last_start) {
  const std::string head = "Modbus slave " + Hex8(b[0]) + " ";
  if (dir == FrameDirection::Out) {
    d.kind = FrameKind::ModbusRequest;
    const uint16_t start = Be16(b + 2);
    const uint16_t quantity = Be16(b + 4);
    d.address = start;
    last_start = start;
    if (b[1] == kModbusReadHolding)
      d.meaning = head + "read " + Hex16(start) + " quantity " + std::to_string(quantity);
    else
      d.meaning = head + "write " + Hex16(start) + " quantity " + std::to_string(quantity) + " data " + FrameHex(b + 7, b[6]);
  } else {
    d.kind = FrameKind::ModbusReply;
    d.address = last_start;
    if (b[1] & 0x80)
      d.meaning = head + "exception of function " + Hex8(b[1] & 0x7F) + " code " + std::to_string(b[2]);
    else if (b[1] == kModbusReadHolding)
      d.meaning = head + "read reply" + (last_start ? " of " + Hex16(*last_start) : std::string()) + ", " + std::to_string(b[2]) + " bytes: " + FrameHex(b + 3, b[2]);
    else
      d.meaning = head + "write echo " + Hex16(Be16(b + 2)) + " quantity " + std::to_string(Be16(b + 4));
  }
  const uint16_t crc = ModbusCrc16(b, n - 2);
  const uint16_t got = static_cast<uint16_t>(b[n - 2] | b[n - 1] << 8);
  d.verdict = crc == got ? FrameVerdict::Good : FrameVerdict::Bad;
  d.verdict_text = Verdict("CRC", crc == got, got, crc, true);
}

}  // namespace

std::string FrameHex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 0x0F];
  }
  return s;
}

std::vector<size_t> SplitIncoming(const uint8_t* bytes, size_t n) {
  std::vector<size_t> out;
  size_t pos = 0;
  while (pos < n) {
    if (const size_t len = IncomingFrameAt(bytes + pos, n - pos)) {
      out.push_back(len);
      pos += len;
      continue;
    }
    size_t end = pos + 1;
    while (end < n && IncomingFrameAt(bytes + end, n - end) == 0) ++end;
    out.push_back(end - pos);
    pos = end;
  }
  return out;
}

FrameDescription FrameDescriber::describe(FrameDirection dir, const uint8_t* b, size_t n) {
  FrameDescription d;
  d.verdict_text = "-";
  if (RegisterFrameAt(b, n) == n && n == kFrameSize) {
    DescribeRegister(d, b, register_address_);
  } else if (dir == FrameDirection::Out && n == 3 && b[0] == 0x26 && b[1] == 0x0D && b[2] == 0x0A) {
    d.kind = FrameKind::StatusPoll;
    d.meaning = "status poll";
  } else if (dir == FrameDirection::In && n == kStatusBlockSize && StatusBlockAt(b, n)) {
    DescribeStatusBlock(d, b);
  } else if (n == kGatewayFrameSize && GatewayFrameAt(b, n)) {
    DescribeGateway(d, dir, b);
  } else if (TextBlockAt(b, n) == n) {
    d.kind = FrameKind::TextBlock;
    const std::string_view text(reinterpret_cast<const char*>(b), n);
    d.meaning = std::string(text.rfind("#SHU_EN:", 0) == 0 ? "SHU EN " : "text ") + QuotedText(b, n);
  } else if (dir == FrameDirection::Out ? IsModbusRequest(b, n) : ModbusReplyAt(b, n) == n) {
    DescribeModbus(d, dir, b, n, modbus_address_);
  } else {
    d.kind = FrameKind::Unframed;
    d.meaning = std::to_string(n) + (n == 1 ? " byte" : " bytes") + ", no frame";
    if (dir == FrameDirection::In) {
      d.verdict = FrameVerdict::Bad;
      d.verdict_text = "no frame";
    }
  }
  return d;
}

FrameRow FrameDescriber::row(const TappedFrame& f) {
  FrameRow r;
  r.seq = f.seq;
  r.t_ms = f.t_ms;
  r.wait_ms = previous_ms_ ? f.t_ms - *previous_ms_ : -1;
  previous_ms_ = f.t_ms;
  r.dir = f.dir;
  r.skipped_before = f.skipped_before;
  r.hex = FrameHex(f.bytes.data(), f.bytes.size());
  r.d = describe(f.dir, f.bytes.data(), f.bytes.size());
  return r;
}

std::string FrameLine(const FrameRow& r) {
  char head[64];
  if (r.wait_ms >= 0)
    std::snprintf(head, sizeof head, "%10lld ms | %+7lld ms | ", static_cast<long long>(r.t_ms), static_cast<long long>(r.wait_ms));
  else
    std::snprintf(head, sizeof head, "%10lld ms | %10s | ", static_cast<long long>(r.t_ms), "-");
  return std::string(head) + DirectionText(r.dir) + " | " + r.hex + " | " + r.d.meaning + " | " + r.d.verdict_text;
}

std::string SkippedLine(uint64_t count) { return "-- " + std::to_string(count) + (count == 1 ? " frame" : " frames") + " skipped (the queue was full) --"; }

const char* DirectionText(FrameDirection dir) { return dir == FrameDirection::Out ? "TX" : "RX"; }

}  // namespace bms
