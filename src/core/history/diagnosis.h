#pragma once
// The diagnosis report (TFormDiagnosisReport): the reading pass that fills
// its labels from the status block, the cell voltages, the EEPROM header and
// the history summary; the fixed product lines by model; READ, DIA READ and
// PDF (show, then print).
#include <cstdint>
#include <string>
#include <vector>

#include "core/context.h"

namespace bms {

// Status-bar panel 1 texts of the pass.
inline constexpr const char* kDiaReading = "  DIA Reading ........";
inline constexpr const char* kDiaReport = "  DIA Report ........";

// The report page: sections of (caption, label) rows, in page order. The
// window, the printed page, the PDF and the CLI all use this one table.
struct ReportItem {
  const char* caption;  // static text beside the label ("" for none)
  const char* label;    // control name in TFormDiagnosisReport
};
struct ReportSection {
  const char* heading;
  std::vector<ReportItem> items;
};
const std::vector<ReportSection>& DiagnosisReportSections();
// Every report label in page order.
std::vector<Control*> ReportLabels(Context& ctx);

// "NONE", or "OV" / ",UV" / ",OC" / ",SC" / ",OT" / ",UT" for bits 0..5.
std::string ProtectionFlagText(uint8_t flags);

// A calendar date of the report (year, month, day).
struct ReportDate {
  int year = 0, month = 0, day = 0;
};
// "2013-5-25": no leading zeros.
std::string ReportDateText(const ReportDate& d);
// The eight characters the week is taken from: the last 8 of the barcode,
// or its first 8 bytes (zero after its end) when it is shorter.
std::string WeekCharacters(const std::string& barcode);
// Week number from characters 2 and 3 of those eight.
int BarcodeWeek(const std::string& barcode);
// Saturday number `week` of 2013 (week 1 = 5 January); false for 0 or > 52.
bool ManufacturingDate(int week, ReportDate* out);
// 18 months on, same day number; a day the month does not have becomes the
// month's last day.
ReportDate ExpiryDate(const ReportDate& made);
// True for the models with fixed product lines.
bool HasProductLines(const std::string& model);

// The reading pass (runs on the worker with the port open).
void DiagnosisReadingPass(Context& ctx);
// Shows the report modally, then the print dialog. True when printed.
bool ShowAndPrintReport(Context& ctx);

// Workers and handlers.
void ReportReadWork(Context& ctx, bool show_and_print);
void BitBtnPrintReportReadClick(Context& ctx);
void BitBtnEVTDIAReadClick(Context& ctx);
void BitBtnPrintClick(Context& ctx);
void DiagnosisReportFormCreate(Context& ctx);
void WireDiagnosisReport(Context& ctx);
// Both windows of the subsystem: history window and diagnosis report.
void WireHistoryAndDiagnosis(Context& ctx);

}  // namespace bms
