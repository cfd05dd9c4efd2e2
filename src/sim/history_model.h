#pragma once
// A pack's life as EEPROM history: the virtual pack's record blocks
// generated from a model of daily use (docs/virtual-pack.md, "History
// model"), with correct checksums, plus the two history faults a test needs
// (a record stored with a bad checksum, a chunk the pack does not answer).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/clock.h"
#include "sim/scenario.h"

namespace bms::sim {

enum class HistoryBlockName { Protect, Lead, Last };

// A record of a block, by its 1-based record number.
struct HistoryRecordRef {
  HistoryBlockName block = HistoryBlockName::Last;
  uint32_t record = 1;
};

struct HistoryModel {
  int protect_count = 12;  // protection records kept
  int lead_count = 200;    // the first records of the pack's life
  int last_count = 300;    // the latest records
  LocalTime start{2025, 1, 6, 7, 30, 0, 0};
  uint32_t seed = 1;
  // One deep discharge to 0 %, after which the pack sleeps at 0 % for this
  // many hours before it is charged again (0: no deep discharge).
  int sleep_at_zero_hours = 29;
  // Every n-th charge ends full (100 %); the others stop between 60 and 95 %.
  int full_charge_every = 3;
  std::vector<HistoryRecordRef> bad_checksum;      // stored with a wrong checksum
  std::vector<HistoryRecordRef> unanswered_chunk;  // chunk `chunk` of the record gets no answer
  std::vector<uint16_t> unanswered_chunk_no;       // the chunk of each unanswered_chunk entry (1-4)
};

// Fills s.protect_records, s.lead_records, s.last_records and the header's
// event totals and extremes from the model, and adds the fault rules.
void ApplyHistoryModel(const HistoryModel& m, Scenario& s);

// The scenario key `history`: comma-separated NAME=VALUE items (see
// docs/virtual-pack.md). False with `err` on a malformed value.
bool ParseHistoryModel(std::string_view text, HistoryModel& m, std::string& err);
bool ApplyHistoryModelText(std::string_view text, Scenario& s, std::string& err);

}  // namespace bms::sim
