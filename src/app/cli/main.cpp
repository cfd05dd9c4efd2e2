// bmsmon-cli: the command-line front end over the same core, for automation.
// One subcommand per job; the exit statuses are those of docs/cli.md.
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <string>

#include "app/cli/cli_common.h"
#include "app/cli/cmd_command.h"
#include "app/cli/cmd_production.h"
#include "app/cli/cmd_fw.h"
#include "app/cli/cmd_oz890.h"
#include "app/cli/cmd_history.h"
#include "app/cli/cmd_eep2.h"
#include "app/cli/monitor_reconnect.h"
#include "app/cli/trace_file.h"
#include "core/context.h"
#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/monitor/live_data.h"
#include "core/platform/safe_text.h"
#include "core/shell/connection_dialog.h"

namespace {

using cli::kExitFailure;
using cli::kExitOk;
using cli::kExitUsage;

void OnSignal(int) { cli::g_interrupted = true; }

std::string Trim(const std::string& t) {
  const size_t a = t.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return t.substr(a, t.find_last_not_of(' ') - a + 1);
}

// ---- ports ----

struct PortsOptions {
  bool simulate = false;
  bool json = false;
};

int Ports(const PortsOptions& o) {
  bms::RealClock clock;
  bms::Context ctx(clock, {});
  ctx.app.simulate = o.simulate;
  const std::vector<std::string> names = bms::ScanPortNames(ctx);
  if (o.json) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::string& name : names) list.push_back(cli::JsonText(name));
    cli::PrintJson(std::cout, {{"ports", list}});
  } else {
    for (const std::string& name : names) std::cout << cli::Term(name) << "\n";
  }
  return kExitOk;
}

// ---- monitor ----

struct MonitorOptions {
  cli::ConnectionOptions conn;
  long cycles = 0;
  bool log = false;
  long first_cycle_timeout_s = 60;
  bool json = false;
  bool reconnect = false;
  std::string trace;  // --trace FILE: every frame on the link
};

const char* const kFlagNames[] = {"OV", "UV", "OC", "SC", "OT", "UT"};

std::vector<bms::Control*> FlagBoxes(bms::TFormMain& m) { return {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF}; }

int CellCount(bms::TFormMain& m) {
  const int series = m.EditCellSeries.int_value();
  return series > 0 && series <= 14 ? series : 14;
}

std::string CycleLine(bms::Context& ctx, long n) {
  bms::TFormMain& m = ctx.FormMain;
  std::string flags;
  const auto boxes = FlagBoxes(m);
  for (size_t i = 0; i < boxes.size(); ++i)
    if (boxes[i]->color() == bms::kRed) flags += std::string(flags.empty() ? "" : "+") + kFlagNames[i];
  std::string cells;
  for (int i = 1; i <= CellCount(m); ++i) cells += (i > 1 ? " " : "") + m.EditVCellN[i]->text();
  const std::string line = "cycle " + std::to_string(n) + ": voltage " + m.EditPackVolt.text() + " mV, current " + m.EditPackCurrent.text() + " mA, RSOC " + m.EditRSOC.text() +
                           " %, cells " + m.EditCellSeries.text() + " [" + cells + "] max " + m.Edit_HVlot.text() + " min " + m.Edit_LVolt.text() + " diff " +
                           m.Edit_VoltDiff.text() + " mV, T1 " + m.EditT1.text() + " T2 " + m.EditT2.text() + " C, state " + Trim(m.EditCurrentSign.text()) + ", flags " +
                           (flags.empty() ? "none" : flags) + ", barcode \"" + m.EditBarCode32.text() + "\"";
  return bms::TerminalSafe(line);
}

// A number when the display text is one, else the text itself.
nlohmann::json Value(const bms::Control& c) {
  const std::string t = Trim(c.text());
  if (!t.empty()) {
    size_t used = 0;
    try {
      const long long v = std::stoll(t, &used);
      if (used == t.size()) return v;
    } catch (...) {
    }
  }
  return cli::JsonText(c.text());
}

nlohmann::json CycleJson(bms::Context& ctx, long n) {
  bms::TFormMain& m = ctx.FormMain;
  nlohmann::json cells = nlohmann::json::array();
  for (int i = 1; i <= CellCount(m); ++i) cells.push_back(Value(*m.EditVCellN[i]));
  nlohmann::json flags = nlohmann::json::array();
  const auto boxes = FlagBoxes(m);
  for (size_t i = 0; i < boxes.size(); ++i)
    if (boxes[i]->color() == bms::kRed) flags.push_back(kFlagNames[i]);
  return {{"cycle", n},
          {"pack_voltage_mV", Value(m.EditPackVolt)},
          {"pack_current_mA", Value(m.EditPackCurrent)},
          {"rsoc_percent", Value(m.EditRSOC)},
          {"asoc_percent", Value(m.EditASOC)},
          {"cell_series", Value(m.EditCellSeries)},
          {"cells_mV", cells},
          {"cell_max_mV", Value(m.Edit_HVlot)},
          {"cell_min_mV", Value(m.Edit_LVolt)},
          {"cell_diff_mV", Value(m.Edit_VoltDiff)},
          {"t1_C", Value(m.EditT1)},
          {"t2_C", Value(m.EditT2)},
          {"t3_C", Value(m.EditT3)},
          {"state", cli::JsonText(Trim(m.EditCurrentSign.text()))},
          {"flags", flags},
          {"cycle_count", Value(m.EditCycleCnt)},
          {"fw_model", cli::JsonText(m.EditFWID.text())},
          {"fw_version", cli::JsonText(m.EditFWVer.text())},
          {"serial_number", cli::JsonText(m.EditPDSN.text())},
          {"barcode", cli::JsonText(m.EditBarCode32.text())}};
}

int Monitor(const MonitorOptions& o) {
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n";
    return kExitUsage;
  }
  bms::Context& ctx = *s.ctx;
  cli::TraceFile trace(ctx);
  std::string trace_why;
  if (!o.trace.empty() && !trace.Start(o.trace, &trace_why)) {
    std::cerr << "bmsmon-cli: trace not written, nothing sent: " << cli::Term(trace_why) << "\n";
    return cli::kExitOutput;
  }
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(o.log);
  std::mutex err_mu;
  // Problems of the log go to stderr the moment they happen.
  ctx.Log->on_problem = [&err_mu](const std::string& text) {
    std::lock_guard<std::mutex> lock(err_mu);
    std::cerr << "bmsmon-cli: " << cli::Term(text) << std::endl;
  };
  // Rides out a vanished adapter and resumes when it is back.
  const std::unique_ptr<bms::PortSupervisor> supervisor = o.reconnect ? cli::MakeReconnectSupervisor(ctx, err_mu) : nullptr;

  std::mutex mu;
  std::condition_variable cv;
  long completed = 0;
  ctx.MonitorCycleHook = [&](bool done) {
    if (!done) return;
    std::string line;
    nlohmann::json j;
    {
      std::lock_guard<std::mutex> lock(mu);
      ++completed;
      if (o.json)
        j = CycleJson(ctx, completed);
      else
        line = CycleLine(ctx, completed);
      if (o.cycles > 0 && completed >= o.cycles) ctx.RunFlag = 0;
    }
    if (o.json)
      cli::PrintJson(std::cout, j);
    else
      std::cout << line << std::endl;
    cv.notify_all();
  };
  ctx.FormMain.SpdBtnRUN.click();
  if (!ctx.RunFlag.load() && !ctx.MonitorActive.load()) {
    std::cerr << "bmsmon-cli: polling did not start: " << Trim(ctx.FormMain.StatusBarView.item(2)) << "\n";
    return kExitFailure;
  }
  const auto start = std::chrono::steady_clock::now();
  bool timed_out = false;
  {
    std::unique_lock<std::mutex> lock(mu);
    while (ctx.MonitorActive.load()) {
      cv.wait_for(lock, std::chrono::milliseconds(100));
      if (cli::g_interrupted.load() && ctx.RunFlag.load()) {
        ctx.RunFlag = 0;
        s.clock.interrupt();
        ctx.CancelLink();
      }
      if (completed == 0 && !timed_out && ctx.RunFlag.load() && std::chrono::steady_clock::now() - start > std::chrono::seconds(o.first_cycle_timeout_s)) {
        timed_out = true;
        ctx.RunFlag = 0;
        s.clock.interrupt();
        ctx.CancelLink();
      }
    }
  }
  ctx.workers.wait_idle(15000);
  const std::string reason = ctx.FormMain.StatusBarView.item(2);
  std::lock_guard<std::mutex> err_lock(err_mu);
  trace.Stop();
  const bool trace_failed = trace.Report(std::cerr);
  if (o.json && !o.trace.empty()) cli::PrintJson(std::cout, {{"trace", trace.Json()}});
  const bool log_failed = o.log && (ctx.Log->path().empty() || ctx.Log->write_failed());
  if (o.log && !ctx.Log->path().empty()) {
    std::cerr << "bmsmon-cli: data log " << cli::Term(ctx.Log->path()) << ": " << ctx.Log->rows_written() << " rows written";
    if (ctx.Log->rows_skipped() > 0) std::cerr << ", " << ctx.Log->rows_skipped() << " not written (last: " << cli::Term(ctx.Log->skip_reason()) << ")";
    std::cerr << "\n";
  }
  if (o.json && o.log) {
    nlohmann::json summary = {
        {"log", cli::JsonText(ctx.Log->path())}, {"rows_written", ctx.Log->rows_written()}, {"rows_skipped", ctx.Log->rows_skipped()}, {"log_failed", log_failed}};
    if (ctx.Log->rows_skipped() > 0) summary["skip_reason"] = cli::JsonText(ctx.Log->skip_reason());
    if (log_failed) summary["log_error"] = cli::JsonText(ctx.Log->error());
    cli::PrintJson(std::cout, {{"summary", summary}});
  }
  const int ok_or_log = log_failed || trace_failed ? cli::kExitOutput : kExitOk;
  if (cli::g_interrupted.load() && !ctx.LinkLost.load()) return ok_or_log;  // stopped by the operator
  if (ctx.LinkLost.load() || (!reason.empty() && completed == 0 && !timed_out && ctx.Log->rows_skipped() == 0 && !log_failed)) {
    std::cerr << "bmsmon-cli: " << cli::Term(Trim(reason.empty() ? ctx.LinkError.get() : reason)) << "\n";
    return kExitFailure;
  }
  if (timed_out) {
    const std::string why = ctx.ValidReplies.load() == 0 && ctx.BytesReceived.load() > 0 ? "replies came but none was valid" : "is the pack connected and awake?";
    std::cerr << "bmsmon-cli: no complete polling cycle within " << o.first_cycle_timeout_s << " s (" << why << ")\n";
    return kExitFailure;
  }
  if (!reason.empty()) std::cerr << "bmsmon-cli: " << cli::Term(Trim(reason)) << "\n";
  if (completed == 0 && !cli::g_interrupted.load()) return kExitFailure;
  return ok_or_log;
}

// ---- cmd ----

struct CmdOptions {
  cli::ConnectionOptions conn;
  std::string name;
  std::string value;
  std::string barcode_mode = "auto";
  bool json = false;
};

int Cmd(const CmdOptions& o) {
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n";
    return kExitUsage;
  }
  int rc = kExitFailure;
  {
    // Ctrl-C ends a running command at once: every wait returns, the
    // port's pending read fails.
    cli::InterruptWatcher watcher(s);
    rc = RunCommandCli(*s.ctx, o.name, o.value, o.barcode_mode, std::cout, std::cerr, o.json);
  }
  s.ctx->workers.wait_idle(60000);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);  // a file-size limit makes the write fail (reported) instead of killing

  cli::CliEnv env;
  env.argv0 = argc > 0 ? argv[0] : "bmsmon-cli";

  CLI::App app{
      "bmsmon-cli: the BMS service and production tool without a window.\n"
      "Exit status: 0 success, 1 verdict of failure, 2 usage, 3 link/port/command failure,\n"
      "4 output file not written, 5 input refused with nothing sent (docs/cli.md)."};
  app.require_subcommand(1);
  app.fallthrough(false);

  PortsOptions ports;
  auto* ports_cmd = app.add_subcommand("ports", "list the serial ports, USB adapters first");
  ports_cmd->add_flag("--simulate", ports.simulate, "list the built-in virtual pack too");
  ports_cmd->add_flag("--json", ports.json, "print one JSON object");
  ports_cmd->callback([&] { env.exit_status = Ports(ports); });

  MonitorOptions mon;
  auto* mon_cmd = app.add_subcommand("monitor", "poll the pack as RUN does; one line (or JSON object) per completed cycle");
  cli::AddConnectionOptions(mon_cmd, mon.conn);
  mon_cmd->add_option("--cycles", mon.cycles, "stop after N completed cycles (default: until Ctrl-C)")->check(CLI::Range(1L, 1000000000L))->type_name("N");
  mon_cmd->add_flag("--log", mon.log, "write the CSV data log (Log_Record/)");
  mon_cmd->add_option("--first-cycle-timeout", mon.first_cycle_timeout_s, "give up when no cycle completed within S seconds (1-3600, default 60)")
      ->check(CLI::Range(1L, 3600L))
      ->type_name("S");
  mon_cmd->add_flag("--json", mon.json, "one JSON object per completed cycle");
  mon_cmd->add_flag("--reconnect", mon.reconnect, "when the adapter vanishes, wait for it to come back and resume (same data log)");
  mon_cmd->add_option("--trace", mon.trace, "write every frame on the link to FILE (created, never replaced)")->type_name("FILE");
  mon_cmd->callback([&] { env.exit_status = Monitor(mon); });

  CmdOptions cmd;
  auto* cmd_cmd = app.add_subcommand("cmd", "run one engineering command of the main window (docs/cli.md lists NAME)");
  cmd_cmd->add_option("NAME", cmd.name, "command name, e.g. rtc-get")->required();
  cmd_cmd->add_option("VALUE", cmd.value, "the command's value (on/off, a mode, a text)");
  cli::AddConnectionOptions(cmd_cmd, cmd.conn);
  cmd_cmd->add_option("--barcode-mode", cmd.barcode_mode, "barcode storage: auto, ext32, int32 or int16")->type_name("MODE");
  cmd_cmd->add_flag("--json", cmd.json, "print one JSON object instead of the lines");
  cmd_cmd->callback([&] { env.exit_status = Cmd(cmd); });
  RegisterOz890Command(app, env);
  RegisterFwCommand(app, env);
  RegisterSocvCommand(app, env);
  RegisterCellrCommand(app, env);

  RegisterPlanCommand(app, env);
  RegisterTestCommand(app, env);

  RegisterHistoryCommand(app, env);
  RegisterDiagnoseCommand(app, env);

  RegisterEep2Command(app, env);
  RegisterModbusCommand(app, env);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "bmsmon-cli: " << e.what() << "\n";
    return kExitFailure;
  }
  return env.exit_status;
}
