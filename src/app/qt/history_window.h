#pragma once
// The EEPROM history window: the four block pages, the block read with its
// fast download option, the range read, the progress of a block read in a
// small window of its own (so Cancel stays usable while the history window
// is locked during the read), and the history plots.
#include <QPointer>
#include <QWidget>

#include "app/qt/windows.h"
#include "core/context.h"

namespace bms::qt {

class HistoryPlotWindow;

class HistoryWindow : public ToolDialog {
  Q_OBJECT
 public:
  // ctx may be null (binder tests): then there are no plots.
  explicit HistoryWindow(bms::Context* ctx = nullptr, QWidget* parent = nullptr);

  // The small window with the progress bar, the time left and Cancel.
  QWidget* progress_window() const { return progress_; }
  // Opens the plots of the records read (null without a context).
  HistoryPlotWindow* open_plots();

 protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bms::Context* ctx_;
  QWidget* progress_ = nullptr;
  QWidget* cancel_ = nullptr;
  QPointer<HistoryPlotWindow> plots_;
};

}  // namespace bms::qt
