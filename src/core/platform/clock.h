#pragma once
// Time source of the whole core. Every wait of the link layer, the polling
// loops and the commands goes through a Clock, so tests can run a ten-second
// time-out in microseconds with VirtualClock.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace bms {

// A local calendar reading with milliseconds.
struct LocalTime {
  int year = 2000, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Formats with the codes yyyy, mm, dd, hh, nn (minutes), ss, zzz (ms).
std::string FormatLocalTime(const LocalTime& t, const std::string& pattern);

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds since an arbitrary origin.
  virtual int64_t now_ms() = 0;
  // Sleeps for ms milliseconds (returns early after interrupt()).
  virtual void sleep_ms(int64_t ms) = 0;
  // Local wall-clock date and time.
  virtual LocalTime local_now() = 0;
  // Wakes every sleeper and makes later sleeps return at once; used when the
  // application shuts down so workers finish promptly.
  virtual void interrupt() = 0;
  virtual bool interrupted() const = 0;
  virtual bool is_virtual() const { return false; }
};

class RealClock final : public Clock {
 public:
  int64_t now_ms() override;
  void sleep_ms(int64_t ms) override;
  LocalTime local_now() override;
  void interrupt() override;
  bool interrupted() const override { return interrupted_.load(); }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::atomic<bool> interrupted_{false};
};

// Time that moves only when somebody sleeps (or advance() is called).
// Alarms let a test act at a given virtual instant (press STOP, pull the
// cable...). Thread-safe; alarms run on the thread that moved the time.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(LocalTime start = {2026, 12, 9, 0, 30, 15, 0});
  int64_t now_ms() override;
  void sleep_ms(int64_t ms) override;
  LocalTime local_now() override;
  void interrupt() override { interrupted_ = true; }
  bool interrupted() const override { return interrupted_.load(); }
  bool is_virtual() const override { return true; }

  // Moves the time forward to t (never backwards), running due alarms in
  // order of their instant.
  void advance_to(int64_t t_ms);
  void advance(int64_t ms) { advance_to(now_ms() + ms); }
  // Runs fn once when the virtual time reaches t_ms.
  void at(int64_t t_ms, std::function<void()> fn);
  void set_local_start(LocalTime start);

 private:
  std::mutex mu_;
  std::atomic<int64_t> now_{0};
  LocalTime start_;
  std::multimap<int64_t, std::function<void()>> alarms_;
  std::atomic<bool> interrupted_{false};
};

// Adds ms milliseconds to a calendar reading (proleptic Gregorian).
LocalTime AddMilliseconds(const LocalTime& t, int64_t ms);

}  // namespace bms
