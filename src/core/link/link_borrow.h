#pragma once
// Borrowing the running polling loop's open port: while a LinkBorrow lives,
// LinkBusy is set, so the polling loop and every waiting sender stay off the
// wire; it is cleared when the borrow ends, on every path out.
#include "core/context.h"

namespace bms {

class LinkBorrow {
 public:
  explicit LinkBorrow(Context& ctx) : ctx_(ctx) { ctx_.LinkBusy = 1; }
  ~LinkBorrow() { ctx_.LinkBusy = 0; }
  LinkBorrow(const LinkBorrow&) = delete;
  LinkBorrow& operator=(const LinkBorrow&) = delete;

 private:
  Context& ctx_;
};

// True when the polling loop runs and its port can be borrowed.
inline bool PollingRuns(Context& ctx) { return ctx.RunFlag.load() != 0 && ctx.MonitorActive.load(); }

inline constexpr const char* kPollingNotRunning = "Monitoring is not running: press RUN first; nothing was sent.";

}  // namespace bms
