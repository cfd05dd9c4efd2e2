#include "app/cli/cmd_production.h"

#include <unistd.h>

#include <chrono>
#include <deque>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/platform/safe_text.h"
#include "core/production_test/production_test.h"
#include "core/shell/editions.h"
#include "sim/pack_hands.h"

namespace {

using cli::kExitFailure;
using cli::kExitOk;
using cli::kExitOutput;
using cli::kExitUsage;
using cli::kExitVerdict;

std::string Trimmed(const std::string& key) {
  std::string k = key;
  while (!k.empty() && k.back() == ' ') k.pop_back();
  return k;
}

int PlanCheck(const std::string& path) {
  if (!bms::PlanFileExists(path)) {
    std::cerr << "bmsmon-cli: test plan \"" << cli::Term(path) << "\" does not exist\n";
    return kExitFailure;
  }
  bms::RealClock clock;
  bms::Context ctx(clock, nullptr);
  const bms::PlanLoadResult r = bms::LoadTestPlan(ctx, path);
  if (!r.ok) {
    std::cerr << "bmsmon-cli: " << cli::Term(r.error) << "\n";
    return kExitFailure;
  }
  nlohmann::json sections = nlohmann::json::object();
  for (const bms::PlanEntry& e : r.entries) {
    nlohmann::json v;
    std::visit([&v](const auto& x) { v = x; }, e.value);
    if (std::holds_alternative<std::string>(e.value)) v = cli::JsonText(std::get<std::string>(e.value));
    sections[e.section][Trimmed(e.key)] = {
        {"value", v}, {"text", cli::JsonText(e.text)}, {"source", e.from_file ? "file" : "default"}, {"conversion", bms::PlanConversionName(e.conversion)}};
  }
  cli::PrintJson(std::cout, {{"plan", cli::JsonText(path)}, {"sections", sections}});
  return kExitOk;
}

// Answers the prompts from --answers, then from the terminal, then with the
// safe default (and a note).
class CliOperator : public bms::OperatorInteraction {
 public:
  explicit CliOperator(std::deque<bms::PromptAnswer> answers) : answers_(std::move(answers)) {}
  bms::PromptAnswer Ask(const bms::Prompt& p) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (!answers_.empty()) {
      const bms::PromptAnswer a = answers_.front();
      answers_.pop_front();
      return a;
    }
    const bool ok_only = p.buttons == bms::PromptButtons::Ok;
    // After Ctrl-C the run only winds down: nobody is asked any more.
    if (cli::g_interrupted.load()) return ok_only ? bms::PromptAnswer::Ok : bms::PromptAnswer::No;
    if (::isatty(STDIN_FILENO)) {
      for (;;) {
        std::cerr << "\n[" << cli::Term(p.title) << "]\n" << cli::Term(p.text) << (ok_only ? "  (press Enter) " : "  [yes/no] ") << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) break;
        if (ok_only) return bms::PromptAnswer::Ok;
        if (line == "y" || line == "yes") return bms::PromptAnswer::Yes;
        if (line == "n" || line == "no") return bms::PromptAnswer::No;
      }
    }
    std::cerr << "note: prompt \"" << cli::Term(p.text) << "\" answered " << (ok_only ? "ok" : "no") << " (no answer left)\n";
    return ok_only ? bms::PromptAnswer::Ok : bms::PromptAnswer::No;
  }
  std::string ChooseOpenFile(const std::string&, const std::string&) override { return ""; }

 private:
  std::mutex mu_;
  std::deque<bms::PromptAnswer> answers_;
};

struct TestOptions {
  cli::ConnectionOptions conn;
  std::string plan, work, barcode, answers, ambient;
  int packs = 0;
  bool log = false;
  bool json = false;
};

bool ParseAnswers(const std::string& list, std::deque<bms::PromptAnswer>* out, std::string* bad) {
  std::stringstream in(list);
  std::string a;
  while (std::getline(in, a, ',')) {
    if (a == "yes") {
      out->push_back(bms::PromptAnswer::Yes);
    } else if (a == "no") {
      out->push_back(bms::PromptAnswer::No);
    } else if (a == "ok") {
      out->push_back(bms::PromptAnswer::Ok);
    } else {
      *bad = a;
      return false;
    }
  }
  return true;
}

int TestRun(const TestOptions& o) {
  std::deque<bms::PromptAnswer> answers;
  std::string bad;
  if (!ParseAnswers(o.answers, &answers, &bad)) {
    std::cerr << "bmsmon-cli: --answers: \"" << cli::Term(bad) << "\" is not yes, no or ok\n";
    return kExitUsage;
  }
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) {
    std::cerr << "bmsmon-cli: " << cli::Term(error) << "\n";
    return kExitUsage;
  }
  bms::Context& ctx = *s.ctx;
  CliOperator op(std::move(answers));
  std::unique_ptr<bms::sim::PackHands> hands;
  if (s.pack) hands = std::make_unique<bms::sim::PackHands>(*s.pack, &op);
  ctx.Operator = hands ? static_cast<bms::OperatorInteraction*>(hands.get()) : &op;
  bms::TFormMain& m = ctx.FormMain;
  m.self.set_text(ctx.app.exe_name.substr(0, std::min<size_t>(ctx.app.exe_name.size(), 9)) + bms::VersionText(ctx));
  m.OpenDialog_PCM_INI.set_text(o.plan);
  m.Edit_PCM_INI.set_text(o.plan);
  m.EditEVTWorkNumber.set_text(o.work);
  m.EditEVTBarcode.set_text(o.barcode);
  m.EditEVTDevTestNumberInput.set_text(std::to_string(o.packs));
  m.EditEVTT1.set_text(o.ambient);
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(o.log);
  if (!o.json) ctx.Evt->on_line = [](const std::string& line) { std::cout << bms::TerminalSafe(line) << "\n" << std::flush; };

  cli::InterruptWatcher watch(s);
  std::string why;
  if (!bms::SpdBtnEVTTestClick(ctx, &why)) {
    std::cerr << "bmsmon-cli: no run started: " << cli::Term(why) << "\n";
    ctx.Operator = nullptr;
    return kExitFailure;
  }
  while (ctx.Evt->running.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ctx.workers.wait_idle(5000);
  ctx.Evt->on_line = nullptr;
  ctx.Operator = nullptr;
  const bms::EvtOutcome out = ctx.Evt->outcome.get();
  const int status = !out.report_written ? kExitOutput : out.verdict == "PASS" ? kExitOk : kExitVerdict;
  if (o.json) {
    const bms::EvtTest t = ctx.EVT_TEST.get();
    nlohmann::json failures = nlohmann::json::array();
    for (int k = 1; k <= t.FailCount && k <= bms::kFailureListCapacity; ++k) failures.push_back(cli::JsonText(t.FailList[static_cast<size_t>(k)]));
    nlohmann::json j = {{"verdict", out.verdict},
                        {"exit_status", status},
                        {"report", cli::JsonText(out.report_path)},
                        {"record", cli::JsonText(out.json_path)},
                        {"ledger", cli::JsonText(out.ledger_path)},
                        {"report_written", out.report_written},
                        {"duplicate", out.duplicate},
                        {"failures", failures}};
    if (!out.report_error.empty()) j["error"] = cli::JsonText(out.report_error);
    if (!out.report_written)
      j["report_text"] = cli::JsonText([&] {
        std::string text;
        for (const auto& l : ctx.Evt->lines()) text += l + "\n";
        return text;
      }());
    cli::PrintJson(std::cout, j);
  } else {
    if (!out.report_written) {
      std::cerr << "bmsmon-cli: " << cli::Term(out.report_error) << "\n";
      std::cout << "report not written; the run log is above\n";
    }
    if (out.duplicate) std::cerr << "bmsmon-cli: duplicate: barcode already has a PASS line in the ledger\n";
    std::cout << "report: " << cli::Term(out.report_path) << "\n";
    std::cout << "record: " << cli::Term(out.json_path) << "\n";
    std::cout << "ledger: " << cli::Term(out.ledger_path) << "\n";
    std::cout << "verdict: " << out.verdict << "\n";
  }
  return status;
}

}  // namespace

void RegisterPlanCommand(CLI::App& app, cli::CliEnv& env) {
  auto* plan = app.add_subcommand("plan", "test plans of the production test");
  plan->require_subcommand(1);
  auto path = std::make_shared<std::string>();
  auto* check = plan->add_subcommand("check", "load a test plan and print every key with its converted value as JSON");
  check->add_option("FILE", *path, "the test plan (INI)")->required();
  check->callback([&env, path] { env.exit_status = PlanCheck(*path); });
}

void RegisterTestCommand(CLI::App& app, cli::CliEnv& env) {
  auto o = std::make_shared<TestOptions>();
  auto* test = app.add_subcommand("test", "the production test");
  test->require_subcommand(1);
  auto* run = test->add_subcommand("run", "test one pack against a plan exactly as the TEST button does");
  run->add_option("--plan", o->plan, "the test plan (INI)")->required()->type_name("FILE");
  run->add_option("--work", o->work, "work number")->required()->type_name("W");
  run->add_option("--barcode", o->barcode, "barcode of the pack under test")->required()->type_name("B");
  cli::AddConnectionOptions(run, o->conn, "TQ58_EVT_");
  run->add_option("--packs", o->packs, "number of packs to test (counter)")->check(CLI::Range(0, 99999))->type_name("N");
  run->add_option("--ambient", o->ambient, "ambient temperature in degrees C (default: the plan's T1)")->check(CLI::Range(-99, 999))->type_name("T");
  run->add_option("--answers", o->answers, "answers to the prompts in order: yes, no, ok separated by commas")->type_name("LIST");
  run->add_flag("--log", o->log, "tick the log option (data log record step)");
  run->add_flag("--json", o->json, "print one JSON object at the end instead of the run log");
  run->callback([&env, o] { env.exit_status = TestRun(*o); });
}
