#include "core/monitor/polling.h"

#include <array>
#include <cstdio>

#include "core/commands/cell_resistance.h"
#include "core/commands/identity.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/link/port_supervisor.h"
#include "core/monitor/data_log.h"
#include "core/monitor/live_display.h"
#include "core/monitor/plot_series.h"
#include "core/platform/files.h"
#include "core/production_test/test_plan.h"
#include "core/shell/editions.h"

namespace bms {

namespace {

constexpr uint16_t kLeadCountRegister = 0x6600;
constexpr uint16_t kLastCountRegister = 0x6602;
constexpr uint16_t kLeadRecordRegister = 0x6601;
constexpr uint16_t kLastRecordRegister = 0x6603;
constexpr uint8_t kEventChargeStop = 0x82;

// The stop test of the loops. A vanished device ends the run as STOP does,
// with the reason in status panel 2.
bool Stopped(Context& ctx) {
  if (ctx.LinkLost.load() && ctx.RunFlag.load()) {
    // A supervisor rides the loss out: the cycle ends here, the run may go on.
    if (ctx.Supervisor) return true;
    ctx.RunFlag = 0;
    SetStatusPanel(ctx, 2, "  Link lost: " + ctx.LinkError.get());
  }
  return ctx.RunFlag.load() == 0;
}

bool ReadRegister(Context& ctx, uint16_t address, uint16_t length) {
  SendRequest(ctx, address, length);
  return AwaitReplyDecode(ctx);
}

// A cell-voltage page counts as read in this cycle only when its own reply
// (address 0x1001 and this page) was decoded.
bool ReadCellPage(Context& ctx, uint16_t page, int64_t wait_ms) {
  SendRequest(ctx, 0x1001, page);
  if (wait_ms > 0) ctx.clock.sleep_ms(wait_ms);
  if (!AwaitReplyDecode(ctx)) return false;
  const ReplyRecord r = ctx.ReplyRecords.get()[0];
  return (r[2] << 8 | r[3]) == 0x1001 && (r[4] << 8 | r[5]) == page;
}

std::string CellPageMissing(uint16_t page) { return "cell voltages page " + std::to_string(page) + " not read"; }

void RawCellStatistics(Context& ctx) {
  const CellSpread s = ctx.Live.with([](LiveData& live) { return SpreadOfCells(live.RawCellVoltage, live.CellSeries); });
  ctx.FormMain.EditVCellMaxNoAdjust.set_text(std::to_string(static_cast<uint32_t>(s.high)));
  ctx.FormMain.EditVCellMinNoAdjust.set_text(std::to_string(static_cast<uint32_t>(s.low)));
  ctx.FormMain.EditVCellBalanceNoAdjust.set_text(std::to_string(static_cast<uint32_t>(s.high - s.low)));
}

// Steps 8.1 to 8.6 of a full cycle after a valid status block; false when a
// stop test ended the run. *missing names what of the cycle's values was
// not read (empty: the cycle is complete).
bool FullCycleReads(Context& ctx, std::string* missing) {
  TFormMain& m = ctx.FormMain;
  if (Stopped(ctx)) return false;
  for (uint16_t page = 1; page <= 4; ++page) {
    if (!ReadCellPage(ctx, page, 0) && missing->empty()) *missing = CellPageMissing(page);
    if (Stopped(ctx)) return false;
  }
  ReadRegister(ctx, 0x200B, 0);
  if (Stopped(ctx)) return false;
  ReadRegister(ctx, 0x0005, 0);
  if (Stopped(ctx)) return false;
  if (m.TabSheetENG.visible() || m.TabSheetXPL.visible()) {
    ReadClock(ctx);
    ReadShippingMode(ctx);
  }
  if (m.TabSheetENG.visible() || m.TabSheetXPL.visible() || m.TabSheetEVT.visible()) {
    SendRequest(ctx, 0x100E, 1);
    ctx.clock.sleep_ms(10);
    AwaitReplyDecode(ctx);
    if (Stopped(ctx)) return false;
  }
  RunCellResistanceCycle(ctx);  // the write-all and read-all of the XPL tab
  if (m.CheckBoxVCellNoAdjust.checked()) {
    for (uint16_t page = 1; page <= 4; ++page) {
      ReadRegister(ctx, 0x100B, page);
      if (Stopped(ctx)) return false;
    }
    ReadRegister(ctx, 0x0006, 0);
    if (Stopped(ctx)) return false;
    RawCellStatistics(ctx);
  }
  if (missing->empty()) ctx.CycleDone = 1;
  return true;
}

void CycleHook(Context& ctx, bool completed) {
  if (completed) TapPlotSample(ctx);
  if (ctx.Supervisor) ctx.Supervisor->NoteCycle(completed);
  if (ctx.MonitorCycleHook) ctx.MonitorCycleHook(completed);
}

// After the cycles ended: true when a lost adapter came back and the cycles
// go on, on the same run and the same data log.
bool ResumeAfterLinkLoss(Context& ctx) { return ctx.Supervisor != nullptr && ctx.Supervisor->RideOut(); }

void StartLog(Context& ctx, bool pq) {
  ctx.LogEnabled = ctx.FormConfig.CheckBoxLogFileSave.checked() ? 1 : 0;
  if (ctx.LogEnabled) OpenDataLog(ctx, pq);
}

void EndSequence(Context& ctx, bool opened, bool pq) {
  TFormMain& m = ctx.FormMain;
  WaitWhileLinkBusy(ctx);  // a borrower finishes its exchange before the port closes
  if (opened) CloseLinkPort(ctx);
  ctx.RunFlag = 0;
  ctx.TimerRecordDelay->stop();
  m.TimerRecordDelayCnt.set_enabled(false);
  CloseDataLog(ctx);
  if (!pq) {
    m.BitBtnWCellmOmhAdjust.set_enabled(false);
    m.BitBtnRCellmOmhAdjust.set_enabled(false);
    m.BitBtnCellRPrarmLoad.set_enabled(false);
  }
  m.Shape_TX.set_color(kWhite);
  m.Shape_RX.set_color(kWhite);
  if (!pq && (ExeNameStartsWith(ctx, "TQ58_CPL_") || ExeNameStartsWith(ctx, "TQ58_FPL_"))) {
    m.EditWriteLogBarcode.set_text("");
    ResetLiveDisplay(ctx);
  }
  SetCommandButtons(ctx, true);
  SetStatusPanel(ctx, 0, kSysStopPolling);
  m.BitBtnEVTEEPRead.set_enabled(true);
  m.BitBtnEVTDIARead.set_enabled(true);
  m.SpdBtnEVTTest.set_enabled(true);
  if (!pq) {
    m.BitBtnFWDataRead.set_enabled(false);
    m.Button_EEP_Parameter.set_enabled(true);
  }
  m.SpdBtnRUN.set_text("RUN");
  m.SpdBtnRUN.set_font_color(kBlue);
  ctx.MonitorActive = false;
}

// Record-count header of the LEAD or LAST block; the count or 0.
uint16_t ReadRecordCount(Context& ctx, uint16_t address, Control* progress) {
  const size_t block = address == kLeadCountRegister ? static_cast<size_t>(HistoryBlock::Lead) : static_cast<size_t>(HistoryBlock::Last);
  ctx.History.with([&](HistoryState& h) {
    h.count[block] = 0;
    h.count_valid[block] = false;
  });
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (progress) progress->step_progress(1);
    SendRequestWide(ctx, address, 0, 0, 0);
    ctx.clock.sleep_ms(100);
    if (AwaitReplyDecode(ctx) && ctx.History.with([&](HistoryState& h) { return h.count_valid[block]; })) break;
    ctx.clock.sleep_ms(100);
    if (!ctx.RunFlag.load()) break;
  }
  return ctx.History.with([&](HistoryState& h) { return h.count[block]; });
}

bool Later(const std::array<uint8_t, 6>& a, const std::array<uint8_t, 6>& b) {
  for (size_t i = 0; i < 5; ++i)
    if (a[i] != b[i]) return a[i] > b[i];
  return false;
}

void SearchBlock(Context& ctx, bool lead) {
  TFormMain& m = ctx.FormMain;
  const uint16_t count_register = lead ? kLeadCountRegister : kLastCountRegister;
  const uint16_t record_register = lead ? kLeadRecordRegister : kLastRecordRegister;
  const size_t block = lead ? static_cast<size_t>(HistoryBlock::Lead) : static_cast<size_t>(HistoryBlock::Last);
  if (lead) ctx.FormDiagnosisReport.Label_FstFullChgDate.set_text("");
  const uint16_t count = ReadRecordCount(ctx, count_register, nullptr);
  for (uint32_t j = 1; j <= count && ctx.RunFlag.load(); ++j) {
    // A chunk that does not arrive leaves zeros, never the previous record.
    ctx.History.with([&](HistoryState& h) { h.record[block] = HistoryRecord{}; });
    for (uint16_t page = 1; page <= 4; ++page) {
      SendRequestWide(ctx, record_register, page, j, 0);
      AwaitReplyDecode(ctx);
      if (lead && Stopped(ctx)) break;
    }
    m.ProgressBarLastChgDate.step_progress(1);
    const std::array<uint8_t, 32> rec = ctx.History.with([&](HistoryState& h) { return h.record[block].bytes; });
    if (rec[20] != kEventChargeStop) continue;
    const std::array<uint8_t, 6> date{rec[0], rec[1], rec[2], rec[3], rec[4], rec[5]};
    ctx.LatestCharge.with([&](LatestChargeRecord& latest) {
      if (!Later(date, latest.date)) return;
      latest.date = date;
      latest.soc = rec[14];
      char text[64];
      std::snprintf(text, sizeof text, "%d-%d-%d %d:%d", date[0] + 2000, date[1], date[2], date[3], date[4]);
      latest.text = text;
      latest.found = true;
    });
  }
}

}  // namespace

void ApplyRunLocks(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  const std::string caption = m.SpdBtnRUN.text();
  bool on;
  if (caption == "STOP")
    on = false;
  else if (caption == "RUN")
    on = true;
  else
    return;
  for (Control* c : {&m.BitBtnPrint,          &m.BitBtnSafeInfoRead, &m.SpdBtnDeepSleep,         &m.SpdBtnSleep,           &m.BitBtnBarCodeWrite,   &m.BitBtnBarCodeRead,
                     &m.SpdBtnRTCSet,         &m.SpdBtnRTCGet,       &m.SpdBtnShippingModeSet,   &m.SpdBtnShippingModeGet, &m.SpdBtnSNSet,          &m.SpdBtnSNGet,
                     &m.SpdBtnConfigure,      &m.SpdBtnExit,         &m.SpdBtnEEPROMEraseSet,    &m.BitBtnPrintReportRead, &m.GroupBoxShippingMode, &m.SpdBtnEraseMCUIntTCC,
                     &m.SpdBtnEraseMCUIntEEP, &m.SpdBtnLITDeepSleep, &m.SpeedButton_GatewayMode, &m.SpeedButton_MOSFETSW,  &m.Button_EEP_Parameter})
    c->set_enabled(on);
}

void SpdBtnRUNClick(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  if ((ExeNameStartsWith(ctx, "TQ58_FPL_") || ExeNameStartsWith(ctx, "PQTQ58_FPL_")) && m.EditWriteLogBarcode.empty()) {
    SetStatusPanel(ctx, 2, "  Write log Barcode can't empty. ");
    return;
  }
  if (ctx.RunFlag.load()) {
    m.SpdBtnLastChgDateGet.set_enabled(false);
    SetStatusPanel(ctx, 2, "");
    if (!m.TabSheetXPL.visible() || ctx.CycleDone.load()) ctx.RunFlag = 0;
    return;
  }
  // The previous run is still in its end sequence: two runs never share the port.
  if (ctx.MonitorActive.load()) return;
  if (ExeNameStartsWith(ctx, "TQ58_EVT_") || ExeNameStartsWith(ctx, "PQTQ58_EVT_")) {
    const std::string plan = m.OpenDialog_PCM_INI.text();
    if (!plan.empty() && FileExists(plan)) LoadTestPlan(ctx, plan);  // a plan error shows at the TEST press
  }
  m.SpdBtnLastChgDateGet.set_enabled(false);
  SetStatusPanel(ctx, 2, "");
  ctx.RunFlag = 1;
  ctx.MonitorActive = true;
  ResetLiveDisplay(ctx);
  m.SpdBtnRUN.set_font_color(kRed);
  m.SpdBtnRUN.set_text("STOP");
  ApplyRunLocks(ctx);
  if (!ctx.workers.start([&ctx] { MonitorThread(ctx); })) {
    ctx.RunFlag = 0;
    ctx.MonitorActive = false;
    m.SpdBtnRUN.set_text("RUN");
    m.SpdBtnRUN.set_font_color(kBlue);
    ApplyRunLocks(ctx);
    SetStatusPanel(ctx, 2, "  Cannot start the polling thread. ");
  }
}

void MonitorThread(Context& ctx) {
  // The pause of the RUN press runs here so the window stays responsive.
  ctx.clock.sleep_ms(300);
  ctx.LinkBusy = 0;
  ctx.FormMain.BitBtnEVTEEPRead.set_enabled(false);
  ctx.FormMain.BitBtnEVTDIARead.set_enabled(false);
  ctx.FormMain.SpdBtnEVTTest.set_enabled(false);
  if (IsPqEdition(ctx))
    MonitorLoopPQ(ctx);
  else
    MonitorLoop(ctx);
}

void MonitorLoop(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  SetStatusPanel(ctx, 0, kSysStart);
  if (!OpenLinkPort(ctx)) {
    SetStatusPanel(ctx, 2, "  Cannot open the port: " + ctx.LinkError.get());
    EndSequence(ctx, false, false);
    return;
  }
  m.BitBtnCellRPrarmLoad.set_enabled(true);
  m.BitBtnRCellmOmhAdjust.set_enabled(true);
  m.BitBtnFWDataRead.set_enabled(true);
  m.CheckBox_T1T2_Enabled.set_checked(false);
  StartLog(ctx, false);
  if (ProbeLastChargeSupport(ctx)) {
    m.GroupBoxLastChgDate.set_visible(true);
    m.GroupBoxRTCDisplayOnly.set_visible(true);
  }
  if (m.CheckBox_SHU_EN.checked()) {
    bool sent = false;
    for (int attempt = 0; attempt < 3 && ctx.RunFlag.load(); ++attempt) {
      sent = SendShuEnable(ctx);
      if (sent && AwaitShuEnableAck(ctx)) break;
      ctx.clock.sleep_ms(100);
    }
    if (sent) ctx.clock.sleep_ms(500);
  }
  ctx.CycleDone = 0;
  do {
    while (!Stopped(ctx)) {
      if (ctx.LinkBusy.load()) {
        // The port is lent to another operation: no cycle, look again shortly.
        ctx.clock.sleep_ms(1);
        continue;
      }
      bool completed = false;
      std::string missing = "no valid status block";
      ctx.clock.sleep_ms(10);
      if (Stopped(ctx)) break;
      SendStatusPoll(ctx);
      if (Stopped(ctx)) break;
      if (ReadStatusBlock(ctx)) {
        missing.clear();
        if (!FullCycleReads(ctx, &missing)) break;
        completed = missing.empty();
      }
      m.EditBarCode32.set_text("");
      ReadBarcodeBySelection(ctx, AutoProbe::ExternalEnds);
      if (m.CheckBoxLastChgDate.checked()) {
        m.CheckBoxLastChgDate.set_enabled(false);
        FindLastChargeDate(ctx);
        if (Stopped(ctx)) break;
        m.CheckBoxLastChgDate.set_enabled(true);
      }
      if (Stopped(ctx)) break;
      LogCycleRow(ctx, completed, missing);
      CycleHook(ctx, completed);
    }
  } while (ResumeAfterLinkLoss(ctx));
  EndSequence(ctx, true, false);
}

void MonitorLoopPQ(Context& ctx) {
  SetStatusPanel(ctx, 0, kSysStart);
  if (!OpenLinkPort(ctx)) {
    SetStatusPanel(ctx, 2, "  Cannot open the port: " + ctx.LinkError.get());
    EndSequence(ctx, false, true);
    return;
  }
  StartLog(ctx, true);
  ctx.CycleDone = 0;
  do {
    while (!Stopped(ctx)) {
      bool completed = false;
      std::string missing = "no valid status block";
      ctx.clock.sleep_ms(100);
      if (Stopped(ctx)) break;
      if (ctx.LinkBusy.load()) continue;
      SendStatusPoll(ctx);
      if (Stopped(ctx)) break;
      ctx.clock.sleep_ms(200);
      if (Stopped(ctx)) break;
      if (ReadStatusBlock(ctx)) {
        missing.clear();
        bool stopped = false;
        for (uint16_t page = 1; page <= 4 && !stopped; ++page) {
          if (!ReadCellPage(ctx, page, 50) && missing.empty()) missing = CellPageMissing(page);
          stopped = Stopped(ctx);
        }
        if (stopped) break;
        completed = missing.empty();
        if (completed) ctx.CycleDone = 1;
      }
      LogCycleRow(ctx, completed, missing);
      CycleHook(ctx, completed);
    }
  } while (ResumeAfterLinkLoss(ctx));
  EndSequence(ctx, true, true);
}

bool ReadClock(Context& ctx) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    PurgeLink(ctx, kPurgeAll);
    SendRequest(ctx, 0x1005, 0);
    ctx.clock.sleep_ms(100);
    if (AwaitReplyDecode(ctx)) return true;
    ctx.FormMain.EditRTC.set_text("");
    ctx.FormMain.EditRTCENG.set_text("");
    ctx.clock.sleep_ms(300);
  }
  return false;
}

bool ReadShippingMode(Context& ctx) {
  PurgeLink(ctx, kPurgeAll);
  SendRequest(ctx, 0x200B, 0);
  ctx.clock.sleep_ms(50);
  return AwaitReplyDecode(ctx);
}

bool ProbeLastChargeSupport(Context& ctx) {
  const int sum = ReadRecordCount(ctx, kLeadCountRegister, nullptr) + ReadRecordCount(ctx, kLastCountRegister, nullptr);
  ctx.FormMain.ProgressBarEEPRead.set_max(sum);
  return sum > 0;
}

void FindLastChargeDate(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.ProgressBarLastChgDate.set_progress(0);
  ctx.clock.sleep_ms(500);
  const int sum = ReadRecordCount(ctx, kLeadCountRegister, &m.ProgressBarLastChgDate) + ReadRecordCount(ctx, kLastCountRegister, &m.ProgressBarLastChgDate);
  m.ProgressBarEEPRead.set_max(sum);
  m.ProgressBarLastChgDate.set_max(sum + 2);
  if (sum == 0) m.ProgressBarLastChgDate.set_progress(100);
  if (ctx.RunFlag.load()) {
    SearchBlock(ctx, true);
    if (ctx.RunFlag.load()) {
      SearchBlock(ctx, false);
      const LatestChargeRecord latest = ctx.LatestCharge.get();
      m.EditLastChgDate.set_text(latest.text);
      m.EditLastChgSOC.set_text(std::to_string(latest.soc));  // decimal, also before any charge record was found
    }
  }
  ctx.clock.sleep_ms(100);
}

}  // namespace bms
