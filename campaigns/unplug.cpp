// Unplug and replug during polling. The pack's side of the line goes away
// (bmssim killed: the kernel hangs the pseudo-terminal up, as it does the
// tty of a pulled USB adapter) at a random moment of a polling run, then a
// new bmssim serves a new pseudo-terminal under the same link name, where
// the next RUN finds it. The client is this process: the session of the CLI
// (the same core, windows and handlers as the GUI) on the POSIX serial port.
//
// Checks of every round: the loss ends the run within one read time-out,
// as a lost link naming the device; RUN while unplugged (every fifth
// round) fails at once naming the port; the descriptors are back to the count before the first
// run. Over the campaign: the processor time of this process while
// unplugged and overall stays under 5 % of the wall time.
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "app/cli/cli_common.h"
#include "campaign.h"
#include "core/link/link_port.h"
#include "core/link/serial_port.h"

namespace campaign {

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

int RunUnplug(const Options& o) {
  Verdict verdict("unplug");
  std::mt19937_64 rng(o.seed);
  const std::string link = o.work + "/pack.link";
  const int64_t one_timeout_ms = bms::PortTimeouts{}.read_total_constant;

  Sim sim;
  std::string why;
  if (!sim.start(o, {"--link", link, "--latency-ms", "1"}, &why)) {
    std::fprintf(stderr, "unplug: %s\n", why.c_str());
    return 1;
  }

  cli::ConnectionOptions conn;
  conn.port = link;
  conn.data_dir = o.work;
  cli::Session s;
  if (!cli::MakeSession(conn, s, why)) {
    std::fprintf(stderr, "unplug: %s\n", why.c_str());
    return 1;
  }
  bms::Context& ctx = *s.ctx;
  std::mutex mu;
  std::condition_variable cv;
  long cycles = 0;
  ctx.MonitorCycleHook = [&](bool done) {
    if (!done) return;
    std::lock_guard<std::mutex> lock(mu);
    ++cycles;
    cv.notify_all();
  };
  auto panel = [&ctx] { return ctx.FormMain.StatusBarView.item(2); };

  const int baseline_fds = OpenDescriptorCount();
  Series report_ms, replug_ms;
  constexpr long kFirstMomentMs = 400, kLastMomentMs = 2200;
  double unplugged_cpu = 0, unplugged_wall = 0;
  long total_cycles = 0;
  const auto campaign_start = SteadyClock::now();
  const double campaign_cpu = ProcessCpuMs();

  for (long i = 0; i < o.count; ++i) {
    if (i > 0) {
      const auto t = SteadyClock::now();
      if (!sim.start(o, {"--link", link, "--latency-ms", "1"}, &why)) {
        verdict.fail(i, "replug: " + why);
        break;
      }
      replug_ms.add(MsSince(t));
    }
    {
      std::lock_guard<std::mutex> lock(mu);
      cycles = 0;
    }
    ctx.FormMain.SpdBtnRUN.click();
    // The unplug comes at a random moment from just after the port opened
    // (the RUN press waits 300 ms first) to well into the second cycle.
    const long moment = kFirstMomentMs + static_cast<long>(rng() % (kLastMomentMs - kFirstMomentMs));
    {
      std::unique_lock<std::mutex> lock(mu);
      cv.wait_for(lock, std::chrono::milliseconds(moment), [&] { return !ctx.MonitorActive.load(); });
    }
    if (!ctx.MonitorActive.load() || !bms::LinkPortOpen(ctx)) {
      verdict.fail(i, "polling did not run: " + panel());
      break;
    }
    const auto unplugged = SteadyClock::now();
    const double cpu_at_unplug = ProcessCpuMs();
    sim.kill_now();
    const bool ended = ctx.workers.wait_idle(2 * one_timeout_ms);
    const double reported = MsSince(unplugged);
    report_ms.add(reported);
    {
      std::lock_guard<std::mutex> lock(mu);
      total_cycles += cycles;
    }
    if (!ended || ctx.MonitorActive.load()) {
      verdict.fail(i, "the run did not end after the unplug");
      break;
    }
    if (reported > static_cast<double>(one_timeout_ms)) verdict.fail(i, "the unplug was reported after " + std::to_string(reported) + " ms");
    if (!ctx.LinkLost.load() || !Contains(panel(), "Link lost") || !Contains(panel(), "disappeared")) verdict.fail(i, "not reported as a lost link: '" + panel() + "'");

    // RUN while the adapter is out (every fifth round): refused at once, naming the port.
    if (i % 5 == 0) {
      ctx.FormMain.SpdBtnRUN.click();
      if (!ctx.workers.wait_idle(one_timeout_ms)) {
        verdict.fail(i, "RUN while unplugged did not end");
        break;
      }
      if (!Contains(panel(), "Cannot open the port") || !Contains(panel(), link)) verdict.fail(i, "RUN while unplugged: '" + panel() + "'");
    }
    PauseMs(static_cast<double>(50 + rng() % 100));  // the adapter stays out a moment
    unplugged_cpu += ProcessCpuMs() - cpu_at_unplug;
    unplugged_wall += MsSince(unplugged);

    const int fds = OpenDescriptorCount();
    if (fds != baseline_fds) verdict.fail(i, "descriptors " + std::to_string(fds) + " after the run, " + std::to_string(baseline_fds) + " before the first");
    if (o.verbose) std::fprintf(stderr, "unplug %ld: reported in %.1f ms, %s\n", i, reported, panel().c_str());
  }
  sim.stop();
  const double wall = MsSince(campaign_start);
  const double cpu = ProcessCpuMs() - campaign_cpu;
  const double cpu_pct = wall > 0 ? 100.0 * cpu / wall : 0;
  const double unplugged_pct = unplugged_wall > 0 ? 100.0 * unplugged_cpu / unplugged_wall : 0;
  if (cpu_pct >= 5.0) verdict.fail(-1, "processor time overall " + std::to_string(cpu_pct) + " %");
  if (unplugged_pct >= 5.0) verdict.fail(-1, "processor time while unplugged " + std::to_string(unplugged_pct) + " %");

  std::printf("unplug: %zu unplugs and replugs at %ld-%ld ms after RUN, %ld polling cycles completed, seed %llu\n", report_ms.values.size(), kFirstMomentMs, kLastMomentMs,
              total_cycles, static_cast<unsigned long long>(o.seed));
  std::printf("unplug: loss reported (run ended) %s (limit %lld ms)\n", report_ms.text().c_str(), static_cast<long long>(one_timeout_ms));
  std::printf("unplug: replug (new pseudo-terminal served) %s\n", replug_ms.text().c_str());
  std::printf("unplug: CPU %.2f %% overall (%.0f ms in %.1f s), %.2f %% while unplugged (%.0f ms in %.1f s)\n", cpu_pct, cpu, wall / 1000, unplugged_pct, unplugged_cpu,
              unplugged_wall / 1000);
  std::printf("unplug: descriptors %d before the first run, %d at the end\n", baseline_fds, OpenDescriptorCount());
  std::printf("unplug: %ld violations\n", verdict.violations());
  return verdict.exit_status();
}

}  // namespace campaign
