// The test plan loader: conversions, defaults, text fields, the ambient
// temperature and the refusal of a value that is not a number.
#include <gtest/gtest.h>

#include <functional>

#include "production_test/evt_fixture.h"

namespace bms::testing {
namespace {

class PlanTest : public EvtFixture {};

TEST_F(PlanTest, ConvertsEveryKindOfValueAsTheTableSays) {
  struct Case {
    const char* file;
    std::function<long long(Context&)> field;
    long long expected;
  };
  auto test = [](auto f) { return [f](Context& c) { return static_cast<long long>(c.EVT_TEST.get().*f); }; };
  auto set = [](auto f) { return [f](Context& c) { return static_cast<long long>(c.EVT_TEST_SET.get().*f); }; };
  const Case cases[] = {
      {"[Check]\nT1T2TestDelay=750\n", test(&EvtTest::T1T2TestDelay), 750},  // key spelled with a trailing blank in the table
      {"[Check]\nBMSChgDsgCurrentMax=1500.7\n", test(&EvtTest::BMSChgDsgCurrentMax), 1500},
      {"[Check]\nBMSChgDsgCurrentMin=-2.9\n", test(&EvtTest::BMSChgDsgCurrentMin), -2},
      {"[Set]\nT1T2_DsgCurrentInDeepSeep_Test=1.9\n", test(&EvtTest::T1T2_DsgCurrentInDeepSeep_Test), 1},
      {"[Set]\nT1T2_DsgCurrentInDeepSeep_Test=0.5\n", test(&EvtTest::T1T2_DsgCurrentInDeepSeep_Test), 0},
      {"[Set]\nRTCWrite=2\n", set(&EvtTestSet::RTCWrite), 1},
      {"[Set]\nRTCWrite=-1\n", set(&EvtTestSet::RTCWrite), 1},
      {"[Set]\nRTCWrite=0\n", set(&EvtTestSet::RTCWrite), 0},
      {"[set]\n  balance_test  =  3 \n", test(&EvtTest::Balance_Test), 1},
      {"", test(&EvtTest::DateTimeFirstToCheckRange), 65535},
      {"", test(&EvtTest::CellBalance), -1},
      {"", set(&EvtTestSet::BalanceDelayms), -1},
      {"[Set]\nBarcodeMode=2\n", [](Context& c) { return static_cast<long long>(c.CurrentBarcodeMode.load()); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const PlanLoadResult r = LoadTestPlan(ctx, Plan(c.file));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(c.field(ctx), c.expected);
  }
  const PlanLoadResult r = LoadTestPlan(ctx, Plan("[Set]\nfBtyDsgLOADCurrent=2.5\nfBtyOverDsgLOADCurrent=12\n"));
  ASSERT_TRUE(r.ok);
  EXPECT_FLOAT_EQ(ctx.EVT_TEST.get().fBtyDsgLOADCurrent, 2.5f);
  EXPECT_FLOAT_EQ(ctx.EVT_TEST.get().fBtyOverDsgLOADCurrent, 12.0f);
}

TEST_F(PlanTest, TextFieldsHoldExactlyTheLastValueCutToTheirSize) {
  ASSERT_TRUE(LoadTestPlan(ctx, Plan("[Check]\nProjectName=LONGPROJECTNAME\nFWVer=2.14\n")).ok);
  ASSERT_TRUE(LoadTestPlan(ctx, Plan("[Check]\nProjectName=AB\n")).ok);
  EXPECT_EQ(ctx.EVT_TEST.get().ProjectName, "AB");
  EXPECT_EQ(ctx.EVT_TEST.get().FWVer, "0");  // missing: the default
  const std::string long_text(100, 'x');
  ASSERT_TRUE(LoadTestPlan(ctx, Plan("[Check]\nProjectName=" + long_text + "\nFWVer=" + long_text + "\n[PRODIGIT_Instrument]\nLOAD_Product_Name=" + long_text + "\n")).ok);
  EXPECT_EQ(ctx.EVT_TEST.get().ProjectName, std::string(63, 'x'));
  EXPECT_EQ(ctx.EVT_TEST.get().FWVer, std::string(31, 'x'));
  EXPECT_EQ(ctx.EVT_TEST_SET.get().LOAD_Product_Name, std::string(64, 'x'));
}

TEST_F(PlanTest, AmbientTemperatureIsProposedOnlyWhenEmpty) {
  ctx.FormMain.EditEVTT1.set_text("");
  ASSERT_TRUE(LoadTestPlan(ctx, Plan("[Check]\nT1=27\n")).ok);
  EXPECT_EQ(ctx.FormMain.EditEVTT1.text(), "27");
  ASSERT_TRUE(LoadTestPlan(ctx, Plan("[Check]\nT1=30\n")).ok);
  EXPECT_EQ(ctx.FormMain.EditEVTT1.text(), "27");
}

TEST_F(PlanTest, AValueThatIsNoNumberStopsTheLoadAndNoRunStarts) {
  const std::string path = Plan("[Set]\nTestRepeatCnt=4\n[Check]\nSOCMax=9O\nSOCMin=20\n");
  const PlanLoadResult r = LoadTestPlan(ctx, path);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Test plan " + path + ": section \"Check\", key \"SOCMax\": \"9O\" is not a number");
  EXPECT_EQ(ctx.EVT_TEST_SET.get().TestRepeatCnt, 4);  // read before the failing key
  EXPECT_EQ(ctx.EVT_TEST.get().SOCMin, 0);             // not reached

  ctx.FormMain.EditEVTBarcode.set_text("B1");
  EXPECT_FALSE(SpdBtnEVTTestClick(ctx));
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(2), "  " + r.error);
  EXPECT_EQ(ctx.FormMain.SpdBtnEVTTest.text(), "TEST");
  EXPECT_EQ(pack.status_polls(), 0);
  EXPECT_EQ(ctx.EVT_TEST_SET.get().TotalCount, 0);
}

TEST_F(PlanTest, ThePressIsRefusedWithoutWorkNumberBarcodeOrPlan) {
  struct Case {
    const char* work;
    const char* barcode;
    bool plan;
    const char* panel;
  };
  const Case cases[] = {
      {"", "B1", true, "  Work Number or Barcode can't empty."},
      {"W1", "", true, "  Work Number or Barcode can't empty."},
      {"W1", "B1", false, " The ini file is not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.panel);
    ctx.FormMain.OpenDialog_PCM_INI.set_text(c.plan ? Plan("") : "*.ini");
    ctx.FormMain.EditEVTWorkNumber.set_text(c.work);
    ctx.FormMain.EditEVTBarcode.set_text(c.barcode);
    EXPECT_FALSE(SpdBtnEVTTestClick(ctx));
    EXPECT_EQ(ctx.FormMain.StatusBarView.item(2), c.panel);
    EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "none");
    EXPECT_EQ(ctx.FormMain.EditEVTBarcode.text(), c.barcode);
  }
  EXPECT_EQ(pack.status_polls(), 0);
}

}  // namespace
}  // namespace bms::testing
