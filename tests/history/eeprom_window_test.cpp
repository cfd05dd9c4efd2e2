// The EEPROM history window against the virtual pack: requests and their
// order, memo texts, the CSV export bytes, preview, range read, Clean, the
// fast download and cancel.
#include "core/history/eeprom_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/history/diagnosis.h"
#include "core/history/record_decode.h"
#include "platform/temp_folder.h"
#include "sim/history_model.h"
#include "sim_fixture.h"

namespace bms::testing {
namespace {

using sim::HistoryEntry;
using sim::Scenario;

HistoryEntry Rec(int y, int mo, int d, int h, int mi, uint8_t soc, uint8_t flag, int32_t ma = 0) {
  HistoryEntry e;
  e.year = y;
  e.month = mo;
  e.day = d;
  e.hour = h;
  e.minute = mi;
  e.second = 9;
  e.current_ma = ma;
  e.voltage_mv = 50000;
  e.soc = soc;
  e.t1 = -10;
  e.volt_diff_mv = 12;
  e.cycle_count = 7;
  e.flag = flag;
  return e;
}

Scenario ThreeProtectFiveLead() {
  Scenario s = sim::DefaultScenario();
  s.protect_records = {Rec(2026, 12, 9, 14, 3, 50, 0x45, -1500), Rec(2026, 12, 9, 15, 0, 40, 0x02), Rec(2026, 12, 9, 16, 0, 30, 0x91)};
  s.lead_records.clear();
  for (int i = 0; i < 5; ++i) s.lead_records.push_back(Rec(2026, 1, 1 + i, 8, 0, static_cast<uint8_t>(50 + i), 0x82));
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class HistoryWindowTest : public SimFixture {
 protected:
  explicit HistoryWindowTest(Scenario s = ThreeProtectFiveLead()) : SimFixture(std::move(s)) {
    ctx.app.data_folder = tmp.path() + "/";
    WireHistoryAndDiagnosis(ctx);
  }
  void Page(int i) { ctx.FormEEPROM.PageControlEEP.set_item_index(i); }
  std::vector<std::string> Memo(HistoryBlock b) { return RecordMemo(ctx, b).items(); }

  TempFolder tmp;
};

TEST_F(HistoryWindowTest, ProtectBlockOfThreeSendsTheCountThenTwelveChunkRequestsAndExportsCp950) {
  Page(1);
  ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();

  const auto req = wire.host_requests();
  ASSERT_EQ(req.size(), 13u) << wire.dump();
  EXPECT_EQ(req[0].address, 0x6500);
  EXPECT_EQ(req[0].length, 0);
  EXPECT_EQ(req[0].param, 0u);
  for (size_t i = 1; i < 13; ++i) {
    EXPECT_EQ(req[i].address, 0x6501) << i;
    EXPECT_EQ(req[i].length, (i - 1) % 4 + 1) << i;
    EXPECT_EQ(req[i].param, (i - 1) / 4 + 1) << i;
    EXPECT_EQ(req[i].write_count, 0) << i;
  }
  const auto memo = Memo(HistoryBlock::Protect);
  ASSERT_EQ(memo.size(), 4u);
  EXPECT_EQ(memo[0], "Total Package Number :   3");
  EXPECT_EQ(memo[1].substr(0, 48), "0001 , Date : 2026.12.9 , Time : 14.3.9 , Curren");
  EXPECT_NE(memo[1].find("Current  : -1500 mA"), std::string::npos);
  EXPECT_NE(memo[1].find("Chg/Dsg : 1 . UT : 0 . OT : 0 . SC : 0 . OC : 1 . UV : 0 . OV : 1 . "), std::string::npos);
  EXPECT_EQ(memo[3].find("(CheckSum Error)"), std::string::npos);

  const std::string path = ctx.FormEEPROM.LabelEEPExportFile.text();
  const std::string folder = "UART_20261209_003015";
  EXPECT_EQ(path, tmp.path() + "/" + folder + "/" + folder + "_Protectlog_1.csv");
  const std::string csv = ReadFile(path);
  const std::string header =
      "Date, Time, Pack Current (mA), Pack Voltage (mV), SOC, T1(\xA2\x58"
      "C), Volt Diff, Cycle Count, Ptt/Evt Flag, Chg/Dsg, UT, OT, SC, OC, UV, OV, Event, \r\n";
  const std::string rows =
      "2026.12.9 , 14.3.9 , -1500 , 50000 , 50 , -10 , 12 , 7 , 0 , 1 , 0 , 0 , 0 , 1 , 0 , 1 , Null , \r\n"
      "2026.12.9 , 15.0.9 , 0 , 50000 , 40 , -10 , 12 , 7 , 0 , 0 , 0 , 0 , 0 , 0 , 1 , 0 , Null , \r\n"
      "2026.12.9 , 16.0.9 , 0 , 50000 , 30 , -10 , 12 , 7 , 1 ,  Null ,  Null ,  Null ,  Null ,  Null ,  Null ,  Null , Null  , \r\n";
  EXPECT_EQ(csv, header + rows);
  EXPECT_TRUE(ctx.FormEEPROM.self.enabled());
  EXPECT_TRUE(ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.enabled());
  EXPECT_EQ(ctx.FormEEPROM.LabelEEPProgress.text(), "3 / 3 records");
}

TEST_F(HistoryWindowTest, CountZeroAndCountUnansweredCreateNoFile) {
  struct Case {
    bool silent;
    const char* memo;
    int count_requests;
  } cases[] = {{false, "Total Package Number :   0", 1}, {true, "Total Bytes :   Time out ", 10}};
  for (const Case& c : cases) {
    pack.update([](Scenario& s) { s.last_records.clear(); });
    if (c.silent) pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x6602), sim::FaultAction::Silence));
    pack.reset_counters();
    Page(3);
    ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();
    EXPECT_EQ(Memo(HistoryBlock::Last), std::vector<std::string>{c.memo});
    EXPECT_EQ(pack.request_count(0x6602), c.count_requests);
    EXPECT_EQ(pack.request_count(0x6603), 0);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
    EXPECT_EQ(ctx.FormEEPROM.LabelEEPExportFile.text(), "");
  }
}

TEST_F(HistoryWindowTest, HeaderReadSendsTheRegisterListWithItsOnePauseAndWritesThePage) {
  Page(0);
  ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();
  const auto req = wire.host_requests();
  const std::vector<std::pair<uint16_t, uint16_t>> expected = {{0x6100, 0}, {0x6101, 0}, {0x6102, 0}, {0x6103, 0}, {0x6104, 0}, {0x6200, 0}, {0x6201, 0}, {0x6202, 0}, {0x6203, 0},
                                                               {0x6204, 1}, {0x6204, 2}, {0x6205, 0}, {0x6206, 0}, {0x6207, 1}, {0x6207, 2}, {0x6207, 3}, {0x6207, 4}, {0x6300, 0},
                                                               {0x6301, 0}, {0x6302, 0}, {0x6303, 0}, {0x6304, 0}, {0x6305, 0}, {0x6306, 0}, {0x6307, 0}, {0x6308, 0}, {0x6309, 0},
                                                               {0x6400, 0}, {0x6401, 0}, {0x6402, 0}, {0x6403, 0}, {0x6404, 0}, {0x6405, 0}, {0x6406, 0}, {0x6407, 0}};
  ASSERT_EQ(req.size(), expected.size()) << wire.dump();
  std::vector<int64_t> gaps;
  for (size_t i = 0; i < req.size(); ++i) {
    EXPECT_EQ(req[i].address, expected[i].first) << i;
    EXPECT_EQ(req[i].length, expected[i].second) << i;
    if (i > 0) gaps.push_back(req[i].t_us - req[i - 1].t_us);
  }
  // Every request follows the previous reply at once, except the one after 0x6304.
  const int64_t usual = gaps[1];
  for (size_t i = 1; i < gaps.size(); ++i) {
    const int64_t extra = gaps[i] - usual;
    EXPECT_EQ(extra, req[i + 1].address == 0x6305 ? 50000 : 0) << std::hex << req[i + 1].address;
  }
  const auto memo = ctx.FormEEPROM.MemoEEPHeader.items();
  ASSERT_EQ(memo.size(), 45u);
  EXPECT_EQ(memo[0], "1. EEPROM Header Block : Unit Section ");
  EXPECT_EQ(memo[1], "Header's total number of bytes :   256");
  EXPECT_EQ(memo[12], "Cell type 16 Bytes :   INR18650-25R   ");
}

TEST_F(HistoryWindowTest, PreviewFillsTheListsAndARangeReadAppendsItsRecords) {
  Page(2);
  EXPECT_TRUE(ctx.FormEEPROM.GroupBoxEEPRangeRead.enabled());
  ctx.FormEEPROM.BitBtnEEPPreView.click();
  const std::vector<std::string> items = {"1", "2", "3", "4", "5"};
  EXPECT_EQ(ctx.FormEEPROM.ComboBoxEEPStartAddrRead.items(), items);
  EXPECT_EQ(ctx.FormEEPROM.ComboBoxEEPEndAddrRead.items(), items);
  EXPECT_EQ(ctx.FormEEPROM.ComboBoxEEPStartAddrRead.item_index(), 0);
  EXPECT_EQ(ctx.FormEEPROM.ComboBoxEEPEndAddrRead.item_index(), 4);
  EXPECT_TRUE(ctx.FormEEPROM.BitBtnEEPRange.enabled());
  EXPECT_EQ(Memo(HistoryBlock::Lead).back(), "Total Package Number :   5");
  // Count request, 100 ms, reply.
  auto req = wire.host_requests();
  ASSERT_EQ(req.size(), 1u);

  wire.clear();
  ctx.FormEEPROM.ComboBoxEEPStartAddrRead.set_item_index(1);
  ctx.FormEEPROM.ComboBoxEEPEndAddrRead.set_item_index(2);
  ctx.FormEEPROM.BitBtnEEPRange.click();
  req = wire.host_requests();
  ASSERT_EQ(req.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(req[i].address, 0x6601);
    EXPECT_EQ(req[i].param, i / 4 + 2);
    EXPECT_EQ(req[i].length, i % 4 + 1);
  }
  const auto memo = Memo(HistoryBlock::Lead);
  ASSERT_GE(memo.size(), 3u);
  EXPECT_EQ(memo[memo.size() - 3].substr(0, 7), "0002 , ");
  EXPECT_EQ(memo[memo.size() - 2].substr(0, 7), "0003 , ");
  EXPECT_EQ(memo.back(), "\n\r");
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));  // a range read writes no file
  EXPECT_TRUE(ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.enabled());

  // End before start: nothing is read, nothing appended.
  wire.clear();
  const size_t lines = Memo(HistoryBlock::Lead).size();
  ctx.FormEEPROM.ComboBoxEEPStartAddrRead.set_item_index(3);
  ctx.FormEEPROM.ComboBoxEEPEndAddrRead.set_item_index(1);
  ctx.FormEEPROM.BitBtnEEPRange.click();
  EXPECT_TRUE(wire.host_requests().empty());
  EXPECT_EQ(Memo(HistoryBlock::Lead).size(), lines);
}

TEST_F(HistoryWindowTest, PreviewWaitsAHundredMillisecondsBeforeTheReply) {
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x6600), sim::FaultAction::Silence));
  Page(2);
  const int64_t t0 = clock.now_ms();
  ctx.FormEEPROM.BitBtnEEPPreView.click();
  const auto req = wire.host_requests();
  ASSERT_EQ(req.size(), 3u);
  // Each try: request (13 bytes on the line: 7 ms), 100 ms, a reply read
  // that runs to its total time-out (5000 + 5 x 1024 ms), 100 ms.
  EXPECT_EQ(req[0].t_us / 1000, t0);
  EXPECT_EQ(req[1].t_us - req[0].t_us, (7 + 100 + 10120 + 100) * 1000);
  EXPECT_EQ(req[2].t_us - req[1].t_us, (7 + 100 + 10120 + 100) * 1000);
  EXPECT_EQ(Memo(HistoryBlock::Lead).back(), "Total Package Number :   0");
  EXPECT_TRUE(ctx.FormEEPROM.ComboBoxEEPStartAddrRead.items().empty());
  EXPECT_EQ(ctx.FormEEPROM.ComboBoxEEPStartAddrRead.item_index(), -1);
  // Step 5 ends with 100 ms, 100 ms and 500 ms.
  EXPECT_EQ(clock.now_ms() - t0, 3 * (7 + 100 + 10120 + 100) + 100 + 100 + 500);
}

TEST_F(HistoryWindowTest, CleanClearsOnlyTheLeadAndLastPages) {
  for (HistoryBlock b : {HistoryBlock::Protect, HistoryBlock::Lead, HistoryBlock::Last}) RecordMemo(ctx, b).set_items({"x"});
  ctx.FormEEPROM.MemoEEPHeader.set_items({"h"});
  for (int page : {0, 1}) {
    Page(page);
    EXPECT_FALSE(ctx.FormEEPROM.GroupBoxEEPRangeRead.enabled());
    ctx.FormEEPROM.BitBtnClean.click();
  }
  EXPECT_EQ(ctx.FormEEPROM.MemoEEPHeader.items(), std::vector<std::string>{"h"});
  EXPECT_EQ(Memo(HistoryBlock::Protect), std::vector<std::string>{"x"});
  Page(2);
  ctx.FormEEPROM.BitBtnClean.click();
  EXPECT_TRUE(Memo(HistoryBlock::Lead).empty());
  EXPECT_EQ(Memo(HistoryBlock::Last), std::vector<std::string>{"x"});
  Page(3);
  ctx.FormEEPROM.BitBtnClean.click();
  EXPECT_TRUE(Memo(HistoryBlock::Last).empty());
}

TEST_F(HistoryWindowTest, OpeningAndClosingTheWindowDisablesAndRestoresTheMainWindow) {
  for (Control* button : {&ctx.FormMain.BitBtnSafeInfoRead, &ctx.FormMain.BitBtnEVTEEPRead}) {
    button->set_enabled(true);
    button->click();
    EXPECT_FALSE(ctx.FormMain.self.enabled());
    EXPECT_TRUE(ctx.FormEEPROM.self.visible());
    ctx.FormEEPROM.close();
    EXPECT_TRUE(ctx.FormMain.self.enabled());
  }
}

// ---------------------------------------------------------------- faults, fast download, cancel

Scenario ModelPack(const char* history) {
  Scenario s = sim::DefaultScenario();
  std::string err;
  EXPECT_TRUE(sim::ApplyHistoryModelText(history, s, err)) << err;
  return s;
}

class HistoryModelWindowTest : public HistoryWindowTest {
 protected:
  HistoryModelWindowTest() : HistoryWindowTest(ModelPack("lead=20, last=30, seed=3, bad_checksum=last:4, unanswered_chunk=last:7/2")) {}

  // Reads the LAST block; returns the CSV bytes and the virtual time taken.
  std::pair<std::string, int64_t> ReadLast(bool fast) {
    ctx.FormEEPROM.CheckBoxEEPFastRead.set_checked(fast);
    Page(3);
    clock.advance(1000);  // a new second: a new export folder
    const int64_t t0 = clock.now_ms();
    ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();
    return {ReadFile(ctx.FormEEPROM.LabelEEPExportFile.text()), clock.now_ms() - t0};
  }
};

TEST_F(HistoryModelWindowTest, ABadChecksumRecordIsMarkedAndAnUnansweredChunkLeavesZeros) {
  const auto [csv, ms] = ReadLast(false);
  const auto memo = Memo(HistoryBlock::Last);
  ASSERT_EQ(memo.size(), 31u);
  for (size_t n = 1; n <= 30; ++n) {
    const bool bad = n == 4 || n == 7;
    EXPECT_EQ(memo[n].find(" (CheckSum Error)") != std::string::npos, bad) << n;
  }
  // Record 7 lost bytes 8-15: current low bytes, voltage and SOC are zero.
  EXPECT_NE(memo[7].find("Voltage  : 0 mV"), std::string::npos) << memo[7];
  size_t rows = 0;
  for (char c : csv) rows += c == '\n';
  EXPECT_EQ(rows, 31u);
}

TEST_F(HistoryModelWindowTest, FastDownloadGivesTheSameExportAndPageInAFractionOfTheTime) {
  const auto normal = ReadLast(false);
  const auto normal_memo = Memo(HistoryBlock::Last);
  const auto fast = ReadLast(true);
  EXPECT_EQ(fast.first, normal.first);
  EXPECT_EQ(Memo(HistoryBlock::Last), normal_memo);
  // The unanswered chunk costs a whole read time-out in both modes; the
  // rest goes at the speed of the line.
  EXPECT_LT(fast.second - 10120, (normal.second - 10120) / 2) << normal.second << " " << fast.second;
}

TEST_F(HistoryModelWindowTest, FastDownloadFallsBackOnEveryDoubtfulReply) {
  using sim::Fault;
  using sim::FaultAction;
  struct Case {
    const char* name;
    Fault fault;
  } cases[] = {
      {"bad checksum of the data frame",
       [] {
         Fault f = Fault::Make(sim::FaultMatch::Register(0x6603, 3), FaultAction::BadChecksum);
         f.frame = 1;
         return f;
       }()},
      {"one byte right behind the reply",
       [] {
         Fault f = Fault::Make(sim::FaultMatch::Register(0x6603, 2), FaultAction::AddBytes);
         f.count = 1;
         return f;
       }()},
      {"three bytes behind the reply",
       [] {
         Fault f = Fault::Make(sim::FaultMatch::Register(0x6603, 1), FaultAction::AddBytes);
         f.count = 3;
         return f;
       }()},
      {"an extra frame", Fault::Make(sim::FaultMatch::Register(0x6603, 2), FaultAction::ExtraFrame)},
      {"a gap splitting the reply",
       [] {
         Fault f = Fault::Make(sim::FaultMatch::Register(0x6603, 4), FaultAction::Gap);
         f.ms = 60;
         f.at_byte = 13;
         return f;
       }()},
      {"one byte missing",
       [] {
         Fault f = Fault::Make(sim::FaultMatch::Register(0x6603, 1), FaultAction::DropBytes);
         f.count = 1;
         return f;
       }()},
      {"noise before the reply",
       [] {
         Fault f = Fault::Make(sim::FaultMatch::Register(0x6603, 2), FaultAction::Noise);
         f.count = 4;
         f.seed = 5;
         return f;
       }()},
  };
  // With this latency the reply's last byte ends 0.7 ms into a millisecond,
  // so a byte right behind it arrives after the read has returned.
  pack.set_latency_us(3400);
  for (auto& c : cases) {
    c.fault.match.param = 5;
    const int id = pack.faults().add(c.fault);
    const auto normal = ReadLast(false);
    const auto normal_memo = Memo(HistoryBlock::Last);
    const auto fast = ReadLast(true);
    EXPECT_EQ(fast.first, normal.first) << c.name;
    EXPECT_EQ(Memo(HistoryBlock::Last), normal_memo) << c.name;
    EXPECT_NE(normal_memo[5].find("(CheckSum Error)"), std::string::npos) << c.name;
    pack.faults().remove(id);
  }
}

TEST_F(HistoryModelWindowTest, CancelStopsAfterTheCurrentRecordAndKeepsTheRowsRead) {
  Page(3);
  // Cancel while record 11 is being read (each record takes 4 x ~73 ms).
  clock.at(clock.now_ms() + 10 * 4 * 73 + 100, [this] { ctx.FormEEPROM.BitBtnEEPCancel.click(); });
  ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();
  const size_t lines = Memo(HistoryBlock::Last).size() - 1;
  EXPECT_GT(lines, 5u);
  EXPECT_LT(lines, 30u);
  const std::string csv = ReadFile(ctx.FormEEPROM.LabelEEPExportFile.text());
  size_t rows = 0;
  for (char c : csv) rows += c == '\n';
  EXPECT_EQ(rows, lines + 1);  // header + every record read
  EXPECT_EQ(ctx.FormEEPROM.LabelEEPProgress.text(), "Stopped: " + std::to_string(lines) + " of 30 records read");
  EXPECT_FALSE(ctx.FormEEPROM.BitBtnEEPCancel.visible());
  EXPECT_TRUE(ctx.FormEEPROM.self.enabled());
}

TEST_F(HistoryWindowTest, AnExportThatCannotBeCreatedIsReportedAndTheMemoIsKept) {
  ctx.app.data_folder = tmp.path() + "/no-such/../../../proc/";
  Page(1);
  ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();
  EXPECT_EQ(Memo(HistoryBlock::Protect).size(), 4u);
  EXPECT_EQ(ctx.FormEEPROM.LabelEEPExportFile.text(), "");
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("export not written"), std::string::npos) << ctx.FormMain.StatusBarView.item(2);
}

}  // namespace
}  // namespace bms::testing
