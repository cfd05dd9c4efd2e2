// The register map: status block fields and register replies into LiveData
// and the texts of the display controls.
#include "core/monitor/decode.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/context.h"
#include "core/monitor/live_display.h"
#include "core/platform/clock.h"

namespace bms {
namespace {

using Bytes = std::vector<uint8_t>;

// A status block that passed its framing checks; fields placed by offset.
struct StatusBlock {
  std::array<uint8_t, 96> b{};
  StatusBlock() { b[0] = 0x4A; }
  StatusBlock& at(size_t offset, const Bytes& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) b[offset + i] = bytes[i];
    return *this;
  }
  StatusBlock& text(size_t offset, const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) b[offset + i] = static_cast<uint8_t>(s[i]);
    return *this;
  }
};

class DecodeTest : public ::testing::Test {
 protected:
  DecodeTest() { WireLiveDisplayHandlers(ctx); }

  // A register reply with its eight data bytes (missing bytes are zero).
  void Reply(uint16_t address, uint16_t length, const Bytes& data) {
    std::array<uint8_t, 8> d{};
    for (size_t i = 0; i < data.size() && i < 8; ++i) d[i] = data[i];
    DecodeReply(ctx, address, length, d.data());
  }
  void Status(const StatusBlock& s) { DecodeStatusBlock(ctx, s.b.data()); }
  LiveData live() { return ctx.Live.get(); }

  VirtualClock clock;
  Context ctx{clock, {}, true};
  TFormMain& m = ctx.FormMain;
};

// ---------------------------------------------------------------- status block

TEST_F(DecodeTest, StatusBlockFieldTexts) {
  struct Case {
    const char* what;
    size_t offset;
    Bytes bytes;
    const char* control;
    const char* text;
  };
  const Case cases[] = {
      {"ASOC", 1, {0x5A}, "EditASOC", "90"},
      {"RSOC", 2, {0xFF}, "EditRSOC", "255"},
      {"cycle count", 3, {0x01, 0x2C}, "EditCycleCnt", "300"},
      {"design capacity", 5, {0x80, 0x00, 0x00, 0x00}, "EditDC", "2147483648"},
      {"total charge capacity 48-bit", 9, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, "EditTCC", "4294967296"},
      {"total charge capacity max", 9, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "EditTCC", "281474976710655"},
      {"full charge capacity", 15, {0x00, 0x00, 0x27, 0x10}, "EditFCC", "10000"},
      {"remaining capacity", 19, {0x00, 0x00, 0x13, 0x88}, "EditRC", "5000"},
      {"negative current", 23, {0xFF, 0xFF, 0xFC, 0x18}, "EditPackCurrent", "-1000"},
      {"positive current", 23, {0x00, 0x00, 0x03, 0xE8}, "EditPackCurrent", "1000"},
      {"most negative current", 23, {0x80, 0x00, 0x00, 0x00}, "EditPackCurrent", "-2147483648"},
      {"pack voltage unsigned", 27, {0xFF, 0xFF, 0xFF, 0xFF}, "EditPackVolt", "4294967295"},
      {"firmware version", 43, {0x02, 0x0F}, "EditFWVer", "2.15"},
      {"cell parallel", 46, {0x03}, "EditCellParallel", "3"},
      {"T1 negative", 50, {0xF6}, "EditT1", "-10"},
      {"T1 zero is shown", 50, {0x00}, "EditT1", "0"},
      {"T2 most negative", 51, {0x80}, "EditT2", "-128"},
      {"T2 positive", 51, {0x7F}, "EditT2", "127"},
      {"T3 zero is empty", 52, {0x00}, "EditT3", ""},
      {"T3 negative", 52, {0xFB}, "EditT3", "-5"},
      {"serial ends at a non-alphanumeric", 56, {'A', 'B', '1', '2', '-', 'X', 'Y', 'Z'}, "EditPDSN", "AB12"},
      {"serial of eight characters", 56, {'S', 'N', '0', '0', '0', '0', '0', '7'}, "EditPDSN", "SN000007"},
      {"serial with a leading space is empty", 56, {' ', 'A'}, "EditPDSN", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VirtualClock local_clock;
    Context local(local_clock, {}, true);
    local.FormMain.get(c.control).set_text("previous");
    StatusBlock s;
    s.at(c.offset, c.bytes);
    DecodeStatusBlock(local, s.b.data());
    EXPECT_EQ(local.FormMain.get(c.control).text(), c.text);
  }
}

TEST_F(DecodeTest, StatusBlockFillsLiveData) {
  StatusBlock s;
  s.at(1, {77})
      .at(2, {81})
      .at(3, {0x01, 0x2C})
      .at(5, {0x00, 0x00, 0x27, 0x10})
      .at(9, {0x00, 0x02, 0x00, 0x00, 0x00, 0x05})
      .at(15, {0x00, 0x00, 0x23, 0x28})
      .at(19, {0x00, 0x00, 0x1F, 0x40})
      .at(23, {0xFF, 0xFF, 0xFC, 0x18})
      .at(27, {0x00, 0x00, 0xCB, 0x20})
      .text(31, "TQ58 PACK A ")
      .at(45, {13, 4, 0xC1, 0x21})
      .at(50, {0xF6, 0x19, 0x1E});
  Status(s);
  const LiveData l = live();
  EXPECT_EQ(l.Asoc, 77);
  EXPECT_EQ(l.Rsoc, 81);
  EXPECT_EQ(l.CycleCount, 300);
  EXPECT_EQ(l.DesignCapacity, 10000u);
  EXPECT_EQ(l.TotalChargeCapacity, 0x200000005ull);
  EXPECT_EQ(l.FullChargeCapacity, 9000u);
  EXPECT_EQ(l.RemainingCapacity, 8000u);
  EXPECT_EQ(l.PackCurrent, -1000);
  EXPECT_EQ(l.PackVoltage, 52000u);
  EXPECT_EQ(l.ModelName, "TQ58");
  EXPECT_EQ(l.CellSeries, 13);
  EXPECT_EQ(l.CellParallel, 4);
  EXPECT_EQ(l.StatusBits, 0xC1);
  EXPECT_EQ(l.ProtectionFlags, 0x21);
  EXPECT_EQ(l.T1, -10);
  EXPECT_EQ(l.T2, 25);
  EXPECT_EQ(l.T3, 30);
  // The edit shows all twelve characters; the model name stops at the first space.
  EXPECT_EQ(m.EditFWID.text(), "TQ58 PACK A ");
  EXPECT_EQ(m.EditCellSeries.text(), "13");
}

TEST_F(DecodeTest, ModelNameEndsAtZeroByte) {
  StatusBlock s;
  s.text(31, "ABC").at(34, {0}).text(35, "DEF");
  Status(s);
  EXPECT_EQ(m.EditFWID.text(), "ABC");
  EXPECT_EQ(live().ModelName, "ABC");
}

TEST_F(DecodeTest, SocGaugesFollowTheBlockAndClamp) {
  StatusBlock s;
  s.at(1, {150}).at(2, {42});
  Status(s);
  EXPECT_EQ(m.EditASOC.text(), "150");
  EXPECT_EQ(m.CGaugeASOC.progress(), 100);
  EXPECT_EQ(m.CGaugeRSOC.progress(), 42);
  // The gauge is set even when the text did not change.
  m.CGaugeRSOC.set_progress(0);
  Status(s);
  EXPECT_EQ(m.CGaugeRSOC.progress(), 42);
}

TEST_F(DecodeTest, OverCurrentSeenStaysUntilItsUserClearsIt) {
  Status(StatusBlock().at(48, {0x04}));
  EXPECT_TRUE(live().OverCurrentActive);
  EXPECT_TRUE(live().OverCurrentSeen);
  Status(StatusBlock().at(48, {0x3B}));  // every flag but over-current
  EXPECT_FALSE(live().OverCurrentActive);
  EXPECT_TRUE(live().OverCurrentSeen);
  ctx.Live.with([](LiveData& l) { l.OverCurrentSeen = false; });
  Status(StatusBlock());
  EXPECT_FALSE(live().OverCurrentSeen);
}

TEST_F(DecodeTest, CustomerFieldsOnlyWhileTheirTabIsVisible) {
  StatusBlock s;
  s.at(64, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33, 0x44});
  Control* xj[] = {&m.EditMaxChgCurrent, &m.EditMaxChgCounter, &m.EditMaxChgTemperature, &m.EditMaxChgCapacitymAh};
  Control* pq[] = {&m.EditDsgProtectionCurrent, &m.EditDsgProtectionDelay, &m.EditChgProtectionCurrent, &m.EditChgProtectionDelay};

  m.TabSheetXJ.set_visible(false);
  m.TabSheetPQ.set_visible(false);
  Status(s);
  for (Control* c : xj) EXPECT_EQ(c->text(), "") << c->name();
  for (Control* c : pq) EXPECT_EQ(c->text(), "") << c->name();

  m.TabSheetXJ.set_visible(true);
  Status(s);
  EXPECT_EQ(m.EditMaxChgCurrent.text(), "4660");                           // 12 34
  EXPECT_EQ(m.EditMaxChgCounter.text(), "22136");                          // 56 78
  EXPECT_EQ(m.EditMaxChgTemperature.text(), "154");                        // 9A, unsigned
  EXPECT_EQ(m.EditMaxChgCapacitymAh.text(), std::to_string(0xBCDEF011u));  // BC DE F0 11
  for (Control* c : pq) EXPECT_EQ(c->text(), "") << c->name();

  m.TabSheetXJ.set_visible(false);
  m.TabSheetPQ.set_visible(true);
  Status(s);
  EXPECT_EQ(m.EditDsgProtectionCurrent.text(), std::to_string(0x12345678u));
  EXPECT_EQ(m.EditDsgProtectionDelay.text(), std::to_string(0x9ABCu));
  EXPECT_EQ(m.EditChgProtectionCurrent.text(), std::to_string(0xDEF01122u));
  EXPECT_EQ(m.EditChgProtectionDelay.text(), std::to_string(0x3344u));
  EXPECT_EQ(m.EditMaxChgCurrent.text(), "4660");  // left as last shown
}

// ---------------------------------------------------------------- registers

TEST_F(DecodeTest, ClockReply) {
  Reply(0x1005, 0, {0x18, 0x05, 0x07, 0x0D, 0x05, 0x09});
  EXPECT_EQ(m.EditRTC.text(), " 2024.5.7   13:5:9");
  EXPECT_EQ(m.EditRTCENG.text(), " 2024.5.7   13:5:9");
  const LiveData l = live();
  EXPECT_EQ(l.ClockDate, 20240507);
  EXPECT_EQ(l.ClockSeconds, 47109);
  EXPECT_EQ(l.ClockYear, 2024);
  EXPECT_EQ(l.ClockMonth, 5);
  EXPECT_EQ(l.ClockDay, 7);
  EXPECT_EQ(l.ClockHour, 13);
  EXPECT_EQ(l.ClockMinute, 5);
  EXPECT_EQ(l.ClockSecond, 9);
}

TEST_F(DecodeTest, ClockReplyRejectsImpossibleDates) {
  struct Case {
    uint8_t month, day;
    bool accepted;
  };
  const Case cases[] = {{13, 7, false}, {0, 7, false}, {5, 0, false}, {5, 32, false}, {12, 31, true}, {1, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "month " << int{c.month} << " day " << int{c.day});
    m.EditRTC.set_text("before");
    m.EditRTCENG.set_text("before");
    ctx.Live.with([](LiveData& l) { l.ClockDate = 1; });
    Reply(0x1005, 0, {0x1A, c.month, c.day, 0x17, 0x3B, 0x3B});
    if (c.accepted) {
      EXPECT_EQ(live().ClockDate, 20260000 + c.month * 100 + c.day);
      EXPECT_EQ(m.EditRTC.text(), " 2026." + std::to_string(c.month) + "." + std::to_string(c.day) + "   23:59:59");
    } else {
      EXPECT_EQ(live().ClockDate, 1);
      EXPECT_EQ(m.EditRTC.text(), "before");
      EXPECT_EQ(m.EditRTCENG.text(), "before");
    }
  }
}

TEST_F(DecodeTest, CellVoltagePagesAndStatistics) {
  m.EditCellSeries.set_text("14");
  Reply(0x1001, 1, {0x0C, 0xE4, 0x0C, 0xEE, 0x0C, 0xDA, 0x0C, 0xE9});  // 3300 3310 3290 3305
  EXPECT_EQ(m.EditVCell1.text(), "3300");
  EXPECT_EQ(m.EditVCell4.text(), "3305");
  Reply(0x1001, 2, {0x0C, 0xE4, 0x0C, 0xE4, 0x0C, 0xE4, 0x0C, 0xE4});
  Reply(0x1001, 3, {0x0C, 0xE4, 0x0C, 0xE4, 0x0C, 0xE4, 0x0C, 0xE4});
  Reply(0x1001, 4, {0x0F, 0xA0, 0x0F, 0x9B, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(m.EditVCell13.text(), "4000");
  EXPECT_EQ(m.EditVCell14.text(), "3995");
  const LiveData l = live();
  EXPECT_EQ(l.CellVoltage[1], 3300);
  EXPECT_EQ(l.CellVoltage[3], 3290);
  EXPECT_EQ(l.CellVoltage[13], 4000);
  EXPECT_EQ(l.CellVoltage[14], 3995);
  EXPECT_EQ(m.Edit_HVlot.text(), "4000");
  EXPECT_EQ(m.Edit_LVolt.text(), "3290");
  EXPECT_EQ(m.Edit_VoltDiff.text(), "710");
  // The gauges follow the edits.
  EXPECT_EQ(m.CGaugeVCell13.progress(), 4000);
}

TEST_F(DecodeTest, CellStatisticsOverTheSeriesShown) {
  // Cells 1..4 = 3300 3310 3290 3305, 5..8 = 3400 3000 3350 3350,
  // 9..12 = 3300, 13..14 = 3500 4100.
  struct Case {
    const char* series;
    const char* hi;
    const char* lo;
    const char* diff;
  };
  const Case cases[] = {
      {"4", "3310", "3290", "20"},      //
      {"3", "3310", "3290", "20"},      //
      {"2", "3310", "3300", "10"},      //
      {"1", "3300", "3300", "0"},       // N <= 1: cell 1 for both
      {"0", "3300", "3300", "0"},       //
      {"", "3300", "3300", "0"},        // not a number counts as 0
      {"8", "3400", "3000", "400"},     //
      {"13", "3500", "3000", "500"},    //
      {"14", "4100", "3000", "1100"},   //
      {"200", "4100", "3000", "1100"},  // at most the 14 cells there are
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.series);
    m.EditCellSeries.set_text(c.series);
    Reply(0x1001, 4, {0x0D, 0xAC, 0x10, 0x04});
    Reply(0x1001, 3, {0x0C, 0xE4, 0x0C, 0xE4, 0x0C, 0xE4, 0x0C, 0xE4});
    Reply(0x1001, 2, {0x0D, 0x48, 0x0B, 0xB8, 0x0D, 0x16, 0x0D, 0x16});
    Reply(0x1001, 1, {0x0C, 0xE4, 0x0C, 0xEE, 0x0C, 0xDA, 0x0C, 0xE9});
    EXPECT_EQ(m.Edit_HVlot.text(), c.hi);
    EXPECT_EQ(m.Edit_LVolt.text(), c.lo);
    EXPECT_EQ(m.Edit_VoltDiff.text(), c.diff);
  }
}

TEST_F(DecodeTest, RawCellsResistancesAndCapacity) {
  Reply(0x100B, 3, {0x0C, 0xE4, 0x0C, 0xEE, 0x0C, 0xDA, 0x0C, 0xE9});
  Reply(0x100B, 4, {0x0F, 0xA0, 0x0F, 0x9B, 0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(m.EditVCell9NoAdjust.text(), "3300");
  EXPECT_EQ(m.EditVCell12NoAdjust.text(), "3305");
  EXPECT_EQ(m.EditVCell13NoAdjust.text(), "4000");
  EXPECT_EQ(m.EditVCell14NoAdjust.text(), "3995");
  EXPECT_EQ(live().RawCellVoltage[10], 3310);
  EXPECT_EQ(live().RawCellVoltage[14], 3995);
  EXPECT_EQ(live().CellVoltage[9], 0);  // calibrated cells untouched
  EXPECT_EQ(m.EditVCell9.text(), "");

  Reply(0x100C, 13, {0xFF, 0xFE});
  EXPECT_EQ(m.EditCellR13.text(), "65534");
  Reply(0x100C, 1, {0x00, 0x2A});
  EXPECT_EQ(m.EditCellR1.text(), "42");

  Reply(0x100E, 1, {0xAA, 0xBB, 0xCC, 0xDD, 0x00, 0x01, 0x86, 0xA0});
  EXPECT_EQ(m.EditTDC.text(), "100000");
  EXPECT_EQ(live().TotalDischargeCapacity, 100000u);

  Reply(0x100D, 2, {0x0E, 0x10, 0x0E, 0x1A, 0x0E, 0x24, 0x0E, 0x2E});
  Reply(0x100D, 26, {0xFF, 0xFF});
  const LiveData l = live();
  EXPECT_EQ(l.SocOcvTable[2], (std::array<uint16_t, 4>{3600, 3610, 3620, 3630}));
  EXPECT_EQ(l.SocOcvTable[26][0], 65535);
}

TEST_F(DecodeTest, UnlistedAddressOrPageChangesNothing) {
  struct Case {
    uint16_t address, length;
  };
  const Case cases[] = {{0x1001, 0}, {0x1001, 5}, {0x100B, 0}, {0x100B, 5}, {0x100C, 0}, {0x100C, 14}, {0x100D, 0}, {0x100D, 27}, {0x100E, 0}, {0x100E, 2}, {0x1005, 1},
                        {0x0005, 1}, {0x0006, 1}, {0x200B, 1}, {0x2008, 0}, {0x200A, 5}, {0x3300, 0},  {0x3300, 7}, {0x1234, 0},  {0x0000, 0}, {0xFFFF, 1}};
  const Bytes data = {0x18, 0x05, 0x07, 0x0D, 0x05, 0x09, 0xFF, 0xFF};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address << " page " << c.length);
    VirtualClock local_clock;
    Context local(local_clock, {}, true);
    std::vector<std::string> before;
    for (Form* f : local.forms())
      for (Control* ctl : f->controls()) before.push_back(ctl->text() + "|" + std::to_string(ctl->checked()));
    std::array<uint8_t, 8> d{};
    std::copy(data.begin(), data.end(), d.begin());
    DecodeReply(local, c.address, c.length, d.data());
    std::vector<std::string> after;
    for (Form* f : local.forms())
      for (Control* ctl : f->controls()) after.push_back(ctl->text() + "|" + std::to_string(ctl->checked()));
    EXPECT_EQ(before, after);
    const LiveData l = local.Live.get();
    EXPECT_EQ(l.ClockDate, 0);
    EXPECT_EQ(l.CellVoltage, (std::array<int32_t, 15>{}));
    EXPECT_EQ(l.RawCellVoltage, (std::array<int32_t, 15>{}));
    EXPECT_EQ(l.TotalDischargeCapacity, 0u);
    EXPECT_EQ(l.SocOcvTable[0], (std::array<uint16_t, 4>{}));
  }
}

TEST_F(DecodeTest, BarcodeChunks) {
  for (uint16_t address : {0x2008, 0x200A, 0x6207}) {
    SCOPED_TRACE(testing::Message() << std::hex << address);
    m.EditBarCode32.set_text("old text");
    Reply(address, 1, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
    EXPECT_EQ(m.EditBarCode32.text(), "ABCDEFGH");
    Reply(address, 2, {'1', '2', '3', '4', '5', '6', '7', '8'});
    Reply(address, 3, {'X', 'Y', 0, 'Z'});  // text ends at the first zero byte
    EXPECT_EQ(m.EditBarCode32.text(), "ABCDEFGH12345678XY");
    Reply(address, 4, {});
    EXPECT_EQ(m.EditBarCode32.text(), "ABCDEFGH12345678XY");
  }
}

TEST_F(DecodeTest, BarcodePageThreeAppendsToWhatIsShown) {
  m.EditBarCode32.set_text("shown");
  Reply(0x200A, 3, {'P', 'A', 'G', 'E', 'T', 'H', 'R', 'E'});
  EXPECT_EQ(m.EditBarCode32.text(), "shownPAGETHRE");
}

TEST_F(DecodeTest, SerialNumberReply) {
  Reply(0x2001, 1, {'S', 'N', '1', '2', '3', '4', '5', '6'});
  EXPECT_EQ(m.EditPDSN.text(), "SN123456");
  Reply(0x2001, 0, {'A', 'B', 0, 'C', 'D'});
  EXPECT_EQ(m.EditPDSN.text(), "AB");
}

TEST_F(DecodeTest, SwapAndShippingBoxes) {
  struct Case {
    Bytes data;
    bool ticked;
  };
  const Case swap_cases[] = {{{0x00, 0xFF}, true}, {{0x00, 0xFE}, false}, {{0x01, 0xFF}, false}, {{0xFF, 0x00}, false}};
  for (const Case& c : swap_cases) {
    SCOPED_TRACE(testing::Message() << "swap " << int{c.data[0]} << " " << int{c.data[1]});
    m.CheckBox_T1T2_Enabled.set_checked(!c.ticked);
    Reply(0x0006, 0, c.data);
    EXPECT_EQ(m.CheckBox_T1T2_Enabled.checked(), c.ticked);
  }
  const Case shipping_cases[] = {{{0x01}, true}, {{0xFE}, false}, {{0x03}, true}, {{0x00}, false}};
  for (const Case& c : shipping_cases) {
    SCOPED_TRACE(testing::Message() << "shipping " << int{c.data[0]});
    m.CheckBoxSippingMode.set_checked(!c.ticked);
    m.CheckBox_Shipping_Mode_Read_Only.set_checked(!c.ticked);
    Reply(0x200B, 0, c.data);
    EXPECT_EQ(m.CheckBoxSippingMode.checked(), c.ticked);
    EXPECT_EQ(m.CheckBox_Shipping_Mode_Read_Only.checked(), c.ticked);
  }
}

TEST_F(DecodeTest, FirmwareVersionRegister) {
  Reply(0x0005, 0, {0x01, 0x02, 0x03, 0x04});
  EXPECT_EQ(m.Edit_ENG_FW_Version.text(), "1.2.3");
  Reply(0x0005, 0, {0x0A, 0x00, 0xFF});
  EXPECT_EQ(m.Edit_ENG_FW_Version.text(), "10.0.255");
}

TEST_F(DecodeTest, ProtectionParameterPages) {
  TPagesDlgFWData& f = ctx.PagesDlgFWData;
  struct Case {
    uint16_t page;
    Bytes data;
    std::vector<std::pair<Control*, const char*>> expected;
  };
  const Case cases[] = {
      {1,
       {0x37, 0x32, 0x05, 0x06, 0xFB, 0x00, 0x07, 0xC8},
       {{&f.EditCOTEvent, "55"},
        {&f.EditCOTRelease, "50"},
        {&f.EditCOTEvtDly, "5"},
        {&f.EditCOTRlsDly, "6"},
        {&f.EditCUTEvent, "-5"},
        {&f.EditCUTRelease, "0"},
        {&f.EditCUTEvtDly, "7"},
        {&f.EditCUTRlsDly, "200"}}},
      {2,
       {0x3C, 0x37, 0xFF, 0x02, 0xEC, 0xF6, 0x03, 0x04},
       {{&f.EditDOTEvent, "60"},
        {&f.EditDOTRelease, "55"},
        {&f.EditDOTEvtDly, "255"},
        {&f.EditDOTRlsDly, "2"},
        {&f.EditDUTEvent, "-20"},
        {&f.EditDUTRelease, "-10"},
        {&f.EditDUTEvtDly, "3"},
        {&f.EditDUTRlsDly, "4"}}},
      {3, {0x01, 0x86, 0xA0, 0xFF, 0xFF, 0xFF, 0x08, 0x09}, {{&f.EditCOCEvent, "100000"}, {&f.EditCOCRelease, "16777215"}, {&f.EditCOCEvtDly, "8"}, {&f.EditCOCRlsDly, "9"}}},
      {4, {0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0xF0, 0x0F}, {{&f.EditDOCEvent, "1"}, {&f.EditDOCRelease, "256"}, {&f.EditDOCEvtDly, "240"}, {&f.EditDOCRlsDly, "15"}}},
      {5, {0x10, 0xCC, 0x10, 0x68, 0x02, 0x03, 0xEE, 0xEE}, {{&f.EditSWOVSet, "4300"}, {&f.EditSWOVClear, "4200"}, {&f.EditSWOVDelay, "2"}, {&f.EditSWOVRelease, "3"}}},
      {6, {0x0A, 0x8C, 0xFF, 0xFF, 0x04, 0x05, 0xEE, 0xEE}, {{&f.EditSWUVSet, "2700"}, {&f.EditSWUVClear, "65535"}, {&f.EditSWUVDelay, "4"}, {&f.EditSWUVRelease, "5"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "page " << c.page);
    Reply(0x3300, c.page, c.data);
    for (const auto& [control, text] : c.expected) EXPECT_EQ(control->text(), text) << control->name();
  }
}

TEST_F(DecodeTest, DutReleaseNegative) {
  Reply(0x3300, 2, {0, 0, 0, 0, 0, 0xF6, 0, 0});
  EXPECT_EQ(ctx.PagesDlgFWData.EditDUTRelease.text(), "-10");
}

TEST_F(DecodeTest, EveryReplyAlsoReachesTheHistoryDecoders) {
  Reply(0x6207, 1, {'B', 'C', '0', '1', '2', '3', '4', '5'});
  EXPECT_EQ(m.EditBarCode32.text(), "BC012345");
  EXPECT_EQ(ctx.History.get().header.Barcode, "BC012345");
  Reply(0x6600, 0, {0x00, 0x05});
  EXPECT_EQ(ctx.History.get().count[static_cast<size_t>(HistoryBlock::Lead)], 5);
}

TEST_F(DecodeTest, DecodingOnAWorkerWhileTheDisplayIsRead) {
  // The polling worker decodes while the user-interface thread reads the
  // values back (the sanitizer builds check this for races).
  StatusBlock s;
  s.at(23, {0xFF, 0xFF, 0xFC, 0x18}).at(45, {14, 1, 0x80, 0x04});
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      s.b[2] = static_cast<uint8_t>(i % 101);
      Status(s);
      Reply(0x1001, static_cast<uint16_t>(1 + i % 4), {0x0C, 0xE4, 0x0C, 0xEE});
      Reply(0x6601, static_cast<uint16_t>(1 + i % 4), {1, 2, 3});
    }
  });
  for (int i = 0; i < 200; ++i) {
    const LiveData l = live();
    EXPECT_TRUE(l.PackCurrent == 0 || l.PackCurrent == -1000);
    const std::string text = m.EditPackCurrent.text();
    EXPECT_TRUE(text.empty() || text == "-1000") << text;
    (void)m.CGaugeRSOC.progress();
    (void)ctx.History.get().record[1].bytes;
  }
  worker.join();
  EXPECT_EQ(live().CellSeries, 14);
  EXPECT_EQ(m.EditCurrentSign.text(), " Charging ");
}

}  // namespace
}  // namespace bms
