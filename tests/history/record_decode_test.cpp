// EEPROM history: header registers, record chunks and checksum, and the text
// forms of a record (page line, CSV row) and of the header page.
#include "core/history/record_decode.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/monitor/decode.h"
#include "core/platform/clock.h"

namespace bms {
namespace {

using Bytes = std::vector<uint8_t>;
using RecordBytes = std::array<uint8_t, 32>;

constexpr HistoryBlock kBlocks[] = {HistoryBlock::Protect, HistoryBlock::Lead, HistoryBlock::Last};
constexpr uint16_t kRecordAddress[] = {0x6501, 0x6601, 0x6603};
constexpr uint16_t kCountAddress[] = {0x6500, 0x6600, 0x6602};

size_t Ix(HistoryBlock b) { return static_cast<size_t>(b); }

struct RecordContent {
  Bytes stamp = {0x1A, 0x0C, 0x09, 0x0E, 0x03, 0x09};  // 2026.12.9 14.3.9
  Bytes current = {0xFF, 0xFF, 0xFA, 0x24};            // -1500 mA
  Bytes voltage = {0x00, 0x00, 0xCB, 0x20};            // 52000 mV
  uint8_t soc = 80;
  uint8_t t1 = 0xF6;               // -10
  Bytes volt_diff = {0x80, 0x01};  // 32769, shown unsigned
  Bytes cycles = {0x01, 0x2C};     // 300
  uint8_t flag = 0x45;
  bool good_checksum = true;
};

RecordBytes MakeRecord(const RecordContent& s) {
  RecordBytes r{};
  auto put = [&](size_t at, const Bytes& b) {
    for (size_t i = 0; i < b.size(); ++i) r[at + i] = b[i];
  };
  put(0, s.stamp);
  put(6, s.current);
  put(10, s.voltage);
  r[14] = s.soc;
  r[15] = s.t1;
  put(16, s.volt_diff);
  put(18, s.cycles);
  r[20] = s.flag;
  for (size_t i = 21; i < 30; ++i) r[i] = static_cast<uint8_t>(0xA0 + i);  // not interpreted, but summed
  unsigned sum = 0;
  for (size_t i = 0; i < 30; ++i) sum += r[i];
  r[30] = static_cast<uint8_t>(sum >> 8);
  r[31] = static_cast<uint8_t>(sum);
  if (!s.good_checksum) r[31] ^= 0x01;
  return r;
}

HistoryRecord Record(const RecordContent& s) {
  HistoryRecord r;
  r.bytes = MakeRecord(s);
  r.checksum_valid = RecordChecksumValid(r.bytes);
  r.complete = true;
  return r;
}

class RecordDecodeTest : public ::testing::Test {
 protected:
  void Reply(uint16_t address, uint16_t length, const Bytes& data) {
    std::array<uint8_t, 8> d{};
    for (size_t i = 0; i < data.size() && i < 8; ++i) d[i] = data[i];
    DecodeReply(ctx, address, length, d.data());
  }
  // Delivers the chunks of a record as the block reader does.
  void Deliver(HistoryBlock block, const RecordBytes& r, std::initializer_list<int> chunks = {1, 2, 3, 4}) {
    for (int k : chunks) Reply(kRecordAddress[Ix(block)], static_cast<uint16_t>(k), Bytes(r.begin() + (k - 1) * 8, r.begin() + k * 8));
  }
  HistoryRecord current(HistoryBlock block) { return ctx.History.get().record[Ix(block)]; }
  EepromHeader header() { return ctx.History.get().header; }

  VirtualClock clock;
  Context ctx{clock, {}, true};
};

// ---------------------------------------------------------------- header

TEST_F(RecordDecodeTest, HeaderRegisters) {
  Reply(0x6100, 0, {0x01, 0x00});
  Reply(0x6101, 0, {'T', 'Q', '5', 0x03});
  Reply(0x6102, 0, {10});
  Reply(0x6103, 0, {20});
  Reply(0x6104, 0, {1});
  Reply(0x6200, 0, {0x01, 0xF4});
  Reply(0x6201, 0, {0x03, 0xE8});
  Reply(0x6202, 0, {80});
  Reply(0x6203, 0, {24});
  Reply(0x6204, 1, {'L', 'F', 'P', '-', '3', '2', '7', '0'});
  Reply(0x6204, 2, {'0', '0', 'E', 0, 'Z', 'Z'});
  Reply(0x6205, 0, {0x00, 0x2A});
  Reply(0x6206, 0, {0xFF, 0xFF, 0xFF, 0xFE});
  Reply(0x6207, 1, {'B', 'C', '1', '2', '3', '4', '5', '6'});
  Reply(0x6207, 4, {'L', 'A', 'S', 'T', 0});
  for (uint16_t i = 0; i < 10; ++i) Reply(static_cast<uint16_t>(0x6300 + i), 0, {0x00, static_cast<uint8_t>(i + 1)});
  for (uint16_t i = 0; i < 7; ++i) Reply(static_cast<uint16_t>(0x6400 + i), 0, {0, 0, 0, static_cast<uint8_t>(i + 1), 0xFF, 0xFF, 0xFF, static_cast<uint8_t>(0xF0 + i)});
  Reply(0x6407, 0, {0x00, 0x00, 0x01, 0x00});

  const EepromHeader h = header();
  EXPECT_EQ(h.HeaderSize, 256);
  EXPECT_EQ(h.Id, "TQ53");
  EXPECT_EQ(h.CurrentUnit, 10);
  EXPECT_EQ(h.VoltageUnit, 20);
  EXPECT_EQ(h.VoltDiffUnit, 1);
  EXPECT_EQ(h.MaxVoltDiff, 500);
  EXPECT_EQ(h.WarrantyCycles, 1000);
  EXPECT_EQ(h.WarrantyCapacityPercent, 80);
  EXPECT_EQ(h.WarrantyMonths, 24);
  EXPECT_EQ(h.CellType, "LFP-327000E");
  EXPECT_EQ(h.CellTypeBytes[8], '0');
  EXPECT_EQ(h.CycleCount, 42);
  EXPECT_EQ(h.TotalChargeCapacity, -2);
  // Chunks 2 and 3 missing: the text ends after chunk 1.
  EXPECT_EQ(h.Barcode, "BC123456");
  EXPECT_EQ(h.BarcodeBytes[24], 'L');
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(h.EventTotals[i], i + 1) << i;
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(h.FlagTotals[i], static_cast<int32_t>(i + 1)) << i;
    EXPECT_EQ(h.FlagExtremes[i], static_cast<int32_t>(0xFFFFFFF0u + i)) << i;
  }
  EXPECT_EQ(h.ScTotal, 256);

  Reply(0x6207, 2, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
  Reply(0x6207, 3, {'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'});
  EXPECT_EQ(header().Barcode, "BC123456ABCDEFGHIJKLMNOPLAST");
}

TEST_F(RecordDecodeTest, HeaderIdEndsAtZeroByte) {
  Reply(0x6101, 0, {'A', 0, 'C', 0x01});
  EXPECT_EQ(header().Id, "A");
}

TEST_F(RecordDecodeTest, HeaderRepliesWithUnexpectedLengthAreIgnored) {
  struct Case {
    uint16_t address, length;
  };
  const Case cases[] = {{0x6100, 1}, {0x6101, 2}, {0x6102, 1}, {0x6200, 1}, {0x6204, 0}, {0x6204, 3}, {0x6205, 1},
                        {0x6206, 4}, {0x6207, 0}, {0x6207, 5}, {0x6300, 1}, {0x6309, 2}, {0x6400, 1}, {0x6407, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.address << " length " << c.length);
    ClearHistoryValues(ctx);
    Reply(c.address, c.length, {'1', '2', '3', '4', '5', '6', '7', '8'});
    const HistoryState s = ctx.History.get();
    const EepromHeader& h = s.header;
    EXPECT_EQ(h.HeaderSize, 0);
    EXPECT_EQ(h.Id, "");
    EXPECT_EQ(h.CurrentUnit, 0);
    EXPECT_EQ(h.CellType, "");
    EXPECT_EQ(h.Barcode, "");
    EXPECT_EQ(h.CycleCount, 0);
    EXPECT_EQ(h.TotalChargeCapacity, 0);
    EXPECT_EQ(h.EventTotals, (std::array<uint16_t, 10>{}));
    EXPECT_EQ(h.FlagTotals, (std::array<int32_t, 7>{}));
    EXPECT_EQ(h.ScTotal, 0);
  }
}

TEST_F(RecordDecodeTest, HeaderPageLines) {
  EepromHeader h;
  h.HeaderSize = 256;
  h.Id = "TQ53";
  h.CurrentUnit = 10;
  h.VoltageUnit = 20;
  h.VoltDiffUnit = 1;
  h.MaxVoltDiff = 500;
  h.WarrantyCycles = 1000;
  h.WarrantyCapacityPercent = 80;
  h.WarrantyMonths = 24;
  h.CellType = "LFP-3270";
  h.CycleCount = 42;
  h.TotalChargeCapacity = -2;
  h.Barcode = "BC123456";
  h.EventTotals = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  h.FlagTotals = {11, 12, 13, 14, 15, 16, 17};
  h.FlagExtremes = {21000, -22000, 45, 60, -20, 4250, 2500};
  h.ScTotal = 18;
  const std::vector<std::string> expected = {
      "1. EEPROM Header Block : Unit Section ",
      "Header's total number of bytes :   256",
      "ID :   TQ53",
      "Pack Current Unit :   10   mA",
      "Pack Volat Unit :   20   mV",
      "Voltage Diff Unit : 1   mV",
      "\n\r",
      "2. EEPROM Header Block : Battery Information Section",
      "Max Volt Diff :   500   mV",
      "Warranty Cycle :   1000   times",
      "Warranty Design Capacity percentage:   80   %",
      "Warranty Months :   24   ",
      "Cell type 16 Bytes :   LFP-3270   ",
      "Cycle Count :   42   times",
      "Total Charge Capacity :   -2   mAh",
      "Barcode32 :   BC123456   ",
      "\n\r",
      "3. EEPROM Header Block : Event Information Section",
      "Charge Start Total :   1   times",
      "Discharge Start Total :   2   times",
      "Sleep Total :   3   times",
      "Deep Sleep Total :   5 times",  // 0x6304
      "Wake Up Total :   4 times",     // 0x6303
      "Reset Total :   6   times",
      "Protecol Release Total :   7   times",
      "FSC Total :   8   times",
      "Storage Temperature total:   9   times",
      "Temperature Error total:   10   times",
      "\n\r",
      "4. EEPROM Header Block : Flag Count Sectiion ",
      "COC Total :   11   times",
      "Max Charge Current :   21000   mA",
      "DOC Total :   12   times",
      "Max Discharge Current :   -22000   mA",
      "COT Total :   13   times",
      "Max Charge Temperature :   45   Deg. C",
      "DOT Total :   14   times",
      "Max Discharge Temperature :   60   Deg. C",
      "CUT Total :   15   times",
      "Min Temperature :   -20   Deg. C",
      "OV Total :   16   times",
      "Max Cell Voltage :   4250   mV",
      "UV Total :   17   times",
      "Min Cell Voltage :   2500   mV",
      "SC Total :   18   times",
  };
  EXPECT_EQ(HeaderPageLines(h), expected);

  // The page replaces whatever the memo showed.
  ctx.FormEEPROM.MemoEEPHeader.set_items({"Total Bytes :   256", "old line"});
  ctx.History.with([&](HistoryState& s) { s.header = h; });
  WriteHeaderPage(ctx);
  EXPECT_EQ(ctx.FormEEPROM.MemoEEPHeader.items(), expected);
}

// ---------------------------------------------------------------- records

TEST_F(RecordDecodeTest, RecordCountsPerBlock) {
  for (size_t b = 0; b < 3; ++b) {
    SCOPED_TRACE(b);
    ClearHistoryValues(ctx);
    Reply(kCountAddress[b], 1, {0x12, 0x34});  // wrong length field
    EXPECT_FALSE(ctx.History.get().count_valid[b]);
    Reply(kCountAddress[b], 0, {0x12, 0x34});
    const HistoryState s = ctx.History.get();
    for (size_t other = 0; other < 3; ++other) {
      EXPECT_EQ(s.count[other], other == b ? 0x1234 : 0) << other;
      EXPECT_EQ(s.count_valid[other], other == b) << other;
    }
  }
}

TEST_F(RecordDecodeTest, ChunksFillTheirBlocksBuffer) {
  const RecordBytes r = MakeRecord({});
  for (HistoryBlock block : kBlocks) {
    SCOPED_TRACE(Ix(block));
    ClearHistoryValues(ctx);
    Deliver(block, r);
    const HistoryState s = ctx.History.get();
    for (HistoryBlock other : kBlocks) {
      if (other == block) {
        EXPECT_EQ(s.record[Ix(other)].bytes, r);
        EXPECT_TRUE(s.record[Ix(other)].checksum_valid);
        EXPECT_TRUE(s.record[Ix(other)].complete);
        EXPECT_EQ(s.record[Ix(other)].chunks, 0x0F);
      } else {
        EXPECT_EQ(s.record[Ix(other)].bytes, RecordBytes{});
      }
    }
    // Chunk 0 and 5 are not record chunks.
    Reply(kRecordAddress[Ix(block)], 0, {1, 2, 3});
    Reply(kRecordAddress[Ix(block)], 5, {1, 2, 3});
    EXPECT_EQ(current(block).bytes, r);
  }
}

TEST_F(RecordDecodeTest, ChecksumCheckedWhenChunkFourArrives) {
  struct Case {
    const char* what;
    bool good_checksum;
    std::initializer_list<int> chunks;
    bool valid;
  };
  const Case cases[] = {
      {"all chunks, good sum", true, {1, 2, 3, 4}, true},
      {"all chunks, bad sum", false, {1, 2, 3, 4}, false},
      {"chunk 2 missing", true, {1, 3, 4}, false},
      {"chunk 4 missing", true, {1, 2, 3}, false},
  };
  const RecordBytes previous = MakeRecord({.flag = 0x82});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Deliver(HistoryBlock::Lead, previous);  // a complete good record first
    ClearHistoryRecord(ctx, HistoryBlock::Lead);
    Deliver(HistoryBlock::Lead, MakeRecord({.good_checksum = c.good_checksum}), c.chunks);
    const HistoryRecord r = current(HistoryBlock::Lead);
    EXPECT_EQ(r.checksum_valid, c.valid);
    const std::string line = RecordPageLine(HistoryBlock::Lead, 1, r);
    const std::string mark = " (CheckSum Error)";
    const size_t at = line.find(mark);
    if (c.valid) {
      EXPECT_EQ(at, std::string::npos) << line;
    } else {
      ASSERT_NE(at, std::string::npos) << line;
      EXPECT_EQ(at + mark.size(), line.size()) << "marked at the end";
      EXPECT_EQ(line.find(mark, at + 1), std::string::npos) << "marked once";
    }
  }
}

TEST_F(RecordDecodeTest, MissingChunkLeavesZeroBytesNotThePreviousRecord) {
  const RecordBytes first = MakeRecord({.flag = 0x82});
  const RecordBytes second = MakeRecord({.stamp = {0x1B, 0x01, 0x02, 0x03, 0x04, 0x05}, .flag = 0x84});
  // The reader clears the buffer before each record.
  Deliver(HistoryBlock::Protect, first);
  ClearHistoryRecord(ctx, HistoryBlock::Protect);
  Deliver(HistoryBlock::Protect, second, {2, 3, 4});
  RecordBytes expected = second;
  for (size_t i = 0; i < 8; ++i) expected[i] = 0;
  EXPECT_EQ(current(HistoryBlock::Protect).bytes, expected);
  // Chunk 1 starts a new record on its own too: a reader that does not clear
  // gets zeros, not the previous record, where chunks are missing.
  Deliver(HistoryBlock::Protect, first);
  Deliver(HistoryBlock::Protect, second, {1, 2});
  expected = second;
  for (size_t i = 16; i < 32; ++i) expected[i] = 0;
  EXPECT_EQ(current(HistoryBlock::Protect).bytes, expected);
  EXPECT_FALSE(current(HistoryBlock::Protect).checksum_valid);
}

TEST_F(RecordDecodeTest, RecordFields) {
  const RecordFields f = DecodeRecordFields(MakeRecord({}));
  EXPECT_EQ(f.year, 2026);
  EXPECT_EQ(f.month, 12);
  EXPECT_EQ(f.day, 9);
  EXPECT_EQ(f.hour, 14);
  EXPECT_EQ(f.minute, 3);
  EXPECT_EQ(f.second, 9);
  EXPECT_EQ(f.current_ma, -1500);
  EXPECT_EQ(f.voltage_mv, 52000u);
  EXPECT_EQ(f.soc, 80);
  EXPECT_EQ(f.t1, -10);
  EXPECT_EQ(f.volt_diff_mv, 32769);
  EXPECT_EQ(f.cycle_count, 300);
  EXPECT_EQ(f.flag, 0x45);
}

TEST_F(RecordDecodeTest, PageLineOfAProtectionRecord) {
  const HistoryRecord r = Record({});
  EXPECT_EQ(RecordPageLine(HistoryBlock::Protect, 7, r),
            "0007 , Date : 2026.12.9 , Time : 14.3.9 , Current  : -1500 mA , Voltage  : 52000 mV , SOC  : 80 % , T1  : -10 Degree C , "
            "VoltDiff  : 32769 mV , Cycle Cnt  : 300  , Ptt/Evt : 0 , Chg/Dsg : 1 . UT : 0 . OT : 0 . SC : 0 . OC : 1 . UV : 0 . OV : 1 . ");
  EXPECT_EQ(RecordPageLine(HistoryBlock::Lead, 7, r),
            "0007 , Date : 2026.12.9 , Time : 14.3.9 , Current  : -1500 mA , Voltage  : 52000 mV , SOC  : 80 % , T1  : -10 Deg. C , "
            "VoltDiff  : 32769 mV , Cycle Cnt  : 300  , Ptt/Evt : 0 , Chg/Dsg : 1 . UT : 0 . OT : 0 . SC : 0 . OC : 1 . UV : 0 . OV : 1 . ");
}

TEST_F(RecordDecodeTest, PageLineBitsInColumnOrder) {
  // One bit at a time, so a swapped column shows.
  const char* names[7] = {"Chg/Dsg", "UT", "OT", "SC", "OC", "UV", "OV"};
  for (int column = 0; column < 7; ++column) {
    SCOPED_TRACE(names[column]);
    const std::string line = RecordPageLine(HistoryBlock::Last, 1, Record({.flag = static_cast<uint8_t>(1 << (6 - column))}));
    std::string bits;
    for (int c = 0; c < 7; ++c) bits += std::string(names[c]) + " : " + (c == column ? "1" : "0") + " . ";
    EXPECT_NE(line.find("Ptt/Evt : 0 , " + bits), std::string::npos) << line;
  }
}

TEST_F(RecordDecodeTest, RecordNumbering) {
  const HistoryRecord r = Record({});
  struct Case {
    int n;
    const char* prefix;
  };
  const Case cases[] = {{1, "0001 , "}, {7, "0007 , "}, {123, "0123 , "}, {1234, "1234 , "}, {65535, "65535 , "}};
  for (const Case& c : cases) EXPECT_EQ(RecordPageLine(HistoryBlock::Lead, c.n, r).rfind(c.prefix, 0), 0u) << c.n;
}

TEST_F(RecordDecodeTest, EventNamesPerBlock) {
  struct Case {
    uint8_t code;
    const char* page;
    const char* protect_csv;
    const char* normal_csv;
  };
  const Case cases[] = {
      {0x80, "Reserve", "Reserve", "Reserve"},
      {0x81, "Charge Start", "Charge Start", "Charge Start"},
      {0x82, "Charge Stop", "Charge Stop", "Charge Stop"},
      {0x83, "Discharge Start", "Discharge Start", "Discharge Start"},
      {0x84, "Discharge Stop", "Discharge Stop", "Discharge Stop"},
      {0x85, "Sleep", "Sleep", "Sleep"},
      {0x86, "Wake Up", "Wake Up", "Wake Up"},
      {0x87, "Deep Sleep", "Deep Sleep", "Deep Sleep"},
      {0x88, "Reset", "Reset", "Reset"},
      {0x89, "Protect Release", "Protect Release", "Protect Release"},
      {0x8A, "FSC", "FSC", "FSC"},
      {0x8B, "Storage Temp", "Storage Temp", "Storage Temp"},
      {0x91, "Temperature Error", "Null ", "Temperature Error"},
      {0x8C, "Not Exist", "Null ", "Not Exist"},
      {0xFF, "Not Exist", "Null ", "Not Exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int{c.code});
    const HistoryRecord r = Record({.flag = c.code});
    for (HistoryBlock block : kBlocks) {
      const std::string line = RecordPageLine(block, 1, r);
      const std::string tail = std::string("Ptt/Evt : 1 , Event : ") + c.page + " . ";
      EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
      const std::string csv_name = block == HistoryBlock::Protect ? c.protect_csv : c.normal_csv;
      const std::string row = RecordCsvRow(block, r);
      EXPECT_EQ(row.substr(row.size() - csv_name.size() - 5), csv_name + " , \r\n") << row;
    }
  }
}

TEST_F(RecordDecodeTest, CsvRows) {
  struct Case {
    HistoryBlock block;
    uint8_t flag;
    const char* row;
  };
  const Case cases[] = {
      {HistoryBlock::Protect, 0x45, "2026.12.9 , 14.3.9 , -1500 , 52000 , 80 , -10 , 32769 , 300 , 0 , 1 , 0 , 0 , 0 , 1 , 0 , 1 , Null , \r\n"},
      {HistoryBlock::Lead, 0x45, "2026.12.9 , 14.3.9 , -1500 , 52000 , 80 , -10 , 32769 , 300 , 0 , 1 , 0 , 0 , 0 , 1 , 0 , 1 ,  Null , \r\n"},
      {HistoryBlock::Last, 0x3A, "2026.12.9 , 14.3.9 , -1500 , 52000 , 80 , -10 , 32769 , 300 , 0 , 0 , 1 , 1 , 1 , 0 , 1 , 0 ,  Null , \r\n"},
      {HistoryBlock::Protect, 0x91, "2026.12.9 , 14.3.9 , -1500 , 52000 , 80 , -10 , 32769 , 300 , 1 ,  Null ,  Null ,  Null ,  Null ,  Null ,  Null ,  Null , Null  , \r\n"},
      {HistoryBlock::Last, 0x82, "2026.12.9 , 14.3.9 , -1500 , 52000 , 80 , -10 , 32769 , 300 , 1 ,  Null ,  Null ,  Null ,  Null ,  Null ,  Null ,  Null , Charge Stop , \r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << Ix(c.block) << " flag " << std::hex << int{c.flag});
    // The checksum result does not appear in the CSV.
    EXPECT_EQ(RecordCsvRow(c.block, Record({.flag = c.flag})), c.row);
    EXPECT_EQ(RecordCsvRow(c.block, Record({.flag = c.flag, .good_checksum = false})), c.row);
  }
}

TEST_F(RecordDecodeTest, CsvHeaderBytes) {
  std::ostringstream protect, lead, last;
  EXPECT_TRUE(WriteRecordHeaderRow(HistoryBlock::Protect, protect));
  EXPECT_TRUE(WriteRecordHeaderRow(HistoryBlock::Lead, lead));
  EXPECT_TRUE(WriteRecordHeaderRow(HistoryBlock::Last, last));
  EXPECT_EQ(protect.str(),
            "Date, Time, Pack Current (mA), Pack Voltage (mV), SOC, T1(\xA2\x58"
            "C), Volt Diff, Cycle Count, Ptt/Evt Flag, Chg/Dsg, UT, OT, SC, OC, UV, OV, Event, \r\n");
  const std::string normal =
      "Date, Time, Pack Current (mA), Pack Voltage (mV), SOC, T1(Degree C), Volt Diff, Cycle Count, Ptt/Evt Flag, Chg/Dsg, UT, OT, SC, OC, UV, OV, Event, \r\n";
  EXPECT_EQ(lead.str(), normal);
  EXPECT_EQ(last.str(), normal);
  EXPECT_EQ(RecordCsvHeader(HistoryBlock::Protect).find("T1(\u00B0C), "), 55u);
}

TEST_F(RecordDecodeTest, FailedStreamIsReported) {
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_FALSE(WriteRecordHeaderRow(HistoryBlock::Lead, out));
  EXPECT_FALSE(WriteRecordRow(ctx, HistoryBlock::Lead, out));
}

TEST_F(RecordDecodeTest, MemoLinesAndRowsFromTheCurrentRecord) {
  ctx.FormEEPROM.MemoEEPNormalLAST.set_items({"Total Package Number :   2"});
  Deliver(HistoryBlock::Last, MakeRecord({.flag = 0x82}));
  AppendRecordLine(ctx, HistoryBlock::Last, 1);
  std::ostringstream csv;
  EXPECT_TRUE(WriteRecordRow(ctx, HistoryBlock::Last, csv));
  ClearHistoryRecord(ctx, HistoryBlock::Last);
  Deliver(HistoryBlock::Last, MakeRecord({.flag = 0x45, .good_checksum = false}));
  AppendRecordLine(ctx, HistoryBlock::Last, 2);
  EXPECT_TRUE(WriteRecordRow(ctx, HistoryBlock::Last, csv));

  const std::vector<std::string> lines = ctx.FormEEPROM.MemoEEPNormalLAST.items();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Total Package Number :   2");
  EXPECT_EQ(lines[1], RecordPageLine(HistoryBlock::Last, 1, Record({.flag = 0x82})));
  EXPECT_EQ(lines[2], RecordPageLine(HistoryBlock::Last, 2, Record({.flag = 0x45, .good_checksum = false})));
  EXPECT_NE(lines[2].find(" (CheckSum Error)"), std::string::npos);
  EXPECT_EQ(csv.str(), RecordCsvRow(HistoryBlock::Last, Record({.flag = 0x82})) + RecordCsvRow(HistoryBlock::Last, Record({.flag = 0x45})));
  // The other memos are untouched.
  EXPECT_TRUE(ctx.FormEEPROM.MemoEEPProtect.items().empty());
  EXPECT_TRUE(ctx.FormEEPROM.MemoEEPNormalLEAD.items().empty());
}

}  // namespace
}  // namespace bms
