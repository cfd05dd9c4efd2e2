#pragma once
// The pack's Modbus RTU slave (address 0x60) on the same line as the framed
// protocol: the two 120-register parameter blocks C (0x4207..0x427E) and D
// (0x4307..0x437E), read holding registers (0x03) and the write of several
// registers under 0x16, with exception replies. The contents at start are
// listed in docs/virtual-pack.md. Thread-safe.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace bms::sim {

inline constexpr uint8_t kModbusSlave = 0x60;
inline constexpr uint16_t kBlockCStart = 0x4207;
inline constexpr uint16_t kBlockDStart = 0x4307;
inline constexpr uint16_t kBlockRegisters = 120;

// Exception codes of the replies (function | 0x80, code, CRC).
inline constexpr uint8_t kModbusIllegalFunction = 0x01;
inline constexpr uint8_t kModbusIllegalAddress = 0x02;
inline constexpr uint8_t kModbusIllegalValue = 0x03;

// One request frame found at the front of the pack's input.
struct ModbusRequest {
  uint8_t function = 0;
  uint16_t start = 0;
  uint16_t quantity = 0;
  uint8_t byte_count = 0;     // write functions
  std::vector<uint8_t> data;  // write functions: the data bytes as sent
  size_t size = 0;            // bytes of the whole frame
};

enum class ModbusFront {
  NeedMore,  // a frame to slave 0x60 may be starting: wait for more bytes
  Drop,      // not a frame of this slave (or a bad CRC): drop the first byte
  Frame,     // a whole frame with a good CRC; *req describes it
};

// Looks at the input that starts with the slave address. Frames are told
// apart by their function code: 8 bytes for 0x01..0x06, 9 + byte count for
// 0x0F, 0x10 and 0x16. Other function codes cannot be framed and are noise.
ModbusFront ParseModbusFront(const uint8_t* rx, size_t n, ModbusRequest* req);

// A reply frame with its CRC appended.
std::vector<uint8_t> ModbusFrameWithCrc(std::vector<uint8_t> body);

class ModbusSlave {
 public:
  ModbusSlave();

  // The answer to a well-framed request: the read reply, the 8-byte echo of
  // a write, or an exception reply (illegal function for anything but 0x03
  // and 0x16, illegal data value for a bad quantity or byte count, illegal
  // data address for a range not inside one block).
  std::vector<uint8_t> answer(const ModbusRequest& r);

  // Register contents; nullopt outside the blocks.
  std::optional<uint16_t> value(uint16_t address) const;
  bool set_value(uint16_t address, uint16_t v);
  std::array<uint16_t, kBlockRegisters> block(uint16_t start) const;  // kBlockCStart or kBlockDStart
  // Back to the contents at start.
  void reset();

  // Requests answered (any function), and writes that changed the blocks.
  int requests() const;
  int writes() const;

 private:
  uint16_t* at(uint16_t address);  // mu_ held
  bool inside_one_block(uint16_t start, uint16_t quantity) const;

  mutable std::mutex mu_;
  std::array<uint16_t, kBlockRegisters> c_{}, d_{};
  int requests_ = 0, writes_ = 0;
};

// The initial contents of the blocks (documented in docs/virtual-pack.md).
std::array<uint16_t, kBlockRegisters> InitialBlockC();
std::array<uint16_t, kBlockRegisters> InitialBlockD();

}  // namespace bms::sim
