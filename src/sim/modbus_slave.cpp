#include "sim/modbus_slave.h"

#include "core/link/modbus.h"

namespace bms::sim {

namespace {

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void Push(std::vector<uint8_t>& v, uint16_t w) {
  v.push_back(static_cast<uint8_t>(w >> 8));
  v.push_back(static_cast<uint8_t>(w & 0xFF));
}

// Two's complement of a signed 16-bit value, and the two registers of a
// signed 32-bit value, high register first.
uint16_t S16(int v) { return static_cast<uint16_t>(static_cast<int16_t>(v)); }
void I32(std::array<uint16_t, kBlockRegisters>& b, size_t at, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  b[at] = static_cast<uint16_t>(u >> 16);
  b[at + 1] = static_cast<uint16_t>(u & 0xFFFF);
}

std::vector<uint8_t> Exception(uint8_t function, uint8_t code) { return ModbusFrameWithCrc({kModbusSlave, static_cast<uint8_t>(function | 0x80), code}); }

}  // namespace

std::array<uint16_t, kBlockRegisters> InitialBlockC() {
  std::array<uint16_t, kBlockRegisters> b{};
  // Cell configuration, then each protection as threshold, delay, release, delay.
  const uint16_t head[] = {13,   4,                  // cells in series, in parallel
                           4200, 2000, 4100, 2000,   // OV alarm (mV, ms)
                           4250, 1000, 4150, 2000,   // OV protection
                           3000, 2000, 3100, 2000,   // UV alarm
                           2800, 1000, 3000, 2000};  // UV protection
  for (size_t i = 0; i < std::size(head); ++i) b[i] = head[i];
  I32(b, 0x12, 8000);  // COC alarm threshold, mA
  b[0x14] = 2000;
  b[0x15] = S16(6000);
  b[0x16] = 2000;
  I32(b, 0x17, 10000);  // COC protection
  b[0x19] = 1000;
  b[0x1A] = S16(8000);
  b[0x1B] = 2000;
  I32(b, 0x1C, -15000);  // DOC alarm: discharge currents are stored negative
  b[0x1E] = 2000;
  b[0x1F] = S16(-12000);
  b[0x20] = 2000;
  I32(b, 0x21, -20000);  // DOC protection
  b[0x23] = 1000;
  b[0x24] = S16(-15000);
  b[0x25] = 2000;
  // Temperatures in 0.1 degC: COT, CUT, DOT, DUT, MOS OT; alarm then protection.
  const int temps[][4] = {{550, 500, 600, 550}, {20, 50, 0, 50}, {650, 600, 700, 650}, {-150, -100, -200, -150}, {900, 800, 1000, 850}};
  size_t at = 0x26;
  for (const auto& t : temps) {
    b[at++] = S16(t[0]);
    b[at++] = 2000;
    b[at++] = S16(t[1]);
    b[at++] = 2000;
    b[at++] = S16(t[2]);
    b[at++] = 1000;
    b[at++] = S16(t[3]);
    b[at++] = 2000;
  }
  // 0x4255..0x426F are reserved; they hold a pattern that is easy to spot.
  for (size_t i = 0x4E; i <= 0x68; ++i) b[i] = static_cast<uint16_t>(0xA500 + i);
  const uint16_t hw[] = {500,               // Rsensor, micro-ohm
                         4300, 4150, 2000,  // HW OV protection, release, delay
                         2500, 2800, 2000,  // HW UV
                         30,   500,  5000,  // HW COC: A, delay, release
                         60,   500,  5000,  // HW DOC
                         120,  200};        // HW SC: A, delay in us
  for (size_t i = 0; i < std::size(hw); ++i) b[0x69 + i] = hw[i];
  return b;
}

std::array<uint16_t, kBlockRegisters> InitialBlockD() {
  std::array<uint16_t, kBlockRegisters> b{};
  const std::string type = "INR18650-35E";
  for (size_t c = 0; c < type.size(); ++c) b[c / 2] |= static_cast<uint16_t>(static_cast<uint8_t>(type[c]) << (c % 2 ? 0 : 8));
  b[8] = 3500;                                                                         // rated capacity, mAh
  b[9] = 3600;                                                                         // design voltage, mV
  b[10] = 500;                                                                         // cycle life count
  b[11] = 80;                                                                          // cycle life percent
  for (size_t i = 12; i <= 18; ++i) b[i] = static_cast<uint16_t>(0xA500 + i);          // reserved
  for (size_t k = 0; k <= 100; ++k) b[19 + k] = static_cast<uint16_t>(3000 + 12 * k);  // SOC k %: mV
  return b;
}

std::vector<uint8_t> ModbusFrameWithCrc(std::vector<uint8_t> body) {
  const uint16_t crc = ModbusCrc16(body.data(), body.size());
  body.push_back(static_cast<uint8_t>(crc & 0xFF));
  body.push_back(static_cast<uint8_t>(crc >> 8));
  return body;
}

ModbusFront ParseModbusFront(const uint8_t* rx, size_t n, ModbusRequest* req) {
  if (n < 1 || rx[0] != kModbusSlave) return ModbusFront::Drop;
  if (n < 2) return ModbusFront::NeedMore;
  const uint8_t fn = rx[1];
  size_t size = 0;
  if (fn >= 0x01 && fn <= 0x06) {
    size = 8;
  } else if (fn == 0x0F || fn == 0x10 || fn == 0x16) {
    if (n < 7) return ModbusFront::NeedMore;
    size = 9u + rx[6];
  } else {
    return ModbusFront::Drop;
  }
  if (n < size) return ModbusFront::NeedMore;
  const uint16_t crc = ModbusCrc16(rx, size - 2);
  if (rx[size - 2] != (crc & 0xFF) || rx[size - 1] != (crc >> 8)) return ModbusFront::Drop;
  ModbusRequest r;
  r.function = fn;
  r.start = Word(rx + 2);
  r.quantity = Word(rx + 4);
  r.size = size;
  if (size > 8) {
    r.byte_count = rx[6];
    r.data.assign(rx + 7, rx + 7 + r.byte_count);
  }
  *req = std::move(r);
  return ModbusFront::Frame;
}

ModbusSlave::ModbusSlave() { reset(); }

void ModbusSlave::reset() {
  std::lock_guard<std::mutex> lock(mu_);
  c_ = InitialBlockC();
  d_ = InitialBlockD();
}

uint16_t* ModbusSlave::at(uint16_t address) {
  if (address >= kBlockCStart && address < kBlockCStart + kBlockRegisters) return &c_[address - kBlockCStart];
  if (address >= kBlockDStart && address < kBlockDStart + kBlockRegisters) return &d_[address - kBlockDStart];
  return nullptr;
}

bool ModbusSlave::inside_one_block(uint16_t start, uint16_t quantity) const {
  const uint32_t end = uint32_t{start} + quantity;  // one past the last register
  for (uint16_t b : {kBlockCStart, kBlockDStart})
    if (start >= b && end <= uint32_t{b} + kBlockRegisters) return true;
  return false;
}

std::vector<uint8_t> ModbusSlave::answer(const ModbusRequest& r) {
  std::lock_guard<std::mutex> lock(mu_);
  ++requests_;
  if (r.function == kModbusReadHolding) {
    if (r.quantity < 1 || r.quantity > kModbusMaxRead) return Exception(r.function, kModbusIllegalValue);
    if (!inside_one_block(r.start, r.quantity)) return Exception(r.function, kModbusIllegalAddress);
    std::vector<uint8_t> out{kModbusSlave, r.function, static_cast<uint8_t>(2 * r.quantity)};
    for (uint16_t k = 0; k < r.quantity; ++k) Push(out, *at(static_cast<uint16_t>(r.start + k)));
    return ModbusFrameWithCrc(std::move(out));
  }
  if (r.function == kModbusWriteRegisters) {
    if (r.quantity < 1 || r.quantity > kModbusMaxWrite || r.byte_count != 2 * r.quantity) return Exception(r.function, kModbusIllegalValue);
    if (!inside_one_block(r.start, r.quantity)) return Exception(r.function, kModbusIllegalAddress);
    for (uint16_t k = 0; k < r.quantity; ++k) *at(static_cast<uint16_t>(r.start + k)) = Word(&r.data[2u * k]);
    ++writes_;
    std::vector<uint8_t> out{kModbusSlave, r.function};
    Push(out, r.start);
    Push(out, r.quantity);
    return ModbusFrameWithCrc(std::move(out));
  }
  return Exception(r.function, kModbusIllegalFunction);
}

std::optional<uint16_t> ModbusSlave::value(uint16_t address) const {
  std::lock_guard<std::mutex> lock(mu_);
  const uint16_t* p = const_cast<ModbusSlave*>(this)->at(address);
  if (!p) return std::nullopt;
  return *p;
}

bool ModbusSlave::set_value(uint16_t address, uint16_t v) {
  std::lock_guard<std::mutex> lock(mu_);
  uint16_t* p = at(address);
  if (!p) return false;
  *p = v;
  return true;
}

std::array<uint16_t, kBlockRegisters> ModbusSlave::block(uint16_t start) const {
  std::lock_guard<std::mutex> lock(mu_);
  return start == kBlockDStart ? d_ : c_;
}

int ModbusSlave::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

int ModbusSlave::writes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return writes_;
}

}  // namespace bms::sim
