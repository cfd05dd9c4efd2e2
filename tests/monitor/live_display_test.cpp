// The live display: charge direction, key lamp, protection flag colours,
// visible cell groups, gauges driven by their edits, and the reset texts.
#include "core/monitor/live_display.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/monitor/decode.h"
#include "core/platform/clock.h"

namespace bms {
namespace {

class LiveDisplayTest : public ::testing::Test {
 protected:
  LiveDisplayTest() { WireLiveDisplayHandlers(ctx); }

  // Decodes a status block whose bytes 45, 47 and 48 are given.
  void Status(uint8_t series, uint8_t status_bits, uint8_t flags) {
    std::array<uint8_t, 96> b{};
    b[0] = 0x4A;
    b[45] = series;
    b[47] = status_bits;
    b[48] = flags;
    DecodeStatusBlock(ctx, b.data());
  }

  VirtualClock clock;
  Context ctx{clock, {}, true};
  TFormMain& m = ctx.FormMain;
};

TEST_F(LiveDisplayTest, ChargeDirectionAndKeyLamp) {
  struct Case {
    uint8_t bits;
    const char* text;
    Color color;
    Color lamp;
  };
  const Case cases[] = {
      {0x80, " Charging ", kRed, kLime},           //
      {0xC0, " Discharging ", kAqua, kLime},       //
      {0x40, " - None - ", kColorBtnFace, kLime},  // bit 6 alone means nothing
      {0x00, " - None - ", kColorBtnFace, kLime},  //
      {0x81, " Charging ", kRed, kGrey},           // key input pressed
      {0x01, " - None - ", kColorBtnFace, kGrey},  //
  };
  // Each case starts from a different state so a missed update shows.
  const uint8_t previous[] = {0xC1, 0x81};
  for (const Case& c : cases) {
    for (uint8_t before : previous) {
      SCOPED_TRACE(testing::Message() << "bits " << std::hex << int{c.bits} << " after " << int{before});
      Status(0, before, 0);
      Status(0, c.bits, 0);
      EXPECT_EQ(m.EditCurrentSign.text(), c.text);
      EXPECT_EQ(m.EditCurrentSign.color(), c.color);
      EXPECT_EQ(m.ShapeKeyPress.color(), c.lamp);
    }
  }
}

TEST_F(LiveDisplayTest, ProtectionFlagColours) {
  Control* flags[6] = {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF};
  const std::string design_texts[6] = {" Over Voltage Flag",  " Under Voltage Flag",     " Over Current Flag ",
                                       " Short Circuit Flag", " Over Temperature Flag ", " Under Temperature Flag "};
  for (uint8_t byte : {0x24, 0x3F, 0x00, 0xC0, 0x01, 0x24}) {
    SCOPED_TRACE(testing::Message() << "flags " << std::hex << int{byte});
    Status(0, 0, byte);
    for (int bit = 0; bit < 6; ++bit) {
      const bool set = (byte >> bit) & 1;
      EXPECT_EQ(flags[bit]->color(), set ? kRed : kLightGreen) << flags[bit]->name();
      EXPECT_EQ(flags[bit]->font_color(), set ? kWhite : kNavy) << flags[bit]->name();
      EXPECT_EQ(flags[bit]->text(), design_texts[bit]);
    }
  }
  // 0x24: under-temperature and over-current red, the other four light green.
  Status(0, 0, 0x24);
  EXPECT_EQ(m.EditUTF.color(), kRed);
  EXPECT_EQ(m.EditOCF.color(), kRed);
  EXPECT_EQ(m.EditOVF.color(), kLightGreen);
  EXPECT_EQ(m.EditSCF.color(), kLightGreen);
}

TEST_F(LiveDisplayTest, CellGroupsBySeriesCount) {
  struct Case {
    uint8_t series;
    std::array<bool, 5> visible;  // groups 10..14
  };
  const Case cases[] = {
      {14, {true, true, true, true, true}},      //
      {13, {true, true, true, true, false}},     //
      {12, {true, true, true, false, false}},    //
      {11, {true, true, false, false, false}},   //
      {10, {true, false, false, false, false}},  //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "series " << int{c.series});
    // Start from the opposite picture.
    for (int g = 10; g <= 14; ++g) m.GroupBoxVCellN[g]->set_visible(!c.visible[static_cast<size_t>(g - 10)]);
    Status(c.series, 0, 0);
    for (int g = 10; g <= 14; ++g) EXPECT_EQ(m.GroupBoxVCellN[g]->visible(), c.visible[static_cast<size_t>(g - 10)]) << g;
    for (int g = 1; g <= 9; ++g) EXPECT_TRUE(m.GroupBoxVCellN[g]->visible()) << g;
  }
}

TEST_F(LiveDisplayTest, OtherSeriesCountsChangeNoGroup) {
  const std::array<bool, 15> pattern = {false, false, true, false, true, false, true, false, true, false, false, true, false, true, false};
  for (uint8_t series : {0, 1, 9, 15, 255}) {
    SCOPED_TRACE(testing::Message() << "series " << int{series});
    for (int g = 1; g <= 14; ++g) m.GroupBoxVCellN[g]->set_visible(pattern[static_cast<size_t>(g)]);
    Status(series, 0, 0);
    for (int g = 1; g <= 14; ++g) EXPECT_EQ(m.GroupBoxVCellN[g]->visible(), pattern[static_cast<size_t>(g)]) << g;
  }
}

TEST_F(LiveDisplayTest, CellGaugesFollowTheirEdits) {
  struct Case {
    const char* text;
    int progress;
  };
  const Case cases[] = {{"3300", 3300}, {"6000", 5000}, {"0", 0}, {"", 0}, {"-5", 0}, {"4200", 4200}};
  for (int cell = 1; cell <= 14; ++cell) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "cell " << cell << " text '" << c.text << "'");
      m.EditVCellN[cell]->set_text(c.text);
      EXPECT_EQ(m.CGaugeVCellN[cell]->progress(), c.progress);
    }
  }
  // Each edit drives only its own gauge.
  m.EditVCell3.set_text("4100");
  EXPECT_EQ(m.CGaugeVCell3.progress(), 4100);
  EXPECT_EQ(m.CGaugeVCell4.progress(), 4200);
}

TEST_F(LiveDisplayTest, SocGaugesFollowTheirEdits) {
  m.EditASOC.set_text("87");
  m.EditRSOC.set_text("120");
  EXPECT_EQ(m.CGaugeASOC.progress(), 87);
  EXPECT_EQ(m.CGaugeRSOC.progress(), 100);
  m.EditRSOC.set_text("33");
  EXPECT_EQ(m.CGaugeRSOC.progress(), 33);
  EXPECT_EQ(m.CGaugeASOC.progress(), 87);
}

TEST_F(LiveDisplayTest, TemperatureGaugeBindings) {
  m.EditT1.set_text("25");
  EXPECT_EQ(m.CGaugeT1.progress(), 25);
  m.EditT1.set_text("");
  EXPECT_EQ(m.CGaugeT1.progress(), -42);
  m.EditT1.set_text("-50");
  EXPECT_EQ(m.CGaugeT1.progress(), -42);
  m.EditT1.set_text("-10");
  EXPECT_EQ(m.CGaugeT1.progress(), -10);

  // EditT2, EditT3 and Edit1 refresh CGaugeT1 from EditT1; CGaugeT2 follows
  // EditT2.
  m.CGaugeT1.set_progress(99);
  m.EditT2.set_text("30");
  EXPECT_EQ(m.CGaugeT1.progress(), -10);
  EXPECT_EQ(m.CGaugeT2.progress(), 30);
  for (Control* c : {&m.EditT3, &m.Edit1}) {
    m.CGaugeT1.set_progress(99);
    c->set_text(c->text() + "x");
    EXPECT_EQ(m.CGaugeT1.progress(), -10) << c->name();
  }
  m.EditT2.set_text("24");
  EXPECT_EQ(m.CGaugeT2.progress(), 24);
  m.EditT2.set_text("");
  EXPECT_EQ(m.CGaugeT2.progress(), -42);
}

TEST_F(LiveDisplayTest, StatusBlockDrivesTemperatureGauge) {
  std::array<uint8_t, 96> b{};
  b[0] = 0x4A;
  b[50] = 0xF6;
  DecodeStatusBlock(ctx, b.data());
  EXPECT_EQ(m.CGaugeT1.progress(), -10);
}

TEST_F(LiveDisplayTest, ResetLiveDisplay) {
  TPagesDlgFWData& fw = ctx.PagesDlgFWData;
  for (Form* f : {static_cast<Form*>(&m), static_cast<Form*>(&fw)})
    for (Control* c : f->controls()) c->set_text("123");
  for (Control* c : {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF}) {
    c->set_color(kRed);
    c->set_font_color(kWhite);
  }
  m.EditCurrentSign.set_color(kAqua);
  m.BitBtnWCellmOmhAdjust.set_enabled(true);
  m.BitBtnRCellmOmhAdjust.set_enabled(true);

  ResetLiveDisplay(ctx);

  std::vector<std::string> empty = {"EditFWID", "EditFWVer", "EditPDSN", "EditT1", "EditT2", "EditT3", "EditRTCENG", "EditRTC", "EditBarCode32"};
  std::vector<std::string> zero = {"EditCycleCnt",
                                   "EditDC",
                                   "EditFCC",
                                   "EditRC",
                                   "EditPackVolt",
                                   "EditPackCurrent",
                                   "EditTCC",
                                   "EditCellSeries",
                                   "EditCellParallel",
                                   "EditASOC",
                                   "EditRSOC",
                                   "Edit_HVlot",
                                   "Edit_LVolt",
                                   "Edit_VoltDiff",
                                   "EditVCellMaxNoAdjust",
                                   "EditVCellMinNoAdjust",
                                   "EditVCellBalanceNoAdjust"};
  for (int i = 1; i <= 14; ++i) {
    zero.push_back("EditVCell" + std::to_string(i));
    zero.push_back("EditVCell" + std::to_string(i) + "NoAdjust");
  }
  for (int i = 1; i <= 13; ++i) empty.push_back("EditCellR" + std::to_string(i));
  for (const std::string& n : empty) EXPECT_EQ(m.get(n).text(), "") << n;
  for (const std::string& n : zero) EXPECT_EQ(m.get(n).text(), "0") << n;
  for (const char* n : {"EditSWOVSet", "EditSWOVClear", "EditSWOVDelay", "EditSWOVRelease", "EditSWUVSet", "EditSWUVClear", "EditSWUVDelay", "EditSWUVRelease"})
    EXPECT_EQ(fw.get(n).text(), "0") << n;

  // Flags keep their design texts' colours: navy on the parent's colour.
  for (Control* c : {&m.EditOVF, &m.EditUVF, &m.EditOCF, &m.EditSCF, &m.EditOTF, &m.EditUTF}) {
    EXPECT_EQ(c->color(), kColorParent) << c->name();
    EXPECT_EQ(c->font_color(), kNavy) << c->name();
  }
  EXPECT_EQ(m.EditCurrentSign.text(), " - None - ");
  EXPECT_EQ(m.EditCurrentSign.color(), kColorBtnFace);
  EXPECT_FALSE(m.BitBtnWCellmOmhAdjust.enabled());
  EXPECT_FALSE(m.BitBtnRCellmOmhAdjust.enabled());

  // Gauges follow the reset texts.
  EXPECT_EQ(m.CGaugeVCell7.progress(), 0);
  EXPECT_EQ(m.CGaugeASOC.progress(), 0);
  EXPECT_EQ(m.CGaugeT1.progress(), -42);

  // Fields outside the list are left alone.
  for (const char* n : {"EditTDC", "Edit_ENG_FW_Version", "EditLastChgDate", "EditMaxChgCurrent", "EditDsgProtectionCurrent", "EditWriteLogBarcode"})
    EXPECT_EQ(m.get(n).text(), "123") << n;
  for (const char* n : {"EditCOTEvent", "EditDUTRelease", "EditCOCEvent", "EditDOCRlsDly"}) EXPECT_EQ(fw.get(n).text(), "123") << n;
}

}  // namespace
}  // namespace bms
