// The data log record step and the end-of-test power state.
#include <string>

#include "core/commands/identity.h"
#include "core/commands/power_mode.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/monitor/polling.h"
#include "core/platform/files.h"
#include "core/production_test/production_test.h"

namespace bms {

PromptAnswer EvtAsk(Context& ctx, const char* text, const char* caption, PromptButtons buttons);

namespace {

bool Flag(Context& ctx) { return ctx.RunFlag.load() != 0; }

std::string OrNull(const std::string& s) { return s.empty() ? std::string("NULL") : s; }

}  // namespace

int WriteTestDataLog(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  SetStatusPanel(ctx, 0, kSysStart);
  const std::string folder = ctx.app.data_folder + "Log_Record/";
  std::string why;
  const bool folder_ok = MakeDirectories(folder, &why);
  const std::string moment = FormatLocalTime(ctx.clock.local_now(), "yyyymmdd_hhnnss");
  if (!m.EditEVTBarcode.empty()) m.EditWriteLogBarcode.set_text(m.EditEVTBarcode.text());
  std::string part = SanitizeFileNamePart(m.EditWriteLogBarcode.text());
  if (m.EditWriteLogBarcode.empty()) part = "NULL";
  if (part.empty()) part = "_";
  const std::string path = folder + "TQ_" + part + "_" + moment + "_log_1.csv";
  int records = 0;
  // The test's log borrows the data log of monitoring: its file, its header
  // (the one with the clock column) and its row builder.
  bool open = folder_ok && ctx.Log->open(path) && ctx.Log->append(DataLogHeader(true));
  if (!open) {
    SetStatusPanel(ctx, 2, "  Log not written: " + (folder_ok ? ctx.Log->error() : why));
    ctx.Log->close();
  }
  if (ProbeLastChargeSupport(ctx)) {
    m.GroupBoxLastChgDate.set_visible(true);
    m.GroupBoxRTCDisplayOnly.set_visible(true);
  }
  ctx.CycleDone = 0;
  const int count = ctx.EVT_TEST_SET.with([](const EvtTestSet& s) { return s.LogRecordCnt; });
  for (int i = 1; i <= count && open; ++i) {
    if (!Flag(ctx)) break;
    ctx.clock.sleep_ms(10);
    if (!Flag(ctx)) break;
    SendStatusPoll(ctx);
    ctx.clock.sleep_ms(200);
    if (!Flag(ctx)) break;
    if (ReadStatusBlock(ctx)) {
      bool stopped = false;
      for (uint16_t page = 1; page <= 4 && !stopped; ++page) {
        SendRequest(ctx, 0x1001, page);
        ctx.clock.sleep_ms(80);
        AwaitReplyDecode(ctx);
        ctx.clock.sleep_ms(20);
        stopped = !Flag(ctx);
      }
      if (stopped) break;
      ctx.CycleDone = 1;
    }
    if (!Flag(ctx)) break;
    ReadBarcodeStorage(ctx, ctx.CurrentBarcodeMode.load());  // Auto and no mode read nothing here
    if (!Flag(ctx)) break;
    if (ctx.CycleDone.load()) {
      if (!ctx.Log->append(DataLogRow(ctx))) {
        SetStatusPanel(ctx, 2, "  Log write failed: " + ctx.Log->error());
        break;
      }
      if (Flag(ctx)) ++records;
    }
  }
  ctx.TimerRecordDelay->stop();
  m.TimerRecordDelayCnt.set_enabled(false);
  ctx.Log->close();
  m.Shape_TX.set_color(kWhite);
  m.Shape_RX.set_color(kWhite);
  SetCommandButtons(ctx, true);
  SetStatusPanel(ctx, 0, kSysStopPolling);
  return records;
}

void RunLogRecordStep(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  TFormMain& m = ctx.FormMain;
  run.Line("");
  ++run.item;
  m.EditWriteLogBarcode.set_text(m.EditEVTBarcode.text());
  const std::string name = "TQ58_" + OrNull(m.EditWriteLogBarcode.text()) + "_" + FormatLocalTime(ctx.clock.local_now(), "yyyymmdd_hhnnss");
  ctx.LogEnabled = ctx.FormConfig.CheckBoxLogFileSave.checked() ? 1 : 0;
  if (!ctx.LogEnabled.load()) return;
  run.TitleLine("Log Record  : " + name + "  Test  :  ");
  const int n = WriteTestDataLog(ctx);
  run.Measured(std::to_string(n), "1", std::to_string(ctx.EVT_TEST_SET.with([](const EvtTestSet& s) { return s.LogRecordCnt; })));
  if (n >= 1) {
    run.Pass("  [ " + name + " ]  ........  PASS");
  } else {
    run.Failure("Log Record : " + std::string(" [ ") + name + " ]  ........  NG");
  }
}

void RunEndPowerState(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  const int how = ctx.EVT_TEST_SET.with([](const EvtTestSet& s) { return s.Sleep_or_DeepSleep_Status_AfterEndTest; });
  if (how == 1) {
    SendSleep(ctx);
    run.Line(" Do Sleep Command");
  } else if (how == 2) {
    run.Line(" ");
    if (!Flag(ctx)) return;
    run.TitleNoGap("Deep Sleep Command Write(Test End) )  :  BMS enter the deep sleep status");
    SendDeepSleep(ctx);
    PromptAnswer a = EvtAsk(ctx, "   BMS 已經 Deep Sleep?   ", "   BMS Deep Sleep command 後確認.   ", PromptButtons::YesNo);
    if (a == PromptAnswer::Yes) run.Pass("  [ BMS enter to deep sleep test  ]  ........  PASS");
    if (a == PromptAnswer::No) run.Ng("  [ BMS enter to deep sleep test  ]  ........  NG", "  [ BMS enter to deep sleep test  ]  ........  NG");
    ctx.FormMain.PanelTestResult.set_text("Deep");
    run.TitleNoGap("BMS wake up from Deep Sleep Test  :  ");
    a = EvtAsk(ctx, "  BMS Deep Sleep 已經 Wake up?   ", "   BMS Deep Sleep 在 Wake up 後確認.   ", PromptButtons::YesNo);
    if (a == PromptAnswer::Yes) run.Pass("  [ BMS wake up from deep sleep test  ]  ........  PASS");
    if (a == PromptAnswer::No) run.Ng("  [ BMS wake up from deep sleep test  ]  ........  NG", "  [  BMS wake up from deep sleep test  ]  ........  NG");
  }
}

}  // namespace bms
