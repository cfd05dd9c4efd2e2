// The framed register protocol: frame bytes, the reply checks of every
// waiter, the status block and the waits, against the virtual pack.
#include "core/link/frame.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/link/link_port.h"
#include "sim_fixture.h"

namespace bms {
namespace {

using sim::Fault;
using sim::FaultAction;
using sim::FaultMatch;
using sim::FaultTrigger;

std::vector<uint8_t> V(const LinkFrame& f) { return {f.begin(), f.end()}; }

TEST(LinkFrameBytes, RequestAndPayloadFrames) {
  const uint8_t zero[3] = {0, 0, 0};
  EXPECT_EQ(V(BuildRequestFrame(0x1001, 1, zero, 0)), (std::vector<uint8_t>{0x40, 0x00, 0x01, 0x10, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x51, 0x0D}));
  const uint8_t rec[3] = {0x01, 0x02, 0x03};
  const LinkFrame wide = BuildRequestFrame(0x6601, 4, rec, 0);
  EXPECT_EQ(wide[7], 0x01);
  EXPECT_EQ(wide[9], 0x03);
  EXPECT_EQ(wide[11], FrameChecksum(wide.data()));

  struct PayloadCase {
    std::string text;
    std::vector<uint8_t> data;
  } cases[] = {
      {std::string("\x01", 1), {0x01, 0, 0, 0, 0, 0, 0, 0}},
      {"", {0, 0, 0, 0, 0, 0, 0, 0}},
      {"ABCDEFGHIJKL", {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}},
      {std::string("AB\0CD", 5), {'A', 'B', 0, 0, 0, 0, 0, 0}},
  };
  for (const PayloadCase& c : cases) {
    const auto data = PayloadFromText(c.text);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()), c.data) << c.text;
    const LinkFrame f = BuildPayloadFrame(data.data());
    EXPECT_EQ(f[0], 0x40);
    EXPECT_EQ(f[2], kFramePayload);
    EXPECT_EQ(f[12], 0x0D);
  }
}

class LinkExchange : public SimFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenLinkPort(ctx)); }
  void TearDown() override { CloseLinkPort(ctx); }
  void Fault(FaultMatch m, FaultAction a, FaultTrigger t = {}) { pack.faults().add(Fault::Make(m, a, t)); }
};

TEST_F(LinkExchange, RegisterReadGoesOutAsOneFrameAndEndsFiftyMsAfterTheReply) {
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  const int64_t sent_ms = clock.now_ms();
  ASSERT_TRUE(AwaitReplyDecode(ctx));
  const auto writes = wire.host_writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes, (std::vector<uint8_t>{0x40, 0x00, 0x01, 0x10, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x51, 0x0D}));
  const auto replies = wire.pack_bytes();
  ASSERT_FALSE(replies.empty());
  size_t reply_bytes = 0;
  for (const auto& r : replies) reply_bytes += r.bytes.size();
  EXPECT_EQ(reply_bytes, 26u);
  // The read ends 50 ms (the interval time-out) after the last reply byte.
  EXPECT_EQ(clock.now_ms(), (replies.back().end_us() + 999) / 1000 + 50) << wire.dump();
  EXPECT_LT(clock.now_ms() - sent_ms, 100);
  const auto recs = ctx.ReplyRecords.get();
  EXPECT_EQ(recs[0][1], kFrameReplyHeader);
  EXPECT_EQ(recs[1][1], kFrameReplyData);
  EXPECT_EQ(ctx.FormMain.EditVCell1.text(), std::to_string(pack.scenario().cells_mv[0]));
  EXPECT_EQ(ctx.FormMain.Shape_TX.color(), kRed);
  EXPECT_EQ(ctx.FormMain.Shape_RX.color(), kLime);
}

TEST_F(LinkExchange, MalformedRepliesAreRejectedAndNothingIsDecoded) {
  enum Waiter { ReplyDecode, Echo, EchoDecode };
  struct Case {
    const char* name;
    FaultAction action;
    int frame, count;
    size_t at_byte;
    int64_t ms;
    Waiter waiter;
    bool expected;
  } cases[] = {
      {"bad checksum, first frame", FaultAction::BadChecksum, 0, 1, 0, 0, ReplyDecode, false},
      {"bad checksum, second frame", FaultAction::BadChecksum, 1, 1, 0, 0, ReplyDecode, false},
      {"three frames", FaultAction::ExtraFrame, 0, 1, 0, 0, ReplyDecode, false},
      {"one byte short", FaultAction::DropBytes, 0, 1, 0, 0, ReplyDecode, false},
      {"one byte long", FaultAction::AddBytes, 0, 1, 0, 0, ReplyDecode, false},
      {"header only", FaultAction::DropBytes, 0, 13, 0, 0, ReplyDecode, false},
      {"header only satisfies the echo", FaultAction::DropBytes, 0, 13, 0, 0, Echo, true},
      {"status 1", FaultAction::StatusByte, 0, 1, 0, 0, ReplyDecode, false},
      {"status 1, echo", FaultAction::StatusByte, 0, 1, 0, 0, Echo, false},
      {"status 1, echo-decode", FaultAction::StatusByte, 0, 1, 0, 0, EchoDecode, false},
      {"gap of 60 ms between the frames", FaultAction::Gap, 0, 1, 13, 60, ReplyDecode, false},
      {"gap of 40 ms is one burst", FaultAction::Gap, 0, 1, 13, 40, ReplyDecode, true},
      {"noise in front", FaultAction::Noise, 0, 3, 0, 0, ReplyDecode, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pack.faults().clear();
    ctx.FormMain.EditVCell1.set_text("untouched");
    sim::Fault f = Fault::Make(FaultMatch::Register(0x1001), c.action);
    f.frame = c.frame;
    f.count = c.count;
    f.at_byte = c.at_byte;
    f.ms = c.ms;
    f.value = 1;
    pack.faults().add(f);
    ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
    bool ok = false;
    switch (c.waiter) {
      case ReplyDecode:
        ok = AwaitReplyDecode(ctx);
        break;
      case Echo:
        ok = AwaitEcho(ctx, 0x1001, 1);
        break;
      case EchoDecode:
        ok = AwaitEchoDecode(ctx, 0x1001, 1);
        break;
    }
    EXPECT_EQ(ok, c.expected) << wire.dump();
    if (!c.expected) {
      EXPECT_EQ(ctx.FormMain.EditVCell1.text(), "untouched");
    }
    // Whatever is left of a spoiled reply is consumed before the next case.
    clock.advance(200);
  }
}

TEST_F(LinkExchange, EchoOfAnotherAddressFailsButEchoDecodeStillDecodes) {
  sim::Fault f = Fault::Make(FaultMatch::Register(0x1001), FaultAction::WrongEcho);
  f.echo_address = 0x1001;
  pack.faults().add(f);
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  EXPECT_FALSE(AwaitEcho(ctx, 0x1001, 2));
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  // The reply decodes (the cells show) but it is not the page asked for.
  EXPECT_FALSE(AwaitEchoDecode(ctx, 0x1001, 2));
  EXPECT_EQ(ctx.FormMain.EditVCell1.text(), std::to_string(pack.scenario().cells_mv[0]));
}

TEST_F(LinkExchange, SilentPackTimesOutAfterTheTotalReadTimeAndIdlesTheRxLamp) {
  ctx.FormMain.Shape_RX.set_color(kLime);
  pack.set_silent(true);
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  const int64_t t0 = clock.now_ms();
  EXPECT_FALSE(AwaitReplyDecode(ctx));
  EXPECT_EQ(clock.now_ms() - t0, 5000 + 5 * 1024);
  EXPECT_EQ(ctx.FormMain.Shape_RX.color(), kWhite);
}

TEST_F(LinkExchange, StatusBlockChecks) {
  ASSERT_TRUE(SendStatusPoll(ctx));
  EXPECT_EQ(wire.host_writes().back().bytes, (std::vector<uint8_t>{0x26, 0x0D, 0x0A}));
  EXPECT_TRUE(ReadStatusBlock(ctx));
  EXPECT_EQ(ctx.FormMain.Shape_RX.color(), kLime);
  EXPECT_EQ(ctx.FormMain.EditRSOC.text(), std::to_string(pack.scenario().rsoc));

  // A bad sum: the lamp has toggled, the block is refused.
  pack.faults().add(Fault::Make(FaultMatch::StatusPoll(), FaultAction::BadChecksum));
  ctx.FormMain.EditRSOC.set_text("untouched");
  ASSERT_TRUE(SendStatusPoll(ctx));
  EXPECT_FALSE(ReadStatusBlock(ctx));
  EXPECT_EQ(ctx.FormMain.Shape_RX.color(), kWhite);  // toggled from lime
  EXPECT_EQ(ctx.FormMain.EditRSOC.text(), "untouched");

  // A wrong first byte: the lamp goes idle.
  pack.faults().clear();
  sim::Fault noise = Fault::Make(FaultMatch::StatusPoll(), FaultAction::Noise);
  noise.count = 1;
  noise.seed = 7;
  pack.faults().add(noise);
  ctx.FormMain.Shape_RX.set_color(kWhite);
  ASSERT_TRUE(SendStatusPoll(ctx));
  EXPECT_FALSE(ReadStatusBlock(ctx));
  EXPECT_EQ(ctx.FormMain.Shape_RX.color(), kWhite);
  EXPECT_EQ(ctx.FormMain.EditRSOC.text(), "untouched");

  // Nothing at all: the 96-byte read gives up after 5000 + 5 x 96 ms.
  pack.set_silent(true);
  clock.advance(100);
  ASSERT_TRUE(SendStatusPoll(ctx));
  const int64_t t0 = clock.now_ms();
  EXPECT_FALSE(ReadStatusBlock(ctx));
  EXPECT_EQ(clock.now_ms() - t0, 5480);
}

TEST_F(LinkExchange, ShuEnableHandshake) {
  ASSERT_TRUE(SendShuEnable(ctx));
  EXPECT_EQ(wire.host_writes().back().bytes, ctx.ShuEnable.request);
  EXPECT_EQ(ctx.ShuEnable.request.size(), 22u);
  EXPECT_EQ(ctx.ShuEnable.acknowledge.size(), 23u);
  EXPECT_TRUE(AwaitShuEnableAck(ctx));
  Fault(FaultMatch::ShuEnable(), FaultAction::BadChecksum);
  ASSERT_TRUE(SendShuEnable(ctx));
  EXPECT_FALSE(AwaitShuEnableAck(ctx));
}

TEST_F(LinkExchange, WaitingSenderHoldsOffWhileTheLinkIsBorrowed) {
  ctx.LinkBusy = 1;
  const int64_t t0 = clock.now_ms();
  clock.at(t0 + 250, [this] { ctx.LinkBusy = 0; });
  ASSERT_TRUE(SendRequest(ctx, 0x0005, 0));
  EXPECT_EQ(wire.host_writes().back().t_ms(), t0 + 250);
  EXPECT_TRUE(AwaitReplyDecode(ctx));
  // The non-waiting forms belong to the borrower and go at once.
  ctx.LinkBusy = 1;
  const int64_t t1 = clock.now_ms();
  const uint8_t zero[3] = {0, 0, 0};
  ASSERT_TRUE(SendRequestNoWait(ctx, 0x0005, 0, zero, 0));
  EXPECT_EQ(wire.host_writes().back().t_ms(), t1);
  EXPECT_TRUE(AwaitReplyDecodeNoWait(ctx));
  ctx.LinkBusy = 0;
}

TEST_F(LinkExchange, WriteIsRequestPauseAndPayloadThenEcho) {
  ASSERT_TRUE(SendRequest(ctx, 0x4209, 0, 1));
  clock.sleep_ms(100);
  ASSERT_TRUE(SendPayload(ctx, std::string("\x01", 1)));
  EXPECT_TRUE(AwaitEcho(ctx, 0x4209, 0));
  EXPECT_TRUE(pack.shipping_mode());
  const auto msgs = wire.host_messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(sim::HostWaitMs(msgs[0], msgs[1]), 100);
  // DrainReply consumes an acknowledgement and waits out the total time of
  // its second read when nothing follows.
  ASSERT_TRUE(SendRequest(ctx, 0x4209, 0, 1));
  ASSERT_TRUE(SendPayload(ctx, std::string("\x00", 1)));
  EXPECT_TRUE(DrainReply(ctx));
  // The acknowledgement's read ends 50 ms after it; the second read waits
  // its whole total time-out.
  const int64_t echo_read_end_ms = (wire.pack_bytes().back().end_us() + 50000 + 999) / 1000;
  EXPECT_EQ(clock.now_ms() - echo_read_end_ms, 10120);
  EXPECT_EQ(ctx.ReplyRecords.get()[0][1], 0);
}

// A borrowed exchange puts its payload 8 ms after its request; at 9600 baud
// the request alone takes 13.5 ms on the line. The payload's send purges
// both directions first: that purge must not cut the request.
TEST_F(LinkExchange, APayloadEightMsAfterItsRequestLeavesTheRequestWhole) {
  CloseLinkPort(ctx);
  ctx.FormConfig.ComboBoxBaudRate.select(0);  // 9600
  ASSERT_TRUE(OpenLinkPort(ctx));
  const uint8_t params[3] = {};
  ASSERT_TRUE(SendRequestNoWait(ctx, 0x4209, 0, params, 1));
  clock.sleep_ms(8);
  const uint8_t on[8] = {0x01};
  ASSERT_TRUE(SendPayloadNoWait(ctx, on));
  EXPECT_TRUE(AwaitEchoNoWait(ctx, 0x4209, 0)) << wire.dump();
  EXPECT_TRUE(pack.shipping_mode());
  const auto msgs = wire.host_messages();
  ASSERT_EQ(msgs.size(), 2u) << wire.dump();
  EXPECT_EQ(msgs[0].kind, sim::HostMessage::Request);
  EXPECT_EQ(msgs[0].bytes.size(), 13u);
  EXPECT_EQ(msgs[0].end_us - msgs[0].t_us, sim::WireOffsetUs(13, sim::ByteTimeUs(9600)));
  EXPECT_EQ(msgs[1].kind, sim::HostMessage::Payload);
  EXPECT_EQ(sim::HostWaitMs(msgs[0], msgs[1]), 8);
}

TEST_F(LinkExchange, VanishedDeviceIsReportedAtOnce) {
  pack.unplug_at(clock.now_ms() + 5);
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  clock.advance(10);
  const int64_t t0 = clock.now_ms();
  EXPECT_FALSE(AwaitReplyDecode(ctx));
  EXPECT_LT(clock.now_ms() - t0, 50);
  EXPECT_TRUE(ctx.LinkLost.load());
  EXPECT_FALSE(ctx.LinkError.get().empty());
}

}  // namespace
}  // namespace bms
