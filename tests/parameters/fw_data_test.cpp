// The firmware data dialog, the SOC-OCV table and the cell-resistance group
// against the virtual pack in virtual time, during a running polling loop.
#include "core/parameters/fw_data.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/commands/cell_resistance.h"
#include "core/link/link_borrow.h"
#include "core/shell/app.h"
#include "core/shell/connection_dialog.h"
#include "platform/temp_folder.h"
#include "sim_fixture.h"

namespace bms {
namespace {

using sim::HostMessage;

class Borrow : public SimFixture {
 protected:
  Borrow() {
    ctx.app.exe_name = "TQ58_LIT_bmsmon";
    ctx.app.data_folder = tmp.path() + "/";
    ctx.app.current_dir = tmp.path() + "/";
    CreateApplication(ctx);
    ctx.FormConfig.CobBoxInterfaceName.set_text(sim::kVirtualPortName);
    SpdBtnYESClick(ctx);
  }

  // Runs polling; after the first completed cycle the wire log is cleared and
  // `action` runs (the borrow runs inline there); polling stops after the
  // next completed cycle. borrow_end is the wire-log size after the action.
  void DuringPolling(const std::function<void()>& action) {
    int done = 0;
    ctx.MonitorCycleHook = [&](bool completed) {
      if (!completed) return;
      if (++done == 1) {
        wire.clear();
        action();
        busy_after = ctx.LinkBusy.load();
        borrow_end = wire.host_messages().size();
      } else {
        ctx.RunFlag = 0;
      }
    };
    ctx.FormMain.SpdBtnRUN.click();
    ctx.MonitorCycleHook = nullptr;
  }
  std::vector<HostMessage> BorrowMessages() {
    auto m = wire.host_messages();
    m.resize(borrow_end);
    return m;
  }
  void Mtd(const std::string& text) { tmp.write("MTD.ini", text); }

  TPagesDlgFWData& d = ctx.PagesDlgFWData;
  testing::TempFolder tmp;
  size_t borrow_end = 0;
  uint8_t busy_after = 0xFF;
};

std::vector<uint8_t> Data(const HostMessage& m) { return std::vector<uint8_t>(m.data, m.data + 8); }

TEST_F(Borrow, ParameterReadFillsTheEditsPollingStaysOffTheWireAndResumes) {
  pack.update([](sim::Scenario& s) { s.protection[1][5] = 0xF6; });  // DUT release -10
  DuringPolling([&] { d.BitBtnFWDataRead.click(); });
  const auto m = BorrowMessages();
  ASSERT_EQ(m.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(m[i].kind, HostMessage::Request);
    EXPECT_EQ(m[i].address, 0x3300);
    EXPECT_EQ(m[i].length, i + 1);
    if (i > 0) {
      EXPECT_EQ(sim::HostWaitMs(m[i - 1], m[i]), 100);  // 40 ms, the reply (read ends 50 ms after it), 10 ms
    }
  }
  EXPECT_EQ(busy_after, 0);
  // Polling resumed: a status poll follows the borrow.
  const auto all = wire.host_messages();
  ASSERT_GT(all.size(), borrow_end);
  EXPECT_EQ(all[borrow_end].kind, HostMessage::StatusPoll);
  EXPECT_EQ(d.EditDUTRelease.text(), "-10");
  EXPECT_EQ(d.EditCOCEvent.text(), "8000");
  EXPECT_EQ(d.EditSWOVSet.text(), "4250");
  EXPECT_TRUE(ctx.FormMain.CheckBoxVCellNoAdjust.checked());
  EXPECT_TRUE(d.BitBtnFWDataRead.enabled());
  EXPECT_TRUE(d.BitBtnFWDataWrite.enabled());
  EXPECT_TRUE(LastOutcome(ctx, TransferKind::FwRead).ok);
}

TEST_F(Borrow, ParameterWritePagesEncodingsAndTiming) {
  DuringPolling([&] {
    // RUN has reset the software voltage edits; the values are typed now.
    ProtectionCleanWorker(ctx);
    d.EditCOTEvent.set_text("-10");
    d.EditCOCEvent.set_text("70000");
    d.EditSWOVSet.set_text("4250");
    d.EditSWOVDelay.set_text("3");
    d.EditCOTEvtDly.set_text("5");
    EXPECT_EQ(d.EditCUTEvtDly.text(), "5");  // the mirror follows at once
    d.BitBtnFWDataWrite.click();
  });
  const auto m = BorrowMessages();
  ASSERT_EQ(m.size(), 12u);
  const std::vector<std::vector<uint8_t>> pages = {
      {0xF6, 0, 5, 0, 0, 0, 5, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, {0x01, 0x11, 0x70, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, {0x10, 0x9A, 0, 0, 3, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (size_t p = 0; p < 6; ++p) {
    SCOPED_TRACE(p + 1);
    EXPECT_EQ(m[2 * p].address, 0x4400);
    EXPECT_EQ(m[2 * p].length, p + 1);
    EXPECT_EQ(m[2 * p].write_count, 8);
    EXPECT_EQ(m[2 * p + 1].kind, HostMessage::Payload);
    EXPECT_EQ(Data(m[2 * p + 1]), pages[p]);
    EXPECT_EQ(sim::HostWaitMs(m[2 * p], m[2 * p + 1]), 8);
    if (p > 0) {
      EXPECT_EQ(sim::HostWaitMs(m[2 * p - 1], m[2 * p]), 100);  // 40 ms, the echo (read ends 50 ms after it), 10 ms
    }
  }
  EXPECT_EQ(busy_after, 0);
  // A read after the write shows the written values.
  ProtectionCleanWorker(ctx);
  DuringPolling([&] { d.BitBtnFWDataRead.click(); });
  EXPECT_EQ(d.EditCOTEvent.text(), "-10");
  EXPECT_EQ(d.EditCOCEvent.text(), "70000");
  EXPECT_EQ(d.EditSWOVSet.text(), "4250");
  EXPECT_EQ(d.EditCUTEvtDly.text(), "5");
}

TEST_F(Borrow, RefusedInputSendsNothingAndSaysWhy) {
  struct Case {
    const char* what;
    std::function<void()> set;
    std::function<void()> click;
    std::string message;
  };
  const Case cases[] = {
      {"U8 out of range", [&] { d.EditCOTEvtDly.set_text("300"); }, [&] { d.BitBtnFWDataWrite.click(); },
       "Write refused: COT Evt Dly (EditCOTEvtDly) holds \"300\", not a whole number from 0 to 255. Nothing was sent."},
      {"not a number", [&] { d.EditCOCEvent.set_text("12abc"); }, [&] { d.BitBtnFWDataWrite.click(); },
       "Write refused: COC Event (EditCOCEvent) holds \"12abc\", not a whole number from 0 to 16777215. Nothing was sent."},
      {"empty edit", [&] { d.EditSWUVRelease.set_text(""); }, [&] { d.BitBtnFWDataWrite.click(); }, "Write refused: UV Rls Dly (EditSWUVRelease) is empty. Nothing was sent."},
      {"SOC-OCV point empty",
       [&] {
         d.PageControlFW.set_item_index(1);
         d.EditSOCVN[64]->set_text("");
       },
       [&] { d.BitBtnFWDataWrite.click(); }, "Write refused: SOC-OCV point 64 (EditSOCV64) is empty. Nothing was sent."},
      {"resistance not a number",
       [&] {
         BitBtnRWAllClick(ctx);
         for (int k = 1; k <= 13; ++k) ctx.FormMain.EditCellRN[k]->set_text("20");
         ctx.FormMain.EditCellR3.set_text("-1");
       },
       [&] { BitBtnWCellmOmhAdjustClick(ctx); }, "  Write refused: cell 3 (EditCellR3) holds \"-1\", not a whole number from 0 to 65535. Nothing was sent."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int payloads = pack.payloads();
    DuringPolling([&] {
      ProtectionCleanWorker(ctx);
      SocvCleanWorker(ctx);
      d.PageControlFW.set_item_index(0);
      c.set();
      c.click();
    });
    EXPECT_TRUE(BorrowMessages().empty());
    EXPECT_EQ(pack.payloads(), payloads);
    EXPECT_EQ(busy_after, 0);
    const std::string shown = std::string(c.what).find("resistance") == 0 ? ctx.FormMain.StatusBarView.item(2) : d.LabelFWDataStatus.text();
    EXPECT_EQ(shown, c.message);
    EXPECT_TRUE(d.BitBtnFWDataRead.enabled());
  }
}

TEST_F(Borrow, ClicksWhileMonitoringIsStoppedDoNothingAndSaySo) {
  ctx.FormMain.CheckBoxVCellNoAdjust.set_checked(true);
  d.BitBtnFWDataRead.click();
  d.BitBtnFWDataWrite.click();
  BitBtnRCellmOmhAdjustClick(ctx);
  EXPECT_EQ(wire.size(), 0u);
  EXPECT_EQ(ctx.LinkBusy.load(), 0);
  EXPECT_TRUE(ctx.FormMain.CheckBoxVCellNoAdjust.checked());
  EXPECT_TRUE(d.BitBtnFWDataRead.enabled());
  EXPECT_TRUE(d.BitBtnFWDataWrite.enabled());
  EXPECT_EQ(d.LabelFWDataStatus.text(), kPollingNotRunning);
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(2), std::string("  ") + kPollingNotRunning);
}

TEST_F(Borrow, FailingReadAndStopLeaveLinkBusyClear) {
  // Page 3 never answers: its edits stay, the rest is read, the borrow ends.
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x3300, 3), sim::FaultAction::Silence));
  d.EditCOCEvent.set_text("1234");
  DuringPolling([&] { d.BitBtnFWDataRead.click(); });
  EXPECT_EQ(busy_after, 0);
  EXPECT_EQ(d.EditCOCEvent.text(), "1234");
  EXPECT_EQ(d.EditDOCEvent.text(), "30000");
  EXPECT_EQ(d.LabelFWDataStatus.text(), "Parameters read: no reply for page 3; the values of that page were left as they were.");

  // STOP during a SOC-OCV read ends it after the current page.
  d.PageControlFW.set_item_index(1);
  DuringPolling([&] {
    // The pages start 300 ms + the drain's 10120 ms after the click, one
    // every 100 ms; STOP comes during page 5.
    clock.at(clock.now_ms() + 300 + 10120 + 4 * 100 + 45, [&] { ctx.RunFlag = 0; });
    d.BitBtnFWDataRead.click();
  });
  EXPECT_EQ(busy_after, 0);
  EXPECT_EQ(ctx.LinkBusy.load(), 0);
  const auto m = BorrowMessages();
  EXPECT_EQ(m.size(), 5u);
}

TEST_F(Borrow, SocvPagesAndLastPageOfTheWrite) {
  d.PageControlFW.set_item_index(1);
  for (int n = 1; n <= 101; ++n) d.EditSOCVN[n]->set_text(std::to_string(3000 + n));
  d.EditSOCVN[1]->set_text("3000");
  d.EditSOCVN[2]->set_text("3100");
  d.EditSOCVN[3]->set_text("3200");
  d.EditSOCVN[4]->set_text("3300");
  d.EditSOCVN[101]->set_text("4200");
  DuringPolling([&] { d.BitBtnFWDataWrite.click(); });
  const auto m = BorrowMessages();
  ASSERT_EQ(m.size(), 52u);
  EXPECT_EQ(m[0].address, 0x4500);
  EXPECT_EQ(m[0].write_count, 8);
  EXPECT_EQ(Data(m[1]), (std::vector<uint8_t>{0x0B, 0xB8, 0x0C, 0x1C, 0x0C, 0x80, 0x0C, 0xE4}));
  EXPECT_EQ(m[50].length, 26);
  EXPECT_EQ(m[50].write_count, 2);
  EXPECT_EQ(Data(m[51]), (std::vector<uint8_t>{0x10, 0x68, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pack.scenario().soc_ocv[100], 4200);

  // The read shows every point read; a missing page leaves its points.
  SocvCleanWorker(ctx);
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Register(0x100D, 15), sim::FaultAction::Silence));
  DuringPolling([&] { d.BitBtnFWDataRead.click(); });
  const auto r = BorrowMessages();
  ASSERT_EQ(r.size(), 26u);
  EXPECT_EQ(r[25].address, 0x100D);
  EXPECT_EQ(r[25].length, 26);
  EXPECT_EQ(d.EditSOCVN[1]->text(), "3000");
  EXPECT_EQ(d.EditSOCVN[56]->text(), "3056");
  EXPECT_EQ(d.EditSOCVN[57]->text(), "0");  // page 15 holds points 57-60
  EXPECT_EQ(d.EditSOCVN[61]->text(), "3061");
  EXPECT_EQ(d.EditSOCVN[101]->text(), "4200");
  EXPECT_EQ(d.LabelFWDataStatus.text(), "SOC-OCV table read incomplete: no reply for point 57-60; those edits were left as they were.");
  EXPECT_FALSE(ctx.FormMain.CheckBoxVCellNoAdjust.checked());
}

TEST_F(Borrow, MtdLoads) {
  // Missing file: edits as they were.
  d.EditCOTEvent.set_text("7");
  DuringPolling([&] { d.BitBtnFWDataLoad.click(); });
  EXPECT_EQ(d.EditCOTEvent.text(), "7");
  EXPECT_EQ(d.LabelFWDataStatus.text(), "MTD.ini was not found in " + tmp.path() + "/: nothing was loaded.");

  std::string fw = "[FWProtectParapmterLoad]\r\n";
  for (const ProtectionField& f : kProtectionFields) fw += std::string(f.key) + "=" + std::to_string(f.page * 10 + f.byte) + "\r\n";
  fw += "DUT_Release=99\r\n";
  std::string socv = "[FWSOCVTableLoad]\r\n";
  for (int n = 1; n <= 101; ++n)
    if (n != 57) socv += "SOV" + std::to_string(n) + "Load=" + std::to_string(3000 + n) + "\r\n";
  std::string cellr = "[Set]\r\n";
  for (int k = 1; k <= 13; ++k) cellr += "CellR" + std::to_string(k) + "=00" + std::to_string(20 + k) + "\r\n";
  Mtd(fw + socv + cellr);

  DuringPolling([&] { d.BitBtnFWDataLoad.click(); });
  EXPECT_EQ(d.EditDUTRelease.text(), "25");  // from DUT_Releae, never DUT_Release
  EXPECT_EQ(d.EditCUTEvtDly.text(), "16");   // its own value after the mirror
  EXPECT_EQ(d.EditSWUVRelease.text(), "65");

  // A missing key: says so, nothing loaded.
  d.PageControlFW.set_item_index(1);
  DuringPolling([&] { d.BitBtnFWDataLoad.click(); });
  EXPECT_EQ(d.EditSOCVN[1]->text(), "0");
  EXPECT_EQ(d.LabelFWDataStatus.text(), "MTD.ini lacks SOV57Load in section [FWSOCVTableLoad]: nothing was loaded.");

  BitBtnCellRPrarmLoadClick(ctx);
  EXPECT_EQ(ctx.FormMain.EditCellR1.text(), "21");
  EXPECT_EQ(ctx.FormMain.EditCellR13.text(), "33");
  EXPECT_TRUE(ctx.FormMain.BitBtnWCellmOmhAdjust.enabled());
}

TEST_F(Borrow, CellResistanceRequestsAndPayloads) {
  BitBtnRWCancelClick(ctx);
  ctx.FormMain.CheckBoxCellR2RW.set_checked(true);
  ctx.FormMain.CheckBoxCellR7RW.set_checked(true);
  DuringPolling([&] { ctx.FormMain.BitBtnRCellmOmhAdjust.click(); });
  auto m = BorrowMessages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].address, 0x100C);
  EXPECT_EQ(m[0].length, 2);
  EXPECT_EQ(m[1].length, 7);
  EXPECT_EQ(sim::HostWaitMs(m[0], m[1]), 105);  // 50 ms, the reply (read ends 50 ms after it), 5 ms
  EXPECT_EQ(ctx.FormMain.EditCellR2.text(), "24");
  EXPECT_EQ(ctx.FormMain.EditCellR1.text(), "");

  BitBtnRWCancelClick(ctx);
  ctx.FormMain.CheckBoxCellR5RW.set_checked(true);
  DuringPolling([&] {
    ctx.FormMain.EditCellR5.set_text("1234");  // RUN has emptied the edits
    BitBtnWCellmOmhAdjustClick(ctx);
  });
  m = BorrowMessages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].address, 0x3400);
  EXPECT_EQ(m[0].length, 5);
  EXPECT_EQ(m[0].write_count, 0x02);
  EXPECT_EQ(Data(m[1]), (std::vector<uint8_t>{0x04, 0xD2, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(sim::HostWaitMs(m[0], m[1]), 8);
  EXPECT_EQ(pack.scenario().cell_resistance_mohm[4], 1234);
  EXPECT_EQ(busy_after, 0);

  // The read-all variant runs in the polling cycle itself.
  ctx.FormMain.CheckBoxCellRAllWrite.set_checked(true);
  ctx.FormMain.CheckBoxCellRAllRead.set_checked(true);
  EXPECT_FALSE(ctx.FormMain.CheckBoxCellRAllWrite.checked());
  ctx.FormMain.EditCellR5.set_text("");
  DuringPolling([] {});
  EXPECT_EQ(ctx.FormMain.EditCellR5.text(), "1234");
  EXPECT_GE(pack.request_count(0x100C, 5), 2);
}

}  // namespace
}  // namespace bms

namespace bms {
namespace {

// With the correction on, the pack's corrected cells follow the resistances
// written to it, and differ from the raw cells as on a real pack.
TEST_F(Borrow, WrittenResistancesChangeTheCorrectedCells) {
  pack.update([](sim::Scenario& s) {
    s.correct_cells = true;
    s.pack_current_ma = -2000;
    s.raw_cells_mv.fill(3900);
  });
  ctx.FormMain.CheckBoxVCellNoAdjust.set_checked(true);
  BitBtnRWCancelClick(ctx);
  ctx.FormMain.CheckBoxCellR1RW.set_checked(true);
  DuringPolling([&] {
    ctx.FormMain.EditCellR1.set_text("50");
    BitBtnWCellmOmhAdjustClick(ctx);
  });
  EXPECT_EQ(ctx.FormMain.EditVCell1NoAdjust.text(), "3900");
  EXPECT_EQ(ctx.FormMain.EditVCell1.text(), "4000");  // 3900 + 2000 mA x 50 mOhm
}

}  // namespace
}  // namespace bms
