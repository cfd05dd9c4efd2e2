#pragma once
// The real-port campaigns of bmscampaign: the real serial layer against the
// virtual pack of bmssim on a pseudo-terminal, the real clock, repeated many
// times with seeded random moments. Each campaign prints its figures and
// returns 0, or 1 when one of its checks was violated.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace campaign {

using SteadyClock = std::chrono::steady_clock;

struct Options {
  long count = 1000;
  uint64_t seed = 1;
  std::string bmssim;  // path of the bmssim executable
  std::string cli;     // path of the bmsmon-cli executable
  std::string work;    // folder for links, logs and data (created, kept on a violation)
  bool verbose = false;
};

int RunUnplug(const Options& o);
int RunQuit(const Options& o);
int RunKill(const Options& o);

// ---- helpers shared by the campaigns ----

double MsSince(SteadyClock::time_point since);
// Processor time of this process so far, in ms.
double ProcessCpuMs();
// Open descriptors of this process.
int OpenDescriptorCount();
// Blocks for ms on nothing (the pauses between the steps of a campaign).
void PauseMs(double ms);

// Worst, median and count of a series of times.
struct Series {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  double worst() const;
  double median() const;
  std::string text() const;  // "median M ms, worst W ms"
};

// Counts the violations of one campaign and says each one as it happens.
class Verdict {
 public:
  explicit Verdict(std::string name) : name_(std::move(name)) {}
  void fail(long iteration, const std::string& what);
  long violations() const { return violations_; }
  int exit_status() const { return violations_ == 0 ? 0 : 1; }

 private:
  std::string name_;
  long violations_ = 0;
};

// A child process with its standard output on a pipe (its standard error
// on a file or /dev/null), started with posix_spawn, default signal
// dispositions and no blocked signals.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  bool start(const std::vector<std::string>& argv, const std::string& stderr_file = "/dev/null");
  // Collects standard output until deadline or its end; the next whole
  // line (without the line end) when one came.
  std::optional<std::string> read_line(SteadyClock::time_point deadline);
  // Collects standard output until the deadline, or until it ends.
  void collect_until(SteadyClock::time_point deadline);
  // Collects standard output until it ends (the process and every copy of
  // its pipe have gone).
  void drain();
  // Stops reading its output (a process that writes no more lines).
  void close_output();
  void signal(int sig);
  // Reaps the process (blocking); its wait status.
  int wait();
  pid_t pid() const { return pid_; }
  const std::string& out() const { return out_; }
  const std::string& error() const { return error_; }
  // Number of whole lines of standard output that start with prefix.
  size_t count_lines(const std::string& prefix) const;

 private:
  bool pump(int timeout_ms);
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  int out_fd_ = -1;
  std::string out_;
  size_t line_pos_ = 0;
  std::string error_;
};

// bmssim started with args; device() is the pseudo-terminal it serves.
class Sim {
 public:
  bool start(const Options& o, const std::vector<std::string>& args, std::string* why);
  void kill_now();  // SIGKILL and reap: the pack's side of the line is gone at once
  void stop();      // SIGTERM and reap
  const std::string& device() const { return device_; }
  pid_t pid() const { return child_ ? child_->pid() : -1; }

 private:
  std::unique_ptr<Child> child_;
  std::string device_;
};

}  // namespace campaign
