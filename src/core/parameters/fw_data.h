#pragma once
// The firmware data dialog (TPagesDlgFWData): the protection parameters of
// the "Parameter" tab and the SOC-OCV table of the "SOCV" tab, read from and
// written to the BMS over the borrowed port of the running polling loop,
// loaded from MTD.ini and cleaned. Nothing is sent from an edit whose text is
// not a number in its field's range.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/context.h"
#include "core/parameters/fw_tables.h"

namespace bms {

// The edit of a protection field, and of SOC-OCV point n.
Control& ProtectionEdit(Context& ctx, const ProtectionField& f);
Control& SocvEdit(Context& ctx, int n);

// Replies of register 0x3300: the page's values into their edits.
void DecodeProtectionPage(Context& ctx, uint16_t page, const uint8_t* data);

// Checks the 32 edits and builds the 48-byte image; false with *why naming
// the first edit that is empty or not a number in its field's range.
bool BuildProtectionImage(Context& ctx, std::array<uint8_t, kProtectionImageSize>& image, std::string* why);
// The same for the 101 SOC-OCV edits (0..65535 mV).
bool BuildSocvValues(Context& ctx, std::array<uint16_t, kSocvPoints>& values, std::string* why);

// The workers of the four buttons, for each tab. The read and write workers
// borrow the polling loop's port for their whole exchange.
void ProtectionReadWorker(Context& ctx);
void ProtectionWriteWorker(Context& ctx);
void ProtectionLoadWorker(Context& ctx);
void ProtectionCleanWorker(Context& ctx);
void SocvReadWorker(Context& ctx);
void SocvWriteWorker(Context& ctx);
void SocvLoadWorker(Context& ctx);
void SocvCleanWorker(Context& ctx);

// Click handlers: the dialog's four buttons act on the active tab.
void BitBtnFWDataReadClick(Context& ctx);
void BitBtnFWDataWriteClick(Context& ctx);
void BitBtnFWDataLoadClick(Context& ctx);
// Both windows have a Clean button: the form picks the handler.
void BitBtnCleanClick(Context& ctx, TPagesDlgFWData& form);
// The main window's "FW" button: disables the main window, shows the dialog.
void MainBitBtnFWDataReadClick(Context& ctx);
// Closing the dialog hides it and enables the main window again.
void PagesDlgFWDataFormClose(Context& ctx);
void WireFwDataHandlers(Context& ctx);

// The last outcome of a transfer kind (thread-safe copy).
TransferOutcome LastOutcome(Context& ctx, TransferKind kind);
// Records an outcome (counts it as finished) and shows its message.
void FinishTransfer(Context& ctx, TransferKind kind, TransferOutcome outcome, Control* status);

// Reads the keys of one section of MTD.ini (current folder). False with
// *why when the file is missing or unreadable or a key is missing; *values
// is then untouched, so the edits stay as they were.
bool ReadMtdKeys(Context& ctx, const std::string& section, const std::vector<std::string>& keys, std::vector<std::string>* values, std::string* why);
std::string MtdPath(const Context& ctx);

// "1, 2, 5-8": numbers in ascending order with runs joined.
std::string NumberRuns(const std::vector<int>& numbers);
// True when ReplyRecords holds the header of (address, length).
bool ReplyEchoes(Context& ctx, uint16_t address, uint16_t length);

}  // namespace bms
