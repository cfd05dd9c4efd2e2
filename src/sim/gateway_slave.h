#pragma once
// The I2C gateway side of the virtual pack: at 115200 baud the pack answers
// 19-byte gateway frames instead of the register protocol, as the real line
// does. Read requests (code 0x07) to the OZ890 (device 0x60) are answered
// from a 128-byte EEPROM image; fault rules spoil chosen registers.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace bms::sim {

inline constexpr int kGatewayLineBaud = 115200;
inline constexpr size_t kOz890ImageSize = 128;

enum class GatewayFaultAction {
  Silence,    // no reply
  BadCrc,     // byte 17 spoiled
  WrongEcho,  // byte 7 echoes another register
  Short,      // the last 4 bytes are not sent
  Form04,     // reply form 0x04 (value in byte 7, the register echo)
  Form08,     // reply form 0x08 (value in byte 8)
};

struct GatewayFault {
  uint8_t reg = 0;
  GatewayFaultAction action = GatewayFaultAction::Silence;
};

// "REG:ACTION" with ACTION silence | bad-crc | wrong-echo | short | form=4 | form=8.
bool ParseGatewayFault(std::string_view text, GatewayFault& out, std::string& error);

// One reply of the gateway: its bytes start at at_us on the line.
struct GatewayBurst {
  int64_t at_us = 0;
  std::vector<uint8_t> bytes;
};

class GatewaySlave {
 public:
  // Takes the host's bytes (t_us: start of the first, spacing_us per byte)
  // and returns the replies; reply_start_us gives when the pack can answer
  // after the end of a request. Not thread-safe: the pack's lock is held.
  std::vector<GatewayBurst> receive(const uint8_t* data, size_t n, int64_t t_us, double spacing_us, int64_t latency_us, const std::array<uint8_t, kOz890ImageSize>& image,
                                    const std::vector<GatewayFault>& faults);
  int requests() const { return requests_; }
  int requests(uint8_t reg) const;
  void reset_counters();

 private:
  void answer_front(int64_t end_us, int64_t latency_us, const std::array<uint8_t, kOz890ImageSize>& image, const std::vector<GatewayFault>& faults, std::vector<GatewayBurst>& out);
  std::vector<uint8_t> rx_;
  int64_t last_rx_us_ = 0;
  int requests_ = 0;
  std::map<uint8_t, int> per_register_;
};

}  // namespace bms::sim
