#include "core/production_test/test_plan.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>

#include "core/platform/files.h"
#include "core/platform/ini.h"

namespace bms {

namespace {

struct Records {
  EvtTestSet& set;
  EvtTest& test;
  Context& ctx;
};

struct Converted {
  long long i = 0;
  double r = 0;
  std::string s;
};

using Store = void (*)(Records&, const Converted&);

struct PlanKey {
  const char* section;
  const char* key;
  PlanConversion conversion;
  const char* default_value;
  Store store;
  size_t text_field = 0;  // bytes of a text field (terminator included)
};

constexpr PlanConversion kInt = PlanConversion::Integer;
constexpr PlanConversion kSwitch = PlanConversion::Switch;
constexpr PlanConversion kTrunc = PlanConversion::FloatTruncated;
constexpr PlanConversion kReal = PlanConversion::Real;
constexpr PlanConversion kIntReal = PlanConversion::IntegerAsReal;
constexpr PlanConversion kText = PlanConversion::Text;

#define SET_I(f) [](Records& r, const Converted& v) { r.set.f = static_cast<int32_t>(v.i); }
#define SET_B(f) [](Records& r, const Converted& v) { r.set.f = v.i != 0 ? 1 : 0; }
#define TEST_I(f) [](Records& r, const Converted& v) { r.test.f = static_cast<int32_t>(v.i); }
#define TEST_B(f) [](Records& r, const Converted& v) { r.test.f = v.i != 0 ? 1 : 0; }
#define TEST_F(f) [](Records& r, const Converted& v) { r.test.f = static_cast<float>(v.r); }
#define TEST_S(f) [](Records& r, const Converted& v) { r.test.f = v.s; }

void StoreBarcodeMode(Records& r, const Converted& v) {
  r.set.BarcodeMode = static_cast<int32_t>(v.i);
  r.ctx.CurrentBarcodeMode = static_cast<int>(v.i);
}

void StoreT1(Records& r, const Converted& v) {
  r.test.T1 = static_cast<int32_t>(v.i);
  if (r.ctx.FormMain.EditEVTT1.empty()) r.ctx.FormMain.EditEVTT1.set_text(std::to_string(r.test.T1));
}

const PlanKey kPlanKeys[] = {
    {"Set", "TestRepeatCnt", kInt, "0", SET_I(TestRepeatCnt)},
    {"Set", "DevTestNumber", kInt, "0", SET_I(DevTestNumber)},
    {"Set", "EraseMCUIntTCCWrite", kSwitch, "0", SET_B(EraseMCUIntTCCWrite)},
    {"Set", "EraseMCUIntEEPWrite", kSwitch, "0", SET_B(EraseMCUIntEEPWrite)},
    {"Set", "EEPEraseWrite", kSwitch, "0", SET_B(EEPEraseWrite)},
    {"Set", "BarcodeWrite", kSwitch, "0", SET_B(BarcodeWrite)},
    {"Set", "BarcodeMode", kInt, "-1", StoreBarcodeMode},
    {"Set", "RTCWrite", kSwitch, "0", SET_B(RTCWrite)},
    {"Set", "ShippingModeWrite", kSwitch, "0", SET_B(ShippingModeWrite)},
    {"Set", "SleepModeWrite", kSwitch, "0", SET_B(SleepModeWrite)},
    {"Set", "Sleep_or_DeepSleepStatusWrite", kInt, "-1", SET_I(Sleep_or_DeepSleepStatusWrite)},
    {"Set", "Sleep_or_DeepSleep_Status_AfterEndTest", kInt, "-1", SET_I(Sleep_or_DeepSleep_Status_AfterEndTest)},
    {"Set", "fBtyDsgLOADCurrent", kReal, "0", TEST_F(fBtyDsgLOADCurrent)},
    {"Set", "T1T2_DsgCurrentInDeepSeep_Test", kTrunc, "0", TEST_I(T1T2_DsgCurrentInDeepSeep_Test)},
    {"Set", "fBtyOverDsgLOADCurrent", kIntReal, "0", TEST_F(fBtyOverDsgLOADCurrent)},
    {"Set", "GPIB_LOADER_Enabled", kInt, "0", TEST_I(GPIB_LOADER_Enabled)},
    {"Set", "Balance_Test", kSwitch, "0", TEST_B(Balance_Test)},
    {"Set", "RTC_Test", kSwitch, "0", TEST_B(RTC_Test)},
    {"Set", "ShippingMode_Test", kSwitch, "0", TEST_B(ShippingMode_Test)},
    {"Set", "EEPEarse_Test", kSwitch, "0", TEST_B(EEPEarse_Test)},
    {"Set", "BarcodeRead_Test", kSwitch, "0", TEST_B(BarcodeRead_Test)},
    {"Set", "BalanceCount", kInt, "-1", SET_I(BalanceCount)},
    {"Set", "BalanceDelayms", kInt, "-1", SET_I(BalanceDelayms)},
    {"Set", "DelaymsAfterDsgCurrent", kInt, "-1", SET_I(DelaymsAfterDsgCurrent)},

    {"Check", "T1Max_Dsg", kInt, "0", TEST_I(T1Max_Dsg)},
    {"Check", "T1Min_Dsg", kInt, "0", TEST_I(T1Min_Dsg)},
    {"Check", "T2Max_Dsg", kInt, "0", TEST_I(T2Max_Dsg)},
    {"Check", "T2Min_Dsg", kInt, "0", TEST_I(T2Min_Dsg)},
    {"Check", "T1T2TestDelay ", kInt, "0", TEST_I(T1T2TestDelay)},
    {"Check", "T1Range_Dsg ", kInt, "0", TEST_I(T1Range_Dsg)},
    {"Check", "T2Range_Dsg ", kInt, "0", TEST_I(T2Range_Dsg)},
    {"Check", "T1_Rang_After_Dsg ", kInt, "0", TEST_I(T1_Rang_After_Dsg)},
    {"Check", "T2_Rang_After_Dsg ", kInt, "0", TEST_I(T2_Rang_After_Dsg)},
    {"Check", "RTCTest", kSwitch, "0", TEST_B(RTCTest)},
    {"Check", "BarcodeName", kText, "0", TEST_S(BarcodeName), 64},
    {"Check", "ProjectName", kText, "0", TEST_S(ProjectName), 64},
    {"Check", "FWVer", kText, "0", TEST_S(FWVer), 32},
    {"Check", "RTCAccuracyRange", kInt, "0", TEST_I(RTCAccuracyRange)},
    {"Check", "DateTimeAccuracyRange", kInt, "0", TEST_I(DateTimeAccuracyRange)},
    {"Check", "DateTimeFirstToCheckRange", kInt, "65535", TEST_I(DateTimeFirstToCheckRange)},
    {"Check", "SOCMax", kInt, "0", TEST_I(SOCMax)},
    {"Check", "SOCMin", kInt, "0", TEST_I(SOCMin)},
    {"Check", "SOHMax", kInt, "0", TEST_I(SOHMax)},
    {"Check", "SOHMin", kInt, "0", TEST_I(SOHMin)},
    {"Check", "T1", kInt, "0", StoreT1},
    {"Check", "T2", kInt, "0", TEST_I(T2)},
    {"Check", "T1Range", kInt, "0", TEST_I(T1Range)},
    {"Check", "T2Range", kInt, "0", TEST_I(T2Range)},
    {"Check", "CellVoltMax", kInt, "0", TEST_I(CellVoltMax)},
    {"Check", "CellVoltMin", kInt, "0", TEST_I(CellVoltMin)},
    {"Check", "CellBalance", kInt, "-1", TEST_I(CellBalance)},
    {"Check", "DynamicBalance", kInt, "-1", TEST_I(DynamicBalance)},
    {"Check", "PackVoltMax", kInt, "0", TEST_I(PackVoltMax)},
    {"Check", "PackVoltMin", kInt, "0", TEST_I(PackVoltMin)},
    {"Check", "PackCurrentMax", kInt, "0", TEST_I(PackCurrentMax)},
    {"Check", "PackCurrentMin", kInt, "0", TEST_I(PackCurrentMin)},
    {"Check", "OVFlag", kSwitch, "0", TEST_B(OVFlag)},
    {"Check", "UVFlag", kSwitch, "0", TEST_B(UVFlag)},
    {"Check", "OCFlag", kSwitch, "0", TEST_B(OCFlag)},
    {"Check", "SCFlag", kSwitch, "0", TEST_B(SCFlag)},
    {"Check", "OTFlag", kSwitch, "0", TEST_B(OTFlag)},
    {"Check", "UTFlag", kSwitch, "0", TEST_B(UTFlag)},
    {"Check", "CycleCnt", kInt, "0", TEST_I(CycleCnt)},
    {"Check", "ShippingMode", kSwitch, "0", TEST_B(ShippingMode)},
    {"Check", "LogRecordCnt", kInt, "0", SET_I(LogRecordCnt)},
    {"Check", "BMSChgDsgCurrentMax", kTrunc, "0", TEST_I(BMSChgDsgCurrentMax)},
    {"Check", "BMSChgDsgCurrentMin", kTrunc, "0", TEST_I(BMSChgDsgCurrentMin)},

    {"PRODIGIT_Instrument", "LOAD_3311D_Address", kInt, "0", SET_I(LOAD_3311D_Address)},
    {"PRODIGIT_Instrument", "LOAD_Product_Name", kText, "0", [](Records& r, const Converted& v) { r.set.LOAD_Product_Name = v.s; }, 65},
};

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Decimal text to a signed 32-bit integer; the whole text must be the number.
bool ParseInteger(std::string_view text, long long* out) {
  std::string t(TrimBlanks(text));
  if (t.empty()) return false;
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i >= t.size()) return false;
  for (size_t k = i; k < t.size(); ++k)
    if (t[k] < '0' || t[k] > '9') return false;
  errno = 0;
  const long long v = std::strtoll(t.c_str(), nullptr, 10);
  if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN) return false;
  *out = v;
  return true;
}

// A real number written in decimal (optionally with an exponent).
bool ParseReal(std::string_view text, double* out) {
  std::string t(TrimBlanks(text));
  if (t.empty()) return false;
  for (char c : t)
    if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) return false;
  // from_chars reads the decimal point whatever the process locale says
  // (the GUI takes the locale of the environment, where it may be a comma);
  // it takes no plus sign, which the plan files may carry.
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') {
    ++first;
    if (first == last || *first == '-' || *first == '+') return false;  // one sign at most
  }
  double v = 0;
  const std::from_chars_result r = std::from_chars(first, last, v);
  if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool Convert(const PlanKey& k, const std::string& text, Converted* v, std::variant<long long, double, std::string>* shown) {
  switch (k.conversion) {
    case PlanConversion::Integer:
    case PlanConversion::Switch:
      if (!ParseInteger(text, &v->i)) return false;
      if (k.conversion == PlanConversion::Switch) v->i = v->i != 0 ? 1 : 0;
      *shown = v->i;
      return true;
    case PlanConversion::IntegerAsReal:
      if (!ParseInteger(text, &v->i)) return false;
      v->r = static_cast<double>(static_cast<float>(v->i));
      *shown = v->r;
      return true;
    case PlanConversion::FloatTruncated: {
      double r = 0;
      if (!ParseReal(text, &r)) return false;
      const double t = std::trunc(r);
      if (t > INT32_MAX || t < INT32_MIN) return false;
      v->i = static_cast<long long>(t);
      *shown = v->i;
      return true;
    }
    case PlanConversion::Real:
      if (!ParseReal(text, &v->r)) return false;
      // Stored as a 32-bit float: a value beyond its range is no number it can hold.
      if (std::fabs(v->r) > std::numeric_limits<float>::max()) return false;
      v->r = static_cast<double>(static_cast<float>(v->r));
      *shown = v->r;
      return true;
    case PlanConversion::Text:
      // LOAD_Product_Name: at most 64 characters into its 128-byte field.
      v->s = text.substr(0, k.text_field - 1);
      *shown = v->s;
      return true;
  }
  return false;
}

}  // namespace

const char* PlanConversionName(PlanConversion c) {
  switch (c) {
    case PlanConversion::Integer:
      return "integer";
    case PlanConversion::Switch:
      return "switch";
    case PlanConversion::FloatTruncated:
      return "float-truncated";
    case PlanConversion::Real:
      return "real";
    case PlanConversion::IntegerAsReal:
      return "integer-as-real";
    case PlanConversion::Text:
      return "text";
  }
  return "";
}

bool PlanFileExists(const std::string& path) { return !path.empty() && FileExists(path) && !FolderExists(path); }

PlanLoadResult LoadTestPlan(Context& ctx, const std::string& path) {
  PlanLoadResult result;
  ctx.TestPlanFile.set(path);
  // The plan is read through the bounded reader first: a FIFO, a device or
  // a huge file is refused before any key is looked up.
  std::string content, why;
  if (!ReadInputFile(path, &content, &why)) {
    result.error = "Test plan not loaded: " + why;
    return result;
  }
  static const std::string kMissing("\x01\x02missing");
  EvtTestSet set = ctx.EVT_TEST_SET.get();
  EvtTest test = ctx.EVT_TEST.get();
  Records r{set, test, ctx};
  bool ok = true;
  for (const PlanKey& k : kPlanKeys) {
    std::string text = GetPrivateProfileString(k.section, k.key, kMissing, path);
    PlanEntry e;
    e.section = k.section;
    e.key = k.key;
    e.conversion = k.conversion;
    e.from_file = text != kMissing;
    if (!e.from_file) text = k.default_value;
    e.text = text;
    Converted v;
    if (!Convert(k, text, &v, &e.value)) {
      result.error = "Test plan " + path + ": section \"" + k.section + "\", key \"" + std::string(TrimBlanks(k.key)) + "\": \"" + text + "\" is not a number";
      ok = false;
      break;
    }
    k.store(r, v);
    result.entries.push_back(std::move(e));
  }
  // The failure list and the counters belong to the run, not to the plan.
  ctx.EVT_TEST_SET.with([&](EvtTestSet& s) {
    const EvtTestSet counters = s;
    s = set;
    s.DevTestRemaining = counters.DevTestRemaining;
    s.PassCount = counters.PassCount;
    s.FailCount = counters.FailCount;
    s.TotalCount = counters.TotalCount;
    s.DevTestInput = counters.DevTestInput;
  });
  ctx.EVT_TEST.with([&](EvtTest& t) {
    test.FailCount = t.FailCount;
    test.FailList.swap(t.FailList);
    t = std::move(test);
  });
  result.ok = ok;
  return result;
}

}  // namespace bms
