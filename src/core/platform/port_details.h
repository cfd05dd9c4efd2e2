#pragma once
// What a serial port is, read from sysfs and /dev: the USB adapter behind it
// (vendor, product, serial number), its stable /dev/serial/by-id name, and
// whether this user may open it, with the fix in words when not.
#include <string>

namespace bms {

struct PortDetails {
  std::string path;         // the port name asked about
  std::string kernel_name;  // ttyUSB0 (the device the path leads to)
  bool exists = false;      // the device node is there
  bool usb = false;         // a USB device was found behind the port
  std::string vendor_id;    // "0403" (hex, as sysfs gives it)
  std::string product_id;   // "6001"
  std::string manufacturer;
  std::string product;
  std::string serial;      // the adapter's USB serial number, "" when it has none
  std::string by_id;       // /dev/serial/by-id/... leading to the same device, or ""
  bool may_open = false;   // this user may read and write the device
  std::string group;       // the group that owns the device node
  std::string access_fix;  // what to do when may_open is false
};

// Details of the port `path` (a device path, a by-id link, any link to a
// tty). Texts from sysfs are cut at the first line end and kept printable.
PortDetails ReadPortDetails(const std::string& path, const std::string& sysfs_root = "/sys/class/tty", const std::string& dev_root = "/dev");

// The fix for a device this user may not open. `group_rw` tells whether the
// node's group may read and write it (joining the group then helps).
std::string PortAccessFix(const std::string& device, const std::string& group, bool group_rw);

// The lines the connection dialog shows for a port.
std::string PortDetailsText(const PortDetails& d);

}  // namespace bms
