// kill -9 of a logging monitor at random moments. Each round starts
// `bmsmon-cli monitor --log` against bmssim in a folder of its own, kills it
// (SIGKILL) at a random moment from its start to a few cycles in, and looks
// at what it left.
//
// Checks of every round: at most one CSV log; when it holds anything, it
// starts with the header, every row has the header's column count and ends
// in CR LF, and the file ends after a whole row; every cycle the monitor
// reported has its row, and at most one row more (written, not yet
// reported); the log takes an exclusive lock at once; the port opens again
// at once.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "campaign.h"
#include "core/link/posix_serial_port.h"
#include "core/monitor/data_log.h"

namespace campaign {

namespace {

namespace fs = std::filesystem;

// Fields of one CSV row (quotes as the log writes them: a field in double
// quotes, "" for a quote inside). Empty when the quoting is broken.
std::optional<size_t> FieldCount(const std::string& row) {
  size_t fields = 1;
  bool quoted = false;
  for (size_t i = 0; i < row.size(); ++i) {
    const char c = row[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < row.size() && row[i + 1] == '"')
          ++i;
        else
          quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      ++fields;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

// What is wrong with the log text (empty: nothing). *rows: its rows.
std::string CheckLog(const std::string& text, const std::string& header, size_t* rows) {
  *rows = 0;
  if (text.empty()) return "";
  if (text.compare(0, header.size(), header) != 0) return "the file does not start with the header";
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return "the file does not end in CR LF (a cut row)";
  const size_t columns = *FieldCount(header.substr(0, header.size() - 2));
  size_t pos = header.size();
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    const std::string row = text.substr(pos, end - pos);
    if (row.find_first_of("\r\n") != std::string::npos) return "row " + std::to_string(*rows + 1) + " holds a bare CR or LF";
    const std::optional<size_t> n = FieldCount(row);
    if (!n || *n != columns)
      return "row " + std::to_string(*rows + 1) + " has " + (n ? std::to_string(*n) : std::string("broken quoting and no")) + " columns, the header " + std::to_string(columns);
    ++*rows;
    pos = end + 2;
  }
  return "";
}

std::vector<fs::path> CsvFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().extension() == ".csv") files.push_back(e.path());
  return files;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int RunKill(const Options& o) {
  Verdict verdict("kill");
  std::mt19937_64 rng(o.seed);
  Sim sim;
  std::string why;
  if (!sim.start(o, {"--latency-ms", "1"}, &why)) {
    std::fprintf(stderr, "kill: %s\n", why.c_str());
    return 1;
  }
  const std::string header = bms::DataLogHeader(false);
  // The window of the kill: from the start of the process to a few cycles in.
  constexpr int kWindowMs = 4000;
  Series reopen_ms, lock_ms;
  long with_rows = 0, empty_files = 0, no_file = 0, total_rows = 0, one_more = 0;
  for (long i = 0; i < o.count; ++i) {
    const fs::path dir = fs::path(o.work) / ("kill-" + std::to_string(i));
    std::error_code ec;
    fs::create_directories(dir, ec);
    Child mon;
    if (!mon.start({o.cli, "monitor", "--port", sim.device(), "--log", "--data-dir", dir.string()}, (dir / "stderr.txt").string())) {
      verdict.fail(i, mon.error());
      break;
    }
    const int delay = static_cast<int>(rng() % kWindowMs);
    mon.collect_until(SteadyClock::now() + std::chrono::milliseconds(delay));
    mon.signal(SIGKILL);
    mon.wait();
    const auto killed = SteadyClock::now();
    mon.drain();

    // The port: open again at once (the lock died with the process).
    bms::PosixSerialPort port;
    bool opened = false;
    while (!(opened = port.open(sim.device())) && MsSince(killed) < 2000) PauseMs(5);
    reopen_ms.add(MsSince(killed));
    if (!opened) verdict.fail(i, "the port stays refused: " + port.error_text());
    port.close();

    const size_t cycles = mon.count_lines("cycle ");
    const std::vector<fs::path> files = CsvFiles(dir / "Log_Record");
    bool keep = false;
    if (files.size() > 1) {
      verdict.fail(i, std::to_string(files.size()) + " logs from one run");
      keep = true;
    } else if (files.empty()) {
      ++no_file;
      if (cycles > 0) {
        verdict.fail(i, std::to_string(cycles) + " cycles reported and no log");
        keep = true;
      }
    } else {
      const fs::path& file = files[0];
      const auto t = SteadyClock::now();
      const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        verdict.fail(i, "the log is still locked or cannot be opened: " + file.string());
        keep = true;
      }
      lock_ms.add(MsSince(t));
      if (fd >= 0) ::close(fd);
      const std::string text = ReadAll(file);
      size_t rows = 0;
      const std::string problem = CheckLog(text, header, &rows);
      if (!problem.empty()) {
        verdict.fail(i, file.string() + ": " + problem);
        keep = true;
      }
      if (text.empty()) ++empty_files;
      if (rows > 0) ++with_rows;
      total_rows += static_cast<long>(rows);
      if (rows == cycles + 1) ++one_more;
      if (problem.empty() && (rows < cycles || rows > cycles + 1)) {
        verdict.fail(i, std::to_string(rows) + " rows in the log for " + std::to_string(cycles) + " reported cycles");
        keep = true;
      }
      if (text.empty() && cycles > 0) {
        verdict.fail(i, "empty log after " + std::to_string(cycles) + " cycles");
        keep = true;
      }
    }
    if (o.verbose) std::fprintf(stderr, "kill %ld: at %d ms, %zu cycles, %zu files\n", i, delay, cycles, files.size());
    if (!keep) fs::remove_all(dir, ec);
  }
  sim.stop();
  std::printf("kill: %zu kill -9 of a logging monitor, seed %llu, kill moments 0-%d ms after the start\n", reopen_ms.values.size(), static_cast<unsigned long long>(o.seed),
              kWindowMs);
  std::printf("kill: logs with rows %ld, header only or empty %ld (empty %ld), no log yet %ld; %ld rows checked\n", with_rows,
              static_cast<long>(reopen_ms.values.size()) - with_rows - no_file, empty_files, no_file, total_rows);
  std::printf("kill: killed between writing a row and reporting its cycle %ld times\n", one_more);
  std::printf("kill: port opened again after the kill %s; log lock taken %s\n", reopen_ms.text().c_str(), lock_ms.text().c_str());
  std::printf("kill: %ld violations\n", verdict.violations());
  return verdict.exit_status();
}

}  // namespace campaign
