#pragma once
// The Qt front end of one Context: the windows of the tool, the binder that
// mirrors the view-models into them, and the application object that keeps
// running when an event handler throws.
#include <QApplication>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "app/qt/binder.h"
#include "core/context.h"
#include "core/link/port_supervisor.h"

namespace bms::qt {

class MainWindow;
class PlotPanel;
class QtOperator;
class FrameInspector;

// QApplication that shows an error escaping an event handler in a message
// box and carries on.
class GuiApplication : public QApplication {
  Q_OBJECT
 public:
  GuiApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Style, fonts (Chinese texts included) and colours of the tool.
  static void SetupLook(QApplication& app);

  // Replaces the message box (tests).
  void set_error_reporter(std::function<void(const QString&)> fn) { error_reporter_ = std::move(fn); }
  // Shows an error of an event handler (an empty message when the error was
  // not an exception object).
  void report(const QString& message);

 private:
  bool reporting_ = false;
  std::function<void(const QString&)> error_reporter_;
};

class Frontend {
 public:
  // Builds every window (hidden) and the binder.
  explicit Frontend(bms::Context& ctx);
  ~Frontend();
  Frontend(const Frontend&) = delete;
  Frontend& operator=(const Frontend&) = delete;

  // Routes every control change of ctx to the windows and applies the full
  // present state of every control. Call before the windows are created in
  // the model (CreateApplication) so no start-up change is missed.
  void attach();
  // Stops mirroring: no change reaches the widgets any more (safe to call
  // while workers still run). Idempotent.
  void detach();

  Binder& binder() { return *binder_; }
  MainWindow& main_window() { return *main_; }
  PlotPanel& plot_panel() { return *plots_; }  // the live plots dock of the main window
  // The window bound to a form, or nullptr.
  QWidget* window_of(const bms::Form& form) const;
  std::vector<QWidget*> windows() const;
  // The frame inspector, opened by the main window's "Frames" button.
  FrameInspector& frame_inspector() { return *inspector_; }
  // Rides out a vanished adapter during polling and offers Resume when it is back.
  bms::PortSupervisor& supervisor() { return *supervisor_; }

 private:
  void disable_placeholders();

  bms::Context& ctx_;
  std::unique_ptr<Binder> binder_;
  std::unique_ptr<MainWindow> main_;
  std::vector<std::pair<const bms::Form*, std::unique_ptr<QWidget>>> others_;
  bool attached_ = false;
  std::unique_ptr<QtOperator> operator_;  // prompts and file dialogs of the production test
  PlotPanel* plots_ = nullptr;            // owned by the main window
  std::unique_ptr<bms::PortSupervisor> supervisor_;
  std::unique_ptr<FrameInspector> inspector_;
};

}  // namespace bms::qt
