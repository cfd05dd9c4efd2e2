#pragma once
// The state of one production-test run: the run log with its conventions
// (titles, PASS and NG lines, failure entries), the item records for the
// JSON record, the balance check timer and the outcome the front ends show.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/monitor/data_log.h"
#include "core/platform/guarded.h"

namespace bms {

class Context;

inline constexpr const char* kDashLine = "-----------------------------------------------------------";
// Where the failure entries that no longer fit the list are counted.
inline constexpr int kFailureListCapacity = 1023;

// One numbered item of the run log, for the JSON record.
struct EvtItem {
  int number = 0;
  std::string title;
  std::string value, low, high;  // value read and limits, where the check has them
  std::string verdict;           // "PASS", "NG" or "" (no verdict)
  std::vector<std::string> lines;
};

// What the last run left for the front ends.
struct EvtOutcome {
  bool finished = false;
  std::string verdict;               // "PASS" or "FAIL"
  std::string start_time, end_time;  // yyyy-mm-dd hh:nn:ss
  std::string report_path, json_path, ledger_path;
  bool report_written = false;
  std::string report_error;  // why the report (or the record, the ledger) was not written
  bool duplicate = false;    // the barcode already has a PASS line in the ledger
  std::string plan_path, plan_sha256;
  std::string work_number, barcode;
};

class EvtRun {
 public:
  explicit EvtRun(Context& ctx);
  ~EvtRun();
  EvtRun(const EvtRun&) = delete;
  EvtRun& operator=(const EvtRun&) = delete;

  // ---- run log ----
  void Clear();
  void Line(const std::string& text);
  // An empty line, item number + 1, then the title line.
  void Title(const std::string& text);
  // Item number + 1, then the title line (no empty line before it).
  void TitleNoGap(const std::string& text);
  // The title line with the present item number.
  void TitleLine(const std::string& text);
  void Pass(const std::string& line);
  // The NG line, then the failure entry with the present item number.
  void Ng(const std::string& line, const std::string& failure_text);
  // Only the failure entry (count + 1, entry stored while the list has room).
  void Failure(const std::string& failure_text);
  // Value read and limits of the present item (JSON record).
  void Measured(const std::string& value, const std::string& low, const std::string& high);
  std::vector<std::string> lines() const;
  std::vector<EvtItem> items() const;
  int failures() const;
  // Entries beyond the failure list.
  int unlisted_failures() const;

  // ---- run state ----
  std::atomic<int> item{0};
  std::atomic<bool> run_completed{false};
  std::atomic<bool> over_current_watch{false};
  std::atomic<bool> running{false};
  int32_t t1_before = 0, t2_before = 0;
  bool link_opened = false;

  // ---- balance check timer (Timer_EVT_Balance_Check, 250 ms) ----
  void EnableTimer();
  void DisableTimer();
  RecordDelayTimer timer;

  // Every line as it is added (the CLI prints the run as it grows).
  std::function<void(const std::string&)> on_line;

  Guarded<EvtOutcome> outcome;

 private:
  EvtItem& current_item();  // mu_ held
  Context& ctx_;
  mutable std::mutex mu_;
  std::vector<std::string> log_;
  std::vector<EvtItem> items_;
};

}  // namespace bms
