#pragma once
// Text that comes from the pack or the operator (model names, barcodes, work
// numbers) made safe for the place it goes to. Every writer of the tool uses
// these three, so one rule holds for every file and terminal:
//
// - a CSV field never shifts a column, never forges a row and is never read
//   as a spreadsheet formula;
// - a file-name part never leaves its folder (SanitizeFileNamePart, files.h);
// - a terminal line never carries a control sequence.
#include <string>
#include <string_view>

namespace bms {

// One CSV field of device or operator text:
// - ',' becomes ';' (the logs have no quoting, a comma would shift columns);
// - CR, LF, TAB and every other control byte (0x00-0x1F, 0x7F) becomes ' ';
// - a field whose first character is '=', '+', '-' or '@' gets a leading
//   apostrophe, so a spreadsheet shows it as text and never evaluates it;
// - other bytes (8-bit text, UTF-8 or code page 950) pass unchanged.
// Numbers the tool formats itself are not passed through this.
std::string CsvTextField(std::string_view text);

// Text for a terminal: '\\' becomes "\\\\", control bytes (0x00-0x1F, 0x7F)
// become "\\xNN"; with quote set, '"' becomes "\\\"" too. Other bytes stay.
std::string TerminalSafe(std::string_view text, bool quote = false);

}  // namespace bms
