// The OZ890 check end to end: bmssim on a pseudo-terminal, the POSIX serial
// port switched to 115200 baud by the check, the real clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/link/oz890.h"
#include "core/link/posix_serial_port.h"
#include "platform/temp_folder.h"
#include "sim/scenario.h"

extern char** environ;

namespace bms {
namespace {

// bmssim as a child process; its first output line is the device path.
class Bmssim {
 public:
  explicit Bmssim(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    std::vector<std::string> all = {BMS_BMSSIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    // The device path, within a generous deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && path_.empty() && std::chrono::steady_clock::now() < deadline) {
      pollfd p{out[0], POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char c;
      std::string line;
      while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
      path_ = line;
    }
    ::close(out[0]);
  }
  ~Bmssim() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

class GatewayPty : public ::testing::Test {
 protected:
  GatewayPty() : ctx(clock, [](const std::string&) { return std::make_unique<PosixSerialPort>(); }) {
    ctx.app.current_dir = tmp.path() + "/";
    image = sim::DefaultScenario().oz890_eeprom;
  }
  void WriteReference(const std::array<uint8_t, 128>& values) { tmp.write("OZ890EEP.ini", Oz890ReferenceText(values)); }

  RealClock clock;
  bms::testing::TempFolder tmp;
  Context ctx;
  std::array<uint8_t, 128> image{};
};

TEST_F(GatewayPty, PassedAndTwoPlantedMismatches) {
  Bmssim sim({});
  ASSERT_FALSE(sim.path().empty());
  ctx.PortName.set(sim.path());

  WriteReference(image);
  EXPECT_TRUE(RunOz890Check(ctx));
  EXPECT_EQ(ctx.FormMain.MemoOZEEPRead.items().back(), "Total Test Result : PASSED.");

  auto planted = image;
  planted[0x10] = static_cast<uint8_t>(planted[0x10] + 1);
  planted[0x6A] = static_cast<uint8_t>(planted[0x6A] ^ 0x80);
  WriteReference(planted);
  EXPECT_FALSE(RunOz890Check(ctx));
  const auto memo = ctx.FormMain.MemoOZEEPRead.items();
  ASSERT_EQ(memo.size(), 6u);
  EXPECT_EQ(memo[2], "Total Test Result : 2 FAILED.");
  EXPECT_EQ(memo[4].substr(0, 4), "0x10");
  EXPECT_EQ(memo[5].substr(0, 4), "0x6A");
}

TEST_F(GatewayPty, PortHeldElsewhereIsReportedAtOnce) {
  Bmssim sim({});
  ASSERT_FALSE(sim.path().empty());
  ctx.PortName.set(sim.path());
  PosixSerialPort holder;  // as monitoring would hold it
  ASSERT_TRUE(holder.open(sim.path())) << holder.error_text();

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunOz890Check(ctx));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));  // no hang
  const auto memo = ctx.FormMain.MemoOZEEPRead.items();
  ASSERT_EQ(memo.size(), 1u);
  EXPECT_EQ(memo[0], " Gateway port error: " + PortErrorText(PortError::Busy, sim.path()));
}

}  // namespace
}  // namespace bms
