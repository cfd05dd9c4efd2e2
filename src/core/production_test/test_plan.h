#pragma once
// The test plan: an INI file with the sections "Set", "Check" and
// "PRODIGIT_Instrument", read again at every TEST press into EVT_TEST_SET and
// EVT_TEST. See docs/production-test.md.
#include <string>
#include <variant>
#include <vector>

#include "core/context.h"

namespace bms {

enum class PlanConversion { Integer, Switch, FloatTruncated, Real, IntegerAsReal, Text };

// One key of the plan as it was loaded.
struct PlanEntry {
  std::string section;
  std::string key;  // as the table spells it (some names end in a blank)
  PlanConversion conversion = PlanConversion::Integer;
  std::string text;  // the value read (the default when the key is missing)
  bool from_file = false;
  std::variant<long long, double, std::string> value;  // converted
};

struct PlanLoadResult {
  bool ok = false;
  std::string error;  // names the file, the section, the key and the text
  std::vector<PlanEntry> entries;
};

// True when path names an existing file.
bool PlanFileExists(const std::string& path);

// Reads every key of the plan in table order and stores the converted values
// in ctx.EVT_TEST_SET / ctx.EVT_TEST (and CurrentBarcodeMode); keeps the path
// in ctx.TestPlanFile; fills EditEVTT1 with "T1" when it is empty. A value
// that is not a number where a number is expected stops the load (the keys
// before it stay stored) and the result names it.
PlanLoadResult LoadTestPlan(Context& ctx, const std::string& path);

// The name of a conversion as the plan check prints it.
const char* PlanConversionName(PlanConversion c);

}  // namespace bms
