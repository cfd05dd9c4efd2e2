#include "core/monitor/data_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace bms {

bool DataLog::open(const std::string& path) {
  close();
  std::lock_guard<std::mutex> lock(mu_);
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = "cannot create " + path + ": " + std::strerror(errno);
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

bool DataLog::append(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "cannot write " + path_ + ": " + std::strerror(errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
    error_ = "cannot flush " + path_ + ": " + std::strerror(errno);
    return false;
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

}  // namespace bms
