#include "app/report/report_page.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainterPath>
#include <QPdfWriter>
#include <cstdio>
#include <memory>

#include "core/history/diagnosis.h"
#include "core/platform/files.h"

namespace bms::report {

namespace {

// The page is laid out on a logical sheet of this size (A4 proportions).
constexpr qreal kSheetW = 800;
constexpr qreal kSheetH = 1131;
constexpr qreal kMargin = 32;

// Sizes are in units of the logical sheet, so the text scales with the page.
QFont Font(int px, bool bold = false) {
  QFont::insertSubstitutions(QStringLiteral("DejaVu Sans"), {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans CJK SC")});
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(px);
  // No ligatures: the text extracted from the PDF reads as it was written.
  f.setStyleStrategy(QFont::PreferNoShaping);
  f.setBold(bold);
  return f;
}

// The picture at the top: a battery with its charge.
void PaintBattery(QPainter& p, const QRectF& r) {
  p.save();
  p.setPen(QPen(QColor(0x2f, 0x5d, 0x3a), 3));
  p.setBrush(Qt::NoBrush);
  const QRectF body(r.left(), r.top(), r.width() - 8, r.height());
  p.drawRoundedRect(body, 6, 6);
  p.setBrush(QColor(0x2f, 0x5d, 0x3a));
  p.drawRect(QRectF(body.right(), r.center().y() - r.height() / 6, 8, r.height() / 3));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x6c, 0xb8, 0x4a));
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(body.left() + 6 + i * (body.width() - 12) / 3, body.top() + 6, (body.width() - 12) / 3 - 4, body.height() - 12));
  p.restore();
}

}  // namespace

ReportPage ReportPageOf(Context& ctx) {
  ReportPage page;
  for (const ReportSection& s : DiagnosisReportSections()) {
    ReportBlock b;
    b.heading = QString::fromUtf8(s.heading);
    for (const ReportItem& it : s.items) b.rows.push_back({QString::fromUtf8(it.caption), QString::fromStdString(ctx.FormDiagnosisReport.get(it.label).text())});
    page.blocks.push_back(std::move(b));
  }
  return page;
}

void PaintReportPage(QPainter& p, const QRectF& target, const ReportPage& page) {
  p.save();
  const qreal scale = std::min(target.width() / kSheetW, target.height() / kSheetH);
  p.translate(target.left() + (target.width() - kSheetW * scale) / 2, target.top());
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // Title banner.
  const QRectF banner(kMargin, kMargin, kSheetW - 2 * kMargin, 90);
  p.fillRect(banner, QColor(0xE5, 0xFE, 0xCE));
  p.setPen(QPen(QColor(0x2f, 0x5d, 0x3a), 1.5));
  p.drawRect(banner);
  PaintBattery(p, QRectF(banner.left() + 20, banner.top() + 22, 90, 46));
  p.setPen(Qt::black);
  p.setFont(Font(28, true));
  p.drawText(QRectF(banner.left() + 130, banner.top() + 10, banner.width() - 140, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Diagnosis Report"));
  p.setFont(Font(15));
  p.drawText(QRectF(banner.left() + 130, banner.top() + 50, banner.width() - 140, 30), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("\u96fb\u6c60\u8a3a\u65b7\u5831\u544a  \u00b7  Battery pack service record"));

  qreal y = banner.bottom() + 22;
  const qreal col_w = (kSheetW - 2 * kMargin) / 2;
  const qreal row_h = 21;
  for (const ReportBlock& b : page.blocks) {
    // Heading bar.
    const QRectF head(kMargin, y, kSheetW - 2 * kMargin, 26);
    p.fillRect(head, QColor(0x2f, 0x5d, 0x3a));
    p.setPen(Qt::white);
    p.setFont(Font(14, true));
    p.drawText(head.adjusted(10, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter, b.heading);
    y = head.bottom() + 6;
    // Rows in two columns, filled column by column.
    const int rows = static_cast<int>((b.rows.size() + 1) / 2);
    p.setFont(Font(11));
    for (size_t i = 0; i < b.rows.size(); ++i) {
      const int r = static_cast<int>(i) % rows;
      const int c = static_cast<int>(i) / rows;
      const QRectF cell(kMargin + c * col_w, y + r * row_h, col_w, row_h);
      if (r % 2 == 0) p.fillRect(cell, QColor(0xf3, 0xf7, 0xef));
      p.setPen(QColor(0x40, 0x40, 0x40));
      p.setFont(Font(10));
      p.drawText(cell.adjusted(6, 0, -col_w * 0.44, 0), Qt::AlignLeft | Qt::AlignVCenter, b.rows[i].caption);
      p.setPen(Qt::black);
      p.setFont(Font(10, true));
      p.drawText(cell.adjusted(col_w * 0.565, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, b.rows[i].text);
    }
    y += rows * row_h + 18;
  }
  // Signature line.
  p.setPen(QPen(QColor(0x80, 0x80, 0x80), 0.8));
  const qreal sig_y = std::min(y + 40, kSheetH - kMargin - 20);
  p.drawLine(QPointF(kSheetW - kMargin - 240, sig_y), QPointF(kSheetW - kMargin, sig_y));
  p.setFont(Font(10));
  p.drawText(QRectF(kSheetW - kMargin - 240, sig_y + 2, 240, 16), Qt::AlignLeft, QStringLiteral("Technician  \u6280\u8853\u54e1"));
  p.restore();
}

QByteArray ReportPdf(const ReportPage& page) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setTitle(QStringLiteral("Diagnosis Report"));
    writer.setCreator(QStringLiteral("bmsmon"));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
    writer.setResolution(300);
    QPainter p(&writer);
    PaintReportPage(p, QRectF(QPointF(0, 0), QSizeF(writer.width(), writer.height())), page);
  }
  return bytes;
}

bool WriteReportPdf(const std::string& path, const ReportPage& page, std::string* why) {
  std::unique_ptr<QGuiApplication> own;
  if (!QCoreApplication::instance()) {
    static int argc = 3;
    static char arg0[] = "bmsmon-cli", arg1[] = "-platform", arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    // A command-line program: Qt's remarks about its runtime folder are no
    // concern of the operator.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
      if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    own = std::make_unique<QGuiApplication>(argc, argv);
  }
  const QByteArray pdf = ReportPdf(page);
  if (pdf.isEmpty()) {
    if (why) *why = "the PDF page could not be drawn";
    return false;
  }
  return WriteFileAtomic(path, std::string_view(pdf.constData(), static_cast<size_t>(pdf.size())), why);
}

}  // namespace bms::report
