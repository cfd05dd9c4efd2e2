#include "core/commands/cell_resistance.h"

#include <vector>

#include "core/commands/command_worker.h"
#include "core/link/frame.h"
#include "core/link/link_borrow.h"
#include "core/link/link_port.h"
#include "core/parameters/fw_data.h"
#include "core/platform/safe_text.h"

namespace bms {

namespace {

const uint8_t kNoParams[3] = {0, 0, 0};

void Status(Context& ctx, const std::string& text) { SetStatusPanel(ctx, 2, "  " + text); }

void SetButtons(Context& ctx, bool on) {
  TFormMain& m = ctx.FormMain;
  m.BitBtnRCellmOmhAdjust.set_enabled(on);
  m.BitBtnCellRPrarmLoad.set_enabled(on);
  m.BitBtnWCellmOmhAdjust.set_enabled(on);
}

bool Selected(Context& ctx, int k) { return ctx.FormMain.CheckBoxCellRRWN[k]->checked(); }

void Finish(Context& ctx, TransferKind kind, TransferOutcome o) {
  Status(ctx, o.message);
  FinishTransfer(ctx, kind, std::move(o), nullptr);
}

}  // namespace

std::array<uint8_t, 8> CellResistancePayload(uint16_t milliohm) { return {static_cast<uint8_t>(milliohm >> 8), static_cast<uint8_t>(milliohm & 0xFF), 0, 0, 0, 0, 0, 0}; }

bool ReadCellResistances(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  TransferOutcome o;
  SetButtons(ctx, false);
  {
    LinkBorrow borrow(ctx);
    ctx.clock.sleep_ms(200);
    DrainReply(ctx);
    for (int k = 1; k <= kResistanceCellCount; ++k) m.EditCellRN[k]->set_text("");
    DrainReply(ctx);
    for (int k = 1; k <= kResistanceCellCount; ++k) {
      if (!Selected(ctx, k)) continue;
      SendRequestNoWait(ctx, kRegCellRRead, static_cast<uint16_t>(k), kNoParams, 0);
      ctx.clock.sleep_ms(50);
      if (!(AwaitReplyDecodeNoWait(ctx) && ReplyEchoes(ctx, kRegCellRRead, static_cast<uint16_t>(k)))) o.failed.push_back(k);
      if (!ctx.RunFlag.load()) {
        for (int q = k + 1; q <= kResistanceCellCount; ++q)
          if (Selected(ctx, q)) o.failed.push_back(q);
        break;
      }
      ctx.clock.sleep_ms(5);
    }
    ctx.clock.sleep_ms(10);
  }
  SetButtons(ctx, true);
  o.ok = o.failed.empty();
  o.message = o.ok ? "Cell resistances read." : "Cell resistances read: no reply for cell " + NumberRuns(o.failed) + ".";
  Finish(ctx, TransferKind::CellRRead, o);
  return o.ok;
}

bool WriteCellResistances(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  TransferOutcome o;
  SetButtons(ctx, false);
  {
    LinkBorrow borrow(ctx);
    ctx.clock.sleep_ms(200);
    DrainReply(ctx);
    // Every selected value is checked before the first byte goes out.
    std::array<uint16_t, kResistanceCellCount + 1> values{};
    for (int k = 1; k <= kResistanceCellCount && !o.refused; ++k) {
      if (!Selected(ctx, k)) continue;
      const std::string text = m.EditCellRN[k]->text();
      const auto v = ParseEditNumber(text, 0, 65535);
      if (v) {
        values[static_cast<size_t>(k)] = static_cast<uint16_t>(*v);
        continue;
      }
      o.refused = true;
      const std::string edit = "EditCellR" + std::to_string(k);
      o.message = text.empty() ? "Write refused: cell " + std::to_string(k) + " (" + edit + ") is empty. Nothing was sent."
                               : "Write refused: cell " + std::to_string(k) + " (" + edit + ") holds \"" + TerminalSafe(text, true) +
                                     "\", not a whole number from 0 to 65535. Nothing was sent.";
    }
    if (!o.refused && !ctx.RunFlag.load()) {
      o.skipped = true;
      o.message = "Monitoring stopped before the write: nothing was sent.";
    }
    if (!o.refused && !o.skipped) {
      DrainReply(ctx);
      for (int k = 1; k <= kResistanceCellCount; ++k) {
        if (!Selected(ctx, k)) continue;
        const auto payload = CellResistancePayload(values[static_cast<size_t>(k)]);
        SendRequestNoWait(ctx, kRegCellRWrite, static_cast<uint16_t>(k), kNoParams, 0x02);
        ctx.clock.sleep_ms(8);
        SendPayloadNoWait(ctx, payload.data());
        ctx.clock.sleep_ms(20);
        if (!AwaitEchoNoWait(ctx, kRegCellRWrite, static_cast<uint16_t>(k))) o.failed.push_back(k);
        ctx.clock.sleep_ms(5);
      }
      ctx.clock.sleep_ms(50);
      o.ok = o.failed.empty();
      o.message = o.ok ? "Cell resistances written." : "Cell resistances written; no echo for cell " + NumberRuns(o.failed) + ".";
    }
  }
  SetButtons(ctx, true);
  Finish(ctx, TransferKind::CellRWrite, o);
  return o.ok;
}

void RunCellResistanceCycle(Context& ctx) {
  if (ctx.FormMain.CheckBoxCellRAllWrite.checked()) WriteCellResistances(ctx);
  if (ctx.FormMain.CheckBoxCellRAllRead.checked()) ReadCellResistances(ctx);
}

void BitBtnCellRPrarmLoadClick(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.BitBtnCellRPrarmLoad.set_enabled(false);
  std::vector<std::string> keys;
  for (int k = 1; k <= kResistanceCellCount; ++k) keys.push_back("CellR" + std::to_string(k));
  std::vector<std::string> values;
  TransferOutcome o;
  if (ReadMtdKeys(ctx, kMtdCellRSection, keys, &values, &o.message)) {
    for (int k = 1; k <= kResistanceCellCount; ++k) {
      const std::string& v = values[static_cast<size_t>(k - 1)];
      // A number is shown as the unsigned decimal it is; any other text is
      // kept as it stands, and a write then refuses it.
      const auto n = ParseEditNumber(v, 0, 65535);
      m.EditCellRN[k]->set_text(n ? std::to_string(*n) : v);
    }
    m.BitBtnWCellmOmhAdjust.set_enabled(true);
    o.ok = true;
    o.message = "Cell resistances loaded from MTD.ini.";
  }
  Finish(ctx, TransferKind::CellRLoad, o);
  m.BitBtnCellRPrarmLoad.set_enabled(true);
}

namespace {

void StartBorrow(Context& ctx, TransferKind kind, bool (*exchange)(Context&)) {
  if (!PollingRuns(ctx)) {
    TransferOutcome o;
    o.skipped = true;
    o.message = kPollingNotRunning;
    Finish(ctx, kind, o);
    return;
  }
  ctx.LinkBusy = 1;
  StartCommandWorker(
      ctx, [&ctx, exchange] { exchange(ctx); },
      [&ctx, kind] {
        ctx.LinkBusy = 0;
        TransferOutcome o;
        o.message = "Cannot start the transfer thread: nothing was sent.";
        Finish(ctx, kind, o);
      });
}

}  // namespace

void BitBtnRCellmOmhAdjustClick(Context& ctx) { StartBorrow(ctx, TransferKind::CellRRead, ReadCellResistances); }
void BitBtnWCellmOmhAdjustClick(Context& ctx) { StartBorrow(ctx, TransferKind::CellRWrite, WriteCellResistances); }

void BitBtnRWAllClick(Context& ctx) {
  for (int k = 1; k <= kResistanceCellCount; ++k) ctx.FormMain.CheckBoxCellRRWN[k]->set_checked(true);
}

void BitBtnRWCancelClick(Context& ctx) {
  for (int k = 1; k <= kResistanceCellCount; ++k) ctx.FormMain.CheckBoxCellRRWN[k]->set_checked(false);
}

void CheckBoxCellRAllReadClick(Context& ctx) {
  if (ctx.FormMain.CheckBoxCellRAllRead.checked()) ctx.FormMain.CheckBoxCellRAllWrite.set_checked(false);
}

void CheckBoxCellRAllWriteClick(Context& ctx) {
  if (ctx.FormMain.CheckBoxCellRAllWrite.checked()) ctx.FormMain.CheckBoxCellRAllRead.set_checked(false);
}

void WireCellResistanceHandlers(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  m.BitBtnCellRPrarmLoad.on_click = [&ctx] { BitBtnCellRPrarmLoadClick(ctx); };
  m.BitBtnRCellmOmhAdjust.on_click = [&ctx] { BitBtnRCellmOmhAdjustClick(ctx); };
  m.BitBtnWCellmOmhAdjust.on_click = [&ctx] { BitBtnWCellmOmhAdjustClick(ctx); };
  m.BitBtnRWAll.on_click = [&ctx] { BitBtnRWAllClick(ctx); };
  m.BitBtnRWCancel.on_click = [&ctx] { BitBtnRWCancelClick(ctx); };
  m.CheckBoxCellRAllRead.on_click = [&ctx] { CheckBoxCellRAllReadClick(ctx); };
  m.CheckBoxCellRAllWrite.on_click = [&ctx] { CheckBoxCellRAllWriteClick(ctx); };
}

}  // namespace bms
