// The virtual pack's history model: what a generated life holds, and the
// scenario key that sets it.
#include "sim/history_model.h"

#include <gtest/gtest.h>

namespace bms::sim {
namespace {

TEST(HistoryModelTest, AGeneratedLifeHasTheCountsTheEventsAndValidChecksums) {
  Scenario s = DefaultScenario();
  std::string err;
  ASSERT_TRUE(ParseScenario("history = lead=40, last=120, protect=4, seed=5, sleep_at_zero_hours=30, bad_checksum=last:9\n", "t", s, err)) << err;
  ASSERT_EQ(s.lead_records.size(), 40u);
  ASSERT_EQ(s.last_records.size(), 120u);
  EXPECT_LE(s.protect_records.size(), 4u);
  EXPECT_FALSE(s.protect_records.empty());
  int deep_at_zero = 0, full = 0, bad = 0;
  for (const auto* list : {&s.lead_records, &s.last_records}) {
    for (const HistoryEntry& e : *list) {
      const auto b = e.Bytes();
      const uint16_t sum = HistoryChecksum(b.data());
      bad += b[30] != (sum >> 8) || b[31] != (sum & 0xFF);
      deep_at_zero += e.flag == 0x87 && e.soc == 0;
      full += e.flag == kEventChargeStop && e.soc > 80;
    }
  }
  EXPECT_EQ(bad, 1);
  EXPECT_TRUE(s.last_records[8].bad_checksum);
  EXPECT_EQ(deep_at_zero, 1) << "one deep discharge, in the LAST block";
  EXPECT_GT(full, 10);
  // The same seed gives the same life.
  Scenario again = DefaultScenario();
  ASSERT_TRUE(ParseScenario("history = lead=40, last=120, protect=4, seed=5, sleep_at_zero_hours=30, bad_checksum=last:9\n", "t", again, err));
  EXPECT_EQ(again.last_records.back().Bytes(), s.last_records.back().Bytes());
  EXPECT_GT(s.header.event_totals[0], 0);
}

TEST(HistoryModelTest, UnansweredChunkBecomesAFaultRuleOnThatRecord) {
  Scenario s = DefaultScenario();
  std::string err;
  ASSERT_TRUE(ParseScenario("history = lead=5, last=5, unanswered_chunk=lead:3/2\n", "t", s, err)) << err;
  ASSERT_EQ(s.faults.size(), 1u);
  const Fault& f = s.faults[0];
  EXPECT_EQ(f.action, FaultAction::Silence);
  EXPECT_EQ(f.match.address, 0x6601);
  EXPECT_EQ(f.match.length, 2);
  EXPECT_EQ(f.match.param, 3u);
}

TEST(HistoryModelTest, MalformedValuesAreRefusedWithTheirLine) {
  const char* bad[] = {
      "history = lead=5, colour=red", "history = lead=-1", "history = bad_checksum=middle:3", "history = unanswered_chunk=last:3/5", "history = unanswered_chunk=last:3",
      "history = start=2025-13-01",   "history = lead",
  };
  for (const char* text : bad) {
    Scenario s = DefaultScenario();
    const auto before = s.last_records.size();
    std::string err;
    EXPECT_FALSE(ParseScenario(std::string("# pack\n") + text + "\n", "pack.scenario", s, err)) << text;
    EXPECT_EQ(err.rfind("pack.scenario:2: history: ", 0), 0u) << err;
    EXPECT_EQ(s.last_records.size(), before);
  }
}

}  // namespace
}  // namespace bms::sim
