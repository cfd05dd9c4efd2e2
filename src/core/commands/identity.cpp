#include "core/commands/identity.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/commands/command_worker.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/platform/ini.h"

namespace bms {

namespace {

constexpr const char* kIniSection = "Set";
constexpr const char* kKeyBarcodeMode = "BarcodeMode";
constexpr const char* kKeyBarcodeAutoSet = "BarcodeAutoSet";

std::string IniPath(Context& ctx, const char* file) { return ctx.app.current_dir + file; }

// Writes one key; a file that cannot be written is reported on status panel
// 2, so the operator knows the setting was not kept.
bool WriteSetting(Context& ctx, const std::string& path, const char* key, const std::string& value) {
  std::string why;
  if (WritePrivateProfileString(kIniSection, key, value, path, &why)) return true;
  SetStatusPanel(ctx, 2, "  " + std::string(key) + " not saved to " + path + (why.empty() ? "" : ": " + why) + " ");
  return false;
}

// Reads chunks 1..chunks of one barcode storage; each reply is decoded into
// EditBarCode32. `check_send` makes a failed request end the read.
bool ReadBarcode(Context& ctx, uint16_t address, int chunks, bool check_send) {
  PurgeLink(ctx, kPurgeAll);
  for (int k = 1; k <= chunks; ++k) {
    const bool sent = SendRequest(ctx, address, static_cast<uint16_t>(k), 0x00);
    if (!sent && check_send) return false;
    ctx.clock.sleep_ms(30);
    if (!AwaitEchoDecode(ctx, address, static_cast<uint16_t>(k))) return false;
    if (k < chunks) ctx.clock.sleep_ms(90);
  }
  ctx.clock.sleep_ms(10);
  return true;
}

// Up to 3 attempts of sending every chunk; an attempt ends at a failed send
// (and, where `first_echo_decides`, at a missing echo of chunk 1).
bool WriteBarcode(Context& ctx, uint16_t address, int chunks, std::string_view text, bool first_echo_decides) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    bool complete = true;
    for (int k = 1; k <= chunks && complete; ++k) {
      const auto length = static_cast<uint16_t>(k);
      ctx.clock.sleep_ms(20);
      if (!SendRequest(ctx, address, length, 0x08)) {
        complete = false;
        break;
      }
      ctx.clock.sleep_ms(30);
      uint8_t data[8];
      BarcodeChunk(text, k, data);
      if (!SendPayloadBytes(ctx, data)) {
        complete = false;
        break;
      }
      ctx.clock.sleep_ms(80);
      ctx.clock.sleep_ms(10);
      const bool echo = AwaitEcho(ctx, address, length);
      if (first_echo_decides && k == 1 && !echo) complete = false;
    }
    if (complete) return true;
  }
  return false;
}

void Start(Context& ctx, bool (*worker)(Context&)) {
  StartCommandWorker(ctx, [&ctx, worker] { worker(ctx); });
}

// Serial-number commands: both buttons locked, and released 300 ms after
// the port closed.
void SerialNumberBegin(Context& ctx) {
  ctx.FormMain.SpdBtnSNSet.set_enabled(false);
  ctx.FormMain.SpdBtnSNGet.set_enabled(false);
  SetCommandButtons(ctx, false);
}

void SerialNumberEnd(Context& ctx) {
  CloseLinkPort(ctx);
  ctx.clock.sleep_ms(300);
  ctx.FormMain.SpdBtnSNSet.set_enabled(true);
  ctx.FormMain.SpdBtnSNGet.set_enabled(true);
  SetCommandButtons(ctx, true);
  SetStatusPanel(ctx, 0, kSysStop);
}

}  // namespace

void BarcodeChunk(std::string_view text, int k, uint8_t out[8]) {
  std::memset(out, 0, 8);
  if (k < 1 || k > 4) return;
  const size_t n = std::min(text.size(), kBarcodeMaxLength);
  const size_t from = static_cast<size_t>(k - 1) * 8;
  for (size_t i = 0; i < 8 && from + i < n; ++i) out[i] = static_cast<uint8_t>(text[from + i]);
}

std::string SerialNumberToSend(std::string_view text) {
  if (text.size() <= kSerialNumberLength) return std::string(text);
  size_t from = text.size() - kSerialNumberLength;
  // Never start inside a multi-byte character.
  while (from < text.size() && (static_cast<uint8_t>(text[from]) & 0xC0) == 0x80) ++from;
  return std::string(text.substr(from));
}

bool ReadBarcodeExt32(Context& ctx) { return ReadBarcode(ctx, kRegBarcodeExt32Read, 4, true); }
bool ReadBarcodeInt32(Context& ctx) { return ReadBarcode(ctx, kRegBarcodeInt32Read, 4, true); }
bool ReadBarcodeInt16(Context& ctx) { return ReadBarcode(ctx, kRegBarcodeInt16Read, 2, false); }

bool WriteBarcodeExt32(Context& ctx, std::string_view text) { return WriteBarcode(ctx, kRegBarcode32Write, 4, text, true); }
bool WriteBarcodeInt32(Context& ctx, std::string_view text) { return WriteBarcode(ctx, kRegBarcode32Write, 4, text, false); }
bool WriteBarcodeInt16(Context& ctx, std::string_view text) { return WriteBarcode(ctx, kRegBarcode16Write, 2, text, false); }

uint8_t WriteBarcodeAuto(Context& ctx) {
  Control& edit = ctx.FormMain.EditEVTBarcode;
  const std::string copy = edit.text();
  if (copy.empty()) return 255;
  if (ReadBarcodeExt32(ctx) && !edit.empty() && WriteBarcodeExt32(ctx, copy)) return 0;
  if (ReadBarcodeInt32(ctx) && !edit.empty() && WriteBarcodeInt32(ctx, copy)) return 1;
  if (ReadBarcodeInt16(ctx) && !edit.empty() && WriteBarcodeInt16(ctx, copy)) return 2;
  return 255;
}

bool ReadBarcodeStorage(Context& ctx, int storage) {
  switch (storage) {
    case kBarcodeExt32:
      return ReadBarcodeExt32(ctx);
    case kBarcodeInt32:
      return ReadBarcodeInt32(ctx);
    case kBarcodeInt16:
      return ReadBarcodeInt16(ctx);
    default:
      return false;
  }
}

bool ReadBarcodeBySelection(Context& ctx, AutoProbe probe) {
  TFormMain& m = ctx.FormMain;
  bool ok = false;
  const bool auto_set = m.CheckBoxBarCodeAutoSet.checked();
  bool ext_read = false;
  const int item = m.RadioGroupBarcodeSelect.item_index();
  switch (item) {
    case kBarcodeExt32:
    case kBarcodeInt32:
    case kBarcodeInt16:
      ok = ReadBarcodeStorage(ctx, item);
      break;
    case kBarcodeAuto:
      ext_read = ReadBarcodeExt32(ctx);
      if (ext_read && (auto_set || probe == AutoProbe::ExternalEnds)) {
        ok = true;
        if (auto_set) m.RadioGroupBarcodeSelect.set_item_index(kBarcodeExt32);
      } else if (ReadBarcodeInt32(ctx) && !m.EditBarCode32.empty()) {
        ok = true;
        if (auto_set) m.RadioGroupBarcodeSelect.set_item_index(kBarcodeInt32);
      } else if (ReadBarcodeInt16(ctx) && !m.EditBarCode32.empty()) {
        ok = true;
        if (auto_set) m.RadioGroupBarcodeSelect.set_item_index(kBarcodeInt16);
      } else {
        ok = ext_read;  // the external barcode read stays the result
      }
      break;
    default:
      break;
  }
  return ok;
}

bool BarCodeReadWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  SetCommandButtons(ctx, false);
  m.BitBtnBarCodeRead.set_enabled(false);
  bool ok = false;
  if (OpenLinkPort(ctx)) {
    m.EditBarCode32.set_text("");
    SetStatusPanel(ctx, 0, kSysLink);
    ok = ReadBarcodeBySelection(ctx);
    CloseLinkPort(ctx);
  }
  m.BitBtnBarCodeRead.set_enabled(true);
  SetCommandButtons(ctx, true);
  SetStatusPanel(ctx, 0, kSysStop);
  return ok && !m.EditBarCode32.empty();
}

bool BarCodeWriteWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  SetCommandButtons(ctx, false);
  m.BitBtnBarCodeWrite.set_enabled(false);
  bool ok = false;
  const std::string copy = m.EditBarCode32.text();
  if (!copy.empty() && OpenLinkPort(ctx)) {
    SetStatusPanel(ctx, 0, kSysLink);
    switch (m.RadioGroupBarcodeSelect.item_index()) {
      case kBarcodeExt32:
        ok = WriteBarcodeExt32(ctx, copy);
        break;
      case kBarcodeInt32:
        ok = WriteBarcodeInt32(ctx, copy);
        break;
      case kBarcodeInt16:
        ok = WriteBarcodeInt16(ctx, copy);
        break;
      case kBarcodeAuto:
        // Probe which storage answers (this leaves the pack's barcode in the
        // edit), then write the operator's text there.
        if (ReadBarcodeExt32(ctx) && !m.EditBarCode32.empty()) {
          ok = WriteBarcodeExt32(ctx, copy);
        } else if (ReadBarcodeInt32(ctx) && !m.EditBarCode32.empty()) {
          ok = WriteBarcodeInt32(ctx, copy);
        } else if (ReadBarcodeInt16(ctx) && !m.EditBarCode32.empty()) {
          ok = WriteBarcodeInt16(ctx, copy);
        }
        break;
      default:
        break;
    }
    CloseLinkPort(ctx);
  }
  m.BitBtnBarCodeWrite.set_enabled(true);
  SetCommandButtons(ctx, true);
  SetStatusPanel(ctx, 0, kSysStop);
  return ok;
}

bool SNSetWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  SerialNumberBegin(ctx);
  std::string sn = m.EditPDSN.text();
  if (sn.size() > kSerialNumberLength) {
    sn = SerialNumberToSend(sn);
    m.EditPDSN.set_text(sn);
  }
  bool echo = false;
  if (OpenLinkPort(ctx)) {
    SendRequest(ctx, kRegSerialNumberWrite, 0, 0x08);
    ctx.clock.sleep_ms(100);
    SendPayload(ctx, sn);
    ctx.clock.sleep_ms(100);
    echo = AwaitEcho(ctx, kRegSerialNumberWrite, 0);
  }
  SerialNumberEnd(ctx);
  return echo;
}

bool SNGetWorker(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  SerialNumberBegin(ctx);
  bool decoded = false;
  if (OpenLinkPort(ctx)) {
    m.EditPDSN.set_text("");
    for (int attempt = 0; attempt < 3 && !decoded; ++attempt) {
      PurgeLink(ctx, kPurgeAll);
      SendRequest(ctx, kRegSerialNumberRead, 1, 0x00);
      ctx.clock.sleep_ms(100);
      decoded = AwaitReplyDecode(ctx);
      if (!decoded) ctx.clock.sleep_ms(300);
    }
  }
  SerialNumberEnd(ctx);
  return decoded;
}

void BitBtnBarCodeReadClick(Context& ctx) {
  if (ctx.RunFlag.exchange(0) != 0) return;  // stops the running loop; reads nothing
  Start(ctx, BarCodeReadWorker);
}

void BitBtnBarCodeWriteClick(Context& ctx) {
  if (ctx.RunFlag.exchange(0) != 0) return;
  Start(ctx, BarCodeWriteWorker);
}

void RadioGroupBarcodeSelectClick(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  const int item = m.RadioGroupBarcodeSelect.item_index();
  if (item == kBarcodeAuto) {
    m.CheckBoxBarCodeAutoSet.set_enabled(true);
    // The auto-set choice belongs to the loaded test plan; with no plan
    // loaded there is no file to keep it in (EVT.ini keeps the box's own).
    const std::string plan = ctx.TestPlanFile.get();
    if (!plan.empty()) WriteSetting(ctx, plan, kKeyBarcodeAutoSet, m.CheckBoxBarCodeAutoSet.checked() ? "1" : "0");
  } else {
    m.CheckBoxBarCodeAutoSet.set_enabled(false);
    m.CheckBoxBarCodeAutoSet.set_checked(false);
  }
  const std::string eng = IniPath(ctx, "ENG.ini");
  const bool saved = WriteSetting(ctx, eng, kKeyBarcodeMode, std::to_string(item));
  ctx.clock.sleep_ms(100);
  // A file that could not be written must not leave an older mode in force.
  ctx.CurrentBarcodeMode = saved ? GetPrivateProfileInt(kIniSection, kKeyBarcodeMode, -1, eng) : item;
}

void CheckBoxBarCodeAutoSetClick(Context& ctx) { WriteSetting(ctx, IniPath(ctx, "EVT.ini"), kKeyBarcodeAutoSet, ctx.FormMain.CheckBoxBarCodeAutoSet.checked() ? "1" : "0"); }

void SpdBtnSNSetClick(Context& ctx) { Start(ctx, SNSetWorker); }
void SpdBtnSNGetClick(Context& ctx) { Start(ctx, SNGetWorker); }

}  // namespace bms
