#include "core/shell/main_window.h"

#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/monitor/live_display.h"
#include "core/monitor/polling.h"
#include "core/platform/files.h"
#include "core/platform/ini.h"
#include "core/shell/editions.h"

namespace bms {

namespace {

// A decimal integer, or fallback when the text is not one.
int ParseInt(const std::string& text, int fallback) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i >= text.size()) return fallback;
  long long v = 0;
  for (; i < text.size() && text[i] != ' '; ++i) {
    if (text[i] < '0' || text[i] > '9' || v > 100000000) return fallback;
    v = v * 10 + (text[i] - '0');
  }
  return static_cast<int>(negative ? -v : v);
}

}  // namespace

void FormCreate(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.LabelEPPEraseStatus.set_text("");
  m.Shape_TX.set_color(kWhite);
  m.Shape_RX.set_color(kWhite);
  m.self.set_color(kLightGreen);
  m.EditASOC.set_text("0");
  m.EditRSOC.set_text("0");
  for (Control* t : {&m.EditT1, &m.EditT2, &m.EditT3}) t->set_text("");
  for (int i = 1; i <= 14; ++i) m.EditVCellN[i]->set_text("0");
  for (Control* c : {&m.Edit_HVlot, &m.Edit_LVolt, &m.Edit_VoltDiff}) c->set_text("0");
  for (int i = 1; i <= 14; ++i) m.CGaugeVCellN[i]->set_progress(m.EditVCellN[i]->int_value());
  // The temperature gauges follow their (empty) edits from the start.
  EditT1Change(ctx);
  EditT2Change(ctx);
  SetStatusPanel(ctx, 3, "   " + ctx.app.exe_name);
  for (Control* t : {&m.TabSheetPQ, &m.TabSheetWX, &m.TabSheetXJ, &m.TabSheetENG, &m.TabSheetEEP, &m.TabSheetEVT, &m.TabSheetXPL}) t->set_visible(false);
  m.CSpinEditRecordDelay.set_text("3");
  ctx.TimerRecordDelay->set_interval_ms(3 * 1000);
  m.CheckBox_T1T2_Enabled.set_checked(false);
  ctx.LinkBusy = 0;
  const std::string eng_ini = ctx.app.current_dir + "ENG.ini";
  if (const std::string problem = IniFileProblem(eng_ini); !problem.empty()) {
    SetStatusPanel(ctx, 2, "  ENG.ini refused: " + problem + " ");
  } else if (FileExists(eng_ini)) {
    const int mode = ParseInt(GetPrivateProfileString("Set", "BarcodeMode", "-1", eng_ini), -1);
    ctx.CurrentBarcodeMode = mode;
    if (mode >= 0 && mode <= 3) m.RadioGroupBarcodeSelect.select(mode);
  }
  for (int i = 1; i <= 13; ++i) m.EditCellRN[i]->set_text("");
  m.GroupBoxLastChgDate.set_visible(false);
  m.GroupBoxRTCDisplayOnly.set_visible(false);
  m.self.set_text("TQ58_LIT_" + VersionText(ctx));
  m.TabSheetEEP.set_visible(true);
}

void FormShow(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.GroupBoxLastChgDate.set_visible(false);
  m.GroupBoxRTCDisplayOnly.set_visible(false);
  m.self.set_text("TQ58_LIT_" + VersionText(ctx));
  m.TabSheetEEP.set_visible(true);
  m.self.set_visible(true);
  if (ExeNameStartsWith(ctx, "TQ58_ENG_")) {
    m.self.set_enabled(false);
    ctx.Form_ENG_Password.Label_Password.set_text(" Entry Password (. .. ...)");
    ctx.Form_ENG_Password.self.set_visible(true);
  } else if (ExeNameStartsWith(ctx, "TQ58_EVT")) {
    m.self.set_enabled(false);
    ctx.Form_ENG_Password.Label_Password.set_text(" Entry Password (*** ** *)");
    ctx.Form_ENG_Password.self.set_visible(true);
  }
  if (ExeNameStartsWith(ctx, "TQ58_ENG") || ExeNameStartsWith(ctx, "TQ58_EVT")) {
    for (int i = 1; i <= 13; ++i) {
      m.CheckBoxCellRRWN[i]->set_checked(true);
      m.CheckBoxCellRRWN[i]->set_visible(false);
    }
    m.BitBtnRWAll.set_visible(false);
    m.BitBtnRWCancel.set_visible(false);
    m.GroupBoxTDC.set_visible(true);
  }
}

void SpdBtnExitClick(Context& ctx) {
  CloseLinkPort(ctx);
  CloseDataLog(ctx);
  ctx.FormMain.close();
}

void SpdBtnConfigureClick(Context& ctx) { ctx.FormConfig.self.set_visible(true); }

void SpdBtnUpgradeClick(Context& ctx) { ctx.FormMain.self.set_visible(false); }

void WireMainWindow(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnRUN.on_click = [&ctx] { SpdBtnRUNClick(ctx); };
  m.SpdBtnExit.on_click = [&ctx] { SpdBtnExitClick(ctx); };
  m.SpdBtnConfigure.on_click = [&ctx] { SpdBtnConfigureClick(ctx); };
  m.SpdBtnUpgrade.on_click = [&ctx] { SpdBtnUpgradeClick(ctx); };
  for (Control* c : {&m.SpdBtnConfigure, &m.SpdBtnBusHunt, &m.SpdBtnUpgrade}) c->on_hover = [c](bool inside) { c->set_font_color(inside ? kBlue : kGrey); };
  m.CSpinEditRecordDelay.on_change = [&ctx] { CSpinEditRecordDelayChange(ctx); };
  // Closing the main window ends the application.
  m.on_close = [&ctx] {
    if (ctx.QuitApplication) ctx.QuitApplication();
  };
}

}  // namespace bms
