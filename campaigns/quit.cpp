// Quit while a worker is blocked in a read. Each round starts the
// application's session anew (the CLI's: the same core and handlers as the
// GUI) on a pack that never answers, presses RUN, waits until the polling
// worker sits in its read of the port (a ppoll seen twice, 20 ms apart,
// longer than any write of a request takes), waits a random moment more and
// quits as the application does: Shutdown, then the session goes.
//
// Then the same of the CLI: `bmsmon-cli monitor` on that pack, SIGINT (Ctrl-C)
// once its worker waits in a read.
//
// Checks of every round: each quit takes under 1 s; the worker has ended;
// the descriptors are back to their count before the session; the monitor
// exits 0 (stopped by the operator); the port opens again at once.
#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "app/cli/cli_common.h"
#include "campaign.h"
#include "core/link/posix_serial_port.h"

namespace campaign {

namespace {

// True when some thread of process `proc` ("self" or a pid) other than the
// caller is in ppoll.
bool SomeThreadInPoll(const std::string& proc) {
  const std::string self = std::to_string(static_cast<long>(syscall(SYS_gettid)));
  const std::string ppoll = std::to_string(SYS_ppoll);
  const std::string tasks = "/proc/" + proc + "/task";
  DIR* d = opendir(tasks.c_str());
  if (d == nullptr) return false;
  bool found = false;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' || self == e->d_name) continue;
    std::ifstream in(tasks + "/" + e->d_name + "/syscall");
    std::string first;
    if (in >> first && first == ppoll) found = true;
  }
  closedir(d);
  return found;
}

bool AwaitReadBlocked(const std::string& proc, SteadyClock::time_point deadline) {
  while (SteadyClock::now() < deadline) {
    if (SomeThreadInPoll(proc)) {
      PauseMs(20);
      if (SomeThreadInPoll(proc)) return true;
    }
    PauseMs(1);
  }
  return false;
}

}  // namespace

int RunQuit(const Options& o) {
  Verdict verdict("quit");
  std::mt19937_64 rng(o.seed);
  Sim sim;
  std::string why;
  if (!sim.start(o, {"--fault", "silent"}, &why)) {
    std::fprintf(stderr, "quit: %s\n", why.c_str());
    return 1;
  }
  Series quit_ms, cli_quit_ms, reopen_ms;
  const int baseline_fds = OpenDescriptorCount();
  for (long i = 0; i < o.count; ++i) {
    double took = 0;
    bool idle = false;
    {
      cli::ConnectionOptions conn;
      conn.port = sim.device();
      conn.data_dir = o.work;
      cli::Session s;
      if (!cli::MakeSession(conn, s, why)) {
        verdict.fail(i, why);
        break;
      }
      s.ctx->FormMain.SpdBtnRUN.click();
      if (!AwaitReadBlocked("self", SteadyClock::now() + std::chrono::seconds(10))) {
        verdict.fail(i, "the worker never waited in a read: " + s.ctx->FormMain.StatusBarView.item(2));
        break;
      }
      PauseMs(static_cast<double>(rng() % 200));
      const auto t = SteadyClock::now();
      idle = s.ctx->Shutdown();
      s.ctx.reset();
      s.pack.reset();
      took = MsSince(t);
    }
    quit_ms.add(took);
    if (!idle) verdict.fail(i, "the worker did not end at the quit");
    if (took >= 1000) verdict.fail(i, "the quit took " + std::to_string(took) + " ms");
    const int fds = OpenDescriptorCount();
    if (fds != baseline_fds) verdict.fail(i, "descriptors " + std::to_string(fds) + " after the quit, " + std::to_string(baseline_fds) + " before the session");
    auto reopen = [&](const char* after) {
      const auto t = SteadyClock::now();
      bms::PosixSerialPort port;
      if (!port.open(sim.device())) verdict.fail(i, std::string("the port does not open again after ") + after + ": " + port.error_text());
      reopen_ms.add(MsSince(t));
      port.close();
    };
    reopen("the quit");

    // The same with the CLI: Ctrl-C (SIGINT) of a monitor whose worker waits in a read.
    Child mon;
    if (!mon.start({o.cli, "monitor", "--port", sim.device(), "--data-dir", o.work}, o.work + "/monitor.err")) {
      verdict.fail(i, mon.error());
      break;
    }
    if (!AwaitReadBlocked(std::to_string(mon.pid()), SteadyClock::now() + std::chrono::seconds(10))) {
      verdict.fail(i, "the monitor's worker never waited in a read");
      break;
    }
    PauseMs(static_cast<double>(rng() % 200));
    const auto pressed = SteadyClock::now();
    mon.signal(SIGINT);
    const int status = mon.wait();
    const double cli_took = MsSince(pressed);
    cli_quit_ms.add(cli_took);
    if (cli_took >= 1000) verdict.fail(i, "the monitor took " + std::to_string(cli_took) + " ms to end after Ctrl-C");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) verdict.fail(i, "the monitor stopped with Ctrl-C ended with status " + std::to_string(status));
    reopen("Ctrl-C of the monitor");
    if (o.verbose) std::fprintf(stderr, "quit %ld: %.1f ms, monitor %.1f ms\n", i, took, cli_took);
  }
  sim.stop();
  std::printf("quit: %zu quits with the worker blocked in a read, seed %llu\n", quit_ms.values.size(), static_cast<unsigned long long>(o.seed));
  std::printf("quit: quit (shutdown and teardown) %s (limit 1000 ms)\n", quit_ms.text().c_str());
  std::printf("quit: Ctrl-C of bmsmon-cli monitor to its exit %s (limit 1000 ms)\n", cli_quit_ms.text().c_str());
  std::printf("quit: port opened again after a quit %s\n", reopen_ms.text().c_str());
  std::printf("quit: descriptors %d before the first session, %d at the end\n", baseline_fds, OpenDescriptorCount());
  std::printf("quit: %ld violations\n", verdict.violations());
  return verdict.exit_status();
}

}  // namespace campaign
