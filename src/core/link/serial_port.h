#pragma once
// The one interface through which every byte to and from the pack travels.
// Implementations: PosixSerialPort (termios device) and the in-process port
// wired to the virtual pack (src/sim).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bms {

// Purge actions, combinable.
enum PurgeFlags : unsigned {
  kPurgeTxAbort = 1,
  kPurgeRxAbort = 2,
  kPurgeTxClear = 4,
  kPurgeRxClear = 8,
  kPurgeAll = 15,
};

// Read and write time-outs of the link, in milliseconds. A read of N bytes
// returns when N bytes arrived, read_interval after the last byte of a burst,
// or read_total_constant + read_total_multiplier * N after it started.
struct PortTimeouts {
  int read_interval = 50;
  int read_total_multiplier = 5;
  int read_total_constant = 5000;
  int write_total_multiplier = 5;
  int write_total_constant = 3000;

  int64_t read_total(size_t n) const { return read_total_constant + static_cast<int64_t>(read_total_multiplier) * static_cast<int64_t>(n); }
  int64_t write_total(size_t n) const { return write_total_constant + static_cast<int64_t>(write_total_multiplier) * static_cast<int64_t>(n); }
};

struct LineSettings {
  int baud = 19200;
  int data_bits = 8;
  char parity = 'N';  // 'N', 'E', 'O'
  int stop_bits = 1;
};

enum class PortError {
  None,
  NotFound,          // no such device
  PermissionDenied,  // not allowed to open it (dialout group)
  Busy,              // another program holds it
  NotSerial,         // not a serial device
  ConfigFailed,      // opened but line settings refused
  Gone,              // the device vanished (adapter unplugged)
  Cancelled,         // cancel() was called
  Io,                // any other input/output failure
};

// The operator's text for a failure of the port named `name`; the same words
// whichever kind of port failed.
std::string PortErrorText(PortError e, const std::string& name);

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the device exclusively. False on failure; error()/error_text()
  // say why in words an operator can act on.
  virtual bool open(const std::string& path) = 0;
  virtual void close() = 0;
  virtual bool is_open() const = 0;

  virtual bool get_line(LineSettings& out) = 0;
  virtual bool set_line(const LineSettings& in) = 0;
  virtual bool set_queue_sizes(size_t in, size_t out) = 0;
  virtual bool set_timeouts(const PortTimeouts& t) = 0;

  // Synchronous read of up to n bytes with the time-outs above. False on a
  // failure (device gone, cancelled, I/O error); *got holds what arrived.
  virtual bool read(uint8_t* buf, size_t n, size_t* got) = 0;
  // Synchronous write with the write time-out. False on failure.
  virtual bool write(const uint8_t* buf, size_t n, size_t* written) = 0;
  virtual bool purge(unsigned flags) = 0;
  // Bytes waiting in the input queue; false when the device failed.
  virtual bool bytes_waiting(size_t* n) = 0;

  // Thread-safe: wakes a blocked read or write, which then fails with
  // PortError::Cancelled. Later calls fail at once until close().
  virtual void cancel() = 0;

  virtual PortError error() const = 0;
  virtual std::string error_text() const = 0;
};

}  // namespace bms
