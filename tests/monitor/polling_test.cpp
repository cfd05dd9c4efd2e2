// RUN/STOP and the polling loops against the virtual pack in virtual time:
// what goes on the wire, in which order, with which waits, and what the
// display and the data log show afterwards.
#include "core/monitor/polling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
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

using sim::HostMessage;

struct Step {
  HostMessage::Kind kind;
  uint16_t address;
  uint16_t length;
  bool operator==(const Step& o) const { return kind == o.kind && address == o.address && length == o.length; }
};

std::ostream& operator<<(std::ostream& os, const Step& s) {
  const char* kinds[] = {"Request", "Payload", "StatusPoll", "ShuEnable", "Other"};
  return os << kinds[s.kind] << "(" << std::hex << s.address << "," << s.length << std::dec << ")";
}

class Polling : public SimFixture {
 protected:
  explicit Polling(sim::Scenario s = sim::DefaultScenario()) : SimFixture(std::move(s)) {}

  void Start(const std::string& exe = "TQ58_LIT_bmsmon") {
    ctx.app.exe_name = exe;
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.current_dir = tmp.path() + "/";
    CreateApplication(ctx);
    ctx.FormConfig.CobBoxInterfaceName.set_text(sim::kVirtualPortName);
    SpdBtnYESClick(ctx);
  }

  // Presses RUN and lets the loop run until `cycles` completed cycles (or
  // until the virtual instant `stop_at_ms`, whichever is given).
  void Run(int cycles, int64_t stop_at_ms = -1) {
    int done = 0;
    ctx.MonitorCycleHook = [this, cycles, &done](bool completed) {
      if (completed && ++done >= cycles && cycles > 0) ctx.RunFlag = 0;
    };
    if (stop_at_ms >= 0) clock.at(stop_at_ms, [this] { ctx.RunFlag = 0; });
    ctx.FormMain.SpdBtnRUN.click();
    completed_cycles = done;
    ctx.MonitorCycleHook = nullptr;
  }

  std::vector<Step> Steps() const {
    std::vector<Step> out;
    for (const HostMessage& m : wire.host_messages()) out.push_back({m.kind, m.address, m.length});
    return out;
  }

  std::string LogFile() const {
    const std::string path = ctx.Log->path();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  testing::TempFolder tmp;
  int completed_cycles = 0;
};

constexpr auto R = HostMessage::Request;
constexpr auto P = HostMessage::StatusPoll;

TEST_F(Polling, PlainEditionCycleReadsInOrderThenTheBarcode) {
  Start();
  Run(1);
  const std::vector<Step> steps = Steps();
  const std::vector<Step> expected = {
      {R, 0x6600, 0}, {R, 0x6602, 0},                                  // last-charge support probe
      {P, 0, 0},                                                       // status poll
      {R, 0x1001, 1}, {R, 0x1001, 2}, {R, 0x1001, 3}, {R, 0x1001, 4},  // cells
      {R, 0x200B, 0}, {R, 0x0005, 0},                                  // shipping mode, firmware
      {R, 0x6207, 1}, {R, 0x6207, 2}, {R, 0x6207, 3}, {R, 0x6207, 4},  // Auto barcode: external 32 answers
  };
  EXPECT_EQ(steps, expected) << wire.dump();
  // The 96-byte read ends with the block's last byte (no interval wait), so
  // the first cell request follows at once.
  const auto msgs = wire.host_messages();
  const auto pack_bytes = wire.pack_bytes();
  int64_t block_end_us = 0;
  for (const auto& e : pack_bytes)
    if (e.t_us > msgs[2].t_us && e.t_us < msgs[3].t_us) block_end_us = e.end_us();
  EXPECT_EQ(msgs[3].t_us / 1000, (block_end_us + 999) / 1000);
  EXPECT_EQ(ctx.FormMain.SpdBtnRUN.text(), "RUN");
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStopPolling);
  EXPECT_EQ(ctx.FormMain.EditBarCode32.text(), *pack.scenario().barcode_ext32);
  EXPECT_EQ(ctx.FormMain.EditVCell13.text(), std::to_string(pack.scenario().cells_mv[12]));
  EXPECT_EQ(ctx.FormMain.Shape_TX.color(), kWhite);
  EXPECT_TRUE(ctx.FormMain.SpdBtnConfigure.enabled());
  EXPECT_FALSE(ctx.MonitorActive.load());
  EXPECT_FALSE(LinkPortOpen(ctx));
}

TEST_F(Polling, EngineeringTabsAddClockShippingAndDischargeReads) {
  Start();
  ctx.FormMain.TabSheetENG.set_visible(true);
  ctx.FormMain.CheckBoxVCellNoAdjust.set_checked(true);
  Run(1);
  std::vector<Step> after_firmware;
  bool seen = false;
  for (const Step& s : Steps()) {
    if (seen) after_firmware.push_back(s);
    if (s == Step{R, 0x0005, 0}) seen = true;
  }
  after_firmware.resize(8);
  const std::vector<Step> expected = {{R, 0x1005, 0}, {R, 0x200B, 0}, {R, 0x100E, 1}, {R, 0x100B, 1}, {R, 0x100B, 2}, {R, 0x100B, 3}, {R, 0x100B, 4}, {R, 0x0006, 0}};
  EXPECT_EQ(after_firmware, expected) << wire.dump();
  EXPECT_FALSE(ctx.FormMain.EditRTC.empty());
  // Raw statistics over the series count (13 cells in the scenario).
  const auto raw = pack.scenario().raw_cells_mv;
  const auto hi = *std::max_element(raw.begin(), raw.begin() + 13);
  const auto lo = *std::min_element(raw.begin(), raw.begin() + 13);
  EXPECT_EQ(ctx.FormMain.EditVCellMaxNoAdjust.text(), std::to_string(hi));
  EXPECT_EQ(ctx.FormMain.EditVCellMinNoAdjust.text(), std::to_string(lo));
  EXPECT_EQ(ctx.FormMain.EditVCellBalanceNoAdjust.text(), std::to_string(hi - lo));
}

TEST_F(Polling, ReducedLoopReadsOnlyStatusAndCellsWithItsPauses) {
  Start("PQTQ58_LIT_bmsmon");
  Run(2);
  const std::vector<Step> cycle = {{P, 0, 0}, {R, 0x1001, 1}, {R, 0x1001, 2}, {R, 0x1001, 3}, {R, 0x1001, 4}};
  std::vector<Step> expected = cycle;
  expected.insert(expected.end(), cycle.begin(), cycle.end());
  EXPECT_EQ(Steps(), expected) << wire.dump();
}

// The described waits of both loops, pinned to the millisecond on the wire.
// A wait is measured from the return of one write (its last byte sent) to
// the start of the next message; a reply that came during a wait makes the
// read after it end one interval (50 ms) after it started, a silent one at
// its total time-out (10120 ms for a register, 5115 ms for the SHU EN
// acknowledgement).
struct WaitCheck {
  Step from;
  int from_nth;  // 0: first occurrence
  Step to;
  int to_nth;
  int64_t wait_ms;
};

struct WaitCase {
  const char* name;
  const char* exe;
  bool eng_tab, evt_tab, shu_en;
  std::vector<sim::Fault> faults;
  int cycles;
  std::vector<WaitCheck> checks;
};

class PollingWaits : public Polling, public ::testing::WithParamInterface<WaitCase> {
 protected:
  size_t Index(const Step& s, int nth) const {
    const auto msgs = wire.host_messages();
    for (size_t i = 0; i < msgs.size(); ++i)
      if (Step{msgs[i].kind, msgs[i].address, msgs[i].length} == s && nth-- == 0) return i;
    ADD_FAILURE() << "no " << s << " on the wire:\n" << wire.dump();
    return 0;
  }
};

constexpr auto S = HostMessage::ShuEnable;

TEST_P(PollingWaits, AreExact) {
  const WaitCase& c = GetParam();
  for (const sim::Fault& f : c.faults) pack.faults().add(f);
  Start(c.exe);
  ctx.FormMain.TabSheetENG.set_visible(c.eng_tab);
  ctx.FormMain.TabSheetEVT.set_visible(c.evt_tab);
  ctx.FormMain.CheckBox_SHU_EN.set_checked(c.shu_en);
  Run(c.cycles);
  const auto msgs = wire.host_messages();
  for (const WaitCheck& w : c.checks) {
    const size_t a = Index(w.from, w.from_nth), b = Index(w.to, w.to_nth);
    EXPECT_EQ(sim::HostWaitMs(msgs[a], msgs[b]), w.wait_ms) << w.from << " -> " << w.to << "\n" << wire.dump();
  }
}

sim::Fault SilentRegister(uint16_t address) { return sim::Fault::Make(sim::FaultMatch::Register(address), sim::FaultAction::Silence); }

INSTANTIATE_TEST_SUITE_P(
    Loops, PollingWaits,
    ::testing::Values(
        // Probe headers: 100 ms before each read; then the 10 ms cycle pause.
        // Between cycles: the barcode read's 30 ms, its 10 ms at the end and
        // the 10 ms pause.
        WaitCase{"PlainLoop",
                 "TQ58_LIT_bmsmon",
                 false,
                 false,
                 false,
                 {},
                 2,
                 {{{R, 0x6600, 0}, 0, {R, 0x6602, 0}, 0, 100 + 50}, {{R, 0x6602, 0}, 0, {P, 0, 0}, 0, 100 + 50 + 10}, {{R, 0x6207, 4}, 0, {P, 0, 0}, 1, 30 + 50 + 10 + 10}}},
        // Clock 100 ms, shipping mode 50 ms; 0x100E 10 ms before its read.
        WaitCase{"EngineeringReads",
                 "TQ58_LIT_bmsmon",
                 true,
                 false,
                 false,
                 {SilentRegister(0x100E)},
                 1,
                 {{{R, 0x1005, 0}, 0, {R, 0x200B, 0}, 1, 100 + 50}, {{R, 0x200B, 0}, 1, {R, 0x100E, 1}, 0, 50 + 50}, {{R, 0x100E, 1}, 0, {R, 0x6207, 1}, 0, 10 + 10120}}},
        // The production-test tab alone adds the 0x100E read.
        WaitCase{"TestTabDischargeRead", "TQ58_LIT_bmsmon", false, true, false, {SilentRegister(0x100E)}, 1, {{{R, 0x100E, 1}, 0, {R, 0x6207, 1}, 0, 10 + 10120}}},
        // A silent clock: three tries, 100 ms before each read, 300 ms after
        // each failure.
        WaitCase{"ClockRetries",
                 "TQ58_LIT_bmsmon",
                 true,
                 false,
                 false,
                 {SilentRegister(0x1005)},
                 1,
                 {{{R, 0x1005, 0}, 0, {R, 0x1005, 0}, 1, 100 + 10120 + 300},
                  {{R, 0x1005, 0}, 1, {R, 0x1005, 0}, 2, 100 + 10120 + 300},
                  {{R, 0x1005, 0}, 2, {R, 0x200B, 0}, 1, 100 + 10120 + 300}}},
        // SHU EN unanswered: three tries, 100 ms after each; 500 ms after the
        // last send; then the cycle's 10 ms.
        WaitCase{"ShuEnableTries",
                 "TQ58_LIT_bmsmon",
                 false,
                 false,
                 true,
                 {sim::Fault::Make(sim::FaultMatch::ShuEnable(), sim::FaultAction::Silence)},
                 1,
                 {{{S, 0, 0}, 0, {S, 0, 0}, 1, 5115 + 100}, {{S, 0, 0}, 1, {S, 0, 0}, 2, 5115 + 100}, {{S, 0, 0}, 2, {P, 0, 0}, 0, 5115 + 100 + 500 + 10}}},
        // Reduced loop: 200 ms between poll and block read, 50 ms before each
        // cell reply, 100 ms before the next cycle.
        WaitCase{"ReducedLoop",
                 "PQTQ58_LIT_bmsmon",
                 false,
                 false,
                 false,
                 {},
                 2,
                 {{{P, 0, 0}, 0, {R, 0x1001, 1}, 0, 200}, {{R, 0x1001, 1}, 0, {R, 0x1001, 2}, 0, 50 + 50}, {{R, 0x1001, 4}, 0, {P, 0, 0}, 1, 50 + 50 + 100}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Polling, ShuEnableAnsweredWaitsHalfASecondBeforeTheFirstPoll) {
  Start();
  ctx.FormMain.CheckBox_SHU_EN.set_checked(true);
  Run(1);
  const auto msgs = wire.host_messages();
  ASSERT_GE(msgs.size(), 4u);
  size_t shu = 0;
  while (shu < msgs.size() && msgs[shu].kind != S) ++shu;
  ASSERT_LT(shu + 1, msgs.size()) << wire.dump();
  EXPECT_EQ(msgs[shu + 1].kind, P) << "one try when the acknowledgement comes";
  int64_t ack_end_us = 0;
  for (const auto& e : wire.pack_bytes())
    if (e.t_us > msgs[shu].t_us && e.t_us < msgs[shu + 1].t_us) ack_end_us = e.end_us();
  // The 23-byte read ends with the acknowledgement's last byte.
  EXPECT_EQ(msgs[shu + 1].t_us / 1000, (ack_end_us + 999) / 1000 + 500 + 10) << wire.dump();
}

TEST_F(Polling, WriteLogEditionsRefuseRunWithoutBarcode) {
  Start("TQ58_FPL_bmsmon");
  ctx.FormMain.SpdBtnRUN.click();
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(2), "  Write log Barcode can't empty. ");
  EXPECT_EQ(wire.size(), 0u);
  EXPECT_EQ(ctx.FormMain.SpdBtnRUN.text(), "RUN");
}

TEST_F(Polling, RunPressDuringTheEndSequenceIsIgnored) {
  Start();
  ctx.MonitorActive = true;  // a previous run is still closing its port
  ctx.FormMain.SpdBtnRUN.click();
  EXPECT_EQ(ctx.RunFlag.load(), 0);
  EXPECT_EQ(wire.size(), 0u);
}

TEST_F(Polling, StopBeforeTheFirstCompleteCycleIsIgnoredWhereTheXplTabShows) {
  Start();
  ctx.FormMain.TabSheetXPL.set_visible(true);
  ctx.RunFlag = 1;
  ctx.CycleDone = 0;
  SpdBtnRUNClick(ctx);
  EXPECT_EQ(ctx.RunFlag.load(), 1);
  ctx.CycleDone = 1;
  SpdBtnRUNClick(ctx);
  EXPECT_EQ(ctx.RunFlag.load(), 0);
}

TEST_F(Polling, PortThatCannotBeOpenedEndsTheRunWithItsReason) {
  Start();
  pack.set_open_error(PortError::Busy);
  Run(1);
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStopPolling);
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("Cannot open the port"), std::string::npos);
  EXPECT_EQ(ctx.FormMain.SpdBtnRUN.text(), "RUN");
  EXPECT_TRUE(ctx.FormMain.SpdBtnRUN.enabled());
}

class SilentPolling : public Polling {
 protected:
  static sim::Scenario Silent() {
    sim::Scenario s = sim::DefaultScenario();
    s.faults.push_back(sim::Fault::Make(sim::FaultMatch::StatusPoll(), sim::FaultAction::Silence));
    return s;
  }
  SilentPolling() : Polling(Silent()) {}
};

TEST_F(SilentPolling, NoStatusBlockStillReadsTheBarcodeButLogsNothing) {
  Start();
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
  Run(0, 40000);
  int polls = 0, barcode_chunk1 = 0;
  for (const Step& s : Steps()) {
    polls += s.kind == P;
    barcode_chunk1 += s == Step{R, 0x6207, 1};
  }
  EXPECT_GE(polls, 2);
  EXPECT_EQ(barcode_chunk1, polls);
  EXPECT_EQ(LogFile(), DataLogHeader(false));
  EXPECT_EQ(ctx.CycleDone.load(), 0);
}

TEST_F(Polling, UnpluggedAdapterEndsTheRunAndKeepsEveryRowComplete) {
  Start();
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
  pack.unplug_at(3000);
  Run(0);
  EXPECT_EQ(ctx.FormMain.SpdBtnRUN.text(), "RUN");
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("Link lost"), std::string::npos) << ctx.FormMain.StatusBarView.item(2);
  EXPECT_LT(clock.now_ms(), 3000 + 11000);
  const std::string log = LogFile();
  ASSERT_GE(log.size(), DataLogHeader(false).size());
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  size_t rows = 0;
  for (size_t pos = 0; (pos = log.find(",\r\n", pos)) != std::string::npos; pos += 3) ++rows;
  EXPECT_GE(rows, 1u);
}

class LastCharge : public Polling {
 protected:
  static sim::HistoryEntry Charge(int day, int hour, int minute, uint8_t soc, uint8_t flag = sim::kEventChargeStop) {
    sim::HistoryEntry e;
    e.year = 2026;
    e.month = 12;
    e.day = day;
    e.hour = hour;
    e.minute = minute;
    e.soc = soc;
    e.flag = flag;
    return e;
  }
  static sim::Scenario History() {
    sim::Scenario s = sim::DefaultScenario();
    s.lead_records = {Charge(3, 8, 10, 70), Charge(3, 8, 12, 80), Charge(3, 8, 12, 99), Charge(9, 1, 0, 15, sim::kEventChargeStart)};
    s.last_records = {Charge(2, 23, 59, 50)};
    return s;
  }
  LastCharge() : Polling(History()) {}
};

TEST_F(LastCharge, LatestChargeStopWinsAndAnEqualOneDoesNotReplaceIt) {
  Start();
  ASSERT_TRUE(OpenLinkPort(ctx));
  ctx.RunFlag = 1;
  FindLastChargeDate(ctx);
  ctx.RunFlag = 0;
  CloseLinkPort(ctx);
  EXPECT_EQ(ctx.FormMain.EditLastChgDate.text(), "2026-12-3 8:12");
  EXPECT_EQ(ctx.FormMain.EditLastChgSOC.text(), "80");
  // 4 LEAD and 1 LAST records, four chunks each.
  int chunks = 0;
  for (const Step& s : Steps()) chunks += s.address == 0x6601 || s.address == 0x6603;
  EXPECT_EQ(chunks, 5 * 4);
  EXPECT_EQ(ctx.FormMain.ProgressBarLastChgDate.max(), 5 + 2);
}

class NoChargeRecord : public Polling {
 protected:
  static sim::Scenario Discharges() {
    sim::Scenario s = sim::DefaultScenario();
    for (auto* block : {&s.lead_records, &s.last_records})
      for (auto& e : *block)
        if (e.flag == sim::kEventChargeStop) e.flag = sim::kEventChargeStart;
    return s;
  }
  NoChargeRecord() : Polling(Discharges()) {}
};

TEST_F(NoChargeRecord, ShowsAnEmptyDateAndTheStateOfChargeInDecimal) {
  Start();
  ASSERT_TRUE(OpenLinkPort(ctx));
  ctx.RunFlag = 1;
  FindLastChargeDate(ctx);
  ctx.RunFlag = 0;
  CloseLinkPort(ctx);
  EXPECT_EQ(ctx.FormMain.EditLastChgDate.text(), "");
  EXPECT_EQ(ctx.FormMain.EditLastChgSOC.text(), "0");
}

}  // namespace
}  // namespace bms
