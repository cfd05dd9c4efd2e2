#pragma once
// The port supervisor: when the adapter vanishes while polling runs, it keeps
// the run (and its data log) alive, marks the display stale with the time of
// the last good sample, watches for the same adapter to come back and then
// resumes polling, by itself or at the operator's click.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace bms {

class Context;

// What stands at a port name at one moment.
struct PortSighting {
  bool present = false;
  std::string path;         // where the device is (a replugged adapter may get another name)
  std::string usb_serial;   // the adapter's USB serial number, "" when none or not USB
  std::string by_id;        // its /dev/serial/by-id link, "" when none
  std::string node;         // identity of `path` itself: the link when it is one, else the node
  std::string device_node;  // identity of the device node the path leads to
  std::string by_id_node;   // identity of the by-id link, "" when none
};

// Finds ports; the real one reads sysfs and /dev, tests put in their own.
class PortLocator {
 public:
  virtual ~PortLocator() = default;
  // What is at `name` now.
  virtual PortSighting look(const std::string& name) = 0;
  // Where the adapter seen as `was` (at port name `name`) is now, made anew
  // since (its node, or the link it is found by, differs), or a sighting that
  // is not present.
  virtual PortSighting find(const PortSighting& was, const std::string& name) = 0;
};

// sysfs and /dev: the same USB serial number on any tty, else the same by-id
// link, else the same path, each only once its node was made anew (a link
// left dangling that comes to point at another device is no return).
class SysfsPortLocator final : public PortLocator {
 public:
  explicit SysfsPortLocator(std::string sysfs_root = "/sys/class/tty", std::string dev_root = "/dev");
  PortSighting look(const std::string& name) override;
  PortSighting find(const PortSighting& was, const std::string& name) override;

 private:
  std::string sysfs_root_, dev_root_;
};

class PortSupervisor {
 public:
  enum class Mode {
    Offer,  // the adapter is back: BitBtnLinkResume is offered, its click resumes
    Auto,   // resume as soon as the adapter is back
  };

  PortSupervisor(Context& ctx, std::unique_ptr<PortLocator> locator, Mode mode);
  ~PortSupervisor();
  PortSupervisor(const PortSupervisor&) = delete;
  PortSupervisor& operator=(const PortSupervisor&) = delete;

  // Installs itself as ctx.Supervisor and wires BitBtnLinkResume; the
  // destructor undoes both.
  void attach();

  // Polling loop, end of every cycle: a completed cycle is the last good
  // sample; the first one after an open also takes the port's identity.
  void NoteCycle(bool completed);
  // Polling loop, after its cycles ended: when the link was lost with RunFlag
  // still set, rides the gap out. True when the port is open again and the
  // cycles go on; false when the run ends (STOP, shutdown, or no loss).
  bool RideOut();
  // The operator's click on BitBtnLinkResume.
  void ResumeClick();

  // Replaces the locator (before a run starts).
  void set_locator(std::unique_ptr<PortLocator> locator);
  // How often the port is looked for while it is gone, in ms of the Clock.
  void set_watch_interval_ms(int64_t ms) { watch_ms_ = ms; }
  int64_t watch_interval_ms() const { return watch_ms_; }
  // Tells the front end what happens (link lost, adapter back, resumed).
  std::function<void(const std::string&)> on_event;

  uint32_t losses() const { return losses_.load(); }
  uint32_t resumes() const { return resumes_.load(); }
  // Whether the display is marked stale now.
  bool stale() const { return stale_.load(); }

  // The texts of LabelLinkStale.
  static std::string StaleText(const std::string& lost_at, const std::string& last_good);
  static std::string BackText(const std::string& lost_at, const std::string& last_good, const std::string& path);

 private:
  void mark_stale(const std::string& lost_at);
  void clear_stale();
  void event(const std::string& text);
  bool reopen(const std::string& path);

  Context& ctx_;
  std::unique_ptr<PortLocator> locator_;
  Mode mode_;
  int64_t watch_ms_ = 500;
  std::mutex mu_;
  PortSighting known_;  // the adapter of this connection
  bool known_set_ = false;
  std::string last_good_;             // local time of the last completed cycle
  std::atomic<bool> offered_{false};  // BitBtnLinkResume is offered
  std::atomic<bool> resume_requested_{false};
  std::atomic<bool> stale_{false};
  std::atomic<uint32_t> losses_{0};
  std::atomic<uint32_t> resumes_{0};
  bool attached_ = false;
};

}  // namespace bms
