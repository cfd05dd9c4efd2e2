#include "core/link/posix_serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <utility>

namespace bms {

namespace {

constexpr int64_t kNsPerMs = 1000000;

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

// errno values by which the kernel reports a tty whose hardware went away.
bool IsGoneErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE; }

struct BaudEntry {
  int baud;
  speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},   {150, B150},     {200, B200},     {300, B300},     {600, B600},       {1200, B1200},
    {1800, B1800},       {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

std::string LineText(const LineSettings& l) { return std::to_string(l.baud) + " baud, " + std::to_string(l.data_bits) + std::string(1, l.parity) + std::to_string(l.stop_bits); }

}  // namespace

unsigned BaudToSpeed(int baud) {
  for (const BaudEntry& e : kBauds)
    if (e.baud == baud) return e.speed;
  return 0;
}

int SpeedToBaud(unsigned speed) {
  for (const BaudEntry& e : kBauds)
    if (e.speed == speed) return e.baud;
  return 0;
}

PosixSerialPort::~PosixSerialPort() { close(); }

bool PosixSerialPort::fail(PortError e, const std::string& text) {
  error_ = e;
  error_text_ = text;
  return false;
}

bool PosixSerialPort::fail_errno(int err, const char* what) {
  if (IsGoneErrno(err)) return fail(PortError::Gone, PortErrorText(PortError::Gone, path_));
  return fail(PortError::Io, std::string(what) + " failed on " + path_ + ": " + ErrnoText(err));
}

bool PosixSerialPort::fail_cancelled() { return fail(PortError::Cancelled, "the transfer on " + path_ + " was cancelled"); }

// Every operation starts here: it clears the last error, or fails at once when
// the port is closed or was cancelled.
bool PosixSerialPort::check_usable() {
  if (cancelled_.load()) return fail_cancelled();
  if (fd_ < 0) return fail(PortError::Io, "the serial port " + (path_.empty() ? std::string("(none)") : path_) + " is not open");
  error_ = PortError::None;
  error_text_.clear();
  return true;
}

bool PosixSerialPort::open(const std::string& path_in) {
  if (is_open()) close();
  std::string path = path_in;
  static const std::string kDevicePrefix = "\\\\.\\";
  if (path.compare(0, kDevicePrefix.size(), kDevicePrefix) == 0) path.erase(0, kDevicePrefix.size());
  path_ = path;
  error_ = PortError::None;
  error_text_.clear();

  if (cancelled_.load()) return fail_cancelled();
  if (path.empty()) return fail(PortError::NotFound, "no serial port chosen: pick one in the connection dialog");

  // Names that are no serial port, said for what they are (opening the
  // console or the pty multiplexer would even succeed).
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISSOCK(st.st_mode)) return fail(PortError::NotSerial, path + " is a Unix socket, not a serial port");
    if (S_ISDIR(st.st_mode)) return fail(PortError::NotSerial, path + " is a folder, not a serial port");
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) == 5 && minor(st.st_rdev) == 2)
      return fail(PortError::NotSerial, path + " is the pseudo-terminal multiplexer, not a serial port (give the /dev/pts/N path of the pseudo-terminal)");
    if (S_ISCHR(st.st_mode) && ((major(st.st_rdev) == 5 && minor(st.st_rdev) <= 1) || (major(st.st_rdev) == 4 && minor(st.st_rdev) < 64)))
      return fail(PortError::NotSerial, path + " is a console or terminal of this system, not a serial port");
  }

  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int err = errno;
    switch (err) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
        return fail(PortError::NotFound, PortErrorText(PortError::NotFound, path));
      case EACCES:
      case EPERM:
        return fail(PortError::PermissionDenied, PortErrorText(PortError::PermissionDenied, path));
      case EBUSY:
        return fail(PortError::Busy, PortErrorText(PortError::Busy, path));
      case EISDIR:
      case ENOTDIR:
        return fail(PortError::NotSerial, PortErrorText(PortError::NotSerial, path));
      default:
        return fail(PortError::Io, "cannot open " + path + ": " + ErrnoText(err));
    }
  }

  // From here on every failure closes the descriptor again.
  auto give_up = [&](PortError e, const std::string& text) {
    ::close(fd);
    return fail(e, text);
  };

  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    const int err = errno;
    if (err == ENOTTY || err == EINVAL) return give_up(PortError::NotSerial, PortErrorText(PortError::NotSerial, path));
    if (IsGoneErrno(err)) return give_up(PortError::Gone, PortErrorText(PortError::Gone, path));
    return give_up(PortError::Io, "cannot read the line settings of " + path + ": " + ErrnoText(err));
  }

  // Exclusive use. TIOCEXCL makes the kernel refuse further opens (except to
  // root); the advisory lock covers root and the programs that take the same
  // lock (terminal programs and modem managers usually do).
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EWOULDBLOCK) return give_up(PortError::Busy, PortErrorText(PortError::Busy, path));
  ioctl(fd, TIOCEXCL);

  // Raw mode as cfmakeraw() sets it, 8N1, receiver on, modem lines ignored,
  // no flow control. VMIN 1 / VTIME 0 only make a read() with nothing to
  // read report EAGAIN; all time-outs are measured by read() below.
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    const int err = errno;
    ioctl(fd, TIOCNXCL);
    return give_up(PortError::ConfigFailed, path + " refused raw 8N1 mode: " + ErrnoText(err));
  }

  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    const int err = errno;
    ioctl(fd, TIOCNXCL);
    return give_up(PortError::Io, "cannot open " + path + ": " + ErrnoText(err));
  }

  std::lock_guard<std::mutex> lock(cancel_mu_);
  fd_ = fd;
  wake_fd_ = wake;
  if (cancelled_.load()) {
    // A cancel that raced with the open still counts.
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wake_fd_, &one, sizeof one);
  }
  return true;
}

void PosixSerialPort::close_descriptors() {
  if (fd_ >= 0) {
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the flock
    fd_ = -1;
  }
  if (wake_fd_ >= 0) {
    ::close(wake_fd_);
    wake_fd_ = -1;
  }
}

void PosixSerialPort::close() {
  std::lock_guard<std::mutex> lock(cancel_mu_);
  close_descriptors();
  cancelled_.store(false);
  tx_unfinished_ = false;
}

void PosixSerialPort::cancel() {
  std::lock_guard<std::mutex> lock(cancel_mu_);
  cancelled_.store(true);
  if (wake_fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wake_fd_, &one, sizeof one);
  }
}

bool PosixSerialPort::get_line(LineSettings& out) {
  if (!check_usable()) return false;
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return fail_errno(errno, "reading the line settings");
  LineSettings l;
  l.baud = SpeedToBaud(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      l.data_bits = 5;
      break;
    case CS6:
      l.data_bits = 6;
      break;
    case CS7:
      l.data_bits = 7;
      break;
    default:
      l.data_bits = 8;
      break;
  }
  l.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 'O' : 'E') : 'N';
  l.stop_bits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  out = l;
  return true;
}

bool PosixSerialPort::set_line(const LineSettings& in) {
  if (!check_usable()) return false;
  const speed_t speed = BaudToSpeed(in.baud);
  if (speed == 0) return fail(PortError::ConfigFailed, path_ + " cannot run at " + std::to_string(in.baud) + " baud");
  tcflag_t size;
  switch (in.data_bits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return fail(PortError::ConfigFailed, path_ + " cannot use " + std::to_string(in.data_bits) + " data bits");
  }
  tcflag_t parity;
  switch (in.parity) {
    case 'N':
    case 'n':
      parity = 0;
      break;
    case 'E':
    case 'e':
      parity = PARENB;
      break;
    case 'O':
    case 'o':
      parity = PARENB | PARODD;
      break;
    default:
      return fail(PortError::ConfigFailed, path_ + " has no parity '" + std::string(1, in.parity) + "'");
  }
  if (in.stop_bits != 1 && in.stop_bits != 2) return fail(PortError::ConfigFailed, path_ + " cannot use " + std::to_string(in.stop_bits) + " stop bits");

  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) return fail_errno(errno, "reading the line settings");
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= size | parity | (in.stop_bits == 2 ? CSTOPB : 0);
  if (parity != 0)
    tio.c_iflag |= INPCK;
  else
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
    const int err = errno;
    if (IsGoneErrno(err)) return fail_errno(err, "");
    return fail(PortError::ConfigFailed, path_ + " refused the line settings (" + LineText(in) + "): " + ErrnoText(err));
  }
  // tcsetattr() succeeds when any part was applied: check the whole.
  termios now{};
  if (tcgetattr(fd_, &now) != 0) return fail_errno(errno, "reading the line settings");
  const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
  if ((now.c_cflag & mask) != (tio.c_cflag & mask) || cfgetospeed(&now) != speed) return fail(PortError::ConfigFailed, path_ + " refused the line settings (" + LineText(in) + ")");
  return true;
}

bool PosixSerialPort::set_queue_sizes(size_t, size_t) { return check_usable(); }

bool PosixSerialPort::set_timeouts(const PortTimeouts& t) {
  if (!check_usable()) return false;
  timeouts_ = t;
  return true;
}

PosixSerialPort::Wait PosixSerialPort::wait_for(short events, int64_t deadline_ns) {
  for (;;) {
    timespec ts{};
    timespec* tsp = nullptr;
    if (deadline_ns >= 0) {
      const int64_t left = deadline_ns - MonotonicNs();
      if (left <= 0) return Wait::Timeout;
      ts.tv_sec = static_cast<time_t>(left / 1000000000);
      ts.tv_nsec = static_cast<long>(left % 1000000000);
      tsp = &ts;
    }
    pollfd fds[2] = {{fd_, events, 0}, {wake_fd_, POLLIN, 0}};
    const int rc = ppoll(fds, 2, tsp, nullptr);
    if (rc < 0) {
      if (errno == EINTR) continue;
      fail_errno(errno, "waiting");
      return Wait::Failed;
    }
    if (fds[1].revents != 0 || cancelled_.load()) return Wait::Cancelled;
    if (rc == 0) continue;  // the deadline check above ends the wait
    const short re = fds[0].revents;
    if (re & POLLNVAL) {
      fail(PortError::Gone, PortErrorText(PortError::Gone, path_));
      return Wait::Failed;
    }
    // A hang-up with data still queued: let read() take the data; its next
    // attempt then meets the hang-up (EIO or end of file).
    hup_ = (re & (POLLERR | POLLHUP)) != 0;
    if (hup_ && !(events == POLLIN && (re & POLLIN))) {
      fail(PortError::Gone, PortErrorText(PortError::Gone, path_));
      return Wait::Failed;
    }
    return Wait::Ready;
  }
}

// Sleeps until the monotonic deadline or a cancel(), whichever is first.
PosixSerialPort::Wait PosixSerialPort::wait_wake(int64_t deadline_ns) {
  for (;;) {
    const int64_t left = deadline_ns - MonotonicNs();
    if (left <= 0) return Wait::Timeout;
    timespec ts{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
    pollfd fds[1] = {{wake_fd_, POLLIN, 0}};
    const int rc = ppoll(fds, 1, &ts, nullptr);
    if (rc < 0) {
      if (errno == EINTR) continue;
      fail_errno(errno, "waiting");
      return Wait::Failed;
    }
    if (fds[0].revents != 0 || cancelled_.load()) return Wait::Cancelled;
  }
}

// Returns when n bytes arrived, read_interval after the last byte once at
// least one came, or read_total(n) after the start. A zero interval or a zero
// total time-out is not applied.
bool PosixSerialPort::read(uint8_t* buf, size_t n, size_t* got) {
  size_t dummy = 0;
  if (got == nullptr) got = &dummy;
  *got = 0;
  if (!check_usable()) return false;
  if (n == 0) return true;

  const int64_t start = MonotonicNs();
  const int64_t total_ms = timeouts_.read_total(n);
  const int64_t total_deadline = total_ms > 0 ? start + total_ms * kNsPerMs : -1;
  const int64_t interval_ns = timeouts_.read_interval > 0 ? timeouts_.read_interval * kNsPerMs : 0;
  int64_t last_byte = 0;
  int empty_wakeups = 0;  // readable by poll() but nothing to read

  for (;;) {
    const ssize_t r = ::read(fd_, buf + *got, n - *got);
    if (r > 0) {
      *got += static_cast<size_t>(r);
      last_byte = MonotonicNs();
      if (*got == n) return true;
      empty_wakeups = 0;
      continue;
    }
    if (r == 0) return fail(PortError::Gone, PortErrorText(PortError::Gone, path_));
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) return fail_errno(err, "reading");
    // poll() said readable but nothing came: after a hang-up that is the
    // device gone; a driver that keeps doing it is treated the same rather
    // than looped on.
    if (empty_wakeups > 0 && (hup_ || empty_wakeups > 100)) return fail(PortError::Gone, PortErrorText(PortError::Gone, path_));

    int64_t deadline = total_deadline;
    if (*got > 0 && interval_ns > 0) deadline = deadline < 0 ? last_byte + interval_ns : std::min(deadline, last_byte + interval_ns);
    switch (wait_for(POLLIN, deadline)) {
      case Wait::Ready:
        ++empty_wakeups;
        break;
      case Wait::Timeout:
        return true;
      case Wait::Cancelled:
        return fail_cancelled();
      case Wait::Failed:
        return false;
    }
  }
}

// Returns once every byte has left the driver's output queue, as a
// synchronous write does on the target platform, or fails after
// write_total(n). The queue is watched with TIOCOUTQ in steps of 1 ms on the
// cancellable wait (tcdrain would block beyond cancel()).
bool PosixSerialPort::write(const uint8_t* buf, size_t n, size_t* written) {
  size_t dummy = 0;
  if (written == nullptr) written = &dummy;
  *written = 0;
  if (!check_usable()) return false;
  if (n == 0) return true;

  const int64_t total_ms = timeouts_.write_total(n);
  const int64_t deadline = total_ms > 0 ? MonotonicNs() + total_ms * kNsPerMs : -1;
  auto timed_out = [&](const char* stage) {
    tx_unfinished_ = true;
    return fail(PortError::Io,
                path_ + " did not " + stage + " within " + std::to_string(total_ms) + " ms (" + std::to_string(*written) + " of " + std::to_string(n) + " bytes sent)");
  };
  tx_unfinished_ = true;
  for (;;) {
    const ssize_t r = ::write(fd_, buf + *written, n - *written);
    if (r > 0) {
      *written += static_cast<size_t>(r);
      if (*written == n) break;
      continue;
    }
    if (r < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err != EAGAIN && err != EWOULDBLOCK) return fail_errno(err, "writing");
    }
    switch (wait_for(POLLOUT, deadline)) {
      case Wait::Ready:
        break;
      case Wait::Timeout:
        return timed_out("take the data");
      case Wait::Cancelled:
        return fail_cancelled();
      case Wait::Failed:
        return false;
    }
  }
  // Every byte is queued: wait until the driver has sent them.
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) break;  // a pty reports 0: its bytes are with the other side
    const int64_t step = MonotonicNs() + kNsPerMs;
    if (deadline >= 0 && MonotonicNs() >= deadline) return timed_out("send the data");
    switch (wait_wake(deadline >= 0 ? std::min(step, deadline) : step)) {
      case Wait::Cancelled:
        return fail_cancelled();
      case Wait::Failed:
        return false;
      default:
        break;
    }
  }
  tx_unfinished_ = false;
  return true;
}

// Clears the driver queues. The abort flags have nothing to abort: reads and
// writes are synchronous, so none is pending while the owner calls this.
// A transmit clear discards only the rest of a write that did not complete:
// the bytes of a completed write are never taken back, even where a driver
// reports its queue empty before the last bytes have left the adapter.
bool PosixSerialPort::purge(unsigned flags) {
  if (!check_usable()) return false;
  const bool rx = (flags & kPurgeRxClear) != 0;
  const bool tx = (flags & kPurgeTxClear) != 0 && tx_unfinished_;
  if (!rx && !tx) return true;
  const int which = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
  if (tcflush(fd_, which) != 0) return fail_errno(errno, "clearing the queues");
  if (tx) tx_unfinished_ = false;
  return true;
}

bool PosixSerialPort::bytes_waiting(size_t* n) {
  size_t dummy = 0;
  if (n == nullptr) n = &dummy;
  *n = 0;
  if (!check_usable()) return false;
  int count = 0;
  if (ioctl(fd_, FIONREAD, &count) != 0) return fail_errno(errno, "counting the waiting bytes");
  *n = count > 0 ? static_cast<size_t>(count) : 0;
  return true;
}

}  // namespace bms
