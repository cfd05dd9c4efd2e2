#pragma once
// History plots: state of charge, voltage, current or temperature of the
// LEAD and LAST records over time, protection events marked; zoom (drag a
// rectangle, mouse wheel), pan (right-button drag, arrow keys), export as PNG.
// The plots read the records the last block reads left behind; they never
// talk to the pack.
#include <QComboBox>
#include <QWidget>
#include <QtCharts/QChartView>

#include "core/context.h"

namespace bms::qt {

class HistoryChartView : public QChartView {
  Q_OBJECT
 public:
  using QChartView::QChartView;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool panning_ = false;
  QPointF last_;
};

class HistoryPlotWindow : public QWidget {
  Q_OBJECT
 public:
  HistoryPlotWindow(bms::Context& ctx, QWidget* parent = nullptr);

  // Rebuilds the chart from the records read so far.
  void refresh();
  // Writes the chart as a PNG file (in one step). False with *why.
  bool export_png(const QString& path, QString* why);
  // Number of points of the LEAD, LAST and protection series shown.
  int points(int series) const;
  QChartView* view() const { return view_; }
  QComboBox* quantity() const { return quantity_; }

 private:
  bms::Context& ctx_;
  QComboBox* quantity_;
  HistoryChartView* view_;
  int points_[3] = {0, 0, 0};
};

}  // namespace bms::qt
