#include "app/cli/cmd_oz890.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "core/link/oz890.h"

namespace {

struct Oz890Options {
  cli::ConnectionOptions conn;
  std::string ref;
  std::string save_ref;
  bool replace = false;
  bool json = false;
};

// Answers the "replace the reference?" question: --replace says yes; on a
// terminal the operator is asked; otherwise the file is kept.
class CliOperator : public bms::OperatorInteraction {
 public:
  explicit CliOperator(bool replace) : replace_(replace) {}
  bms::PromptAnswer Ask(const bms::Prompt& p) override {
    if (p.buttons == bms::PromptButtons::Ok) return bms::PromptAnswer::Ok;
    if (replace_) return bms::PromptAnswer::Yes;
    if (!::isatty(0)) return bms::PromptAnswer::No;
    std::cerr << cli::Term(p.text) << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? bms::PromptAnswer::Yes : bms::PromptAnswer::No;
  }
  std::string ChooseOpenFile(const std::string&, const std::string&) override { return ""; }

 private:
  bool replace_;
};

int Check(const Oz890Options& o) {
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n";
    return cli::kExitUsage;
  }
  bms::Context& ctx = *s.ctx;
  CliOperator op(o.replace);
  ctx.Operator = &op;
  if (!o.ref.empty()) ctx.Oz890.with([&](bms::Oz890State& st) { st.reference_file = o.ref; });
  bool passed = false;
  {
    cli::InterruptWatcher watcher(s);
    passed = bms::RunOz890Check(ctx);
  }
  const bms::Oz890State st = ctx.Oz890.get();
  int status = passed ? cli::kExitOk : cli::kExitVerdict;
  if (!st.ran) status = cli::kExitFailure;
  std::string saved, save_error;
  if (st.ran && !o.save_ref.empty()) {
    if (bms::SaveOz890Reference(ctx, o.save_ref, &save_error)) {
      saved = o.save_ref;
    } else if (status == cli::kExitOk || status == cli::kExitVerdict) {
      status = cli::kExitOutput;
    }
  }
  const auto memo = ctx.FormMain.MemoOZEEPRead.items();
  if (o.json) {
    nlohmann::json mism = nlohmann::json::array();
    for (const bms::Oz890Mismatch& m : st.mismatches) {
      nlohmann::json r = {{"register", m.reg}, {"expected", m.expected}, {"reply", bms::GatewayReplyText(m.reply)}};
      r["read"] = m.reply == bms::GatewayReply::Valid ? nlohmann::json(m.read) : nlohmann::json(nullptr);
      mism.push_back(r);
    }
    nlohmann::json lines = nlohmann::json::array();
    for (const std::string& l : memo) lines.push_back(cli::JsonText(l));
    nlohmann::json j = {{"opened", st.ran},
                        {"passed", passed},
                        {"reference_loaded", st.reference_loaded},
                        {"mismatch_count", st.mismatch_count},
                        {"mismatches", mism},
                        {"memo", lines},
                        {"reference", cli::JsonText(bms::Oz890ReferencePath(ctx))}};
    if (!st.ran) j["error"] = cli::JsonText(st.open_error);
    if (!o.save_ref.empty()) j["saved"] = saved.empty() ? nlohmann::json(nullptr) : cli::JsonText(saved);
    if (!save_error.empty()) j["save_error"] = cli::JsonText(save_error);
    cli::PrintJson(std::cout, j);
  } else {
    for (const std::string& l : memo) std::cout << cli::Term(l) << "\n";
    if (!saved.empty()) std::cout << "Reference saved: " << cli::Term(saved) << "\n";
    if (!save_error.empty()) std::cerr << "bmsmon-cli: reference not saved: " << cli::Term(save_error) << "\n";
    std::cout.flush();
  }
  return status;
}

}  // namespace

void RegisterOz890Command(CLI::App& app, cli::CliEnv& env) {
  auto* oz = app.add_subcommand("oz890", "the OZ890 front end's EEPROM through the I2C gateway (115200 baud)");
  oz->require_subcommand(1);
  auto o = std::make_shared<Oz890Options>();
  auto* check = oz->add_subcommand("check", "read registers 0x00-0x7F and compare them with OZ890EEP.ini; exit 0 PASSED, 1 mismatches, 3 port not opened");
  cli::AddConnectionOptions(check, o->conn);
  check->add_option("--ref", o->ref, "reference file (default: OZ890EEP.ini in the current folder)")->type_name("FILE");
  check->add_option("--save-ref", o->save_ref, "write the image read as a reference file (asks before replacing one)")->type_name("FILE");
  check->add_flag("--replace", o->replace, "with --save-ref: replace an existing file without asking");
  check->add_flag("--json", o->json, "print one JSON object instead of the lines");
  check->callback([o, &env] { env.exit_status = Check(*o); });
}
