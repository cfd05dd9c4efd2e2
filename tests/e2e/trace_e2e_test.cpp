// bmsmon-cli monitor --trace as a user runs it: the file it writes, a name
// that is taken, and a trace that cannot be written to the end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Runs a shell line with stdout and stderr in files of tmp; the exit status
// (-1 when it did not exit normally). `timeout` bounds a run that hangs.
int RunShell(const bms::testing::TempFolder& tmp, const std::string& line) {
  const std::string cmd = "cd '" + tmp.path() + "' && timeout 120 /bin/bash -c '" + line + "' >'" + tmp.path() + "/out' 2>'" + tmp.path() + "/err' </dev/null";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kCli = BMS_CLI_PATH;

TEST(TraceEndToEnd, MonitorWritesEveryFrameAndSaysHowMany) {
  bms::testing::TempFolder tmp;
  ASSERT_EQ(RunShell(tmp, kCli + " monitor --simulate --cycles 2 --data-dir . --trace frames.txt --json"), 0) << tmp.read("err");
  const std::vector<std::string> lines = Lines(tmp.read("frames.txt"));
  ASSERT_GT(lines.size(), 4u);
  size_t requests = 0, replies = 0;
  for (const std::string& l : lines) {
    if (l.find(" | TX | ") != std::string::npos && l.find("| request 0x") != std::string::npos) ++requests;
    if (l.find(" | RX | ") != std::string::npos && l.find("| reply header 0x") != std::string::npos) ++replies;
  }
  EXPECT_GT(requests, 0u);
  EXPECT_GT(replies, 0u);
  EXPECT_NE(tmp.read("err").find("bmsmon-cli: trace frames.txt: " + std::to_string(lines.size()) + " frames written\n"), std::string::npos) << tmp.read("err");
  EXPECT_NE(tmp.read("out").find("{\"trace\":{\"file\":\"frames.txt\",\"frames_skipped\":0,\"frames_written\":" + std::to_string(lines.size()) + ",\"trace_failed\":false}}"),
            std::string::npos)
      << tmp.read("out");
}

TEST(TraceEndToEnd, ATakenNameExitsFourWithNothingSent) {
  bms::testing::TempFolder tmp;
  tmp.write("frames.txt", "keep\n");
  EXPECT_EQ(RunShell(tmp, kCli + " monitor --simulate --cycles 1 --data-dir . --trace frames.txt"), 4);
  EXPECT_EQ(tmp.read("frames.txt"), "keep\n");
  EXPECT_NE(tmp.read("err").find("trace not written, nothing sent"), std::string::npos) << tmp.read("err");
  EXPECT_EQ(tmp.read("out"), "") << "no cycle ran";
}

// A full disk (a file-size limit of 1 KiB): reported, exit 4, only whole
// lines in the file.
TEST(TraceEndToEnd, AFailedTraceWriteExitsFourAndLeavesWholeLines) {
  bms::testing::TempFolder tmp;
  EXPECT_EQ(RunShell(tmp, "ulimit -f 1; exec " + kCli + " monitor --simulate --cycles 2 --data-dir . --trace frames.txt"), 4) << tmp.read("err");
  EXPECT_NE(tmp.read("err").find("bmsmon-cli: trace write failed: "), std::string::npos) << tmp.read("err");
  const std::string text = tmp.read("frames.txt");
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), 1024u);
  EXPECT_EQ(text.back(), '\n') << "no torn line at the end";
  EXPECT_NE(tmp.read("out").find("cycle 2:"), std::string::npos) << "polling went on";
}

}  // namespace
