// The history window, its plots and the diagnosis report's PDF in the Qt
// front end, on the virtual bench (virtual clock, inline workers).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <string>

#include "app/qt/binder.h"
#include "app/qt/diagnosis_window.h"
#include "app/qt/frontend.h"
#include "app/qt/history_plot.h"
#include "app/qt/history_window.h"
#include "core/history/diagnosis.h"
#include "core/history/eeprom_window.h"
#include "core/link/link_port.h"
#include "core/shell/app.h"
#include "sim/history_model.h"
#include "sim/port_factory.h"
#include "sim/sim_port.h"

namespace {

class HistoryGui : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    bms::sim::Scenario s = bms::sim::DefaultScenario();
    std::string err;
    ASSERT_TRUE(bms::sim::ApplyHistoryModelText("protect=6, lead=40, last=60, seed=11, bad_checksum=last:3", s, err)) << err;
    s.model_name = "WX4410CX";
    s.barcode_ext32 = "WX4410CX-A21B0007";
    pack = std::make_unique<bms::sim::VirtualPack>(clock, s);
    ctx = std::make_unique<bms::Context>(clock, bms::sim::MakePortFactory(pack.get(), clock, nullptr), /*inline_workers=*/true);
    bms::StartOptions opts;
    opts.argv0 = dir.filePath("bmsmon").toStdString();
    opts.data_dir = dir.path().toStdString();
    opts.simulate = true;
    bms::InitAppIdentity(*ctx, opts);
    fe = std::make_unique<bms::qt::Frontend>(*ctx);
    fe->attach();
    bms::CreateApplication(*ctx);
    ctx->PortName.set(bms::sim::kVirtualPortName);
    ctx->FormConfig.ComboBoxBaudRate.set_item_index(1);
    bms::SetCommandButtons(*ctx, true);
  }
  void TearDown() override {
    ctx->Shutdown();
    fe->detach();
    fe.reset();
    ctx.reset();
  }
  void Drain() {
    fe->binder().drain();
    QCoreApplication::processEvents();
  }
  bms::qt::HistoryWindow* history() { return static_cast<bms::qt::HistoryWindow*>(fe->window_of(ctx->FormEEPROM)); }
  bms::qt::DiagnosisWindow* report() { return static_cast<bms::qt::DiagnosisWindow*>(fe->window_of(ctx->FormDiagnosisReport)); }

  QTemporaryDir dir;
  bms::VirtualClock clock;
  std::unique_ptr<bms::sim::VirtualPack> pack;
  std::unique_ptr<bms::Context> ctx;
  std::unique_ptr<bms::qt::Frontend> fe;
};

TEST_F(HistoryGui, TheProgressWindowStaysUsableWhileTheHistoryWindowIsLocked) {
  bms::TFormEEPROM& e = ctx->FormEEPROM;
  e.self.set_visible(true);
  e.self.set_enabled(false);
  e.BitBtnEEPCancel.set_visible(true);
  Drain();
  QWidget* progress = history()->progress_window();
  auto* cancel = progress->findChild<QPushButton*>(QStringLiteral("BitBtnEEPCancel"));
  ASSERT_NE(cancel, nullptr);
  EXPECT_FALSE(history()->isEnabled());
  EXPECT_TRUE(progress->isVisible());
  EXPECT_TRUE(cancel->isEnabled());
  ctx->RunFlag = 1;
  cancel->click();
  Drain();
  EXPECT_EQ(ctx->RunFlag.load(), 0);
  e.BitBtnEEPCancel.set_visible(false);
  Drain();
  EXPECT_FALSE(progress->isVisible());
}

TEST_F(HistoryGui, PlotsShowTheRecordsReadInTimeOrderAndExportAPng) {
  for (bms::HistoryBlock b : {bms::HistoryBlock::Protect, bms::HistoryBlock::Lead, bms::HistoryBlock::Last}) bms::RecordBlockReadWork(*ctx, b);
  bms::qt::HistoryPlotWindow* plots = history()->open_plots();
  ASSERT_NE(plots, nullptr);
  EXPECT_EQ(plots->points(0), 40);
  EXPECT_EQ(plots->points(1), 59);  // record 3 has a bad checksum
  EXPECT_EQ(static_cast<size_t>(plots->points(2)), pack->history_count(bms::sim::HistoryList::Protect));
  for (int q = 0; q < 4; ++q) {
    plots->quantity()->setCurrentIndex(q);
    EXPECT_EQ(plots->points(0), 40);
  }
  const QString png = dir.filePath("plot.png");
  QString why;
  ASSERT_TRUE(plots->export_png(png, &why)) << why.toStdString();
  QFile f(png);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
}

QString PdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  if (!p.waitForFinished(30000)) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

TEST_F(HistoryGui, ThePdfCarriesEveryCaptionAndLabelAsText) {
  bms::ReportReadWork(*ctx, false);
  ASSERT_EQ(ctx->FormDiagnosisReport.Label_ModelName.text(), "WX4410CX");
  const QString pdf = dir.filePath("report.pdf");
  std::string why;
  ASSERT_TRUE(report()->SaveReportPdf(pdf.toStdString(), &why)) << why;
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.read(5) == "%PDF-");
  const QString text = PdfText(pdf).simplified();
  ASSERT_FALSE(text.isEmpty()) << "pdftotext (poppler-utils) is needed";
  int filled = 0;
  for (const bms::ReportSection& s : bms::DiagnosisReportSections()) {
    EXPECT_TRUE(text.contains(QString::fromUtf8(s.heading))) << s.heading;
    for (const bms::ReportItem& it : s.items) {
      const QString caption = QString::fromUtf8(it.caption).simplified();
      if (!caption.isEmpty()) {
        EXPECT_TRUE(text.contains(caption)) << it.caption;
      }
      const std::string value = ctx->FormDiagnosisReport.get(it.label).text();
      if (value.empty()) continue;
      ++filled;
      EXPECT_TRUE(text.contains(QString::fromStdString(value).simplified())) << it.label << " = " << value;
    }
  }
  EXPECT_GE(filled, 35);
  EXPECT_TRUE(text.contains(QStringLiteral("\u96fb\u6c60\u8a3a\u65b7\u5831\u544a"))) << "the Chinese title is text, its font embedded";
  if (const char* keep = std::getenv("BMS_KEEP_REPORT_PDF")) QFile::copy(pdf, QString::fromLocal8Bit(keep));
}

TEST_F(HistoryGui, TheReportWindowShowsEveryLabel) {
  bms::ReportReadWork(*ctx, false);
  Drain();
  for (bms::Control* c : bms::ReportLabels(*ctx)) {
    auto* w = report()->findChild<QLabel*>(QString::fromStdString(c->name()));
    ASSERT_NE(w, nullptr) << c->name();
    EXPECT_EQ(w->text().toStdString(), c->text()) << c->name();
  }
}

TEST_F(HistoryGui, PdfButtonShowsTheReportThenOffersThePrintDialog) {
  bms::ReportReadWork(*ctx, false);
  Drain();
  auto* pdf = fe->window_of(ctx->FormMain)->findChild<QPushButton*>(QStringLiteral("BitBtnPrint"));
  ASSERT_NE(pdf, nullptr);
  ASSERT_TRUE(pdf->isEnabled());
  bool report_seen = false, dialog_seen = false;
  QTimer operator_hand;
  QObject::connect(&operator_hand, &QTimer::timeout, [&] {
    if (report()->isVisible()) {
      report_seen = true;
      report()->close();  // the close box
    } else if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      dialog_seen = dialog->objectName() == QStringLiteral("PrintDialog1");
      dialog->reject();  // Cancel
    }
  });
  operator_hand.start(20);
  ctx->FormMain.StatusBarView.set_item(1, "x");
  pdf->click();
  operator_hand.stop();
  EXPECT_TRUE(report_seen);
  EXPECT_TRUE(dialog_seen);
  EXPECT_FALSE(report()->isVisible());
  EXPECT_FALSE(ctx->FormDiagnosisReport.self.visible());
}

}  // namespace
