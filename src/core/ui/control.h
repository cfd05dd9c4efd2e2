#pragma once
// View-model of one control of a window. The core reads and writes these;
// the Qt layer mirrors every change into the widget of the same object name,
// in the order the changes happened. All members are thread-safe.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace bms {

// Colours as 0xRRGGBB; the negative values are the platform's own colours.
using Color = int32_t;
constexpr Color kWhite = 0xFFFFFF;
constexpr Color kRed = 0xFF0000;
constexpr Color kLime = 0x00FF00;
constexpr Color kAqua = 0x00FFFF;
constexpr Color kBlue = 0x0000FF;
constexpr Color kNavy = 0x000080;
constexpr Color kGrey = 0x808080;
constexpr Color kLightGreen = 0xE5FECE;  // window colour
constexpr Color kBlack = 0x000000;
constexpr Color kColorDefault = -1;    // the widget's own default
constexpr Color kColorBtnFace = -2;    // the platform's button-face colour
constexpr Color kColorParent = -3;     // the parent's colour
constexpr Color kColorHighlight = -4;  // the platform's highlight colour

enum class ControlKind {
  Window,
  Button,
  Edit,
  Label,
  CheckBox,
  RadioGroup,
  ComboBox,
  Gauge,
  ProgressBar,
  Memo,
  GroupBox,
  TabSheet,
  PageControl,
  Shape,
  StatusBar,
  SpinEdit,
  Timer,
  Other
};

enum class Prop : uint8_t { Text, Enabled, Visible, Checked, ItemIndex, Items, Color, FontColor, Progress, Min, Max, FontSize };

using PropValue = std::variant<std::string, int, bool, std::vector<std::string>>;

class Form;
class Control;

struct UiEvent {
  const Control* control;
  Prop prop;
  PropValue value;
};

// Receives every change of every control, in order. post() is called with
// the form's lock held, so it must be quick and must not call back into the
// models.
class UiEventSink {
 public:
  virtual ~UiEventSink() = default;
  virtual void post(UiEvent ev) = 0;
};

class Control {
 public:
  Control(Form& form, std::string name, ControlKind kind);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& name() const { return name_; }
  ControlKind kind() const { return kind_; }
  Form& form() const { return form_; }

  // Text of an edit, caption of a button, label, check box, tab or window.
  std::string text() const;
  void set_text(std::string_view t);  // runs on_change when the text changed
  bool empty() const { return text().empty(); }
  int int_value(int fallback = 0) const;  // the text as a decimal integer

  bool enabled() const;
  void set_enabled(bool on);
  bool visible() const;
  void set_visible(bool on);
  bool checked() const;
  void set_checked(bool on);  // runs on_click when the state changed

  int item_index() const;
  void set_item_index(int i);  // runs on_click when the index changed
  std::vector<std::string> items() const;
  void set_items(std::vector<std::string> items);
  void add_item(std::string item);   // combo items, memo lines
  std::string item(size_t i) const;  // status-bar panel i, memo line i
  void set_item(size_t i, std::string_view t);

  Color color() const;
  void set_color(Color c);
  Color font_color() const;
  void set_font_color(Color c);
  // Font size in points; 0: the widget's own.
  int font_size() const;
  void set_font_size(int points);

  int progress() const;
  void set_progress(int v);  // clamped to [min, max]
  void step_progress(int by = 1);
  int min() const;
  int max() const;
  void set_range(int lo, int hi);
  void set_max(int hi);

  // Operator action from a front end: buttons run on_click when enabled;
  // check boxes toggle; radio groups select item i.
  void click();
  void select(int i) { set_item_index(i); }
  // Typing by the operator (front end): same as set_text.
  void type(std::string_view t) { set_text(t); }

  // The mouse entered (true) or left (false) the control (front end).
  void hover(bool inside) {
    if (on_hover) on_hover(inside);
  }

  // Handlers of the core; they run on the thread that made the change.
  std::function<void()> on_change;
  std::function<void()> on_click;
  std::function<void(bool)> on_hover;

 private:
  void post(Prop p, PropValue v);  // form lock held

  Form& form_;
  std::string name_;
  ControlKind kind_;
  std::string text_;
  bool enabled_ = true;
  bool visible_ = true;
  bool checked_ = false;
  int item_index_ = -1;
  std::vector<std::string> items_;
  Color color_ = kColorDefault;
  Color font_color_ = kColorDefault;
  int font_size_ = 0;
  int progress_ = 0;
  int min_ = 0;
  int max_ = 100;
};

// A window: a named set of controls plus the window itself (`self`).
class Form {
 public:
  Form(std::string name, std::mutex& lock, UiEventSink*& sink);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  virtual ~Form() = default;

  const std::string& name() const { return name_; }
  Control* find(std::string_view control_name) const;
  // Like find() but a name that does not exist is a programming error.
  Control& get(std::string_view control_name) const;
  const std::vector<Control*>& controls() const { return controls_; }

  Control self;  // caption, enabled, visible, colour of the window

  // The operator closed the window (close box): hides it, then FormClose.
  void close() {
    self.set_visible(false);
    if (on_close) on_close();
  }
  std::function<void()> on_close;  // FormClose

 private:
  friend class Control;
  std::string name_;
  std::mutex& lock_;
  UiEventSink*& sink_;
  std::vector<Control*> controls_;
};

}  // namespace bms
