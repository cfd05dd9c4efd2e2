// The files of a run: report names and folders from hostile input, a report
// folder that cannot be written, the failure list beyond its size, the same
// barcode twice in one second, the JSON record and the station ledger.
#include "core/production_test/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "core/platform/cp950.h"
#include "production_test/evt_fixture.h"

namespace bms::testing {
namespace {

namespace fs = std::filesystem;

class ReportTest : public EvtFixture {
 protected:
  std::vector<std::string> FilesUnder(const std::string& sub) const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder / sub))
      if (e.is_regular_file()) out.push_back(fs::relative(e.path(), folder.path()).string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(ReportTest, HostileWorkNumbersAndBarcodesStayInsideTheReportFolder) {
  struct Case {
    const char* work;
    const char* barcode;
    const char* folder;  // below Test_Report/
    const char* name;    // start of the report name
  };
  const Case cases[] = {
      {"../x", "a/b", "_x", "a_b_2026"},
      {"..", "..", "_", "__2026"},
      {"w\x01\x1b[2J", "b\r\n", "w_2J", "b_2026"},
  };
  Plan("[Set]\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    ctx.FormMain.EditEVTWorkNumber.set_text(c.work);
    ASSERT_TRUE(Run(c.barcode));
    const EvtOutcome o = ctx.Evt->outcome.get();
    ASSERT_TRUE(o.report_written) << o.report_error;
    const std::string expected_folder = folder.path() + "/Test_Report/" + c.folder + "/";
    EXPECT_EQ(o.report_path.substr(0, expected_folder.size()), expected_folder);
    EXPECT_EQ(o.report_path.substr(expected_folder.size(), std::string(c.name).size()), c.name);
    // The report itself keeps the operator's text.
    EXPECT_TRUE(Contains(std::string("Work Number  :  ") + c.work));
  }
  for (const auto& f : FilesUnder(".")) EXPECT_TRUE(f.rfind("Test_Report/", 0) == 0 || f.rfind("Log_Record/", 0) == 0 || f == "plan.ini") << f;
}

TEST_F(ReportTest, AnUnwritableReportFolderIsReportedAndTheReportCanBeSavedAgain) {
  Plan("[Set]\n");
  folder.write("Test_Report", "a file where the folder should be");
  ASSERT_TRUE(Run("B-9"));
  EvtOutcome o = ctx.Evt->outcome.get();
  EXPECT_FALSE(o.report_written);
  const std::string panel = ctx.FormMain.StatusBarView.item(2);
  EXPECT_NE(panel.find("Report not written: " + o.report_path + ": "), std::string::npos) << panel;
  EXPECT_EQ(ctx.FormMain.PanelTestResult.text(), "PASS");  // the verdict is the run's, not the file's
  const auto memo = ctx.FormMain.MemoLog.items();
  ASSERT_FALSE(memo.empty());
  EXPECT_EQ(memo.back(), "測試結果報告  :  PASS");

  fs::remove(folder / "Test_Report");
  std::string why;
  ASSERT_TRUE(SaveEvtReportAgain(ctx, &why)) << why;
  o = ctx.Evt->outcome.get();
  EXPECT_TRUE(o.report_written);
  std::string bytes;
  for (const auto& l : memo) bytes += l + "\r\n";
  EXPECT_EQ(folder.read(o.report_path.substr(folder.path().size() + 1)), Utf8ToCp950(bytes));
}

TEST_F(ReportTest, FailuresBeyondTheListAreCountedAndNamedOnce) {
  // Limits at 0 fail about twenty checks per repetition.
  Plan("[Set]\nTestRepeatCnt=55\n");
  ctx.ui_sink = nullptr;  // thousands of lines: no recording of every change
  ASSERT_TRUE(Run());
  const EvtTest t = ctx.EVT_TEST.get();
  ASSERT_GT(t.FailCount, kFailureListCapacity);
  const auto log = Log();
  const auto total = std::find(log.begin(), log.end(), "Total Test Failed Report  :  ");
  ASSERT_NE(total, log.end());
  const auto not_listed = std::find(total, log.end(), "  [ " + std::to_string(t.FailCount - kFailureListCapacity) + " more failure entries not listed ]");
  ASSERT_NE(not_listed, log.end());
  EXPECT_EQ(not_listed - total - 1, kFailureListCapacity);
  EXPECT_TRUE(Contains("測試失敗總數  :  " + std::to_string(t.FailCount) + " 項"));
  const auto j = nlohmann::json::parse(folder.read(ctx.Evt->outcome.get().json_path.substr(folder.path().size() + 1)));
  EXPECT_EQ(j["failures"].size(), static_cast<size_t>(kFailureListCapacity));
  EXPECT_EQ(j["failures_not_listed"], t.FailCount - kFailureListCapacity);
}

TEST_F(ReportTest, TheSameBarcodeTwiceInOneSecondReplacesTheReport) {
  Plan("[Set]\n");
  const LocalTime start = clock.local_now();
  ASSERT_TRUE(Run("SAME"));
  const std::string first = ctx.Evt->outcome.get().report_path;
  // The second run starts at the same local time, so it ends in the same second.
  clock.set_local_start(AddMilliseconds(start, -clock.now_ms()));
  ASSERT_TRUE(Run("SAME"));
  const EvtOutcome o = ctx.Evt->outcome.get();
  EXPECT_EQ(o.report_path, first);
  EXPECT_EQ(FilesUnder("Test_Report/W001").size(), 2u);  // the report and its record, no temporary file
  EXPECT_NE(Cp950ToUtf8(folder.read(first.substr(folder.path().size() + 1))).find("自動檢測次數  :  第  2 次"), std::string::npos);
  // The ledger keeps both runs; the second is a duplicate of a PASS.
  EXPECT_TRUE(o.duplicate);
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("duplicate"), std::string::npos);
  const std::string ledger = folder.read("Test_Report/ledger.csv");
  const std::string sha = FileSha256(folder / "plan.ini");
  ASSERT_EQ(sha.size(), 64u);
  const std::string name = first.substr(first.rfind('/') + 1);
  const std::string row = o.end_time + ",W001,SAME,PASS,0," + sha + "," + name + "\r\n";
  EXPECT_EQ(ledger, "End Time,Work Number,Barcode,Verdict,Failures,Plan SHA-256,Report\r\n" + row + row);
}

TEST_F(ReportTest, TheJsonRecordDescribesTheRun) {
  const std::string plan = Plan("[Set]\nTestRepeatCnt=1\n" + std::string(kPassingChecks));
  ASSERT_TRUE(Run("REC-1"));
  const EvtOutcome o = ctx.Evt->outcome.get();
  EXPECT_EQ(o.json_path.substr(0, o.json_path.size() - 5), o.report_path.substr(0, o.report_path.size() - 4));
  const auto j = nlohmann::json::parse(folder.read(o.json_path.substr(folder.path().size() + 1)));
  EXPECT_EQ(j["plan"]["path"], plan);
  EXPECT_EQ(j["plan"]["sha256"], FileSha256(plan));
  EXPECT_EQ(j["edition"], "TQ58_EVT_bmsmon");
  EXPECT_EQ(j["work_number"], "W001");
  EXPECT_EQ(j["barcode"], "REC-1");
  EXPECT_EQ(j["verdict"], "PASS");
  EXPECT_EQ(j["duplicate"], false);
  EXPECT_EQ(j["counters"]["tested"], 1);
  EXPECT_EQ(j["start_time"], "2026-12-09 00:30:15");
  bool found_soc = false;
  for (const auto& item : j["items"]) {
    if (item["title"] == "SOC : 100 % to 10 %  Test  :  ") {
      found_soc = true;
      EXPECT_EQ(item["value"], "65");
      EXPECT_EQ(item["low"], "10");
      EXPECT_EQ(item["high"], "100");
      EXPECT_EQ(item["verdict"], "PASS");
    }
  }
  EXPECT_TRUE(found_soc);
  EXPECT_EQ(j["items"][0]["number"], 1);
  EXPECT_EQ(j["items"][0]["verdict"], "PASS");
}

}  // namespace
}  // namespace bms::testing
