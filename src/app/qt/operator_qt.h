#pragma once
// The operator's side of the production test in Qt: the prompts as modal
// message boxes owned by the main window (usable while that window is
// disabled), the plan file dialog, and a small always-usable STOP window
// while a test runs with the main window disabled.
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "core/context.h"
#include "core/ui/operator.h"

namespace bms::qt {

class QtOperator : public QObject, public bms::OperatorInteraction {
  Q_OBJECT
 public:
  QtOperator(bms::Context& ctx, QWidget* owner);
  ~QtOperator() override;

  // Both may be called from any thread; the dialog runs on the GUI thread.
  bms::PromptAnswer Ask(const bms::Prompt& prompt) override;
  std::string ChooseOpenFile(const std::string& title, const std::string& filter) override;

  // Replaces the dialogs (tests): answers a prompt on the GUI thread.
  std::function<bms::PromptAnswer(const bms::Prompt&)> scripted;
  QWidget* stop_window() const { return stop_window_; }

 private:
  template <typename F>
  auto OnGuiThread(F&& f);
  void UpdateStopWindow();

  bms::Context& ctx_;
  QPointer<QWidget> owner_;
  QWidget* stop_window_ = nullptr;
  QPushButton* save_ = nullptr;
  QTimer watch_;
};

}  // namespace bms::qt
