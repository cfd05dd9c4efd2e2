// One polling cycle of the plain edition (MonitorLoop) with the real serial
// layer and the real clock: the virtual pack served by PtyServer on a
// pseudo-terminal at 19200 baud, PosixSerialPort, the CSV data log on (in a
// temporary folder, every row written and flushed to the disk).
//
// What a cycle should take. The loop is paced only by its fixed waits, the
// bytes on the line, the pack's latency and the 50 ms interval that ends every
// reply read. With b = 10/19200 s per byte (0.5208 ms) and L the pack's
// latency (3 ms by default), on a serial line:
//
//   status      10 ms pause, the poll (3 b), L, the block (96 b); the block
//               read asks for 96 bytes and ends at the 96th
//   registers   0x1001 pages 1-4, 0x200B, 0x0005, each: request (13 b), L,
//               reply (26 b), then the 50 ms interval after its last byte
//   barcode     "Auto " reads the external 32-character barcode in 4 chunks:
//               request, 30 ms pause, read. The reply (13 b + L + 26 b =
//               23.3 ms) is complete before the read starts, so the read ends
//               50 ms after it starts: max(30, 39 b + L) + 50 per chunk, plus
//               90 ms between chunks and 10 ms after the last
//
//   T_line = 10 + (99 b + L) + 6 (39 b + L + 50) + 4 (max(30, 39 b + L) + 50) + 3 * 90 + 10
//          = 1104.4 ms for L = 3 ms
//
// A pseudo-terminal is not a line: PtyServer hands each answer to the host in
// one piece at the instant its first byte is due, and the pack's one
// transmitter stays busy for the answer's wire time (so the first reply after
// the status block waits for the block's 96 b, but no reply brings its own
// 26 b). What the same waits imply over the pty is therefore taken from the
// server's wire log, cycle by cycle, with d = the time from a request to the
// pack's answer as the pty delivered it:
//
//   T_wire = 10 + d_poll + sum over the 6 registers (d + 50) + sum over the 4 chunks (max(30, d) + 50) + 3 * 90 + 10
//
// Ideally 1013.4 ms for L = 3 ms: d_poll = 3 b + L, d = 96 b for the first
// register (its request goes out while the pack still sends the block), 13 b +
// L for the others. T_line is 91 ms longer: the six register replies' 26 b
// and the first request's 13 b + L. The log stamps whole milliseconds, so
// each d is good to about 1 ms and a cycle's sum of 11 to a few.
//
// ratio = measured / T_wire is what the host adds of its own (writes, purges,
// reads, wake-ups, decoding, the display models, the CSV row and its flush to
// the disk); goal: at most 1.05. ratio_line = measured / T_line compares with
// a real line at 19200 baud.
//
// The measured cycle is the time between two calls of ctx.MonitorCycleHook
// (the end of one cycle to the end of the next). Every measured cycle is
// checked against the wire log: one status poll and exactly the ten requests
// above, in that order, each answered. CPU time per cycle: the polling
// worker's own thread (host_cpu_ms) and the whole process with the pack's
// thread (process_cpu_ms).
//
// Run: build-dir/bench_monitor (about 15 s).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/monitor/data_log.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/pty_server.h"
#include "sim/wire_log.h"

namespace {

int64_t NowNs(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Mark {
  int64_t mono_ns = 0;         // CLOCK_MONOTONIC, the clock the wire log stamps in ms
  int64_t thread_cpu_ns = 0;   // the polling worker's thread
  int64_t process_cpu_ns = 0;  // the whole process
  bool completed = false;
};

struct Tally {
  double sum = 0, max = 0;
  int n = 0;
  void add(double v) {
    sum += v;
    max = n == 0 ? v : std::max(max, v);
    ++n;
  }
  double mean() const { return n > 0 ? sum / n : 0; }
};

// A folder for the data log, removed at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/bms_bench_XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Expected {
  bms::sim::HostMessage::Kind kind;
  uint16_t address;
  uint16_t length;
};

// The host's messages of one plain cycle with the barcode in "Auto ".
const Expected kCycle[] = {
    {bms::sim::HostMessage::StatusPoll, 0, 0},   {bms::sim::HostMessage::Request, 0x1001, 1}, {bms::sim::HostMessage::Request, 0x1001, 2},
    {bms::sim::HostMessage::Request, 0x1001, 3}, {bms::sim::HostMessage::Request, 0x1001, 4}, {bms::sim::HostMessage::Request, 0x200B, 0},
    {bms::sim::HostMessage::Request, 0x0005, 0}, {bms::sim::HostMessage::Request, 0x6207, 1}, {bms::sim::HostMessage::Request, 0x6207, 2},
    {bms::sim::HostMessage::Request, 0x6207, 3}, {bms::sim::HostMessage::Request, 0x6207, 4},
};

// Checks the host messages between two cycle ends against kCycle and returns
// the cycle's T_wire (see above) in *implied_ms. Empty when all is well, else
// what differed.
std::string CheckCycle(const std::vector<bms::sim::HostMessage>& host, const std::vector<bms::sim::WireEntry>& pack, int64_t from_us, int64_t to_us, double* implied_ms) {
  std::vector<bms::sim::HostMessage> sent;
  for (const auto& m : host)
    if (m.t_us > from_us && m.t_us <= to_us) sent.push_back(m);
  // One answer per message, in order (the pack writes each answer at once).
  std::vector<bms::sim::WireEntry> answers;
  for (const auto& p : pack)
    if (p.t_us > from_us && p.t_us <= to_us) answers.push_back(p);
  if (sent.size() != std::size(kCycle)) return "a cycle sent " + std::to_string(sent.size()) + " messages, not " + std::to_string(std::size(kCycle));
  if (answers.size() != sent.size()) return "a cycle got " + std::to_string(answers.size()) + " answers to " + std::to_string(sent.size()) + " messages";
  double implied = 10 + 3 * 90 + 10;  // the pause before the poll, between the chunks, after the last
  for (size_t i = 0; i < sent.size(); ++i) {
    const Expected& e = kCycle[i];
    if (sent[i].kind != e.kind || (e.kind == bms::sim::HostMessage::Request && (sent[i].address != e.address || sent[i].length != e.length)))
      return "message " + std::to_string(i + 1) + " of a cycle is not the expected one";
    if (answers[i].t_us < sent[i].t_us || (i + 1 < sent.size() && answers[i].t_us > sent[i + 1].t_us)) return "answer " + std::to_string(i + 1) + " of a cycle is out of order";
    const double d = static_cast<double>(answers[i].t_us - sent[i].t_us) / 1000.0;
    if (e.kind == bms::sim::HostMessage::StatusPoll)
      implied += d;
    else if (e.address == 0x6207)
      implied += std::max(30.0, d) + 50;
    else
      implied += d + 50;
  }
  *implied_ms = implied;
  return "";
}

void BM_MonitorCycle(benchmark::State& state) {
  bms::sim::PtyServer server;
  std::string why;
  if (!server.start(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  TempDir dir;
  if (dir.path().empty()) {
    state.SkipWithError("cannot create a temporary folder");
    return;
  }

  bms::RealClock clock;
  bms::Context ctx(clock, bms::sim::MakePortFactory(nullptr, clock, nullptr), /*inline_workers=*/false);
  bms::StartOptions opts;
  opts.argv0 = dir.path() + "/TQ58_LIT_bmsmon";  // the plain edition
  opts.data_dir = dir.path();
  bms::InitAppIdentity(ctx, opts);
  ctx.app.current_dir = dir.path() + "/";  // INI files, if any are written, stay in the folder
  bms::CreateApplication(ctx);
  ctx.FormConfig.ComboBoxBaudRate.select(1);  // 19200
  ctx.FormConfig.CobBoxInterfaceName.set_text(server.slave_path());
  ctx.FormConfig.SpdBtnYES.set_enabled(true);
  ctx.FormConfig.SpdBtnYES.click();
  ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);

  std::mutex mu;
  std::condition_variable cv;
  std::vector<Mark> marks;
  ctx.MonitorCycleHook = [&](bool completed) {
    const Mark m{NowNs(CLOCK_MONOTONIC), NowNs(CLOCK_THREAD_CPUTIME_ID), NowNs(CLOCK_PROCESS_CPUTIME_ID), completed};
    {
      std::lock_guard<std::mutex> lock(mu);
      marks.push_back(m);
    }
    cv.notify_all();
  };
  auto await_marks = [&](size_t n) {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait_for(lock, std::chrono::seconds(30), [&] { return marks.size() >= n || !ctx.MonitorActive.load(); });
    return marks.size() >= n;
  };

  ctx.FormMain.SpdBtnRUN.click();
  // The first cycle also opens the port, the log and probes the history: not measured.
  if (!await_marks(1)) {
    state.SkipWithError(("polling did not start:" + ctx.FormMain.StatusBarView.item(2)).c_str());
    ctx.Shutdown();
    return;
  }

  Tally cycle_ms, host_cpu_ms, process_cpu_ms;
  size_t next = 1;
  for (auto _ : state) {
    if (!await_marks(next + 1)) {
      state.SkipWithError(("polling ended:" + ctx.FormMain.StatusBarView.item(2)).c_str());
      break;
    }
    Mark a, b;
    {
      std::lock_guard<std::mutex> lock(mu);
      a = marks[next - 1];
      b = marks[next];
    }
    if (!b.completed) {
      state.SkipWithError("a cycle did not complete (no valid status block)");
      break;
    }
    const double ms = static_cast<double>(b.mono_ns - a.mono_ns) / 1e6;
    state.SetIterationTime(ms / 1e3);
    cycle_ms.add(ms);
    host_cpu_ms.add(static_cast<double>(b.thread_cpu_ns - a.thread_cpu_ns) / 1e6);
    process_cpu_ms.add(static_cast<double>(b.process_cpu_ns - a.process_cpu_ns) / 1e6);
    ++next;
  }
  ctx.RunFlag = 0;
  ctx.workers.wait_idle(15000);
  if (!ctx.Log->error().empty() || ctx.Log->path().empty()) state.SkipWithError(("the data log was not written: " + ctx.Log->error()).c_str());

  // The wire log of the measured cycles.
  const std::vector<bms::sim::HostMessage> host = server.wire().host_messages();
  const std::vector<bms::sim::WireEntry> pack = server.wire().pack_bytes();
  Tally implied_ms;
  for (size_t i = 1; i < next; ++i) {
    // The log stamps whole milliseconds; a cycle's first message comes 10 ms
    // after the previous cycle's end, its last one more than 50 ms before its own.
    const int64_t from_us = marks[i - 1].mono_ns / 1000000 * 1000, to_us = marks[i].mono_ns / 1000000 * 1000;
    double implied = 0;
    const std::string wrong = CheckCycle(host, pack, from_us, to_us, &implied);
    if (!wrong.empty()) {
      state.SkipWithError(wrong.c_str());
      break;
    }
    implied_ms.add(implied);
  }

  const double b = 10.0 / 19200.0 * 1000.0;  // ms per byte
  const double latency = static_cast<double>(server.pack().scenario().latency_us) / 1000.0;
  const double t_line = 10 + (99 * b + latency) + 6 * (39 * b + latency + 50) + 4 * (std::max(30.0, 39 * b + latency) + 50) + 3 * 90 + 10;
  state.counters["cycle_ms"] = cycle_ms.mean();
  state.counters["cycle_ms_max"] = cycle_ms.max;
  state.counters["implied_ms"] = implied_ms.mean();
  state.counters["ratio"] = implied_ms.sum > 0 ? cycle_ms.sum / implied_ms.sum : 0;
  state.counters["implied_line_ms"] = t_line;
  state.counters["ratio_line"] = cycle_ms.mean() / t_line;
  state.counters["host_cpu_ms"] = host_cpu_ms.mean();
  state.counters["process_cpu_ms"] = process_cpu_ms.mean();
  server.stop();
}
BENCHMARK(BM_MonitorCycle)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
