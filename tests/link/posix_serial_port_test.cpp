// PosixSerialPort on a real pseudo-terminal: the test holds the master side
// (the "device") and the port opens the slave path. Real clock, so every wait
// is kept short with small time-outs and only loose bounds are asserted.
#include "core/link/posix_serial_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace bms {
namespace {

using Ms = std::chrono::milliseconds;

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) { return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - since).count(); }

int64_t ThreadCpuUs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++count;
  closedir(d);
  return count;
}

// Waits (bounded) until thread `tid` sits in a blocking system call, so that
// what the test does next meets a read that is really waiting.
void AwaitBlocked(pid_t tid) {
  const std::string file = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  const std::string waits[] = {std::to_string(SYS_ppoll), std::to_string(SYS_poll)};
  const auto start = std::chrono::steady_clock::now();
  while (ElapsedMs(start) < 2000) {
    std::ifstream in(file);
    std::string first;
    if (!(in >> first)) return;  // not readable here: go on regardless
    if (first == waits[0] || first == waits[1]) return;
    std::this_thread::yield();
  }
}

// A pseudo-terminal pair: master_ is the far end of the line.
class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    char name[128];
    ASSERT_EQ(ptsname_r(master_, name, sizeof name), 0);
    slave_ = name;
  }
  void TearDown() override { close_master(); }
  void close_master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  void send(const std::vector<uint8_t>& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // Opens the port with short time-outs so that no test waits long.
  void open_port(PosixSerialPort& port, PortTimeouts t) {
    ASSERT_TRUE(port.open(slave_)) << port.error_text();
    ASSERT_TRUE(port.set_timeouts(t));
  }

  int master_ = -1;
  std::string slave_;
};

PortTimeouts Short(int total_constant) {
  PortTimeouts t;
  t.read_total_constant = total_constant;
  t.write_total_constant = total_constant;
  return t;
}

TEST_F(PtyPortTest, ReadEndsOneIntervalAfterTheBurstAndAtOnceWhenComplete) {
  PosixSerialPort port;
  open_port(port, PortTimeouts{});  // 50 ms interval, 5 s total
  uint8_t buf[64] = {};
  size_t got = 0;

  send({1, 2, 3, 4, 5});
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(port.read(buf, sizeof buf, &got)) << port.error_text();
  int64_t ms = ElapsedMs(start);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(buf[4], 5);
  EXPECT_GE(ms, 45);
  EXPECT_LE(ms, 500);

  send({9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(port.read(buf, 10, &got));
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(buf[0], 9);
  EXPECT_LT(ElapsedMs(start), 45) << "a read of exactly the bytes that came must not wait for the interval";
}

TEST_F(PtyPortTest, SilentLineEndsAtTheTotalTimeOutWithoutBusyWaiting) {
  PosixSerialPort port;
  open_port(port, Short(100));  // 100 + 5 x 4 = 120 ms
  uint8_t buf[4];
  size_t got = 99;
  const auto start = std::chrono::steady_clock::now();
  const int64_t cpu = ThreadCpuUs();
  EXPECT_TRUE(port.read(buf, 4, &got)) << "a time-out is no failure";
  const int64_t ms = ElapsedMs(start);
  EXPECT_LT(ThreadCpuUs() - cpu, 30000) << "the wait must sleep in poll, not spin";
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(port.error(), PortError::None);
  EXPECT_GE(ms, 115);
  EXPECT_LE(ms, 1000);
}

TEST_F(PtyPortTest, WriteReachesTheFarEndAndAFullLineTimesOut) {
  PosixSerialPort port;
  open_port(port, Short(100));
  const uint8_t frame[] = {0x40, 0x00, 0x01, 0x0D};
  size_t written = 0;
  ASSERT_TRUE(port.write(frame, sizeof frame, &written));
  EXPECT_EQ(written, sizeof frame);
  uint8_t in[8] = {};
  ASSERT_EQ(::read(master_, in, sizeof in), 4);
  EXPECT_EQ(0, std::memcmp(in, frame, 4));

  // Nobody drains the master: the queue fills and the write gives up.
  PortTimeouts t = Short(100);
  t.write_total_multiplier = 0;
  ASSERT_TRUE(port.set_timeouts(t));
  std::vector<uint8_t> big(1 << 20, 0x55);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.write(big.data(), big.size(), &written));
  EXPECT_EQ(port.error(), PortError::Io);
  EXPECT_NE(port.error_text().find(slave_), std::string::npos) << port.error_text();
  EXPECT_LT(written, big.size());
  EXPECT_GE(ElapsedMs(start), 95);
  EXPECT_LE(ElapsedMs(start), 1000);
}

// Every send purges both directions first. The purge must not take back a
// frame whose write has completed, even when the device has not read it yet.
TEST_F(PtyPortTest, APurgeRightAfterAWriteKeepsTheFrameWhole) {
  PosixSerialPort port;
  open_port(port, PortTimeouts{});
  LineSettings line;
  ASSERT_TRUE(port.get_line(line));
  line.baud = 9600;
  ASSERT_TRUE(port.set_line(line));
  const std::vector<uint8_t> request = {0x40, 0x00, 0x01, 0x10, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x51, 0x0D};
  const std::vector<uint8_t> payload = {0x40, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x43, 0x0D};
  size_t written = 0;
  ASSERT_TRUE(port.write(request.data(), request.size(), &written));
  std::this_thread::sleep_for(Ms(8));  // the gap of a borrowed exchange
  ASSERT_TRUE(port.purge(kPurgeAll));
  ASSERT_TRUE(port.write(payload.data(), payload.size(), &written));
  ASSERT_TRUE(port.purge(kPurgeRxAbort | kPurgeRxClear));

  std::vector<uint8_t> far(64);
  std::this_thread::sleep_for(Ms(20));
  const ssize_t n = ::read(master_, far.data(), far.size());
  ASSERT_EQ(n, 26) << "the device must see both frames whole";
  far.resize(26);
  std::vector<uint8_t> both = request;
  both.insert(both.end(), payload.begin(), payload.end());
  EXPECT_EQ(far, both);
}

// Names that are no serial port are said for what they are.
TEST(PosixPortNames, ASocketTheMultiplexerOrTheConsoleIsNamedForWhatItIs) {
  char dir[] = "/tmp/bmsport.XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string sock = std::string(dir) + "/sock";
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const struct {
    std::string path;
    const char* says;
  } cases[] = {{sock, "is a Unix socket, not a serial port"},
               {"/dev/ptmx", "is the pseudo-terminal multiplexer, not a serial port (give the /dev/pts/N path of the pseudo-terminal)"},
               {"/dev/console", "is a console or terminal of this system, not a serial port"},
               {dir, "is a folder, not a serial port"}};
  for (const auto& c : cases) {
    PosixSerialPort port;
    EXPECT_FALSE(port.open(c.path)) << c.path;
    EXPECT_EQ(port.error(), PortError::NotSerial) << c.path;
    EXPECT_EQ(port.error_text(), c.path + " " + c.says) << c.path;
  }
  ::close(s);
  ::unlink(sock.c_str());
  ::rmdir(dir);
}

TEST_F(PtyPortTest, PurgeAndBytesWaiting) {
  PosixSerialPort port;
  open_port(port, Short(100));
  send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  uint8_t b[10];
  size_t got = 0;
  ASSERT_TRUE(port.read(b, 1, &got));  // the burst has arrived
  size_t waiting = 0;
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 9u);
  EXPECT_TRUE(port.purge(kPurgeRxAbort | kPurgeTxAbort)) << "abort flags have nothing to do";
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 9u);
  EXPECT_TRUE(port.purge(kPurgeRxClear | kPurgeTxClear));
  ASSERT_TRUE(port.bytes_waiting(&waiting));
  EXPECT_EQ(waiting, 0u);
  ASSERT_TRUE(port.read(b, sizeof b, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(PtyPortTest, LineSettings) {
  PosixSerialPort port;
  ASSERT_TRUE(port.open("\\\\.\\" + slave_)) << "the stored port name carries the device prefix";
  EXPECT_EQ(port.path(), slave_);
  EXPECT_TRUE(port.set_queue_sizes(1024, 1024));

  struct Case {
    LineSettings in;
    bool ok;
  };
  const Case cases[] = {
      {{9600, 8, 'N', 1}, true},   {{19200, 8, 'N', 1}, true},  {{115200, 8, 'N', 2}, true}, {{12345, 8, 'N', 1}, false},  // no such standard rate
      {{19200, 9, 'N', 1}, false}, {{19200, 8, 'X', 1}, false}, {{19200, 8, 'N', 3}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.baud);
    EXPECT_EQ(port.set_line(c.in), c.ok) << port.error_text();
    if (!c.ok) {
      EXPECT_EQ(port.error(), PortError::ConfigFailed);
      EXPECT_NE(port.error_text().find(slave_), std::string::npos);
      continue;
    }
    LineSettings out;
    ASSERT_TRUE(port.get_line(out));
    EXPECT_EQ(out.baud, c.in.baud);
    EXPECT_EQ(out.data_bits, c.in.data_bits);
    EXPECT_EQ(out.parity, c.in.parity);
    EXPECT_EQ(out.stop_bits, c.in.stop_bits);
  }
}

TEST_F(PtyPortTest, CancelFromAnotherThreadEndsABlockedReadAndSticksUntilClose) {
  PosixSerialPort port;
  open_port(port, Short(10000));
  std::atomic<pid_t> tid{0};
  bool ok = true;
  size_t got = 0;
  int64_t ms = 0;
  std::thread reader([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    uint8_t buf[16];
    const auto start = std::chrono::steady_clock::now();
    ok = port.read(buf, sizeof buf, &got);
    ms = ElapsedMs(start);
  });
  while (tid.load() == 0) std::this_thread::yield();
  AwaitBlocked(tid.load());
  port.cancel();
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(port.error(), PortError::Cancelled);
  EXPECT_LT(ms, 500);

  uint8_t b = 0;
  size_t n = 0;
  EXPECT_FALSE(port.write(&b, 1, &n));
  EXPECT_EQ(port.error(), PortError::Cancelled);
  EXPECT_FALSE(port.purge(kPurgeAll));
  EXPECT_EQ(port.error(), PortError::Cancelled);

  port.close();
  open_port(port, Short(100));
  send({42});
  EXPECT_TRUE(port.read(&b, 1, &n)) << port.error_text();
  EXPECT_EQ(b, 42);
}

TEST_F(PtyPortTest, VanishedDeviceEndsABlockedReadAtOnceWithoutSpinning) {
  PosixSerialPort port;
  open_port(port, Short(10000));
  std::atomic<pid_t> tid{0};
  bool ok = true;
  size_t got = 0;
  int64_t ms = 0, cpu_us = 0;
  std::thread reader([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    uint8_t buf[16];
    const auto start = std::chrono::steady_clock::now();
    const int64_t cpu = ThreadCpuUs();
    ok = port.read(buf, sizeof buf, &got);
    cpu_us = ThreadCpuUs() - cpu;
    ms = ElapsedMs(start);
  });
  while (tid.load() == 0) std::this_thread::yield();
  AwaitBlocked(tid.load());
  close_master();  // the adapter is pulled
  reader.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(port.error(), PortError::Gone);
  EXPECT_NE(port.error_text().find("disappeared"), std::string::npos) << port.error_text();
  EXPECT_NE(port.error_text().find(slave_), std::string::npos);
  EXPECT_EQ(got, 0u);
  EXPECT_LT(ms, 500);
  EXPECT_LT(cpu_us, 50000);

  // Every later transfer says the same at once.
  uint8_t b = 0;
  size_t n = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.read(&b, 1, &n));
  EXPECT_EQ(port.error(), PortError::Gone);
  EXPECT_FALSE(port.write(&b, 1, &n));
  EXPECT_EQ(port.error(), PortError::Gone);
  EXPECT_LT(ElapsedMs(start), 500);
}

TEST_F(PtyPortTest, OpenFailuresNameThePortAndTheRemedy) {
  PosixSerialPort first;
  ASSERT_TRUE(first.open(slave_));

  struct Case {
    std::string path;
    PortError error;
    std::string text;
  };
  char tmpl[] = "/tmp/bms_port_test_XXXXXX";
  const int tmp = mkstemp(tmpl);
  ASSERT_GE(tmp, 0);
  ::close(tmp);
  const Case cases[] = {
      {slave_, PortError::Busy, slave_ + " is in use by another program"},
      {"/dev/ttyBMS_no_such_port", PortError::NotFound, "no such serial port: /dev/ttyBMS_no_such_port"},
      {tmpl, PortError::NotSerial, std::string(tmpl) + " is not a serial port"},
      {"/dev/null", PortError::NotSerial, "/dev/null is not a serial port"},
      {"", PortError::NotFound, "no serial port chosen"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PosixSerialPort port;
    EXPECT_FALSE(port.open(c.path));
    EXPECT_FALSE(port.is_open());
    EXPECT_EQ(port.error(), c.error);
    EXPECT_NE(port.error_text().find(c.text), std::string::npos) << port.error_text();
  }
  unlink(tmpl);

  first.close();
  PosixSerialPort second;
  EXPECT_TRUE(second.open(slave_)) << "closing releases the lock: " << second.error_text();
}

// Root passes every permission check, so the open runs on a thread whose
// file-system identity is an ordinary user (which drops the override too).
TEST_F(PtyPortTest, PermissionDeniedSaysHowToJoinDialout) {
  ASSERT_EQ(chmod(slave_.c_str(), 0), 0);
  PosixSerialPort port;
  bool opened = true;
  bool switched = true;
  std::thread user([&] {
    if (geteuid() == 0) {
      setfsuid(65534);
      switched = setfsuid(static_cast<uid_t>(-1)) == 65534;
    }
    if (switched) opened = port.open(slave_);
    if (geteuid() == 0) setfsuid(0);
  });
  user.join();
  if (!switched) GTEST_SKIP() << "cannot take an ordinary user's identity here";
  if (opened) GTEST_SKIP() << "permissions are not enforced on " << slave_ << " here";
  EXPECT_EQ(port.error(), PortError::PermissionDenied);
  EXPECT_EQ(port.error_text(), "permission denied on " + slave_ + ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again");
}

TEST_F(PtyPortTest, NoDescriptorLeaksOverOpenCloseCycles) {
  const int before = OpenDescriptorCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 20; ++i) {
    PosixSerialPort port;
    ASSERT_TRUE(port.open(slave_)) << port.error_text();
    PosixSerialPort busy;
    EXPECT_FALSE(busy.open(slave_));
    EXPECT_FALSE(busy.open("/dev/null"));
    if (i % 2 == 0) port.close();  // else the destructor closes it
    port.cancel();
  }
  {
    PosixSerialPort reopened;
    ASSERT_TRUE(reopened.open(slave_));
    ASSERT_TRUE(reopened.open(slave_)) << "a second open of the same object closes the first";
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(PosixSerialPortClosed, EveryCallFailsHarmlessly) {
  PosixSerialPort port;
  uint8_t b = 0;
  size_t n = 7;
  LineSettings l;
  EXPECT_FALSE(port.is_open());
  EXPECT_FALSE(port.read(&b, 1, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(port.write(&b, 1, &n));
  EXPECT_FALSE(port.purge(kPurgeAll));
  EXPECT_FALSE(port.bytes_waiting(&n));
  EXPECT_FALSE(port.get_line(l));
  EXPECT_FALSE(port.set_line(l));
  EXPECT_EQ(port.error(), PortError::Io);
  port.close();
  port.close();
}

}  // namespace
}  // namespace bms
