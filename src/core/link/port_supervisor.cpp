#include "core/link/port_supervisor.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <utility>

#include "core/context.h"
#include "core/link/link_port.h"
#include "core/platform/port_details.h"
#include "core/platform/port_scan.h"

namespace bms {

namespace {

std::string StatId(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_rdev) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
         std::to_string(st.st_ctim.tv_nsec);
}

std::string RealPathOf(const std::string& p) {
  char buf[PATH_MAX];
  return ::realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

std::string Now(Context& ctx) { return FormatLocalTime(ctx.clock.local_now(), "yyyy-mm-dd hh:nn:ss"); }

}  // namespace

// ---------------------------------------------------------------- SysfsPortLocator

SysfsPortLocator::SysfsPortLocator(std::string sysfs_root, std::string dev_root) : sysfs_root_(std::move(sysfs_root)), dev_root_(std::move(dev_root)) {}

PortSighting SysfsPortLocator::look(const std::string& name) {
  PortSighting s;
  s.path = name;
  struct stat link {
  }, node{};
  if (::lstat(name.c_str(), &link) != 0 || ::stat(name.c_str(), &node) != 0) return s;
  if (!S_ISCHR(node.st_mode) && !S_ISREG(node.st_mode)) return s;  // regular files stand in for nodes in tests
  s.present = true;
  // A link is known by itself: made anew (udev's by-id link, bmssim's --link)
  // it is a new identity even when it points at a device number used before;
  // left in place, it is the old one whatever its target has become.
  s.device_node = "N" + StatId(node);
  s.node = S_ISLNK(link.st_mode) ? "L" + StatId(link) : s.device_node;
  const PortDetails d = ReadPortDetails(name, sysfs_root_, dev_root_);
  if (d.usb) s.usb_serial = d.serial;
  s.by_id = d.by_id;
  struct stat by_id {};
  if (!s.by_id.empty() && ::lstat(s.by_id.c_str(), &by_id) == 0) s.by_id_node = "L" + StatId(by_id);
  return s;
}

PortSighting SysfsPortLocator::find(const PortSighting& was, const std::string& name) {
  if (!was.usb_serial.empty()) {
    for (const SerialDeviceEntry& e : ListSerialDevices(sysfs_root_, dev_root_)) {
      PortSighting s = look(e.path);
      if (!s.present || s.usb_serial != was.usb_serial || s.device_node == was.device_node) continue;
      // Opened by its by-id link: go on by the link, which follows the adapter.
      if (!was.by_id.empty() && name == was.by_id && s.by_id == was.by_id) s.path = was.by_id;
      return s;
    }
    return PortSighting{};
  }
  if (!was.by_id.empty()) {
    PortSighting s = look(was.by_id);
    if (!s.present || s.node == was.by_id_node) return PortSighting{};
    if (name != was.by_id) {
      const std::string real = RealPathOf(was.by_id);
      if (!real.empty()) s.path = real;
    }
    return s;
  }
  PortSighting s = look(name);
  return s.present && s.node != was.node ? s : PortSighting{};
}

// ---------------------------------------------------------------- PortSupervisor

PortSupervisor::PortSupervisor(Context& ctx, std::unique_ptr<PortLocator> locator, Mode mode) : ctx_(ctx), locator_(std::move(locator)), mode_(mode) {}

PortSupervisor::~PortSupervisor() {
  if (!attached_) return;
  ctx_.FormMain.BitBtnLinkResume.on_click = nullptr;
  if (ctx_.Supervisor == this) ctx_.Supervisor = nullptr;
}

void PortSupervisor::set_locator(std::unique_ptr<PortLocator> locator) {
  std::lock_guard<std::mutex> lock(mu_);
  locator_ = std::move(locator);
  known_set_ = false;
}

void PortSupervisor::attach() {
  ctx_.Supervisor = this;
  ctx_.FormMain.BitBtnLinkResume.on_click = [this] { ResumeClick(); };
  attached_ = true;
}

std::string PortSupervisor::StaleText(const std::string& lost_at, const std::string& last_good) {
  return "  Values stale: port gone at " + lost_at + ", last good sample " + (last_good.empty() ? std::string("none") : last_good) + "; waiting for the adapter ";
}

std::string PortSupervisor::BackText(const std::string& lost_at, const std::string& last_good, const std::string& path) {
  return "  Values stale: port gone at " + lost_at + ", last good sample " + (last_good.empty() ? std::string("none") : last_good) + "; the adapter is back on " + path +
         ": press Resume ";
}

void PortSupervisor::NoteCycle(bool completed) {
  if (!completed) return;
  const std::string now = Now(ctx_);
  const std::string name = ctx_.PortName.get();
  std::lock_guard<std::mutex> lock(mu_);
  last_good_ = now;
  if (!known_set_) {
    known_ = locator_->look(name);
    known_set_ = known_.present;
  }
}

void PortSupervisor::ResumeClick() {
  // Only an offer can be taken: a click before the adapter is back does nothing.
  if (offered_.load()) resume_requested_ = true;
}

void PortSupervisor::event(const std::string& text) {
  if (on_event) on_event(text);
}

void PortSupervisor::mark_stale(const std::string& lost_at) {
  std::string last_good;
  {
    std::lock_guard<std::mutex> lock(mu_);
    last_good = last_good_;
  }
  stale_ = true;
  ctx_.FormMain.BitBtnLinkResume.set_visible(false);
  ctx_.FormMain.LabelLinkStale.set_text(StaleText(lost_at, last_good));
  ctx_.FormMain.LabelLinkStale.set_visible(true);
}

void PortSupervisor::clear_stale() {
  stale_ = false;
  offered_ = false;
  resume_requested_ = false;
  ctx_.FormMain.BitBtnLinkResume.set_visible(false);
  ctx_.FormMain.LabelLinkStale.set_visible(false);
  ctx_.FormMain.LabelLinkStale.set_text("");
}

bool PortSupervisor::reopen(const std::string& path) {
  if (!path.empty() && path != ctx_.PortName.get()) ctx_.PortName.set(path);
  if (!OpenLinkPort(ctx_)) return false;
  std::lock_guard<std::mutex> lock(mu_);
  known_set_ = false;  // the identity of the new node comes with its first good cycle
  return true;
}

bool PortSupervisor::RideOut() {
  if (!ctx_.LinkLost.load() || !ctx_.RunFlag.load()) {
    std::lock_guard<std::mutex> lock(mu_);
    known_set_ = false;  // the run ends: the next one learns its port anew
    return false;
  }
  losses_++;
  const std::string reason = ctx_.LinkError.get();
  SetStatusPanel(ctx_, 2, "  Link lost: " + reason);
  WaitWhileLinkBusy(ctx_);  // a borrower ends its exchange before the port closes
  CloseLinkPort(ctx_);
  ctx_.FormMain.Shape_TX.set_color(kWhite);
  ctx_.FormMain.Shape_RX.set_color(kWhite);
  const std::string lost_at = Now(ctx_);
  mark_stale(lost_at);
  const std::string name = ctx_.PortName.get();
  PortSighting was;
  std::string last_good;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (known_set_)
      was = known_;
    else
      was.path = name;  // no good cycle on this port yet: watch its name
    last_good = last_good_;
  }
  event("link lost: " + reason + "; waiting for the adapter to come back");
  resume_requested_ = false;
  offered_ = false;
  std::string last_open_error;
  while (ctx_.RunFlag.load() && !ctx_.clock.interrupted()) {
    ctx_.clock.sleep_ms(watch_ms_);
    if (!ctx_.RunFlag.load() || ctx_.clock.interrupted()) break;
    const PortSighting now = locator_->find(was, name);
    if (!now.present) {
      if (offered_.load()) {
        offered_ = false;
        resume_requested_ = false;
        ctx_.FormMain.BitBtnLinkResume.set_visible(false);
        ctx_.FormMain.LabelLinkStale.set_text(StaleText(lost_at, last_good));
      }
      continue;
    }
    if (mode_ == Mode::Offer && !resume_requested_.load()) {
      if (!offered_.load()) {
        offered_ = true;
        ctx_.FormMain.LabelLinkStale.set_text(BackText(lost_at, last_good, now.path));
        ctx_.FormMain.BitBtnLinkResume.set_enabled(true);
        ctx_.FormMain.BitBtnLinkResume.set_visible(true);
        event("the adapter is back on " + now.path + "; Resume offered");
      }
      continue;
    }
    if (reopen(now.path)) {
      resumes_++;
      clear_stale();
      SetStatusPanel(ctx_, 2, "  Link resumed on " + now.path + " ");
      event("resumed on " + now.path);
      return true;
    }
    // Not yet usable (still settling, taken by another program): look again
    // at the next interval; the operator is offered Resume again.
    const std::string why = ctx_.LinkError.get();
    if (why != last_open_error) event("cannot open " + now.path + " yet: " + why);  // said once, not every look
    last_open_error = why;
    offered_ = false;
    resume_requested_ = false;
    ctx_.FormMain.BitBtnLinkResume.set_visible(false);
    ctx_.FormMain.LabelLinkStale.set_text(StaleText(lost_at, last_good));
  }
  clear_stale();
  std::lock_guard<std::mutex> lock(mu_);
  known_set_ = false;
  return false;
}

}  // namespace bms
