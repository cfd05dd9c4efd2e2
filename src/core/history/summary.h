#pragma once
// The history summary of the diagnosis report: a scan over every record of
// the LEAD block and then the LAST block that keeps the last charge, the
// first and last full charge, the first and last deep discharge and the time
// spent asleep at 0 % before the next charge. Records come in record-number
// order; nothing assumes that their time stamps are in order.
#include <cstdint>
#include <optional>
#include <string>

#include "core/history/record_decode.h"

namespace bms {

// A record's time stamp, compared as (year, month, day, hour, minute).
struct HistoryStamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  auto operator<=>(const HistoryStamp&) const = default;
};

HistoryStamp StampOf(const RecordFields& f);
// "%d-%d-%d %d:%d", no leading zeros (2013-12-8 9:5).
std::string SummaryDateText(const HistoryStamp& t);
// Whole hours from `from` to `to`: calendar days x 24 + hour difference.
int64_t HoursBetween(const HistoryStamp& from, const HistoryStamp& to);
// "0 hour", "1 hour", "5 hours", "1 day", "1 days 5 hours".
std::string DurationText(int64_t hours);

inline constexpr uint8_t kSummaryChargeStop = 0x82;
inline constexpr uint8_t kSummaryDischargeStop = 0x84;
inline constexpr uint8_t kSummaryDeepSleep = 0x87;

struct HistorySummary {
  std::optional<HistoryStamp> last_charge;
  uint8_t last_charge_soc = 0;
  std::optional<HistoryStamp> first_full, last_full;
  bool discharge_seen = false;
  int lowest_discharge_soc = 0;  // the present SOC until the first Discharge Stop
  std::optional<HistoryStamp> first_depletion, last_depletion;
  int sleep_zero_count = 0;
  std::optional<HistoryStamp> sleep_zero_start;
  std::optional<HistoryStamp> recharge;
  bool duration_done = false;
};

// What the rules showed, by label; unset members were not touched.
struct SummaryLabels {
  std::optional<std::string> LastChgDate, LastChgSOC, FstFullChgDate, LastFullChgDate, FstDsgDepletionDate, LastDsgDepletionDate, MaxChgLowSOCsinceDate, ExtDsgRecAtDate,
      MaxDurationLowSOC0Hours, SOC0ChgCap;
};

// The state at the start of a reading pass: present_soc from the status block.
HistorySummary NewHistorySummary(int present_soc);

// Applies the five rules to one record, in their order.
void ApplySummaryRules(HistorySummary& s, const RecordFields& f, uint32_t design_capacity_mah, SummaryLabels& out);

}  // namespace bms
