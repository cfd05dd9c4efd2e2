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
  // Creates (replaces) the file. False with error() saying why.
  bool open(const std::string& path);
  bool is_open() const;
  // Appends text in one write and flushes it to the disk.
  bool append(const std::string& text);
  void close();
  std::string path() const;
  std::string error() const;

 private:
  mutable std::mutex mu_;
  int fd_ = -1;
  std::string path_;
  std::string error_;
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
// panel 2.
void WriteDataLogRow(Context& ctx);
void CloseDataLog(Context& ctx);
void TimerRecordDelayCntTimer(Context& ctx);
void CSpinEditRecordDelayChange(Context& ctx);

}  // namespace bms
