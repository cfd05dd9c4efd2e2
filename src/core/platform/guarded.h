#pragma once
#include <mutex>
#include <utility>

namespace bms {

// A value shared between threads: every access holds its lock.
template <typename T>
class Guarded {
 public:
  template <typename F>
  auto with(F&& f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(value_);
  }
  template <typename F>
  auto with(F&& f) const {
    std::lock_guard<std::mutex> lock(mu_);
    return f(value_);
  }
  T get() const {
    std::lock_guard<std::mutex> lock(mu_);
    return value_;
  }
  void set(T v) {
    std::lock_guard<std::mutex> lock(mu_);
    value_ = std::move(v);
  }

 private:
  mutable std::mutex mu_;
  T value_{};
};

}  // namespace bms
