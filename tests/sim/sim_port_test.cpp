#include "sim/sim_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "sim/pack_helpers.h"
#include "sim_fixture.h"

namespace bms::sim {
namespace {

using namespace bms::sim::testing;

class SimPortTest : public ::testing::Test {
 protected:
  SimPortTest() {
    EXPECT_TRUE(port.open(kVirtualPortName));
    LineSettings line;
    line.baud = 19200;
    EXPECT_TRUE(port.set_line(line));
    EXPECT_TRUE(port.set_timeouts(PortTimeouts{}));
    clock.advance(1000);
  }

  bool Write(const std::vector<uint8_t>& bytes) {
    size_t n = 0;
    return port.write(bytes.data(), bytes.size(), &n) && n == bytes.size();
  }

  // Arrival time (us) of the last byte the pack sent so far.
  int64_t LastPackByteUs() const {
    const auto pack_entries = wire.pack_bytes();
    return pack_entries.empty() ? -1 : pack_entries.back().end_us();
  }

  VirtualClock clock;
  WireLog wire;
  VirtualPack pack{clock};
  SimPort port{pack, &wire};
  uint8_t buf[1024] = {};
  size_t got = 0;
};

TEST_F(SimPortTest, ReadEndsFiftyMillisecondsAfterTheLastByte) {
  ASSERT_TRUE(Write(Request(0x1001, 1)));
  ASSERT_TRUE(port.read(buf, sizeof buf, &got));
  EXPECT_EQ(got, 26u);
  const int64_t last = LastPackByteUs();
  EXPECT_EQ(last, 1000000 + WireOffsetUs(13, ByteTimeUs(19200)) + 3000 + WireOffsetUs(26, ByteTimeUs(19200)));
  // The clock counts whole milliseconds: the read ends at the first one at or after last + 50 ms.
  EXPECT_EQ(clock.now_ms(), (last + 50000 + 999) / 1000) << wire.dump();
}

TEST_F(SimPortTest, ReadOfAFixedCountEndsWithItsLastByte) {
  ASSERT_TRUE(Write(StatusPoll()));
  ASSERT_TRUE(port.read(buf, 96, &got));
  EXPECT_EQ(got, 96u);
  EXPECT_EQ(buf[0], 0x4A);
  EXPECT_EQ(clock.now_ms(), (LastPackByteUs() + 999) / 1000);
}

TEST_F(SimPortTest, NothingArrivesTotalTimeout) {
  for (size_t n : {size_t{1}, size_t{96}, size_t{1024}}) {
    const int64_t t0 = clock.now_ms();
    ASSERT_TRUE(port.read(buf, n, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(clock.now_ms() - t0, 5000 + 5 * static_cast<int64_t>(n));
  }
}

TEST_F(SimPortTest, BytesThatArrivedBeforeTheReadCountAtOnce) {
  ASSERT_TRUE(Write(StatusPoll()));
  clock.advance(500);
  size_t waiting = 0;
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 96u);
  const int64_t t0 = clock.now_ms();
  ASSERT_TRUE(port.read(buf, 96, &got));
  EXPECT_EQ(got, 96u);
  EXPECT_EQ(clock.now_ms(), t0);
}

TEST_F(SimPortTest, AGapSplitsTheReplyOnlyWhenLongerThanTheInterval) {
  for (int gap : {40, 60}) {
    pack.faults().clear();
    Fault f = Fault::Make(FaultMatch::Register(0x1001), FaultAction::Gap);
    f.ms = gap;
    f.at_byte = 13;
    pack.faults().add(f);
    ASSERT_TRUE(Write(Request(0x1001, 1)));
    ASSERT_TRUE(port.read(buf, sizeof buf, &got));
    if (gap < 50) {
      EXPECT_EQ(got, 26u) << "a 40 ms pause stays inside one read";
    } else {
      EXPECT_EQ(got, 13u) << "a 60 ms pause ends the read";
      ASSERT_TRUE(port.read(buf, sizeof buf, &got));
      EXPECT_EQ(got, 13u);
      EXPECT_EQ(buf[2], kFrameReplyData);
    }
  }
}

TEST_F(SimPortTest, BytesWaitingCountsArrivedBytesOnly) {
  ASSERT_TRUE(Write(StatusPoll()));
  size_t waiting = 99;
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 0u) << "still on the line";
  // 3 poll bytes + 3 ms latency + 10 bytes of the block.
  const double sp = ByteTimeUs(19200);
  clock.advance_to((1000000 + WireOffsetUs(3, sp) + 3000 + WireOffsetUs(10, sp)) / 1000);
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_GT(waiting, 0u);
  EXPECT_LT(waiting, 96u);
}

TEST_F(SimPortTest, PurgeDropsOnlyWhatHasArrived) {
  // Purged right after the request: the answer is still on the line and arrives later.
  ASSERT_TRUE(Write(Request(0x1001, 1)));
  ASSERT_TRUE(port.purge(kPurgeAll));
  ASSERT_TRUE(port.read(buf, sizeof buf, &got));
  EXPECT_EQ(got, 26u);
  // Purged after it arrived: gone.
  ASSERT_TRUE(Write(Request(0x1001, 1)));
  clock.advance(100);
  ASSERT_TRUE(port.purge(kPurgeRxClear));
  size_t waiting = 1;
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 0u);
  // Transmit purges leave the input alone.
  ASSERT_TRUE(Write(Request(0x1001, 1)));
  clock.advance(100);
  ASSERT_TRUE(port.purge(kPurgeTxAbort | kPurgeTxClear));
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 26u);
}

TEST_F(SimPortTest, WireLogHasBothDirectionsWithTimes) {
  ASSERT_TRUE(Write(Request(0x1001, 1)));
  ASSERT_TRUE(port.read(buf, sizeof buf, &got));
  const auto entries = wire.entries();
  ASSERT_EQ(entries.size(), 2u) << wire.dump();
  EXPECT_EQ(entries[0].dir, Direction::HostToPack);
  EXPECT_EQ(entries[0].t_us, 1000000);
  EXPECT_EQ(entries[1].dir, Direction::PackToHost);
  EXPECT_EQ(entries[1].t_us, 1000000 + WireOffsetUs(13, ByteTimeUs(19200)) + 3000);
  EXPECT_EQ(entries[1].bytes.size(), 26u);
  const auto requests = wire.host_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].address, 0x1001);
  EXPECT_EQ(requests[0].length, 1);
  EXPECT_NE(wire.dump().find("40 00 01 10 01 00 01"), std::string::npos);
}

TEST_F(SimPortTest, UnplugEndsTransfersWithGone) {
  ASSERT_TRUE(Write(StatusPoll()));
  pack.unplug_at(1020);  // in the middle of the status block
  ASSERT_FALSE(port.read(buf, 96, &got));
  EXPECT_EQ(port.error(), PortError::Gone);
  EXPECT_LT(got, 96u);
  EXPECT_EQ(clock.now_ms(), 1020);
  EXPECT_NE(port.error_text().find("disappeared"), std::string::npos);
  EXPECT_FALSE(Write(StatusPoll()));
  EXPECT_EQ(port.error(), PortError::Gone);
  port.close();
  SimPort again(pack, &wire);
  EXPECT_FALSE(again.open(kVirtualPortName));
  EXPECT_EQ(again.error(), PortError::NotFound);
  pack.replug();
  EXPECT_TRUE(again.open(kVirtualPortName));
}

TEST_F(SimPortTest, CancelFailsTheCallsUntilClose) {
  port.cancel();
  EXPECT_FALSE(port.read(buf, 10, &got));
  EXPECT_EQ(port.error(), PortError::Cancelled);
  EXPECT_FALSE(Write(StatusPoll()));
  port.close();
  ASSERT_TRUE(port.open(kVirtualPortName));
  EXPECT_TRUE(Write(StatusPoll()));
}

TEST(SimPortOpen, FailuresLookLikeARealPort) {
  struct Case {
    PortError knob;
    const char* text_part;
  };
  const Case cases[] = {{PortError::NotFound, "no such serial port"}, {PortError::PermissionDenied, "dialout"}, {PortError::Busy, "in use by another program"}};
  for (const Case& c : cases) {
    VirtualClock clock;
    VirtualPack pack(clock);
    pack.set_open_error(c.knob);
    SimPort port(pack, nullptr);
    EXPECT_FALSE(port.open(kVirtualPortName));
    EXPECT_EQ(port.error(), c.knob);
    EXPECT_NE(port.error_text().find(c.text_part), std::string::npos) << port.error_text();
    EXPECT_FALSE(port.is_open());
    pack.set_open_error(PortError::None);
    EXPECT_TRUE(port.open(kVirtualPortName));
  }
}

TEST(SimPortOpen, OnePortAtATime) {
  VirtualClock clock;
  VirtualPack pack(clock);
  SimPort a(pack, nullptr), b(pack, nullptr);
  ASSERT_TRUE(a.open(kVirtualPortName));
  EXPECT_FALSE(b.open(kVirtualPortName));
  EXPECT_EQ(b.error(), PortError::Busy);
  a.close();
  EXPECT_TRUE(b.open(kVirtualPortName));
}

TEST(SimPortRealClock, CancelWakesABlockedRead) {
  RealClock clock;
  VirtualPack pack(clock);
  pack.set_silent(true);
  SimPort port(pack, nullptr);
  ASSERT_TRUE(port.open(kVirtualPortName));
  ASSERT_TRUE(port.set_timeouts(PortTimeouts{}));  // 10 s for 1024 bytes
  std::thread canceller([&] { port.cancel(); });
  uint8_t buf[1024];
  size_t got = 0;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.read(buf, sizeof buf, &got));
  const auto took = std::chrono::steady_clock::now() - t0;
  canceller.join();
  EXPECT_EQ(port.error(), PortError::Cancelled);
  EXPECT_LT(took, std::chrono::seconds(2));
}

TEST(SimPortRealClock, ReadsTheAnswerInRealTime) {
  RealClock clock;
  VirtualPack pack(clock);
  SimPort port(pack, nullptr);
  ASSERT_TRUE(port.open(kVirtualPortName));
  ASSERT_TRUE(port.set_timeouts(PortTimeouts{}));
  const auto poll = StatusPoll();
  size_t n = 0;
  ASSERT_TRUE(port.write(poll.data(), poll.size(), &n));
  uint8_t buf[96];
  size_t got = 0;
  ASSERT_TRUE(port.read(buf, sizeof buf, &got));
  EXPECT_EQ(got, 96u);
  EXPECT_EQ(buf[95], StatusBlockSum(buf));
}

// A worker talks to the pack while another thread reads and changes its
// state, as the user interface does (run under ThreadSanitizer in CI).
TEST(SimPortThreads, StateMayBeUsedWhileAWorkerTalks) {
  VirtualClock clock;
  WireLog wire;
  VirtualPack pack(clock);
  SimPort port(pack, &wire);
  ASSERT_TRUE(port.open(kVirtualPortName));
  ASSERT_TRUE(port.set_timeouts(PortTimeouts{}));
  int blocks = 0;
  std::thread worker([&] {
    uint8_t buf[96];
    const auto poll = StatusPoll();
    for (int i = 0; i < 40; ++i) {
      size_t n = 0, got = 0;
      if (port.write(poll.data(), poll.size(), &n) && port.read(buf, sizeof buf, &got) && got == 96) ++blocks;
    }
  });
  for (int i = 0; i < 40; ++i) {
    pack.update([i](Scenario& s) { s.pack_current_ma = -i; });
    const int id = pack.faults().add(Fault::Make(FaultMatch::Register(0x1234), FaultAction::Silence));
    EXPECT_GE(pack.scenario().cell_series, 0);
    EXPECT_FALSE(pack.sleeping());
    pack.faults().remove(id);
    EXPECT_FALSE(wire.dump().empty() && wire.size() > 0);
  }
  worker.join();
  EXPECT_EQ(blocks, 40);
  EXPECT_EQ(pack.status_polls(), 40);
}

// The bench other tests use: the link layer over the virtual pack.
class BenchTest : public SimFixture {};

TEST_F(BenchTest, LinkLayerTalksToThePack) {
  ASSERT_TRUE(OpenLinkPort(ctx));
  ASSERT_TRUE(SendStatusPoll(ctx));
  EXPECT_TRUE(ReadStatusBlock(ctx));
  ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
  EXPECT_TRUE(AwaitReplyDecode(ctx));
  EXPECT_TRUE(CloseLinkPort(ctx));
  EXPECT_EQ(pack.status_polls(), 1);
  const auto requests = wire.host_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].address, 0x1001);
  EXPECT_GT(clock.now_ms(), 50) << "the reads took virtual time";
}

}  // namespace
}  // namespace bms::sim
