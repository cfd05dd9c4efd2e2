#pragma once
// Fast history download: a reply read that ends as soon as a whole two-frame
// reply with valid checksums has arrived, instead of 50 ms after the last
// byte. Whenever the first 26 bytes leave any doubt (a wrong checksum, a
// frame id out of place, more bytes behind them) the read goes on under the
// usual silence rule and the reply is judged exactly as AwaitReplyDecode
// judges it, so a healthy pack gives the same decoded values either way.
#include "core/context.h"

namespace bms {

// Port time-outs for fast reads: the total time-out of a 26-byte read equals
// that of the usual 1024-byte read, so an unanswered request costs the same.
PortTimeouts FastReadTimeouts();

// Like AwaitReplyDecode (waits while LinkBusy, decodes through DecodeReply).
bool AwaitReplyDecodeFast(Context& ctx);

// AwaitReplyDecodeFast when fast is set, else AwaitReplyDecode.
bool AwaitHistoryReply(Context& ctx, bool fast);

}  // namespace bms
