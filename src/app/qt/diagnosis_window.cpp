#include "app/qt/diagnosis_window.h"

#include <QDate>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QThread>
#include <QVBoxLayout>
#include <condition_variable>
#include <mutex>

#include "app/qt/build.h"
#include "app/report/report_page.h"
#include "core/history/diagnosis.h"

namespace bms::qt {

using namespace build;

DiagnosisWindow::DiagnosisWindow(bms::Context* ctx, QWidget* parent) : ToolDialog("FormDiagnosisReport", true, parent), ctx_(ctx) {
  auto* v = new QVBoxLayout(this);
  for (const bms::ReportSection& s : bms::DiagnosisReportSections()) {
    auto* g = Group(QString::fromUtf8(s.heading));
    auto* grid = new QGridLayout(g);
    grid->setVerticalSpacing(2);
    const int rows = (static_cast<int>(s.items.size()) + 1) / 2;
    int i = 0;
    for (const bms::ReportItem& it : s.items) {
      const int r = i % rows;
      const int c = i / rows * 2;
      grid->addWidget(Text(QString::fromUtf8(it.caption)), r, c);
      grid->addWidget(NamedLabel(it.label), r, c + 1);
      ++i;
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    v->addWidget(g);
  }
  v->addStretch(1);
  v->addLayout(Row({nullptr, Button("BitBtnReportSavePdf", 110)}));
  Compact(this);
  resize(760, 680);
  if (ctx_) ctx_->Printer = this;
}

DiagnosisWindow::~DiagnosisWindow() {
  if (ctx_ && ctx_->Printer == this) ctx_->Printer = nullptr;
}

void DiagnosisWindow::hideEvent(QHideEvent* event) {
  ToolDialog::hideEvent(event);
  emit hidden();
}

void DiagnosisWindow::OnGuiThread(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  // Our own hand-over, so what fn did is visible to the calling thread (and
  // to the thread sanitizer, which does not see into Qt's blocking queue).
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  QMetaObject::invokeMethod(
      this,
      [&] {
        fn();
        {
          std::lock_guard<std::mutex> lock(mu);
          done = true;
        }
        cv.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mu);
  cv.wait(lock, [&] { return done; });
}

void DiagnosisWindow::ShowReport() {
  if (!ctx_) return;
  OnGuiThread([this] {
    setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    const auto c = connect(this, &DiagnosisWindow::hidden, &loop, &QEventLoop::quit);
    ctx_->FormDiagnosisReport.self.set_visible(true);  // the binder shows it
    loop.exec();
    disconnect(c);
    setWindowModality(Qt::NonModal);
  });
}

bool DiagnosisWindow::PrintReport() {
  if (!ctx_) return false;
  bool printed = false;
  OnGuiThread([this, &printed] {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Diagnosis Report"));
    printer.setFromTo(1, 1);
    QPrintDialog dialog(&printer, parentWidget() ? parentWidget() : this);
    dialog.setObjectName(QStringLiteral("PrintDialog1"));
    dialog.setMinMax(1, 5);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setWindowTitle(QStringLiteral("Print the diagnosis report"));
    if (dialog.exec() != QDialog::Accepted) return;
    QPainter p;
    if (!p.begin(&printer)) {
      QMessageBox::warning(this, windowTitle(), QStringLiteral("The printer could not be started; nothing was printed."));
      return;
    }
    bms::report::PaintReportPage(p, printer.pageRect(QPrinter::DevicePixel).translated(-printer.pageRect(QPrinter::DevicePixel).topLeft()), bms::report::ReportPageOf(*ctx_));
    printed = p.end();
  });
  return printed;
}

bool DiagnosisWindow::SaveReportPdfAs() {
  if (!ctx_) return false;
  bool saved = false;
  OnGuiThread([this, &saved] {
    const QString name = QStringLiteral("DiagnosisReport_%1.pdf").arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save as PDF"), name, QStringLiteral("PDF files (*.pdf)"));
    if (path.isEmpty()) return;
    std::string why;
    saved = SaveReportPdf(path.toStdString(), &why);
    if (!saved) QMessageBox::warning(this, windowTitle(), QStringLiteral("The PDF file was not written: %1").arg(QString::fromStdString(why)));
  });
  return saved;
}

bool DiagnosisWindow::SaveReportPdf(const std::string& path, std::string* why) {
  if (!ctx_) return false;
  return bms::report::WriteReportPdf(path, bms::report::ReportPageOf(*ctx_), why);
}

}  // namespace bms::qt
