#include "core/commands/command_worker.h"

#include <utility>

namespace bms {

bool StartCommandWorker(Context& ctx, std::function<void()> work, const std::function<void()>& on_fail) {
  if (ctx.workers.start(std::move(work))) return true;
  if (on_fail) on_fail();
  return false;
}

}  // namespace bms
