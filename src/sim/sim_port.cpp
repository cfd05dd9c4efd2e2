#include "sim/sim_port.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace bms::sim {

SimPort::SimPort(VirtualPack& pack, Clock& clock, WireLog* log) : pack_(pack), clock_(clock), log_(log) {}

SimPort::~SimPort() { close(); }

bool SimPort::fail(PortError e, const std::string& text) {
  error_ = e;
  error_text_ = text;
  return false;
}

bool SimPort::unplugged_now() const {
  const auto t = pack_.unplug_time();
  return t && clock_.now_ms() >= *t;
}

bool SimPort::open(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string name = path.empty() ? std::string(kVirtualPortName) : path;
  if (open_) return fail(PortError::Busy, PortErrorText(PortError::Busy, name));
  const PortError knob = pack_.open_error();
  if (knob != PortError::None) return fail(knob, PortErrorText(knob, name));
  if (unplugged_now()) return fail(PortError::NotFound, PortErrorText(PortError::NotFound, name));
  if (!pack_.claim()) return fail(PortError::Busy, PortErrorText(PortError::Busy, name));
  open_ = true;
  cancelled_ = false;
  name_ = name;
  in_.clear();
  tx_.clear();
  host_line_free_us_ = 0;
  error_ = PortError::None;
  error_text_.clear();
  return true;
}

void SimPort::close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (open_) pack_.release();
    open_ = false;
    cancelled_ = false;
    in_.clear();
    tx_.clear();
  }
  cv_.notify_all();
}

bool SimPort::is_open() const {
  std::lock_guard<std::mutex> lock(mu_);
  return open_;
}

bool SimPort::usable() {
  if (cancelled_) return fail(PortError::Cancelled, PortErrorText(PortError::Cancelled, name_));
  if (!open_) return fail(PortError::Io, "the serial port " + (name_.empty() ? std::string("(none)") : name_) + " is not open");
  if (unplugged_now()) {
    in_.clear();
    return fail(PortError::Gone, PortErrorText(PortError::Gone, name_));
  }
  error_ = PortError::None;
  error_text_.clear();
  return true;
}

bool SimPort::get_line(LineSettings& out) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  out = line_;
  return true;
}

bool SimPort::set_line(const LineSettings& in) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  if (in.baud <= 0 || in.data_bits < 5 || in.data_bits > 8) return fail(PortError::ConfigFailed, PortErrorText(PortError::ConfigFailed, name_));
  line_ = in;
  return true;
}

bool SimPort::set_queue_sizes(size_t, size_t) {
  std::unique_lock<std::mutex> lock(mu_);
  return usable();
}

bool SimPort::set_timeouts(const PortTimeouts& t) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  timeouts_ = t;
  return true;
}

PortTimeouts SimPort::timeouts() const {
  std::lock_guard<std::mutex> lock(mu_);
  return timeouts_;
}

LineSettings SimPort::line() const {
  std::lock_guard<std::mutex> lock(mu_);
  return line_;
}

// Where a read of n bytes started at t0 ends and how many bytes it takes,
// from the arrival times of the queued bytes.
SimPort::Plan SimPort::plan_read(int64_t t0_us, size_t n) const {
  const int64_t total_ms = timeouts_.read_total(n);
  // No total time-out configured: wait at most a day rather than for ever.
  const int64_t end_total = t0_us + (total_ms > 0 ? total_ms : int64_t{86400000}) * 1000;
  const int64_t interval = timeouts_.read_interval > 0 ? int64_t{timeouts_.read_interval} * 1000 : -1;
  Plan p;
  bool have_last = false;
  int64_t last = 0;
  p.end_us = end_total;
  for (const InByte& b : in_) {
    const int64_t at = std::max(b.at_us, t0_us);
    const int64_t limit = have_last && interval >= 0 ? std::min(last + interval, end_total) : end_total;
    if (at > limit) {
      p.end_us = limit;
      break;
    }
    ++p.count;
    last = at;
    have_last = true;
    if (p.count == n) {
      p.end_us = at;
      break;
    }
    p.end_us = interval >= 0 ? std::min(last + interval, end_total) : end_total;
  }
  const auto unplug_ms = pack_.unplug_time();
  if (unplug_ms && *unplug_ms * 1000 <= p.end_us) {
    const int64_t u = std::max(*unplug_ms * 1000, t0_us);
    size_t before = 0;
    for (size_t i = 0; i < p.count && std::max(in_[i].at_us, t0_us) < u; ++i) ++before;
    p.count = before;
    p.end_us = u;
    p.gone = true;
  }
  return p;
}

bool SimPort::read(uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  if (n == 0) return true;
  const int64_t t0 = now_us();
  deliver_tx(INT64_MAX);  // nothing purges during a read: every queued byte leaves
  Plan plan = plan_read(t0, n);
  if (clock_.is_virtual()) {
    // Nothing else sends on this line while the host waits, so the plan is
    // final: move the time to its end. Alarms run there without our lock.
    lock.unlock();
    if (plan.end_us > t0) {
      const int64_t end_ms = (plan.end_us + 999) / 1000;
      if (auto* vc = dynamic_cast<VirtualClock*>(&clock_)) {
        vc->advance_to(end_ms);
      } else {
        clock_.sleep_ms(end_ms - clock_.now_ms());
      }
    }
    lock.lock();
    plan = plan_read(t0, n);  // an alarm may have pulled the cable meanwhile
    if (cancelled_) return fail(PortError::Cancelled, PortErrorText(PortError::Cancelled, name_));
    if (!open_) return fail(PortError::Io, "the serial port " + name_ + " was closed during a read");
  } else {
    for (;;) {
      if (cancelled_) return fail(PortError::Cancelled, PortErrorText(PortError::Cancelled, name_));
      if (!open_) return fail(PortError::Io, "the serial port " + name_ + " was closed during a read");
      plan = plan_read(t0, n);
      const int64_t now = now_us();
      if (now >= plan.end_us) break;
      cv_.wait_for(lock, std::chrono::microseconds(plan.end_us - now));
    }
  }
  const size_t take = std::min(plan.count, in_.size());
  for (size_t i = 0; i < take; ++i) buf[i] = in_[i].value;
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(take));
  *got = take;
  if (plan.gone) {
    in_.clear();
    return fail(PortError::Gone, PortErrorText(PortError::Gone, name_));
  }
  return true;
}

void SimPort::deliver_tx(int64_t until_us) {
  while (!tx_.empty()) {
    TxWrite& w = tx_.front();
    size_t left = w.delivered;
    while (left < w.bytes.size() && w.start_us + WireOffsetUs(left + 1, w.spacing_us) <= until_us) ++left;
    if (left > w.delivered) {
      const int64_t start = w.start_us + WireOffsetUs(w.delivered, w.spacing_us);
      const uint8_t* data = w.bytes.data() + w.delivered;
      const size_t count = left - w.delivered;
      w.delivered = left;
      if (log_) log_->record(start, Direction::HostToPack, data, count, w.spacing_us);
      const std::vector<Burst> bursts = pack_.paced(pack_.receive(data, count, start, line_.baud));
      const auto unplug_ms = pack_.unplug_time();
      for (const Burst& b : bursts) {
        const int64_t first = start + b.offset_us;
        size_t keep = b.bytes.size();
        if (unplug_ms) {
          // Bytes that would start after the cable was pulled never arrive.
          keep = 0;
          while (keep < b.bytes.size() && first + WireOffsetUs(keep, b.spacing_us) < *unplug_ms * 1000) ++keep;
        }
        for (size_t j = 0; j < keep; ++j) {
          const InByte in{first + WireOffsetUs(j + 1, b.spacing_us), b.bytes[j]};
          if (!in_.empty() && in_.back().at_us > in.at_us) {
            in_.insert(std::upper_bound(in_.begin(), in_.end(), in.at_us, [](int64_t t, const InByte& x) { return t < x.at_us; }), in);
          } else {
            in_.push_back(in);
          }
        }
        if (log_ && keep > 0) log_->record(first, Direction::PackToHost, b.bytes.data(), keep, b.spacing_us);
      }
    }
    if (w.delivered < w.bytes.size()) break;
    tx_.pop_front();
  }
}

bool SimPort::write(const uint8_t* buf, size_t n, size_t* written) {
  *written = 0;
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  if (n == 0) return true;
  const double spacing = ByteTimeUs(line_.baud);
  const int64_t start = std::max(now_us(), host_line_free_us_);
  host_line_free_us_ = start + WireOffsetUs(n, spacing);
  tx_.push_back(TxWrite{start, std::vector<uint8_t>(buf, buf + n), 0, spacing});
  // Synchronous: the call returns when the last byte has left.
  const int64_t done_us = host_line_free_us_;
  const int64_t done_ms = (done_us + 999) / 1000;
  lock.unlock();
  if (clock_.now_ms() < done_ms) {
    if (auto* vc = dynamic_cast<VirtualClock*>(&clock_); vc != nullptr && clock_.is_virtual()) {
      vc->advance_to(done_ms);
    } else {
      clock_.sleep_ms(done_ms - clock_.now_ms());
    }
  }
  lock.lock();
  if (cancelled_) return fail(PortError::Cancelled, PortErrorText(PortError::Cancelled, name_));
  if (!open_) return fail(PortError::Io, "the serial port " + name_ + " was closed during a write");
  deliver_tx(done_us);
  *written = n;
  lock.unlock();
  cv_.notify_all();
  return true;
}

bool SimPort::purge(unsigned flags) {
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  const int64_t now = now_us();
  deliver_tx(now);
  if (flags & (kPurgeTxClear | kPurgeTxAbort)) {
    tx_.clear();  // what has not left yet never reaches the pack
    host_line_free_us_ = std::min(host_line_free_us_, now);
  }
  if (flags & kPurgeRxClear) {
    while (!in_.empty() && in_.front().at_us <= now) in_.pop_front();
  }
  return true;
}

bool SimPort::bytes_waiting(size_t* n) {
  *n = 0;
  std::unique_lock<std::mutex> lock(mu_);
  if (!usable()) return false;
  const int64_t now = now_us();
  deliver_tx(now);
  for (const InByte& b : in_) {
    if (b.at_us > now) break;
    ++*n;
  }
  return true;
}

void SimPort::cancel() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    cancelled_ = true;
  }
  cv_.notify_all();
}

PortError SimPort::error() const {
  std::lock_guard<std::mutex> lock(mu_);
  return error_;
}

std::string SimPort::error_text() const {
  std::lock_guard<std::mutex> lock(mu_);
  return error_text_;
}

}  // namespace bms::sim
