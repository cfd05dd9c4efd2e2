#pragma once
// EEPROM history: the header registers into EepromHeader, the 32-byte history
// records of the protect, LEAD and LAST blocks, and their text forms (the
// pages of the history window and the rows of the CSV exports).
//
// The string builders are pure; the functions taking a Context read the
// decoded state under its lock and write memos or streams.
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/history/records.h"

namespace bms {

// ---- decoders ----

// Header registers 0x6100..0x6104, 0x6200..0x6207, 0x6300..0x6309 and
// 0x6400..0x6407. Returns true when the reply was taken (known register and
// the expected length field); anything else leaves the header unchanged.
bool DecodeHeaderReply(EepromHeader& header, uint16_t address, uint16_t length, const uint8_t* data);

// Record counts 0x6500 / 0x6600 / 0x6602 and record chunks 0x6501 / 0x6601 /
// 0x6603 (length 1..4) of one block. Returns true when the reply was taken.
// Chunk 1 starts a new record (the buffer is cleared first); chunk 4 runs
// the checksum check.
bool DecodeRecordReply(HistoryState& state, HistoryBlock block, uint16_t address, uint16_t length, const uint8_t* data);

// Offers a reply to all the decoders above; called by DecodeReply for every
// reply. Addresses that are not theirs change nothing.
void DecodeHistoryReply(Context& ctx, uint16_t address, uint16_t length, const uint8_t* data);

// Clears the current record of a block; the readers call it before the
// chunks of each record.
void ClearHistoryRecord(Context& ctx, HistoryBlock block);
// Clears everything decoded: header, records and counts.
void ClearHistoryValues(Context& ctx);

// ---- record fields ----

struct RecordFields {
  int year = 2000, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int32_t current_ma = 0;
  uint32_t voltage_mv = 0;
  uint8_t soc = 0;
  int8_t t1 = 0;
  uint16_t volt_diff_mv = 0;
  uint16_t cycle_count = 0;
  uint8_t flag = 0;  // bit 7 clear: protection bits; set: event code
};

RecordFields DecodeRecordFields(const std::array<uint8_t, 32>& bytes);
// Bytes 30-31 equal the 16-bit sum of bytes 0-29.
bool RecordChecksumValid(const std::array<uint8_t, 32>& bytes);

// Event name in the page line ("Charge Start", ..., "Not Exist").
std::string EventName(uint8_t code);
// Event name in the CSV column of a block (the protect block writes "Null "
// for 0x91 and unknown codes).
std::string EventCsvName(HistoryBlock block, uint8_t code);

// ---- pure text builders ----

// The lines of the header page (45 lines; "\n\r" separator lines included).
std::vector<std::string> HeaderPageLines(const EepromHeader& header);
// The page line of a record numbered n.
std::string RecordPageLine(HistoryBlock block, int n, const HistoryRecord& record);
// CSV header line of a block, UTF-8, ending with CR LF.
std::string RecordCsvHeader(HistoryBlock block);
// The same as written to the file: code page 950 (the degree sign is A2 58).
std::string RecordCsvHeaderCp950(HistoryBlock block);
// CSV row of a record, ending with CR LF (ASCII only).
std::string RecordCsvRow(HistoryBlock block, const HistoryRecord& record);

// ---- memos and files ----

// The memo of a block's page.
Control& RecordMemo(Context& ctx, HistoryBlock block);
// Replaces the lines of MemoEEPHeader with the header page.
void WriteHeaderPage(Context& ctx);
// Appends the page line of the block's current record, numbered n, to its memo.
void AppendRecordLine(Context& ctx, HistoryBlock block, int n);
// Write the CSV header line / the current record's row; false when the
// stream reports an error.
bool WriteRecordHeaderRow(HistoryBlock block, std::ostream& file);
bool WriteRecordRow(Context& ctx, HistoryBlock block, std::ostream& file);

}  // namespace bms
