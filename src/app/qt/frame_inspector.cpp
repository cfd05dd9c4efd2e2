#include "app/qt/frame_inspector.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <string>

#include "core/platform/files.h"

namespace bms::qt {

// ---- model ----

FrameTableModel::FrameTableModel(size_t max_rows, QObject* parent) : QAbstractTableModel(parent), max_rows_(std::max<size_t>(max_rows, 1)) {}

int FrameTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }
int FrameTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant FrameTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const FrameRow& r = row_at(index.row());
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case kTime:
        return QString::number(r.t_ms);
      case kWait:
        return r.wait_ms < 0 ? QStringLiteral("-") : QStringLiteral("+%1").arg(r.wait_ms);
      case kDirection:
        return QString::fromLatin1(DirectionText(r.dir));
      case kBytes:
        return QString::fromStdString(r.hex);
      case kMeaning:
        return QString::fromUtf8(r.d.meaning.data(), static_cast<qsizetype>(r.d.meaning.size()));
      case kCheck:
        return QString::fromStdString(r.d.verdict_text);
    }
  }
  if (role == Qt::ForegroundRole && r.d.verdict == FrameVerdict::Bad) return QColor(Qt::red);
  if (role == Qt::TextAlignmentRole && (index.column() == kTime || index.column() == kWait)) return int(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant FrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  static const char* const kHeads[kColumns] = {"Time (ms)", "Wait (ms)", "Dir", "Bytes", "Meaning", "Check"};
  return section >= 0 && section < kColumns ? QString::fromLatin1(kHeads[section]) : QVariant();
}

void FrameTableModel::append(std::vector<FrameRow>&& batch) {
  if (batch.empty()) return;
  if (batch.size() > max_rows_) batch.erase(batch.begin(), batch.end() - static_cast<std::ptrdiff_t>(max_rows_));
  const size_t keep = max_rows_ - batch.size();
  if (rows_.size() > keep) {
    const int gone = static_cast<int>(rows_.size() - keep);
    beginRemoveRows(QModelIndex(), 0, gone - 1);
    rows_.erase(rows_.begin(), rows_.begin() + gone);
    endRemoveRows();
  }
  const int first = static_cast<int>(rows_.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(batch.size()) - 1);
  for (FrameRow& r : batch) rows_.push_back(std::move(r));
  endInsertRows();
}

void FrameTableModel::clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

// ---- filter ----

void FrameFilter::set_direction(int which) {
  direction_ = which;
  invalidateFilter();
}

void FrameFilter::set_address(std::optional<uint16_t> address, bool valid) {
  address_ = address;
  valid_ = valid;
  invalidateFilter();
}

bool FrameFilter::filterAcceptsRow(int source_row, const QModelIndex&) const {
  const auto* m = static_cast<const FrameTableModel*>(sourceModel());
  const FrameRow& r = m->row_at(source_row);
  if (direction_ == 1 && r.dir != FrameDirection::Out) return false;
  if (direction_ == 2 && r.dir != FrameDirection::In) return false;
  if (!valid_) return false;
  if (address_ && r.d.address != address_) return false;
  return true;
}

// ---- window ----

FrameInspector::FrameInspector(bms::Context& ctx, QWidget* parent, size_t queue_frames, size_t max_rows)
    : QWidget(parent, Qt::Window), ctx_(ctx), queue_(std::make_shared<FrameQueue>(queue_frames)), max_rows_(max_rows) {
  setObjectName(QStringLiteral("FrameInspector"));
  setWindowTitle(QStringLiteral("Frame inspector"));
  model_ = new FrameTableModel(max_rows, this);
  filter_ = new FrameFilter(this);
  filter_->setSourceModel(model_);

  direction_ = new QComboBox;
  direction_->setObjectName(QStringLiteral("FrameInspectorDirection"));
  direction_->addItems({QStringLiteral("TX and RX"), QStringLiteral("TX only"), QStringLiteral("RX only")});
  address_ = new QLineEdit;
  address_->setObjectName(QStringLiteral("FrameInspectorAddress"));
  address_->setPlaceholderText(QStringLiteral("address (hex), all when empty"));
  address_->setMaximumWidth(200);
  pause_ = new QPushButton(QStringLiteral("Pause"));
  pause_->setObjectName(QStringLiteral("FrameInspectorPause"));
  pause_->setCheckable(true);
  clear_ = new QPushButton(QStringLiteral("Clear"));
  clear_->setObjectName(QStringLiteral("FrameInspectorClear"));
  export_ = new QPushButton(QStringLiteral("Export..."));
  export_->setObjectName(QStringLiteral("FrameInspectorExport"));
  count_ = new QLabel;
  count_->setObjectName(QStringLiteral("FrameInspectorCount"));
  skipped_label_ = new QLabel;
  skipped_label_->setObjectName(QStringLiteral("FrameInspectorSkipped"));
  skipped_label_->setStyleSheet(QStringLiteral("color: red; font-weight: bold"));
  skipped_label_->hide();

  table_ = new QTableView;
  table_->setObjectName(QStringLiteral("FrameInspectorTable"));
  table_->setModel(filter_);
  table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(FrameTableModel::kTime, 100);
  table_->setColumnWidth(FrameTableModel::kWait, 80);
  table_->setColumnWidth(FrameTableModel::kDirection, 40);
  table_->setColumnWidth(FrameTableModel::kBytes, 420);
  table_->setColumnWidth(FrameTableModel::kMeaning, 380);

  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(QStringLiteral("Show")));
  bar->addWidget(direction_);
  bar->addWidget(new QLabel(QStringLiteral("Address")));
  bar->addWidget(address_);
  bar->addWidget(pause_);
  bar->addWidget(clear_);
  bar->addWidget(export_);
  bar->addStretch(1);
  bar->addWidget(skipped_label_);
  bar->addWidget(count_);
  auto* v = new QVBoxLayout(this);
  v->addLayout(bar);
  v->addWidget(table_, 1);
  resize(1200, 600);

  connect(direction_, &QComboBox::currentIndexChanged, this, [this](int i) { filter_->set_direction(i); });
  connect(address_, &QLineEdit::textChanged, this, &FrameInspector::address_edited);
  connect(pause_, &QPushButton::toggled, this, &FrameInspector::set_paused);
  connect(clear_, &QPushButton::clicked, this, [this] {
    model_->clear();
    held_.clear();
    update_counters();
  });
  connect(export_, &QPushButton::clicked, this, &FrameInspector::export_clicked);
  timer_.setInterval(kDrainMs);
  connect(&timer_, &QTimer::timeout, this, &FrameInspector::drain);
  update_counters();
}

FrameInspector::~FrameInspector() { stop_listening(); }

void FrameInspector::start_listening() {
  if (attached_) return;
  ctx_.FrameTaps.attach(queue_);
  attached_ = true;
  timer_.start();
}

void FrameInspector::stop_listening() {
  if (!attached_) return;
  ctx_.FrameTaps.detach(queue_);
  attached_ = false;
  timer_.stop();
}

void FrameInspector::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  start_listening();
}

void FrameInspector::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  drain();
  stop_listening();
}

void FrameInspector::drain() {
  std::vector<TappedFrame> frames;
  queue_->take(frames);
  if (!frames.empty()) {
    std::vector<FrameRow> rows;
    rows.reserve(frames.size());
    for (const TappedFrame& f : frames) rows.push_back(describer_.row(f));
    if (paused_) {
      for (FrameRow& r : rows) {
        if (held_.size() < max_rows_) {
          r.skipped_before += overflow_pending_;
          overflow_pending_ = 0;
          held_.push_back(std::move(r));
        } else {
          ++held_overflow_;
          ++overflow_pending_;
        }
      }
    } else {
      rows.front().skipped_before += overflow_pending_;
      overflow_pending_ = 0;
      // The list follows new frames unless the operator scrolled up.
      const bool at_end = table_->verticalScrollBar()->value() == table_->verticalScrollBar()->maximum();
      model_->append(std::move(rows));
      if (at_end) table_->scrollToBottom();
    }
  }
  update_counters();
}

void FrameInspector::set_paused(bool on) {
  paused_ = on;
  pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  if (!on && !held_.empty()) {
    model_->append(std::move(held_));
    held_.clear();
    table_->scrollToBottom();
  }
  update_counters();
}

uint64_t FrameInspector::skipped() const { return queue_->dropped() + held_overflow_; }

void FrameInspector::update_counters() {
  QString text = QStringLiteral("%1 frames").arg(model_->rowCount());
  if (paused_) text += QStringLiteral(", %1 held").arg(held_.size());
  count_->setText(text);
  const uint64_t n = skipped();
  skipped_label_->setText(QStringLiteral("%1 frames skipped").arg(n));
  skipped_label_->setVisible(n > 0);
}

void FrameInspector::address_edited(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) {
    address_->setStyleSheet(QString());
    filter_->set_address(std::nullopt);
    return;
  }
  bool ok = false;
  const uint value = (t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive) ? t.mid(2) : t).toUInt(&ok, 16);
  ok = ok && value <= 0xFFFF;
  address_->setStyleSheet(ok ? QString() : QStringLiteral("color: red"));
  // An address that is not one shows nothing rather than everything.
  filter_->set_address(static_cast<uint16_t>(value), ok);
}

bool FrameInspector::export_to(const QString& path, QString* why) {
  std::string text;
  for (int i = 0; i < filter_->rowCount(); ++i) {
    const FrameRow& r = model_->row_at(filter_->mapToSource(filter_->index(i, 0)).row());
    if (r.skipped_before > 0) text += SkippedLine(r.skipped_before) + "\n";
    text += FrameLine(r) + "\n";
  }
  // Frames dropped after the last one taken have no frame to announce them.
  if (const uint64_t tail = queue_->dropped_pending() + overflow_pending_) text += SkippedLine(tail) + "\n";
  std::string reason;
  if (WriteFileAtomic(path.toStdString(), text, &reason)) return true;
  if (why) *why = QString::fromStdString(reason);
  return false;
}

void FrameInspector::export_clicked() {
  const QString start = QString::fromStdString(ctx_.app.data_folder) + QStringLiteral("frames.txt");
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export frames"), start, QStringLiteral("Text files (*.txt);;All files (*)"));
  if (path.isEmpty()) return;
  QString why;
  if (!export_to(path, &why)) QMessageBox::warning(this, QStringLiteral("Export frames"), QStringLiteral("The frames were not exported: %1").arg(why));
}

}  // namespace bms::qt
