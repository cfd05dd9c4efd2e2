// The one connection to the pack: open and close, line settings, the command
// lock, and shutting down while a worker waits on the line.
#include "core/link/link_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/link/frame.h"
#include "sim_fixture.h"

namespace bms {
namespace {

// Records what the link layer asks of a port.
class RecordingPort : public SerialPort {
 public:
  struct Log {
    LineSettings line;
    PortTimeouts timeouts;
    size_t in_queue = 0, out_queue = 0;
    unsigned purges = 0;
    bool fail_line = false;
    bool closed = false;
  };
  explicit RecordingPort(Log& log) : log_(log) {}
  bool open(const std::string&) override { return open_ = true; }
  void close() override {
    open_ = false;
    log_.closed = true;
  }
  bool is_open() const override { return open_; }
  bool get_line(LineSettings& out) override {
    out = LineSettings{4800, 7, 'E', 2};
    return true;
  }
  bool set_line(const LineSettings& in) override {
    log_.line = in;
    return !log_.fail_line;
  }
  bool set_queue_sizes(size_t in, size_t out) override {
    log_.in_queue = in;
    log_.out_queue = out;
    return true;
  }
  bool set_timeouts(const PortTimeouts& t) override {
    log_.timeouts = t;
    return true;
  }
  bool read(uint8_t*, size_t, size_t* got) override {
    *got = 0;
    return true;
  }
  bool write(const uint8_t*, size_t n, size_t* written) override {
    *written = n;
    return true;
  }
  bool purge(unsigned flags) override {
    log_.purges |= flags;
    return true;
  }
  bool bytes_waiting(size_t* n) override {
    *n = 0;
    return true;
  }
  void cancel() override {}
  PortError error() const override { return log_.fail_line ? PortError::ConfigFailed : PortError::None; }
  std::string error_text() const override { return log_.fail_line ? "line settings refused" : ""; }

 private:
  Log& log_;
  bool open_ = false;
};

TEST(OpenLinkPort, LineSettingsTimeoutsAndQueuesByBaudSelector) {
  struct Case {
    int selector;
    int baud;
  } cases[] = {{0, 9600}, {1, 19200}, {-1, 4800}};
  for (const Case& c : cases) {
    VirtualClock clock;
    RecordingPort::Log log;
    Context ctx(
        clock, [&log](const std::string&) { return std::make_unique<RecordingPort>(log); }, true);
    ctx.FormConfig.ComboBoxBaudRate.set_item_index(c.selector);
    ASSERT_TRUE(OpenLinkPort(ctx));
    EXPECT_EQ(log.line.baud, c.baud) << c.selector;
    EXPECT_EQ(log.line.data_bits, 8);
    EXPECT_EQ(log.line.parity, 'N');
    EXPECT_EQ(log.line.stop_bits, 1);
    EXPECT_EQ(log.in_queue, 1024u);
    EXPECT_EQ(log.out_queue, 1024u);
    EXPECT_EQ(log.timeouts.read_interval, 50);
    EXPECT_EQ(log.timeouts.read_total(1024), 10120);
    EXPECT_EQ(log.timeouts.read_total(96), 5480);
    EXPECT_EQ(log.timeouts.write_total(13), 3065);
    EXPECT_EQ(log.purges & (kPurgeTxClear | kPurgeRxClear), kPurgeTxClear | kPurgeRxClear);
    EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysLink);
    EXPECT_TRUE(CloseLinkPort(ctx));
    EXPECT_FALSE(CloseLinkPort(ctx));
  }
}

TEST(OpenLinkPort, RefusedLineSettingsCloseThePort) {
  VirtualClock clock;
  RecordingPort::Log log;
  log.fail_line = true;
  Context ctx(
      clock, [&log](const std::string&) { return std::make_unique<RecordingPort>(log); }, true);
  EXPECT_FALSE(OpenLinkPort(ctx));
  EXPECT_TRUE(log.closed);
  EXPECT_FALSE(LinkPortOpen(ctx));
  EXPECT_FALSE(CloseLinkPort(ctx));
  EXPECT_EQ(ctx.LinkError.get(), "line settings refused");
}

TEST(OpenLinkPort, FailedOpenLeavesThePortClosedWithAReason) {
  struct Case {
    PortError error;
  } cases[] = {{PortError::NotFound}, {PortError::PermissionDenied}, {PortError::Busy}};
  for (const Case& c : cases) {
    SimBench bench;
    bench.pack.set_open_error(c.error);
    EXPECT_FALSE(OpenLinkPort(bench.ctx));
    EXPECT_FALSE(LinkPortOpen(bench.ctx));
    EXPECT_FALSE(CloseLinkPort(bench.ctx));
    EXPECT_FALSE(bench.ctx.LinkError.get().empty());
    EXPECT_EQ(bench.ctx.FormMain.StatusBarView.item(0), kSysStart);
    // Nothing was sent, and the senders fail quietly on a closed port.
    EXPECT_FALSE(SendRequest(bench.ctx, 0x1001, 1));
    EXPECT_EQ(bench.wire.size(), 0u);
  }
  // An open that fails replaces an open handle with the closed one.
  SimBench again;
  ASSERT_TRUE(OpenLinkPort(again.ctx));
  again.pack.set_open_error(PortError::Busy);
  EXPECT_FALSE(OpenLinkPort(again.ctx));
  EXPECT_FALSE(LinkPortOpen(again.ctx));
  EXPECT_FALSE(CloseLinkPort(again.ctx));
  SimBench unknown;
  unknown.ctx.PortName.set("/dev/does-not-exist");
  EXPECT_FALSE(OpenLinkPort(unknown.ctx));
  EXPECT_FALSE(unknown.ctx.LinkError.get().empty());
}

TEST(SetCommandButtons, LocksTheWholeSetButNeverUnlocksPrint) {
  VirtualClock clock;
  Context ctx(clock, {}, true);
  ctx.FormMain.BitBtnPrint.set_enabled(true);
  SetCommandButtons(ctx, false);
  for (Control* c : {&ctx.FormMain.SpdBtnRUN, &ctx.FormMain.BitBtnPrint, &ctx.FormMain.SpdBtnExit, &ctx.FormMain.SpeedButton_MOSFETSW, &ctx.FormEEPROM.self,
                     &ctx.FormEEPROM.BitBtnEEPPreView, &ctx.FormMain.GroupBoxShippingMode})
    EXPECT_FALSE(c->enabled()) << c->name();
  SetCommandButtons(ctx, true);
  for (Control* c : {&ctx.FormMain.SpdBtnRUN, &ctx.FormMain.SpdBtnExit, &ctx.FormMain.SpeedButton_MOSFETSW, &ctx.FormEEPROM.self, &ctx.FormEEPROM.BitBtnEEPPreView,
                     &ctx.FormMain.SpdBtnLastChgDateGet})
    EXPECT_TRUE(c->enabled()) << c->name();
  EXPECT_FALSE(ctx.FormMain.BitBtnPrint.enabled());
}

TEST(LinkLamps, ToggleOnEveryExchange) {
  SimBench bench;
  ASSERT_TRUE(OpenLinkPort(bench.ctx));
  Control& tx = bench.ctx.FormMain.Shape_TX;
  std::vector<Color> seen;
  for (int i = 0; i < 3; ++i) {
    SendRequest(bench.ctx, 0x0005, 0);
    seen.push_back(tx.color());
    AwaitReplyDecode(bench.ctx);
  }
  EXPECT_EQ(seen, (std::vector<Color>{kRed, kWhite, kRed}));
}

// Quitting while a worker waits for a reply that never comes: the real clock,
// a silent virtual pack and a real worker thread.
TEST(Shutdown, EndsAWorkerBlockedInARead) {
  RealClock clock;
  sim::WireLog wire;
  sim::Scenario scenario = sim::DefaultScenario();
  scenario.silent = true;
  sim::VirtualPack pack(clock, scenario);
  Context ctx(clock, sim::SimPortFactory(pack, &wire), /*inline_workers=*/false);
  ctx.PortName.set(sim::kVirtualPortName);
  std::atomic<bool> in_read{false};
  std::atomic<bool> result{true};
  ASSERT_TRUE(ctx.workers.start([&] {
    if (!OpenLinkPort(ctx)) return;
    SendRequest(ctx, 0x1001, 1);
    in_read = true;
    result = AwaitReplyDecode(ctx);
    CloseLinkPort(ctx);
  }));
  while (!in_read.load()) std::this_thread::yield();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(ctx.Shutdown(2000));
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::milliseconds(500));
  EXPECT_FALSE(result.load());
  EXPECT_EQ(ctx.workers.running(), 0);
}

}  // namespace
}  // namespace bms
