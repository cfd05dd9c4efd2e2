#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace bms::sim {
namespace {

std::string ExampleFile() { return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "docs" / "examples" / "worn-pack.scenario").string(); }

TEST(Scenario, DefaultIsAPlausible13SPack) {
  const Scenario s = DefaultScenario();
  EXPECT_EQ(s.cell_series, 13);
  for (size_t i = 0; i < 13; ++i) {
    EXPECT_GT(s.cells_mv[i], 3800);
    EXPECT_LT(s.cells_mv[i], 4000);
  }
  EXPECT_EQ(s.cells_mv[13], 0);
  EXPECT_TRUE(s.barcode_ext32 && s.barcode_int32 && s.barcode_int16);
  EXPECT_FALSE(s.protect_records.empty());
  EXPECT_FALSE(s.lead_records.empty());
  int charge_stops = 0;
  for (const auto& r : s.last_records) charge_stops += r.flag == kEventChargeStop;
  EXPECT_GE(charge_stops, 2);
  EXPECT_EQ(s.soc_ocv[0], 3000);
  EXPECT_EQ(s.soc_ocv[100], 4200);
  EXPECT_EQ(s.voltage_mv(), 50717u);
}

TEST(Scenario, ExampleFileLoads) {
  Scenario s = DefaultScenario();
  std::string error;
  ASSERT_TRUE(LoadScenario(ExampleFile(), s, error)) << error;
  EXPECT_EQ(s.cells_mv[9], 3644);
  EXPECT_EQ(s.raw_cells_mv[9], 3650);
  EXPECT_EQ(s.rsoc, 38);
  EXPECT_EQ(s.pack_current_ma, -4350);
  EXPECT_FALSE(s.pack_voltage_mv.has_value());
  EXPECT_EQ(s.t1t2_swap[1], 0xFF);
  EXPECT_FALSE(s.barcode_ext32.has_value());
  EXPECT_EQ(*s.barcode_int32, "LP13S4P-2024-118733");
  EXPECT_EQ(s.serial_number, "K7Q20391");
  ASSERT_TRUE(s.clock.has_value());
  EXPECT_EQ(s.clock->hour, 8);
  EXPECT_EQ(s.cell_resistance_mohm[9], 41);
  EXPECT_EQ(s.protection[1][4], 0xEC);
  EXPECT_EQ(s.protection[2], DefaultScenario().protection[2]) << "pages not given keep the built-in values";
  EXPECT_EQ(s.protect_records.size(), 3u);
  EXPECT_EQ(s.lead_records.size(), 3u);
  ASSERT_EQ(s.last_records.size(), 7u);
  EXPECT_TRUE(s.last_records[6].bad_checksum);
  EXPECT_EQ(s.protect_records[1].t1, -8);
  EXPECT_EQ(s.header.flag_extremes[4], -8);
  EXPECT_TRUE(s.faults.empty());
}

TEST(Scenario, ListsAndSpecialValues) {
  Scenario s = DefaultScenario();
  std::string error;
  const std::string text =
      "cells = 4000, 4001\n"
      "lead = none\n"
      "last = 2026-12-01 10:00:00, 100, 50000, 90, 25, 5, 7, 0x82  # one record\n"
      "barcode_int16 = \"# not a comment\"\n"
      "barcode_ext32 =\n"
      "clock = host\n"
      "customer_pq = 30000, 500, 8000, 1000\n"
      "fault = 0x1005:until=3:silence\n"
      "fault = silent\n"
      "latency_ms = 7\n";
  ASSERT_TRUE(ParseScenario(text, "test", s, error)) << error;
  EXPECT_EQ(s.cells_mv[0], 4000);
  EXPECT_EQ(s.cells_mv[2], 0);
  EXPECT_EQ(s.raw_cells_mv, s.cells_mv) << "raw cells follow the cells when not given";
  EXPECT_TRUE(s.lead_records.empty());
  ASSERT_EQ(s.last_records.size(), 1u);
  EXPECT_EQ(s.last_records[0].flag, 0x82);
  EXPECT_EQ(*s.barcode_int16, "# not a comment");
  EXPECT_EQ(*s.barcode_ext32, "") << "an empty barcode is present but blank";
  EXPECT_FALSE(s.clock.has_value());
  EXPECT_EQ(s.customer[0] << 24 | s.customer[1] << 16 | s.customer[2] << 8 | s.customer[3], 30000);
  EXPECT_EQ(s.customer[10] << 8 | s.customer[11], 1000);
  ASSERT_EQ(s.faults.size(), 1u);
  EXPECT_EQ(s.faults[0].match.address, 0x1005);
  EXPECT_TRUE(s.silent);
  EXPECT_EQ(s.latency_us, 7000);
}

TEST(Scenario, MalformedLinesAreRejectedWithTheirNumber) {
  struct Case {
    const char* line;
    const char* message_part;
  };
  const Case cases[] = {
      {"cells = 3900, 3901, x", "value 3: 'x' is not a number"},
      {"cells = 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15", "at most 14"},
      {"colour = blue", "colour: unknown key"},
      {"just some words", "expected 'key = value'"},
      {"= 5", "missing key"},
      {"rsoc = 300", "out of range 0..255"},
      {"t1 = -129", "out of range -128..127"},
      {"current = 99999999999", "out of range"},
      {"model = A-MODEL-NAME-TOO-LONG", "longer than 12"},
      {"serial = 123456789", "longer than 8"},
      {"charging = maybe", "not a yes/no value"},
      {"clock = yesterday", "not a date and time"},
      {"clock = 2026-02-30 25:00:00", "not a valid date"},
      {"lead = 2026-12-01 00:00:00, 0, 0", "needs 8 values"},
      {"lead = 2026-12-01 00:00:00, 0, 0, 0, 0, 0, 0, 0x181", "flag: '0x181' is out of range"},
      {"lead = 2026-12-01 00:00:00, 0, 0, 0, 0, 0, 0, 0x81, oops", "only be 'bad-checksum'"},
      {"protection_page1 = 1, 2, 3", "exactly 8"},
      {"protection_page7 = 1, 2, 3, 4, 5, 6, 7, 8", "unknown key"},
      {"header.id = BMSX, 1", "three characters and a number"},
      {"fault = 0x1001:explode", "unknown action"},
      {"status_fw_version = 2", "MAJOR.MINOR"},
      {"fw_version = 2.14", "A.B.C"},
      {"t1t2_swap = 0", "exactly 2"},
      {"customer_xj = 1, 2, 3", "exactly 4"},
      {"latency_ms = 20000", "out of range"},
  };
  for (const Case& c : cases) {
    Scenario s = DefaultScenario();
    std::string error;
    const std::string text = "# header comment\nrsoc = 12\n" + std::string(c.line) + "\nasoc = 1\n";
    EXPECT_FALSE(ParseScenario(text, "pack.scenario", s, error)) << c.line;
    EXPECT_NE(error.find("pack.scenario:3: "), std::string::npos) << c.line << " -> " << error;
    EXPECT_NE(error.find(c.message_part), std::string::npos) << c.line << " -> " << error;
    EXPECT_EQ(s.rsoc, DefaultScenario().rsoc) << "a rejected file changes nothing";
  }
}

TEST(Scenario, UnreadableFiles) {
  Scenario s = DefaultScenario();
  std::string error;
  EXPECT_FALSE(LoadScenario("/nonexistent/pack.scenario", s, error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;
  EXPECT_FALSE(LoadScenario(std::filesystem::temp_directory_path().string(), s, error));
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

}  // namespace
}  // namespace bms::sim
