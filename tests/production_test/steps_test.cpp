// The step groups of a run: preparation, measurement repetitions, discharge
// with the balance check timer and the over-current watch, the data log
// record step and the end-of-test power state.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/platform/files.h"
#include "production_test/evt_fixture.h"
#include "sim/faults.h"

namespace bms::testing {
namespace {

const std::string kEverythingOn = std::string(
                                      "[Set]\nTestRepeatCnt=1\nEraseMCUIntTCCWrite=1\nEraseMCUIntEEPWrite=1\nEEPEraseWrite=1\nBarcodeWrite=1\nBarcodeMode=1\n"
                                      "RTCWrite=1\nShippingModeWrite=1\nSleepModeWrite=1\nSleep_or_DeepSleepStatusWrite=2\nSleep_or_DeepSleep_Status_AfterEndTest=2\n"
                                      "Balance_Test=1\nRTC_Test=1\nShippingMode_Test=1\nBarcodeRead_Test=1\nBalanceCount=3\nBalanceDelayms=500\n"
                                      "DelaymsAfterDsgCurrent=1000\nT1T2_DsgCurrentInDeepSeep_Test=1\n") +
                                  kPassingChecks + "ShippingMode=1\n";

const std::vector<PromptAnswer> kAllYes = {PromptAnswer::Yes, PromptAnswer::Yes, PromptAnswer::Yes, PromptAnswer::Yes,
                                           PromptAnswer::Ok,  PromptAnswer::Ok,  PromptAnswer::Yes, PromptAnswer::Yes};

class StepsTest : public EvtFixture {
 protected:
  int CountPrefix(const std::string& prefix) const {
    const auto l = Log();
    return static_cast<int>(std::count_if(l.begin(), l.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(StepsTest, AWholeRunWithEveryStepOnPassesAgainstTheVirtualPack) {
  Plan(kEverythingOn);
  Answers(kAllYes);
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
  ASSERT_TRUE(Run());
  EXPECT_EQ(Failures(), std::vector<std::string>{});
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "PASS");
  // Every prompt was shown, in order.
  const auto asked = script->asked();
  ASSERT_EQ(asked.size(), 8u);
  EXPECT_EQ(asked[0].text, "   BMS 已經 Sleep?   ");
  EXPECT_EQ(asked[0].title, "   BMS Sleep command 後確認.   ");
  EXPECT_EQ(asked[4].text, "   BMS Discharge Cell Voltage Balance Start Test ");
  EXPECT_EQ(asked[5].text, "   BMS Discharge Over Current Flag Closed start Test ");
  EXPECT_EQ(asked[5].buttons, PromptButtons::Ok);
  EXPECT_EQ(asked[7].text, "  BMS Deep Sleep 已經 Wake up?   ");

  EXPECT_EQ(pack.erase_count(0x4101), 1);
  EXPECT_EQ(pack.erase_count(0x4102), 1);
  EXPECT_EQ(pack.barcode_ext32(), "BC32-EXT-2026-000123");
  EXPECT_TRUE(pack.shipping_mode());
  EXPECT_EQ(CountPrefix("Max Balance : "), 3);
  EXPECT_TRUE(Contains("Delay 1000 msec"));
  EXPECT_EQ(CountPrefix("Delay 500 msec"), 3);
  EXPECT_TRUE(Contains("  [ -5000 mA ]  ........  PASS"));
  // The timer logged the over-current while the prompt was open, and the
  // flag closed after the load went off.
  EXPECT_GE(CountPrefix("Current  :  -30000 mA"), 1);
  EXPECT_TRUE(Contains("Test Output Over Current Flag Opened  :  1"));
  EXPECT_TRUE(Contains("Flag Closed after Output Over Current   :  0"));
  EXPECT_TRUE(Contains("  [ Test Flag Closed after Output Over Current ]  ........  PASS"));
  EXPECT_EQ(ctx.FormMain.Timer_EVT_Balance_Check.enabled(), false);
  // The data log: three records.
  EXPECT_EQ(CountPrefix("  [ TQ58_BC32-EXT-2026-000123_"), 1);
  // Deep sleep at the end, woken by the hand.
  EXPECT_EQ(pack.request_count(0x4206), 2);
  EXPECT_GE(ui.find("PanelTestResult", Prop::Text, std::string("Deep")), 0);
}

TEST_F(StepsTest, AFortyMinuteRunPasses) {
  std::string plan = kEverythingOn;
  plan.replace(plan.find("BalanceCount=3"), 14, "BalanceCount=120");
  plan.replace(plan.find("BalanceDelayms=500"), 18, "BalanceDelayms=20000");
  Plan(plan);
  Answers(kAllYes);
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
  ASSERT_TRUE(Run());
  EXPECT_GE(clock.now_ms(), 40 * 60 * 1000);
  EXPECT_EQ(CountPrefix("Max Balance : "), 120);
  EXPECT_EQ(Failures(), std::vector<std::string>{});
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "PASS");
}

TEST_F(StepsTest, AScenarioValueOutOfLimitsFailsAtItsItem) {
  Plan(kEverythingOn);
  Answers(kAllYes);
  pack.update([](sim::Scenario& s) { s.t1 = 40; });
  ASSERT_TRUE(Run());
  // Items: link 1, communication 2, erases 3-5, clock 6, barcode 7,
  // shipping 8, sleep 9-11, deep sleep 12-13, then the repetition: barcode
  // 14, model 15, firmware 16, clock 17, SOC 18, SOH 19, T1 20.
  const auto f = Failures();
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f.front(), "20.  T1 Range :  [ 40 ℃ ]  ........  NG");
  EXPECT_TRUE(Contains("20.  T1 Range : 30 ℃ to 20 ℃  Test  :  "));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "FAIL");
}

TEST_F(StepsTest, AFaultRuleFailsTheRunAtItsStep) {
  Plan(kEverythingOn);
  Answers(kAllYes);
  sim::Fault rule;
  bool silence = false;
  std::string error;
  ASSERT_TRUE(sim::ParseFaultText("0x4101:silence", rule, &silence, error)) << error;
  pack.faults().add(rule);
  ASSERT_TRUE(Run());
  EXPECT_EQ(Failures(), (std::vector<std::string>{"3.    [ Erase MCU Total Charge Capacity ]  ........  NG"}));
  EXPECT_TRUE(Contains("  [ Erase MCU Internal EEPROM ]  ........  PASS"));  // the run goes on
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "FAIL");
}

TEST_F(StepsTest, AutomaticBarcodeWriteIntoTheInternalStorageIsNg) {
  pack.update([](sim::Scenario& s) { s.barcode_ext32.reset(); });
  Plan("[Set]\nBarcodeWrite=1\nBarcodeMode=0\n");
  ASSERT_TRUE(Run("AUTO-7"));
  EXPECT_EQ(pack.barcode_int32(), "AUTO-7");  // written, but not where it should be
  EXPECT_TRUE(Contains("3.  Barcode Write  :  AUTO-7"));
  EXPECT_EQ(Failures(), (std::vector<std::string>{"3.    [ Barcode Write ]  ........  NG"}));
}

TEST_F(StepsTest, ClockCheckNeedsTheClockToHaveRunSinceItWasSet) {
  struct Case {
    const char* plan;
    const char* verdict;
  };
  const Case cases[] = {
      {"[Set]\nTestRepeatCnt=1\nRTC_Test=1\nRTCWrite=1\n[Check]\nDateTimeAccuracyRange=5\n", "NG"},  // 65535 s not yet run
      {"[Set]\nTestRepeatCnt=1\nRTC_Test=1\nRTCWrite=0\n[Check]\nDateTimeAccuracyRange=5\n", "PASS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plan);
    pack.set_pack_clock(clock.local_now());
    Plan(c.plan);
    ASSERT_TRUE(Run());
    int found = 0;
    for (const auto& l : Log())
      if (l.rfind("  [ 2026.12.9  ", 0) == 0 && l.find(std::string("]  ........  ") + c.verdict) != std::string::npos) ++found;
    EXPECT_EQ(found, 1);
    EXPECT_TRUE(Contains("Check First Waite Total Second Range Range : 65535 sec."));
  }
}

TEST_F(StepsTest, SleepTestAnsweredNoTwiceGivesEntriesAboveItsTitle) {
  Plan("[Set]\nSleepModeWrite=1\n");
  Answers({PromptAnswer::No, PromptAnswer::No});
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Contains("3.  Sleep Command Write  :  BMS enter the sleep state"));
  EXPECT_TRUE(Contains("5.  BMS wake up test from sleep  :  "));
  EXPECT_EQ(Failures(), (std::vector<std::string>{"4.    [ BMS enter to sleep test  ]  ........  NG", "5.    [  BMS wake up test  ]  ........  NG"}));
  // Nobody woke the pack (the answer was No, the hand does wake it): the
  // communication test after wake-up finds it awake at once.
  EXPECT_TRUE(Contains(" 第1次 , Communication test after wake up : Pass."));
}

TEST_F(StepsTest, ShippingModeWriteThatCannotReachTheWantedStateTriesThreeTimes) {
  Plan("[Set]\nShippingModeWrite=1\n[Check]\nShippingMode=0\n");
  ASSERT_TRUE(Run());
  EXPECT_EQ(pack.request_count(0x4209), 3);
  const auto reads = requests_to(0x200B);
  ASSERT_EQ(reads.size(), 3u);
  // Read-back: 50 ms, the reply (read until 50 ms after it), then the 500 ms
  // of a failed try before the next set. The set itself (request, 100 ms,
  // payload, echo) is followed by 100 ms before the read-back.
  const auto sets = requests_to(0x4209);
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(gap_ms(reads[0], sets[1]), 50 + 50 + 500);
  EXPECT_EQ(gap_ms(reads[1], sets[2]), 50 + 50 + 500);
  // The set: request, 100 ms, payload, 100 ms, its echo (read until 50 ms
  // after it), then the step's 100 ms before the read-back.
  const auto msgs = messages();
  const auto payload = std::find_if(msgs.begin(), msgs.end(), [&](const sim::HostMessage& m) { return m.kind == sim::HostMessage::Payload && m.t_us > sets[0].t_us; });
  ASSERT_NE(payload, msgs.end());
  EXPECT_EQ(gap_ms(sets[0], *payload), 100);
  EXPECT_EQ(gap_ms(*payload, reads[0]), 100 + 50 + 100);
  EXPECT_EQ(Failures(), (std::vector<std::string>{"3.    [ Shipping Mode Write ]  ........  NG"}));
  EXPECT_TRUE(Contains("  [ Shipping Mode Write  :  0]  ........  NG"));
}

TEST_F(StepsTest, MeasurementChecksCompareAsThePartSays) {
  struct Case {
    const char* what;
    std::function<void(sim::Scenario&)> scenario;
    std::string line;  // expected in the log
  };
  const Case cases[] = {
      {"SOC at the lower bound", [](sim::Scenario& s) { s.rsoc = 10; }, "  [ 10 % ]  ........  PASS"},
      {"SOC below", [](sim::Scenario& s) { s.rsoc = 9; }, "  [  9 % ]  ........  NG"},
      {"SOC at the upper bound", [](sim::Scenario& s) { s.rsoc = 100; }, "  [ 100 % ]  ........  PASS"},
      {"T2 at ambient - range", [](sim::Scenario& s) { s.t2 = 20; }, "  [ 20 ℃ ]  ........  PASS"},
      {"T2 below", [](sim::Scenario& s) { s.t2 = 19; }, "  [ 19 ℃ ]  ........  NG"},
      {"OC flag shown red", [](sim::Scenario& s) { s.protection_flags = 0x04; }, "  [ 1 ]  ........  NG"},
      {"SC flag shown red", [](sim::Scenario& s) { s.protection_flags = 0x08; }, " [  1 ]  ........  NG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pack.set_scenario(sim::DefaultScenario());
    pack.update(c.scenario);
    Plan("[Set]\nTestRepeatCnt=1\n" + std::string(kPassingChecks));
    ASSERT_TRUE(Run());
    EXPECT_TRUE(Contains(c.line));
  }
}

TEST_F(StepsTest, CellChecksFollowTheCellCountAndCompareUnsigned) {
  pack.update([](sim::Scenario& s) {
    s.cell_series = 7;
    s.cells_mv[2] = 0xFFFF;  // shown as 65535
  });
  Plan("[Set]\nTestRepeatCnt=1\n" + std::string(kPassingChecks));
  ASSERT_TRUE(Run());
  int cell_titles = 0;
  for (const auto& l : Log())
    if (l.find(".  Cell Volt ") != std::string::npos && l.find("  Test  :  ") != std::string::npos) ++cell_titles;
  EXPECT_EQ(cell_titles, 7);
  EXPECT_TRUE(Contains("  [ 65535 mV ]  ........  NG"));
}

TEST_F(StepsTest, TheOverCurrentFlagNeverOpeningMeansNoPollingAndNg) {
  Plan("[Set]\nBalance_Test=1\nBalanceCount=0\n" + std::string(kPassingChecks));
  hands.hold_ms = 0;  // the load never reaches the trip time
  ASSERT_TRUE(Run());
  EXPECT_EQ(CountPrefix("Flag Closed after Output Over Current"), 0);
  EXPECT_TRUE(Contains("  [ Test Flag Closed after Output Over Current ]  ........  NG"));
  const auto f = Failures();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_NE(f[0].find("Test Flag Closed after Output Over Current  :  [ 0 ]  ........  NG"), std::string::npos);
}

TEST_F(StepsTest, DataLogRecordStep) {
  struct Case {
    bool ticked;
    int count;
    int rows;
    bool title;
    bool pass;
  };
  const Case cases[] = {{true, 5, 5, true, true}, {true, 0, 0, true, false}, {false, 5, 0, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    ctx.FormConfig.CheckBoxLogFileSave.set_checked(c.ticked);
    Plan("[Check]\nLogRecordCnt=" + std::to_string(c.count) + "\n");
    ASSERT_TRUE(Run("LOG1"));
    const int item = ctx.Evt->item.load();
    EXPECT_EQ(item, 3);  // the step takes its number even when it does nothing
    EXPECT_EQ(CountPrefix("3.  Log Record  : TQ58_LOG1_"), c.title ? 1 : 0);
    EXPECT_EQ(CountPrefix("  [ TQ58_LOG1_"), c.pass ? 1 : 0);
    const auto f = Failures();
    EXPECT_EQ(f.size(), c.ticked && !c.pass ? 1u : 0u);
    if (!f.empty()) {
      EXPECT_EQ(f[0].rfind("3.  Log Record :  [ TQ58_LOG1_", 0), 0u);
    }
    EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), c.ticked && !c.pass ? "FAIL" : "PASS");
    if (c.rows > 0) {
      std::string text;
      ASSERT_TRUE(ReadWholeFile(ctx.Log->path(), &text));
      const std::string header =
          "Date, Time, RTC, Barcode, Shipping Mode, PName, PVer, PSN, Pack Volt(mV), Current (mA), Cell Series, Cell Parallel, Design Capacity, Full Charge Capacity, "
          "Remain Capacity, Total Charge Capacity, Cycle Cnt, PSOH, RSOC, T1 Degree C, T2 Degree C, Chg/Dag, OV Flag, UV Flag, OC Flag, SC  Flag, OT Flag, UT Flag, "
          "Max VCell, Min VCell, Cell Balance, VCell1, VCell2, VCell3, VCell4, VCell5, VCell6, VCell7, VCell8, VCell9, VCell10, VCell11, VCell12, VCell13, \r\n";
      EXPECT_EQ(text.substr(0, header.size()), header);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.rows + 1);
      EXPECT_NE(ctx.Log->path().find("/Log_Record/TQ_LOG1_"), std::string::npos);
    }
  }
}

TEST_F(StepsTest, DischargeWaitsAreExactAndANegativeDelayWaitsNothing) {
  Plan("[Set]\nBalance_Test=1\nBalanceCount=2\nBalanceDelayms=300\nDelaymsAfterDsgCurrent=-5\n" + std::string(kPassingChecks));
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Contains("Delay -5 msec"));
  EXPECT_EQ(CountPrefix("Delay 300 msec"), 2);
  // Polls: the communication test, the test after wake-up, then the
  // discharge: refresh, delay, refresh, and per balance sample delay, refresh.
  // A refresh ends 150 ms after its last cell page (80 ms, the reply, 20 ms);
  // the delay follows.
  const auto msgs = messages();
  std::vector<size_t> polls;
  for (size_t i = 0; i < msgs.size(); ++i)
    if (msgs[i].kind == sim::HostMessage::StatusPoll) polls.push_back(i);
  ASSERT_GE(polls.size(), 6u);
  auto wait_before = [&](size_t poll) {
    size_t last = poll;
    while (last > 0 && !(msgs[last].kind == sim::HostMessage::Request && msgs[last].address == 0x1001)) --last;
    return gap_ms(msgs[last], msgs[poll]);
  };
  EXPECT_EQ(wait_before(polls[3]), 150);  // the delay of -5 ms waits nothing
  EXPECT_EQ(wait_before(polls[4]), 150 + 300);
  EXPECT_EQ(wait_before(polls[5]), 150 + 300);
  EXPECT_EQ(CountPrefix("Max Balance : "), 2);
  EXPECT_TRUE(Contains("Max Balance : 17 mV, Dynamic Balance Count : 1"));  // spread under the discharge load
}

TEST_F(StepsTest, DeepSleepAtTheEndWithTwoYesAnswers) {
  Plan("[Set]\nSleep_or_DeepSleep_Status_AfterEndTest=2\n");
  Answers({PromptAnswer::Yes, PromptAnswer::Yes});
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Contains("4.  Deep Sleep Command Write(Test End) )  :  BMS enter the deep sleep status"));
  EXPECT_TRUE(Contains("5.  BMS wake up from Deep Sleep Test  :  "));
  EXPECT_TRUE(Contains("  [ BMS enter to deep sleep test  ]  ........  PASS"));
  EXPECT_TRUE(Contains("  [ BMS wake up from deep sleep test  ]  ........  PASS"));
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "PASS");
}

}  // namespace
}  // namespace bms::testing
