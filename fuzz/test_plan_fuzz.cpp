// The production-test plan loader on a fuzzed plan file. A load reads every
// key in table order or stops at the first value that is no number, naming
// it; each value taken has the type and range of its conversion and is the
// file's text (or the key's default).
#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

#include "core/platform/ini.h"
#include "core/production_test/test_plan.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

BMS_FUZZ_TARGET(test_plan) {
  Input in(data, size);
  in.u8();  // mode byte: the plan has no checksum
  Bench b;
  Context& ctx = b.ctx;
  const std::string path = WriteScratch("plan.ini", in.text_rest());
  const PlanLoadResult r = LoadTestPlan(ctx, path);
  BMS_FUZZ_CHECK(ctx.TestPlanFile.get() == path, "the plan's path is kept");
  BMS_FUZZ_CHECK(r.ok == r.error.empty(), "ok and error disagree: " + r.error);
  if (!r.ok) BMS_FUZZ_CHECK(r.error.find(path) != std::string::npos || r.error.rfind("Test plan not loaded", 0) == 0, "the error does not name the plan: " + r.error);

  // The whole table, once: an empty plan takes every default.
  static const size_t table_size = [] {
    Bench empty;
    return LoadTestPlan(empty.ctx, WriteScratch("empty_plan.ini", "")).entries.size();
  }();
  if (r.ok) BMS_FUZZ_CHECK(r.entries.size() == table_size, "an accepted plan skipped keys");
  BMS_FUZZ_CHECK(r.entries.size() <= table_size, "more entries than keys");

  for (const PlanEntry& e : r.entries) {
    const std::string where = "[" + e.section + "] " + e.key + "=\"" + e.text + "\"";
    if (e.from_file) BMS_FUZZ_CHECK(GetPrivateProfileString(e.section, e.key, "\x01", path) == e.text, where + " is not the file's text");
    switch (e.conversion) {
      case PlanConversion::Integer:
        BMS_FUZZ_CHECK(std::holds_alternative<long long>(e.value), where);
        break;
      case PlanConversion::Switch:
        BMS_FUZZ_CHECK(std::holds_alternative<long long>(e.value) && (std::get<long long>(e.value) == 0 || std::get<long long>(e.value) == 1), where);
        break;
      case PlanConversion::FloatTruncated:
        BMS_FUZZ_CHECK(std::holds_alternative<long long>(e.value), where);
        BMS_FUZZ_CHECK(std::get<long long>(e.value) >= INT32_MIN && std::get<long long>(e.value) <= INT32_MAX, where + " outside 32 bits");
        break;
      case PlanConversion::Real:
      case PlanConversion::IntegerAsReal:
        BMS_FUZZ_CHECK(std::holds_alternative<double>(e.value) && std::isfinite(std::get<double>(e.value)), where + " is no finite number");
        break;
      case PlanConversion::Text:
        BMS_FUZZ_CHECK(std::holds_alternative<std::string>(e.value), where);
        BMS_FUZZ_CHECK(e.text.rfind(std::get<std::string>(e.value), 0) == 0 && std::get<std::string>(e.value).size() <= 127, where + " text field");
        break;
    }
  }
  return 0;
}
