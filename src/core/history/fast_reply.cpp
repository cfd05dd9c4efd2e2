#include "core/history/fast_reply.h"

#include <algorithm>
#include <cstring>

#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/monitor/decode.h"

namespace bms {

namespace {

constexpr size_t kTwoFrames = 2 * kFrameSize;
// Wait after a whole reply before the queue is looked at once more: about
// two byte times at the line's speed (1 ms at 19200 baud, 2 ms at 9600).
int SettleMs(Context& ctx) { return BaudForSelector(ctx.FormConfig.ComboBoxBaudRate.item_index()) == 9600 ? 2 : 1; }

bool FrameValid(const uint8_t* f) { return FrameChecksum(f) == f[11]; }

// A read reply as the link layer accepts it: one or two frames, each with its
// checksum.
bool ReplyValid(const uint8_t* buf, size_t got) {
  if (got != kFrameSize && got != kTwoFrames) return false;
  if (!FrameValid(buf)) return false;
  return got != kTwoFrames || FrameValid(buf + kFrameSize);
}

// Header frame (id 3, status 0) followed by a data frame (id 4).
bool TwoFrameReply(const uint8_t* buf, size_t got) {
  return got == kTwoFrames && ReplyValid(buf, got) && buf[1] == 0 && buf[2] == kFrameReplyHeader && buf[10] == 0 && buf[kFrameSize + 1] == 0 &&
         buf[kFrameSize + 2] == kFrameReplyData;
}

// Reads on while bytes keep coming, and stops once the line has been quiet
// for the read interval.
bool ReadUntilSilence(Context& ctx, uint8_t* buf, size_t cap, size_t* got) {
  const int interval = PortTimeouts{}.read_interval;
  for (;;) {
    ctx.clock.sleep_ms(interval);
    if (ctx.clock.interrupted()) return false;
    size_t waiting = 0;
    if (!LinkBytesWaiting(ctx, &waiting)) return false;
    if (waiting == 0) return true;
    if (*got + waiting > cap) {
      PurgeLink(ctx, kPurgeRxClear);
      *got = cap + 1;  // too long for any reply
      return true;
    }
    size_t more = 0;
    if (!LinkRead(ctx, buf + *got, waiting, &more)) return false;
    *got += more;
  }
}

}  // namespace

PortTimeouts FastReadTimeouts() {
  PortTimeouts t;
  const PortTimeouts usual;
  t.read_total_constant = static_cast<int>(usual.read_total(kReplyReadSize) - static_cast<int64_t>(usual.read_total_multiplier) * static_cast<int64_t>(kTwoFrames));
  return t;
}

bool AwaitReplyDecodeFast(Context& ctx) {
  WaitWhileLinkBusy(ctx);
  ctx.ReplyRecords.set({});
  size_t waiting = 0;
  if (LinkBytesWaiting(ctx, &waiting) && waiting > kReplyReadSize) {
    PurgeLink(ctx, kPurgeRxClear);
    SetRxLampIdle(ctx);
    return false;
  }
  uint8_t buf[kReplyReadSize + 1] = {};
  size_t got = 0;
  if (!LinkRead(ctx, buf, kTwoFrames, &got)) {
    SetRxLampIdle(ctx);
    return false;
  }
  bool sure = TwoFrameReply(buf, got);
  if (sure) {
    // A byte sent right behind the reply would be on its way by now.
    ctx.clock.sleep_ms(SettleMs(ctx));
    size_t behind = 0;
    if (!LinkBytesWaiting(ctx, &behind) || behind > 0) sure = false;
  }
  // Fewer than 26 bytes: the read already ended under the silence rule.
  if (!sure && got == kTwoFrames && !ReadUntilSilence(ctx, buf, kReplyReadSize, &got)) {
    SetRxLampIdle(ctx);
    return false;
  }
  if (!ReplyValid(buf, got)) {
    SetRxLampIdle(ctx);
    return false;
  }
  std::array<ReplyRecord, 8> recs{};
  const size_t count = got / kFrameSize;
  for (size_t k = 0; k < count; ++k) std::memcpy(recs[k].data(), buf + k * kFrameSize + 1, 10);
  ctx.ReplyRecords.set(recs);
  ToggleRxLamp(ctx);
  if (!TwoFrameReply(buf, got)) return false;
  const uint16_t address = static_cast<uint16_t>(buf[3] << 8 | buf[4]);
  const uint16_t length = static_cast<uint16_t>(buf[5] << 8 | buf[6]);
  DecodeReply(ctx, address, length, buf + kFrameSize + 3);
  return true;
}

bool AwaitHistoryReply(Context& ctx, bool fast) { return fast ? AwaitReplyDecodeFast(ctx) : AwaitReplyDecode(ctx); }

}  // namespace bms
