#include "sim/pty_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/link/frame.h"

namespace bms::sim {
namespace {

// Opens the device raw, as a serial port would be.
int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B19200);
  ::cfsetospeed(&tio, B19200);
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads until n bytes came, nothing arrives within first_ms, or nothing more
// arrives within next_ms after a byte (next_ms < 0: same as first_ms).
std::vector<uint8_t> ReadUpTo(int fd, size_t n, int first_ms, int next_ms = -1) {
  std::vector<uint8_t> out;
  uint8_t buf[256];
  while (out.size() < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, out.empty() || next_ms < 0 ? first_ms : next_ms) <= 0) break;
    const ssize_t r = ::read(fd, buf, sizeof buf);
    if (r <= 0) break;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

TEST(PtyServer, AnswersAStatusPollThroughTheSlave) {
  PtyServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_FALSE(server.slave_path().empty());
  const int fd = OpenRaw(server.slave_path());
  ASSERT_GE(fd, 0) << server.slave_path();
  const uint8_t poll_bytes[3] = {0x26, 0x0D, 0x0A};
  ASSERT_EQ(::write(fd, poll_bytes, 3), 3);
  const auto block = ReadUpTo(fd, 96, 2000);
  ASSERT_EQ(block.size(), 96u);
  EXPECT_EQ(block[0], 0x4A);
  EXPECT_EQ(block[95], StatusBlockSum(block.data()));
  // The host closes and opens again: the server is still there.
  ::close(fd);
  const int fd2 = OpenRaw(server.slave_path());
  ASSERT_GE(fd2, 0);
  const uint8_t params[3] = {0, 0, 0};
  const LinkFrame req = BuildRequestFrame(0x0005, 0, params, 0);
  ASSERT_EQ(::write(fd2, req.data(), req.size()), 13);
  EXPECT_EQ(ReadUpTo(fd2, 26, 2000).size(), 26u);
  ::close(fd2);
  EXPECT_EQ(server.pack().status_polls(), 1);
  EXPECT_GE(server.wire().size(), 4u);
  server.stop();
  EXPECT_FALSE(server.running());
}

TEST(PtyServer, GapReallyPausesOnTheLine) {
  PtyServer server;
  Fault f = Fault::Make(FaultMatch::Register(0x0005), FaultAction::Gap);
  f.ms = 300;
  f.at_byte = 13;
  server.pack().faults().add(f);
  ASSERT_TRUE(server.start());
  const int fd = OpenRaw(server.slave_path());
  ASSERT_GE(fd, 0);
  const uint8_t params[3] = {0, 0, 0};
  const LinkFrame req = BuildRequestFrame(0x0005, 0, params, 0);
  ASSERT_EQ(::write(fd, req.data(), req.size()), 13);
  // A reader that gives up after 50 ms of silence sees only the first frame.
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadUpTo(fd, 26, 2000, 50).size(), 13u);
  EXPECT_EQ(ReadUpTo(fd, 13, 2000).size(), 13u);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
  ::close(fd);
  server.stop();
}

TEST(PtyServer, HangupLooksLikeAPulledAdapter) {
  PtyServer server;
  ASSERT_TRUE(server.start());
  const int fd = OpenRaw(server.slave_path());
  ASSERT_GE(fd, 0);
  server.hangup();
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  ::close(fd);
  server.stop();
}

#ifdef BMS_BMSSIM_PATH
// bmssim itself: first line is the device, a link is made and removed, SIGTERM ends it with 0.
TEST(Bmssim, ServesAndStopsOnSigterm) {
  const std::string link = (std::filesystem::temp_directory_path() / ("bmssim-test-" + std::to_string(::getpid()))).string();
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 2);
    ::execl(BMS_BMSSIM_PATH, "bmssim", "--link", link.c_str(), "--latency-ms", "1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c = 0;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0 || ::read(out[0], &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  ::close(out[0]);
  EXPECT_EQ(line.rfind("/dev/pts/", 0), 0u) << line;
  std::error_code ec;
  EXPECT_EQ(std::filesystem::read_symlink(link, ec).string(), line);
  const int fd = OpenRaw(line);
  if (fd >= 0) {
    const uint8_t poll_bytes[3] = {0x26, 0x0D, 0x0A};
    EXPECT_EQ(::write(fd, poll_bytes, 3), 3);
    EXPECT_EQ(ReadUpTo(fd, 96, 2000).size(), 96u);
    ::close(fd);
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link, ec)) << "the link is removed at exit";
}

TEST(Bmssim, RejectsABadScenario) {
  const std::string path = (std::filesystem::temp_directory_path() / ("bad-" + std::to_string(::getpid()) + ".scenario")).string();
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("rsoc = 12\ncells = 1, x\n", f);
  std::fclose(f);
  const std::string cmd = std::string(BMS_BMSSIM_PATH) + " --scenario " + path + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[512] = {};
  const size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  const int status = ::pclose(p);
  std::remove(path.c_str());
  const std::string text(buf, n);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(text.find(":2: cells: value 2: 'x' is not a number"), std::string::npos) << text;
}
#endif

// A client killed with -9 leaves no lock behind: on a real serial device
// the kernel drops the exclusive flag with the last close; the server keeps
// the slave open, so it lifts the flag of a client that has gone. Checked as
// an unprivileged user (root passes the exclusive flag anyway).
TEST(PtyServerExclusive, AKilledClientDoesNotLockThePortForTheNextUser) {
  PtyServer server;
  ASSERT_TRUE(server.start());
  const std::string slave = server.slave_path();
  ASSERT_EQ(::chmod(slave.c_str(), 0666), 0);
  const bool root = ::geteuid() == 0;
  // Opens the port as the client does: flock, then TIOCEXCL; only system
  // calls after the fork.
  auto client = [&](int ready_fd, bool hold) -> int {
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 10;
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == EBUSY ? 2 : 3;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return 4;
    ::ioctl(fd, TIOCEXCL);
    if (hold) {
      const char c = 1;
      if (::write(ready_fd, &c, 1) != 1) return 5;
      for (;;) ::pause();
    }
    return 0;
  };
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) ::_exit(client(ready[1], true));
  char c = 0;
  pollfd p{ready[0], POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1) << "the first client did not open the port";
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  // While it lives, the port is its own.
  const pid_t probe = ::fork();
  if (probe == 0) ::_exit(client(-1, false));
  int status = 0;
  ASSERT_EQ(::waitpid(probe, &status, 0), probe);
  EXPECT_EQ(WEXITSTATUS(status), 2) << "a second user is refused while the first holds the port";
  ::kill(first, SIGKILL);
  ASSERT_EQ(::waitpid(first, &status, 0), first);
  // The next user gets it at once (the server looks every 100 ms).
  const auto killed = std::chrono::steady_clock::now();
  int result = -1;
  while (std::chrono::steady_clock::now() - killed < std::chrono::milliseconds(1000)) {
    const pid_t next = ::fork();
    if (next == 0) ::_exit(client(-1, false));
    ASSERT_EQ(::waitpid(next, &status, 0), next);
    result = WEXITSTATUS(status);
    if (result != 2) break;
    ::usleep(20000);
  }
  EXPECT_EQ(result, 0) << "the port stayed locked after its client was killed";
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(500));
  ::close(ready[0]);
  ::close(ready[1]);
  server.stop();
}

}  // namespace
}  // namespace bms::sim
