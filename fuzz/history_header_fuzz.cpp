// The header registers of the EEPROM history, reply after reply into one
// header, then its page. Each reply is taken or refused as the register map
// says, and the page always has its 45 lines with each value as decoded.
#include <string>

#include "core/history/record_decode.h"
#include "fuzz_support.h"

using namespace bms;
using namespace bms::fuzz;

namespace {

bool HeaderRegister(uint16_t a, uint16_t length) {
  if (a == 0x6204) return length == 1 || length == 2;
  if (a == 0x6207) return length >= 1 && length <= 4;
  if (length != 0) return false;
  return (a >= 0x6100 && a <= 0x6104) || (a >= 0x6200 && a <= 0x6207) || (a >= 0x6300 && a <= 0x6309) || (a >= 0x6400 && a <= 0x6407);
}

std::string UpToZero(const uint8_t* b, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && b[i] != 0; ++i) s.push_back(static_cast<char>(b[i]));
  return s;
}

}  // namespace

BMS_FUZZ_TARGET(history_header) {
  Input in(data, size);
  in.u8();  // mode byte: no checksum guards the header registers
  EepromHeader h;
  while (!in.empty()) {
    // Addresses near the header: the low byte and a page of 0x61..0x64.
    const uint8_t page = in.u8();
    const uint16_t address = static_cast<uint16_t>((0x61 + (page & 0x03)) << 8 | in.u8());
    const uint16_t length = in.u8();
    std::vector<uint8_t> d = in.take(8);
    d.resize(8, 0);
    const EepromHeader before = h;
    const bool taken = DecodeHeaderReply(h, address, length, d.data());
    BMS_FUZZ_CHECK(taken == HeaderRegister(address, length), "header reply verdict for " + std::to_string(address) + "/" + std::to_string(length));
    if (!taken) {
      BMS_FUZZ_CHECK(h.Id == before.Id && h.Barcode == before.Barcode && h.EventTotals == before.EventTotals && h.FlagTotals == before.FlagTotals &&
                         h.HeaderSize == before.HeaderSize && h.CellTypeBytes == before.CellTypeBytes,
                     "a refused reply changed the header");
    }
    BMS_FUZZ_CHECK(h.Barcode == UpToZero(h.BarcodeBytes.data(), h.BarcodeBytes.size()), "barcode text");
    BMS_FUZZ_CHECK(h.CellType == UpToZero(h.CellTypeBytes.data(), h.CellTypeBytes.size()), "cell type text");
    BMS_FUZZ_CHECK(h.Id.size() <= 4 && h.Id.find('\0') == std::string::npos, "header id");
    if (taken && address >= 0x6300 && address <= 0x6309) BMS_FUZZ_CHECK(h.EventTotals[address - 0x6300u] == (d[0] << 8 | d[1]), "event total");
    if (taken && address == 0x6100) BMS_FUZZ_CHECK(h.HeaderSize == (d[0] << 8 | d[1]), "header size");
  }
  const std::vector<std::string> lines = HeaderPageLines(h);
  BMS_FUZZ_CHECK(lines.size() == 45, "the header page has " + std::to_string(lines.size()) + " lines");
  BMS_FUZZ_CHECK(lines[1] == "Header's total number of bytes :   " + std::to_string(h.HeaderSize), lines[1]);
  BMS_FUZZ_CHECK(lines[2] == "ID :   " + h.Id, lines[2]);
  BMS_FUZZ_CHECK(lines[15] == "Barcode32 :   " + h.Barcode + "   ", lines[15]);
  BMS_FUZZ_CHECK(lines[44] == "SC Total :   " + std::to_string(h.ScTotal) + "   times", lines[44]);
  return 0;
}
