// The plan loader reads numbers with a decimal point whatever locale the
// process runs in: the GUI takes the locale of the environment (Qt sets it
// at start-up), and in German or French the C library's decimal separator
// is a comma.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "production_test/evt_fixture.h"

namespace bms::testing {
namespace {

// Sets LC_ALL for the scope of a test and restores the C locale after it.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

class PlanLocaleTest : public EvtFixture {};

TEST_F(PlanLocaleTest, RealValuesReadTheSameUnderACommaLocale) {
  struct Case {
    const char* text;
    float current;  // fBtyDsgLOADCurrent (a real value)
    long long max;  // BMSChgDsgCurrentMax (a real value cut to an integer)
  };
  const Case cases[] = {
      {"2.5", 2.5f, 2}, {"+2.75", 2.75f, 2}, {"-0.5", -0.5f, 0}, {"1.5e1", 15.0f, 15}, {".25", 0.25f, 0}, {"1500.7", 1500.7f, 1500},
  };
  for (const char* locale : {"de_DE.UTF-8", "fr_FR.UTF-8"}) {
    ScopedLocale scoped(locale);
    if (!scoped.ok()) {
      ADD_FAILURE() << locale << " is not installed (tools/deps generates it)";
      continue;
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(locale) + " " + c.text);
      const PlanLoadResult r = LoadTestPlan(ctx, Plan(std::string("[Set]\nfBtyDsgLOADCurrent=") + c.text + "\n[Check]\nBMSChgDsgCurrentMax=" + c.text + "\n"));
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_FLOAT_EQ(ctx.EVT_TEST.get().fBtyDsgLOADCurrent, c.current);
      EXPECT_EQ(ctx.EVT_TEST.get().BMSChgDsgCurrentMax, c.max);
    }
    // A comma is no decimal point in a plan file, in any locale.
    for (const char* text : {"2,5", "+-1", "+"}) {
      SCOPED_TRACE(std::string(locale) + " " + text);
      EXPECT_FALSE(LoadTestPlan(ctx, Plan(std::string("[Set]\nfBtyDsgLOADCurrent=") + text + "\n")).ok);
    }
  }
}

}  // namespace
}  // namespace bms::testing
