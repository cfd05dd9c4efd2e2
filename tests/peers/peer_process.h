#pragma once
// A child process for the tests against other programs (Modbus peers,
// bmssim, bmsmon-cli): standard output and error on pipes, waits bounded by
// deadlines, killed and reaped at the end. posix_spawn, so it is safe in a
// threaded, sanitized test.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace bms::testing {

using PeerClock = std::chrono::steady_clock;

inline PeerClock::time_point InSeconds(int s) { return PeerClock::now() + std::chrono::seconds(s); }

// The full path of an executable on PATH (or the path itself when it has a
// slash and is executable); "" when there is none.
inline std::string FindProgram(const std::string& name) {
  auto executable = [](const std::string& p) { return ::access(p.c_str(), X_OK) == 0; };
  if (name.find('/') != std::string::npos) return executable(name) ? name : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    const size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && executable(dir + "/" + name)) return dir + "/" + name;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return "";
}

class PeerProcess {
 public:
  PeerProcess() = default;
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  ~PeerProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    Close(out_fd_);
    Close(err_fd_);
  }

  bool start(const std::vector<std::string>& argv) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
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
    ::close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  // The next line of standard output (or error, with from_err).
  bool read_line(std::string* line, PeerClock::time_point deadline, bool from_err = false) {
    for (;;) {
      std::string& text = from_err ? err_ : out_;
      size_t& pos = from_err ? err_pos_ : out_pos_;
      const size_t end = text.find('\n', pos);
      if (end != std::string::npos) {
        *line = text.substr(pos, end - pos);
        pos = end + 1;
        return true;
      }
      if ((from_err ? err_fd_ : out_fd_) < 0 || !pump(deadline)) return false;
    }
  }

  // Collects the output until the process ended; its exit code (-signal
  // when a signal ended it), or nothing when the deadline passed first.
  std::optional<int> wait(PeerClock::time_point deadline) {
    while (out_fd_ >= 0 || err_fd_ >= 0)
      if (!pump(deadline)) return std::nullopt;
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  void signal(int sig) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
  }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  bool pump(PeerClock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - PeerClock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2];
    nfds_t n = 0;
    for (int fd : {out_fd_, err_fd_})
      if (fd >= 0) fds[n++] = pollfd{fd, POLLIN, 0};
    if (n == 0) return true;
    if (::poll(fds, n, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      int& fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
      std::string& text = fds[i].fd == out_fd_ ? out_ : err_;
      char buf[4096];
      const ssize_t got = ::read(fd, buf, sizeof buf);
      if (got > 0)
        text.append(buf, static_cast<size_t>(got));
      else if (got == 0 || (errno != EINTR && errno != EAGAIN))
        Close(fd);
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
  size_t out_pos_ = 0, err_pos_ = 0;
  bool reaped_ = false;
};

}  // namespace bms::testing
