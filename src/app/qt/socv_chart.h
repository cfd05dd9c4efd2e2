#pragma once
// The SOC-OCV table of the FW Data dialog as a curve: cell voltage over the
// state of charge, point n at (n - 1) %, following the edits as they change.
#include <QWidget>

class QLineEdit;

namespace bms::qt {

class SocvChart : public QWidget {
  Q_OBJECT
 public:
  explicit SocvChart(QWidget* parent = nullptr);
  // Point n (1..101) follows this edit.
  void track(int n, QLineEdit* edit);

 private:
  void update_point(int n, const QString& text);
  struct Impl;
  Impl* impl_;
};

}  // namespace bms::qt
