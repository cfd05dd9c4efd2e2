#include "app/qt/plot_panel.h"

#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <limits>

#include "core/platform/files.h"

namespace bms::qt {

namespace {

constexpr int kTickMs = 250;  // the charts take samples and redraw at most 4 times a second
constexpr int64_t kMaxRedrawIntervalMs = 5000;

struct WindowChoice {
  const char* text;
  int64_t ms;
};
constexpr int64_t kMinute = 60'000;
const WindowChoice kWindows[] = {{"1 min", kMinute},     {"5 min", 5 * kMinute}, {"15 min", 15 * kMinute}, {"30 min", 30 * kMinute}, {"1 h", 60 * kMinute},
                                 {"2 h", 120 * kMinute}, {"6 h", 360 * kMinute}, {"12 h", 720 * kMinute},  {"24 h", 1440 * kMinute}};
constexpr int kDefaultWindow = 2;  // 15 min

QString Seconds(int64_t ms) { return QString::number(static_cast<double>(ms) / 1000.0, 'f', 1); }

}  // namespace

// ---------------------------------------------------------------- chart view

void PlotChartView::wheelEvent(QWheelEvent* event) {
  if (!chart() || event->angleDelta().y() == 0) return;
  const double factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
  const QRectF area = chart()->plotArea();
  const double anchor = std::clamp(event->position().x(), area.left(), area.right());
  const double left = anchor - (anchor - area.left()) * factor;
  chart()->zoomIn(QRectF(left, area.top(), area.width() * factor, area.height()));
  event->accept();
  emit timeAxisMoved();
}

void PlotChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    panning_ = true;
    last_ = event->position();
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void PlotChartView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_ && chart()) {
    const QPointF d = event->position() - last_;
    last_ = event->position();
    chart()->scroll(-d.x(), 0);
    event->accept();
    emit timeAxisMoved();
    return;
  }
  QChartView::mouseMoveEvent(event);
}

void PlotChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    panning_ = false;
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) emit timeAxisMoved();  // the end of a dragged span
}

void PlotChartView::keyPressEvent(QKeyEvent* event) {
  if (!chart()) return;
  const double step = chart()->plotArea().width() / 10.0;
  switch (event->key()) {
    case Qt::Key_Left:
      chart()->scroll(-step, 0);
      break;
    case Qt::Key_Right:
      chart()->scroll(step, 0);
      break;
    case Qt::Key_Plus:
      chart()->zoomIn();
      break;
    case Qt::Key_Minus:
      chart()->zoomOut();
      break;
    default:
      QChartView::keyPressEvent(event);
      return;
  }
  emit timeAxisMoved();
}

// ---------------------------------------------------------------- panel

PlotPanel::PlotPanel(bms::Context& ctx, QMainWindow* main) : QDockWidget(QStringLiteral("Plots"), main), ctx_(ctx) {
  setObjectName(QStringLiteral("DockPlots"));
  setAllowedAreas(Qt::AllDockWidgetAreas);
  auto* body = new QWidget;
  body->setObjectName(QStringLiteral("PlotPanel"));
  auto* v = new QVBoxLayout(body);
  v->setContentsMargins(4, 4, 4, 4);

  window_ = new QComboBox;
  window_->setObjectName(QStringLiteral("PlotWindow"));
  for (const WindowChoice& w : kWindows) window_->addItem(QString::fromLatin1(w.text));
  window_->setCurrentIndex(kDefaultWindow);
  cells_ = new QComboBox;
  cells_->setObjectName(QStringLiteral("PlotCellView"));
  cells_->addItems({QStringLiteral("All cells"), QStringLiteral("Highest and lowest")});
  pause_ = new QPushButton(QStringLiteral("Pause"));
  pause_->setObjectName(QStringLiteral("PlotPause"));
  pause_->setCheckable(true);
  auto* live = new QPushButton(QStringLiteral("Live"));
  live->setObjectName(QStringLiteral("PlotLive"));
  live->setToolTip(QStringLiteral("Follow the newest sample in the chosen time window"));
  auto* clear = new QPushButton(QStringLiteral("Clear"));
  clear->setObjectName(QStringLiteral("PlotClear"));
  auto* png = new QPushButton(QStringLiteral("Export PNG"));
  png->setObjectName(QStringLiteral("PlotExportPng"));
  auto* csv = new QPushButton(QStringLiteral("Export CSV"));
  csv->setObjectName(QStringLiteral("PlotExportCsv"));
  for (QPushButton* b : {pause_, live, clear, png, csv}) b->setAutoDefault(false);
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("PlotStatus"));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Time window")));
  row->addWidget(window_);
  row->addWidget(cells_);
  row->addWidget(pause_);
  row->addWidget(live);
  row->addWidget(clear);
  row->addWidget(status_, 1);
  row->addWidget(png);
  row->addWidget(csv);
  v->addLayout(row);

  charts_ = new QWidget;
  charts_->setObjectName(QStringLiteral("PlotCharts"));
  auto* cv = new QVBoxLayout(charts_);
  cv->setContentsMargins(0, 0, 0, 0);
  cv->setSpacing(2);
  chart_list_.push_back(make_chart("ChartPack", QStringLiteral("Pack"), QStringLiteral("mV"), QStringLiteral("mA")));
  chart_list_.push_back(make_chart("ChartCells", QStringLiteral("Cells"), QStringLiteral("mV"), QStringLiteral("mV")));
  chart_list_.push_back(make_chart("ChartTemperatures", QStringLiteral("Temperatures and state of charge"), QStringLiteral("\u00b0C"), QStringLiteral("%")));
  for (const Chart& c : chart_list_) cv->addWidget(c.view, 1);
  v->addWidget(charts_, 1);
  setWidget(body);

  using bms::PlotChannel;
  add_line(chart_list_[0], PlotChannel::PackVoltage, QStringLiteral("Pack voltage"), false);
  add_line(chart_list_[0], PlotChannel::PackCurrent, QStringLiteral("Pack current"), true);
  for (int cell = 1; cell <= 14; ++cell) add_line(chart_list_[1], bms::CellChannel(cell), QStringLiteral("Cell %1").arg(cell), false);
  add_line(chart_list_[1], PlotChannel::CellHigh, QStringLiteral("Highest"), false);
  add_line(chart_list_[1], PlotChannel::CellLow, QStringLiteral("Lowest"), false);
  add_line(chart_list_[2], PlotChannel::T1, QStringLiteral("T1"), false);
  add_line(chart_list_[2], PlotChannel::T2, QStringLiteral("T2"), false);
  add_line(chart_list_[2], PlotChannel::T3, QStringLiteral("T3"), false);
  add_line(chart_list_[2], PlotChannel::Soc, QStringLiteral("SOC"), true);
  apply_cell_view();

  connect(window_, &QComboBox::currentIndexChanged, this, [this] { go_live(); });
  connect(cells_, &QComboBox::currentIndexChanged, this, [this] {
    apply_cell_view();
    redraw();
  });
  connect(pause_, &QPushButton::toggled, this, [this](bool on) {
    pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (!on) redraw();
  });
  connect(live, &QPushButton::clicked, this, [this] {
    pause_->setChecked(false);
    go_live();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    series_.clear();
    redraw();
  });
  connect(png, &QPushButton::clicked, this, [this] {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the plots as PNG"),
                                     QString::fromStdString(ctx_.app.data_folder) + QStringLiteral("plots_") + stamp + QStringLiteral(".png"), QStringLiteral("PNG image (*.png)"));
    if (path.isEmpty()) return;
    QString why;
    if (!export_png(path, &why)) QMessageBox::warning(this, windowTitle(), QStringLiteral("The PNG file was not written: ") + why);
  });
  connect(csv, &QPushButton::clicked, this, [this] {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the samples shown as CSV"),
                                     QString::fromStdString(ctx_.app.data_folder) + QStringLiteral("plots_") + stamp + QStringLiteral(".csv"), QStringLiteral("CSV file (*.csv)"));
    if (path.isEmpty()) return;
    QString why;
    if (!export_csv(path, &why)) QMessageBox::warning(this, windowTitle(), QStringLiteral("The CSV file was not written: ") + why);
  });
  connect(this, &QDockWidget::visibilityChanged, this, [this](bool shown) {
    if (shown) redraw();
  });

  // Hidden until asked for; it opens beside the main window and docks to
  // any of its sides when dragged there.
  main->addDockWidget(Qt::BottomDockWidgetArea, this);
  setFloating(true);
  resize(980, 680);
  hide();
  toggle_ = toggleViewAction();
  toggle_->setText(QStringLiteral("Plots"));
  toggle_->setObjectName(QStringLiteral("ActionPlots"));
  toggle_->setToolTip(QStringLiteral("Show or hide the live plots"));
  auto* bar = main->findChild<QToolBar*>(QStringLiteral("ToolBarView"));
  if (!bar) {
    bar = new QToolBar(QStringLiteral("View"), main);
    bar->setObjectName(QStringLiteral("ToolBarView"));
    bar->setMovable(false);
    main->addToolBar(Qt::TopToolBarArea, bar);
  }
  bar->addAction(toggle_);

  bms::AttachPlotSampleQueue(ctx_, &queue_);
  connect(&timer_, &QTimer::timeout, this, [this] { on_tick(); });
  timer_.start(kTickMs);
  set_status(QString());
}

PlotPanel::~PlotPanel() { bms::AttachPlotSampleQueue(ctx_, nullptr); }

PlotPanel::Chart PlotPanel::make_chart(const char* name, const QString& title, const QString& left_title, const QString& right_title) {
  Chart c;
  auto* chart = new QChart;
  chart->setTitle(title);
  chart->setMargins(QMargins(4, 2, 4, 2));
  chart->legend()->setAlignment(Qt::AlignTop);  // the plot areas of the three charts stay aligned
  c.x = new QDateTimeAxis;
  c.x->setFormat(QStringLiteral("HH:mm:ss"));
  chart->addAxis(c.x, Qt::AlignBottom);
  c.left = new QValueAxis;
  c.left->setTitleText(left_title);
  c.left->setLabelFormat(QStringLiteral("%.0f"));
  chart->addAxis(c.left, Qt::AlignLeft);
  if (!right_title.isEmpty()) {
    c.right = new QValueAxis;
    c.right->setTitleText(right_title);
    c.right->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(c.right, Qt::AlignRight);
  }
  c.view = new PlotChartView(chart);
  c.view->setObjectName(QString::fromLatin1(name));
  c.view->setRubberBand(QChartView::HorizontalRubberBand);
  c.view->setMinimumHeight(150);
  const size_t index = chart_list_.size();
  connect(c.view, &PlotChartView::timeAxisMoved, this, [this, index] {
    if (index < chart_list_.size()) on_axis_moved(chart_list_[index]);
  });
  return c;
}

void PlotPanel::add_line(Chart& chart, bms::PlotChannel c, const QString& name, bool right_axis) {
  auto* line = new QLineSeries;
  line->setName(name);
  chart.view->chart()->addSeries(line);
  line->attachAxis(chart.x);
  line->attachAxis(right_axis && chart.right ? chart.right : chart.left);
  const auto i = static_cast<size_t>(c);
  lines_[i] = line;
  chart_of_[i] = static_cast<int>(&chart - chart_list_.data());
  right_axis_[i] = right_axis && chart.right;
}

void PlotPanel::apply_cell_view() {
  const bool all = cells_->currentIndex() == 0;
  for (int cell = 1; cell <= 14; ++cell) lines_[static_cast<size_t>(bms::CellChannel(cell))]->setVisible(all);
  lines_[static_cast<size_t>(bms::PlotChannel::CellHigh)]->setVisible(!all);
  lines_[static_cast<size_t>(bms::PlotChannel::CellLow)]->setVisible(!all);
  // A legend of fourteen cells says little: the title says what is drawn.
  QChart* chart = chart_list_[1].view->chart();
  chart->legend()->setVisible(false);
  chart->setTitle(all ? QStringLiteral("Cells (all)") : QStringLiteral("Cells (highest and lowest)"));
}

int64_t PlotPanel::window_ms() const {
  const int i = std::clamp(window_->currentIndex(), 0, static_cast<int>(std::size(kWindows)) - 1);
  return kWindows[i].ms;
}

double PlotPanel::x_of(int64_t t_ms) const { return static_cast<double>(base_epoch_ms_ + (t_ms - base_t_ms_)); }

int64_t PlotPanel::t_of(double x) const { return static_cast<int64_t>(x) - base_epoch_ms_ + base_t_ms_; }

void PlotPanel::take_samples() { add_samples(queue_.drain()); }

void PlotPanel::add_samples(const std::vector<bms::PlotSample>& samples) {
  for (const bms::PlotSample& s : samples) {
    if (series_.empty()) {
      const bms::LocalTime& l = s.local;
      base_epoch_ms_ = QDateTime(QDate(l.year, l.month, l.day), QTime(l.hour, l.minute, l.second, l.millisecond)).toMSecsSinceEpoch();
      base_t_ms_ = s.t_ms;
    }
    series_.add(s);
  }
  if (!samples.empty()) dirty_ = true;
  if (!samples.empty() || queue_.dropped() != dropped_shown_) set_status(QString());
}

void PlotPanel::on_tick() {
  take_samples();
  if (!isVisible() || pause_->isChecked() || !dirty_) return;
  // A long window moves by a pixel only every few seconds: it is redrawn
  // that often (at most every 5 s), a short one at every tick.
  const int64_t per_pixel = window_ms() / std::max(1, charts_->width());
  const int64_t interval = std::clamp<int64_t>(per_pixel, kTickMs, kMaxRedrawIntervalMs);
  if (following_ && last_redraw_.isValid() && last_redraw_.elapsed() + kTickMs / 2 < interval) return;
  redraw();
}

void PlotPanel::go_live() {
  following_ = true;
  redraw();
}

void PlotPanel::on_axis_moved(const Chart& source) {
  const int64_t from = t_of(static_cast<double>(source.x->min().toMSecsSinceEpoch()));
  const int64_t to = t_of(static_cast<double>(source.x->max().toMSecsSinceEpoch()));
  if (from == from_ms_ && to == to_ms_) return;  // a click without a drag
  from_ms_ = from;
  to_ms_ = to;
  following_ = false;
  redraw();
}

void PlotPanel::redraw() {
  ++redraws_;
  last_redraw_.start();
  dirty_ = false;
  if (following_ && !pause_->isChecked()) {
    to_ms_ = series_.empty() ? base_t_ms_ : series_.newest_ms();
    from_ms_ = to_ms_ - window_ms();
  }
  const int buckets = std::clamp(charts_->width() / 2, 100, 1000);
  struct Range {
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
  };
  std::vector<std::array<Range, 2>> ranges(chart_list_.size());
  for (size_t i = 0; i < lines_.size(); ++i) {
    QLineSeries* line = lines_[i];
    if (!line) continue;
    if (!line->isVisible()) {
      if (line->count() > 0) line->clear();
      continue;
    }
    const std::vector<bms::PlotPoint> points = series_.line(static_cast<bms::PlotChannel>(i), from_ms_, to_ms_, buckets);
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points.size()));
    Range& r = ranges[static_cast<size_t>(chart_of_[i])][right_axis_[i] ? 1 : 0];
    for (const bms::PlotPoint& p : points) {
      list.append(QPointF(x_of(p.t_ms), p.value));
      r.lo = std::min(r.lo, static_cast<double>(p.value));
      r.hi = std::max(r.hi, static_cast<double>(p.value));
    }
    line->replace(list);
  }
  for (size_t c = 0; c < chart_list_.size(); ++c) {
    Chart& chart = chart_list_[c];
    chart.x->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x_of(from_ms_))), QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x_of(to_ms_))));
    chart.x->setFormat(to_ms_ - from_ms_ > 6 * 3600'000 ? QStringLiteral("dd HH:mm") : QStringLiteral("HH:mm:ss"));
    QValueAxis* axes[2] = {chart.left, chart.right};
    for (int a = 0; a < 2; ++a) {
      if (!axes[a]) continue;
      Range r = ranges[c][static_cast<size_t>(a)];
      if (a == 1 && r.lo > r.hi) r = ranges[c][0];  // a right axis without lines mirrors the left one
      if (r.lo > r.hi) r = {0, 1};
      const double margin = r.hi > r.lo ? (r.hi - r.lo) * 0.05 : 1.0;
      axes[a]->setRange(r.lo - margin, r.hi + margin);
    }
  }
}

int PlotPanel::points_drawn(bms::PlotChannel c) const {
  const QLineSeries* line = lines_[static_cast<size_t>(c)];
  return line && line->isVisible() ? static_cast<int>(line->count()) : 0;
}

void PlotPanel::set_status(const QString& text) {
  dropped_shown_ = queue_.dropped();
  QString s = text;
  if (s.isEmpty()) {
    s = QStringLiteral("%1 samples").arg(series_.raw_size());
    if (!series_.empty()) s += QStringLiteral(", %1 s kept").arg(Seconds(series_.newest_ms() - series_.oldest_ms()));
  }
  if (dropped_shown_ > 0) s += QStringLiteral("   %1 samples skipped (the window could not keep up)").arg(dropped_shown_);
  status_->setText(s);
}

bool PlotPanel::export_png(const QString& path, QString* why) {
  const QPixmap image = charts_->grab();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (image.isNull() || !image.save(&buffer, "PNG")) {
    if (why) *why = QStringLiteral("the charts could not be drawn as PNG");
    return false;
  }
  std::string reason;
  if (!bms::WriteFileAtomic(path.toStdString(), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), &reason)) {
    if (why) *why = QString::fromStdString(reason);
    return false;
  }
  return true;
}

bool PlotPanel::export_csv(const QString& path, QString* why) {
  int64_t from = from_ms_, to = to_ms_;
  if (following_ && !pause_->isChecked()) {
    to = series_.newest_ms();
    from = to - window_ms();
  }
  std::string reason;
  if (!bms::WritePlotCsv(path.toStdString(), series_, from, to, &reason)) {
    if (why) *why = QString::fromStdString(reason);
    return false;
  }
  return true;
}

}  // namespace bms::qt
