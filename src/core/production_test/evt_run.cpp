#include "core/production_test/evt_run.h"

#include "core/context.h"
#include "core/production_test/production_test.h"

namespace bms {

EvtRun::EvtRun(Context& ctx) : timer(ctx.clock), ctx_(ctx) {
  timer.set_interval_ms(250);
  timer.on_timer = [this] { Timer_EVT_Balance_CheckTimer(ctx_); };
}

EvtRun::~EvtRun() { timer.stop(); }

void EvtRun::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  log_.clear();
  items_.clear();
  ctx_.FormMain.MemoLog.set_items({});
}

void EvtRun::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  log_.push_back(text);
  if (!items_.empty() && items_.back().number == item.load()) items_.back().lines.push_back(text);
  ctx_.FormMain.MemoLog.add_item(text);
  if (on_line) on_line(text);
}

void EvtRun::Title(const std::string& text) {
  Line("");
  ++item;
  TitleLine(text);
}

void EvtRun::TitleNoGap(const std::string& text) {
  ++item;
  TitleLine(text);
}

void EvtRun::TitleLine(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    current_item().title = text;
  }
  Line(std::to_string(item.load()) + ".  " + text);
}

EvtItem& EvtRun::current_item() {
  const int n = item.load();
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (it->number == n) return *it;
  items_.push_back(EvtItem{});
  items_.back().number = n;
  return items_.back();
}

void EvtRun::Pass(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    current_item().verdict = "PASS";
  }
  Line(line);
}

void EvtRun::Ng(const std::string& line, const std::string& failure_text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    current_item().verdict = "NG";
  }
  Line(line);
  Failure(failure_text);
}

void EvtRun::Failure(const std::string& failure_text) {
  const std::string entry = std::to_string(item.load()) + ".  " + failure_text;
  {
    std::lock_guard<std::mutex> lock(mu_);
    current_item().verdict = "NG";
  }
  ctx_.EVT_TEST.with([&](EvtTest& t) {
    ++t.FailCount;
    if (t.FailCount <= kFailureListCapacity) t.FailList[static_cast<size_t>(t.FailCount)] = entry;
  });
}

void EvtRun::Measured(const std::string& value, const std::string& low, const std::string& high) {
  std::lock_guard<std::mutex> lock(mu_);
  EvtItem& i = current_item();
  i.value = value;
  i.low = low;
  i.high = high;
}

std::vector<std::string> EvtRun::lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

std::vector<EvtItem> EvtRun::items() const {
  std::lock_guard<std::mutex> lock(mu_);
  return items_;
}

int EvtRun::failures() const {
  return ctx_.EVT_TEST.with([](const EvtTest& t) { return t.FailCount; });
}

int EvtRun::unlisted_failures() const {
  const int n = failures();
  return n > kFailureListCapacity ? n - kFailureListCapacity : 0;
}

void EvtRun::EnableTimer() {
  ctx_.FormMain.Timer_EVT_Balance_Check.set_enabled(true);
  timer.start();
}

void EvtRun::DisableTimer() {
  // stop() returns once a tick in progress has finished with the link.
  timer.stop();
  ctx_.FormMain.Timer_EVT_Balance_Check.set_enabled(false);
}

}  // namespace bms
