#include "app/qt/widgets.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGridLayout>
#include <QPainter>
#include <QRadioButton>
#include <algorithm>

namespace bms::qt {

// ---------------------------------------------------------------- BarGauge

BarGauge::BarGauge(Qt::Orientation orientation, QWidget* parent) : QWidget(parent), orientation_(orientation) {
  if (orientation_ == Qt::Vertical)
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  else
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void BarGauge::setRange(int lo, int hi) {
  if (lo == min_ && hi == max_) return;
  min_ = lo;
  max_ = std::max(lo, hi);
  value_ = std::clamp(value_, min_, max_);
  updateGeometry();
  update();
}

void BarGauge::setValue(int v) {
  v = std::clamp(v, min_, max_);
  if (v == value_) return;
  value_ = v;
  update();
}

void BarGauge::setFillColor(const QColor& c) {
  if (c == fill_) return;
  fill_ = c;
  update();
}

void BarGauge::setTroughColor(const QColor& c) {
  trough_ = c;
  update();
}

void BarGauge::setScaleMarks(std::vector<int> marks) {
  marks_ = std::move(marks);
  updateGeometry();
  update();
}

void BarGauge::setShowPercent(bool on) {
  show_percent_ = on;
  update();
}

int BarGauge::labelWidth() const {
  if (marks_.empty() || orientation_ != Qt::Vertical) return 0;
  QFont f = font();
  f.setPointSizeF(f.pointSizeF() * 0.8);
  const QFontMetrics fm(f);
  int w = 0;
  for (int m : marks_) w = std::max(w, fm.horizontalAdvance(QString::number(m)));
  return w + 4;
}

QSize BarGauge::sizeHint() const {
  if (orientation_ == Qt::Vertical) return {labelWidth() + 18, 150};
  return {160, marks_.empty() ? 18 : 30};
}

QSize BarGauge::minimumSizeHint() const {
  if (orientation_ == Qt::Vertical) return {labelWidth() + 12, 80};
  return {60, marks_.empty() ? 14 : 26};
}

void BarGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  const QFontMetrics fm(small);
  const double span = max_ > min_ ? double(max_ - min_) : 1.0;
  const double frac = std::clamp((value_ - min_) / span, 0.0, 1.0);
  const QColor frame(0x70, 0x70, 0x70);

  QRect bar;
  if (orientation_ == Qt::Vertical) {
    const int lw = labelWidth();
    const int top = marks_.empty() ? 0 : fm.height() / 2;
    bar = QRect(lw, top, width() - lw - 1, height() - 2 * top - 1);
  } else {
    const int below = marks_.empty() ? 0 : fm.height();
    bar = QRect(0, 0, width() - 1, height() - below - 1);
  }
  p.fillRect(bar, trough_);
  QRect filled = bar.adjusted(1, 1, 0, 0);
  if (orientation_ == Qt::Vertical) {
    const int h = int(filled.height() * frac + 0.5);
    filled.setTop(filled.bottom() - h + 1);
  } else {
    filled.setWidth(int(filled.width() * frac + 0.5));
  }
  if (frac > 0) p.fillRect(filled, fill_);
  p.setPen(frame);
  p.drawRect(bar);

  // Scale marks: a tick across the bar and the value beside it.
  p.setFont(small);
  for (int m : marks_) {
    if (m < min_ || m > max_) continue;
    const double f = (m - min_) / span;
    if (orientation_ == Qt::Vertical) {
      const int y = bar.bottom() - int(bar.height() * f + 0.5);
      p.setPen(QColor(0x50, 0x50, 0x50, 0x90));
      if (m != min_ && m != max_) p.drawLine(bar.left() + 1, y, bar.right() - 1, y);
      p.setPen(palette().color(QPalette::WindowText));
      const QRect r(0, y - fm.height() / 2, labelWidth() - 3, fm.height());
      p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, QString::number(m));
    } else {
      const int x = bar.left() + int(bar.width() * f + 0.5);
      p.setPen(QColor(0x50, 0x50, 0x50, 0x90));
      if (m != min_ && m != max_) p.drawLine(x, bar.top() + 1, x, bar.bottom() - 1);
      p.setPen(palette().color(QPalette::WindowText));
      const QString t = QString::number(m);
      const int tw = fm.horizontalAdvance(t);
      const int tx = std::clamp(x - tw / 2, 0, width() - tw);
      p.drawText(QRect(tx, bar.bottom() + 1, tw, fm.height()), Qt::AlignCenter, t);
    }
  }

  if (show_percent_) {
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(Qt::black);
    p.drawText(bar, Qt::AlignCenter, QString::number(int(frac * 100.0 + 0.5)) + QStringLiteral("%"));
  }
}

// ---------------------------------------------------------------- Lamp

Lamp::Lamp(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) { setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); }

void Lamp::setColor(const QColor& c) {
  if (c == color_) return;
  color_ = c;
  update();
}

QSize Lamp::sizeHint() const { return {diameter_ + 2, diameter_ + 2}; }

void Lamp::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  const int d = std::min(width(), height()) - 2;
  const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
  p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.2));
  p.setBrush(color_);
  p.drawEllipse(r);
}

// ---------------------------------------------------------------- PanelStatusBar

PanelStatusBar::PanelStatusBar(const std::vector<int>& widths, QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  for (size_t i = 0; i < widths.size(); ++i) {
    auto* l = new QLabel(this);
    l->setObjectName(QStringLiteral("Panel%1").arg(i));
    l->setFixedWidth(widths[i]);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setTextFormat(Qt::PlainText);
    addWidget(l);
    panels_.push_back(l);
  }
}

void PanelStatusBar::setPanelTexts(const QStringList& texts) {
  for (int i = 0; i < panels_.size(); ++i) {
    const QString t = i < texts.size() ? texts[i] : QString();
    if (panels_[i]->text() == t) continue;
    panels_[i]->setText(t);
    panels_[i]->setToolTip(t.trimmed());  // a long message is cut by the panel width
  }
}

QString PanelStatusBar::panelText(int i) const { return i >= 0 && i < panels_.size() ? panels_[i]->text() : QString(); }

// ---------------------------------------------------------------- RadioGroupBox

RadioGroupBox::RadioGroupBox(QWidget* parent, int columns) : QGroupBox(parent), columns_(std::max(1, columns)) {
  group_.setExclusive(true);
  new QGridLayout(this);
  connect(&group_, &QButtonGroup::idClicked, this, &RadioGroupBox::selected);
}

void RadioGroupBox::setItems(const QStringList& items) {
  if (items == this->items()) return;
  const int keep = checkedIndex();
  for (QAbstractButton* b : group_.buttons()) {
    group_.removeButton(b);
    delete b;
  }
  auto* grid = static_cast<QGridLayout*>(layout());
  const int rows = (static_cast<int>(items.size()) + columns_ - 1) / columns_;
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items[i], this);
    b->setObjectName(objectName() + QStringLiteral("_%1").arg(i));
    group_.addButton(b, i);
    grid->addWidget(b, rows ? i % rows : 0, rows ? i / rows : 0);
  }
  setCheckedIndex(keep);
}

QStringList RadioGroupBox::items() const {
  QStringList out;
  for (QAbstractButton* b : group_.buttons()) out << b->text();
  return out;
}

void RadioGroupBox::setCheckedIndex(int i) {
  if (QAbstractButton* b = group_.button(i)) {
    b->setChecked(true);
    return;
  }
  // No valid item: uncheck every button (exclusive groups refuse that).
  group_.setExclusive(false);
  for (QAbstractButton* b : group_.buttons()) b->setChecked(false);
  group_.setExclusive(true);
}

int RadioGroupBox::checkedIndex() const { return group_.checkedId(); }

}  // namespace bms::qt
