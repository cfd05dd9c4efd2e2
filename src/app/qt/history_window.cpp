#include "app/qt/history_window.h"

#include <QEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/qt/build.h"
#include "app/qt/history_plot.h"

namespace bms::qt {

using namespace build;

HistoryWindow::HistoryWindow(bms::Context* ctx, QWidget* parent) : ToolDialog("FormEEPROM", true, parent), ctx_(ctx) {
  auto* v = new QVBoxLayout(this);
  auto* pages = Named(new QTabWidget, "PageControlEEP");
  struct PageDef {
    const char* page;
    const char* caption;
    const char* memo;
  };
  const PageDef defs[] = {{"TabSheetHeader", "Header", "MemoEEPHeader"},
                          {"TabSheetProtection", "Protection", "MemoEEPProtect"},
                          {"TabSheetLEAD", "LEAD", "MemoEEPNormalLEAD"},
                          {"TabSheet1", "LAST", "MemoEEPNormalLAST"}};
  for (const PageDef& d : defs) {
    auto* page = Named(new QWidget, d.page);
    auto* pl = new QVBoxLayout(page);
    auto* memo = Memo(d.memo);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    memo->setFont(mono);
    pl->addWidget(memo);
    pages->addTab(page, QString::fromLatin1(d.caption));
  }
  v->addWidget(pages, 1);

  auto* plots = new QPushButton(QStringLiteral("Plots"));
  plots->setObjectName(QStringLiteral("ButtonHistoryPlots"));
  plots->setAutoDefault(false);
  plots->setEnabled(ctx_ != nullptr);
  connect(plots, &QPushButton::clicked, this, [this] { open_plots(); });
  auto* file = NamedLabel("LabelEEPExportFile");
  file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  file->setMinimumWidth(10);
  file->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  v->addLayout(Row({Button("BitBtnEEPBlockChoiceRead", 80), Check("CheckBoxEEPFastRead"), plots, file}));

  auto* range = NamedGroup("GroupBoxEEPRangeRead");
  range->setTitle(QStringLiteral("EPP Data Range read"));
  range->setLayout(Row({Button("BitBtnEEPPreView", 70), Text(QStringLiteral("Start")), Combo("ComboBoxEEPStartAddrRead", 80), Text(QStringLiteral("to")),
                        Combo("ComboBoxEEPEndAddrRead", 80), Button("BitBtnEEPRange", 60), Button("BitBtnClean", 60), nullptr}));
  v->addWidget(range);

  // Design leftovers: present, never shown.
  auto* hidden = new QWidget;
  hidden->setLayout(Row({Button("BitBtnEEPBlockProtectRead"), Button("BitBtnEEPClean"), Gauge("CGaugeEEPROMread", Qt::Horizontal)}));
  hidden->hide();
  v->addWidget(hidden);

  // Progress of a block read.
  progress_ = new QWidget(this, Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
  progress_->setObjectName(QStringLiteral("EEPReadProgressWindow"));
  progress_->setWindowTitle(QStringLiteral("Reading the EEPROM history"));
  auto* pl = new QVBoxLayout(progress_);
  auto* bar = Progress("ProgressBarEEPBlockRead");
  bar->setTextVisible(true);
  bar->setMinimumWidth(320);
  pl->addWidget(bar);
  auto* cancel = Button("BitBtnEEPCancel", 80);
  cancel_ = cancel;
  cancel->installEventFilter(this);
  pl->addLayout(Row({NamedLabel("LabelEEPProgress"), nullptr, cancel}));
  progress_->hide();

  Compact(this);
  resize(568, 618);
}

HistoryPlotWindow* HistoryWindow::open_plots() {
  if (!ctx_) return nullptr;
  if (!plots_) plots_ = new HistoryPlotWindow(*ctx_, this);
  plots_->refresh();
  plots_->show();
  plots_->raise();
  return plots_;
}

void HistoryWindow::changeEvent(QEvent* event) {
  ToolDialog::changeEvent(event);
  // The read locks this window; its progress window stays usable.
  if (event->type() == QEvent::EnabledChange && !isEnabled() && progress_) progress_->setEnabled(true);
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
  // Cancel is visible exactly while a block read runs: its window follows.
  if (watched == cancel_ && progress_) {
    if (event->type() == QEvent::ShowToParent) {
      progress_->setEnabled(true);
      progress_->adjustSize();
      progress_->move(mapToGlobal(QPoint(width() / 2 - progress_->width() / 2, height() / 3)));
      progress_->show();
    } else if (event->type() == QEvent::HideToParent) {
      progress_->hide();
    }
  }
  return ToolDialog::eventFilter(watched, event);
}

}  // namespace bms::qt
