// The frame of a run: run-log conventions, verdict, counters, the summary
// and the report file, against the virtual pack in virtual time.
#include <gtest/gtest.h>

#include "core/link/link_port.h"
#include "core/platform/cp950.h"
#include "production_test/evt_fixture.h"

namespace bms::testing {
namespace {

class RunTest : public EvtFixture {};

std::vector<std::string> Summary(const std::string& verdict, int to_test, int tested, int passed, int failed, int repeat, const std::string& when, const std::string& barcode,
                                 const std::string& fwid, const std::string& fwver, int items, int failures) {
  return {"自動檢測數量  :  共  " + std::to_string(to_test) + " pcs",
          "自動檢測次數  :  第  " + std::to_string(tested) + " 次",
          "檢測PASS次數  :  第  " + std::to_string(passed) + " 次",
          "檢測-NG-次數  :  第  " + std::to_string(failed) + " 次",
          " ",
          kDashLine,
          "重複檢測次數  :  共  " + std::to_string(repeat) + "  次",
          "停止測試時間  :  " + when,
          "產品工號名稱  :  W001",
          "產品條碼名稱  :  " + barcode,
          "測試專案名稱  :  " + fwid,
          "測試韌體版本  :  " + fwver,
          "測試項目總數  :  " + std::to_string(items) + " 項",
          "測試失敗總數  :  " + std::to_string(failures) + " 項",
          "測試結果報告  :  " + verdict};
}

TEST_F(RunTest, APlanWithEveryStepOffPassesOnTheLinkAndCommunicationSteps) {
  Plan("[Set]\n");
  ctx.FormMain.EditEVTDevTestNumberInput.set_text("5");
  EXPECT_EQ(ctx.FormMain.EditEVTDevTestNumber.text(), "5");
  ASSERT_TRUE(Run("BC-1"));
  const std::string when = FormatLocalTime(clock.local_now(), "yyyy.mm.dd , hh:nn:ss");
  std::vector<std::string> expected = {
      "TQ58_EVT_1.0.0  Function  Test  Report  ...... ",
      "自動檢測起始日期與時間  :  2026-12-09 , 00:30:15",
      "",
      "Work Number  :  W001",
      "",
      "1.  Device  :  VirtualPack  Test  : ",
      "  [ VirtualPack ]  :  ........  PASS",
      "",
      "2.  Communication Test  :  ",
      " 每讀取一次 500ms.",
      "第1次 , The first communication test : Pass.",
      "  [ Communication exist ]  ........  PASS",
      " 每 500ms 讀取一次.",
      " 第1次 , Communication test after wake up : Pass.",
      " ",
      kDashLine,
      "自動檢測共  0  次",
      "",
      " ",
      kDashLine,
      "Total Test Failed Report  :  ",
      "Test items no any failed.",
      " ",
      kDashLine,
  };
  for (const auto& l : Summary("PASS", 5, 1, 1, 0, 0, when, "BC-1", ctx.FormMain.EditFWID.text(), "2.14", 3, 0)) expected.push_back(l);
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(ctx.FormMain.MemoLog.items(), expected);
  TFormMain& m = ctx.FormMain;
  EXPECT_EQ(m.PanelTestResult.text(), "PASS");
  EXPECT_EQ(m.PanelTestResult.font_color(), kBlue);
  EXPECT_EQ(m.PanelTestResult.font_size(), 36);
  EXPECT_EQ(m.EditEVTDevTestNumber.text(), "4");
  EXPECT_EQ(m.EditEVTDevTestPassNumber.text(), "1");
  EXPECT_EQ(m.EditEVTDevTestTotalNumber.text(), "1");
  EXPECT_EQ(m.EditEVTDevTestNGNumber.text(), "0");
  EXPECT_EQ(m.SpdBtnEVTTest.text(), "TEST");
  EXPECT_EQ(m.SpdBtnEVTTest.font_color(), kBlue);
  EXPECT_TRUE(m.self.enabled());
  EXPECT_EQ(m.EditEVTBarcode.text(), "");
  EXPECT_EQ(m.StatusBarView.item(0), kSysStop);
  // Phases shown while running: "Checking" (22 pt, red) first.
  EXPECT_GE(ui.find("PanelTestResult", Prop::Text, std::string("Checking")), 0);
  EXPECT_GE(ui.find("PanelTestResult", Prop::FontSize, 22), 0);

  // Waits (from the moment a message has left the host): 500 ms before the
  // first attempt, 200 ms from the poll to the block, 80 + 20 ms around each
  // cell page's reply; the three erase waits (1500 ms) before the test after
  // wake-up.
  std::vector<sim::HostMessage> polls;
  for (const auto& msg : wire.host_messages())
    if (msg.kind == sim::HostMessage::StatusPoll) polls.push_back(msg);
  ASSERT_EQ(polls.size(), 2u);
  EXPECT_EQ(polls[0].t_us, 500 * 1000);
  const auto cells = requests_to(0x1001);
  ASSERT_EQ(cells.size(), 8u);
  EXPECT_EQ(gap_ms(polls[0], cells[0]), 200);
  // 80 ms, the reply (read until 50 ms after its last byte), 20 ms.
  EXPECT_EQ(gap_ms(cells[0], cells[1]), 150);
  // After the last page: its 150 ms, 100 ms before the preparation steps,
  // 3 x 500 ms of erase waits and the 500 ms before the first attempt after
  // wake-up.
  EXPECT_EQ(gap_ms(cells[3], polls[1]), 150 + 100 + 1500 + 500);

  // The report: the run log in code page 950 with CR LF, named by barcode,
  // time and verdict.
  const EvtOutcome o = ctx.Evt->outcome.get();
  ASSERT_TRUE(o.report_written) << o.report_error;
  const std::string name = "BC-1_" + FormatLocalTime(clock.local_now(), "yyyymmdd_hhnnss") + "_PASS.txt";
  EXPECT_EQ(o.report_path, folder.path() + "/Test_Report/W001/" + name);
  std::string bytes;
  for (const auto& l : expected) bytes += l + "\r\n";
  EXPECT_EQ(folder.read("Test_Report/W001/" + name), Utf8ToCp950(bytes));
  EXPECT_NE(Utf8ToCp950(bytes), bytes);  // the Chinese texts really are in code page 950
}

TEST_F(RunTest, APortThatCannotBeOpenedEndsWithFailAndOneEntry) {
  Plan("[Set]\n");
  pack.set_open_error(PortError::Busy);
  ASSERT_TRUE(Run("BC-2"));
  EXPECT_EQ(Slice("1.  Device  :  VirtualPack  Test  : ", " "), (std::vector<std::string>{"1.  Device  :  VirtualPack  Test  : ", "  [  VirtualPack  ]  :  ........  NG"}));
  EXPECT_EQ(Failures(), (std::vector<std::string>{"1.    [ VirtualPack ]  :  ........  NG"}));
  EXPECT_TRUE(Contains("1.    [ VirtualPack ]  :  ........  NG"));  // total report
  EXPECT_FALSE(Contains("Test items no any failed."));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "FAIL");
  EXPECT_EQ(ctx.FormMain.PanelTestResult.font_color(), kRed);
  EXPECT_EQ(ctx.FormMain.EditEVTDevTestNGNumber.text(), "1");
  const EvtOutcome o = ctx.Evt->outcome.get();
  EXPECT_TRUE(o.report_written);
  EXPECT_EQ(o.report_path.substr(o.report_path.size() - 9), "_FAIL.txt");
  EXPECT_EQ(wire.host_messages().size(), 0u);
}

TEST_F(RunTest, TheBmsAnsweringAtTheThirdAttemptGivesTwoFailLines) {
  Plan("[Set]\n");
  pack.set_silent(true);
  // Polls of a silent pack go out at 500, 6680 and 12860 ms (each failed
  // block read ends at its time-out); the pack answers from the third on.
  clock.at(9000, [this] { pack.set_silent(false); });
  ASSERT_TRUE(Run());
  EXPECT_EQ(Slice(" 每讀取一次 500ms.", " 每 500ms 讀取一次."),
            (std::vector<std::string>{" 每讀取一次 500ms.", "第1次 , The first communication test : Fail.", "第2次 , The first communication test : Fail.",
                                      "第3次 , The first communication test : Pass.", "  [ Communication exist ]  ........  PASS"}));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "PASS");
}

TEST_F(RunTest, ASilentPackFailsTheCommunicationTestAfterTenAttempts) {
  Plan("[Set]\nSleep_or_DeepSleep_Status_AfterEndTest=1\n");
  pack.set_silent(true);
  ASSERT_TRUE(Run());
  int fails = 0;
  for (const auto& l : Log())
    if (l.find("The first communication test : Fail.") != std::string::npos) ++fails;
  EXPECT_EQ(fails, 10);
  EXPECT_EQ(Failures(), (std::vector<std::string>{"2.    [ Communication exist ]  ........  NG"}));
  // The end-of-test power state is still reached: the sleep request goes out.
  EXPECT_TRUE(Contains(" Do Sleep Command"));
  EXPECT_EQ(pack.request_count(0x4205), 1);
  EXPECT_FALSE(Contains(" 每 500ms 讀取一次."));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "FAIL");
}

TEST_F(RunTest, CountersFollowTheVerdicts) {
  Plan("[Set]\n");
  ctx.FormMain.EditEVTDevTestNumberInput.set_text("5");
  ASSERT_TRUE(Run());
  pack.set_silent(true);
  ASSERT_TRUE(Run());
  TFormMain& m = ctx.FormMain;
  EXPECT_EQ(m.EditEVTDevTestNumber.text(), "4");  // a failed pack leaves it
  EXPECT_EQ(m.EditEVTDevTestPassNumber.text(), "1");
  EXPECT_EQ(m.EditEVTDevTestNGNumber.text(), "1");
  EXPECT_EQ(m.EditEVTDevTestTotalNumber.text(), "2");
  EXPECT_TRUE(Contains("自動檢測次數  :  第  2 次"));
  EXPECT_TRUE(Contains("檢測-NG-次數  :  第  1 次"));
}

TEST_F(RunTest, StopBeforeTheDataLogStepFailsWithoutFailureEntries) {
  Plan("[Set]\nTestRepeatCnt=3\n" + std::string(kPassingChecks));
  // STOP is pressed (plan reloaded, RunFlag cleared) during the second repetition.
  clock.at(5000, [this] { EXPECT_TRUE(SpdBtnEVTTestClick(ctx)); });
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Contains("Test items no any failed."));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "FAIL");
  EXPECT_FALSE(Contains("自動檢測開始  :  第3次"));
  EXPECT_EQ(ctx.FormMain.SpdBtnEVTTest.text(), "TEST");
}

TEST_F(RunTest, StopStillStopsWhenThePlanNoLongerLoads) {
  Plan("[Set]\nTestRepeatCnt=3\n" + std::string(kPassingChecks));
  clock.at(5000, [this] {
    Plan("[Check]\nSOCMax=x\n");
    EXPECT_FALSE(SpdBtnEVTTestClick(ctx));
  });
  ASSERT_TRUE(Run());
  EXPECT_FALSE(Contains("自動檢測開始  :  第3次"));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "FAIL");
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("key \"SOCMax\": \"x\" is not a number"), std::string::npos);
}

}  // namespace
}  // namespace bms::testing
