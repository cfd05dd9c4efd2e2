// Barcode and serial-number commands against the virtual pack: chunks on
// the wire, the Auto probing, the selection handler and its INI files.
#include "core/commands/identity.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "command_fixture.h"
#include "core/platform/ini.h"

namespace bms::testing {
namespace {

using sim::HostMessage;

class IdentityTest : public CommandFixture {
 protected:
  explicit IdentityTest(sim::Scenario s = sim::DefaultScenario()) : CommandFixture(std::move(s)) {}
  std::string ini(const std::string& file, const std::string& key) { return GetPrivateProfileString("Set", key, "<none>", folder / file); }
};

sim::Scenario OnlyInternal16() {
  sim::Scenario s = sim::DefaultScenario();
  s.barcode_ext32.reset();
  s.barcode_int32.reset();
  s.barcode_int16 = "PK16-0042";
  return s;
}

class OnlyInternal16Test : public IdentityTest {
 protected:
  OnlyInternal16Test() : IdentityTest(OnlyInternal16()) {}
};

Bytes8 Chunk(const std::string& s) {
  Bytes8 out{};
  for (size_t i = 0; i < s.size() && i < 8; ++i) out[i] = static_cast<uint8_t>(s[i]);
  return out;
}

struct WriteCase {
  const char* name;
  int item;
  std::string text;
  uint16_t address;
  std::vector<Bytes8> chunks;
};

class BarcodeWriteTest : public IdentityTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(BarcodeWriteTest, TextGoesOutInEightByteChunks) {
  const WriteCase& c = GetParam();
  ctx.FormMain.RadioGroupBarcodeSelect.select(c.item);
  ctx.FormMain.EditBarCode32.type(c.text);
  const int64_t clicked = clock.now_ms();
  ctx.FormMain.BitBtnBarCodeWrite.click();

  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 2 * c.chunks.size()) << wire.dump();
  for (size_t k = 0; k < c.chunks.size(); ++k) {
    const HostMessage& req = msgs[2 * k];
    EXPECT_EQ(req.kind, HostMessage::Request);
    EXPECT_EQ(req.address, c.address);
    EXPECT_EQ(req.length, k + 1);
    EXPECT_EQ(req.write_count, 8);
    EXPECT_EQ(DataOf(msgs[2 * k + 1]), c.chunks[k]) << "chunk " << k + 1;
    EXPECT_EQ(gap_ms(req, msgs[2 * k + 1]), 30);
  }
  EXPECT_EQ(msgs[0].t_us / 1000 - clicked, 20);
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStop);
  EXPECT_TRUE(ctx.FormMain.BitBtnBarCodeWrite.enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Storages, BarcodeWriteTest,
    ::testing::Values(
        WriteCase{"Ext32Of20", kBarcodeExt32, "ABCDEFGH12345678WXYZ", 0x4009, {Chunk("ABCDEFGH"), Chunk("12345678"), Chunk("WXYZ"), Bytes8{}}},
        WriteCase{"Int32Of40", kBarcodeInt32, "AAAAAAAABBBBBBBBCCCCCCCCDDDDDDDDEEEEEEEE", 0x4009, {Chunk("AAAAAAAA"), Chunk("BBBBBBBB"), Chunk("CCCCCCCC"), Chunk("DDDDDDDD")}},
        WriteCase{"Int16Of20", kBarcodeInt16, "ABCDEFGH12345678WXYZ", 0x4008, {Chunk("ABCDEFGH"), Chunk("12345678")}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(IdentityTest, WriteAgainstASilentPackMakesThreeAttemptsOnlyWhereTheFirstEchoDecides) {
  pack.set_silent(true);
  ASSERT_TRUE(OpenLinkPort(ctx));
  // External 32: a missing echo of chunk 1 ends the attempt.
  EXPECT_FALSE(WriteBarcodeExt32(ctx, "ABC"));
  EXPECT_EQ(requests().size(), 3u);
  wire.clear();
  // Internal 32: echoes are awaited but do not decide.
  EXPECT_TRUE(WriteBarcodeInt32(ctx, "ABC"));
  EXPECT_EQ(requests().size(), 4u);
  CloseLinkPort(ctx);
}

TEST_F(IdentityTest, EmptyBarcodeWriteSendsNothing) {
  ctx.FormMain.EditBarCode32.type("");
  ctx.FormMain.BitBtnBarCodeWrite.click();
  EXPECT_TRUE(wire.entries().empty());
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStop);
  EXPECT_TRUE(ctx.FormMain.BitBtnBarCodeWrite.enabled());
}

TEST_F(IdentityTest, AutoWriteProbesThenWritesTheOperatorsTextAndShowsTheOldOne) {
  ctx.FormMain.EditBarCode32.type("NEW-CODE-1");
  ctx.FormMain.BitBtnBarCodeWrite.click();
  EXPECT_EQ(pack.barcode_ext32(), "NEW-CODE-1");
  EXPECT_EQ(pack.barcode_int32(), "BC32-INT-2026-000123");
  EXPECT_EQ(ctx.FormMain.EditBarCode32.text(), "BC32-EXT-2026-000123");
  EXPECT_EQ(requests_to(0x6207).size(), 4u);
}

TEST_F(IdentityTest, ReadOfEachStorageFillsTheEdit) {
  const struct {
    int item;
    uint16_t address;
    size_t chunks;
    const char* text;
  } cases[] = {{kBarcodeExt32, 0x6207, 4, "BC32-EXT-2026-000123"}, {kBarcodeInt32, 0x200A, 4, "BC32-INT-2026-000123"}, {kBarcodeInt16, 0x2008, 2, "BC16-000123"}};
  for (const auto& c : cases) {
    wire.clear();
    ctx.FormMain.RadioGroupBarcodeSelect.select(c.item);
    ctx.FormMain.BitBtnBarCodeRead.click();
    const auto reqs = requests();
    ASSERT_EQ(reqs.size(), c.chunks) << wire.dump();
    for (size_t k = 0; k < reqs.size(); ++k) {
      EXPECT_EQ(reqs[k].address, c.address);
      EXPECT_EQ(reqs[k].length, k + 1);
      // 30 ms after the request the echo read starts; the reply has come by
      // then, so the read ends one interval (50 ms) later; 90 ms between chunks.
      if (k > 0) {
        EXPECT_EQ(gap_ms(reqs[k - 1], reqs[k]), 30 + 50 + 90);
      }
    }
    EXPECT_EQ(ctx.FormMain.EditBarCode32.text(), c.text);
    EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStop);
  }
  // The read ends 10 ms after its last echo.
  ASSERT_TRUE(OpenLinkPort(ctx));
  wire.clear();
  ASSERT_TRUE(ReadBarcodeInt16(ctx));
  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(clock.now_ms() - (reqs[1].end_us + 999) / 1000, 30 + 50 + 10);
  CloseLinkPort(ctx);
}

TEST_F(IdentityTest, ReadOrWriteWhileALoopRunsOnlyStopsIt) {
  for (Control* button : {&ctx.FormMain.BitBtnBarCodeRead, &ctx.FormMain.BitBtnBarCodeWrite}) {
    ctx.FormMain.EditBarCode32.type("KEEP");
    ctx.RunFlag = 1;
    button->click();
    EXPECT_EQ(ctx.RunFlag.load(), 0) << button->name();
    EXPECT_EQ(ctx.FormMain.EditBarCode32.text(), "KEEP");
  }
  EXPECT_TRUE(wire.entries().empty());
}

TEST_F(OnlyInternal16Test, AutoReadWithAutoSetSelectsTheStorageThatAnswered) {
  TFormMain& m = ctx.FormMain;
  ASSERT_EQ(m.RadioGroupBarcodeSelect.item_index(), kBarcodeAuto);
  m.CheckBoxBarCodeAutoSet.click();
  ASSERT_TRUE(m.CheckBoxBarCodeAutoSet.checked());
  m.BitBtnBarCodeRead.click();

  EXPECT_EQ(m.EditBarCode32.text(), "PK16-0042");
  EXPECT_EQ(m.RadioGroupBarcodeSelect.item_index(), kBarcodeInt16);
  EXPECT_FALSE(m.CheckBoxBarCodeAutoSet.enabled());
  EXPECT_FALSE(m.CheckBoxBarCodeAutoSet.checked());
  EXPECT_EQ(ini("ENG.ini", "BarcodeMode"), "3");
  EXPECT_EQ(ctx.CurrentBarcodeMode.load(), 3);
  EXPECT_EQ(ini("EVT.ini", "BarcodeAutoSet"), "0");  // the unticking ran the box's handler
  // Probed in order: external 32 and internal 32 (one silent chunk each), then internal 16.
  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), 4u) << wire.dump();
  EXPECT_EQ(reqs[0].address, 0x6207);
  EXPECT_EQ(reqs[1].address, 0x200A);
  EXPECT_EQ(reqs[2].address, 0x2008);
  EXPECT_EQ(reqs[3].address, 0x2008);
}

// "Auto " against a pack with an external and an internal 32 barcode: only
// a successful external read with the auto-set box ticked ends the probe;
// unticked, the internal 32 storage is read too and its barcode shown.
TEST_F(IdentityTest, AutoReadGoesOnToTheInternalStorageUnlessAutoSetIsTicked) {
  struct Case {
    bool auto_set;
    std::vector<uint16_t> addresses;  // one per chunk request
    const char* shown;
    int selected;
  } cases[] = {
      {true, {0x6207, 0x6207, 0x6207, 0x6207}, "BC32-EXT-2026-000123", kBarcodeExt32},
      {false, {0x6207, 0x6207, 0x6207, 0x6207, 0x200A, 0x200A, 0x200A, 0x200A}, "BC32-INT-2026-000123", kBarcodeAuto},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.auto_set ? "auto-set ticked" : "auto-set unticked");
    TFormMain& m = ctx.FormMain;
    m.RadioGroupBarcodeSelect.select(kBarcodeAuto);
    m.CheckBoxBarCodeAutoSet.set_checked(c.auto_set);
    wire.clear();
    EXPECT_TRUE(BarCodeReadWorker(ctx));
    EXPECT_EQ(m.EditBarCode32.text(), c.shown);
    EXPECT_EQ(m.RadioGroupBarcodeSelect.item_index(), c.selected);
    const auto reqs = requests();
    ASSERT_EQ(reqs.size(), c.addresses.size()) << wire.dump();
    for (size_t i = 0; i < reqs.size(); ++i) {
      EXPECT_EQ(reqs[i].address, c.addresses[i]);
      EXPECT_EQ(reqs[i].length, i % 4 + 1);
    }
  }
}

TEST_F(OnlyInternal16Test, AutoReadWithoutAutoSetKeepsAuto) {
  ctx.FormMain.BitBtnBarCodeRead.click();
  EXPECT_EQ(ctx.FormMain.EditBarCode32.text(), "PK16-0042");
  EXPECT_EQ(ctx.FormMain.RadioGroupBarcodeSelect.item_index(), kBarcodeAuto);
  EXPECT_FALSE(std::filesystem::exists(folder / "ENG.ini"));
}

TEST_F(OnlyInternal16Test, WriteBarcodeAutoReportsTheStorageWritten) {
  ASSERT_TRUE(OpenLinkPort(ctx));
  EXPECT_EQ(WriteBarcodeAuto(ctx), 255);  // empty test barcode: no traffic
  EXPECT_TRUE(wire.entries().empty());
  ctx.FormMain.EditEVTBarcode.type("EVT-777");
  EXPECT_EQ(WriteBarcodeAuto(ctx), 2);
  CloseLinkPort(ctx);
  EXPECT_EQ(pack.barcode_int16(), "EVT-777");
}

TEST_F(IdentityTest, WriteBarcodeAutoPrefersTheExternalStorage) {
  ctx.FormMain.EditEVTBarcode.type("EVT-778");
  ASSERT_TRUE(OpenLinkPort(ctx));
  EXPECT_EQ(WriteBarcodeAuto(ctx), 0);
  CloseLinkPort(ctx);
  EXPECT_EQ(pack.barcode_ext32(), "EVT-778");
}

TEST_F(IdentityTest, SelectionKeepsTheModeInEngIniAndLocksAutoSetOutsideAuto) {
  TFormMain& m = ctx.FormMain;
  const struct {
    int item;
    bool auto_set_enabled;
  } cases[] = {{kBarcodeExt32, false}, {kBarcodeInt32, false}, {kBarcodeAuto, true}, {kBarcodeInt16, false}};
  for (const auto& c : cases) {
    m.RadioGroupBarcodeSelect.select(c.item);
    EXPECT_EQ(ini("ENG.ini", "BarcodeMode"), std::to_string(c.item));
    EXPECT_EQ(ctx.CurrentBarcodeMode.load(), c.item);
    EXPECT_EQ(m.CheckBoxBarCodeAutoSet.enabled(), c.auto_set_enabled);
  }
  EXPECT_TRUE(wire.entries().empty());
}

TEST_F(IdentityTest, AutoWritesAutoSetIntoTheLoadedPlanOnly) {
  TFormMain& m = ctx.FormMain;
  m.RadioGroupBarcodeSelect.select(kBarcodeExt32);
  m.RadioGroupBarcodeSelect.select(kBarcodeAuto);  // no plan loaded: nothing to write into
  EXPECT_EQ(ini("ENG.ini", "BarcodeAutoSet"), "<none>");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder.path())) ++files;
  EXPECT_EQ(files, 1u);  // ENG.ini only

  folder.write("plan.ini", "[Set]\r\nBarcodeMode=0\r\nBarcodeAutoSet=0\r\n");
  ctx.TestPlanFile.set(folder / "plan.ini");
  m.CheckBoxBarCodeAutoSet.click();
  EXPECT_EQ(ini("EVT.ini", "BarcodeAutoSet"), "1");
  m.RadioGroupBarcodeSelect.select(kBarcodeInt32);
  m.RadioGroupBarcodeSelect.select(kBarcodeAuto);
  EXPECT_EQ(ini("plan.ini", "BarcodeAutoSet"), "0");  // unticked by the Int32 selection
  m.CheckBoxBarCodeAutoSet.click();
  m.RadioGroupBarcodeSelect.select(kBarcodeExt32);
  m.RadioGroupBarcodeSelect.select(kBarcodeAuto);
  EXPECT_EQ(ini("plan.ini", "BarcodeAutoSet"), "0");
  EXPECT_EQ(folder.read("plan.ini").substr(0, 20), "[Set]\r\nBarcodeMode=0");
}

TEST_F(IdentityTest, AnUnwritableEngIniIsReportedAndTheSelectionStillCounts) {
  ctx.app.current_dir = folder / "missing-folder/";
  ctx.CurrentBarcodeMode = 1;
  ctx.FormMain.RadioGroupBarcodeSelect.select(kBarcodeInt16);
  EXPECT_EQ(ctx.CurrentBarcodeMode.load(), kBarcodeInt16);
  EXPECT_NE(ctx.FormMain.StatusBarView.item(2).find("ENG.ini"), std::string::npos) << ctx.FormMain.StatusBarView.item(2);
}

TEST(SerialNumberTextTest, LongerTextsKeepTheirLastEightCharacters) {
  EXPECT_EQ(SerialNumberToSend("0123456789"), "23456789");
  EXPECT_EQ(SerialNumberToSend("SN123"), "SN123");
  EXPECT_EQ(SerialNumberToSend("XXXXXXXX\xC3\xA9"
                               "1234567"),
            "1234567");  // never half a character
}

TEST_F(IdentityTest, SerialNumberOfTenCharactersIsShownAndSentAsItsLastEight) {
  ctx.FormMain.EditPDSN.type("0123456789");
  ctx.FormMain.SpdBtnSNSet.set_visible(true);
  ctx.FormMain.SpdBtnSNSet.click();

  EXPECT_EQ(ctx.FormMain.EditPDSN.text(), "23456789");
  const auto msgs = messages();
  ASSERT_EQ(msgs.size(), 2u) << wire.dump();
  EXPECT_EQ(msgs[0].address, 0x4001);
  EXPECT_EQ(msgs[0].write_count, 8);
  EXPECT_EQ(DataOf(msgs[1]), Chunk("23456789"));
  EXPECT_EQ(gap_ms(msgs[0], msgs[1]), 100);
  EXPECT_EQ(pack.serial_number(), "23456789");
  EXPECT_EQ(ctx.FormMain.StatusBarView.item(0), kSysStop);
  EXPECT_TRUE(ctx.FormMain.SpdBtnSNGet.enabled());
}

TEST_F(IdentityTest, SerialNumberGetShowsThePacksNumberOrNothing) {
  ctx.FormMain.EditPDSN.type("OLD");
  ctx.FormMain.SpdBtnSNGet.click();
  EXPECT_EQ(ctx.FormMain.EditPDSN.text(), "A1B2C3D4");
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_EQ(requests()[0].address, 0x2001);
  EXPECT_EQ(requests()[0].length, 1);

  wire.clear();
  pack.set_silent(true);
  ctx.FormMain.SpdBtnSNGet.click();
  EXPECT_EQ(ctx.FormMain.EditPDSN.text(), "");
  const auto reqs = requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(gap_ms(reqs[0], reqs[1]), 100 + 10120 + 300);
}

}  // namespace
}  // namespace bms::testing
