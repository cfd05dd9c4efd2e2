#include "core/commands/clock_erase.h"

#include <cstdio>

#include "core/commands/command_worker.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/monitor/polling.h"

namespace bms {

namespace {

// Clears the transmit queue, then the receive queue.
void ClearQueues(Context& ctx) {
  PurgeLink(ctx, kPurgeTxAbort | kPurgeTxClear);
  PurgeLink(ctx, kPurgeRxAbort | kPurgeRxClear);
}

// A write with one payload frame: request, 100 ms, payload, 100 ms, echo,
// 100 ms. Used by the production-test helpers and the controller erases.
bool WriteAndAwaitEcho(Context& ctx, uint16_t address, uint8_t value, const uint8_t payload[8]) {
  ClearQueues(ctx);
  SendRequest(ctx, address, 0, value);
  ctx.clock.sleep_ms(100);
  SendPayloadBytes(ctx, payload);
  ctx.clock.sleep_ms(100);
  const bool echo = AwaitEcho(ctx, address, 0);
  ctx.clock.sleep_ms(100);
  return echo;
}

// Five passes of a controller erase; the label ends with the fifth pass.
bool ControllerEraseWorker(Context& ctx, Control& button, Control& label, bool (*erase)(Context&)) {
  button.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool last = false;
  if (OpenLinkPort(ctx)) {
    for (int pass = 1; pass <= 5; ++pass) {
      ctx.clock.sleep_ms(100);
      last = erase(ctx);
      label.set_text(last ? kErasePassed : (pass < 5 ? kEraseFailed : kEraseTimeOut));
    }
    CloseLinkPort(ctx);
  }
  button.set_enabled(true);
  SetCommandButtons(ctx, true);
  return last;
}

void Start(Context& ctx, bool (*worker)(Context&)) {
  StartCommandWorker(ctx, [&ctx, worker] { worker(ctx); });
}

}  // namespace

std::array<uint8_t, 8> ClockPayload(const LocalTime& t) {
  return {static_cast<uint8_t>((t.year + 48) & 0xFF),
          static_cast<uint8_t>(t.month),
          static_cast<uint8_t>(t.day),
          static_cast<uint8_t>(t.hour),
          static_cast<uint8_t>(t.minute),
          static_cast<uint8_t>(t.second),
          0x00,
          0x00};
}

RtcStamp MakeRtcStamp(const LocalTime& t) {
  RtcStamp s;
  s.Date = t.year * 10000 + t.month * 100 + t.day;
  s.Seconds = t.hour * 3600 + t.minute * 60 + t.second;
  s.Year = t.year;
  s.Month = t.month;
  s.Day = t.day;
  s.Hour = t.hour;
  s.Minute = t.minute;
  s.Second = t.second;
  return s;
}

std::string ClockSentText(const LocalTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %04d.%02d.%02d   %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

bool RTCSetWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnRTCSet.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool echo = false;
  if (OpenLinkPort(ctx)) {
    ClearQueues(ctx);
    const LocalTime now = ctx.clock.local_now();
    const auto payload = ClockPayload(now);
    SendRequest(ctx, kRegClockSet, 0, 0x06);
    ctx.clock.sleep_ms(100);
    SendPayloadBytes(ctx, payload.data());
    echo = AwaitEcho(ctx, kRegClockSet, 0);
    m.EditRTC.set_text(echo ? ClockSentText(now) : std::string());
    CloseLinkPort(ctx);
  }
  m.SpdBtnRTCSet.set_enabled(true);
  SetCommandButtons(ctx, true);
  return echo;
}

bool RTCGetWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnRTCGet.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool decoded = false;
  if (OpenLinkPort(ctx)) {
    m.EditRTC.set_text("");
    for (int attempt = 0; attempt < 3 && !decoded; ++attempt) {
      PurgeLink(ctx, kPurgeAll);
      SendRequest(ctx, kRegClockGet, 0, 0x00);
      ctx.clock.sleep_ms(50);
      decoded = AwaitReplyDecode(ctx);
      if (!decoded) {
        m.EditRTC.set_text("");
        ctx.clock.sleep_ms(300);
      }
    }
    CloseLinkPort(ctx);
  }
  m.SpdBtnRTCGet.set_enabled(true);
  SetCommandButtons(ctx, true);
  return decoded;
}

bool EEPROMEraseWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnEEPROMEraseSet.set_enabled(false);
  SetCommandButtons(ctx, false);
  bool any = false;
  if (OpenLinkPort(ctx)) {
    for (int pass = 1; pass <= 5; ++pass) {
      ClearQueues(ctx);
      const uint8_t payload[8] = {static_cast<uint8_t>(m.CheckBoxEEPROMErase.checked() ? 0x01 : 0x00), 0, 0, 0, 0, 0, 0, 0};
      SendRequest(ctx, kRegEraseExtEeprom, 0, 0x01);
      ctx.clock.sleep_ms(100);
      SendPayloadBytes(ctx, payload);
      if (AwaitEcho(ctx, kRegEraseExtEeprom, 0)) any = true;
      ctx.clock.sleep_ms(100);
    }
    m.LabelEPPEraseStatus.set_text(any ? kEraseSucceeded : kEraseTimeOut);
    CloseLinkPort(ctx);
  }
  m.SpdBtnEEPROMEraseSet.set_enabled(true);
  SetCommandButtons(ctx, true);
  return any;
}

bool EraseMCUIntTCCWorker(Context& ctx) { return ControllerEraseWorker(ctx, ctx.FormMain.SpdBtnEraseMCUIntTCC, ctx.FormMain.LabelEraseTCCStatus, EraseMcuTcc); }
bool EraseMCUIntEEPWorker(Context& ctx) { return ControllerEraseWorker(ctx, ctx.FormMain.SpdBtnEraseMCUIntEEP, ctx.FormMain.LabelEraseEEPStatus, EraseMcuEep); }

bool LastChgDateWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.SpdBtnLastChgDateGet.set_enabled(false);
  bool ran = false;
  if (OpenLinkPort(ctx)) {
    SetCommandButtons(ctx, false);
    m.SpdBtnLastChgDateGet.set_enabled(true);  // so that STOP can end the reading
    ctx.RunFlag = 1;
    m.CheckBoxLastChgDate.set_enabled(false);
    FindLastChargeDate(ctx);
    CloseLinkPort(ctx);
    // The reading owns RunFlag: a finished reading must not leave it set,
    // or the next RUN or barcode Read would only clear it.
    ctx.RunFlag = 0;
    ran = true;
  }
  ctx.clock.sleep_ms(100);
  m.SpdBtnLastChgDateGet.set_enabled(true);
  ctx.clock.sleep_ms(100);
  SetCommandButtons(ctx, true);
  ctx.clock.sleep_ms(500);
  m.CheckBoxLastChgDate.set_enabled(true);
  return ran;
}

void SpdBtnRTCSetClick(Context& ctx) {
  Control& button = ctx.FormMain.SpdBtnRTCSet;
  button.set_enabled(false);
  StartCommandWorker(
      ctx, [&ctx] { RTCSetWorker(ctx); }, [&button] { button.set_enabled(true); });
}

void SpdBtnRTCGetClick(Context& ctx) {
  if (!ctx.FormMain.SpdBtnRTCGet.enabled()) return;
  Start(ctx, RTCGetWorker);
}

void SpdBtnEEPROMEraseSetClick(Context& ctx) { Start(ctx, EEPROMEraseWorker); }
void SpdBtnEraseMCUIntTCCClick(Context& ctx) { Start(ctx, EraseMCUIntTCCWorker); }
void SpdBtnEraseMCUIntEEPClick(Context& ctx) { Start(ctx, EraseMCUIntEEPWorker); }

void SpdBtnLastChgDateGetClick(Context& ctx) {
  Control& button = ctx.FormMain.SpdBtnLastChgDateGet;
  if (button.text() == "STOP") {
    // While a reading winds down (up to one reply time-out) the button stays
    // disabled, so a new reading cannot open the port the old one still holds;
    // the worker enables it again at its end.
    if (ctx.RunFlag.exchange(0) != 0) button.set_enabled(false);
    button.set_text("READ");
    button.set_font_color(kBlue);
    return;
  }
  button.set_text("STOP");
  button.set_font_color(kRed);
  StartCommandWorker(
      ctx, [&ctx] { LastChgDateWorker(ctx); },
      [&button] {
        button.set_text("READ");
        button.set_font_color(kBlue);
      });
}

bool SetRtcFromPc(Context& ctx) {
  ClearQueues(ctx);
  const LocalTime now = ctx.clock.local_now();
  const auto payload = ClockPayload(now);
  ctx.RtcSetStamp.set(MakeRtcStamp(now));
  SendRequest(ctx, kRegClockSet, 0, 0x06);
  ctx.clock.sleep_ms(100);
  SendPayloadBytes(ctx, payload.data());
  ctx.clock.sleep_ms(100);
  const bool echo = AwaitEcho(ctx, kRegClockSet, 0);
  ctx.clock.sleep_ms(100);
  return echo;
}

bool EraseMcuTcc(Context& ctx) {
  const uint8_t zeros[8] = {};
  return WriteAndAwaitEcho(ctx, kRegEraseTcc, 0x01, zeros);
}

bool EraseMcuEep(Context& ctx) {
  const uint8_t zeros[8] = {};
  return WriteAndAwaitEcho(ctx, kRegEraseEep, 0x01, zeros);
}

bool EraseExtEeprom(Context& ctx) {
  const uint8_t erase[8] = {0x01, 0, 0, 0, 0, 0, 0, 0};
  return WriteAndAwaitEcho(ctx, kRegEraseExtEeprom, 0x01, erase);
}

}  // namespace bms
