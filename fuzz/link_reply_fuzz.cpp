// The frame receiver and its reply waiters through a fuzzed port. Every
// verdict is checked against a model of the receiver taken from the bytes
// of the first read: accepted exactly when 13 or 26 bytes came whose frame
// checksums hold, decoded only when the two-frame shape holds, and a
// rejected reply leaves every decoded value as it was.
#include <array>
#include <cstring>

#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "fuzz_support.h"

namespace bms::fuzz {
namespace {

// Mends the frame checksums of a burst that has the length of one or two
// frames, so the waiters behind the receiver get a chance.
void FixFrameChecksums(std::vector<uint8_t>& b) {
  if (b.size() != kFrameSize && b.size() != 2 * kFrameSize) return;
  for (size_t at = 0; at < b.size(); at += kFrameSize) b[at + 11] = FrameChecksum(b.data() + at);
}

// The frame checksum as the link layer defines it (XOR of bytes 0..10),
// written out here so the model does not lean on the code under test.
uint8_t Xor11(const uint8_t* f) {
  uint8_t x = 0;
  for (size_t i = 0; i < 11; ++i) x = static_cast<uint8_t>(x ^ f[i]);
  return x;
}

struct History {
  std::array<std::array<uint8_t, 32>, 3> records{};
  std::array<uint8_t, 3> chunks{};
  std::array<uint16_t, 3> counts{};
  std::string id, barcode, cell_type;
  bool operator==(const History&) const = default;
};

History HistoryOf(Context& ctx) {
  return ctx.History.with([](HistoryState& s) {
    History h;
    for (size_t k = 0; k < 3; ++k) {
      h.records[k] = s.record[k].bytes;
      h.chunks[k] = s.record[k].chunks;
    }
    h.counts = s.count;
    h.id = s.header.Id;
    h.barcode = s.header.Barcode;
    h.cell_type = s.header.CellType;
    return h;
  });
}

}  // namespace
}  // namespace bms::fuzz

using namespace bms;
using namespace bms::fuzz;

BMS_FUZZ_TARGET(link_reply) {
  Input in(data, size);
  const uint8_t mode = in.u8();
  const bool fix = mode & 0x80;
  const int op = mode % 5;
  const uint16_t want_address = in.u16();
  const uint16_t want_length = in.u16();
  Bench& b = SharedBench();
  b.wire->bursts = ReadBursts(in, fix ? FixFrameChecksums : std::function<void(std::vector<uint8_t>&)>());
  if (!OpenLinkPort(b.ctx)) Fail(__FILE__, __LINE__, "the fuzzed port did not open");

  // The model: what the first read returns (the drain purges first, which
  // leaves later bursts alone).
  std::vector<uint8_t> first;
  bool read_fails = false;
  if (!b.wire->bursts.empty()) {
    const Burst& f = b.wire->bursts.front();
    first.assign(f.bytes.begin(), f.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(f.bytes.size(), kReplyReadSize)));
    read_fails = f.fail && f.bytes.size() <= kReplyReadSize;
  }
  const bool overflow = !first.empty() && b.wire->bursts.front().bytes.size() > kReplyReadSize;
  const size_t n = first.size();
  bool accepted = !read_fails && !overflow && (n == kFrameSize || n == 2 * kFrameSize);
  if (accepted) {
    for (size_t at = 0; at < n; at += kFrameSize) accepted = accepted && Xor11(first.data() + at) == first[at + 11];
  }
  const auto rec = [&](size_t frame, size_t i) { return first[frame * kFrameSize + 1 + i]; };
  const bool two_frames = accepted && n == 2 * kFrameSize && rec(0, 0) == 0 && rec(0, 1) == kFrameReplyHeader && rec(1, 0) == 0 && rec(1, 1) == kFrameReplyData && rec(0, 9) == 0;
  const uint16_t address = accepted ? static_cast<uint16_t>(rec(0, 2) << 8 | rec(0, 3)) : 0;
  const uint16_t length = accepted ? static_cast<uint16_t>(rec(0, 4) << 8 | rec(0, 5)) : 0;

  const size_t forms_before = b.changes.mark();
  const History history_before = HistoryOf(b.ctx);
  const auto soc_before = b.ctx.Live.get().SocOcvTable;
  const uint64_t valid_before = b.ctx.ValidReplies.load();

  bool result = false;
  bool decodes = false;  // the model says the waiter hands the data to DecodeReply
  switch (op) {
    case 0: {
      int count = -1;
      const uint8_t r = ReceiveReply(b.ctx, &count);
      BMS_FUZZ_CHECK(r == 0 || r == 0xFF, "the receiver returns 0 or 0xFF");
      result = r == 0;
      BMS_FUZZ_CHECK(result ? count == static_cast<int>(n / kFrameSize) : count == 0, "record count " + std::to_string(count));
      break;
    }
    case 1:
      result = AwaitReplyDecode(b.ctx);
      decodes = two_frames;
      BMS_FUZZ_CHECK(result == two_frames, "AwaitReplyDecode is true exactly for a well-formed two-frame reply");
      break;
    case 2: {
      result = AwaitEcho(b.ctx, want_address, want_length);
      const bool echo = accepted && rec(0, 0) == 0 && rec(0, 1) == kFrameReplyHeader && rec(0, 9) == 0 && address == want_address && length == want_length;
      BMS_FUZZ_CHECK(result == echo, "AwaitEcho is true exactly for a matching header");
      break;
    }
    case 3:
      result = AwaitEchoDecode(b.ctx, want_address, want_length);
      decodes = two_frames;
      BMS_FUZZ_CHECK(result == (two_frames && address == want_address && length == want_length), "AwaitEchoDecode verdict");
      break;
    default:
      result = DrainReply(b.ctx);
      if (!accepted) BMS_FUZZ_CHECK(!result, "DrainReply succeeds on a rejected reply");
      break;
  }
  if (op == 0 || op == 4) {
    if (op == 0) BMS_FUZZ_CHECK(result == accepted, "ReceiveReply verdict differs from the frame checks");
  }

  const auto recs = b.ctx.ReplyRecords.get();
  if (accepted && op != 4) {
    for (size_t k = 0; k < 8; ++k) {
      for (size_t i = 0; i < 10; ++i) {
        const uint8_t want = k < n / kFrameSize ? rec(k, i) : 0;
        BMS_FUZZ_CHECK(recs[k][i] == want, "ReplyRecords[" + std::to_string(k) + "][" + std::to_string(i) + "]");
      }
    }
    BMS_FUZZ_CHECK(b.ctx.ValidReplies.load() == valid_before + 1, "an accepted reply is counted once");
  } else if (!accepted) {
    for (const ReplyRecord& r : recs)
      for (uint8_t v : r) BMS_FUZZ_CHECK(v == 0, "a rejected reply leaves ReplyRecords clear");
    BMS_FUZZ_CHECK(b.ctx.ValidReplies.load() == valid_before, "a rejected reply is not counted");
  }
  if (!decodes) {
    BMS_FUZZ_CHECK(b.changes.since(forms_before).empty(), "a reply that is not decoded changed the display: " + Joined(b.changes.since(forms_before)));
    BMS_FUZZ_CHECK(HistoryOf(b.ctx) == history_before, "a reply that is not decoded changed the history state");
    BMS_FUZZ_CHECK(b.ctx.Live.get().SocOcvTable == soc_before, "a reply that is not decoded changed the SOC-OCV table");
  }
  CloseLinkPort(b.ctx);
  return 0;
}
