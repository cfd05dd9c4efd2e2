#pragma once
// The OZ890 EEPROM check of the ENG tab: registers 0x00..0x7F read one by one
// through the I2C gateway and compared with OZ890EEP.ini, the result in
// MemoOZEEPRead, and the image just read kept so that a known-good pack can
// become the reference of the line ("Save as reference").
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/link/gateway.h"

namespace bms {

inline constexpr const char* kOz890File = "OZ890EEP.ini";
inline constexpr const char* kOz890Section = "OZ890_EEPROM";

inline constexpr const char* kOz890LoadError = " Load File error.";
inline constexpr const char* kOz890CompareTitle = "Load file and OZ890 EEP read compare.";
inline constexpr const char* kOz890Passed = "Total Test Result : PASSED.";

// The key of a register in OZ890EEP.ini: "EEP_" + two upper-case hex digits + "H_DATA".
std::string Oz890Key(uint8_t reg);
std::string Oz890ReferencePath(const Context& ctx);

// Reads the 127 keys of registers 0x00..0x7E into Oz890Reference (default
// -1, low 8 bits kept); 0x7F is not read. False when the file is missing or
// cannot be read (the table is then left as it was).
bool LoadOz890Reference(Context& ctx);
// Runs the 128 requests and the comparison over an open gateway port,
// appending the memo lines; true when every register matched.
bool CompareOz890Eeprom(Context& ctx, SerialPort& port);
// The whole check as the button's worker runs it: clear the memo, open the
// gateway port, load the reference, compare, close. True on PASSED.
bool RunOz890Check(Context& ctx);

// The check's memo lines for the mismatch table (after the summary line).
std::vector<std::string> Oz890MismatchLines(const std::vector<Oz890Mismatch>& m);

// The text of OZ890EEP.ini for an image (registers 0x00..0x7E, CR LF).
std::string Oz890ReferenceText(const std::array<uint8_t, kOz890Registers>& image);
// Writes the image of the last complete check as the reference file `path`
// (atomically). An existing file is replaced only after the operator agreed
// (ctx.Operator; no operator: not replaced). False with *why when nothing
// was written.
bool SaveOz890Reference(Context& ctx, const std::string& path, std::string* why = nullptr);

// Click handlers of the ENG tab.
void SpdBtnOZEEPReadClick(Context& ctx);
void SpdBtnOZEEPSaveRefClick(Context& ctx);
void WireOz890Handlers(Context& ctx);

}  // namespace bms
