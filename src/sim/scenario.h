#pragma once
// Everything the virtual pack reports: the live values of the status block,
// the registers, the identities, the parameter tables and the EEPROM
// history. A scenario is plain data; VirtualPack keeps a live copy of it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/clock.h"
#include "sim/faults.h"
#include "sim/gateway_slave.h"

namespace bms::sim {

inline constexpr size_t kMaxCells = 14;
inline constexpr size_t kResistanceCells = 13;
inline constexpr size_t kSocOcvPages = 26;
inline constexpr size_t kSocOcvEntries = kSocOcvPages * 4;  // 101 used, 104 slots
inline constexpr size_t kProtectionPages = 6;

// Event codes of the history flag byte.
inline constexpr uint8_t kEventChargeStart = 0x81;
inline constexpr uint8_t kEventChargeStop = 0x82;
inline constexpr uint8_t kEventDischargeStart = 0x83;
inline constexpr uint8_t kEventDischargeStop = 0x84;
inline constexpr uint8_t kEventSleep = 0x85;
inline constexpr uint8_t kEventWakeUp = 0x86;

// One 32-byte EEPROM history record, by its fields.
struct HistoryEntry {
  int year = 2026, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  int32_t current_ma = 0;
  uint32_t voltage_mv = 0;
  uint8_t soc = 0;
  int8_t t1 = 25;
  uint16_t volt_diff_mv = 0;
  uint16_t cycle_count = 0;
  uint8_t flag = kEventChargeStart;   // bit 7 clear: protection record bits
  std::array<uint8_t, 9> reserved{};  // bytes 21-29
  bool bad_checksum = false;          // store a wrong checksum on purpose

  // The record as stored: bytes 30-31 = 16-bit sum of bytes 0-29, big-endian
  // (inverted when bad_checksum is set).
  std::array<uint8_t, 32> Bytes() const;
};

// 16-bit sum of bytes 0..29 of a record.
uint16_t HistoryChecksum(const uint8_t* record);

// The EEPROM header registers 0x6100..0x6407 (the barcode of 0x6207 is the
// external 32-character barcode storage of the scenario).
struct EepromHeaderData {
  uint16_t size = 256;                          // 0x6100
  std::array<uint8_t, 4> id{'B', 'M', 'S', 1};  // 0x6101: three characters and a number
  uint8_t current_unit = 10;                    // 0x6102, mA
  uint8_t voltage_unit = 10;                    // 0x6103, mV
  uint8_t volt_diff_unit = 1;                   // 0x6104, mV
  uint16_t max_volt_diff = 48;                  // 0x6200
  uint16_t warranty_cycles = 500;               // 0x6201
  uint8_t warranty_capacity_percent = 70;       // 0x6202
  uint8_t warranty_months = 24;                 // 0x6203
  std::string cell_type = "INR18650-25R";       // 0x6204, up to 16 characters
  uint16_t cycle_count = 37;                    // 0x6205
  int32_t total_charge_capacity = 371250;       // 0x6206, mAh
  // 0x6300..0x6309: charge start, discharge start, sleep, wake up, deep
  // sleep, reset, protection release, FSC, storage temperature, temperature error.
  std::array<uint16_t, 10> event_totals{40, 52, 12, 12, 1, 3, 2, 5, 0, 0};
  // 0x6400..0x6407 first words: COC, DOC, COT, DOT, CUT, OV, UV, SC totals.
  std::array<int32_t, 8> flag_totals{0, 1, 0, 0, 0, 0, 1, 0};
  // 0x6400..0x6406 second words: max charge current (mA), max discharge
  // current (mA), max charge temperature, max discharge temperature, min
  // temperature (°C), max cell voltage, min cell voltage (mV).
  std::array<int32_t, 7> flag_extremes{5200, 18500, 41, 48, -5, 4198, 2950};
};

struct Scenario {
  // ---- status block ----
  uint8_t cell_series = 13;
  uint8_t cell_parallel = 4;
  std::array<uint16_t, kMaxCells> cells_mv{};      // 0x1001
  std::array<uint16_t, kMaxCells> raw_cells_mv{};  // 0x100B, before the connection correction
  uint8_t rsoc = 65;                               // %
  uint8_t asoc = 96;                               // %
  uint16_t cycle_count = 37;
  uint32_t design_capacity_mah = 10000;
  uint32_t full_charge_capacity_mah = 9650;
  uint32_t remaining_capacity_mah = 6270;
  uint64_t total_charge_capacity_mah = 371250;     // 48 bits on the wire
  uint32_t total_discharge_capacity_mah = 352000;  // 0x100E
  int32_t pack_current_ma = -1520;
  std::optional<uint32_t> pack_voltage_mv;  // empty: sum of the first cell_series cells
  int8_t t1 = 25, t2 = 24, t3 = 23;
  bool charging = false;                         // status byte 47 bit 7 (current flowing)
  bool discharging = true;                       // bit 6 with bit 7
  bool key = true;                               // bit 0
  uint8_t protection_flags = 0;                  // OV, UV, OC, SC, OT, UT in bits 0..5
  std::string model_name = "LP13S4P-A";          // 12 characters, space padded on the wire
  uint8_t fw_major = 2, fw_minor = 14;           // status bytes 43, 44
  std::array<uint8_t, 3> fw_version{2, 14, 3};   // register 0x0005
  std::array<uint8_t, 2> t1t2_swap{0x00, 0x00};  // register 0x0006
  std::array<uint8_t, 12> customer{};            // status bytes 64-75

  // ---- identities ----
  std::string serial_number = "A1B2C3D4";  // 8 bytes
  // Barcode storages; empty optional: the pack does not answer that storage.
  std::optional<std::string> barcode_ext32 = "BC32-EXT-2026-000123";  // 0x6207
  std::optional<std::string> barcode_int32 = "BC32-INT-2026-000123";  // 0x200A
  std::optional<std::string> barcode_int16 = "BC16-000123";           // 0x2008

  // ---- modes ----
  // The pack's own clock; empty: it starts at the host's local time.
  std::optional<LocalTime> clock;
  bool shipping_mode = false;
  bool mosfet_on = true;
  bool gateway_mode = false;

  // ---- tables ----
  std::array<uint16_t, kResistanceCells> cell_resistance_mohm{};      // 0x100C pages 1-13
  std::array<uint16_t, kSocOcvEntries> soc_ocv{};                     // 0x100D pages 1-26
  std::array<std::array<uint8_t, 8>, kProtectionPages> protection{};  // 0x3300 pages 1-6

  // ---- OZ890 front end behind the I2C gateway (115200 baud) ----
  std::array<uint8_t, kOz890ImageSize> oz890_eeprom{};  // registers 0x00..0x7F
  std::vector<GatewayFault> gateway_faults;             // spoiled registers
  // The corrected cell voltages (0x1001) follow the raw ones (0x100B) and
  // the connection resistances: raw - current x resistance, as the BMS
  // corrects them. Off: cells_mv is reported as it stands.
  bool correct_cells = false;

  // ---- EEPROM history ----
  EepromHeaderData header;
  std::vector<HistoryEntry> protect_records;  // 0x6500 / 0x6501
  std::vector<HistoryEntry> lead_records;     // 0x6600 / 0x6601
  std::vector<HistoryEntry> last_records;     // 0x6602 / 0x6603

  // ---- behaviour ----
  int64_t latency_us = 3000;  // from the end of a request to the first byte of the answer
  int64_t auto_wake_ms = 0;   // a sleeping pack wakes by itself after this long; 0: never
  bool asleep = false;        // the pack starts asleep
  std::vector<Fault> faults;  // rules installed when the pack is built
  bool silent = false;        // global silence when the pack is built

  uint32_t voltage_mv() const;  // pack_voltage_mv or the sum of the cells
  uint8_t status_bits() const;  // status byte 47
};

// A 13S4P pack around 3.9 V per cell, discharging, with all three barcodes,
// a handful of history records (charge stops among them) and plausible tables.
Scenario DefaultScenario();

// Reads a scenario text file on top of `s` (normally DefaultScenario()).
// Format: see docs/virtual-pack.md. On a malformed file returns false with
// `error` naming the file and line; `s` is then left unchanged.
bool LoadScenario(const std::string& path, Scenario& s, std::string& error);
// The same for text held in memory (`origin` names it in messages).
bool ParseScenario(const std::string& text, const std::string& origin, Scenario& s, std::string& error);

}  // namespace bms::sim
