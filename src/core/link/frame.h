#pragma once
// The framed register protocol: 13-byte frames, the replies and their
// waiters, the status poll with its 96-byte block and the SHU EN handshake.
#include <array>
#include <cstdint>
#include <string_view>

#include "core/context.h"

namespace bms {

inline constexpr size_t kFrameSize = 13;
inline constexpr size_t kStatusBlockSize = 96;
inline constexpr size_t kReplyReadSize = 1024;
inline constexpr size_t kStatusBufferSize = 134;
inline constexpr uint8_t kFrameStart = 0x40;
inline constexpr uint8_t kFrameEnd = 0x0D;
inline constexpr uint8_t kStatusBlockStart = 0x4A;

enum FrameId : uint8_t { kFrameRequest = 1, kFramePayload = 2, kFrameReplyHeader = 3, kFrameReplyData = 4 };

using LinkFrame = std::array<uint8_t, kFrameSize>;

// Frame builders (pure).
LinkFrame BuildRequestFrame(uint16_t address, uint16_t length, const uint8_t params[3], uint8_t write_count);
LinkFrame BuildPayloadFrame(const uint8_t data[8]);
uint8_t FrameChecksum(const uint8_t* frame);  // XOR of bytes 0..10
// The 8-byte payload of a zero-terminated text: bytes up to the terminator, at most 8.
std::array<uint8_t, 8> PayloadFromText(std::string_view text);
uint8_t StatusBlockSum(const uint8_t* block);  // 8-bit sum of bytes 1..94

// Senders. The waiting forms first sleep while LinkBusy is set.
bool SendRequest(Context& ctx, uint16_t address, uint16_t length, const uint8_t params[3], uint8_t write_count);
bool SendRequest(Context& ctx, uint16_t address, uint16_t length, uint8_t write_count = 0);  // params 00 00 00
bool SendRequestWide(Context& ctx, uint16_t address, uint16_t length, uint32_t param24, uint8_t write_count);
bool SendRequestNoWait(Context& ctx, uint16_t address, uint16_t length, const uint8_t params[3], uint8_t write_count);
bool SendPayload(Context& ctx, std::string_view zero_terminated_text);
bool SendPayloadNoWait(Context& ctx, const uint8_t data[8]);
bool SendPayloadBytes(Context& ctx, const uint8_t data[8]);  // 8 bytes as they are; waits while LinkBusy

// Reads one reply into ReplyRecords: 0 on success, 0xFF on any failure.
uint8_t ReceiveReply(Context& ctx, int* record_count);

bool AwaitEcho(Context& ctx, uint16_t address, uint16_t length);
bool AwaitEchoNoWait(Context& ctx, uint16_t address, uint16_t length);
bool AwaitReplyDecode(Context& ctx);
bool AwaitReplyDecodeNoWait(Context& ctx);
bool AwaitEchoDecode(Context& ctx, uint16_t address, uint16_t length);
bool DrainReply(Context& ctx);

bool SendStatusPoll(Context& ctx);
bool ReadStatusBlock(Context& ctx);
bool SendShuEnable(Context& ctx);
bool AwaitShuEnableAck(Context& ctx);

}  // namespace bms
