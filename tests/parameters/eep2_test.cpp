// The EEP2 window: encodings of every field type, read and write of both
// blocks against the virtual pack, refused fields, the polling lock, and the
// files (BLOCK_C.ini, the SOC table file).
#include "core/parameters/eep2.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "commands/command_fixture.h"
#include "core/link/modbus.h"
#include "core/platform/files.h"
#include "core/platform/ini.h"
#include "sim/modbus_slave.h"

namespace bms {
namespace {

const Eep2Field& Field(const std::string& edit) {
  for (const auto* list : {&Eep2BlockCFields(), &Eep2BlockDFields()})
    for (const Eep2Field& f : *list)
      if (f.edit == edit) return f;
  throw std::logic_error("no field " + edit);
}

TEST(Eep2Table, BothBlocksAreCompleteAndInRegisterOrder) {
  const auto& c = Eep2BlockCFields();
  const auto& d = Eep2BlockDFields();
  ASSERT_EQ(c.size(), 89u);
  ASSERT_EQ(d.size(), 106u);
  // Every register of each block belongs to exactly one field, or is reserved.
  auto cover = [](const std::vector<Eep2Field>& fields, uint16_t start) {
    std::vector<int> owner(kEep2BlockSize, -1);
    for (size_t i = 0; i < fields.size(); ++i)
      for (int r = 0; r < fields[i].registers(); ++r) {
        const int at = fields[i].reg - start + r;
        EXPECT_EQ(owner[at], -1) << fields[i].edit;
        owner[at] = static_cast<int>(i);
      }
    return owner;
  };
  const auto oc = cover(c, kEep2BlockCStart);
  for (int r = 0; r < kEep2BlockSize; ++r) EXPECT_EQ(oc[r] == -1, r >= 0x4E && r <= 0x68) << std::hex << kEep2BlockCStart + r;
  const auto od = cover(d, kEep2BlockDStart);
  for (int r = 0; r < kEep2BlockSize; ++r) EXPECT_EQ(od[r] == -1, r >= 12 && r <= 18) << std::hex << kEep2BlockDStart + r;
  EXPECT_EQ(c.front().key, "Cell_Serial");
  EXPECT_EQ(c.back().key, "HW_SC_Delay_us");
  EXPECT_EQ(Field("Edit_DUT_Ptotect_Thr_Temp").key, "DUT_Ptotect_Thr_Temp");
  EXPECT_EQ(Field("Edit_SOC_100").reg, 0x437E);
  EXPECT_EQ(Field("Edit_SOC_0").caption, "0%");
  EXPECT_TRUE(Field("Edit_COT_Alarm_Thr_Temp").any_chars);
  EXPECT_FALSE(Field("Edit_COT_Alarm_Thr_ms").any_chars);
}

TEST(Eep2Encodings, EveryFieldTypeBothWays) {
  struct Case {
    const char* edit;
    std::string text;
    std::vector<int32_t> words;
  } cases[] = {
      {"Edit_Cell_Serial", "13", {13}},
      {"Edit_OV_Alarm_Thr_ms", "65336", {0xFF38}},    // U16 shows the register unsigned
      {"Edit_COT_Alarm_Thr_Temp", "-200", {0xFF38}},  // S16: -20.0 degC
      {"Edit_COT_Alarm_Thr_Temp", "-32768", {0x8000}},
      {"Edit_DOC_Alarm_Rel_mA", "500", {0xFE0C}},  // S16N
      {"Edit_DOC_Alarm_Rel_mA", "32768", {0x8000}},
      {"Edit_COC_Alarm_Thr_mV", "100000", {0x0001, 0x86A0}},  // I32, high register first
      {"Edit_COC_Alarm_Thr_mV", "-2", {0xFFFF, 0xFFFE}},
      {"Edit_DOC_Alarm_Thr_mA", "10000", {0xFFFF, 0xD8F0}},  // I32N
      {"Edit_DOC_Alarm_Thr_mA", "2147483648", {0x8000, 0x0000}},
      {"Edit_Cell_Type", "ABC", {0x4142, 0x4300, 0, 0, 0, 0, 0, 0}},
      {"Edit_Cell_Type", "0123456789ABCDEF", {0x3031, 0x3233, 0x3435, 0x3637, 0x3839, 0x4142, 0x4344, 0x4546}},
      {"Edit_Cell_Type", "LG \xC3\xA9", {0x4C47, 0x20E9, 0, 0, 0, 0, 0, 0}},  // Latin-1 e-acute as the byte E9
  };
  for (const Case& c : cases) {
    const Eep2Field& f = Field(c.edit);
    std::vector<int32_t> w(static_cast<size_t>(f.registers()), 0x7777);
    std::string why;
    ASSERT_TRUE(Eep2FieldWords(f, c.text, w.data(), &why)) << c.edit << " " << c.text << ": " << why;
    EXPECT_EQ(w, c.words) << c.edit << " " << c.text;
    EXPECT_EQ(Eep2FieldText(f, c.words.data()), c.text) << c.edit;
  }
  // The cell type ends at the first zero byte, a stray byte shows as U+FFFD.
  const std::vector<int32_t> odd{0x4142, 0x0043, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Eep2FieldText(Field("Edit_Cell_Type"), odd.data()), "AB");
  const std::vector<int32_t> ctl{0x4107, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Eep2FieldText(Field("Edit_Cell_Type"), ctl.data()), "A\xEF\xBF\xBD");
}

TEST(Eep2Encodings, RefusedTextsNameTheField) {
  struct Case {
    const char* edit;
    std::string text;
    const char* says;
  } cases[] = {
      {"Edit_OV_Protect_Rel_mV", "", "is empty"},
      {"Edit_OV_Protect_Rel_mV", "abc", "\"abc\" is not a whole decimal number"},
      {"Edit_OV_Protect_Rel_mV", "+5", "not a whole decimal number"},
      {"Edit_OV_Protect_Rel_mV", " 5", "not a whole decimal number"},
      {"Edit_OV_Protect_Rel_mV", "4.2", "not a whole decimal number"},
      {"Edit_OV_Protect_Rel_mV", "-", "not a whole decimal number"},
      {"Edit_OV_Protect_Rel_mV", "-1", "outside 0..65535"},  // a key missing from BLOCK_C.ini
      {"Edit_OV_Protect_Rel_mV", "65536", "outside 0..65535"},
      {"Edit_COT_Alarm_Thr_Temp", "32768", "outside -32768..32767"},
      {"Edit_COT_Alarm_Thr_Temp", "-32769", "outside -32768..32767"},
      {"Edit_DOC_Protect_Rel_mA", "-32768", "outside -32767..32768"},
      {"Edit_COC_Protect_Thr_mA", "2147483648", "outside -2147483648..2147483647"},
      {"Edit_DOC_Protect_Thr_mA", "-2147483648", "outside -2147483647..2147483648"},
      {"Edit_SOC_50", "99999999999999999999", "not a whole decimal number"},
      {"Edit_Cell_Type", "0123456789ABCDEFG", "holds 17 characters, at most 16 fit"},
      {"Edit_Cell_Type", "Cell\xE4\xB8\xAD", "holds the character \"\xE4\xB8\xAD\" at position 5, which is not a one-byte character"},
      {"Edit_Cell_Type", "A\tB", "holds the character with code 9 at position 2"},
      {"Edit_Cell_Type", "\xFF", "is not valid text"},
  };
  for (const Case& c : cases) {
    const Eep2Field& f = Field(c.edit);
    std::vector<int32_t> w(static_cast<size_t>(f.registers()), 0x7777);
    std::string why;
    EXPECT_FALSE(Eep2FieldWords(f, c.text, w.data(), &why)) << c.edit << " " << c.text;
    EXPECT_NE(why.find(c.edit), std::string::npos) << why;
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
    EXPECT_NE(why.find("nothing was sent"), std::string::npos) << why;
  }
}

class Eep2Window : public testing::CommandFixture {
 protected:
  Eep2Window() {
    WireEep2Window(ctx);
    ctx.Operator = &op;
  }
  TForm_EEP_PARAMETER& w = ctx.Form_EEP_PARAMETER;
  Control& edit(const std::string& name) { return w.get(name); }
  void Write(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }
  std::string SocFile(const std::string& name, const std::string& data) {
    const std::string path = folder.path() + "/" + name;
    Write(path, data);
    return path;
  }
  // 101 values from 100 % (4200) down to 0 % (3000), one per line.
  static std::vector<std::string> SocValues() {
    std::vector<std::string> v;
    for (int k = 100; k >= 0; --k) v.push_back(std::to_string(3000 + 12 * k));
    return v;
  }
  static std::string Join(const std::vector<std::string>& lines, const std::string& end) {
    std::string s;
    for (const auto& l : lines) s += l + end;
    return s;
  }
  std::vector<std::string> SocEdits() const {
    std::vector<std::string> v;
    for (int k = 0; k <= 100; ++k) v.push_back(w.EditSOC[k]->text());
    return v;
  }

  ScriptedOperator op;
};

TEST_F(Eep2Window, ReadBlockCShowsEveryFieldAndColoursTheButtonGreen) {
  w.BitBtn_Block_C_Read.click();
  EXPECT_EQ(w.BitBtn_Block_C_Read.font_color(), 0x008000);
  EXPECT_EQ(edit("Edit_Cell_Serial").text(), "13");
  EXPECT_EQ(edit("Edit_DOC_Alarm_Thr_mA").text(), "15000");  // stored negative, shown positive
  EXPECT_EQ(edit("Edit_DOC_Alarm_Rel_mA").text(), "12000");
  EXPECT_EQ(edit("Edit_DUT_Ptotect_Thr_Temp").text(), "-200");
  EXPECT_EQ(edit("Edit_HW_SC_Delay_us").text(), "200");
  // One read of 120 registers at 0x4207, exactly as the worked frame.
  const auto writes = wire.host_writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].bytes, (std::vector<uint8_t>{0x60, 0x03, 0x42, 0x07, 0x00, 0x78, 0xE8, 0x20}));
  // The window and the command buttons were locked while it ran, and are free again.
  EXPECT_GE(ui.find("PageControl_EEP_Parameter", Prop::Enabled, false), 0);
  EXPECT_GE(ui.find("SpdBtnRUN", Prop::Enabled, false), 0);
  EXPECT_TRUE(w.PageControl_EEP_Parameter.enabled());
  EXPECT_TRUE(w.BitBtn_Block_C_Read.enabled());
  EXPECT_TRUE(ctx.FormMain.SpdBtnRUN.enabled());
  EXPECT_FALSE(LinkPortOpen(ctx));
  EXPECT_TRUE(op.asked().empty());
}

TEST_F(Eep2Window, AFailedReadColoursRedAndKeepsTheEdits) {
  edit("Edit_Cell_Serial").set_text("7");
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Modbus(), sim::FaultAction::BadChecksum));
  w.BitBtn_Block_C_Read.click();
  EXPECT_EQ(w.BitBtn_Block_C_Read.font_color(), kRed);
  EXPECT_EQ(edit("Edit_Cell_Serial").text(), "7");
  EXPECT_EQ(edit("Edit_OV_Alarm_Thr_mV").text(), "");
  EXPECT_FALSE(LinkPortOpen(ctx));
}

TEST_F(Eep2Window, WriteBlockCSendsTheEditsAndZeroForTheReservedRegisters) {
  w.BitBtn_Block_C_Read.click();  // the reserved registers read back non-zero
  ASSERT_EQ(*pack.modbus().value(0x4255), 0xA54E);
  edit("Edit_DOC_Alarm_Thr_mA").set_text("10000");
  edit("Edit_DOC_Alarm_Rel_mA").set_text("500");
  edit("Edit_COT_Protect_Thr_Temp").set_text("-200");
  wire.clear();
  w.BitBtn_Block_C_Write.click();
  EXPECT_EQ(w.BitBtn_Block_C_Write.font_color(), 0x008000);
  const auto writes = wire.host_writes();
  ASSERT_EQ(writes.size(), 1u);
  ASSERT_EQ(writes[0].bytes.size(), 249u);
  EXPECT_EQ(std::vector<uint8_t>(writes[0].bytes.begin(), writes[0].bytes.begin() + 7), (std::vector<uint8_t>{0x60, 0x16, 0x42, 0x07, 0x00, 0x78, 0xF0}));
  EXPECT_EQ(*pack.modbus().value(0x4223), 0xFFFF);
  EXPECT_EQ(*pack.modbus().value(0x4224), 0xD8F0);
  EXPECT_EQ(*pack.modbus().value(0x4226), 0xFE0C);
  EXPECT_EQ(*pack.modbus().value(0x4231), 0xFF38);
  for (uint16_t r = 0x4255; r <= 0x426F; ++r) ASSERT_EQ(*pack.modbus().value(r), 0) << std::hex << r;
  // Every other register is what was read.
  const auto initial = sim::InitialBlockC();
  for (uint16_t r = 0x4207; r <= 0x427E; ++r) {
    if ((r >= 0x4223 && r <= 0x4226) || r == 0x4231 || (r >= 0x4255 && r <= 0x426F)) continue;
    ASSERT_EQ(*pack.modbus().value(r), initial[r - 0x4207]) << std::hex << r;
  }
}

TEST_F(Eep2Window, AnEmptyCheckedEditStopsTheWriteSilently) {
  w.BitBtn_Block_C_Read.click();
  w.BitBtn_Block_C_Write.set_font_color(kRed);
  edit("Edit_OV_Alarm_Rel_ms").set_text("");
  wire.clear();
  w.BitBtn_Block_C_Write.click();
  EXPECT_EQ(wire.size(), 0u);
  EXPECT_EQ(w.BitBtn_Block_C_Write.font_color(), kRed);
  EXPECT_TRUE(op.asked().empty());
  const Eep2Result r = RunEep2Write(ctx, Eep2Block::C);
  EXPECT_EQ(r.outcome, Eep2Outcome::RefusedQuietly);
  EXPECT_NE(r.message.find("Edit_OV_Alarm_Rel_ms is empty"), std::string::npos);
}

TEST_F(Eep2Window, AnyOtherRefusedFieldStopsTheWriteWithAMessage) {
  w.BitBtn_Block_C_Read.click();
  const auto before = pack.modbus().block(sim::kBlockCStart);
  struct Case {
    const char* edit;
    const char* text;
  } cases[] = {{"Edit_HW_SC_Delay_us", ""}, {"Edit_UV_Protect_Rel_ms", "-1"}, {"Edit_COT_Alarm_Rel_Temp", "12a"}, {"Edit_Rsensor_uOhm", "70000"}};
  for (const Case& c : cases) {
    const std::string keep = edit(c.edit).text();
    edit(c.edit).set_text(c.text);
    wire.clear();
    const size_t asked = op.asked().size();
    w.BitBtn_Block_C_Write.click();
    EXPECT_EQ(wire.size(), 0u) << c.edit;
    ASSERT_EQ(op.asked().size(), asked + 1) << c.edit;
    EXPECT_NE(op.asked().back().text.find(c.edit), std::string::npos) << op.asked().back().text;
    EXPECT_EQ(op.asked().back().title, "EEP Parameter");
    edit(c.edit).set_text(keep);
  }
  EXPECT_EQ(pack.modbus().block(sim::kBlockCStart), before);
  EXPECT_EQ(pack.modbus().writes(), 0);
}

TEST_F(Eep2Window, ATransferWhilePollingRunsIsRefused) {
  w.BitBtn_Block_C_Read.click();
  ctx.FormMain.SpdBtnRUN.set_text("STOP");
  ctx.MonitorActive = true;
  wire.clear();
  for (Control* b : {&w.BitBtn_Block_C_Read, &w.BitBtn_Block_C_Write, &w.BitBtn_Block_D_Read, &w.BitBtn_Block_D_Write}) b->click();
  EXPECT_EQ(wire.size(), 0u);
  ASSERT_EQ(op.asked().size(), 4u);
  EXPECT_NE(op.asked()[0].text.find("Press STOP"), std::string::npos);
  EXPECT_EQ(RunEep2Read(ctx, Eep2Block::D).outcome, Eep2Outcome::Refused);
  ctx.MonitorActive = false;
  ctx.FormMain.SpdBtnRUN.set_text("RUN");
}

TEST_F(Eep2Window, AFailedWriteColoursRed) {
  w.BitBtn_Block_C_Read.click();
  pack.faults().add(sim::Fault::Make(sim::FaultMatch::Modbus(), sim::FaultAction::Silence));
  w.BitBtn_Block_C_Write.click();
  EXPECT_EQ(w.BitBtn_Block_C_Write.font_color(), kRed);
  // No retry: one request, one echo wait of the port's total time-out from
  // the moment its last byte left.
  EXPECT_EQ(wire.host_writes().size(), 2u);
  const int64_t write_returned_ms = (wire.host_writes().back().end_us() + 999) / 1000;
  EXPECT_EQ(clock.now_ms() - write_returned_ms, 5000 + 5 * 8);
  EXPECT_FALSE(LinkPortOpen(ctx));
}

TEST_F(Eep2Window, BlockDCellTypeAndSocTableRoundTrip) {
  w.BitBtn_Block_D_Read.click();
  EXPECT_EQ(edit("Edit_Cell_Type").text(), "INR18650-35E");
  EXPECT_EQ(edit("Edit_Cell_Rated_Capacity").text(), "3500");
  EXPECT_EQ(w.EditSOC[0]->text(), "3000");
  EXPECT_EQ(w.EditSOC[100]->text(), "4200");

  edit("Edit_Cell_Type").set_text("ABC");
  w.EditSOC[50]->set_text("3777");
  w.BitBtn_Block_D_Write.click();
  EXPECT_EQ(w.BitBtn_Block_D_Write.font_color(), 0x008000);
  const auto d = pack.modbus().block(sim::kBlockDStart);
  EXPECT_EQ(std::vector<uint16_t>(d.begin(), d.begin() + 9), (std::vector<uint16_t>{0x4142, 0x4300, 0, 0, 0, 0, 0, 0, 3500}));
  for (size_t i = 12; i <= 18; ++i) EXPECT_EQ(d[i], 0) << i;
  EXPECT_EQ(d[19 + 50], 3777);

  edit("Edit_Cell_Type").set_text("0123456789ABCDEF");
  w.BitBtn_Block_D_Write.click();
  edit("Edit_Cell_Type").set_text("");
  w.BitBtn_Block_D_Read.click();
  EXPECT_EQ(edit("Edit_Cell_Type").text(), "0123456789ABCDEF");
  EXPECT_EQ(w.EditSOC[50]->text(), "3777");

  // A character that is not a one-byte character refuses the write.
  edit("Edit_Cell_Type").set_text("Zelle\xE2\x82\xAC");
  const int writes = pack.modbus().writes();
  w.BitBtn_Block_D_Write.click();
  EXPECT_EQ(pack.modbus().writes(), writes);
  ASSERT_EQ(op.asked().size(), 1u);
  EXPECT_NE(op.asked()[0].text.find("Edit_Cell_Type"), std::string::npos);
}

TEST_F(Eep2Window, SocTableFilesThatFillAllEdits) {
  const auto values = SocValues();
  std::string spaced = Join(values, "\r\n\r\n");
  spaced.replace(spaced.find("3600"), 4, "3 600");  // a blank inside a value is dropped
  const std::string no_final_lf = Join(values, "\r\n").substr(0, Join(values, "\r\n").size() - 2);
  const std::string with_nul = std::string("\0", 1) + Join(values, "\n");
  for (const std::string& data : {Join(values, "\r\n"), spaced, no_final_lf, with_nul}) {
    for (Control* e : w.EditSOC) e->set_text("");
    const std::string path = SocFile("soc.txt", data);
    std::string why;
    ASSERT_TRUE(ApplySocTableFile(ctx, path, &why)) << why;
    EXPECT_EQ(w.EditSOC[100]->text(), "4200");  // the first line
    EXPECT_EQ(w.EditSOC[0]->text(), "3000");    // the last line
    EXPECT_EQ(w.EditSOC[50]->text(), "3600");
  }
  // Through the button: the path shows in Edit_SOC_File.
  ScriptedOperator chooser({}, {SocFile("pick.txt", Join(values, "\n"))});
  ctx.Operator = &chooser;
  for (Control* e : w.EditSOC) e->set_text("");
  w.BitBtn_Read_SOC_File.click();
  EXPECT_EQ(w.Edit_SOC_File.text(), folder.path() + "/pick.txt");
  EXPECT_EQ(w.EditSOC[1]->text(), "3012");
  EXPECT_TRUE(chooser.asked().empty());
  w.BitBtn_Read_SOC_File.click();  // cancelled: nothing changes
  EXPECT_EQ(w.Edit_SOC_File.text(), folder.path() + "/pick.txt");
  ctx.Operator = &op;
}

TEST_F(Eep2Window, RefusedSocTableFilesLeaveTheEditsAsTheyWere) {
  auto values = SocValues();
  auto fewer = values;
  fewer.pop_back();
  auto more = values;
  more.push_back("2990");
  struct Case {
    const char* what;
    std::string path;
    const char* says;
  } cases[] = {
      {"100 lines", SocFile("100.txt", Join(fewer, "\r\n")), "holds 100 values"},
      {"102 lines", SocFile("102.txt", Join(more, "\r\n")), "holds 102 values"},
      {"empty file", SocFile("empty.txt", ""), "holds 0 values"},
      {"a missing file", folder.path() + "/absent.txt", "absent.txt"},
      {"a folder", folder.path(), "refused"},
      {"a device", "/dev/zero", "/dev/zero"},
  };
  for (int k = 0; k <= 100; ++k) w.EditSOC[k]->set_text("x" + std::to_string(k));
  ctx.SocTableLines.with([](auto& t) { t.fill("kept"); });
  for (const Case& c : cases) {
    ScriptedOperator chooser({}, {c.path});
    ctx.Operator = &chooser;
    w.BitBtn_Read_SOC_File.click();
    ASSERT_EQ(chooser.asked().size(), 1u) << c.what;
    EXPECT_NE(chooser.asked()[0].text.find(c.says), std::string::npos) << c.what << ": " << chooser.asked()[0].text;
    EXPECT_NE(chooser.asked()[0].text.find("unchanged"), std::string::npos) << chooser.asked()[0].text;
    for (int k = 0; k <= 100; ++k) ASSERT_EQ(w.EditSOC[k]->text(), "x" + std::to_string(k)) << c.what;
    for (const std::string& l : ctx.SocTableLines.get()) ASSERT_EQ(l, "kept") << c.what;
  }
  ctx.Operator = &op;
  int found = -1;
  std::string why;
  EXPECT_EQ(ReadSocTableFile(ctx, cases[0].path, &why, &found), -1);
  EXPECT_EQ(found, 100);
}

TEST_F(Eep2Window, BlockCFileSaveThenLoadRestoresEveryEdit) {
  const auto& edits = w.BlockCEdits;
  for (size_t i = 0; i < edits.size(); ++i) edits[i]->set_text(i % 7 == 3 ? "" : (i % 5 == 0 ? "-" : "") + std::to_string(100 + i));
  edit("Edit_CUT_Alarm_Thr_Temp").set_text("-200");
  std::vector<std::string> saved;
  for (Control* e : edits) saved.push_back(e->text());
  const std::string path = BlockCFilePath(ctx);
  EXPECT_EQ(path, folder.path() + "/BLOCK_C.ini");
  Write(path, "; engineer's notes\r\n[Other]\r\nKeep=1\r\n[Block_C]\r\nCell_Serial=99\r\nExtra=yes\r\n");
  w.BitBtn_Block_SAVE_File.click();
  EXPECT_TRUE(op.asked().empty());
  for (Control* e : edits) e->set_text("zz");
  w.BitBtn_Block_Read_File.click();
  for (size_t i = 0; i < edits.size(); ++i) ASSERT_EQ(edits[i]->text(), saved[i]) << edits[i]->name();
  // Other keys and sections stay; the key is in the section.
  EXPECT_EQ(GetPrivateProfileString("Other", "Keep", "", path), "1");
  EXPECT_EQ(GetPrivateProfileString("Block_C", "Extra", "", path), "yes");
  EXPECT_EQ(GetPrivateProfileString("block_c", "cut_alarm_thr_temp", "", path), "-200");
}

TEST_F(Eep2Window, BlockCFileMissingKeysAndMissingFile) {
  for (Control* e : w.BlockCEdits) e->set_text("5");
  w.BitBtn_Block_Read_File.click();  // no BLOCK_C.ini: nothing changes
  for (Control* e : w.BlockCEdits) ASSERT_EQ(e->text(), "5");
  Write(BlockCFilePath(ctx), "[Block_C]\nCell_Serial = 14 \nHW_SC_Delay_us_typo=3\n");
  w.BitBtn_Block_Read_File.click();
  EXPECT_EQ(edit("Edit_Cell_Serial").text(), "14");
  EXPECT_EQ(edit("Edit_HW_SC_Delay_us").text(), "-1");
  EXPECT_EQ(edit("Edit_Cell_Parallel").text(), "-1");
  // Such a file is caught when the block is written: nothing is sent.
  wire.clear();
  w.BitBtn_Block_C_Write.click();
  EXPECT_EQ(wire.size(), 0u);
  ASSERT_EQ(op.asked().size(), 1u);
  EXPECT_NE(op.asked()[0].text.find("Edit_Cell_Parallel"), std::string::npos);
}

TEST_F(Eep2Window, TheEep2ButtonShowsTheWindow) {
  EXPECT_FALSE(w.self.visible());
  ctx.FormMain.Button_EEP_Parameter.set_enabled(true);
  ctx.FormMain.Button_EEP_Parameter.click();
  EXPECT_TRUE(w.self.visible());
  EXPECT_EQ(w.self.text(), "EEP Parameter");
  EXPECT_EQ(w.PageControl_EEP_Parameter.item_index(), 1);
  EXPECT_FALSE(w.TabSheet_Block_A.visible());
  EXPECT_TRUE(ctx.Form_EEP_PARAMETER.get("CheckBox_Cell_Serial").checked());
  EXPECT_EQ(ctx.Form_EEP_PARAMETER.get("CheckBox_SOC_100").text(), "100%");
}

}  // namespace
}  // namespace bms
