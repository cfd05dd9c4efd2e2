#pragma once
// State of the EEPROM history decoders: the header registers and one record
// buffer per block. Filled by the decoders that DecodeReply feeds
// (core/history/record_decode.h).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bms {

enum class HistoryBlock { Protect = 0, Lead = 1, Last = 2 };

// Indexes of EepromHeader::EventTotals (registers 0x6300..0x6309).
enum EventTotal : int {
  kChargeStartTotal = 0,
  kDischargeStartTotal = 1,
  kSleepTotal = 2,
  kWakeUpTotal = 3,
  kDeepSleepTotal = 4,
  kResetTotal = 5,
  kProtectionReleaseTotal = 6,
  kFscTotal = 7,
  kStorageTemperatureTotal = 8,
  kTemperatureErrorTotal = 9,
};

// Indexes of EepromHeader::FlagTotals / FlagExtremes (registers 0x6400..0x6406).
enum FlagTotal : int {
  kCocFlag = 0,  // extreme: maximum charge current, mA
  kDocFlag = 1,  // maximum discharge current, mA
  kCotFlag = 2,  // maximum charge temperature, deg C
  kDotFlag = 3,  // maximum discharge temperature, deg C
  kCutFlag = 4,  // minimum temperature, deg C
  kOvFlag = 5,   // maximum cell voltage, mV
  kUvFlag = 6,   // minimum cell voltage, mV
};

struct EepromHeader {
  uint16_t HeaderSize = 0;
  std::string Id;
  uint8_t CurrentUnit = 0, VoltageUnit = 0, VoltDiffUnit = 0;
  uint16_t MaxVoltDiff = 0, WarrantyCycles = 0;
  uint8_t WarrantyCapacityPercent = 0, WarrantyMonths = 0;
  std::array<uint8_t, 16> CellTypeBytes{};  // the two chunks as received
  std::string CellType;                     // CellTypeBytes up to the first zero byte
  uint16_t CycleCount = 0;
  int32_t TotalChargeCapacity = 0;
  std::array<uint8_t, 32> BarcodeBytes{};  // the four chunks as received
  std::string Barcode;                     // BarcodeBytes up to the first zero byte
  // Event totals 0x6300..0x6309 in register order (see EventTotal).
  std::array<uint16_t, 10> EventTotals{};
  // Flag totals and extremes 0x6400..0x6406 (total, extreme) and 0x6407 (SC total).
  std::array<int32_t, 7> FlagTotals{};
  std::array<int32_t, 7> FlagExtremes{};
  int32_t ScTotal = 0;
};

struct HistoryRecord {
  std::array<uint8_t, 32> bytes{};
  bool checksum_valid = false;  // set when chunk 4 arrives and the sum matches
  bool complete = false;        // chunk 4 arrived since the buffer was cleared
  uint8_t chunks = 0;           // bit k-1 set: chunk k arrived since the buffer was cleared
};

struct HistoryState {
  EepromHeader header;
  std::array<HistoryRecord, 3> record;  // by HistoryBlock
  std::array<uint16_t, 3> count{};      // record counts by HistoryBlock
  std::array<bool, 3> count_valid{};    // a count reply arrived
  // Every record of the last whole read of each block, in record-number
  // order (the tap of the history plots). Kept when the decoded values are
  // cleared; replaced when that block is read again.
  std::array<std::vector<std::array<uint8_t, 32>>, 3> block_records;
};

}  // namespace bms
