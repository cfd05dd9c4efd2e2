#pragma once
// Live plots: a dock of the main window (hidden until the "Plots" button of
// the view toolbar shows it) with three charts over the same time axis:
// pack voltage and current; the cell voltages (all cells, or the highest and
// the lowest); T1 to T3 and the state of charge. The samples come from the
// polling loop's tap through the bounded queue of the Context; a GUI timer
// takes them four times a second and redraws at most that often, never per
// sample. Pause freezes the view (sampling goes on), the mouse wheel zooms,
// a drag zooms to the dragged span, a right-button drag or the arrow keys
// pan, "Live" goes back to following the newest sample.
#include <QDockWidget>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtCharts/QChartView>
#include <array>
#include <vector>

#include "core/context.h"
#include "core/monitor/plot_series.h"

class QComboBox;
class QLabel;
class QPushButton;
class QAction;
class QMainWindow;

QT_BEGIN_NAMESPACE
class QLineSeries;
class QDateTimeAxis;
class QValueAxis;
QT_END_NAMESPACE

namespace bms::qt {

// A chart view that zooms and pans the time axis only.
class PlotChartView : public QChartView {
  Q_OBJECT
 public:
  using QChartView::QChartView;

 signals:
  // The operator zoomed or panned the time axis of this chart.
  void timeAxisMoved();

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

class PlotPanel : public QDockWidget {
  Q_OBJECT
 public:
  // Adds itself (hidden) to `main` and its "Plots" action to the view
  // toolbar of `main`, and turns the tap of ctx on.
  PlotPanel(bms::Context& ctx, QMainWindow* main);
  ~PlotPanel() override;

  // Takes what the queue holds into the series (the timer does this).
  void take_samples();
  // Adds samples kept elsewhere (oldest first) as if they had been taken.
  void add_samples(const std::vector<bms::PlotSample>& samples);
  // Redraws the charts for the present time window.
  void redraw();
  // The whole charts as a PNG file, written in one step. False with *why.
  bool export_png(const QString& path, QString* why);
  // The samples of the time window shown as CSV. False with *why.
  bool export_csv(const QString& path, QString* why);

  const bms::PlotSeries& series() const { return series_; }
  QAction* toggle_action() const { return toggle_; }
  // Points drawn for a channel (0 when its line is hidden).
  int points_drawn(bms::PlotChannel c) const;
  // The time window shown, in the clock's milliseconds.
  int64_t view_from_ms() const { return from_ms_; }
  int64_t view_to_ms() const { return to_ms_; }
  bool following() const { return following_; }
  int redraws() const { return redraws_; }

 private:
  struct Chart {
    PlotChartView* view = nullptr;
    QDateTimeAxis* x = nullptr;
    QValueAxis* left = nullptr;
    QValueAxis* right = nullptr;
  };
  Chart make_chart(const char* name, const QString& title, const QString& left_title, const QString& right_title);
  void add_line(Chart& chart, bms::PlotChannel c, const QString& name, bool right_axis);
  void on_tick();
  void on_axis_moved(const Chart& source);
  void go_live();
  void apply_cell_view();
  double x_of(int64_t t_ms) const;
  int64_t t_of(double x) const;
  int64_t window_ms() const;
  void set_status(const QString& text);

  bms::Context& ctx_;
  bms::PlotSampleQueue queue_;  // attached to ctx_'s tap while the panel lives
  bms::PlotSeries series_;
  QTimer timer_;
  QAction* toggle_ = nullptr;
  QComboBox* window_ = nullptr;
  QComboBox* cells_ = nullptr;
  QPushButton* pause_ = nullptr;
  QLabel* status_ = nullptr;
  QWidget* charts_ = nullptr;
  std::vector<Chart> chart_list_;
  std::array<QLineSeries*, bms::kPlotChannels> lines_{};
  std::array<int, bms::kPlotChannels> chart_of_{};  // index into chart_list_
  std::array<bool, bms::kPlotChannels> right_axis_{};
  int64_t from_ms_ = 0, to_ms_ = 0;
  bool following_ = true;
  bool dirty_ = true;
  uint64_t dropped_shown_ = 0;
  int redraws_ = 0;
  QElapsedTimer last_redraw_;
  qint64 base_epoch_ms_ = 0;  // wall-clock time of the series' first sample
  int64_t base_t_ms_ = 0;
};

}  // namespace bms::qt
