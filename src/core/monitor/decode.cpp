#include "core/monitor/decode.h"

#include <algorithm>
#include <string>

#include "core/history/record_decode.h"
#include "core/monitor/live_display.h"

namespace bms {

namespace {

uint16_t U16(const uint8_t* d, int i) { return static_cast<uint16_t>(d[i] << 8 | d[i + 1]); }
uint32_t U24(const uint8_t* d, int i) { return static_cast<uint32_t>(d[i]) << 16 | static_cast<uint32_t>(d[i + 1]) << 8 | d[i + 2]; }
uint32_t U32(const uint8_t* d, int i) { return static_cast<uint32_t>(d[i]) << 24 | U24(d, i + 1); }

std::string Dec(long long v) { return std::to_string(v); }
std::string Dec(unsigned long long v) { return std::to_string(v); }
std::string Dec(uint32_t v) { return std::to_string(v); }
std::string Dec(int32_t v) { return std::to_string(v); }
std::string Signed8(uint8_t b) { return std::to_string(static_cast<int8_t>(b)); }

// Bytes as they came from the pack, up to the first zero byte.
std::string TextUpToZero(const uint8_t* d, size_t max) {
  std::string out;
  for (size_t i = 0; i < max && d[i] != 0; ++i) out.push_back(static_cast<char>(d[i]));
  return out;
}

bool IsAlnum(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// ---- 0x1001 cell voltages and their statistics ----

void CellVoltagePage(Context& ctx, uint16_t page, const uint8_t* d) {
  const int first = (page - 1) * 4 + 1;
  const int cells = page == 4 ? 2 : 4;
  int32_t v[4] = {};
  for (int k = 0; k < cells; ++k) v[k] = U16(d, 2 * k);
  ctx.Live.with([&](LiveData& live) {
    for (int k = 0; k < cells; ++k) live.CellVoltage[static_cast<size_t>(first + k)] = v[k];
  });
  for (int k = 0; k < cells; ++k) ctx.FormMain.EditVCellN[first + k]->set_text(Dec(v[k]));

  // Statistics over the number of cells shown in EditCellSeries (1..14).
  const int n = ctx.FormMain.EditCellSeries.int_value(0);
  const CellSpread spread = ctx.Live.with([&](LiveData& live) { return SpreadOfCells(live.CellVoltage, n); });
  const int32_t hi = spread.high, lo = spread.low;
  ctx.FormMain.Edit_HVlot.set_text(Dec(hi));
  ctx.FormMain.Edit_LVolt.set_text(Dec(lo));
  ctx.FormMain.Edit_VoltDiff.set_text(Dec(static_cast<long long>(hi) - lo));
}

void RawCellVoltagePage(Context& ctx, uint16_t page, const uint8_t* d) {
  const int first = (page - 1) * 4 + 1;
  const int cells = page == 4 ? 2 : 4;
  int32_t v[4] = {};
  for (int k = 0; k < cells; ++k) v[k] = U16(d, 2 * k);
  ctx.Live.with([&](LiveData& live) {
    for (int k = 0; k < cells; ++k) live.RawCellVoltage[static_cast<size_t>(first + k)] = v[k];
  });
  for (int k = 0; k < cells; ++k) ctx.FormMain.EditVCellNoAdjustN[first + k]->set_text(Dec(v[k]));
}

// ---- 0x1005 clock ----

void ClockReply(Context& ctx, const uint8_t* d) {
  if (d[1] < 1 || d[1] > 12 || d[2] < 1 || d[2] > 31) return;
  const int32_t year = d[0] + 2000;
  std::string text = " ";
  text.append(Dec(year)).append(".").append(Dec(int32_t{d[1]})).append(".").append(Dec(int32_t{d[2]}));
  text.append("   ").append(Dec(int32_t{d[3]})).append(":").append(Dec(int32_t{d[4]})).append(":").append(Dec(int32_t{d[5]}));
  ctx.FormMain.EditRTC.set_text(text);
  ctx.FormMain.EditRTCENG.set_text(text);
  ctx.Live.with([&](LiveData& live) {
    live.ClockYear = year;
    live.ClockMonth = d[1];
    live.ClockDay = d[2];
    live.ClockHour = d[3];
    live.ClockMinute = d[4];
    live.ClockSecond = d[5];
    live.ClockDate = year * 10000 + d[1] * 100 + d[2];
    live.ClockSeconds = d[3] * 3600 + d[4] * 60 + d[5];
  });
}

// ---- 0x3300 protection parameters of the firmware data dialog ----

void ProtectionPage(Context& ctx, uint16_t page, const uint8_t* d) {
  TPagesDlgFWData& f = ctx.PagesDlgFWData;
  const auto u = [&](int i) { return Dec(int32_t{d[i]}); };
  const auto s = [&](int i) { return Signed8(d[i]); };
  // Temperature pages: event, release (signed), event delay, release delay; twice.
  const auto temperatures = [&](Control& e1, Control& r1, Control& ed1, Control& rd1, Control& e2, Control& r2, Control& ed2, Control& rd2) {
    e1.set_text(s(0));
    r1.set_text(s(1));
    ed1.set_text(u(2));
    rd1.set_text(u(3));
    e2.set_text(s(4));
    r2.set_text(s(5));
    ed2.set_text(u(6));
    rd2.set_text(u(7));
  };
  const auto currents = [&](Control& event, Control& release, Control& event_delay, Control& release_delay) {
    event.set_text(Dec(U24(d, 0)));
    release.set_text(Dec(U24(d, 3)));
    event_delay.set_text(u(6));
    release_delay.set_text(u(7));
  };
  const auto voltages = [&](Control& set, Control& clear, Control& delay, Control& release) {
    set.set_text(Dec(uint32_t{U16(d, 0)}));
    clear.set_text(Dec(uint32_t{U16(d, 2)}));
    delay.set_text(u(4));
    release.set_text(u(5));
  };
  switch (page) {
    case 1:
      temperatures(f.EditCOTEvent, f.EditCOTRelease, f.EditCOTEvtDly, f.EditCOTRlsDly, f.EditCUTEvent, f.EditCUTRelease, f.EditCUTEvtDly, f.EditCUTRlsDly);
      break;
    case 2:
      temperatures(f.EditDOTEvent, f.EditDOTRelease, f.EditDOTEvtDly, f.EditDOTRlsDly, f.EditDUTEvent, f.EditDUTRelease, f.EditDUTEvtDly, f.EditDUTRlsDly);
      break;
    case 3:
      currents(f.EditCOCEvent, f.EditCOCRelease, f.EditCOCEvtDly, f.EditCOCRlsDly);
      break;
    case 4:
      currents(f.EditDOCEvent, f.EditDOCRelease, f.EditDOCEvtDly, f.EditDOCRlsDly);
      break;
    case 5:
      voltages(f.EditSWOVSet, f.EditSWOVClear, f.EditSWOVDelay, f.EditSWOVRelease);
      break;
    case 6:
      voltages(f.EditSWUVSet, f.EditSWUVClear, f.EditSWUVDelay, f.EditSWUVRelease);
      break;
    default:
      break;
  }
}

// The main register table.
void DecodeMainTable(Context& ctx, uint16_t address, uint16_t length, const uint8_t* d) {
  TFormMain& m = ctx.FormMain;
  switch (address) {
    case 0x0005:
      if (length == 0) m.Edit_ENG_FW_Version.set_text(Dec(int32_t{d[0]}) + "." + Dec(int32_t{d[1]}) + "." + Dec(int32_t{d[2]}));
      return;
    case 0x0006:
      if (length == 0) m.CheckBox_T1T2_Enabled.set_checked(d[0] == 0x00 && d[1] == 0xFF);
      return;
    case 0x1001:
      if (length >= 1 && length <= 4) CellVoltagePage(ctx, length, d);
      return;
    case 0x1005:
      if (length == 0) ClockReply(ctx, d);
      return;
    case 0x100B:
      if (length >= 1 && length <= 4) RawCellVoltagePage(ctx, length, d);
      return;
    case 0x100C:
      if (length >= 1 && length <= 13) m.EditCellRN[length]->set_text(Dec(uint32_t{U16(d, 0)}));
      return;
    case 0x100D:
      if (length >= 1 && length <= 26) {
        ctx.Live.with([&](LiveData& live) {
          for (int k = 0; k < 4; ++k) live.SocOcvTable[length][static_cast<size_t>(k)] = U16(d, 2 * k);
        });
      }
      return;
    case 0x100E:
      if (length == 1) {
        const uint32_t tdc = U32(d, 4);
        ctx.Live.with([&](LiveData& live) { live.TotalDischargeCapacity = tdc; });
        m.EditTDC.set_text(Dec(tdc));
      }
      return;
    case 0x2001:
      m.EditPDSN.set_text(TextUpToZero(d, 8));
      return;
    case 0x2008:
    case 0x200A:
    case 0x6207:
      if (length == 1) {
        m.EditBarCode32.set_text(TextUpToZero(d, 8));
      } else if (length >= 2 && length <= 4) {
        m.EditBarCode32.set_text(m.EditBarCode32.text() + TextUpToZero(d, 8));
      }
      return;
    case 0x200B:
      if (length == 0) {
        const bool shipping = d[0] & 0x01;
        m.CheckBoxSippingMode.set_checked(shipping);
        m.CheckBox_Shipping_Mode_Read_Only.set_checked(shipping);
      }
      return;
    case 0x3300:
      ProtectionPage(ctx, length, d);
      return;
    default:
      return;
  }
}

}  // namespace

void DecodeReply(Context& ctx, uint16_t address, uint16_t length, const uint8_t* data) {
  if (data == nullptr) return;
  DecodeMainTable(ctx, address, length, data);
  DecodeHistoryReply(ctx, address, length, data);
}

void DecodeStatusBlock(Context& ctx, const uint8_t* b) {
  if (b == nullptr) return;
  const uint8_t asoc = b[1];
  const uint8_t rsoc = b[2];
  const uint16_t cycles = U16(b, 3);
  const uint32_t design = U32(b, 5);
  const uint64_t tcc = static_cast<uint64_t>(U16(b, 9)) << 32 | U32(b, 11);
  const uint32_t fcc = U32(b, 15);
  const uint32_t remaining = U32(b, 19);
  const int32_t current = static_cast<int32_t>(U32(b, 23));
  const uint32_t voltage = U32(b, 27);
  const std::string fwid = TextUpToZero(b + 31, 12);
  const std::string model = fwid.substr(0, fwid.find(' '));
  const uint8_t series = b[45];
  const uint8_t parallel = b[46];
  const uint8_t status = b[47];
  const uint8_t flags = b[48];
  const bool over_current = flags & 0x04;
  const int8_t t1 = static_cast<int8_t>(b[50]);
  const int8_t t2 = static_cast<int8_t>(b[51]);
  const int8_t t3 = static_cast<int8_t>(b[52]);
  std::string serial;
  for (int i = 56; i < 64 && IsAlnum(b[i]); ++i) serial.push_back(static_cast<char>(b[i]));

  ctx.Live.with([&](LiveData& live) {
    live.Asoc = asoc;
    live.Rsoc = rsoc;
    live.CycleCount = cycles;
    live.DesignCapacity = design;
    live.TotalChargeCapacity = tcc;
    live.FullChargeCapacity = fcc;
    live.RemainingCapacity = remaining;
    live.PackCurrent = current;
    live.PackVoltage = voltage;
    live.ModelName = model;
    live.CellSeries = series;
    live.CellParallel = parallel;
    live.StatusBits = status;
    live.ProtectionFlags = flags;
    live.OverCurrentActive = over_current;
    if (over_current) live.OverCurrentSeen = true;
    live.T1 = t1;
    live.T2 = t2;
    live.T3 = t3;
  });

  TFormMain& m = ctx.FormMain;
  m.EditASOC.set_text(Dec(int32_t{asoc}));
  m.CGaugeASOC.set_progress(asoc);
  m.EditRSOC.set_text(Dec(int32_t{rsoc}));
  m.CGaugeRSOC.set_progress(rsoc);
  m.EditCycleCnt.set_text(Dec(uint32_t{cycles}));
  m.EditDC.set_text(Dec(design));
  m.EditTCC.set_text(Dec(static_cast<unsigned long long>(tcc)));
  m.EditFCC.set_text(Dec(fcc));
  m.EditRC.set_text(Dec(remaining));
  m.EditPackCurrent.set_text(Dec(current));
  m.EditPackVolt.set_text(Dec(voltage));
  m.EditFWID.set_text(fwid);
  m.EditFWVer.set_text(Dec(int32_t{b[43]}) + "." + Dec(int32_t{b[44]}));
  m.EditCellSeries.set_text(Dec(int32_t{series}));
  ShowCellGroups(ctx, series);
  m.EditCellParallel.set_text(Dec(int32_t{parallel}));
  ShowChargeDirection(ctx, status);
  ShowKeyPress(ctx, status);
  ShowProtectionFlags(ctx, flags);
  m.EditT1.set_text(Dec(int32_t{t1}));
  m.EditT2.set_text(Dec(int32_t{t2}));
  m.EditT3.set_text(t3 == 0 ? std::string() : Dec(int32_t{t3}));
  m.EditPDSN.set_text(serial);

  if (m.TabSheetXJ.visible()) {
    m.EditMaxChgCurrent.set_text(Dec(uint32_t{U16(b, 64)}));
    m.EditMaxChgCounter.set_text(Dec(uint32_t{U16(b, 66)}));
    m.EditMaxChgTemperature.set_text(Dec(int32_t{b[68]}));
    m.EditMaxChgCapacitymAh.set_text(Dec(U32(b, 69)));
  }
  if (m.TabSheetPQ.visible()) {
    m.EditDsgProtectionCurrent.set_text(Dec(U32(b, 64)));
    m.EditDsgProtectionDelay.set_text(Dec(uint32_t{U16(b, 68)}));
    m.EditChgProtectionCurrent.set_text(Dec(U32(b, 70)));
    m.EditChgProtectionDelay.set_text(Dec(uint32_t{U16(b, 74)}));
  }
}

}  // namespace bms
