#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/link/link_port.h"

namespace bms::fuzz {

std::vector<TargetEntry>& FuzzTargets() {
  static std::vector<TargetEntry> targets;
  return targets;
}

namespace {

FailHandler& Handler() {
  static FailHandler handler;
  return handler;
}

}  // namespace

void SetFailHandler(FailHandler handler) { Handler() = std::move(handler); }

void Fail(const char* file, int line, const std::string& what) {
  const std::string message = std::string(file) + ":" + std::to_string(line) + ": invariant broken: " + what;
  if (Handler()) Handler()(message);
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

// ---- Input ----

uint8_t Input::u8() { return empty() ? 0 : data_[pos_++]; }

uint16_t Input::u16() {
  const uint16_t hi = u8();
  return static_cast<uint16_t>(hi << 8 | u8());
}

std::vector<uint8_t> Input::take(size_t n) {
  const size_t k = std::min(n, remaining());
  std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + k);
  pos_ += k;
  return out;
}

std::vector<uint8_t> Input::rest() { return take(remaining()); }

std::string Input::text(size_t n) {
  const std::vector<uint8_t> b = take(n);
  return std::string(b.begin(), b.end());
}

std::string Input::text_rest() { return text(remaining()); }

std::string Input::until(uint8_t separator) {
  std::string out;
  while (!empty()) {
    const uint8_t c = u8();
    if (c == separator) break;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::deque<Burst> ReadBursts(Input& in, const std::function<void(std::vector<uint8_t>&)>& fixup) {
  std::deque<Burst> bursts;
  while (!in.empty()) {
    const uint8_t n = in.u8();
    Burst b;
    b.fail = n == 0xFF;
    b.bytes = in.take(b.fail ? in.u8() : n);
    if (fixup) fixup(b.bytes);
    bursts.push_back(std::move(b));
  }
  return bursts;
}

// ---- FuzzPort ----

bool FuzzPort::read(uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  if (!open_) return false;
  ++wire_->reads;
  if (wire_->bursts.empty()) return true;  // the total time-out, nothing came
  Burst& b = wire_->bursts.front();
  const size_t k = std::min(n, b.bytes.size());
  if (k > 0) std::memcpy(buf, b.bytes.data(), k);
  *got = k;
  b.bytes.erase(b.bytes.begin(), b.bytes.begin() + static_cast<std::ptrdiff_t>(k));
  if (b.fail && b.bytes.empty()) {  // the device went before the count was reached
    error_ = PortError::Gone;
    open_ = false;
    wire_->bursts.clear();
    return false;
  }
  if (b.bytes.empty()) wire_->bursts.pop_front();
  return true;
}

bool FuzzPort::write(const uint8_t* buf, size_t n, size_t* written) {
  *written = 0;
  if (!open_) return false;
  wire_->writes.emplace_back(buf, buf + n);
  *written = n;
  return true;
}

bool FuzzPort::bytes_waiting(size_t* n) {
  *n = 0;
  if (!open_) return false;
  if (!wire_->bursts.empty()) *n = wire_->bursts.front().bytes.size();
  return true;
}

// ---- Bench ----

Bench::Bench()
    : ctx(
          clock,
          [w = wire](const std::string& name) -> std::unique_ptr<SerialPort> {
            if (name != kFuzzPortName) return nullptr;
            return std::make_unique<FuzzPort>(w);
          },
          /*inline_workers=*/true) {
  ctx.ui_sink = &changes;
  ctx.PortName.set(kFuzzPortName);
  ctx.FormConfig.ComboBoxBaudRate.set_item_index(1);
  ctx.app.current_dir = ScratchDir() + "/";
  ctx.app.app_folder = ScratchDir() + "/";
  ctx.app.data_folder = ScratchDir() + "/";
}

void ChangeLog::post(UiEvent ev) {
  std::lock_guard<std::mutex> guard(mu_);
  events_.push_back(std::move(ev));
}

size_t ChangeLog::mark() const {
  std::lock_guard<std::mutex> guard(mu_);
  return events_.size();
}

void ChangeLog::clear() {
  std::lock_guard<std::mutex> guard(mu_);
  events_.clear();
}

std::vector<std::string> ChangeLog::since(size_t mark) const {
  static const char* const kProps[] = {"text", "enabled", "visible", "checked", "item", "items", "color", "font color", "progress", "min", "max", "font size"};
  std::lock_guard<std::mutex> guard(mu_);
  std::vector<std::string> out;
  for (size_t i = mark; i < events_.size(); ++i) {
    const UiEvent& ev = events_[i];
    if (ev.prop == Prop::Color || ev.prop == Prop::FontColor) continue;
    out.push_back(ev.control->form().name() + "." + ev.control->name() + ":" + kProps[static_cast<size_t>(ev.prop)]);
  }
  return out;
}

Bench& SharedBench() {
  static Bench& b = *new Bench;  // left to the end of the process
  CloseLinkPort(b.ctx);
  *b.wire = FuzzWire{};
  b.changes.clear();
  b.ctx.Live.set({});
  b.ctx.History.set({});
  b.ctx.ReplyRecords.set({});
  return b;
}

std::string Joined(const std::vector<std::string>& changes) {
  std::string out;
  for (const std::string& c : changes) out += (out.empty() ? "" : ", ") + c;
  return out;
}

// ---- scratch files ----

namespace {

struct ScratchFolder {
  ScratchFolder() {
    // Memory-backed when there is one: the atomic writes sync every file.
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    const std::string base = tmp && *tmp ? tmp : std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/bms-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path = buf.data();
    owner = getpid();
  }
  ~ScratchFolder() {
    if (getpid() != owner) return;  // a forked child leaves the folder to its parent
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
  pid_t owner = 0;
};

}  // namespace

const std::string& ScratchDir() {
  static ScratchFolder folder;
  return folder.path;
}

std::string WriteScratch(const std::string& name, std::string_view bytes) {
  const std::string path = ScratchDir() + "/" + name;
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> CsvFields(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      fields.back().push_back(c);
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace bms::fuzz
