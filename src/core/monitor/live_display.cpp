#include "core/monitor/live_display.h"

namespace bms {

namespace {

// An edit's text as gauge progress; a text that is not a whole number puts
// the gauge at its minimum (the gauge clamps).
void GaugeFromEdit(const Control& edit, Control& gauge, int when_not_a_number) { gauge.set_progress(edit.int_value(when_not_a_number)); }

void EditVCellChange(Context& ctx, int cell) {
  TFormMain& m = ctx.FormMain;
  GaugeFromEdit(*m.EditVCellN[cell], *m.CGaugeVCellN[cell], m.CGaugeVCellN[cell]->min());
}

Control* FlagEdits(TFormMain& m, int bit) {
  Control* flags[6] = {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF};
  return flags[bit];
}

}  // namespace

#define BMS_VCELL_CHANGE(n) \
  void EditVCell##n##Change(Context& ctx) { EditVCellChange(ctx, n); }
BMS_VCELL_CHANGE(1)
BMS_VCELL_CHANGE(2)
BMS_VCELL_CHANGE(3)
BMS_VCELL_CHANGE(4)
BMS_VCELL_CHANGE(5)
BMS_VCELL_CHANGE(6)
BMS_VCELL_CHANGE(7)
BMS_VCELL_CHANGE(8)
BMS_VCELL_CHANGE(9)
BMS_VCELL_CHANGE(10)
BMS_VCELL_CHANGE(11)
BMS_VCELL_CHANGE(12)
BMS_VCELL_CHANGE(13)
BMS_VCELL_CHANGE(14)
#undef BMS_VCELL_CHANGE

void EditASOCChange(Context& ctx) { GaugeFromEdit(ctx.FormMain.EditASOC, ctx.FormMain.CGaugeASOC, ctx.FormMain.CGaugeASOC.min()); }

void EditRSOCChange(Context& ctx) { GaugeFromEdit(ctx.FormMain.EditRSOC, ctx.FormMain.CGaugeRSOC, ctx.FormMain.CGaugeRSOC.min()); }

void EditT1Change(Context& ctx) { GaugeFromEdit(ctx.FormMain.EditT1, ctx.FormMain.CGaugeT1, kEmptyTemperatureProgress); }

void EditT2Change(Context& ctx) { GaugeFromEdit(ctx.FormMain.EditT2, ctx.FormMain.CGaugeT2, kEmptyTemperatureProgress); }

void WireLiveDisplayHandlers(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  void (*const vcell[15])(Context&) = {nullptr,           EditVCell1Change,  EditVCell2Change,  EditVCell3Change,  EditVCell4Change,
                                       EditVCell5Change,  EditVCell6Change,  EditVCell7Change,  EditVCell8Change,  EditVCell9Change,
                                       EditVCell10Change, EditVCell11Change, EditVCell12Change, EditVCell13Change, EditVCell14Change};
  for (int i = 1; i <= 14; ++i) {
    auto handler = vcell[i];
    m.EditVCellN[i]->on_change = [&ctx, handler] { handler(ctx); };
  }
  m.EditASOC.on_change = [&ctx] { EditASOCChange(ctx); };
  m.EditRSOC.on_change = [&ctx] { EditRSOCChange(ctx); };
  for (Control* c : {&m.EditT1, &m.EditT3, &m.Edit1}) c->on_change = [&ctx] { EditT1Change(ctx); };
  // The T2 gauge follows EditT2 (the design-time Edit2 never changes while
  // polling, so a gauge bound only to it would stay empty).
  m.EditT2.on_change = [&ctx] {
    EditT1Change(ctx);
    EditT2Change(ctx);
  };
  m.Edit2.on_change = [&ctx] { EditT2Change(ctx); };
}

void ResetLiveDisplay(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  for (Control* c : {&m.EditFWID, &m.EditFWVer, &m.EditPDSN}) c->set_text("");
  for (Control* c :
       {&m.EditCycleCnt, &m.EditDC, &m.EditFCC, &m.EditRC, &m.EditPackVolt, &m.EditPackCurrent, &m.EditTCC, &m.EditCellSeries, &m.EditCellParallel, &m.EditASOC, &m.EditRSOC})
    c->set_text("0");
  for (Control* c : {&m.EditT1, &m.EditT2, &m.EditT3}) c->set_text("");
  for (int i = 1; i <= 14; ++i) m.EditVCellN[i]->set_text("0");
  for (Control* c : {&m.Edit_HVlot, &m.Edit_LVolt, &m.Edit_VoltDiff}) c->set_text("0");
  for (int bit = 0; bit < 6; ++bit) {
    FlagEdits(m, bit)->set_color(kColorParent);
    FlagEdits(m, bit)->set_font_color(kNavy);
  }
  m.EditCurrentSign.set_text(kTextNoCurrent);
  m.EditCurrentSign.set_color(kColorBtnFace);
  for (Control* c : {&m.EditRTCENG, &m.EditRTC, &m.EditBarCode32}) c->set_text("");
  m.BitBtnWCellmOmhAdjust.set_enabled(false);
  m.BitBtnRCellmOmhAdjust.set_enabled(false);
  for (int i = 1; i <= 14; ++i) m.EditVCellNoAdjustN[i]->set_text("0");
  for (Control* c : {&m.EditVCellMaxNoAdjust, &m.EditVCellMinNoAdjust, &m.EditVCellBalanceNoAdjust}) c->set_text("0");
  for (int i = 1; i <= 13; ++i) m.EditCellRN[i]->set_text("");
  TPagesDlgFWData& fw = ctx.PagesDlgFWData;
  for (Control* c : {&fw.EditSWOVSet, &fw.EditSWOVClear, &fw.EditSWOVDelay, &fw.EditSWOVRelease, &fw.EditSWUVSet, &fw.EditSWUVClear, &fw.EditSWUVDelay, &fw.EditSWUVRelease})
    c->set_text("0");
}

void ShowChargeDirection(Context& ctx, uint8_t status_bits) {
  Control& sign = ctx.FormMain.EditCurrentSign;
  if (!(status_bits & 0x80)) {
    sign.set_text(kTextNoCurrent);
    sign.set_color(kColorBtnFace);
  } else if (status_bits & 0x40) {
    sign.set_text(kTextDischarging);
    sign.set_color(kAqua);
  } else {
    sign.set_text(kTextCharging);
    sign.set_color(kRed);
  }
}

void ShowKeyPress(Context& ctx, uint8_t status_bits) { ctx.FormMain.ShapeKeyPress.set_color((status_bits & 0x01) ? kGrey : kLime); }

void ShowProtectionFlags(Context& ctx, uint8_t flags) {
  for (int bit = 0; bit < 6; ++bit) {
    Control* edit = FlagEdits(ctx.FormMain, bit);
    const bool set = (flags >> bit) & 1;
    edit->set_color(set ? kRed : kLightGreen);
    edit->set_font_color(set ? kWhite : kNavy);
  }
}

void ShowCellGroups(Context& ctx, uint8_t series) {
  if (series < 10 || series > 14) return;
  TFormMain& m = ctx.FormMain;
  m.GroupBoxVCellN[10]->set_visible(true);
  for (int cell = 11; cell <= 14; ++cell) m.GroupBoxVCellN[cell]->set_visible(cell <= series);
}

}  // namespace bms
