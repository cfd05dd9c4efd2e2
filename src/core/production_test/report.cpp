#include "core/production_test/report.h"

#include <nettle/sha2.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>
#include <vector>

#include "core/link/link_port.h"
#include "core/platform/cp950.h"
#include "core/platform/files.h"
#include "core/platform/safe_text.h"
#include "core/production_test/production_test.h"

namespace bms {

namespace {

const char* const kLedgerHeader = "End Time,Work Number,Barcode,Verdict,Failures,Plan SHA-256,Report\r\n";

// Text for a JSON string; bytes that are no valid UTF-8 are replaced when
// the record is written.
nlohmann::json JsonString(const std::string& s) { return nlohmann::json(s); }

std::vector<std::string> SplitCsvLine(std::string_view line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ',') {
      out.emplace_back();
    } else if (c != '\r' && c != '\n') {
      out.back().push_back(c);
    }
  }
  return out;
}

// True when the ledger already holds a PASS line for the barcode.
bool LedgerHasPass(const std::string& ledger, const std::string& barcode) {
  std::string text;
  if (!ReadWholeFile(ledger, &text)) return false;
  const std::string field = CsvTextField(barcode);
  std::istringstream in(text);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (header) {
      header = false;
      continue;
    }
    const std::vector<std::string> f = SplitCsvLine(line);
    if (f.size() >= 4 && f[2] == field && f[3] == "PASS") return true;
  }
  return false;
}

nlohmann::json BuildRecord(Context& ctx, const EvtOutcome& o, const EvtTestSet& counters) {
  nlohmann::json j;
  j["plan"] = {{"path", JsonString(o.plan_path)}, {"sha256", o.plan_sha256}};
  j["edition"] = JsonString(ctx.app.exe_name);
  j["work_number"] = JsonString(o.work_number);
  j["barcode"] = JsonString(o.barcode);
  j["start_time"] = o.start_time;
  j["end_time"] = o.end_time;
  nlohmann::json items = nlohmann::json::array();
  for (const EvtItem& i : ctx.Evt->items()) {
    nlohmann::json it;
    it["number"] = i.number;
    it["title"] = JsonString(i.title);
    it["value"] = JsonString(i.value);
    it["low"] = JsonString(i.low);
    it["high"] = JsonString(i.high);
    it["verdict"] = i.verdict.empty() ? nlohmann::json(nullptr) : nlohmann::json(i.verdict);
    items.push_back(std::move(it));
  }
  j["items"] = std::move(items);
  const EvtTest t = ctx.EVT_TEST.get();
  nlohmann::json failures = nlohmann::json::array();
  for (int k = 1; k <= t.FailCount && k <= kFailureListCapacity; ++k) failures.push_back(JsonString(t.FailList[static_cast<size_t>(k)]));
  j["failures"] = std::move(failures);
  j["failure_count"] = t.FailCount;
  j["failures_not_listed"] = t.FailCount > kFailureListCapacity ? t.FailCount - kFailureListCapacity : 0;
  j["verdict"] = o.verdict;
  j["duplicate"] = o.duplicate;
  j["counters"] = {{"to_test", counters.DevTestInput},
                   {"remaining", counters.DevTestRemaining},
                   {"passed", counters.PassCount},
                   {"failed", counters.FailCount},
                   {"tested", counters.TotalCount}};
  return j;
}

// Writes the report text of the outcome's run log; false with *why.
bool WriteReport(Context& ctx, EvtOutcome& o, std::string* why) {
  const std::string folder = EvtReportFolder(ctx, o.work_number);
  if (!MakeDirectories(folder, why)) return false;
  return WriteFileAtomic(o.report_path, EvtReportBytes(ctx.Evt->lines()), why);
}

}  // namespace

std::string FileSha256(const std::string& path) {
  std::string data;
  if (!ReadWholeFile(path, &data)) return "";
  sha256_ctx c;
  sha256_init(&c);
  sha256_update(&c, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&c, SHA256_DIGEST_SIZE, digest);
  std::string hex;
  char b[3];
  for (uint8_t d : digest) {
    std::snprintf(b, sizeof b, "%02x", d);
    hex += b;
  }
  return hex;
}

std::string EvtReportBytes(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return Utf8ToCp950(text);
}

std::string EvtReportFileName(const std::string& barcode, const LocalTime& t, const std::string& verdict) {
  std::string b = barcode.empty() ? std::string("NULL") : SanitizeFileNamePart(barcode);
  if (b.empty()) b = "_";
  return b + "_" + FormatLocalTime(t, "yyyymmdd_hhnnss") + "_" + verdict + ".txt";
}

std::string EvtReportFolder(Context& ctx, const std::string& work_number) {
  std::string w = work_number.empty() ? std::string("NULL") : SanitizeFileNamePart(work_number);
  if (w.empty()) w = "_";
  return ctx.app.data_folder + "Test_Report/" + w + "/";
}

void SaveEvtRecords(Context& ctx, const LocalTime& end, const std::string& verdict, const EvtTestSet& counters) {
  EvtOutcome o = ctx.Evt->outcome.get();
  o.finished = true;
  o.verdict = verdict;
  o.end_time = FormatLocalTime(end, "yyyy-mm-dd hh:nn:ss");
  const std::string name = EvtReportFileName(o.barcode, end, verdict);
  o.report_path = EvtReportFolder(ctx, o.work_number) + name;
  o.json_path = o.report_path.substr(0, o.report_path.size() - 4) + ".json";
  o.ledger_path = ctx.app.data_folder + "Test_Report/ledger.csv";

  std::string why;
  o.report_written = WriteReport(ctx, o, &why);
  std::vector<std::string> problems;
  if (!o.report_written) problems.push_back("Report not written: " + o.report_path + ": " + why);

  // Ledger first (the record names the duplicate), then the record.
  o.duplicate = LedgerHasPass(o.ledger_path, o.barcode);
  const bool ledger_new = !FileExists(o.ledger_path);
  RowFile ledger;
  std::string lwhy;
  if (MakeDirectories(ctx.app.data_folder + "Test_Report/", &lwhy) && ledger.OpenAppend(o.ledger_path, &lwhy)) {
    const int failures = ctx.EVT_TEST.with([](const EvtTest& t) { return t.FailCount; });
    std::string row = o.end_time + "," + CsvTextField(o.work_number) + "," + CsvTextField(o.barcode) + "," + verdict + "," + std::to_string(failures) + "," + o.plan_sha256 + "," +
                      CsvTextField(o.report_written ? name : "") + "\r\n";
    bool ok = true;
    if (ledger_new) ok = ledger.WriteRow(kLedgerHeader, &lwhy);
    if (ok) ok = ledger.WriteRow(row, &lwhy);
    if (!ok) problems.push_back("Ledger not written: " + o.ledger_path + ": " + lwhy);
  } else {
    problems.push_back("Ledger not written: " + o.ledger_path + ": " + lwhy);
  }
  ledger.Close();

  std::string jwhy;
  const std::string record = BuildRecord(ctx, o, counters).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (!MakeDirectories(EvtReportFolder(ctx, o.work_number), &jwhy) || !WriteFileAtomic(o.json_path, record, &jwhy))
    problems.push_back("Record not written: " + o.json_path + ": " + jwhy);

  std::string panel;
  if (o.duplicate) panel = "  duplicate: barcode " + TerminalSafe(o.barcode) + " already passed (ledger)";
  for (const std::string& p : problems) panel += (panel.empty() ? "  " : "  |  ") + p;
  o.report_error = problems.empty() ? std::string() : problems.front();
  for (size_t i = 1; i < problems.size(); ++i) o.report_error += "; " + problems[i];
  if (!panel.empty()) SetStatusPanel(ctx, 2, panel);
  ctx.Evt->outcome.set(o);
}

bool SaveEvtReportAgain(Context& ctx, std::string* why) {
  EvtOutcome o = ctx.Evt->outcome.get();
  if (!o.finished) {
    if (why) *why = "no test run has ended yet";
    return false;
  }
  std::string w;
  const bool ok = WriteReport(ctx, o, &w);
  if (ok) {
    o.report_written = true;
    o.report_error.clear();
    SetStatusPanel(ctx, 2, "  Report written: " + o.report_path);
  } else {
    SetStatusPanel(ctx, 2, "  Report not written: " + o.report_path + ": " + w);
    if (why) *why = w;
  }
  ctx.Evt->outcome.set(o);
  return ok;
}

}  // namespace bms
