#pragma once
// The EEP2 window: read and write of the parameter blocks C and D over
// Modbus, the conversions between register values and edit texts, and the
// file operations (BLOCK_C.ini, the SOC table text file).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/context.h"
#include "core/parameters/eep2_table.h"

namespace bms {

enum class Eep2Block { C, D };

uint16_t Eep2BlockStart(Eep2Block b);
const std::vector<Eep2Field>& Eep2Fields(Eep2Block b);
const std::vector<Control*>& Eep2Edits(Context& ctx, Eep2Block b);

// ---- conversions (pure) ----

// The edit text of a field from the block's table of register values
// (entry 0 = the block's first register).
std::string Eep2FieldText(const Eep2Field& f, const int32_t* block_words);
// Puts the field's registers into block_words from the edit text. False,
// with *why naming the field, when the text is empty, not a decimal
// integer (optional "-", then digits), outside the encoding's range, or
// (cell type) longer than 16 characters or holding a character that is not
// a one-byte character.
bool Eep2FieldWords(const Eep2Field& f, std::string_view text, int32_t* block_words, std::string* why);
// The range of numbers a field of this encoding takes.
void Eep2Range(Eep2Encoding e, int64_t* lo, int64_t* hi);

// ---- transfers ----

enum class Eep2Outcome {
  Done,            // the block was read (edits set) or written (echo checked)
  TransferFailed,  // no valid reply: button caption red
  PortFailed,      // the port could not be opened: nothing shown
  Refused,         // a field was refused (or the port is in use): message, nothing sent
  RefusedQuietly,  // one of the eight checked edits is empty: nothing sent, no message
};

struct Eep2Result {
  Eep2Outcome outcome = Eep2Outcome::Done;
  std::string message;  // for the operator; empty on Done
  bool ok() const { return outcome == Eep2Outcome::Done; }
};

// Why a block transfer may not start now ("" when it may): monitoring or
// another operation holds the serial port.
std::string Eep2PortInUse(Context& ctx, bool from_click);

// The whole worker of each button (window locked while it runs), run on
// the calling thread. The click handlers start these on a worker.
Eep2Result RunEep2Read(Context& ctx, Eep2Block b);
Eep2Result RunEep2Write(Context& ctx, Eep2Block b);

// The words a write of the block would send, from the edits; false with
// *result set (Refused or RefusedQuietly) when a field is refused.
bool Eep2BlockWords(Context& ctx, Eep2Block b, std::array<int32_t, kEep2BlockSize>& words, Eep2Result* result);

// ---- files ----

// BLOCK_C.ini in the current folder (ctx.app.current_dir).
std::string BlockCFilePath(Context& ctx);
// Writes the 89 Block C edit texts to section "Block_C" of the file; the
// file is replaced as a whole (other keys and sections kept), so a failure
// leaves the old file. False with *why.
bool SaveBlockCFile(Context& ctx, const std::string& path, std::string* why);
// Sets the 89 Block C edits from the file ("-1" for a missing key). A file
// that does not exist changes nothing; false then.
bool LoadBlockCFile(Context& ctx, const std::string& path);

// Reads a SOC table file (one value per line, 100 % first; spaces, CR and
// NUL dropped, empty lines skipped). A file that cannot be read, or that
// does not hold exactly 101 values, is refused: -1 with *why saying what
// was found, SocTableLines unchanged. Otherwise the 101 lines are in
// SocTableLines and the result is 100, the index of the last line.
int ReadSocTableFile(Context& ctx, const std::string& path, std::string* why, int* found = nullptr);
// Fills Edit_SOC_0 .. Edit_SOC_100 from a SOC table file; the edits stay as
// they are when the file is refused (*why says why).
bool ApplySocTableFile(Context& ctx, const std::string& path, std::string* why);
// The SOC table text of the SOC edits: 101 lines, 100 % first, CR LF.
std::string SocTableText(Context& ctx);

// ---- the window's handlers ----
void BitBtn_Block_C_ReadClick(Context& ctx);
void BitBtn_Block_C_WriteClick(Context& ctx);
void BitBtn_Block_D_ReadClick(Context& ctx);
void BitBtn_Block_D_WriteClick(Context& ctx);
void BitBtn_Block_SAVE_FileClick(Context& ctx);
void BitBtn_Block_Read_FileClick(Context& ctx);
void BitBtn_Read_SOC_FileClick(Context& ctx);
// The main window's "EEP2" button shows the window.
void Button_EEP_ParameterClick(Context& ctx);
void WireEep2Window(Context& ctx);

}  // namespace bms
