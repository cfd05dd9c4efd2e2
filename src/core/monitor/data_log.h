#pragma once
// The CSV data log of monitoring: one file per RUN, one row per sample,
// every row written in one write and flushed.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/platform/clock.h"

namespace bms {

class Context;

class DataLog {
 public:
  ~DataLog() { close(); }
  // Creates the file anew and exclusively, never through a symbolic link.
  // False with error() saying why; name_taken() tells a name already in use
  // (another run, a planted link) from other failures.
  bool open(const std::string& path);
  bool is_open() const;
  // Appends text in one write and flushes it to the disk. A write that
  // fails or comes short is cut off again, so the file ends after a whole
  // row; error() says why and write_failed() stays true for this file.
  // A header is no row: count_as_row false keeps it out of rows_written().
  bool append(const std::string& text, bool count_as_row = true);
  void close();
  std::string path() const;
  std::string error() const;
  bool name_taken() const;
  bool write_failed() const;

  // Row accounting of a run: rows written, rows not written (and the last
  // reason), and whether a complete cycle came since the last row.
  void reset_counts();
  void note_complete_cycle();
  bool take_complete_cycle();
  uint32_t rows_written() const;
  uint32_t rows_skipped() const;
  std::string skip_reason() const;
  void count_skip(const std::string& reason);

  // Called at once (on the thread that met it) with the operator's text of
  // every problem of the log: a row skipped, a write that failed.
  std::function<void(const std::string&)> on_problem;

 private:
  mutable std::mutex mu_;
  int fd_ = -1;
  std::string path_;
  std::string error_;
  bool name_taken_ = false;
  bool write_failed_ = false;
  bool complete_since_row_ = false;
  uint32_t rows_written_ = 0;
  uint32_t rows_skipped_ = 0;
  std::string skip_reason_;
};

// The record-delay timer: fires on_timer every interval while running. With
// a virtual clock it rides on the clock's alarms; otherwise on a thread of
// its own.
class RecordDelayTimer {
 public:
  explicit RecordDelayTimer(Clock& clock) : clock_(clock) {}
  ~RecordDelayTimer();
  void start();
  void stop();
  bool running() const;
  void set_interval_ms(int64_t ms);
  int64_t interval_ms() const;
  std::function<void()> on_timer;

 private:
  void schedule_virtual(uint64_t generation);
  void thread_main(uint64_t generation);
  Clock& clock_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool running_ = false;
  uint64_t generation_ = 0;
  int64_t interval_ms_ = 3000;
  std::thread thread_;
};

}  // namespace bms

namespace bms {

// Header line of the data log (the PQ editions name a clock column).
std::string DataLogHeader(bool pq);
// One row from the texts the display shows, CR LF included.
std::string DataLogRow(Context& ctx);
// Opens the log of this run under <data folder>/Log_Record/. On failure
// polling goes on and status panel 2 says why.
bool OpenDataLog(Context& ctx, bool pq);
// Appends one row when a log is open; a failed write is reported in status
// panel 2 and ends the logging of this run.
void WriteDataLogRow(Context& ctx);
// A row the rules would have written but that is not written, because the
// values of this cycle were not all read: counted, and status panel 2 says
// how many and why.
void SkipDataLogRow(Context& ctx, const std::string& reason);
// Where a log exists and polling decides per cycle: a complete cycle writes
// its row, an incomplete one (after the first complete cycle) is skipped
// with its reason. Where the record-delay timer writes the rows, the first
// complete cycle writes one and starts the timer; a tick writes a row only
// when a cycle completed since the previous row.
void LogCycleRow(Context& ctx, bool completed, const std::string& reason);
void CloseDataLog(Context& ctx);
void TimerRecordDelayCntTimer(Context& ctx);
void CSpinEditRecordDelayChange(Context& ctx);

}  // namespace bms
