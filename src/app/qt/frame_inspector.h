#pragma once
// The frame inspector: every frame on the link as it happens, fed from the
// link's tap through a bounded queue and taken in batches by a timer, so a
// flood of frames never freezes the window. It listens only while shown.
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "core/context.h"
#include "core/link/frame_describe.h"
#include "core/link/frame_tap.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace bms::qt {

class FrameTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kTime, kWait, kDirection, kBytes, kMeaning, kCheck, kColumns };

  explicit FrameTableModel(size_t max_rows, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Adds a batch with one insertion; beyond max_rows the oldest rows go.
  void append(std::vector<bms::FrameRow>&& batch);
  void clear();
  const bms::FrameRow& row_at(int row) const { return rows_[static_cast<size_t>(row)]; }

 private:
  size_t max_rows_;
  std::deque<bms::FrameRow> rows_;
};

// Direction (all, TX, RX) and address filters over the rows.
class FrameFilter : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void set_direction(int which);  // 0 all, 1 TX, 2 RX
  // nullopt: every address; valid false: the operator's text is no
  // address, nothing is shown.
  void set_address(std::optional<uint16_t> address, bool valid = true);

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  int direction_ = 0;
  std::optional<uint16_t> address_;
  bool valid_ = true;
};

class FrameInspector : public QWidget {
  Q_OBJECT
 public:
  static constexpr size_t kQueueFrames = 20000;
  static constexpr size_t kMaxRows = 100000;
  static constexpr int kDrainMs = 100;

  explicit FrameInspector(bms::Context& ctx, QWidget* parent = nullptr, size_t queue_frames = kQueueFrames, size_t max_rows = kMaxRows);
  ~FrameInspector() override;

  // Listening starts when the window is shown and ends when it is hidden.
  void start_listening();
  void stop_listening();
  bool listening() const { return attached_; }
  // Takes every waiting frame (the timer calls this every kDrainMs).
  void drain();
  // Writes the rows the filters show, one line each (and the lines of the
  // skips among them), replacing path as one step. False with *why when it
  // could not.
  bool export_to(const QString& path, QString* why);
  // Frames the window could not take: dropped by the full queue or beyond
  // what a pause can hold.
  uint64_t skipped() const;

  FrameTableModel& model() { return *model_; }
  FrameFilter& filter() { return *filter_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void set_paused(bool on);
  void update_counters();
  void export_clicked();
  void address_edited(const QString& text);

  bms::Context& ctx_;
  std::shared_ptr<bms::FrameQueue> queue_;
  bms::FrameDescriber describer_;
  FrameTableModel* model_;
  FrameFilter* filter_;
  QTableView* table_;
  QComboBox* direction_;
  QLineEdit* address_;
  QPushButton* pause_;
  QPushButton* clear_;
  QPushButton* export_;
  QLabel* count_;
  QLabel* skipped_label_;
  QTimer timer_;
  bool attached_ = false;
  bool paused_ = false;
  std::vector<bms::FrameRow> held_;  // taken while paused
  uint64_t held_overflow_ = 0;       // frames a full pause could not hold
  uint64_t overflow_pending_ = 0;    // of those, not yet announced by a row
  size_t max_rows_;
};

}  // namespace bms::qt
