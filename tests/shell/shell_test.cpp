// Start-up, editions, the main window's top bar and the connection dialog.
#include <gtest/gtest.h>

#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/platform/ini.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "core/shell/main_window.h"
#include "platform/temp_folder.h"

namespace bms {
namespace {

class Shell : public ::testing::Test {
 protected:
  void Create(const std::string& exe, bool simulate = false) {
    ctx.app.exe_name = exe;
    ctx.app.current_dir = tmp.path() + "/";
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.simulate = simulate;
    CreateApplication(ctx);
    ShowMainWindow(ctx);
  }
  std::vector<std::string> VisibleTabs() {
    std::vector<std::string> out;
    TFormMain& m = ctx.FormMain;
    for (Control* t : {&m.TabSheetTQ58, &m.TabSheetENG, &m.TabSheetPQ, &m.TabSheetXJ, &m.TabSheetWX, &m.TabSheetEEP, &m.TabSheetXPL, &m.TabSheetEVT})
      if (t->visible()) out.push_back(t->name());
    return out;
  }
  testing::TempFolder tmp;
  VirtualClock clock;
  Context ctx{clock, {}, true};
};

TEST_F(Shell, EditionsAtStart) {
  struct Case {
    const char* exe;
    bool password;
    const char* prompt;
    bool log_ticked;
  } cases[] = {
      {"TQ58_LIT_bmsmon", false, "", false},
      {"TQ58_ENG_tool", true, " Entry Password (. .. ...)", false},
      {"PQTQ58_ENG_tool", false, "", false},
      {"TQ58_EVT_tool", true, " Entry Password (*** ** *)", true},
      {"TQ58_EV.exe", false, "", false},
      {"tq58_eng_tool", false, "", false},
      {"TQ58_FPL_x", false, "", true},
      {"TQ58_CPL_x", false, "", true},
      {"PQTQ58_FPL_x", false, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe);
    VirtualClock clk;
    Context local(clk, {}, true);
    local.app.exe_name = c.exe;
    local.app.current_dir = tmp.path() + "/";
    CreateApplication(local);
    ShowMainWindow(local);
    EXPECT_EQ(local.Form_ENG_Password.self.visible(), c.password);
    EXPECT_EQ(local.FormMain.self.enabled(), !c.password);
    if (c.password) {
      EXPECT_EQ(local.Form_ENG_Password.Label_Password.text(), c.prompt);
    }
    EXPECT_EQ(local.FormConfig.CheckBoxLogFileSave.checked(), c.log_ticked);
    EXPECT_EQ(local.FormMain.self.text(), "TQ58_LIT_V1.0.7");
    EXPECT_EQ(local.FormMain.StatusBarView.item(3), std::string("   ") + c.exe);
    EXPECT_FALSE(local.FormMain.SpdBtnRUN.enabled());
  }
}

TEST_F(Shell, PlainEditionShowsOnlyBatteryAndEepromTabs) {
  Create("TQ58_LIT_bmsmon");
  EXPECT_EQ(VisibleTabs(), (std::vector<std::string>{"TabSheetTQ58", "TabSheetEEP"}));
  EXPECT_EQ(ctx.FormMain.CSpinEditRecordDelay.text(), "3");
  EXPECT_EQ(ctx.TimerRecordDelay->interval_ms(), 3000);
  EXPECT_EQ(ctx.FormMain.EditVCell1.text(), "0");
  EXPECT_EQ(ctx.FormMain.Shape_TX.color(), kWhite);
  EXPECT_FALSE(ctx.FormMain.GroupBoxLastChgDate.visible());
  EXPECT_EQ(ctx.FormConfig.ComboBoxBaudRate.item_index(), 1);
}

TEST_F(Shell, EngIniSelectsTheBarcodeMode) {
  struct Case {
    const char* value;
    int stored;
    int selected;
  } cases[] = {{"2", 2, 2}, {" 3 ", 3, 3}, {"7", 7, 0}, {"x", -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    testing::TempFolder dir;
    ASSERT_TRUE(WritePrivateProfileString("Set", "BarcodeMode", c.value, dir / "ENG.ini"));
    VirtualClock clk;
    Context local(clk, {}, true);
    local.app.current_dir = dir.path() + "/";
    CreateApplication(local);
    EXPECT_EQ(local.CurrentBarcodeMode.load(), c.stored);
    EXPECT_EQ(local.FormMain.RadioGroupBarcodeSelect.item_index(), c.selected);
  }
}

TEST_F(Shell, RecordDelaySpinSetsTheTimer) {
  Create("TQ58_LIT_bmsmon");
  ctx.FormMain.CSpinEditRecordDelay.type("10");
  EXPECT_EQ(ctx.TimerRecordDelay->interval_ms(), 10000);
}

TEST_F(Shell, HoverColoursAndExit) {
  Create("TQ58_LIT_bmsmon");
  ctx.FormMain.SpdBtnConfigure.hover(true);
  EXPECT_EQ(ctx.FormMain.SpdBtnConfigure.font_color(), kBlue);
  ctx.FormMain.SpdBtnConfigure.hover(false);
  EXPECT_EQ(ctx.FormMain.SpdBtnConfigure.font_color(), kGrey);
  bool quit = false;
  ctx.QuitApplication = [&quit] { quit = true; };
  ctx.FormMain.SpdBtnExit.click();
  EXPECT_TRUE(quit);
  EXPECT_FALSE(ctx.FormMain.self.visible());
}

SerialDeviceEntry Dev(const std::string& name, bool usb) {
  SerialDeviceEntry e;
  e.kernel_name = name;
  e.path = "/dev/" + name;
  e.usb = usb;
  return e;
}

TEST_F(Shell, ScanPrefersUsbAdaptersAndStoresTheLastPort) {
  struct Case {
    const char* name;
    std::vector<SerialDeviceEntry> list;
    std::vector<std::string> listed;
    std::string label;
    std::string port;
    std::string box_text;
  } cases[] = {
      {"USB beside a plain port", {Dev("ttyS0", false), Dev("ttyUSB7", true)}, {"/dev/ttyUSB7"}, "1 Found.", "/dev/ttyUSB7", "/dev/ttyUSB7"},
      {"only plain ports", {Dev("ttyS1", false), Dev("ttyS2", false)}, {"/dev/ttyS1", "/dev/ttyS2"}, "2 Found.", "/dev/ttyS2", "/dev/ttyS2"},
      {"two adapters: the first is selected", {Dev("ttyUSB0", true), Dev("ttyACM1", true)}, {"/dev/ttyUSB0", "/dev/ttyACM1"}, "2 Found.", "/dev/ttyACM1", "/dev/ttyUSB0"},
      {"number out of range", {Dev("ttyS300", false)}, {}, "Not Found.", "", ""},
      {"nothing", {}, {}, "Not Found.", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualClock clk;
    Context local(clk, {}, true);
    local.SerialDeviceList = [&c] { return c.list; };
    CreateApplication(local);
    local.FormConfig.SpdBtnSCAN.click();
    EXPECT_EQ(local.FormConfig.CobBoxInterfaceName.items(), c.listed);
    EXPECT_EQ(local.FormConfig.LbInterfaceName.text(), c.label);
    EXPECT_EQ(local.PortName.get(), c.port);
    EXPECT_EQ(local.FormConfig.CobBoxInterfaceName.text(), c.box_text);
    EXPECT_EQ(local.FormConfig.SpdBtnYES.enabled(), !c.list.empty());
    EXPECT_EQ(local.FormConfig.SpdBtnSCAN.text(), "Scan");
    EXPECT_EQ(local.FormConfig.CGaugeProgress.progress(), 255);
  }
}

TEST_F(Shell, ConfirmingAPortUnlocksRunAndTheCommands) {
  Create("TQ58_LIT_bmsmon", /*simulate=*/true);
  EXPECT_TRUE(ctx.FormConfig.self.visible());
  EXPECT_EQ(ctx.FormConfig.CobBoxInterfaceName.text(), "VirtualPack");
  ctx.FormConfig.SpdBtnYES.click();
  EXPECT_EQ(ctx.PortName.get(), "VirtualPack");
  EXPECT_FALSE(ctx.FormConfig.self.visible());
  for (Control* c : {&ctx.FormMain.SpdBtnRUN, &ctx.FormMain.SpdBtnSleep, &ctx.FormMain.SpdBtnRTCSet, &ctx.FormMain.Button_EEP_Parameter}) EXPECT_TRUE(c->enabled()) << c->name();
  ctx.FormConfig.CheckBoxLogFileSave.click();
  EXPECT_EQ(ctx.LogEnabled.load(), 1);
}

}  // namespace
}  // namespace bms
