#pragma once
// Small custom widgets of the front end: bar gauges, round lamps, the
// four-panel status bar and the radio group. They only draw what the binder
// gives them; they hold no logic of the tool.
#include <QButtonGroup>
#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QList>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace bms::qt {

// A bar gauge with its own range, clamping its value like the view-model
// does. Vertical gauges can carry scale marks with labels on their left.
class BarGauge : public QWidget {
  Q_OBJECT
 public:
  explicit BarGauge(Qt::Orientation orientation, QWidget* parent = nullptr);

  void setRange(int lo, int hi);
  void setValue(int v);
  int value() const { return value_; }
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  void setFillColor(const QColor& c);
  QColor fillColor() const { return fill_; }
  void setTroughColor(const QColor& c);
  // Scale marks (values inside the range) drawn as ticks with labels.
  void setScaleMarks(std::vector<int> marks);
  // Shows the value as a percentage of the range inside the bar.
  void setShowPercent(bool on);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int labelWidth() const;
  Qt::Orientation orientation_;
  int min_ = 0;
  int max_ = 100;
  int value_ = 0;
  QColor fill_{0x2e, 0x8b, 0x57};
  QColor trough_{0xf4, 0xf4, 0xf4};
  std::vector<int> marks_;
  bool show_percent_ = false;
};

// A round indicator lamp; its fill colour is the whole message.
class Lamp : public QWidget {
  Q_OBJECT
 public:
  explicit Lamp(int diameter = 16, QWidget* parent = nullptr);
  void setColor(const QColor& c);
  QColor color() const { return color_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int diameter_;
  QColor color_{Qt::white};
};

// Status bar with fixed panels; the panel texts are the control's items.
class PanelStatusBar : public QStatusBar {
  Q_OBJECT
 public:
  explicit PanelStatusBar(const std::vector<int>& widths, QWidget* parent = nullptr);
  void setPanelTexts(const QStringList& texts);
  QString panelText(int i) const;
  int panelCount() const { return static_cast<int>(panels_.size()); }

 private:
  QList<QLabel*> panels_;
};

// A captioned group of radio buttons built from the control's items.
// selected(i) is emitted only for the operator's clicks.
class RadioGroupBox : public QGroupBox {
  Q_OBJECT
 public:
  explicit RadioGroupBox(QWidget* parent = nullptr, int columns = 1);
  void setItems(const QStringList& items);
  QStringList items() const;
  void setCheckedIndex(int i);  // -1 unchecks all
  int checkedIndex() const;

 signals:
  void selected(int index);

 private:
  QButtonGroup group_;
  int columns_;
};

}  // namespace bms::qt
