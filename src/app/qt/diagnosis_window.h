#pragma once
// The diagnosis report window, built from the report's page table, and the
// report printer of the Qt front end: the window shown modally, the print
// dialog (a printer or "Print to File (PDF)"), and "Save as PDF".
#include <QString>

#include "app/qt/windows.h"
#include "core/context.h"
#include "core/ui/report_printer.h"

namespace bms::qt {

class DiagnosisWindow : public ToolDialog, public bms::ReportPrinter {
  Q_OBJECT
 public:
  // With a context the window is the context's report printer.
  explicit DiagnosisWindow(bms::Context* ctx = nullptr, QWidget* parent = nullptr);
  ~DiagnosisWindow() override;

  void ShowReport() override;
  bool PrintReport() override;
  bool SaveReportPdfAs() override;
  bool SaveReportPdf(const std::string& path, std::string* why) override;

 signals:
  void hidden();

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  // Runs fn on the GUI thread and waits for it.
  void OnGuiThread(const std::function<void()>& fn);

  bms::Context* ctx_;
};

}  // namespace bms::qt
