// Link timing with the real serial layer and the real clock on a
// pseudo-terminal, at 19200 baud.
//
// A read ends read_interval (50 ms) after the last byte of the reply; what the
// port adds beyond that is our own overhead per exchange (goal: at most 1 ms).
// While the read waits, the host must sleep in poll(): the CPU time per
// exchange shows that nothing busy-waits (goal: near zero).
//
//   BM_PackExchange      the virtual pack served by PtyServer; the moment the
//                        reply reached the host comes from the server's wire
//                        log, whose stamps have millisecond resolution, so the
//                        overhead is given as a range [low, high].
//   BM_IntervalOverhead  a bare pseudo-terminal whose far end answers at once
//                        and stamps the reply in nanoseconds: the exact figure.
//   BM_SilentWait        a silent pack: a read that runs into its total
//                        time-out (200 ms here), CPU time while waiting.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/link/frame.h"
#include "core/link/posix_serial_port.h"
#include "sim/pty_server.h"

namespace {

int64_t NowNs(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
int64_t MonoNs() { return NowNs(CLOCK_MONOTONIC); }
int64_t ThreadCpuNs() { return NowNs(CLOCK_THREAD_CPUTIME_ID); }
int64_t ProcessCpuNs() { return NowNs(CLOCK_PROCESS_CPUTIME_ID); }

bool OpenHostPort(bms::PosixSerialPort& port, const std::string& path, const bms::PortTimeouts& t, benchmark::State& state) {
  bms::LineSettings line;
  if (!port.open(path) || !port.get_line(line)) {
    state.SkipWithError(port.error_text().c_str());
    return false;
  }
  line.baud = 19200;
  line.data_bits = 8;
  line.parity = 'N';
  line.stop_bits = 1;
  if (!port.set_line(line) || !port.set_timeouts(t) || !port.purge(bms::kPurgeAll)) {
    state.SkipWithError(port.error_text().c_str());
    return false;
  }
  return true;
}

// Firmware version request (register 0x0005): 13 bytes out, 26 bytes back.
bms::LinkFrame VersionRequest() {
  const uint8_t params[3] = {0, 0, 0};
  return bms::BuildRequestFrame(0x0005, 0, params, 0);
}

struct Tally {
  double sum = 0, max = -1e9, min = 1e9;
  int n = 0;
  void add(double v) {
    sum += v;
    max = std::max(max, v);
    min = std::min(min, v);
    ++n;
  }
  double mean() const { return n > 0 ? sum / n : 0; }
};

void BM_PackExchange(benchmark::State& state) {
  bms::sim::PtyServer server;
  std::string why;
  if (!server.start(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  bms::PosixSerialPort port;
  if (!OpenHostPort(port, server.slave_path(), bms::PortTimeouts{}, state)) return;
  const bms::LinkFrame request = VersionRequest();
  std::vector<uint8_t> buf(bms::kReplyReadSize);
  Tally low, high, host_cpu, process_cpu;

  for (auto _ : state) {
    server.wire().clear();
    const int64_t cpu0 = ThreadCpuNs(), pcpu0 = ProcessCpuNs();
    size_t written = 0, got = 0;
    const bool ok = port.write(request.data(), request.size(), &written) && port.read(buf.data(), buf.size(), &got);
    const int64_t end_ns = MonoNs();
    host_cpu.add(static_cast<double>(ThreadCpuNs() - cpu0) / 1e3);
    process_cpu.add(static_cast<double>(ProcessCpuNs() - pcpu0) / 1e3);
    if (!ok || got != 26) {
      state.SkipWithError(("exchange failed: " + port.error_text() + ", " + std::to_string(got) + " bytes").c_str());
      break;
    }
    // The server wrote the whole reply at one instant, stamped in whole
    // milliseconds of the same monotonic clock: it reached the host between
    // the stamp and one millisecond later.
    const std::vector<bms::sim::WireEntry> pack = server.wire().pack_bytes();
    if (pack.empty()) {
      state.SkipWithError("no reply in the wire log");
      break;
    }
    const double after_ms = static_cast<double>(end_ns - pack.back().t_us * 1000) / 1e6 - 50.0;
    high.add(after_ms);
    low.add(after_ms - 1.0);
  }
  state.counters["overhead_ms_low"] = low.mean();
  state.counters["overhead_ms_high"] = high.mean();
  state.counters["overhead_ms_high_max"] = high.n > 0 ? high.max : 0;
  state.counters["host_cpu_us"] = host_cpu.mean();
  state.counters["process_cpu_us"] = process_cpu.mean();
  port.close();
  server.stop();
}
BENCHMARK(BM_PackExchange)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// A far end that answers every 13-byte request at once with 26 bytes and
// notes, in nanoseconds, when the answer was handed to the line.
class EchoDevice {
 public:
  bool start() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) return false;
    slave_ = name;
    stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd_ < 0) return false;
    thread_ = std::thread([this] { run(); });
    return true;
  }
  ~EchoDevice() {
    if (thread_.joinable()) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t w = ::write(stop_fd_, &one, sizeof one);
      thread_.join();
    }
    if (stop_fd_ >= 0) ::close(stop_fd_);
    if (master_ >= 0) ::close(master_);
  }
  const std::string& slave() const { return slave_; }
  int64_t last_reply_ns() const { return last_reply_ns_.load(); }

 private:
  void run() {
    std::vector<uint8_t> reply(26, 0x40);
    size_t pending = 0;
    uint8_t buf[256];
    for (;;) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      if (fds[0].revents & (POLLHUP | POLLERR)) return;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      pending += static_cast<size_t>(n);
      for (; pending >= 13; pending -= 13) {
        if (::write(master_, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size())) last_reply_ns_ = MonoNs();
      }
    }
  }

  int master_ = -1;
  int stop_fd_ = -1;
  std::string slave_;
  std::thread thread_;
  std::atomic<int64_t> last_reply_ns_{0};
};

void BM_IntervalOverhead(benchmark::State& state) {
  EchoDevice device;
  if (!device.start()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  bms::PosixSerialPort port;
  if (!OpenHostPort(port, device.slave(), bms::PortTimeouts{}, state)) return;
  const bms::LinkFrame request = VersionRequest();
  std::vector<uint8_t> buf(bms::kReplyReadSize);
  Tally overhead, host_cpu;
  for (auto _ : state) {
    const int64_t cpu0 = ThreadCpuNs();
    size_t written = 0, got = 0;
    const bool ok = port.write(request.data(), request.size(), &written) && port.read(buf.data(), buf.size(), &got);
    const int64_t end_ns = MonoNs();
    host_cpu.add(static_cast<double>(ThreadCpuNs() - cpu0) / 1e3);
    if (!ok || got != 26) {
      state.SkipWithError(("exchange failed: " + port.error_text()).c_str());
      break;
    }
    overhead.add(static_cast<double>(end_ns - device.last_reply_ns()) / 1e6 - 50.0);
  }
  state.counters["overhead_ms_mean"] = overhead.mean();
  state.counters["overhead_ms_min"] = overhead.n > 0 ? overhead.min : 0;
  state.counters["overhead_ms_max"] = overhead.n > 0 ? overhead.max : 0;
  state.counters["host_cpu_us"] = host_cpu.mean();
}
BENCHMARK(BM_IntervalOverhead)->Iterations(40)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SilentWait(benchmark::State& state) {
  bms::sim::PtyServer server;
  std::string why;
  if (!server.start(&why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  server.pack().set_silent(true);
  bms::PortTimeouts t;
  t.read_total_constant = 200;
  t.read_total_multiplier = 0;
  bms::PosixSerialPort port;
  if (!OpenHostPort(port, server.slave_path(), t, state)) return;
  const bms::LinkFrame request = VersionRequest();
  std::vector<uint8_t> buf(bms::kReplyReadSize);
  Tally host_cpu, late;
  for (auto _ : state) {
    const int64_t cpu0 = ThreadCpuNs();
    size_t written = 0, got = 0;
    const bool ok = port.write(request.data(), request.size(), &written);
    const int64_t start_ns = MonoNs();
    const bool read_ok = port.read(buf.data(), buf.size(), &got);
    late.add(static_cast<double>(MonoNs() - start_ns) / 1e6 - 200.0);
    host_cpu.add(static_cast<double>(ThreadCpuNs() - cpu0) / 1e3);
    if (!ok || !read_ok || got != 0) {
      state.SkipWithError("the silent pack answered or the port failed");
      break;
    }
  }
  state.counters["host_cpu_us"] = host_cpu.mean();
  state.counters["late_ms_mean"] = late.mean();
}
BENCHMARK(BM_SilentWait)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
