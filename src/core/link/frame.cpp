#include "core/link/frame.h"

#include <cstring>

#include "core/link/link_port.h"
#include "core/monitor/decode.h"

namespace bms {

uint8_t FrameChecksum(const uint8_t* frame) {
  uint8_t x = 0;
  for (size_t i = 0; i <= 10; ++i) x ^= frame[i];
  return x;
}

uint8_t StatusBlockSum(const uint8_t* block) {
  unsigned sum = 0;
  for (size_t i = 1; i <= 94; ++i) sum += block[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

namespace {

LinkFrame Frame(uint8_t id, const uint8_t data[8]) {
  LinkFrame f{};
  f[0] = kFrameStart;
  f[1] = 0x00;
  f[2] = id;
  std::memcpy(&f[3], data, 8);
  f[11] = FrameChecksum(f.data());
  f[12] = kFrameEnd;
  return f;
}

// Steps 4 to 7 of sending a frame; payload frames check the count first.
bool SendFrame(Context& ctx, const LinkFrame& f, bool payload) {
  PurgeLink(ctx, kPurgeAll);
  size_t written = 0;
  if (!LinkWrite(ctx, f.data(), f.size(), &written)) return false;
  if (payload && written != kFrameSize) return false;
  PurgeLink(ctx, kPurgeRxAbort | kPurgeRxClear);
  ToggleTxLamp(ctx);
  return written == kFrameSize;
}

bool SendRaw(Context& ctx, const uint8_t* bytes, size_t n) {
  WaitWhileLinkBusy(ctx);
  PurgeLink(ctx, kPurgeAll);
  size_t written = 0;
  if (!LinkWrite(ctx, bytes, n, &written)) return false;
  PurgeLink(ctx, kPurgeRxAbort | kPurgeRxClear);
  if (written != n) return false;
  ToggleTxLamp(ctx);
  return true;
}

// Reads a fixed-size block (status block, SHU EN acknowledgement) after the
// queue check; false on a failed or short read.
bool ReadFixed(Context& ctx, uint8_t* buf, size_t n) {
  size_t waiting = 0;
  if (LinkBytesWaiting(ctx, &waiting) && waiting > kStatusBufferSize) {
    PurgeLink(ctx, kPurgeRxClear);
    return false;
  }
  size_t got = 0;
  if (!LinkRead(ctx, buf, n, &got) || got < n) return false;
  ToggleRxLamp(ctx);
  PurgeLink(ctx, kPurgeAll);
  return true;
}

// The two-frame shape check; fills address, length and data on success.
bool TwoFrameShape(Context& ctx, int count, uint16_t* address, uint16_t* length, uint8_t data[8]) {
  if (count < 2) return false;
  const auto recs = ctx.ReplyRecords.get();
  const ReplyRecord& h = recs[0];
  const ReplyRecord& d = recs[1];
  if (h[0] != 0 || h[1] != kFrameReplyHeader || d[0] != 0 || d[1] != kFrameReplyData || h[2 + 7] != 0) return false;
  *address = static_cast<uint16_t>(h[2] << 8 | h[3]);
  *length = static_cast<uint16_t>(h[4] << 8 | h[5]);
  std::memcpy(data, &d[2], 8);
  return true;
}

// Clears ReplyRecords and receives; on failure the RX lamp goes idle.
bool Receive(Context& ctx, int* count) {
  ctx.ReplyRecords.set({});
  if (ReceiveReply(ctx, count) != 0) {
    SetRxLampIdle(ctx);
    return false;
  }
  return true;
}

bool EchoMatches(Context& ctx, uint16_t address, uint16_t length) {
  int count = 0;
  if (!Receive(ctx, &count) || count < 1) return false;
  const ReplyRecord h = ctx.ReplyRecords.get()[0];
  return h[0] == 0 && h[1] == kFrameReplyHeader && h[9] == 0 && (h[2] << 8 | h[3]) == address && (h[4] << 8 | h[5]) == length;
}

bool ReplyDecode(Context& ctx) {
  int count = 0;
  if (!Receive(ctx, &count)) return false;
  uint16_t address = 0, length = 0;
  uint8_t data[8];
  if (!TwoFrameShape(ctx, count, &address, &length, data)) return false;
  DecodeReply(ctx, address, length, data);
  return true;
}

}  // namespace

LinkFrame BuildRequestFrame(uint16_t address, uint16_t length, const uint8_t params[3], uint8_t write_count) {
  const uint8_t data[8] = {static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address & 0xFF),
                           static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length & 0xFF),
                           params[0],
                           params[1],
                           params[2],
                           write_count};
  return Frame(kFrameRequest, data);
}

LinkFrame BuildPayloadFrame(const uint8_t data[8]) { return Frame(kFramePayload, data); }

std::array<uint8_t, 8> PayloadFromText(std::string_view text) {
  std::array<uint8_t, 8> out{};
  for (size_t i = 0; i < text.size() && i < 8 && text[i] != '\0'; ++i) out[i] = static_cast<uint8_t>(text[i]);
  return out;
}

bool SendRequestNoWait(Context& ctx, uint16_t address, uint16_t length, const uint8_t params[3], uint8_t write_count) {
  return SendFrame(ctx, BuildRequestFrame(address, length, params, write_count), false);
}

bool SendRequest(Context& ctx, uint16_t address, uint16_t length, const uint8_t params[3], uint8_t write_count) {
  WaitWhileLinkBusy(ctx);
  return SendRequestNoWait(ctx, address, length, params, write_count);
}

bool SendRequest(Context& ctx, uint16_t address, uint16_t length, uint8_t write_count) {
  const uint8_t params[3] = {0, 0, 0};
  return SendRequest(ctx, address, length, params, write_count);
}

bool SendRequestWide(Context& ctx, uint16_t address, uint16_t length, uint32_t param24, uint8_t write_count) {
  const uint8_t params[3] = {static_cast<uint8_t>(param24 >> 16), static_cast<uint8_t>(param24 >> 8), static_cast<uint8_t>(param24)};
  return SendRequest(ctx, address, length, params, write_count);
}

bool SendPayloadNoWait(Context& ctx, const uint8_t data[8]) { return SendFrame(ctx, BuildPayloadFrame(data), true); }

bool SendPayloadBytes(Context& ctx, const uint8_t data[8]) {
  WaitWhileLinkBusy(ctx);
  return SendPayloadNoWait(ctx, data);
}

bool SendPayload(Context& ctx, std::string_view zero_terminated_text) {
  const auto data = PayloadFromText(zero_terminated_text);
  return SendPayloadBytes(ctx, data.data());
}

uint8_t ReceiveReply(Context& ctx, int* record_count) {
  *record_count = 0;
  size_t waiting = 0;
  if (LinkBytesWaiting(ctx, &waiting) && waiting > kReplyReadSize) {
    PurgeLink(ctx, kPurgeRxClear);
    return 0xFF;
  }
  uint8_t buf[kReplyReadSize] = {};
  size_t got = 0;
  if (!LinkRead(ctx, buf, sizeof buf, &got)) {
    SetRxLampIdle(ctx);
    return 0xFF;
  }
  if (got != kFrameSize && got != 2 * kFrameSize) return 0xFF;
  if (FrameChecksum(buf) != buf[11]) return 0xFF;
  if (got == 2 * kFrameSize && FrameChecksum(buf + kFrameSize) != buf[kFrameSize + 11]) return 0xFF;
  const int count = static_cast<int>(got / kFrameSize);
  std::array<ReplyRecord, 8> recs{};
  for (int k = 0; k < count; ++k) std::memcpy(recs[static_cast<size_t>(k)].data(), buf + static_cast<size_t>(k) * kFrameSize + 1, 10);
  ctx.ReplyRecords.set(recs);
  *record_count = count;
  ++ctx.ValidReplies;
  ToggleRxLamp(ctx);
  return 0;
}

bool AwaitEchoNoWait(Context& ctx, uint16_t address, uint16_t length) { return EchoMatches(ctx, address, length); }

bool AwaitEcho(Context& ctx, uint16_t address, uint16_t length) {
  WaitWhileLinkBusy(ctx);
  return EchoMatches(ctx, address, length);
}

bool AwaitReplyDecodeNoWait(Context& ctx) { return ReplyDecode(ctx); }

bool AwaitReplyDecode(Context& ctx) {
  WaitWhileLinkBusy(ctx);
  return ReplyDecode(ctx);
}

bool AwaitEchoDecode(Context& ctx, uint16_t address, uint16_t length) {
  int count = 0;
  if (!Receive(ctx, &count)) return false;
  uint16_t a = 0, l = 0;
  uint8_t data[8];
  if (!TwoFrameShape(ctx, count, &a, &l, data)) return false;
  DecodeReply(ctx, a, l, data);
  return a == address && l == length;
}

bool DrainReply(Context& ctx) {
  PurgeLink(ctx, kPurgeAll);
  int count = 0;
  if (!Receive(ctx, &count)) return false;
  ctx.ReplyRecords.set({});
  uint8_t scratch[kReplyReadSize];
  size_t got = 0;
  const bool ok = LinkRead(ctx, scratch, sizeof scratch, &got);
  PurgeLink(ctx, kPurgeAll);
  return ok;
}

bool SendStatusPoll(Context& ctx) {
  static const uint8_t kPoll[3] = {0x26, 0x0D, 0x0A};
  return SendRaw(ctx, kPoll, sizeof kPoll);
}

bool ReadStatusBlock(Context& ctx) {
  WaitWhileLinkBusy(ctx);
  uint8_t block[kStatusBufferSize] = {};
  if (!ReadFixed(ctx, block, kStatusBlockSize)) return false;
  if (block[0] != kStatusBlockStart) {
    SetRxLampIdle(ctx);
    return false;
  }
  if (StatusBlockSum(block) != block[95]) return false;
  ++ctx.ValidReplies;
  DecodeStatusBlock(ctx, block);
  return true;
}

bool SendShuEnable(Context& ctx) { return SendRaw(ctx, ctx.ShuEnable.request.data(), ctx.ShuEnable.request.size()); }

bool AwaitShuEnableAck(Context& ctx) {
  WaitWhileLinkBusy(ctx);
  const auto& expected = ctx.ShuEnable.acknowledge;
  uint8_t buf[kStatusBufferSize] = {};
  if (!ReadFixed(ctx, buf, expected.size())) return false;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (buf[i] != expected[i]) {
      SetRxLampIdle(ctx);
      return false;
    }
  }
  return true;
}

}  // namespace bms
