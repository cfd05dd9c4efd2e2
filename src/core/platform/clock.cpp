#include "core/platform/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace bms {

namespace {

std::string Pad(int v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, v);
  return buf;
}

int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

}  // namespace

std::string FormatLocalTime(const LocalTime& t, const std::string& pattern) {
  std::string out;
  for (size_t i = 0; i < pattern.size();) {
    auto starts = [&](const char* code) { return pattern.compare(i, std::char_traits<char>::length(code), code) == 0; };
    if (starts("yyyy")) {
      out += Pad(t.year, 4);
      i += 4;
    } else if (starts("zzz")) {
      out += Pad(t.millisecond, 3);
      i += 3;
    } else if (starts("mm")) {
      out += Pad(t.month, 2);
      i += 2;
    } else if (starts("dd")) {
      out += Pad(t.day, 2);
      i += 2;
    } else if (starts("hh")) {
      out += Pad(t.hour, 2);
      i += 2;
    } else if (starts("nn")) {
      out += Pad(t.minute, 2);
      i += 2;
    } else if (starts("ss")) {
      out += Pad(t.second, 2);
      i += 2;
    } else {
      out += pattern[i++];
    }
  }
  return out;
}

LocalTime AddMilliseconds(const LocalTime& t, int64_t ms) {
  int64_t total = ((DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
  total = total * 1000 + t.millisecond + ms;
  int64_t days = total / 86400000;
  int64_t rem = total % 86400000;
  if (rem < 0) {
    rem += 86400000;
    --days;
  }
  LocalTime r;
  CivilFromDays(days, r.year, r.month, r.day);
  r.hour = static_cast<int>(rem / 3600000);
  r.minute = static_cast<int>(rem / 60000 % 60);
  r.second = static_cast<int>(rem / 1000 % 60);
  r.millisecond = static_cast<int>(rem % 1000);
  return r;
}

int64_t RealClock::now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::sleep_ms(int64_t ms) {
  if (ms <= 0) return;
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return interrupted_.load(); });
}

void RealClock::interrupt() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    interrupted_ = true;
  }
  cv_.notify_all();
}

LocalTime RealClock::local_now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&secs, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return t;
}

VirtualClock::VirtualClock(LocalTime start) : start_(start) {}

int64_t VirtualClock::now_ms() { return now_.load(); }

void VirtualClock::sleep_ms(int64_t ms) {
  if (ms > 0) advance_to(now_.load() + ms);
}

LocalTime VirtualClock::local_now() {
  std::lock_guard<std::mutex> lock(mu_);
  return AddMilliseconds(start_, now_.load());
}

void VirtualClock::set_local_start(LocalTime start) {
  std::lock_guard<std::mutex> lock(mu_);
  start_ = start;
}

void VirtualClock::advance_to(int64_t t_ms) {
  for (;;) {
    std::function<void()> due;
    {
      std::lock_guard<std::mutex> lock(mu_);
      auto it = alarms_.begin();
      if (it != alarms_.end() && it->first <= t_ms) {
        if (it->first > now_.load()) now_ = it->first;
        due = std::move(it->second);
        alarms_.erase(it);
      } else {
        if (t_ms > now_.load()) now_ = t_ms;
        return;
      }
    }
    due();
  }
}

void VirtualClock::at(int64_t t_ms, std::function<void()> fn) {
  std::lock_guard<std::mutex> lock(mu_);
  alarms_.emplace(t_ms, std::move(fn));
}

}  // namespace bms
