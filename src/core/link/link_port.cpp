#include "core/link/link_port.h"

#include <utility>

namespace bms {

int BaudForSelector(int index) {
  switch (index) {
    case 0:
      return 9600;
    case 1:
      return 19200;
    default:
      return 0;
  }
}

void SetStatusPanel(Context& ctx, int panel, std::string_view text) { ctx.FormMain.StatusBarView.set_item(static_cast<size_t>(panel), text); }

namespace {

// The open replaces the handle: whatever happens next, the one held before
// is gone, and a failed open leaves the closed handle.
void DropLinkPort(Context& ctx) {
  std::unique_ptr<SerialPort> old;
  {
    std::lock_guard<std::mutex> lock(ctx.link_mu);
    old = std::move(ctx.LinkPort);
  }
  if (old) old->close();
}

}  // namespace

bool OpenLinkPort(Context& ctx) {
  SetStatusPanel(ctx, 0, kSysStart);
  DropLinkPort(ctx);
  const std::string name = ctx.PortName.get();
  std::unique_ptr<SerialPort> port = ctx.port_factory ? ctx.port_factory(name) : nullptr;
  if (!port) {
    ctx.LinkError.set("no port named \"" + name + "\"");
    return false;
  }
  if (!port->open(name)) {
    ctx.LinkError.set(port->error_text());
    return false;
  }
  SetStatusPanel(ctx, 0, kSysLink);

  LineSettings line;
  bool ok = port->get_line(line);
  ok = port->set_queue_sizes(1024, 1024) && ok;
  ok = port->purge(kPurgeTxClear | kPurgeRxClear) && ok;
  ok = port->set_timeouts(PortTimeouts{}) && ok;
  const int baud = BaudForSelector(ctx.FormConfig.ComboBoxBaudRate.item_index());
  if (baud != 0) line.baud = baud;
  line.data_bits = 8;
  line.parity = 'N';
  line.stop_bits = 1;
  ok = ok && port->set_line(line);
  if (!ok) {
    ctx.LinkError.set(port->error_text().empty() ? "the port refused its line settings" : port->error_text());
    port->close();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(ctx.link_mu);
    // A shutdown that came while the device was being opened found nothing
    // to cancel; this port would escape it and hold the worker for a whole
    // read time-out.
    if (!ctx.clock.interrupted()) {
      ctx.LinkLost = false;
      ctx.LinkError.set("");
      ctx.LinkPort = std::move(port);
      return true;
    }
  }
  port->close();
  ctx.LinkError.set("the application is closing");
  return false;
}

bool CloseLinkPort(Context& ctx) {
  std::unique_ptr<SerialPort> port;
  {
    std::lock_guard<std::mutex> lock(ctx.link_mu);
    if (!ctx.LinkPort || !ctx.LinkPort->is_open()) return false;
    port = std::move(ctx.LinkPort);
  }
  port->close();
  return true;
}

bool LinkPortOpen(Context& ctx) { return ctx.LinkPort && ctx.LinkPort->is_open(); }

namespace {

// Notes a vanished device once, so the running operation can end at once.
bool Checked(Context& ctx, bool ok) {
  if (!ok && ctx.LinkPort) {
    const PortError e = ctx.LinkPort->error();
    if (e == PortError::Gone) {
      if (!ctx.LinkLost.exchange(true)) ctx.LinkError.set(ctx.LinkPort->error_text());
    }
  }
  return ok;
}

}  // namespace

bool PurgeLink(Context& ctx, unsigned flags) { return LinkPortOpen(ctx) && Checked(ctx, ctx.LinkPort->purge(flags)); }

bool LinkBytesWaiting(Context& ctx, size_t* n) {
  *n = 0;
  return LinkPortOpen(ctx) && Checked(ctx, ctx.LinkPort->bytes_waiting(n));
}

bool LinkRead(Context& ctx, uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  const bool ok = LinkPortOpen(ctx) && Checked(ctx, ctx.LinkPort->read(buf, n, got));
  ctx.BytesReceived += *got;
  if (ctx.FrameTaps.listening()) ctx.FrameTaps.read(ctx.clock.now_ms(), buf, *got);
  return ok;
}

bool LinkWrite(Context& ctx, const uint8_t* buf, size_t n, size_t* written) {
  *written = 0;
  const bool tap = ctx.FrameTaps.listening();
  const int64_t t0 = tap ? ctx.clock.now_ms() : 0;
  const bool ok = LinkPortOpen(ctx) && Checked(ctx, ctx.LinkPort->write(buf, n, written));
  if (tap) ctx.FrameTaps.written(t0, buf, *written);
  return ok;
}

void SetCommandButtons(Context& ctx, bool on) {
  TFormMain& m = ctx.FormMain;
  TFormEEPROM& e = ctx.FormEEPROM;
  m.SpdBtnRUN.set_enabled(on);
  if (!on) m.BitBtnPrint.set_enabled(false);
  for (Control* c : {&m.BitBtnSafeInfoRead,
                     &m.SpdBtnDeepSleep,
                     &m.SpdBtnSleep,
                     &m.BitBtnBarCodeWrite,
                     &m.BitBtnBarCodeRead,
                     &m.SpdBtnRTCSet,
                     &m.SpdBtnRTCGet,
                     &m.SpdBtnShippingModeSet,
                     &m.SpdBtnShippingModeGet,
                     &m.SpdBtnSNSet,
                     &m.SpdBtnSNGet,
                     &m.SpdBtnConfigure,
                     &m.SpdBtnExit,
                     &m.SpdBtnEEPROMEraseSet,
                     &m.BitBtnPrintReportRead,
                     &m.SpdBtnLastChgDateGet,
                     &e.BitBtnEEPBlockChoiceRead,
                     &e.BitBtnEEPRange,
                     &e.BitBtnEEPPreView,
                     &e.self,
                     &m.GroupBoxShippingMode,
                     &m.BitBtnEVTEEPRead,
                     &m.BitBtnEVTDIARead,
                     &m.SpdBtnEVTTest,
                     &m.SpdBtnEraseMCUIntTCC,
                     &m.SpdBtnEraseMCUIntEEP,
                     &m.SpdBtnLITDeepSleep,
                     &m.SpeedButton_GatewayMode,
                     &m.SpeedButton_MOSFETSW})
    c->set_enabled(on);
}

namespace {
void Toggle(Control& lamp, Color partner) { lamp.set_color(lamp.color() == kWhite ? partner : kWhite); }
}  // namespace

void ToggleTxLamp(Context& ctx) { Toggle(ctx.FormMain.Shape_TX, kRed); }
void ToggleRxLamp(Context& ctx) { Toggle(ctx.FormMain.Shape_RX, kLime); }
void SetRxLampIdle(Context& ctx) { ctx.FormMain.Shape_RX.set_color(kWhite); }

void WaitWhileLinkBusy(Context& ctx) {
  while (ctx.LinkBusy.load() != 0 && !ctx.clock.interrupted()) ctx.clock.sleep_ms(1);
}

}  // namespace bms
