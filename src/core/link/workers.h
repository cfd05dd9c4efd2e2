#pragma once
// Detached worker threads that the application can still wait for at exit.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace bms {

class Workers {
 public:
  // In inline mode start() runs the work on the caller's thread before it
  // returns (deterministic tests with the virtual clock).
  explicit Workers(bool inline_mode = false) : inline_(inline_mode) {}
  ~Workers();

  // Starts one detached worker. False when the thread could not be created.
  bool start(std::function<void()> work);
  // Waits (real time) until no worker runs. True when idle.
  bool wait_idle(int64_t timeout_ms);
  int running() const;
  bool inline_mode() const { return inline_; }
  // Makes start() fail from now on (used once the application shuts down).
  void refuse_new();

 private:
  bool inline_;
  bool refuse_ = false;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  int running_ = 0;
};

}  // namespace bms
