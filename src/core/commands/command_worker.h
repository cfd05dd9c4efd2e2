#pragma once
// Starting a command's worker from its click handler.
#include <functional>

#include "core/context.h"

namespace bms {

// Starts `work` as one detached worker of ctx.workers. When no worker can be
// started, `on_fail` (if any) puts back what the click handler changed and
// the result is false.
bool StartCommandWorker(Context& ctx, std::function<void()> work, const std::function<void()>& on_fail = {});

}  // namespace bms
