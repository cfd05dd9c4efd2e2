#pragma once
// Showing and printing the diagnosis report as an interface: the Qt front
// end shows the report window modally and prints through the print dialog
// (a printer or a PDF file) or straight to a PDF file; the CLI writes a PDF
// file; tests record the calls.
#include <string>

namespace bms {

class ReportPrinter {
 public:
  virtual ~ReportPrinter() = default;
  // Shows the report window modally and returns when the operator closed
  // it. May be called from a worker thread; the implementation marshals to
  // its own UI thread.
  virtual void ShowReport() = 0;
  // Opens the print dialog; prints the report page, scaled proportionally
  // to one sheet, when the operator confirms. True when printed.
  virtual bool PrintReport() = 0;
  // Asks the operator for a file name and writes the report page there as
  // PDF. True when written; false when cancelled or failed (the
  // implementation tells the operator why).
  virtual bool SaveReportPdfAs() = 0;
  // Writes the report page as a PDF file. False with *why.
  virtual bool SaveReportPdf(const std::string& path, std::string* why) = 0;
};

}  // namespace bms
