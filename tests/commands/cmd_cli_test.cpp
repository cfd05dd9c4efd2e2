// The `cmd` subcommand of the command line: in-process against the virtual
// pack, and once end to end through the built binary on a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <thread>

#include "app/cli/cmd_command.h"
#include "command_fixture.h"
#include "sim/pty_server.h"

namespace bms::testing {
namespace {

class CmdCliTest : public CommandFixture {
 protected:
  int run(const std::string& name, const std::string& value = "", const std::string& mode = "auto") {
    out.str("");
    err.str("");
    return RunCommandCli(ctx, name, value, mode, out, err);
  }
  bool shows(const std::string& line) const { return out.str().find(line + "\n") != std::string::npos; }

  std::ostringstream out, err;
};

struct CliCase {
  const char* name;
  std::string command, value, mode;
  bool silent;
  int rc;
  std::vector<std::string> lines;  // printed, among others
};

class CmdCliCaseTest : public CmdCliTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CmdCliCaseTest, PrintsTheWindowTextsAndJudgesTheResult) {
  const CliCase& c = GetParam();
  pack.set_silent(c.silent);
  EXPECT_EQ(run(c.command, c.value, c.mode), c.rc) << out.str() << err.str();
  for (const std::string& l : c.lines) EXPECT_TRUE(shows(l)) << l << "\nnot in:\n" << out.str();
  EXPECT_EQ(err.str().empty(), c.rc == 0) << err.str();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CmdCliCaseTest,
    ::testing::Values(
        CliCase{"Sleep", "sleep", "", "", false, 0, {R"(StatusBarView[0]: "  SYS : < STOP >")"}},
        CliCase{"SleepSilentStillSucceeds", "sleep", "", "", true, 0, {R"(StatusBarView[0]: "  SYS : < STOP >")"}},
        CliCase{"MosfetOn", "mosfet-set", "on", "", false, 0, {R"(CheckBox_MOSFETSW.Checked: "1")", R"(CheckBox_MOSFETSW: "OFF")", R"(SpeedButton_MOSFETSW: "Set : OK")"}},
        CliCase{"GatewayOffSilent", "gateway-set", "off", "", true, 3, {R"(CheckBox_GatewayMode: "Transparent")", R"(SpeedButton_GatewayMode: "Set : NG")"}},
        CliCase{"ShippingGet", "shipping-get", "", "", false, 0, {R"(CheckBoxSippingMode.Checked: "0")"}},
        CliCase{"ShippingSetSilent", "shipping-set", "on", "", true, 3, {R"(CheckBoxSippingMode.Checked: "1")"}},
        CliCase{"RtcSet", "rtc-set", "", "", false, 0, {R"(EditRTC: " 2026.12.09   00:30:15 ")"}}, CliCase{"RtcGetSilent", "rtc-get", "", "", true, 3, {R"(EditRTC: "")"}},
        CliCase{"EraseExtSilent", "erase-ext", "on", "", true, 3, {R"(LabelEPPEraseStatus: " Time out ")"}},
        CliCase{"EraseTcc", "erase-tcc", "", "", false, 0, {R"(LabelEraseTCCStatus: " Passed ")"}},
        CliCase{"LastChargeDate", "last-charge-date", "", "", false, 0, {R"(SpdBtnLastChgDateGet: "STOP")"}},
        CliCase{"BarcodeReadInt16", "barcode-read", "int16", "", false, 0, {R"(RadioGroupBarcodeSelect: "IntBarcode16")", R"(EditBarCode32: "BC16-000123")"}},
        CliCase{"BarcodeWriteExt32", "barcode-write", "NEW \"1\"", "ext32", false, 0, {R"(EditBarCode32: "NEW \"1\"")"}},
        CliCase{"SnGet", "sn-get", "", "", false, 0, {R"(EditPDSN: "A1B2C3D4")", R"(StatusBarView[0]: "  SYS : < STOP >")"}},
        CliCase{"SnSetLong", "sn-set", "0123456789", "", false, 0, {R"(EditPDSN: "23456789")"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(CmdCliTest, MosfetOnSendsFf20WhateverTheCaption) {
  ASSERT_EQ(run("mosfet-set", "on"), 0) << err.str();
  const auto pays = payloads();
  ASSERT_EQ(pays.size(), 1u);
  EXPECT_EQ(pays[0], (Bytes8{0xFF, 0x20, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CmdCliTest, UsageErrorsSendNothing) {
  const struct {
    const char* command;
    std::string value, mode;
    const char* says;
  } cases[] = {
      {"reboot", "", "auto", "unknown command"},
      {"sleep", "now", "auto", "takes no value"},
      {"mosfet-set", "", "auto", "on or off"},
      {"erase-ext", "yes", "auto", "on or off"},
      {"barcode-read", "ext64", "auto", "barcode mode"},
      {"barcode-write", "", "auto", "needs the text"},
      {"barcode-write", std::string(33, 'A'), "auto", "at most 32"},
      {"barcode-write", "ABC", "int8", "--barcode-mode"},
      {"sn-set", std::string(65, '1'), "auto", "at most 64"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.command, c.value, c.mode), 2) << c.command;
    EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
  }
  EXPECT_TRUE(wire.entries().empty());
}

TEST_F(CmdCliTest, APortThatCannotOpenGivesItsReason) {
  ctx.PortName.set("/dev/no-such-port");
  EXPECT_EQ(run("rtc-get"), 3);
  EXPECT_NE(err.str().find(ctx.LinkError.get()), std::string::npos) << err.str();
  EXPECT_FALSE(ctx.LinkError.get().empty());
  EXPECT_TRUE(shows(R"(StatusBarView[0]: "  SYS : < START > ")")) << out.str();
}

// ---- end to end ----

struct Stamp {
  bool ok = false;
  time_t t = 0;
};

// The clock shown in an EditRTC line, as seconds (both forms: with and
// without leading zeros).
Stamp ClockIn(const std::string& output) {
  const size_t at = output.find("EditRTC: \"");
  Stamp s;
  if (at == std::string::npos) return s;
  std::tm tm{};
  if (std::sscanf(output.c_str() + at + 10, " %d.%d.%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6) return s;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  s.t = timegm(&tm);
  s.ok = true;
  return s;
}

int RunCli(const std::string& args, std::string& output) {
  const std::string cmd = std::string(BMS_CLI_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CmdCliEndToEnd, RtcSetThenGetThroughAPtyShowsARunningClock) {
  sim::Scenario s = sim::DefaultScenario();
  s.clock = LocalTime{2031, 1, 2, 3, 4, 5, 0};  // far from the PC's clock until it is set
  sim::PtyServer server(s);
  std::string why;
  ASSERT_TRUE(server.start(&why)) << why;
  const std::string port = "--port " + server.slave_path();

  std::string set_out;
  ASSERT_EQ(RunCli("cmd rtc-set " + port, set_out), 0) << set_out;
  const Stamp sent = ClockIn(set_out);
  ASSERT_TRUE(sent.ok) << set_out;

  // Read the clock back until it has moved on (each read takes a few hundred
  // milliseconds of real exchange); a clock that stands still fails here.
  std::string get_out;
  Stamp read;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    get_out.clear();
    ASSERT_EQ(RunCli("cmd rtc-get " + port, get_out), 0) << get_out;
    read = ClockIn(get_out);
    ASSERT_TRUE(read.ok) << get_out;
  } while (read.t == sent.t && std::chrono::steady_clock::now() < deadline);
  EXPECT_GE(read.t - sent.t, 1) << set_out << get_out;
  EXPECT_LE(read.t - sent.t, 10) << set_out << get_out;
  server.stop();
}

}  // namespace
}  // namespace bms::testing
