#include "sim/scenario.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace bms::sim {

uint16_t HistoryChecksum(const uint8_t* record) {
  unsigned sum = 0;
  for (size_t i = 0; i < 30; ++i) sum += record[i];
  return static_cast<uint16_t>(sum & 0xFFFF);
}

std::array<uint8_t, 32> HistoryEntry::Bytes() const {
  std::array<uint8_t, 32> b{};
  b[0] = static_cast<uint8_t>(year - 2000);
  b[1] = static_cast<uint8_t>(month);
  b[2] = static_cast<uint8_t>(day);
  b[3] = static_cast<uint8_t>(hour);
  b[4] = static_cast<uint8_t>(minute);
  b[5] = static_cast<uint8_t>(second);
  const auto u32 = static_cast<uint32_t>(current_ma);
  b[6] = static_cast<uint8_t>(u32 >> 24);
  b[7] = static_cast<uint8_t>(u32 >> 16);
  b[8] = static_cast<uint8_t>(u32 >> 8);
  b[9] = static_cast<uint8_t>(u32);
  b[10] = static_cast<uint8_t>(voltage_mv >> 24);
  b[11] = static_cast<uint8_t>(voltage_mv >> 16);
  b[12] = static_cast<uint8_t>(voltage_mv >> 8);
  b[13] = static_cast<uint8_t>(voltage_mv);
  b[14] = soc;
  b[15] = static_cast<uint8_t>(t1);
  b[16] = static_cast<uint8_t>(volt_diff_mv >> 8);
  b[17] = static_cast<uint8_t>(volt_diff_mv);
  b[18] = static_cast<uint8_t>(cycle_count >> 8);
  b[19] = static_cast<uint8_t>(cycle_count);
  b[20] = flag;
  for (size_t i = 0; i < reserved.size(); ++i) b[21 + i] = reserved[i];
  uint16_t sum = HistoryChecksum(b.data());
  if (bad_checksum) sum = static_cast<uint16_t>(~sum);
  b[30] = static_cast<uint8_t>(sum >> 8);
  b[31] = static_cast<uint8_t>(sum);
  return b;
}

uint32_t Scenario::voltage_mv() const {
  if (pack_voltage_mv) return *pack_voltage_mv;
  uint32_t sum = 0;
  for (size_t i = 0; i < cell_series && i < kMaxCells; ++i) sum += cells_mv[i];
  return sum;
}

uint8_t Scenario::status_bits() const {
  uint8_t b = 0;
  if (charging || discharging) b |= 0x80;
  if (discharging) b |= 0x40;
  if (key) b |= 0x01;
  return b;
}

namespace {

HistoryEntry Rec(int y, int mo, int d, int h, int mi, int s, int32_t ma, uint32_t mv, uint8_t soc, int8_t t1, uint16_t vd, uint16_t cyc, uint8_t flag) {
  HistoryEntry e;
  e.year = y;
  e.month = mo;
  e.day = d;
  e.hour = h;
  e.minute = mi;
  e.second = s;
  e.current_ma = ma;
  e.voltage_mv = mv;
  e.soc = soc;
  e.t1 = t1;
  e.volt_diff_mv = vd;
  e.cycle_count = cyc;
  e.flag = flag;
  return e;
}

std::array<uint8_t, 8> Page(std::initializer_list<int> v) {
  std::array<uint8_t, 8> p{};
  size_t i = 0;
  for (int x : v) p[i++] = static_cast<uint8_t>(x);
  return p;
}

}  // namespace

Scenario DefaultScenario() {
  Scenario s;
  s.cells_mv = {3901, 3898, 3905, 3902, 3899, 3904, 3900, 3897, 3903, 3906, 3901, 3899, 3902, 0};
  for (size_t i = 0; i < kMaxCells; ++i) s.raw_cells_mv[i] = s.cells_mv[i] ? static_cast<uint16_t>(s.cells_mv[i] + 4 + i % 3) : 0;
  s.cell_resistance_mohm = {25, 24, 26, 25, 23, 25, 24, 26, 25, 24, 25, 26, 24};
  // 101-point SOC-OCV curve, interpolated between a few knots (SOC %, mV).
  static const int knots[][2] = {{0, 3000}, {5, 3300}, {10, 3450}, {20, 3550}, {40, 3650}, {60, 3780}, {80, 3950}, {90, 4060}, {100, 4200}};
  for (int soc = 0; soc <= 100; ++soc) {
    size_t k = 0;
    while (knots[k + 1][0] < soc) ++k;
    const int s0 = knots[k][0], v0 = knots[k][1], s1 = knots[k + 1][0], v1 = knots[k + 1][1];
    s.soc_ocv[static_cast<size_t>(soc)] = static_cast<uint16_t>(v0 + (v1 - v0) * (soc - s0) / (s1 - s0));
  }
  s.protection = {
      Page({55, 50, 2, 2, 0, 5, 2, 2}),                  // COT, CUT (°C, s)
      Page({65, 60, 2, 2, -20, -15, 2, 2}),              // DOT, DUT
      Page({0x00, 0x1F, 0x40, 0x00, 0x1B, 0x58, 4, 8}),  // COC 8000 / 7000 mA
      Page({0x00, 0x75, 0x30, 0x00, 0x6D, 0x60, 2, 8}),  // DOC 30000 / 28000 mA
      Page({0x10, 0x9A, 0x10, 0x36, 2, 2, 0, 0}),        // SW OV 4250 / 4150 mV
      Page({0x0A, 0x8C, 0x0B, 0xB8, 2, 2, 0, 0}),        // SW UV 2700 / 3000 mV
  };
  s.protect_records = {
      Rec(2026, 6, 14, 15, 20, 33, -18500, 46100, 12, 38, 21, 18, 0x04),
      Rec(2026, 9, 21, 6, 45, 12, -800, 38350, 0, 12, 35, 29, 0x02),
  };
  s.lead_records = {
      Rec(2026, 3, 2, 9, 12, 5, 4800, 47500, 20, 22, 12, 1, kEventChargeStart),
      Rec(2026, 3, 2, 11, 40, 31, 0, 54500, 100, 28, 9, 1, kEventChargeStop),
      Rec(2026, 3, 3, 8, 1, 17, -6200, 53900, 99, 23, 10, 1, kEventDischargeStart),
      Rec(2026, 3, 3, 10, 22, 48, 0, 48100, 31, 30, 14, 1, kEventDischargeStop),
  };
  s.last_records = {
      Rec(2026, 12, 7, 17, 55, 2, 4800, 47900, 22, 24, 11, 36, kEventChargeStart),  Rec(2026, 12, 7, 20, 10, 44, 0, 54400, 100, 29, 8, 36, kEventChargeStop),
      Rec(2026, 12, 8, 7, 30, 10, 4600, 51200, 70, 21, 9, 37, kEventChargeStart),   Rec(2026, 12, 8, 8, 12, 55, 0, 54450, 100, 26, 7, 37, kEventChargeStop),
      Rec(2026, 12, 8, 9, 0, 0, -1520, 54000, 99, 25, 8, 37, kEventDischargeStart),
  };
  return s;
}

// ---------------------------------------------------------------------------
// Scenario text files.

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> SplitList(std::string_view s) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    const size_t p = s.find(',', start);
    out.push_back(Trim(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start)));
    if (p == std::string_view::npos) break;
    start = p + 1;
  }
  return out;
}

// Cuts a trailing comment: '#' after a blank, outside double quotes.
std::string_view StripComment(std::string_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted && (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])))) return line.substr(0, i);
  }
  return line;
}

class Parser {
 public:
  Parser(Scenario& s) : s_(s) { Register(); }

  bool line(std::string_view key, std::string_view value, std::string& err) {
    std::string k(key);
    for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto it = handlers_.find(k);
    if (it == handlers_.end()) {
      err = "unknown key";
      return false;
    }
    key_ = k;
    return it->second(value, err);
  }

  void finish() {
    if (cells_set_ && !raw_set_) s_.raw_cells_mv = s_.cells_mv;
  }

 private:
  using Handler = std::function<bool(std::string_view, std::string&)>;

  static bool Int(std::string_view v, int64_t lo, int64_t hi, int64_t* out, std::string& err) {
    v = Trim(v);
    std::string_view digits = v;
    bool neg = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
      neg = digits[0] == '-';
      digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      digits.remove_prefix(2);
      base = 16;
    }
    uint64_t mag = 0;
    const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), mag, base);
    if (digits.empty() || ec != std::errc() || p != digits.data() + digits.size()) {
      err = "'" + std::string(v) + "' is not a number";
      return false;
    }
    if (mag > (static_cast<uint64_t>(1) << 62)) {
      err = "'" + std::string(v) + "' is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
      return false;
    }
    const int64_t x = neg ? -static_cast<int64_t>(mag) : static_cast<int64_t>(mag);
    if (x < lo || x > hi) {
      err = "'" + std::string(v) + "' is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
      return false;
    }
    *out = x;
    return true;
  }

  static bool Bool(std::string_view v, bool* out, std::string& err) {
    v = Trim(v);
    std::string t(v);
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "1" || t == "yes" || t == "true" || t == "on") {
      *out = true;
    } else if (t == "0" || t == "no" || t == "false" || t == "off") {
      *out = false;
    } else {
      err.assign("'").append(v).append("' is not a yes/no value (1, 0, yes, no, true, false, on, off)");
      return false;
    }
    return true;
  }

  static bool Text(std::string_view v, size_t max, std::string* out, std::string& err) {
    v = Trim(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.size() > max) {
      err = "text '" + std::string(v) + "' is longer than " + std::to_string(max) + " characters";
      return false;
    }
    *out = std::string(v);
    return true;
  }

  // A comma-separated list of at most `max` (exactly `max` when exact) numbers.
  static bool List(std::string_view v, size_t max, bool exact, int64_t lo, int64_t hi, std::vector<int64_t>* out, std::string& err) {
    const auto items = SplitList(v);
    if (items.size() > max || (exact && items.size() != max)) {
      err = "expected " + std::string(exact ? "exactly " : "at most ") + std::to_string(max) + " comma-separated values, got " + std::to_string(items.size());
      return false;
    }
    out->clear();
    for (size_t i = 0; i < items.size(); ++i) {
      int64_t x = 0;
      if (!Int(items[i], lo, hi, &x, err)) {
        err = "value " + std::to_string(i + 1) + ": " + err;
        return false;
      }
      out->push_back(x);
    }
    return true;
  }

  static bool DateTime(std::string_view v, LocalTime* t, std::string& err) {
    v = Trim(v);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    const std::string text(v);
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) {
      err = "'" + text + "' is not a date and time (YYYY-MM-DD HH:MM:SS)";
      return false;
    }
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 2000 || y > 2255 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap) || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
      err = "'" + text + "' is not a valid date and time (years 2000-2255)";
      return false;
    }
    *t = LocalTime{y, mo, d, h, mi, s, 0};
    return true;
  }

  template <typename T>
  void Number(const char* key, T* field, int64_t lo, int64_t hi) {
    handlers_[key] = [=](std::string_view v, std::string& err) {
      int64_t x = 0;
      if (!Int(v, lo, hi, &x, err)) return false;
      *field = static_cast<T>(x);
      return true;
    };
  }

  void Flag(const char* key, bool* field) {
    handlers_[key] = [=](std::string_view v, std::string& err) { return Bool(v, field, err); };
  }

  template <typename T, size_t N>
  void Array(const char* key, std::array<T, N>* field, size_t max, bool exact, int64_t lo, int64_t hi, bool* set_flag = nullptr) {
    handlers_[key] = [=](std::string_view v, std::string& err) {
      std::vector<int64_t> xs;
      if (!List(v, max, exact, lo, hi, &xs, err)) return false;
      field->fill(0);
      for (size_t i = 0; i < xs.size(); ++i) (*field)[i] = static_cast<T>(xs[i]);
      if (set_flag) *set_flag = true;
      return true;
    };
  }

  void Barcode(const char* key, std::optional<std::string>* field, size_t max) {
    handlers_[key] = [=](std::string_view v, std::string& err) {
      if (Trim(v) == "absent") {
        field->reset();
        return true;
      }
      std::string t;
      if (!Text(v, max, &t, err)) return false;
      *field = t;
      return true;
    };
  }

  void Records(const char* key, std::vector<HistoryEntry>* list) {
    handlers_[key] = [this, list, key](std::string_view v, std::string& err) {
      if (!started_.count(key)) {
        list->clear();  // the first line of a block replaces the built-in records
        started_[key] = true;
      }
      if (Trim(v) == "none") return true;
      const auto items = SplitList(v);
      if (items.size() != 8 && items.size() != 9) {
        err = "a history record needs 8 values: date time, current mA, voltage mV, SOC %, T1 C, volt diff mV, cycles, flag (and optionally bad-checksum)";
        return false;
      }
      HistoryEntry e;
      LocalTime t;
      int64_t x[7] = {};
      if (!DateTime(items[0], &t, err)) return false;
      static const int64_t lo[7] = {INT32_MIN, 0, 0, -128, 0, 0, 0};
      static const int64_t hi[7] = {INT32_MAX, UINT32_MAX, 255, 127, 65535, 65535, 255};
      static const char* names[7] = {"current", "voltage", "SOC", "T1", "volt diff", "cycles", "flag"};
      for (size_t i = 0; i < 7; ++i) {
        if (!Int(items[i + 1], lo[i], hi[i], &x[i], err)) {
          err = std::string(names[i]) + ": " + err;
          return false;
        }
      }
      if (items.size() == 9) {
        if (items[8] != "bad-checksum") {
          err = "the ninth value of a history record can only be 'bad-checksum'";
          return false;
        }
        e.bad_checksum = true;
      }
      e.year = t.year;
      e.month = t.month;
      e.day = t.day;
      e.hour = t.hour;
      e.minute = t.minute;
      e.second = t.second;
      e.current_ma = static_cast<int32_t>(x[0]);
      e.voltage_mv = static_cast<uint32_t>(x[1]);
      e.soc = static_cast<uint8_t>(x[2]);
      e.t1 = static_cast<int8_t>(x[3]);
      e.volt_diff_mv = static_cast<uint16_t>(x[4]);
      e.cycle_count = static_cast<uint16_t>(x[5]);
      e.flag = static_cast<uint8_t>(x[6]);
      list->push_back(e);
      return true;
    };
  }

  static void Put(std::array<uint8_t, 12>& c, size_t at, uint64_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) c[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
  }

  void Register() {
    Number("cell_series", &s_.cell_series, 0, 14);
    Number("cell_parallel", &s_.cell_parallel, 0, 255);
    Array("cells", &s_.cells_mv, kMaxCells, false, 0, 65535, &cells_set_);
    Array("raw_cells", &s_.raw_cells_mv, kMaxCells, false, 0, 65535, &raw_set_);
    Number("rsoc", &s_.rsoc, 0, 255);
    Number("asoc", &s_.asoc, 0, 255);
    Number("cycle_count", &s_.cycle_count, 0, 65535);
    Number("design_capacity", &s_.design_capacity_mah, 0, UINT32_MAX);
    Number("full_charge_capacity", &s_.full_charge_capacity_mah, 0, UINT32_MAX);
    Number("remaining_capacity", &s_.remaining_capacity_mah, 0, UINT32_MAX);
    Number("total_charge_capacity", &s_.total_charge_capacity_mah, 0, (int64_t{1} << 48) - 1);
    Number("total_discharge_capacity", &s_.total_discharge_capacity_mah, 0, UINT32_MAX);
    Number("current", &s_.pack_current_ma, INT32_MIN, INT32_MAX);
    handlers_["voltage"] = [this](std::string_view v, std::string& err) {
      if (Trim(v) == "auto") {
        s_.pack_voltage_mv.reset();
        return true;
      }
      int64_t x = 0;
      if (!Int(v, 0, UINT32_MAX, &x, err)) return false;
      s_.pack_voltage_mv = static_cast<uint32_t>(x);
      return true;
    };
    Number("t1", &s_.t1, -128, 127);
    Number("t2", &s_.t2, -128, 127);
    Number("t3", &s_.t3, -128, 127);
    Flag("charging", &s_.charging);
    Flag("discharging", &s_.discharging);
    Flag("key", &s_.key);
    Number("protection_flags", &s_.protection_flags, 0, 255);
    handlers_["model"] = [this](std::string_view v, std::string& err) { return Text(v, 12, &s_.model_name, err); };
    handlers_["status_fw_version"] = [this](std::string_view v, std::string& err) {
      std::string t(Trim(v));
      int a = -1, b = -1;
      char tail = 0;
      if (std::sscanf(t.c_str(), "%d.%d%c", &a, &b, &tail) != 2 || a < 0 || a > 255 || b < 0 || b > 255) {
        err = "'" + t + "' is not MAJOR.MINOR (0-255 each)";
        return false;
      }
      s_.fw_major = static_cast<uint8_t>(a);
      s_.fw_minor = static_cast<uint8_t>(b);
      return true;
    };
    handlers_["fw_version"] = [this](std::string_view v, std::string& err) {
      std::string t(Trim(v));
      int a = -1, b = -1, c = -1;
      char tail = 0;
      if (std::sscanf(t.c_str(), "%d.%d.%d%c", &a, &b, &c, &tail) != 3 || a < 0 || a > 255 || b < 0 || b > 255 || c < 0 || c > 255) {
        err = "'" + t + "' is not A.B.C (0-255 each)";
        return false;
      }
      s_.fw_version = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c)};
      return true;
    };
    Array("t1t2_swap", &s_.t1t2_swap, 2, true, 0, 255);
    Array("customer", &s_.customer, 12, false, 0, 255);
    handlers_["customer_xj"] = [this](std::string_view v, std::string& err) {
      std::vector<int64_t> x;
      if (!List(v, 4, true, -128, UINT32_MAX, &x, err)) return false;
      if (x[0] < 0 || x[0] > 65535 || x[1] < 0 || x[1] > 65535 || x[2] > 255 || x[3] < 0) {
        err = "customer_xj: current and counter 0-65535, temperature -128..255, capacity 0-4294967295";
        return false;
      }
      s_.customer.fill(0);
      Put(s_.customer, 0, static_cast<uint64_t>(x[0]), 2);
      Put(s_.customer, 2, static_cast<uint64_t>(x[1]), 2);
      s_.customer[4] = static_cast<uint8_t>(x[2]);
      Put(s_.customer, 5, static_cast<uint64_t>(x[3]), 4);
      return true;
    };
    handlers_["customer_pq"] = [this](std::string_view v, std::string& err) {
      std::vector<int64_t> x;
      if (!List(v, 4, true, 0, UINT32_MAX, &x, err)) return false;
      if (x[1] > 65535 || x[3] > 65535) {
        err = "customer_pq: delays are 0-65535";
        return false;
      }
      s_.customer.fill(0);
      Put(s_.customer, 0, static_cast<uint64_t>(x[0]), 4);
      Put(s_.customer, 4, static_cast<uint64_t>(x[1]), 2);
      Put(s_.customer, 6, static_cast<uint64_t>(x[2]), 4);
      Put(s_.customer, 10, static_cast<uint64_t>(x[3]), 2);
      return true;
    };
    handlers_["serial"] = [this](std::string_view v, std::string& err) { return Text(v, 8, &s_.serial_number, err); };
    Barcode("barcode_ext32", &s_.barcode_ext32, 32);
    Barcode("barcode_int32", &s_.barcode_int32, 32);
    Barcode("barcode_int16", &s_.barcode_int16, 16);
    handlers_["clock"] = [this](std::string_view v, std::string& err) {
      if (Trim(v) == "host") {
        s_.clock.reset();
        return true;
      }
      LocalTime t;
      if (!DateTime(v, &t, err)) return false;
      s_.clock = t;
      return true;
    };
    Flag("shipping_mode", &s_.shipping_mode);
    Flag("mosfet_on", &s_.mosfet_on);
    Flag("gateway_mode", &s_.gateway_mode);
    Array("cell_resistance", &s_.cell_resistance_mohm, kResistanceCells, false, 0, 65535);
    Array("soc_ocv", &s_.soc_ocv, kSocOcvEntries, false, 0, 65535);
    for (size_t p = 0; p < kProtectionPages; ++p) {
      const std::string key = "protection_page" + std::to_string(p + 1);
      handlers_[key] = [this, p](std::string_view v, std::string& err) {
        std::vector<int64_t> x;
        if (!List(v, 8, true, -128, 255, &x, err)) return false;
        for (size_t i = 0; i < 8; ++i) s_.protection[p][i] = static_cast<uint8_t>(x[i]);
        return true;
      };
    }
    EepromHeaderData& h = s_.header;
    Number("header.size", &h.size, 0, 65535);
    handlers_["header.id"] = [this](std::string_view v, std::string& err) {
      const auto items = SplitList(v);
      int64_t n = 0;
      if (items.size() != 2 || items[0].size() != 3) {
        err = "header.id is three characters and a number, e.g. 'BMS, 1'";
        return false;
      }
      if (!Int(items[1], 0, 255, &n, err)) return false;
      s_.header.id = {static_cast<uint8_t>(items[0][0]), static_cast<uint8_t>(items[0][1]), static_cast<uint8_t>(items[0][2]), static_cast<uint8_t>(n)};
      return true;
    };
    Number("header.current_unit", &h.current_unit, 0, 255);
    Number("header.voltage_unit", &h.voltage_unit, 0, 255);
    Number("header.volt_diff_unit", &h.volt_diff_unit, 0, 255);
    Number("header.max_volt_diff", &h.max_volt_diff, 0, 65535);
    Number("header.warranty_cycles", &h.warranty_cycles, 0, 65535);
    Number("header.warranty_capacity", &h.warranty_capacity_percent, 0, 255);
    Number("header.warranty_months", &h.warranty_months, 0, 255);
    handlers_["header.cell_type"] = [this](std::string_view v, std::string& err) { return Text(v, 16, &s_.header.cell_type, err); };
    Number("header.cycle_count", &h.cycle_count, 0, 65535);
    Number("header.total_charge_capacity", &h.total_charge_capacity, INT32_MIN, INT32_MAX);
    Array("header.event_totals", &h.event_totals, 10, false, 0, 65535);
    Array("header.flag_totals", &h.flag_totals, 8, false, INT32_MIN, INT32_MAX);
    Array("header.flag_extremes", &h.flag_extremes, 7, false, INT32_MIN, INT32_MAX);
    Records("protect", &s_.protect_records);
    Records("lead", &s_.lead_records);
    Records("last", &s_.last_records);
    handlers_["latency_ms"] = [this](std::string_view v, std::string& err) {
      int64_t x = 0;
      if (!Int(v, 0, 10000, &x, err)) return false;
      s_.latency_us = x * 1000;
      return true;
    };
    Number("auto_wake_ms", &s_.auto_wake_ms, 0, 86400000);
    Flag("asleep", &s_.asleep);
    handlers_["fault"] = [this](std::string_view v, std::string& err) {
      Fault f;
      bool silent = false;
      if (!ParseFaultText(v, f, &silent, err)) return false;
      if (silent) {
        s_.silent = true;
      } else {
        s_.faults.push_back(f);
      }
      return true;
    };
  }

  Scenario& s_;
  std::map<std::string, Handler> handlers_;
  std::map<std::string, bool> started_;
  std::string key_;
  bool cells_set_ = false;
  bool raw_set_ = false;
};

}  // namespace

bool ParseScenario(const std::string& text, const std::string& origin, Scenario& s, std::string& error) {
  Scenario work = s;
  Parser parser(work);
  std::istringstream in(text);
  std::string raw;
  int line_no = 0;
  while (std::getline(in, raw)) {
    ++line_no;
    std::string_view line = Trim(StripComment(raw));
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    std::string why;
    if (eq == std::string_view::npos) {
      why = "expected 'key = value'";
    } else {
      const std::string_view key = Trim(line.substr(0, eq));
      if (key.empty()) {
        why = "missing key before '='";
      } else if (!parser.line(key, Trim(line.substr(eq + 1)), why)) {
        why = std::string(key) + ": " + why;
      } else {
        continue;
      }
    }
    error = origin + ":" + std::to_string(line_no) + ": " + why;
    return false;
  }
  parser.finish();
  s = std::move(work);
  return true;
}

bool LoadScenario(const std::string& path, Scenario& s, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = "cannot read scenario file '" + path + "': " + (std::filesystem::exists(path, ec) ? "not a regular file" : "no such file");
    return false;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read scenario file '" + path + "'";
    return false;
  }
  std::ostringstream text;
  text << f.rdbuf();
  if (f.bad()) {
    error = "cannot read scenario file '" + path + "'";
    return false;
  }
  return ParseScenario(text.str(), path, s, error);
}

}  // namespace bms::sim
