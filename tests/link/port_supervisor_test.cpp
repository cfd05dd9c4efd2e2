// The port supervisor against the virtual pack in virtual time: an adapter
// pulled out while polling runs, the stale display and its texts, the watch
// for the adapter, the resume (by itself or at the operator's click), and the
// data log that goes on in the same file.
#include "core/link/port_supervisor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms {
namespace {

// Stands for sysfs: the adapter is there or not; each plug-in makes a new node.
class FakeLocator final : public PortLocator {
 public:
  explicit FakeLocator(Clock& clock) : clock_(clock) {}
  PortSighting look(const std::string& name) override {
    PortSighting s;
    s.path = name;
    s.present = present.load();
    if (s.present) s.node = "node" + std::to_string(generation.load());
    s.usb_serial = "A50285BI";
    return s;
  }
  PortSighting find(const PortSighting& was, const std::string& name) override {
    {
      std::lock_guard<std::mutex> lock(mu);
      find_times.push_back(clock_.now_ms());
    }
    PortSighting s = look(name);
    if (!s.present || s.node == was.node) return PortSighting{};
    return s;
  }
  void unplug() { present = false; }
  void plug_in() {
    ++generation;
    present = true;
  }

  std::atomic<bool> present{true};
  std::atomic<int> generation{1};
  std::mutex mu;
  std::vector<int64_t> find_times;

 private:
  Clock& clock_;
};

// Local time of virtual instant t: the clock starts at 2026-12-09 00:30:15.
std::string LocalAt(int64_t t_ms) {
  const int64_t s = 15 + t_ms / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "2026-12-09 00:%02lld:%02lld", static_cast<long long>(30 + s / 60), static_cast<long long>(s % 60));
  return buf;
}

// Pulled out at 5000 ms, the adapter is missed by the first exchange after
// that: the barcode page read under way (request at 4888) pauses between its
// exchanges, and its next request, at 5095, is the first to fail.
constexpr int64_t kUnplugMs = 5000;
constexpr int64_t kLostMs = 5095;
constexpr int64_t kWatchMs = 500;

// The first look of the watch at or after t.
int64_t LookAtOrAfter(int64_t t_ms) { return kLostMs + (t_ms - kLostMs + kWatchMs - 1) / kWatchMs * kWatchMs; }

class Supervised : public SimFixture {
 protected:
  void Start(PortSupervisor::Mode mode, const std::string& exe = "TQ58_LIT_bmsmon") {
    ctx.app.exe_name = exe;
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.current_dir = tmp.path() + "/";
    CreateApplication(ctx);
    ctx.FormConfig.CobBoxInterfaceName.set_text(sim::kVirtualPortName);
    SpdBtnYESClick(ctx);
    ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
    auto loc = std::make_unique<FakeLocator>(clock);
    locator = loc.get();
    supervisor = std::make_unique<PortSupervisor>(ctx, std::move(loc), mode);
    supervisor->attach();
    supervisor->on_event = [this](const std::string& text) { events.push_back({clock.now_ms(), text}); };
  }

  // The adapter is pulled out at `out_ms` and put back at `in_ms`.
  void Unplug(int64_t out_ms, int64_t in_ms) {
    pack.unplug_at(out_ms);
    clock.at(out_ms, [this] { locator->unplug(); });
    clock.at(in_ms, [this] {
      pack.replug();
      locator->plug_in();
    });
  }

  // RUN until the virtual instant stop_ms; every completed cycle's instant is kept.
  void RunUntil(int64_t stop_ms) {
    ctx.MonitorCycleHook = [this](bool completed) {
      if (completed) cycle_times.push_back(clock.now_ms());
    };
    clock.at(stop_ms, [this] { ctx.RunFlag = 0; });
    ctx.FormMain.SpdBtnRUN.click();
    ctx.MonitorCycleHook = nullptr;
  }

  std::string LogFile() const {
    std::ifstream in(ctx.Log->path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Rows of the log (header left out); each must be whole.
  std::vector<std::string> Rows() const {
    const std::string text = LogFile();
    std::vector<std::string> rows;
    size_t pos = text.find("\r\n");
    if (pos == std::string::npos) return rows;
    for (pos += 2; pos < text.size();) {
      const size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) {
        rows.push_back(text.substr(pos) + "<no line end>");
        break;
      }
      rows.push_back(text.substr(pos, end - pos));
      pos = end + 2;
    }
    return rows;
  }

  int64_t FirstHostMessageAfter(int64_t t_ms) const {
    for (const sim::HostMessage& m : wire.host_messages())
      if (m.t_us >= t_ms * 1000) return m.t_us / 1000;
    return -1;
  }
  size_t HostMessagesBetween(int64_t from_ms, int64_t to_ms) const {
    size_t n = 0;
    for (const sim::HostMessage& m : wire.host_messages())
      if (m.t_us >= from_ms * 1000 && m.t_us < to_ms * 1000) ++n;
    return n;
  }

  struct Event {
    int64_t t_ms;
    std::string text;
  };

  testing::TempFolder tmp;
  FakeLocator* locator = nullptr;
  std::unique_ptr<PortSupervisor> supervisor;
  std::vector<Event> events;
  std::vector<int64_t> cycle_times;
};

TEST_F(Supervised, ResumesByItselfWhenTheAdapterIsBackAndTheLogGoesOnInTheSameFile) {
  Start(PortSupervisor::Mode::Auto);
  Unplug(kUnplugMs, 12200);
  struct Seen {
    bool visible;
    std::string text;
    std::string panel2;
    bool run_shows_stop;
  } during{}, after{};
  std::string log_path_during;
  clock.at(9000, [&] {
    during = {ctx.FormMain.LabelLinkStale.visible(), ctx.FormMain.LabelLinkStale.text(), ctx.FormMain.StatusBarView.item(2), ctx.FormMain.SpdBtnRUN.text() == "STOP"};
    log_path_during = ctx.Log->path();
  });
  clock.at(20000, [&] {
    after = {ctx.FormMain.LabelLinkStale.visible(), ctx.FormMain.LabelLinkStale.text(), ctx.FormMain.StatusBarView.item(2), ctx.FormMain.SpdBtnRUN.text() == "STOP"};
  });
  RunUntil(30000);

  ASSERT_EQ(events.size(), 2u);
  const int64_t lost_ms = events[0].t_ms;
  EXPECT_EQ(lost_ms, kLostMs);
  EXPECT_EQ(events[0].text, "link lost: the serial device VirtualPack disappeared (adapter unplugged?); waiting for the adapter to come back");
  // Looked for every 500 ms from the loss on; the first look after the
  // adapter is back resumes.
  std::vector<int64_t> expected_looks;
  const int64_t resumed_ms = LookAtOrAfter(12200);
  EXPECT_EQ(resumed_ms, 12595);
  for (int64_t t = kLostMs + kWatchMs; t <= resumed_ms; t += kWatchMs) expected_looks.push_back(t);
  EXPECT_EQ(locator->find_times, expected_looks);
  EXPECT_EQ(events[1].t_ms, resumed_ms);
  EXPECT_EQ(events[1].text, "resumed on VirtualPack");

  // Stale mark with the time of the loss and of the last completed cycle before it.
  std::vector<int64_t> before;
  for (int64_t t : cycle_times)
    if (t < lost_ms) before.push_back(t);
  ASSERT_FALSE(before.empty());
  EXPECT_TRUE(during.visible);
  EXPECT_EQ(during.text, "  Values stale: port gone at " + LocalAt(lost_ms) + ", last good sample " + LocalAt(before.back()) + "; waiting for the adapter ");
  EXPECT_EQ(during.panel2, "  Link lost: the serial device VirtualPack disappeared (adapter unplugged?)");
  EXPECT_TRUE(during.run_shows_stop);
  EXPECT_FALSE(after.visible);
  EXPECT_EQ(after.text, "");
  EXPECT_EQ(after.panel2, "  Link resumed on VirtualPack ");
  EXPECT_TRUE(after.run_shows_stop);
  EXPECT_EQ(supervisor->losses(), 1u);
  EXPECT_EQ(supervisor->resumes(), 1u);

  // Nothing on the wire in the gap; polling starts again with a status poll.
  EXPECT_EQ(HostMessagesBetween(lost_ms, resumed_ms), 0u);
  const auto& msgs = wire.host_messages();
  auto next = std::find_if(msgs.begin(), msgs.end(), [](const sim::HostMessage& m) { return m.t_us >= 12595 * 1000; });
  ASSERT_NE(next, msgs.end());
  EXPECT_EQ(next->kind, sim::HostMessage::StatusPoll);
  EXPECT_EQ(next->t_us / 1000, resumed_ms + 10) << "the cycle's 10 ms pause, then the status poll";

  // One file: a whole row for every completed cycle, none in the gap, none skipped.
  EXPECT_EQ(ctx.Log->path(), log_path_during);
  const std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), cycle_times.size());
  size_t rows_after = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + rows[i]);
    EXPECT_EQ(rows[i].back(), ',');
    EXPECT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), 44);
    const std::string time = rows[i].substr(12, 8);  // "yyyy-mm-dd, hh:mm:ss.zzz"
    EXPECT_EQ("2026-12-09 " + time, LocalAt(cycle_times[i]));
    if (cycle_times[i] > resumed_ms) ++rows_after;
  }
  EXPECT_GT(rows_after, 0u);
  EXPECT_EQ(ctx.Log->rows_skipped(), 0u);
  EXPECT_EQ(ctx.FormMain.SpdBtnRUN.text(), "RUN");
  EXPECT_FALSE(ctx.Log->is_open());
}

TEST_F(Supervised, OffersResumeWhenTheAdapterIsBackAndResumesAtTheClick) {
  Start(PortSupervisor::Mode::Offer);
  Unplug(kUnplugMs, 8200);
  clock.at(7300, [this] { ctx.FormMain.BitBtnLinkResume.click(); });  // before the adapter is back: no effect
  struct Seen {
    bool button;
    std::string label;
  } gone{}, back{};
  clock.at(8000, [&] { gone = {ctx.FormMain.BitBtnLinkResume.visible(), ctx.FormMain.LabelLinkStale.text()}; });
  clock.at(11000, [&] { back = {ctx.FormMain.BitBtnLinkResume.visible() && ctx.FormMain.BitBtnLinkResume.enabled(), ctx.FormMain.LabelLinkStale.text()}; });
  clock.at(15200, [this] { ctx.FormMain.BitBtnLinkResume.click(); });
  RunUntil(20000);

  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].t_ms, kLostMs);
  EXPECT_EQ(events[1].t_ms, LookAtOrAfter(8200));
  EXPECT_EQ(events[1].text, "the adapter is back on VirtualPack; Resume offered");
  const int64_t resumed_ms = LookAtOrAfter(15200);
  EXPECT_EQ(resumed_ms, 15595);
  EXPECT_EQ(events[2].t_ms, resumed_ms) << "the first look after the click";
  EXPECT_EQ(events[2].text, "resumed on VirtualPack");
  EXPECT_FALSE(gone.button);
  EXPECT_TRUE(back.button);
  std::vector<int64_t> before;
  for (int64_t t : cycle_times)
    if (t < kLostMs) before.push_back(t);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(back.label,
            "  Values stale: port gone at " + LocalAt(kLostMs) + ", last good sample " + LocalAt(before.back()) + "; the adapter is back on VirtualPack: press Resume ");
  EXPECT_EQ(HostMessagesBetween(kLostMs, resumed_ms), 0u) << "nothing is sent before the operator's click";
  EXPECT_EQ(FirstHostMessageAfter(resumed_ms), resumed_ms + 10);
  EXPECT_FALSE(ctx.FormMain.BitBtnLinkResume.visible());
  EXPECT_FALSE(ctx.FormMain.LabelLinkStale.visible());
}

TEST_F(Supervised, StopDuringTheGapEndsTheRunAsStopDoes) {
  Start(PortSupervisor::Mode::Auto);
  Unplug(kUnplugMs, 60000);
  RunUntil(9000);
  EXPECT_EQ(ctx.FormMain.SpdBtnRUN.text(), "RUN");
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStopPolling);
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(2), "  Link lost: the serial device VirtualPack disappeared (adapter unplugged?)");
  EXPECT_FALSE(ctx.FormMain.LabelLinkStale.visible());
  EXPECT_FALSE(ctx.Log->is_open());
  EXPECT_EQ(clock.now_ms(), LookAtOrAfter(9000)) << "the watch sees STOP at its next look";
  EXPECT_EQ(supervisor->resumes(), 0u);
  EXPECT_EQ(Rows().size(), cycle_times.size());
}

// Where the record-delay timer writes the rows, it keeps its pace through the
// gap: every tick without a complete cycle since the previous row is one row
// not written, in the counter and in its status text; the others write.
TEST_F(Supervised, TimerRowsThroughTheGapAreCountedExactly) {
  Start(PortSupervisor::Mode::Auto);
  ctx.FormMain.TabSheetXPL.set_visible(true);
  Unplug(kUnplugMs, 15200);
  std::vector<int64_t> ticks;
  ctx.TimerRecordDelay->on_timer = [this, &ticks] {
    ticks.push_back(clock.now_ms());
    TimerRecordDelayCntTimer(ctx);
  };
  RunUntil(25000);

  ASSERT_EQ(supervisor->resumes(), 1u);
  ASSERT_FALSE(cycle_times.empty());
  ASSERT_FALSE(ticks.empty());
  for (size_t i = 0; i < ticks.size(); ++i) EXPECT_EQ(ticks[i], cycle_times[0] + 3000 * static_cast<int64_t>(i + 1)) << "tick " << i + 1;
  // The first complete cycle writes a row; each tick then writes one when a
  // cycle completed since the previous row.
  uint32_t written = 1, skipped = 0, skipped_in_gap = 0;
  int64_t since = cycle_times[0];
  for (int64_t tick : ticks) {
    const bool fresh = std::any_of(cycle_times.begin(), cycle_times.end(), [&](int64_t t) { return t > since && t <= tick; });
    if (fresh) {
      ++written;
      since = tick;
    } else {
      ++skipped;
      if (tick > kLostMs && tick < LookAtOrAfter(15200)) ++skipped_in_gap;
    }
  }
  EXPECT_EQ(skipped_in_gap, 3u) << "the ticks at about 6, 9 and 12 s fall into the gap";
  EXPECT_EQ(ctx.Log->rows_written(), written);
  EXPECT_EQ(ctx.Log->rows_skipped(), skipped);
  EXPECT_EQ(Rows().size(), written);
}

}  // namespace
}  // namespace bms
