#include "app/cli/cmd_fw.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/commands/cell_resistance.h"
#include "core/parameters/fw_data.h"

namespace {

using bms::Context;
using bms::TransferKind;
using bms::TransferOutcome;

enum class Table { Fw, Socv, CellR };

struct Options {
  cli::ConnectionOptions conn;
  std::string action;  // read, write, clear
  std::string from;    // write --from FILE
  std::string cells;   // cellr --cells 1,2,5
  bool json = false;
};

constexpr auto kFirstCycle = std::chrono::seconds(30);
constexpr auto kTransfer = std::chrono::seconds(90);

// Waits (real time, bounded) until `done` holds; false on time-out or Ctrl-C.
bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (cli::g_interrupted.load() || std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Runs a click that ends with an outcome of `kind`, and waits for it.
bool RunTransfer(Context& ctx, TransferKind kind, const std::function<void()>& click, TransferOutcome* out) {
  const int before = bms::LastOutcome(ctx, kind).finished;
  click();
  const bool done = WaitFor([&] { return bms::LastOutcome(ctx, kind).finished > before; }, kTransfer);
  *out = bms::LastOutcome(ctx, kind);
  if (!done && out->message.empty()) out->message = "the transfer did not finish";
  return done;
}

bool ParseCells(const std::string& text, std::vector<int>* cells, std::string* why) {
  cells->clear();
  if (text.empty()) {
    for (int k = 1; k <= bms::kResistanceCellCount; ++k) cells->push_back(k);
    return true;
  }
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    const auto v = bms::ParseEditNumber(item, 1, bms::kResistanceCellCount);
    if (!v) {
      *why = "--cells takes cell numbers 1 to 13 separated by commas, not '" + item + "'";
      return false;
    }
    cells->push_back(static_cast<int>(*v));
  }
  return !cells->empty();
}

// The values as MTD.ini lines (so a read can be fed back to write --from).
std::vector<std::pair<std::string, std::string>> Values(Context& ctx, Table t, const std::vector<int>& cells) {
  std::vector<std::pair<std::string, std::string>> v;
  if (t == Table::Fw) {
    for (const bms::ProtectionField& f : bms::kProtectionFields) v.emplace_back(f.key, bms::ProtectionEdit(ctx, f).text());
  } else if (t == Table::Socv) {
    for (int n = 1; n <= bms::kSocvPoints; ++n) v.emplace_back(bms::SocvKey(n), bms::SocvEdit(ctx, n).text());
  } else {
    for (int k : cells) v.emplace_back("CellR" + std::to_string(k), ctx.FormMain.EditCellRN[k]->text());
  }
  return v;
}

const char* Section(Table t) { return t == Table::Fw ? bms::kMtdProtectionSection : t == Table::Socv ? bms::kMtdSocvSection : bms::kMtdCellRSection; }

int Run(Table t, const Options& o) {
  std::vector<int> cells;
  std::string why;
  if (t == Table::CellR && !ParseCells(o.cells, &cells, &why)) {
    std::cerr << "bmsmon-cli: " << why << "\n";
    return cli::kExitUsage;
  }
  cli::Session s;
  if (!cli::MakeSession(o.conn, s, why)) {
    std::cerr << "bmsmon-cli: " << why << "\n";
    return cli::kExitUsage;
  }
  Context& ctx = *s.ctx;
  if (!o.from.empty()) ctx.Parameters.with([&](bms::ParameterState& p) { p.mtd_file = o.from; });
  ctx.PagesDlgFWData.PageControlFW.set_item_index(t == Table::Socv ? 1 : 0);
  if (t == Table::CellR) {
    bms::BitBtnRWCancelClick(ctx);
    for (int k : cells) ctx.FormMain.CheckBoxCellRRWN[k]->set_checked(true);
  }

  // Polling first: the transfer borrows its port.
  std::mutex mu;
  std::condition_variable cv;
  int completed = 0;
  ctx.MonitorCycleHook = [&](bool done) {
    if (!done) return;
    std::lock_guard<std::mutex> lock(mu);
    ++completed;
    cv.notify_all();
  };
  ctx.FormMain.SpdBtnRUN.click();
  bool polling = false;
  {
    std::unique_lock<std::mutex> lock(mu);
    polling = cv.wait_for(lock, kFirstCycle, [&] { return completed > 0 || !ctx.MonitorActive.load(); }) && completed > 0;
  }
  TransferOutcome result;
  int status = cli::kExitOk;
  std::string step;
  if (!polling) {
    result.message = "polling did not complete a cycle: " + ctx.FormMain.StatusBarView.item(2) + " " + ctx.LinkError.get();
    status = cli::kExitFailure;
  } else {
    cli::InterruptWatcher watcher(s);
    const bool reading = o.action == "read";
    // A write loads its values from the file first, as Load does, and is
    // refused as a whole when a value is missing or bad.
    if (o.action == "write") {
      TransferOutcome load;
      const TransferKind lk = t == Table::Fw ? TransferKind::FwLoad : t == Table::Socv ? TransferKind::SocvLoad : TransferKind::CellRLoad;
      RunTransfer(
          ctx, lk, [&] { t == Table::Fw || t == Table::Socv ? bms::BitBtnFWDataLoadClick(ctx) : bms::BitBtnCellRPrarmLoadClick(ctx); }, &load);
      if (!load.ok) {
        result = load;
        status = cli::kExitRefused;
      }
    } else if (o.action == "clear") {
      bms::SocvCleanWorker(ctx);
    }
    if (status == cli::kExitOk) {
      TransferKind k;
      std::function<void()> click;
      if (t == Table::CellR) {
        k = reading ? TransferKind::CellRRead : TransferKind::CellRWrite;
        click = [&] { reading ? bms::BitBtnRCellmOmhAdjustClick(ctx) : bms::BitBtnWCellmOmhAdjustClick(ctx); };
      } else {
        k = reading ? (t == Table::Fw ? TransferKind::FwRead : TransferKind::SocvRead) : (t == Table::Fw ? TransferKind::FwWrite : TransferKind::SocvWrite);
        click = [&] { reading ? bms::BitBtnFWDataReadClick(ctx) : bms::BitBtnFWDataWriteClick(ctx); };
      }
      const bool finished = RunTransfer(ctx, k, click, &result);
      if (result.refused)
        status = cli::kExitRefused;
      else if (!finished || !result.ok)
        status = cli::kExitFailure;
    }
  }
  // STOP, and wait for the loop's end.
  ctx.RunFlag = 0;
  WaitFor([&] { return !ctx.MonitorActive.load(); }, std::chrono::seconds(30));
  ctx.MonitorCycleHook = nullptr;

  const auto values = Values(ctx, t, cells);
  if (o.json) {
    nlohmann::json v = nlohmann::json::object();
    for (const auto& [key, text] : values) v[key] = cli::JsonText(text);
    nlohmann::json j = {{"action", o.action}, {"ok", status == cli::kExitOk}, {"refused", status == cli::kExitRefused}, {"message", cli::JsonText(result.message)}};
    if (!result.failed.empty()) j["failed"] = result.failed;
    if (o.action == "read" && polling) j["values"] = v;
    cli::PrintJson(std::cout, j);
  } else {
    if (o.action == "read" && polling && status != cli::kExitRefused) {
      std::cout << "[" << Section(t) << "]\n";
      for (const auto& [key, text] : values) std::cout << key << "=" << cli::Term(text) << "\n";
    }
    (status == cli::kExitOk ? std::cout : std::cerr) << (status == cli::kExitOk ? "" : "bmsmon-cli: ") << cli::Term(result.message) << "\n";
  }
  return status;
}

void Register(CLI::App& app, cli::CliEnv& env, Table t, const char* name, const char* what, bool with_clear) {
  auto* cmd = app.add_subcommand(name, what);
  cmd->require_subcommand(1);
  std::vector<std::string> actions = {"read", "write"};
  if (with_clear) actions.push_back("clear");
  for (const std::string& a : actions) {
    auto o = std::make_shared<Options>();
    o->action = a;
    const std::string help = a == "read"    ? "read from the BMS and print the values as MTD.ini lines"
                             : a == "write" ? "write the values of an MTD.ini-style file, after checking every value"
                                            : "write a table of zeros (the dialog's Clean, then Write)";
    auto* sub = cmd->add_subcommand(a, help);
    cli::AddConnectionOptions(sub, o->conn);
    if (a == "write") sub->add_option("--from", o->from, "MTD.ini-style file with the values")->required()->type_name("FILE");
    if (t == Table::CellR) sub->add_option("--cells", o->cells, "cells to handle, e.g. 1,2,5 (default: all 13)")->type_name("LIST");
    sub->add_flag("--json", o->json, "print one JSON object");
    sub->callback([o, &env, t] { env.exit_status = Run(t, *o); });
  }
}

}  // namespace

void RegisterFwCommand(CLI::App& app, cli::CliEnv& env) { Register(app, env, Table::Fw, "fw", "the protection parameters of the firmware data dialog (32 values)", false); }
void RegisterSocvCommand(CLI::App& app, cli::CliEnv& env) { Register(app, env, Table::Socv, "socv", "the firmware's 101-point SOC-OCV table", true); }
void RegisterCellrCommand(CLI::App& app, cli::CliEnv& env) { Register(app, env, Table::CellR, "cellr", "the 13 cell connection resistances (mOhm)", false); }
