#include "sim/soak.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "core/commands/commands.h"
#include "core/context.h"
#include "core/history/eeprom_window.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/monitor/data_log.h"
#include "core/production_test/evt_run.h"
#include "core/production_test/production_test.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "sim/sim_port.h"
#include "sim/virtual_pack.h"

namespace bms::sim {

const char* SoakFaultName(SoakFault f) {
  switch (f) {
    case SoakFault::Drop:
      return "drop";
    case SoakFault::BitFlip:
      return "bit flip";
    case SoakFault::Inserted:
      return "inserted byte";
    case SoakFault::Duplicate:
      return "duplicated answer";
    case SoakFault::Truncated:
      return "truncated answer";
    case SoakFault::Late:
      return "late answer";
    case SoakFault::Gap:
      return "gap inside an answer";
    case SoakFault::Silence:
      return "silence";
    case SoakFault::Unplug:
      return "unplug";
  }
  return "?";
}

ResourceSample SampleResources() {
  ResourceSample s;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++s.fds;
    closedir(d);
    --s.fds;  // the descriptor of the listing itself
  }
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) s.threads = std::atoi(line.c_str() + 8);
    if (line.rfind("VmRSS:", 0) == 0) s.rss_kib = std::atoll(line.c_str() + 6);
  }
  return s;
}

namespace {

constexpr int64_t kHourMs = 3600000;
// A cycle must end at least this often (virtual time), silences aside.
constexpr int64_t kWatchdogMs = 90000;
// How long the operator takes to plug the adapter in again.
constexpr int64_t kReplugMs = 3000;
constexpr int kRecoveryCycles = 2;
// The LEAD block the history reads go through.
constexpr uint16_t kLeadRecordRegister = 0x6601;
constexpr size_t kLeadRecords = 40;

std::vector<HistoryEntry> LeadRecords() {
  std::vector<HistoryEntry> out;
  for (size_t i = 0; i < kLeadRecords; ++i) {
    HistoryEntry e;
    e.day = 1 + static_cast<int>(i % 28);
    e.hour = static_cast<int>(i % 24);
    e.minute = static_cast<int>((i * 7) % 60);
    e.current_ma = -static_cast<int32_t>(100 + i * 37);
    e.voltage_mv = static_cast<uint32_t>(46000 + i * 13);
    e.soc = static_cast<uint8_t>(i % 100);
    e.cycle_count = static_cast<uint16_t>(i);
    out.push_back(e);
  }
  return out;
}

// The values the pack reports in cycle k: every field of the log moves.
void CycleValues(Scenario& s, uint64_t k) {
  for (size_t i = 0; i < s.cell_series; ++i) s.cells_mv[i] = static_cast<uint16_t>(3300 + (k * 7 + i * 131) % 700);
  s.pack_current_ma = -1 - static_cast<int32_t>(k % 2000000);
  s.remaining_capacity_mah = static_cast<uint32_t>(1000 + k % 8000);
  s.total_charge_capacity_mah = 371250 + k;
  s.cycle_count = static_cast<uint16_t>(k % 65536);
  s.rsoc = static_cast<uint8_t>(k % 101);
  s.asoc = static_cast<uint8_t>((k * 3 + 50) % 101);
  s.t1 = static_cast<int8_t>(static_cast<int>(k % 70) - 20);
  s.t2 = static_cast<int8_t>(static_cast<int>(k % 61) - 10);
}

// The port the loop uses: the in-process port, with a look at every host
// write so the pack's values can move when a status poll goes out.
class WatchedPort final : public SerialPort {
 public:
  WatchedPort(std::unique_ptr<SerialPort> inner, std::function<void()> on_poll) : inner_(std::move(inner)), on_poll_(std::move(on_poll)) {}
  bool open(const std::string& path) override { return inner_->open(path); }
  void close() override { inner_->close(); }
  bool is_open() const override { return inner_->is_open(); }
  bool get_line(LineSettings& out) override { return inner_->get_line(out); }
  bool set_line(const LineSettings& in) override { return inner_->set_line(in); }
  bool set_queue_sizes(size_t in, size_t out) override { return inner_->set_queue_sizes(in, out); }
  bool set_timeouts(const PortTimeouts& t) override { return inner_->set_timeouts(t); }
  bool read(uint8_t* buf, size_t n, size_t* got) override { return inner_->read(buf, n, got); }
  bool write(const uint8_t* buf, size_t n, size_t* written) override {
    if (n == 3 && buf[0] == 0x26 && inner_->is_open()) on_poll_();
    return inner_->write(buf, n, written);
  }
  bool purge(unsigned flags) override { return inner_->purge(flags); }
  bool bytes_waiting(size_t* n) override { return inner_->bytes_waiting(n); }
  void cancel() override { inner_->cancel(); }
  PortError error() const override { return inner_->error(); }
  std::string error_text() const override { return inner_->error_text(); }

 private:
  std::unique_ptr<SerialPort> inner_;
  std::function<void()> on_poll_;
};

std::vector<std::string> SplitRow(const std::string& row) {
  std::vector<std::string> out;
  std::string cell;
  for (char c : row) {
    if (c == ',') {
      const size_t a = cell.find_first_not_of(' ');
      out.push_back(a == std::string::npos ? std::string() : cell.substr(a));
      cell.clear();
    } else {
      cell.push_back(c);
    }
  }
  // The header ends in ", ", a row in ",": neither leaves a cell behind.
  if (cell.find_first_not_of(' ') != std::string::npos) out.push_back(cell);
  return out;
}

// The production-test edition in a session of its own, in parallel with the
// polling: its own pack and virtual clock, a plan with the link and
// communication steps.
struct EvtSession {
  explicit EvtSession(const std::string& folder)
      : pack(clock),
        ctx(
            clock,
            [this](const std::string& name) -> std::unique_ptr<SerialPort> {
              if (name != kVirtualPortName) return nullptr;
              return std::make_unique<SimPort>(pack, nullptr);
            },
            /*inline_workers=*/true) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    ctx.PortName.set(kVirtualPortName);
    ctx.FormConfig.ComboBoxBaudRate.set_item_index(1);
    ctx.app.exe_name = "TQ58_EVT_bmssoak";
    ctx.app.data_folder = folder + "/";
    ctx.app.current_dir = folder + "/";
    WireCommandHandlers(ctx);
    SetCommandButtons(ctx, true);
    ctx.FormMain.self.set_text("TQ58_EVT_1.0.0");
    WireProductionTestHandlers(ctx);
    ctx.FormMain.EditEVTWorkNumber.set_text("W001");
    ctx.FormMain.EditEVTT1.set_text("25");
    ctx.FormMain.EditEVTDevTestNumberInput.set_text("1000");
    const std::string plan = folder + "/plan.ini";
    std::ofstream(plan, std::ios::binary) << "[Set]\r\n";
    ctx.FormMain.OpenDialog_PCM_INI.set_text(plan);
  }
  VirtualClock clock;
  VirtualPack pack;
  Context ctx;
};

class Soak {
 public:
  explicit Soak(const SoakOptions& o) : opts_(o), rng_(o.seed), pack_(clock_), ctx_(clock_, Factory(), /*inline_workers=*/true) {}

  SoakReport run();

 private:
  struct ActiveFault {
    SoakFault kind = SoakFault::Drop;
    int rule = 0;
    bool ended = false;
    int64_t ended_ms = 0;
    int cycles_after = 0;
  };

  PortFactory Factory() {
    return [this](const std::string& name) -> std::unique_ptr<SerialPort> {
      if (name != kVirtualPortName) return nullptr;
      return std::make_unique<WatchedPort>(std::make_unique<SimPort>(pack_, nullptr), [this] { NextCycleValues(); });
    };
  }

  void NextCycleValues() {
    const uint64_t k = ++poll_;
    pack_.update([k](Scenario& s) { CycleValues(s, k); });
  }

  void Violation(const std::string& what) {
    ++report_.violations;
    if (report_.first_violation.empty()) {
      report_.first_violation = what;
      report_.first_violation_ms = clock_.now_ms();
    }
    if (report_.violations <= 20) std::fprintf(stderr, "soak seed %u, virtual %.3f s: %s\n", opts_.seed, static_cast<double>(clock_.now_ms()) / 1000.0, what.c_str());
  }

  uint64_t Below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(rng_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

  void OnCycle(bool completed);
  Fault Rule(SoakFault kind, FaultMatch match, size_t size);
  void HistoryRead();
  void ProductionRuns();
  size_t CheckNewRows();
  void CheckRow(const std::string& row);
  void ArmFault();
  void FaultCycleEnded(bool completed);
  void Watchdog();
  void Sample();

  SoakOptions opts_;
  std::mt19937_64 rng_;
  VirtualClock clock_;
  VirtualPack pack_;
  Context ctx_;
  SoakReport report_;
  std::atomic<uint64_t> poll_{0};
  std::optional<ActiveFault> fault_;
  bool fault_in_cycle_ = false;  // a rule is armed for the cycle now running
  bool unplugged_ = false;
  bool finished_ = false;
  int64_t end_ms_ = 0;
  int64_t next_hour_ms_ = kHourMs;
  int64_t next_history_ms_ = kHourMs / 2;
  bool history_due_ = false;
  int64_t last_cycle_ms_ = 0;
  std::string log_path_;
  uint64_t log_offset_ = 0;
  std::string partial_;
  std::string header_;
  size_t columns_ = 0;
  std::unique_ptr<EvtSession> evt_;
};

void Soak::OnCycle(bool completed) {
  ++report_.cycles;
  if (completed) ++report_.completed_cycles;
  last_cycle_ms_ = clock_.now_ms();
  const size_t rows = CheckNewRows();
  if (completed && rows != 1) Violation("a completed cycle wrote " + std::to_string(rows) + " rows");
  if (!completed && rows != 0) Violation("an incomplete cycle wrote a row");

  if (fault_) FaultCycleEnded(completed);
  if (!fault_ && !finished_ && Chance(opts_.rate)) ArmFault();
  if (clock_.now_ms() >= next_hour_ms_) Sample();
  if (clock_.now_ms() >= next_history_ms_ && !fault_ && !finished_) {
    // A history read in turn: the operator stops polling and reads the LEAD block.
    next_history_ms_ += kHourMs;
    history_due_ = true;
    ctx_.RunFlag = 0;
    return;
  }
  if (clock_.now_ms() >= end_ms_ && !fault_) {
    finished_ = true;
    ctx_.RunFlag = 0;
  }
}

void Soak::FaultCycleEnded(bool completed) {
  ActiveFault& f = *fault_;
  if (fault_in_cycle_) {
    // The cycle that carried a one-cycle fault is over: so is the fault.
    pack_.faults().remove(f.rule);
    fault_in_cycle_ = false;
    f.ended = true;
    f.ended_ms = clock_.now_ms();
    return;
  }
  if (!f.ended || clock_.now_ms() <= f.ended_ms) return;
  ++f.cycles_after;
  if (completed) {
    ++report_.recoveries;
    report_.worst_recovery_cycles = std::max(report_.worst_recovery_cycles, f.cycles_after);
    int& worst = report_.worst_recovery_by_kind[static_cast<size_t>(f.kind)];
    worst = std::max(worst, f.cycles_after);
    fault_.reset();
  } else if (f.cycles_after >= kRecoveryCycles) {
    Violation(std::string("no complete cycle within ") + std::to_string(kRecoveryCycles) + " cycles after a fault (" + SoakFaultName(f.kind) + ") ended");
    fault_.reset();
  }
}

void Soak::ArmFault() {
  ActiveFault f;
  f.kind = static_cast<SoakFault>(Below(kSoakFaultKinds));
  ++report_.injected[static_cast<size_t>(f.kind)];
  const int64_t now = clock_.now_ms();
  if (f.kind == SoakFault::Silence) {
    pack_.set_silent(true);
    clock_.at(now + 1000 + static_cast<int64_t>(Below(29001)), [this] {
      pack_.set_silent(false);
      if (fault_ && fault_->kind == SoakFault::Silence) {
        fault_->ended = true;
        fault_->ended_ms = clock_.now_ms();
      }
    });
    fault_ = f;
    return;
  }
  if (f.kind == SoakFault::Unplug) {
    pack_.unplug_at(now + static_cast<int64_t>(Below(2001)));
    unplugged_ = true;
    fault_ = f;
    return;
  }
  // One answer of the next cycle: the status block or one register read.
  struct Target {
    FaultMatch match;
    size_t size;
  };
  const Target targets[] = {
      {FaultMatch::StatusPoll(), 96},        {FaultMatch::StatusPoll(), 96},
      {FaultMatch::StatusPoll(), 96},        {FaultMatch::Register(0x1001, 1), 26},
      {FaultMatch::Register(0x1001, 2), 26}, {FaultMatch::Register(0x1001, 3), 26},
      {FaultMatch::Register(0x1001, 4), 26}, {FaultMatch::Register(0x200B, 0), 26},
      {FaultMatch::Register(0x0005, 0), 26}, {FaultMatch::Register(0x6207, Below(4) + 1), 26},
  };
  const Target& t = targets[Below(std::size(targets))];
  f.rule = pack_.faults().add(Rule(f.kind, t.match, t.size));
  fault_in_cycle_ = true;
  fault_ = f;
}

// The rule of a one-answer fault of `kind` on the requests `match` selects,
// whose answer is `size` bytes long; it fires once, on the next of them.
Fault Soak::Rule(SoakFault kind, FaultMatch match, size_t size) {
  Fault rule = Fault::Make(match, FaultAction::Silence, FaultTrigger::Nth(1));
  switch (kind) {
    case SoakFault::Drop:
      break;
    case SoakFault::BitFlip:
      rule.action = FaultAction::BitFlip;
      rule.at_byte = Below(size);
      rule.value = static_cast<uint8_t>(Below(8));
      break;
    case SoakFault::Inserted:
      rule.action = FaultAction::Noise;
      rule.count = 1;
      rule.at_byte = Below(size + 1);
      rule.seed = static_cast<uint32_t>(Below(0xFFFFFFFFu) + 1);
      break;
    case SoakFault::Duplicate:
      rule.action = FaultAction::Duplicate;
      break;
    case SoakFault::Truncated:
      rule.action = FaultAction::DropBytes;
      rule.count = static_cast<int>(Below(12) + 1);
      break;
    case SoakFault::Late:
      rule.action = FaultAction::Delay;
      rule.ms = 51 + static_cast<int64_t>(Below(12000));
      break;
    case SoakFault::Gap:
      rule.action = FaultAction::Gap;
      rule.ms = 50 + static_cast<int64_t>(Below(3000));
      rule.at_byte = 1 + Below(size - 1);
      break;
    default:
      break;
  }
  return rule;
}

// Reads the LEAD block with one to three faults on its record chunks. A
// record whose checksum holds must be the pack's record, byte for byte;
// each fault spoils at most the two chunks it touches.
void Soak::HistoryRead() {
  ++report_.history_reads;
  const int faults = 1 + static_cast<int>(Below(3));
  std::vector<int> rules;
  for (int i = 0; i < faults; ++i) {
    const auto kind = static_cast<SoakFault>(Below(static_cast<uint64_t>(SoakFault::Silence)));
    ++report_.history_faults[static_cast<size_t>(kind)];
    FaultMatch m = FaultMatch::Register(kLeadRecordRegister, static_cast<uint16_t>(1 + Below(4)));
    m.param = static_cast<uint32_t>(1 + Below(kLeadRecords));
    rules.push_back(pack_.faults().add(Rule(kind, m, 2 * kFrameSize)));
  }
  RecordBlockReadWork(ctx_, HistoryBlock::Lead);
  ctx_.RunFlag = 0;
  for (int id : rules) pack_.faults().remove(id);
  last_cycle_ms_ = clock_.now_ms();

  const std::vector<std::array<uint8_t, 32>> got = ctx_.History.with([](HistoryState& h) { return h.block_records[static_cast<size_t>(HistoryBlock::Lead)]; });
  const std::vector<HistoryEntry> sent = LeadRecords();
  if (got.size() != sent.size()) {
    Violation("history read: " + std::to_string(got.size()) + " records of " + std::to_string(sent.size()));
    return;
  }
  int spoiled = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    ++report_.history_records;
    const auto& r = got[i];
    if (HistoryChecksum(r.data()) != (r[30] << 8 | r[31])) {
      ++spoiled;
      continue;
    }
    if (r != sent[i].Bytes()) Violation("history record " + std::to_string(i + 1) + " holds bytes the pack did not send");
  }
  report_.history_spoiled += static_cast<uint64_t>(spoiled);
  if (spoiled > 2 * faults) Violation("history read: " + std::to_string(spoiled) + " records spoiled by " + std::to_string(faults) + " faults");
}

// Reads what the log gained since the last look and checks each new row.
size_t Soak::CheckNewRows() {
  const std::string path = ctx_.Log ? ctx_.Log->path() : std::string();
  if (path.empty()) return 0;
  if (path != log_path_) {
    if (!partial_.empty()) Violation("the log " + log_path_ + " ends inside a row");
    log_path_ = path;
    log_offset_ = 0;
    partial_.clear();
    header_.clear();
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Violation("the log " + path + " cannot be read");
    return 0;
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(log_offset_));
    if (n <= 0) break;
    partial_.append(buf, static_cast<size_t>(n));
    log_offset_ += static_cast<uint64_t>(n);
  }
  ::close(fd);
  size_t rows = 0;
  for (size_t end; (end = partial_.find("\r\n")) != std::string::npos;) {
    const std::string line = partial_.substr(0, end);
    partial_.erase(0, end + 2);
    if (header_.empty()) {
      header_ = line;
      columns_ = SplitRow(line).size();
      if (line + "\r\n" != DataLogHeader(false)) Violation("the log header differs: " + line);
      continue;
    }
    ++rows;
    ++report_.rows;
    CheckRow(line);
  }
  return rows;
}

void Soak::CheckRow(const std::string& row) {
  const std::vector<std::string> cells = SplitRow(row);
  if (cells.size() != columns_) {
    Violation("a row has " + std::to_string(cells.size()) + " cells, the header " + std::to_string(columns_) + ": " + row);
    return;
  }
  Scenario s = DefaultScenario();
  CycleValues(s, poll_.load());
  uint32_t sum = 0;
  uint16_t hi = 0, lo = 0xFFFF;
  for (size_t i = 0; i < s.cell_series; ++i) {
    sum += s.cells_mv[i];
    hi = std::max(hi, s.cells_mv[i]);
    lo = std::min(lo, s.cells_mv[i]);
  }
  std::vector<std::pair<size_t, std::string>> expect = {
      {3, "0"},
      {4, (s.model_name + std::string(12, ' ')).substr(0, 12)},  // the 12 characters of the block
      {5, std::to_string(s.fw_major) + "." + std::to_string(s.fw_minor)},
      {6, s.serial_number},
      {7, std::to_string(sum)},
      {8, std::to_string(s.pack_current_ma)},
      {9, std::to_string(s.cell_series)},
      {10, std::to_string(s.cell_parallel)},
      {11, std::to_string(s.design_capacity_mah)},
      {12, std::to_string(s.full_charge_capacity_mah)},
      {13, std::to_string(s.remaining_capacity_mah)},
      {14, std::to_string(s.total_charge_capacity_mah)},
      {15, std::to_string(s.cycle_count)},
      {16, std::to_string(s.asoc)},
      {17, std::to_string(s.rsoc)},
      {18, std::to_string(s.t1)},
      {19, std::to_string(s.t2)},
      {27, std::to_string(hi)},
      {28, std::to_string(lo)},
      {29, std::to_string(hi - lo)},
  };
  for (size_t i = 0; i < s.cell_series && i < 14; ++i) expect.emplace_back(30 + i, std::to_string(s.cells_mv[i]));
  for (const auto& [col, text] : expect) {
    if (cells[col] != text) {
      Violation("row of cycle " + std::to_string(poll_.load()) + ", column " + std::to_string(col + 1) + ": '" + cells[col] + "', the pack sent '" + text + "': " + row);
      return;
    }
  }
  // The barcode is one of the pack's storages, read whole.
  const std::string& bc = cells[2];
  if (bc != *s.barcode_ext32 && bc != *s.barcode_int32 && bc != *s.barcode_int16)
    Violation("row of cycle " + std::to_string(poll_.load()) + ": barcode '" + bc + "' is none the pack holds: " + row);
}

void Soak::Watchdog() {
  if (finished_) return;
  const int64_t now = clock_.now_ms();
  if (now - last_cycle_ms_ > kWatchdogMs + 30000) {
    Violation("no cycle ended for " + std::to_string((now - last_cycle_ms_) / 1000) + " s of virtual time");
    finished_ = true;
    ctx_.RunFlag = 0;
    return;
  }
  clock_.at(now + 10000, [this] { Watchdog(); });
}

void Soak::Sample() {
  ResourceSample r = SampleResources();
  r.virtual_ms = clock_.now_ms();
  report_.hourly.push_back(r);
  if (report_.hourly.size() == 1) report_.first_hour = r;
  const ResourceSample& b = report_.first_hour;
  if (r.fds != b.fds) Violation("descriptors: " + std::to_string(r.fds) + " after hour " + std::to_string(report_.hourly.size()) + ", " + std::to_string(b.fds) + " after hour 1");
  if (r.threads != b.threads) Violation("threads: " + std::to_string(r.threads) + ", " + std::to_string(b.threads) + " after hour 1");
  if (r.rss_kib > b.rss_kib + 8192) Violation("resident memory grew from " + std::to_string(b.rss_kib) + " KiB to " + std::to_string(r.rss_kib) + " KiB");
  if (opts_.progress)
    std::fprintf(stderr, "soak seed %u: hour %zu, %llu cycles, %llu rows, fds %d, threads %d, RSS %lld KiB\n", opts_.seed, report_.hourly.size(),
                 static_cast<unsigned long long>(report_.cycles), static_cast<unsigned long long>(report_.rows), r.fds, r.threads, static_cast<long long>(r.rss_kib));
  next_hour_ms_ += kHourMs;
  ProductionRuns();
}

// Three production tests on the parallel session: one on a clean line, which
// must pass, and two with a fault on one of the first answers; each must end
// with a verdict and its report file, whole.
void Soak::ProductionRuns() {
  if (!evt_) return;
  for (int i = 0; i < 3; ++i) {
    int rule = 0;
    if (i > 0) {
      const auto kind = static_cast<SoakFault>(Below(static_cast<uint64_t>(SoakFault::Silence)));
      ++report_.production_faults[static_cast<size_t>(kind)];
      Fault f = Rule(kind, FaultMatch::Any(), 2 * kFrameSize);
      f.trigger = FaultTrigger::Nth(static_cast<int>(1 + Below(3)));
      rule = evt_->pack.faults().add(f);
    }
    ++report_.production_runs;
    const int64_t t0 = evt_->clock.now_ms();
    evt_->ctx.FormMain.EditEVTBarcode.set_text("BC-" + std::to_string(report_.production_runs));
    std::string error;
    const bool started = SpdBtnEVTTestClick(evt_->ctx, &error);
    if (rule) evt_->pack.faults().remove(rule);
    const std::string which = "production test " + std::to_string(report_.production_runs);
    if (!started || !evt_->ctx.Evt) {
      Violation(which + " did not start: " + error);
      continue;
    }
    const EvtOutcome o = evt_->ctx.Evt->outcome.get();
    if (!o.finished || (o.verdict != "PASS" && o.verdict != "FAIL")) Violation(which + " ended without a verdict");
    if (o.verdict == "PASS") ++report_.production_passes;
    if (i == 0 && o.verdict != "PASS") Violation(which + " on a clean line: " + o.verdict);
    if (evt_->clock.now_ms() - t0 > 600000) Violation(which + " took " + std::to_string((evt_->clock.now_ms() - t0) / 1000) + " s");
    std::ifstream in(o.report_path, std::ios::binary);
    const std::string report((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!o.report_written || report.size() < 2 || report.compare(report.size() - 2, 2, "\r\n") != 0) {
      Violation(which + ": report " + o.report_path + " not written whole " + o.report_error);
    } else {
      ++report_.production_reports;
    }
    evt_->clock.advance(1000);
  }
}

SoakReport Soak::run() {
  const auto real_start = std::chrono::steady_clock::now();
  report_.seed = opts_.seed;
  std::string folder = opts_.folder;
  bool remove_folder = false;
  if (folder.empty()) {
    // Each row is flushed to the disk: in memory where there is one, that
    // costs nothing.
    std::string tmpl = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/bmssoak.XXXXXX" : "/tmp/bmssoak.XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      Violation("no temporary folder for the logs");
      return report_;
    }
    folder = tmpl;
    remove_folder = true;
  }
  end_ms_ = static_cast<int64_t>(opts_.hours * static_cast<double>(kHourMs));
  pack_.update([](Scenario& s) {
    CycleValues(s, 0);
    s.lead_records = LeadRecords();
  });

  evt_ = std::make_unique<EvtSession>(folder + "/evt");
  report_.start = SampleResources();
  // A hang in real time: the virtual clock stands still while the run is on.
  std::atomic<bool> done{false};
  std::atomic<bool> hung{false};
  std::thread watchdog([this, &done, &hung] {
    int64_t seen = -1;
    int still = 0;
    while (!done.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const int64_t now = clock_.now_ms();
      still = now == seen ? still + 1 : 0;
      seen = now;
      if (still >= 300) {  // 30 s of real time without virtual progress
        hung = true;
        std::fprintf(stderr, "soak seed %u: hang at virtual %.3f s (no progress for 30 s of real time)\n", opts_.seed, static_cast<double>(now) / 1000.0);
        std::fflush(stderr);
        std::_Exit(3);
      }
    }
  });

  ctx_.app.exe_name = "TQ58_LIT_bmssoak";
  ctx_.app.data_folder = folder + "/";
  ctx_.app.current_dir = folder + "/";
  CreateApplication(ctx_);
  ctx_.FormConfig.CobBoxInterfaceName.set_text(kVirtualPortName);
  ctx_.FormConfig.ComboBoxBaudRate.set_item_index(1);
  SpdBtnYESClick(ctx_);
  ctx_.FormConfig.CheckBoxLogFileSave.set_checked(true);
  ctx_.MonitorCycleHook = [this](bool completed) { OnCycle(completed); };
  clock_.at(10000, [this] { Watchdog(); });

  while (!finished_) {
    ++report_.runs;
    ctx_.FormMain.SpdBtnRUN.click();  // inline worker: returns when the run has ended
    CheckNewRows();
    if (finished_) break;
    if (history_due_) {
      history_due_ = false;
      HistoryRead();
      continue;
    }
    if (!unplugged_) {
      Violation("the run ended by itself: " + ctx_.FormMain.StatusBarView.item(2));
      break;
    }
    // The operator plugs the adapter in again and presses RUN.
    clock_.advance(kReplugMs);
    pack_.replug();
    unplugged_ = false;
    if (fault_) {
      fault_->ended = true;
      fault_->ended_ms = clock_.now_ms();
    }
  }
  finished_ = true;
  ctx_.MonitorCycleHook = nullptr;
  if (!partial_.empty()) Violation("the log " + log_path_ + " ends inside a row");
  if (ctx_.FormMain.SpdBtnRUN.text() != "RUN") Violation("RUN did not come back after the stop");

  done = true;
  watchdog.join();
  report_.end = SampleResources();
  report_.end.virtual_ms = clock_.now_ms();
  if (report_.end.fds != report_.start.fds) Violation("descriptors: " + std::to_string(report_.start.fds) + " at the start, " + std::to_string(report_.end.fds) + " at the end");
  if (report_.end.threads != report_.start.threads)
    Violation("threads: " + std::to_string(report_.start.threads) + " at the start, " + std::to_string(report_.end.threads) + " at the end");
  report_.virtual_hours = static_cast<double>(clock_.now_ms()) / static_cast<double>(kHourMs);
  if (remove_folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  report_.real_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - real_start).count();
  return report_;
}

}  // namespace

std::string SoakReport::text() const {
  std::ostringstream o;
  char line[256];
  std::snprintf(line, sizeof line, "seed %u: %.2f virtual hours, %llu cycles (%llu complete), %llu rows, %llu RUN presses, %.1f s real time\n", seed, virtual_hours,
                static_cast<unsigned long long>(cycles), static_cast<unsigned long long>(completed_cycles), static_cast<unsigned long long>(rows),
                static_cast<unsigned long long>(runs), real_seconds);
  o << line;
  uint64_t total = 0;
  for (uint64_t n : injected) total += n;
  o << "  faults injected: " << total;
  for (size_t i = 0; i < kSoakFaultKinds; ++i) o << (i ? ", " : " (") << SoakFaultName(static_cast<SoakFault>(i)) << " " << injected[i];
  o << ")\n";
  uint64_t hist = 0;
  for (uint64_t n : history_faults) hist += n;
  o << "  history reads: " << history_reads << ", " << history_records << " records, " << hist << " faults on them, " << history_spoiled << " records with a broken checksum\n";
  uint64_t prod = 0;
  for (uint64_t n : production_faults) prod += n;
  o << "  production tests (parallel session): " << production_runs << ", " << production_passes << " PASS, " << production_reports << " reports written whole, " << prod
    << " faults on them\n";
  o << "  recoveries: " << recoveries << ", worst " << worst_recovery_cycles << (worst_recovery_cycles == 1 ? " cycle" : " cycles");
  for (size_t i = 0; i < kSoakFaultKinds; ++i) o << (i ? ", " : " (") << SoakFaultName(static_cast<SoakFault>(i)) << " " << worst_recovery_by_kind[i];
  o << ")\n";
  std::snprintf(line, sizeof line, "  descriptors %d -> %d, threads %d -> %d, RSS %lld KiB (hour 1: %lld KiB) -> %lld KiB\n", start.fds, end.fds, start.threads, end.threads,
                static_cast<long long>(start.rss_kib), static_cast<long long>(first_hour.rss_kib), static_cast<long long>(end.rss_kib));
  o << line;
  if (violations == 0) {
    o << "  no violation\n";
  } else {
    std::snprintf(line, sizeof line, "  %llu violations; the first at virtual %.3f s (replay: --seed %u): ", static_cast<unsigned long long>(violations),
                  static_cast<double>(first_violation_ms) / 1000.0, seed);
    o << line << first_violation << "\n";
  }
  return o.str();
}

SoakReport RunSoak(const SoakOptions& options) {
  Soak soak(options);
  return soak.run();
}

}  // namespace bms::sim
