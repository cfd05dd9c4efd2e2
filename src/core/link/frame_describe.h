#pragma once
// What a frame on the link means: the cut of incoming bytes into frames,
// the decoded meaning of each frame of the register protocol, the status
// poll and its block, SHU EN, Modbus RTU and the I2C gateway, the verdict of
// its checksum or CRC, and the one text line the frame inspector and the
// trace file show for it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/link/frame_tap.h"

namespace bms {

enum class FrameKind {
  RegisterRequest,
  RegisterPayload,
  ReplyHeader,
  ReplyData,
  RegisterOther,
  StatusPoll,
  StatusBlock,
  TextBlock,  // SHU EN and its acknowledgement
  ModbusRequest,
  ModbusReply,
  GatewayRequest,
  GatewayReply,
  Unframed,
};

enum class FrameVerdict { None, Good, Bad };

struct FrameDescription {
  FrameKind kind = FrameKind::Unframed;
  std::string meaning;  // terminal-safe
  FrameVerdict verdict = FrameVerdict::None;
  std::string verdict_text;         // "checksum ok", "CRC BAD (...)", "-"
  std::optional<uint16_t> address;  // register, Modbus start or gateway register
};

// The lengths of the frames in one burst of incoming bytes, in order; they
// add up to n. Bytes that start no known frame form one unframed piece up to
// the next frame that does.
std::vector<size_t> SplitIncoming(const uint8_t* bytes, size_t n);

// "40 00 01" (upper-case, one blank between bytes).
std::string FrameHex(const uint8_t* bytes, size_t n);

// One row of the inspector, one line of the trace file.
struct FrameRow {
  uint64_t seq = 0;
  int64_t t_ms = 0;
  int64_t wait_ms = -1;  // since the previous frame described; -1 for the first
  FrameDirection dir = FrameDirection::Out;
  uint64_t skipped_before = 0;
  std::string hex;
  FrameDescription d;
};

// Describes frames in the order they passed; keeps what a reply needs of
// its request (the address of a reply data frame, of a Modbus reply) and
// the time of the previous frame.
class FrameDescriber {
 public:
  FrameDescription describe(FrameDirection dir, const uint8_t* bytes, size_t n);
  FrameRow row(const TappedFrame& f);

 private:
  std::optional<uint16_t> register_address_;
  std::optional<uint16_t> modbus_address_;
  std::optional<int64_t> previous_ms_;
};

// The line of a row: time stamp, wait since the previous frame, direction,
// hex bytes, meaning, verdict, separated by " | "; no line end.
std::string FrameLine(const FrameRow& r);
// "-- 3 frames skipped (the queue was full) --"
std::string SkippedLine(uint64_t count);
const char* DirectionText(FrameDirection dir);  // "TX" / "RX"

}  // namespace bms
