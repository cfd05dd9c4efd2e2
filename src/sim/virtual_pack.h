#pragma once
// The virtual pack: the device side of the framed register protocol, the
// status poll and the SHU EN handshake, with the state a real BMS keeps and
// fault injection. Time is given by the caller (microseconds of the clock),
// so the same pack serves the in-process port with a virtual clock and the
// pseudo-terminal server with the real one. Thread-safe.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/link/serial_port.h"
#include "core/platform/clock.h"
#include "sim/faults.h"
#include "sim/gateway_slave.h"
#include "sim/modbus_slave.h"
#include "sim/scenario.h"

namespace bms::sim {

// A run of bytes that the pack sends back to back, starting offset_us after
// the instant given to VirtualPack::receive.
struct Burst {
  int64_t offset_us = 0;
  std::vector<uint8_t> bytes;
  double spacing_us = 0;  // per-byte time on the line
};

enum class SleepState { Awake, Sleep, DeepSleep };
enum class HistoryList { Protect = 0, Lead = 1, Last = 2 };

// The 96-byte status block for a scenario (0x4A, 94 data bytes, 8-bit sum).
std::array<uint8_t, 96> BuildStatusBlock(const Scenario& s);

class VirtualPack {
 public:
  explicit VirtualPack(Clock& clock, Scenario scenario = DefaultScenario());
  VirtualPack(const VirtualPack&) = delete;
  VirtualPack& operator=(const VirtualPack&) = delete;

  Clock& clock() { return clock_; }

  // The host's bytes reached the pack; t_us is when the first of them started
  // on the line, baud the line speed. Returns what the pack sends back.
  std::vector<Burst> receive(const uint8_t* data, size_t n, int64_t t_us, int baud);

  // ---- faults ----
  FaultSet& faults() { return faults_; }
  void set_silent(bool on) { faults_.set_silent(on); }
  bool silent() const { return faults_.silent(); }

  // ---- state (all thread-safe) ----
  Scenario scenario() const;  // snapshot of the live values
  // Replaces the live values (the pack clock restarts from scenario.clock).
  void set_scenario(Scenario s);
  // Changes live values in place, e.g. update([](Scenario& s) { s.pack_current_ma = 0; }).
  void update(const std::function<void(Scenario&)>& fn);

  SleepState sleep_state() const;
  bool sleeping() const { return sleep_state() != SleepState::Awake; }
  void sleep(SleepState how = SleepState::Sleep);
  void wake();

  bool shipping_mode() const;
  void set_shipping_mode(bool on);
  bool gateway_mode() const;
  void set_gateway_mode(bool on);
  bool mosfet_on() const;
  void set_mosfet_on(bool on);
  // The pack's running clock now, and setting it (it runs on from there).
  LocalTime pack_clock() const;
  void set_pack_clock(const LocalTime& t);
  // Barcode texts up to the first zero byte; empty optional: storage absent.
  std::optional<std::string> barcode_ext32() const;
  std::optional<std::string> barcode_int32() const;
  std::optional<std::string> barcode_int16() const;
  void set_barcode_ext32(std::optional<std::string> text);
  void set_barcode_int32(std::optional<std::string> text);
  void set_barcode_int16(std::optional<std::string> text);
  std::string serial_number() const;
  void set_serial_number(const std::string& text);
  size_t history_count(HistoryList list) const;
  std::array<uint8_t, 96> status_block() const;
  void set_latency_us(int64_t us);
  // Called with the live values and the time in ms whenever host bytes
  // arrive, before they are answered (the load model, sim/virtual_load.h).
  void set_live_model(std::function<void(Scenario&, int64_t t_ms)> fn);
  // The Modbus RTU slave 0x60 with parameter blocks C and D.
  ModbusSlave& modbus() { return modbus_; }

  // ---- what reached the pack (counted whether answered or not) ----
  int request_count(uint16_t address) const;  // request frames, any page
  int request_count(uint16_t address, uint16_t length) const;
  int status_polls() const;
  int shu_enables() const;
  int payloads() const;                     // payload frames completing a write
  int gateway_requests() const;             // gateway frames heard at 115200 baud
  int gateway_requests(uint8_t reg) const;
  int erase_count(uint16_t address) const;  // accepted 0x4101 / 0x4102 / 0x4103 erases
  void reset_counters();

  // ---- the port the pack sits behind (used by SimPort) ----
  // Makes open() fail as NotFound, PermissionDenied or Busy; None clears.
  void set_open_error(PortError e);
  PortError open_error() const;
  // The adapter is pulled out at t_ms of the clock: later transfers fail
  // with PortError::Gone and opens with NotFound. replug() undoes it.
  void unplug_at(int64_t t_ms);
  void replug();
  std::optional<int64_t> unplug_time() const;
  // Exclusive use by one open port at a time.
  bool claim();
  void release();

  // ---- pacing of the answers (split delivery) ----
  // Every answer pauses gap_us beyond its byte times before byte `at`, for
  // each (at, gap_us) given; empty: answers go out whole. For exchanges one
  // at a time: the pauses do not hold back a later answer.
  void set_reply_gaps(std::vector<std::pair<size_t, int64_t>> gaps);
  std::vector<Burst> paced(std::vector<Burst> bursts) const;

 private:
  struct Pending {
    uint16_t address = 0, length = 0;
    uint32_t param = 0;
    uint8_t count = 0;
  };
  enum class Shape { Frames, StatusBlock, Ack, Modbus };
  enum class Parse { NeedMore, Drop, Consumed };

  Parse parse_front(int64_t end_us, double spacing, int64_t t0_us, std::vector<Burst>& out);
  void handle_frame(const uint8_t* f, int64_t end_us, double spacing, int64_t t0_us, std::vector<Burst>& out);
  void answer(const RequestInfo& info, const std::function<std::optional<std::vector<uint8_t>>()>& act, Shape shape, int64_t end_us, double spacing, int64_t t0_us,
              std::vector<Burst>& out);
  std::optional<std::array<uint8_t, 8>> read_register(uint16_t address, uint16_t length, uint32_t param, int64_t t_ms) const;
  std::optional<uint8_t> write_register(const Pending& p, const uint8_t data[8], int64_t t_ms);
  LocalTime clock_at(int64_t t_ms) const;
  void reset_clock(const std::optional<LocalTime>& start);
  void maybe_auto_wake(int64_t t_ms);

  Clock& clock_;
  FaultSet faults_;
  mutable std::mutex mu_;
  Scenario s_;
  LocalTime clock_base_;
  int64_t clock_base_ms_ = 0;
  SleepState sleep_ = SleepState::Awake;
  int64_t sleep_since_ms_ = 0;
  std::vector<uint8_t> rx_;
  int64_t last_rx_us_ = 0;
  std::optional<Pending> pending_;
  int64_t tx_free_us_ = 0;
  std::vector<uint8_t> shu_request_, shu_ack_;
  std::map<std::pair<uint16_t, uint16_t>, int> requests_;
  std::map<uint16_t, int> erases_;
  int status_polls_ = 0, shu_enables_ = 0, payloads_ = 0;
  GatewaySlave gateway_;
  PortError open_error_ = PortError::None;
  std::optional<int64_t> unplug_ms_;
  bool claimed_ = false;
  std::function<void(Scenario&, int64_t)> live_model_;
  ModbusSlave modbus_;
  std::vector<std::pair<size_t, int64_t>> reply_gaps_;
};

}  // namespace bms::sim
