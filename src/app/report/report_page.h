#pragma once
// The one-page diagnosis report as drawn on paper: the same page for the
// printer, the PDF file of the report window and `bmsmon-cli diagnose
// --pdf`. Vector text; the fonts of the Chinese texts are embedded.
#include <QPainter>
#include <QRectF>
#include <QString>
#include <vector>

#include "core/context.h"

namespace bms::report {

struct ReportRow {
  QString caption;
  QString text;
};
struct ReportBlock {
  QString heading;
  std::vector<ReportRow> rows;
};
struct ReportPage {
  std::vector<ReportBlock> blocks;
};

// The page from the report labels of the diagnosis report window.
ReportPage ReportPageOf(Context& ctx);

// Draws the page into `target` (device units), scaled proportionally so the
// whole page fits, centred at the top.
void PaintReportPage(QPainter& p, const QRectF& target, const ReportPage& page);

// The page as a PDF document (A4 portrait), in memory.
QByteArray ReportPdf(const ReportPage& page);

// Writes the PDF file in one step (never half a file). A QGuiApplication is
// created for the time of the call when none runs (the CLI). False with *why.
bool WriteReportPdf(const std::string& path, const ReportPage& page, std::string* why);

}  // namespace bms::report
