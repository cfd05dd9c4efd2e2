#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "campaign.h"

extern char** environ;

namespace campaign {

double MsSince(SteadyClock::time_point since) { return std::chrono::duration<double, std::milli>(SteadyClock::now() - since).count(); }

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++count;
  closedir(d);
  return count - 1;  // the descriptor of the listing itself
}

void PauseMs(double ms) {
  if (ms <= 0) return;
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>((ms - static_cast<double>(static_cast<long>(ms / 1000)) * 1000) * 1e6)};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

double Series::worst() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }

double Series::median() const {
  if (values.empty()) return 0;
  std::vector<double> v = values;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Series::text() const {
  char buf[96];
  std::snprintf(buf, sizeof buf, "median %.1f ms, worst %.1f ms", median(), worst());
  return buf;
}

void Verdict::fail(long iteration, const std::string& what) {
  ++violations_;
  std::fprintf(stderr, "%s: iteration %ld: %s\n", name_.c_str(), iteration, what.c_str());
}

// ---- Child ----

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    wait();
  }
  close_output();
}

bool Child::start(const std::vector<std::string>& argv, const std::string& stderr_file) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderr_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(out[1]);
  out_fd_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    error_ = "posix_spawn " + argv[0] + ": " + std::strerror(rc);
    close_output();
    return false;
  }
  return true;
}

bool Child::pump(int timeout_ms) {
  if (out_fd_ < 0) return false;
  pollfd p{out_fd_, POLLIN, 0};
  const int rc = ::poll(&p, 1, std::max(0, timeout_ms));
  if (rc < 0 && errno == EINTR) return true;
  if (rc <= 0) return rc == 0;
  char buf[4096];
  const ssize_t got = ::read(out_fd_, buf, sizeof buf);
  if (got > 0) {
    out_.append(buf, static_cast<size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    close_output();
    return false;
  }
  return true;
}

std::optional<std::string> Child::read_line(SteadyClock::time_point deadline) {
  for (;;) {
    const size_t end = out_.find('\n', line_pos_);
    if (end != std::string::npos) {
      std::string line = out_.substr(line_pos_, end - line_pos_);
      line_pos_ = end + 1;
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0 || !pump(static_cast<int>(std::min<int64_t>(left, 1000)))) return std::nullopt;
  }
}

void Child::collect_until(SteadyClock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0 || !pump(static_cast<int>(std::min<int64_t>(left, 1000)))) return;
  }
}

void Child::drain() {
  while (pump(1000)) {
  }
}

void Child::close_output() {
  if (out_fd_ >= 0) ::close(out_fd_);
  out_fd_ = -1;
}

void Child::signal(int sig) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

int Child::wait() {
  if (pid_ <= 0 || reaped_) return status_;
  while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  return status_;
}

size_t Child::count_lines(const std::string& prefix) const {
  size_t n = 0;
  for (size_t pos = 0; pos < out_.size();) {
    const size_t end = out_.find('\n', pos);
    if (end == std::string::npos) break;
    if (out_.compare(pos, prefix.size(), prefix) == 0) ++n;
    pos = end + 1;
  }
  return n;
}

// ---- Sim ----

bool Sim::start(const Options& o, const std::vector<std::string>& args, std::string* why) {
  child_ = std::make_unique<Child>();
  std::vector<std::string> argv{o.bmssim};
  argv.insert(argv.end(), args.begin(), args.end());
  if (!child_->start(argv, o.work + "/bmssim.err")) {
    *why = child_->error();
    return false;
  }
  const std::optional<std::string> line = child_->read_line(SteadyClock::now() + std::chrono::seconds(30));
  if (!line || line->rfind("/dev/", 0) != 0) {
    *why = "bmssim did not name its device (see " + o.work + "/bmssim.err)";
    return false;
  }
  device_ = *line;
  child_->close_output();  // bmssim prints nothing more on its standard output
  return true;
}

void Sim::kill_now() {
  if (!child_) return;
  child_->signal(SIGKILL);
  child_->wait();
  child_.reset();
}

void Sim::stop() {
  if (!child_) return;
  child_->signal(SIGTERM);
  child_->wait();
  child_.reset();
}

}  // namespace campaign
