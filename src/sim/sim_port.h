#pragma once
// The in-process serial port wired to a VirtualPack. It keeps the link's
// time-outs in the port's Clock: with a VirtualClock a read moves the virtual
// time to the instant it returns, with a real clock it waits in real time.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/link/serial_port.h"
#include "core/platform/clock.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace bms::sim {

// The port name under which the built-in virtual pack is listed.
inline constexpr const char* kVirtualPortName = "VirtualPack";

class SimPort final : public SerialPort {
 public:
  // log may be null. The clock is normally the pack's own.
  SimPort(VirtualPack& pack, Clock& clock, WireLog* log);
  SimPort(VirtualPack& pack, WireLog* log) : SimPort(pack, pack.clock(), log) {}
  ~SimPort() override;
  SimPort(const SimPort&) = delete;
  SimPort& operator=(const SimPort&) = delete;

  bool open(const std::string& path) override;
  void close() override;
  bool is_open() const override;

  bool get_line(LineSettings& out) override;
  bool set_line(const LineSettings& in) override;
  bool set_queue_sizes(size_t in, size_t out) override;
  bool set_timeouts(const PortTimeouts& t) override;

  // Returns when n bytes have arrived, read_interval after the last byte
  // when the next one is later than that, or read_total(n) after the start,
  // whichever comes first. Bytes that arrived before the call count at once.
  bool read(uint8_t* buf, size_t n, size_t* got) override;
  // Puts the bytes into the transmit queue, from which they leave one byte
  // time after the other at the line's baud rate, and returns when the last
  // one has left (a synchronous write, like the real port's). The pack sees
  // each byte when it has left.
  bool write(const uint8_t* buf, size_t n, size_t* written) override;
  // Receive clear drops the bytes that have arrived; bytes still on the
  // line arrive later. Transmit clear (or abort) discards the bytes still in
  // the transmit queue: they never reach the pack.
  bool purge(unsigned flags) override;
  bool bytes_waiting(size_t* n) override;
  void cancel() override;

  PortError error() const override;
  std::string error_text() const override;

  PortTimeouts timeouts() const;
  LineSettings line() const;

 private:
  struct InByte {
    int64_t at_us;
    uint8_t value;
  };
  struct Plan {
    int64_t end_us = 0;
    size_t count = 0;
    bool gone = false;
  };

  // Bytes written and not yet handed to the pack.
  struct TxWrite {
    int64_t start_us;
    std::vector<uint8_t> bytes;
    size_t delivered = 0;
    double spacing_us;
  };

  int64_t now_us() const { return clock_.now_ms() * 1000; }
  // Hands the pack every queued byte that has left by until_us and queues
  // its answer; mu_ held.
  void deliver_tx(int64_t until_us);
  Plan plan_read(int64_t t0_us, size_t n) const;
  bool usable();  // open, not cancelled, not unplugged; mu_ held
  bool unplugged_now() const;
  bool fail(PortError e, const std::string& text);

  VirtualPack& pack_;
  Clock& clock_;
  WireLog* log_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = false;
  bool cancelled_ = false;
  std::string name_;
  LineSettings line_;
  PortTimeouts timeouts_;
  std::deque<InByte> in_;
  std::deque<TxWrite> tx_;
  int64_t host_line_free_us_ = 0;
  PortError error_ = PortError::None;
  std::string error_text_;
};

}  // namespace bms::sim
