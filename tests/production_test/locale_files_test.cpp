// The files the jobs write are the same bytes whatever the C library's
// locale: the GUI runs with the locale of the environment (Qt sets it at
// start-up), where the decimal separator may be a comma. Each run uses a
// fresh virtual bench (same virtual start time, so the time stamps agree
// too): a monitoring run with the data log, a production test of one pack
// from a plan with decimal values (report, record and ledger), and a
// history block read with its CSV export.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "core/history/diagnosis.h"
#include "core/history/eeprom_window.h"
#include "core/monitor/polling.h"
#include "production_test/evt_fixture.h"

namespace bms::testing {
namespace {

namespace fs = std::filesystem;

// One bench outside the test runner's own fixture, so that a test can make
// several fresh ones.
class FileJobs : public EvtFixture {
 public:
  void TestBody() override {}

  // Runs the jobs and returns every file they wrote: path below the data
  // folder to contents. *why tells a job that did not run.
  std::map<std::string, std::string> Produce(std::string* why) {
    ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
    int done = 0;
    ctx.MonitorCycleHook = [this, &done](bool completed) {
      if (completed && ++done >= 2) ctx.RunFlag = 0;
    };
    SpdBtnRUNClick(ctx);  // the inline worker polls until the hook stops it
    ctx.MonitorCycleHook = nullptr;
    if (done < 2) *why += "monitoring did not complete two cycles (" + ctx.FormMain.StatusBarView.item(2) + "); ";

    Plan(std::string("[Set]\nTestRepeatCnt=1\nfBtyDsgLOADCurrent=2.5\n") + kPassingChecks + "BMSChgDsgCurrentMax=-999.5\n");
    if (!Run("BC-LOCALE-1")) *why += "the production test did not start; ";

    WireHistoryAndDiagnosis(ctx);
    ctx.FormEEPROM.PageControlEEP.set_item_index(1);
    ctx.FormEEPROM.BitBtnEEPBlockChoiceRead.click();
    if (ctx.FormEEPROM.LabelEEPExportFile.text().empty()) *why += "the history export was not written; ";

    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder.path())) {
      if (!e.is_regular_file() || e.path().filename() == "plan.ini") continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      // The record names the plan by its path, which is in this bench's own folder.
      for (size_t at; (at = bytes.find(folder.path())) != std::string::npos;) bytes.replace(at, folder.path().size(), "DATA");
      files[fs::relative(e.path(), folder.path()).string()] = bytes;
    }
    return files;
  }
};

std::map<std::string, std::string> ProduceUnder(const char* locale, std::string* why) {
  if (std::setlocale(LC_ALL, locale) == nullptr) {
    *why = std::string(locale) + " is not installed (tools/deps generates it)";
    return {};
  }
  std::map<std::string, std::string> files;
  {
    FileJobs jobs;
    files = jobs.Produce(why);
  }
  std::setlocale(LC_ALL, "C");
  return files;
}

TEST(LocaleFiles, EveryFileIsTheSameBytesUnderGermanAndFrenchLocales) {
  std::string why;
  const auto reference = ProduceUnder("C", &why);
  ASSERT_TRUE(why.empty()) << why;
  // A report and a record, the ledger, a data log, a history export.
  ASSERT_GE(reference.size(), 5u);
  for (const char* locale : {"de_DE.UTF-8", "fr_FR.UTF-8"}) {
    SCOPED_TRACE(locale);
    std::string problem;
    const auto files = ProduceUnder(locale, &problem);
    ASSERT_TRUE(problem.empty()) << problem;
    for (const auto& [path, bytes] : reference) {
      const auto it = files.find(path);
      ASSERT_NE(it, files.end()) << path << " was not written";
      if (it->second == bytes) continue;
      size_t at = 0;
      while (at < bytes.size() && at < it->second.size() && bytes[at] == it->second[at]) ++at;
      ADD_FAILURE() << path << " differs from byte " << at << ": C has \"" << bytes.substr(at, 40) << "\", " << locale << " \"" << it->second.substr(at, 40) << "\"";
    }
    EXPECT_EQ(files.size(), reference.size());
  }
}

}  // namespace
}  // namespace bms::testing
