#include "core/platform/port_details.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace bms {

namespace {

std::string RealPath(const std::string& p) {
  char buf[PATH_MAX];
  if (::realpath(p.c_str(), buf) == nullptr) return "";
  return buf;
}

std::string BaseName(const std::string& p) {
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string Parent(const std::string& p) {
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos || slash == 0) return "";
  return p.substr(0, slash);
}

// First line of a small sysfs attribute, printable ASCII only.
std::string Attribute(const std::string& dir, const char* name) {
  std::ifstream in(dir + "/" + name);
  std::string line;
  if (!in) return "";
  char c;
  while (line.size() < 128 && in.get(c) && c != '\n' && c != '\r') line += (c >= 0x20 && c <= 0x7E) ? c : '?';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

bool IsFile(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The USB device a tty hangs off: the nearest folder above its device link
// that carries idVendor (the interface folder of ttyUSB/ttyACM sits below it).
std::string UsbDeviceFolder(const std::string& sysfs_entry) {
  std::string dir = RealPath(sysfs_entry + "/device");
  for (int depth = 0; depth < 8 && !dir.empty(); ++depth, dir = Parent(dir))
    if (IsFile(dir + "/idVendor")) return dir;
  return "";
}

std::string ByIdLink(const std::string& dev_root, const std::string& target) {
  const std::string folder = dev_root + "/serial/by-id";
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return "";
  std::string found;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string link = folder + "/" + name;
    if (RealPath(link) == target && (found.empty() || link < found)) found = link;
  }
  ::closedir(dir);
  return found;
}

}  // namespace

std::string PortAccessFix(const std::string& device, const std::string& group, bool group_rw) {
  if (group_rw && !group.empty() && group != "root") return "add yourself to the " + group + " group: sudo usermod -aG " + group + " $USER, then log in again";
  return "ask the administrator for read and write access to " + device + (group.empty() ? "" : " (group " + group + ")");
}

PortDetails ReadPortDetails(const std::string& path, const std::string& sysfs_root, const std::string& dev_root) {
  PortDetails d;
  d.path = path;
  const std::string real = RealPath(path);
  struct stat st {};
  d.exists = !real.empty() && ::stat(real.c_str(), &st) == 0;
  if (!d.exists) return d;
  d.kernel_name = BaseName(real);
  const std::string usb = UsbDeviceFolder(sysfs_root + "/" + d.kernel_name);
  if (!usb.empty()) {
    d.usb = true;
    d.vendor_id = Attribute(usb, "idVendor");
    d.product_id = Attribute(usb, "idProduct");
    d.manufacturer = Attribute(usb, "manufacturer");
    d.product = Attribute(usb, "product");
    d.serial = Attribute(usb, "serial");
  }
  d.by_id = ByIdLink(dev_root, real);
  if (const group* g = ::getgrgid(st.st_gid))
    d.group = g->gr_name;
  else
    d.group = std::to_string(st.st_gid);
  d.may_open = ::access(real.c_str(), R_OK | W_OK) == 0;
  if (!d.may_open) d.access_fix = PortAccessFix(path, d.group, (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP));
  return d;
}

std::string PortDetailsText(const PortDetails& d) {
  if (!d.exists) return d.path + ": no such device";
  std::string text;
  if (d.usb) {
    std::string name = d.manufacturer;
    if (!d.product.empty()) name += (name.empty() ? "" : " ") + d.product;
    text += "USB " + d.vendor_id + ":" + d.product_id + (name.empty() ? "" : " " + name);
    text += "\nserial number " + (d.serial.empty() ? std::string("(none)") : d.serial);
  } else {
    text += "not a USB adapter";
  }
  if (!d.by_id.empty()) text += "\n" + d.by_id;
  text += d.may_open ? "\nyou may open it" : "\nyou may not open it: " + d.access_fix;
  return text;
}

}  // namespace bms
