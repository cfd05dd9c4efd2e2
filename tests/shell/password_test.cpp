#include <gtest/gtest.h>

#include "core/shell/editions.h"
#include "core/shell/main_window.h"
#include "core/shell/password_dialog.h"

namespace bms {
namespace {

TEST(ExpectedPassword, DigitsOfYearAndMonthSorted) {
  struct Case {
    LocalTime date;
    const char* engineering;
    const char* production;
  } cases[] = {
      {{2026, 12, 9}, "012226", "622210"},
      {{2026, 1, 31}, "001226", "622100"},
      {{2011, 10, 1}, "001112", "211100"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpectedPassword(c.date, false), c.engineering) << c.date.year << "-" << c.date.month;
    EXPECT_EQ(ExpectedPassword(c.date, true), c.production) << c.date.year << "-" << c.date.month;
  }
}

class PasswordDialog : public ::testing::Test {
 protected:
  void Start(const std::string& exe) {
    ctx.app.exe_name = exe;
    FormCreate(ctx);
    WirePasswordDialog(ctx);
    ctx.FormMain.self.set_enabled(false);
    ctx.Form_ENG_Password.self.set_visible(true);
  }
  void Type(const std::string& text) { ctx.Form_ENG_Password.Edit_ENG_Password.type(text); }
  VirtualClock clock{LocalTime{2026, 12, 9, 10, 0, 0, 0}};
  Context ctx{clock, {}, true};
};

TEST_F(PasswordDialog, EngineeringPasswordUnlocksTheEngineeringTabs) {
  Start("TQ58_ENG_tool");
  Type("012226");
  ctx.Form_ENG_Password.BitBtn_Yes.click();
  EXPECT_TRUE(ctx.FormMain.TabSheetENG.visible());
  EXPECT_EQ(ctx.FormMain.TabSheetXPL.text(), "CPL");
  EXPECT_EQ(ctx.FormMain.PageControl2.item_index(), 1);
  EXPECT_EQ(ctx.FormMain.self.text(), "TQ58_ENG_V1.0.7");
  EXPECT_TRUE(ctx.FormMain.self.enabled());
  EXPECT_FALSE(ctx.Form_ENG_Password.self.visible());
}

TEST_F(PasswordDialog, ProductionPasswordUnlocksTheTestTabs) {
  Start("TQ58_EVT_tool");
  Type("622210");
  ctx.Form_ENG_Password.BitBtn_Yes.click();
  EXPECT_TRUE(ctx.FormMain.TabSheetEVT.visible());
  EXPECT_EQ(ctx.FormMain.TabSheetXPL.text(), "FPL");
  EXPECT_EQ(ctx.FormMain.PageControl2.item_index(), 7);
  EXPECT_TRUE(ctx.FormMain.CheckBoxVCellNoAdjust.checked());
  EXPECT_TRUE(ctx.FormMain.SpdBtnSNSet.visible());
}

TEST_F(PasswordDialog, WrongPasswordsUnlockNothingButReenableTheWindow) {
  struct Case {
    const char* exe;
    const char* typed;
  } cases[] = {
      {"TQ58_ENG_tool", "012226 "},  // trailing space
      {"TQ58_ENG_tool", "622210"},   // the other edition's password
      {"TQ58_EVT_tool", "012226"},
      {"TQ58_ENG_tool", ""},
  };
  for (const Case& c : cases) {
    VirtualClock clk{LocalTime{2026, 12, 9, 10, 0, 0, 0}};
    Context local(clk, {}, true);
    local.app.exe_name = c.exe;
    FormCreate(local);
    WirePasswordDialog(local);
    local.FormMain.self.set_enabled(false);
    local.Form_ENG_Password.Edit_ENG_Password.type(c.typed);
    local.Form_ENG_Password.BitBtn_Yes.click();
    EXPECT_FALSE(local.FormMain.TabSheetENG.visible()) << c.exe << " '" << c.typed << "'";
    EXPECT_FALSE(local.FormMain.TabSheetEVT.visible()) << c.exe << " '" << c.typed << "'";
    EXPECT_TRUE(local.FormMain.self.enabled());
  }
}

TEST_F(PasswordDialog, CloseBoxReenablesWithoutUnlocking) {
  Start("TQ58_ENG_tool");
  Type("012226");
  ctx.Form_ENG_Password.close();
  EXPECT_TRUE(ctx.FormMain.self.enabled());
  EXPECT_FALSE(ctx.FormMain.TabSheetENG.visible());
}

TEST_F(PasswordDialog, TheCheckUsesTheDateOfTheClick) {
  Start("TQ58_ENG_tool");
  clock.set_local_start(LocalTime{2027, 1, 1, 0, 0, 0, 0});
  Type("001227");  // digits of 2027-01, sorted
  ctx.Form_ENG_Password.BitBtn_Yes.click();
  EXPECT_TRUE(ctx.FormMain.TabSheetENG.visible());
}

TEST(Editions, PrefixTestIsByteForByteAndCaseSensitive) {
  VirtualClock clock;
  Context ctx(clock, {}, true);
  struct Case {
    const char* exe;
    const char* prefix;
    bool expected;
  } cases[] = {
      {"TQ58_ENG_tool.exe", "TQ58_ENG_", true},
      {"PQTQ58_ENG_tool.exe", "TQ58_ENG_", false},
      {"TQ58_EV.exe", "TQ58_EVT", false},
      {"tq58_eng_tool", "TQ58_ENG_", false},
      {"TQ58", "TQ58_ENG_", false},
      {"TQ58_EVT", "TQ58_EVT", true},
  };
  for (const Case& c : cases) {
    ctx.app.exe_name = c.exe;
    EXPECT_EQ(ExeNameStartsWith(ctx, c.prefix), c.expected) << c.exe << " / " << c.prefix;
  }
  ctx.app.exe_name = "PQTQ58_ENG_tool";
  EXPECT_TRUE(IsPqEdition(ctx));
  ctx.app.exe_name = "TQ58_ENG_tool";
  EXPECT_FALSE(IsPqEdition(ctx));
}

}  // namespace
}  // namespace bms
