#include "core/history/diagnosis.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/history/eeprom_window.h"
#include "core/history/fast_reply.h"
#include "core/history/record_decode.h"
#include "core/history/summary.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"

namespace bms {

namespace {

std::string Num(long long v) { return std::to_string(v); }

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool Running(Context& ctx) { return ctx.RunFlag.load() != 0; }

// Fills the labels a rule of the summary showed.
void ShowSummary(TFormDiagnosisReport& r, const SummaryLabels& s) {
  const std::pair<const std::optional<std::string>*, Control*> map[] = {
      {&s.LastChgDate, &r.Label_LastChgDate},
      {&s.LastChgSOC, &r.Label_LastChgSOC},
      {&s.FstFullChgDate, &r.Label_FstFullChgDate},
      {&s.LastFullChgDate, &r.Label_LastFullChgDate},
      {&s.FstDsgDepletionDate, &r.Label_FstDsgDepletionDate},
      {&s.LastDsgDepletionDate, &r.Label_LastDsgDepletionDate},
      {&s.MaxChgLowSOCsinceDate, &r.Label_MaxChgLowSOCsinceDate},
      {&s.ExtDsgRecAtDate, &r.Label_ExtDsgRecAtDate},
      {&s.MaxDurationLowSOC0Hours, &r.Label_MaxDurationLowSOC0Hours},
      {&s.SOC0ChgCap, &r.Label_SOC0ChgCap},
  };
  for (const auto& [text, label] : map)
    if (*text) label->set_text(**text);
}

// Count of a block for the pass: up to 10 tries with the given waits.
void ReadCount(Context& ctx, HistoryBlock block, int wait_after_ms, int wait_retry_ms, bool stop_when_known) {
  const size_t b = static_cast<size_t>(block);
  for (int attempt = 0; attempt < 10; ++attempt) {
    SendRequestWide(ctx, RegistersOf(block).count, 0, 0, 0);
    if (wait_after_ms > 0) ctx.clock.sleep_ms(wait_after_ms);
    const bool replied = AwaitReplyDecode(ctx);
    const bool valid = ctx.History.with([&](HistoryState& s) { return s.count_valid[b]; });
    if (replied && valid) return;
    ctx.clock.sleep_ms(wait_retry_ms);
    if (stop_when_known && valid) return;
  }
}

// One block of the summary scan.
void ScanBlock(Context& ctx, HistoryBlock block, HistorySummary& summary, uint32_t design_capacity) {
  const size_t b = static_cast<size_t>(block);
  const bool fast = FastHistoryRead(ctx);
  ctx.History.with([&](HistoryState& s) {
    s.count[b] = 0;
    s.count_valid[b] = false;
  });
  ReadCount(ctx, block, 50, 100, false);
  const uint16_t count = ctx.History.with([&](HistoryState& s) { return s.count_valid[b] ? s.count[b] : uint16_t{0}; });
  ctx.History.with([&](HistoryState& s) { s.block_records[b].clear(); });
  TFormDiagnosisReport& r = ctx.FormDiagnosisReport;
  for (uint32_t n = 1; n <= count && Running(ctx); ++n) {
    ClearHistoryRecord(ctx, block);
    for (uint16_t k = 1; k <= 4; ++k) {
      SendRequestWide(ctx, RegistersOf(block).record, k, n, 0);
      AwaitHistoryReply(ctx, fast);
    }
    ctx.FormMain.ProgressBarEEPRead.step_progress(1);
    const std::array<uint8_t, 32> bytes = ctx.History.with([&](HistoryState& s) {
      s.block_records[b].push_back(s.record[b].bytes);
      return s.record[b].bytes;
    });
    SummaryLabels shown;
    ApplySummaryRules(summary, DecodeRecordFields(bytes), design_capacity, shown);
    ShowSummary(r, shown);
  }
}

void FillModelLines(Context& ctx) {
  TFormDiagnosisReport& r = ctx.FormDiagnosisReport;
  const std::string model = ctx.Live.with([](LiveData& l) { return l.ModelName; });
  if (!HasProductLines(model)) return;
  r.Label_MaxCghCurrent.set_text("6.0 A");
  r.Label_MaxChgVoltage.set_text("42.0 V");
  r.Label_WarrantyCycle.set_text("500 times (SOC>60% D.C)");
  r.Label_MaxDsgCurrentA.set_text("20 A");
  r.Label_PulseDsgCurrentA.set_text("35 A");
  r.Label_PulseDsgDurationSec.set_text("3 sec");
  r.Label_MFTName.set_text("Pellamco");
  const EepromHeader h = ctx.History.with([](HistoryState& s) { return s.header; });
  r.Label_Barcode.set_text(h.Barcode);
  ReportDate made;
  if (ManufacturingDate(BarcodeWeek(h.Barcode), &made)) {
    r.Label_MftDate.set_text(ReportDateText(made));
    r.Label_ExpDate.set_text(ReportDateText(ExpiryDate(made)));
  } else {
    r.Label_MftDate.set_text("2013-0-0");
  }
}

}  // namespace

// ---------------------------------------------------------------- page table

const std::vector<ReportSection>& DiagnosisReportSections() {
  static const std::vector<ReportSection> kSections = {
      {"Product Information",
       {{"Model name", "Label_ModelName"},
        {"Cell type", "Label_CellType"},
        {"Manufacturing date", "Label_MftDate"},
        {"Design capacity", "Label_DC"},
        {"Maximal Charge Current", "Label_MaxCghCurrent"},
        {"Maximal Charge Voltage", "Label_MaxChgVoltage"},
        {"Expiration date", "Label_ExpDate"},
        {"Warranty cycles", "Label_WarrantyCycle"},
        {"Manufacturer", "Label_MFTName"},
        {"Cell configuration", "Label_CellCfg"},
        {"Maximal discharge current", "Label_MaxDsgCurrentA"},
        {"Pulse Discharge Current", "Label_PulseDsgCurrentA"},
        {"Pulse Discharge Duration", "Label_PulseDsgDurationSec"},
        {"Barcode", "Label_Barcode"}}},
      {"Battery condition read out",
       {{"Read out date", "Label_ReadOutDate"},
        {"Read out time", "Label_ReadOutTime"},
        {"Cycle count", "Label_CycleCnt"},
        {"State of charge", "Label_PSOC"},
        {"Charge/Discharge current", "Label_ChgDsgCurrentmA"},
        {"Battery voltage", "Label_PackVoltage"},
        {"Full charge capacity", "Label_FCC"},
        {"Battery temperatute", "Label_T1"},
        {"Maximal cell voltage", "Label_MaxCellVolt"},
        {"Minimal cell voltage", "Label_MinCellVolt"},
        {"Cell Imbalance", "Label_CellImbalance"},
        {"Protocoltion Flag", "Label_ProtectFlag"}}},
      {"Summary of Key Charge / Discharge Actions",
       {{"Last charge date", "Label_LastChgDate"},
        {"Last charge SOC", "Label_LastChgSOC"},
        {"Total charge events", "Label_TotalChgEvtCnt"},
        {"Total discharge events", "Label_TotalDsgEvtCnt"},
        {"First full charge date(>80%)", "Label_FstFullChgDate"},
        {"Last charge date(>80%)", "Label_LastFullChgDate"},
        {"First time depletion(<1%) date", "Label_FstDsgDepletionDate"},
        {"Last time depletion(<1%) date", "Label_LastDsgDepletionDate"},
        {"Maximal low SOC since", "Label_MaxChgLowSOCsinceDate"},
        {"Extracted from discharge record at", "Label_ExtDsgRecAtDate"},
        {"Maximal duration @low SOC", "Label_MaxDurationLowSOC0Hours"},
        {"", "Label_SOC0ChgCap"},
        {"Total charge capacity", "Label_ReportTotalCC"}}},
      {"Conclusion of Diagnosis report", {{"Warranty is", "Label_TotalWarrantyCnt"}, {"Date  : ", "Label_DateNow"}}},
  };
  return kSections;
}

std::vector<Control*> ReportLabels(Context& ctx) {
  std::vector<Control*> out;
  for (const ReportSection& s : DiagnosisReportSections())
    for (const ReportItem& it : s.items) out.push_back(&ctx.FormDiagnosisReport.get(it.label));
  return out;
}

// ---------------------------------------------------------------- pure rules

std::string ProtectionFlagText(uint8_t flags) {
  if ((flags & 0x3F) == 0) return "NONE";
  static const char* kNames[6] = {"OV", "UV", "OC", "SC", "OT", "UT"};
  std::string out;
  for (int i = 0; i < 6; ++i) {
    if (!(flags & (1u << i))) continue;
    if (i > 0) out += ",";
    out += kNames[i];
  }
  return out;
}

std::string ReportDateText(const ReportDate& d) { return Num(d.year) + "-" + Num(d.month) + "-" + Num(d.day); }

std::string WeekCharacters(const std::string& barcode) {
  if (barcode.size() >= 8) return barcode.substr(barcode.size() - 8);
  std::string out = barcode;
  out.resize(8, '\0');
  return out;
}

int BarcodeWeek(const std::string& barcode) {
  const std::string c = WeekCharacters(barcode);
  return 10 * (static_cast<unsigned char>(c[1]) - '0') + (static_cast<unsigned char>(c[2]) - '0');
}

bool ManufacturingDate(int week, ReportDate* out) {
  if (week < 1 || week > 52) return false;
  int day_of_year = 5 + 7 * (week - 1);  // 5 January 2013 is the first Saturday
  int month = 1;
  while (day_of_year > DaysInMonth(2013, month)) {
    day_of_year -= DaysInMonth(2013, month);
    ++month;
  }
  *out = {2013, month, day_of_year};
  return true;
}

ReportDate ExpiryDate(const ReportDate& made) {
  const int months = made.year * 12 + (made.month - 1) + 18;
  ReportDate e{months / 12, months % 12 + 1, made.day};
  e.day = std::min(e.day, DaysInMonth(e.year, e.month));
  return e;
}

bool HasProductLines(const std::string& model) { return model == "WX4410CA" || model == "WX4410CX"; }

// ---------------------------------------------------------------- reading pass

void DiagnosisReadingPass(Context& ctx) {
  TFormDiagnosisReport& r = ctx.FormDiagnosisReport;
  TFormMain& m = ctx.FormMain;
  // 1.
  ctx.clock.sleep_ms(500);
  for (Control* c : ReportLabels(ctx)) c->set_text("");
  SetStatusPanel(ctx, 1, kDiaReading);
  m.ProgressBarEEPRead.set_progress(0);
  // 2. Record counts.
  ReadCount(ctx, HistoryBlock::Lead, 50, 50, false);
  ReadCount(ctx, HistoryBlock::Last, 50, 50, true);
  // 3.
  const auto counts = ctx.History.with([](HistoryState& s) { return std::pair<int, int>{s.count_valid[1] ? s.count[1] : 0, s.count_valid[2] ? s.count[2] : 0}; });
  const int total = counts.first + counts.second;
  m.ProgressBarEEPRead.set_range(0, total == 0 ? 3 : total);
  m.ProgressBarEEPRead.set_progress(0);
  // 4. Status block.
  bool status = false;
  for (int attempt = 1; attempt <= 5 && !status; ++attempt) {
    SendStatusPoll(ctx);
    ctx.clock.sleep_ms(200);
    status = ReadStatusBlock(ctx);
    if (status) break;
    if (attempt >= 4) ctx.RunFlag = 0;
    if (attempt < 5) ctx.clock.sleep_ms(100);
  }
  if (!status) {
    // The report stays empty; the operator learns why.
    SetStatusPanel(ctx, 1, "  ");
    SetStatusPanel(ctx, 2, "  DIA: no status block from the pack");
    return;
  }
  const LiveData live = ctx.Live.get();
  const LocalTime now = ctx.clock.local_now();
  // 5.
  if (Running(ctx)) {
    m.ProgressBarEEPRead.step_progress(1);
    r.Label_DateNow.set_text(FormatLocalTime(now, "yyyy-mm-dd"));
    r.Label_ReadOutDate.set_text(FormatLocalTime(now, "yyyy-mm-dd"));
    r.Label_ReadOutTime.set_text(FormatLocalTime(now, "hh:nn:ss"));
    r.Label_ModelName.set_text(live.ModelName);
    r.Label_DC.set_text(Num(live.DesignCapacity) + " mAh");
    r.Label_CellCfg.set_text(Num(live.CellSeries) + "S" + Num(live.CellParallel) + "P");
    r.Label_CycleCnt.set_text(Num(live.CycleCount));
    r.Label_PSOC.set_text(Num(live.Rsoc) + " %");
    r.Label_ChgDsgCurrentmA.set_text(Num(live.PackCurrent) + " mA");
    r.Label_PackVoltage.set_text(Num(live.PackVoltage) + " mV");
    r.Label_FCC.set_text(Num(live.FullChargeCapacity) + " mAh");
    r.Label_T1.set_text(Num(live.T1) + " Deg. C");
    r.Label_ProtectFlag.set_text(ProtectionFlagText(live.ProtectionFlags));
  }
  // 6. Cell voltages.
  ctx.clock.sleep_ms(50);
  for (uint16_t k = 1; k <= 4 && Running(ctx); ++k) {
    SendRequest(ctx, 0x1001, k, 0);
    ctx.clock.sleep_ms(100);
    AwaitReplyDecode(ctx);
  }
  if (Running(ctx)) {
    const LiveData cells = ctx.Live.get();
    const CellSpread spread = SpreadOfCells(cells.CellVoltage, cells.CellSeries);
    r.Label_MaxCellVolt.set_text(Num(spread.high) + " mV");
    r.Label_MinCellVolt.set_text(Num(spread.low) + " mV");
    r.Label_CellImbalance.set_text(Num(spread.high - spread.low) + " mV");
  }
  // 7. Cell type.
  m.ProgressBarEEPRead.step_progress(1);
  SendRequest(ctx, 0x6204, 1, 0);
  ctx.clock.sleep_ms(50);
  AwaitReplyDecode(ctx);
  ctx.clock.sleep_ms(10);
  SendRequest(ctx, 0x6204, 2, 0);
  ctx.clock.sleep_ms(50);
  AwaitReplyDecode(ctx);
  r.Label_CellType.set_text(ctx.History.with([](HistoryState& s) { return s.header.CellType; }));
  // 8. Event totals.
  auto totals = [&ctx] { return ctx.History.with([](HistoryState& s) { return s.header.EventTotals; }); };
  SendRequest(ctx, 0x6300, 0, 0);
  ctx.clock.sleep_ms(50);
  AwaitReplyDecode(ctx);
  ctx.clock.sleep_ms(50);
  r.Label_TotalChgEvtCnt.set_text(Num(totals()[kChargeStartTotal]) + " times");
  r.Label_TotalWarrantyCnt.set_text(Num(totals()[kChargeStartTotal]) + " times");
  SendRequest(ctx, 0x6301, 0, 0);
  ctx.clock.sleep_ms(50);
  AwaitReplyDecode(ctx);
  ctx.clock.sleep_ms(50);
  r.Label_TotalDsgEvtCnt.set_text(Num(totals()[kDischargeStartTotal]) + " times");
  r.Label_ReportTotalCC.set_text(std::to_string(live.TotalChargeCapacity) + " mA");
  // 9. Header part.
  ClearHistoryValues(ctx);
  bool header = false;
  for (int attempt = 0; attempt < 10 && !header; ++attempt) {
    SendRequestWide(ctx, 0x6100, 0, 0, 0);
    ctx.clock.sleep_ms(50);
    header = AwaitReplyDecode(ctx) && ctx.ReplyRecords.get()[0][3] == 0x00 && ctx.ReplyRecords.get()[0][2] == 0x61;
    if (!header) ctx.clock.sleep_ms(50);
  }
  const uint16_t size = ctx.History.with([](HistoryState& s) { return s.header.HeaderSize; });
  if (size != 0) {
    ctx.RunFlag = 1;
    SendRequest(ctx, 0x6300, 0, 0);
    ctx.clock.sleep_ms(50);
    AwaitReplyDecode(ctx);
    ctx.clock.sleep_ms(50);
    if (Running(ctx)) {
      SendRequest(ctx, 0x6301, 0, 0);
      ctx.clock.sleep_ms(50);
      AwaitReplyDecode(ctx);
    }
    for (int attempt = 0; attempt < 3 && Running(ctx); ++attempt) {
      int replies = 0;
      for (uint16_t k = 1; k <= 4; ++k) {
        SendRequest(ctx, 0x6207, k, 0);
        ctx.clock.sleep_ms(100);
        if (AwaitReplyDecode(ctx)) ++replies;
      }
      if (replies == 4) break;
      ctx.clock.sleep_ms(300);
    }
    r.Label_TotalChgEvtCnt.set_text(Num(totals()[kChargeStartTotal]) + " times");
    r.Label_TotalDsgEvtCnt.set_text(Num(totals()[kDischargeStartTotal]) + " times");
    r.Label_TotalWarrantyCnt.set_text(Num(totals()[kChargeStartTotal]) + " times");
  }
  // 10. Model lines.
  m.ProgressBarEEPRead.step_progress(1);
  FillModelLines(ctx);
  // 11. History summary.
  r.Label_FstFullChgDate.set_text("");
  HistorySummary summary = NewHistorySummary(live.Rsoc);
  ScanBlock(ctx, HistoryBlock::Lead, summary, live.DesignCapacity);
  ScanBlock(ctx, HistoryBlock::Last, summary, live.DesignCapacity);
  // 12.
  SetStatusPanel(ctx, 1, "  ");
}

bool ShowAndPrintReport(Context& ctx) {
  if (!ctx.Printer) return false;
  ctx.Printer->ShowReport();
  return ctx.Printer->PrintReport();
}

// ---------------------------------------------------------------- workers and handlers

void ReportReadWork(Context& ctx, bool show_and_print) {
  TFormMain& m = ctx.FormMain;
  if (show_and_print) m.BitBtnEVTDIARead.set_enabled(false);
  m.BitBtnPrintReportRead.set_enabled(false);
  if (OpenLinkPort(ctx)) {
    SetCommandButtons(ctx, false);
    ctx.RunFlag = 1;
    DiagnosisReadingPass(ctx);
    CloseLinkPort(ctx);
  } else {
    SetStatusPanel(ctx, 2, "  DIA: " + ctx.LinkError.get());
  }
  ctx.clock.sleep_ms(100);
  m.BitBtnPrintReportRead.set_enabled(true);
  ctx.clock.sleep_ms(100);
  m.BitBtnPrint.set_enabled(true);
  SetCommandButtons(ctx, true);
  ctx.clock.sleep_ms(500);
  if (show_and_print) {
    SetStatusPanel(ctx, 1, kDiaReport);
    if (ShowAndPrintReport(ctx)) SetStatusPanel(ctx, 1, "  ");
  }
}

void BitBtnPrintReportReadClick(Context& ctx) {
  if (!ctx.workers.start([&ctx] { ReportReadWork(ctx, false); })) ctx.FormMain.BitBtnPrintReportRead.set_enabled(true);
}

void BitBtnEVTDIAReadClick(Context& ctx) {
  if (!ctx.workers.start([&ctx] { ReportReadWork(ctx, true); })) ctx.FormMain.BitBtnEVTDIARead.set_enabled(true);
}

void BitBtnPrintClick(Context& ctx) { ShowAndPrintReport(ctx); }

void DiagnosisReportFormCreate(Context& ctx) {
  for (Control* c : ReportLabels(ctx)) c->set_text("");
}

void WireHistoryAndDiagnosis(Context& ctx) {
  WireHistoryWindow(ctx);
  WireDiagnosisReport(ctx);
  DiagnosisReportFormCreate(ctx);
}

void WireDiagnosisReport(Context& ctx) {
  ctx.FormMain.BitBtnPrintReportRead.on_click = [&ctx] { BitBtnPrintReportReadClick(ctx); };
  ctx.FormMain.BitBtnEVTDIARead.on_click = [&ctx] { BitBtnEVTDIAReadClick(ctx); };
  ctx.FormMain.BitBtnPrint.on_click = [&ctx] { BitBtnPrintClick(ctx); };
  ctx.FormDiagnosisReport.BitBtnReportSavePdf.on_click = [&ctx] {
    if (ctx.Printer) ctx.Printer->SaveReportPdfAs();
  };
}

}  // namespace bms
