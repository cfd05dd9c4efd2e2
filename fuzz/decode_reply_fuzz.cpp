// DecodeReply at any address and length, reply after reply on one Context.
// After each reply the values it decoded are checked against its bytes and
// their fields' ranges, and a reply for no register of the map must change
// nothing at all. With the fix-up, the fourth chunk of a history record
// carries the checksum of the record as decoded so far.
#include <algorithm>
#include <array>
#include <string>

#include "core/history/record_decode.h"
#include "core/monitor/decode.h"
#include "core/parameters/fw_data.h"
#include "core/parameters/fw_tables.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

// Bytes 30-31 hold the 16-bit sum of bytes 0-29, high byte first; written
// out here so the model does not lean on the code under test.
bool SumHolds(const std::array<uint8_t, 32>& b) {
  unsigned sum = 0;
  for (size_t i = 0; i < 30; ++i) sum += b[i];
  return b[30] == ((sum >> 8) & 0xFF) && b[31] == (sum & 0xFF);
}

uint16_t U16(const uint8_t* d, int i) { return static_cast<uint16_t>(d[i] << 8 | d[i + 1]); }

bool KnownRegister(uint16_t a) {
  switch (a) {
    case 0x0005:
    case 0x0006:
    case 0x1001:
    case 0x1005:
    case 0x100B:
    case 0x100C:
    case 0x100D:
    case 0x100E:
    case 0x2001:
    case 0x2008:
    case 0x200A:
    case 0x200B:
    case 0x3300:
      return true;
    default:
      return a >= 0x6100 && a <= 0x6603;
  }
}

bool IsRecordChunk(uint16_t a) { return a == 0x6501 || a == 0x6601 || a == 0x6603; }

size_t BlockOf(uint16_t a) { return a == 0x6501 ? 0 : a == 0x6601 ? 1 : 2; }

int ToInt(const std::string& s) {
  BMS_FUZZ_CHECK(!s.empty() && s.size() <= 11, "not a number: \"" + s + "\"");
  size_t at = s[0] == '-' ? 1 : 0;
  BMS_FUZZ_CHECK(at < s.size(), "not a number: \"" + s + "\"");
  long long v = 0;
  for (; at < s.size(); ++at) {
    BMS_FUZZ_CHECK(s[at] >= '0' && s[at] <= '9', "not a number: \"" + s + "\"");
    v = v * 10 + (s[at] - '0');
  }
  return static_cast<int>(s[0] == '-' ? -v : v);
}

}  // namespace

BMS_FUZZ_TARGET(decode_reply) {
  Input in(data, size);
  const uint8_t mode = in.u8();
  const bool fix = mode & 0x80;
  Bench& b = SharedBench();
  Context& ctx = b.ctx;
  TFormMain& m = ctx.FormMain;
  m.EditCellSeries.set_text(std::to_string(in.u8() % 20));
  while (!in.empty()) {
    const uint16_t address = in.u16();
    const uint16_t length = in.u16();
    std::vector<uint8_t> bytes = in.take(8);
    bytes.resize(8, 0);
    const uint8_t* d = bytes.data();
    if (fix && IsRecordChunk(address) && length == 4) {
      auto rec = ctx.History.get().record[BlockOf(address)].bytes;
      std::copy_n(bytes.begin(), 6, rec.begin() + 24);
      unsigned sum = 0;
      for (size_t i = 0; i < 30; ++i) sum += rec[i];
      bytes[6] = static_cast<uint8_t>(sum >> 8);
      bytes[7] = static_cast<uint8_t>(sum);
    }
    const size_t before = b.changes.mark();
    const LiveData live_before = ctx.Live.get();
    const HistoryState history_before = ctx.History.get();

    DecodeReply(ctx, address, length, d);

    const LiveData live = ctx.Live.get();
    const HistoryState history = ctx.History.get();
    if (!KnownRegister(address)) {
      BMS_FUZZ_CHECK(b.changes.since(before).empty(), "a reply for no register changed the display: " + Joined(b.changes.since(before)));
      BMS_FUZZ_CHECK(live.CellVoltage == live_before.CellVoltage && live.SocOcvTable == live_before.SocOcvTable && live.ClockDate == live_before.ClockDate,
                     "a reply for no register changed LiveData");
      BMS_FUZZ_CHECK(history.record[0].bytes == history_before.record[0].bytes && history.count == history_before.count, "a reply for no register changed the history");
      continue;
    }
    switch (address) {
      case 0x1001:
      case 0x100B:
        if (length >= 1 && length <= 4) {
          const int first = (length - 1) * 4 + 1;
          const int cells = length == 4 ? 2 : 4;
          const auto& table = address == 0x1001 ? live.CellVoltage : live.RawCellVoltage;
          const auto& edits = address == 0x1001 ? m.EditVCellN : m.EditVCellNoAdjustN;
          for (int k = 0; k < cells; ++k) {
            BMS_FUZZ_CHECK(table[static_cast<size_t>(first + k)] == U16(d, 2 * k), "cell voltage " + std::to_string(first + k));
            BMS_FUZZ_CHECK(edits[first + k]->text() == std::to_string(U16(d, 2 * k)), "cell voltage edit " + std::to_string(first + k));
          }
          if (address == 0x1001) {
            const int hi = ToInt(m.Edit_HVlot.text()), lo = ToInt(m.Edit_LVolt.text());
            BMS_FUZZ_CHECK(hi >= lo && lo >= 0 && hi <= 0xFFFF, "cell spread " + std::to_string(lo) + ".." + std::to_string(hi));
            BMS_FUZZ_CHECK(ToInt(m.Edit_VoltDiff.text()) == hi - lo, "cell difference");
          }
        } else {
          BMS_FUZZ_CHECK(b.changes.since(before).empty(), "a cell page outside 1..4 changed the display: " + Joined(b.changes.since(before)));
        }
        break;
      case 0x1005:
        if (live.ClockDate != live_before.ClockDate || live.ClockSeconds != live_before.ClockSeconds) {
          BMS_FUZZ_CHECK(length == 0, "the clock was taken from a reply with a length");
          BMS_FUZZ_CHECK(live.ClockMonth >= 1 && live.ClockMonth <= 12 && live.ClockDay >= 1 && live.ClockDay <= 31, "clock date out of range");
          BMS_FUZZ_CHECK(live.ClockYear >= 2000 && live.ClockYear <= 2255, "clock year");
          BMS_FUZZ_CHECK(live.ClockDate == live.ClockYear * 10000 + live.ClockMonth * 100 + live.ClockDay, "clock date");
        }
        break;
      case 0x100C:
        if (length >= 1 && length <= 13) BMS_FUZZ_CHECK(m.EditCellRN[length]->text() == std::to_string(U16(d, 0)), "cell resistance");
        break;
      case 0x100D:
        if (length >= 1 && length <= 26) {
          for (int k = 0; k < 4; ++k) BMS_FUZZ_CHECK(live.SocOcvTable[length][static_cast<size_t>(k)] == U16(d, 2 * k), "SOC-OCV point");
        } else {
          BMS_FUZZ_CHECK(live.SocOcvTable == live_before.SocOcvTable, "a SOC-OCV page outside 1..26 was stored");
        }
        break;
      case 0x3300:
        for (const ProtectionField& f : kProtectionFields) {
          const std::string text = ProtectionEdit(ctx, f).text();
          if (f.page != length) continue;
          const auto v = ParseEditNumber(text, EncodingMin(f.encoding), EncodingMax(f.encoding));
          BMS_FUZZ_CHECK(v.has_value(), std::string(f.edit) + " shows \"" + text + "\", outside its encoding");
          std::array<uint8_t, 8> page{};
          EncodeProtectionField(f, *v, page.data());
          BMS_FUZZ_CHECK(DecodeProtectionField(f, page.data()) == text, std::string(f.edit) + " does not survive encoding");
        }
        break;
      default:
        break;
    }
    for (const Control* c : {&m.EditBarCode32, &m.EditPDSN}) BMS_FUZZ_CHECK(c->text().find('\0') == std::string::npos, c->name() + " holds a zero byte");
    for (size_t k = 0; k < 3; ++k) {
      const HistoryRecord& r = history.record[k];
      BMS_FUZZ_CHECK(r.complete == ((r.chunks & 0x08) != 0), "a record is complete exactly when chunk 4 arrived");
      if (r.complete && IsRecordChunk(address) && BlockOf(address) == k && length == 4) BMS_FUZZ_CHECK(r.checksum_valid == SumHolds(r.bytes), "record checksum verdict");
      if (fix && IsRecordChunk(address) && BlockOf(address) == k && length == 4) BMS_FUZZ_CHECK(r.checksum_valid, "a mended record fails its checksum");
    }
    BMS_FUZZ_CHECK(history.header.Barcode.size() <= 32 && history.header.CellType.size() <= 16, "header texts longer than their registers");
  }
  return 0;
}
