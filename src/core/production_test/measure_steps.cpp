// The measurement repetitions: identity, clock, state of charge and health,
// temperatures, cell and pack voltages, current, shipping mode and flags.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/commands/identity.h"
#include "core/link/link_port.h"
#include "core/monitor/polling.h"
#include "core/production_test/production_test.h"

namespace bms {

namespace {

std::string Dec(long long v) { return std::to_string(v); }
std::string UDec(int32_t v) { return std::to_string(static_cast<uint32_t>(v)); }
bool Flag(Context& ctx) { return ctx.RunFlag.load() != 0; }

// The shown text as an integer (blanks around it allowed); nothing when the
// text is not an integer.
std::optional<int32_t> ShownInt(const Control& c) {
  const int a = c.int_value(1), b = c.int_value(2);
  if (a != b) return std::nullopt;
  return a;
}

// A check whose shown value is no integer is NG, with a line saying so.
void NotAnInteger(EvtRun& run, const std::string& shown, const std::string& ng_line, const std::string& failure) {
  run.Line("  [ \"" + shown + "\" is not an integer ]");
  run.Ng(ng_line, failure);
}

struct RangeCheck {
  Control TFormMain::*edit;
  const char* name;  // "SOC", "SOH"
  int32_t EvtTest::*max;
  int32_t EvtTest::*min;
};

void PercentCheck(Context& ctx, const RangeCheck& c, const EvtTest& plan) {
  EvtRun& run = *ctx.Evt;
  const Control& edit = ctx.FormMain.*(c.edit);
  const int32_t hi = plan.*(c.max), lo = plan.*(c.min);
  const std::string name = c.name;
  run.Title(name + " : " + Dec(hi) + " % to " + Dec(lo) + " %  Test  :  ");
  const std::string shown = edit.text();
  const std::string ng = "  [  " + shown + " % ]  ........  NG";
  const std::string fail = name + " : " + " [ " + shown + " % ]  ........  NG";
  run.Measured(shown, Dec(lo), Dec(hi));
  const auto v = ShownInt(edit);
  if (!v) return NotAnInteger(run, shown, ng, fail);
  if (lo <= *v && *v <= hi) {
    run.Pass("  [ " + shown + " % ]  ........  PASS");
  } else {
    run.Ng(ng, fail);
  }
}

// T1 / T2 against the ambient temperature; stores the reading.
void TemperatureCheck(Context& ctx, const char* name, Control& edit, int32_t range, int32_t* before) {
  EvtRun& run = *ctx.Evt;
  const auto ambient = ShownInt(ctx.FormMain.EditEVTT1);
  const int32_t a = ambient.value_or(0);
  const std::string n = name;
  run.Title(n + " Range : " + Dec(a + range) + " ℃ to " + Dec(a - range) + " ℃  Test  :  ");
  const std::string shown = edit.text();
  const std::string ng = "  [ " + shown + " ℃ ]  ........  NG";
  const std::string fail = n + " Range : " + " [ " + shown + " ℃ ]  ........  NG";
  run.Measured(shown, Dec(a - range), Dec(a + range));
  if (!ambient) return NotAnInteger(run, ctx.FormMain.EditEVTT1.text(), ng, fail);
  const auto v = ShownInt(edit);
  if (!v) return NotAnInteger(run, shown, ng, fail);
  *before = *v;
  if (a - range <= *v && *v <= a + range) {
    run.Pass("  [ " + shown + " ℃ ]  ........  PASS");
  } else {
    run.Ng(ng, fail);
  }
}

void BarcodeCheck(Context& ctx) {
  EvtRun& run = *ctx.Evt;
  TFormMain& m = ctx.FormMain;
  run.TitleLine("Barcode  :  " + m.EditEVTBarcode.text() + "  Test  :  ");
  const int mode = ctx.CurrentBarcodeMode.load();
  if (mode == kBarcodeAuto) {
    if (!ReadBarcodeExt32(ctx) && !ReadBarcodeInt32(ctx)) ReadBarcodeInt16(ctx);
  } else {
    ReadBarcodeStorage(ctx, mode);
  }
  const std::string read = m.EditBarCode32.text();
  run.Measured(read, m.EditEVTBarcode.text(), m.EditEVTBarcode.text());
  if (m.EditEVTBarcode.text() == read) {
    run.Pass("  [ " + read + " ]  ........  PASS");
  } else {
    run.Ng("  [ " + read + " ]  ........  NG", "Barcode  : " + std::string(" [ ") + read + " ]  ........  NG");
  }
}

void ClockCheck(Context& ctx, const EvtTestSet& set, const EvtTest& plan) {
  EvtRun& run = *ctx.Evt;
  const LocalTime pc = ctx.clock.local_now();
  const int32_t pc_date = pc.year * 10000 + pc.month * 100 + pc.day;
  const int32_t pc_seconds = pc.hour * 3600 + pc.minute * 60 + pc.second;
  ctx.Live.with([](LiveData& l) { l.ClockYear = l.ClockMonth = l.ClockDay = l.ClockHour = l.ClockMinute = l.ClockSecond = 0; });
  ReadClock(ctx);
  const LiveData l = ctx.Live.get();
  const std::string clock_text = Dec(l.ClockYear) + "." + Dec(l.ClockMonth) + "." + Dec(l.ClockDay) + "  " + Dec(l.ClockHour) + ":" + Dec(l.ClockMinute) + ":" + Dec(l.ClockSecond);
  run.Title("PC RTC : " + FormatLocalTime(pc, "yyyy.mm.dd") + "  " + FormatLocalTime(pc, "hh:nn:ss") + "  Test  :  ");
  const RtcStamp stamp = ctx.RtcSetStamp.get();
  const int32_t date_diff = l.ClockDate - pc_date;
  const int32_t time_diff = std::abs(l.ClockSeconds - pc_seconds);
  const int32_t since_set = std::abs(l.ClockSeconds - stamp.Seconds);
  const bool ran_long_enough = !set.RTCWrite || since_set >= plan.DateTimeFirstToCheckRange;
  run.Line("FirstWrite : " + Dec(stamp.Seconds) + " sec.");
  run.Line("Read HW RTC Now : " + Dec(l.ClockSeconds) + " sec.");
  run.Line("Total Second Range Range : " + Dec(since_set) + " sec.");
  run.Line("Check First Waite Total Second Range Range : " + Dec(plan.DateTimeFirstToCheckRange) + " sec.");
  run.Line("");
  run.Line("Read PC Time Total Second : " + Dec(pc_seconds));
  run.Line("Read BMS RTC Total Second : " + Dec(l.ClockSeconds));
  run.Line("Total Second Range Range  : " + Dec(time_diff));
  run.Line("Check Total Second Range Range  : " + Dec(plan.DateTimeAccuracyRange) + " sec.");
  run.Measured(clock_text, "", "");
  if (ran_long_enough && date_diff == 0 && time_diff <= plan.DateTimeAccuracyRange) {
    run.Pass("  [ " + clock_text + " ]  ........  PASS");
  } else {
    run.Ng("  [ " + clock_text + " ]  ........  NG", "H/W RTC : " + std::string(" [ ") + clock_text + " ]  ........  NG");
  }
}

// Plain range checks of the pack voltage and current.
void PackCheck(Context& ctx, const std::string& title, Control& edit, const char* unit, int32_t lo, int32_t hi, const std::string& fail_prefix) {
  EvtRun& run = *ctx.Evt;
  run.Title(title);
  const std::string shown = edit.text();
  const std::string u = unit;
  const std::string ng = "  [ " + shown + " " + u + " ]  ........  NG";
  const std::string fail = fail_prefix + shown + " " + u + " ]  ........  NG";
  run.Measured(shown, Dec(lo), Dec(hi));
  const auto v = ShownInt(edit);
  if (!v) return NotAnInteger(run, shown, ng, fail);
  if (lo <= *v && *v <= hi) {
    run.Pass("  [ " + shown + " " + u + " ]  ........  PASS");
  } else {
    run.Ng(ng, fail);
  }
}

struct FlagCheck {
  Control TFormMain::*edit;
  const char* name;
  uint8_t EvtTest::*expected;
  const char* ng_open;    // bracket opening of the NG line
  const char* fail_open;  // bracket opening of the failure text
};

const FlagCheck kFlagChecks[] = {
    {&TFormMain::EditOVF, "OV Flag : ", &EvtTest::OVFlag, "  [ ", " [ "},  {&TFormMain::EditUVF, "UV Flag : ", &EvtTest::UVFlag, "  [ ", "  [ "},
    {&TFormMain::EditOCF, "OC Flag : ", &EvtTest::OCFlag, "  [ ", "  [ "}, {&TFormMain::EditSCF, "SC Flag : ", &EvtTest::SCFlag, " [  ", " [ "},
    {&TFormMain::EditOTF, "OT Flag : ", &EvtTest::OTFlag, "  [ ", " [ "},  {&TFormMain::EditUTF, "UT Flag : ", &EvtTest::UTFlag, "  [ ", " [ "},
};

// One repetition; false when RunFlag was found clear (the repetitions end).
bool Repetition(Context& ctx, int n, const EvtTestSet& set, const EvtTest& plan) {
  EvtRun& run = *ctx.Evt;
  TFormMain& m = ctx.FormMain;
  run.Line(" ");
  run.Line(kDashLine);
  SetStatusPanel(ctx, 2, "");
  m.PanelTestResult.set_text("Testing");
  run.Line("自動檢測開始  :  第" + Dec(n) + "次");
  if (!Flag(ctx)) return false;
  run.Line("");
  ++run.item;
  RefreshLiveData(ctx);

  if (plan.BarcodeRead_Test) BarcodeCheck(ctx);

  if (!Flag(ctx)) return false;
  run.Title("Project Name  :  " + plan.ProjectName + "  Test  :  ");
  {
    const std::string model = ctx.Live.with([](const LiveData& l) { return l.ModelName; });
    const std::string shown = m.EditFWID.text();
    run.Measured(shown, plan.ProjectName, plan.ProjectName);
    if (model == plan.ProjectName) {
      run.Pass("  [ " + shown + " ]  ........  PASS");
    } else {
      run.Ng("  [ " + shown + " ]  ........  NG", "Project Name  : " + std::string(" [ ") + shown + " ]  ........  NG");
    }
  }

  if (!Flag(ctx)) return false;
  run.Title("FW Version  :  " + plan.FWVer + "  Test  :  ");
  {
    const std::string shown = m.EditFWVer.text();
    run.Measured(shown, plan.FWVer, plan.FWVer);
    if (shown == plan.FWVer) {
      run.Pass("  [ " + shown + " ]  ........  PASS");
    } else {
      run.Ng("  [ " + shown + " ]  ........  NG", "FW Version  : " + std::string(" [ ") + shown + " ]  ........  NG");
    }
  }

  if (plan.RTC_Test) {
    if (!Flag(ctx)) return false;
    ClockCheck(ctx, set, plan);
  }

  if (!Flag(ctx)) return false;
  PercentCheck(ctx, {&TFormMain::EditRSOC, "SOC", &EvtTest::SOCMax, &EvtTest::SOCMin}, plan);
  if (!Flag(ctx)) return false;
  PercentCheck(ctx, {&TFormMain::EditASOC, "SOH", &EvtTest::SOHMax, &EvtTest::SOHMin}, plan);
  if (!Flag(ctx)) return false;
  TemperatureCheck(ctx, "T1", m.EditT1, plan.T1Range, &run.t1_before);
  if (!Flag(ctx)) return false;
  TemperatureCheck(ctx, "T2", m.EditT2, plan.T2Range, &run.t2_before);

  // Cell voltages, compared as unsigned numbers.
  if (!Flag(ctx)) return false;
  run.Line("");
  std::optional<int32_t> cells[15];
  std::string shown_cells[15];
  for (int i = 1; i <= 14; ++i) {
    cells[i] = ShownInt(*m.EditVCellN[i]);
    shown_cells[i] = m.EditVCellN[i]->text();
  }
  const int series = std::min<int>(ctx.Live.with([](const LiveData& l) { return l.CellSeries; }), 14);
  for (int i = 1; i <= series; ++i) {
    if (!Flag(ctx)) return false;
    run.Title("Cell Volt " + Dec(i) + " Range : " + UDec(plan.CellVoltMax) + " mV to " + UDec(plan.CellVoltMin) + " mV  Test  :  ");
    const std::string v = cells[i] ? Dec(*cells[i]) : shown_cells[i];
    const std::string ng = "  [ " + v + " mV ]  ........  NG";
    const std::string fail = "Cell Volt " + Dec(i) + " Range : " + " [ " + v + " mV ]  ........  NG";
    run.Measured(v, UDec(plan.CellVoltMin), UDec(plan.CellVoltMax));
    if (!cells[i]) {
      NotAnInteger(run, shown_cells[i], ng, fail);
      continue;
    }
    const uint32_t u = static_cast<uint32_t>(*cells[i]);
    if (u <= static_cast<uint32_t>(plan.CellVoltMax) && u >= static_cast<uint32_t>(plan.CellVoltMin)) {
      run.Pass("  [ " + v + " mV ]  ........  PASS");
    } else {
      run.Ng(ng, fail);
    }
  }
  if (!Flag(ctx)) return false;

  run.Title("Balance Range  :  " + Dec(plan.CellBalance) + " mV" + "  Test  :  ");
  {
    const std::string shown = m.Edit_VoltDiff.text();
    const std::string ng = "  [ " + shown + " ]  ........  NG";
    const std::string fail = "Balance Range  : " + std::string(" [ ") + shown + " ]  ........  NG";
    run.Measured(shown, "", Dec(plan.CellBalance));
    const auto v = ShownInt(m.Edit_VoltDiff);
    if (!v) {
      NotAnInteger(run, shown, ng, fail);
    } else if (*v <= plan.CellBalance) {
      run.Pass("  [ " + shown + " mV" + " ]  ........  PASS");
    } else {
      run.Ng(ng, fail);
    }
  }

  if (!Flag(ctx)) return false;
  PackCheck(ctx, "Pack Volt Range : " + Dec(plan.PackVoltMax) + " mV to " + Dec(plan.PackVoltMin) + " mV  Test  :  ", m.EditPackVolt, "mV", plan.PackVoltMin, plan.PackVoltMax,
            "Pack Volt Range :  [ ");
  if (!Flag(ctx)) return false;
  PackCheck(ctx, "Pack Current Range : " + Dec(plan.PackCurrentMax) + " mA to " + Dec(plan.PackCurrentMin) + " mA  Test  :  ", m.EditPackCurrent, "mA", plan.PackCurrentMin,
            plan.PackCurrentMax, "Pack Current Range : " + std::string(" [ "));

  if (plan.ShippingMode_Test) {
    if (!Flag(ctx)) return false;
    run.Title("Shipping Mode : " + Dec(plan.ShippingMode) + "  Test  :  ");
    int s = 0;
    for (int t = 0; t < 3; ++t) {
      ReadShippingMode(ctx);
      s = m.CheckBoxSippingMode.checked() ? 1 : 0;
      if (s == plan.ShippingMode) break;
      ctx.clock.sleep_ms(500);
    }
    run.Measured(Dec(s), Dec(plan.ShippingMode), Dec(plan.ShippingMode));
    if (s == plan.ShippingMode) {
      run.Pass("  [ Shipping Mode  :  " + Dec(s) + "]  ........  PASS");
    } else {
      run.Ng("  [ Shipping Mode  :  " + Dec(s) + "]  ........  NG", "  [ Shipping Mode Write ]  ........  NG");
    }
  }

  for (const FlagCheck& f : kFlagChecks) {
    if (!Flag(ctx)) return false;
    const int expected = plan.*(f.expected);
    run.Title(std::string(f.name) + Dec(expected) + "  Test  :  ");
    const int shown = (m.*(f.edit)).color() == kRed ? 1 : 0;
    run.Measured(Dec(shown), Dec(expected), Dec(expected));
    if (shown == expected) {
      run.Pass("  [ " + Dec(shown) + " ]  ........  PASS");
    } else {
      run.Ng(f.ng_open + Dec(shown) + " ]  ........  NG", std::string(f.name) + f.fail_open + Dec(shown) + " ]  ........  NG");
    }
  }
  return true;
}

}  // namespace

void RunMeasurementRepetitions(Context& ctx) {
  const EvtTestSet set = ctx.EVT_TEST_SET.get();
  const EvtTest plan = ctx.EVT_TEST.get();
  for (int n = 1; n <= set.TestRepeatCnt; ++n)
    if (!Repetition(ctx, n, set, plan)) return;
}

}  // namespace bms
