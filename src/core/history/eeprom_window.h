#pragma once
// The EEPROM history window (TFormEEPROM): the header read with its register
// list, the three record-block reads with their CSV exports, the preview of
// a block's record count, the range read and Clean. Besides: the fast
// download option, the progress of a block read and its cancel.
#include <cstdint>
#include <string>

#include "core/context.h"
#include "core/history/records.h"

namespace bms {

// Register addresses of a record block.
struct BlockRegisters {
  uint16_t count;
  uint16_t record;
};
BlockRegisters RegistersOf(HistoryBlock block);

// "UART_" + the time stamp "yyyymmdd_hhnnss" of a block read.
std::string ExportFolderName(const LocalTime& t);
// The export file of a block: FOLDER/ + FOLDERNAME + "_Protectlog_1.csv" etc.
std::string ExportFileName(HistoryBlock block, const std::string& folder_name);

// Binds the handlers of the history window and of the two buttons that open
// it (BitBtnSafeInfoRead, BitBtnEVTEEPRead).
void WireHistoryWindow(Context& ctx);

// ---- handlers (the click handlers start these on a worker) ----
void BitBtnSafeInfoReadClick(Context& ctx);
void EEPROMFormShow(Context& ctx);
void EEPROMFormClose(Context& ctx);
void BitBtnEEPBlockChoiceReadClick(Context& ctx);
void PageControlEEPChange(Context& ctx);
void BitBtnEEPPreViewClick(Context& ctx);
void BitBtnEEPRangeClick(Context& ctx);
// Both windows have a Clean button: the form picks the handler.
void BitBtnCleanClick(Context& ctx, TFormEEPROM& form);
void BitBtnEEPCancelClick(Context& ctx);

// ---- the operations (run on the worker; public for the CLI and the tests) ----
void HeaderReadWork(Context& ctx);
// Block read of a record block; the export path (empty when none was
// written) is left in LabelEEPExportFile.
void RecordBlockReadWork(Context& ctx, HistoryBlock block);
void PreViewWork(Context& ctx);
void RangeReadWork(Context& ctx);

// Whether the fast download is switched on (CheckBoxEEPFastRead).
bool FastHistoryRead(Context& ctx);

// The block of the selected page (pages 1-3); Protect for page 0 as well.
HistoryBlock BlockOfPage(int page);

}  // namespace bms
