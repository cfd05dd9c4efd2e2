// End to end over real pseudo-terminals: the virtual pack served by the
// bmssim executable (or by PtyServer in-process), the POSIX serial port, the
// real clock and, where named, the bmsmon-cli executable. Every wait is on a
// pipe, a process, the port or a worker, with a deadline; nothing sleeps a
// fixed time. The deadlines are generous upper bounds (sanitizer builds start
// processes slowly); the usual run of each test takes a second or two.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/context.h"
#include "core/link/frame.h"
#include "core/link/link_port.h"
#include "core/link/posix_serial_port.h"
#include "platform/temp_folder.h"
#include "sim/port_factory.h"
#include "sim/pty_server.h"
#include "sim/scenario.h"

extern char** environ;

namespace bms {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

SteadyClock::time_point In(SteadyClock::duration d) { return SteadyClock::now() + d; }

int64_t ElapsedMs(SteadyClock::time_point since) { return std::chrono::duration_cast<milliseconds>(SteadyClock::now() - since).count(); }

// Local date and time "yyyy-mm-dd hh:mm:ss" of the wall clock now: rows and
// file names are compared with it as text, which orders like the time.
std::string LocalStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++count;
  closedir(d);
  return count - 1;  // the descriptor of the listing itself
}

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Waits (bounded) until thread `tid` sits in poll(), so that what the test
// does next meets a read that is really waiting. Where the kernel does not
// show it, goes on at once: the tests hold either way, only less sharply.
void AwaitBlockedInPoll(pid_t tid) {
  const std::string file = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  const std::string waits[] = {std::to_string(SYS_ppoll), std::to_string(SYS_poll)};
  const auto deadline = In(seconds(5));
  while (SteadyClock::now() < deadline) {
    std::ifstream in(file);
    std::string first;
    if (!(in >> first)) return;
    if (first == waits[0] || first == waits[1]) return;
    std::this_thread::yield();
  }
}

// A child process with its standard output and error on pipes. Output is
// collected while the test waits for a line or for the end of the process.
// posix_spawn (not fork) so that it is safe in a threaded, sanitized test.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    CloseFd(out_fd_);
    CloseFd(err_fd_);
  }

  // Starts argv[0] with the given arguments, in folder `cwd` when not empty.
  bool start(const std::vector<std::string>& argv, const std::string& cwd = "") {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // The child starts with no blocked signals and default handlers, whatever
    // the test runner set up.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    ::close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      err_ = "posix_spawn " + argv[0] + ": " + std::strerror(rc);
      return false;
    }
    return true;
  }

  // The next line of standard output (without its line end); false when the
  // output ended or the deadline passed first.
  bool read_line(std::string* line, SteadyClock::time_point deadline) {
    for (;;) {
      const size_t end = out_.find('\n', line_pos_);
      if (end != std::string::npos) {
        *line = out_.substr(line_pos_, end - line_pos_);
        line_pos_ = end + 1;
        return true;
      }
      if (out_fd_ < 0 || !pump(deadline)) return false;
    }
  }

  // Waits until standard output holds `n` lines starting with `prefix`.
  bool await_lines(const std::string& prefix, size_t n, SteadyClock::time_point deadline) {
    while (count_lines(prefix) < n)
      if (out_fd_ < 0 || !pump(deadline)) return count_lines(prefix) >= n;
    return true;
  }

  size_t count_lines(const std::string& prefix) const {
    size_t n = 0;
    for (size_t pos = 0; pos < out_.size();) {
      const size_t end = out_.find('\n', pos);
      if (end == std::string::npos) break;
      if (out_.compare(pos, prefix.size(), prefix) == 0) ++n;
      pos = end + 1;
    }
    return n;
  }

  // Collects the output until the process has ended, then reaps it. Its
  // wait status, or nothing when the deadline passed first.
  std::optional<int> wait(SteadyClock::time_point deadline) {
    if (reaped_) return status_;
    while (out_fd_ >= 0 || err_fd_ >= 0)
      if (!pump(deadline)) return std::nullopt;
    // Both pipes ended: the process has closed them by exiting.
    if (::waitpid(pid_, &status_, 0) != pid_) return std::nullopt;
    reaped_ = true;
    return status_;
  }

  void signal(int sig) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  static void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  // One round of waiting for output; false when the deadline passed.
  bool pump(SteadyClock::time_point deadline) {
    const int64_t left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2];
    nfds_t n = 0;
    for (int fd : {out_fd_, err_fd_})
      if (fd >= 0) fds[n++] = pollfd{fd, POLLIN, 0};
    if (n == 0) return true;
    const int rc = ::poll(fds, n, static_cast<int>(std::min<int64_t>(left, 60000)));
    if (rc < 0 && errno != EINTR) return false;
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      int& fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
      std::string& text = fds[i].fd == out_fd_ ? out_ : err_;
      char buf[4096];
      const ssize_t got = ::read(fd, buf, sizeof buf);
      if (got > 0)
        text.append(buf, static_cast<size_t>(got));
      else if (got == 0 || (errno != EINTR && errno != EAGAIN))
        CloseFd(fd);
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
  size_t line_pos_ = 0;
  bool reaped_ = false;
  int status_ = 0;
};

// Exit code of a wait status; -signal when a signal ended the process.
int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : (WIFSIGNALED(status) ? -WTERMSIG(status) : -1000); }

// bmssim started with `args`; its first line is the device to open.
struct Bmssim {
  ChildProcess proc;
  std::string device;

  bool start(const std::vector<std::string>& args) {
    std::vector<std::string> argv{BMS_BMSSIM_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return proc.start(argv) && proc.read_line(&device, In(seconds(30))) && device.rfind("/dev/", 0) == 0;
  }
};

// A Context on the real clock whose ports are POSIX serial devices, the
// baud selector at 19200.
struct RealLink {
  explicit RealLink(const std::string& device, bool inline_workers = true) : ctx(clock, sim::MakePortFactory(nullptr, clock, nullptr), inline_workers) {
    ctx.PortName.set(device);
    ctx.FormConfig.ComboBoxBaudRate.set_item_index(1);
  }
  RealClock clock;
  Context ctx;
};

// ---------------------------------------------------------------------------
// One status block and one register read through the whole serial layer.

TEST(PtyEndToEnd, StatusBlockAndCellVoltagesFromBmssimThenACleanStop) {
  testing::TempFolder tmp;
  const std::string link = tmp / "ttyBMS0";
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--link", link})) << sim.proc.err();
  std::error_code ec;
  EXPECT_EQ(fs::read_symlink(link, ec).string(), sim.device);

  {
    // Through the link, as an operator would name a stable device path.
    RealLink link_port(link);
    Context& ctx = link_port.ctx;
    ASSERT_TRUE(OpenLinkPort(ctx)) << ctx.LinkError.get();
    EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysLink);
    ASSERT_TRUE(SendStatusPoll(ctx));
    ASSERT_TRUE(ReadStatusBlock(ctx)) << ctx.LinkError.get();

    const sim::Scenario s = sim::DefaultScenario();
    TFormMain& m = ctx.FormMain;
    EXPECT_EQ(m.EditRSOC.text(), std::to_string(s.rsoc));
    EXPECT_EQ(m.EditASOC.text(), std::to_string(s.asoc));
    EXPECT_EQ(m.EditCycleCnt.text(), std::to_string(s.cycle_count));
    EXPECT_EQ(m.EditPackVolt.text(), std::to_string(s.voltage_mv()));
    EXPECT_EQ(m.EditPackCurrent.text(), std::to_string(s.pack_current_ma));
    EXPECT_EQ(m.EditCellSeries.text(), std::to_string(s.cell_series));
    EXPECT_EQ(m.EditFCC.text(), std::to_string(s.full_charge_capacity_mah));
    EXPECT_EQ(m.EditPDSN.text(), s.serial_number);
    EXPECT_EQ(m.EditCurrentSign.text(), " Discharging ");

    ASSERT_TRUE(SendRequest(ctx, 0x1001, 1));
    ASSERT_TRUE(AwaitReplyDecode(ctx));
    for (int cell = 1; cell <= 4; ++cell) EXPECT_EQ(m.EditVCellN[cell]->text(), std::to_string(s.cells_mv[static_cast<size_t>(cell - 1)])) << "cell " << cell;
    EXPECT_TRUE(CloseLinkPort(ctx));
  }

  sim.proc.signal(SIGTERM);
  const std::optional<int> status = sim.proc.wait(In(seconds(30)));
  ASSERT_TRUE(status.has_value()) << "bmssim did not end on SIGTERM";
  EXPECT_EQ(ExitCode(*status), 0) << sim.proc.err();
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link, ec))) << "bmssim removes its link at exit";
}

// ---------------------------------------------------------------------------
// bmsmon-cli monitor with a CSV log, checked field by field.

// A pack unlike the built-in one in every value the log shows: 14 cells,
// charging, one protection flag (SC), shipping mode on, a full 32-character
// external barcode and a model name shorter than its 12 characters.
constexpr const char* kLogScenario =
    "cell_series = 14\n"
    "cell_parallel = 3\n"
    "cells = 3611, 3622, 3633, 3644, 3655, 3666, 3677, 3688, 3699, 3701, 3712, 3723, 3734, 3598\n"
    "voltage = 51234\n"
    "current = 2345\n"
    "charging = yes\n"
    "discharging = no\n"
    "rsoc = 66\n"
    "asoc = 88\n"
    "cycle_count = 321\n"
    "design_capacity = 12000\n"
    "full_charge_capacity = 11500\n"
    "remaining_capacity = 7590\n"
    "total_charge_capacity = 123456789012\n"
    "t1 = -5\n"
    "t2 = 41\n"
    "protection_flags = 0x08\n"
    "model = E2E-PK14\n"
    "status_fw_version = 3.7\n"
    "serial = E2ESN042\n"
    "barcode_ext32 = E2E-EXT32-BARCODE-00000000000042\n"
    "shipping_mode = yes\n";

constexpr const char* kPlainHeader =
    "Date, Time, Barcode, Shipping Mode, PName, PVer, PSN, Pack Volt(mV), Current (mA), Cell Series, Cell Parallel, Design Capacity, "
    "Full Charge Capacity, Remain Capacity, Total Charge Capacity, Cycle Cnt, PSOH, RSOC, T1 Degree C, T2 Degree C, Chg/Dag, OV Flag, UV Flag, "
    "OC Flag, SC  Flag, OT Flag, UT Flag, Max VCell, Min VCell, Cell Balance, VCell1, VCell2, VCell3, VCell4, VCell5, VCell6, VCell7, VCell8, "
    "VCell9, VCell10, VCell11, VCell12, VCell13, VCell14, \r\n";

// Columns 3 to 44 of a row of kLogScenario, in order.
const std::vector<std::string> kLogScenarioFields = {
    "E2E-EXT32-BARCODE-00000000000042",  // Barcode
    "1",                                 // Shipping Mode
    "E2E-PK14    ",                      // PName: the 12 characters, space padded
    "3.7",                               // PVer
    "E2ESN042",                          // PSN
    "51234",                             // Pack Volt(mV)
    "2345",                              // Current (mA)
    "14",                                // Cell Series
    "3",                                 // Cell Parallel
    "12000",                             // Design Capacity
    "11500",                             // Full Charge Capacity
    "7590",                              // Remain Capacity
    "123456789012",                      // Total Charge Capacity
    "321",                               // Cycle Cnt
    "88",                                // PSOH
    "66",                                // RSOC
    "-5",                                // T1
    "41",                                // T2
    " Charging ",                        // Chg/Dag
    "0",                                 // OV
    "0",                                 // UV
    "0",                                 // OC
    "1",                                 // SC
    "0",                                 // OT
    "0",                                 // UT
    "3734",                              // Max VCell
    "3598",                              // Min VCell
    "136",                               // Cell Balance
    "3611",
    "3622",
    "3633",
    "3644",
    "3655",
    "3666",
    "3677",
    "3688",
    "3699",
    "3701",
    "3712",
    "3723",
    "3734",
    "3598",
};

std::vector<std::string> HeaderColumns() {
  std::vector<std::string> names;
  const std::string h = kPlainHeader;
  for (size_t pos = 0; pos < h.size();) {
    const size_t end = h.find(", ", pos);
    if (end == std::string::npos) break;
    names.push_back(h.substr(pos, end - pos));
    pos = end + 2;
  }
  return names;
}

struct ParsedRow {
  std::string stamp;                // "yyyy-mm-dd hh:mm:ss"
  std::vector<std::string> fields;  // columns 3 to 44
};

// True when `text` has the shape of `pattern` from position `at` on: '#' is
// any digit, every other character stands for itself.
bool HasShape(const std::string& text, size_t at, std::string_view pattern) {
  if (text.size() < at + pattern.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = text[at + i];
    if (pattern[i] == '#' ? (c < '0' || c > '9') : c != pattern[i]) return false;
  }
  return true;
}

// Splits a row "date, time.mmm, f3,f4,...,f44,\r\n"; false when its shape is wrong.
bool ParseRow(const std::string& row, ParsedRow* out, std::string* why) {
  constexpr std::string_view kStart = "####-##-##, ##:##:##.###, ";
  constexpr std::string_view kEnd = ",\r\n";
  if (!HasShape(row, 0, kStart) || row.size() < kStart.size() + kEnd.size() || !HasShape(row, row.size() - kEnd.size(), kEnd) ||
      row.find_first_of("\r\n") != row.size() - kEnd.size() + 1) {
    *why = "row does not start with \"yyyy-mm-dd, hh:mm:ss.zzz, \" or does not end with \",\\r\\n\": " + row;
    return false;
  }
  out->stamp = row.substr(0, 10) + " " + row.substr(12, 8);
  out->fields.clear();
  const std::string rest = row.substr(kStart.size(), row.size() - kStart.size() - kEnd.size());
  for (size_t pos = 0;;) {
    const size_t end = rest.find(',', pos);
    out->fields.push_back(rest.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  if (out->fields.size() != 42) {
    *why = "row has " + std::to_string(out->fields.size() + 2) + " columns, not 44: " + row;
    return false;
  }
  return true;
}

// The header line and the rows of a log file, each with its CR LF.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < text.size();) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));  // an unfinished line
      break;
    }
    lines.push_back(text.substr(pos, end + 2 - pos));
    pos = end + 2;
  }
  return lines;
}

std::vector<fs::path> CsvFiles(const std::string& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().extension() == ".csv") files.push_back(e.path());
  return files;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// --json output of the first commands parses as JSON; the text outputs of
// the same commands keep their shape.
// Standard output cut at its line feeds.
std::vector<std::string> OutputLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

TEST(PtyEndToEnd, JsonOutputsParseAndTextOutputsStay) {
  testing::TempFolder tmp;
  struct Case {
    std::vector<std::string> args;
    size_t objects;  // JSON lines expected
  } cases[] = {
      {{"ports", "--simulate", "--json"}, 1},
      {{"monitor", "--simulate", "--cycles", "2", "--json"}, 2},
      {{"cmd", "rtc-get", "--simulate", "--json"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> argv = {BMS_CLI_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ChildProcess cli;
    ASSERT_TRUE(cli.start(argv, tmp.path())) << cli.err();
    const std::optional<int> status = cli.wait(In(seconds(60)));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(ExitCode(*status), 0) << cli.err();
    const std::vector<std::string> lines = OutputLines(cli.out());
    ASSERT_EQ(lines.size(), c.objects) << cli.out();
    for (const std::string& line : lines) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      ASSERT_FALSE(j.is_discarded()) << line;
      EXPECT_TRUE(j.is_object()) << line;
    }
  }
  // The same commands without --json.
  ChildProcess ports;
  ASSERT_TRUE(ports.start({BMS_CLI_PATH, "ports", "--simulate"}, tmp.path()));
  ASSERT_TRUE(ports.wait(In(seconds(30))).has_value());
  EXPECT_EQ(OutputLines(ports.out()).front(), "VirtualPack");
  ChildProcess rtc;
  ASSERT_TRUE(rtc.start({BMS_CLI_PATH, "cmd", "rtc-get", "--simulate"}, tmp.path()));
  ASSERT_TRUE(rtc.wait(In(seconds(30))).has_value());
  const std::vector<std::string> lines = OutputLines(rtc.out());
  ASSERT_EQ(lines.size(), 2u) << rtc.out();
  EXPECT_EQ(lines[0].rfind("EditRTC: \" ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "StatusBarView[0]: \"  SYS : < LINK >\"");
  ChildProcess usage;
  ASSERT_TRUE(usage.start({BMS_CLI_PATH, "monitor", "--simulate", "--cycles", "1x"}, tmp.path()));
  const std::optional<int> u = usage.wait(In(seconds(30)));
  ASSERT_TRUE(u.has_value());
  EXPECT_EQ(ExitCode(*u), 2) << "trailing text in a number is a usage error";
}

// The first-cycle time-out is kept to the second, also while a read of its
// own time-out is under way; a pack that answers garbage is named as such.
TEST(PtyEndToEnd, FirstCycleTimeOutIsKeptAndGarbageIsNamed) {
  testing::TempFolder tmp;
  struct Case {
    std::vector<std::string> faults;
    const char* says;
  } cases[] = {{{"--fault", "silent"}, "is the pack connected and awake?"}, {{"--fault", "status:noise=40", "--fault", "any:noise=40"}, "replies came but none was valid"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    Bmssim sim;
    ASSERT_TRUE(sim.start(c.faults)) << sim.proc.err();
    ChildProcess cli;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(cli.start({BMS_CLI_PATH, "monitor", "--port", sim.device, "--first-cycle-timeout", "2"}, tmp.path()));
    const std::optional<int> status = cli.wait(In(seconds(30)));
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(ExitCode(*status), 3);
    EXPECT_GE(took, seconds(2));
    EXPECT_LT(took, seconds(3)) << "honoured within a second";
    EXPECT_NE(cli.err().find(c.says), std::string::npos) << cli.err();
  }
}

// A full disk (here a file-size limit) is reported at once, exits 4, and
// leaves every row before it whole.
TEST(PtyEndToEnd, AFullDiskIsReportedAtOnceAndLeavesOnlyWholeRows) {
  testing::TempFolder tmp;
  ChildProcess cli;
  // 1 KiB: the header and a row fit, then the write fails (SIGXFSZ is
  // ignored by the CLI, so the write reports EFBIG).
  ASSERT_TRUE(cli.start({"/bin/bash", "-c", std::string("ulimit -f 1; exec ") + BMS_CLI_PATH + " monitor --simulate --cycles 3 --log --data-dir " + tmp.path()}, tmp.path()));
  const std::optional<int> status = cli.wait(In(seconds(120)));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(ExitCode(*status), 4) << cli.err();
  EXPECT_NE(cli.err().find("log write failed"), std::string::npos) << cli.err();
  const std::vector<fs::path> files = CsvFiles(tmp / "Log_Record");
  ASSERT_EQ(files.size(), 1u);
  const std::string text = ReadFile(files[0]);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "no torn row at the end";
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_GE(lines.size(), 2u);
  for (const std::string& line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), ','), std::count(lines[0].begin(), lines[0].end(), ',')) << line;
}

TEST(PtyEndToEnd, MonitorLogsThreeCyclesFieldByField) {
  testing::TempFolder tmp;
  tmp.write("pack.scenario", kLogScenario);
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--scenario", tmp / "pack.scenario", "--latency-ms", "2"})) << sim.proc.err();

  const std::string started = LocalStamp();
  ChildProcess cli;
  ASSERT_TRUE(cli.start({BMS_CLI_PATH, "monitor", "--port", sim.device, "--cycles", "3", "--log", "--data-dir", tmp.path()}, tmp.path())) << cli.err();
  const std::optional<int> status = cli.wait(In(seconds(60)));
  const std::string ended = LocalStamp();
  ASSERT_TRUE(status.has_value()) << "bmsmon-cli did not end; stdout:\n" << cli.out() << "stderr:\n" << cli.err();
  EXPECT_EQ(ExitCode(*status), 0) << cli.err();
  EXPECT_EQ(cli.count_lines("cycle "), 3u) << cli.out();

  const std::vector<fs::path> files = CsvFiles(tmp / "Log_Record");
  ASSERT_EQ(files.size(), 1u) << "exactly one log per run";
  const std::string name = files[0].filename().string();
  constexpr std::string_view kName = "TQ_NULL_########_######_log_1.csv";
  ASSERT_TRUE(name.size() == kName.size() && HasShape(name, 0, kName)) << name;
  const std::string d = name.substr(8, 8), t = name.substr(17, 6);
  const std::string name_stamp = d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4, 2);
  EXPECT_LE(started, name_stamp);
  EXPECT_LE(name_stamp, ended);
  EXPECT_NE(cli.err().find(files[0].string()), std::string::npos) << "the CLI names its log: " << cli.err();

  const std::vector<std::string> lines = SplitLines(ReadFile(files[0]));
  ASSERT_EQ(lines.size(), 4u) << "header and 3 rows";
  EXPECT_EQ(lines[0], kPlainHeader);
  const std::vector<std::string> columns = HeaderColumns();
  ASSERT_EQ(columns.size(), 44u);
  std::string previous = name_stamp;
  for (size_t r = 1; r < lines.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    ParsedRow row;
    std::string why;
    ASSERT_TRUE(ParseRow(lines[r], &row, &why)) << why;
    EXPECT_LE(previous, row.stamp) << "rows are stamped in order, after the file was named";
    EXPECT_LE(row.stamp, ended);
    previous = row.stamp;
    for (size_t i = 0; i < kLogScenarioFields.size(); ++i) EXPECT_EQ(row.fields[i], kLogScenarioFields[i]) << columns[i + 2];
  }
}

// ---------------------------------------------------------------------------
// Failures the operator meets.

TEST(PtyEndToEnd, MonitorOnAPortThatCannotBeOpenedFailsNamingIt) {
  // A pseudo-terminal another program holds.
  sim::PtyServer server;
  std::string why;
  ASSERT_TRUE(server.start(&why)) << why;
  PosixSerialPort holder;
  ASSERT_TRUE(holder.open(server.slave_path())) << holder.error_text();

  struct Case {
    std::string port;
    std::string message;
  };
  const Case cases[] = {
      {"/dev/does-not-exist", "no such serial port: /dev/does-not-exist"},
      {"/dev/null", "/dev/null is not a serial port"},
      {server.slave_path(), server.slave_path() + " is in use by another program"},
  };
  testing::TempFolder tmp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    ChildProcess cli;
    ASSERT_TRUE(cli.start({BMS_CLI_PATH, "monitor", "--port", c.port, "--cycles", "1"}, tmp.path())) << cli.err();
    const std::optional<int> status = cli.wait(In(seconds(30)));
    ASSERT_TRUE(status.has_value()) << "bmsmon-cli did not end";
    EXPECT_EQ(ExitCode(*status), 3) << "failure, not a usage error";
    EXPECT_NE(cli.err().find(c.message), std::string::npos) << cli.err();
    EXPECT_EQ(cli.count_lines("cycle "), 0u);
  }
}

TEST(PtyEndToEnd, PortReportsGoneWhenBmssimDiesDuringARead) {
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--fault", "silent"})) << sim.proc.err();
  RealLink link(sim.device);
  Context& ctx = link.ctx;
  ASSERT_TRUE(OpenLinkPort(ctx)) << ctx.LinkError.get();
  ASSERT_TRUE(SendRequest(ctx, 0x0005, 0));

  std::atomic<pid_t> tid{0};
  bool decoded = true;
  int64_t ms = 0;
  std::thread reader([&] {
    tid = ThreadId();
    const auto start = SteadyClock::now();
    decoded = AwaitReplyDecode(ctx);  // the silent pack holds it in its 10 s wait
    ms = ElapsedMs(start);
  });
  while (tid.load() == 0) std::this_thread::yield();
  AwaitBlockedInPoll(tid.load());
  sim.proc.signal(SIGKILL);
  reader.join();

  EXPECT_FALSE(decoded);
  EXPECT_LT(ms, 3000) << "the hang-up ends the read at once, not at its time-out";
  ASSERT_TRUE(ctx.LinkPort);
  EXPECT_EQ(ctx.LinkPort->error(), PortError::Gone) << ctx.LinkPort->error_text();
  EXPECT_TRUE(ctx.LinkLost.load());
  EXPECT_NE(ctx.LinkError.get().find(sim.device + " disappeared"), std::string::npos) << ctx.LinkError.get();
  EXPECT_TRUE(CloseLinkPort(ctx));
}

TEST(PtyEndToEnd, MonitorEndsWithLinkLostWhenBmssimIsKilledAndKeepsOnlyWholeRows) {
  testing::TempFolder tmp;
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--latency-ms", "1"})) << sim.proc.err();
  ChildProcess cli;
  ASSERT_TRUE(cli.start({BMS_CLI_PATH, "monitor", "--port", sim.device, "--log", "--data-dir", tmp.path()}, tmp.path())) << cli.err();
  ASSERT_TRUE(cli.await_lines("cycle ", 2, In(seconds(60)))) << "no polling; stdout:\n" << cli.out() << "stderr:\n" << cli.err();

  sim.proc.signal(SIGKILL);
  const auto killed = SteadyClock::now();
  ASSERT_TRUE(sim.proc.wait(In(seconds(30))).has_value());
  const std::optional<int> status = cli.wait(In(seconds(30)));
  const int64_t ms = ElapsedMs(killed);
  ASSERT_TRUE(status.has_value()) << "bmsmon-cli still runs 30 s after the pack died; stdout:\n" << cli.out() << "stderr:\n" << cli.err();
  EXPECT_LT(ms, 15000) << "the link loss must end monitoring within one read time-out";
  EXPECT_NE(ExitCode(*status), 0);
  EXPECT_NE(cli.err().find("Link lost"), std::string::npos) << cli.err();
  EXPECT_NE(cli.err().find(sim.device), std::string::npos) << "the message names the device: " << cli.err();

  const std::vector<fs::path> files = CsvFiles(tmp / "Log_Record");
  ASSERT_EQ(files.size(), 1u);
  const std::string text = ReadFile(files[0]);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "no half-written row at the end";
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_GE(lines.size(), 3u) << "header and the rows of the cycles before the kill";
  EXPECT_EQ(lines[0], kPlainHeader);
  for (size_t r = 1; r < lines.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    ParsedRow row;
    std::string why;
    EXPECT_TRUE(ParseRow(lines[r], &row, &why)) << why;
  }
  EXPECT_EQ(lines.size() - 1, cli.count_lines("cycle ")) << "one row for each completed cycle, none for the cycle the loss cut short";
}

// Ctrl-C ends an open-ended monitor run at once, as a success, with the log
// closed on whole rows.
TEST(PtyEndToEnd, MonitorStoppedWithCtrlCExitsZero) {
  testing::TempFolder tmp;
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--latency-ms", "1"})) << sim.proc.err();
  ChildProcess cli;
  ASSERT_TRUE(cli.start({BMS_CLI_PATH, "monitor", "--port", sim.device, "--log", "--data-dir", tmp.path()}, tmp.path())) << cli.err();
  ASSERT_TRUE(cli.await_lines("cycle ", 1, In(seconds(60)))) << "no polling; stderr:\n" << cli.err();
  cli.signal(SIGINT);
  const auto pressed = SteadyClock::now();
  const std::optional<int> status = cli.wait(In(seconds(15)));
  ASSERT_TRUE(status.has_value()) << "bmsmon-cli still runs after Ctrl-C; stderr:\n" << cli.err();
  EXPECT_LT(ElapsedMs(pressed), 2000) << "a pending read is cancelled, not waited out";
  EXPECT_EQ(ExitCode(*status), 0) << cli.err();
  const std::vector<fs::path> files = CsvFiles(tmp / "Log_Record");
  ASSERT_EQ(files.size(), 1u);
  const std::string text = ReadFile(files[0]);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

// ---------------------------------------------------------------------------
// monitor --reconnect: bmssim killed and started again on the same link path.

// Waits until standard error holds `text` (output is collected meanwhile).
bool AwaitError(ChildProcess& p, const std::string& text, SteadyClock::time_point deadline) {
  while (p.err().find(text) == std::string::npos) {
    if (SteadyClock::now() >= deadline) return false;
    p.await_lines("\x01", 1, std::min(deadline, In(milliseconds(200))));  // collects output until then
  }
  return true;
}

TEST(PtyEndToEnd, MonitorReconnectResumesOnTheSameLinkPathAndTheLogGoesOnInTheSameFile) {
  testing::TempFolder tmp;
  const std::string link = tmp / "pack";
  Bmssim first;
  ASSERT_TRUE(first.start({"--latency-ms", "1", "--link", link})) << first.proc.err();
  ChildProcess cli;
  ASSERT_TRUE(cli.start({BMS_CLI_PATH, "monitor", "--port", link, "--log", "--data-dir", tmp.path(), "--reconnect"}, tmp.path())) << cli.err();
  ASSERT_TRUE(cli.await_lines("cycle ", 2, In(seconds(60)))) << "no polling; stderr:\n" << cli.err();

  first.proc.signal(SIGKILL);
  ASSERT_TRUE(first.proc.wait(In(seconds(30))).has_value());
  ASSERT_TRUE(AwaitError(cli, "link lost: ", In(seconds(30)))) << "stderr:\n" << cli.err();
  const size_t before = cli.count_lines("cycle ");
  Bmssim second;
  ASSERT_TRUE(second.start({"--latency-ms", "1", "--link", link})) << second.proc.err();
  ASSERT_TRUE(AwaitError(cli, "resumed on " + link, In(seconds(30)))) << "stderr:\n" << cli.err();
  ASSERT_TRUE(cli.await_lines("cycle ", before + 2, In(seconds(60)))) << "no polling after the resume; stderr:\n" << cli.err();
  cli.signal(SIGINT);
  const std::optional<int> status = cli.wait(In(seconds(15)));
  ASSERT_TRUE(status.has_value()) << "bmsmon-cli still runs after Ctrl-C; stderr:\n" << cli.err();
  EXPECT_EQ(ExitCode(*status), 0) << cli.err();
  EXPECT_EQ(cli.err().find("Link lost: "), std::string::npos) << "the run went on: " << cli.err();

  const std::vector<fs::path> files = CsvFiles(tmp / "Log_Record");
  ASSERT_EQ(files.size(), 1u) << "the log goes on in the same file";
  const std::string text = ReadFile(files[0]);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> lines = SplitLines(text);
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], kPlainHeader);
  for (size_t r = 1; r < lines.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    ParsedRow row;
    std::string why;
    EXPECT_TRUE(ParseRow(lines[r], &row, &why)) << why;
  }
  EXPECT_EQ(lines.size() - 1, cli.count_lines("cycle ")) << "one row for each completed cycle, before and after the gap";
  EXPECT_GE(lines.size() - 1, before + 2);
}

// ---------------------------------------------------------------------------
// Quitting while a worker waits on the line.

TEST(PtyEndToEnd, ShutdownEndsAWorkerBlockedInAReadAndReleasesThePort) {
  sim::Scenario silent = sim::DefaultScenario();
  silent.silent = true;
  sim::PtyServer server(silent);
  std::string why;
  ASSERT_TRUE(server.start(&why)) << why;

  RealLink link(server.slave_path(), /*inline_workers=*/false);
  Context& ctx = link.ctx;
  const int descriptors = OpenDescriptorCount();
  ASSERT_GT(descriptors, 0);

  std::mutex mu;
  std::condition_variable cv;
  pid_t tid = 0;
  bool opened = false, decoded = true, finished = false;
  ASSERT_TRUE(ctx.workers.start([&] {
    const bool ok = OpenLinkPort(ctx) && SendRequest(ctx, 0x0005, 0);
    {
      std::lock_guard<std::mutex> lock(mu);
      tid = ThreadId();
      opened = ok;
    }
    cv.notify_all();
    const bool d = ok && AwaitReplyDecode(ctx);
    CloseLinkPort(ctx);
    std::lock_guard<std::mutex> lock(mu);
    decoded = d;
    finished = true;
  }));
  {
    std::unique_lock<std::mutex> lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, seconds(10), [&] { return tid != 0; })) << "the worker did not start";
    ASSERT_TRUE(opened) << ctx.LinkError.get();
  }
  AwaitBlockedInPoll(tid);

  const auto start = SteadyClock::now();
  EXPECT_TRUE(ctx.Shutdown());
  EXPECT_LT(ElapsedMs(start), 500);
  {
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(decoded);
  }
  EXPECT_FALSE(LinkPortOpen(ctx));
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "the port's descriptors are closed";
}

// A shutdown that comes while a worker is opening the port (after the
// shutdown's cancel found no port to cancel) must still end that worker's
// exchange at once, not after the 10 s read time-out.
TEST(PtyEndToEnd, ShutdownDuringTheOpenStillEndsTheWorkerPromptly) {
  sim::Scenario silent = sim::DefaultScenario();
  silent.silent = true;
  sim::PtyServer server(silent);
  std::string why;
  ASSERT_TRUE(server.start(&why)) << why;

  RealClock clock;
  Context* self = nullptr;
  // The factory runs inside OpenLinkPort: the shutdown happens exactly there,
  // before the new port is stored where the shutdown could cancel it.
  Context ctx(
      clock,
      [&](const std::string&) -> std::unique_ptr<SerialPort> {
        self->Shutdown(0);
        return std::make_unique<PosixSerialPort>();
      },
      /*inline_workers=*/false);
  self = &ctx;
  ctx.PortName.set(server.slave_path());
  ctx.FormConfig.ComboBoxBaudRate.set_item_index(1);
  const int descriptors = OpenDescriptorCount();

  std::atomic<bool> waited{false};
  ASSERT_TRUE(ctx.workers.start([&] {
    if (OpenLinkPort(ctx)) {
      SendRequest(ctx, 0x0005, 0);
      AwaitReplyDecode(ctx);
      waited = true;
      CloseLinkPort(ctx);
    }
  }));
  const auto start = SteadyClock::now();
  EXPECT_TRUE(ctx.workers.wait_idle(2000)) << "the worker still waits on the line after the shutdown";
  EXPECT_LT(ElapsedMs(start), 1000);
  EXPECT_FALSE(waited.load()) << "nothing is sent once the application closes";
  EXPECT_FALSE(LinkPortOpen(ctx));
  EXPECT_EQ(OpenDescriptorCount(), descriptors) << "the device opened during the shutdown is closed again";
}

// ---------------------------------------------------------------------------
// The production test of one pack, headless, against bmssim.

TEST(PtyEndToEnd, PlanCheckPrintsThePlanAndNamesAValueThatIsNoNumber) {
  testing::TempFolder tmp;
  tmp.write("good.ini", "[Set]\r\nTestRepeatCnt=2\r\n[Check]\r\nT1T2TestDelay=1500\r\nBMSChgDsgCurrentMax=1500.7\r\n");
  tmp.write("bad.ini", "[Check]\r\nSOCMax=9O\r\n");
  ChildProcess good;
  ASSERT_TRUE(good.start({BMS_CLI_PATH, "plan", "check", tmp / "good.ini"}));
  std::optional<int> status = good.wait(In(seconds(30)));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(ExitCode(*status), 0) << good.err();
  const std::string out = good.out();
  EXPECT_NE(out.find("\"TestRepeatCnt\":{\"conversion\":\"integer\",\"source\":\"file\",\"text\":\"2\",\"value\":2}"), std::string::npos) << out;
  EXPECT_NE(out.find("\"T1T2TestDelay\":{\"conversion\":\"integer\",\"source\":\"file\",\"text\":\"1500\",\"value\":1500}"), std::string::npos) << out;
  EXPECT_NE(out.find("\"BMSChgDsgCurrentMax\":{\"conversion\":\"float-truncated\",\"source\":\"file\",\"text\":\"1500.7\",\"value\":1500}"), std::string::npos) << out;
  EXPECT_NE(out.find("\"DateTimeFirstToCheckRange\":{\"conversion\":\"integer\",\"source\":\"default\",\"text\":\"65535\",\"value\":65535}"), std::string::npos) << out;

  ChildProcess bad;
  ASSERT_TRUE(bad.start({BMS_CLI_PATH, "plan", "check", tmp / "bad.ini"}));
  status = bad.wait(In(seconds(30)));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(ExitCode(*status), 3);
  EXPECT_NE(bad.err().find("Test plan " + (tmp / "bad.ini") + ": section \"Check\", key \"SOCMax\": \"9O\" is not a number"), std::string::npos) << bad.err();
}

TEST(PtyEndToEnd, TestRunAgainstBmssimWritesReportRecordAndLedger) {
  testing::TempFolder tmp;
  tmp.write("plan.ini",
            "[Set]\r\nTestRepeatCnt=1\r\n[Check]\r\nProjectName=LP13S4P-A\r\nFWVer=2.14\r\nSOCMax=100\r\nSOCMin=10\r\nSOHMax=100\r\nSOHMin=50\r\nT1=25\r\nT1Range=5\r\n"
            "T2Range=5\r\nCellVoltMax=4200\r\nCellVoltMin=3000\r\nCellBalance=100\r\nPackVoltMax=60000\r\nPackVoltMin=30000\r\nPackCurrentMax=0\r\nPackCurrentMin=-3000\r\n");
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--latency-ms", "2"})) << sim.proc.err();
  ChildProcess cli;
  ASSERT_TRUE(
      cli.start({BMS_CLI_PATH, "test", "run", "--plan", tmp / "plan.ini", "--work", "W-E2E", "--barcode", "E2E-1", "--port", sim.device, "--data-dir", tmp.path()}, tmp.path()))
      << cli.err();
  const std::optional<int> status = cli.wait(In(seconds(60)));
  ASSERT_TRUE(status.has_value()) << "bmsmon-cli did not end; stdout:\n" << cli.out() << "stderr:\n" << cli.err();
  EXPECT_EQ(ExitCode(*status), 0) << cli.out() << cli.err();
  EXPECT_NE(cli.out().find("1.  Device  :  " + sim.device + "  Test  : \n"), std::string::npos) << cli.out();
  EXPECT_NE(cli.out().find("verdict: PASS\n"), std::string::npos);

  std::vector<fs::path> reports, records;
  for (const auto& e : fs::directory_iterator(tmp / "Test_Report/W-E2E")) (e.path().extension() == ".txt" ? reports : records).push_back(e.path());
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(cli.out().find("report: " + reports[0].string() + "\n"), std::string::npos);
  const std::string report = ReadFile(reports[0]);
  // The last line in code page 950 ("測試結果報告  :  PASS"), with CR LF.
  const std::string last = "\xB4\xFA\xB8\xD5\xB5\xB2\xAA\x47\xB3\xF8\xA7\x69  :  PASS\r\n";
  ASSERT_GE(report.size(), last.size());
  EXPECT_EQ(report.substr(report.size() - last.size()), last);
  const std::string record = ReadFile(records[0]);
  EXPECT_NE(record.find("\"verdict\": \"PASS\""), std::string::npos);
  EXPECT_NE(record.find("\"barcode\": \"E2E-1\""), std::string::npos);
  const std::vector<std::string> ledger = SplitLines(ReadFile(tmp / "Test_Report/ledger.csv"));
  ASSERT_EQ(ledger.size(), 2u);
  EXPECT_NE(ledger[1].find(",W-E2E,E2E-1,PASS,0,"), std::string::npos) << ledger[1];
  EXPECT_NE(ledger[1].find(reports[0].filename().string()), std::string::npos);
}

// EEPROM history and diagnosis through bmssim.

TEST(PtyEndToEnd, HistoryReadProtectPrintsThePageAndWritesTheExport) {
  testing::TempFolder tmp;
  tmp.write("pack.scenario", "history = protect=5, lead=10, last=10, seed=4, bad_checksum=protect:2\n");
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--scenario", tmp / "pack.scenario", "--latency-ms", "2"})) << sim.proc.err();
  ChildProcess cli;
  ASSERT_TRUE(cli.start({BMS_CLI_PATH, "history", "read", "protect", "--port", sim.device, "--fast", "--data-dir", tmp.path()}, tmp.path())) << cli.err();
  const std::optional<int> status = cli.wait(In(seconds(60)));
  ASSERT_TRUE(status.has_value()) << cli.out() << cli.err();
  EXPECT_EQ(ExitCode(*status), 0) << cli.err();
  std::vector<std::string> out;
  std::istringstream printed(cli.out());
  for (std::string line; std::getline(printed, line);) out.push_back(line);
  ASSERT_GE(out.size(), 3u) << cli.out();
  const size_t records = out.size() - 2;
  EXPECT_EQ(out[0], "Total Package Number :   " + std::to_string(records));
  for (size_t n = 1; n <= records; ++n) {
    char number[32];
    std::snprintf(number, sizeof number, "%04zu , ", n);
    EXPECT_EQ(out[n].rfind(number, 0), 0u) << out[n];
    EXPECT_EQ(out[n].find("(CheckSum Error)") != std::string::npos, n == 2) << out[n];
  }
  const std::string last = out.back();
  ASSERT_EQ(last.rfind("CSV export: ", 0), 0u) << last;
  const std::string csv = ReadFile(last.substr(12));
  const std::vector<std::string> rows = SplitLines(csv);
  ASSERT_EQ(rows.size(), records + 1);
  EXPECT_EQ(rows[0].find("T1(\xA2\x58"
                         "C)"),
            55u)
      << "code page 950 degree sign";
  EXPECT_EQ(fs::path(last.substr(12)).parent_path().filename().string().rfind("UART_", 0), 0u);
}

TEST(PtyEndToEnd, DiagnoseJsonGivesEveryLabelAndFailsOnAPortThatCannotBeOpened) {
  testing::TempFolder tmp;
  tmp.write("pack.scenario", "model = WX4410CA\nbarcode_ext32 = WX-ABCDE-X21YZQRS\nhistory = lead=6, last=8, seed=2\n");
  Bmssim sim;
  ASSERT_TRUE(sim.start({"--scenario", tmp / "pack.scenario", "--latency-ms", "2"})) << sim.proc.err();
  ChildProcess cli;
  ASSERT_TRUE(cli.start({BMS_CLI_PATH, "diagnose", "--port", sim.device, "--json", "--data-dir", tmp.path()}, tmp.path())) << cli.err();
  const std::optional<int> status = cli.wait(In(seconds(120)));
  ASSERT_TRUE(status.has_value()) << cli.out() << cli.err();
  EXPECT_EQ(ExitCode(*status), 0) << cli.err();
  const nlohmann::json j = nlohmann::json::parse(cli.out());
  EXPECT_TRUE(j["ok"].get<bool>());
  const auto& l = j["labels"];
  EXPECT_EQ(l.size(), 41u);
  EXPECT_EQ(l["Label_ModelName"], "WX4410CA");
  EXPECT_EQ(l["Label_MFTName"], "Pellamco");
  EXPECT_EQ(l["Label_MftDate"], "2013-5-25");  // last eight "X21YZQRS": week 21
  EXPECT_EQ(l["Label_ExpDate"], "2014-11-25");
  EXPECT_EQ(l["Label_CellCfg"], "13S4P");
  EXPECT_FALSE(l["Label_LastChgDate"].get<std::string>().empty());

  ChildProcess fail;
  ASSERT_TRUE(fail.start({BMS_CLI_PATH, "diagnose", "--port", tmp / "no-such-device", "--json"}, tmp.path())) << fail.err();
  const std::optional<int> failed = fail.wait(In(seconds(30)));
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(ExitCode(*failed), 3) << fail.err();
  EXPECT_NE(fail.err().find("no-such-device"), std::string::npos) << fail.err();
}

}  // namespace
}  // namespace bms
