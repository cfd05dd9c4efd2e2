#pragma once
// Shared pieces of the fuzz targets: the input reader, a serial port whose
// reads return fuzz bytes in fuzz-chosen bursts, a bench with a virtual
// clock and a Context on that port, scratch files, and the invariant check.
//
// A target is written once with BMS_FUZZ_TARGET(name) { ... } and serves
// two builds: the libFuzzer executable (BMS_FUZZ_MAIN defined, the entry
// point LLVMFuzzerTestOneInput) and the corpus replay of the unit tests,
// where every target is an ordinary function found in FuzzTargets().
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/context.h"
#include "core/link/serial_port.h"
#include "core/platform/clock.h"

namespace bms::fuzz {

using TargetFn = int (*)(const uint8_t* data, size_t size);

struct TargetEntry {
  const char* name;
  TargetFn fn;
};

// Every target linked into this binary, in registration order.
std::vector<TargetEntry>& FuzzTargets();

struct Registration {
  Registration(const char* name, TargetFn fn) { FuzzTargets().push_back({name, fn}); }
};

// A broken invariant. The fuzz executables print it and abort, so libFuzzer
// keeps the input; the corpus replay installs a handler that throws.
[[noreturn]] void Fail(const char* file, int line, const std::string& what);
using FailHandler = std::function<void(const std::string& what)>;
void SetFailHandler(FailHandler handler);

#define BMS_FUZZ_CHECK(cond, what)                                                         \
  do {                                                                                     \
    if (!(cond)) ::bms::fuzz::Fail(__FILE__, __LINE__, std::string(#cond " : ") + (what)); \
  } while (0)

// Reads the fuzz input front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  size_t remaining() const { return empty() ? 0 : size_ - pos_; }
  uint8_t u8();
  uint16_t u16();                       // high byte first
  std::vector<uint8_t> take(size_t n);  // at most n bytes
  std::vector<uint8_t> rest();
  std::string text(size_t n);  // at most n bytes as a string
  std::string text_rest();
  // A string up to the next separator byte (dropped) or the end.
  std::string until(uint8_t separator);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// One burst of the fuzzed port: the bytes a read returns, or a failed read.
struct Burst {
  std::vector<uint8_t> bytes;
  bool fail = false;  // the read fails (device gone) after returning bytes
};

// Splits the rest of the input into bursts: a length byte L, then L bytes
// (the last burst takes what is left). L = 0xFF is a failed read: a count
// byte M and M bytes that arrive before the failure. With
// `fixup`, each burst passes through it before it is queued.
std::deque<Burst> ReadBursts(Input& in, const std::function<void(std::vector<uint8_t>&)>& fixup = {});

// The wire of the fuzzed port: bursts to hand out, bytes written.
struct FuzzWire {
  std::deque<Burst> bursts;
  std::vector<std::vector<uint8_t>> writes;
  size_t reads = 0;
};

// A SerialPort on a FuzzWire. A read of n bytes takes at most n bytes of the
// front burst (the rest stays for the next read), as a real read that ends
// on its count or on the interval time-out; purges leave later bursts alone,
// since they stand for bytes that arrive after the purge.
class FuzzPort final : public SerialPort {
 public:
  explicit FuzzPort(std::shared_ptr<FuzzWire> wire) : wire_(std::move(wire)) {}
  bool open(const std::string&) override { return open_ = true; }
  void close() override { open_ = false; }
  bool is_open() const override { return open_; }
  bool get_line(LineSettings& out) override {
    out = line_;
    return true;
  }
  bool set_line(const LineSettings& in) override {
    line_ = in;
    return true;
  }
  bool set_queue_sizes(size_t, size_t) override { return true; }
  bool set_timeouts(const PortTimeouts&) override { return true; }
  bool read(uint8_t* buf, size_t n, size_t* got) override;
  bool write(const uint8_t* buf, size_t n, size_t* written) override;
  bool purge(unsigned) override { return open_; }
  bool bytes_waiting(size_t* n) override;
  void cancel() override {}
  PortError error() const override { return error_; }
  std::string error_text() const override { return error_ == PortError::None ? std::string() : "fuzzed port failed"; }

 private:
  std::shared_ptr<FuzzWire> wire_;
  LineSettings line_;
  bool open_ = false;
  PortError error_ = PortError::None;
};

inline constexpr const char* kFuzzPortName = "fuzz";

// Every change of every control, as the front end would see it.
class ChangeLog final : public UiEventSink {
 public:
  void post(UiEvent ev) override;  // called with the form's lock held
  size_t mark() const;
  void clear();
  // The changes since mark as "Form.Control:property", colours aside (the
  // lamps blink on every read).
  std::vector<std::string> since(size_t mark) const;

 private:
  mutable std::mutex mu_;
  std::vector<UiEvent> events_;
};

// A virtual clock, a Context with inline workers whose port factory opens
// FuzzPorts on `wire`, the port name set, and the change log installed.
struct Bench {
  Bench();
  VirtualClock clock;
  std::shared_ptr<FuzzWire> wire = std::make_shared<FuzzWire>();
  ChangeLog changes;
  Context ctx;
};

// One Bench for the process, made ready for the next input: the link
// closed, the wire empty, the decoded values (LiveData, history, reply
// records) cleared and the change log empty. Building a Context costs far
// more than decoding a reply; the targets that use it
// compare each effect with the state just before it, so what earlier inputs
// left in the windows does not change a verdict.
Bench& SharedBench();

// The changes since `mark`, joined for a message.
std::string Joined(const std::vector<std::string>& changes);

// A folder of this process for scratch files, removed at exit.
const std::string& ScratchDir();
// Writes bytes to ScratchDir()/name (replacing it) and returns the path.
std::string WriteScratch(const std::string& name, std::string_view bytes);
std::string ReadWholeFile(const std::string& path);

// The fields of one CSV line without its line end, split at commas outside
// double quotes.
std::vector<std::string> CsvFields(std::string_view line);

}  // namespace bms::fuzz

#ifdef BMS_FUZZ_MAIN
#define BMS_FUZZ_ENTRY_POINT(body) \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return body(data, size); }
#else
#define BMS_FUZZ_ENTRY_POINT(body)
#endif

#define BMS_FUZZ_TARGET(name)                                                          \
  static int name##_fuzz_body(const uint8_t* data, size_t size);                       \
  static const ::bms::fuzz::Registration name##_registration(#name, name##_fuzz_body); \
  BMS_FUZZ_ENTRY_POINT(name##_fuzz_body)                                               \
  static int name##_fuzz_body(const uint8_t* data, size_t size)
