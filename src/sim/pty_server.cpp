#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bms::sim {

namespace {

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int BaudOf(speed_t s) {
  switch (s) {
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

}  // namespace

PtyServer::PtyServer(Scenario scenario, int default_baud) : pack_(clock_, std::move(scenario)), default_baud_(default_baud > 0 ? default_baud : 19200) {}

PtyServer::~PtyServer() { stop(); }

bool PtyServer::start(std::string* error) {
  if (running_) return true;
  auto failed = [&](const std::string& why) {
    if (error) *error = why;
    CloseFd(master_);
    CloseFd(slave_keep_);
    CloseFd(wake_[0]);
    CloseFd(wake_[1]);
    return false;
  };
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return failed(Errno("posix_openpt"));
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  if (::grantpt(master_) != 0) return failed(Errno("grantpt"));
  if (::unlockpt(master_) != 0) return failed(Errno("unlockpt"));
  char name[256];
  if (::ptsname_r(master_, name, sizeof name) != 0) return failed(Errno("ptsname"));
  slave_path_ = name;
  slave_keep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_keep_ < 0) return failed(Errno("open pseudo-terminal slave"));
  termios tio{};
  if (::tcgetattr(slave_keep_, &tio) == 0) {
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    const speed_t speed = default_baud_ == 9600 ? B9600 : B19200;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    ::tcsetattr(slave_keep_, TCSANOW, &tio);
  }
  const int fl = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, fl | O_NONBLOCK);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return failed(Errno("pipe"));
  locks_fd_ = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
  stop_ = false;
  hangup_ = false;
  running_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void PtyServer::wake_thread() {
  if (wake_[1] >= 0) {
    const char c = 1;
    [[maybe_unused]] const ssize_t r = ::write(wake_[1], &c, 1);
  }
}

void PtyServer::stop() {
  if (thread_.joinable()) {
    stop_ = true;
    wake_thread();
    thread_.join();
  }
  running_ = false;
  CloseFd(master_);
  CloseFd(slave_keep_);
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
  CloseFd(locks_fd_);
}

void PtyServer::hangup() {
  hangup_ = true;
  wake_thread();
}

int PtyServer::current_baud() const {
  termios tio{};
  if (slave_keep_ >= 0 && ::tcgetattr(slave_keep_, &tio) == 0) {
    const int b = BaudOf(::cfgetospeed(&tio));
    if (b > 0) return b;
  }
  return default_baud_;
}

namespace {

// True when some process holds an advisory (flock) lock on the file with
// this device and inode: /proc/locks (kept open in locks_fd, read again from
// its start each time, so the check opens no descriptor) lists them as
// MAJ:MIN:INODE.
bool FlockHeld(int locks_fd, dev_t dev, ino_t ino) {
  if (locks_fd < 0) return true;  // cannot tell: leave the flag alone
  std::string text;
  char buf[4096];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(locks_fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return true;
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    at += n;
  }
  char want[64];
  std::snprintf(want, sizeof want, " %02x:%02x:%lu ", major(dev), minor(dev), static_cast<unsigned long>(ino));
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start) + " ";
    if (line.find("FLOCK") != std::string::npos && line.find(want) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

// A client opens the port with TIOCEXCL after taking its flock. On a real
// serial device the kernel drops the exclusive flag with the last close;
// here the server's own descriptor keeps the slave open, so a client that
// died (kill -9) would leave the flag behind and lock every other user out.
// The flag without a lock means its client has gone: lift it.
void PtyServer::lift_stale_exclusive() {
  if (slave_keep_ < 0) return;
  int exclusive = 0;
  if (::ioctl(slave_keep_, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
  struct stat st {};
  if (::fstat(slave_keep_, &st) != 0) return;
  if (!FlockHeld(locks_fd_, st.st_dev, st.st_ino)) ::ioctl(slave_keep_, TIOCNXCL);
}

void PtyServer::run() {
  // Answers not yet sent, by the instant (us of the clock) their first byte is due.
  std::multimap<int64_t, Burst> due;
  auto now_us = [this] { return clock_.now_ms() * 1000; };
  uint8_t buf[4096];
  while (!stop_) {
    if (hangup_ && master_ >= 0) {
      due.clear();
      CloseFd(slave_keep_);
      CloseFd(master_);
    }
    lift_stale_exclusive();
    int timeout = kClientCheckMs;  // also how soon a vanished client's flag is lifted
    if (!due.empty()) {
      const int64_t wait_us = due.begin()->first - now_us();
      timeout = wait_us <= 0 ? 0 : std::min(kClientCheckMs, static_cast<int>((wait_us + 999) / 1000));
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {master_, POLLIN, 0}};
    const nfds_t nfds = master_ >= 0 ? 2 : 1;
    const int rc = ::poll(fds, nfds, timeout);
    if (rc < 0 && errno != EINTR) break;
    if (rc > 0 && (fds[0].revents & POLLIN)) {
      while (::read(wake_[0], buf, sizeof buf) > 0) {
      }
    }
    if (stop_) break;
    if (rc > 0 && nfds == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0) {
        const int baud = current_baud();
        const double spacing = ByteTimeUs(baud);
        // A pseudo-terminal delivers at once; the pack still sees the request
        // take its time on the line before it answers.
        const int64_t t = now_us();
        wire_.record(t, Direction::HostToPack, buf, static_cast<size_t>(n), spacing);
        for (Burst& b : pack_.receive(buf, static_cast<size_t>(n), t, baud)) due.emplace(t + b.offset_us, std::move(b));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // The master failed (should not happen while the slave is kept open):
        // pause briefly instead of spinning.
        pollfd w{wake_[0], POLLIN, 0};
        ::poll(&w, 1, 10);
      }
    }
    const int64_t now = now_us();
    while (!due.empty() && due.begin()->first <= now) {
      Burst b = std::move(due.begin()->second);
      due.erase(due.begin());
      if (master_ < 0) continue;
      // Logged before it is written, so a host that has the bytes finds them in the log.
      wire_.record(now, Direction::PackToHost, b.bytes.data(), b.bytes.size(), b.spacing_us);
      size_t off = 0;
      while (off < b.bytes.size()) {
        const ssize_t w = ::write(master_, b.bytes.data() + off, b.bytes.size() - off);
        if (w > 0) {
          off += static_cast<size_t>(w);
        } else if (w < 0 && errno == EINTR) {
          continue;
        } else {
          break;  // the host's input queue is full: the rest is lost, as on a real line
        }
      }
    }
  }
  running_ = false;
}

}  // namespace bms::sim
