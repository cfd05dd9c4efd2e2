// A history record of any block arriving in its four chunks (in any order,
// any of them missing), then its page line and its CSV row. With the
// fix-up, bytes 30-31 carry the record's sum so the valid path is reached.
#include <cstdio>
#include <sstream>
#include <string>

#include "core/history/record_decode.h"
#include "core/platform/cp950.h"
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

constexpr uint16_t kChunkAddress[3] = {0x6501, 0x6601, 0x6603};
constexpr uint16_t kCountAddress[3] = {0x6500, 0x6600, 0x6602};

bool EndsInCrLf(const std::string& s) { return s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0; }

}  // namespace

BMS_FUZZ_TARGET(history_record) {
  Input in(data, size);
  const uint8_t mode = in.u8();
  const bool fix = mode & 0x80;
  const auto block = static_cast<HistoryBlock>(mode % 3);
  const size_t bi = mode % 3;
  const uint8_t order = in.u8();  // bit k: chunk k+1 is sent; bit 4: chunks in reverse
  const int n = in.u16();
  std::array<uint8_t, 32> bytes{};
  const std::vector<uint8_t> got = in.take(32);
  std::copy(got.begin(), got.end(), bytes.begin());
  if (fix) {
    unsigned sum = 0;
    for (size_t i = 0; i < 30; ++i) sum += bytes[i];
    bytes[30] = static_cast<uint8_t>(sum >> 8);
    bytes[31] = static_cast<uint8_t>(sum);
  }

  HistoryState state;
  const uint8_t count_bytes[8] = {bytes[0], bytes[1], 0, 0, 0, 0, 0, 0};
  BMS_FUZZ_CHECK(DecodeRecordReply(state, block, kCountAddress[bi], 0, count_bytes), "record count reply refused");
  BMS_FUZZ_CHECK(state.count_valid[bi] && state.count[bi] == (bytes[0] << 8 | bytes[1]), "record count");
  BMS_FUZZ_CHECK(!DecodeRecordReply(state, block, kChunkAddress[bi], 5, bytes.data()), "chunk 5 taken");
  BMS_FUZZ_CHECK(!DecodeRecordReply(state, block, kChunkAddress[bi], 0, bytes.data()), "chunk 0 taken");
  for (int j = 0; j < 4; ++j) {
    const int k = order & 0x10 ? 3 - j : j;
    if (!(order >> k & 1)) continue;
    BMS_FUZZ_CHECK(DecodeRecordReply(state, block, kChunkAddress[bi], static_cast<uint16_t>(k + 1), bytes.data() + 8 * k), "record chunk refused");
    for (size_t other = 0; other < 3; ++other)
      if (other != bi) BMS_FUZZ_CHECK(state.record[other].chunks == 0, "a chunk landed in another block");
  }
  const HistoryRecord& r = state.record[bi];
  const bool all = (order & 0x0F) == 0x0F;
  const bool chunk1_last = order & 0x10;  // chunk 1 clears the buffer, so in reverse it comes last
  if (all && !chunk1_last) {
    BMS_FUZZ_CHECK(r.bytes == bytes && r.complete, "the four chunks do not make the record");
    BMS_FUZZ_CHECK(r.checksum_valid == SumHolds(bytes), "checksum verdict");
    if (fix) BMS_FUZZ_CHECK(r.checksum_valid, "a mended record fails its checksum");
  }
  BMS_FUZZ_CHECK(r.complete == ((r.chunks & 0x08) != 0), "complete exactly when chunk 4 arrived");
  if (!r.complete) BMS_FUZZ_CHECK(!r.checksum_valid, "a record without chunk 4 is valid");

  const RecordFields f = DecodeRecordFields(r.bytes);
  BMS_FUZZ_CHECK(f.year >= 2000 && f.year <= 2255 && f.month >= 0 && f.month <= 255 && f.day >= 0 && f.day <= 255, "record date fields");
  BMS_FUZZ_CHECK(f.year == 2000 + r.bytes[0] && f.soc == r.bytes[14] && f.flag == r.bytes[20], "record fields");

  const std::string line = RecordPageLine(block, n, r);
  BMS_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, "a page line holds a line break");
  char number[16];
  std::snprintf(number, sizeof number, "%04d , ", n);
  BMS_FUZZ_CHECK(line.rfind(number, 0) == 0, "the page line starts with its number: " + line);
  const std::string error_mark = " (CheckSum Error)";
  const bool marked = line.size() >= error_mark.size() && line.compare(line.size() - error_mark.size(), error_mark.size(), error_mark) == 0;
  BMS_FUZZ_CHECK(marked == !r.checksum_valid, "the checksum mark differs from the verdict");

  const std::string header = RecordCsvHeader(block);
  const std::string row = RecordCsvRow(block, r);
  BMS_FUZZ_CHECK(EndsInCrLf(header) && EndsInCrLf(row), "CSV lines end in CR LF");
  BMS_FUZZ_CHECK(row.find_first_of("\r\n") == row.size() - 2, "a CSV row holds a line break before its end");
  for (char c : row) BMS_FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80, "a CSV row holds a byte that is not ASCII");
  const size_t columns = CsvFields(std::string_view(header).substr(0, header.size() - 2)).size();
  const size_t cells = CsvFields(std::string_view(row).substr(0, row.size() - 2)).size();
  BMS_FUZZ_CHECK(columns == cells, "the row has " + std::to_string(cells) + " columns, the header " + std::to_string(columns));
  BMS_FUZZ_CHECK(Cp950ToUtf8(RecordCsvHeaderCp950(block)) == header, "the code page 950 header does not read back");

  std::ostringstream file;
  BMS_FUZZ_CHECK(WriteRecordHeaderRow(block, file), "header write");
  std::string written = file.str();
  BMS_FUZZ_CHECK(written == RecordCsvHeaderCp950(block), "the header written is not the code page 950 header");
  return 0;
}
