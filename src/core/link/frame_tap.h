#pragma once
// The link-layer tap: every byte written to and read from the link, grouped
// into frames as the link sees them, stamped with the clock's milliseconds
// and handed to listeners through bounded queues. A queue never blocks the
// link: when it is full the new frame is dropped and counted, and the next
// frame that gets through says how many went before it. Without a listener
// the link pays one relaxed atomic load per transfer.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "core/link/serial_port.h"

namespace bms {

class Clock;

enum class FrameDirection : uint8_t { Out, In };

struct TappedFrame {
  uint64_t seq = 0;  // 1, 2, 3 ... over all frames offered to this queue
  int64_t t_ms = 0;  // out: the write started; in: the read handed the bytes over
  FrameDirection dir = FrameDirection::Out;
  uint64_t skipped_before = 0;  // frames dropped since the previous frame that got through
  std::vector<uint8_t> bytes;
};

// A bounded queue of frames for one listener. push() is called on the link's
// thread, take() on the listener's; both hold the lock for a constant time.
class FrameQueue {
 public:
  explicit FrameQueue(size_t capacity);
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;

  size_t capacity() const { return capacity_; }
  // Queues the frame, or drops and counts it when capacity frames wait.
  void push(int64_t t_ms, FrameDirection dir, const uint8_t* bytes, size_t n);
  // Hands over every waiting frame, oldest first (appended to out).
  void take(std::vector<TappedFrame>& out);
  // Frames dropped so far, and those dropped since the last frame that got
  // into the queue (the next frame that gets in announces them).
  uint64_t dropped() const;
  uint64_t dropped_pending() const;
  uint64_t offered() const;

 private:
  const size_t capacity_;
  mutable std::mutex mu_;
  std::deque<TappedFrame> frames_;
  uint64_t seq_ = 0;
  uint64_t dropped_ = 0;
  uint64_t dropped_since_last_ = 0;
};

// Where the link hands its frames: the point every listener attaches to.
// Outgoing bytes are one frame per write; incoming bytes of one read are
// cut into frames by SplitIncoming (core/link/frame_describe.h).
class FrameTapPoint {
 public:
  bool listening() const { return listeners_.load(std::memory_order_relaxed) != 0; }
  // After detach() returns, the queue gets no more frames.
  void attach(std::shared_ptr<FrameQueue> q);
  void detach(const std::shared_ptr<FrameQueue>& q);

  // One write that started at t_ms; one read that returned at t_ms.
  void written(int64_t t_ms, const uint8_t* bytes, size_t n);
  void read(int64_t t_ms, const uint8_t* bytes, size_t n);

 private:
  void offer(int64_t t_ms, FrameDirection dir, const uint8_t* bytes, size_t n);

  std::atomic<int> listeners_{0};
  std::mutex mu_;
  std::vector<std::shared_ptr<FrameQueue>> queues_;
};

// A port that reports its transfers to a tap point; for ports the link opens
// outside LinkPort (the I2C gateway). Everything else is passed on.
std::unique_ptr<SerialPort> TapPort(std::unique_ptr<SerialPort> inner, FrameTapPoint& tap, Clock& clock);

}  // namespace bms
