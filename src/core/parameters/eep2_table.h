#pragma once
// The one table of the EEP2 window: every value edit of the two parameter
// blocks with its register, encoding, caption, unit, page, length limit and
// file key. The window's view-model, the Qt layer, the block transfers, the
// BLOCK_C.ini file and the tests all read it.
#include <cstdint>
#include <string>
#include <vector>

namespace bms {

enum class Eep2Encoding {
  U16,   // the register value 0..65535
  S16,   // the register as a signed 16-bit number
  S16N,  // signed 16-bit, negated (discharge currents shown positive)
  I32,   // two registers, high first, signed 32-bit
  I32N,  // as I32, negated
  Text,  // the cell type: 16 one-byte characters, two per register, high byte first
};

enum class Eep2Page { C1, C2, DCell, DSoc };

struct Eep2Field {
  std::string edit;     // control name, e.g. "Edit_Cell_Serial"
  std::string check;    // the check box captioning it, e.g. "CheckBox_Cell_Serial"
  std::string caption;  // text of the check box
  std::string unit;     // "" when none
  uint16_t reg = 0;     // first register
  Eep2Encoding encoding = Eep2Encoding::U16;
  int max_chars = 5;
  Eep2Page page = Eep2Page::C1;
  std::string key;         // BLOCK_C.ini key (Block C), the edit name without "Edit_"
  bool any_chars = false;  // temperatures and the cell type take any characters, else digits only

  int registers() const;  // 8 for Text, 2 for I32/I32N, else 1
};

inline constexpr uint16_t kEep2BlockCStart = 0x4207;
inline constexpr uint16_t kEep2BlockDStart = 0x4307;
inline constexpr uint16_t kEep2BlockSize = 120;
inline constexpr int kSocPoints = 101;

// The 89 fields of Block C, in register order.
const std::vector<Eep2Field>& Eep2BlockCFields();
// The 106 fields of Block D in register order: the cell type, the four
// cell edits, then Edit_SOC_0 .. Edit_SOC_100.
const std::vector<Eep2Field>& Eep2BlockDFields();

// The edits a write checks for emptiness first (eight per block).
const std::vector<std::string>& Eep2CheckedEdits(bool block_d);

}  // namespace bms
