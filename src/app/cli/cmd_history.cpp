#include "app/cli/cmd_history.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/history/diagnosis.h"
#include "core/history/eeprom_window.h"
#include "core/history/record_decode.h"
#include "core/link/link_port.h"
#ifdef BMS_HAVE_PDF
#include "app/report/report_page.h"
#endif

namespace {

using cli::kExitFailure;
using cli::kExitOk;
using cli::kExitOutput;
using cli::kExitUsage;

struct HistoryOptions {
  cli::ConnectionOptions conn;
  std::string block;
  std::string range;  // FIRST-LAST
  bool fast = false;
  bool json = false;
};

struct DiagnoseOptions {
  cli::ConnectionOptions conn;
  std::string pdf;
  bool json = false;
};

std::string Trim(std::string s) {
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Waits for the started worker; shows the progress of a block read on a
// terminal's standard error.
void WaitForWorker(cli::Session& s, bool progress) {
  bms::Context& ctx = *s.ctx;
  const bool tty = progress && ::isatty(2);
  std::string shown;
  while (ctx.workers.running() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!tty) continue;
    const std::string now = ctx.FormEEPROM.LabelEEPProgress.text();
    if (ctx.FormEEPROM.BitBtnEEPCancel.visible() && now != shown) {
      std::cerr << "\r" << cli::Term(now) << "   " << std::flush;
      shown = now;
    }
  }
  if (!shown.empty()) std::cerr << "\r" << std::string(shown.size() + 3, ' ') << "\r" << std::flush;
  ctx.workers.wait_idle(60000);
}

// The page line as printed: the "\n\r" separator lines are empty lines.
std::string PrintedLine(const std::string& line) { return line == "\n\r" ? std::string() : cli::Term(line); }

bool ParseRange(const std::string& text, int* first, int* last) {
  char tail = 0;
  return std::sscanf(text.c_str(), "%d-%d%c", first, last, &tail) == 2 && *first >= 1 && *last >= *first;
}

int HistoryRead(const HistoryOptions& o) {
  static const char* kBlocks[] = {"header", "protect", "lead", "last"};
  int page = -1;
  for (int i = 0; i < 4; ++i)
    if (o.block == kBlocks[i]) page = i;
  int first = 0, last = 0;
  if (!o.range.empty() && (page < 2 || !ParseRange(o.range, &first, &last))) {
    std::cerr << "bmsmon-cli: --range FIRST-LAST (1 <= FIRST <= LAST) reads records of the lead or last block only\n";
    return kExitUsage;
  }
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n";
    return kExitUsage;
  }
  bms::Context& ctx = *s.ctx;
  bms::TFormEEPROM& e = ctx.FormEEPROM;
  ctx.FormMain.BitBtnSafeInfoRead.set_enabled(true);
  ctx.FormMain.BitBtnSafeInfoRead.click();  // opens the window as the button does
  e.PageControlEEP.select(page);
  e.CheckBoxEEPFastRead.set_checked(o.fast);
  bms::SetStatusPanel(ctx, 2, "");
  const bms::HistoryBlock block = bms::BlockOfPage(page);
  bms::Control& memo = page == 0 ? e.MemoEEPHeader : bms::RecordMemo(ctx, block);

  int status = kExitOk;
  std::vector<std::string> lines;
  std::string export_path;
  {
    cli::InterruptWatcher watcher(s);
    if (o.range.empty()) {
      e.BitBtnEEPBlockChoiceRead.click();
      WaitForWorker(s, true);
      lines = memo.items();
      export_path = e.LabelEEPExportFile.text();
    } else {
      e.BitBtnEEPPreView.click();
      WaitForWorker(s, false);
      const size_t count = e.ComboBoxEEPStartAddrRead.items().size();
      if (Trim(ctx.FormMain.StatusBarView.item(2)).rfind("EEPROM:", 0) != 0) {
        if (static_cast<size_t>(last) > count) {
          std::cerr << "bmsmon-cli: the " << o.block << " block holds " << count << " records; --range " << o.range << " is outside it\n";
          return kExitUsage;
        }
        e.ComboBoxEEPStartAddrRead.select(first - 1);
        e.ComboBoxEEPEndAddrRead.select(last - 1);
        const size_t before = memo.items().size();
        e.BitBtnEEPRange.click();
        WaitForWorker(s, false);
        const std::vector<std::string> all = memo.items();
        lines.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
      }
    }
  }
  const std::string panel = Trim(ctx.FormMain.StatusBarView.item(2));
  nlohmann::json j = {{"block", o.block}, {"fast", o.fast}};
  if (panel.rfind("EEPROM:", 0) == 0) {
    std::cerr << "bmsmon-cli: " << cli::Term(panel.substr(8)) << "\n";
    status = kExitFailure;
  } else if (!lines.empty() && (lines.front() == "Total Bytes :   Time out ")) {
    std::cerr << "bmsmon-cli: the pack did not answer the " << o.block << " block's size request\n";
    status = kExitFailure;
  } else if (e.BitBtnEEPCancel.visible() || e.LabelEEPProgress.text().rfind("Stopped:", 0) == 0) {
    std::cerr << "bmsmon-cli: " << cli::Term(e.LabelEEPProgress.text()) << "\n";
    status = kExitFailure;
  } else if (panel.find("export not written") != std::string::npos) {
    std::cerr << "bmsmon-cli: " << cli::Term(panel) << "\n";
    status = kExitOutput;
  } else if (cli::g_interrupted.load()) {
    status = kExitFailure;
  }
  if (o.json) {
    nlohmann::json text = nlohmann::json::array();
    for (const std::string& l : lines) text.push_back(cli::JsonText(l == "\n\r" ? std::string() : l));
    j["lines"] = text;
    j["export"] = export_path.empty() ? nlohmann::json(nullptr) : cli::JsonText(export_path);
    j["exit_status"] = status;
    j["ok"] = status == kExitOk;
    cli::PrintJson(std::cout, j);
  } else {
    for (const std::string& l : lines) std::cout << PrintedLine(l) << "\n";
    if (!export_path.empty()) std::cout << "CSV export: " << cli::Term(export_path) << "\n";
    std::cout << std::flush;
  }
  return status;
}

int Diagnose(const DiagnoseOptions& o) {
  cli::Session s;
  std::string error;
  if (!cli::MakeSession(o.conn, s, error)) {
    std::cerr << "bmsmon-cli: " << error << "\n";
    return kExitUsage;
  }
  bms::Context& ctx = *s.ctx;
  bms::SetStatusPanel(ctx, 2, "");
  {
    cli::InterruptWatcher watcher(s);
    ctx.FormMain.BitBtnPrintReportRead.set_enabled(true);
    ctx.FormMain.BitBtnPrintReportRead.click();
    WaitForWorker(s, false);
  }
  int status = kExitOk;
  const std::string panel = Trim(ctx.FormMain.StatusBarView.item(2));
  if (panel.rfind("DIA:", 0) == 0) {
    std::cerr << "bmsmon-cli: " << cli::Term(panel.substr(5)) << "\n";
    status = kExitFailure;
  } else if (cli::g_interrupted.load()) {
    status = kExitFailure;
  }
  std::string pdf_error;
  bool pdf_written = false;
  if (!o.pdf.empty() && status == kExitOk) {
#ifdef BMS_HAVE_PDF
    pdf_written = bms::report::WriteReportPdf(o.pdf, bms::report::ReportPageOf(ctx), &pdf_error);
#else
    pdf_error = "this build has no PDF output (it needs Qt 6)";
#endif
    if (!pdf_written) {
      std::cerr << "bmsmon-cli: the PDF file was not written: " << cli::Term(pdf_error) << "\n";
      status = kExitOutput;
    }
  }
  if (o.json) {
    nlohmann::json labels = nlohmann::json::object();
    for (bms::Control* c : bms::ReportLabels(ctx)) labels[c->name()] = cli::JsonText(c->text());
    nlohmann::json j = {{"ok", status == kExitOk}, {"exit_status", status}, {"labels", labels}};
    if (pdf_written) j["pdf"] = cli::JsonText(o.pdf);
    cli::PrintJson(std::cout, j);
  } else {
    for (bms::Control* c : bms::ReportLabels(ctx)) std::cout << c->name() << ": " << cli::Term(c->text()) << "\n";
    if (pdf_written) std::cout << "PDF: " << cli::Term(o.pdf) << "\n";
    std::cout << std::flush;
  }
  return status;
}

}  // namespace

void RegisterHistoryCommand(CLI::App& app, cli::CliEnv& env) {
  auto o = std::make_shared<HistoryOptions>();
  auto* history = app.add_subcommand("history", "the EEPROM history of the pack");
  history->require_subcommand(1);
  auto* read = history->add_subcommand("read", "read one block as the history window does: print its page, write its CSV export");
  read->add_option("BLOCK", o->block, "header, protect, lead or last")->required()->check(CLI::IsMember({"header", "protect", "lead", "last"}));
  cli::AddConnectionOptions(read, o->conn);
  read->add_flag("--fast", o->fast, "end each reply read as soon as a whole valid reply arrived");
  read->add_option("--range", o->range, "read only records FIRST to LAST of the lead or last block (no CSV file)")->type_name("FIRST-LAST");
  read->add_flag("--json", o->json, "print one JSON object");
  read->callback([o, &env] { env.exit_status = HistoryRead(*o); });
}

void RegisterDiagnoseCommand(CLI::App& app, cli::CliEnv& env) {
  auto o = std::make_shared<DiagnoseOptions>();
  auto* sub = app.add_subcommand("diagnose", "run the diagnosis reading pass and print every report label");
  cli::AddConnectionOptions(sub, o->conn);
  sub->add_option("--pdf", o->pdf, "also write the report page as a PDF file")->type_name("FILE");
  sub->add_flag("--json", o->json, "print one JSON object");
  sub->callback([o, &env] { env.exit_status = Diagnose(*o); });
}
