// The discharge tests with the balance check timer and the over-current
// watch.
#include <string>

#include "core/production_test/production_test.h"

namespace bms {

PromptAnswer EvtAsk(Context& ctx, const char* text, const char* caption, PromptButtons buttons);

namespace {

std::string Dec(long long v) { return std::to_string(v); }
bool Flag(Context& ctx) { return ctx.RunFlag.load() != 0; }

// The spread shown in Edit_VoltDiff, as the unsigned comparison reads it.
void KeepMaximum(Context& ctx, uint32_t* maximum) {
  const int v = ctx.FormMain.Edit_VoltDiff.int_value(0);
  if (static_cast<uint32_t>(v) >= *maximum) *maximum = static_cast<uint32_t>(v);
}

// Steps 14 to 18: the over-current test.
void OverCurrentTest(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  run.over_current_watch = true;
  run.Line("");
  const PromptAnswer a = EvtAsk(ctx, "   BMS Discharge Over Current Flag Closed start Test ", "   Over Current Flag Closed Test   ", PromptButtons::Ok);
  if (a == PromptAnswer::Ok) {
    run.Line("");
    run.Line("Test BMS Over Current Flag Closed start. ");
  }
  if (!Flag(ctx)) return;
  run.Line("");
  ++run.item;
  run.DisableTimer();
  run.over_current_watch = false;
  ctx.clock.sleep_ms(100);
  auto active = [&ctx] { return ctx.Live.with([](const LiveData& l) { return l.OverCurrentActive; }); };
  const bool seen = ctx.Live.with([](const LiveData& l) { return l.OverCurrentSeen; });
  if (seen) {
    for (int k = 0; k < 300; ++k) {
      RefreshLiveData(ctx);
      run.Line("Flag Closed after Output Over Current   :  " + Dec(active() ? 1 : 0));
      if (!active()) break;
      ctx.clock.sleep_ms(100);
    }
  }
  const bool still = active();
  run.TitleLine("Test Flag Closed after Output Over Current  :  " + Dec(still ? 1 : 0));
  run.Measured(Dec(still ? 1 : 0), "0", "0");
  if (!still && seen) {
    run.Pass("  [ Test Flag Closed after Output Over Current ]  ........  PASS");
  } else {
    run.Ng("  [ Test Flag Closed after Output Over Current ]  ........  NG",
           "Test Flag Closed after Output Over Current  : " + std::string(" [ ") + Dec(still ? 1 : 0) + " ]  ........  NG");
  }
}

// Steps 9 to 13; false when the run goes on with the over-current test
// because RunFlag was found clear.
void LoadChecks(Context& ctx, const EvtTest& plan, uint32_t maximum) {
  EvtRun& run = *ctx.Evt;
  run.Title("BMS Dynamic Balance Range  :  " + Dec(plan.DynamicBalance) + " mV" + "  Test  :  ");
  run.Measured(std::to_string(maximum), "", std::to_string(static_cast<uint32_t>(plan.DynamicBalance)));
  if (maximum <= static_cast<uint32_t>(plan.DynamicBalance)) {
    run.Pass("  [ " + std::to_string(maximum) + " mV" + " ]  ........  PASS");
  } else {
    run.Ng("  [ " + std::to_string(maximum) + " ]  ........  NG", "Dynamic Balance Range  : " + std::string(" [ ") + std::to_string(maximum) + " ]  ........  NG");
  }
  if (plan.T1T2_DsgCurrentInDeepSeep_Test != 1) return;

  run.DisableTimer();
  ctx.clock.sleep_ms(plan.T1T2TestDelay < 0 ? 0 : plan.T1T2TestDelay);
  for (int t = 0; t < 10; ++t) {
    if (RefreshLiveData(ctx)) break;
    ctx.clock.sleep_ms(200);
  }
  const int32_t t1_now = ctx.FormMain.EditT1.int_value(0);
  const int32_t t2_now = ctx.FormMain.EditT2.int_value(0);
  if (!Flag(ctx)) return;
  run.Line("");
  if (!Flag(ctx)) return;
  const int32_t r1 = plan.T1_Rang_After_Dsg, b1 = run.t1_before;
  run.Title("Discharge T1 Test  :  " + Dec(b1 + r1) + " to " + Dec(b1 - r1) + " Deg.C" + "  Test  :  ");
  run.Measured(Dec(t1_now), Dec(b1 - r1), Dec(b1 + r1));
  if (b1 - r1 <= t1_now && t1_now <= b1 + r1) {
    run.Pass("  [ " + Dec(t1_now) + "] Deg.C ........  PASS");
  } else {
    run.Ng("  [ " + Dec(t1_now) + "] Deg.C ........  NG", "Discharge T1 : " + std::string(" [ ") + Dec(t1_now) + " ℃ ]  ........  NG");
  }
  if (!Flag(ctx)) return;
  const int32_t r2 = plan.T2_Rang_After_Dsg, b2 = run.t2_before;
  run.Title("Discharge T2 Test  :  " + Dec(b2 + r2) + " to " + Dec(b2 - r2) + " Deg.C" + "  Test  :  ");
  run.Measured(Dec(t2_now), Dec(b2 - r2), Dec(b2 + r2));
  if (b2 - r2 <= t2_now && t2_now <= b2 + r2) {
    run.Pass("  [ " + Dec(t2_now) + " ]  Deg.C ........  PASS");
  } else {
    run.Ng("  [ " + Dec(t2_now) + " ] Deg.C ........  NG", "Discharge T2 : " + std::string(" [ ") + Dec(t2_now) + " ℃ ]  ........  NG");
  }
  run.EnableTimer();
}

}  // namespace

void WaitLogged(Context& ctx, int ms) {
  ctx.Evt->Line("Delay " + Dec(ms) + " msec");
  ctx.clock.sleep_ms(ms < 0 ? 0 : ms);
}

void Timer_EVT_Balance_CheckTimer(Context& ctx) {
  RefreshLiveData(ctx);
  EvtRun& run = *ctx.Evt;
  if (run.over_current_watch.load()) {
    const LiveData l = ctx.Live.get();
    run.Line("Current  :  " + Dec(l.PackCurrent) + " mA");
    run.Line("Test Output Over Current Flag Opened  :  " + Dec(l.OverCurrentSeen ? 1 : 0));
  }
}

void RunDischargeTests(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  const EvtTestSet set = ctx.EVT_TEST_SET.get();
  const EvtTest plan = ctx.EVT_TEST.get();
  uint32_t maximum = 0;
  run.Line("");
  run.Line("");
  const PromptAnswer a = EvtAsk(ctx, "   BMS Discharge Cell Voltage Balance Start Test ", "   Cell Voltage Balance Test   ", PromptButtons::Ok);
  run.Line("");
  if (a == PromptAnswer::Ok) run.Line("BMS Discharge Cell Voltage Balance Start Test. ");
  RefreshLiveData(ctx);
  WaitLogged(ctx, set.DelaymsAfterDsgCurrent);
  RefreshLiveData(ctx);
  if (Flag(ctx)) {
    run.Line("");
    KeepMaximum(ctx, &maximum);
    for (int k = 1; k <= set.BalanceCount; ++k) {
      run.Line("Max Balance : " + std::to_string(maximum) + " mV, Dynamic Balance Count : " + Dec(k));
      WaitLogged(ctx, set.BalanceDelayms);
      RefreshLiveData(ctx);
      KeepMaximum(ctx, &maximum);
    }
    run.TitleLine("Check BMS Current  :  " + std::string("Max: ") + Dec(plan.BMSChgDsgCurrentMax) + " to " + "Min: " + Dec(plan.BMSChgDsgCurrentMin) + " mA" + "  Test  :  ");
    ++run.item;
    const int32_t c = ctx.Live.with([](const LiveData& l) { return l.PackCurrent; });
    run.Measured(Dec(c), Dec(plan.BMSChgDsgCurrentMin), Dec(plan.BMSChgDsgCurrentMax));
    if (plan.BMSChgDsgCurrentMin <= c && c <= plan.BMSChgDsgCurrentMax) {
      run.Pass("  [ " + Dec(c) + " mA" + " ]  ........  PASS");
    } else {
      run.Ng("  [ " + Dec(c) + " mA" + " ]  ........  NG", "OC Current  : " + std::string(" [ ") + Dec(c) + " mA" + " ]  ........  NG");
    }
    run.EnableTimer();
    if (Flag(ctx)) LoadChecks(ctx, plan, maximum);
  }
  OverCurrentTest(ctx);
  run.DisableTimer();
  run.over_current_watch = false;
}

}  // namespace bms
