#include "app/qt/binder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStringList>
#include <QTabWidget>
#include <algorithm>
#include <exception>

#include "app/qt/widgets.h"

namespace bms::qt {

using bms::Color;
using bms::Control;
using bms::ControlKind;
using bms::Prop;
using bms::PropValue;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QStringList QList(const std::vector<std::string>& v) {
  QStringList out;
  out.reserve(static_cast<qsizetype>(v.size()));
  for (const auto& s : v) out << Q(s);
  return out;
}

const std::string* AsText(const PropValue& v) { return std::get_if<std::string>(&v); }
int AsInt(const PropValue& v, int fallback = 0) {
  if (const int* i = std::get_if<int>(&v)) return *i;
  return fallback;
}
bool AsBool(const PropValue& v) {
  if (const bool* b = std::get_if<bool>(&v)) return *b;
  return false;
}
const std::vector<std::string>* AsItems(const PropValue& v) { return std::get_if<std::vector<std::string>>(&v); }

// The tab widget that holds a page, or nullptr.
QTabWidget* TabsOf(QWidget* page) {
  for (QWidget* p = page ? page->parentWidget() : nullptr; p; p = p->parentWidget())
    if (auto* t = qobject_cast<QTabWidget*>(p)) return t;
  return nullptr;
}

// Text colours follow the model while the widget is enabled; a disabled
// widget keeps the greyed text of the style. Backgrounds show in both.
void SetRole(QWidget* w, QPalette::ColorRole role, const QColor& c) {
  QPalette pal = w->palette();
  const bool text = role == QPalette::Text || role == QPalette::ButtonText || role == QPalette::WindowText;
  if (pal.color(QPalette::Active, role) == c && w->testAttribute(Qt::WA_SetPalette)) return;
  pal.setColor(QPalette::Active, role, c);
  pal.setColor(QPalette::Inactive, role, c);
  if (!text) pal.setColor(QPalette::Disabled, role, c);
  w->setPalette(pal);
}

// Runs the operator's action on the core only while no model change is
// being applied, so a change coming from the model never echoes back.
class ApplyScope {
 public:
  explicit ApplyScope(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~ApplyScope() { flag_ = old_; }

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

Binder::Binder(QObject* parent) : QObject(parent) {}

Binder::~Binder() { clear(); }

void Binder::post(bms::UiEvent ev) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back(std::move(ev));
    if (scheduled_) return;
    scheduled_ = true;
  }
  // Queued by name: the worker thread only hands Qt the object, nothing it
  // built itself, and the GUI thread runs drain() in its event loop.
  QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

size_t Binder::pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return queue_.size();
}

void Binder::drain() {
  std::deque<bms::UiEvent> batch;
  {
    std::lock_guard<std::mutex> lock(mu_);
    batch.swap(queue_);
    scheduled_ = false;
  }
  if (batch.empty()) return;
  std::vector<Binding*> memos;
  {
    ApplyScope scope(applying_);
    for (const bms::UiEvent& ev : batch) {
      auto it = bindings_.find(ev.control);
      if (it != bindings_.end() && it->second.widget) {
        Binding& b = it->second;
        apply(b, ev.prop, ev.value);
        if (b.memo_dirty) memos.push_back(&b);
      }
      if (observer_) observer_(ev);
    }
    // Memo text is rendered once per batch: a long read adds many lines.
    for (Binding* b : memos) render_memo(*b);
  }
}

void Binder::clear() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.clear();
  }
  for (auto& [obj, form] : windows_) const_cast<QObject*>(obj)->removeEventFilter(this);
  for (auto& [obj, control] : by_widget_) const_cast<QObject*>(obj)->removeEventFilter(this);
  for (auto& [obj, parent] : colour_parents_)
    if (parent) parent->removeEventFilter(this);
  colour_parents_.clear();
  for (auto& [control, b] : bindings_)
    if (b.widget) b.widget->disconnect(this);
  bindings_.clear();
  by_widget_.clear();
  windows_.clear();
}

QWidget* Binder::widget_for(const bms::Control* c) const {
  auto it = bindings_.find(c);
  return it == bindings_.end() ? nullptr : it->second.widget.data();
}

std::vector<std::string> Binder::unbound_controls(const bms::Form& form) const {
  std::vector<std::string> out;
  for (const Control* c : form.controls()) {
    if (c->kind() == ControlKind::Timer || c->name().rfind("OpenDialog", 0) == 0) continue;
    if (!bindings_.count(c)) out.push_back(c->name());
  }
  return out;
}

void Binder::bind(bms::Form& form, QWidget* root) {
  std::vector<Binding*> fresh;
  auto add = [&](Control* c, QWidget* w) {
    if (bindings_.count(c)) return;
    Binding b;
    b.control = c;
    b.widget = w;
    b.kind = c->kind();
    b.design_palette = w->palette();
    auto [it, ok] = bindings_.emplace(c, std::move(b));
    by_widget_[w] = c;
    fresh.push_back(&it->second);
  };
  windows_[root] = &form;
  root->installEventFilter(this);
  add(&form.self, root);
  for (QWidget* w : root->findChildren<QWidget*>()) {
    const QString name = w->objectName();
    if (name.isEmpty()) continue;
    Control* c = form.find(name.toStdString());
    if (!c || c == &form.self) continue;
    add(c, w);
  }
  for (Binding* b : fresh) {
    connect_widget(*b);
    // A widget may go before the binder does: forget it.
    connect(b->widget.data(), &QObject::destroyed, this, [this](QObject* gone) {
      by_widget_.erase(gone);
      windows_.erase(gone);
    });
  }
  ApplyScope scope(applying_);
  for (Binding* b : fresh) {
    apply_full_state(*b);
    if (b->memo_dirty) render_memo(*b);
  }
}

void Binder::user_action(const std::function<void()>& fn) {
  if (applying_) return;
  // An error must not unwind through Qt's event handling: it is shown here.
  try {
    fn();
  } catch (const std::exception& e) {
    ReportHandlerError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ReportHandlerError(QString());
  }
}

void Binder::connect_widget(Binding& b) {
  Control* c = b.control;
  QWidget* w = b.widget;
  if (b.kind == ControlKind::Window) return;  // close box: eventFilter
  if (b.kind == ControlKind::TabSheet) return;
  if (auto* cb = qobject_cast<QCheckBox*>(w)) {
    connect(cb, &QCheckBox::clicked, this, [this, c](bool on) { user_action([&] { c->set_checked(on); }); });
  } else if (auto* btn = qobject_cast<QAbstractButton*>(w)) {
    connect(btn, &QAbstractButton::clicked, this, [this, c] { user_action([&] { c->click(); }); });
    btn->installEventFilter(this);
  } else if (auto* le = qobject_cast<QLineEdit*>(w)) {
    connect(le, &QLineEdit::textEdited, this, [this, c](const QString& t) { user_action([&] { c->type(t.toStdString()); }); });
  } else if (auto* rg = qobject_cast<RadioGroupBox*>(w)) {
    connect(rg, &RadioGroupBox::selected, this, [this, c](int i) { user_action([&] { c->select(i); }); });
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    connect(combo, &QComboBox::activated, this, [this, c](int i) { user_action([&] { c->select(i); }); });
    if (QLineEdit* le2 = combo->lineEdit()) connect(le2, &QLineEdit::textEdited, this, [this, c](const QString& t) { user_action([&] { c->type(t.toStdString()); }); });
  } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
    connect(tabs, &QTabWidget::currentChanged, this, [this, c](int i) { user_action([&] { c->select(i); }); });
  } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
    connect(spin, &QSpinBox::valueChanged, this, [this, c](int v) { user_action([&] { c->type(std::to_string(v)); }); });
  }
}

bool Binder::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::PaletteChange && colour_parents_.count(watched) != 0) {
    // A control shown in its parent's colour takes the parent's new colour
    // (the window is coloured after its controls were bound).
    for (auto& [control, b] : bindings_) {
      if (!b.widget || b.widget->parentWidget() != watched) continue;
      if (b.parent_color) apply_color(b, bms::kColorParent, false);
      if (b.parent_font_color) apply_color(b, bms::kColorParent, true);
    }
  } else if (event->type() == QEvent::Close) {
    auto it = windows_.find(watched);
    if (it != windows_.end()) {
      // The model decides: it hides the window and runs FormClose.
      event->ignore();
      bms::Form* form = it->second;
      user_action([form] { form->close(); });
      return true;
    }
  } else if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
    auto it = by_widget_.find(watched);
    if (it != by_widget_.end()) {
      Control* c = it->second;
      const bool inside = event->type() == QEvent::Enter;
      user_action([c, inside] { c->hover(inside); });
    }
  }
  return QObject::eventFilter(watched, event);
}

QColor Binder::resolve(Color c, const Binding& b, bool font) const {
  if (c >= 0) return QColor::fromRgb(static_cast<QRgb>(c) | 0xff000000u);
  QWidget* w = b.widget;
  switch (c) {
    case bms::kColorBtnFace:
      return QApplication::palette().color(QPalette::Button);
    case bms::kColorHighlight:
      return QApplication::palette().color(QPalette::Highlight);
    case bms::kColorParent: {
      QWidget* p = w->parentWidget() ? w->parentWidget() : w;
      return p->palette().color(QPalette::Window);
    }
    default:
      break;
  }
  // The widget's own design colour.
  if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w)) return b.design_palette.color(font ? QPalette::Text : QPalette::Base);
  if (qobject_cast<QAbstractButton*>(w) && !qobject_cast<QCheckBox*>(w)) return b.design_palette.color(font ? QPalette::ButtonText : QPalette::Button);
  return b.design_palette.color(font ? QPalette::WindowText : QPalette::Window);
}

void Binder::apply_color(Binding& b, Color c, bool font) {
  (font ? b.parent_font_color : b.parent_color) = c == bms::kColorParent;
  if (c == bms::kColorParent && b.widget && b.widget->parentWidget() && colour_parents_.emplace(b.widget->parentWidget(), QPointer<QObject>(b.widget->parentWidget())).second)
    b.widget->parentWidget()->installEventFilter(this);
  QWidget* w = b.widget;
  const QColor col = resolve(c, b, font);
  if (auto* lamp = qobject_cast<Lamp*>(w)) {
    if (!font) lamp->setColor(c == bms::kColorDefault ? QColor(Qt::white) : col);
    return;
  }
  if (auto* gauge = qobject_cast<BarGauge*>(w)) {
    if (font) return;
    if (!gauge->property("bmsDesignFill").isValid()) gauge->setProperty("bmsDesignFill", gauge->fillColor());
    gauge->setFillColor(c == bms::kColorDefault ? gauge->property("bmsDesignFill").value<QColor>() : col);
    return;
  }
  if (auto* bar = qobject_cast<QProgressBar*>(w)) {
    if (!font) SetRole(bar, QPalette::Highlight, c == bms::kColorDefault ? b.design_palette.color(QPalette::Highlight) : col);
    return;
  }
  if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w)) {
    SetRole(w, font ? QPalette::Text : QPalette::Base, col);
    return;
  }
  if (qobject_cast<QAbstractButton*>(w) && !qobject_cast<QCheckBox*>(w) && !qobject_cast<QRadioButton*>(w)) {
    SetRole(w, font ? QPalette::ButtonText : QPalette::Button, col);
    return;
  }
  if (font) {
    SetRole(w, QPalette::WindowText, col);
    return;
  }
  // Window, label, group or check box background.
  if (c == bms::kColorDefault && !b.design_palette.isBrushSet(QPalette::Active, QPalette::Window)) {
    w->setAutoFillBackground(false);
    SetRole(w, QPalette::Window, col);
    return;
  }
  w->setAutoFillBackground(true);
  SetRole(w, QPalette::Window, col);
}

void Binder::render_memo(Binding& b) {
  b.memo_dirty = false;
  auto* memo = qobject_cast<QPlainTextEdit*>(b.widget);
  if (!memo) return;
  // A memo shows its lines; a memo without lines shows its text.
  QStringList lines = b.memo_lines.empty() ? Q(b.memo_text).split(QLatin1Char('\n')) : QList(b.memo_lines);
  if (b.memo_lines.empty() && b.memo_text.empty()) lines.clear();
  const QStringList shown = memo->property("bmsLines").toStringList();
  if (lines.size() > shown.size() && std::equal(shown.begin(), shown.end(), lines.begin())) {
    for (qsizetype i = shown.size(); i < lines.size(); ++i) memo->appendPlainText(lines[i]);
  } else if (lines != shown) {
    memo->setPlainText(lines.join(QLatin1Char('\n')));
  }
  memo->setProperty("bmsLines", lines);
}

void Binder::apply(Binding& b, Prop prop, const PropValue& value) {
  QWidget* w = b.widget;
  Control* c = b.control;

  // Properties every kind of widget shares.
  if (prop == Prop::Enabled) {
    const bool on = AsBool(value);
    if (b.kind == ControlKind::TabSheet) {
      if (QTabWidget* tabs = TabsOf(w)) tabs->setTabEnabled(tabs->indexOf(w), on);
    } else {
      w->setEnabled(on);
    }
    return;
  }
  if (prop == Prop::Visible) {
    const bool on = AsBool(value);
    if (b.kind == ControlKind::TabSheet) {
      if (QTabWidget* tabs = TabsOf(w)) tabs->setTabVisible(tabs->indexOf(w), on);
    } else if (b.kind == ControlKind::Window) {
      if (on) {
        w->show();
        w->raise();
        w->activateWindow();
      } else {
        w->hide();
      }
    } else {
      w->setVisible(on);
    }
    return;
  }
  if (prop == Prop::Color || prop == Prop::FontColor) {
    apply_color(b, AsInt(value, bms::kColorDefault), prop == Prop::FontColor);
    return;
  }

  if (b.kind == ControlKind::Window) {
    if (prop == Prop::Text) w->setWindowTitle(Q(*AsText(value)));
    return;
  }
  if (b.kind == ControlKind::TabSheet) {
    if (prop == Prop::Text)
      if (QTabWidget* tabs = TabsOf(w)) tabs->setTabText(tabs->indexOf(w), Q(*AsText(value)));
    return;
  }

  if (auto* le = qobject_cast<QLineEdit*>(w)) {
    if (prop != Prop::Text) return;
    const QString t = Q(*AsText(value));
    if (le->text() == t) return;
    // While the operator types, older echoes of the typing are stale.
    if (le->hasFocus() && !le->isReadOnly() && le->text() == Q(c->text())) return;
    le->setText(t);
    return;
  }
  if (auto* rg = qobject_cast<RadioGroupBox*>(w)) {
    if (prop == Prop::Text) rg->setTitle(Q(*AsText(value)));
    if (prop == Prop::Items) rg->setItems(QList(*AsItems(value)));
    if (prop == Prop::ItemIndex) rg->setCheckedIndex(AsInt(value, -1));
    return;
  }
  if (auto* cb = qobject_cast<QCheckBox*>(w)) {
    if (prop == Prop::Text) cb->setText(Q(*AsText(value)));
    if (prop == Prop::Checked) cb->setChecked(AsBool(value));
    return;
  }
  if (auto* btn = qobject_cast<QAbstractButton*>(w)) {
    if (prop == Prop::Text) btn->setText(Q(*AsText(value)));
    if (prop == Prop::Checked && btn->isCheckable()) btn->setChecked(AsBool(value));
    return;
  }
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    switch (prop) {
      case Prop::Items: {
        const QString keep = combo->currentText();
        const int keep_index = combo->currentIndex();
        combo->clear();
        combo->addItems(QList(*AsItems(value)));
        if (combo->isEditable()) {
          combo->setEditText(keep);
        } else {
          const int found = keep_index >= 0 && keep_index < combo->count() && combo->itemText(keep_index) == keep ? keep_index : combo->findText(keep);
          combo->setCurrentIndex(found);
        }
        break;
      }
      case Prop::ItemIndex: {
        const int i = AsInt(value, -1);
        if (i >= 0 && i < combo->count()) combo->setCurrentIndex(i);
        break;
      }
      case Prop::Text: {
        const QString t = Q(*AsText(value));
        if (combo->isEditable()) {
          if (combo->currentText() != t) combo->setEditText(t);
        } else {
          combo->setCurrentIndex(combo->findText(t));
        }
        break;
      }
      default:
        break;
    }
    return;
  }
  if (auto* gauge = qobject_cast<BarGauge*>(w)) {
    if (prop == Prop::Min) gauge->setRange(AsInt(value), std::max(AsInt(value), gauge->maximum()));
    if (prop == Prop::Max) gauge->setRange(std::min(gauge->minimum(), AsInt(value)), AsInt(value));
    if (prop == Prop::Progress) gauge->setValue(AsInt(value));
    return;
  }
  if (auto* bar = qobject_cast<QProgressBar*>(w)) {
    if (prop == Prop::Min) bar->setMinimum(AsInt(value));
    if (prop == Prop::Max) bar->setMaximum(AsInt(value));
    if (prop == Prop::Progress) bar->setValue(AsInt(value));
    return;
  }
  if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
    (void)memo;
    if (prop == Prop::Text) b.memo_text = *AsText(value);
    if (prop == Prop::Items) b.memo_lines = *AsItems(value);
    if (prop == Prop::Text || prop == Prop::Items) b.memo_dirty = true;
    return;
  }
  if (auto* status = qobject_cast<PanelStatusBar*>(w)) {
    if (prop == Prop::Items) status->setPanelTexts(QList(*AsItems(value)));
    return;
  }
  if (auto* spin = qobject_cast<QSpinBox*>(w)) {
    if (prop == Prop::Min) spin->setMinimum(AsInt(value));
    if (prop == Prop::Max) spin->setMaximum(AsInt(value));
    if (prop == Prop::Text) {
      bool ok = false;
      const int v = Q(*AsText(value)).trimmed().toInt(&ok);
      if (!ok || spin->value() == v) return;
      if (spin->hasFocus() && spin->value() == c->int_value(v)) return;
      spin->setValue(v);
    }
    return;
  }
  if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
    if (prop == Prop::ItemIndex) {
      const int i = AsInt(value, -1);
      if (i >= 0 && i < tabs->count()) tabs->setCurrentIndex(i);
    }
    return;
  }
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (prop == Prop::Text) label->setText(Q(*AsText(value)));
    return;
  }
  if (auto* group = qobject_cast<QGroupBox*>(w)) {
    if (prop == Prop::Text) group->setTitle(Q(*AsText(value)));
    return;
  }
}

void Binder::apply_full_state(Binding& b) {
  Control* c = b.control;
  QWidget* w = b.widget;
  const bool ranged = qobject_cast<BarGauge*>(w) || qobject_cast<QProgressBar*>(w) || qobject_cast<QSpinBox*>(w);
  if (qobject_cast<QComboBox*>(w) || qobject_cast<RadioGroupBox*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<PanelStatusBar*>(w)) apply(b, Prop::Items, c->items());
  if (ranged) {
    apply(b, Prop::Min, c->min());
    apply(b, Prop::Max, c->max());
  }
  apply(b, Prop::Text, c->text());
  apply(b, Prop::Checked, c->checked());
  if (c->item_index() >= 0 || qobject_cast<RadioGroupBox*>(w)) apply(b, Prop::ItemIndex, c->item_index());
  if (ranged) apply(b, Prop::Progress, c->progress());
  apply(b, Prop::Color, c->color());
  apply(b, Prop::FontColor, c->font_color());
  apply(b, Prop::Enabled, c->enabled());
  apply(b, Prop::Visible, c->visible());
}

}  // namespace bms::qt
