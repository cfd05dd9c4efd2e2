#include "app/cli/cli_common.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/platform/safe_text.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/sim_port.h"

namespace cli {

std::atomic<bool> g_interrupted{false};

void AddConnectionOptions(CLI::App* sub, ConnectionOptions& o, const std::string& default_edition) {
  auto* port = sub->add_option("--port", o.port, "serial device of the pack, e.g. /dev/ttyUSB0")->type_name("PATH");
  auto* sim = sub->add_flag("--simulate", o.simulate, "use the built-in virtual pack");
  port->excludes(sim);
  sim->excludes(port);
  sub->add_option("--baud", o.baud, "baud rate of the link")->check(CLI::IsMember({"9600", "19200"}))->type_name("9600|19200");
  o.edition = default_edition;
  sub->add_option("--edition", o.edition, "edition prefix instead of the program's file name (e.g. TQ58_ENG_)")->type_name("PREFIX");
  sub->add_option("--data-dir", o.data_dir, "folder for logs and reports (default: beside the executable)")->type_name("DIR");
  sub->add_option("--scenario", o.scenario, "scenario file of the virtual pack")->type_name("FILE");
}

Session::~Session() {
  if (ctx) ctx->Shutdown(5000);
}

bool MakeSession(const ConnectionOptions& o, Session& s, std::string& error) {
  if (o.port.empty() == !o.simulate) {
    error = "give exactly one of --port PATH and --simulate";
    return false;
  }
  bms::sim::Scenario scenario = bms::sim::DefaultScenario();
  if (!o.scenario.empty() && !bms::sim::LoadScenario(o.scenario, scenario, error)) return false;
  if (o.simulate) s.pack = std::make_unique<bms::sim::VirtualPack>(s.clock, scenario);
  s.ctx = std::make_unique<bms::Context>(s.clock, bms::sim::MakePortFactory(s.pack.get(), s.clock, nullptr));
  bms::StartOptions opts;
  opts.argv0 = "bmsmon-cli";
  opts.edition = o.edition;
  opts.data_dir = o.data_dir;
  opts.simulate = o.simulate;
  bms::InitAppIdentity(*s.ctx, opts);
  bms::CreateApplication(*s.ctx);
  bms::Context& ctx = *s.ctx;
  ctx.FormConfig.ComboBoxBaudRate.select(o.baud == "9600" ? 0 : 1);
  const std::string port = o.simulate ? std::string(bms::sim::kVirtualPortName) : o.port;
  ctx.FormConfig.CobBoxInterfaceName.set_text(port);
  ctx.FormConfig.SpdBtnYES.set_enabled(true);
  ctx.FormConfig.SpdBtnYES.click();
  return true;
}

struct InterruptWatcher::Impl {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  std::thread thread;
};

InterruptWatcher::InterruptWatcher(Session& s) : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  impl->thread = std::thread([impl, &s] {
    std::unique_lock<std::mutex> lock(impl->mu);
    while (!impl->done) {
      if (g_interrupted.load()) {
        s.ctx->RunFlag = 0;
        s.clock.interrupt();
        s.ctx->CancelLink();
        return;
      }
      impl->cv.wait_for(lock, std::chrono::milliseconds(50));
    }
  });
}

InterruptWatcher::~InterruptWatcher() {
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->done = true;
  }
  impl_->cv.notify_all();
  impl_->thread.join();
}

void PrintJson(std::ostream& out, const nlohmann::json& j) { out << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl; }

std::string Term(const std::string& text) { return bms::TerminalSafe(text); }

nlohmann::json JsonText(const std::string& text) {
  // Round-trip through dump with replacement: invalid UTF-8 becomes U+FFFD.
  const std::string dumped = nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return nlohmann::json::parse(dumped);
}

}  // namespace cli
