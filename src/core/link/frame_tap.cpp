#include "core/link/frame_tap.h"

#include <algorithm>
#include <utility>

#include "core/link/frame_describe.h"
#include "core/platform/clock.h"

namespace bms {

FrameQueue::FrameQueue(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

void FrameQueue::push(int64_t t_ms, FrameDirection dir, const uint8_t* bytes, size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  ++seq_;
  if (frames_.size() >= capacity_) {
    ++dropped_;
    ++dropped_since_last_;
    return;
  }
  TappedFrame f;
  f.seq = seq_;
  f.t_ms = t_ms;
  f.dir = dir;
  f.skipped_before = dropped_since_last_;
  dropped_since_last_ = 0;
  f.bytes.assign(bytes, bytes + n);
  frames_.push_back(std::move(f));
}

void FrameQueue::take(std::vector<TappedFrame>& out) {
  std::deque<TappedFrame> got;
  {
    std::lock_guard<std::mutex> lock(mu_);
    got.swap(frames_);
  }
  for (TappedFrame& f : got) out.push_back(std::move(f));
}

uint64_t FrameQueue::dropped() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dropped_;
}

uint64_t FrameQueue::dropped_pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dropped_since_last_;
}

uint64_t FrameQueue::offered() const {
  std::lock_guard<std::mutex> lock(mu_);
  return seq_;
}

void FrameTapPoint::attach(std::shared_ptr<FrameQueue> q) {
  if (!q) return;
  std::lock_guard<std::mutex> lock(mu_);
  queues_.push_back(std::move(q));
  listeners_.store(static_cast<int>(queues_.size()), std::memory_order_relaxed);
}

void FrameTapPoint::detach(const std::shared_ptr<FrameQueue>& q) {
  std::lock_guard<std::mutex> lock(mu_);
  queues_.erase(std::remove(queues_.begin(), queues_.end(), q), queues_.end());
  listeners_.store(static_cast<int>(queues_.size()), std::memory_order_relaxed);
}

void FrameTapPoint::offer(int64_t t_ms, FrameDirection dir, const uint8_t* bytes, size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& q : queues_) q->push(t_ms, dir, bytes, n);
}

void FrameTapPoint::written(int64_t t_ms, const uint8_t* bytes, size_t n) {
  if (n > 0) offer(t_ms, FrameDirection::Out, bytes, n);
}

void FrameTapPoint::read(int64_t t_ms, const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  size_t pos = 0;
  for (const size_t len : SplitIncoming(bytes, n)) {
    offer(t_ms, FrameDirection::In, bytes + pos, len);
    pos += len;
  }
}

namespace {

class TappedPort final : public SerialPort {
 public:
  TappedPort(std::unique_ptr<SerialPort> inner, FrameTapPoint& tap, Clock& clock) : inner_(std::move(inner)), tap_(tap), clock_(clock) {}

  bool open(const std::string& path) override { return inner_->open(path); }
  void close() override { inner_->close(); }
  bool is_open() const override { return inner_->is_open(); }
  bool get_line(LineSettings& out) override { return inner_->get_line(out); }
  bool set_line(const LineSettings& in) override { return inner_->set_line(in); }
  bool set_queue_sizes(size_t in, size_t out) override { return inner_->set_queue_sizes(in, out); }
  bool set_timeouts(const PortTimeouts& t) override { return inner_->set_timeouts(t); }
  bool read(uint8_t* buf, size_t n, size_t* got) override {
    const bool ok = inner_->read(buf, n, got);
    if (tap_.listening()) tap_.read(clock_.now_ms(), buf, *got);
    return ok;
  }
  bool write(const uint8_t* buf, size_t n, size_t* written) override {
    const bool tap = tap_.listening();
    const int64_t t0 = tap ? clock_.now_ms() : 0;
    const bool ok = inner_->write(buf, n, written);
    if (tap) tap_.written(t0, buf, *written);
    return ok;
  }
  bool purge(unsigned flags) override { return inner_->purge(flags); }
  bool bytes_waiting(size_t* n) override { return inner_->bytes_waiting(n); }
  void cancel() override { inner_->cancel(); }
  PortError error() const override { return inner_->error(); }
  std::string error_text() const override { return inner_->error_text(); }

 private:
  std::unique_ptr<SerialPort> inner_;
  FrameTapPoint& tap_;
  Clock& clock_;
};

}  // namespace

std::unique_ptr<SerialPort> TapPort(std::unique_ptr<SerialPort> inner, FrameTapPoint& tap, Clock& clock) {
  if (!inner) return inner;
  return std::make_unique<TappedPort>(std::move(inner), tap, clock);
}

}  // namespace bms
