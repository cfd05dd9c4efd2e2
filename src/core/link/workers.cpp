#include "core/link/workers.h"

#include <chrono>
#include <exception>
#include <system_error>
#include <thread>

namespace bms {

Workers::~Workers() { wait_idle(5000); }

bool Workers::start(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (refuse_) return false;
    ++running_;
  }
  auto body = [this, work = std::move(work)] {
    try {
      work();
    } catch (const std::exception&) {
      // A worker never takes the application down; the failure stays local.
    }
    std::lock_guard<std::mutex> lock(mu_);
    --running_;
    cv_.notify_all();
  };
  if (inline_) {
    body();
    return true;
  }
  try {
    std::thread(std::move(body)).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(mu_);
    --running_;
    cv_.notify_all();
    return false;
  }
  return true;
}

bool Workers::wait_idle(int64_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return running_ == 0; });
}

int Workers::running() const {
  std::lock_guard<std::mutex> lock(mu_);
  return running_;
}

void Workers::refuse_new() {
  std::lock_guard<std::mutex> lock(mu_);
  refuse_ = true;
}

}  // namespace bms
