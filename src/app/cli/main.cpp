// bmsmon-cli: the command-line front end over the same core, for automation.
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/cmd_command.h"
#include "core/context.h"
#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/monitor/live_data.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 3;

std::atomic<bool> g_interrupted{false};

void OnSignal(int) { g_interrupted = true; }

const char* const kUsage =
    "usage:\n"
    "  bmsmon-cli ports [--simulate]\n"
    "  bmsmon-cli monitor (--port PATH | --simulate) [--baud 9600|19200] [--cycles N] [--log]\n"
    "                     [--edition PREFIX] [--data-dir DIR] [--scenario FILE] [--first-cycle-timeout S]\n"
    "  bmsmon-cli cmd NAME [VALUE] (--port PATH | --simulate) [--baud 9600|19200] [--barcode-mode MODE]\n"
    "                     [--scenario FILE]\n"
    "exit status: 0 success, 2 usage error, 3 failure (port, link, time-out, command result)\n";

struct Args {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // --name -> value ("" for flags)
  bool has(const std::string& k) const { return options.count(k) != 0; }
  std::string get(const std::string& k, const std::string& d = "") const {
    auto it = options.find(k);
    return it == options.end() ? d : it->second;
  }
};

std::optional<Args> Parse(int argc, char** argv, std::string& error) {
  static const std::map<std::string, bool> kTakesValue = {{"--port", true},      {"--baud", true},     {"--cycles", true},       {"--edition", true},
                                                          {"--data-dir", true},  {"--scenario", true}, {"--barcode-mode", true}, {"--first-cycle-timeout", true},
                                                          {"--simulate", false}, {"--log", false},     {"--help", false}};
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i];
    if (s.rfind("--", 0) == 0) {
      auto it = kTakesValue.find(s);
      if (it == kTakesValue.end()) {
        error = "unknown option " + s;
        return std::nullopt;
      }
      if (it->second) {
        if (i + 1 >= argc) {
          error = s + " needs a value";
          return std::nullopt;
        }
        a.options[s] = argv[++i];
      } else {
        a.options[s] = "";
      }
    } else if (a.command.empty()) {
      a.command = s;
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

// Everything one run of the CLI needs: clock, optional virtual pack, context.
struct Session {
  bms::RealClock clock;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
};

bool MakeSession(const Args& a, const std::string& argv0, Session& s, std::string& error) {
  const bool simulate = a.has("--simulate");
  if (simulate == a.has("--port")) {
    error = "give exactly one of --port PATH and --simulate";
    return false;
  }
  const std::string baud = a.get("--baud", "19200");
  if (baud != "9600" && baud != "19200") {
    error = "--baud must be 9600 or 19200";
    return false;
  }
  bms::sim::Scenario scenario = bms::sim::DefaultScenario();
  if (a.has("--scenario") && !bms::sim::LoadScenario(a.get("--scenario"), scenario, error)) return false;
  if (simulate) s.pack = std::make_unique<bms::sim::VirtualPack>(s.clock, scenario);
  s.ctx = std::make_unique<bms::Context>(s.clock, bms::sim::MakePortFactory(s.pack.get(), s.clock, nullptr));
  bms::StartOptions opts;
  opts.argv0 = argv0;
  opts.edition = a.get("--edition");
  opts.data_dir = a.get("--data-dir");
  opts.simulate = simulate;
  bms::InitAppIdentity(*s.ctx, opts);
  bms::CreateApplication(*s.ctx);
  bms::Context& ctx = *s.ctx;
  ctx.FormConfig.ComboBoxBaudRate.select(baud == "9600" ? 0 : 1);
  const std::string port = simulate ? std::string(bms::sim::kVirtualPortName) : a.get("--port");
  ctx.FormConfig.CobBoxInterfaceName.set_text(port);
  ctx.FormConfig.SpdBtnYES.set_enabled(true);
  ctx.FormConfig.SpdBtnYES.click();
  return true;
}

int Ports(const Args& a) {
  bms::RealClock clock;
  bms::Context ctx(clock, {});
  ctx.app.simulate = a.has("--simulate");
  for (const std::string& name : bms::ScanPortNames(ctx)) std::cout << name << "\n";
  return kExitOk;
}

std::string Trim(const std::string& t) {
  const size_t a = t.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return t.substr(a, t.find_last_not_of(' ') - a + 1);
}

std::string CycleLine(bms::Context& ctx, int n) {
  bms::TFormMain& m = ctx.FormMain;
  std::string flags;
  const char* names[] = {"OV", "UV", "OC", "SC", "OT", "UT"};
  bms::Control* boxes[] = {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF};
  for (size_t i = 0; i < 6; ++i)
    if (boxes[i]->color() == bms::kRed) flags += std::string(flags.empty() ? "" : "+") + names[i];
  std::string cells;
  const int series = m.EditCellSeries.int_value();
  for (int i = 1; i <= 14 && i <= (series > 0 ? series : 14); ++i) cells += (i > 1 ? " " : "") + m.EditVCellN[i]->text();
  return "cycle " + std::to_string(n) + ": voltage " + m.EditPackVolt.text() + " mV, current " + m.EditPackCurrent.text() + " mA, RSOC " + m.EditRSOC.text() + " %, cells " +
         m.EditCellSeries.text() + " [" + cells + "] max " + m.Edit_HVlot.text() + " min " + m.Edit_LVolt.text() + " diff " + m.Edit_VoltDiff.text() + " mV, T1 " +
         m.EditT1.text() + " T2 " + m.EditT2.text() + " C, state " + Trim(m.EditCurrentSign.text()) + ", flags " + (flags.empty() ? "none" : flags) + ", barcode \"" +
         m.EditBarCode32.text() + "\"";
}

int Monitor(const Args& a, const std::string& argv0) {
  long cycles_wanted = 0;
  if (a.has("--cycles")) {
    try {
      cycles_wanted = std::stol(a.get("--cycles"));
    } catch (...) {
      cycles_wanted = -1;
    }
    if (cycles_wanted <= 0) {
      std::cerr << "bmsmon-cli: --cycles must be a positive number\n";
      return kExitUsage;
    }
  }
  long first_cycle_timeout_s = 60;
  if (a.has("--first-cycle-timeout")) {
    try {
      first_cycle_timeout_s = std::stol(a.get("--first-cycle-timeout"));
    } catch (...) {
      first_cycle_timeout_s = 0;
    }
    if (first_cycle_timeout_s <= 0) {
      std::cerr << "bmsmon-cli: --first-cycle-timeout must be a positive number of seconds\n";
      return kExitUsage;
    }
  }
  Session s;
  std::string error;
  if (!MakeSession(a, argv0, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n" << kUsage;
    return kExitUsage;
  }
  bms::Context& ctx = *s.ctx;
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(a.has("--log"));

  std::mutex mu;
  std::condition_variable cv;
  long completed = 0;
  ctx.MonitorCycleHook = [&](bool done) {
    if (!done) return;
    std::string line;
    {
      std::lock_guard<std::mutex> lock(mu);
      ++completed;
      line = CycleLine(ctx, static_cast<int>(completed));
      if (cycles_wanted > 0 && completed >= cycles_wanted) ctx.RunFlag = 0;
    }
    std::cout << line << std::endl;
    cv.notify_all();
  };
  ctx.FormMain.SpdBtnRUN.click();
  if (!ctx.RunFlag.load() && !ctx.MonitorActive.load()) {
    std::cerr << "bmsmon-cli: polling did not start: " << ctx.FormMain.StatusBarView.item(2) << "\n";
    return kExitFailure;
  }
  const auto start = std::chrono::steady_clock::now();
  bool timed_out = false;
  {
    std::unique_lock<std::mutex> lock(mu);
    while (ctx.MonitorActive.load()) {
      cv.wait_for(lock, std::chrono::milliseconds(100));
      if (g_interrupted.load() && ctx.RunFlag.load()) {
        ctx.RunFlag = 0;
        ctx.CancelLink();
      }
      if (completed == 0 && std::chrono::steady_clock::now() - start > std::chrono::seconds(first_cycle_timeout_s) && ctx.RunFlag.load()) {
        timed_out = true;
        ctx.RunFlag = 0;
      }
    }
  }
  ctx.workers.wait_idle(15000);
  const std::string reason = ctx.FormMain.StatusBarView.item(2);
  if (!ctx.Log->path().empty()) std::cerr << "bmsmon-cli: data log " << ctx.Log->path() << "\n";
  if (g_interrupted.load() && !ctx.LinkLost.load()) return kExitOk;  // stopped by the operator
  if (ctx.LinkLost.load() || (!reason.empty() && completed == 0 && !timed_out)) {
    std::cerr << "bmsmon-cli: " << Trim(reason.empty() ? ctx.LinkError.get() : reason) << "\n";
    return kExitFailure;
  }
  if (timed_out) {
    std::cerr << "bmsmon-cli: no complete polling cycle within " << first_cycle_timeout_s << " s (is the pack connected and awake?)\n";
    return kExitFailure;
  }
  if (!reason.empty()) std::cerr << "bmsmon-cli: " << Trim(reason) << "\n";
  if (completed == 0 && !g_interrupted.load()) return kExitFailure;
  return kExitOk;
}

int Cmd(const Args& a, const std::string& argv0) {
  if (a.positional.empty() || a.positional.size() > 2) {
    std::cerr << "bmsmon-cli: cmd needs NAME [VALUE]\n" << kUsage;
    return kExitUsage;
  }
  Session s;
  std::string error;
  if (!MakeSession(a, argv0, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n" << kUsage;
    return kExitUsage;
  }
  const std::string value = a.positional.size() > 1 ? a.positional[1] : "";
  // Ctrl-C ends a running command at once: every wait returns, the port's
  // pending read fails.
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished.load()) {
      if (g_interrupted.load()) {
        s.ctx->RunFlag = 0;
        s.clock.interrupt();
        s.ctx->CancelLink();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  const int rc = RunCommandCli(*s.ctx, a.positional[0], value, a.get("--barcode-mode", "auto"), std::cout, std::cerr);
  finished = true;
  watcher.join();
  s.ctx->workers.wait_idle(60000);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto args = Parse(argc, argv, error);
  if (!args) {
    std::cerr << "bmsmon-cli: " << error << "\n" << kUsage;
    return kExitUsage;
  }
  if (args->has("--help") || args->command.empty()) {
    std::cout << kUsage;
    return args->has("--help") ? kExitOk : kExitUsage;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  try {
    if (args->command == "ports") return Ports(*args);
    if (args->command == "monitor") return Monitor(*args, argv[0]);
    if (args->command == "cmd") return Cmd(*args, argv[0]);
  } catch (const std::exception& e) {
    std::cerr << "bmsmon-cli: " << e.what() << "\n";
    return kExitFailure;
  }
  std::cerr << "bmsmon-cli: unknown command " << args->command << "\n" << kUsage;
  return kExitUsage;
}
