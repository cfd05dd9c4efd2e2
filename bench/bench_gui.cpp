// bench_gui: the GUI polling the in-process virtual pack on the real clock,
// on the offscreen platform. Reports the CPU the process uses while polling,
// its resident memory, the delay from the last byte of a status block on the
// wire to the widget showing its pack voltage, and how long the exit takes
// while a read is pending.
//
//   bench_gui [SECONDS]     (default 15)
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/frontend.h"
#include "app/qt/main_window.h"
#include "core/context.h"
#include "core/platform/clock.h"
#include "core/shell/app.h"
#include "sim/port_factory.h"
#include "sim/scenario.h"
#include "sim/virtual_pack.h"
#include "sim/wire_log.h"

namespace {

constexpr double kCpuTargetPercent = 3.0;
constexpr double kRssTargetMb = 150.0;
constexpr double kLatencyTargetMs = 50.0;
constexpr double kExitTargetMs = 1000.0;

int64_t SteadyUs() { return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// VmRSS or VmHWM of this process in MB.
double MemoryMb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::strtod(line.c_str() + std::string(key).size(), nullptr) / 1024.0;
  return 0;
}

// Runs the event loop for ms milliseconds (or until cond holds).
void RunFor(int ms, const std::function<bool()>& cond = {}) {
  QElapsedTimer t;
  t.start();
  QTimer tick;
  tick.start(20);
  while (t.elapsed() < ms && !(cond && cond())) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * double(v.size() - 1) + 0.5));
  return v[i];
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 15;
  bms::qt::GuiApplication app(argc, argv);
  QTemporaryDir dir;

  bms::RealClock clock;
  bms::sim::WireLog wire;
  bms::sim::VirtualPack pack(clock, bms::sim::DefaultScenario());
  bms::Context ctx(clock, bms::sim::MakePortFactory(&pack, clock, &wire));
  bms::StartOptions opts;
  opts.argv0 = dir.filePath(QStringLiteral("TQ58_LIT_bmsmon")).toStdString();
  opts.data_dir = dir.path().toStdString();
  opts.simulate = true;
  bms::InitAppIdentity(ctx, opts);

  bms::qt::Frontend fe(ctx);
  auto* volt = fe.main_window().findChild<QLineEdit*>(QStringLiteral("EditPackVolt"));
  // When the pack voltage of each status block reached its widget.
  std::vector<std::pair<long, int64_t>> shown;  // voltage, steady µs
  std::atomic<bool> measuring{false};
  fe.binder().set_observer([&](const bms::UiEvent& ev) {
    if (!measuring || ev.control != &ctx.FormMain.EditPackVolt || ev.prop != bms::Prop::Text) return;
    const long v = volt->text().toLong();
    if (v > 0) shown.emplace_back(v, SteadyUs());
  });
  fe.attach();
  bms::CreateApplication(ctx);
  bms::ShowMainWindow(ctx);
  ctx.FormConfig.SpdBtnYES.click();
  ctx.FormMain.SpdBtnRUN.click();

  // A new pack voltage every 40 ms, so every status block carries a value
  // the display has not shown yet.
  std::atomic<bool> ramp{true};
  std::thread ramp_thread([&] {
    uint32_t k = 0;
    while (ramp) {
      pack.update([&](bms::sim::Scenario& s) { s.pack_voltage_mv = 50000 + (k++ % 5000); });
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });

  RunFor(2500);  // warm-up: first cycles, lazy allocations
  const double rss_before = MemoryMb("VmRSS:");
  wire.clear();
  measuring = true;
  const double cpu0 = CpuSeconds();
  const int64_t wall0 = SteadyUs();
  RunFor(seconds * 1000);
  const double cpu = CpuSeconds() - cpu0;
  const double wall = double(SteadyUs() - wall0) / 1e6;
  measuring = false;
  ramp = false;
  ramp_thread.join();
  const double rss = MemoryMb("VmRSS:");
  const double hwm = MemoryMb("VmHWM:");

  // Status blocks on the wire: when their last byte arrived, by voltage.
  std::map<long, int64_t> block_end;
  int blocks = 0;
  for (const bms::sim::WireEntry& e : wire.entries()) {
    if (e.dir != bms::sim::Direction::PackToHost || e.bytes.size() != 96 || e.bytes[0] != 0x4A) continue;
    ++blocks;
    const long v = (long(e.bytes[27]) << 24) | (long(e.bytes[28]) << 16) | (long(e.bytes[29]) << 8) | long(e.bytes[30]);
    block_end.emplace(v, e.end_us());  // the first block with this value
  }
  std::vector<double> delays_ms;
  for (const auto& [v, at] : shown) {
    auto it = block_end.find(v);
    if (it != block_end.end()) delays_ms.push_back(double(at - it->second) / 1000.0);
  }

  // Exit while the polling worker waits for a pack that went silent.
  pack.set_silent(true);
  RunFor(300);
  const int64_t exit0 = SteadyUs();
  bms::ExitApplication(ctx);
  const double exit_ms = double(SteadyUs() - exit0) / 1000.0;
  fe.detach();

  const double cpu_pct = 100.0 * cpu / wall;
  const double p50 = Percentile(delays_ms, 0.5), p95 = Percentile(delays_ms, 0.95), worst = Percentile(delays_ms, 1.0);
  auto verdict = [](bool ok) { return ok ? "ok" : "TARGET MISSED"; };
  std::printf("bench_gui: %.1f s of polling the virtual pack (real clock, offscreen), %d status blocks\n", wall, blocks);
  std::printf("  CPU while polling      %6.2f %% of one core   (target <= %.0f %%)  %s\n", cpu_pct, kCpuTargetPercent, verdict(cpu_pct <= kCpuTargetPercent));
  std::printf("  resident memory        %6.1f MB now, %.1f MB peak, %.1f MB before measuring   (target <= %.0f MB)  %s\n", rss, hwm, rss_before, kRssTargetMb,
              verdict(hwm <= kRssTargetMb));
  std::printf("  block -> widget delay  median %.2f ms, p95 %.2f ms, worst %.2f ms over %zu values   (target <= %.0f ms)  %s\n", p50, p95, worst, delays_ms.size(),
              kLatencyTargetMs, verdict(!delays_ms.empty() && worst <= kLatencyTargetMs));
  std::printf("  exit with a read pending %6.1f ms   (target < %.0f ms)  %s\n", exit_ms, kExitTargetMs, verdict(exit_ms < kExitTargetMs));
  const bool ok = cpu_pct <= kCpuTargetPercent && hwm <= kRssTargetMb && !delays_ms.empty() && worst <= kLatencyTargetMs && exit_ms < kExitTargetMs;
  return ok ? 0 : 1;
}
