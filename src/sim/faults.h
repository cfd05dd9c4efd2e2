#pragma once
// Fault injection of the virtual pack: a global silence switch and rules that
// spoil, delay or suppress the answer to chosen requests. Thread-safe: rules
// may be added and cleared while a host talks to the pack.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bms::sim {

// What the pack has just received, as the fault rules see it.
enum class RequestKind {
  StatusPoll,     // "&" CR LF
  ShuEnable,      // the SHU EN block
  RegisterRead,   // request frame with write count 0
  RegisterWrite,  // request frame with write count > 0, completed by its payload frame
  Sleep,          // 0x4205 or 0x4206
  Modbus,         // a Modbus RTU request to slave 0x60 (address: start, length: quantity, param: function)
};

struct RequestInfo {
  RequestKind kind = RequestKind::RegisterRead;
  uint16_t address = 0;
  uint16_t length = 0;  // page or chunk
  uint32_t param = 0;   // 24-bit parameter (record number)
};

enum class MatchKind { Any, Register, StatusPoll, ShuEnable, Modbus, ModbusStart };

// Which requests a rule looks at. Register matches reads, writes and the
// sleep requests of that address.
struct FaultMatch {
  MatchKind kind = MatchKind::Any;
  uint16_t address = 0;
  std::optional<uint16_t> length;  // page / chunk; any when empty
  std::optional<uint32_t> param;   // record number; any when empty

  bool matches(const RequestInfo& r) const;

  static FaultMatch Any() { return {}; }
  static FaultMatch StatusPoll() { return {MatchKind::StatusPoll, 0, {}, {}}; }
  static FaultMatch ShuEnable() { return {MatchKind::ShuEnable, 0, {}, {}}; }
  static FaultMatch Register(uint16_t address, std::optional<uint16_t> length = {}) { return {MatchKind::Register, address, length, {}}; }
  // Every Modbus request, or those whose start register is `start`.
  static FaultMatch Modbus() { return {MatchKind::Modbus, 0, {}, {}}; }
  static FaultMatch ModbusAt(uint16_t start) { return {MatchKind::ModbusStart, start, {}, {}}; }
};

// When a rule fires, counted over the requests it matches (1-based).
enum class TriggerKind {
  Always,
  Nth,      // only the n-th matching request
  FromNth,  // the n-th and every later one
  FirstK,   // the first n (n = 0: never)
};

struct FaultTrigger {
  TriggerKind kind = TriggerKind::Always;
  int n = 1;

  bool fires(int index) const;

  static FaultTrigger Always() { return {}; }
  static FaultTrigger Nth(int n) { return {TriggerKind::Nth, n}; }
  static FaultTrigger From(int n) { return {TriggerKind::FromNth, n}; }
  static FaultTrigger First(int k) { return {TriggerKind::FirstK, k}; }
  // Fires before the n-th matching request: "answer only from the n-th on"
  // together with Silence.
  static FaultTrigger Until(int n) { return {TriggerKind::FirstK, n > 0 ? n - 1 : 0}; }
};

enum class FaultAction {
  Silence,      // the request is not heard: no answer, no state change
  BadChecksum,  // frame `frame` (0 first, 1 second) gets a wrong checksum; status block: wrong sum
  DropBytes,    // the last `count` bytes of the answer are not sent
  AddBytes,     // `count` zero bytes follow the answer
  ExtraFrame,   // a valid data frame (id 4, eight zero bytes) follows the answer
  Gap,          // the answer pauses `ms` milliseconds before byte `at_byte`
  Noise,        // `count` random bytes (from `seed`) are inserted before byte `at_byte`
  Delay,        // the answer starts `ms` milliseconds later
  StatusByte,   // the header's status byte is `value` (checksum kept valid)
  WrongEcho,    // the header echoes `echo_address` (checksum kept valid)
  WrongSlave,   // a Modbus answer carries slave address `value` (CRC kept valid)
  BitFlip,      // bit `value` (0..7) of byte `at_byte` of the answer is inverted (checksum not mended)
  Duplicate,    // the whole answer is sent twice, back to back
};

struct Fault {
  FaultMatch match;
  FaultTrigger trigger;
  FaultAction action = FaultAction::Silence;
  int frame = 0;
  int count = 1;
  size_t at_byte = 0;
  int64_t ms = 0;
  uint8_t value = 1;
  uint16_t echo_address = 0;
  uint32_t seed = 1;

  static Fault Make(FaultMatch m, FaultAction a, FaultTrigger t = {}) {
    Fault f;
    f.match = m;
    f.action = a;
    f.trigger = t;
    return f;
  }
};

class FaultSet {
 public:
  // Adds a rule; returns its id for remove().
  int add(const Fault& f);
  bool remove(int id);
  // Removes every rule (the global silence stays as it is).
  void clear();
  std::vector<Fault> rules() const;

  // Global silence: the pack hears nothing at all.
  void set_silent(bool on);
  bool silent() const;

  // Counts the request against every rule and returns the faults that fire
  // for it, in the order the rules were added.
  std::vector<Fault> evaluate(const RequestInfo& r);

 private:
  struct Rule {
    int id;
    Fault fault;
    int seen = 0;
  };
  mutable std::mutex mu_;
  std::vector<Rule> rules_;
  int next_id_ = 1;
  bool silent_ = false;
};

// Parses the text form used by bmssim --fault and the scenario file:
//   silent                          global silence
//   TARGET[:TRIGGER]:ACTION
// TARGET  any | status | shu | ADDR | ADDR/PAGE | modbus | modbus/START
//         (numbers decimal or 0x hex)
// TRIGGER always | nth=N | from=N | until=N | first=K
// ACTION  silence | bad-checksum[=FRAME] | drop=N | add=N | extra-frame |
//         gap=MS[,at=I] | noise=N[,at=I][,seed=S] | delay=MS | status=B | echo=ADDR |
//         slave=N | flip=I | duplicate
// FRAME of bad-checksum is 1 (first) or 2 (second). On success either `out`
// holds the rule or *global_silence is set true.
bool ParseFaultText(std::string_view text, Fault& out, bool* global_silence, std::string& error);

}  // namespace bms::sim
