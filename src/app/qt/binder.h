#pragma once
// Binds the widgets of a window to the view-model of the same window by
// object name: a widget whose objectName is a control's name shows that
// control, and the operator's actions on it go back to the control.
//
// post() may be called from any thread (with the model lock held); it only
// queues the change. The queue is drained on the GUI thread by one queued
// invocation per batch, and the changes are applied strictly in the order
// they were made. Binding a window applies the full current state of every
// control, so a window bound late misses nothing.
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/ui/control.h"

namespace bms::qt {

// Shows an error that escaped a handler of the core to the operator (the
// application's message box); the application carries on.
void ReportHandlerError(const QString& message);

class Binder : public QObject, public bms::UiEventSink {
  Q_OBJECT
 public:
  explicit Binder(QObject* parent = nullptr);
  ~Binder() override;

  // Binds `root` to form.self and every descendant widget whose objectName
  // names a control of the form, then applies the full state of each bound
  // control. GUI thread only.
  void bind(bms::Form& form, QWidget* root);

  // Any thread; only enqueues.
  void post(bms::UiEvent ev) override;

  // Applies every queued change now (GUI thread). Normally runs by itself.
  Q_INVOKABLE void drain();

  // Drops every queued change and forgets all bindings (before the
  // view-models go away).
  void clear();

  // Called on the GUI thread after each change was applied to its widget.
  using Observer = std::function<void(const bms::UiEvent&)>;
  void set_observer(Observer fn) { observer_ = std::move(fn); }

  // The widget bound to a control, or nullptr.
  QWidget* widget_for(const bms::Control* c) const;
  // Controls of a form that have no widget (timers and dialogs excluded).
  std::vector<std::string> unbound_controls(const bms::Form& form) const;
  // Number of changes waiting to be applied.
  size_t pending() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Binding {
    bms::Control* control = nullptr;
    QPointer<QWidget> widget;
    bms::ControlKind kind = bms::ControlKind::Other;
    QPalette design_palette;  // the palette the widget was built with
    std::string memo_text;    // memos: the text and the lines last applied
    std::vector<std::string> memo_lines;
    bool memo_dirty = false;
    bool parent_color = false;  // shows its parent's colour: follows its changes
    bool parent_font_color = false;
  };

  void connect_widget(Binding& b);
  void apply(Binding& b, bms::Prop prop, const bms::PropValue& value);
  void apply_full_state(Binding& b);
  void apply_color(Binding& b, bms::Color c, bool font);
  void render_memo(Binding& b);
  QColor resolve(bms::Color c, const Binding& b, bool font) const;
  void user_action(const std::function<void()>& fn);

  mutable std::mutex mu_;
  std::deque<bms::UiEvent> queue_;
  bool scheduled_ = false;

  std::unordered_map<const bms::Control*, Binding> bindings_;
  std::unordered_map<const QObject*, bms::Control*> by_widget_;
  std::unordered_map<const QObject*, bms::Form*> windows_;
  std::unordered_map<const QObject*, QPointer<QObject>> colour_parents_;  // parents watched for palette changes
  bool applying_ = false;                                                 // changes coming from the model must not go back
  Observer observer_;
};

}  // namespace bms::qt
