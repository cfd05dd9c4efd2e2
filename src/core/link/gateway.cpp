#include "core/link/gateway.h"

#include "core/link/frame_tap.h"

namespace bms {

namespace {

constexpr uint8_t kRequestCodes[3] = {0x01, 0x07, 0x03};
constexpr uint8_t kValueFrame = 0x02;
constexpr uint8_t kFormByte8 = 0x02;
constexpr uint8_t kFormByte7 = 0x04;
constexpr uint8_t kFormByte8b = 0x08;

// The gateway's own time-outs.
PortTimeouts GatewayTimeouts() {
  PortTimeouts t;
  t.read_interval = 50;
  t.read_total_multiplier = 0;
  t.read_total_constant = 1000;
  t.write_total_multiplier = 0;
  t.write_total_constant = 500;
  return t;
}

}  // namespace

uint8_t GatewayCrc8(const uint8_t* data, size_t n) {
  // The augmented form: every data byte and then one zero byte shifted
  // through the register bit by bit.
  uint8_t crc = 0;
  for (size_t i = 0; i <= n; ++i) {
    const uint8_t byte = i < n ? data[i] : 0x00;
    for (int bit = 7; bit >= 0; --bit) {
      const bool top = (crc & 0x80) != 0;
      crc = static_cast<uint8_t>((crc << 1) | ((byte >> bit) & 1));
      if (top) crc ^= 0x85;
    }
  }
  return crc;
}

GatewayFrame BuildGatewayRequest(int kind, uint8_t address, uint8_t reg) {
  GatewayFrame f{};
  f[0] = kGatewayHeader0;
  f[1] = kGatewayHeader1;
  f[2] = kValueFrame;
  f[3] = kind >= 0 && kind <= 2 ? kRequestCodes[kind] : kRequestCodes[kGatewayKindRead];
  f[6] = address;
  f[7] = reg;
  f[17] = GatewayCrc8(&f[2], 15);
  f[18] = kGatewayTrailer;
  return f;
}

const char* GatewayReplyText(GatewayReply r) {
  switch (r) {
    case GatewayReply::Valid:
      return "valid";
    case GatewayReply::NoReply:
      return "no reply";
    case GatewayReply::Short:
      return "short reply";
    case GatewayReply::BadFrame:
      return "bad frame";
    case GatewayReply::BadCrc:
      return "bad CRC";
    case GatewayReply::WrongEcho:
      return "wrong echo";
    case GatewayReply::NoValue:
      return "no value";
  }
  return "bad reply";
}

GatewayReply CheckGatewayReply(const uint8_t* b, size_t got, uint8_t address, uint8_t reg, uint8_t* value) {
  *value = 0;
  if (got == 0) return GatewayReply::NoReply;
  if (got < kGatewayFrameSize) return GatewayReply::Short;
  if (b[0] != kGatewayHeader0 || b[1] != kGatewayHeader1 || b[18] != kGatewayTrailer) return GatewayReply::BadFrame;
  if (b[17] != GatewayCrc8(&b[2], 15)) return GatewayReply::BadCrc;
  if (b[6] != address || b[7] != reg) return GatewayReply::WrongEcho;
  if (b[2] != kValueFrame) return GatewayReply::NoValue;
  if (b[3] == kFormByte8 || b[3] == kFormByte8b) {
    *value = b[8];
    return GatewayReply::Valid;
  }
  if (b[3] == kFormByte7) {
    *value = b[7];
    return GatewayReply::Valid;
  }
  return GatewayReply::NoValue;
}

bool OpenGatewayPort(Context& ctx, const std::string& name, std::unique_ptr<SerialPort>& port, std::string* why) {
  port.reset();
  std::unique_ptr<SerialPort> p = ctx.port_factory ? ctx.port_factory(name) : nullptr;
  if (!p) {
    if (why) *why = "no port named \"" + name + "\"";
    return false;
  }
  if (!p->open(name)) {
    if (why) *why = p->error_text();
    return false;
  }
  LineSettings line;
  bool ok = p->set_queue_sizes(1024, 1024);
  ok = ok && p->purge(kPurgeTxClear | kPurgeRxClear);
  ok = ok && p->set_timeouts(GatewayTimeouts());
  ok = ok && p->get_line(line);
  line.baud = kGatewayBaud;
  line.data_bits = 8;
  line.parity = 'N';
  line.stop_bits = 1;
  ok = ok && p->set_line(line);
  if (!ok) {
    if (why) *why = p->error_text().empty() ? "the port refused the gateway's line settings (115200 baud 8N1)" : p->error_text();
    p->close();
    return false;
  }
  port = TapPort(std::move(p), ctx.FrameTaps, ctx.clock);
  return true;
}

bool SendGatewayRequest(SerialPort& port, int kind, uint8_t address, uint8_t reg) {
  const GatewayFrame f = BuildGatewayRequest(kind, address, reg);
  size_t written = 0;
  return port.write(f.data(), f.size(), &written) && written == f.size();
}

bool ReadGatewayReply(SerialPort& port, uint8_t address, uint8_t reg, uint8_t* value, GatewayReply* check) {
  uint8_t buf[kGatewayFrameSize] = {};
  size_t got = 0;
  const bool read_ok = port.read(buf, sizeof buf, &got);
  GatewayReply r = CheckGatewayReply(buf, got, address, reg, value);
  if (!read_ok && r == GatewayReply::Valid) r = GatewayReply::Short;
  if (!read_ok && got == 0) r = GatewayReply::NoReply;
  if (r != GatewayReply::Valid) *value = 0;  // a read that failed after the 19 bytes gives no value
  if (check) *check = r;
  return r == GatewayReply::Valid;
}

}  // namespace bms
