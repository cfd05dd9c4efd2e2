#include "sim/virtual_pack.h"

#include <gtest/gtest.h>

#include <numeric>

#include "core/context.h"
#include "core/link/frame.h"
#include "sim/pack_helpers.h"

namespace bms::sim {
namespace {

using namespace bms::sim::testing;

// A scenario with values chosen so that every field is recognisable on the wire.
Scenario Known() {
  Scenario s;
  s.cell_series = 13;
  s.cell_parallel = 4;
  for (size_t i = 0; i < kMaxCells; ++i) {
    s.cells_mv[i] = static_cast<uint16_t>(3800 + i);
    s.raw_cells_mv[i] = static_cast<uint16_t>(3900 + i);
  }
  s.asoc = 97;
  s.rsoc = 55;
  s.cycle_count = 0x0123;
  s.design_capacity_mah = 0x00012345;
  s.total_charge_capacity_mah = 0x123456789ABCull;
  s.full_charge_capacity_mah = 0x0001E240;
  s.remaining_capacity_mah = 0x00001F40;
  s.total_discharge_capacity_mah = 0x01020304;
  s.pack_current_ma = -1500;
  s.pack_voltage_mv = 50700;
  s.t1 = -10;
  s.t2 = 0;
  s.t3 = 45;
  s.charging = true;
  s.discharging = false;
  s.key = true;
  s.protection_flags = 0x05;
  s.model_name = "ABC";
  s.fw_major = 3;
  s.fw_minor = 7;
  s.fw_version = {2, 14, 3};
  s.t1t2_swap = {0x00, 0xFF};
  s.customer = {0x0B, 0xB8, 0x00, 0x07, 0x2D, 0x00, 0x00, 0x27, 0x10, 0, 0, 0};
  s.serial_number = "SN12";
  s.barcode_ext32 = "EXTERNAL-BARCODE-0123456789-ABCD";  // 32 characters
  s.barcode_int32 = "INT32";
  s.barcode_int16 = "INTERNAL16-12345";
  s.clock = LocalTime{2026, 12, 9, 14, 3, 9, 0};
  s.shipping_mode = true;
  for (size_t i = 0; i < kResistanceCells; ++i) s.cell_resistance_mohm[i] = static_cast<uint16_t>(20 + i);
  for (size_t i = 0; i < kSocOcvEntries; ++i) s.soc_ocv[i] = i <= 100 ? static_cast<uint16_t>(3000 + 10 * i) : 0;
  s.protection[1] = {65, 60, 2, 2, 0xEC, 0xF1, 2, 2};
  s.header.size = 0x0100;
  s.header.id = {'B', 'M', 'S', 1};
  s.header.cell_type = "INR18650-25R";
  s.header.total_charge_capacity = -2;
  s.header.event_totals = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  s.header.flag_totals = {11, 12, 13, 14, 15, 16, 17, 18};
  s.header.flag_extremes = {5200, 18500, 41, 48, -5, 4198, 2950};
  HistoryEntry e;
  e.year = 2026;
  e.month = 12;
  e.day = 9;
  e.hour = 14;
  e.minute = 3;
  e.second = 9;
  e.current_ma = -1500;
  e.voltage_mv = 50700;
  e.soc = 80;
  e.t1 = -10;
  e.volt_diff_mv = 12;
  e.cycle_count = 37;
  e.flag = 0x45;
  s.protect_records = {e};
  s.lead_records = {e, e};
  e.flag = kEventChargeStop;
  s.last_records = {e, e, e};
  s.latency_us = 3000;
  return s;
}

class PackTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  VirtualPack pack{clock, Known()};
};

TEST_F(PackTest, StatusBlockCarriesEveryFieldAtItsPlace) {
  const auto block = Send(pack, StatusPoll());
  ASSERT_EQ(block.size(), 96u);
  struct Field {
    size_t at;
    std::vector<uint8_t> bytes;
    const char* what;
  };
  const Field fields[] = {
      {0, {0x4A}, "start"},
      {1, {97}, "ASOC"},
      {2, {55}, "RSOC"},
      {3, {0x01, 0x23}, "cycle count"},
      {5, {0x00, 0x01, 0x23, 0x45}, "design capacity"},
      {9, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, "total charge capacity, 48 bits"},
      {15, {0x00, 0x01, 0xE2, 0x40}, "full charge capacity"},
      {19, {0x00, 0x00, 0x1F, 0x40}, "remaining capacity"},
      {23, {0xFF, 0xFF, 0xFA, 0x24}, "current -1500 mA"},
      {27, {0x00, 0x00, 0xC6, 0x0C}, "voltage 50700 mV"},
      {31, {'A', 'B', 'C', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, "model name, space padded"},
      {43, {3, 7}, "firmware major, minor"},
      {45, {13, 4}, "series, parallel"},
      {47, {0x81}, "status bits: current flowing (charging) and key"},
      {48, {0x05}, "protection flags"},
      {49, {0x00}, "unused"},
      {50, {0xF6, 0x00, 45}, "T1 -10, T2 0, T3 45"},
      {53, {0, 0, 0}, "unused"},
      {56, {'S', 'N', '1', '2', 0, 0, 0, 0}, "serial number"},
      {64, {0x0B, 0xB8, 0x00, 0x07, 0x2D, 0x00, 0x00, 0x27, 0x10, 0, 0, 0}, "customer fields"},
      {76, std::vector<uint8_t>(19, 0), "unused tail"},
  };
  for (const Field& f : fields) {
    const std::vector<uint8_t> got(block.begin() + static_cast<std::ptrdiff_t>(f.at), block.begin() + static_cast<std::ptrdiff_t>(f.at + f.bytes.size()));
    EXPECT_EQ(HexBytes(got.data(), got.size()), HexBytes(f.bytes.data(), f.bytes.size())) << f.what << " at byte " << f.at;
  }
  EXPECT_EQ(block[95], static_cast<uint8_t>(std::accumulate(block.begin() + 1, block.begin() + 95, 0u)));
}

TEST_F(PackTest, StatusBitsFollowTheCurrentDirection) {
  pack.update([](Scenario& s) {
    s.charging = false;
    s.discharging = true;
    s.key = false;
  });
  EXPECT_EQ(Send(pack, StatusPoll())[47], 0xC0);
  pack.update([](Scenario& s) { s.discharging = false; });
  EXPECT_EQ(Send(pack, StatusPoll())[47], 0x00);
}

TEST_F(PackTest, VoltageDefaultsToTheSumOfTheSeriesCells) {
  pack.update([](Scenario& s) {
    s.pack_voltage_mv.reset();
    s.cell_series = 3;
  });
  const auto b = Send(pack, StatusPoll());
  EXPECT_EQ(b[27] << 24 | b[28] << 16 | b[29] << 8 | b[30], 3800 + 3801 + 3802);
}

TEST_F(PackTest, ReadReplyIsHeaderAndDataFrame) {
  const auto r = Send(pack, Request(0x1001, 1));
  const std::string expected = "40 00 03 10 01 00 01 00 00 00 00 53 0D 40 00 04 0E D8 0E D9 0E DA 0E DB 44 0D";
  EXPECT_EQ(HexBytes(r.data(), r.size()), expected);
}

TEST_F(PackTest, RegisterDataTable) {
  struct Case {
    uint16_t address, length;
    uint32_t param;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {0x0005, 0, 0, Bytes({2, 14, 3, 0, 0, 0, 0, 0})},
      {0x0006, 0, 0, Bytes({0x00, 0xFF, 0, 0, 0, 0, 0, 0})},
      {0x1001, 3, 0, Bytes({0x0E, 0xE0, 0x0E, 0xE1, 0x0E, 0xE2, 0x0E, 0xE3})},
      {0x1001, 4, 0, Bytes({0x0E, 0xE4, 0x0E, 0xE5, 0, 0, 0, 0})},
      {0x1005, 0, 0, Bytes({26, 12, 9, 14, 3, 9, 0, 0})},
      {0x100B, 4, 0, Bytes({0x0F, 0x48, 0x0F, 0x49, 0, 0, 0, 0})},
      {0x100C, 13, 0, Bytes({0, 32, 0, 0, 0, 0, 0, 0})},
      {0x100D, 1, 0, Bytes({0x0B, 0xB8, 0x0B, 0xC2, 0x0B, 0xCC, 0x0B, 0xD6})},
      {0x100D, 26, 0, Bytes({0x0F, 0xA0, 0, 0, 0, 0, 0, 0})},
      {0x100E, 1, 0, Bytes({0, 0, 0, 0, 1, 2, 3, 4})},
      {0x2001, 1, 0, Bytes({'S', 'N', '1', '2', 0, 0, 0, 0})},
      {0x2008, 2, 0, Bytes({'1', '6', '-', '1', '2', '3', '4', '5'})},
      {0x200A, 1, 0, Bytes({'I', 'N', 'T', '3', '2', 0, 0, 0})},
      {0x200A, 2, 0, Bytes({0, 0, 0, 0, 0, 0, 0, 0})},
      {0x6207, 4, 0, Bytes({'7', '8', '9', '-', 'A', 'B', 'C', 'D'})},
      {0x200B, 0, 0, Bytes({1, 0, 0, 0, 0, 0, 0, 0})},
      {0x3300, 2, 0, Bytes({65, 60, 2, 2, 0xEC, 0xF1, 2, 2})},
      {0x6100, 0, 0, Bytes({0x01, 0x00, 0, 0, 0, 0, 0, 0})},
      {0x6101, 0, 0, Bytes({'B', 'M', 'S', 1, 0, 0, 0, 0})},
      {0x6204, 2, 0, Bytes({'-', '2', '5', 'R', 0, 0, 0, 0})},
      {0x6206, 0, 0, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 0})},
      {0x6305, 0, 0, Bytes({0, 6, 0, 0, 0, 0, 0, 0})},
      {0x6404, 0, 0, Bytes({0, 0, 0, 15, 0xFF, 0xFF, 0xFF, 0xFB})},
      {0x6407, 0, 0, Bytes({0, 0, 0, 18, 0, 0, 0, 0})},
      {0x6500, 0, 0, Bytes({0, 1, 0, 0, 0, 0, 0, 0})},
      {0x6600, 0, 0, Bytes({0, 2, 0, 0, 0, 0, 0, 0})},
      {0x6602, 0, 0, Bytes({0, 3, 0, 0, 0, 0, 0, 0})},
      {0x6601, 1, 2, Bytes({26, 12, 9, 14, 3, 9, 0xFF, 0xFF})},
      {0x6603, 3, 3, Bytes({0x00, 0x0C, 0x00, 0x25, 0x82, 0, 0, 0})},
  };
  for (const Case& c : cases) {
    const auto got = ReadData(pack, c.address, c.length, c.param);
    EXPECT_EQ(HexBytes(got.data(), got.size()), HexBytes(c.data.data(), c.data.size()))
        << std::hex << "register 0x" << c.address << " page " << std::dec << c.length << " param " << c.param;
  }
}

TEST_F(PackTest, UnknownAddressesAndPagesGetNoAnswer) {
  pack.update([](Scenario& s) { s.barcode_int16.reset(); });
  struct Case {
    uint16_t address, length;
    uint32_t param;
  };
  const Case cases[] = {{0x1234, 0, 0}, {0x1001, 0, 0}, {0x1001, 5, 0}, {0x100C, 14, 0}, {0x100D, 27, 0}, {0x3300, 7, 0},
                        {0x6100, 1, 0}, {0x6601, 1, 0}, {0x6601, 1, 3}, {0x6601, 5, 1},  {0x2008, 1, 0},  {0x6408, 0, 0}};
  for (const Case& c : cases) EXPECT_TRUE(Send(pack, Request(c.address, c.length, c.param)).empty()) << std::hex << "0x" << c.address << " page " << c.length;
}

TEST_F(PackTest, ClockRunsOnFromItsSetting) {
  clock.advance(61500);
  EXPECT_EQ(ReadData(pack, 0x1005, 0, 0, clock.now_ms() * 1000), Bytes({26, 12, 9, 14, 4, 10, 0, 0}));
  const LocalTime t = pack.pack_clock();
  EXPECT_EQ(t.minute, 4);
  EXPECT_EQ(t.second, 10);
}

TEST_F(PackTest, WritesAreEchoedByTheHeaderFrameAlone) {
  const auto request = Send(pack, Request(0x4209, 0, 0, 1));
  EXPECT_TRUE(request.empty()) << "the request of a write waits for its payload";
  const auto echo = Send(pack, Payload({0x00}), 50000);
  EXPECT_EQ(HexBytes(echo.data(), echo.size()), "40 00 03 42 09 00 00 00 00 00 00 08 0D");
  EXPECT_FALSE(pack.shipping_mode());
  EXPECT_EQ(pack.payloads(), 1);
  EXPECT_TRUE(Send(pack, Payload({0x01}), 100000).empty()) << "a payload without its request is ignored";
  EXPECT_FALSE(pack.shipping_mode());
}

TEST_F(PackTest, WriteTable) {
  struct Case {
    const char* what;
    std::function<void(VirtualPack&)> prepare;
    uint16_t address, length;
    uint8_t count;
    std::vector<uint8_t> payload;
    uint8_t status;
    std::function<bool(VirtualPack&)> check;
  };
  const Case cases[] = {
      {"shipping mode on", nullptr, 0x4209, 0, 1, {1}, 0, [](VirtualPack& p) { return p.shipping_mode(); }},
      {"gateway mode on", nullptr, 0x0F00, 0, 1, {1}, 0, [](VirtualPack& p) { return p.gateway_mode(); }},
      {"MOSFET off", nullptr, 0x000E, 0, 1, {0xFF, 0x20}, 0, [](VirtualPack& p) { return !p.mosfet_on(); }},
      {"MOSFET payload not understood", nullptr, 0x000E, 0, 1, {0x00, 0x20}, 1, [](VirtualPack& p) { return p.mosfet_on(); }},
      {"clock set",
       nullptr,
       0x4006,
       0,
       6,
       {0x1A, 0x0C, 0x09, 0x00, 0x1E, 0x0F},
       0,
       [](VirtualPack& p) {
         const LocalTime t = p.pack_clock();
         return t.year == 2026 && t.month == 12 && t.day == 9 && t.hour == 0 && t.minute == 30 && t.second == 15;
       }},
      {"clock set with a 31st of February", nullptr, 0x4006, 0, 6, {0x1A, 0x02, 0x1F, 0x00, 0x1E, 0x0F}, 1, [](VirtualPack& p) { return p.pack_clock().month == 12; }},
      {"external EEPROM erase",
       nullptr,
       0x4103,
       0,
       1,
       {1},
       0,
       [](VirtualPack& p) {
         return p.history_count(HistoryList::Protect) == 0 && p.history_count(HistoryList::Lead) == 0 && p.history_count(HistoryList::Last) == 0 && p.erase_count(0x4103) == 1 &&
                p.scenario().header.event_totals[0] == 0;
       }},
      {"external EEPROM erase with payload 0 keeps the history",
       nullptr,
       0x4103,
       0,
       1,
       {0},
       0,
       [](VirtualPack& p) { return p.history_count(HistoryList::Last) == 3 && p.erase_count(0x4103) == 0; }},
      {"TCC erase", nullptr, 0x4101, 0, 1, {}, 0, [](VirtualPack& p) { return p.scenario().total_charge_capacity_mah == 0 && p.erase_count(0x4101) == 1; }},
      {"EEP erase", nullptr, 0x4102, 0, 1, {}, 0, [](VirtualPack& p) { return p.erase_count(0x4102) == 1; }},
      {"barcode 32 chunk goes to the external storage",
       nullptr,
       0x4009,
       1,
       8,
       {'N', 'E', 'W', '-', 'B', 'C', '0', '1'},
       0,
       [](VirtualPack& p) { return p.barcode_ext32()->substr(0, 8) == "NEW-BC01" && *p.barcode_int32() == "INT32"; }},
      {"barcode 32 chunk without external storage goes to the internal one",
       [](VirtualPack& p) { p.update([](Scenario& s) { s.barcode_ext32.reset(); }); },
       0x4009,
       2,
       8,
       {'A', 'B', 0, 0, 0, 0, 0, 0},
       0,
       [](VirtualPack& p) { return p.barcode_int32() == std::string("INT32") && p.scenario().barcode_int32->substr(8) == "AB"; }},
      {"barcode 16", nullptr, 0x4008, 1, 8, {'B', 'C', '1', '6', 0, 0, 0, 0}, 0, [](VirtualPack& p) { return *p.barcode_int16() == "BC16"; }},
      {"serial number", nullptr, 0x4001, 0, 8, {'Z', 'Y', 'X', 'W', '9', '8', '7', '6'}, 0, [](VirtualPack& p) { return p.serial_number() == "ZYXW9876"; }},
      {"cell resistance of cell 5", nullptr, 0x3400, 5, 2, {0x04, 0xD2}, 0, [](VirtualPack& p) { return p.scenario().cell_resistance_mohm[4] == 1234; }},
      {"protection page 3", nullptr, 0x4400, 3, 8, {1, 2, 3, 4, 5, 6, 7, 8}, 0, [](VirtualPack& p) { return p.scenario().protection[2][7] == 8; }},
      {"SOC-OCV page 1",
       nullptr,
       0x4500,
       1,
       8,
       {0x0B, 0xB8, 0x0C, 0x1C, 0x0C, 0x80, 0x0C, 0xE4},
       0,
       [](VirtualPack& p) { return p.scenario().soc_ocv[3] == 3300 && p.scenario().soc_ocv[4] == 3040; }},
      {"SOC-OCV page 26 carries entry 100 only",
       nullptr,
       0x4500,
       26,
       2,
       {0x10, 0x68, 0xFF, 0xFF},
       0,
       [](VirtualPack& p) { return p.scenario().soc_ocv[100] == 4200 && p.scenario().soc_ocv[101] == 0; }},
  };
  for (const Case& c : cases) {
    VirtualClock clk;
    VirtualPack p(clk, Known());
    if (c.prepare) c.prepare(p);
    const auto echo = Write(p, c.address, c.length, c.payload, c.count);
    clk.advance_to(100);  // the payload went at 50 ms
    ASSERT_EQ(echo.size(), 13u) << c.what;
    EXPECT_EQ(echo[2], kFrameReplyHeader) << c.what;
    EXPECT_EQ(echo[3] << 8 | echo[4], c.address) << c.what;
    EXPECT_EQ(echo[5] << 8 | echo[6], c.length) << c.what;
    EXPECT_EQ(echo[10], c.status) << c.what;
    EXPECT_EQ(echo[11], FrameChecksum(echo.data())) << c.what;
    EXPECT_TRUE(c.check(p)) << c.what;
  }
}

TEST_F(PackTest, WritesToUnknownRegistersOrMissingStoragesAreNotAnswered) {
  pack.update([](Scenario& s) { s.barcode_int16.reset(); });
  EXPECT_TRUE(Write(pack, 0x4321, 0, {1}).empty());
  EXPECT_TRUE(Write(pack, 0x4008, 1, {'X'}).empty());
  EXPECT_TRUE(Write(pack, 0x4009, 5, {'X'}).empty());
  EXPECT_TRUE(Write(pack, 0x3400, 14, {0, 1}).empty());
}

TEST_F(PackTest, SleepSilencesThePackUntilWoken) {
  int64_t t = 0;
  for (uint16_t reg : {0x4205, 0x4206}) {
    pack.update([](Scenario& s) { s.shipping_mode = false; });
    EXPECT_TRUE(Send(pack, Request(reg, 0), t).empty());
    EXPECT_EQ(pack.sleep_state(), reg == 0x4205 ? SleepState::Sleep : SleepState::DeepSleep);
    EXPECT_TRUE(Send(pack, StatusPoll(), t + 100000).empty());
    EXPECT_TRUE(Send(pack, Request(0x1001, 1), t + 200000).empty());
    EXPECT_TRUE(Write(pack, 0x4209, 0, {1}, 1, t + 300000).empty());
    EXPECT_FALSE(pack.shipping_mode()) << "a sleeping pack changes nothing";
    pack.wake();
    EXPECT_EQ(Send(pack, StatusPoll(), t + 400000).size(), 96u);
    t += 1000000;
  }
  EXPECT_EQ(pack.request_count(0x1001, 1), 2) << "requests are counted even while the pack sleeps";
}

TEST_F(PackTest, AutoWakeAfterTheScenarioDelay) {
  pack.update([](Scenario& s) { s.auto_wake_ms = 2000; });
  Send(pack, Request(0x4205, 0), 0);
  EXPECT_TRUE(Send(pack, StatusPoll(), 1000000).empty());
  EXPECT_EQ(Send(pack, StatusPoll(), 2100000).size(), 96u);
  EXPECT_FALSE(pack.sleeping());
}

TEST_F(PackTest, ShuEnableIsAcknowledgedExactly) {
  const ShuEnableConfig shu = DefaultShuEnableConfig();
  ASSERT_EQ(shu.request.size(), 22u);
  ASSERT_EQ(shu.acknowledge.size(), 23u);
  EXPECT_EQ(Send(pack, shu.request), shu.acknowledge);
  EXPECT_EQ(pack.shu_enables(), 1);
  std::vector<uint8_t> wrong = shu.request;
  wrong[5] ^= 0x20;
  EXPECT_TRUE(Send(pack, wrong, 100000).empty());
}

TEST(PackHistory, DefaultRecordsCarryCorrectChecksumsAndChargeStops) {
  VirtualClock clock;
  VirtualPack pack(clock);
  int charge_stops = 0;
  int64_t t = 0;
  const std::pair<uint16_t, uint16_t> blocks[] = {{0x6500, 0x6501}, {0x6600, 0x6601}, {0x6602, 0x6603}};
  for (const auto& [count_reg, record_reg] : blocks) {
    const auto count_data = ReadData(pack, static_cast<uint16_t>(count_reg), 0, 0, t += 100000);
    ASSERT_EQ(count_data.size(), 8u);
    const int count = count_data[0] << 8 | count_data[1];
    EXPECT_GT(count, 0) << std::hex << count_reg;
    for (int n = 1; n <= count; ++n) {
      std::vector<uint8_t> rec;
      for (uint16_t chunk = 1; chunk <= 4; ++chunk) {
        const auto d = ReadData(pack, static_cast<uint16_t>(record_reg), chunk, static_cast<uint32_t>(n), t += 100000);
        ASSERT_EQ(d.size(), 8u);
        rec.insert(rec.end(), d.begin(), d.end());
      }
      const unsigned sum = std::accumulate(rec.begin(), rec.begin() + 30, 0u) & 0xFFFF;
      EXPECT_EQ(rec[30], sum >> 8) << "record " << n << " of 0x" << std::hex << record_reg;
      EXPECT_EQ(rec[31], sum & 0xFF) << "record " << n << " of 0x" << std::hex << record_reg;
      if (rec[20] == kEventChargeStop) ++charge_stops;
    }
  }
  EXPECT_GE(charge_stops, 2);
}

TEST(PackHistory, RecordBytesFollowTheLayout) {
  HistoryEntry e;
  e.year = 2026;
  e.month = 12;
  e.day = 9;
  e.hour = 14;
  e.minute = 3;
  e.second = 9;
  e.current_ma = -1500;
  e.voltage_mv = 50700;
  e.soc = 80;
  e.t1 = -10;
  e.volt_diff_mv = 300;
  e.cycle_count = 0x0102;
  e.flag = 0x45;
  const auto b = e.Bytes();
  EXPECT_EQ(HexBytes(b.data(), 21), "1A 0C 09 0E 03 09 FF FF FA 24 00 00 C6 0C 50 F6 01 2C 01 02 45");
  const uint16_t sum = HistoryChecksum(b.data());
  EXPECT_EQ(b[30] << 8 | b[31], sum);
  e.bad_checksum = true;
  const auto bad = e.Bytes();
  EXPECT_NE(bad[30] << 8 | bad[31], sum);
}

// ---- the host stream ----

TEST_F(PackTest, AnswerStartsAfterTheRequestAndTheLatency) {
  const auto bursts = pack.receive(Request(0x1001, 1).data(), 13, 1000000, kBaud);
  ASSERT_EQ(bursts.size(), 1u);
  const double spacing = ByteTimeUs(kBaud);
  EXPECT_NEAR(spacing, 520.83, 0.01);
  EXPECT_EQ(bursts[0].offset_us, WireOffsetUs(13, spacing) + 3000);
  EXPECT_EQ(bursts[0].spacing_us, spacing);
  EXPECT_EQ(bursts[0].bytes.size(), 26u);
}

TEST_F(PackTest, SplitGluedAndNoisyInputIsParsed) {
  const auto req = Request(0x1001, 2);
  // Split in two writes.
  EXPECT_TRUE(Send(pack, {req.begin(), req.begin() + 5}, 0).empty());
  EXPECT_EQ(Send(pack, {req.begin() + 5, req.end()}, 3000).size(), 26u);
  // Garbage, a broken frame and a good one glued together.
  std::vector<uint8_t> mix = {0x00, 0x40, 0x13, 0xFF};
  auto broken = Request(0x1001, 3);
  broken[11] ^= 1;
  mix.insert(mix.end(), broken.begin(), broken.end());
  mix.insert(mix.end(), req.begin(), req.end());
  const auto r = Send(pack, mix, 100000);
  ASSERT_EQ(r.size(), 26u);
  EXPECT_EQ(r[6], 2) << "only the good frame (page 2) is answered";
  // Two requests in one write: two answers, one after the other on the line.
  std::vector<uint8_t> two = Request(0x1001, 1);
  const auto poll = StatusPoll();
  two.insert(two.end(), poll.begin(), poll.end());
  const auto bursts = pack.receive(two.data(), two.size(), 200000, kBaud);
  ASSERT_EQ(bursts.size(), 2u);
  EXPECT_EQ(bursts[0].bytes.size(), 26u);
  EXPECT_EQ(bursts[1].bytes.size(), 96u);
  EXPECT_GE(bursts[1].offset_us, bursts[0].offset_us + WireOffsetUs(26, bursts[0].spacing_us));
}

TEST_F(PackTest, StalePartialInputIsDiscarded) {
  // The end of a status poll 10 ms after its start completes it...
  EXPECT_TRUE(Send(pack, {0x26, 0x0D}, 0).empty());
  EXPECT_EQ(Send(pack, {0x0A}, 10000).size(), 96u);
  // ...but not 300 ms later: the start was thrown away meanwhile.
  EXPECT_TRUE(Send(pack, {0x26, 0x0D}, 1000000).empty());
  EXPECT_TRUE(Send(pack, {0x0A}, 1300000).empty());
  // A complete frame after a stale partial one is answered.
  const auto req = Request(0x0005, 0);
  Send(pack, {req.begin(), req.begin() + 4}, 2000000);
  EXPECT_EQ(Send(pack, req, 2300000).size(), 26u);
}

TEST_F(PackTest, CountsEveryRequest) {
  Send(pack, Request(0x1001, 1));
  Send(pack, Request(0x1001, 2), 100000);
  Send(pack, Request(0x1234, 0), 200000);
  Send(pack, StatusPoll(), 300000);
  EXPECT_EQ(pack.request_count(0x1001), 2);
  EXPECT_EQ(pack.request_count(0x1001, 2), 1);
  EXPECT_EQ(pack.request_count(0x1234), 1);
  EXPECT_EQ(pack.status_polls(), 1);
  pack.reset_counters();
  EXPECT_EQ(pack.request_count(0x1001), 0);
}

}  // namespace
}  // namespace bms::sim
