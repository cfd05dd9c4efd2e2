#include "core/shell/connection_dialog.h"

#include "core/link/link_port.h"
#include "core/platform/port_scan.h"
#include "core/shell/editions.h"
#include "core/shell/port_details_view.h"

namespace bms {

namespace {

constexpr const char* kVirtualPackName = "VirtualPack";

std::vector<SerialDeviceEntry> DeviceList(Context& ctx) {
  std::vector<SerialDeviceEntry> list = ctx.SerialDeviceList ? ctx.SerialDeviceList() : std::vector<SerialDeviceEntry>{};
  if (ctx.app.simulate) {
    SerialDeviceEntry sim;
    sim.path = kVirtualPackName;
    sim.kernel_name = kVirtualPackName;
    sim.driver = "virtual pack";
    sim.usb = true;
    list.insert(list.begin(), sim);
  }
  return list;
}

}  // namespace

std::vector<std::string> ScanPortNames(Context& ctx) {
  std::vector<std::string> names;
  for (const SerialDeviceEntry& e : SelectScanPorts(DeviceList(ctx))) names.push_back(e.path);
  return names;
}

int ScanSerialPorts(Context& ctx) {
  TFormConfig& f = ctx.FormConfig;
  const std::vector<SerialDeviceEntry> list = DeviceList(ctx);
  f.CGaugeProgress.set_progress(0);
  f.CobBoxInterfaceName.set_items({});
  f.CGaugeProgress.set_color(kColorHighlight);
  int found = 0;
  std::string last_path;
  auto pass = [&](bool usb) {
    for (const SerialDeviceEntry& e : list) {
      if (e.usb != usb || !PortNumberInRange(e)) continue;
      f.CobBoxInterfaceName.add_item(e.path);
      f.CobBoxInterfaceName.set_text(e.path);
      last_path = e.path;
      f.CGaugeProgress.step_progress(1);
      f.CGaugeProgress.set_color(kBlue);
      ++found;
      f.LbInterfaceName.set_text(std::to_string(found) + " Found.");
      if (usb) f.CobBoxInterfaceName.set_item_index(0);
    }
  };
  pass(true);
  if (found == 0) pass(false);
  if (found > 0)
    ctx.PortName.set(last_path);
  else
    f.LbInterfaceName.set_text("Not Found.");
  f.CGaugeProgress.set_color(kBlue);
  f.CGaugeProgress.set_progress(255);
  return static_cast<int>(list.size());
}

void ConfigFormCreate(Context& ctx) {
  TFormConfig& f = ctx.FormConfig;
  TFormMain& m = ctx.FormMain;
  f.self.set_color(kLightGreen);
  f.CGaugeProgress.set_progress(0);
  for (Control* c : {&m.SpdBtnRUN, &m.SpdBtnBusHunt, &m.SpdBtnUpgrade, &m.BitBtnPrintReportRead, &m.SpdBtnEVTTest, &m.BitBtnEVTEEPRead, &m.BitBtnEVTDIARead}) c->set_enabled(false);
  f.ComboBoxBaudRate.set_item_index(1);
  for (const char* p : {"TQ58_CPL", "TQ58_FPL", "PQTQ58_CPL", "PQTQ58_FPL", "TQ58_EVT"})
    if (ExeNameStartsWith(ctx, p)) f.CheckBoxLogFileSave.set_checked(true);
  if (ctx.app.simulate) {
    // The built-in pack is ready to be confirmed.
    f.CobBoxInterfaceName.set_items({kVirtualPackName});
    f.CobBoxInterfaceName.set_item_index(0);
    f.LbInterfaceName.set_text("1 Found.");
    f.SpdBtnYES.set_enabled(true);
    ctx.PortName.set(kVirtualPackName);
  }
}

void SpdBtnSCANClick(Context& ctx) {
  TFormConfig& f = ctx.FormConfig;
  if (f.SpdBtnSCAN.text() == "Stop") {
    f.SpdBtnSCAN.set_text("Scan");
    return;
  }
  f.SpdBtnSCAN.set_text("Stop");
  f.SpdBtnYES.set_enabled(false);
  f.CobBoxInterfaceName.set_text("");
  f.CobBoxInterfaceName.set_items({});
  const bool started = ctx.workers.start([&ctx] {
    TFormConfig& d = ctx.FormConfig;
    ctx.FormMain.SpdBtnRUN.set_enabled(false);
    d.SpdBtnYES.set_enabled(false);
    d.CGaugeProgress.set_progress(0);
    ctx.clock.sleep_ms(100);
    if (ScanSerialPorts(ctx) > 0) {
      d.SpdBtnYES.set_enabled(true);
    } else {
      d.SpdBtnYES.set_enabled(false);
      ctx.FormMain.SpdBtnRUN.set_enabled(false);
    }
    d.SpdBtnSCAN.set_enabled(true);
    d.SpdBtnSCAN.set_text("Scan");
  });
  if (!started) {
    f.SpdBtnSCAN.set_enabled(true);
    f.SpdBtnSCAN.set_text("Scan");
  }
}

void SpdBtnYESClick(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  ctx.PortName.set(ctx.FormConfig.CobBoxInterfaceName.text());
  for (Control* c : {&m.SpdBtnRUN,
                     &m.SpdBtnBusHunt,
                     &m.SpdBtnUpgrade,
                     &m.SpdBtnSNGet,
                     &m.SpdBtnSNSet,
                     &m.SpdBtnSleep,
                     &m.SpdBtnDeepSleep,
                     &m.BitBtnBarCodeRead,
                     &m.BitBtnBarCodeWrite,
                     &m.BitBtnSafeInfoRead,
                     &m.SpdBtnRTCSet,
                     &m.SpdBtnRTCGet,
                     &m.SpdBtnShippingModeSet,
                     &m.SpdBtnShippingModeGet,
                     &m.SpdBtnEEPROMEraseSet,
                     &m.BitBtnPrintReportRead,
                     &m.SpdBtnLastChgDateGet,
                     &m.SpdBtnEVTTest,
                     &m.BitBtnEVTEEPRead,
                     &m.BitBtnEVTDIARead,
                     &m.SpdBtnOZEEPRead,
                     &m.SpdBtnEraseMCUIntTCC,
                     &m.SpdBtnEraseMCUIntEEP,
                     &m.SpeedButton_GatewayMode,
                     &m.SpeedButton_MOSFETSW,
                     &m.Button_EEP_Parameter})
    c->set_enabled(true);
  ctx.FormConfig.close();
}

void CheckBoxLogFileSaveClick(Context& ctx) { ctx.LogEnabled = ctx.FormConfig.CheckBoxLogFileSave.checked() ? 1 : 0; }

void FormConfigClose(Context& ctx) { ctx.FormMain.self.set_visible(true); }

void WireConnectionDialog(Context& ctx) {
  TFormConfig& f = ctx.FormConfig;
  f.SpdBtnSCAN.on_click = [&ctx] { SpdBtnSCANClick(ctx); };
  f.SpdBtnYES.on_click = [&ctx] { SpdBtnYESClick(ctx); };
  f.CheckBoxLogFileSave.on_click = [&ctx] { CheckBoxLogFileSaveClick(ctx); };
  f.on_close = [&ctx] { FormConfigClose(ctx); };
  WirePortDetails(ctx);
}

}  // namespace bms
