#pragma once
// Every byte on the line between host and pack, with its time stamp, for
// tests that assert what went over the wire, in which order and when.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace bms::sim {

enum class Direction { HostToPack, PackToHost };

// Duration of one byte on the line: start bit, 8 data bits, stop bit.
double ByteTimeUs(int baud);
// Offset of the end of byte i-1 (= start of byte i) after the start of a
// burst; the one rounding rule used by the pack, the ports and the log.
int64_t WireOffsetUs(size_t i, double spacing_us);

struct WireEntry {
  int64_t t_us = 0;  // start of the first byte, microseconds of the clock
  Direction dir = Direction::HostToPack;
  std::vector<uint8_t> bytes;
  double spacing_us = 0;  // per-byte time on the line

  int64_t t_ms() const { return t_us / 1000; }
  // When byte i has completely arrived.
  int64_t arrival_us(size_t i) const { return t_us + WireOffsetUs(i + 1, spacing_us); }
  // When the last byte has arrived (t_us for an empty entry).
  int64_t end_us() const { return t_us + WireOffsetUs(bytes.size(), spacing_us); }
};

// A host message found in the host's bytes.
struct HostMessage {
  enum Kind { Request, Payload, StatusPoll, ShuEnable, Other } kind = Other;
  int64_t t_us = 0;
  int64_t end_us = 0;    // when its last byte has left the host
  uint16_t address = 0;  // Request
  uint16_t length = 0;   // Request
  uint32_t param = 0;    // Request, 24-bit
  uint8_t write_count = 0;
  uint8_t data[8] = {};  // Payload, or the request's data bytes
  std::vector<uint8_t> bytes;
};

// What the host did between two of its messages: the time from the return
// of the synchronous write of a (its last byte has left, on the clock's
// millisecond) to the start of b, in milliseconds.
int64_t HostWaitMs(const HostMessage& a, const HostMessage& b);

class WireLog {
 public:
  // Thread-safe. Entries are kept in time order.
  void record(int64_t t_us, Direction dir, const uint8_t* bytes, size_t n, double spacing_us);
  std::vector<WireEntry> entries() const;
  std::vector<WireEntry> host_writes() const;
  std::vector<WireEntry> pack_bytes() const;
  // The host writes cut into frames, status polls and SHU EN blocks.
  std::vector<HostMessage> host_messages() const;
  // Register requests only (frame id 1), in order.
  std::vector<HostMessage> host_requests() const;
  size_t size() const;
  void clear();
  // Readable listing: time in ms, direction, hex bytes; one line per entry.
  std::string dump() const;

 private:
  mutable std::mutex mu_;
  std::vector<WireEntry> entries_;
};

std::string HexBytes(const uint8_t* bytes, size_t n);

}  // namespace bms::sim
