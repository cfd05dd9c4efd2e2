#include "core/shell/password_dialog.h"

#include <algorithm>
#include <functional>

#include "core/shell/editions.h"

namespace bms {

std::string ExpectedPassword(const LocalTime& date, bool production_test) {
  std::string digits = FormatLocalTime(date, "yyyymm");
  std::sort(digits.begin(), digits.end());
  if (production_test) std::reverse(digits.begin(), digits.end());
  return digits;
}

namespace {

void CloseDialog(Context& ctx) {
  ctx.Form_ENG_Password.self.set_visible(false);
  ctx.FormMain.self.set_enabled(true);
}

void UnlockEngineering(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.self.set_text("TQ58_ENG_" + VersionText(ctx));
  m.TabSheetENG.set_visible(true);
  ctx.FormConfig.CheckBoxLogFileSave.set_visible(true);
  m.LabelRTCENG.set_visible(true);
  m.EditRTCENG.set_visible(true);
  m.PageControl2.set_item_index(1);
  m.TabSheetXPL.set_text("CPL");
  m.TabSheetXPL.set_visible(true);
  m.TabSheetEEP.set_visible(true);
  m.GroupBoxTDC.set_visible(true);
}

void UnlockProductionTest(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.self.set_text("TQ58_EVT_" + VersionText(ctx));
  for (Control* t : {&m.TabSheetPQ, &m.TabSheetENG, &m.TabSheetEEP, &m.TabSheetWX, &m.TabSheetXPL}) t->set_visible(true);
  m.TabSheetXPL.set_text("FPL");
  m.SpdBtnSNSet.set_visible(true);
  ctx.FormConfig.CheckBoxLogFileSave.set_visible(true);
  m.TabSheetEVT.set_visible(true);
  m.PageControl2.set_item_index(7);
  m.CheckBoxVCellNoAdjust.set_checked(true);
  m.GroupBoxTDC.set_visible(true);
}

}  // namespace

void BitBtn_YesClick(Context& ctx) {
  const std::string typed = ctx.Form_ENG_Password.Edit_ENG_Password.text();
  const LocalTime today = ctx.clock.local_now();
  if (ExeNameStartsWith(ctx, "TQ58_ENG_")) {
    if (typed == ExpectedPassword(today, false)) UnlockEngineering(ctx);
  } else if (ExeNameStartsWith(ctx, "TQ58_EVT")) {
    if (typed == ExpectedPassword(today, true)) UnlockProductionTest(ctx);
  }
  CloseDialog(ctx);
}

void BitBtn_NoClick(Context& ctx) { CloseDialog(ctx); }

void FormENGPasswordClose(Context& ctx) { ctx.FormMain.self.set_enabled(true); }

void WirePasswordDialog(Context& ctx) {
  TForm_ENG_Password& p = ctx.Form_ENG_Password;
  p.BitBtn_Yes.on_click = [&ctx] { BitBtn_YesClick(ctx); };
  p.BitBtn_No.on_click = [&ctx] { BitBtn_NoClick(ctx); };
  p.on_close = [&ctx] { FormENGPasswordClose(ctx); };
}

}  // namespace bms
