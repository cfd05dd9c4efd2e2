#pragma once
// The serial port on a POSIX termios device (/dev/ttyUSB0, /dev/ttyS0, a pty).
//
// The descriptor is opened non-blocking and every wait is a poll() with an
// explicit deadline, so the link's interval and total time-outs are measured
// here and not by the line discipline. The poll set also holds a wake-up
// descriptor: cancel() from any thread ends a blocked read or write at once.
// A device that disappears (USB adapter unplugged) ends the call at once with
// PortError::Gone; nothing spins.
//
// One owner thread uses the port; only cancel() may come from another thread.
#include <atomic>
#include <mutex>
#include <string>

#include "core/link/serial_port.h"

namespace bms {

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  // Opens the device read/write, exclusively (TIOCEXCL and a non-blocking
  // flock), in raw mode 8N1 with CLOCAL|CREAD and no flow control. A leading
  // "\\.\" (the device prefix of the stored port name) is ignored.
  bool open(const std::string& path) override;
  // Releases the lock and closes both descriptors; clears a cancel.
  void close() override;
  bool is_open() const override { return fd_ >= 0; }

  bool get_line(LineSettings& out) override;
  bool set_line(const LineSettings& in) override;
  // The kernel sizes the tty queues itself: accepted and ignored.
  bool set_queue_sizes(size_t in, size_t out) override;
  bool set_timeouts(const PortTimeouts& t) override;
  const PortTimeouts& timeouts() const { return timeouts_; }

  bool read(uint8_t* buf, size_t n, size_t* got) override;
  bool write(const uint8_t* buf, size_t n, size_t* written) override;
  bool purge(unsigned flags) override;
  bool bytes_waiting(size_t* n) override;

  void cancel() override;

  PortError error() const override { return error_; }
  std::string error_text() const override { return error_text_; }
  const std::string& path() const { return path_; }

 private:
  enum class Wait { Ready, Timeout, Cancelled, Failed };
  // Waits until the port is ready for `events` or the monotonic deadline
  // (nanoseconds, < 0: none) passes. Failed has set the error already.
  Wait wait_for(short events, int64_t deadline_ns);
  Wait wait_wake(int64_t deadline_ns);
  bool fail(PortError e, const std::string& text);
  bool fail_errno(int err, const char* what);
  bool fail_cancelled();
  bool check_usable();
  void close_descriptors();

  int fd_ = -1;
  int wake_fd_ = -1;            // eventfd: readable once cancel() was called
  bool hup_ = false;            // the last wait saw a hang-up or error condition
  bool tx_unfinished_ = false;  // the last write did not complete: its rest may be discarded
  std::string path_;
  PortTimeouts timeouts_;
  PortError error_ = PortError::None;
  std::string error_text_;

  std::mutex cancel_mu_;  // orders cancel() against close()
  std::atomic<bool> cancelled_{false};
};

// Standard baud rates the termios interface knows; 0 when unsupported.
unsigned BaudToSpeed(int baud);
int SpeedToBaud(unsigned speed);

}  // namespace bms
