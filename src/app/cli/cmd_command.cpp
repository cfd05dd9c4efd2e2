#include "app/cli/cmd_command.h"

#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

#include "app/cli/cli_common.h"
#include "core/commands/clock_erase.h"
#include "core/commands/identity.h"
#include "core/commands/power_mode.h"
#include "core/link/link_port.h"
#include "core/platform/safe_text.h"

namespace {

using bms::Context;
using bms::Control;

using cli::kExitFailure;
using cli::kExitOk;
using cli::kExitUsage;

constexpr size_t kSerialNumberEditMax = 64;  // EditPDSN holds at most 64 characters

// What a command shows afterwards: a control's text, its tick, the selected
// item of a radio group, or status-bar panel 0.
enum class Shown { Text, Checked, Item, Panel0 };

struct Line {
  const Control* control;
  Shown what;
};

enum class ValueKind { None, OnOff, Mode, Text };

struct Command {
  const char* name;
  ValueKind value;
  // Puts the controls into the state the operator would set; false with a
  // message on a value the window would not take.
  std::function<bool(Context&, const std::string& value, std::string& why)> prepare;
  bool (*worker)(Context&);
  // The command's verdict from its worker result and the window afterwards.
  std::function<bool(Context&, bool worker_result)> success;
  std::function<std::vector<Line>(Context&)> lines;
};

std::string Quoted(std::string_view text) { return "\"" + bms::TerminalSafe(text, true) + "\""; }

// The name a line is printed under and the text it shows.
std::pair<std::string, std::string> Shows(const Line& l) {
  switch (l.what) {
    case Shown::Text:
      return {l.control->name(), l.control->text()};
    case Shown::Checked:
      return {l.control->name() + ".Checked", l.control->checked() ? "1" : "0"};
    case Shown::Item: {
      const int i = l.control->item_index();
      return {l.control->name(), i >= 0 ? l.control->item(static_cast<size_t>(i)) : std::string()};
    }
    case Shown::Panel0:
      return {l.control->name() + "[0]", l.control->item(0)};
  }
  return {};
}

void Print(std::ostream& out, const Line& l) {
  const auto [name, text] = Shows(l);
  out << name << ": " << Quoted(text) << "\n";
}

// on|off ticks (or unticks) a check box through its model, so its click
// handler runs as for the operator.
std::function<bool(Context&, const std::string&, std::string&)> Tick(Control bms::TFormMain::*box) {
  return [box](Context& ctx, const std::string& v, std::string&) {
    (ctx.FormMain.*box).set_checked(v == "on");
    return true;
  };
}

int BarcodeItem(const std::string& mode) {
  if (mode.empty() || mode == "auto") return bms::kBarcodeAuto;
  if (mode == "ext32") return bms::kBarcodeExt32;
  if (mode == "int32") return bms::kBarcodeInt32;
  if (mode == "int16") return bms::kBarcodeInt16;
  return -1;
}

bool NoPrepare(Context&, const std::string&, std::string&) { return true; }

std::vector<Command> Commands(const std::string& barcode_mode) {
  using bms::TFormMain;
  auto panel = [](Context& c) { return Line{&c.FormMain.StatusBarView, Shown::Panel0}; };
  auto worker_result = [](Context&, bool r) { return r; };
  std::vector<Command> list;
  list.push_back({"sleep", ValueKind::None, NoPrepare, bms::SleepWorker, worker_result, [panel](Context& c) { return std::vector<Line>{panel(c)}; }});
  list.push_back({"deep-sleep", ValueKind::None, NoPrepare, bms::DeepSleepWorker, worker_result, [panel](Context& c) { return std::vector<Line>{panel(c)}; }});
  list.push_back({"shipping-set", ValueKind::OnOff, Tick(&TFormMain::CheckBoxSippingMode), bms::ShippingModeSetWorker, worker_result, [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.CheckBoxSippingMode, Shown::Checked}, panel(c)};
                  }});
  list.push_back({"shipping-get", ValueKind::None, NoPrepare, bms::ShippingModeGetWorker, worker_result, [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.CheckBoxSippingMode, Shown::Checked}, {&c.FormMain.CheckBox_Shipping_Mode_Read_Only, Shown::Checked}, panel(c)};
                  }});
  auto ends_ok = [](Control TFormMain::*button) {
    return [button](Context& ctx, bool) {
      const std::string t = (ctx.FormMain.*button).text();
      return t.size() >= 5 && t.compare(t.size() - 5, 5, " : OK") == 0;
    };
  };
  list.push_back(
      {"gateway-set", ValueKind::OnOff, Tick(&TFormMain::CheckBox_GatewayMode), bms::GatewayModeWorker, ends_ok(&TFormMain::SpeedButton_GatewayMode), [panel](Context& c) {
         return std::vector<Line>{
             {&c.FormMain.CheckBox_GatewayMode, Shown::Checked}, {&c.FormMain.CheckBox_GatewayMode, Shown::Text}, {&c.FormMain.SpeedButton_GatewayMode, Shown::Text}, panel(c)};
       }});
  list.push_back({"mosfet-set", ValueKind::OnOff, Tick(&TFormMain::CheckBox_MOSFETSW), bms::MOSFETSWWorker, ends_ok(&TFormMain::SpeedButton_MOSFETSW), [panel](Context& c) {
                    return std::vector<Line>{
                        {&c.FormMain.CheckBox_MOSFETSW, Shown::Checked}, {&c.FormMain.CheckBox_MOSFETSW, Shown::Text}, {&c.FormMain.SpeedButton_MOSFETSW, Shown::Text}, panel(c)};
                  }});
  list.push_back({"rtc-set", ValueKind::None, NoPrepare, bms::RTCSetWorker, [](Context& c, bool r) { return r && !c.FormMain.EditRTC.empty(); },
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.EditRTC, Shown::Text}, panel(c)};
                  }});
  list.push_back({"rtc-get", ValueKind::None, NoPrepare, bms::RTCGetWorker, [](Context& c, bool) { return !c.FormMain.EditRTC.empty(); },
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.EditRTC, Shown::Text}, panel(c)};
                  }});
  list.push_back({"erase-ext", ValueKind::OnOff, Tick(&TFormMain::CheckBoxEEPROMErase), bms::EEPROMEraseWorker,
                  [](Context& c, bool) { return c.FormMain.LabelEPPEraseStatus.text() == bms::kEraseSucceeded; },
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.CheckBoxEEPROMErase, Shown::Checked}, {&c.FormMain.LabelEPPEraseStatus, Shown::Text}, panel(c)};
                  }});
  list.push_back({"erase-tcc", ValueKind::None, NoPrepare, bms::EraseMCUIntTCCWorker, [](Context& c, bool) { return c.FormMain.LabelEraseTCCStatus.text() == bms::kErasePassed; },
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.LabelEraseTCCStatus, Shown::Text}, panel(c)};
                  }});
  list.push_back({"erase-eep", ValueKind::None, NoPrepare, bms::EraseMCUIntEEPWorker, [](Context& c, bool) { return c.FormMain.LabelEraseEEPStatus.text() == bms::kErasePassed; },
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.LabelEraseEEPStatus, Shown::Text}, panel(c)};
                  }});
  list.push_back(
      {"last-charge-date", ValueKind::None,
       [](Context& c, const std::string&, std::string&) {
         // What the READ press does before its worker starts.
         c.FormMain.SpdBtnLastChgDateGet.set_text("STOP");
         c.FormMain.SpdBtnLastChgDateGet.set_font_color(bms::kRed);
         return true;
       },
       bms::LastChgDateWorker, [](Context& c, bool r) { return r && !c.FormMain.EditLastChgDate.empty(); },
       [panel](Context& c) {
         return std::vector<Line>{{&c.FormMain.EditLastChgDate, Shown::Text}, {&c.FormMain.EditLastChgSOC, Shown::Text}, {&c.FormMain.SpdBtnLastChgDateGet, Shown::Text}, panel(c)};
       }});
  auto barcode_lines = [panel](Context& c) { return std::vector<Line>{{&c.FormMain.RadioGroupBarcodeSelect, Shown::Item}, {&c.FormMain.EditBarCode32, Shown::Text}, panel(c)}; };
  list.push_back({"barcode-read", ValueKind::Mode,
                  [barcode_mode](Context& c, const std::string& v, std::string& why) {
                    const std::string mode = v.empty() ? barcode_mode : v;
                    const int item = BarcodeItem(mode);
                    if (item < 0) {
                      why = "barcode mode must be auto, ext32, int32 or int16, not \"" + mode + "\"";
                      return false;
                    }
                    c.FormMain.RadioGroupBarcodeSelect.select(item);
                    return true;
                  },
                  bms::BarCodeReadWorker, worker_result, barcode_lines});
  list.push_back({"barcode-write", ValueKind::Text,
                  [barcode_mode](Context& c, const std::string& v, std::string& why) {
                    const int item = BarcodeItem(barcode_mode);
                    if (item < 0) {
                      why = "--barcode-mode must be auto, ext32, int32 or int16, not \"" + barcode_mode + "\"";
                      return false;
                    }
                    if (v.size() > bms::kBarcodeMaxLength) {
                      why = "a barcode has at most 32 characters; this one has " + std::to_string(v.size());
                      return false;
                    }
                    c.FormMain.RadioGroupBarcodeSelect.select(item);
                    c.FormMain.EditBarCode32.type(v);
                    return true;
                  },
                  bms::BarCodeWriteWorker, worker_result, barcode_lines});
  list.push_back({"sn-get", ValueKind::None, NoPrepare, bms::SNGetWorker, [](Context& c, bool) { return !c.FormMain.EditPDSN.empty(); },
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.EditPDSN, Shown::Text}, panel(c)};
                  }});
  list.push_back({"sn-set", ValueKind::Text,
                  [](Context& c, const std::string& v, std::string& why) {
                    if (v.size() > kSerialNumberEditMax) {
                      why = "the serial-number edit takes at most 64 characters";
                      return false;
                    }
                    c.FormMain.EditPDSN.type(v);
                    return true;
                  },
                  bms::SNSetWorker, worker_result,
                  [panel](Context& c) {
                    return std::vector<Line>{{&c.FormMain.EditPDSN, Shown::Text}, panel(c)};
                  }});
  return list;
}

std::string Names(const std::vector<Command>& list) {
  std::string s;
  for (const Command& c : list) s += (s.empty() ? "" : ", ") + std::string(c.name);
  return s;
}

}  // namespace

int RunCommandCli(bms::Context& ctx, const std::string& name, const std::string& value, const std::string& barcode_mode, std::ostream& out, std::ostream& err, bool json) {
  const std::vector<Command> list = Commands(barcode_mode);
  const Command* cmd = nullptr;
  for (const Command& c : list)
    if (name == c.name) cmd = &c;
  if (!cmd) {
    err << "bmsmon-cli: unknown command \"" << name << "\"; one of: " << Names(list) << "\n";
    return kExitUsage;
  }
  switch (cmd->value) {
    case ValueKind::None:
      if (!value.empty()) {
        err << "bmsmon-cli: " << name << " takes no value (got \"" << value << "\")\n";
        return kExitUsage;
      }
      break;
    case ValueKind::OnOff:
      if (value != "on" && value != "off") {
        err << "bmsmon-cli: " << name << " needs on or off" << (value.empty() ? "" : " (got \"" + value + "\")") << "\n";
        return kExitUsage;
      }
      break;
    case ValueKind::Mode:
      break;
    case ValueKind::Text:
      if (value.empty()) {
        err << "bmsmon-cli: " << name << " needs the text to write\n";
        return kExitUsage;
      }
      break;
  }
  std::string why;
  if (!cmd->prepare(ctx, value, why)) {
    err << "bmsmon-cli: " << name << ": " << why << "\n";
    return kExitUsage;
  }

  ctx.LinkError.set("");
  bool result = false;
  bool (*worker)(Context&) = cmd->worker;
  if (!ctx.workers.start([&ctx, &result, worker] { result = worker(ctx); })) {
    err << "bmsmon-cli: " << name << ": the command could not be started\n";
    return kExitFailure;
  }
  // Workers end on their own: every exchange has a time-out.
  while (!ctx.workers.wait_idle(1000)) {
  }

  const std::string link_error = ctx.LinkError.get();
  int status = kExitOk;
  std::string error;
  if (!link_error.empty()) {
    status = kExitFailure;
    error = link_error;
    err << "bmsmon-cli: " << name << ": " << bms::TerminalSafe(link_error) << "\n";
  } else if (!cmd->success(ctx, result)) {
    status = kExitFailure;
    error = "the command failed";
    err << "bmsmon-cli: " << name << " failed (see the texts above)\n";
  }
  if (json) {
    nlohmann::json controls = nlohmann::json::object();
    for (const Line& l : cmd->lines(ctx)) {
      const auto [key, text] = Shows(l);
      controls[key] = cli::JsonText(text);
    }
    nlohmann::json j = {{"command", name}, {"ok", status == kExitOk}, {"exit_status", status}, {"controls", controls}};
    if (!error.empty()) j["error"] = cli::JsonText(error);
    cli::PrintJson(out, j);
  } else {
    for (const Line& l : cmd->lines(ctx)) Print(out, l);
    out.flush();
  }
  return status;
}
