#include "app/qt/socv_chart.h"

#include <QChart>
#include <QChartView>
#include <QLineEdit>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <array>

namespace bms::qt {

struct SocvChart::Impl {
  QLineSeries* series = nullptr;
  QValueAxis* y = nullptr;
  std::array<double, 102> mv{};  // index 1..101; < 0: not a number
};

SocvChart::SocvChart(QWidget* parent) : QWidget(parent), impl_(new Impl) {
  setObjectName(QStringLiteral("ChartSOCV"));
  auto* chart = new QChart;
  chart->legend()->hide();
  impl_->series = new QLineSeries;
  chart->addSeries(impl_->series);
  auto* x = new QValueAxis;
  x->setRange(0, 100);
  x->setTitleText(QStringLiteral("SOC (%)"));
  x->setLabelFormat(QStringLiteral("%d"));
  impl_->y = new QValueAxis;
  impl_->y->setTitleText(QStringLiteral("Cell voltage (mV)"));
  impl_->y->setLabelFormat(QStringLiteral("%d"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(impl_->y, Qt::AlignLeft);
  impl_->series->attachAxis(x);
  impl_->series->attachAxis(impl_->y);
  auto* view = new QChartView(chart);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumHeight(180);
  auto* v = new QVBoxLayout(this);
  v->setContentsMargins(0, 0, 0, 0);
  v->addWidget(view);
  impl_->mv.fill(-1);
  for (int n = 1; n <= 101; ++n) impl_->series->append(n - 1, 0);
  impl_->y->setRange(0, 1);
  connect(this, &QObject::destroyed, [impl = impl_] { delete impl; });
}

void SocvChart::track(int n, QLineEdit* edit) {
  if (n < 1 || n > 101 || !edit) return;
  connect(edit, &QLineEdit::textChanged, this, [this, n](const QString& t) { update_point(n, t); });
  update_point(n, edit->text());
}

void SocvChart::update_point(int n, const QString& text) {
  bool ok = false;
  const int v = text.toInt(&ok);
  impl_->mv[static_cast<size_t>(n)] = ok ? v : -1;
  // A point that is not a number is drawn at the previous point's voltage.
  impl_->series->replace(n - 1, n - 1, ok ? v : (n > 1 ? impl_->series->at(n - 2).y() : 0));
  double lo = 1e9, hi = -1e9;
  for (int k = 1; k <= 101; ++k) {
    const double m = impl_->mv[static_cast<size_t>(k)];
    if (m < 0) continue;
    lo = std::min(lo, m);
    hi = std::max(hi, m);
  }
  if (hi < lo) {
    lo = 0;
    hi = 1;
  }
  const double pad = std::max(10.0, (hi - lo) * 0.05);
  impl_->y->setRange(std::max(0.0, lo - pad), hi + pad);
}

}  // namespace bms::qt
