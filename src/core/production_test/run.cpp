// The TEST button and the frame of a run: start, phases, stop and abort,
// total report, verdict and counters, summary and report file.
#include <string>

#include "core/link/link_port.h"
#include "core/production_test/production_test.h"
#include "core/production_test/report.h"

namespace bms {

namespace {

std::string Dec(long long v) { return std::to_string(v); }

void EndOfRun(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnEVTTest.set_font_color(kBlue);
  m.SpdBtnEVTTest.set_text("TEST");
  SetStatusPanel(ctx, 0, kSysStop);
  m.EditEVTBarcode.set_text("");
  m.self.set_enabled(true);
  ctx.Evt->running = false;
}

}  // namespace

void WireProductionTestHandlers(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.BitBtn_PCM.on_click = [&ctx] { BitBtn_PCMClick(ctx); };
  m.SpdBtnEVTTest.on_click = [&ctx] { SpdBtnEVTTestClick(ctx); };
  m.EditEVTDevTestNumberInput.on_change = [&ctx] { EditEVTDevTestNumberInputChange(ctx); };
}

void BitBtn_PCMClick(Context& ctx) {
  if (!ctx.Operator) return;
  const std::string path = ctx.Operator->ChooseOpenFile("Test plan", "INI files (*.ini)");
  if (path.empty()) return;
  ctx.FormMain.OpenDialog_PCM_INI.set_text(path);
  ctx.FormMain.Edit_PCM_INI.set_text(path);
}

void EditEVTDevTestNumberInputChange(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  const std::string text = m.EditEVTDevTestNumberInput.text();
  m.EditEVTDevTestNumber.set_text(text);
  const int n = m.EditEVTDevTestNumberInput.int_value(0);
  ctx.EVT_TEST_SET.with([n](EvtTestSet& s) {
    s.DevTestRemaining = n;
    s.DevTestInput = n;
  });
}

bool SpdBtnEVTTestClick(Context& ctx, std::string* error) {
  TFormMain& m = ctx.FormMain;
  SetStatusPanel(ctx, 2, "");
  if (m.EditEVTWorkNumber.empty() || m.EditEVTBarcode.empty()) {
    SetStatusPanel(ctx, 2, kEvtEmptyInput);
    if (error) *error = "work number or barcode is empty";
    return false;
  }
  const std::string plan = m.OpenDialog_PCM_INI.text();
  if (!PlanFileExists(plan)) {
    SetStatusPanel(ctx, 2, kEvtNoPlan);
    if (error) *error = "test plan \"" + plan + "\" does not exist";
    return false;
  }
  const PlanLoadResult loaded = LoadTestPlan(ctx, plan);
  if (!loaded.ok) {
    // A plan that does not load starts no run; a running one still stops.
    SetStatusPanel(ctx, 2, "  " + loaded.error);
    if (error) *error = loaded.error;
    if (m.SpdBtnEVTTest.text() == "STOP") ctx.RunFlag = 0;
    return false;
  }
  if (m.SpdBtnEVTTest.text() == "TEST") {
    m.self.set_enabled(false);
    m.SpdBtnEVTTest.set_font_color(kRed);
    m.SpdBtnEVTTest.set_text("STOP");
    ctx.Evt->running = true;
    if (!ctx.workers.start([&ctx] { RunProductionTest(ctx); })) {
      EndOfRun(ctx);
      SetStatusPanel(ctx, 2, "  The test could not be started.");
      if (error) *error = "the test could not be started";
      return false;
    }
  } else {
    ctx.RunFlag = 0;
  }
  return true;
}

void RunProductionTest(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  EvtRun& run = *ctx.Evt;
  m.PanelTestResult.set_font_size(22);
  m.PanelTestResult.set_font_color(kRed);
  m.PanelTestResult.set_text("Checking");
  SetStatusPanel(ctx, 0, kSysSrart);
  run.Clear();
  const int packs_to_test = m.EditEVTDevTestNumberInput.int_value(0);
  ctx.EVT_TEST_SET.with([&](EvtTestSet& s) { s.DevTestInput = packs_to_test; });

  const LocalTime start = ctx.clock.local_now();
  EvtOutcome outcome;
  outcome.start_time = FormatLocalTime(start, "yyyy-mm-dd hh:nn:ss");
  outcome.work_number = m.EditEVTWorkNumber.text();
  outcome.barcode = m.EditEVTBarcode.text();
  outcome.plan_path = ctx.TestPlanFile.get();
  outcome.plan_sha256 = FileSha256(outcome.plan_path);  // the plan as this run loaded it
  run.outcome.set(outcome);

  run.Line(m.self.text() + "  Function  Test  Report  ...... ");
  run.Line("自動檢測起始日期與時間  :  " + FormatLocalTime(start, "yyyy-mm-dd , hh:nn:ss"));
  run.Line("");
  run.Line("Work Number  :  " + m.EditEVTWorkNumber.text());

  run.item = 0;
  ctx.EVT_TEST.with([](EvtTest& t) { t.FailCount = 0; });
  ctx.RunFlag = 1;
  run.run_completed = false;
  run.over_current_watch = false;
  run.t1_before = 0;
  run.t2_before = 0;
  run.link_opened = false;
  ctx.Live.with([](LiveData& l) {
    l.OverCurrentSeen = false;
    l.OverCurrentActive = true;
  });

  const EvtTestSet set = ctx.EVT_TEST_SET.get();
  const EvtTest plan = ctx.EVT_TEST.get();

  RunLinkSteps(ctx);
  bool go = ctx.RunFlag.load() != 0;
  if (go) {
    ctx.clock.sleep_ms(100);
    go = ctx.RunFlag.load() != 0;
  }
  if (go) {
    // A flag check of the preparation steps that finds RunFlag clear sends
    // the run straight to the end-of-test power state.
    if (RunPreparationSteps(ctx)) {
      run.Line(" ");
      run.Line(kDashLine);
      run.Line("自動檢測共  " + Dec(set.TestRepeatCnt) + "  次");
      RunMeasurementRepetitions(ctx);
      if (plan.GPIB_LOADER_Enabled == 0 && plan.Balance_Test) RunDischargeTests(ctx);
      run.DisableTimer();
      run.over_current_watch = false;
      if (ctx.RunFlag.load()) {
        RunLogRecordStep(ctx);
        if (ctx.RunFlag.load()) run.run_completed = true;
      }
    }
  }
  RunEndPowerState(ctx);
  if (run.link_opened) CloseLinkPort(ctx);
  if (plan.Balance_Test && ctx.RunFlag.load()) run.Line("");

  // Total report.
  run.Line(" ");
  run.Line(kDashLine);
  run.Line("Total Test Failed Report  :  ");
  const EvtTest result = ctx.EVT_TEST.get();
  for (int k = 1; k <= result.FailCount && k <= kFailureListCapacity; ++k) run.Line(result.FailList[static_cast<size_t>(k)]);
  if (result.FailCount > kFailureListCapacity) run.Line("  [ " + Dec(result.FailCount - kFailureListCapacity) + " more failure entries not listed ]");
  if (result.FailCount < 1) run.Line("Test items no any failed.");
  run.Line(" ");
  run.Line(kDashLine);

  // Verdict and counters.
  const bool pass = result.FailCount == 0 && run.item.load() >= 2 && run.run_completed.load();
  m.PanelTestResult.set_font_size(36);
  EvtTestSet counters;
  ctx.EVT_TEST_SET.with([&](EvtTestSet& s) {
    if (pass) {
      ++s.PassCount;
      --s.DevTestRemaining;
    } else {
      ++s.FailCount;
    }
    ++s.TotalCount;
    counters = s;
  });
  if (pass) {
    m.PanelTestResult.set_font_color(kBlue);
    m.PanelTestResult.set_text("PASS");
    m.EditEVTDevTestPassNumber.set_text(Dec(counters.PassCount));
    m.EditEVTDevTestNumber.set_text(Dec(counters.DevTestRemaining));
  } else {
    m.PanelTestResult.set_font_color(kRed);
    m.PanelTestResult.set_text("FAIL");
    m.EditEVTDevTestNGNumber.set_text(Dec(counters.FailCount));
  }
  m.EditEVTDevTestTotalNumber.set_text(Dec(counters.TotalCount));

  // Summary.
  const LocalTime end = ctx.clock.local_now();
  const std::string when = FormatLocalTime(end, "yyyy.mm.dd , hh:nn:ss");
  run.Line("自動檢測數量  :  共  " + Dec(counters.DevTestInput) + " pcs");
  run.Line("自動檢測次數  :  第  " + Dec(counters.TotalCount) + " 次");
  run.Line("檢測PASS次數  :  第  " + Dec(counters.PassCount) + " 次");
  run.Line("檢測-NG-次數  :  第  " + Dec(counters.FailCount) + " 次");
  run.Line(" ");
  run.Line(kDashLine);
  run.Line("重複檢測次數  :  共  " + Dec(set.TestRepeatCnt) + "  次");
  run.Line("停止測試時間  :  " + when);
  run.Line("產品工號名稱  :  " + m.EditEVTWorkNumber.text());
  run.Line("產品條碼名稱  :  " + m.EditEVTBarcode.text());
  run.Line("測試專案名稱  :  " + m.EditFWID.text());
  run.Line("測試韌體版本  :  " + m.EditFWVer.text());
  run.Line("測試項目總數  :  " + Dec(run.item.load()) + " 項");
  run.Line("測試失敗總數  :  " + Dec(result.FailCount) + " 項");
  run.Line("測試結果報告  :  " + m.PanelTestResult.text());

  SaveEvtRecords(ctx, end, pass ? "PASS" : "FAIL", counters);
  EndOfRun(ctx);
}

}  // namespace bms
