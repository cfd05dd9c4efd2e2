#pragma once
// Serves a VirtualPack on a pseudo-terminal, in real time, on a thread of
// its own: the host opens the slave side like any serial device. Used by
// bmssim and by end-to-end tests and benchmarks in-process.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/clock.h"
#include "sim/scenario.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace bms::sim {

class PtyServer {
 public:
  // default_baud paces the answers until the host sets a speed on the line
  // (the speed the host sets on the slave is followed from then on).
  explicit PtyServer(Scenario scenario = DefaultScenario(), int default_baud = 19200);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal and starts serving. False with a reason.
  bool start(std::string* error = nullptr);
  // Stops the thread and closes the pseudo-terminal. Idempotent.
  void stop();
  bool running() const { return running_.load(); }
  // The device path the host opens, e.g. /dev/pts/7 (empty before start()).
  const std::string& slave_path() const { return slave_path_; }

  // Ends the line as if the adapter were pulled: the host sees a hang-up.
  void hangup();

  VirtualPack& pack() { return pack_; }
  WireLog& wire() { return wire_; }
  Clock& clock() { return clock_; }

 private:
  void lift_stale_exclusive();
  static constexpr int kClientCheckMs = 100;
  void run();
  int current_baud() const;
  void wake_thread();

  RealClock clock_;
  VirtualPack pack_;
  WireLog wire_;
  int default_baud_;
  int master_ = -1;
  int slave_keep_ = -1;  // keeps the slave open so the master never sees a hang-up
  int wake_[2] = {-1, -1};
  int locks_fd_ = -1;  // /proc/locks, to tell a living client from a vanished one
  std::string slave_path_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> hangup_{false};
};

}  // namespace bms::sim
