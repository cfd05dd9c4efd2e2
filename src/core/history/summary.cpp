#include "core/history/summary.h"

#include <cstdio>

namespace bms {

namespace {

// Days since 1970-01-01 of a Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

HistoryStamp StampOf(const RecordFields& f) { return {f.year, f.month, f.day, f.hour, f.minute}; }

std::string SummaryDateText(const HistoryStamp& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d-%d-%d %d:%d", t.year, t.month, t.day, t.hour, t.minute);
  return buf;
}

int64_t HoursBetween(const HistoryStamp& from, const HistoryStamp& to) {
  const int64_t days = DaysFromCivil(to.year, to.month, to.day) - DaysFromCivil(from.year, from.month, from.day);
  return days * 24 + to.hour - from.hour;
}

std::string DurationText(int64_t hours) {
  if (hours == 0) return "0 hour";
  if (hours == 1) return "1 hour";
  if (hours < 24) return std::to_string(hours) + " hours";
  if (hours == 24) return "1 day";
  return std::to_string(hours / 24) + " days" + " " + std::to_string(hours % 24) + " hours";
}

HistorySummary NewHistorySummary(int present_soc) {
  HistorySummary s;
  s.lowest_discharge_soc = present_soc;
  return s;
}

void ApplySummaryRules(HistorySummary& s, const RecordFields& f, uint32_t design_capacity_mah, SummaryLabels& out) {
  const HistoryStamp t = StampOf(f);
  const int soc = f.soc;
  // 1. Last charge.
  if (f.flag == kSummaryChargeStop && (!s.last_charge || t > *s.last_charge)) {
    s.last_charge = t;
    s.last_charge_soc = f.soc;
    out.LastChgDate = SummaryDateText(t);
    out.LastChgSOC = std::to_string(soc) + " %";
  }
  // 2. Full charge.
  if (soc > 80 && f.flag == kSummaryChargeStop) {
    if (!s.first_full) {
      s.first_full = s.last_full = t;
      out.FstFullChgDate = out.LastFullChgDate = SummaryDateText(t);
    } else {
      if (t < *s.first_full) {
        s.first_full = t;
        out.FstFullChgDate = SummaryDateText(t);
      }
      if (t > *s.last_full) {
        s.last_full = t;
        out.LastFullChgDate = SummaryDateText(t);
      }
    }
  }
  // 3. Depletion.
  if (f.flag == kSummaryDischargeStop) {
    if (!s.discharge_seen) {
      s.discharge_seen = true;
      s.lowest_discharge_soc = soc;
      s.first_depletion = s.last_depletion = t;
      out.FstDsgDepletionDate = out.LastDsgDepletionDate = SummaryDateText(t);
    } else if (soc <= s.lowest_discharge_soc) {
      s.lowest_discharge_soc = soc;
      if (t < *s.first_depletion) {
        s.first_depletion = t;
        out.FstDsgDepletionDate = SummaryDateText(t);
      }
      if (t > *s.last_depletion) {
        s.last_depletion = t;
        out.LastDsgDepletionDate = SummaryDateText(t);
      }
    }
  }
  // 4. Sleep at zero.
  if (soc == 0 && f.flag == kSummaryDeepSleep) {
    ++s.sleep_zero_count;
    if (!s.sleep_zero_start || t < *s.sleep_zero_start) s.sleep_zero_start = t;
    out.MaxChgLowSOCsinceDate = SummaryDateText(*s.sleep_zero_start);
    return;  // rule 5 is not applied to this record
  }
  // 5. Recharge after the sleep.
  if (f.flag == kSummaryChargeStop && s.sleep_zero_start && !s.recharge && t > *s.sleep_zero_start) {
    s.recharge = t;
    out.ExtDsgRecAtDate = SummaryDateText(t);
  }
  if (s.sleep_zero_count == 1 && s.recharge && !s.duration_done) {
    s.duration_done = true;
    out.MaxDurationLowSOC0Hours = DurationText(HoursBetween(*s.sleep_zero_start, *s.recharge));
    const int64_t cap = static_cast<int64_t>(s.lowest_discharge_soc) * static_cast<int64_t>(design_capacity_mah) / 100;
    out.SOC0ChgCap = std::to_string(cap) + " mAh";
  }
}

}  // namespace bms
