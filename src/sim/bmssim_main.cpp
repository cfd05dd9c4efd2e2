// bmssim: the virtual pack on a pseudo-terminal. Prints the device path to
// open as its first line, then answers the host until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sim/pty_server.h"
#include "sim/scenario.h"

namespace {

const char kUsage[] =
    "Usage: bmssim [OPTIONS]\n"
    "Serves the virtual battery pack on a pseudo-terminal. The first line printed\n"
    "is the device path to open (like a serial port); the pack answers until\n"
    "SIGINT (Ctrl+C) or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --scenario FILE   pack values, tables and history from a scenario file\n"
    "                    (format: docs/virtual-pack.md); default: built-in pack\n"
    "  --link PATH       also make PATH a symbolic link to the device (removed at exit)\n"
    "  --baud 9600|19200 line speed used to pace the answers until the host sets\n"
    "                    one (default 19200)\n"
    "  --latency-ms N    time from the end of a request to the answer (default 3)\n"
    "  --fault RULE      inject a fault; may be repeated. RULE is 'silent' or\n"
    "                    TARGET[:TRIGGER]:ACTION, e.g. 0x1005:until=3:silence,\n"
    "                    status:bad-checksum, 0x1001/2:gap=80,at=13\n"
    "                    TARGET  any | status | shu | ADDR | ADDR/PAGE |\n"
    "                            modbus | modbus/START (Modbus slave 0x60)\n"
    "                    TRIGGER always | nth=N | from=N | until=N | first=K\n"
    "                    ACTION  silence | bad-checksum[=1|2] | drop=N | add=N |\n"
    "                            extra-frame | gap=MS[,at=I] | noise=N[,at=I][,seed=S] |\n"
    "                            delay=MS | status=B | echo=ADDR | slave=N\n"
    "  --wire-log FILE   write every byte exchanged, with times, to FILE at exit\n"
    "  --help            this text\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "bmssim: %s\n(bmssim --help shows the options)\n", why.c_str());
  return 2;
}

bool ParseInt(const char* s, long lo, long hi, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenario_file, link_path, wire_log_file;
  long baud = 19200, latency_ms = -1;
  std::vector<std::string> faults;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const char* v = nullptr;
    if (a == "--scenario" || a == "--link" || a == "--baud" || a == "--latency-ms" || a == "--fault" || a == "--wire-log") {
      v = value();
      if (!v) return Usage(a + " needs a value");
    } else {
      return Usage("unknown option '" + a + "'");
    }
    if (a == "--scenario") {
      scenario_file = v;
    } else if (a == "--link") {
      link_path = v;
    } else if (a == "--baud") {
      if (!ParseInt(v, 1, 1000000, &baud) || (baud != 9600 && baud != 19200)) return Usage("--baud must be 9600 or 19200");
    } else if (a == "--latency-ms") {
      if (!ParseInt(v, 0, 10000, &latency_ms)) return Usage("--latency-ms must be a number of milliseconds from 0 to 10000");
    } else if (a == "--fault") {
      faults.push_back(v);
    } else if (a == "--wire-log") {
      wire_log_file = v;
    }
  }

  bms::sim::Scenario scenario = bms::sim::DefaultScenario();
  std::string error;
  if (!scenario_file.empty() && !bms::sim::LoadScenario(scenario_file, scenario, error)) {
    std::fprintf(stderr, "bmssim: %s\n", error.c_str());
    return 2;
  }
  if (latency_ms >= 0) scenario.latency_us = latency_ms * 1000;
  for (const std::string& text : faults) {
    bms::sim::Fault f;
    bool silent = false;
    if (!bms::sim::ParseFaultText(text, f, &silent, error)) return Usage(error);
    if (silent) {
      scenario.silent = true;
    } else {
      scenario.faults.push_back(f);
    }
  }

  // Signals are taken from a signalfd; block them before any thread starts.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) != 0) {
    std::fprintf(stderr, "bmssim: cannot block signals\n");
    return 1;
  }
  const int sfd = signalfd(-1, &mask, SFD_CLOEXEC);
  if (sfd < 0) {
    std::fprintf(stderr, "bmssim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }

  bms::sim::PtyServer server(scenario, static_cast<int>(baud));
  if (!server.start(&error)) {
    std::fprintf(stderr, "bmssim: cannot create the pseudo-terminal: %s\n", error.c_str());
    return 1;
  }

  bool linked = false;
  if (!link_path.empty()) {
    struct stat st {};
    if (lstat(link_path.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "bmssim: %s exists and is not a symbolic link; not replacing it\n", link_path.c_str());
        server.stop();
        return 1;
      }
      unlink(link_path.c_str());
    }
    if (symlink(server.slave_path().c_str(), link_path.c_str()) != 0) {
      std::fprintf(stderr, "bmssim: cannot create the link %s: %s\n", link_path.c_str(), std::strerror(errno));
      server.stop();
      return 1;
    }
    linked = true;
  }

  std::printf("%s\n", server.slave_path().c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "bmssim: virtual pack on %s%s%s (%ld baud until the host sets one); Ctrl+C stops\n", server.slave_path().c_str(), linked ? ", linked as " : "",
               linked ? link_path.c_str() : "", baud);

  for (;;) {
    signalfd_siginfo info{};
    const ssize_t n = read(sfd, &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info)) break;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  close(sfd);
  server.stop();
  if (linked) unlink(link_path.c_str());
  int rc = 0;
  if (!wire_log_file.empty()) {
    std::ofstream out(wire_log_file, std::ios::binary | std::ios::trunc);
    out << server.wire().dump();
    out.close();
    if (!out) {
      std::fprintf(stderr, "bmssim: cannot write the wire log %s\n", wire_log_file.c_str());
      rc = 1;
    }
  }
  return rc;
}
