#include "app/qt/history_plot.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <vector>

#include "core/history/record_decode.h"
#include "core/platform/files.h"

namespace bms::qt {

namespace {

enum Quantity { kSoc = 0, kVoltage, kCurrent, kTemperature };

double ValueOf(const RecordFields& f, int q) {
  switch (q) {
    case kSoc:
      return f.soc;
    case kVoltage:
      return f.voltage_mv / 1000.0;
    case kCurrent:
      return f.current_ma / 1000.0;
    default:
      return f.t1;
  }
}

// Milliseconds since the epoch of a record's local time stamp; false for a
// time stamp that is no date (a record that did not arrive).
bool TimeOf(const RecordFields& f, qint64* ms) {
  const QDate d(f.year, f.month, f.day);
  const QTime t(f.hour, f.minute, f.second);
  if (!d.isValid() || !t.isValid()) return false;
  *ms = QDateTime(d, t).toMSecsSinceEpoch();
  return true;
}

struct Point {
  qint64 t;
  double v;
  bool protection;
};

std::vector<Point> PointsOf(const std::vector<std::array<uint8_t, 32>>& records, int q) {
  std::vector<Point> out;
  for (const auto& bytes : records) {
    if (!RecordChecksumValid(bytes)) continue;  // a damaged record is no point of the history
    const RecordFields f = DecodeRecordFields(bytes);
    qint64 t = 0;
    if (!TimeOf(f, &t)) continue;
    out.push_back({t, ValueOf(f, q), (f.flag & 0x80) == 0});
  }
  // Records come in record-number order; the plot runs in time order.
  std::stable_sort(out.begin(), out.end(), [](const Point& a, const Point& b) { return a.t < b.t; });
  return out;
}

}  // namespace

// ---------------------------------------------------------------- view

void HistoryChartView::wheelEvent(QWheelEvent* event) {
  if (!chart()) return;
  chart()->zoom(event->angleDelta().y() > 0 ? 1.25 : 0.8);
  event->accept();
}

void HistoryChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    panning_ = true;
    last_ = event->position();
    event->accept();
    return;
  }
  QChartView::mousePressEvent(event);
}

void HistoryChartView::mouseMoveEvent(QMouseEvent* event) {
  if (panning_ && chart()) {
    const QPointF d = event->position() - last_;
    chart()->scroll(-d.x(), d.y());
    last_ = event->position();
    event->accept();
    return;
  }
  QChartView::mouseMoveEvent(event);
}

void HistoryChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    panning_ = false;
    event->accept();
    return;
  }
  QChartView::mouseReleaseEvent(event);
}

void HistoryChartView::keyPressEvent(QKeyEvent* event) {
  if (!chart()) return;
  switch (event->key()) {
    case Qt::Key_Left:
      chart()->scroll(-30, 0);
      break;
    case Qt::Key_Right:
      chart()->scroll(30, 0);
      break;
    case Qt::Key_Up:
      chart()->scroll(0, 30);
      break;
    case Qt::Key_Down:
      chart()->scroll(0, -30);
      break;
    case Qt::Key_Plus:
      chart()->zoomIn();
      break;
    case Qt::Key_Minus:
      chart()->zoomOut();
      break;
    case Qt::Key_0:
      chart()->zoomReset();
      break;
    default:
      QChartView::keyPressEvent(event);
  }
}

// ---------------------------------------------------------------- window

HistoryPlotWindow::HistoryPlotWindow(bms::Context& ctx, QWidget* parent) : QWidget(parent, Qt::Window), ctx_(ctx) {
  setObjectName(QStringLiteral("HistoryPlotWindow"));
  setWindowTitle(QStringLiteral("EEPROM history plots"));
  auto* v = new QVBoxLayout(this);
  quantity_ = new QComboBox;
  quantity_->addItems({QStringLiteral("State of charge (%)"), QStringLiteral("Voltage (V)"), QStringLiteral("Current (A)"), QStringLiteral("Temperature T1 (\u00b0C)")});
  auto* reset = new QPushButton(QStringLiteral("Reset zoom"));
  auto* png = new QPushButton(QStringLiteral("Export PNG"));
  for (QPushButton* b : {reset, png}) b->setAutoDefault(false);
  auto* row = new QHBoxLayout;
  row->addWidget(quantity_);
  row->addStretch(1);
  row->addWidget(reset);
  row->addWidget(png);
  v->addLayout(row);
  view_ = new HistoryChartView;
  view_->setRubberBand(QChartView::RectangleRubberBand);
  view_->setRenderHint(QPainter::Antialiasing);
  view_->setFocusPolicy(Qt::StrongFocus);
  v->addWidget(view_, 1);
  connect(quantity_, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
  connect(reset, &QPushButton::clicked, this, [this] {
    if (view_->chart()) view_->chart()->zoomReset();
  });
  connect(png, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"), QStringLiteral("history.png"), QStringLiteral("PNG images (*.png)"));
    if (path.isEmpty()) return;
    QString why;
    if (!export_png(path, &why)) QMessageBox::warning(this, windowTitle(), why);
  });
  resize(860, 520);
  refresh();
}

int HistoryPlotWindow::points(int series) const { return series >= 0 && series < 3 ? points_[series] : 0; }

void HistoryPlotWindow::refresh() {
  const auto records = ctx_.History.with([](HistoryState& s) { return s.block_records; });
  const int q = quantity_->currentIndex();
  auto* chart = new QChart;
  chart->setTitle(quantity_->currentText() + QStringLiteral(" over time"));
  auto* x = new QDateTimeAxis;
  x->setFormat(QStringLiteral("yyyy-MM-dd"));
  x->setTitleText(QStringLiteral("Record time"));
  auto* y = new QValueAxis;
  y->setTitleText(quantity_->currentText());
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  auto* events = new QScatterSeries;
  events->setName(QStringLiteral("Protection events"));
  events->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
  events->setMarkerSize(11);
  events->setColor(QColor(0xd0, 0x20, 0x20));
  qint64 t_lo = 0, t_hi = 0;
  double v_lo = 0, v_hi = 0;
  bool any = false;
  auto extend = [&](qint64 t, double v) {
    if (!any) {
      t_lo = t_hi = t;
      v_lo = v_hi = v;
      any = true;
    }
    t_lo = std::min(t_lo, t);
    t_hi = std::max(t_hi, t);
    v_lo = std::min(v_lo, v);
    v_hi = std::max(v_hi, v);
  };
  const struct {
    size_t block;
    const char* name;
    QColor color;
  } lines[] = {{1, "LEAD", QColor(0x2f, 0x6d, 0xb5)}, {2, "LAST", QColor(0x3a, 0x8d, 0x3a)}};
  for (int i = 0; i < 2; ++i) {
    auto* s = new QLineSeries;
    s->setName(QString::fromLatin1(lines[i].name));
    s->setColor(lines[i].color);
    const std::vector<Point> pts = PointsOf(records[lines[i].block], q);
    for (const Point& p : pts) {
      s->append(static_cast<qreal>(p.t), p.v);
      extend(p.t, p.v);
      if (p.protection) events->append(static_cast<qreal>(p.t), p.v);
    }
    points_[i] = static_cast<int>(pts.size());
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
  }
  for (const Point& p : PointsOf(records[0], q)) {
    events->append(static_cast<qreal>(p.t), p.v);
    extend(p.t, p.v);
  }
  points_[2] = static_cast<int>(events->count());
  chart->addSeries(events);
  events->attachAxis(x);
  events->attachAxis(y);
  if (any) {
    const double pad = std::max(1.0, (v_hi - v_lo) * 0.05);
    x->setRange(QDateTime::fromMSecsSinceEpoch(t_lo - 3600000), QDateTime::fromMSecsSinceEpoch(t_hi + 3600000));
    y->setRange(v_lo - pad, v_hi + pad);
  }
  QChart* old = view_->chart();
  view_->setChart(chart);
  delete old;
}

bool HistoryPlotWindow::export_png(const QString& path, QString* why) {
  const QPixmap image = view_->grab();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) {
    if (why) *why = QStringLiteral("the chart could not be drawn as PNG");
    return false;
  }
  std::string reason;
  if (!WriteFileAtomic(path.toStdString(), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), &reason)) {
    if (why) *why = QString::fromStdString(reason);
    return false;
  }
  return true;
}

}  // namespace bms::qt
