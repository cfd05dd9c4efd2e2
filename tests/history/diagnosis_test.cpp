// Diagnosis report: the pure rules (flag text, dates from the barcode, the
// history summary on crafted histories) and the reading pass against the
// virtual pack.
#include "core/history/diagnosis.h"

#include <gtest/gtest.h>

#include "core/history/summary.h"
#include "core/link/link_port.h"
#include "sim_fixture.h"

namespace bms::testing {
namespace {

TEST(DiagnosisRulesTest, ProtectionFlagText) {
  const std::pair<uint8_t, const char*> cases[] = {{0x00, "NONE"}, {0x05, "OV,OC"}, {0x02, ",UV"}, {0x3F, "OV,UV,OC,SC,OT,UT"}, {0x30, ",OT,UT"}};
  for (const auto& [flags, text] : cases) EXPECT_EQ(ProtectionFlagText(flags), text) << int(flags);
}

TEST(DiagnosisRulesTest, ManufacturingAndExpiryDatesFromTheBarcode) {
  struct Case {
    const char* barcode;
    const char* made;
    const char* expires;  // nullptr: none shown
  } cases[] = {
      {"WX4410CA-X21ABCDE", "2013-5-25", "2014-11-25"},  // last eight "X21ABCDE": week 21
      {"ABCDEFGH13030QQQQQ", "2013-7-27", "2015-1-27"},  // last eight "030QQQQQ": week 30
      {"P01", "2013-1-5", "2014-7-5"},                   // shorter than eight: its own first bytes
      {"XXXXXXXX052XXXXX", "2013-12-28", "2015-6-28"},
      {"XXXXXXXX035XXXXX", "2013-8-31", "2015-2-28"},  // 31 February does not exist
      {"XXXXXXXX000XXXXX", "2013-0-0", nullptr},
      {"XXXXXXXX053XXXXX", "2013-0-0", nullptr},
      {"", "2013-0-0", nullptr},
  };
  for (const Case& c : cases) {
    ReportDate made;
    const bool ok = ManufacturingDate(BarcodeWeek(c.barcode), &made);
    EXPECT_EQ(ok ? ReportDateText(made) : "2013-0-0", c.made) << c.barcode;
    EXPECT_EQ(ok, c.expires != nullptr) << c.barcode;
    if (ok && c.expires) {
      EXPECT_EQ(ReportDateText(ExpiryDate(made)), c.expires) << c.barcode;
    }
  }
}

// ---------------------------------------------------------------- summary

RecordFields R(int y, int mo, int d, int h, int mi, int soc, uint8_t flag) {
  RecordFields f;
  f.year = y;
  f.month = mo;
  f.day = d;
  f.hour = h;
  f.minute = mi;
  f.soc = static_cast<uint8_t>(soc);
  f.flag = flag;
  return f;
}

SummaryLabels Scan(const std::vector<RecordFields>& records, int present_soc = 50, uint32_t design = 8200) {
  HistorySummary s = NewHistorySummary(present_soc);
  SummaryLabels out;
  for (const RecordFields& f : records) ApplySummaryRules(s, f, design, out);
  return out;
}

constexpr uint8_t kStop = 0x82, kDsgStop = 0x84, kDeep = 0x87;

TEST(HistorySummaryTest, ChargesInAnyTimeOrder) {
  const SummaryLabels l = Scan({R(2013, 12, 8, 9, 5, 99, kStop), R(2013, 11, 2, 10, 0, 85, kStop)});
  EXPECT_EQ(l.LastChgDate, "2013-12-8 9:5");
  EXPECT_EQ(l.LastChgSOC, "99 %");
  EXPECT_EQ(l.FstFullChgDate, "2013-11-2 10:0");
  EXPECT_EQ(l.LastFullChgDate, "2013-12-8 9:5");
}

TEST(HistorySummaryTest, FullChargeNeedsMoreThanEightyAndEqualMinutesReplaceNothing) {
  SummaryLabels l = Scan({R(2013, 5, 1, 8, 0, 80, kStop)});
  EXPECT_FALSE(l.FstFullChgDate);
  EXPECT_EQ(l.LastChgSOC, "80 %");
  // Same minute, other second and SOC: the first one seen stays.
  l = Scan({R(2013, 5, 1, 8, 0, 90, kStop), R(2013, 5, 1, 8, 0, 95, kStop)});
  EXPECT_EQ(l.LastChgSOC, "90 %");
  // No full charge ever: the labels stay untouched.
  l = Scan({R(2013, 5, 1, 8, 0, 60, kStop), R(2013, 5, 2, 8, 0, 70, kDsgStop)});
  EXPECT_FALSE(l.FstFullChgDate);
  EXPECT_FALSE(l.LastFullChgDate);
}

TEST(HistorySummaryTest, DepletionKeepsTheLowestSocAndItsDates) {
  const SummaryLabels l = Scan({R(2013, 6, 10, 8, 0, 20, kDsgStop), R(2013, 6, 1, 8, 0, 5, kDsgStop), R(2013, 6, 20, 8, 0, 40, kDsgStop), R(2013, 6, 25, 8, 0, 5, kDsgStop)});
  EXPECT_EQ(l.FstDsgDepletionDate, "2013-6-1 8:0");
  EXPECT_EQ(l.LastDsgDepletionDate, "2013-6-25 8:0");
}

TEST(HistorySummaryTest, TimeAsleepAtZeroBeforeTheNextCharge) {
  struct Case {
    std::vector<RecordFields> records;
    std::optional<std::string> duration;
    std::optional<std::string> capacity;
  } cases[] = {
      {{R(2013, 10, 30, 22, 0, 2, kDsgStop), R(2013, 10, 30, 22, 0, 0, kDeep), R(2013, 11, 1, 3, 0, 90, kStop)}, "1 days 5 hours", "164 mAh"},
      {{R(2013, 12, 5, 8, 0, 0, kDeep), R(2013, 12, 5, 9, 0, 90, kStop)}, "1 hour", "4100 mAh"},  // present SOC 50 %
      {{R(2013, 12, 5, 8, 10, 0, kDeep), R(2013, 12, 5, 8, 50, 90, kStop)}, "0 hour", "4100 mAh"},
      {{R(2013, 12, 5, 8, 0, 0, kDeep), R(2013, 12, 6, 8, 0, 90, kStop)}, "1 day", "4100 mAh"},
      {{R(2013, 12, 5, 8, 0, 0, kDeep), R(2013, 12, 5, 13, 0, 90, kStop)}, "5 hours", "4100 mAh"},
      {{R(2013, 12, 5, 8, 0, 0, kDeep), R(2013, 12, 5, 9, 0, 0, kDeep), R(2013, 12, 5, 10, 0, 90, kStop)}, std::nullopt, std::nullopt},
      // A charge stamped before the sleep is not the recharge.
      {{R(2013, 12, 5, 8, 0, 0, kDeep), R(2013, 12, 4, 9, 0, 90, kStop)}, std::nullopt, std::nullopt},
      // Leap day on the way.
      {{R(2016, 2, 28, 23, 0, 0, kDeep), R(2016, 3, 1, 1, 0, 90, kStop)}, "1 days 2 hours", "4100 mAh"},
  };
  for (const Case& c : cases) {
    const SummaryLabels l = Scan(c.records);
    EXPECT_EQ(l.MaxDurationLowSOC0Hours, c.duration) << c.records.size();
    EXPECT_EQ(l.SOC0ChgCap, c.capacity);
  }
  const SummaryLabels l = Scan({R(2013, 12, 5, 8, 0, 0, kDeep), R(2013, 12, 5, 9, 0, 90, kStop)});
  EXPECT_EQ(l.MaxChgLowSOCsinceDate, "2013-12-5 8:0");
  EXPECT_EQ(l.ExtDsgRecAtDate, "2013-12-5 9:0");
}

// ---------------------------------------------------------------- reading pass

sim::HistoryEntry E(int y, int mo, int d, int h, int mi, uint8_t soc, uint8_t flag, bool bad = false) {
  sim::HistoryEntry e;
  e.year = y;
  e.month = mo;
  e.day = d;
  e.hour = h;
  e.minute = mi;
  e.soc = soc;
  e.flag = flag;
  e.bad_checksum = bad;
  return e;
}

sim::Scenario WxPack() {
  sim::Scenario s = sim::DefaultScenario();
  s.model_name = "WX4410CA";
  s.cell_series = 3;
  s.cell_parallel = 4;
  s.cells_mv = {3878, 3882, 3880};
  s.raw_cells_mv = s.cells_mv;
  s.design_capacity_mah = 8200;
  s.protection_flags = 0x05;
  s.barcode_ext32 = "WX4410CA-X21ABCDE";
  s.lead_records = {E(2013, 10, 30, 21, 0, 2, kDsgStop), E(2013, 10, 30, 22, 0, 0, kDeep)};
  // Out of time order, one with a bad checksum (still scanned as it came).
  s.last_records = {E(2013, 12, 8, 9, 5, 99, kStop), E(2013, 11, 1, 3, 0, 85, kStop), E(2014, 1, 1, 1, 0, 100, kStop, true)};
  return s;
}

class DiagnosisPassTest : public SimFixture {
 protected:
  DiagnosisPassTest() : SimFixture(WxPack()) {
    WireHistoryAndDiagnosis(ctx);
    SetCommandButtons(ctx, true);  // as after the connection dialog's Yes
  }
  std::string L(const char* name) { return ctx.FormDiagnosisReport.get(name).text(); }
};

TEST_F(DiagnosisPassTest, ReadFillsEveryLabel) {
  ctx.FormMain.BitBtnPrintReportRead.click();
  const std::pair<const char*, const char*> expected[] = {
      {"Label_DateNow", "2026-12-09"},
      {"Label_ReadOutDate", "2026-12-09"},
      {"Label_ModelName", "WX4410CA"},
      {"Label_DC", "8200 mAh"},
      {"Label_CellCfg", "3S4P"},
      {"Label_CycleCnt", "37"},
      {"Label_PSOC", "65 %"},
      {"Label_ChgDsgCurrentmA", "-1520 mA"},
      {"Label_PackVoltage", "11640 mV"},
      {"Label_FCC", "9650 mAh"},
      {"Label_T1", "25 Deg. C"},
      {"Label_ProtectFlag", "OV,OC"},
      {"Label_MaxCellVolt", "3882 mV"},
      {"Label_MinCellVolt", "3878 mV"},
      {"Label_CellImbalance", "4 mV"},
      {"Label_CellType", "INR18650-25R"},
      {"Label_TotalChgEvtCnt", "40 times"},
      {"Label_TotalWarrantyCnt", "40 times"},
      {"Label_TotalDsgEvtCnt", "52 times"},
      {"Label_ReportTotalCC", "371250 mA"},
      {"Label_MaxCghCurrent", "6.0 A"},
      {"Label_MaxChgVoltage", "42.0 V"},
      {"Label_WarrantyCycle", "500 times (SOC>60% D.C)"},
      {"Label_MaxDsgCurrentA", "20 A"},
      {"Label_PulseDsgCurrentA", "35 A"},
      {"Label_PulseDsgDurationSec", "3 sec"},
      {"Label_MFTName", "Pellamco"},
      {"Label_Barcode", "WX4410CA-X21ABCDE"},
      {"Label_MftDate", "2013-5-25"},
      {"Label_ExpDate", "2014-11-25"},
      {"Label_LastChgDate", "2014-1-1 1:0"},
      {"Label_LastChgSOC", "100 %"},
      {"Label_FstFullChgDate", "2013-11-1 3:0"},
      {"Label_LastFullChgDate", "2014-1-1 1:0"},
      {"Label_FstDsgDepletionDate", "2013-10-30 21:0"},
      {"Label_LastDsgDepletionDate", "2013-10-30 21:0"},
      {"Label_MaxChgLowSOCsinceDate", "2013-10-30 22:0"},
      {"Label_ExtDsgRecAtDate", "2013-12-8 9:5"},
      {"Label_MaxDurationLowSOC0Hours", "38 days 11 hours"},
      {"Label_SOC0ChgCap", "164 mAh"},
  };
  for (const auto& [label, text] : expected) EXPECT_EQ(L(label), text) << label;
  EXPECT_EQ(L("Label_ReadOutTime").size(), 8u);
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(1), "  ");
  EXPECT_TRUE(ctx.FormMain.BitBtnPrint.enabled());
  EXPECT_TRUE(ctx.FormMain.BitBtnPrintReportRead.enabled());
  EXPECT_EQ(pack.request_count(0x6601), 2 * 4);
  EXPECT_EQ(pack.request_count(0x6603), 3 * 4);
}

TEST_F(DiagnosisPassTest, OtherModelsLeaveTheProductLinesEmpty) {
  pack.update([](sim::Scenario& s) { s.model_name = "LP13S4P-A"; });
  ctx.FormMain.BitBtnPrintReportRead.click();
  for (const char* l : {"Label_MaxCghCurrent", "Label_MaxChgVoltage", "Label_WarrantyCycle", "Label_MaxDsgCurrentA", "Label_PulseDsgCurrentA", "Label_PulseDsgDurationSec",
                        "Label_MFTName", "Label_Barcode", "Label_MftDate", "Label_ExpDate"})
    EXPECT_EQ(L(l), "") << l;
  EXPECT_EQ(L("Label_ModelName"), "LP13S4P-A");
}

TEST_F(DiagnosisPassTest, NoStatusBlockLeavesTheReportEmptyAfterFiveTries) {
  ctx.FormDiagnosisReport.Label_ModelName.set_text("old");
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::StatusPoll(), sim::FaultAction::Silence));
  ctx.FormMain.BitBtnPrintReportRead.click();
  EXPECT_EQ(pack.status_polls(), 5);
  // Poll (3 bytes on the line: 2 ms), 200 ms, a block read that runs to its
  // time-out (5000 + 5 x 96 ms), 100 ms.
  std::vector<int64_t> polls;
  for (const auto& m : wire.host_messages())
    if (m.kind == sim::HostMessage::StatusPoll) polls.push_back(m.t_us);
  ASSERT_EQ(polls.size(), 5u);
  for (size_t i = 1; i < polls.size(); ++i) EXPECT_EQ(polls[i] - polls[i - 1], (2 + 200 + 5480 + 100) * 1000) << i;
  for (Control* c : ReportLabels(ctx)) EXPECT_EQ(c->text(), "") << c->name();
  EXPECT_EQ(ctx.RunFlag.load(), 0);
  EXPECT_EQ(pack.request_count(0x6100), 0);
  EXPECT_TRUE(ctx.FormMain.BitBtnPrint.enabled());  // an empty report can still be shown and printed
}

TEST_F(DiagnosisPassTest, HeaderUnansweredSkipsTheBarcodeButNotTheSummary) {
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x6100), sim::FaultAction::Silence));
  ctx.FormMain.BitBtnPrintReportRead.click();
  EXPECT_EQ(pack.request_count(0x6100), 10);
  EXPECT_EQ(pack.request_count(0x6207), 0);
  EXPECT_EQ(L("Label_TotalChgEvtCnt"), "40 times");  // from step 8
  EXPECT_EQ(L("Label_Barcode"), "");
  EXPECT_EQ(L("Label_MftDate"), "2013-0-0");
  EXPECT_EQ(L("Label_LastChgDate"), "2014-1-1 1:0");
}

TEST_F(DiagnosisPassTest, TheRequestsOfThePassInOrderWithTheirWaits) {
  ctx.FormMain.BitBtnPrintReportRead.click();
  const auto req = wire.host_requests();
  std::vector<std::pair<uint16_t, uint16_t>> expected = {{0x6600, 0}, {0x6602, 0}, {0x1001, 1}, {0x1001, 2}, {0x1001, 3}, {0x1001, 4}, {0x6204, 1}, {0x6204, 2}, {0x6300, 0},
                                                         {0x6301, 0}, {0x6100, 0}, {0x6300, 0}, {0x6301, 0}, {0x6207, 1}, {0x6207, 2}, {0x6207, 3}, {0x6207, 4}, {0x6600, 0}};
  for (uint32_t n = 1; n <= 2; ++n)
    for (uint16_t k = 1; k <= 4; ++k) expected.push_back({0x6601, k});
  expected.push_back({0x6602, 0});
  for (uint32_t n = 1; n <= 3; ++n)
    for (uint16_t k = 1; k <= 4; ++k) expected.push_back({0x6603, k});
  ASSERT_EQ(req.size(), expected.size()) << wire.dump();
  for (size_t i = 0; i < req.size(); ++i) {
    EXPECT_EQ(req[i].address, expected[i].first) << i;
    EXPECT_EQ(req[i].length, expected[i].second) << i;
  }
  EXPECT_EQ(req[18].param, 1u);
  EXPECT_EQ(req[22].param, 2u);
  // A request takes 7 ms on the line (13 bytes at 19200 baud) before its
  // wait starts; every reply is in 24 ms after its request (13 + 26 bytes,
  // 3 ms latency), before that wait is over; the reply read then ends 50 ms
  // after it started (no byte follows).
  constexpr int64_t w = 7;
  const auto gap = [&](size_t i) { return (req[i + 1].t_us - req[i].t_us) / 1000; };
  EXPECT_EQ(gap(2), w + 100 + 50);  // 0x1001 pages: 100 ms, reply
  EXPECT_EQ(gap(4), w + 100 + 50);
  EXPECT_EQ(gap(6), w + 50 + 50 + 10);   // cell type: 50 ms, reply, 10 ms
  EXPECT_EQ(gap(8), w + 50 + 50 + 50);   // 0x6300: 50 ms, reply, 50 ms
  EXPECT_EQ(gap(9), w + 50 + 50 + 50);   // 0x6301: 50 ms, reply, 50 ms
  EXPECT_EQ(gap(10), w + 50 + 50);       // header size: 50 ms, reply
  EXPECT_EQ(gap(11), w + 50 + 50 + 50);  // 0x6300 again
  EXPECT_EQ(gap(12), w + 50 + 50);       // 0x6301, then the barcode at once
  EXPECT_EQ(gap(13), w + 100 + 50);      // barcode chunks: 100 ms, reply
  EXPECT_EQ(gap(17), w + 50 + 50);       // LEAD count of the scan: 50 ms, reply
  EXPECT_EQ(gap(18), 24 + 50);           // record chunks: the read ends 50 ms after the reply's last byte
}

class RecordingPrinter : public ReportPrinter {
 public:
  explicit RecordingPrinter(bool confirm) : confirm_(confirm) {}
  void ShowReport() override { calls.push_back("show"); }
  bool PrintReport() override {
    calls.push_back("print");
    return confirm_;
  }
  bool SaveReportPdfAs() override { return false; }
  bool SaveReportPdf(const std::string&, std::string*) override { return false; }
  std::vector<std::string> calls;

 private:
  bool confirm_;
};

TEST_F(DiagnosisPassTest, DiaReadShowsThenPrintsAndClearsThePanelOnlyWhenPrinted) {
  for (bool confirm : {true, false}) {
    RecordingPrinter printer(confirm);
    ctx.Printer = &printer;
    ctx.FormMain.BitBtnEVTDIARead.click();
    EXPECT_EQ(printer.calls, (std::vector<std::string>{"show", "print"}));
    EXPECT_EQ(ctx.FormMain.StatusBarView.item(1), confirm ? "  " : "  DIA Report ........");
    EXPECT_TRUE(ctx.FormMain.BitBtnEVTDIARead.enabled());
    ctx.Printer = nullptr;
  }
}

}  // namespace
}  // namespace bms::testing
