// The CSV data log: exact header and row bytes, file naming, when rows are
// written, and what happens when the log cannot be written.
#include "core/monitor/data_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "core/link/link_port.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms {
namespace {

TEST(DataLogText, HeadersAreExact) {
  EXPECT_EQ(DataLogHeader(false),
            "Date, Time, Barcode, Shipping Mode, PName, PVer, PSN, Pack Volt(mV), Current (mA), Cell Series, Cell Parallel, Design Capacity, Full Charge Capacity, "
            "Remain Capacity, Total Charge Capacity, Cycle Cnt, PSOH, RSOC, T1 Degree C, T2 Degree C, Chg/Dag, OV Flag, UV Flag, OC Flag, SC  Flag, OT Flag, UT Flag, "
            "Max VCell, Min VCell, Cell Balance, VCell1, VCell2, VCell3, VCell4, VCell5, VCell6, VCell7, VCell8, VCell9, VCell10, VCell11, VCell12, VCell13, VCell14, \r\n");
  EXPECT_EQ(DataLogHeader(true),
            "Date, Time, RTC, Barcode, Shipping Mode, PName, PVer, PSN, Pack Volt(mV), Current (mA), Cell Series, Cell Parallel, Design Capacity, Full Charge Capacity, "
            "Remain Capacity, Total Charge Capacity, Cycle Cnt, PSOH, RSOC, T1 Degree C, T2 Degree C, Chg/Dag, OV Flag, UV Flag, OC Flag, SC  Flag, OT Flag, UT Flag, "
            "Max VCell, Min VCell, Cell Balance, VCell1, VCell2, VCell3, VCell4, VCell5, VCell6, VCell7, VCell8, VCell9, VCell10, VCell11, VCell12, VCell13, \r\n");
}

class DataLogRun : public SimFixture {
 protected:
  void Start(const std::string& exe = "TQ58_LIT_bmsmon") {
    ctx.app.exe_name = exe;
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.current_dir = tmp.path() + "/";
    CreateApplication(ctx);
    ctx.FormConfig.CobBoxInterfaceName.set_text(sim::kVirtualPortName);
    SpdBtnYESClick(ctx);
    ctx.FormConfig.CheckBoxLogFileSave.set_checked(true);
  }
  void Run(int cycles) {
    int done = 0;
    ctx.MonitorCycleHook = [this, cycles, &done](bool completed) {
      if (completed && ++done >= cycles) ctx.RunFlag = 0;
    };
    ctx.FormMain.SpdBtnRUN.click();
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Rows(const std::string& text) const {
    std::vector<std::string> rows;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) rows.push_back(text.substr(start, end - start));
    return rows;
  }
  testing::TempFolder tmp;
};

TEST_F(DataLogRun, OneRowPerCycleWithTheDisplayTexts) {
  Start();
  Run(2);
  // The run started at 00:30:15 on 9 December 2026 (virtual), no log barcode.
  EXPECT_EQ(ctx.Log->path(), tmp.path() + "/Log_Record/TQ_NULL_20261209_003015_log_1.csv");
  const auto rows = Rows(Read(ctx.Log->path()));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0] + "\r\n", DataLogHeader(false));
  const sim::Scenario s = pack.scenario();
  const std::string row = rows[1];
  EXPECT_EQ(row.substr(0, 12), "2026-12-09, ");
  EXPECT_EQ(row[14], ':');
  EXPECT_EQ(row[20], '.');  // hh:mm:ss.zzz
  EXPECT_EQ(row.substr(24, 2), ", ");
  std::vector<std::string> fields;
  size_t start = 26;
  for (size_t end; (end = row.find(',', start)) != std::string::npos; start = end + 1) fields.push_back(row.substr(start, end - start));
  EXPECT_EQ(start, row.size()) << "row ends with a comma";
  ASSERT_EQ(fields.size(), 42u);
  EXPECT_EQ(fields[0], *s.barcode_ext32);
  EXPECT_EQ(fields[1], s.shipping_mode ? "1" : "0");
  EXPECT_EQ(fields[4], s.serial_number);
  EXPECT_EQ(fields[5], std::to_string(s.voltage_mv()));
  EXPECT_EQ(fields[6], std::to_string(s.pack_current_ma));
  EXPECT_EQ(fields[7], std::to_string(s.cell_series));
  EXPECT_EQ(fields[18], " Discharging ");
  for (int i = 19; i <= 24; ++i) EXPECT_EQ(fields[static_cast<size_t>(i)], "0") << i;
  EXPECT_EQ(fields[28], std::to_string(s.cells_mv[0]));
  EXPECT_EQ(fields[41], "0");  // cell 14 of a 13-cell pack keeps its idle text
}

TEST_F(DataLogRun, TimerWritesRowsWhereTheXplTabShows) {
  Start();
  ctx.FormMain.TabSheetXPL.set_visible(true);
  ctx.FormMain.CSpinEditRecordDelay.set_text("10");
  clock.at(35000, [this] { ctx.RunFlag = 0; });
  ctx.FormMain.SpdBtnRUN.click();
  const auto rows = Rows(Read(ctx.Log->path()));
  // The first complete cycle writes at once; then one row every 10 s.
  ASSERT_GE(rows.size(), 4u);
  ASSERT_LE(rows.size(), 5u);
  std::vector<int> ms;  // "yyyy-mm-dd, hh:mm:ss.zzz"
  for (size_t i = 1; i < rows.size(); ++i) ms.push_back(std::stoi(rows[i].substr(21, 3)) + 1000 * (std::stoi(rows[i].substr(18, 2)) + 60 * std::stoi(rows[i].substr(15, 2))));
  for (size_t i = 2; i < ms.size(); ++i) EXPECT_EQ(ms[i] - ms[i - 1], 10000) << rows[i];
  EXPECT_FALSE(ctx.TimerRecordDelay->running());
}

TEST_F(DataLogRun, BarcodeFromOperatorInputStaysInTheLogFolder) {
  Start("TQ58_FPL_bmsmon");
  ctx.FormMain.EditWriteLogBarcode.set_text("../../evil/name");
  Run(1);
  const std::string path = ctx.Log->path();
  EXPECT_EQ(path.rfind(tmp.path() + "/Log_Record/TQ_", 0), 0u) << path;
  EXPECT_EQ(path.find("/evil/"), std::string::npos);
  // This edition clears the write-log barcode at the end of the run.
  EXPECT_TRUE(ctx.FormMain.EditWriteLogBarcode.empty());
}

TEST_F(DataLogRun, UnwritableFolderKeepsPollingAndSaysWhy) {
  Start();
  tmp.write("Log_Record", "a file where the folder should be");
  Run(2);
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("Log not written"), std::string::npos) << ctx.FormMain.StatusBarView.item(2);
  EXPECT_FALSE(ctx.Log->is_open());
  EXPECT_EQ(ctx.FormMain.EditRSOC.text(), std::to_string(pack.scenario().rsoc));
}

TEST_F(DataLogRun, EngineeringEditionNamesTheLogAfterThePackBarcode) {
  Start("TQ58_ENG_bmsmon");
  Run(1);
  EXPECT_EQ(ctx.FormMain.EditWriteLogBarcode.text(), *pack.scenario().barcode_ext32);
  EXPECT_NE(ctx.Log->path().find("TQ_" + *pack.scenario().barcode_ext32 + "_20261209_0030"), std::string::npos) << ctx.Log->path();
  // Each page: request, 100 ms, its echo (come by then: the read ends one
  // 50 ms interval later), 10 ms; 90 ms more between the pages.
  const auto msgs = wire.host_messages();
  ASSERT_GE(msgs.size(), 5u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(msgs[k].address, 0x6207);
    EXPECT_EQ(msgs[k].length, k + 1);
  }
  for (size_t k = 1; k < 4; ++k) EXPECT_EQ(sim::HostWaitMs(msgs[k - 1], msgs[k]), 100 + 50 + 10 + 90) << wire.dump();
  EXPECT_EQ(msgs[4].address, 0x6600);
  EXPECT_EQ(sim::HostWaitMs(msgs[3], msgs[4]), 100 + 50 + 10) << wire.dump();
}

}  // namespace
}  // namespace bms
