#include "core/ui/control.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace bms {

Form::Form(std::string name, std::mutex& lock, UiEventSink*& sink) : self(*this, name, ControlKind::Window), name_(std::move(name)), lock_(lock), sink_(sink) {}

Control* Form::find(std::string_view control_name) const {
  if (control_name == name_) return const_cast<Control*>(&self);
  for (Control* c : controls_)
    if (c->name() == control_name) return c;
  return nullptr;
}

Control& Form::get(std::string_view control_name) const {
  Control* c = find(control_name);
  if (!c) throw std::logic_error("no control named " + std::string(control_name) + " on " + name_);
  return *c;
}

Control::Control(Form& form, std::string name, ControlKind kind) : form_(form), name_(std::move(name)), kind_(kind) {
  if (kind != ControlKind::Window) form_.controls_.push_back(this);
  if (kind == ControlKind::Gauge) max_ = 100;
}

void Control::post(Prop p, PropValue v) {
  if (form_.sink_) form_.sink_->post(UiEvent{this, p, std::move(v)});
}

#define BMS_GETTER(type, member)                  \
  std::lock_guard<std::mutex> guard(form_.lock_); \
  return member;

std::string Control::text() const { BMS_GETTER(std::string, text_) }
bool Control::enabled() const { BMS_GETTER(bool, enabled_) }
bool Control::visible() const { BMS_GETTER(bool, visible_) }
bool Control::checked() const { BMS_GETTER(bool, checked_) }
int Control::item_index() const {BMS_GETTER(int, item_index_)} std::vector<std::string> Control::items() const {
    BMS_GETTER(std::vector<std::string>, items_)} Color Control::color() const {BMS_GETTER(Color, color_)} Color Control::font_color() const {
  BMS_GETTER(Color, font_color_)
}
int Control::progress() const { BMS_GETTER(int, progress_) }
int Control::min() const { BMS_GETTER(int, min_) }
int Control::max() const { BMS_GETTER(int, max_) }
#undef BMS_GETTER

int Control::int_value(int fallback) const {
  const std::string t = text();
  std::string_view v(t);
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  long long out = 0;
  auto res = std::from_chars(v.data(), v.data() + v.size(), out);
  if (v.empty() || res.ec != std::errc() || res.ptr != v.data() + v.size()) return fallback;
  if (out > INT32_MAX || out < INT32_MIN) return fallback;
  return static_cast<int>(out);
}

void Control::set_text(std::string_view t) {
  {
    std::lock_guard<std::mutex> guard(form_.lock_);
    if (text_ == t) return;
    text_.assign(t);
    post(Prop::Text, text_);
  }
  if (on_change) on_change();
}

void Control::set_enabled(bool on) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  if (enabled_ == on) return;
  enabled_ = on;
  post(Prop::Enabled, on);
}

void Control::set_visible(bool on) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  if (visible_ == on) return;
  visible_ = on;
  post(Prop::Visible, on);
}

void Control::set_checked(bool on) {
  {
    std::lock_guard<std::mutex> guard(form_.lock_);
    if (checked_ == on) return;
    checked_ = on;
    post(Prop::Checked, on);
  }
  if (on_click) on_click();
}

void Control::set_item_index(int i) {
  {
    std::lock_guard<std::mutex> guard(form_.lock_);
    // Selecting an item of a drop-down list also shows its text, even when
    // the index does not change.
    const bool combo_item = kind_ == ControlKind::ComboBox && i >= 0 && static_cast<size_t>(i) < items_.size();
    if (combo_item && text_ != items_[static_cast<size_t>(i)]) {
      text_ = items_[static_cast<size_t>(i)];
      post(Prop::Text, text_);
    }
    if (item_index_ == i) return;
    item_index_ = i;
    post(Prop::ItemIndex, i);
  }
  if (on_click) on_click();
}

void Control::set_items(std::vector<std::string> items) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  items_ = std::move(items);
  if (item_index_ >= static_cast<int>(items_.size())) item_index_ = -1;
  post(Prop::Items, items_);
}

void Control::add_item(std::string item) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  items_.push_back(std::move(item));
  // A long memo (a production-test run log) is not copied when nobody mirrors it.
  if (form_.sink_) post(Prop::Items, items_);
}

std::string Control::item(size_t i) const {
  std::lock_guard<std::mutex> guard(form_.lock_);
  return i < items_.size() ? items_[i] : std::string();
}

void Control::set_item(size_t i, std::string_view t) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  if (items_.size() <= i) items_.resize(i + 1);
  if (items_[i] == t) return;
  items_[i].assign(t);
  post(Prop::Items, items_);
}

void Control::set_color(Color c) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  if (color_ == c) return;
  color_ = c;
  post(Prop::Color, c);
}

void Control::set_font_color(Color c) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  if (font_color_ == c) return;
  font_color_ = c;
  post(Prop::FontColor, c);
}

int Control::font_size() const {
  std::lock_guard<std::mutex> guard(form_.lock_);
  return font_size_;
}

void Control::set_font_size(int points) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  if (font_size_ == points) return;
  font_size_ = points;
  post(Prop::FontSize, points);
}

void Control::set_progress(int v) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  v = std::clamp(v, min_, std::max(min_, max_));
  if (progress_ == v) return;
  progress_ = v;
  post(Prop::Progress, v);
}

void Control::step_progress(int by) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  const int v = std::clamp(progress_ + by, min_, std::max(min_, max_));
  if (progress_ == v) return;
  progress_ = v;
  post(Prop::Progress, v);
}

void Control::set_range(int lo, int hi) {
  std::lock_guard<std::mutex> guard(form_.lock_);
  min_ = lo;
  max_ = hi;
  post(Prop::Min, lo);
  post(Prop::Max, hi);
  const int v = std::clamp(progress_, min_, std::max(min_, max_));
  if (v != progress_) {
    progress_ = v;
    post(Prop::Progress, v);
  }
}

void Control::set_max(int hi) {
  int lo;
  {
    std::lock_guard<std::mutex> guard(form_.lock_);
    lo = min_;
  }
  set_range(lo, hi);
}

void Control::click() {
  switch (kind_) {
    case ControlKind::CheckBox:
      if (enabled()) set_checked(!checked());
      return;
    default:
      if (enabled() && on_click) on_click();
      return;
  }
}

}  // namespace bms
