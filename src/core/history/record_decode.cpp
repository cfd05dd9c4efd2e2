#include "core/history/record_decode.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "core/platform/cp950.h"

namespace bms {

namespace {

uint16_t U16(const uint8_t* d, int i) { return static_cast<uint16_t>(d[i] << 8 | d[i + 1]); }
int32_t S32(const uint8_t* d, int i) {
  const uint32_t v = static_cast<uint32_t>(d[i]) << 24 | static_cast<uint32_t>(d[i + 1]) << 16 | static_cast<uint32_t>(d[i + 2]) << 8 | d[i + 3];
  return static_cast<int32_t>(v);
}

template <size_t N>
std::string TextUpToZero(const std::array<uint8_t, N>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    if (b == 0) break;
    out.push_back(static_cast<char>(b));
  }
  return out;
}

struct BlockAddresses {
  uint16_t count;
  uint16_t record;
};

constexpr BlockAddresses kBlockAddresses[3] = {{0x6500, 0x6501}, {0x6600, 0x6601}, {0x6602, 0x6603}};

size_t Index(HistoryBlock block) { return static_cast<size_t>(block); }

constexpr const char* kSeparatorLine = "\n\r";

std::string Fmt(const char* format, long long value) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

std::string Fmt(const char* format, const std::string& value) {
  // Texts from the pack are bounded (ID 4, cell type 16, barcode 32 characters).
  std::string out;
  std::string_view f(format);
  const size_t at = f.find("%s");
  if (at == std::string_view::npos) return std::string(f);
  out.append(f.substr(0, at));
  out.append(value);
  out.append(f.substr(at + 2));
  return out;
}

const char* kEventNames[] = {"Reserve", "Charge Start",    "Charge Stop", "Discharge Start", "Discharge Stop", "Sleep", "Wake Up", "Deep Sleep",
                             "Reset",   "Protect Release", "FSC",         "Storage Temp"};

}  // namespace

// ---- decoders ----

bool DecodeHeaderReply(EepromHeader& h, uint16_t address, uint16_t length, const uint8_t* d) {
  if (address == 0x6204) {
    if (length != 1 && length != 2) return false;
    for (int i = 0; i < 8; ++i) h.CellTypeBytes[static_cast<size_t>((length - 1) * 8 + i)] = d[i];
    h.CellType = TextUpToZero(h.CellTypeBytes);
    return true;
  }
  if (address == 0x6207) {
    if (length < 1 || length > 4) return false;
    for (int i = 0; i < 8; ++i) h.BarcodeBytes[static_cast<size_t>((length - 1) * 8 + i)] = d[i];
    h.Barcode = TextUpToZero(h.BarcodeBytes);
    return true;
  }
  if (length != 0) return false;
  if (address >= 0x6300 && address <= 0x6309) {
    h.EventTotals[address - 0x6300u] = U16(d, 0);
    return true;
  }
  if (address >= 0x6400 && address <= 0x6406) {
    h.FlagTotals[address - 0x6400u] = S32(d, 0);
    h.FlagExtremes[address - 0x6400u] = S32(d, 4);
    return true;
  }
  switch (address) {
    case 0x6100:
      h.HeaderSize = U16(d, 0);
      return true;
    case 0x6101: {
      // Three characters and the digit "0" + byte 3; the text ends at a zero byte.
      const std::array<uint8_t, 4> id{d[0], d[1], d[2], static_cast<uint8_t>('0' + d[3])};
      h.Id = TextUpToZero(id);
      return true;
    }
    case 0x6102:
      h.CurrentUnit = d[0];
      return true;
    case 0x6103:
      h.VoltageUnit = d[0];
      return true;
    case 0x6104:
      h.VoltDiffUnit = d[0];
      return true;
    case 0x6200:
      h.MaxVoltDiff = U16(d, 0);
      return true;
    case 0x6201:
      h.WarrantyCycles = U16(d, 0);
      return true;
    case 0x6202:
      h.WarrantyCapacityPercent = d[0];
      return true;
    case 0x6203:
      h.WarrantyMonths = d[0];
      return true;
    case 0x6205:
      h.CycleCount = U16(d, 0);
      return true;
    case 0x6206:
      h.TotalChargeCapacity = S32(d, 0);
      return true;
    case 0x6407:
      h.ScTotal = S32(d, 0);
      return true;
    default:
      return false;
  }
}

bool DecodeRecordReply(HistoryState& state, HistoryBlock block, uint16_t address, uint16_t length, const uint8_t* d) {
  const size_t b = Index(block);
  const BlockAddresses& a = kBlockAddresses[b];
  if (address == a.count) {
    if (length != 0) return false;
    state.count[b] = U16(d, 0);
    state.count_valid[b] = true;
    return true;
  }
  if (address != a.record || length < 1 || length > 4) return false;
  HistoryRecord& r = state.record[b];
  if (length == 1) r = HistoryRecord{};
  for (int i = 0; i < 8; ++i) r.bytes[static_cast<size_t>((length - 1) * 8 + i)] = d[i];
  r.chunks = static_cast<uint8_t>(r.chunks | 1u << (length - 1));
  if (length == 4) {
    r.complete = true;
    r.checksum_valid = RecordChecksumValid(r.bytes);
  }
  return true;
}

void DecodeHistoryReply(Context& ctx, uint16_t address, uint16_t length, const uint8_t* data) {
  if (data == nullptr || address < 0x6100 || address > 0x6603) return;
  ctx.History.with([&](HistoryState& s) {
    if (DecodeHeaderReply(s.header, address, length, data)) return;
    for (HistoryBlock block : {HistoryBlock::Protect, HistoryBlock::Lead, HistoryBlock::Last})
      if (DecodeRecordReply(s, block, address, length, data)) return;
  });
}

void ClearHistoryRecord(Context& ctx, HistoryBlock block) {
  ctx.History.with([&](HistoryState& s) { s.record[Index(block)] = HistoryRecord{}; });
}

void ClearHistoryValues(Context& ctx) {
  ctx.History.with([](HistoryState& s) {
    auto kept = std::move(s.block_records);
    s = HistoryState{};
    s.block_records = std::move(kept);
  });
}

// ---- record fields ----

RecordFields DecodeRecordFields(const std::array<uint8_t, 32>& b) {
  RecordFields f;
  f.year = b[0] + 2000;
  f.month = b[1];
  f.day = b[2];
  f.hour = b[3];
  f.minute = b[4];
  f.second = b[5];
  f.current_ma = S32(b.data(), 6);
  f.voltage_mv = static_cast<uint32_t>(S32(b.data(), 10));
  f.soc = b[14];
  f.t1 = static_cast<int8_t>(b[15]);
  f.volt_diff_mv = U16(b.data(), 16);
  f.cycle_count = U16(b.data(), 18);
  f.flag = b[20];
  return f;
}

bool RecordChecksumValid(const std::array<uint8_t, 32>& b) {
  unsigned sum = 0;
  for (size_t i = 0; i < 30; ++i) sum += b[i];
  return b[30] == ((sum >> 8) & 0xFF) && b[31] == (sum & 0xFF);
}

std::string EventName(uint8_t code) {
  if (code >= 0x80 && code <= 0x8B) return kEventNames[code - 0x80];
  if (code == 0x91) return "Temperature Error";
  return "Not Exist";
}

std::string EventCsvName(HistoryBlock block, uint8_t code) {
  if (block == HistoryBlock::Protect && !(code >= 0x80 && code <= 0x8B)) return "Null ";
  return EventName(code);
}

// ---- pure text builders ----

std::vector<std::string> HeaderPageLines(const EepromHeader& h) {
  const auto& ev = h.EventTotals;
  const auto& ft = h.FlagTotals;
  const auto& fx = h.FlagExtremes;
  return {
      "1. EEPROM Header Block : Unit Section ",
      Fmt("Header's total number of bytes :   %lld", h.HeaderSize),
      Fmt("ID :   %s", h.Id),
      Fmt("Pack Current Unit :   %lld   mA", h.CurrentUnit),
      Fmt("Pack Volat Unit :   %lld   mV", h.VoltageUnit),
      Fmt("Voltage Diff Unit : %lld   mV", h.VoltDiffUnit),
      kSeparatorLine,
      "2. EEPROM Header Block : Battery Information Section",
      Fmt("Max Volt Diff :   %lld   mV", h.MaxVoltDiff),
      Fmt("Warranty Cycle :   %lld   times", h.WarrantyCycles),
      Fmt("Warranty Design Capacity percentage:   %lld   %%", h.WarrantyCapacityPercent),
      Fmt("Warranty Months :   %lld   ", h.WarrantyMonths),
      Fmt("Cell type 16 Bytes :   %s   ", h.CellType),
      Fmt("Cycle Count :   %lld   times", h.CycleCount),
      Fmt("Total Charge Capacity :   %lld   mAh", h.TotalChargeCapacity),
      Fmt("Barcode32 :   %s   ", h.Barcode),
      kSeparatorLine,
      "3. EEPROM Header Block : Event Information Section",
      Fmt("Charge Start Total :   %lld   times", ev[kChargeStartTotal]),
      Fmt("Discharge Start Total :   %lld   times", ev[kDischargeStartTotal]),
      Fmt("Sleep Total :   %lld   times", ev[kSleepTotal]),
      Fmt("Deep Sleep Total :   %lld times", ev[kDeepSleepTotal]),
      Fmt("Wake Up Total :   %lld times", ev[kWakeUpTotal]),
      Fmt("Reset Total :   %lld   times", ev[kResetTotal]),
      Fmt("Protecol Release Total :   %lld   times", ev[kProtectionReleaseTotal]),
      Fmt("FSC Total :   %lld   times", ev[kFscTotal]),
      Fmt("Storage Temperature total:   %lld   times", ev[kStorageTemperatureTotal]),
      Fmt("Temperature Error total:   %lld   times", ev[kTemperatureErrorTotal]),
      kSeparatorLine,
      "4. EEPROM Header Block : Flag Count Sectiion ",
      Fmt("COC Total :   %lld   times", ft[kCocFlag]),
      Fmt("Max Charge Current :   %lld   mA", fx[kCocFlag]),
      Fmt("DOC Total :   %lld   times", ft[kDocFlag]),
      Fmt("Max Discharge Current :   %lld   mA", fx[kDocFlag]),
      Fmt("COT Total :   %lld   times", ft[kCotFlag]),
      Fmt("Max Charge Temperature :   %lld   Deg. C", fx[kCotFlag]),
      Fmt("DOT Total :   %lld   times", ft[kDotFlag]),
      Fmt("Max Discharge Temperature :   %lld   Deg. C", fx[kDotFlag]),
      Fmt("CUT Total :   %lld   times", ft[kCutFlag]),
      Fmt("Min Temperature :   %lld   Deg. C", fx[kCutFlag]),
      Fmt("OV Total :   %lld   times", ft[kOvFlag]),
      Fmt("Max Cell Voltage :   %lld   mV", fx[kOvFlag]),
      Fmt("UV Total :   %lld   times", ft[kUvFlag]),
      Fmt("Min Cell Voltage :   %lld   mV", fx[kUvFlag]),
      Fmt("SC Total :   %lld   times", h.ScTotal),
  };
}

namespace {

// The seven protection bits in column order: Chg/Dsg, UT, OT, SC, OC, UV, OV.
constexpr const char* kBitNames[7] = {"Chg/Dsg", "UT", "OT", "SC", "OC", "UV", "OV"};
int Bit(uint8_t flag, int column) { return (flag >> (6 - column)) & 1; }

}  // namespace

std::string RecordPageLine(HistoryBlock block, int n, const HistoryRecord& record) {
  const RecordFields f = DecodeRecordFields(record.bytes);
  const auto s = [](long long v) { return std::to_string(v); };
  std::string line = Fmt("%04lld", n);
  line += " , ";
  line += "Date : " + s(f.year) + "." + s(f.month) + "." + s(f.day) + " , ";
  line += "Time : " + s(f.hour) + "." + s(f.minute) + "." + s(f.second) + " , ";
  line += "Current  : " + s(f.current_ma) + " mA , ";
  line += "Voltage  : " + s(f.voltage_mv) + " mV , ";
  line += "SOC  : " + s(f.soc) + " % , ";
  line += "T1  : " + s(f.t1) + (block == HistoryBlock::Protect ? " Degree C" : " Deg. C") + " , ";
  line += "VoltDiff  : " + s(f.volt_diff_mv) + " mV , ";
  line += "Cycle Cnt  : " + s(f.cycle_count) + "  , ";
  line += "Ptt/Evt : " + s(f.flag >> 7) + " , ";
  if (f.flag & 0x80) {
    line += "Event : " + EventName(f.flag) + " . ";
  } else {
    for (int c = 0; c < 7; ++c) line += std::string(kBitNames[c]) + " : " + s(Bit(f.flag, c)) + " . ";
  }
  if (!record.checksum_valid) line += " (CheckSum Error)";
  return line;
}

std::string RecordCsvHeader(HistoryBlock block) {
  std::string out = "Date, Time, Pack Current (mA), Pack Voltage (mV), SOC, ";
  out += block == HistoryBlock::Protect ? "T1(\u00B0C), " : "T1(Degree C), ";
  out += "Volt Diff, Cycle Count, Ptt/Evt Flag, Chg/Dsg, UT, OT, SC, OC, UV, OV, Event, \r\n";
  return out;
}

std::string RecordCsvHeaderCp950(HistoryBlock block) { return Utf8ToCp950(RecordCsvHeader(block)); }

std::string RecordCsvRow(HistoryBlock block, const HistoryRecord& record) {
  const RecordFields f = DecodeRecordFields(record.bytes);
  const auto s = [](long long v) { return std::to_string(v); };
  std::string row;
  row += s(f.year) + "." + s(f.month) + "." + s(f.day) + " , ";
  row += s(f.hour) + "." + s(f.minute) + "." + s(f.second) + " , ";
  row += s(f.current_ma) + " , " + s(f.voltage_mv) + " , " + s(f.soc) + " , " + s(f.t1) + " , ";
  row += s(f.volt_diff_mv) + " , " + s(f.cycle_count) + " , " + s(f.flag >> 7) + " , ";
  if (f.flag & 0x80) {
    for (int c = 0; c < 7; ++c) row += " Null , ";
    row += EventCsvName(block, f.flag) + " , ";
  } else {
    for (int c = 0; c < 7; ++c) {
      if (c) row += " , ";
      row += s(Bit(f.flag, c));
    }
    row += " , ";
    row += block == HistoryBlock::Protect ? "Null , " : " Null , ";
  }
  row += "\r\n";
  return row;
}

// ---- memos and files ----

Control& RecordMemo(Context& ctx, HistoryBlock block) {
  switch (block) {
    case HistoryBlock::Protect:
      return ctx.FormEEPROM.MemoEEPProtect;
    case HistoryBlock::Lead:
      return ctx.FormEEPROM.MemoEEPNormalLEAD;
    case HistoryBlock::Last:
      break;
  }
  return ctx.FormEEPROM.MemoEEPNormalLAST;
}

void WriteHeaderPage(Context& ctx) {
  const EepromHeader header = ctx.History.with([](HistoryState& s) { return s.header; });
  ctx.FormEEPROM.MemoEEPHeader.set_items(HeaderPageLines(header));
}

void AppendRecordLine(Context& ctx, HistoryBlock block, int n) {
  const HistoryRecord record = ctx.History.with([&](HistoryState& s) { return s.record[Index(block)]; });
  RecordMemo(ctx, block).add_item(RecordPageLine(block, n, record));
}

bool WriteRecordHeaderRow(HistoryBlock block, std::ostream& file) {
  const std::string text = RecordCsvHeaderCp950(block);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.flush();
  return static_cast<bool>(file);
}

bool WriteRecordRow(Context& ctx, HistoryBlock block, std::ostream& file) {
  const HistoryRecord record = ctx.History.with([&](HistoryState& s) { return s.record[Index(block)]; });
  const std::string row = RecordCsvRow(block, record);
  file.write(row.data(), static_cast<std::streamsize>(row.size()));
  file.flush();
  return static_cast<bool>(file);
}

}  // namespace bms
