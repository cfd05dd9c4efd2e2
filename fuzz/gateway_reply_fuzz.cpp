// The I2C gateway's reply check, on a fuzzed buffer and through a fuzzed
// port. The verdict follows the frame rules (19 bytes, 55 AA ... 0D, the
// CRC-8 of bytes 2..16 in byte 17, the echo of address and register), a
// value comes only from a valid reply, and the CRC is checked against a
// bitwise CRC-8 of our own. With the fix-up byte 17 carries the CRC.
#include <string>

#include "core/link/gateway.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

uint8_t BitwiseCrc8(const uint8_t* d, size_t n) {
  uint8_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= d[i];
    for (int k = 0; k < 8; ++k) crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x85 : crc << 1);
  }
  return crc;
}

void FixGatewayCrc(std::vector<uint8_t>& b) {
  if (b.size() >= kGatewayFrameSize) b[17] = GatewayCrc8(&b[2], 15);
}

GatewayReply Model(const std::vector<uint8_t>& b, uint8_t address, uint8_t reg) {
  if (b.empty()) return GatewayReply::NoReply;
  if (b.size() < kGatewayFrameSize) return GatewayReply::Short;
  if (b[0] != 0x55 || b[1] != 0xAA || b[18] != 0x0D) return GatewayReply::BadFrame;
  if (b[17] != BitwiseCrc8(&b[2], 15)) return GatewayReply::BadCrc;
  if (b[6] != address || b[7] != reg) return GatewayReply::WrongEcho;
  return GatewayReply::Valid;  // or NoValue, by the reply form
}

}  // namespace

BMS_FUZZ_TARGET(gateway_reply) {
  Input in(data, size);
  const uint8_t mode = in.u8();
  const bool fix = mode & 0x80;
  const uint8_t address = in.u8();
  const uint8_t reg = in.u8();
  static const bool crc_known = [] {
    const std::string check = "123456789";
    return GatewayCrc8(reinterpret_cast<const uint8_t*>(check.data()), check.size()) == 0x2A;
  }();
  BMS_FUZZ_CHECK(crc_known, "CRC-8 of \"123456789\" is not 0x2A");

  FuzzWire wire;
  wire.bursts = ReadBursts(in, fix ? FixGatewayCrc : std::function<void(std::vector<uint8_t>&)>());
  std::vector<uint8_t> first;
  bool fails = false;
  if (!wire.bursts.empty()) {
    const Burst& f = wire.bursts.front();
    first.assign(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(f.bytes.size(), kGatewayFrameSize)));
    fails = f.fail && f.bytes.size() <= kGatewayFrameSize;
  }
  if (first.size() >= 17) BMS_FUZZ_CHECK(GatewayCrc8(&first[2], 15) == BitwiseCrc8(&first[2], 15), "CRC-8 differs from the bitwise CRC");

  uint8_t value = 0xEE;
  const GatewayReply pure = CheckGatewayReply(first.data(), first.size(), address, reg, &value);
  const GatewayReply model = Model(first, address, reg);
  if (model == GatewayReply::Valid) {
    BMS_FUZZ_CHECK(pure == GatewayReply::Valid || pure == GatewayReply::NoValue, std::string("verdict ") + GatewayReplyText(pure));
  } else {
    BMS_FUZZ_CHECK(pure == model, std::string("verdict ") + GatewayReplyText(pure) + ", expected " + GatewayReplyText(model));
  }
  if (pure == GatewayReply::Valid) {
    BMS_FUZZ_CHECK(value == first[8] || value == first[7], "the value is not a byte of the reply");
  } else {
    BMS_FUZZ_CHECK(value == 0, "a value from a reply that is not valid");
  }

  auto shared = std::make_shared<FuzzWire>(std::move(wire));
  FuzzPort port(shared);
  port.open(kFuzzPortName);
  uint8_t read_value = 0xEE;
  GatewayReply check = GatewayReply::Valid;
  const bool ok = ReadGatewayReply(port, address, reg, &read_value, &check);
  BMS_FUZZ_CHECK(ok == (check == GatewayReply::Valid), "ReadGatewayReply and its verdict disagree");
  if (fails) {
    BMS_FUZZ_CHECK(!ok, "a failed read gave a value");
  } else {
    BMS_FUZZ_CHECK(check == pure && read_value == value, "the port read and the buffer check disagree");
  }
  if (!ok) BMS_FUZZ_CHECK(read_value == 0, "a value from a failed read");
  return 0;
}
