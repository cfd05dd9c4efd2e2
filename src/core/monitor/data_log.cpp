#include "core/monitor/data_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/context.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/platform/files.h"
#include "core/platform/safe_text.h"
#include "core/shell/editions.h"

namespace bms {

bool DataLog::open(const std::string& path) {
  close();
  std::lock_guard<std::mutex> lock(mu_);
  name_taken_ = false;
  write_failed_ = false;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd_ < 0) {
    name_taken_ = errno == EEXIST;
    error_ = "cannot create " + path + ": " + (name_taken_ ? std::string("the name is taken") : std::string(std::strerror(errno)));
    return false;
  }
  path_ = path;
  error_.clear();
  return true;
}

bool DataLog::is_open() const {
  std::lock_guard<std::mutex> lock(mu_);
  return fd_ >= 0;
}

bool DataLog::append(const std::string& text, bool count_as_row) {
  std::lock_guard<std::mutex> lock(mu_);
  if (fd_ < 0) return false;
  const off_t start = ::lseek(fd_, 0, SEEK_END);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      // No torn row: what went out of this one is taken back.
      if (done > 0 && start >= 0 && ::ftruncate(fd_, start) != 0) {
        error_ = "cannot write " + path_ + ": " + std::strerror(err) + " (a partial row is left at its end)";
      } else {
        error_ = "cannot write " + path_ + ": " + std::strerror(err);
      }
      write_failed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
    error_ = "cannot flush " + path_ + ": " + std::strerror(errno);
    write_failed_ = true;
    return false;
  }
  if (count_as_row) {
    complete_since_row_ = false;
    ++rows_written_;
  }
  return true;
}

void DataLog::close() {
  std::lock_guard<std::mutex> lock(mu_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string DataLog::path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return path_;
}

std::string DataLog::error() const {
  std::lock_guard<std::mutex> lock(mu_);
  return error_;
}

bool DataLog::name_taken() const {
  std::lock_guard<std::mutex> lock(mu_);
  return name_taken_;
}

bool DataLog::write_failed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return write_failed_;
}

void DataLog::reset_counts() {
  std::lock_guard<std::mutex> lock(mu_);
  complete_since_row_ = false;
  rows_written_ = rows_skipped_ = 0;
  skip_reason_.clear();
  write_failed_ = false;
  error_.clear();
  path_.clear();
}

void DataLog::note_complete_cycle() {
  std::lock_guard<std::mutex> lock(mu_);
  complete_since_row_ = true;
}

bool DataLog::take_complete_cycle() {
  std::lock_guard<std::mutex> lock(mu_);
  return complete_since_row_;
}

uint32_t DataLog::rows_written() const {
  std::lock_guard<std::mutex> lock(mu_);
  return rows_written_;
}

uint32_t DataLog::rows_skipped() const {
  std::lock_guard<std::mutex> lock(mu_);
  return rows_skipped_;
}

std::string DataLog::skip_reason() const {
  std::lock_guard<std::mutex> lock(mu_);
  return skip_reason_;
}

void DataLog::count_skip(const std::string& reason) {
  std::lock_guard<std::mutex> lock(mu_);
  ++rows_skipped_;
  skip_reason_ = reason;
}

RecordDelayTimer::~RecordDelayTimer() { stop(); }

void RecordDelayTimer::start() {
  uint64_t gen;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) return;
    running_ = true;
    gen = ++generation_;
  }
  if (clock_.is_virtual()) {
    schedule_virtual(gen);
  } else {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    if (thread_.joinable()) thread_.detach();
    thread_ = std::thread([this, gen] { thread_main(gen); });
  }
}

void RecordDelayTimer::stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    running_ = false;
    ++generation_;
  }
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool RecordDelayTimer::running() const {
  std::lock_guard<std::mutex> lock(mu_);
  return running_;
}

void RecordDelayTimer::set_interval_ms(int64_t ms) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    interval_ms_ = ms < 1 ? 1 : ms;
  }
  cv_.notify_all();
}

int64_t RecordDelayTimer::interval_ms() const {
  std::lock_guard<std::mutex> lock(mu_);
  return interval_ms_;
}

void RecordDelayTimer::schedule_virtual(uint64_t gen) {
  auto* vc = static_cast<VirtualClock*>(&clock_);
  vc->at(vc->now_ms() + interval_ms(), [this, gen] {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!running_ || generation_ != gen) return;
    }
    if (on_timer) on_timer();
    bool again;
    {
      std::lock_guard<std::mutex> lock(mu_);
      again = running_ && generation_ == gen;
    }
    if (again) schedule_virtual(gen);
  });
}

void RecordDelayTimer::thread_main(uint64_t gen) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_ms_);
    // An interval change restarts the wait with the new interval.
    const int64_t interval = interval_ms_;
    cv_.wait_until(lock, deadline, [&] { return !running_ || generation_ != gen || interval_ms_ != interval; });
    if (!running_ || generation_ != gen) return;
    if (interval_ms_ != interval) continue;
    lock.unlock();
    if (on_timer) on_timer();
    lock.lock();
    if (!running_ || generation_ != gen) return;
  }
}

// ---- the data log of monitoring ----

namespace {

const char* const kColumns[] = {"Date, ",
                                "Time, ",
                                "Barcode, ",
                                "Shipping Mode, ",
                                "PName, ",
                                "PVer, ",
                                "PSN, ",
                                "Pack Volt(mV), ",
                                "Current (mA), ",
                                "Cell Series, ",
                                "Cell Parallel, ",
                                "Design Capacity, ",
                                "Full Charge Capacity, ",
                                "Remain Capacity, ",
                                "Total Charge Capacity, ",
                                "Cycle Cnt, ",
                                "PSOH, ",
                                "RSOC, ",
                                "T1 Degree C, ",
                                "T2 Degree C, ",
                                "Chg/Dag, ",
                                "OV Flag, ",
                                "UV Flag, ",
                                "OC Flag, ",
                                "SC  Flag, ",
                                "OT Flag, ",
                                "UT Flag, ",
                                "Max VCell, ",
                                "Min VCell, ",
                                "Cell Balance, ",
                                "VCell1, ",
                                "VCell2, ",
                                "VCell3, ",
                                "VCell4, ",
                                "VCell5, ",
                                "VCell6, ",
                                "VCell7, ",
                                "VCell8, ",
                                "VCell9, ",
                                "VCell10, ",
                                "VCell11, ",
                                "VCell12, ",
                                "VCell13, ",
                                "VCell14, "};

bool PrintableBarcode(const std::string& s, bool reject_empty_or_zero) {
  if (reject_empty_or_zero && (s.empty() || s == "0")) return false;
  for (unsigned char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// Reads one barcode storage for the log name: up to 3 attempts, page by page.
void ReadLogBarcodeStorage(Context& ctx, uint16_t address, uint16_t pages) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    PurgeLink(ctx, kPurgeAll);
    bool ok = true;
    for (uint16_t page = 1; page <= pages && ok; ++page) {
      SendRequest(ctx, address, page);
      ctx.clock.sleep_ms(100);
      ok = AwaitEchoDecode(ctx, address, page);
      ctx.clock.sleep_ms(10);
      if (ok && page < pages && pages == 4) ctx.clock.sleep_ms(90);
    }
    if (ok) return;
    ctx.clock.sleep_ms(100);
  }
}

void ReadLogBarcode(Context& ctx) {
  struct Storage {
    uint16_t address, pages;
    bool reject_empty_or_zero;
  };
  for (const Storage& s : {Storage{0x6207, 4, true}, Storage{0x200A, 4, true}, Storage{0x2008, 2, false}}) {
    ctx.FormMain.EditBarCode32.set_text("");
    ReadLogBarcodeStorage(ctx, s.address, s.pages);
    if (PrintableBarcode(ctx.FormMain.EditBarCode32.text(), s.reject_empty_or_zero)) return;
  }
}

}  // namespace

std::string DataLogHeader(bool pq) {
  std::string h;
  if (pq) {
    h = std::string(kColumns[0]) + kColumns[1] + "RTC, ";
    for (size_t i = 2; i <= 42; ++i) h += kColumns[i];
  } else {
    for (const char* c : kColumns) h += c;
  }
  return h + "\r\n";
}

std::string DataLogRow(Context& ctx) {
  TFormMain& m = ctx.FormMain;
  const LocalTime now = ctx.clock.local_now();
  std::string row = FormatLocalTime(now, "yyyy-mm-dd") + ", " + FormatLocalTime(now, "hh:nn:ss") + ".";
  char ms[8];
  std::snprintf(ms, sizeof ms, "%03d", now.millisecond);
  row += ms;
  row += ", ";
  auto add = [&row](const std::string& field) { row += field + ","; };
  // Text from the pack: never a column shift, a forged row or a formula.
  add(CsvTextField(m.EditBarCode32.text()));
  add(m.CheckBoxSippingMode.checked() ? "1" : "0");
  add(CsvTextField(m.EditFWID.text()));
  add(CsvTextField(m.EditFWVer.text()));
  add(m.EditPDSN.empty() ? "null" : CsvTextField(m.EditPDSN.text()));
  for (Control* c : {&m.EditPackVolt, &m.EditPackCurrent, &m.EditCellSeries, &m.EditCellParallel, &m.EditDC, &m.EditFCC, &m.EditRC, &m.EditTCC, &m.EditCycleCnt, &m.EditASOC,
                     &m.EditRSOC, &m.EditT1, &m.EditT2, &m.EditCurrentSign})
    add(c->text());
  for (Control* f : {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF}) add(f->color() == kRed ? "1" : "0");
  for (Control* c : {&m.Edit_HVlot, &m.Edit_LVolt, &m.Edit_VoltDiff}) add(c->text());
  for (int i = 1; i <= 9; ++i) add(m.EditVCellN[i]->text());
  for (int i = 10; i <= 14; ++i) add(m.EditVCellN[i]->empty() ? "null" : m.EditVCellN[i]->text());
  return row + "\r\n";
}

bool OpenDataLog(Context& ctx, bool pq) {
  TFormMain& m = ctx.FormMain;
  const std::string folder = ctx.app.data_folder + "Log_Record/";
  std::string why;
  const bool folder_ok = MakeDirectories(folder, &why);
  const std::string start = FormatLocalTime(ctx.clock.local_now(), "yyyymmdd_hhnnss");
  if (!pq && ExeNameStartsWith(ctx, "TQ58_EVT") && !m.EditEVTBarcode.empty()) {
    m.EditWriteLogBarcode.set_text(m.EditEVTBarcode.text());
  } else if (!pq && ExeNameStartsWith(ctx, "TQ58_ENG")) {
    ReadLogBarcode(ctx);
    m.EditWriteLogBarcode.set_text(m.EditBarCode32.text());
  }
  const std::string barcode = m.EditWriteLogBarcode.text();
  const std::string name = "TQ_" + (barcode.empty() ? std::string("NULL") : SanitizeFileNamePart(barcode)) + "_" + start;
  ctx.Log->reset_counts();
  auto fail = [&ctx](const std::string& text) {
    SetStatusPanel(ctx, 2, "  Log not written: " + text);
    if (ctx.Log->on_problem) ctx.Log->on_problem("log not written: " + text);
    return false;
  };
  if (!folder_ok) return fail(why);
  // The name's number counts up past names already taken (a second run in
  // the same second, a planted link): a log never replaces another file.
  constexpr unsigned long kMaxSequence = 9999;
  for (unsigned long n = 1; n <= kMaxSequence; ++n) {
    const std::string path = folder + name + "_log_" + std::to_string(n) + ".csv";
    if (ctx.Log->open(path)) {
      if (ctx.Log->append(DataLogHeader(pq), false)) return true;
      const std::string error = ctx.Log->error();
      ctx.Log->close();
      return fail(error);
    }
    if (!ctx.Log->name_taken()) return fail(ctx.Log->error());
  }
  return fail("every name " + name + "_log_1.csv to _log_" + std::to_string(kMaxSequence) + ".csv is taken");
}

void WriteDataLogRow(Context& ctx) {
  if (!ctx.Log->is_open()) return;
  if (!ctx.Log->append(DataLogRow(ctx))) {
    const std::string error = ctx.Log->error();
    ctx.Log->close();  // rows after a gap would look continuous: logging ends here
    SetStatusPanel(ctx, 2, "  Log write failed: " + error + "; logging stopped");
    if (ctx.Log->on_problem) ctx.Log->on_problem("log write failed: " + error + "; logging stopped");
  }
}

void SkipDataLogRow(Context& ctx, const std::string& reason) {
  if (!ctx.Log->is_open()) return;
  ctx.Log->count_skip(reason);
  const std::string text = std::to_string(ctx.Log->rows_skipped()) + (ctx.Log->rows_skipped() == 1 ? " row" : " rows") + " not written (" + reason + ")";
  SetStatusPanel(ctx, 2, "  Log: " + text + " ");
  if (ctx.Log->on_problem) ctx.Log->on_problem("log: " + text);
}

void LogCycleRow(Context& ctx, bool completed, const std::string& reason) {
  if (completed) ctx.Log->note_complete_cycle();
  if (!ctx.CycleDone.load()) return;  // nothing is logged before the first complete cycle
  const bool by_timer = ctx.FormMain.TabSheetXPL.visible() || ctx.FormMain.TabSheetEVT.visible();
  if (by_timer) {
    if (!ctx.TimerRecordDelay->running() && completed) {
      WriteDataLogRow(ctx);
      ctx.TimerRecordDelay->start();
      ctx.FormMain.TimerRecordDelayCnt.set_enabled(true);
    }
  } else if (completed) {
    WriteDataLogRow(ctx);
  } else {
    SkipDataLogRow(ctx, reason);
  }
}

void CloseDataLog(Context& ctx) { ctx.Log->close(); }

void TimerRecordDelayCntTimer(Context& ctx) {
  if (!ctx.RunFlag.load()) {
    ctx.TimerRecordDelay->stop();
    ctx.FormMain.TimerRecordDelayCnt.set_enabled(false);
  }
  // A row only holds values read since the previous row.
  if (ctx.Log->take_complete_cycle())
    WriteDataLogRow(ctx);
  else
    SkipDataLogRow(ctx, "no complete cycle since the last row");
}

void CSpinEditRecordDelayChange(Context& ctx) {
  const int seconds = ctx.FormMain.CSpinEditRecordDelay.int_value(1);
  ctx.TimerRecordDelay->set_interval_ms(static_cast<int64_t>(seconds < 1 ? 1 : seconds) * 1000);
}

}  // namespace bms
