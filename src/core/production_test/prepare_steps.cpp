// Link, communication and preparation steps of the run.
#include <string>

#include "core/commands/clock_erase.h"
#include "core/commands/identity.h"
#include "core/commands/power_mode.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/monitor/polling.h"
#include "core/production_test/production_test.h"

namespace bms {

namespace {

std::string Dec(long long v) { return std::to_string(v); }

bool Flag(Context& ctx) { return ctx.RunFlag.load() != 0; }

std::string PortNameShown(Context& ctx) {
  const std::string shown = ctx.FormConfig.CobBoxInterfaceName.text();
  return shown.empty() ? ctx.PortName.get() : shown;
}

PromptAnswer Ask(Context& ctx, const char* text, const char* caption, PromptButtons buttons) {
  Prompt p;
  p.title = caption;
  p.text = text;
  p.buttons = buttons;
  if (!ctx.Operator) return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::No;
  return ctx.Operator->Ask(p);
}

}  // namespace

// Shared with the other step groups.
PromptAnswer EvtAsk(Context& ctx, const char* text, const char* caption, PromptButtons buttons) { return Ask(ctx, text, caption, buttons); }

bool RefreshLiveData(Context& ctx) {
  SendStatusPoll(ctx);
  if (!Flag(ctx)) return false;
  ctx.clock.sleep_ms(200);
  if (!Flag(ctx)) return false;
  if (!ReadStatusBlock(ctx)) return false;
  if (!Flag(ctx)) return false;
  for (uint16_t page = 1; page <= 4; ++page) {
    SendRequest(ctx, 0x1001, page);
    ctx.clock.sleep_ms(80);
    AwaitReplyDecode(ctx);
    ctx.clock.sleep_ms(20);
    if (!Flag(ctx)) return false;
  }
  return true;
}

bool RunLinkSteps(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  const std::string port = PortNameShown(ctx);
  run.Title("Device  :  " + port + "  Test  : ");
  ctx.RunFlag = 1;
  if (OpenLinkPort(ctx)) {
    run.link_opened = true;
    run.Pass("  [ " + port + " ]" + "  :  ........  PASS");
    ctx.RunFlag = 1;
    SetStatusPanel(ctx, 0, kSysLink);
  } else {
    run.Ng("  [  " + port + "  ]" + "  :  ........  NG", "  [ " + port + " ]" + "  :  ........  NG");
    ctx.RunFlag = 0;
    const std::string why = ctx.LinkError.get();
    if (!why.empty()) SetStatusPanel(ctx, 2, "  Port not opened: " + why);
    return false;
  }

  run.Title("Communication Test  :  ");
  run.Line(" 每讀取一次 500ms.");
  bool ok = false;
  for (int k = 1; k <= 10 && !ok; ++k) {
    ctx.clock.sleep_ms(500);
    if (RefreshLiveData(ctx)) {
      run.Line("第" + Dec(k) + "次 , The first communication test : Pass.");
      ok = true;
    } else {
      run.Line("第" + Dec(k) + "次 , The first communication test : Fail.");
    }
  }
  if (ok) {
    run.Pass("  [ Communication exist ]  ........  PASS");
  } else {
    run.Ng("  [ Communication exist ]  ........  NG", "  [ Communication exist ]  ........  NG");
    ctx.RunFlag = 0;
  }
  return ok;
}

namespace {

struct EraseStep {
  uint8_t EvtTestSet::*enabled;
  const char* before;
  const char* title;
  bool (*action)(Context&);
  const char* pass;
  const char* ng;
};

const EraseStep kEraseSteps[] = {
    {&EvtTestSet::EraseMCUIntTCCWrite, "清除 MCU 內部 Total Charge Capacity 開始  :  ", "Erase MCU Total Charge Capacity  :  ", EraseMcuTcc,
     "  [ Erase MCU Total Charge Capacity ]  ........  PASS", "  [ Erase MCU Total Charge Capacity ]  ........  NG"},
    {&EvtTestSet::EraseMCUIntEEPWrite, "清除 MCU 內部 EEPROM 開始  :  ", "Erase MCU Internal EEPROM  :  ", EraseMcuEep, "  [ Erase MCU Internal EEPROM ]  ........  PASS",
     "  [ Erase MCU Internal EEPROM ]  ........  NG"},
    {&EvtTestSet::EEPEraseWrite, "清除 MCU 外部EEPROM 開始  :  ", "Erase MCU External EEPROM  :  ", EraseExtEeprom, "  [ EEPROM Erase ]  ........  PASS",
     "  [ EEPROM Erase ]  ........  NG"},
};

const char* const kSleepPromptText = "   BMS 已經 Sleep?   ";
const char* const kSleepPromptCaption = "   BMS Sleep command 後確認.   ";
const char* const kWakePromptText = "  BMS 已經 Wake up?   ";
const char* const kWakePromptCaption = "   BMS Wake up 後確認.   ";

void SleepVerdict(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  const PromptAnswer a = Ask(ctx, kSleepPromptText, kSleepPromptCaption, PromptButtons::YesNo);
  if (a == PromptAnswer::Yes) run.Pass("  [ BMS enter to sleep test  ]  ........  PASS");
  if (a == PromptAnswer::No) run.Ng("  [ BMS enter to sleep test  ]  ........  NG", "  [ BMS enter to sleep test  ]  ........  NG");
}

void WakeVerdict(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  const PromptAnswer a = Ask(ctx, kWakePromptText, kWakePromptCaption, PromptButtons::YesNo);
  if (a == PromptAnswer::Yes) run.Pass("  [ BMS wake up test  ]  ........  PASS");
  if (a == PromptAnswer::No) run.Ng("  [ BMS wake up test  ]  ........  NG", "  [  BMS wake up test  ]  ........  NG");
}

bool ClockSet(Context& ctx) {
  ctx.RtcSetStamp.with([](RtcStamp& s) { s.Date = 0; });
  ctx.Live.with([](LiveData& l) { l.ClockSeconds = 0; });
  bool ok = false;
  for (int t = 0; t < 3 && !ok; ++t) {
    ok = SetRtcFromPc(ctx);
    if (!ok) ctx.clock.sleep_ms(500);
  }
  const RtcStamp s = ctx.RtcSetStamp.get();
  ctx.Evt->Line("RTC Set  :  " + Dec(s.Year) + "." + Dec(s.Month) + "." + Dec(s.Day) + "  " + Dec(s.Hour) + ":" + Dec(s.Minute) + ":" + Dec(s.Second));
  return ok;
}

bool BarcodeWrite(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  const std::string text = m.EditEVTBarcode.text();
  m.EditBarCode32.set_text(text);
  switch (ctx.CurrentBarcodeMode.load()) {
    case 0:
      return WriteBarcodeAuto(ctx) == 0;
    case 1:
      return WriteBarcodeExt32(ctx, text);
    case 2:
      return WriteBarcodeInt32(ctx, text);
    case 3:
      return WriteBarcodeInt16(ctx, text);
    default:
      return false;
  }
}

bool ShippingModeWrite(Context& ctx, uint8_t wanted) {
  bool ok = false;
  for (int t = 0; t < 3 && !ok; ++t) {
    if (SetShippingModeOn(ctx)) {
      ctx.clock.sleep_ms(100);
      ReadShippingMode(ctx);
      if ((ctx.FormMain.CheckBoxSippingMode.checked() ? 1 : 0) == wanted) ok = true;
    }
    if (!ok) ctx.clock.sleep_ms(500);
  }
  ctx.clock.sleep_ms(100);
  return ok;
}

}  // namespace

bool RunPreparationSteps(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  TFormMain& m = ctx.FormMain;
  const EvtTestSet set = ctx.EVT_TEST_SET.get();
  const EvtTest plan = ctx.EVT_TEST.get();

  for (const EraseStep& e : kEraseSteps) {
    if (set.*(e.enabled)) {
      m.PanelTestResult.set_text("Writing");
      run.Line("");
      run.Line(kDashLine);
      run.Line(e.before);
      if (!Flag(ctx)) return false;
      run.Title(e.title);
      if (e.action(ctx)) {
        run.Pass(e.pass);
      } else {
        run.Ng(e.ng, e.ng);
      }
    }
    ctx.clock.sleep_ms(500);
  }
  if (set.RTCWrite) {
    if (!Flag(ctx)) return false;
    run.Title("RTC Set  :  ");
    if (ClockSet(ctx)) {
      run.Pass("  [ RTC Set ]  ........  PASS");
    } else {
      run.Ng("  [ RTC Set ]  ........  NG", "  [ RTC Set ]  ........  NG");
    }
  }
  if (set.BarcodeWrite) {
    if (!Flag(ctx)) return false;
    run.Title("Barcode Write  :  " + m.EditEVTBarcode.text());
    if (BarcodeWrite(ctx)) {
      run.Pass("  [ Barcode Write ]  ........  PASS");
    } else {
      run.Ng("  [ Barcode Write ]  ........  NG", "  [ Barcode Write ]  ........  NG");
    }
  }
  if (set.ShippingModeWrite) {
    if (!Flag(ctx)) return false;
    const std::string s = Dec(plan.ShippingMode);
    run.Title("Shipping Mode Write  :  " + s);
    if (ShippingModeWrite(ctx, plan.ShippingMode)) {
      run.Pass("  [ Shipping Mode Write  :  " + s + "]  ........  PASS");
    } else {
      run.Ng("  [ Shipping Mode Write  :  " + s + "]  ........  NG", "  [ Shipping Mode Write ]  ........  NG");
    }
  }

  if (set.SleepModeWrite) {
    run.Line(" ");
    m.PanelTestResult.set_text("Sleeping");
    if (!Flag(ctx)) return false;
    run.TitleNoGap("Sleep Command Write  :  BMS enter the sleep state");
    SendSleep(ctx);
    ++run.item;
    SleepVerdict(ctx);
    run.TitleNoGap("BMS wake up test from sleep  :  ");
    WakeVerdict(ctx);
  }
  if (set.Sleep_or_DeepSleepStatusWrite == 1) {
    run.Line(" ");
    if (!Flag(ctx)) return false;
    m.PanelTestResult.set_text("Sleep");
    run.TitleNoGap("Sleep Command Write  :  BMS enter the sleep status");
    SendSleep(ctx);
    SleepVerdict(ctx);
    run.TitleNoGap("BMS wake up test from sleep  :  ");
    WakeVerdict(ctx);
  } else if (set.Sleep_or_DeepSleepStatusWrite == 2) {
    run.Line(" ");
    if (!Flag(ctx)) return false;
    m.PanelTestResult.set_text("Deep");
    run.TitleNoGap("Deep Sleep Command Write  :  BMS enter the deep sleep status");
    SendDeepSleep(ctx);
    const PromptAnswer a = Ask(ctx, "   BMS 已經 Deep Sleep?   ", "   BMS Deep Sleep command 後確認.   ", PromptButtons::YesNo);
    if (a == PromptAnswer::Yes) run.Pass("  [ BMS enter to deep sleep test  ]  ........  PASS");
    if (a == PromptAnswer::No) run.Ng("  [ BMS enter to deep sleep test  ]  ........  NG", "  [ BMS enter to deep sleep test  ]  ........  NG");
    run.TitleNoGap("BMS wake up test from sleep  :  ");
    WakeVerdict(ctx);
  }

  run.Line(" 每 500ms 讀取一次.");
  for (int k = 1; k <= 20; ++k) {
    ctx.clock.sleep_ms(500);
    if (RefreshLiveData(ctx)) {
      run.Line(" 第" + Dec(k) + "次 , Communication test after wake up : Pass.");
      break;
    }
    run.Line(" 第" + Dec(k) + "次 , Communication test after wake up : Fail.");
  }
  return true;
}

}  // namespace bms
