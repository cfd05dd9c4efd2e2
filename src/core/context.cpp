#include "core/context.h"

#include <string_view>

#include "core/monitor/data_log.h"
#include "core/production_test/evt_run.h"

namespace bms {

namespace {
std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }
}  // namespace

ShuEnableConfig DefaultShuEnableConfig() {
  // 22 bytes out, 23 bytes back; both end with CR. See docs/design.md.
  return ShuEnableConfig{Bytes("#SHU_EN:ENABLE:000001\r"), Bytes("#SHU_EN:ACK:OK:0000001\r")};
}

Context::Context(Clock& c, PortFactory factory, bool inline_workers) : clock(c), port_factory(std::move(factory)), workers(inline_workers) {
  app.exe_name = "TQ58_LIT_bmsmon";
  app.app_folder = "./";
  app.data_folder = "./";
  app.current_dir = "./";
  Log = std::make_unique<DataLog>();
  TimerRecordDelay = std::make_unique<RecordDelayTimer>(clock);
  TimerRecordDelay->on_timer = [this] { TimerRecordDelayCntTimer(*this); };
  Evt = std::make_unique<EvtRun>(*this);
}

Context::~Context() { Shutdown(); }

void Context::CancelLink() {
  std::lock_guard<std::mutex> lock(link_mu);
  if (LinkPort) LinkPort->cancel();
}

bool Context::Shutdown(int64_t timeout_ms) {
  RunFlag = 0;
  LinkBusy = 0;
  if (TimerRecordDelay) TimerRecordDelay->stop();
  if (Evt) Evt->timer.stop();
  workers.refuse_new();
  clock.interrupt();
  CancelLink();
  const bool idle = workers.wait_idle(timeout_ms);
  if (Log) Log->close();
  return idle;
}

}  // namespace bms
