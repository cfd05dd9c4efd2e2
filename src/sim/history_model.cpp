#include "sim/history_model.h"

#include <algorithm>
#include <cstdio>

namespace bms::sim {

namespace {

constexpr uint8_t kDeepSleepEvent = 0x87;
// Protection flag bytes (bit 6 set: during discharge).
constexpr uint8_t kProtectOverCurrentDsg = 0x44;
constexpr uint8_t kProtectUnderVoltage = 0x42;
constexpr uint8_t kProtectOverTempChg = 0x10;

// A small deterministic generator, the same on every platform.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : x_(seed * 2654435761u + 1u) {}
  uint32_t next() {
    x_ = x_ * 1664525u + 1013904223u;
    return x_ >> 8;
  }
  int range(int lo, int hi) { return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1)); }

 private:
  uint32_t x_;
};

struct Life {
  const HistoryModel& m;
  const Scenario& s;
  Lcg rng;
  LocalTime now;
  int soc = 85;
  double cycles = 0;
  int charges = 0;
  std::vector<HistoryEntry> records;
  std::vector<HistoryEntry> protect;

  Life(const HistoryModel& model, const Scenario& scenario) : m(model), s(scenario), rng(model.seed), now(model.start) {}

  void advance_minutes(int minutes) { now = AddMilliseconds(now, static_cast<int64_t>(minutes) * 60000); }

  uint32_t voltage(int32_t current_ma) const {
    const int series = std::max<int>(1, s.cell_series);
    const int ocv = s.soc_ocv[static_cast<size_t>(std::clamp(soc, 0, 100))] != 0 ? s.soc_ocv[static_cast<size_t>(std::clamp(soc, 0, 100))] : 3000 + 12 * soc;
    const int64_t mv = static_cast<int64_t>(series) * ocv + current_ma / 20;  // about 50 mOhm of pack resistance
    return static_cast<uint32_t>(std::max<int64_t>(mv, 0));
  }

  HistoryEntry entry(int32_t current_ma, uint8_t flag) {
    HistoryEntry e;
    e.year = now.year;
    e.month = now.month;
    e.day = now.day;
    e.hour = now.hour;
    e.minute = now.minute;
    e.second = now.second;
    e.current_ma = current_ma;
    e.voltage_mv = voltage(current_ma);
    e.soc = static_cast<uint8_t>(std::clamp(soc, 0, 100));
    e.t1 = static_cast<int8_t>(rng.range(18, 34));
    e.volt_diff_mv = static_cast<uint16_t>(soc < 10 ? rng.range(30, 80) : rng.range(5, 25));
    e.cycle_count = static_cast<uint16_t>(cycles);
    e.flag = flag;
    return e;
  }

  void add(int32_t current_ma, uint8_t flag) { records.push_back(entry(current_ma, flag)); }
  void protection(int32_t current_ma, uint8_t flags) {
    HistoryEntry e = entry(current_ma, flags);
    if (flags == kProtectOverTempChg) e.t1 = static_cast<int8_t>(rng.range(46, 52));
    protect.push_back(e);
  }

  void discharge(int to_soc, int32_t current_ma, int minutes) {
    add(current_ma, kEventDischargeStart);
    advance_minutes(minutes);
    cycles += (soc - to_soc) / 100.0;
    soc = to_soc;
    add(0, kEventDischargeStop);
  }

  void charge(int to_soc) {
    add(4800, kEventChargeStart);
    advance_minutes(std::max(20, (to_soc - soc) * 2));
    soc = to_soc;
    add(0, kEventChargeStop);
    ++charges;
  }

  // One day of use: a discharge, a rest asleep, a charge.
  void day() {
    advance_minutes(rng.range(0, 90));
    const int32_t current = -rng.range(5000, 15000);
    const int to = std::max(5, soc - rng.range(25, 60));
    if (rng.range(1, 12) == 1) protection(-rng.range(21000, 26000), kProtectOverCurrentDsg);
    discharge(to, current, rng.range(60, 180));
    add(0, kEventSleep);
    advance_minutes(rng.range(240, 600));
    add(0, kEventWakeUp);
    const bool full = m.full_charge_every > 0 && (charges + 1) % m.full_charge_every == 0;
    if (rng.range(1, 25) == 1) protection(4800, kProtectOverTempChg);
    charge(full ? 100 : std::max(soc + 5, rng.range(60, 95)));
  }

  // The one deep discharge: down to 0 %, asleep at 0 % for hours, charged full.
  void deep_discharge() {
    advance_minutes(rng.range(30, 90));
    add(-rng.range(6000, 9000), kEventDischargeStart);
    advance_minutes(rng.range(120, 240));
    cycles += soc / 100.0;
    soc = 0;
    protection(-1200, kProtectUnderVoltage);
    add(0, kEventDischargeStop);
    advance_minutes(5);
    add(0, kDeepSleepEvent);
    advance_minutes(m.sleep_at_zero_hours * 60);
    add(0, kEventWakeUp);
    charge(100);
  }

  void start_next_day() {
    LocalTime next = AddMilliseconds(now, 24LL * 3600 * 1000);
    next.hour = 7;
    next.minute = 30;
    next.second = 0;
    next.millisecond = 0;
    if (next.year * 10000 + next.month * 100 + next.day <= now.year * 10000 + now.month * 100 + now.day) next = AddMilliseconds(next, 24LL * 3600 * 1000);
    now = next;
    if (rng.range(1, 7) == 1) now = AddMilliseconds(now, 24LL * 3600 * 1000);  // a day unused
  }
};

uint16_t RecordRegister(HistoryBlockName b) {
  switch (b) {
    case HistoryBlockName::Protect:
      return 0x6501;
    case HistoryBlockName::Lead:
      return 0x6601;
    case HistoryBlockName::Last:
      break;
  }
  return 0x6603;
}

std::vector<HistoryEntry>* ListOf(Scenario& s, HistoryBlockName b) {
  switch (b) {
    case HistoryBlockName::Protect:
      return &s.protect_records;
    case HistoryBlockName::Lead:
      return &s.lead_records;
    case HistoryBlockName::Last:
      break;
  }
  return &s.last_records;
}

std::string_view Trim(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

bool ParseInt(std::string_view v, int lo, int hi, int* out, std::string& err) {
  const std::string t(Trim(v));
  char* end = nullptr;
  const long x = std::strtol(t.c_str(), &end, 10);
  if (t.empty() || *end != '\0' || x < lo || x > hi) {
    err = "'" + t + "' is not a number from " + std::to_string(lo) + " to " + std::to_string(hi);
    return false;
  }
  *out = static_cast<int>(x);
  return true;
}

// BLOCK:RECORD, e.g. last:17.
bool ParseRef(std::string_view v, HistoryRecordRef* ref, std::string& err) {
  v = Trim(v);
  const size_t colon = v.find(':');
  const std::string_view block = colon == std::string_view::npos ? std::string_view{} : v.substr(0, colon);
  if (block == "protect") {
    ref->block = HistoryBlockName::Protect;
  } else if (block == "lead") {
    ref->block = HistoryBlockName::Lead;
  } else if (block == "last") {
    ref->block = HistoryBlockName::Last;
  } else {
    err = "'" + std::string(v) + "' is not BLOCK:RECORD with BLOCK protect, lead or last";
    return false;
  }
  int n = 0;
  if (!ParseInt(v.substr(colon + 1), 1, 65535, &n, err)) return false;
  ref->record = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

void ApplyHistoryModel(const HistoryModel& m, Scenario& s) {
  Life life(m, s);
  const size_t wanted = static_cast<size_t>(std::max(0, m.lead_count) + std::max(0, m.last_count));
  // The deep discharge falls in the later part of the LAST block.
  const size_t deep_at = wanted > static_cast<size_t>(m.last_count / 3) ? wanted - static_cast<size_t>(m.last_count / 3) : wanted / 2;
  bool deep_done = m.sleep_at_zero_hours <= 0;
  while (life.records.size() < wanted + 8) {
    if (!deep_done && life.records.size() >= deep_at) {
      life.deep_discharge();
      deep_done = true;
    } else {
      life.day();
    }
    life.start_next_day();
  }
  s.lead_records.assign(life.records.begin(), life.records.begin() + m.lead_count);
  s.last_records.assign(life.records.end() - m.last_count, life.records.end());
  const size_t keep = std::min(life.protect.size(), static_cast<size_t>(std::max(0, m.protect_count)));
  s.protect_records.assign(life.protect.end() - static_cast<std::ptrdiff_t>(keep), life.protect.end());

  // Header totals over the whole life.
  EepromHeaderData& h = s.header;
  h.event_totals.fill(0);
  for (const HistoryEntry& e : life.records) {
    if (e.flag >= 0x81 && e.flag <= 0x8B) {
      static const int kTotalOf[11] = {0, -1, 1, -1, 2, 3, 4, 5, 6, 7, 8};  // 0x81.. -> 0x6300.. index
      const int i = kTotalOf[e.flag - 0x81];
      if (i >= 0) ++h.event_totals[static_cast<size_t>(i)];
    }
  }
  h.flag_totals.fill(0);
  for (const HistoryEntry& e : life.protect) {
    if (e.flag & 0x04) ++h.flag_totals[1];  // DOC
    if (e.flag & 0x10) ++h.flag_totals[2];  // COT
    if (e.flag & 0x02) ++h.flag_totals[6];  // UV
  }
  h.cycle_count = static_cast<uint16_t>(life.cycles);
  s.cycle_count = h.cycle_count;

  for (const HistoryRecordRef& r : m.bad_checksum) {
    std::vector<HistoryEntry>* list = ListOf(s, r.block);
    if (r.record >= 1 && r.record <= list->size()) (*list)[r.record - 1].bad_checksum = true;
  }
  for (size_t i = 0; i < m.unanswered_chunk.size(); ++i) {
    const HistoryRecordRef& r = m.unanswered_chunk[i];
    Fault f = Fault::Make(FaultMatch::Register(RecordRegister(r.block), m.unanswered_chunk_no[i]), FaultAction::Silence);
    f.match.param = r.record;
    s.faults.push_back(f);
  }
}

bool ParseHistoryModel(std::string_view text, HistoryModel& m, std::string& err) {
  HistoryModel work = m;
  size_t pos = 0;
  while (pos <= text.size()) {
    const size_t comma = text.find(',', pos);
    const std::string_view item = Trim(text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    pos = comma == std::string_view::npos ? text.size() + 1 : comma + 1;
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      err = "'" + std::string(item) + "' is not NAME=VALUE";
      return false;
    }
    const std::string_view name = Trim(item.substr(0, eq));
    const std::string_view value = Trim(item.substr(eq + 1));
    bool ok = true;
    if (name == "protect") {
      ok = ParseInt(value, 0, 65535, &work.protect_count, err);
    } else if (name == "lead") {
      ok = ParseInt(value, 0, 65535, &work.lead_count, err);
    } else if (name == "last") {
      ok = ParseInt(value, 0, 65535, &work.last_count, err);
    } else if (name == "seed") {
      int seed = 0;
      ok = ParseInt(value, 0, 1 << 30, &seed, err);
      work.seed = static_cast<uint32_t>(seed);
    } else if (name == "sleep_at_zero_hours") {
      ok = ParseInt(value, 0, 24 * 365, &work.sleep_at_zero_hours, err);
    } else if (name == "full_charge_every") {
      ok = ParseInt(value, 0, 1000, &work.full_charge_every, err);
    } else if (name == "start") {
      const std::string t(value);
      LocalTime st{};
      char tail = 0;
      if (std::sscanf(t.c_str(), "%d-%d-%d%c", &st.year, &st.month, &st.day, &tail) != 3 || st.year < 2000 || st.year > 2200 || st.month < 1 || st.month > 12 || st.day < 1 ||
          st.day > 31) {
        err = "'" + t + "' is not a date YYYY-MM-DD";
        return false;
      }
      st.hour = 7;
      st.minute = 30;
      work.start = st;
    } else if (name == "bad_checksum") {
      HistoryRecordRef r;
      ok = ParseRef(value, &r, err);
      if (ok) work.bad_checksum.push_back(r);
    } else if (name == "unanswered_chunk") {
      // BLOCK:RECORD/CHUNK
      const size_t slash = value.rfind('/');
      if (slash == std::string_view::npos) {
        err = "'" + std::string(value) + "' is not BLOCK:RECORD/CHUNK";
        return false;
      }
      HistoryRecordRef r;
      int chunk = 0;
      ok = ParseRef(value.substr(0, slash), &r, err) && ParseInt(value.substr(slash + 1), 1, 4, &chunk, err);
      if (ok) {
        work.unanswered_chunk.push_back(r);
        work.unanswered_chunk_no.push_back(static_cast<uint16_t>(chunk));
      }
    } else {
      err = "unknown history item '" + std::string(name) + "'";
      return false;
    }
    if (!ok) return false;
  }
  m = std::move(work);
  return true;
}

bool ApplyHistoryModelText(std::string_view text, Scenario& s, std::string& err) {
  HistoryModel m;
  if (!ParseHistoryModel(text, m, err)) return false;
  ApplyHistoryModel(m, s);
  return true;
}

}  // namespace bms::sim
