#pragma once
// The main window: top bar, live cell voltages, battery status, temperatures,
// battery information, the tab pages and the status bar. Built in code; the
// binder fills it from the FormMain view-model.
#include <QMainWindow>

namespace bms::qt {

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);

 private:
  QWidget* buildTopBar();
  QWidget* buildCellVoltages();
  QWidget* buildBatteryStatus();
  QWidget* buildRightColumn();
  QWidget* buildPages();
  QWidget* buildBatteryPage();
  QWidget* buildEngPage();
  QWidget* buildPqPage();
  QWidget* buildXjPage();
  QWidget* buildDiaPage();
  QWidget* buildEepPage();
  QWidget* buildXplPage();
  QWidget* buildEvtPage();
};

}  // namespace bms::qt
